#include "support/running_objects.h"

#include <objbase.h>
#include <stdio.h>

#include <functional>

namespace testsupport {

using Microsoft::WRL::ComPtr;

namespace {

// Calls `visit` for each graph entry of this process until it answers true.
void ForEachGraphEntry(const std::function<bool(IRunningObjectTable*, IMoniker*, const std::wstring&)>& visit) {
  ComPtr<IRunningObjectTable> table;
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IBindCtx> context;
  if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&monikers)) ||
      FAILED(CreateBindCtx(0, &context)))
    return;
  wchar_t pid[16];
  swprintf(pid, 16, L"pid %08lx", GetCurrentProcessId());
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(context.Get(), nullptr, &name))) continue;
    const std::wstring text(name);
    CoTaskMemFree(name);
    if (text.find(L"FilterGraph") == std::wstring::npos || text.find(pid) == std::wstring::npos) continue;
    if (visit(table.Get(), moniker.Get(), text)) return;
  }
}

}  // namespace

std::vector<std::wstring> RotGraphEntries() {
  std::vector<std::wstring> names;
  ForEachGraphEntry([&](IRunningObjectTable*, IMoniker*, const std::wstring& name) {
    names.push_back(name);
    return false;
  });
  return names;
}

HRESULT FindPublishedGraph(REFIID iid, void** graph) {
  *graph = nullptr;
  HRESULT found = E_NOINTERFACE;
  ForEachGraphEntry([&](IRunningObjectTable* table, IMoniker* moniker, const std::wstring&) {
    ComPtr<IUnknown> object;
    if (SUCCEEDED(table->GetObject(moniker, &object))) found = object->QueryInterface(iid, graph);
    return SUCCEEDED(found);
  });
  return found;
}

std::vector<std::wstring> FilterNames(IFilterGraph* graph) {
  std::vector<std::wstring> names;
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return names;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    FILTER_INFO info = {};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      names.push_back(info.achName);
      if (info.pGraph) info.pGraph->Release();
    }
  }
  return names;
}

}  // namespace testsupport
