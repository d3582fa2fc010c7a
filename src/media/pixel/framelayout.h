#pragma once

// Sizes of the frames the sample grabber delivers, by pixel format (platform-free).

namespace zelvora {

// Bytes of one row of a 24-bit bottom-up picture as the platform lays it out: 4-byte aligned.
long long Rgb24RowBytes(int width);

// Bytes a delivered frame of this ColorFormat and size must hold: YUY2, I420 and NV12 as the
// conversions read them, RGB24 with 4-byte aligned rows. 0 for another format (MJPG frames have no
// fixed size) or a size that is zero, negative or too large; such frames are never read.
long long FrameSourceBytes(int colorFormat, int width, int height);

}  // namespace zelvora
