// Run, pause, stop of the preview graph and the draining of its event queue.
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

// Event draining comes with the preview work.
unsigned long CaptureGraph::OnGraphError(unsigned long* detail) {
  if (detail) reinterpret_cast<BYTE*>(detail)[0] = reinterpret_cast<BYTE*>(detail)[1] = 0;
  return 0;
}

}  // namespace zelvora
