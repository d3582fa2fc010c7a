// Loading the camera and building the preview graph.
#include "capture/camcapturegraphy.h"

namespace zelvora {

// Built with the preview work; until then a load reports E_NOTIMPL.
HRESULT CaptureGraph::LoadCamera(const WCHAR*) { return E_NOTIMPL; }
HRESULT CaptureGraph::LoadCameraWithAudio(const WCHAR*, const WCHAR*) { return E_NOTIMPL; }

}  // namespace zelvora
