#pragma once

// Pixel formats of the frames the conversions read. Platform-free.

namespace zelvora {

// Pixel format of the preview frames.
namespace ColorFormat {
enum : int {
  RGB24 = 0,
  I420 = 1,
  YUY2 = 2,
  NotConfigured = 3,
  NV12 = 4,  // a luma plane, then one plane of interleaved U V pairs at half width and height
  MJPG = 5,  // compressed (Motion JPEG): no fixed frame size, not read by the YUV conversions
};
}

}  // namespace zelvora
