// The virtual cameras' picture and camera settings (IAMVideoProcAmp, IAMCameraControl): ranges,
// caps and starting modes, unsupported ids, values stored unchecked as a plain driver does, the
// Set counter, values per filter object, and "nocontrols".
#include "devtest.h"

namespace {

using namespace devtest;

const LONG kAuto = 1, kManual = 2;
struct Expected {
  bool camera;  // IAMCameraControl, else IAMVideoProcAmp
  LONG id, minimum, maximum, step, defaultValue, caps, flags;
} const kSupported[] = {
    {false, VideoProcAmp_Brightness, -64, 64, 1, 0, kManual, kManual},
    {false, VideoProcAmp_Contrast, 0, 100, 1, 50, kManual, kManual},
    {false, VideoProcAmp_Saturation, 0, 200, 1, 100, kManual, kManual},
    {false, VideoProcAmp_Sharpness, 0, 7, 1, 2, kManual, kManual},
    {false, VideoProcAmp_WhiteBalance, 2800, 6500, 100, 4600, kAuto | kManual, kAuto},
    {false, VideoProcAmp_BacklightCompensation, 0, 1, 1, 0, kManual, kManual},
    {false, VideoProcAmp_Gain, 0, 100, 1, 0, kAuto | kManual, kManual},
    {true, CameraControl_Zoom, 100, 400, 10, 100, kManual, kManual},
    {true, CameraControl_Exposure, -11, -2, 1, -6, kAuto | kManual, kAuto},
    {true, CameraControl_Focus, 0, 250, 5, 0, kAuto | kManual, kAuto},
};

// Both interfaces have the same three methods: calls go to the one of the control's set.
struct Controls {
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> camera;
  explicit Controls(IBaseFilter* filter) {
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf())));
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(camera.GetAddressOf())));
  }
  HRESULT Range(bool cam, LONG id, LONG* r) {
    return cam ? camera->GetRange(id, &r[0], &r[1], &r[2], &r[3], &r[4])
               : procAmp->GetRange(id, &r[0], &r[1], &r[2], &r[3], &r[4]);
  }
  HRESULT Set(bool cam, LONG id, LONG value, LONG flags) {
    return cam ? camera->Set(id, value, flags) : procAmp->Set(id, value, flags);
  }
  HRESULT Get(bool cam, LONG id, LONG* value, LONG* flags) {
    return cam ? camera->Get(id, value, flags) : procAmp->Get(id, value, flags);
  }
};

ULONG SetCount(IBaseFilter* filter) {
  ULONG count = 0xFFFFFFFFu;
  EXPECT_EQ(S_OK, Control(filter)->GetControlSetCount(&count));
  return count;
}

TEST(CameraControls, RangesCapsStartingModesAndUnsupportedIdsThroughBothInterfaces) {
  ComPtr<IBaseFilter> filter = BindCamera(ZVD_CAMERA_MJPG);
  Controls controls(filter.Get());
  ASSERT_TRUE(controls.procAmp && controls.camera);
  for (const Expected& e : kSupported) {
    SCOPED_TRACE(e.id);
    LONG range[5] = {}, value = 0, flags = 0;
    ASSERT_EQ(S_OK, controls.Range(e.camera, e.id, range));
    EXPECT_EQ(std::vector<LONG>({e.minimum, e.maximum, e.step, e.defaultValue, e.caps}),
              std::vector<LONG>(range, range + 5));
    ASSERT_EQ(S_OK, controls.Get(e.camera, e.id, &value, &flags));
    EXPECT_EQ(e.defaultValue, value);
    EXPECT_EQ(e.flags, flags);
  }
  // Hue, Gamma, ColorEnable; Pan, Tilt, Roll, Iris; ids outside the enums.
  for (const auto& missing : {std::make_pair(false, 2L), std::make_pair(false, 5L), std::make_pair(false, 6L),
                              std::make_pair(false, 10L), std::make_pair(false, -1L), std::make_pair(true, 0L),
                              std::make_pair(true, 1L), std::make_pair(true, 2L), std::make_pair(true, 5L),
                              std::make_pair(true, 7L), std::make_pair(true, 0x103L)}) {
    SCOPED_TRACE(testing::Message() << missing.first << " " << missing.second);
    LONG range[5], value, flags;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls.Range(missing.first, missing.second, range));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls.Get(missing.first, missing.second, &value, &flags));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls.Set(missing.first, missing.second, 0, kManual));
  }
  EXPECT_EQ(E_POINTER, controls.camera->GetRange(CameraControl_Zoom, nullptr, nullptr, nullptr, nullptr, nullptr));
  // The parts are the filter's: one identity, and the way back.
  ComPtr<IUnknown> identity, viaCamera;
  ASSERT_EQ(S_OK, filter.As(&identity));
  ASSERT_EQ(S_OK, controls.camera.As(&viaCamera));
  EXPECT_EQ(identity.Get(), viaCamera.Get());
}

TEST(CameraControls, SetStoresWhatItGetsPerFilterObjectAndEveryCallIsCounted) {
  ComPtr<IBaseFilter> filter = BindCamera(ZVD_CAMERA_MAIN), other = BindCamera(ZVD_CAMERA_MAIN);
  Controls controls(filter.Get()), otherControls(other.Get());
  // In range, out of range, off the step, automatic for a manual-only control: stored as given.
  struct Stored {
    bool camera;
    LONG id, value, flags;
  } const stored[] = {{false, VideoProcAmp_Brightness, 37, kManual}, {false, VideoProcAmp_Contrast, 500, kManual},
                      {false, VideoProcAmp_Sharpness, 3, kAuto}, {true, CameraControl_Zoom, 105, kManual}};
  ULONG calls = 0;
  LONG value = 0, flags = 0;
  for (const Stored& c : stored) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(S_OK, controls.Set(c.camera, c.id, c.value, c.flags));
    EXPECT_EQ(++calls, SetCount(filter.Get()));
    EXPECT_EQ(S_OK, controls.Get(c.camera, c.id, &value, &flags));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.flags, flags);
  }
  // Other flags are refused and change nothing, and they count, as unsupported ids do.
  for (LONG bad : {0L, 3L, -1L}) EXPECT_EQ(E_INVALIDARG, controls.Set(true, CameraControl_Zoom, 110, bad));
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, controls.Set(true, CameraControl_Pan, 0, kManual));
  EXPECT_EQ(calls + 4, SetCount(filter.Get()));
  EXPECT_EQ(S_OK, controls.Get(true, CameraControl_Zoom, &value, &flags));
  EXPECT_EQ(105, value);
  // The other filter object of the device has its own values and count; so has a new one.
  EXPECT_EQ(S_OK, otherControls.Get(false, VideoProcAmp_Brightness, &value, &flags));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0u, SetCount(other.Get()));
  controls = Controls(BindCamera(ZVD_CAMERA_MAIN).Get());
  EXPECT_EQ(S_OK, controls.Get(false, VideoProcAmp_Contrast, &value, &flags));
  EXPECT_EQ(50, value);
}

TEST(CameraControls, NoControlsTurnsBothInterfacesOffAndMicrophonesHaveNone) {
  ScopedCamera plain(L"ZelvoraDev85 Plain", L"Zelvora Camera Without Controls", L"YUY2 320x240@30",
                     L"nocontrols preview");
  ASSERT_EQ(S_OK, plain.result);
  ComPtr<IBaseFilter> camera = BindCamera(L"Zelvora Camera Without Controls");
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ASSERT_TRUE(camera && microphone);
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  EXPECT_EQ(E_NOINTERFACE, camera.As(&procAmp));
  EXPECT_EQ(E_NOINTERFACE, camera.As(&cameraControl));
  EXPECT_EQ(E_NOINTERFACE, microphone.As(&procAmp));
  EXPECT_TRUE(FindPin(camera.Get(), &PIN_CATEGORY_PREVIEW)) << "the other pin words still apply";
  EXPECT_EQ(0u, SetCount(camera.Get()));
  EXPECT_EQ(0u, SetCount(microphone.Get()));
}

}  // namespace
