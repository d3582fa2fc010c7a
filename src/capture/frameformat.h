#pragma once

// The frame layout a sample grabber delivers, read from the media type it was connected with.
// Reads the record only: no platform call, so tests can hand it records of their own.
#include <windows.h>
#include <strmif.h>

#include "capture/formatchoice.h"

namespace zelvora {

// The pixel format of a video subtype: RGB24, YUY2, I420 (the FOURCC subtype), or Other.
PixelFormat PixelFormatOfSubtype(const GUID& subtype);

// The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, or null (no block, another
// format type, a block too short); `averageInterval`, when given, gets the block's frame interval.
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mediaType, REFERENCE_TIME* averageInterval = nullptr);

// The ColorFormat code of the frames of a video subtype: the three of PixelFormatOfSubtype, NV12
// and MJPG; -1 for others.
int ColorFormatOfSubtype(const GUID& subtype);

// What the frame callback object needs to read a delivered buffer.
struct FrameFormat {
  int colorFormat = 0;  // ColorFormat code
  int width = 0;
  int height = 0;
};

// The pixel format from the subtype (RGB24, YUY2, I420, NV12, MJPG) and the picture size from the
// VIDEOINFOHEADER or VIDEOINFOHEADER2 block. False, with `format` untouched, when the frames of
// this type cannot be delivered as promised: another subtype or format type, a missing or short
// format block, a width or height that is zero, negative or too large, or top-down RGB24 (a
// negative height), whose rows would reach the host in the wrong order. YUY2 and I420 rows
// always run top-down, whatever the sign of the height.
bool FrameFormatOfConnection(const AM_MEDIA_TYPE& mediaType, FrameFormat* format);

}  // namespace zelvora
