#pragma once

// Pixel formats of the frames the conversions read. Platform-free.

namespace zelvora {

// Pixel format of the preview frames.
namespace ColorFormat {
enum : int { RGB24 = 0, I420 = 1, YUY2 = 2, NotConfigured = 3, NV12 = 4, MJPG = 5 };
}

}  // namespace zelvora
