// IDevice through the registered component, on device instances registered for the test.
#include <memory>
#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "support/device_registration.h"

using namespace dlltest;
using namespace devicetest;

namespace {

class DeviceInterface : public testing::Test {
 protected:
  void SetUp() override {
    ComPtr<IIZelvora> camera = CreateComponent();
    ASSERT_NE(nullptr, camera.Get());
    ASSERT_EQ(S_OK, camera.As(&device));
    otherCameras = SystemDeviceNames(CLSID_VideoInputDeviceCategory).size();
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CoCreateInstance(kNullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(filter.GetAddressOf())));
  }
  void Add(const CLSID& category, const std::wstring& instance, const std::wstring& name) {
    registered.push_back(std::make_unique<RegisteredDevice>(category, kNullRendererClass, instance, name));
    ASSERT_EQ(S_OK, registered.back()->result);
  }

  VirtualDevicesRemoved noVirtualDevices;
  ComPtr<IDevice> device;
  size_t otherCameras = 0;
  std::vector<std::unique_ptr<RegisteredDevice>> registered;
};

TEST_F(DeviceInterface, TwoCamerasAreReportedWithTheirPositionsAndCategoryZero) {
  if (otherCameras != 0) GTEST_SKIP() << "the system lists cameras of its own";
  Add(CLSID_VideoInputDeviceCategory, L"ZelvoraDllTest 1", L"Zelvora Dll Camera One");
  Add(CLSID_VideoInputDeviceCategory, L"ZelvoraDllTest 2", L"Zelvora Dll Camera Two");
  const std::vector<std::wstring> listed = SystemDeviceNames(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(2u, listed.size());

  ReportCollector walk;
  EXPECT_EQ(S_FALSE, device->EnumCameraDevice(&walk.cell));
  ASSERT_EQ(2u, walk.reports.size());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(i, walk.reports[i].index);
    EXPECT_EQ(listed[i], walk.reports[i].name);
    EXPECT_EQ(0, walk.reports[i].category);
  }
  // Without a callback: the same result, nothing reported.
  EXPECT_EQ(S_FALSE, device->EnumCameraDevice(nullptr));
  EXPECT_EQ(2u, walk.reports.size());
}

TEST_F(DeviceInterface, NoCameraIsSOkWithoutACall) {
  if (otherCameras != 0) GTEST_SKIP() << "the system lists cameras of its own";
  ReportCollector walk;
  EXPECT_EQ(S_OK, device->EnumCameraDevice(&walk.cell));
  EXPECT_EQ(S_OK, device->EnumCameraDevice(nullptr));
  EXPECT_TRUE(walk.reports.empty());
}

TEST_F(DeviceInterface, AudioInputsReportedWithCategoryThreeExceptModems) {
  Add(CLSID_AudioInputDeviceCategory, L"ZelvoraDllTest Line 1", L"Zelvora Dll Modem");
  Add(CLSID_AudioInputDeviceCategory, L"ZelvoraDllTest Line 2", L"Zelvora Dll modem");
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, device->EnumAudioInputDevice(&walk.cell));
  EXPECT_TRUE(walk.Named(L"Zelvora Dll Modem").empty());
  EXPECT_EQ(1u, walk.Named(L"Zelvora Dll modem").size());
  for (size_t i = 0; i < walk.reports.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i), walk.reports[i].index);
    EXPECT_EQ(3, walk.reports[i].category);
  }
  EXPECT_EQ(S_FALSE, device->EnumAudioInputDevice(nullptr));
}

TEST_F(DeviceInterface, OutputsAllVideoAndTheCallbackSetterReportNothing) {
  Add(CLSID_VideoInputDeviceCategory, L"ZelvoraDllTest 1", L"Zelvora Dll Camera One");
  ReportCollector walk;
  ASSERT_FALSE(SystemDeviceNames(CLSID_AudioRendererCategory).empty());
  EXPECT_EQ(S_FALSE, device->EnumAudioOutputDevice(&walk.cell));
  EXPECT_EQ(S_OK, device->EnumAllVideoDevice(&walk.cell));
  EXPECT_EQ(S_OK, device->EnumAllVideoDevice(nullptr));
  EXPECT_TRUE(walk.reports.empty());

  // The setter keeps nothing: a later walk without a callback reports to no one.
  EXPECT_EQ(S_OK, device->SetDeviceCallBac(&walk.cell));
  EXPECT_EQ(S_OK, device->SetDeviceCallBac(nullptr));
  EXPECT_EQ(S_FALSE, device->EnumCameraDevice(nullptr));
  EXPECT_TRUE(walk.reports.empty());
}

}  // namespace
