// Registry entries of the server, written by code. The table below is the whole of what
// registration writes under HKEY_CLASSES_ROOT; unregistration removes exactly these keys.
//
// On 64-bit Windows the 32-bit and the 64-bit DLL can both be registered, each from a process of
// its own architecture. HKCR\CLSID is kept apart per registry view (the 32-bit one lives under
// Wow6432Node), but the ProgID keys, HKCR\AppID and HKCR\TypeLib are one set of keys shared by
// both views (Windows 7 and later; Wine does the same). Unregistering one DLL therefore leaves the
// shared keys alone while the class is still registered in the other view, and of the type
// library only removes its own architecture's entry (win32 or win64) when the other's is there.
#include "shell/registrar.h"

#include <oleauto.h>
#include <stdio.h>
#include <wrl/client.h>

#include <string>

#include "Zelvora.h"
#include "media/scoped.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

constexpr wchar_t kClassName[] = L"IZelvora Class";
constexpr wchar_t kProgId[] = L"Zelvora.IZelvora.1";
constexpr wchar_t kVersionIndependentProgId[] = L"Zelvora.IZelvora";
constexpr wchar_t kAppIdName[] = L"Zelvora.DLL";
constexpr wchar_t kModuleName[] = L"Zelvora";

// {26157E1D-6902-4673-A283-289B3DB9CAD3}
constexpr GUID kAppId = {0x26157e1d, 0x6902, 0x4673, {0xa2, 0x83, 0x28, 0x9b, 0x3d, 0xb9, 0xca, 0xd3}};

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT FromWin32(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// The other architecture's registry view. On 32-bit Windows the flag is ignored and the one view
// there is gets read.
#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

bool KeyExists(const std::wstring& path, REGSAM view = 0) {
  ScopedKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.Address()) == ERROR_SUCCESS;
}

// True while the other architecture's DLL is registered for the class. Asked after this view's
// class key is gone, so with a single view it is false.
bool ClassRegisteredInOtherView() {
  return KeyExists(L"CLSID\\" + GuidString(CLSID_IZelvora) + L"\\InprocServer32", kOtherView);
}

// Creates (or opens) HKCR\path and sets one string value (`name` null: the default value).
HRESULT SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  ScopedKey key;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.Address(), nullptr);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return FromWin32(status);
}

// Removes HKCR\path with everything under it; a key that is not there is not an error.
HRESULT DeleteTree(const std::wstring& path) {
  LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  return FromWin32(status);
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Application identifier entries.
HRESULT RegisterAppId() {
  const std::wstring appId = GuidString(kAppId);
  HRESULT hr = SetString(L"AppID\\" + appId, nullptr, kModuleName);
  if (FAILED(hr)) return hr;
  return SetString(std::wstring(L"AppID\\") + kAppIdName, L"AppID", appId);
}

HRESULT UnregisterAppId() {
  if (ClassRegisteredInOtherView()) return S_OK;  // shared with the other view's registration
  HRESULT hr = DeleteTree(L"AppID\\" + GuidString(kAppId));
  HRESULT hr2 = DeleteTree(std::wstring(L"AppID\\") + kAppIdName);
  return FAILED(hr) ? hr : hr2;
}

// Class entries: both ProgIDs and CLSID\{CLSID}, which is written from scratch every time.
HRESULT RegisterClassEntries(const std::wstring& modulePath) {
  const std::wstring clsid = GuidString(CLSID_IZelvora);
  const std::wstring clsidKey = L"CLSID\\" + clsid;
  const struct {
    std::wstring path;
    const wchar_t* name;
    std::wstring value;
  } entries[] = {
      {kProgId, nullptr, kClassName},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
      {kVersionIndependentProgId, nullptr, kClassName},
      {std::wstring(kVersionIndependentProgId) + L"\\CLSID", nullptr, clsid},
      {std::wstring(kVersionIndependentProgId) + L"\\CurVer", nullptr, kProgId},
      {clsidKey, nullptr, kClassName},
      {clsidKey + L"\\ProgID", nullptr, kProgId},
      {clsidKey + L"\\VersionIndependentProgID", nullptr, kVersionIndependentProgId},
      {clsidKey + L"\\InprocServer32", nullptr, modulePath},
      {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsidKey + L"\\TypeLib", nullptr, GuidString(LIBID_ZelvoraLib)},
      {clsidKey, L"AppID", GuidString(kAppId)},
  };

  HRESULT hr = DeleteTree(clsidKey);
  if (FAILED(hr)) return hr;
  for (const auto& entry : entries) {
    hr = SetString(entry.path, entry.name, entry.value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// This view's class key first; the ProgIDs are shared and stay while the other view has the class.
HRESULT UnregisterClassEntries() {
  HRESULT result = DeleteTree(L"CLSID\\" + GuidString(CLSID_IZelvora));
  if (ClassRegisteredInOtherView()) return result;
  for (const wchar_t* key : {kProgId, kVersionIndependentProgId}) {
    HRESULT hr = DeleteTree(key);
    if (SUCCEEDED(result) && FAILED(hr)) result = hr;
  }
  return result;
}

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
  ComPtr<ITypeLib> typeLib;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &typeLib);
  if (FAILED(hr)) return hr;
  std::wstring path = modulePath;  // the platform call takes a writable string
  return RegisterTypeLib(typeLib.Get(), &path[0], nullptr);
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath) {
  ComPtr<ITypeLib> typeLib;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &typeLib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = typeLib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR library = *attr;
  typeLib->ReleaseTLibAttr(attr);

  // A library that is not registered is already in the wanted state.
  wchar_t version[16] = {};
  _snwprintf(version, 15, L"\\%x.%x", library.wMajorVerNum, library.wMinorVerNum);
  const std::wstring versionKey = L"TypeLib\\" + GuidString(library.guid) + version;
  if (!KeyExists(versionKey)) return hr;

  // With the other architecture's entry beside ours, only ours goes: the version key, its flags
  // and help folder belong to both. The interfaces are not automation interfaces, so registration
  // wrote nothing under HKCR\Interface that would need removing as well.
  wchar_t locale[16] = {};
  _snwprintf(locale, 15, L"\\%lx\\", static_cast<unsigned long>(library.lcid));
  const bool win64 = library.syskind == SYS_WIN64;
  if (KeyExists(versionKey + locale + (win64 ? L"win32" : L"win64")))
    return DeleteTree(versionKey + locale + (win64 ? L"win64" : L"win32"));
  return UnRegisterTypeLib(library.guid, library.wMajorVerNum, library.wMinorVerNum, library.lcid, library.syskind);
}

}  // namespace

HRESULT RegisterServer(HMODULE module) {
  const std::wstring modulePath = ModulePath(module);
  if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  HRESULT hr = RegisterAppId();
  if (FAILED(hr)) return hr;
  hr = RegisterClassEntries(modulePath);
  if (FAILED(hr)) return hr;
  return RegisterTypeLibrary(modulePath);
}

HRESULT UnregisterServer(HMODULE module) {
  const std::wstring modulePath = ModulePath(module);
  HRESULT result = UnregisterClassEntries();
  HRESULT hr = modulePath.empty() ? HRESULT_FROM_WIN32(GetLastError()) : UnregisterTypeLibrary(modulePath);
  if (SUCCEEDED(result) && FAILED(hr)) result = hr;
  hr = UnregisterAppId();
  if (SUCCEEDED(result) && FAILED(hr)) result = hr;
  return result;
}

}  // namespace zelvora
