// Entry points of Zelvora.dll.
#include <windows.h>

#include "shell/classfactory.h"
#include "shell/module.h"
#include "shell/registrar.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    zelvora::SetModuleHandle(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    zelvora::ClassFactory::Shutdown();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return zelvora::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return zelvora::GetClassObject(clsid, riid, ppv);
}

STDAPI DllRegisterServer() { return zelvora::RegisterServer(zelvora::ModuleHandle()); }

STDAPI DllUnregisterServer() { return zelvora::UnregisterServer(zelvora::ModuleHandle()); }
