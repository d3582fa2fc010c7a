#pragma once

// Row kernels of the YUV conversions, one set per instruction set (internal to yuvconvert).
// A kernel converts one whole picture row: `width` pixels into width * 3 bytes at `dst`.

#include <stddef.h>
#include <stdint.h>

#include "media/pixel/yuvtables.h"

namespace zelvora {
namespace yuv {

// The chroma row that serves a pair of picture rows: I420's two planes, or NV12's U V pairs.
struct PlanarChroma {
  const uint8_t* u;
  const uint8_t* v;
};
struct PairedChroma {
  const uint8_t* uv;  // U V U V ...
};

using Yuy2RowFn = void (*)(const uint8_t* src, uint8_t* dst, int width);
// One I420 or NV12 row, and two rows that share one chroma row.
template <class Chroma>
using ChromaRowFn = void (*)(const uint8_t* y, Chroma chroma, uint8_t* dst, int width);
template <class Chroma>
using ChromaPairFn = void (*)(const uint8_t* y0, const uint8_t* y1, Chroma chroma, uint8_t* dst0, uint8_t* dst1,
                              int width);

// `stream` variants write the picture with non-temporal stores where a row starts on a 16-byte
// boundary (large pictures that would only push the source out of the caches); `finish` orders
// those stores before the picture is handed on.
struct Kernels {
  Yuy2RowFn yuy2;
  ChromaRowFn<PlanarChroma> i420;
  ChromaPairFn<PlanarChroma> i420Pair;
  ChromaRowFn<PairedChroma> nv12;
  ChromaPairFn<PairedChroma> nv12Pair;
  Yuy2RowFn yuy2Stream;
  ChromaPairFn<PlanarChroma> i420PairStream;
  ChromaPairFn<PairedChroma> nv12PairStream;
  void (*finish)();
};

// Pictures of at least this many bytes are written with the streaming kernels (default 4 MB).
// Changeable for the benchmark and the tests.
size_t StreamingThreshold();
void SetStreamingThreshold(size_t bytes);

Kernels ScalarKernels();
Kernels Sse2Kernels();
Kernels Avx2Kernels();
Kernels Avx512Kernels();

// The helpers below are compiled into every kernel file, some of them with AVX code generation:
// internal linkage keeps each file's copy to itself.
namespace {

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// One pixel by the tables, written blue, green, red. Used by the reference and for row tails.
inline void TablePixel(uint8_t* d, int y, int u, int v) {
  const int l = YuvTables::luma[y];
  d[0] = Clamp255((l + YuvTables::blueU[u] + 512) >> 10);
  d[1] = Clamp255((l - YuvTables::greenU[u] - YuvTables::greenV[v] + 512) >> 10);
  d[2] = Clamp255((l + YuvTables::redV[v] + 512) >> 10);
}

// The U and V samples of chroma column `col`.
inline int U(PlanarChroma c, int col) { return c.u[col]; }
inline int V(PlanarChroma c, int col) { return c.v[col]; }
inline int U(PairedChroma c, int col) { return c.uv[2 * col]; }
inline int V(PairedChroma c, int col) { return c.uv[2 * col + 1]; }

// Pixels [from, width) of a YUY2 row (from even) and of an I420 or NV12 row, by the tables.
inline void Yuy2RowTail(const uint8_t* src, uint8_t* dst, int from, int width) {
  for (int j = from; j < width; j += 2) {
    const uint8_t* g = src + 2 * j;  // Y0 U Y1 V
    TablePixel(dst + 3 * j, g[0], g[1], g[3]);
    if (j + 1 < width) TablePixel(dst + 3 * (j + 1), g[2], g[1], g[3]);
  }
}
template <class Chroma>
inline void ChromaRowTail(const uint8_t* y, Chroma c, uint8_t* dst, int from, int width) {
  for (int j = from; j < width; ++j) TablePixel(dst + 3 * j, y[j], U(c, j / 2), V(c, j / 2));
}

// Constants of the vector kernels. With k = U - 128 or V - 128 (16-bit lanes):
//   blue  offset = mulhi(4 * U + kBlueBias, kBlueMul) + kBlueAdd     == (blueU[U] + 512) >> 10
//   red   offset = mulhi(4 * V + kRedBias,  kRedMul)  + kRedAdd      == (redV[V] + 512) >> 10
//   green offset = (-352 * ku - 731 * kv - eu - ev + 512) >> 10      == (-greenU[U] - greenV[V] + 512) >> 10
// where eu = mulhi(ku, kGreenUFrac) + (ku < 0) == greenU[U] - 352 * ku and likewise ev with
// kGreenVFrac and 731 (the truncated fractional parts of the table entries). mulhi is the high
// half of the signed 16 x 16 bit product. Every colour channel is then clamp(Y + offset), because
// luma[Y] is a multiple of 1024. The unit tests check all 16.7 million (Y, U, V) triples.
}  // namespace

constexpr int16_t kBlueMul = 28999, kBlueBias = -32715, kBlueAdd = 14250;
constexpr int16_t kRedMul = 22986, kRedBias = -32734, kRedAdd = 11302;
constexpr int16_t kGreenUWhole = 352, kGreenVWhole = 731;
constexpr int16_t kGreenUFrac = 16778, kGreenVFrac = 8913;

}  // namespace yuv
}  // namespace zelvora
