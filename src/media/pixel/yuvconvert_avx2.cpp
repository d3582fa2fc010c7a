// AVX2 row kernels: 16 pixels per step. Built with AVX2 code generation for this file only and
// called only when the processor and the operating system support AVX2.
#include <immintrin.h>

#include "media/pixel/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

inline __m256i Pair(int lo, int hi) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                            static_cast<uint16_t>(lo)));
}

inline __m256i Lanes(const signed char (&m)[32]) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
}

// Byte selections, per 128-bit lane.
alignas(32) const signed char kDupEven[32] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,
                                              0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
alignas(32) const signed char kDupOdd[32] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                             2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
// From B0..B7 G0..G7 and R0..R7 of a lane: the first 16 bytes of B G R B G R ... (head) and the
// last 8 (tail: in the low half of the first lane, in the high half of the second).
alignas(32) const signed char kHeadBg[32] = {0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5,
                                             0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5};
alignas(32) const signed char kHeadR[32] = {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                            -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1};
alignas(32) const signed char kTailBg[32] = {13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                             -1, -1, -1, -1, -1, -1, -1, -1, 13, -1, 6, 14, -1, 7, 15, -1};
alignas(32) const signed char kTailR[32] = {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1,
                                            -1, -1, -1, -1, -1, -1, -1, -1, -1, 5, -1, -1, 6, -1, -1, 7};

// Per-pixel offsets of blue, green and red for sixteen pixels (the chroma part of the formula).
struct Offsets {
  __m256i b, g, r;
};

// uv16 holds eight U V pairs (lanes: pixels 0-7, 8-15), each serving two pixels.
inline Offsets ChromaOffsets(__m256i uv16) {
  const __m256i xs = _mm256_add_epi16(_mm256_slli_epi16(uv16, 2), Pair(kBlueBias, kRedBias));
  const __m256i br = _mm256_add_epi16(_mm256_mulhi_epi16(xs, Pair(kBlueMul, kRedMul)), Pair(kBlueAdd, kRedAdd));
  const __m256i k = _mm256_sub_epi16(uv16, _mm256_set1_epi16(128));
  const __m256i frac =
      _mm256_sub_epi16(_mm256_mulhi_epi16(k, Pair(kGreenUFrac, kGreenVFrac)), _mm256_srai_epi16(k, 15));
  __m256i g = _mm256_add_epi32(_mm256_madd_epi16(k, Pair(-kGreenUWhole, -kGreenVWhole)),
                               _mm256_madd_epi16(frac, _mm256_set1_epi16(-1)));
  g = _mm256_srai_epi32(_mm256_add_epi32(g, _mm256_set1_epi32(512)), 10);
  const __m256i dupEven = Lanes(kDupEven);
  return {_mm256_shuffle_epi8(br, dupEven), _mm256_shuffle_epi8(g, dupEven), _mm256_shuffle_epi8(br, Lanes(kDupOdd))};
}

template <bool kStream>
inline void Store16(uint8_t* dst, __m128i v) {
  if (kStream) _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
  else _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// Sixteen pixels of luma y16 with their offsets: clamp and write 48 bytes.
template <bool kStream>
inline void Emit16(__m256i y16, const Offsets& o, uint8_t* dst) {
  const __m256i bg = _mm256_packus_epi16(_mm256_add_epi16(y16, o.b), _mm256_add_epi16(y16, o.g));
  const __m256i r = _mm256_add_epi16(y16, o.r);
  const __m256i rr = _mm256_packus_epi16(r, r);
  const __m256i head = _mm256_or_si256(_mm256_shuffle_epi8(bg, Lanes(kHeadBg)), _mm256_shuffle_epi8(rr, Lanes(kHeadR)));
  const __m256i tail = _mm256_or_si256(_mm256_shuffle_epi8(bg, Lanes(kTailBg)), _mm256_shuffle_epi8(rr, Lanes(kTailR)));
  const __m128i head1 = _mm256_extracti128_si256(head, 1);
  Store16<kStream>(dst, _mm256_castsi256_si128(head));
  Store16<kStream>(dst + 16, _mm_unpacklo_epi64(_mm256_castsi256_si128(tail), head1));
  Store16<kStream>(dst + 32, _mm_unpackhi_epi64(head1, _mm256_extracti128_si256(tail, 1)));
}

inline bool Aligned16(const uint8_t* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

template <bool kStream>
void Yuy2Row(const uint8_t* src, uint8_t* dst, int width) {
  if (kStream && !Aligned16(dst)) return Yuy2Row<false>(src, dst, width);
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * j));
    Emit16<kStream>(_mm256_and_si256(x, lowBytes), ChromaOffsets(_mm256_srli_epi16(x, 8)), dst + 3 * j);
  }
  Yuy2RowTail(src, dst, j, width);
}

// Eight U V pairs, for pixels j to j + 15 (j even).
inline __m256i LoadUv(PlanarChroma c, int j) {
  const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c.u + j / 2));
  const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c.v + j / 2));
  return _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, v8));
}
inline __m256i LoadUv(PairedChroma c, int j) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c.uv + j)));
}

inline __m256i LoadY(const uint8_t* y) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
}

template <class Chroma>
void ChromaRow(const uint8_t* y, Chroma chroma, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 16 <= width; j += 16) Emit16<false>(LoadY(y + j), ChromaOffsets(LoadUv(chroma, j)), dst + 3 * j);
  ChromaRowTail(y, chroma, dst, j, width);
}

// Two rows of one chroma row: the offsets are worked out once for both.
template <bool kStream, class Chroma>
void ChromaPair(const uint8_t* y0, const uint8_t* y1, Chroma chroma, uint8_t* dst0, uint8_t* dst1, int width) {
  if (kStream && !(Aligned16(dst0) && Aligned16(dst1))) return ChromaPair<false>(y0, y1, chroma, dst0, dst1, width);
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const Offsets o = ChromaOffsets(LoadUv(chroma, j));
    Emit16<kStream>(LoadY(y0 + j), o, dst0 + 3 * j);
    Emit16<kStream>(LoadY(y1 + j), o, dst1 + 3 * j);
  }
  ChromaRowTail(y0, chroma, dst0, j, width);
  ChromaRowTail(y1, chroma, dst1, j, width);
}

void Fence() { _mm_sfence(); }

}  // namespace

Kernels Avx2Kernels() {
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
