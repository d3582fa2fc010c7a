#pragma once

#include <windows.h>
#include <strmif.h>
#include <qedit.h>
#include <wrl/client.h>

namespace zelvora {

// Disconnects and removes every filter of `graph`: E_POINTER without a graph, else S_OK or the
// first failure of a filter's pin walk or removal.
HRESULT RemoveAllFilters(IGraphBuilder* graph);

// Adds a sample grabber filter to `graph` (named "SampleGrabber") that accepts `accepted`, hands
// each sample to a callback only (no buffering, no one-shot), and returns its ISampleGrabber in
// `sampleGrabber`. The caller attaches the callback.
HRESULT AddSampleGrabber(IGraphBuilder* graph, IBaseFilter* grabber, const AM_MEDIA_TYPE& accepted,
                         Microsoft::WRL::ComPtr<ISampleGrabber>* sampleGrabber);

}  // namespace zelvora
