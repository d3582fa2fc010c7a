// Recording the camera (and microphone) into a Windows Media file.
#include "capture/camcapturegraphy.h"

namespace zelvora {

// Built with the recording work.
HRESULT CaptureGraph::StartCapture(const WCHAR*, double) { return E_NOTIMPL; }
HRESULT CaptureGraph::StopCapture() { return E_NOTIMPL; }
HRESULT CaptureGraph::SetCaptureMaxSize(unsigned long) { return E_NOTIMPL; }

}  // namespace zelvora
