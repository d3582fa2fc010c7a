#include "media/camutilifun.h"

namespace zelvora {

void FreeMediaTypeContents(AM_MEDIA_TYPE& mediaType) {
  if (mediaType.cbFormat != 0) CoTaskMemFree(mediaType.pbFormat);
  mediaType.pbFormat = nullptr;
  mediaType.cbFormat = 0;
  if (mediaType.pUnk) mediaType.pUnk->Release();
  mediaType.pUnk = nullptr;
}

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return;
  FreeMediaTypeContents(*mediaType);
  CoTaskMemFree(mediaType);
}

}  // namespace zelvora
