#include "media/snapshot.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <gdiplus.h>

#include "media/scoped.h"

namespace zelvora {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

int FindImageEncoder(const WCHAR* mimeType, CLSID* clsid) {
  if (!mimeType || !clsid) return -1;
  UINT count = 0, bytes = 0;
  if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return -1;
  MallocMem<ImageCodecInfo> codecs(static_cast<ImageCodecInfo*>(malloc(bytes)));
  if (!codecs) return -1;
  if (GdipGetImageEncoders(count, bytes, codecs.get()) != Ok) return -1;
  for (UINT i = 0; i < count; ++i) {
    const ImageCodecInfo& codec = codecs.get()[i];
    if (codec.MimeType && wcscmp(codec.MimeType, mimeType) == 0) {
      *clsid = codec.Clsid;
      return static_cast<int>(i);
    }
  }
  return -1;
}

int SaveBgrPictureAsJpeg(const BYTE* picture, int width, int height, int stride, const WCHAR* fileName) {
  if (!picture || !fileName || width <= 0 || height <= 0 || stride < 0) return 0;
  // GDI+ wants scan lines that start on 4-byte boundaries: the copy's rows are padded to that.
  const unsigned long long rowBytes = static_cast<unsigned long long>(width) * 3;
  const unsigned long long copyStride = (rowBytes + 3) & ~3ULL;
  if (static_cast<unsigned long long>(stride) < rowBytes || copyStride * height > 0x7FFFFFFF) return 0;
  MallocMem<BYTE> copy(static_cast<BYTE*>(malloc(static_cast<size_t>(copyStride * height))));
  if (!copy) return 0;
  // Top row first: source row i (from the bottom) becomes row height - 1 - i.
  for (int i = 0; i < height; ++i) {
    BYTE* dst = copy.get() + copyStride * (height - 1 - i);
    memcpy(dst, picture + static_cast<size_t>(stride) * i, static_cast<size_t>(rowBytes));
    memset(dst + rowBytes, 0, static_cast<size_t>(copyStride - rowBytes));
  }
  int written = 0;
  GpBitmap* bitmap = nullptr;
  if (GdipCreateBitmapFromScan0(width, height, static_cast<INT>(copyStride), PixelFormat24bppRGB, copy.get(), &bitmap) ==
          Ok &&
      bitmap) {
    CLSID encoder = CLSID_NULL;
    FindImageEncoder(L"image/jpeg", &encoder);  // without one the save fails and writes nothing
    written = GdipSaveImageToFile(bitmap, fileName, &encoder, nullptr) == Ok ? 1 : 0;
    GdipDisposeImage(bitmap);
  }
  return written;
}

}  // namespace zelvora
