// Capture modes of the camera: listing them, loads at a chosen mode and the fallback of the
// sized loads to NV12 and MJPG.
#include "capture/camcapturegraphy.h"

#include <vfwmsgs.h>

#include "capture/capabilitylist.h"
#include "capture/frameformat.h"
#include "devices/devicelist.h"
#include "media/dshowids.h"
#include "media/pixel/colorformat.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// The frame path's formats, named for the mode code.
ModeFormat ModeFormatOfSubtype(const GUID& subtype) {
  switch (ColorFormatOfSubtype(subtype)) {
    case ColorFormat::RGB24: return ModeFormat::RGB24;
    case ColorFormat::YUY2: return ModeFormat::YUY2;
    case ColorFormat::I420: return ModeFormat::I420;
    case ColorFormat::NV12: return ModeFormat::NV12;
    case ColorFormat::MJPG: return ModeFormat::MJPG;
    default: return ModeFormat::Other;
  }
}

// The mode record of a media type (and the capability record that came with it, if any).
ModeRecord DescribeRecord(int index, const AM_MEDIA_TYPE& mediaType, const VIDEO_STREAM_CONFIG_CAPS* caps) {
  ModeRecord record;
  record.index = index;
  record.format = ModeFormatOfSubtype(mediaType.subtype);
  record.fourcc = mediaType.subtype.Data1;
  record.videoInfo = IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) != FALSE;
  REFERENCE_TIME average = 0;
  if (const BITMAPINFOHEADER* header = BitmapHeaderOf(mediaType, &average)) {
    record.width = header->biWidth;
    record.height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  } else if (caps) {
    record.width = caps->MaxOutputSize.cx;
    record.height = caps->MaxOutputSize.cy;
  }
  if (caps && (caps->MinFrameInterval > 0 || caps->MaxFrameInterval > 0)) {
    record.minInterval = caps->MinFrameInterval;
    record.maxInterval = caps->MaxFrameInterval;
  } else {
    record.minInterval = record.maxInterval = average > 0 ? average : 0;
  }
  return record;
}

// The key of a subtype in `subtypes`, added when new.
int SubtypeKey(const GUID& subtype, std::vector<GUID>* subtypes) {
  for (size_t i = 0; i < subtypes->size(); ++i)
    if (IsEqualGUID((*subtypes)[i], subtype)) return static_cast<int>(i);
  subtypes->push_back(subtype);
  return static_cast<int>(subtypes->size() - 1);
}

}  // namespace

HRESULT CaptureGraph::ReadModeRecords(IAMStreamConfig* config, std::vector<ModeRecord>* records,
                                      std::vector<GUID>* subtypes) {
  records->clear();
  subtypes->clear();
  CapabilityList list;
  HRESULT hr = list.Open(config);
  if (FAILED(hr)) return hr;
  // A record that cannot be read ends the list, as for the format lists.
  for (int i = 0; i < list.Count(); ++i) {
    MediaTypeRecord record;
    if (list.Read(i, &record) != S_OK) break;
    if (!IsEqualGUID(record->majortype, MEDIATYPE_Video) && !IsEqualGUID(record->majortype, MEDIATYPE_Interleaved))
      continue;
    ModeRecord mode = DescribeRecord(i, *record, &list.Caps());
    mode.subtypeKey = SubtypeKey(record->subtype, subtypes);
    records->push_back(mode);
  }
  return S_OK;
}

HRESULT CaptureGraph::FindStreamConfigOf(IBaseFilter* source, IAMStreamConfig** config) {
  *config = nullptr;
  ComPtr<IPin> pin;
  HRESULT hr = m_Builder.FindPin(source, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &pin);
  if (FAILED(hr)) return hr;
  if (!pin) return E_NOINTERFACE;
  return pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config));
}

HRESULT CaptureGraph::ListModes(const WCHAR* deviceId, std::vector<CameraModeEntry>* modes) {
  if (!modes) return E_POINTER;
  modes->clear();
  ComPtr<IAMStreamConfig> config;
  HRESULT hr;
  const bool loaded = m_pVideoCapture && m_dwCameraState != CameraState::None;
  if (!deviceId || !*deviceId || (loaded && m_strCameraId == deviceId)) {
    // The loaded camera: its filter is in the graph, and a second instance of a real camera may
    // not open while it runs.
    if (!loaded) return VFW_E_WRONG_STATE;
    hr = FindCaptureStreamConfig(&config);
  } else {
    ComPtr<IMoniker> camera;
    hr = FindCameraById(deviceId, &camera);
    if (FAILED(hr)) return hr;
    ComPtr<IBaseFilter> source;
    hr = camera->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(source.GetAddressOf()));
    if (FAILED(hr)) return hr;
    hr = FindStreamConfigOf(source.Get(), &config);
  }
  if (FAILED(hr)) return hr;

  std::vector<ModeRecord> records;
  std::vector<GUID> subtypes;
  hr = ReadModeRecords(config.Get(), &records, &subtypes);
  if (FAILED(hr)) return hr;
  for (const CaptureMode& mode : GroupModes(records)) modes->push_back({mode, subtypes[mode.subtypeKey]});
  return S_OK;
}

HRESULT CaptureGraph::LoadCameraMode(const WCHAR* deviceId, const ModeRequest& request, const WCHAR* audioDevice) {
  ComPtr<IMoniker> camera, microphone;
  HRESULT hr = FindCameraById(deviceId, &camera);
  if (FAILED(hr)) return hr;
  if (audioDevice && *audioDevice) {
    hr = FindAudioInput(audioDevice, &microphone);
    if (FAILED(hr)) return hr;
  }
  // A load replaces what runs. The graph manager and its registration stay, as for every load.
  ReleaseGraph();
  hr = BindSourceFilter(camera.Get(), TRUE);
  if (FAILED(hr)) return hr;
  hr = BindSourceFilter(microphone.Get(), FALSE);  // none: the audio source of an earlier load goes
  if (FAILED(hr)) return hr;
  m_pModeRequest = &request;  // taken by the build's format choice
  hr = BuildPreviewGraph(microphone ? PreviewFlags::Video | PreviewFlags::Audio : PreviewFlags::Video);
  m_pModeRequest = nullptr;   // a build that ended before the choice
  return hr;
}

HRESULT CaptureGraph::SelectRequestedMode(IAMStreamConfig* config, const ModeRequest& request) {
  std::vector<ModeRecord> records;
  std::vector<GUID> subtypes;
  HRESULT hr = ReadModeRecords(config, &records, &subtypes);
  if (FAILED(hr)) return hr;
  const ModeChoice choice = ChooseMode(records, request);
  if (!choice.found) return kNoSuchMode;
  return ApplyMode(choice, config);
}

HRESULT CaptureGraph::SelectFallbackMode(IAMStreamConfig* config, HRESULT choiceResult) {
  std::vector<ModeRecord> records;
  std::vector<GUID> subtypes;
  if (FAILED(ReadModeRecords(config, &records, &subtypes))) return choiceResult;
  const ModeChoice choice = ChooseFallbackMode(records, m_nCaptureX, m_nCaptureY);
  if (!choice.found) return choiceResult;
  return ApplyMode(choice, config);
}

HRESULT CaptureGraph::ApplyMode(const ModeChoice& choice, IAMStreamConfig* config) {
  CapabilityList list;
  HRESULT hr = list.Open(config);
  if (FAILED(hr)) return hr;
  MediaTypeRecord record;
  hr = list.Read(choice.recordIndex, &record);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_INVALIDARG;
  AM_MEDIA_TYPE& mediaType = *record;
  if (!IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) || !mediaType.pbFormat ||
      mediaType.cbFormat < sizeof(VIDEOINFOHEADER))
    return VFW_E_INVALIDMEDIATYPE;
  // The record as the camera describes it, at the frame interval chosen.
  if (choice.interval > 0) reinterpret_cast<VIDEOINFOHEADER*>(mediaType.pbFormat)->AvgTimePerFrame = choice.interval;
  m_nColorFormat = ColorFormatOfSubtype(mediaType.subtype);
  hr = config->SetFormat(&mediaType);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CaptureGraph::GetCurrentMode(CameraModeEntry* mode) {
  if (!mode) return E_POINTER;
  if (!m_pVideoCapture || m_dwCameraState == CameraState::None) return VFW_E_WRONG_STATE;
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = FindCaptureStreamConfig(&config);
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE* format = nullptr;
  hr = config->GetFormat(&format);
  if (FAILED(hr)) return hr;
  if (!format) return E_UNEXPECTED;
  MediaTypeRecord owned(format);
  std::vector<GUID> subtypes;
  ModeRecord record = DescribeRecord(0, *format, nullptr);
  record.subtypeKey = SubtypeKey(format->subtype, &subtypes);
  const std::vector<CaptureMode> modes = GroupModes({record});
  *mode = {modes.front(), format->subtype};
  return S_OK;
}

}  // namespace zelvora
