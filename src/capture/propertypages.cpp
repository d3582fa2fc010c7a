// Property pages of the capture devices: the pages that the camera's or the microphone's own
// source filter offers, in the system's modal property frame. The graph is left as it is: the
// filter applies whatever the pages change while it runs, and frames keep flowing.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "capture/camcapturegraphy.h"
#include "media/scoped.h"

namespace zelvora {

namespace {

// Where the frame is placed, relative to its owner.
constexpr int kFrameX = 30;
constexpr int kFrameY = 30;

}  // namespace

HRESULT CaptureGraph::ShowFilterPropertyPages(BOOL video) {
  // A reference of our own for as long as the frame is open: the frame's message loop runs host
  // code, which may load another camera or release this one meanwhile.
  Microsoft::WRL::ComPtr<IBaseFilter> filter = video ? m_pVideoCapture : m_pAudioCapture;
  if (!filter) return S_FALSE;

  Microsoft::WRL::ComPtr<ISpecifyPropertyPages> specify;
  if (filter.As(&specify) != S_OK) return S_OK;  // a filter without pages: nothing to show

  CAUUID pages = {};
  const HRESULT listed = specify->GetPages(&pages);
  if (FAILED(listed)) return S_OK;  // after a failed call the list holds nothing of ours to free
  const TaskMem<GUID> pageList(pages.pElems);
  if (listed != S_OK) return S_OK;  // only a plain S_OK lists pages to show

  IUnknown* objects[] = {filter.Get()};
  try {
    // Returns when the user closes the frame; what it reports changes nothing for the host.
    OleCreatePropertyFrame(GetActiveWindow(), kFrameX, kFrameY, nullptr, 1, objects, pages.cElems, pages.pElems, 0,
                           0, nullptr);
  } catch (...) {
    // A page that throws must not take the host down with it.
  }
  return S_OK;
}

}  // namespace zelvora
