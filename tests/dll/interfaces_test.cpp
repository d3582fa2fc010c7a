// The interface table of the component object and the methods that answer without a camera.
#include <utility>

#include "support/dll_helpers.h"
#include "support/debug_output.h"

using namespace dlltest;

namespace {

const IID* const kInterfaces[] = {&IID_IUnknown, &IID_IIZelvora, &IID_ISetting, &IID_IDevice,
                                  &IID_IPlayer,  &IID_IError,     &IID_IUtility};

ULONG RefCount(IUnknown* unknown) {
  unknown->AddRef();
  return unknown->Release();
}

}  // namespace

TEST(Interfaces, AnswersIUnknownAndTheSixInterfacesOnly) {
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, camera.As(&identity));
  for (const IID* iid : kInterfaces) {
    ComPtr<IUnknown> found;
    ASSERT_EQ(S_OK, camera->QueryInterface(*iid, reinterpret_cast<void**>(found.GetAddressOf())));
    ComPtr<IUnknown> back;
    ASSERT_EQ(S_OK, found.As(&back));
    EXPECT_EQ(identity.Get(), back.Get());  // one identity whichever interface is asked
  }
  EXPECT_EQ(static_cast<IUnknown*>(camera.Get()), identity.Get());  // answered by the first interface

  for (const IID* iid : {&IID_IDispatch, &IID_IClassFactory, &IID_IPersist, &IID_IMarshal}) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, camera->QueryInterface(*iid, &out));
    EXPECT_EQ(nullptr, out);
  }
  EXPECT_EQ(E_POINTER, camera->QueryInterface(IID_IDevice, nullptr));
}

TEST(Interfaces, AllInterfacesShareOneReferenceCount) {
  ComPtr<IIZelvora> camera = CreateComponent();
  ULONG before = RefCount(camera.Get());
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, camera.As(&player));
  EXPECT_EQ(before + 1, RefCount(camera.Get()));
  EXPECT_EQ(before + 1, RefCount(player.Get()));
  player.Reset();
  EXPECT_EQ(before, RefCount(camera.Get()));
}

TEST(Interfaces, UtilityOffersOnlyIUnknown) {
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IUtility> utility;
  ASSERT_EQ(S_OK, camera.As(&utility));
  ComPtr<IError> error;
  EXPECT_EQ(S_OK, utility.As(&error));
  EXPECT_EQ(E_NOTIMPL, error->GetLastError());
  ULONG count = utility->AddRef();
  EXPECT_EQ(count - 1, utility->Release());
}

TEST(Interfaces, MethodsThatDoNothingReturnSOkOrENotImplAndWriteNothing) {
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<ISetting> setting;
  ComPtr<IDevice> device;
  ComPtr<IPlayer> player;
  ComPtr<IError> error;
  ASSERT_EQ(S_OK, camera.As(&setting));
  ASSERT_EQ(S_OK, camera.As(&device));
  ASSERT_EQ(S_OK, camera.As(&player));
  ASSERT_EQ(S_OK, camera.As(&error));

  unsigned long value = 0xA5A5A5A5;
  EXPECT_EQ(S_OK, setting->LoadSetting(&value));
  EXPECT_EQ(0xA5A5A5A5u, value);
  EXPECT_EQ(S_OK, setting->SaveSetting(&value));
  EXPECT_EQ(S_OK, setting->SaveSetting(nullptr));
  EXPECT_EQ(S_OK, setting->DefaultSetting());
  EXPECT_EQ(S_OK, camera->SetLoadCameraName(W(L"anything")));
  EXPECT_EQ(S_OK, camera->SetLoadCameraName(nullptr));
  CallbackCell cell = 0xA5A5A5A5;
  EXPECT_EQ(S_OK, device->SetDeviceCallBac(&cell));
  EXPECT_EQ(S_OK, device->SetDeviceCallBac(nullptr));
  EXPECT_EQ(S_OK, player->GetFileFrameThumb());
  EXPECT_EQ(E_NOTIMPL, error->GetLastError());

  unsigned long playState = 0x12345678;
  EXPECT_EQ(S_OK, player->GetPlayState(&playState));
  EXPECT_EQ(0x12345678u, playState);
  EXPECT_EQ(S_OK, player->GetPlayState(nullptr));
}

TEST(Interfaces, NullPointersAreRefusedWithEPointer) {
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, camera.As(&player));

  EXPECT_EQ(E_POINTER, camera->GetCurrentCameraState(nullptr));
  EXPECT_EQ(E_POINTER, camera->TakeSnap(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture2(nullptr, 1.0));
  unsigned long error = 0x11111111, detail = 0x22222222;
  EXPECT_EQ(E_POINTER, camera->OnGraphError(nullptr, &detail));
  EXPECT_EQ(0x22222222u, detail);
  EXPECT_EQ(E_POINTER, camera->OnGraphError(&error, nullptr));
  EXPECT_EQ(0x11111111u, error);
  EXPECT_EQ(E_POINTER, player->OnGraphNotify(nullptr));
}

TEST(CameraState, IsNoneAfterConstructionAndAfterReleaseCamera) {
  testsupport::DebugOutputCapture debug;
  ComPtr<IIZelvora> camera = CreateComponent();
  unsigned long state = 77;
  EXPECT_EQ(S_OK, camera->GetCurrentCameraState(&state));
  EXPECT_EQ(0u, state);

  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(2, debug.Count("release cooo"));
  state = 77;
  EXPECT_EQ(S_OK, camera->GetCurrentCameraState(&state));
  EXPECT_EQ(0u, state);
}

TEST(CameraState, GraphControlWithoutAGraph) {
  ComPtr<IIZelvora> camera = CreateComponent();
  EXPECT_EQ(E_FAIL, camera->IsPlaying());
  EXPECT_EQ(E_POINTER, camera->GraphPlay());
  EXPECT_EQ(S_OK, camera->GraphPause());
  EXPECT_EQ(S_OK, camera->GraphStop());
  EXPECT_EQ(S_OK, camera->SetNotifyWnd(nullptr));
  EXPECT_EQ(S_FALSE, camera->SetCaptureMaxTime(10));

  unsigned long error = 5, detail = 0xAABBCCDD;
  EXPECT_EQ(S_OK, camera->OnGraphError(&error, &detail));
  EXPECT_EQ(0u, error);
  EXPECT_EQ(0xAABB0000u, detail);  // only bytes 0 and 1 are written

  unsigned long state = 77;
  EXPECT_EQ(S_OK, camera->GetCurrentCameraState(&state));
  EXPECT_EQ(0u, state);
}

TEST(CameraState, SettersAcceptValuesBeforeALoad) {
  ComPtr<IIZelvora> camera = CreateComponent();
  CallbackCell noCallback = 0;
  EXPECT_EQ(S_OK, camera->SetRenderCallbackFun(&noCallback));
  EXPECT_EQ(S_OK, camera->SetRenderCallbackFun(nullptr));
  EXPECT_EQ(S_OK, camera->SetRenderWnd(nullptr));
  EXPECT_EQ(S_OK, camera->SetNeedReleaseFrame(1));
  EXPECT_EQ(S_OK, camera->SetNeedReleaseFrame(0));
  EXPECT_EQ(S_OK, camera->SetCaptureMaxSize(1));
}
