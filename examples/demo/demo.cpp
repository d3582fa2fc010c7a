// Zelvora demo host: creates the component through COM and shows what it offers.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include "Zelvora.h"

namespace {

struct Named {
  const char* name;
  const IID* iid;
};

const Named kInterfaces[] = {{"IIZelvora", &IID_IIZelvora}, {"ISetting", &IID_ISetting},
                             {"IDevice", &IID_IDevice},     {"IPlayer", &IID_IPlayer},
                             {"IError", &IID_IError},       {"IUtility", &IID_IUtility}};

const char* StateName(unsigned long state) {
  switch (state) {
    case 0: return "none";
    case 1: return "running";
    case 2: return "paused";
    case 3: return "stopped";
    default: return "?";
  }
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int rc = 0;
  IIZelvora* camera = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(&camera));
  printf("Zelvora demo\n");
  printf("  create component ............ 0x%08lx\n", static_cast<unsigned long>(hr));
  if (FAILED(hr)) {
    printf("  the component is not registered: run regsvr32 Zelvora.dll\n");
    rc = 1;
  } else {
    for (const Named& i : kInterfaces) {
      IUnknown* unknown = nullptr;
      HRESULT qi = camera->QueryInterface(*i.iid, reinterpret_cast<void**>(&unknown));
      printf("  interface %-10s .......... %s\n", i.name, SUCCEEDED(qi) ? "yes" : "no");
      if (unknown) unknown->Release();
    }
    IUnknown* dispatch = nullptr;
    printf("  interface IDispatch ......... %s\n",
           SUCCEEDED(camera->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ? "yes" : "no");
    if (dispatch) dispatch->Release();
    unsigned long state = 0;
    camera->GetCurrentCameraState(&state);
    printf("  camera state ................ %lu (%s)\n", state, StateName(state));
    camera->Release();
  }
  fflush(stdout);
  CoUninitialize();
  return rc;
}
