#include "media/pixel/yuvconvert.h"

#include <stdlib.h>

#include <atomic>

#include "media/pixel/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

void Yuy2RowScalar(const uint8_t* src, uint8_t* dst, int width) { Yuy2RowTail(src, dst, 0, width); }

template <class Chroma>
void ChromaRowScalar(const uint8_t* y, Chroma chroma, uint8_t* dst, int width) {
  ChromaRowTail(y, chroma, dst, 0, width);
}

template <class Chroma>
void ChromaPairScalar(const uint8_t* y0, const uint8_t* y1, Chroma chroma, uint8_t* dst0, uint8_t* dst1, int width) {
  ChromaRowTail(y0, chroma, dst0, 0, width);
  ChromaRowTail(y1, chroma, dst1, 0, width);
}

void NoFence() {}

}  // namespace

namespace {
// Pictures this large would not stay in the caches anyway: streaming them saves reading every
// destination line before it is written.
std::atomic<size_t> g_streamBytes{size_t(4) << 20};
}  // namespace

size_t StreamingThreshold() { return g_streamBytes.load(std::memory_order_relaxed); }
void SetStreamingThreshold(size_t bytes) { g_streamBytes.store(bytes, std::memory_order_relaxed); }

Kernels ScalarKernels() {
  return {Yuy2RowScalar,
          ChromaRowScalar<PlanarChroma>,
          ChromaPairScalar<PlanarChroma>,
          ChromaRowScalar<PairedChroma>,
          ChromaPairScalar<PairedChroma>,
          Yuy2RowScalar,
          ChromaPairScalar<PlanarChroma>,
          ChromaPairScalar<PairedChroma>,
          NoFence};
}

}  // namespace yuv

namespace {

// Largest picture or source handled: keeps every size and offset inside a signed 32-bit range.
constexpr uint64_t kMaxBytes = 0x7FFFFFFF;

uint64_t Checked(uint64_t bytes) { return bytes > kMaxBytes ? 0 : bytes; }

bool UsableSize(int width, int height) {
  return width > 0 && height > 0 && BgrPictureBytes(width, height) != 0 && Yuy2SourceBytes(width, height) != 0;
}

yuv::Kernels KernelsFor(SimdLevel level) {
  static const SimdLevel best = DetectSimdLevel();
  if (static_cast<int>(level) > static_cast<int>(best)) level = best;
  switch (level) {
    case SimdLevel::Avx512: return yuv::Avx512Kernels();
    case SimdLevel::Avx2: return yuv::Avx2Kernels();
    case SimdLevel::Sse2: return yuv::Sse2Kernels();
    default: return yuv::ScalarKernels();
  }
}

const yuv::Kernels& BestKernels() {
  static const yuv::Kernels kernels = KernelsFor(DetectSimdLevel());
  return kernels;
}

void RunYuy2(const yuv::Kernels& k, const uint8_t* src, int width, int height, uint8_t* dst) {
  const size_t srcStride = (static_cast<size_t>(width) * 2 + 3) & ~static_cast<size_t>(3);
  const size_t dstStride = static_cast<size_t>(width) * 3;
  const bool stream = dstStride * height >= yuv::StreamingThreshold();
  const yuv::Yuy2RowFn row = stream ? k.yuy2Stream : k.yuy2;
  // The first source row becomes the last row of the picture.
  uint8_t* out = dst + dstStride * (height - 1);
  for (int i = 0; i < height; ++i, src += srcStride, out -= dstStride) row(src, out, width);
  if (stream) k.finish();
}

size_t ChromaWidth(int width) { return (static_cast<size_t>(width) + 1) / 2; }

// The chroma row after `c`, of `chromaWidth` samples.
yuv::PlanarChroma NextRow(yuv::PlanarChroma c, size_t chromaWidth) { return {c.u + chromaWidth, c.v + chromaWidth}; }
yuv::PairedChroma NextRow(yuv::PairedChroma c, size_t chromaWidth) { return {c.uv + 2 * chromaWidth}; }

// I420 and NV12 from the luma plane `y` and the first chroma row.
template <class Chroma>
void RunChroma(const yuv::Kernels& k, yuv::ChromaRowFn<Chroma> row, yuv::ChromaPairFn<Chroma> pair,
               yuv::ChromaPairFn<Chroma> pairStream, const uint8_t* y, Chroma chroma, int width, int height,
               uint8_t* dst) {
  const size_t chromaWidth = ChromaWidth(width);
  const size_t dstStride = static_cast<size_t>(width) * 3;
  const bool stream = dstStride * height >= yuv::StreamingThreshold();
  if (stream) pair = pairStream;
  uint8_t* out = dst + dstStride * (height - 1);
  // Each chroma row serves two picture rows; an odd height leaves one row for the last chroma row.
  int i = 0;
  for (; i + 1 < height; i += 2, y += 2 * static_cast<size_t>(width), out -= 2 * dstStride,
                         chroma = NextRow(chroma, chromaWidth))
    pair(y, y + width, chroma, out, out - dstStride, width);
  if (i < height) row(y, chroma, out, width);
  if (stream) k.finish();
}

void RunI420(const yuv::Kernels& k, const uint8_t* src, int width, int height, uint8_t* dst) {
  const uint8_t* u = src + static_cast<size_t>(width) * height;
  const uint8_t* v = u + ChromaWidth(width) * ((static_cast<size_t>(height) + 1) / 2);
  RunChroma(k, k.i420, k.i420Pair, k.i420PairStream, src, yuv::PlanarChroma{u, v}, width, height, dst);
}

void RunNv12(const yuv::Kernels& k, const uint8_t* src, int width, int height, uint8_t* dst) {
  const uint8_t* uv = src + static_cast<size_t>(width) * height;
  RunChroma(k, k.nv12, k.nv12Pair, k.nv12PairStream, src, yuv::PairedChroma{uv}, width, height, dst);
}

}  // namespace

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Avx512: return "avx512";
    case SimdLevel::Avx2: return "avx2";
    case SimdLevel::Sse2: return "sse2";
    default: return "scalar";
  }
}

size_t Yuy2SourceBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t row = (static_cast<uint64_t>(width) * 2 + 3) & ~static_cast<uint64_t>(3);
  return static_cast<size_t>(Checked(row * static_cast<uint64_t>(height)));
}

size_t I420SourceBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t chroma = ((static_cast<uint64_t>(width) + 1) / 2) * ((static_cast<uint64_t>(height) + 1) / 2);
  return static_cast<size_t>(Checked(static_cast<uint64_t>(width) * static_cast<uint64_t>(height) + 2 * chroma));
}

// The same bytes as I420: the two chroma planes' samples, interleaved into one.
size_t Nv12SourceBytes(int width, int height) { return I420SourceBytes(width, height); }

size_t BgrPictureBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  return static_cast<size_t>(Checked(static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3));
}

bool Yuy2ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level) {
  if (!source || !destination || !UsableSize(width, height)) return false;
  RunYuy2(KernelsFor(level), source, width, height, destination);
  return true;
}

bool I420ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level) {
  if (!source || !destination || !UsableSize(width, height) || I420SourceBytes(width, height) == 0) return false;
  RunI420(KernelsFor(level), source, width, height, destination);
  return true;
}

bool Nv12ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level) {
  if (!source || !destination || !UsableSize(width, height) || Nv12SourceBytes(width, height) == 0) return false;
  RunNv12(KernelsFor(level), source, width, height, destination);
  return true;
}

bool Yuy2ToBgr(const uint8_t* source, int width, int height, uint8_t* destination) {
  if (!source || !destination || !UsableSize(width, height)) return false;
  RunYuy2(BestKernels(), source, width, height, destination);
  return true;
}

bool I420ToBgr(const uint8_t* source, int width, int height, uint8_t* destination) {
  if (!source || !destination || !UsableSize(width, height) || I420SourceBytes(width, height) == 0) return false;
  RunI420(BestKernels(), source, width, height, destination);
  return true;
}

bool Nv12ToBgr(const uint8_t* source, int width, int height, uint8_t* destination) {
  if (!source || !destination || !UsableSize(width, height) || Nv12SourceBytes(width, height) == 0) return false;
  RunNv12(BestKernels(), source, width, height, destination);
  return true;
}

uint8_t* ConvertYuy2ToBgr(const uint8_t* source, int width, int height) {
  if (!source || !UsableSize(width, height)) return nullptr;
  uint8_t* picture = static_cast<uint8_t*>(malloc(BgrPictureBytes(width, height)));
  if (picture) RunYuy2(BestKernels(), source, width, height, picture);
  return picture;
}

uint8_t* ConvertI420ToBgr(const uint8_t* source, int width, int height) {
  if (!source || !UsableSize(width, height) || I420SourceBytes(width, height) == 0) return nullptr;
  uint8_t* picture = static_cast<uint8_t*>(malloc(BgrPictureBytes(width, height)));
  if (picture) RunI420(BestKernels(), source, width, height, picture);
  return picture;
}

uint8_t* ConvertNv12ToBgr(const uint8_t* source, int width, int height) {
  if (!source || !UsableSize(width, height) || Nv12SourceBytes(width, height) == 0) return nullptr;
  uint8_t* picture = static_cast<uint8_t*>(malloc(BgrPictureBytes(width, height)));
  if (picture) RunNv12(BestKernels(), source, width, height, picture);
  return picture;
}

}  // namespace zelvora
