#include "media/graphrot.h"

#include <objbase.h>
#include <stdio.h>
#include <wrl/client.h>

#include "media/frametypes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

HRESULT AddGraphToRot(IUnknown* graph, DWORD* cookie) {
  if (!graph || !cookie) return E_POINTER;
  ComPtr<IUnknown> identity;
  HRESULT hr = graph->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IRunningObjectTable> table;
  hr = GetRunningObjectTable(0, &table);
  if (FAILED(hr)) return hr;

  WCHAR name[kTextLength] = {};
  _snwprintf(name, kTextLength - 1, L"FilterGraph %08lX pid %08lx",
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(identity.Get())),
             static_cast<unsigned long>(GetCurrentProcessId()));
  ComPtr<IMoniker> moniker;
  hr = CreateItemMoniker(L"!", name, &moniker);
  if (FAILED(hr)) return hr;
  return table->Register(0, identity.Get(), moniker.Get(), cookie);
}

void RemoveGraphFromRot(DWORD* cookie) {
  if (!cookie || *cookie == 0) return;
  ComPtr<IRunningObjectTable> table;
  if (FAILED(GetRunningObjectTable(0, &table))) return;  // a later call tries again
  table->Revoke(*cookie);
  *cookie = 0;
}

}  // namespace zelvora
