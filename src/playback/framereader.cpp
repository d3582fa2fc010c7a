#include "playback/framereader.h"

namespace zelvora {

// Frame extraction is built with the playback work.
HRESULT LoadFrameFromFile(const WCHAR* fileName, int, unsigned long* image) {
  if (!fileName || !image) return E_POINTER;
  return E_NOTIMPL;
}

}  // namespace zelvora
