// SSE2 row kernels: 8 pixels per step, 16-bit lanes. The 32-bit floor of the vector paths.
#include <emmintrin.h>
#include <string.h>

#include "media/pixel/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

// A 32-bit lane holding `lo` in its low and `hi` in its high 16 bits, in every lane.
inline __m128i Pair(int lo, int hi) {
  return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                         static_cast<uint16_t>(lo)));
}

// Per-pixel offsets of blue, green and red for eight pixels (the chroma part of the formula).
struct Offsets {
  __m128i b, g, r;
};

// uv16 holds U0 V0 U1 V1 U2 V2 U3 V3; each pair serves two pixels.
inline Offsets ChromaOffsets(__m128i uv16) {
  // Blue (U lanes) and red (V lanes) offsets in one multiply.
  const __m128i xs = _mm_add_epi16(_mm_slli_epi16(uv16, 2), Pair(kBlueBias, kRedBias));
  const __m128i br = _mm_add_epi16(_mm_mulhi_epi16(xs, Pair(kBlueMul, kRedMul)), Pair(kBlueAdd, kRedAdd));
  // Green: whole parts by multiply-add, truncated fractional parts by mulhi and a sign fix.
  const __m128i k = _mm_sub_epi16(uv16, _mm_set1_epi16(128));
  const __m128i frac = _mm_sub_epi16(_mm_mulhi_epi16(k, Pair(kGreenUFrac, kGreenVFrac)), _mm_srai_epi16(k, 15));
  __m128i g = _mm_add_epi32(_mm_madd_epi16(k, Pair(-kGreenUWhole, -kGreenVWhole)), _mm_madd_epi16(frac, _mm_set1_epi16(-1)));
  g = _mm_srai_epi32(_mm_add_epi32(g, _mm_set1_epi32(512)), 10);
  // Each pair's offsets go to both of its pixels.
  Offsets o;
  o.b = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
  o.r = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
  o.g = _mm_shufflehi_epi16(_mm_shufflelo_epi16(g, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
  return o;
}

// Four pixels as B G R 0 dwords -> 12 bytes B G R B G R ... in the low bytes, zeros above.
inline __m128i Compact(__m128i p) {
  const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i t = _mm_or_si128(_mm_and_si128(p, low3), _mm_srli_epi64(_mm_andnot_si128(low3, p), 8));
  return _mm_or_si128(_mm_move_epi64(t), _mm_slli_si128(_mm_srli_si128(t, 8), 6));
}

// Clamp and store eight pixels of luma y16 with their offsets as 24 bytes.
inline void Emit8(__m128i y16, const Offsets& o, uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bg = _mm_packus_epi16(_mm_add_epi16(y16, o.b), _mm_add_epi16(y16, o.g));  // B0..B7 G0..G7
  const __m128i r16 = _mm_add_epi16(y16, o.r);
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
    Emit8(_mm_and_si128(x, lowBytes), ChromaOffsets(_mm_srli_epi16(x, 8)), dst + 3 * j);
  }
  Yuy2RowTail(src, dst, j, width);
}

// Four U V pairs, for pixels j to j + 7 (j even).
inline __m128i LoadUv(PlanarChroma c, int j) {
  int u4, v4;
  memcpy(&u4, c.u + j / 2, 4);
  memcpy(&v4, c.v + j / 2, 4);
  return _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), _mm_cvtsi32_si128(v4)), _mm_setzero_si128());
}
inline __m128i LoadUv(PairedChroma c, int j) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c.uv + j)), _mm_setzero_si128());
}

inline __m128i LoadY(const uint8_t* y) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), _mm_setzero_si128());
}

template <class Chroma>
void ChromaRow(const uint8_t* y, Chroma chroma, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 8 <= width; j += 8) Emit8(LoadY(y + j), ChromaOffsets(LoadUv(chroma, j)), dst + 3 * j);
  ChromaRowTail(y, chroma, dst, j, width);
}

template <class Chroma>
void ChromaPair(const uint8_t* y0, const uint8_t* y1, Chroma chroma, uint8_t* dst0, uint8_t* dst1, int width) {
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    const Offsets o = ChromaOffsets(LoadUv(chroma, j));
    Emit8(LoadY(y0 + j), o, dst0 + 3 * j);
    Emit8(LoadY(y1 + j), o, dst1 + 3 * j);
  }
  ChromaRowTail(y0, chroma, dst0, j, width);
  ChromaRowTail(y1, chroma, dst1, j, width);
}

void NoFence() {}

}  // namespace

// The SSE2 floor keeps ordinary stores throughout.
Kernels Sse2Kernels() {
  return {Yuy2RowSse2,
          ChromaRow<PlanarChroma>,
          ChromaPair<PlanarChroma>,
          ChromaRow<PairedChroma>,
          ChromaPair<PairedChroma>,
          Yuy2RowSse2,
          ChromaPair<PlanarChroma>,
          ChromaPair<PairedChroma>,
          NoFence};
}

}  // namespace yuv
}  // namespace zelvora
