// Capture formats: the lists offered by the camera and the choice of the preview format.
#include "capture/camcapturegraphy.h"

#include <amvideo.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include "capture/capabilitylist.h"
#include "capture/formatchoice.h"
#include "capture/frameformat.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

HRESULT CaptureGraph::SetCaptureXY(int x, int y) {
  if (x > 3000) {
    m_nCaptureX = 640;
    m_nCaptureY = 480;
  } else {
    m_nCaptureX = x;
    m_nCaptureY = y;
  }
  return S_OK;
}

HRESULT CaptureGraph::FindCaptureStreamConfig(IAMStreamConfig** config) {
  if (!config) return E_POINTER;
  *config = nullptr;
  if (!m_pVideoCapture) return E_POINTER;
  // An interleaved (audio and video) capture pin first, then a plain video one.
  ComPtr<IAMStreamConfig> found;
  HRESULT hr = m_Builder.FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, m_pVideoCapture.Get(),
                                       IID_IAMStreamConfig, reinterpret_cast<void**>(found.GetAddressOf()));
  if (FAILED(hr) || !found) {
    hr = m_Builder.FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_pVideoCapture.Get(),
                                 IID_IAMStreamConfig, reinterpret_cast<void**>(found.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;
    if (!found) return E_NOINTERFACE;
  }
  *config = found.Detach();
  return hr;
}

HRESULT CaptureGraph::OpenCameraCapabilities(CapabilityList* list) {
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = FindCaptureStreamConfig(&config);
  if (FAILED(hr)) return hr;
  return list->Open(config.Get());
}

HRESULT CaptureGraph::EnumSupportFormat(WCHAR* buffer) {
  if (!buffer || !m_pVideoCapture) return E_POINTER;
  CapabilityList list;
  HRESULT hr = OpenCameraCapabilities(&list);
  if (FAILED(hr)) return hr;
  list.Walk([&](int, const CapabilityInfo& info) {
    if (info.videoInfo) AppendFormatName(buffer, info.format);
  });
  return S_OK;
}

HRESULT CaptureGraph::EnumSupportXy(const WCHAR* format, WCHAR* buffer) {
  if (!format || !m_pVideoCapture || !buffer) return E_POINTER;
  CapabilityList list;
  HRESULT hr = OpenCameraCapabilities(&list);
  if (FAILED(hr)) return hr;
  PixelFormat wanted = PixelFormat::Other;
  if (!ParsePixelFormatName(format, &wanted)) return E_FAIL;
  list.Walk([&](int, const CapabilityInfo& info) {
    if (info.videoInfo && info.format == wanted) AppendSizeEntry(buffer, info.width, info.height);
  });
  return S_OK;
}

HRESULT CaptureGraph::SelectCaptureFormat(IAMStreamConfig* config) {
  if (!config) return E_POINTER;
  CapabilityList list;
  HRESULT hr = list.Open(config);
  if (FAILED(hr)) return hr;

  CaptureFormatChooser chooser(m_nCaptureX, m_nCaptureY);
  list.Walk([&](int index, const CapabilityInfo& info) { chooser.Offer(index, info); });
  const FormatSelection selection = chooser.Result();
  if (selection.result != 0) return selection.result;

  // Set before the format is applied; it keeps its value when that fails.
  m_nColorFormat = selection.colorFormat;
  hr = ApplyCaptureFormat(selection.index, config);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CaptureGraph::ApplyCaptureFormat(int index, IAMStreamConfig* config) {
  if (index < 0 || !config) return E_POINTER;
  CapabilityList list;
  HRESULT hr = list.Open(config);
  if (FAILED(hr)) return hr;
  MediaTypeRecord record;
  hr = list.Read(index, &record);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_INVALIDARG;  // no capability of that index

  // The format block is written to: it must be a whole VIDEOINFOHEADER.
  AM_MEDIA_TYPE& mediaType = *record;
  if (!IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) || !mediaType.pbFormat ||
      mediaType.cbFormat < sizeof(VIDEOINFOHEADER))
    return VFW_E_INVALIDMEDIATYPE;
  std::uint32_t imageSize = 0;
  if (!CaptureImageSize(m_nCaptureX, m_nCaptureY, &imageSize)) return E_INVALIDARG;

  VIDEOINFOHEADER* header = reinterpret_cast<VIDEOINFOHEADER*>(mediaType.pbFormat);
  header->bmiHeader.biWidth = m_nCaptureX;
  header->bmiHeader.biHeight = m_nCaptureY;
  header->bmiHeader.biSizeImage = imageSize;
  mediaType.lSampleSize = imageSize;
  hr = config->SetFormat(&mediaType);
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace zelvora
