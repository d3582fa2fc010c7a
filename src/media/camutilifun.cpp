#include "media/camutilifun.h"

namespace zelvora {

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return;
  if (mediaType->cbFormat != 0) CoTaskMemFree(mediaType->pbFormat);
  if (mediaType->pUnk) mediaType->pUnk->Release();
  CoTaskMemFree(mediaType);
}

}  // namespace zelvora
