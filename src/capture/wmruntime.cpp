// The Windows Media Format runtime reached at run time (there is no import library for it), and
// the media type records of the recording code.
#include "capture/wmprofile.h"

#include <string.h>

#include <new>

namespace zelvora {
namespace {

volatile LONG g_liveRecords = 0;

typedef HRESULT(WINAPI* CreateProfileManagerFn)(IWMProfileManager**);

struct RuntimeEntry {
  CreateProfileManagerFn create = nullptr;
  HRESULT result = S_OK;
};

// Loads wmvcore.dll by its full path in the system folder (never from the host's folder or the
// current directory). Never unloaded.
RuntimeEntry LoadRuntime() {
  RuntimeEntry entry;
  WCHAR path[MAX_PATH + 16] = {};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    entry.result = length == 0 ? HRESULT_FROM_WIN32(GetLastError()) : HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
    return entry;
  }
  lstrcatW(path, L"\\wmvcore.dll");
  HMODULE module = LoadLibraryW(path);
  if (!module) {
    entry.result = HRESULT_FROM_WIN32(GetLastError());
    return entry;
  }
  entry.create = reinterpret_cast<CreateProfileManagerFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "WMCreateProfileManager")));
  if (!entry.create) {
    entry.result = HRESULT_FROM_WIN32(GetLastError());
    FreeLibrary(module);
  }
  return entry;
}

class SystemRuntime final : public WmRuntime {
 public:
  HRESULT CreateProfileManager(IWMProfileManager** manager) override {
    if (!manager) return E_POINTER;
    *manager = nullptr;
    static const RuntimeEntry entry = LoadRuntime();  // once per process, thread-safe
    if (!entry.create) return FAILED(entry.result) ? entry.result : E_NOINTERFACE;
    return entry.create(manager);
  }
};

}  // namespace

WmRuntime& SystemWmRuntime() {
  static SystemRuntime runtime;
  return runtime;
}

WM_MEDIA_TYPE* AllocWmMediaType(size_t bytes) {
  if (bytes < sizeof(WM_MEDIA_TYPE)) return nullptr;
  BYTE* block = new (std::nothrow) BYTE[bytes];
  if (!block) return nullptr;
  InterlockedIncrement(&g_liveRecords);
  return reinterpret_cast<WM_MEDIA_TYPE*>(block);
}

void FreeWmMediaType(WM_MEDIA_TYPE* record) {
  if (!record) return;
  InterlockedDecrement(&g_liveRecords);
  delete[] reinterpret_cast<BYTE*>(record);
}

long LiveWmMediaTypes() { return g_liveRecords; }

HRESULT CopyWmMediaType(WM_MEDIA_TYPE** copy, const WM_MEDIA_TYPE* source) {
  if (!copy) return E_POINTER;
  if (!source) return E_NOTIMPL;
  if (source->cbFormat != 0 && !source->pbFormat) return E_INVALIDARG;
  if (source->cbFormat > 0x7fffffff - sizeof(WM_MEDIA_TYPE)) return E_OUTOFMEMORY;
  WM_MEDIA_TYPE* record = AllocWmMediaType(sizeof(WM_MEDIA_TYPE) + source->cbFormat);
  if (!record) return E_OUTOFMEMORY;
  memcpy(record, source, sizeof(WM_MEDIA_TYPE));
  record->pbFormat = reinterpret_cast<BYTE*>(record) + sizeof(WM_MEDIA_TYPE);
  if (source->cbFormat) memcpy(record->pbFormat, source->pbFormat, source->cbFormat);
  *copy = record;
  return S_OK;
}

}  // namespace zelvora
