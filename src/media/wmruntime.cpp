// The Windows Media Format runtime reached at run time (there is no import library for it), and
// the media type records of the recording code.
#include "media/wmruntime.h"

#include <string.h>

#include <new>

#include "media/wmprofile.h"

namespace zelvora {
namespace {

volatile LONG g_liveRecords = 0;

using CreateProfileManagerFn = HRESULT(WINAPI*)(IWMProfileManager**);
using CreateSyncReaderFn = HRESULT(WINAPI*)(IUnknown*, DWORD, IWMSyncReader**);

// One entry point of the runtime, or why it cannot be had.
template <typename Fn>
struct RuntimeEntry {
  Fn call = nullptr;
  HRESULT result = E_NOINTERFACE;
};

struct RuntimeEntries {
  RuntimeEntry<CreateProfileManagerFn> createProfileManager;
  RuntimeEntry<CreateSyncReaderFn> createSyncReader;
};

HRESULT LastError() {
  const DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

template <typename Fn>
RuntimeEntry<Fn> Resolve(HMODULE module, const char* name) {
  RuntimeEntry<Fn> entry;
  entry.call = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  entry.result = entry.call ? S_OK : LastError();
  return entry;
}

// Loads wmvcore.dll by its full path in the system folder (never from the host's folder or the
// current directory). Never unloaded.
RuntimeEntries LoadRuntime() {
  RuntimeEntries entries;
  WCHAR path[MAX_PATH + 16] = {};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  HRESULT failure = S_OK;
  HMODULE module = nullptr;
  if (length == 0 || length >= MAX_PATH) {
    failure = length == 0 ? LastError() : HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
  } else {
    lstrcatW(path, L"\\wmvcore.dll");
    module = LoadLibraryW(path);
    if (!module) failure = LastError();
  }
  if (!module) {
    entries.createProfileManager.result = failure;
    entries.createSyncReader.result = failure;
    return entries;
  }
  entries.createProfileManager = Resolve<CreateProfileManagerFn>(module, "WMCreateProfileManager");
  entries.createSyncReader = Resolve<CreateSyncReaderFn>(module, "WMCreateSyncReader");
  return entries;
}

const RuntimeEntries& Entries() {
  static const RuntimeEntries entries = LoadRuntime();  // once per process, thread-safe
  return entries;
}

class SystemRuntime final : public WmRuntime {
 public:
  HRESULT CreateProfileManager(IWMProfileManager** manager) override {
    if (!manager) return E_POINTER;
    *manager = nullptr;
    const auto& entry = Entries().createProfileManager;
    return entry.call ? entry.call(manager) : entry.result;
  }
  HRESULT CreateSyncReader(IWMSyncReader** reader) override {
    if (!reader) return E_POINTER;
    *reader = nullptr;
    const auto& entry = Entries().createSyncReader;
    return entry.call ? entry.call(nullptr, 0, reader) : entry.result;
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
