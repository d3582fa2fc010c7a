#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

namespace zelvora {

// Adds the platform's Color Converter DMO, hosted in the DMO Wrapper filter, to `graph` under the
// name "Color Converter DMO". On failure nothing is left in the graph.
HRESULT AddColorConverter(IGraphBuilder* graph, Microsoft::WRL::ComPtr<IBaseFilter>* converter);

// The I420 picture type of the size and frame interval of `source` (a video type with a
// VIDEOINFOHEADER or VIDEOINFOHEADER2 block): VFW_E_INVALIDMEDIATYPE for another type, a missing
// block or a size I420 cannot hold (odd or non-positive). `format` receives the block `type`
// points to; both stay valid together.
HRESULT I420TypeOf(const AM_MEDIA_TYPE& source, AM_MEDIA_TYPE* type, VIDEOINFOHEADER* format);

// Connects the output of `converter`, whose input is connected, to the first unconnected input of
// `sink` that takes I420 pictures of the converter's input size.
HRESULT ConnectConverterAsI420(IGraphBuilder* graph, IBaseFilter* converter, IBaseFilter* sink);

}  // namespace zelvora
