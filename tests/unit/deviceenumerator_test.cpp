// Device walks and lookups on device instances registered for the test under the video and
// audio input classes (Wine's null renderer as the filter, or fake filters of this process).
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com_fakes.h"
#include "support/device_registration.h"
#include "devices/deviceenumerator.h"
#include "media/dshowids.h"

using Microsoft::WRL::ComPtr;
using namespace devicetest;

namespace zelvora {
namespace {

// Filter classes of this process for devices with and without a VBI output.
const CLSID kVbiFilter = {0x6f1c3a52, 0x8d0e, 0x4b7a, {0x9c, 0x21, 0x3e, 0x5f, 0x70, 0x11, 0xa4, 0x01}};
const CLSID kCaptureFilter = {0x6f1c3a52, 0x8d0e, 0x4b7a, {0x9c, 0x21, 0x3e, 0x5f, 0x70, 0x11, 0xa4, 0x02}};
const CLSID kNoSuchFilter = {0x6f1c3a52, 0x8d0e, 0x4b7a, {0x9c, 0x21, 0x3e, 0x5f, 0x70, 0x11, 0xa4, 0x03}};

std::wstring DisplayNameOf(IMoniker* moniker) {
  if (!moniker) return L"<none>";
  LPOLESTR name = nullptr;
  if (FAILED(moniker->GetDisplayName(nullptr, nullptr, &name))) return L"<error>";
  std::wstring text(name);
  CoTaskMemFree(name);
  return text;
}

std::wstring Camera(const wchar_t* name) { return std::wstring(L"Zelvora Test Camera ") + name; }

class DeviceWalk : public testing::Test {
 protected:
  void SetUp() override {
    otherCameras = SystemDeviceNames(CLSID_VideoInputDeviceCategory).size();
    devices = std::make_unique<DeviceEnumerator>();
  }
  void AddCamera(const std::wstring& instance, const std::wstring& name, const CLSID& filter = CLSID_NullRenderer) {
    registered.push_back(std::make_unique<RegisteredDevice>(CLSID_VideoInputDeviceCategory, filter, instance, name));
    ASSERT_EQ(S_OK, registered.back()->result);
  }
  void AddAudioInput(const std::wstring& instance, const std::wstring& name) {
    registered.push_back(
        std::make_unique<RegisteredDevice>(CLSID_AudioInputDeviceCategory, CLSID_NullRenderer, instance, name));
    ASSERT_EQ(S_OK, registered.back()->result);
  }
  // Checks that the reports are numbered from 0 in order, carry `category` and equal the table.
  void ExpectReportsMatchTable(const ReportCollector& walk, int category, bool camera) {
    for (size_t i = 0; i < walk.reports.size(); ++i) {
      EXPECT_EQ(static_cast<int>(i), walk.reports[i].index);
      EXPECT_EQ(category, walk.reports[i].category);
      EXPECT_EQ(walk.reports[i].name, camera ? devices->CameraName(i) : devices->AudioName(i));
    }
  }

  VirtualDevicesRemoved noVirtualDevices;
  size_t otherCameras = 0;
  std::vector<std::unique_ptr<RegisteredDevice>> registered;
  std::unique_ptr<DeviceEnumerator> devices;
};

TEST(DeviceLookup, AnEnumeratorThatListedNothingFailsEveryLookup) {
  auto devices = std::make_unique<DeviceEnumerator>();
  for (int i = 0; i < DeviceEnumerator::kEntries; ++i) {
    EXPECT_EQ(0, devices->CameraName(i)[0]);
    EXPECT_EQ(0, devices->AudioDisplayName(i)[0]);
  }
  IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
  HRESULT hr = devices->GetDeviceByIndex(TRUE, 0, &moniker);
  EXPECT_TRUE(FAILED(hr));  // the parse of an empty display name
  EXPECT_EQ(nullptr, moniker);
  EXPECT_EQ(hr, DeviceEnumerator::ParseDeviceName(L"", &moniker));
  EXPECT_EQ(hr, devices->GetDeviceByName(L"Any", TRUE, &moniker));
  EXPECT_EQ(hr, devices->GetDeviceByName(L"Any", FALSE, &moniker));
  EXPECT_EQ(nullptr, moniker);

  EXPECT_EQ(E_INVALIDARG, devices->GetDeviceByIndex(TRUE, 10, &moniker));
  EXPECT_EQ(E_INVALIDARG, devices->GetDeviceByIndex(FALSE, 0xFFFFFFFFu, &moniker));
  EXPECT_EQ(E_POINTER, devices->GetDeviceByName(nullptr, TRUE, &moniker));
  EXPECT_EQ(E_POINTER, devices->GetDeviceByName(L"Any", TRUE, nullptr));
  EXPECT_EQ(nullptr, moniker);
  EXPECT_FALSE(DeviceEnumerator::HasVbiOutput(nullptr));
}

TEST_F(DeviceWalk, CamerasAreReportedInOrderStoredAndFoundAgain) {
  AddCamera(L"ZelvoraTest A", Camera(L"A"));
  AddCamera(L"ZelvoraTest B", Camera(L"B"));
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  ASSERT_EQ(otherCameras + 2, walk.reports.size());
  EXPECT_EQ(SystemDeviceNames(CLSID_VideoInputDeviceCategory).size(), walk.reports.size());
  ExpectReportsMatchTable(walk, 0, true);
  ASSERT_EQ(1u, walk.Named(Camera(L"A")).size());
  ASSERT_EQ(1u, walk.Named(Camera(L"B")).size());
  const int a = walk.Named(Camera(L"A"))[0].index;
  const int b = walk.Named(Camera(L"B"))[0].index;
  EXPECT_EQ(a + 1, b);  // the class's order

  // The display names are the devices' monikers' and parse back into them.
  const std::wstring display = devices->CameraDisplayName(b);
  EXPECT_EQ(0u, display.find(L"@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\"));
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, devices->GetDeviceByName(Camera(L"B").c_str(), TRUE, &moniker));
  EXPECT_EQ(display, DisplayNameOf(moniker.Get()));
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
  ASSERT_EQ(S_OK, devices->GetDeviceByIndex(TRUE, a, moniker.ReleaseAndGetAddressOf()));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(a)), DisplayNameOf(moniker.Get()));

  // Names that match nothing give the first camera listed; case matters.
  const std::wstring first = devices->CameraDisplayName(0);
  for (const WCHAR* name : {L"", L"No Such Camera", L"zelvora test camera b"}) {
    ASSERT_EQ(S_OK, devices->GetDeviceByName(name, TRUE, moniker.ReleaseAndGetAddressOf())) << name;
    EXPECT_EQ(first, DisplayNameOf(moniker.Get())) << name;
  }
  // The audio tables were not touched by a camera walk.
  EXPECT_EQ(0, devices->AudioName(0)[0]);
  EXPECT_TRUE(FAILED(devices->GetDeviceByName(Camera(L"B").c_str(), FALSE, moniker.ReleaseAndGetAddressOf())));

  // Categories 1 and 2 walk the cameras too and report their own number.
  for (int category : {1, 2}) {
    ReportCollector again;
    EXPECT_EQ(S_FALSE, devices->EnumDevices(category, &again.cell));
    ASSERT_EQ(walk.reports.size(), again.reports.size());
    ExpectReportsMatchTable(again, category, true);
  }
}

TEST_F(DeviceWalk, ANullOrEmptyCellReportsNothingAndChangesNothingElse) {
  AddCamera(L"ZelvoraTest A", Camera(L"A"));
  AddCamera(L"ZelvoraTest B", Camera(L"B"));
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, nullptr));
  DeviceEnumerator& silent = *devices;
  auto reported = std::make_unique<DeviceEnumerator>();
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, reported->EnumDevices(DeviceCategory::Camera, &walk.cell));
  for (int i = 0; i < DeviceEnumerator::kEntries; ++i) {
    EXPECT_STREQ(reported->CameraName(i), silent.CameraName(i));
    EXPECT_STREQ(reported->CameraDisplayName(i), silent.CameraDisplayName(i));
  }
  // A cell that holds no address: nothing is called.
  CallbackCell empty = 0;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &empty));
}

// The cell is read at every report: a callback that puts another function into the cell has
// the next device reported to that one.
std::vector<int> g_firstCalls;
std::vector<int> g_secondCalls;
CallbackCell* g_cell = nullptr;
void __cdecl SecondCallback(int index, const unsigned short*, int) { g_secondCalls.push_back(index); }
void __cdecl FirstCallback(int index, const unsigned short*, int) {
  g_firstCalls.push_back(index);
  *g_cell = reinterpret_cast<CallbackCell>(&SecondCallback);
}

TEST_F(DeviceWalk, TheCellIsReadAtEachReport) {
  AddCamera(L"ZelvoraTest A", Camera(L"A"));
  AddCamera(L"ZelvoraTest B", Camera(L"B"));
  AddCamera(L"ZelvoraTest C", Camera(L"C"));
  CallbackCell cell = reinterpret_cast<CallbackCell>(&FirstCallback);
  g_cell = &cell;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &cell));
  EXPECT_EQ(std::vector<int>{0}, g_firstCalls);
  ASSERT_EQ(otherCameras + 2, g_secondCalls.size());
  EXPECT_EQ(1, g_secondCalls[0]);
  g_cell = nullptr;
}

TEST_F(DeviceWalk, TenCamerasFillTheTablesAndAnEleventhIsNeitherStoredNorReported) {
  if (otherCameras != 0) GTEST_SKIP() << "the system lists cameras of its own";
  for (int i = 0; i < 11; ++i) {
    WCHAR instance[32];
    WCHAR name[8];
    wsprintfW(instance, L"ZelvoraTest %02d", i);
    wsprintfW(name, L"%02d", i);
    AddCamera(instance, Camera(name));
  }
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  ASSERT_EQ(10u, walk.reports.size());
  ExpectReportsMatchTable(walk, 0, true);
  const std::vector<std::wstring> listed = SystemDeviceNames(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(11u, listed.size());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(listed[i], walk.reports[i].name);
  EXPECT_TRUE(walk.Named(listed[10]).empty());
  // The eleventh cannot be found by name: the lookup falls back to entry 0.
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, devices->GetDeviceByName(listed[10].c_str(), TRUE, &moniker));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(0)), DisplayNameOf(moniker.Get()));
  ASSERT_EQ(S_OK, devices->GetDeviceByIndex(TRUE, 9, moniker.ReleaseAndGetAddressOf()));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(9)), DisplayNameOf(moniker.Get()));
}

TEST_F(DeviceWalk, ALongFriendlyNameIsReportedWholeAndStoredCut) {
  if (otherCameras != 0) GTEST_SKIP() << "the system lists cameras of its own";
  const std::wstring longName = Camera(L"L") + std::wstring(520 - Camera(L"L").size(), L'x');
  ASSERT_EQ(520u, longName.size());
  AddCamera(L"ZelvoraTest 1", Camera(L"Short"));
  AddCamera(L"ZelvoraTest 2", longName);
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  ASSERT_EQ(2u, walk.reports.size());
  EXPECT_EQ(longName, walk.reports[1].name);
  EXPECT_EQ(longName.substr(0, 519), devices->CameraName(1));

  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, devices->GetDeviceByName(longName.c_str(), TRUE, &moniker));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(0)), DisplayNameOf(moniker.Get()));
  ASSERT_EQ(S_OK, devices->GetDeviceByName(longName.substr(0, 519).c_str(), TRUE, moniker.ReleaseAndGetAddressOf()));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(1)), DisplayNameOf(moniker.Get()));
}

TEST_F(DeviceWalk, TwoCamerasOfOneNameAreBothListedAndTheFirstIsFound) {
  AddCamera(L"ZelvoraTest A", Camera(L"Twin"));
  AddCamera(L"ZelvoraTest B", Camera(L"Twin"));
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  const std::vector<Report> twins = walk.Named(Camera(L"Twin"));
  ASSERT_EQ(2u, twins.size());
  EXPECT_NE(std::wstring(devices->CameraDisplayName(twins[0].index)),
            std::wstring(devices->CameraDisplayName(twins[1].index)));
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, devices->GetDeviceByName(Camera(L"Twin").c_str(), TRUE, &moniker));
  EXPECT_EQ(std::wstring(devices->CameraDisplayName(twins[0].index)), DisplayNameOf(moniker.Get()));
}

TEST_F(DeviceWalk, DevicesWithAVbiOutputAreLeftOut) {
  using fakes::FakeCaptureFilter;
  fakes::ProcessClass vbi(kVbiFilter, []() -> IUnknown* {
    return static_cast<IBaseFilter*>(new FakeCaptureFilter(kVbiFilter, PIN_CATEGORY_VBI, {}));
  });
  fakes::ProcessClass capture(kCaptureFilter, []() -> IUnknown* {
    return static_cast<IBaseFilter*>(new FakeCaptureFilter(kCaptureFilter, PIN_CATEGORY_CAPTURE, {}));
  });
  ASSERT_EQ(S_OK, vbi.result);
  ASSERT_EQ(S_OK, capture.result);
  AddCamera(L"ZelvoraTest A", Camera(L"TV Card"), kVbiFilter);
  AddCamera(L"ZelvoraTest B", Camera(L"Webcam"), kCaptureFilter);
  // A device whose filter cannot be made cannot be examined: it is listed.
  AddCamera(L"ZelvoraTest C", Camera(L"Unbound"), kNoSuchFilter);

  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  EXPECT_TRUE(walk.Named(Camera(L"TV Card")).empty());
  EXPECT_EQ(1u, walk.Named(Camera(L"Webcam")).size());
  EXPECT_EQ(1u, walk.Named(Camera(L"Unbound")).size());
  EXPECT_EQ(otherCameras + 2, walk.reports.size());
  ExpectReportsMatchTable(walk, 0, true);
  for (int i = 0; i < DeviceEnumerator::kEntries; ++i) EXPECT_NE(Camera(L"TV Card"), devices->CameraName(i));

  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, DeviceEnumerator::ParseDeviceName(devices->CameraDisplayName(walk.Named(Camera(L"Webcam"))[0].index),
                                                    &moniker));
  EXPECT_FALSE(DeviceEnumerator::HasVbiOutput(moniker.Get()));
}

TEST_F(DeviceWalk, AudioInputsNamedModemAreSkipped) {
  // (Instance keys differ by more than case: registry keys ignore it.)
  AddAudioInput(L"ZelvoraTest Line 1", L"Zelvora Test Modem Line");
  AddAudioInput(L"ZelvoraTest Line 2", L"Zelvora Test modem line");
  AddAudioInput(L"ZelvoraTest Mic", L"Zelvora Test Microphone");
  ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::AudioInput, &walk.cell));
  const std::vector<std::wstring> system = SystemDeviceNames(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(1, std::count(system.begin(), system.end(), L"Zelvora Test Modem Line"));
  EXPECT_TRUE(walk.Named(L"Zelvora Test Modem Line").empty());
  EXPECT_EQ(1u, walk.Named(L"Zelvora Test modem line").size());
  ASSERT_EQ(1u, walk.Named(L"Zelvora Test Microphone").size());
  ExpectReportsMatchTable(walk, 3, false);
  EXPECT_EQ(std::min<size_t>(system.size() - 1, DeviceEnumerator::kEntries), walk.reports.size());

  const int mic = walk.Named(L"Zelvora Test Microphone")[0].index;
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(S_OK, devices->GetDeviceByName(L"Zelvora Test Microphone", FALSE, &moniker));
  EXPECT_EQ(std::wstring(devices->AudioDisplayName(mic)), DisplayNameOf(moniker.Get()));
  // Camera tables untouched.
  EXPECT_EQ(0, devices->CameraName(0)[0]);
}

TEST_F(DeviceWalk, AudioOutputsAndOtherCategoriesReportNothing) {
  AddCamera(L"ZelvoraTest A", Camera(L"A"));
  ReportCollector walk;
  // Wine's prefix has audio outputs: walked to the end, never reported or stored.
  ASSERT_FALSE(SystemDeviceNames(CLSID_AudioRendererCategory).empty());
  EXPECT_EQ(S_FALSE, devices->EnumDevices(DeviceCategory::AudioOutput, &walk.cell));
  for (int category : {static_cast<int>(DeviceCategory::AllVideo), 6, -1, 1000}) {
    EXPECT_EQ(S_OK, devices->EnumDevices(category, &walk.cell)) << category;
  }
  EXPECT_TRUE(walk.reports.empty());
  for (int i = 0; i < DeviceEnumerator::kEntries; ++i) {
    EXPECT_EQ(0, devices->CameraName(i)[0]);
    EXPECT_EQ(0, devices->AudioName(i)[0]);
  }
}

TEST(DeviceWalkEmpty, AClassWithoutDevicesIsSOkWithoutReports) {
  if (!SystemDeviceNames(CLSID_VideoInputDeviceCategory).empty()) GTEST_SKIP() << "the system lists cameras";
  auto devices = std::make_unique<DeviceEnumerator>();
  ReportCollector walk;
  EXPECT_EQ(S_OK, devices->EnumDevices(DeviceCategory::Camera, &walk.cell));
  EXPECT_TRUE(walk.reports.empty());
  EXPECT_EQ(0, devices->CameraName(0)[0]);
}

}  // namespace
}  // namespace zelvora
