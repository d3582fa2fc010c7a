// A host that uses Zelvora.dll without registration. Its application manifest (regfree.manifest,
// embedded) depends on the assembly "Zelvora.sxs"; the loader finds Zelvora.sxs.manifest in the
// program's folder, and COM then creates the class from the Zelvora.dll beside it, whatever the
// registry says. Copy the program, Zelvora.dll and Zelvora.sxs.manifest into one folder.
//
// Prints where the component came from, the type library that the manifest names, and the
// cameras; exit code 0 when the component was created from this program's folder.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <stdio.h>
#include <wchar.h>

#include "Zelvora.h"

static int g_cameras = 0;
static void __cdecl OnCamera(int index, const unsigned short* name, int) {
  printf("  camera %d: %ls\n", index, reinterpret_cast<const wchar_t*>(name));
  ++g_cameras;
}

int wmain() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int rc = 1;
  wchar_t folder[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (wchar_t* slash = wcsrchr(folder, L'\\')) slash[1] = 0;

  // Create the object by its class id. (Wine 8 answers CLSIDFromProgID for a ProgID named only
  // in the manifest with a wrong class id; Windows answers the class of the manifest.)
  CLSID fromProgId = {};
  HRESULT progId = CLSIDFromProgID(L"Zelvora.IZelvora.1", &fromProgId);
  wchar_t clsidText[40] = {};
  StringFromGUID2(fromProgId, clsidText, 40);
  printf("ProgID Zelvora.IZelvora.1: 0x%08lx %ls%s\n", static_cast<unsigned long>(progId), clsidText,
         SUCCEEDED(progId) && IsEqualCLSID(fromProgId, CLSID_IZelvora) ? " (the component's class)" : "");

  IIZelvora* camera = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(&camera));
  printf("CoCreateInstance: 0x%08lx\n", static_cast<unsigned long>(hr));
  if (SUCCEEDED(hr)) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Zelvora.dll"), module, MAX_PATH);
    const bool ours = _wcsnicmp(module, folder, wcslen(folder)) == 0;
    printf("Zelvora.dll loaded from %ls (%ls)\n", module, ours ? L"this program's folder" : L"elsewhere");

    BSTR path = nullptr;
    HRESULT typelib = QueryPathOfRegTypeLib(LIBID_ZelvoraLib, 1, 0, LOCALE_NEUTRAL, &path);
    printf("type library: 0x%08lx %ls\n", static_cast<unsigned long>(typelib), path ? path : L"");
    SysFreeString(path);

    IDevice* devices = nullptr;
    if (SUCCEEDED(camera->QueryInterface(IID_IDevice, reinterpret_cast<void**>(&devices)))) {
      CallbackCell cell = reinterpret_cast<CallbackCell>(&OnCamera);
      devices->EnumCameraDevice(&cell);
      devices->Release();
    }
    printf("%d camera(s)\n", g_cameras);
    camera->Release();
    rc = ours ? 0 : 2;
  } else if (hr == REGDB_E_CLASSNOTREG) {
    printf("class not registered: are Zelvora.dll and Zelvora.sxs.manifest in %ls?\n", folder);
  }
  fflush(stdout);
  CoUninitialize();
  return rc;
}
