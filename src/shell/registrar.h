#pragma once

#include <windows.h>

namespace zelvora {

// Writes the application and class entries and registers the type library embedded in `module`.
HRESULT RegisterServer(HMODULE module);
// Removes what RegisterServer wrote; the AppID and CLSID parents are never touched.
HRESULT UnregisterServer(HMODULE module);

}  // namespace zelvora
