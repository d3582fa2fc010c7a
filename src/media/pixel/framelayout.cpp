#include "media/pixel/framelayout.h"

#include "media/pixel/colorformat.h"
#include "media/pixel/yuvconvert.h"

namespace zelvora {

long long Rgb24RowBytes(int width) { return (static_cast<long long>(width) * 3 + 3) & ~3LL; }

long long FrameSourceBytes(int colorFormat, int width, int height) {
  if (width <= 0 || height <= 0 || BgrPictureBytes(width, height) == 0) return 0;
  switch (colorFormat) {
    case ColorFormat::YUY2: return static_cast<long long>(Yuy2SourceBytes(width, height));
    case ColorFormat::I420: return static_cast<long long>(I420SourceBytes(width, height));
    case ColorFormat::NV12: return static_cast<long long>(Nv12SourceBytes(width, height));
    case ColorFormat::RGB24: {
      const long long bytes = Rgb24RowBytes(width) * height;
      return bytes > 0x7FFFFFFF ? 0 : bytes;
    }
    default: return 0;
  }
}

}  // namespace zelvora
