#include "capture/frameformat.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>

#include "media/frametypes.h"
#include "media/pixel/framelayout.h"
#include "media/pixel/yuvconvert.h"
#include "media/dshowids.h"

namespace zelvora {
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mediaType, REFERENCE_TIME* averageInterval) {
  if (!mediaType.pbFormat) return nullptr;
  if (IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) && mediaType.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* header = reinterpret_cast<const VIDEOINFOHEADER*>(mediaType.pbFormat);
    if (averageInterval) *averageInterval = header->AvgTimePerFrame;
    return &header->bmiHeader;
  }
  if (IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo2) && mediaType.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* header = reinterpret_cast<const VIDEOINFOHEADER2*>(mediaType.pbFormat);
    if (averageInterval) *averageInterval = header->AvgTimePerFrame;
    return &header->bmiHeader;
  }
  return nullptr;
}

PixelFormat PixelFormatOfSubtype(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return PixelFormat::RGB24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return PixelFormat::YUY2;
  // IYUV has the same layout, but the grabber is given I420 and refuses every other subtype.
  if (IsEqualGUID(subtype, kMediaSubtypeI420)) return PixelFormat::I420;
  return PixelFormat::Other;
}

int ColorFormatOfSubtype(const GUID& subtype) {
  // NV12 and MJPG reach the grabber only through the mode loads and the fallback of the sized
  // loads; the format lists keep calling them "Unknown".
  if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return ColorFormat::NV12;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_MJPG)) return ColorFormat::MJPG;
  return ColorFormatOf(PixelFormatOfSubtype(subtype));
}

bool FrameFormatOfConnection(const AM_MEDIA_TYPE& mediaType, FrameFormat* format) {
  const int colorFormat = ColorFormatOfSubtype(mediaType.subtype);
  const BITMAPINFOHEADER* header = BitmapHeaderOf(mediaType);
  if (colorFormat < 0 || !header) return false;
  const long long width = header->biWidth;
  long long height = header->biHeight;
  // RGB24 frames are handed on as delivered, promised bottom-up: a top-down picture cannot be.
  if (height < 0 && colorFormat != ColorFormat::RGB24) height = -height;
  // (A height of -2^31 turns into one that no int holds.)
  if (width <= 0 || height <= 0 || height > 0x7FFFFFFF) return false;
  // A compressed frame has no fixed size: only its picture size is checked.
  if (colorFormat == ColorFormat::MJPG ? BgrPictureBytes(static_cast<int>(width), static_cast<int>(height)) == 0
                                       : FrameSourceBytes(colorFormat, static_cast<int>(width), static_cast<int>(height)) == 0)
    return false;
  format->colorFormat = colorFormat;
  format->width = static_cast<int>(width);
  format->height = static_cast<int>(height);
  return true;
}

}  // namespace zelvora
