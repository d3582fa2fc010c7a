#pragma once

// A task allocator spy that remembers every block freed while it is registered
// (CoRegisterMallocSpy). It lives on the stack or in a fixture: its reference count is not kept.
#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <vector>

namespace testsupport {

class FreeSpy : public IMallocSpy {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMallocSpy)) return E_NOINTERFACE;
    *ppv = static_cast<IMallocSpy*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
  STDMETHODIMP_(void*) PostAlloc(void* p) override { return p; }
  STDMETHODIMP_(void*) PreFree(void* p, BOOL) override {
    if (p) freed.push_back(p);
    return p;
  }
  STDMETHODIMP_(void) PostFree(BOOL) override {}
  STDMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T size, void** out, BOOL) override {
    *out = p;
    return size;
  }
  STDMETHODIMP_(void*) PostRealloc(void* p, BOOL) override { return p; }
  STDMETHODIMP_(void*) PreGetSize(void* p, BOOL) override { return p; }
  STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
  STDMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
  STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int result) override { return result; }
  STDMETHODIMP_(void) PreHeapMinimize() override {}
  STDMETHODIMP_(void) PostHeapMinimize() override {}

  int TimesFreed(void* p) const { return static_cast<int>(std::count(freed.begin(), freed.end(), p)); }
  bool Freed(void* p) const { return TimesFreed(p) > 0; }

  std::vector<void*> freed;
};

}  // namespace testsupport
