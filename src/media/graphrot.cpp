// Publishing the capture graph in the running object table, where graph inspection tools look.
#include <stdio.h>

#include "capture/camcapturegraphy.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

HRESULT CaptureGraph::AddGraphToRot() {
  if (!m_pGraph) return E_POINTER;
  ComPtr<IUnknown> identity;
  HRESULT hr = m_pGraph.As(&identity);
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
  return table->Register(0, identity.Get(), moniker.Get(), &m_dwRotRegister);
}

void CaptureGraph::RemoveGraphFromRot() {
  if (m_dwRotRegister == 0) return;
  ComPtr<IRunningObjectTable> table;
  if (FAILED(GetRunningObjectTable(0, &table))) return;  // a later call tries again
  table->Revoke(m_dwRotRegister);
  m_dwRotRegister = 0;
}

}  // namespace zelvora
