// SSE2 row kernels: 8 pixels per step, 16-bit lanes. The 32-bit floor of the vector paths.
#include <emmintrin.h>
#include <string.h>

#include "capture/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

// A 32-bit lane holding `lo` in its low and `hi` in its high 16 bits, in every lane.
inline __m128i Pair(int lo, int hi) {
  return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                         static_cast<uint16_t>(lo)));
}

// Eight pixels: y16 holds Y0..Y7, uv16 holds U0 V0 U1 V1 U2 V2 U3 V3 (each pair serves two pixels).
// Out: blue, green, red of the eight pixels, 16-bit, before the clamp.
inline void Channels(__m128i y16, __m128i uv16, __m128i& b16, __m128i& g16, __m128i& r16) {
  // Blue (U lanes) and red (V lanes) offsets in one multiply.
  const __m128i xs = _mm_add_epi16(_mm_slli_epi16(uv16, 2), Pair(kBlueBias, kRedBias));
  const __m128i br = _mm_add_epi16(_mm_mulhi_epi16(xs, Pair(kBlueMul, kRedMul)), Pair(kBlueAdd, kRedAdd));
  // Green: whole parts by multiply-add, truncated fractional parts by mulhi and a sign fix.
  const __m128i k = _mm_sub_epi16(uv16, _mm_set1_epi16(128));
  const __m128i frac = _mm_sub_epi16(_mm_mulhi_epi16(k, Pair(kGreenUFrac, kGreenVFrac)), _mm_srai_epi16(k, 15));
  __m128i g = _mm_add_epi32(_mm_madd_epi16(k, Pair(-kGreenUWhole, -kGreenVWhole)), _mm_madd_epi16(frac, _mm_set1_epi16(-1)));
  g = _mm_srai_epi32(_mm_add_epi32(g, _mm_set1_epi32(512)), 10);
  // Each pair's offsets go to both of its pixels.
  const __m128i bDup = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i rDup = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
  const __m128i gDup = _mm_shufflehi_epi16(_mm_shufflelo_epi16(g, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
  b16 = _mm_add_epi16(y16, bDup);
  g16 = _mm_add_epi16(y16, gDup);
  r16 = _mm_add_epi16(y16, rDup);
}

// Four pixels as B G R 0 dwords -> 12 bytes B G R B G R ... in the low bytes, zeros above.
inline __m128i Compact(__m128i p) {
  const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i t = _mm_or_si128(_mm_and_si128(p, low3), _mm_srli_epi64(_mm_andnot_si128(low3, p), 8));
  return _mm_or_si128(_mm_move_epi64(t), _mm_slli_si128(_mm_srli_si128(t, 8), 6));
}

// Clamp and store eight pixels as 24 bytes.
inline void Store8(uint8_t* dst, __m128i b16, __m128i g16, __m128i r16) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bg = _mm_packus_epi16(b16, g16);  // B0..B7 G0..G7
  const __m128i rr = _mm_packus_epi16(r16, r16);  // R0..R7 R0..R7
  const __m128i bgPairs = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));
  const __m128i r0 = _mm_unpacklo_epi8(rr, zero);
  const __m128i lo = Compact(_mm_unpacklo_epi16(bgPairs, r0));
  const __m128i hi = Compact(_mm_unpackhi_epi16(bgPairs, r0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(lo, _mm_slli_si128(hi, 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_srli_si128(hi, 4));
}

void Yuy2RowSse2(const uint8_t* src, uint8_t* dst, int width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * j));
    __m128i b, g, r;
    Channels(_mm_and_si128(x, lowBytes), _mm_srli_epi16(x, 8), b, g, r);
    Store8(dst + 3 * j, b, g, r);
  }
  Yuy2RowTail(src, dst, j, width);
}

void I420RowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
  const __m128i zero = _mm_setzero_si128();
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    int u4, v4;
    memcpy(&u4, u + j / 2, 4);
    memcpy(&v4, v + j / 2, 4);
    const __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + j)), zero);
    const __m128i uv16 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), _mm_cvtsi32_si128(v4)), zero);
    __m128i b, g, r;
    Channels(y16, uv16, b, g, r);
    Store8(dst + 3 * j, b, g, r);
  }
  I420RowTail(y, u, v, dst, j, width);
}

}  // namespace

Kernels Sse2Kernels() { return {Yuy2RowSse2, I420RowSse2}; }

}  // namespace yuv
}  // namespace zelvora
