// Reference counts as the platform's own objects see them: every call that looks at the camera's
// filter, pins, stream configuration, media types or events gives back exactly the references it
// took (the virtual devices' counts come back to where they were), and everything goes with the
// component object.
#include "hardening/hardening_helpers.h"

using namespace dlltest;
using namespace hardening;
using namespace previewtest;

namespace {

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(ReferenceCounts, CallsGiveBackEveryReferenceTheyTake) {
  Watchdog watchdog("reference counts", 180);
  ScratchFolder folder(L"refs");
  RenderWindow window;
  ComPtr<IIZelvora> camera = CreateComponent();
  ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ComPtr<IZelvoraDeviceControl> video = LiveDevice(ZVD_CAMERA_MAIN);
  ComPtr<IZelvoraDeviceControl> audio = LiveDevice(ZVD_MICROPHONE_MAIN);
  ASSERT_NE(nullptr, video.Get());
  ASSERT_NE(nullptr, audio.Get());

  int round = 0;
  auto calls = [&] {
    unsigned short text[1024] = {};
    EXPECT_EQ(S_OK, camera->EnumSupportFormat(text));
    text[0] = 0;
    EXPECT_EQ(S_OK, camera->EnumSupportXy(W(L"YUY2"), text));
    EXPECT_EQ(E_FAIL, camera->EnumSupportXy(W(L"MJPG"), text));
    // Events with filter parameters: each one's parameters are freed once.
    video->SignalDeviceLost(FALSE);
    video->SignalDeviceLost(TRUE);
    audio->SignalDeviceLost(FALSE);
    audio->SignalDeviceLost(TRUE);
    PumpUntil(30);
    unsigned long error = 0, detail = 0;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(S_OK, camera->OnGraphError(&error, &detail));
    EXPECT_TRUE(SUCCEEDED(camera->GraphPause()));
    EXPECT_TRUE(SUCCEEDED(camera->GraphPlay()));
    EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
    EXPECT_TRUE(SUCCEEDED(camera->GraphPlay()));
    const std::wstring file = folder.File(L"refs" + std::to_wstring(round++) + L".wmv");
    EXPECT_EQ(S_OK, camera->StartCapture(W(file.c_str())));
    PumpUntil(50);
    EXPECT_EQ(S_OK, camera->StopCapture());
    EXPECT_EQ(S_OK, camera->TakeSnap(W(folder.File(L"refs.jpg").c_str())));
    PumpUntil(30);
  };
  calls();  // the first recording leaves the Smart Tee it needed in the graph
  const ULONG videoBase = References(video.Get());
  const ULONG audioBase = References(audio.Get());
  const LONG liveBase = LiveDeviceObjects();
  for (int i = 0; i < 20; ++i) calls();
  EXPECT_EQ(videoBase, References(video.Get()));
  EXPECT_EQ(audioBase, References(audio.Get()));
  EXPECT_EQ(liveBase, LiveDeviceObjects());

  // A release keeps the source filters outside the empty graph; a new load lets go of them.
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  video.Reset();
  audio.Reset();
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  EXPECT_EQ(1u, LiveDevices(ZVD_CAMERA_MAIN).size()) << "the camera of the first load is gone";
  camera.Reset();
  EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; }));
  EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << LiveDeviceObjects();
}

}  // namespace
