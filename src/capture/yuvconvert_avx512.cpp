// AVX-512 (F + BW) row kernels: 32 pixels per step. Built with AVX-512 code generation for this
// file only and called only when the processor and the operating system support it.
#include <immintrin.h>

#include "capture/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

inline __m512i Pair(int lo, int hi) {
  return _mm512_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                            static_cast<uint16_t>(lo)));
}

inline __m512i Lanes(const signed char (&m)[16]) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)));
}

alignas(16) const signed char kDupEven[16] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
alignas(16) const signed char kDupOdd[16] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
alignas(16) const signed char kHeadBg[16] = {0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5};
alignas(16) const signed char kHeadR[16] = {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1};
alignas(16) const signed char kTailBg[16] = {13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1};
alignas(16) const signed char kTailR[16] = {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1};

struct Constants {
  __m512i brBias = Pair(kBlueBias, kRedBias);
  __m512i brMul = Pair(kBlueMul, kRedMul);
  __m512i brAdd = Pair(kBlueAdd, kRedAdd);
  __m512i k128 = _mm512_set1_epi16(128);
  __m512i fracMul = Pair(kGreenUFrac, kGreenVFrac);
  __m512i wholeMul = Pair(-kGreenUWhole, -kGreenVWhole);
  __m512i minusOne = _mm512_set1_epi16(-1);
  __m512i half = _mm512_set1_epi32(512);
  __m512i dupEven = Lanes(kDupEven);
  __m512i dupOdd = Lanes(kDupOdd);
  __m512i headBg = Lanes(kHeadBg);
  __m512i headR = Lanes(kHeadR);
  __m512i tailBg = Lanes(kTailBg);
  __m512i tailR = Lanes(kTailR);
};

template <int lane>
inline void StoreLane(uint8_t* dst, __m512i head, __m512i tail) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24 * lane), _mm512_extracti32x4_epi32(head, lane));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 24 * lane + 16), _mm512_extracti32x4_epi32(tail, lane));
}

// Thirty-two pixels: four lanes of eight pixels each, as in the AVX2 kernel.
inline void Convert32(const Constants& c, __m512i y16, __m512i uv16, uint8_t* dst) {
  const __m512i xs = _mm512_add_epi16(_mm512_slli_epi16(uv16, 2), c.brBias);
  const __m512i br = _mm512_add_epi16(_mm512_mulhi_epi16(xs, c.brMul), c.brAdd);
  const __m512i k = _mm512_sub_epi16(uv16, c.k128);
  const __m512i frac = _mm512_sub_epi16(_mm512_mulhi_epi16(k, c.fracMul), _mm512_srai_epi16(k, 15));
  __m512i g = _mm512_add_epi32(_mm512_madd_epi16(k, c.wholeMul), _mm512_madd_epi16(frac, c.minusOne));
  g = _mm512_srai_epi32(_mm512_add_epi32(g, c.half), 10);

  const __m512i b16 = _mm512_add_epi16(y16, _mm512_shuffle_epi8(br, c.dupEven));
  const __m512i g16 = _mm512_add_epi16(y16, _mm512_shuffle_epi8(g, c.dupEven));
  const __m512i r16 = _mm512_add_epi16(y16, _mm512_shuffle_epi8(br, c.dupOdd));

  const __m512i bg = _mm512_packus_epi16(b16, g16);
  const __m512i rr = _mm512_packus_epi16(r16, r16);
  const __m512i head = _mm512_or_si512(_mm512_shuffle_epi8(bg, c.headBg), _mm512_shuffle_epi8(rr, c.headR));
  const __m512i tail = _mm512_or_si512(_mm512_shuffle_epi8(bg, c.tailBg), _mm512_shuffle_epi8(rr, c.tailR));
  StoreLane<0>(dst, head, tail);
  StoreLane<1>(dst, head, tail);
  StoreLane<2>(dst, head, tail);
  StoreLane<3>(dst, head, tail);
}

void Yuy2RowAvx512(const uint8_t* src, uint8_t* dst, int width) {
  const Constants c;
  const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 32 <= width; j += 32) {
    const __m512i x = _mm512_loadu_si512(src + 2 * j);
    Convert32(c, _mm512_and_si512(x, lowBytes), _mm512_srli_epi16(x, 8), dst + 3 * j);
  }
  Yuy2RowTail(src, dst, j, width);
}

void I420RowAvx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
  const Constants c;
  int j = 0;
  for (; j + 32 <= width; j += 32) {
    const __m512i y16 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + j)));
    const __m128i u8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + j / 2));
    const __m128i v8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + j / 2));
    const __m256i uv8 = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(u8, v8)),
                                                _mm_unpackhi_epi8(u8, v8), 1);
    Convert32(c, y16, _mm512_cvtepu8_epi16(uv8), dst + 3 * j);
  }
  I420RowTail(y, u, v, dst, j, width);
}

}  // namespace

Kernels Avx512Kernels() { return {Yuy2RowAvx512, I420RowAvx512}; }

}  // namespace yuv
}  // namespace zelvora
