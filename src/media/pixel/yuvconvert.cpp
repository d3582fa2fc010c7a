#include "media/pixel/yuvconvert.h"

#include <stdlib.h>

#include <atomic>

#include "media/pixel/yuvkernels.h"

namespace zelvora {
namespace yuv {
namespace {

void Yuy2RowScalar(const uint8_t* src, uint8_t* dst, int width) { Yuy2RowTail(src, dst, 0, width); }

void I420RowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
  I420RowTail(y, u, v, dst, 0, width);
}

void I420PairScalar(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* dst0,
                    uint8_t* dst1, int width) {
  I420RowTail(y0, u, v, dst0, 0, width);
  I420RowTail(y1, u, v, dst1, 0, width);
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
  return {Yuy2RowScalar, I420RowScalar, I420PairScalar, Yuy2RowScalar, I420PairScalar, NoFence};
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

void RunI420(const yuv::Kernels& k, const uint8_t* src, int width, int height, uint8_t* dst) {
  const size_t chromaWidth = (static_cast<size_t>(width) + 1) / 2;
  const size_t chromaHeight = (static_cast<size_t>(height) + 1) / 2;
  const uint8_t* y = src;
  const uint8_t* u = y + static_cast<size_t>(width) * height;
  const uint8_t* v = u + chromaWidth * chromaHeight;
  const size_t dstStride = static_cast<size_t>(width) * 3;
  const bool stream = dstStride * height >= yuv::StreamingThreshold();
  const yuv::I420PairFn pair = stream ? k.i420PairStream : k.i420Pair;
  uint8_t* out = dst + dstStride * (height - 1);
  // Each chroma row serves two picture rows; an odd height leaves one row for the last chroma row.
  int i = 0;
  for (; i + 1 < height; i += 2, y += 2 * static_cast<size_t>(width), out -= 2 * dstStride, u += chromaWidth,
                         v += chromaWidth)
    pair(y, y + width, u, v, out, out - dstStride, width);
  if (i < height) k.i420(y, u, v, out, width);
  if (stream) k.finish();
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

}  // namespace zelvora
