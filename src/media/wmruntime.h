#pragma once

// The Windows Media Format runtime as the component reaches it: a seam through which the
// recording code obtains its profile manager and the frame reader its synchronous reader, so
// that tests can stand in for the runtime.
#include <windows.h>
#include <wmsdkidl.h>

namespace zelvora {

// The system runtime loads wmvcore.dll once per process by its full path in the system folder
// (never from the host's folder or the current directory) and keeps it loaded for the process's
// life: profiles made by it may outlive any one component object, and loading it anew for every
// frame extraction would only cost time.
class WmRuntime {
 public:
  virtual HRESULT CreateProfileManager(IWMProfileManager** manager) = 0;
  // A synchronous reader without certificate and with rights 0.
  virtual HRESULT CreateSyncReader(IWMSyncReader** reader) = 0;

 protected:
  ~WmRuntime() = default;
};

WmRuntime& SystemWmRuntime();

}  // namespace zelvora
