// The virtual cameras' picture and camera settings (IAMVideoProcAmp, IAMCameraControl): ranges,
// caps and starting modes, unsupported ids, values stored unchecked as a plain driver does, the
// Set counter, values per filter object, and "nocontrols".
#include "devtest.h"

namespace {

using namespace devtest;

struct Expected {
  LONG id, minimum, maximum, step, defaultValue, caps, flags;
};
const LONG kAuto = 1, kManual = 2;
const Expected kProcAmp[] = {
    {VideoProcAmp_Brightness, -64, 64, 1, 0, kManual, kManual},
    {VideoProcAmp_Contrast, 0, 100, 1, 50, kManual, kManual},
    {VideoProcAmp_Saturation, 0, 200, 1, 100, kManual, kManual},
    {VideoProcAmp_Sharpness, 0, 7, 1, 2, kManual, kManual},
    {VideoProcAmp_WhiteBalance, 2800, 6500, 100, 4600, kAuto | kManual, kAuto},
    {VideoProcAmp_BacklightCompensation, 0, 1, 1, 0, kManual, kManual},
    {VideoProcAmp_Gain, 0, 100, 1, 0, kAuto | kManual, kManual},
};
const Expected kCamera[] = {
    {CameraControl_Zoom, 100, 400, 10, 100, kManual, kManual},
    {CameraControl_Exposure, -11, -2, 1, -6, kAuto | kManual, kAuto},
    {CameraControl_Focus, 0, 250, 5, 0, kAuto | kManual, kAuto},
};
// Unsupported ids of each interface, the enums' unused ones and ids outside the enums included.
const LONG kProcAmpMissing[] = {VideoProcAmp_Hue, VideoProcAmp_Gamma, VideoProcAmp_ColorEnable, -1, 10, 0x100};
const LONG kCameraMissing[] = {CameraControl_Pan, CameraControl_Tilt, CameraControl_Roll, CameraControl_Iris,
                               -1, 7, 0x103};

// Both interfaces have the same methods: one check serves either.
template <typename Itf>
void ExpectControls(Itf* controls, const Expected* expected, size_t count, const LONG* missing, size_t missingCount) {
  for (size_t i = 0; i < count; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.id);
    LONG minimum = 0, maximum = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
    ASSERT_EQ(S_OK, controls->GetRange(e.id, &minimum, &maximum, &step, &def, &caps));
    EXPECT_EQ(e.minimum, minimum);
    EXPECT_EQ(e.maximum, maximum);
    EXPECT_EQ(e.step, step);
    EXPECT_EQ(e.defaultValue, def);
    EXPECT_EQ(e.caps, caps);
    ASSERT_EQ(S_OK, controls->Get(e.id, &value, &flags));
    EXPECT_EQ(e.defaultValue, value);
    EXPECT_EQ(e.flags, flags);
    EXPECT_EQ(E_POINTER, controls->GetRange(e.id, &minimum, &maximum, &step, &def, nullptr));
    EXPECT_EQ(E_POINTER, controls->Get(e.id, nullptr, &flags));
  }
  for (size_t i = 0; i < missingCount; ++i) {
    SCOPED_TRACE(missing[i]);
    LONG minimum = 0, maximum = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls->GetRange(missing[i], &minimum, &maximum, &step, &def, &caps));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls->Get(missing[i], &value, &flags));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls->Set(missing[i], 0, kManual));
  }
}

ULONG SetCount(IBaseFilter* camera) {
  ULONG count = 0xFFFFFFFFu;
  EXPECT_EQ(S_OK, Control(camera)->GetControlSetCount(&count));
  return count;
}

TEST(CameraControls, RangesCapsStartingModesAndUnsupportedIdsThroughBothInterfaces) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ASSERT_TRUE(camera);
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  ASSERT_EQ(S_OK, camera.As(&procAmp));
  ASSERT_EQ(S_OK, camera.As(&cameraControl));
  ExpectControls(procAmp.Get(), kProcAmp, sizeof(kProcAmp) / sizeof(kProcAmp[0]), kProcAmpMissing,
                 sizeof(kProcAmpMissing) / sizeof(kProcAmpMissing[0]));
  ExpectControls(cameraControl.Get(), kCamera, sizeof(kCamera) / sizeof(kCamera[0]), kCameraMissing,
                 sizeof(kCameraMissing) / sizeof(kCameraMissing[0]));
  // The interfaces belong to the filter object: same identity, and the way back to the filter.
  ComPtr<IUnknown> filterIdentity, procAmpIdentity, cameraIdentity;
  ASSERT_EQ(S_OK, camera.As(&filterIdentity));
  ASSERT_EQ(S_OK, procAmp.As(&procAmpIdentity));
  ASSERT_EQ(S_OK, cameraControl.As(&cameraIdentity));
  EXPECT_EQ(filterIdentity.Get(), procAmpIdentity.Get());
  EXPECT_EQ(filterIdentity.Get(), cameraIdentity.Get());
  ComPtr<IBaseFilter> back;
  EXPECT_EQ(S_OK, cameraControl.As(&back));
  EXPECT_EQ(camera.Get(), back.Get());
  // Every camera of the default set has them, the MJPG one among them.
  ComPtr<IBaseFilter> mjpg = BindCamera(ZVD_CAMERA_MJPG);
  ComPtr<IAMCameraControl> mjpgControl;
  EXPECT_EQ(S_OK, mjpg.As(&mjpgControl));
}

TEST(CameraControls, SetStoresWhatItGetsPerFilterObjectAndEveryCallIsCounted) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IBaseFilter> other = BindCamera(ZVD_CAMERA_MAIN);
  ASSERT_TRUE(camera && other);
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  ASSERT_EQ(S_OK, camera.As(&procAmp));
  ASSERT_EQ(S_OK, camera.As(&cameraControl));
  EXPECT_EQ(0u, SetCount(camera.Get()));
  LONG value = 0, flags = 0;

  // A value in range, one out of range, one off the step, automatic mode on a manual-only
  // control: all stored as given (checking is the component's business).
  struct Case {
    bool camera;
    LONG id, value, flags;
  } stored[] = {{false, VideoProcAmp_Brightness, 37, kManual},  {false, VideoProcAmp_Contrast, 500, kManual},
                {false, VideoProcAmp_WhiteBalance, 2850, kManual}, {false, VideoProcAmp_Sharpness, 3, kAuto},
                {true, CameraControl_Zoom, 105, kManual},        {true, CameraControl_Exposure, -20, kManual},
                {true, CameraControl_Focus, 0, kAuto}};
  ULONG calls = 0;
  for (const Case& c : stored) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(S_OK, c.camera ? cameraControl->Set(c.id, c.value, c.flags) : procAmp->Set(c.id, c.value, c.flags));
    EXPECT_EQ(++calls, SetCount(camera.Get()));
    EXPECT_EQ(S_OK, c.camera ? cameraControl->Get(c.id, &value, &flags) : procAmp->Get(c.id, &value, &flags));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.flags, flags);
  }
  // Flags other than exactly automatic or manual are refused and change nothing, but count.
  for (LONG bad : {0L, 3L, 4L, -1L}) {
    EXPECT_EQ(E_INVALIDARG, procAmp->Set(VideoProcAmp_Brightness, 5, bad));
    EXPECT_EQ(E_INVALIDARG, cameraControl->Set(CameraControl_Zoom, 110, bad));
  }
  EXPECT_EQ(S_OK, procAmp->Get(VideoProcAmp_Brightness, &value, &flags));
  EXPECT_EQ(37, value);
  EXPECT_EQ(kManual, flags);
  EXPECT_EQ(S_OK, cameraControl->Get(CameraControl_Zoom, &value, &flags));
  EXPECT_EQ(105, value);
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, cameraControl->Set(CameraControl_Pan, 0, kManual));
  calls += 8 + 1;
  EXPECT_EQ(calls, SetCount(camera.Get()));
  // The ranges do not move with the values.
  LONG minimum = 0, maximum = 0, step = 0, def = 0, caps = 0;
  ASSERT_EQ(S_OK, procAmp->GetRange(VideoProcAmp_Contrast, &minimum, &maximum, &step, &def, &caps));
  EXPECT_EQ(100, maximum);
  EXPECT_EQ(50, def);

  // The other filter object of the same device kept its defaults and its own count; a new one
  // (a new load) starts at the defaults again.
  ComPtr<IAMVideoProcAmp> otherProcAmp;
  ASSERT_EQ(S_OK, other.As(&otherProcAmp));
  EXPECT_EQ(S_OK, otherProcAmp->Get(VideoProcAmp_Brightness, &value, &flags));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0u, SetCount(other.Get()));
  procAmp.Reset();
  cameraControl.Reset();
  camera.Reset();
  ComPtr<IBaseFilter> reloaded = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IAMCameraControl> reloadedControl;
  ASSERT_EQ(S_OK, reloaded.As(&reloadedControl));
  EXPECT_EQ(S_OK, reloadedControl->Get(CameraControl_Focus, &value, &flags));
  EXPECT_EQ(0, value);
  EXPECT_EQ(kAuto, flags);
  EXPECT_EQ(0u, SetCount(reloaded.Get()));
  EXPECT_EQ(E_POINTER, Control(reloaded.Get())->GetControlSetCount(nullptr));
}

TEST(CameraControls, NoControlsTurnsBothInterfacesOffAndMicrophonesHaveNone) {
  ScopedCamera plain(L"ZelvoraDev85 Plain", L"Zelvora Camera Without Controls", L"YUY2 320x240@30",
                     L"nocontrols preview");
  ASSERT_EQ(S_OK, plain.result);
  ComPtr<IBaseFilter> camera = BindCamera(L"Zelvora Camera Without Controls");
  ASSERT_TRUE(camera);
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  EXPECT_EQ(E_NOINTERFACE, camera.As(&procAmp));
  EXPECT_EQ(E_NOINTERFACE, camera.As(&cameraControl));
  EXPECT_FALSE(procAmp);
  EXPECT_TRUE(FindPin(camera.Get(), &PIN_CATEGORY_PREVIEW)) << "the other pin words still apply";
  EXPECT_EQ(0u, SetCount(camera.Get()));

  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ASSERT_TRUE(microphone);
  EXPECT_EQ(E_NOINTERFACE, microphone.As(&procAmp));
  EXPECT_EQ(0u, SetCount(microphone.Get()));
}

}  // namespace
