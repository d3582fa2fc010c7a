// The smallest Zelvora host: open the first camera at 640x480, count the frames that reach the
// render callback for two seconds, close. Console program; no window needed.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include "Zelvora.h"

static volatile LONG g_frames = 0;

// Called on the component's streaming thread for every frame: 24-bit BGR, bottom row first,
// valid only during the call. Keep it short; never stop or release the camera from here.
static void __cdecl OnFrame(RenderFrame* frame, int, int) {
  if (frame && frame->data) InterlockedIncrement(&g_frames);
}

int wmain() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  IIZelvora* camera = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(&camera));
  if (FAILED(hr)) {
    printf("CoCreateInstance failed: 0x%08lx (is Zelvora.dll registered?)\n", static_cast<unsigned long>(hr));
    CoUninitialize();
    return 1;
  }
  // The component reads the callback's address from this variable (a "callback cell").
  static CallbackCell callback = reinterpret_cast<CallbackCell>(&OnFrame);
  camera->SetRenderCallbackFun(&callback);
  hr = camera->LoadCameraXY(nullptr, 640, 480);  // null name: the first camera
  printf("LoadCameraXY: 0x%08lx\n", static_cast<unsigned long>(hr));
  if (hr == S_OK) {
    Sleep(2000);
    printf("%ld frames in 2 s\n", static_cast<long>(g_frames));
  }
  camera->ReleaseCamera();
  camera->Release();
  fflush(stdout);
  CoUninitialize();
  return hr == S_OK && g_frames > 0 ? 0 : 1;
}
