// Run, pause, stop of the preview graph and the draining of its event queue.
#include <evcode.h>
#include <stdio.h>

#include "capture/camcapturegraphy.h"

namespace zelvora {

HRESULT CaptureGraph::GraphPlay() {
  if (m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  HRESULT hr = m_pMediaControl->Run();
  if (SUCCEEDED(hr)) {
    m_bRunning = TRUE;
    m_dwCameraState = CameraState::Running;
  }
  return hr;
}

HRESULT CaptureGraph::GraphPause() {
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  // No frame may wait for this thread while the graph waits for the streaming thread.
  DeliveryGateClosed gate(m_FrameCallback);
  // Letting a frame through may have run the host's code, which may have changed the graph.
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  HRESULT hr = m_pMediaControl->Pause();
  if (SUCCEEDED(hr)) {
    m_bRunning = FALSE;
    m_dwCameraState = CameraState::Paused;
  }
  return hr;
}

HRESULT CaptureGraph::GraphStop() {
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  DeliveryGateClosed gate(m_FrameCallback);
  if (!m_bRunning) return S_OK;
  if (!m_pMediaControl) return E_POINTER;
  HRESULT hr = m_pMediaControl->Stop();
  if (SUCCEEDED(hr)) {
    m_bRunning = FALSE;
    m_dwCameraState = CameraState::Stopped;
  }
  return hr;
}

HRESULT CaptureGraph::SetNotifyWnd(HWND window, UINT message) {
  if (!m_pMediaEvent) return E_POINTER;
  m_pMediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(window), message, 0);
  return S_OK;
}

namespace {

void DebugLine(const WCHAR* text) { OutputDebugStringW(text); }

// True when both references name the same COM object.
bool SameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return false;
  Microsoft::WRL::ComPtr<IUnknown> ia, ib;
  return SUCCEEDED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ia.GetAddressOf()))) &&
         SUCCEEDED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ib.GetAddressOf()))) &&
         ia.Get() == ib.Get();
}

}  // namespace

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
    } else if (code == EC_DEVICE_LOST) {
      DebugLine(L"22");
      if (param2 == 0) {
        // Device removed: report it when it is one of our two sources.
        DebugLine(L"33");
        Microsoft::WRL::ComPtr<IBaseFilter> filter;
        IUnknown* sender = reinterpret_cast<IUnknown*>(param1);
        if (sender && SUCCEEDED(sender->QueryInterface(IID_IBaseFilter,
                                                       reinterpret_cast<void**>(filter.GetAddressOf())))) {
          if (bytes) bytes[1] = 0;
          const bool camera = SameObject(filter.Get(), m_pVideoCapture.Get());
          const bool audio = !camera && SameObject(filter.Get(), m_pAudioCapture.Get());
          if (camera || audio) {
            DebugLine(camera ? L"55" : L"66");
            filter.Reset();
            m_pMediaEvent->FreeEventParams(code, param1, param2);
            if (bytes) bytes[0] = camera ? 1 : 0;
            return EC_DEVICE_LOST;
          }
        }
      } else if (param2 == 1) {
        // A device is available again, whichever it is.
        DebugLine(L"44");
        m_pMediaEvent->FreeEventParams(code, param1, param2);
        if (bytes) bytes[1] = 1;
        return EC_DEVICE_LOST;
      } else {
        DebugLine(L"Invalid 2nd param for EC_DEVICE_LOST event!!!");
      }
    }
    m_pMediaEvent->FreeEventParams(code, param1, param2);
  }
}

}  // namespace zelvora
