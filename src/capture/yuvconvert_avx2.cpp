// AVX2 row kernels: 16 pixels per step. Built with AVX2 code generation for this file only and
// called only when the processor and the operating system support AVX2.
#include <immintrin.h>

#include "capture/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

inline __m256i Pair(int lo, int hi) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                            static_cast<uint16_t>(lo)));
}

inline __m256i Lanes(const signed char (&m)[16]) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
  return _mm256_broadcastsi128_si256(x);
}

// Byte selections, per 128-bit lane.
alignas(16) const signed char kDupEven[16] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
alignas(16) const signed char kDupOdd[16] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
// From B0..B7 G0..G7 and R0..R7: the first 16 and the next 8 bytes of B G R B G R ...
alignas(16) const signed char kHeadBg[16] = {0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5};
alignas(16) const signed char kHeadR[16] = {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1};
alignas(16) const signed char kTailBg[16] = {13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1};
alignas(16) const signed char kTailR[16] = {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1};

struct Constants {
  __m256i brBias = Pair(kBlueBias, kRedBias);
  __m256i brMul = Pair(kBlueMul, kRedMul);
  __m256i brAdd = Pair(kBlueAdd, kRedAdd);
  __m256i k128 = _mm256_set1_epi16(128);
  __m256i fracMul = Pair(kGreenUFrac, kGreenVFrac);
  __m256i wholeMul = Pair(-kGreenUWhole, -kGreenVWhole);
  __m256i minusOne = _mm256_set1_epi16(-1);
  __m256i half = _mm256_set1_epi32(512);
  __m256i dupEven = Lanes(kDupEven);
  __m256i dupOdd = Lanes(kDupOdd);
  __m256i headBg = Lanes(kHeadBg);
  __m256i headR = Lanes(kHeadR);
  __m256i tailBg = Lanes(kTailBg);
  __m256i tailR = Lanes(kTailR);
};

// Sixteen pixels: y16 holds Y0..Y15 (lanes: pixels 0-7, 8-15), uv16 the eight U V pairs in the
// same lane order. Clamps and writes 48 bytes.
inline void Convert16(const Constants& c, __m256i y16, __m256i uv16, uint8_t* dst) {
  const __m256i xs = _mm256_add_epi16(_mm256_slli_epi16(uv16, 2), c.brBias);
  const __m256i br = _mm256_add_epi16(_mm256_mulhi_epi16(xs, c.brMul), c.brAdd);
  const __m256i k = _mm256_sub_epi16(uv16, c.k128);
  const __m256i frac = _mm256_sub_epi16(_mm256_mulhi_epi16(k, c.fracMul), _mm256_srai_epi16(k, 15));
  __m256i g = _mm256_add_epi32(_mm256_madd_epi16(k, c.wholeMul), _mm256_madd_epi16(frac, c.minusOne));
  g = _mm256_srai_epi32(_mm256_add_epi32(g, c.half), 10);

  const __m256i b16 = _mm256_add_epi16(y16, _mm256_shuffle_epi8(br, c.dupEven));
  const __m256i g16 = _mm256_add_epi16(y16, _mm256_shuffle_epi8(g, c.dupEven));
  const __m256i r16 = _mm256_add_epi16(y16, _mm256_shuffle_epi8(br, c.dupOdd));

  const __m256i bg = _mm256_packus_epi16(b16, g16);  // per lane: B0..B7 G0..G7
  const __m256i rr = _mm256_packus_epi16(r16, r16);  // per lane: R0..R7 R0..R7
  const __m256i head = _mm256_or_si256(_mm256_shuffle_epi8(bg, c.headBg), _mm256_shuffle_epi8(rr, c.headR));
  const __m256i tail = _mm256_or_si256(_mm256_shuffle_epi8(bg, c.tailBg), _mm256_shuffle_epi8(rr, c.tailR));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(head));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_castsi256_si128(tail));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), _mm256_extracti128_si256(head, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 40), _mm256_extracti128_si256(tail, 1));
}

void Yuy2RowAvx2(const uint8_t* src, uint8_t* dst, int width) {
  const Constants c;
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * j));
    Convert16(c, _mm256_and_si256(x, lowBytes), _mm256_srli_epi16(x, 8), dst + 3 * j);
  }
  Yuy2RowTail(src, dst, j, width);
}

void I420RowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
  const Constants c;
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const __m256i y16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + j)));
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + j / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + j / 2));
    const __m256i uv16 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, v8));
    Convert16(c, y16, uv16, dst + 3 * j);
  }
  I420RowTail(y, u, v, dst, j, width);
}

}  // namespace

Kernels Avx2Kernels() { return {Yuy2RowAvx2, I420RowAvx2}; }

}  // namespace yuv
}  // namespace zelvora
