#include "shell/classfactory.h"

#include <new>

#include "Zelvora.h"
#include "shell/component.h"
#include "shell/module.h"

namespace zelvora {
namespace {
ClassFactory* volatile g_factory = nullptr;
}

ClassFactory* ClassFactory::Instance() {
  ClassFactory* factory = g_factory;
  if (factory) return factory;
  ClassFactory* created = new (std::nothrow) ClassFactory();
  if (!created) return nullptr;
  factory = static_cast<ClassFactory*>(
      InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_factory), created, nullptr));
  if (factory) {  // another thread won the race
    delete created;
    return factory;
  }
  return created;
}

void ClassFactory::Shutdown() {
  ClassFactory* factory = static_cast<ClassFactory*>(
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_factory), nullptr));
  delete factory;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// Every reference beyond the cache's own is held by a host (from DllGetClassObject or a copy of
// it) and holds the module: a host may keep the factory to create objects later, without
// LockServer, and the DLL must not be unloaded under it.
STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
  ModuleLock();
  return InterlockedIncrement(&m_lRef);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  // The cached factory is freed by Shutdown only. A Release beyond the host's references would
  // reach the cache's own: it is ignored rather than allowed to take a module lock away.
  for (;;) {
    const LONG count = m_lRef;
    if (count <= 1) return 1;
    if (InterlockedCompareExchange(&m_lRef, count - 1, count) == count) {
      ModuleUnlock();
      return count - 1;
    }
  }
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CIZelvora::Create(outer, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    ModuleLock();
  else
    ModuleUnlock();
  return S_OK;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_IZelvora)) return CLASS_E_CLASSNOTAVAILABLE;
  ClassFactory* factory = ClassFactory::Instance();
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(riid, ppv);
}

}  // namespace zelvora
