#pragma once

#include <windows.h>
#include <control.h>

namespace zelvora {

// The window a host names for a graph's event notifications. An object keeps it for every graph
// it builds: a graph that is emptied or replaced (a failed load, another file) must not lose it.
class GraphNotifyWindow {
 public:
  void Set(HWND window, UINT message) {
    m_hWnd = window;
    m_uMessage = message;
    m_bSet = TRUE;
  }
  // Gives the graph's event queue the window, once the host has named one.
  void AttachTo(IMediaEventEx* events) const {
    if (events && m_bSet) events->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hWnd), static_cast<long>(m_uMessage), 0);
  }

 private:
  HWND m_hWnd = nullptr;
  UINT m_uMessage = 0;
  BOOL m_bSet = FALSE;
};

}  // namespace zelvora
