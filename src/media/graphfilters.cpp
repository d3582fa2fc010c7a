#include "media/graphfilters.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

HRESULT RemoveAllFilters(IGraphBuilder* graph) {
  if (!graph) return E_POINTER;
  ComPtr<IEnumFilters> filters;
  HRESULT hr = graph->EnumFilters(&filters);
  if (FAILED(hr)) return hr;
  for (;;) {
    // The set of filters changes with every removal: start over each time.
    filters->Reset();
    ComPtr<IBaseFilter> filter;
    if (filters->Next(1, &filter, nullptr) != S_OK || !filter) return S_OK;

    ComPtr<IEnumPins> pins;
    hr = filter->EnumPins(&pins);
    if (FAILED(hr)) return hr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        graph->Disconnect(peer.Get());
        graph->Disconnect(pin.Get());
      }
    }
    hr = graph->RemoveFilter(filter.Get());
    if (FAILED(hr)) return hr;
  }
}

HRESULT OpenGraphControl(IGraphBuilder* graph, ComPtr<IMediaControl>* control, ComPtr<IMediaEventEx>* events,
                         GraphNotifyWindow& notify) {
  HRESULT hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control->ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events->ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  notify.AttachTo(events->Get());
  return S_OK;
}

HRESULT AddSampleGrabber(IGraphBuilder* graph, IBaseFilter* grabber, const AM_MEDIA_TYPE& accepted,
                         ComPtr<ISampleGrabber>* sampleGrabber) {
  HRESULT hr = grabber->QueryInterface(IID_ISampleGrabber,
                                       reinterpret_cast<void**>(sampleGrabber->ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(grabber, L"SampleGrabber");
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE mediaType = accepted;  // the platform call takes a writable record
  hr = (*sampleGrabber)->SetMediaType(&mediaType);
  if (FAILED(hr)) return hr;
  hr = (*sampleGrabber)->SetBufferSamples(FALSE);
  if (FAILED(hr)) return hr;
  return (*sampleGrabber)->SetOneShot(FALSE);
}

}  // namespace zelvora
