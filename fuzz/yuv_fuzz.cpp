// libFuzzer target for the frame sizes and conversions: arbitrary widths, heights, formats and
// buffer lengths. A frame is converted only when the delivered length covers what the format
// needs (as the frame handler does); the source then lives in a heap block of exactly that length,
// so AddressSanitizer sees any read past it. Every vector path must give the reference's bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "media/pixel/colorformat.h"
#include "media/pixel/framelayout.h"
#include "media/pixel/yuvconvert.h"

using namespace zelvora;

namespace {

bool Convert(int format, const uint8_t* src, int width, int height, uint8_t* dst, SimdLevel level) {
  switch (format) {
    case ColorFormat::YUY2: return Yuy2ToBgr(src, width, height, dst, level);
    case ColorFormat::I420: return I420ToBgr(src, width, height, dst, level);
    default: return Nv12ToBgr(src, width, height, dst, level);
  }
}

uint8_t* ConvertNew(int format, const uint8_t* src, int width, int height) {
  switch (format) {
    case ColorFormat::YUY2: return ConvertYuy2ToBgr(src, width, height);
    case ColorFormat::I420: return ConvertI420ToBgr(src, width, height);
    default: return ConvertNv12ToBgr(src, width, height);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  // Header: width and height (signed bytes, or signed 16-bit values when the format byte's top
  // bit is set), the format (the other seven bits, ColorFormat codes 0 to 5), the instruction set.
  const bool wide = (data[4] & 0x80) != 0;
  const int width = wide ? static_cast<int16_t>(data[0] | (data[1] << 8)) : static_cast<int8_t>(data[0]);
  const int height = wide ? static_cast<int16_t>(data[2] | (data[3] << 8)) : static_cast<int8_t>(data[2]);
  const int format = (data[4] & 0x7F) % 6;
  const SimdLevel level = static_cast<SimdLevel>(data[5] % 4);
  data += 6;
  size -= 6;

  const long long needed = FrameSourceBytes(format, width, height);
  if (needed < 0) abort();
  if (needed == 0) {
    // Unusable sizes: the conversions refuse them without touching the one byte they get.
    if (BgrPictureBytes(width, height) == 0) {
      uint8_t byte = 0;
      for (int f : {ColorFormat::YUY2, ColorFormat::I420, ColorFormat::NV12})
        if (ConvertNew(f, &byte, width, height) || Convert(f, &byte, width, height, &byte, level)) abort();
    }
    return 0;
  }
  if (static_cast<long long>(size) < needed || format == ColorFormat::RGB24) return 0;  // refused, or a plain copy
  if (static_cast<long long>(width) * height > (1 << 20)) return 0;                   // keep runs short

  uint8_t* src = static_cast<uint8_t*>(malloc(static_cast<size_t>(needed)));
  memcpy(src, data, static_cast<size_t>(needed));
  const size_t picture = BgrPictureBytes(width, height);
  std::vector<uint8_t> expected(picture), actual(picture);
  if (!Convert(format, src, width, height, expected.data(), SimdLevel::Scalar)) abort();
  if (!Convert(format, src, width, height, actual.data(), level)) abort();
  if (memcmp(expected.data(), actual.data(), picture) != 0) abort();
  uint8_t* owned = ConvertNew(format, src, width, height);
  if (!owned || memcmp(owned, expected.data(), picture) != 0) abort();
  free(owned);
  free(src);
  return 0;
}
