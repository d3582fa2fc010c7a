#pragma once

#include <windows.h>
#include <strmif.h>
#include <qedit.h>
#include <control.h>
#include <wrl/client.h>

#include "media/graphnotify.h"

namespace zelvora {

// Disconnects and removes every filter of `graph`: E_POINTER without a graph, else S_OK or the
// first failure of a filter's pin walk or removal.
HRESULT RemoveAllFilters(IGraphBuilder* graph);

// Takes the control and event interfaces of `graph`, and hands the event interface to the host's
// notify window.
HRESULT OpenGraphControl(IGraphBuilder* graph, Microsoft::WRL::ComPtr<IMediaControl>* control,
                         Microsoft::WRL::ComPtr<IMediaEventEx>* events, GraphNotifyWindow& notify);

// Adds a sample grabber filter to `graph` (named "SampleGrabber") that accepts `accepted`, hands
// each sample to a callback only (no buffering, no one-shot), and returns its ISampleGrabber in
// `sampleGrabber`. The caller attaches the callback.
HRESULT AddSampleGrabber(IGraphBuilder* graph, IBaseFilter* grabber, const AM_MEDIA_TYPE& accepted,
                         Microsoft::WRL::ComPtr<ISampleGrabber>* sampleGrabber);

}  // namespace zelvora
