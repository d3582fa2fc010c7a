// Capture formats: the lists offered by the camera and the choice of the preview format.
#include "capture/camcapturegraphy.h"

#include <amvideo.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <memory>
#include <new>

#include "capture/formatchoice.h"
#include "capture/frameformat.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

// The numbered capability list of a stream configuration. The capability records are read into
// a buffer of the size that the configuration announces, never smaller than a
// VIDEO_STREAM_CONFIG_CAPS, so a source that announces a larger record is not written past.
class CapabilityList {
 public:
  CapabilityList() = default;
  CapabilityList(const CapabilityList&) = delete;
  CapabilityList& operator=(const CapabilityList&) = delete;

  HRESULT Open(IAMStreamConfig* config) {
    m_pConfig = config;  // kept for the walk
    int size = 0;
    HRESULT hr = config->GetNumberOfCapabilities(&m_nCount, &size);
    if (FAILED(hr)) return hr;
    const size_t bytes = size > static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))
                             ? static_cast<size_t>(size)
                             : sizeof(VIDEO_STREAM_CONFIG_CAPS);
    m_pCaps.reset(new (std::nothrow) BYTE[bytes]());
    return m_pCaps ? S_OK : E_OUTOFMEMORY;
  }

  int Count() const { return m_nCount; }

  // Record `index` with its capability record. S_OK only when a record was handed out; a
  // failure, or an index past the end (S_FALSE), ends a walk of the list.
  HRESULT Read(int index, MediaTypeRecord* record) {
    AM_MEDIA_TYPE* mediaType = nullptr;
    HRESULT hr = m_pConfig->GetStreamCaps(index, &mediaType, m_pCaps.get());
    record->reset(mediaType);
    if (FAILED(hr)) return hr;
    return mediaType ? S_OK : S_FALSE;
  }

  // Calls `visit(index, info)` for each capability in order; a record that cannot be read ends
  // the walk (the caller decides from what was read so far).
  template <typename Visit>
  void Walk(Visit visit) {
    for (int i = 0; i < m_nCount; ++i) {
      MediaTypeRecord record;
      if (Read(i, &record) != S_OK) return;
      visit(i, Describe(*record));
    }
  }

  // What the format code needs of the record just read.
  CapabilityInfo Describe(const AM_MEDIA_TYPE& mediaType) const {
    const VIDEO_STREAM_CONFIG_CAPS* caps = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(m_pCaps.get());
    CapabilityInfo info;
    info.videoInfo = IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) != FALSE;
    info.format = PixelFormatOfSubtype(mediaType.subtype);
    // The width is the largest output width, the height the smallest output height: for a
    // capability of one fixed size both are simply the frame's size.
    info.width = caps->MaxOutputSize.cx;
    info.height = caps->MinOutputSize.cy;
    return info;
  }

 private:
  ComPtr<IAMStreamConfig> m_pConfig;
  int m_nCount = 0;
  std::unique_ptr<BYTE[]> m_pCaps;
};

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
