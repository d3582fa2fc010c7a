// The file player: a graph of its own that plays a Windows Media file into the host's callback.
#include "playback/fileplayer.h"

#include <amvideo.h>
#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wchar.h>

#include "media/camutilifun.h"
#include "media/frametypes.h"
#include "media/graphclock.h"
#include "media/scoped.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

namespace {

// First pin of `filter` that is free and points in `direction`; null when there is none.
ComPtr<IPin> FindFreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins)) || !pins) return nullptr;
  pins->Reset();
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPin> peer;
    PIN_DIRECTION pinDirection;
    if (pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED && SUCCEEDED(pin->QueryDirection(&pinDirection)) &&
        pinDirection == direction)
      return pin;
  }
  return nullptr;
}

}  // namespace

FilePlayer::FilePlayer() = default;

FilePlayer::~FilePlayer() {
  // No stop-and-rewind at the end of the player's life; ReleasePlayFile still stops the graph
  // before taking it apart, so no streaming thread is left calling the frame callback below.
  m_bPlaying = FALSE;
  ReleasePlayFile();
  m_pGraph.Reset();
}

bool FilePlayer::IsAsfFile(const WCHAR* fileName) {
  WCHAR szFilename[kTextLength] = {};
  // Bounded copy: a longer name is cut to 259 units.
  for (int i = 0; i < kTextLength - 1 && fileName[i] != L'\0'; ++i) szFilename[i] = fileName[i];
  szFilename[kTextLength - 1] = L'\0';
  CharLowerBuffW(szFilename, static_cast<DWORD>(wcslen(szFilename)));
  return wcsstr(szFilename, L".asf") || wcsstr(szFilename, L".wma") || wcsstr(szFilename, L".wmv");
}

// ---- IPlayer operations ----

HRESULT FilePlayer::OpenPlayFile(const WCHAR* fileName) {
  if (!fileName) return E_POINTER;
  if (!IsAsfFile(fileName)) return kNotWindowsMediaFile;
  // A graph from an earlier open (or a failed attempt) is taken down first: the reader loads one
  // file only, and the pieces of a failed attempt must not stay in the new graph.
  if (m_pGraph) ReleasePlayFile();
  if (!m_bGraphBuilt) {
    HRESULT hr = CreatePlayGraph();
    if (FAILED(hr)) return hr;
  }
  return RenderPlayFile(fileName);
}

HRESULT FilePlayer::StartPlay() {
  if (m_bPlaying) return S_OK;
  return ChangeState(PlayerState::Running);
}

HRESULT FilePlayer::PausePlay() { return ChangeState(PlayerState::Paused); }

HRESULT FilePlayer::ChangeState(PlayerState state) {
  HRESULT hr = S_OK;
  if (m_pMediaControl) {
    hr = state == PlayerState::Running ? m_pMediaControl->Run() : m_pMediaControl->Pause();
    if (FAILED(hr)) return hr;
  }
  m_bPlaying = state == PlayerState::Running;
  return hr;
}

HRESULT FilePlayer::StopPlay() {
  HRESULT hr = m_pMediaControl ? m_pMediaControl->Stop() : S_OK;
  if (FAILED(hr)) return hr;
  if (m_pMediaSeeking && m_pMediaControl) {
    // Back to the start, then paused there so the first picture is ready.
    LONGLONG start = 0;
    m_pMediaSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    hr = m_pMediaControl->Pause();
  }
  m_bPlaying = FALSE;
  return hr;
}

HRESULT FilePlayer::ReleasePlayFile() {
  if (m_bPlaying) StopPlay();
  // Filters are taken apart only in a stopped graph: disconnecting fails in a paused or running
  // one, and pins left connected keep their filters alive.
  if (m_pMediaControl) m_pMediaControl->Stop();
  if (m_pMediaEvent) {
    m_pMediaEvent->SetNotifyWindow(0, 0, 0);
    m_pMediaEvent.Reset();
  }
  m_pMediaControl.Reset();
  m_pMediaSeeking.Reset();
  RemoveAllFilters();
  m_pNullRenderer.Reset();
  m_bPlaying = FALSE;
  m_bGraphBuilt = FALSE;
  m_pFileSource.Reset();
  m_pAsfReader.Reset();
  m_pSampleGrabber.Reset();
  m_pBasicAudio.Reset();
  m_pBasicVideo.Reset();
  SettleGraphClock(m_pGraph.Get());  // the stopped graph's clock lets go without a hang
  m_pGraph.Reset();
  return S_OK;
}

unsigned long FilePlayer::OnGraphNotify() {
  if (!m_pMediaEvent || !m_pMediaControl || !m_pMediaSeeking) return 2;
  unsigned long answer = 2;
  for (;;) {
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    if (FAILED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) break;  // queue empty
    m_pMediaEvent->FreeEventParams(code, param1, param2);
    if (code == EC_COMPLETE) {
      answer = 0;
      break;
    }
    if (code == EC_ERRORABORT) {
      m_pMediaControl->Stop();  // the play flag stays as it is: the host decides
      answer = 1;
      break;
    }
  }
  return answer;
}

HRESULT FilePlayer::SetNotifyEventHwnd(HWND window, UINT message) {
  // Kept for every graph the player builds: opening another file replaces the graph.
  m_NotifyWnd.Set(window, message);
  m_NotifyWnd.AttachTo(m_pMediaEvent.Get());
  return S_OK;
}

// ---- graph building ----

HRESULT FilePlayer::CreatePlayGraph() {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IGraphBuilder, reinterpret_cast<void**>(m_pGraph.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = OpenGraphControl(m_pGraph.Get(), &m_pMediaControl, &m_pMediaEvent, m_NotifyWnd);
  if (FAILED(hr)) return hr;
  hr = m_pGraph.As(&m_pMediaSeeking);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(m_pAsfReader.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = m_pGraph->AddFilter(m_pAsfReader.Get(), L"ASF Reader");
  if (FAILED(hr)) return hr;
  hr = m_pAsfReader.As(&m_pFileSource);
  if (FAILED(hr)) return hr;
  m_bGraphBuilt = TRUE;
  return S_OK;
}

HRESULT FilePlayer::RenderPlayFile(const WCHAR* fileName) {
  if (!fileName) return E_POINTER;
  HRESULT hr = m_pFileSource->Load(fileName, nullptr);
  if (FAILED(hr)) return hr;
  hr = RenderSourcePins(m_pGraph.Get(), m_pAsfReader.Get());
  if (FAILED(hr)) return hr;
  hr = m_pGraph.As(&m_pBasicAudio);
  if (FAILED(hr)) return hr;
  return m_pGraph.As(&m_pBasicVideo);
}

HRESULT FilePlayer::RenderSourcePins(IGraphBuilder* graph, IBaseFilter* reader) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = reader->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  bool outputSeen = false;
  while (SUCCEEDED(hr)) {
    ComPtr<IPin> pin;
    hr = pins->Next(1, &pin, nullptr);
    if (hr != S_OK) break;  // S_FALSE at the normal end

    ComPtr<IPin> peer;
    const HRESULT connected = pin->ConnectedTo(&peer);
    if (connected != VFW_E_NOT_CONNECTED) {
      if (FAILED(connected)) hr = connected;
      continue;
    }
    PIN_DIRECTION direction;
    hr = pin->QueryDirection(&direction);
    if (FAILED(hr) || direction != PINDIR_OUTPUT) continue;
    outputSeen = true;

    // A pin that cannot name itself cannot be told audio or video: the routing fails with it.
    TaskMem<WCHAR> id;
    hr = pin->QueryId(TaskMemOut<WCHAR>(id));
    if (FAILED(hr)) continue;
    bool audio = false;
    if (id) {
      CharUpperBuffW(id.get(), static_cast<DWORD>(wcslen(id.get())));
      audio = wcsstr(id.get(), L"AUDIO") != nullptr;
    }
    if (audio) {
      hr = graph->Render(pin.Get());
    } else if (!m_pSampleGrabber) {
      hr = ConnectVideoBranch(pin.Get());
    }
    // Further picture pins stay free: one grabber branch feeds the one frame callback, which
    // must not be entered by two streaming threads at once.
  }
  // A reader that offers no stream at all has nothing to play (Wine's reader loads a file that
  // does not exist without complaint and offers no pin): that is no success.
  if (SUCCEEDED(hr) && !outputSeen) return VFW_E_CANNOT_RENDER;
  return hr;
}

HRESULT FilePlayer::ConnectVideoBranch(IPin* sourcePin) {
  HRESULT hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                reinterpret_cast<void**>(m_pNullRenderer.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = m_pGraph->AddFilter(m_pNullRenderer.Get(), L"NULL renderer");
  if (FAILED(hr)) return hr;
  // Without a free input the branch goes on; connecting the grabber's output then fails.
  ComPtr<IPin> renderPin = FindFreePin(m_pNullRenderer.Get(), PINDIR_INPUT);

  ComPtr<IBaseFilter> grabber;
  hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                        reinterpret_cast<void**>(grabber.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = ConfigureSampleGrabber(grabber.Get());
  if (FAILED(hr)) return hr;

  ComPtr<IEnumPins> pins;
  hr = grabber->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  while (SUCCEEDED(hr)) {
    ComPtr<IPin> pin;
    hr = pins->Next(1, &pin, nullptr);
    if (hr != S_OK) break;  // S_FALSE at the normal end
    ComPtr<IPin> peer;
    PIN_DIRECTION direction;
    if (pin->ConnectedTo(&peer) != VFW_E_NOT_CONNECTED || FAILED(pin->QueryDirection(&direction))) continue;
    if (direction == PINDIR_OUTPUT) {
      hr = m_pGraph->Connect(pin.Get(), renderPin.Get());
    } else {
      // The graph inserts the decoder and any converter needed to reach RGB24.
      hr = m_pGraph->Connect(sourcePin, pin.Get());
    }
  }
  if (SUCCEEDED(hr)) MatchSmallPictureSize();
  return hr;
}

HRESULT FilePlayer::ConfigureSampleGrabber(IBaseFilter* grabber) {
  AM_MEDIA_TYPE mediaType = {};
  mediaType.majortype = MEDIATYPE_Video;
  mediaType.subtype = MEDIASUBTYPE_RGB24;
  mediaType.formattype = GUID_NULL;  // any format block
  HRESULT hr = AddSampleGrabber(m_pGraph.Get(), grabber, mediaType, &m_pSampleGrabber);
  if (FAILED(hr)) return hr;
  m_FrameCallback.SetFrameFormat(ColorFormat::RGB24);
  m_FrameCallback.SetFrameSize(kPlayFrameWidth, kPlayFrameHeight);
  return m_pSampleGrabber->SetCallback(&m_FrameCallback, 1);  // BufferCB for every sample
}

// Every frame record reports 320 x 240. A picture of fewer bytes than that would let a host
// that reads 320 x 240 pixels run past the end of the buffer, so such a picture reports the
// size it was connected with instead.
void FilePlayer::MatchSmallPictureSize() {
  AM_MEDIA_TYPE mediaType = {};
  if (FAILED(m_pSampleGrabber->GetConnectedMediaType(&mediaType))) return;
  if (IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) && mediaType.pbFormat &&
      mediaType.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(mediaType.pbFormat)->bmiHeader;
    const LONGLONG width = header.biWidth;
    const LONGLONG height = header.biHeight < 0 ? -static_cast<LONGLONG>(header.biHeight) : header.biHeight;
    const LONGLONG stride = (width * 3 + 3) & ~3LL;  // rows of RGB24 pictures are 4-byte aligned
    const LONGLONG reported = static_cast<LONGLONG>(kPlayFrameWidth) * kPlayFrameHeight * 3;
    if (width > 0 && height > 0 && stride * height < reported)
      m_FrameCallback.SetFrameSize(static_cast<int>(width), static_cast<int>(height));
  }
  FreeMediaTypeContents(mediaType);
}

}  // namespace zelvora
