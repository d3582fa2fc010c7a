// zelvora_devices_setup [set]: registers zelvora_devices.dll (beside this program) and a device
// set ("default" when none is named) into the current Wine prefix, then lists what the system
// device enumerator now reports. Exit code 0 on success.
#include <windows.h>
#include <strmif.h>
#include <uuids.h>
#include <wrl/client.h>

#include <stdio.h>

#include "testdevices.h"

using Microsoft::WRL::ComPtr;

namespace {

void ListCategory(ICreateDevEnum* devices, REFCLSID category, const char* title) {
  ComPtr<IEnumMoniker> monikers;
  HRESULT hr = devices->CreateClassEnumerator(category, &monikers, 0);
  printf("%s:%s\n", title, hr == S_OK ? "" : " none");
  if (hr != S_OK) return;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf())))) {
      VARIANT name;
      VariantInit(&name);
      name.vt = VT_BSTR;
      if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr))) printf("  %ls\n", name.bstrVal);
      VariantClear(&name);
    }
    moniker.Reset();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* set = argc > 1 ? argv[1] : L"default";
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (length > 0 && path[length - 1] != L'\\') --length;
  path[length] = 0;
  lstrcatW(path, ZVD_DLL_NAME);

  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return 1;
  int rc = 1;
  HMODULE dll = LoadLibraryW(path);
  if (!dll) {
    printf("cannot load %ls (error %lu)\n", path, GetLastError());
  } else {
    typedef HRESULT(WINAPI * RegisterFn)();
    RegisterFn registerServer = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    ZvdRegisterDeviceSetFn registerSet =
        reinterpret_cast<ZvdRegisterDeviceSetFn>(reinterpret_cast<void*>(GetProcAddress(dll, "ZvdRegisterDeviceSet")));
    hr = registerServer && registerSet ? registerServer() : E_NOINTERFACE;
    if (SUCCEEDED(hr)) hr = registerSet(set);
    printf("register %ls set \"%ls\": 0x%08lx\n", path, set, static_cast<unsigned long>(hr));
    if (SUCCEEDED(hr)) {
      ComPtr<ICreateDevEnum> devices;
      if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(devices.GetAddressOf())))) {
        ListCategory(devices.Get(), CLSID_VideoInputDeviceCategory, "cameras");
        ListCategory(devices.Get(), CLSID_AudioInputDeviceCategory, "audio inputs");
      }
      rc = 0;
    }
    FreeLibrary(dll);
  }
  fflush(stdout);
  CoUninitialize();
  return rc;
}
