#pragma once

#include <windows.h>

namespace zelvora {

// Takes picture `frame` (1-based) of a Windows Media file into the host's FrameImage record.
HRESULT LoadFrameFromFile(const WCHAR* fileName, int frame, unsigned long* image);

}  // namespace zelvora
