// ICameraMode through the registered component: cameras by id, their modes, loads at a mode,
// MJPG and NV12 frames, and the opt-in fallback of the sized loads.

#include <vfwmsgs.h>

#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"

using namespace dlltest;
using namespace previewtest;

namespace {

struct Bstr {
  BSTR text = nullptr;
  ~Bstr() { SysFreeString(text); }
  std::wstring str() const { return text ? text : L""; }
};

struct Camera {
  std::wstring name, id;
};

struct Mode {
  std::wstring subtype;
  int width, height;
  std::vector<double> rates;
  bool deliverable;
};

class CameraModes : public PreviewHostTest {
 protected:
  void SetUp() override {
    PreviewHostTest::SetUp();
    ASSERT_EQ(S_OK, camera.As(&modes));
  }
  void TearDown() override {
    modes.Reset();
    PreviewHostTest::TearDown();
  }

  std::vector<Camera> Cameras() {
    std::vector<Camera> list;
    int count = -1;
    EXPECT_EQ(S_OK, modes->GetCameraCount(&count));
    for (int i = 0; i < count; ++i) {
      Bstr name, id;
      EXPECT_EQ(S_OK, modes->GetCameraId(i, &name.text, &id.text));
      list.push_back({name.str(), id.str()});
    }
    return list;
  }

  std::wstring IdOf(const std::wstring& name, int which = 0) {
    for (const Camera& c : Cameras())
      if (c.name == name && which-- == 0) return c.id;
    return L"";
  }

  std::vector<Mode> Modes(const std::wstring& id) {
    std::vector<Mode> list;
    int count = -1;
    EXPECT_EQ(S_OK, modes->GetModeCount(W(id.c_str()), &count));
    for (int i = 0; i < count; ++i) {
      CameraModeInfo info;
      EXPECT_EQ(S_OK, modes->GetMode(i, &info));
      list.push_back({reinterpret_cast<const wchar_t*>(info.tcSubtype), info.nWidth, info.nHeight,
                      std::vector<double>(info.dRates, info.dRates + info.nRateCount), info.bDeliverable != 0});
    }
    return list;
  }

  // The frames the window saw from now on, decoded; true when `count` arrived within 5 s.
  bool SeeFrames(int count) {
    window.inspect = true;
    window.inspected.clear();
    return PumpUntil(5000, [&] { return static_cast<int>(window.inspected.size()) >= count; });
  }

  ComPtr<ICameraMode> modes;
};

TEST_F(CameraModes, CamerasHaveUniqueIdsAndSameNamesAreBothReachable) {
  ScopedTestCamera first(L"ZelvoraDev97 Twin A", L"Zelvora Twin Camera", L"YUY2 320x240@30");
  ScopedTestCamera second(L"ZelvoraDev98 Twin B", L"Zelvora Twin Camera", L"YUY2 320x240@30", L"first:40000");
  ASSERT_TRUE(first.registered && second.registered);
  const std::vector<Camera> cameras = Cameras();
  std::vector<std::wstring> twins;
  for (const Camera& c : cameras) {
    EXPECT_EQ(0u, c.id.find(L"@device:")) << c.id;
    for (const Camera& other : cameras) EXPECT_TRUE(&c == &other || c.id != other.id) << c.id;
    if (c.name == L"Zelvora Twin Camera") twins.push_back(c.id);
  }
  ASSERT_EQ(2u, twins.size());
  // The virtual camera comes first and is listed as IDevice lists it; no TV tuner.
  EXPECT_EQ(L"Zelvora Virtual Camera", cameras.front().name);
  for (const Camera& c : cameras) EXPECT_NE(L"Zelvora TV Tuner", c.name);

  // Each delivers its own picture: the second one's frame numbers start at 40000.
  for (size_t i = 0; i < twins.size(); ++i) {
    const std::wstring& id = twins[i];
    SCOPED_TRACE(testing::Message() << std::string(id.begin(), id.end()));
    ASSERT_EQ(S_OK, modes->LoadCameraMode(W(id.c_str()), nullptr, 320, 240, 0, nullptr));
    EXPECT_EQ(1u, CameraState(camera.Get()));
    ASSERT_TRUE(SeeFrames(2));
    EXPECT_TRUE(window.last.decoded.Upright());
    const bool secondOne = id.find(L"Twin B") != std::wstring::npos;
    EXPECT_EQ(secondOne, window.last.decoded.frameNumber >= 40000) << window.last.decoded.frameNumber;
    // Each instance is a device of its own: its modes are listed by its id.
    ASSERT_EQ(1u, Modes(id).size());
  }

  // Ids are compared whole: no friendly name, prefix or other text opens a camera.
  for (const wchar_t* id : {L"Zelvora Twin Camera", L"@device:", L"", L"@device:sw:{x}\\nothing"}) {
    EXPECT_EQ(*id ? ZELVORA_E_NO_SUCH_DEVICE : E_INVALIDARG, modes->LoadCameraMode(W(id), nullptr, 320, 240, 0, nullptr));
  }
  // An id that names no camera changes nothing: the last camera runs on.
  EXPECT_EQ(1u, CameraState(camera.Get()));
  int count = 0;
  EXPECT_EQ(ZELVORA_E_NO_SUCH_DEVICE, modes->GetModeCount(W(L"Zelvora Twin Camera"), &count));
  Bstr name, id;
  EXPECT_EQ(E_INVALIDARG, modes->GetCameraId(static_cast<int>(cameras.size()), &name.text, &id.text));
  EXPECT_EQ(nullptr, name.text);
}

TEST_F(CameraModes, ModesListEveryRecordWithItsRates) {
  const std::vector<Mode> main = Modes(IdOf(L"Zelvora Virtual Camera"));
  // Four sizes in three formats, the 60 frames/s and 15 frames/s records joining their modes.
  ASSERT_EQ(12u, main.size());
  EXPECT_EQ(L"RGB24", main[0].subtype);
  EXPECT_EQ(320, main[0].width);
  EXPECT_EQ(L"YUY2", main[1].subtype);
  EXPECT_EQ(L"I420", main[2].subtype);
  for (const Mode& m : main) EXPECT_TRUE(m.deliverable);
  EXPECT_EQ((std::vector<double>{60.0, 30.0}), main[10].rates);  // YUY2 1920x1080
  EXPECT_EQ((std::vector<double>{30.0, 15.0}), main[4].rates);   // YUY2 640x480

  // VideoInfo2 records are listed, but the grabber takes none of them.
  const std::vector<Mode> vih2 = Modes(IdOf(L"Zelvora VideoInfo2 Camera"));
  ASSERT_EQ(2u, vih2.size());
  EXPECT_FALSE(vih2[0].deliverable || vih2[1].deliverable);

  // The loaded camera: by its id or by none.
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Virtual Camera"), 640, 480));
  int count = 0;
  EXPECT_EQ(S_OK, modes->GetModeCount(nullptr, &count));
  EXPECT_EQ(12, count);
  EXPECT_EQ(12u, Modes(IdOf(L"Zelvora Virtual Camera")).size());
  CameraModeInfo info;
  EXPECT_EQ(E_INVALIDARG, modes->GetMode(count, &info));
  EXPECT_EQ(E_POINTER, modes->GetMode(0, nullptr));
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetModeCount(nullptr, &count));
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetCurrentMode(&info));
}

TEST_F(CameraModes, ALoadAtAModeAppliesItsFrameRate) {
  const std::wstring id = IdOf(L"Zelvora Virtual Camera");
  struct Case {
    const wchar_t* subtype;
    int width, height;
    double rate;
    const wchar_t* applied;
    double appliedRate;
  } cases[] = {{L"YUY2", 1920, 1080, 60, L"YUY2", 60.0}, {L"yuy2", 1920, 1080, 30, L"YUY2", 30.0},
               {L"best", 640, 480, 0, L"RGB24", 30.0},   {L"I420", 320, 240, 0, L"I420", 30.0},
               {L"YUY2", 640, 480, 15, L"YUY2", 15.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "@" << c.rate);
    ASSERT_EQ(S_OK, modes->LoadCameraMode(W(id.c_str()), W(c.subtype), c.width, c.height, c.rate, nullptr));
    CameraModeInfo info;
    ASSERT_EQ(S_OK, modes->GetCurrentMode(&info));
    EXPECT_STREQ(c.applied, reinterpret_cast<const wchar_t*>(info.tcSubtype));
    EXPECT_EQ(c.width, info.nWidth);
    ASSERT_EQ(1, info.nRateCount);
    EXPECT_DOUBLE_EQ(c.appliedRate, info.dRates[0]);
    ASSERT_TRUE(SeeFrames(2));
    EXPECT_EQ(c.width, window.last.width);
    EXPECT_TRUE(window.last.decoded.Upright());
  }
  // Snapshots and the old interface's state work on such a load.
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_TRUE(SUCCEEDED(camera->GraphPause()));
  EXPECT_EQ(2u, CameraState(camera.Get()));

  // What no record offers runs nothing: a failure, not the old loads' positive codes. (The load
  // has taken down what ran before it looked at the camera's modes.)
  for (const Case& c : {Case{L"YUY2", 1920, 1080, 50, nullptr, 0}, Case{L"MJPG", 640, 480, 0, nullptr, 0},
                        Case{L"best", 800, 600, 0, nullptr, 0}}) {
    EXPECT_EQ(ZELVORA_E_NO_SUCH_MODE, modes->LoadCameraMode(W(id.c_str()), W(c.subtype), c.width, c.height, c.rate, nullptr));
    EXPECT_EQ(0u, CameraState(camera.Get()));
  }
  EXPECT_EQ(E_INVALIDARG, modes->LoadCameraMode(W(id.c_str()), W(L"Unknown"), 640, 480, 0, nullptr));
  EXPECT_EQ(E_INVALIDARG, modes->LoadCameraMode(W(id.c_str()), nullptr, 0, 480, 0, nullptr));
  EXPECT_EQ(E_INVALIDARG, modes->LoadCameraMode(W(id.c_str()), nullptr, 640, 480, -1, nullptr));
  EXPECT_EQ(E_POINTER, modes->LoadCameraMode(nullptr, nullptr, 640, 480, 0, nullptr));
  EXPECT_EQ(ZELVORA_E_NO_SUCH_DEVICE, modes->LoadCameraMode(W(id.c_str()), nullptr, 640, 480, 0, W(L"No Such Microphone")));

  // With a microphone, by its name.
  ASSERT_EQ(S_OK, modes->LoadCameraMode(W(id.c_str()), nullptr, 640, 480, 0, W(L"Zelvora Virtual Microphone")));
  ASSERT_TRUE(SeeFrames(2));
}

TEST_F(CameraModes, ThePolicyMakesTheSizedLoadsFallBackOnlyWhenSwitchedOn) {
  ScopedTestCamera mjpgOnly(L"ZelvoraDev97 Mjpg", L"Zelvora Mjpg Only", L"MJPG 640x480@30");
  ScopedTestCamera mixed(L"ZelvoraDev98 Mixed", L"Zelvora Mixed Camera", L"YUY2 640x480@30; MJPG 1280x720@30");
  ASSERT_TRUE(mjpgOnly.registered && mixed.registered);
  unsigned long policy = 9;
  EXPECT_EQ(S_OK, modes->GetLoadPolicy(&policy));
  EXPECT_EQ(0u, policy);
  // Off: the old answers.
  EXPECT_EQ(ZELVORA_S_NO_KNOWN_FORMAT, camera->LoadCameraXY(W(L"Zelvora Mjpg Only"), 640, 480));
  EXPECT_EQ(ZELVORA_S_NO_FORMAT_AT_SIZE, camera->LoadCameraXY(W(L"Zelvora Mixed Camera"), 1280, 720));
  EXPECT_EQ(0u, CameraState(camera.Get()));

  EXPECT_EQ(E_INVALIDARG, modes->SetLoadPolicy(2));
  ASSERT_EQ(S_OK, modes->SetLoadPolicy(ZELVORA_LOAD_FALLBACK_COMPRESSED));
  EXPECT_EQ(S_OK, modes->GetLoadPolicy(&policy));
  EXPECT_EQ(1u, policy);
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Mixed Camera"), 1280, 720));
  CameraModeInfo info;
  ASSERT_EQ(S_OK, modes->GetCurrentMode(&info));
  EXPECT_STREQ(L"MJPG", reinterpret_cast<const wchar_t*>(info.tcSubtype));
  EXPECT_EQ(1280, info.nWidth);
  // The YUY2 size still loads as it always did, and the format list still calls MJPG "Unknown".
  // (A sized load while a camera runs opens the first camera: release first.)
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Mixed Camera"), 640, 480));
  ASSERT_EQ(S_OK, modes->GetCurrentMode(&info));
  EXPECT_STREQ(L"YUY2", reinterpret_cast<const wchar_t*>(info.tcSubtype));
  unsigned short formats[64] = {};
  EXPECT_EQ(S_OK, camera->EnumSupportFormat(formats));
  EXPECT_STREQ(L"YUY2;Unknown;", reinterpret_cast<const wchar_t*>(formats));
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(L"Zelvora Mjpg Only"), 640, 480, nullptr));
  ASSERT_EQ(S_OK, modes->GetCurrentMode(&info));
  EXPECT_STREQ(L"MJPG", reinterpret_cast<const wchar_t*>(info.tcSubtype));
  // What neither the old choice nor the fallback finds keeps its old answer.
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(ZELVORA_S_NO_KNOWN_FORMAT, camera->LoadCameraXY(W(L"Zelvora Mjpg Only"), 320, 240));
}

TEST_F(CameraModes, MjpgFramesArriveDecodedUprightAndBrokenOnesAreDroppedAndCounted) {
  // The default set's MJPG camera at its large mode, and a camera that sends no Huffman tables
  // in fixed-size buffers, as many webcams do.
  ScopedTestCamera bare(L"ZelvoraDev97 Bare", L"Zelvora Bare MJPG Camera", L"MJPG 640x480@30", L"nodht jpegpad");
  ASSERT_TRUE(bare.registered);
  struct Case {
    const wchar_t* name;
    int width, height;
  } cases[] = {{L"Zelvora MJPG Camera", 1280, 720}, {L"Zelvora Bare MJPG Camera", 640, 480}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    ASSERT_EQ(S_OK, modes->LoadCameraMode(W(IdOf(c.name).c_str()), W(L"MJPG"), c.width, c.height, 30, nullptr));
    CameraModeInfo info;
    ASSERT_EQ(S_OK, modes->GetCurrentMode(&info));
    EXPECT_STREQ(L"MJPG", reinterpret_cast<const wchar_t*>(info.tcSubtype));
    EXPECT_DOUBLE_EQ(30.0, info.dRates[0]);
    ASSERT_TRUE(SeeFrames(4));
    for (size_t i = 0; i < window.inspected.size(); ++i) {
      EXPECT_EQ(c.width, window.inspected[i].width);
      EXPECT_TRUE(window.inspected[i].decoded.Upright()) << "frame " << i;
      if (i > 0) {
        EXPECT_GT(window.inspected[i].decoded.frameNumber, window.inspected[i - 1].decoded.frameNumber);
      }
    }
    unsigned long delivered = 0, dropped = 0;
    ASSERT_EQ(S_OK, modes->GetFrameCounts(&delivered, &dropped));
    EXPECT_GE(delivered, 4u);
    EXPECT_EQ(0u, dropped);
  }

  // A truncated frame is dropped whole and counted: no message, no callback.
  ComPtr<IZelvoraDeviceControl> device = LiveDevice(L"Zelvora Bare MJPG Camera");
  ASSERT_NE(nullptr, device.Get());
  window.inspect = false;
  ASSERT_EQ(S_OK, device->SetDelivering(FALSE));
  PumpUntil(200);
  unsigned long delivered = 0, dropped = 0;
  ASSERT_EQ(S_OK, modes->GetFrameCounts(&delivered, &dropped));
  const LONG messages = window.frames, callbacks = CallbackCounter::frames;
  ASSERT_EQ(S_OK, device->DeliverShortBuffer(600));  // the headers and the start of the scan
  ASSERT_EQ(S_OK, device->SetDelivering(TRUE));
  unsigned long nowDelivered = 0, nowDropped = 0;
  EXPECT_TRUE(PumpUntil(5000, [&] {
    modes->GetFrameCounts(&nowDelivered, &nowDropped);
    return nowDropped == dropped + 1 && nowDelivered >= delivered + 2;
  })) << nowDropped;
  // Settled: no frame between the count and the host.
  ASSERT_EQ(S_OK, device->SetDelivering(FALSE));
  PumpUntil(300);
  modes->GetFrameCounts(&nowDelivered, &nowDropped);
  EXPECT_EQ(static_cast<LONG>(nowDelivered - delivered), window.frames - messages);
  EXPECT_EQ(static_cast<LONG>(nowDelivered - delivered), CallbackCounter::frames - callbacks);
  EXPECT_EQ(0, CallbackCounter::nullData);
  ASSERT_EQ(S_OK, device->SetDelivering(TRUE));

  // Snapshots are taken from the decoded picture.
  WCHAR folder[MAX_PATH] = L"";
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
  const std::wstring file = std::wstring(folder) + L"zelvora_mjpg_snapshot.jpg";
  DeleteFileW(file.c_str());
  ASSERT_EQ(S_OK, camera->TakeSnap(W(file.c_str())));
  EXPECT_TRUE(PumpUntil(5000, [&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  DeleteFileW(file.c_str());
}

TEST_F(CameraModes, Nv12FramesEqualTheI420ConversionOfTheSamePicture) {
  // The two layouts of the same picture carry the same samples: the pictures the host gets must
  // be the same bytes. The top half (bars and marker) is the same in every frame.
  ScopedTestCamera nv12(L"ZelvoraDev97 Nv12", L"Zelvora NV12 Camera", L"NV12 320x240@30; NV12 1280x720@30");
  ScopedTestCamera i420(L"ZelvoraDev98 I420", L"Zelvora I420 Camera", L"I420 320x240@30");
  ASSERT_TRUE(nv12.registered && i420.registered);
  std::vector<unsigned char> pictures[2];
  const wchar_t* names[2] = {L"Zelvora NV12 Camera", L"Zelvora I420 Camera"};
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(S_OK, modes->LoadCameraMode(W(IdOf(names[k]).c_str()), nullptr, 320, 240, 0, nullptr));
    bool copied = false;
    window.onFrame = [&](const RenderFrame* frame) {
      if (copied || !frame || !frame->data) return;
      // Bottom-up: the top half of the picture is the second half of the rows.
      const size_t row = 320 * 3;
      pictures[k].assign(frame->data + row * 120, frame->data + row * 240);
      copied = true;
    };
    ASSERT_TRUE(PumpUntil(5000, [&] { return copied; }));
    window.onFrame = nullptr;
  }
  EXPECT_TRUE(pictures[0] == pictures[1]);
  // The NV12 camera's modes, and its large one through the fallback of a sized load.
  const std::vector<Mode> listed = Modes(IdOf(L"Zelvora NV12 Camera"));
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ(L"NV12", listed[1].subtype);
  EXPECT_TRUE(listed[1].deliverable);
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(ZELVORA_S_NO_KNOWN_FORMAT, camera->LoadCameraXY(W(L"Zelvora NV12 Camera"), 1280, 720));
  ASSERT_EQ(S_OK, modes->SetLoadPolicy(ZELVORA_LOAD_FALLBACK_COMPRESSED));
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora NV12 Camera"), 1280, 720));
  ASSERT_TRUE(SeeFrames(2));
  EXPECT_TRUE(window.last.decoded.Upright());
}

TEST_F(CameraModes, TheInterfaceBelongsToTheObject) {
  ComPtr<IDevice> device;
  ASSERT_EQ(S_OK, camera.As(&device));
  ComPtr<ICameraMode> viaDevice;
  ASSERT_EQ(S_OK, device.As(&viaDevice));
  EXPECT_EQ(modes.Get(), viaDevice.Get());
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(S_OK, modes.As(&a));
  ASSERT_EQ(S_OK, camera.As(&b));
  EXPECT_EQ(a.Get(), b.Get());
  int count = 0;
  EXPECT_EQ(E_POINTER, modes->GetCameraCount(nullptr));
  EXPECT_EQ(E_POINTER, modes->GetModeCount(nullptr, nullptr));
  unsigned long delivered = 1, dropped = 1;
  EXPECT_EQ(S_OK, modes->GetFrameCounts(&delivered, &dropped));
  EXPECT_EQ(0u, delivered + dropped);
  EXPECT_EQ(E_POINTER, modes->GetFrameCounts(nullptr, &dropped));
  EXPECT_EQ(S_OK, modes->GetCameraCount(&count));
  EXPECT_GT(count, 0);
}

}  // namespace

// ---- camera controls ----

namespace {

constexpr long kAuto = ZELVORA_CONTROL_AUTO, kManual = ZELVORA_CONTROL_MANUAL;
using Setting = std::pair<long, long>;  // value and mode flags

// What the virtual camera reports (minimum, maximum, step, default, caps, mode at start), in list order.
const struct {
  long id;
  const wchar_t* name;
  long range[5], startFlags;
} kVirtualControls[] = {
    {ZELVORA_CONTROL_BRIGHTNESS, L"Brightness", {-64, 64, 1, 0, kManual}, kManual},
    {ZELVORA_CONTROL_CONTRAST, L"Contrast", {0, 100, 1, 50, kManual}, kManual},
    {ZELVORA_CONTROL_SATURATION, L"Saturation", {0, 200, 1, 100, kManual}, kManual},
    {ZELVORA_CONTROL_SHARPNESS, L"Sharpness", {0, 7, 1, 2, kManual}, kManual},
    {ZELVORA_CONTROL_WHITE_BALANCE, L"WhiteBalance", {2800, 6500, 100, 4600, kAuto | kManual}, kAuto},
    {ZELVORA_CONTROL_BACKLIGHT_COMPENSATION, L"BacklightCompensation", {0, 1, 1, 0, kManual}, kManual},
    {ZELVORA_CONTROL_GAIN, L"Gain", {0, 100, 1, 0, kAuto | kManual}, kManual},
    {ZELVORA_CONTROL_ZOOM, L"Zoom", {100, 400, 10, 100, kManual}, kManual},
    {ZELVORA_CONTROL_EXPOSURE, L"Exposure", {-11, -2, 1, -6, kAuto | kManual}, kAuto},
    {ZELVORA_CONTROL_FOCUS, L"Focus", {0, 250, 5, 0, kAuto | kManual}, kAuto}};

class CameraControls : public CameraModes {
 protected:
  Setting Value(long control) {
    long value = -1, flags = -1;
    return SUCCEEDED(modes->GetControlValue(control, &value, &flags)) ? Setting(value, flags) : Setting(-1, -1);
  }
  // The number of Set calls the live virtual camera received, and the brightness it holds.
  Setting DeviceSetsAndBrightness() {
    ComPtr<IZelvoraDeviceControl> device = LiveDevice(ZVD_CAMERA_MAIN);
    ComPtr<IAMVideoProcAmp> amp;
    ULONG sets = ~0u;
    long value = -999, flags = 0;
    if (device && SUCCEEDED(device->GetControlSetCount(&sets)) && SUCCEEDED(device.As(&amp)))
      amp->Get(VideoProcAmp_Brightness, &value, &flags);
    return {static_cast<long>(sets), value};
  }
  // The mean byte of the third picture delivered from now on (the first ones may be in flight).
  double MeanOfNextPicture() {
    int seen = 0;
    double sum = -1;
    window.onFrame = [&](const RenderFrame* frame) {
      if (!frame || !frame->data || ++seen != 3) return;
      const size_t bytes = static_cast<size_t>(frame->width) * 3 * frame->height;
      sum = 0;
      for (size_t i = 0; i < bytes; ++i) sum += frame->data[i];
      sum /= bytes;
    };
    PumpUntil(5000, [&] { return seen >= 3; });
    window.onFrame = nullptr;
    return sum;
  }
};

TEST_F(CameraControls, TheListAndRangesAreTheCamerasAndValuesRoundTrip) {
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  int count = 0;
  ASSERT_EQ(S_OK, modes->GetControlCount(&count));
  ASSERT_EQ(10, count);
  for (int i = 0; i < count; ++i) {
    const auto& c = kVirtualControls[i];
    CameraControlInfo listed, byId;
    ASSERT_EQ(S_OK, modes->GetControlInfo(i, &listed));
    ASSERT_EQ(S_OK, modes->GetControlRange(c.id, &byId));
    EXPECT_EQ(0, memcmp(&listed, &byId, sizeof(listed))) << i;
    EXPECT_EQ(c.id, listed.nControl);
    EXPECT_STREQ(c.name, reinterpret_cast<const wchar_t*>(listed.tcName));
    EXPECT_EQ(std::vector<long>(c.range, c.range + 5),
              (std::vector<long>{listed.nMinimum, listed.nMaximum, listed.nStep, listed.nDefault, listed.nCapsFlags}));
    EXPECT_EQ(Setting(c.range[3], c.startFlags), Value(c.id)) << i;
  }
  // A picture setting and camera settings; automatic keeps the value the camera has.
  EXPECT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, -17, kManual));
  EXPECT_EQ(Setting(-17, kManual), Value(ZELVORA_CONTROL_BRIGHTNESS));
  EXPECT_EQ(Setting(1, -17), DeviceSetsAndBrightness());
  EXPECT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_ZOOM, 400, kManual));
  EXPECT_EQ(Setting(400, kManual), Value(ZELVORA_CONTROL_ZOOM));
  EXPECT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_FOCUS, 125, kManual));
  EXPECT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_FOCUS, 999, kAuto));
  EXPECT_EQ(Setting(125, kAuto), Value(ZELVORA_CONTROL_FOCUS));
}

TEST_F(CameraControls, EveryRefusalHasItsCodeAndSendsNothing) {
  CameraControlInfo info;
  long value = 0, flags = 0;
  int count = -1;
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetControlCount(&count));
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetControlInfo(0, &info));
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetControlRange(ZELVORA_CONTROL_ZOOM, &info));
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->GetControlValue(ZELVORA_CONTROL_ZOOM, &value, &flags));
  EXPECT_EQ(VFW_E_WRONG_STATE, modes->SetControlValue(ZELVORA_CONTROL_ZOOM, 100, kManual));
  EXPECT_EQ(E_POINTER, modes->GetControlCount(nullptr));
  EXPECT_EQ(E_POINTER, modes->GetControlInfo(0, nullptr));
  EXPECT_EQ(E_POINTER, modes->GetControlRange(ZELVORA_CONTROL_ZOOM, nullptr));
  EXPECT_EQ(E_POINTER, modes->GetControlValue(ZELVORA_CONTROL_ZOOM, &value, nullptr));

  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  ASSERT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, 7, kManual));
  // Value, step and mode refusals; then controls the camera lacks and ids that are none, which
  // the two reading methods refuse alike.
  constexpr long kBright = ZELVORA_CONTROL_BRIGHTNESS, kZoom = ZELVORA_CONTROL_ZOOM;
  const struct {
    long control, value, flags;
    HRESULT expected;
  } cases[] = {{kBright, 65, kManual, ZELVORA_E_CONTROL_VALUE},  {kBright, -65, kManual, ZELVORA_E_CONTROL_VALUE},
               {kZoom, 105, kManual, ZELVORA_E_CONTROL_VALUE},   {kZoom, 410, kManual, ZELVORA_E_CONTROL_VALUE},
               {kBright, 0, kAuto, ZELVORA_E_CONTROL_MODE},      {kZoom, 100, kAuto, ZELVORA_E_CONTROL_MODE},
               {kBright, 0, 0, E_INVALIDARG},                    {kBright, 0, kAuto | kManual, E_INVALIDARG},
               {ZELVORA_CONTROL_HUE, 0, kManual, ZELVORA_E_NO_SUCH_CONTROL},
               {ZELVORA_CONTROL_PAN, 0, kManual, ZELVORA_E_NO_SUCH_CONTROL},
               {10, 0, kManual, E_INVALIDARG}, {0x107, 0, kManual, E_INVALIDARG}, {-1, 0, kManual, E_INVALIDARG}};
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(c.expected, modes->SetControlValue(c.control, c.value, c.flags)) << i;
    if (i < 8) continue;
    EXPECT_EQ(c.expected, modes->GetControlRange(c.control, &info)) << i;
    EXPECT_EQ(c.expected, modes->GetControlValue(c.control, &value, &flags)) << i;
  }
  EXPECT_EQ(Setting(1, 7), DeviceSetsAndBrightness()) << "a refused request reached the camera";
  ASSERT_EQ(S_OK, modes->GetControlCount(&count));
  for (int index : {-1, 10}) EXPECT_EQ(E_INVALIDARG, modes->GetControlInfo(index, &info)) << index;

  // A camera without the two interfaces; the list kept for the last camera went with it.
  ScopedTestCamera bare(L"ZelvoraDev97 NoControls", L"Zelvora No Controls", L"RGB24 320x240@30", L"nocontrols");
  ASSERT_TRUE(bare.registered);
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora No Controls"), 320, 240));
  EXPECT_EQ(E_INVALIDARG, modes->GetControlInfo(0, &info));
  ASSERT_EQ(S_OK, modes->GetControlCount(&count));
  EXPECT_EQ(0, count);
  for (long control : {ZELVORA_CONTROL_BRIGHTNESS, ZELVORA_CONTROL_ZOOM}) {
    EXPECT_EQ(E_NOINTERFACE, modes->GetControlRange(control, &info));
    EXPECT_EQ(E_NOINTERFACE, modes->GetControlValue(control, &value, &flags));
    EXPECT_EQ(E_NOINTERFACE, modes->SetControlValue(control, 100, kManual));
  }
}

TEST_F(CameraControls, ValuesSurvivePauseRunAndRecordingAndANewLoadStartsAtTheDefaults) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, 30, kManual));
  ASSERT_TRUE(SUCCEEDED(camera->GraphPause()));
  // A paused camera is loaded: its controls can be set.
  ASSERT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_EXPOSURE, -3, kManual));
  ASSERT_TRUE(SUCCEEDED(camera->GraphPlay()));
  WCHAR folder[MAX_PATH] = L"";
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
  const std::wstring file = std::wstring(folder) + L"zelvora_controls_recording.wmv";
  ASSERT_EQ(S_OK, camera->StartCapture(W(file.c_str())));
  ASSERT_TRUE(SeeFrames(3));
  ASSERT_EQ(S_OK, camera->StopCapture());
  DeleteFileW(file.c_str());
  EXPECT_EQ(Setting(30, kManual), Value(ZELVORA_CONTROL_BRIGHTNESS));
  EXPECT_EQ(Setting(-3, kManual), Value(ZELVORA_CONTROL_EXPOSURE));

  // The virtual camera keeps its values in the filter object: a new load is a new one.
  ASSERT_EQ(S_OK, camera->ReleaseCamera());
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  EXPECT_EQ(Setting(0, kManual), Value(ZELVORA_CONTROL_BRIGHTNESS));
  EXPECT_EQ(Setting(-6, kAuto), Value(ZELVORA_CONTROL_EXPOSURE));
}

TEST_F(CameraControls, BrightnessIsSeenInTheFrames) {
  ASSERT_EQ(S_OK, modes->LoadCameraMode(W(IdOf(ZVD_CAMERA_MAIN).c_str()), W(L"RGB24"), 320, 240, 0, nullptr));
  const double plain = MeanOfNextPicture();
  ASSERT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, 40, kManual));
  const double brighter = MeanOfNextPicture();
  ASSERT_EQ(S_OK, modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, -40, kManual));
  const double darker = MeanOfNextPicture();
  // Clamping at 0 and 255 takes some of the 40 away where the pattern is black or white.
  EXPECT_TRUE(plain > 0 && brighter > plain + 15 && brighter <= plain + 40) << plain << " " << brighter;
  EXPECT_TRUE(darker < plain - 15 && darker >= plain - 40) << plain << " " << darker;
}

}  // namespace
