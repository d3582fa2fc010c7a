// Property pages of the capture devices.
#include "capture/camcapturegraphy.h"

namespace zelvora {

// Built with the property dialog work.
HRESULT CaptureGraph::ShowFilterPropertyPages(BOOL) { return E_NOTIMPL; }

}  // namespace zelvora
