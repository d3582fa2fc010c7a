// 200 build/teardown cycles of streaming graphs leave no object, no streaming thread and no
// process thread behind.
#include "devtest.h"

#include <tlhelp32.h>

namespace {

using namespace devtest;

int ProcessThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof(entry);
  int count = 0;
  DWORD self = GetCurrentProcessId();
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++count;
  CloseHandle(snapshot);
  return count;
}

void Cycle(int i) {
  // Alternating shapes: capture-only camera with a Smart Tee preview, two-pin camera, and a
  // camera with a microphone into the writer.
  Graph graph;
  ComPtr<IBaseFilter> camera = BindCamera(i % 3 == 1 ? ZVD_CAMERA_PREVIEW : ZVD_CAMERA_MAIN);
  ASSERT_TRUE(camera);
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  SampleCollector collector;
  if (i % 3 == 2) {
    ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(writer.GetAddressOf())));
    WCHAR dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"zvd_cycle.wmv";
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, writer.As(&sink));
    ASSERT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
    ASSERT_EQ(S_OK, graph.graph->AddFilter(microphone.Get(), L"Microphone"));
    ASSERT_EQ(S_OK, graph.graph->AddFilter(writer.Get(), L"Writer"));
    ASSERT_EQ(S_OK, graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr, writer.Get()));
    ASSERT_EQ(S_OK,
              graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, microphone.Get(), nullptr, writer.Get()));
  } else {
    ASSERT_TRUE(SUCCEEDED(graph.AddGrabberBranch(PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, GUID_NULL, &collector)));
  }
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  if (i % 3 != 2) WaitUntil([&] { return collector.Count() >= 1; }, 3000);
  else Sleep(40);
  graph.Teardown();
}

TEST(DeviceLeaks, TwoHundredBuildTeardownCyclesLeaveNothingBehind) {
  auto liveObjects = DeviceExport<ZvdLiveObjectCountFn>("ZvdLiveObjectCount");
  auto liveThreads = DeviceExport<ZvdStreamingThreadCountFn>("ZvdStreamingThreadCount");
  auto liveDevices = DeviceExport<ZvdGetLiveDevicesFn>("ZvdGetLiveDevices");
  ASSERT_TRUE(liveObjects && liveThreads && liveDevices);
  // One warm-up cycle: the platform's graph manager keeps worker threads of its own.
  Cycle(0);
  Cycle(1);
  Cycle(2);
  const LONG objects = liveObjects();
  const int threads = ProcessThreads();
  EXPECT_EQ(0, objects) << "nothing of the devices is held between tests";
  for (int i = 0; i < 200 && !testing::Test::HasFatalFailure(); ++i) Cycle(i);
  EXPECT_EQ(objects, liveObjects());
  EXPECT_EQ(0, liveThreads());
  ULONG count = 99;
  EXPECT_EQ(S_OK, liveDevices(nullptr, 0, &count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(WaitUntil([&] { return ProcessThreads() <= threads; }, 3000))
      << "threads: " << ProcessThreads() << " now, " << threads << " before";
}

TEST(DeviceLeaks, LiveDevicesAreListedWithReferencesTheCallerReleases) {
  auto liveDevices = DeviceExport<ZvdGetLiveDevicesFn>("ZvdGetLiveDevices");
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ULONG count = 0;
  EXPECT_EQ(S_FALSE, liveDevices(nullptr, 0, &count)) << "more devices than room";
  EXPECT_EQ(2u, count);
  IZelvoraDeviceControl* devices[4] = {};
  ASSERT_EQ(S_OK, liveDevices(devices, 4, &count));
  ASSERT_EQ(2u, count);
  ULONG kind = 0;
  WCHAR name[128];
  devices[0]->GetIdentity(&kind, name, 128);
  EXPECT_EQ(static_cast<ULONG>(ZVD_KIND_CAMERA), kind);
  EXPECT_STREQ(ZVD_CAMERA_MAIN, name);
  devices[1]->GetIdentity(&kind, name, 128);
  EXPECT_EQ(static_cast<ULONG>(ZVD_KIND_MICROPHONE), kind);
  for (ULONG i = 0; i < count; ++i) devices[i]->Release();
  EXPECT_EQ(E_POINTER, liveDevices(nullptr, 1, &count));
  EXPECT_EQ(E_POINTER, liveDevices(devices, 1, nullptr));
  camera.Reset();
  microphone.Reset();
  EXPECT_EQ(S_OK, liveDevices(nullptr, 0, &count));
  EXPECT_EQ(0u, count);
}

}  // namespace
