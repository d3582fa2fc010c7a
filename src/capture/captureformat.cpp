// Capture formats: the lists offered by the camera and the choice of the preview format.
#include "capture/camcapturegraphy.h"

namespace zelvora {

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

// The format lists come with the format work.
HRESULT CaptureGraph::EnumSupportFormat(WCHAR*) { return E_NOTIMPL; }
HRESULT CaptureGraph::EnumSupportXy(const WCHAR*, WCHAR*) { return E_NOTIMPL; }

}  // namespace zelvora
