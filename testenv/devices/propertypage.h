#pragma once
#include <windows.h>
#include <ocidl.h>

namespace zvd {
// The property page of the devices: shows the device's name and current capture format.
HRESULT CreatePropertyPage(IUnknown* outer, REFIID riid, void** ppv);
}  // namespace zvd
