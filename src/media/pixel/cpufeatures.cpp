// Processor feature detection for the conversion kernels (CPUID and the operating system's
// register state through XGETBV). Built with XSAVE enabled for the intrinsic on GCC and Clang.
#include "media/pixel/yuvconvert.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace zelvora {
namespace {

struct CpuidRegs {
  unsigned a, b, c, d;
};

CpuidRegs Cpuid(unsigned leaf, unsigned subleaf) {
  CpuidRegs r = {0, 0, 0, 0};
#if defined(_MSC_VER)
  int regs[4];
  __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
  r.a = static_cast<unsigned>(regs[0]);
  r.b = static_cast<unsigned>(regs[1]);
  r.c = static_cast<unsigned>(regs[2]);
  r.d = static_cast<unsigned>(regs[3]);
#else
  if (!__get_cpuid_count(leaf, subleaf, &r.a, &r.b, &r.c, &r.d)) r = {0, 0, 0, 0};
#endif
  return r;
}

bool Bit(unsigned value, int bit) { return ((value >> bit) & 1u) != 0; }

}  // namespace

SimdLevel DetectSimdLevel() {
  const unsigned maxLeaf = Cpuid(0, 0).a;
  if (maxLeaf < 1) return SimdLevel::Scalar;
  const CpuidRegs l1 = Cpuid(1, 0);
  if (!Bit(l1.d, 26)) return SimdLevel::Scalar;  // SSE2
  // AVX state must be enabled by the operating system (OSXSAVE, then XCR0).
  if (!Bit(l1.c, 27) || !Bit(l1.c, 28) || maxLeaf < 7) return SimdLevel::Sse2;
  const unsigned long long xcr0 = _xgetbv(0);
  if ((xcr0 & 0x6) != 0x6) return SimdLevel::Sse2;  // XMM and YMM state
  const CpuidRegs l7 = Cpuid(7, 0);
  if (!Bit(l7.b, 5)) return SimdLevel::Sse2;  // AVX2
  // AVX-512 Foundation and Byte/Word, with opmask and ZMM state enabled.
  if (Bit(l7.b, 16) && Bit(l7.b, 30) && (xcr0 & 0xE6) == 0xE6) return SimdLevel::Avx512;
  return SimdLevel::Avx2;
}

}  // namespace zelvora
