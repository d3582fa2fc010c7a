// Run, pause, stop of the preview graph and the draining of its event queue.
#include <evcode.h>
#include <stdio.h>

#include "capture/camcapturegraphy.h"
#include "media/debugline.h"

namespace zelvora {
namespace {

// At most this many stale events are thrown away when a graph is emptied.
constexpr int kMaxDiscardedEvents = 10000;

}  // namespace

HRESULT CaptureGraph::GraphPlay() {
  if (m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  m_FrameCallback.HoldFrames(false);
  HRESULT hr = m_pMediaControl->Run();
  if (SUCCEEDED(hr)) {
    m_bRunning = TRUE;
    m_dwCameraState = CameraState::Running;
  }
  return hr;
}

HRESULT CaptureGraph::GraphPause() { return LeaveRunning(CameraState::Paused); }

HRESULT CaptureGraph::GraphStop() { return LeaveRunning(CameraState::Stopped); }

HRESULT CaptureGraph::LeaveRunning(unsigned long state) {
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  // No frame may wait for this thread while the graph waits for the streaming thread.
  DeliveryGateClosed gate(m_FrameCallback);
  // Letting a frame through may have run the host's code, which may have changed the graph.
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  HRESULT hr = state == CameraState::Paused ? m_pMediaControl->Pause() : m_pMediaControl->Stop();
  if (SUCCEEDED(hr)) {
    // Before the gate opens: a late sample of the left graph finds the frames held.
    m_FrameCallback.HoldFrames(true);
    m_bRunning = FALSE;
    m_dwCameraState = state;
  }
  return hr;
}

HRESULT CaptureGraph::SetNotifyWnd(HWND window, UINT message) {
  // Kept for every graph this object builds from now on: a load that fails drops the graph's
  // event interface, and the next load must still post to the host's window.
  m_NotifyWnd.Set(window, message);
  if (!m_pMediaEvent) return E_POINTER;
  m_NotifyWnd.AttachTo(m_pMediaEvent.Get());
  return S_OK;
}

void CaptureGraph::DiscardQueuedEvents() {
  Microsoft::WRL::ComPtr<IMediaEventEx> events;
  if (!m_pGraph || FAILED(m_pGraph.As(&events))) return;
  // Bounded: a queue that never runs dry must not hold the host's thread.
  for (int i = 0; i < kMaxDiscardedEvents; ++i) {
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    if (FAILED(events->GetEvent(&code, &param1, &param2, 0))) return;
    events->FreeEventParams(code, param1, param2);
  }
}

namespace {

// True when the sender of a device event is `filter`. The graph hands the sender out without a
// reference, and the filter it names may be gone (released by the host, or a camera of an earlier
// load): the value is compared with the filter's IBaseFilter and its canonical IUnknown, and
// never called.
bool IsSender(LONG_PTR sender, IBaseFilter* filter) {
  if (!sender || !filter) return false;
  if (sender == reinterpret_cast<LONG_PTR>(filter)) return true;
  Microsoft::WRL::ComPtr<IUnknown> identity;
  return SUCCEEDED(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf()))) &&
         sender == reinterpret_cast<LONG_PTR>(identity.Get());
}

}  // namespace

// The debugger lines of the event drain are fixed texts: hosts and tests read them.
unsigned long CaptureGraph::OnGraphError(unsigned long* detail) {
  BYTE* bytes = reinterpret_cast<BYTE*>(detail);
  unsigned long result = 0;
  if (bytes) bytes[0] = bytes[1] = 0;
  if (!m_pMediaEvent) return result;

  for (;;) {
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    // Never wait: an empty queue fails at once.
    if (FAILED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) return result;

    WCHAR line[kTextLength] = {};
    _snwprintf(line, kTextLength - 1, L"Event %lx %lx %lx", static_cast<unsigned long>(code),
               static_cast<unsigned long>(param1), static_cast<unsigned long>(param2));
    DebugLine(line);
    if (code == EC_PAUSED) DebugLine(L"is not Playing");
    if (code == EC_ERRORABORT) {
      DebugLine(L"11");
      result = EC_ERRORABORT;
    }
    const bool reported = code == EC_DEVICE_LOST && ReportDeviceLost(param1, param2, bytes);
    m_pMediaEvent->FreeEventParams(code, param1, param2);
    if (reported) return EC_DEVICE_LOST;
  }
}

bool CaptureGraph::ReportDeviceLost(LONG_PTR sender, LONG_PTR state, BYTE* detail) {
  DebugLine(L"22");
  if (state == 0) {
    // Device removed: report it when it is one of our two sources.
    DebugLine(L"33");
    const bool camera = IsSender(sender, m_pVideoCapture.Get());
    const bool audio = !camera && IsSender(sender, m_pAudioCapture.Get());
    if (!camera && !audio) return false;
    DebugLine(camera ? L"55" : L"66");
    if (detail) detail[0] = camera ? 1 : 0;
    return true;
  }
  if (state == 1) {
    // A device is available again, whichever it is.
    DebugLine(L"44");
    if (detail) detail[1] = 1;
    return true;
  }
  DebugLine(L"Invalid 2nd param for EC_DEVICE_LOST event!!!");
  return false;
}

}  // namespace zelvora
