#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "Zelvora.h"

namespace dlltest {

using Microsoft::WRL::ComPtr;

// {26157E1D-6902-4673-A283-289B3DB9CAD3}: the component's application identifier.
constexpr GUID kAppId = {0x26157e1d, 0x6902, 0x4673, {0xa2, 0x83, 0x28, 0x9b, 0x3d, 0xb9, 0xca, 0xd3}};

inline ComPtr<IIZelvora> CreateComponent() {
  ComPtr<IIZelvora> camera;
  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(camera.GetAddressOf()));
  EXPECT_EQ(S_OK, hr);
  return camera;
}

// The copy of Zelvora.dll that COM loaded for this process (the registered one).
inline HMODULE ComponentModule() {
  ComPtr<IIZelvora> keepLoaded = CreateComponent();
  return GetModuleHandleW(L"Zelvora.dll");
}

template <typename Fn>
Fn Export(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ComponentModule(), name)));
}

inline unsigned short* W(const wchar_t* text) {
  return reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(text));
}

}  // namespace dlltest
