#pragma once

#include <windows.h>
#include <unknwn.h>

namespace zelvora {

// Class factory of the component class. One instance is created on the first request and
// kept for the life of the module. The cache's own reference does not hold the module; every
// other reference holds one module lock until it is released.
class ClassFactory final : public IClassFactory {
 public:
  // The cached factory; null only when it cannot be allocated.
  static ClassFactory* Instance();
  // Frees the cached factory when the module goes away.
  static void Shutdown();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ClassFactory() = default;
  volatile LONG m_lRef = 1;  // the module's own reference
};

// DllGetClassObject, without the module glue.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace zelvora
