#pragma once

// This process's filter graphs as the running object table lists them ("FilterGraph <address>
// pid <process>"), the way a graph viewer finds them, and the filters of a graph.
#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace testsupport {

// Display names of this process's graph entries, in the table's order.
std::vector<std::wstring> RotGraphEntries();

// The object behind this process's first graph entry that answers `iid`; E_NOINTERFACE when none.
HRESULT FindPublishedGraph(REFIID iid, void** graph);

template <typename Graph>
Microsoft::WRL::ComPtr<Graph> PublishedGraph() {
  Microsoft::WRL::ComPtr<Graph> graph;
  FindPublishedGraph(__uuidof(Graph), reinterpret_cast<void**>(graph.GetAddressOf()));
  return graph;
}

// Names of the filters in a graph, in the graph's order (none without a graph).
std::vector<std::wstring> FilterNames(IFilterGraph* graph);

}  // namespace testsupport
