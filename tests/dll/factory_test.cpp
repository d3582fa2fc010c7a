// Exports, class factory, aggregation and module lifetime.
#include "support/dll_helpers.h"

using namespace dlltest;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

ComPtr<IClassFactory> Factory() {
  ComPtr<IClassFactory> factory;
  auto get = Export<GetClassObjectFn>("DllGetClassObject");
  EXPECT_EQ(S_OK, get(CLSID_IZelvora, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
  return factory;
}

// A controlling outer object that counts the references it receives through the inner object.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  LONG refs = 1;
  IUnknown* inner = nullptr;
};

}  // namespace

TEST(Exports, TheFourEntryPointsAreExportedByName) {
  HMODULE module = ComponentModule();
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(module, name))) << name;
}

TEST(ClassFactory, RefusesNullOutPointerAndForeignClasses) {
  auto get = Export<GetClassObjectFn>("DllGetClassObject");
  EXPECT_EQ(E_POINTER, get(CLSID_IZelvora, IID_IClassFactory, nullptr));
  void* out = reinterpret_cast<void*>(1);
  const CLSID foreign = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(foreign, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
}

TEST(ClassFactory, IsCreatedOnceAndCached) {
  ComPtr<IClassFactory> first = Factory();
  ComPtr<IClassFactory> second = Factory();
  EXPECT_EQ(first.Get(), second.Get());
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, first.As(&unknown));
}

TEST(ClassFactory, CreatesObjectsAndRefusesUnknownInterfaces) {
  ComPtr<IClassFactory> factory = Factory();
  ComPtr<IPlayer> player;
  EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPlayer, reinterpret_cast<void**>(player.GetAddressOf())));
  EXPECT_NE(nullptr, player.Get());
  player.Reset();

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
  // The refused object is gone again.
  factory.Reset();
  EXPECT_EQ(S_OK, Export<CanUnloadFn>("DllCanUnloadNow")());
}

TEST(ClassFactory, AggregationNeedsIUnknown) {
  ComPtr<IClassFactory> factory = Factory();
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IIZelvora, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(1, outer.refs);
}

TEST(ClassFactory, AggregatedInterfacesDelegateToTheOuterObject) {
  ComPtr<IClassFactory> factory = Factory();
  Outer outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
  ASSERT_NE(nullptr, inner);
  EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
  outer.inner = inner;

  IIZelvora* camera = nullptr;
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IIZelvora, reinterpret_cast<void**>(&camera)));
  EXPECT_EQ(2, outer.refs);  // the interface's reference belongs to the outer object

  IUnknown* identity = nullptr;
  ASSERT_EQ(S_OK, camera->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
  EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
  identity->Release();

  IDevice* device = nullptr;
  EXPECT_EQ(S_OK, camera->QueryInterface(IID_IDevice, reinterpret_cast<void**>(&device)));
  EXPECT_EQ(3, outer.refs);
  device->Release();

  unsigned long state = 99;
  EXPECT_EQ(S_OK, camera->GetCurrentCameraState(&state));
  EXPECT_EQ(0u, state);

  camera->Release();
  EXPECT_EQ(1, outer.refs);
  outer.inner = nullptr;
  EXPECT_EQ(0u, inner->Release());
  factory.Reset();
  EXPECT_EQ(S_OK, Export<CanUnloadFn>("DllCanUnloadNow")());
}

TEST(Lifetime, ObjectsAndServerLocksKeepTheModule) {
  auto canUnload = Export<CanUnloadFn>("DllCanUnloadNow");
  EXPECT_EQ(S_OK, canUnload());

  ComPtr<IIZelvora> camera = CreateComponent();
  EXPECT_EQ(S_FALSE, canUnload());
  ComPtr<ISetting> setting;
  ASSERT_EQ(S_OK, camera.As(&setting));
  camera.Reset();
  EXPECT_EQ(S_FALSE, canUnload());  // one object, whichever interface holds it
  setting.Reset();
  EXPECT_EQ(S_OK, canUnload());

  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, canUnload());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_EQ(S_OK, canUnload());
}

TEST(Lifetime, FactoryReferencesKeepTheModule) {
  auto canUnload = Export<CanUnloadFn>("DllCanUnloadNow");
  auto get = Export<GetClassObjectFn>("DllGetClassObject");
  ASSERT_EQ(S_OK, canUnload()) << "an object of another test is still alive";

  // Held without an object and without LockServer, as a host keeps it to create objects later.
  IClassFactory* first = nullptr;
  ASSERT_EQ(S_OK, get(CLSID_IZelvora, IID_IClassFactory, reinterpret_cast<void**>(&first)));
  EXPECT_EQ(S_FALSE, canUnload());
  IUnknown* second = nullptr;
  ASSERT_EQ(S_OK, get(CLSID_IZelvora, IID_IUnknown, reinterpret_cast<void**>(&second)));
  first->Release();
  EXPECT_EQ(S_FALSE, canUnload()) << "one reference is left";
  second->Release();
  EXPECT_EQ(S_OK, canUnload());

  // A surplus Release reaches only the cache's own reference and takes no lock away.
  EXPECT_EQ(1u, first->Release());
  EXPECT_EQ(S_OK, canUnload());
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(S_FALSE, canUnload());

  // LockServer outlives the reference it was made through.
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(S_FALSE, canUnload());
  factory = Factory();
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_FALSE, canUnload());
  factory.Reset();
  EXPECT_EQ(S_OK, canUnload());
}
