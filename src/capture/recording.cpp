// Recording the camera (and microphone) into a Windows Media file while the preview runs on.
#include "capture/camcapturegraphy.h"
#include "capture/colorconverter.h"

#include <uuids.h>
#include <wchar.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// Copies at most `sourceChars` units of `source` (fewer at its terminator) into `target`, cut to
// `capacity` - 1 units and always terminated.
void CopyText(WCHAR* target, size_t capacity, const WCHAR* source, size_t sourceChars) {
  if (!target || capacity == 0) return;
  size_t length = wcsnlen(source, sourceChars);
  if (length > capacity - 1) length = capacity - 1;
  wmemcpy(target, source, length);
  target[length] = 0;
}

// How far up from the writer the filters inserted for a recording are looked for.
constexpr int kMaxBranchLength = 16;

// The filter a pin belongs to (null when the pin does not say).
ComPtr<IBaseFilter> PinOwner(IPin* pin) {
  PIN_INFO info = {};
  ComPtr<IBaseFilter> owner;
  if (SUCCEEDED(pin->QueryPinInfo(&info))) *owner.GetAddressOf() = info.pFilter;  // takes the info's reference
  return owner;
}

// Output pins of `filter` that are connected.
int ConnectedOutputs(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins)) || !pins) return 0;
  int count = 0;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
    PIN_DIRECTION direction;
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
        SUCCEEDED(pin->ConnectedTo(&peer)) && peer)
      ++count;
  }
  return count;
}

// True when both references name the same COM object (null names none).
bool SameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return false;
  ComPtr<IUnknown> identityA, identityB;
  return SUCCEEDED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identityA.GetAddressOf()))) &&
         SUCCEEDED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identityB.GetAddressOf()))) &&
         identityA.Get() == identityB.Get();
}

// An input named like the mixer's line; an empty line name names nothing.
bool SameName(const WCHAR* pinName, const WCHAR* lineName) {
  return lineName[0] != 0 && wcscmp(pinName, lineName) == 0;
}

}  // namespace

HRESULT CaptureGraph::StartCapture(const WCHAR* fileName, double volume) {
  m_bCapturing = TRUE;
  m_bAudioCaptured = FALSE;
  if (fileName) CopyText(m_tcCaptureFile, kTextLength, fileName, kTextLength - 1);

  HRESULT hr = GraphStop();
  if (FAILED(hr)) return hr;
  // GraphStop leaves a paused graph paused, but the capture streams connect only in a stopped
  // graph: stop it too. It runs again with the recording, as a stopped one does.
  hr = StopPausedGraph();
  if (FAILED(hr)) return hr;
  // A recording still in the graph (running, or left by a start that failed) ends here: the
  // graph never holds two writers, and the capture pins are free for the new one.
  hr = RemoveRecordingWriter();
  if (FAILED(hr)) return hr;
  hr = ConfigureRecordingWriter();
  if (FAILED(hr)) return hr;

  if (m_pVideoCapture) {
    hr = m_Builder.RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, m_pVideoCapture.Get(), nullptr,
                                m_pAsfWriter.Get());
    if (FAILED(hr))
      hr = m_Builder.RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_pVideoCapture.Get(), nullptr,
                                  m_pAsfWriter.Get());
    // Pictures the writer takes neither as they come nor through a filter the graph finds (NV12):
    // the colour converter makes I420 of them. Where that fails too, the first answer stands.
    if (FAILED(hr) && SUCCEEDED(RenderVideoThroughConverter())) hr = S_OK;
    if (FAILED(hr)) return hr;
  }
  if (m_pAudioCapture) {
    SetAudioInputLevel(m_pAudioCapture.Get(), volume);  // never fails a recording
    hr = m_Builder.RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, m_pAudioCapture.Get(), nullptr,
                                m_pAsfWriter.Get());
    if (FAILED(hr)) return hr;
    m_bAudioCaptured = TRUE;
  }

  return RunGraph();
}

HRESULT CaptureGraph::RenderVideoThroughConverter() {
  if (!m_pGraph) return E_POINTER;
  ComPtr<IBaseFilter> converter;
  HRESULT hr = AddColorConverter(m_pGraph.Get(), &converter);
  if (FAILED(hr)) return hr;
  hr = m_Builder.RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_pVideoCapture.Get(), nullptr,
                              converter.Get());
  if (SUCCEEDED(hr)) hr = ConnectConverterAsI420(m_pGraph.Get(), converter.Get(), m_pAsfWriter.Get());
  // Removing the converter disconnects whatever of it was connected.
  if (FAILED(hr)) m_pGraph->RemoveFilter(converter.Get());
  return hr;
}

HRESULT CaptureGraph::StopCapture() {
  m_bCapturing = FALSE;
  HRESULT hr = GraphStop();
  if (FAILED(hr)) return hr;
  // A paused recording: the writer leaves only a stopped graph (a paused one refuses with
  // VFW_E_NOT_STOPPED and the recording could never be ended).
  if (m_pAsfWriter) {
    hr = StopPausedGraph();
    if (FAILED(hr)) return hr;
  }
  hr = RemoveRecordingWriter();
  if (FAILED(hr)) return hr;
  return RunGraph();
}

HRESULT CaptureGraph::StopPausedGraph() {
  if (m_dwCameraState != CameraState::Paused || !m_pMediaControl) return S_OK;
  DeliveryGateClosed gate(m_FrameCallback);  // no frame may wait for this thread meanwhile
  HRESULT hr = m_pMediaControl->Stop();
  if (FAILED(hr)) return hr;
  m_dwCameraState = CameraState::Stopped;
  return S_OK;
}

namespace {

// Filters upstream of `filter` that the graph inserted for the recording alone: walking up from
// its inputs, every filter that feeds nothing but the path to the writer, up to a capture source
// or to a filter that also feeds another branch (the preview's Smart Tee), which stay. A filter
// with one connected output is reached by one path only, so none is collected twice.
void CollectRecordingBranch(IBaseFilter* filter, IBaseFilter* videoSource, IBaseFilter* audioSource,
                            std::vector<ComPtr<IBaseFilter>>& branch, int depth) {
  ComPtr<IEnumPins> pins;
  if (depth > kMaxBranchLength || FAILED(filter->EnumPins(&pins)) || !pins) return;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
    PIN_DIRECTION direction;
    ComPtr<IPin> upstream;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT ||
        FAILED(pin->ConnectedTo(&upstream)) || !upstream)
      continue;
    ComPtr<IBaseFilter> owner = PinOwner(upstream.Get());
    if (!owner || SameObject(owner.Get(), videoSource) || SameObject(owner.Get(), audioSource) ||
        ConnectedOutputs(owner.Get()) != 1)
      continue;
    branch.push_back(owner);
    CollectRecordingBranch(owner.Get(), videoSource, audioSource, branch, depth + 1);
  }
}

}  // namespace

HRESULT CaptureGraph::RemoveRecordingWriter() {
  if (m_pAsfWriter) {
    if (!m_pGraph) return E_POINTER;
    // Decoders and converters the graph put between the capture pins and the writer go with it:
    // left behind, they would hang on the capture path with a free output.
    std::vector<ComPtr<IBaseFilter>> branch;
    CollectRecordingBranch(m_pAsfWriter.Get(), m_pVideoCapture.Get(), m_pAudioCapture.Get(), branch, 0);
    // Removing the filter disconnects its inputs; on failure it stays where it is.
    HRESULT hr = m_pGraph->RemoveFilter(m_pAsfWriter.Get());
    if (FAILED(hr)) return hr;
    m_pAsfWriter.Reset();
    for (const ComPtr<IBaseFilter>& filter : branch) {
      hr = m_pGraph->RemoveFilter(filter.Get());
      if (FAILED(hr)) return hr;
    }
  }
  m_pFileSink.Reset();
  return S_OK;
}

HRESULT CaptureGraph::SetCaptureMaxSize(unsigned long megaBytes) {
  // Kept for the host; nothing enforces it.
  m_bLimitByTime = FALSE;
  m_bLimitBySize = TRUE;
  m_dwMaxMegaSize = megaBytes;
  return S_OK;
}

HRESULT CaptureGraph::SetAudioInputLevel(IBaseFilter* audioFilter, double level) {
  if (!audioFilter) return E_POINTER;
  WCHAR longName[kTextLength] = {};
  WCHAR shortName[kTextLength] = {};
  FindMixerInputNames(longName, kTextLength, shortName, kTextLength);  // no line found: both stay empty
  // Mixer 0 names no microphone or line source (from Windows Vista on it is usually a playback
  // device): nothing tells which input is the one to hear, so every input stays as it is rather
  // than the microphone being switched off.
  if (longName[0] == 0 && shortName[0] == 0) return S_OK;

  ComPtr<IEnumPins> pins;
  HRESULT hr = audioFilter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  if (!pins) return E_UNEXPECTED;
  pins->Reset();
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT) continue;
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info))) continue;
    // The pin information carries a reference to the filter. (MinGW's ComPtr::Attach adds a
    // reference of its own, so the reference is handed over through the address.)
    ComPtr<IBaseFilter> owner;
    *owner.GetAddressOf() = info.pFilter;
    info.achName[MAX_PIN_NAME - 1] = 0;
    ComPtr<IAMAudioInputMixer> mixer;
    if (FAILED(pin->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(mixer.GetAddressOf()))) || !mixer)
      continue;
    // Only the input named like the mixer's microphone or line source is heard.
    if (SameName(info.achName, longName) || SameName(info.achName, shortName)) {
      mixer->put_Enable(TRUE);
      mixer->put_MixLevel(level);
    } else {
      mixer->put_Enable(FALSE);
    }
  }
  return S_OK;
}

MMRESULT CaptureGraph::FindMixerInputNames(WCHAR* longName, UINT longChars, WCHAR* shortName, UINT shortChars) {
  HMIXER mixer = nullptr;
  MMRESULT result = m_pMixer->Open(&mixer, 0, 0, 0, 0);
  if (result != MMSYSERR_NOERROR) return result;

  MIXERLINEW line;
  ZeroMemory(&line, sizeof(line));
  line.cbStruct = sizeof(line);
  line.dwDestination = 0;
  // The lines are read through the open mixer's handle (not taken as a device number).
  result = m_pMixer->GetLineInfo(reinterpret_cast<HMIXEROBJ>(mixer), &line,
                                 MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION);
  DWORD sources = line.cConnections;
  if (result != MMSYSERR_NOERROR || sources == 0 || sources > 100) sources = 100;

  for (DWORD source = 0; source < sources; ++source) {
    ZeroMemory(&line, sizeof(line));
    line.cbStruct = sizeof(line);
    line.dwDestination = 0;
    line.dwSource = source;
    result = m_pMixer->GetLineInfo(reinterpret_cast<HMIXEROBJ>(mixer), &line,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE);
    if (result != MMSYSERR_NOERROR) break;
    if (line.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE ||
        line.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_LINE) {
      CopyText(longName, longChars, line.szName, MIXER_LONG_NAME_CHARS);
      CopyText(shortName, shortChars, line.szShortName, MIXER_SHORT_NAME_CHARS);
      break;
    }
  }
  m_pMixer->Close(mixer);
  return result;
}

static_assert(sizeof(void*) != 4 || sizeof(MIXERLINEW) == 280, "MIXERLINEW is 280 bytes");

}  // namespace zelvora
