// The platform's colour converter in a graph: pictures a sink does not take as they come (NV12
// from many laptop cameras, which the WM ASF Writer does not list among its inputs) reach it as
// I420 of the same size.
#include "capture/colorconverter.h"

#include <dmodshow.h>
#include <uuids.h>

#include "capture/frameformat.h"
#include "media/camutilifun.h"
#include "media/dshowids.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// The first pin of `filter` in `direction` that is connected (`connected`) or free.
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, bool connected) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins)) || !pins) return nullptr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
    PIN_DIRECTION pinDirection;
    ComPtr<IPin> peer;
    if (FAILED(pin->QueryDirection(&pinDirection)) || pinDirection != direction) continue;
    const bool isConnected = SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
    if (isConnected == connected) return pin;
  }
  return nullptr;
}

}  // namespace

HRESULT AddColorConverter(IGraphBuilder* graph, ComPtr<IBaseFilter>* converter) {
  if (!graph || !converter) return E_POINTER;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = CoCreateInstance(kClsidDmoWrapperFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(filter.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IDMOWrapperFilter> wrapper;
  hr = filter->QueryInterface(kIidDmoWrapperFilter, reinterpret_cast<void**>(wrapper.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = wrapper->Init(kClsidColorConverterDmo, kDmoCategoryVideoEffect);
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(filter.Get(), L"Color Converter DMO");
  if (FAILED(hr)) return hr;
  *converter = filter;
  return S_OK;
}

HRESULT I420TypeOf(const AM_MEDIA_TYPE& source, AM_MEDIA_TYPE* type, VIDEOINFOHEADER* format) {
  if (!type || !format) return E_POINTER;
  REFERENCE_TIME interval = 0;
  const BITMAPINFOHEADER* header = BitmapHeaderOf(source, &interval);
  if (!IsEqualGUID(source.majortype, MEDIATYPE_Video) || !header) return VFW_E_INVALIDMEDIATYPE;
  const LONG width = header->biWidth;
  const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  // Each 2x2 block shares its chroma: odd sizes have no I420 layout. 16384 bounds the size so the
  // picture's byte count fits in a DWORD.
  if (width <= 0 || height <= 0 || (width | height) & 1 || width > 16384 || height > 16384)
    return VFW_E_INVALIDMEDIATYPE;

  ZeroMemory(format, sizeof(*format));
  format->AvgTimePerFrame = interval;
  BITMAPINFOHEADER& bitmap = format->bmiHeader;
  bitmap.biSize = sizeof(BITMAPINFOHEADER);
  bitmap.biWidth = width;
  bitmap.biHeight = height;
  bitmap.biPlanes = 1;
  bitmap.biBitCount = 12;
  bitmap.biCompression = kMediaSubtypeI420.Data1;
  bitmap.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 3 / 2;

  ZeroMemory(type, sizeof(*type));
  type->majortype = MEDIATYPE_Video;
  type->subtype = kMediaSubtypeI420;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = bitmap.biSizeImage;
  type->formattype = FORMAT_VideoInfo;
  type->cbFormat = sizeof(*format);
  type->pbFormat = reinterpret_cast<BYTE*>(format);
  return S_OK;
}

HRESULT ConnectConverterAsI420(IGraphBuilder* graph, IBaseFilter* converter, IBaseFilter* sink) {
  if (!graph || !converter || !sink) return E_POINTER;
  ComPtr<IPin> input = FirstPin(converter, PINDIR_INPUT, true);
  ComPtr<IPin> output = FirstPin(converter, PINDIR_OUTPUT, false);
  if (!input || !output) return VFW_E_NOT_CONNECTED;
  AM_MEDIA_TYPE incoming = {};
  HRESULT hr = input->ConnectionMediaType(&incoming);
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE i420;
  VIDEOINFOHEADER i420Format;
  hr = I420TypeOf(incoming, &i420, &i420Format);
  FreeMediaTypeContents(incoming);
  if (FAILED(hr)) return hr;

  // The sink's inputs in turn: the first that takes the pictures (a writer's audio input
  // refuses them).
  ComPtr<IEnumPins> pins;
  hr = sink->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  if (!pins) return E_UNEXPECTED;
  HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
    PIN_DIRECTION direction;
    ComPtr<IPin> peer;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT ||
        (SUCCEEDED(pin->ConnectedTo(&peer)) && peer))
      continue;
    result = graph->ConnectDirect(output.Get(), pin.Get(), &i420);
    if (SUCCEEDED(result)) return S_OK;
  }
  return result;
}

}  // namespace zelvora
