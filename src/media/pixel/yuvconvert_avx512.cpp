// AVX-512 (F + BW) row kernels: 32 pixels per step, the AVX2 scheme on four 128-bit lanes. Built
// with AVX-512 code generation for this file only and called only when the processor and the
// operating system support it.
#include <immintrin.h>

#include "media/pixel/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

inline __m512i Pair(int lo, int hi) {
  return _mm512_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                            static_cast<uint16_t>(lo)));
}

// A 32-byte selection repeated for both halves.
inline __m512i Lanes(const signed char (&m)[32]) {
  return _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(m)));
}

alignas(32) const signed char kDupEven[32] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,
                                              0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
alignas(32) const signed char kDupOdd[32] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                             2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
alignas(32) const signed char kHeadBg[32] = {0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5,
                                             0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5};
alignas(32) const signed char kHeadR[32] = {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                            -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1};
alignas(32) const signed char kTailBg[32] = {13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                             -1, -1, -1, -1, -1, -1, -1, -1, 13, -1, 6, 14, -1, 7, 15, -1};
alignas(32) const signed char kTailR[32] = {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1,
                                            -1, -1, -1, -1, -1, -1, -1, -1, -1, 5, -1, -1, 6, -1, -1, 7};

struct Offsets {
  __m512i b, g, r;
};

inline Offsets ChromaOffsets(__m512i uv16) {
  const __m512i xs = _mm512_add_epi16(_mm512_slli_epi16(uv16, 2), Pair(kBlueBias, kRedBias));
  const __m512i br = _mm512_add_epi16(_mm512_mulhi_epi16(xs, Pair(kBlueMul, kRedMul)), Pair(kBlueAdd, kRedAdd));
  const __m512i k = _mm512_sub_epi16(uv16, _mm512_set1_epi16(128));
  const __m512i frac =
      _mm512_sub_epi16(_mm512_mulhi_epi16(k, Pair(kGreenUFrac, kGreenVFrac)), _mm512_srai_epi16(k, 15));
  __m512i g = _mm512_add_epi32(_mm512_madd_epi16(k, Pair(-kGreenUWhole, -kGreenVWhole)),
                               _mm512_madd_epi16(frac, _mm512_set1_epi16(-1)));
  g = _mm512_srai_epi32(_mm512_add_epi32(g, _mm512_set1_epi32(512)), 10);
  const __m512i dupEven = Lanes(kDupEven);
  return {_mm512_shuffle_epi8(br, dupEven), _mm512_shuffle_epi8(g, dupEven), _mm512_shuffle_epi8(br, Lanes(kDupOdd))};
}

template <bool kStream>
inline void Store16(uint8_t* dst, __m128i v) {
  if (kStream) _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
  else _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// Lanes 2p and 2p + 1 hold sixteen pixels: 48 bytes.
template <bool kStream, int p>
inline void StoreLanes(uint8_t* dst, __m512i head, __m512i tail) {
  const __m128i h0 = _mm512_extracti32x4_epi32(head, 2 * p);
  const __m128i h1 = _mm512_extracti32x4_epi32(head, 2 * p + 1);
  Store16<kStream>(dst + 48 * p, h0);
  Store16<kStream>(dst + 48 * p + 16, _mm_unpacklo_epi64(_mm512_extracti32x4_epi32(tail, 2 * p), h1));
  Store16<kStream>(dst + 48 * p + 32, _mm_unpackhi_epi64(h1, _mm512_extracti32x4_epi32(tail, 2 * p + 1)));
}

template <bool kStream>
inline void Emit32(__m512i y16, const Offsets& o, uint8_t* dst) {
  const __m512i bg = _mm512_packus_epi16(_mm512_add_epi16(y16, o.b), _mm512_add_epi16(y16, o.g));
  const __m512i r = _mm512_add_epi16(y16, o.r);
  const __m512i rr = _mm512_packus_epi16(r, r);
  const __m512i head = _mm512_or_si512(_mm512_shuffle_epi8(bg, Lanes(kHeadBg)), _mm512_shuffle_epi8(rr, Lanes(kHeadR)));
  const __m512i tail = _mm512_or_si512(_mm512_shuffle_epi8(bg, Lanes(kTailBg)), _mm512_shuffle_epi8(rr, Lanes(kTailR)));
  StoreLanes<kStream, 0>(dst, head, tail);
  StoreLanes<kStream, 1>(dst, head, tail);
}

inline bool Aligned16(const uint8_t* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

template <bool kStream>
void Yuy2Row(const uint8_t* src, uint8_t* dst, int width) {
  if (kStream && !Aligned16(dst)) return Yuy2Row<false>(src, dst, width);
  const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 32 <= width; j += 32) {
    const __m512i x = _mm512_loadu_si512(src + 2 * j);
    Emit32<kStream>(_mm512_and_si512(x, lowBytes), ChromaOffsets(_mm512_srli_epi16(x, 8)), dst + 3 * j);
  }
  Yuy2RowTail(src, dst, j, width);
}

// Sixteen U V pairs for pixels j to j + 31 (j even), in the lane order of the luma (pixels 0-7,
// 8-15, 16-23, 24-31). NV12's pairs lie in that order already.
inline __m512i LoadUv(PlanarChroma c, int j) {
  const __m128i u8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.u + j / 2));
  const __m128i v8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.v + j / 2));
  const __m256i uv8 =
      _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(u8, v8)), _mm_unpackhi_epi8(u8, v8), 1);
  return _mm512_cvtepu8_epi16(uv8);
}
inline __m512i LoadUv(PairedChroma c, int j) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.uv + j)));
}

inline __m512i LoadY(const uint8_t* y) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)));
}

template <class Chroma>
void ChromaRow(const uint8_t* y, Chroma chroma, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 32 <= width; j += 32) Emit32<false>(LoadY(y + j), ChromaOffsets(LoadUv(chroma, j)), dst + 3 * j);
  ChromaRowTail(y, chroma, dst, j, width);
}

template <bool kStream, class Chroma>
void ChromaPair(const uint8_t* y0, const uint8_t* y1, Chroma chroma, uint8_t* dst0, uint8_t* dst1, int width) {
  if (kStream && !(Aligned16(dst0) && Aligned16(dst1))) return ChromaPair<false>(y0, y1, chroma, dst0, dst1, width);
  int j = 0;
  for (; j + 32 <= width; j += 32) {
    const Offsets o = ChromaOffsets(LoadUv(chroma, j));
    Emit32<kStream>(LoadY(y0 + j), o, dst0 + 3 * j);
    Emit32<kStream>(LoadY(y1 + j), o, dst1 + 3 * j);
  }
  ChromaRowTail(y0, chroma, dst0, j, width);
  ChromaRowTail(y1, chroma, dst1, j, width);
}

void Fence() { _mm_sfence(); }

}  // namespace

Kernels Avx512Kernels() {
  return {Yuy2Row<false>,
          ChromaRow<PlanarChroma>,
          ChromaPair<false, PlanarChroma>,
          ChromaRow<PairedChroma>,
          ChromaPair<false, PairedChroma>,
          Yuy2Row<true>,
          ChromaPair<true, PlanarChroma>,
          ChromaPair<true, PairedChroma>,
          Fence};
}

}  // namespace yuv
}  // namespace zelvora
