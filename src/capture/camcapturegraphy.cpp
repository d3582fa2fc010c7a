#include "capture/camcapturegraphy.h"

#include "media/gdiplussession.h"
#include "media/graphclock.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

CaptureGraph::CaptureGraph() {
  // The fields carry their start values (members above); the builder has created the platform
  // capture graph builder. GDI+ comes last.
  GdiplusAcquire();
}

CaptureGraph::~CaptureGraph() {
  if (m_dwRotRegister != 0) RemoveGraphFromRot();
  ReleaseGraph();
  m_pProfile.Reset();
  SettleGraphClock(m_pGraph.Get());  // the stopped graph's clock lets go without a hang
  m_pGraph.Reset();
  // GDI+ goes only once the graph is stopped: a streaming thread may be encoding a snapshot.
  GdiplusRelease();
  // The remaining references and the embedded objects go in reverse declaration order.
}

HRESULT CaptureGraph::ReleaseCamera() {
  if (m_dwRotRegister != 0) RemoveGraphFromRot();
  ReleaseGraph();
  return S_OK;
}

HRESULT CaptureGraph::ReleaseGraph() {
  // No frame may wait for this thread while the graph is stopped and emptied.
  DeliveryGateClosed gate(m_FrameCallback);
  if (m_bRunning) GraphStop();
  // A graph that is paused, or that a failed run left part-way, is stopped as well: the graph
  // refuses to disconnect or remove filters while it is not stopped, and the next load would
  // find the old filters still in it.
  StopGraph();
  m_pMediaEvent.Reset();
  m_pMediaControl.Reset();
  m_pAsfWriter.Reset();
  m_pFileSink.Reset();
  m_pSampleGrabber.Reset();
  HRESULT hr = RemoveAllFilters();
  DiscardQueuedEvents();
  m_bMpeg2Capture = FALSE;
  m_bRunning = FALSE;
  m_bAudioInVideo = FALSE;
  m_dwCameraState = CameraState::None;
  m_Controls.clear();  // they were the camera's that goes now
  return hr;
}

void CaptureGraph::StopGraph() {
  ComPtr<IMediaControl> control = m_pMediaControl;
  if (!control && m_pGraph) m_pGraph.As(&control);
  if (control) control->Stop();  // nothing to do for a stopped graph
}

}  // namespace zelvora
