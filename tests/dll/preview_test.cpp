// The live preview end to end through the registered component and the virtual devices: camera
// loads, frames at the window and the callback, run/pause/stop, graph events, the running object
// table, formats and device lists as a loaded camera shows them.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"
#include "support/debug_output.h"
#include "support/device_registration.h"

#include <amvideo.h>
#include <evcode.h>
#include <vfwmsgs.h>


using namespace dlltest;
using namespace previewtest;

namespace {

// A camera instance of the test's own, registered for the object's life (listed after the
// default set: instance keys sort by name).
class ExtraDevice {
 public:
  ExtraDevice(ULONG kind, const wchar_t* instance, const wchar_t* name, const wchar_t* config,
              const wchar_t* pins = nullptr)
      : m_kind(kind), m_instance(instance) {
    auto add = DevicesExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
    result = add ? add(kind, instance, name, config, pins) : E_NOINTERFACE;
  }
  ~ExtraDevice() {
    auto remove = DevicesExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
    if (remove) remove(m_kind, m_instance.c_str());
  }
  ExtraDevice(const ExtraDevice&) = delete;
  ExtraDevice& operator=(const ExtraDevice&) = delete;
  HRESULT result;

 private:
  ULONG m_kind;
  std::wstring m_instance;
};

class Preview : public testing::Test {
 protected:
  void SetUp() override {
    camera = CreateComponent();
    ASSERT_NE(nullptr, camera.Get());
    ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
    CallbackCounter::Reset();
  }
  void TearDown() override {
    camera.Reset();
    // Destroying the component stops the devices and lets them go.
    EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; })) << StreamingThreads();
    EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << LiveDeviceObjects();
  }

  bool WaitFrames(LONG count, DWORD ms = 5000) {
    const LONG start = window.frames;
    return PumpUntil(ms, [&] { return window.frames - start >= count; });
  }

  ZvdPinStats Stats(const std::wstring& device, const GUID& category = PIN_CATEGORY_CAPTURE) {
    ZvdPinStats stats = {};
    ComPtr<IZelvoraDeviceControl> control = LiveDevice(device);
    if (control) control->GetPinStats(category, &stats);
    return stats;
  }

  Watchdog watchdog{"preview test", 120};
  RenderWindow window;
  ComPtr<IIZelvora> camera;
};

std::vector<std::string> LoadLines(const testsupport::DebugOutputCapture& capture) {
  static const char* const kLoadLines[] = {"r s", "o set", "r o", "r p", "r r", "r e", "release cooo"};
  std::vector<std::string> lines;
  for (const std::string& line : capture.Lines())
    for (const char* known : kLoadLines)
      if (line == known) lines.push_back(line);
  return lines;
}

// ---- frames ----

TEST_F(Preview, FramesArriveAtTheRequestedSizeUprightInEachPixelFormat) {
  ExtraDevice yuy2(ZVD_KIND_CAMERA, L"ZelvoraDev90 Yuy2", L"Zelvora Test YUY2 Camera", L"YUY2 320x240@30");
  ExtraDevice i420(ZVD_KIND_CAMERA, L"ZelvoraDev91 I420", L"Zelvora Test I420 Camera", L"I420 320x240@30");
  ASSERT_EQ(S_OK, yuy2.result);
  ASSERT_EQ(S_OK, i420.result);
  CallbackCounter callback;
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  window.inspect = true;

  struct Case {
    const wchar_t* name;
    int width, height;
    bool rgb;
    GUID subtype;
  } cases[] = {{ZVD_CAMERA_MAIN, 640, 480, true, MEDIASUBTYPE_RGB24},
               {L"Zelvora Test YUY2 Camera", 320, 240, false, MEDIASUBTYPE_YUY2},
               {L"Zelvora Test I420 Camera", 320, 240, false, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "camera " << std::string(c.name, c.name + wcslen(c.name)));
    window.inspected.clear();
    window.alignedRows = c.rgb;
    CallbackCounter::Reset();
    ASSERT_EQ(S_OK, camera->LoadCameraXY(W(c.name), c.width, c.height));
    EXPECT_EQ(1u, CameraState(camera.Get()));
    EXPECT_EQ(S_OK, camera->IsPlaying());
    ASSERT_TRUE(WaitFrames(4));

    // RGB24 is chosen whenever the camera offers it at the size.
    AM_MEDIA_TYPE* format = nullptr;
    ComPtr<IZelvoraDeviceControl> device = LiveDevice(c.name);
    ASSERT_NE(nullptr, device.Get());
    ASSERT_EQ(S_OK, device->GetCurrentFormat(&format));
    if (c.rgb || c.subtype != GUID{}) {
      EXPECT_TRUE(IsEqualGUID(c.subtype, format->subtype));
    }
    CoTaskMemFree(format->pbFormat);
    CoTaskMemFree(format);

    unsigned previous = 0;
    for (size_t i = 0; i < window.inspected.size(); ++i) {
      const SeenFrame& f = window.inspected[i];
      EXPECT_EQ(c.width, f.width);
      EXPECT_EQ(c.height, f.height);
      ASSERT_TRUE(f.decoded.valid) << "frame " << i;
      // A bottom-up BGR picture read bottom-up shows the marker top-left.
      EXPECT_TRUE(f.decoded.Upright()) << "frame " << i;
      if (i > 0) {
        EXPECT_GT(f.decoded.frameNumber, previous);
      }
      previous = f.decoded.frameNumber;
    }
    // The callback sees the same frames.
    EXPECT_TRUE(PumpUntil(2000, [] { return CallbackCounter::frames >= 4; }));
    EXPECT_EQ(c.width, CallbackCounter::width);
    EXPECT_EQ(c.height, CallbackCounter::height);
    EXPECT_EQ(0, CallbackCounter::nullData);
    EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  }
}

TEST_F(Preview, OddWidthRgbFramesKeepAlignedRowsAndTheCameraGetsTheRoundedImageSize) {
  ExtraDevice wide(ZVD_KIND_CAMERA, L"ZelvoraDev92 Wide", L"Zelvora Test Wide Camera", L"RGB24 642x480@30");
  ASSERT_EQ(S_OK, wide.result);
  window.inspect = true;
  window.alignedRows = true;
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Test Wide Camera"), 642, 480));
  ComPtr<IZelvoraDeviceControl> device = LiveDevice(L"Zelvora Test Wide Camera");
  ASSERT_NE(nullptr, device.Get());
  AM_MEDIA_TYPE* applied = nullptr;
  HRESULT setResult = E_FAIL;
  ASSERT_EQ(S_OK, device->GetLastSetFormat(&applied, &setResult));
  EXPECT_EQ(S_OK, setResult);
  const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(applied->pbFormat);
  EXPECT_EQ(642, vih->bmiHeader.biWidth);
  EXPECT_EQ(480, vih->bmiHeader.biHeight);
  EXPECT_EQ(644u * 480 * 3, vih->bmiHeader.biSizeImage);
  EXPECT_EQ(644u * 480 * 3, applied->lSampleSize);
  CoTaskMemFree(applied->pbFormat);
  CoTaskMemFree(applied);

  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(642, window.last.width);
  EXPECT_TRUE(window.last.decoded.Upright());
}

// Width and height in the frame header of a JPEG file; 0, 0 while there is none.
SIZE JpegSize(const std::wstring& path) {
  SIZE size = {0, 0};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return size;
  BYTE data[4096];
  DWORD read = 0;
  ReadFile(file, data, sizeof(data), &read, nullptr);
  CloseHandle(file);
  // After the start marker: segments FF xx with a big-endian length; SOF0 to SOF2 hold the size.
  for (DWORD at = 2; at + 9 <= read && data[at] == 0xFF; at += 2 + (data[at + 2] << 8 | data[at + 3])) {
    if (data[at + 1] >= 0xC0 && data[at + 1] <= 0xC2) {
      size.cy = data[at + 5] << 8 | data[at + 6];
      size.cx = data[at + 7] << 8 | data[at + 8];
      break;
    }
  }
  return size;
}

TEST_F(Preview, FramesAndSnapshotsComeAtTheSizeThePreviewPinDelivers) {
  // A preview pin that scales, as hardware ones do: 320x240 whatever size the capture pin got.
  const wchar_t* name = L"Zelvora Test Scaled Preview Camera";
  ExtraDevice scaled(ZVD_KIND_CAMERA, L"ZelvoraDev94 Scaled", name, L"YUY2 640x480@30; YUY2 1280x720@30",
                     L"preview:320x240");
  ASSERT_EQ(S_OK, scaled.result);
  CallbackCounter callback;
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  window.inspect = true;
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(name), 640, 480));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  AM_MEDIA_TYPE* format = nullptr;
  ASSERT_EQ(S_OK, LiveDevice(name)->GetCurrentFormat(&format));
  EXPECT_EQ(640, reinterpret_cast<const VIDEOINFOHEADER*>(format->pbFormat)->bmiHeader.biWidth);
  CoTaskMemFree(format->pbFormat);
  CoTaskMemFree(format);

  ASSERT_TRUE(WaitFrames(4));
  for (size_t i = 0; i < window.inspected.size(); ++i) {
    const SeenFrame& f = window.inspected[i];
    EXPECT_EQ(320, f.width);
    EXPECT_EQ(240, f.height);
    // The pattern decodes only with rows of 320 * 3 bytes.
    ASSERT_TRUE(f.decoded.valid) << "frame " << i;
    EXPECT_TRUE(f.decoded.Upright()) << "frame " << i;
    if (i > 0) {
      EXPECT_GT(f.decoded.frameNumber, window.inspected[i - 1].decoded.frameNumber);
    }
  }
  EXPECT_TRUE(PumpUntil(2000, [] { return CallbackCounter::frames >= 4; }));
  EXPECT_EQ(320, CallbackCounter::width);
  EXPECT_EQ(240, CallbackCounter::height);
  EXPECT_EQ(0, CallbackCounter::nullData);

  WCHAR folder[MAX_PATH] = L"";
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
  const std::wstring file = std::wstring(folder) + L"zelvora_scaled_preview.jpg";
  DeleteFileW(file.c_str());
  ASSERT_EQ(S_OK, camera->TakeSnap(W(file.c_str())));
  EXPECT_TRUE(PumpUntil(5000, [&] { return JpegSize(file).cx != 0; }));
  const SIZE picture = JpegSize(file);
  EXPECT_EQ(320, picture.cx);
  EXPECT_EQ(240, picture.cy);
  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  DeleteFileW(file.c_str());
}

TEST_F(Preview, ALoadWhoseFramesCannotBeReadFailsAndLeavesNothingBehind) {
  // Top-down RGB24 from the preview pin cannot reach the host bottom-up.
  const wchar_t* name = L"Zelvora Test Top-down Camera";
  ExtraDevice topDown(ZVD_KIND_CAMERA, L"ZelvoraDev97 Top-down", name, L"RGB24 640x480@30",
                      L"preview:320x240 topdown");
  ASSERT_EQ(S_OK, topDown.result);
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, camera->LoadCamera(W(name)));
  EXPECT_EQ(0u, CameraState(camera.Get()));
  EXPECT_EQ(E_POINTER, camera->GraphPlay());
  EXPECT_TRUE(FilterNames(PublishedGraph<IGraphBuilder>().Get()).empty());
  PumpUntil(300);
  EXPECT_EQ(0, window.frames);
}

// ---- loads ----

TEST_F(Preview, AnOrdinaryLoadWritesItsDebugLinesInOrderAndPublishesOneGraph) {
  ASSERT_TRUE(RotGraphEntries().empty());
  testsupport::DebugOutputCapture capture;
  ASSERT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_MAIN)));
  const std::vector<std::string> expected = {"r s", "o set", "r o", "r p", "r r", "r e"};
  EXPECT_EQ(expected, LoadLines(capture));

  // One entry, "!FilterGraph XXXXXXXX pid pppppppp".
  std::vector<std::wstring> entries = RotGraphEntries();
  ASSERT_EQ(1u, entries.size());
  wchar_t pid[16];
  swprintf(pid, 16, L"%08lx", GetCurrentProcessId());
  ASSERT_EQ(34u, entries[0].size());
  EXPECT_EQ(L"!FilterGraph ", entries[0].substr(0, 13));
  EXPECT_EQ(std::wstring::npos, entries[0].substr(13, 8).find_first_not_of(L"0123456789ABCDEF"));
  EXPECT_EQ(std::wstring(L" pid ") + pid, entries[0].substr(21));

  // The graph as built: source, Smart Tee for the capture-only camera, grabber, renderer.
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(1, CountOf(filters, L"Video Source Filter"));
  EXPECT_EQ(1, CountOf(filters, L"SampleGrabber"));
  EXPECT_EQ(1, CountOf(filters, L"Video Renderer"));
  EXPECT_EQ(0, CountOf(filters, L"Audio Source Filter"));
  EXPECT_TRUE(WaitFrames(2));

  // ReleaseCamera revokes the entry once; a reload reuses the graph without publishing it again.
  capture.Clear();
  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(1, capture.Count("release cooo"));
  EXPECT_TRUE(RotGraphEntries().empty());
  EXPECT_EQ(0u, CameraState(camera.Get()));
  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_MAIN)));
  EXPECT_TRUE(RotGraphEntries().empty());
  EXPECT_TRUE(WaitFrames(2));
  // A load without a size asks the camera for 640x480 as long as no size was set.
  EXPECT_EQ(640, window.last.width);
  EXPECT_EQ(480, window.last.height);
}

TEST_F(Preview, DestroyingTheObjectRevokesItsEntryAndStopsTheRunningCamera) {
  ASSERT_EQ(S_OK, camera->LoadCamera(nullptr));
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(1u, RotGraphEntries().size());
  EXPECT_GT(StreamingThreads(), 0);
  camera.Reset();  // no ReleaseCamera first
  EXPECT_TRUE(RotGraphEntries().empty());
  EXPECT_EQ(0, StreamingThreads());
  EXPECT_EQ(0, LiveDeviceObjects());
}

TEST_F(Preview, NamesThatMatchNoCameraOpenTheFirstOne) {
  for (const wchar_t* name : {L"No Such Camera", L"", static_cast<const wchar_t*>(nullptr)}) {
    EXPECT_EQ(S_OK, camera->LoadCamera(W(name)));
    EXPECT_NE(nullptr, LiveDevice(ZVD_CAMERA_MAIN).Get());
    EXPECT_TRUE(WaitFrames(1));
    EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  }
  // The VBI tuner is no camera: naming it opens the first camera too.
  EXPECT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_TVTUNER)));
  EXPECT_EQ(nullptr, LiveDevice(ZVD_CAMERA_TVTUNER).Get());
  EXPECT_NE(nullptr, LiveDevice(ZVD_CAMERA_MAIN).Get());
}

TEST_F(Preview, LoadWhileRunningFailsThenSucceedsAfterStopOrPause) {
  ASSERT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_MAIN)));
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(E_FAIL, camera->LoadCamera(W(ZVD_CAMERA_PREVIEW)));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_EQ(nullptr, LiveDevice(ZVD_CAMERA_PREVIEW).Get());  // nothing bound
  EXPECT_TRUE(WaitFrames(2));                               // still running

  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_PREVIEW)));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_TRUE(WaitFrames(2));

  // After a pause the old filters must leave the graph as well.
  EXPECT_TRUE(SUCCEEDED(camera->GraphPause()));
  EXPECT_EQ(2u, CameraState(camera.Get()));
  EXPECT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_MAIN)));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(1, CountOf(filters, L"Video Source Filter"));
  EXPECT_EQ(1, CountOf(filters, L"SampleGrabber"));
  EXPECT_EQ(4u, filters.size());  // source, Smart Tee, grabber, renderer
  EXPECT_TRUE(WaitFrames(2));
  // The replaced cameras are gone.
  EXPECT_TRUE(PumpUntil(2000, [] { return LiveDevice(ZVD_CAMERA_PREVIEW) == nullptr; }));
  EXPECT_EQ(1u, LiveDevices(ZVD_CAMERA_MAIN).size());
}

TEST_F(Preview, LoadCameraXYRetriesOnceWithTheFirstCamera) {
  // A device whose filter class does not exist does not bind: the load fails.
  const CLSID missingClass = {0x5a1e0b7c, 0x2d3f, 0x4c8e, {0x9a, 0x61, 0x0e, 0x52, 0x7b, 0x13, 0xc4, 0xd9}};
  devicetest::RegisteredDevice broken(CLSID_VideoInputDeviceCategory, missingClass, L"ZelvoraDev93 Broken",
                                      L"Zelvora Broken Camera");
  ASSERT_EQ(S_OK, broken.result);
  EXPECT_TRUE(FAILED(camera->LoadCamera(W(L"Zelvora Broken Camera"))));
  EXPECT_EQ(0u, CameraState(camera.Get()));

  testsupport::DebugOutputCapture capture;
  EXPECT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Broken Camera"), 320, 240));
  EXPECT_EQ(1, capture.Count("release cooo"));
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(320, window.last.width);
  EXPECT_NE(nullptr, LiveDevice(ZVD_CAMERA_MAIN).Get());

  // While running the named load fails, so the first camera is reloaded at the new size.
  capture.Clear();
  EXPECT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_PREVIEW), 640, 480));
  EXPECT_EQ(1, capture.Count("release cooo"));
  EXPECT_EQ(nullptr, LiveDevice(ZVD_CAMERA_PREVIEW).Get());
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(640, window.last.width);
  EXPECT_EQ(480, window.last.height);

  // Positive results are no failure: no retry.
  capture.Clear();
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_EQ(8, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 800, 600));
  EXPECT_EQ(0, capture.Count("release cooo"));
}

TEST_F(Preview, LoadsThatFindNoUsableFormatLeaveNothingBehind) {
  // A size the camera does not offer: 8, state 0, nothing running.
  EXPECT_EQ(8, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 800, 600));
  EXPECT_EQ(0u, CameraState(camera.Get()));
  EXPECT_EQ(E_FAIL, camera->IsPlaying());
  // No half-built graph is left to run.
  EXPECT_EQ(E_POINTER, camera->GraphPlay());
  EXPECT_TRUE(FilterNames(PublishedGraph<IGraphBuilder>().Get()).empty());
  // The camera stays bound: its sizes can be listed.
  WCHAR sizes[512] = L"";
  EXPECT_EQ(S_OK, camera->EnumSupportXy(W(L"RGB24"), reinterpret_cast<unsigned short*>(sizes)));
  EXPECT_EQ(std::wstring(L"320*240;640*480;1280*720;1920*1080;"), sizes);

  // Only FORMAT_VideoInfo2: 7.
  EXPECT_EQ(7, camera->LoadCameraXY(W(ZVD_CAMERA_VIDEOINFO2), 640, 480));
  EXPECT_EQ(0u, CameraState(camera.Get()));
  EXPECT_TRUE(FilterNames(PublishedGraph<IGraphBuilder>().Get()).empty());

  // The next load builds from empty.
  EXPECT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(1, CountOf(filters, L"Video Source Filter"));
  EXPECT_EQ(1, CountOf(filters, L"Video Renderer"));
  EXPECT_TRUE(WaitFrames(2));
  EXPECT_EQ(0u, LiveDevices(ZVD_CAMERA_VIDEOINFO2).size());
}

// ---- audio ----

TEST_F(Preview, UnknownMicrophoneNameUsesTheFirstMicrophone) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 640, 480, W(L"No Such Microphone")));
  EXPECT_NE(nullptr, LiveDevice(ZVD_MICROPHONE_MAIN).Get());
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(1, CountOf(filters, L"Audio Source Filter"));
  EXPECT_EQ(2, static_cast<int>(std::count_if(filters.begin(), filters.end(), [](const std::wstring& n) {
              return n.rfind(L"Video Renderer", 0) == 0;
            })));
  EXPECT_TRUE(WaitFrames(2));
  // The microphone's branch runs into its null renderer.
  EXPECT_TRUE(PumpUntil(3000, [&] { return Stats(ZVD_MICROPHONE_MAIN).samplesDelivered > 0; }));
}

TEST_F(Preview, Mpeg2AndInterleavedCamerasBindTheMicrophoneButLeaveItOut) {
  for (const wchar_t* name : {ZVD_CAMERA_MPEG2, ZVD_CAMERA_INTERLEAVED}) {
    SCOPED_TRACE(testing::Message() << std::string(name, name + wcslen(name)));
    testsupport::DebugOutputCapture capture;
    ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(name), 640, 480, W(ZVD_MICROPHONE_MAIN)));
    EXPECT_EQ(0, capture.Count("o set"));  // the sound travels with the video
    EXPECT_NE(nullptr, LiveDevice(ZVD_MICROPHONE_MAIN).Get());
    std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
    EXPECT_EQ(0, CountOf(filters, L"Audio Source Filter"));
    EXPECT_EQ(1, CountOf(filters, L"Video Renderer"));
    EXPECT_TRUE(WaitFrames(2));
    EXPECT_EQ(0u, Stats(ZVD_MICROPHONE_MAIN).samplesDelivered);
    EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  }
}

// ---- preview paths ----

TEST_F(Preview, PreviewPinAndSmartTeePathsBothDeliver) {
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_PREVIEW), 320, 240));
  EXPECT_TRUE(WaitFrames(3));
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(3u, filters.size());  // straight from the preview pin: no tee
  EXPECT_GT(Stats(ZVD_CAMERA_PREVIEW, PIN_CATEGORY_PREVIEW).samplesDelivered, 0u);
  EXPECT_EQ(0u, Stats(ZVD_CAMERA_PREVIEW, PIN_CATEGORY_CAPTURE).connected);
  EXPECT_EQ(320, window.last.width);
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));

  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  EXPECT_TRUE(WaitFrames(3));
  filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(4u, filters.size());  // the capture pin feeds a Smart Tee
  EXPECT_EQ(1u, Stats(ZVD_CAMERA_MAIN).connected);
}

TEST_F(Preview, VideoPortCameraRunsWithoutAGrabberAndWithoutFrames) {
  CallbackCounter callback;
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  ASSERT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_VIDEOPORT)));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  std::vector<std::wstring> filters = FilterNames(PublishedGraph<IGraphBuilder>().Get());
  EXPECT_EQ(0, CountOf(filters, L"SampleGrabber"));
  EXPECT_TRUE(PumpUntil(3000, [&] { return Stats(ZVD_CAMERA_VIDEOPORT).samplesDelivered >= 3; }));
  EXPECT_EQ(0, window.frames);
  EXPECT_EQ(0, CallbackCounter::frames);
}

// ---- run, pause, stop ----

TEST_F(Preview, PlayPauseStopKeepTheirStates) {
  EXPECT_EQ(E_POINTER, camera->GraphPlay());  // nothing loaded
  EXPECT_TRUE(SUCCEEDED(camera->GraphPause()));
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_EQ(0u, CameraState(camera.Get()));

  ASSERT_EQ(S_OK, camera->LoadCamera(nullptr));
  EXPECT_EQ(S_OK, camera->GraphPlay());  // already running: nothing done
  EXPECT_EQ(S_OK, camera->GraphPlay());
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_TRUE(SUCCEEDED(camera->GraphPause()));
  EXPECT_EQ(2u, CameraState(camera.Get()));
  EXPECT_EQ(E_FAIL, camera->IsPlaying());
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));  // paused: nothing done
  EXPECT_EQ(2u, CameraState(camera.Get()));
  const LONG paused = window.frames;
  PumpUntil(300);
  EXPECT_LE(window.frames - paused, 1);
  EXPECT_TRUE(SUCCEEDED(camera->GraphPlay()));
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_EQ(S_OK, camera->IsPlaying());
  EXPECT_TRUE(WaitFrames(2));
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_EQ(3u, CameraState(camera.Get()));
  EXPECT_TRUE(SUCCEEDED(camera->GraphPlay()));
  EXPECT_TRUE(WaitFrames(2));
}

// ---- events ----

class PreviewEvents : public Preview {
 protected:
  // Waits for the notification, then drains: the result and the host's variable.
  unsigned long Drain(unsigned long* detail) {
    unsigned long result = 0xDEAD;
    EXPECT_EQ(S_OK, camera->OnGraphError(&result, detail));
    return result;
  }
  bool Notified(LONG before) {
    return PumpUntil(3000, [&] { return window.notifications > before; });
  }
  ComPtr<IMediaEventSink> Sink() {
    ComPtr<IMediaEventSink> sink;
    ComPtr<IGraphBuilder> graph = PublishedGraph<IGraphBuilder>();
    if (graph) graph.As(&sink);
    return sink;
  }
};

TEST_F(PreviewEvents, LostAndReturningDevicesAreReportedInTwoBytes) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  ASSERT_TRUE(WaitFrames(1));
  unsigned long detail = 0xA5A5A5A5;
  EXPECT_EQ(0u, Drain(&detail));  // whatever the start queued is consumed
  EXPECT_EQ(0xA5A50000u, detail);

  // The camera goes away.
  LONG before = window.notifications;
  ASSERT_EQ(S_OK, LiveDevice(ZVD_CAMERA_MAIN)->SignalDeviceLost(FALSE));
  EXPECT_TRUE(Notified(before));
  detail = 0xA5A5A5A5;
  EXPECT_EQ(0x1Fu, Drain(&detail));
  EXPECT_EQ(0xA5A50001u, detail);  // byte 0 = 1, byte 1 = 0, bytes 2 and 3 untouched
  EXPECT_EQ(1u, CameraState(camera.Get()));

  // It comes back.
  before = window.notifications;
  ASSERT_EQ(S_OK, LiveDevice(ZVD_CAMERA_MAIN)->SignalDeviceLost(TRUE));
  EXPECT_TRUE(Notified(before));
  detail = 0xA5A5A5A5;
  EXPECT_EQ(0x1Fu, Drain(&detail));
  EXPECT_EQ(0xA5A50100u, detail);

  // The microphone goes away.
  before = window.notifications;
  ASSERT_EQ(S_OK, LiveDevice(ZVD_MICROPHONE_MAIN)->SignalDeviceLost(FALSE));
  EXPECT_TRUE(Notified(before));
  detail = 0xFFFFFFFF;
  EXPECT_EQ(0x1Fu, Drain(&detail));
  EXPECT_EQ(0xFFFF0000u, detail);
  EXPECT_EQ(0u, Drain(&detail));
  EXPECT_EQ(1u, CameraState(camera.Get()));
}

TEST_F(PreviewEvents, OtherFiltersAbortsAndLaterEventsAreDrainedAsDue) {
  ASSERT_EQ(S_OK, camera->LoadCamera(W(ZVD_CAMERA_MAIN)));
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  unsigned long detail = 0;
  Drain(&detail);
  ComPtr<IMediaEventSink> sink = Sink();
  ASSERT_NE(nullptr, sink.Get());
  testsupport::DebugOutputCapture capture;

  // A lost device that is neither source is consumed.
  ComPtr<IBaseFilter> stranger;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZelvoraVirtualCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(stranger.GetAddressOf())));
  ASSERT_EQ(S_OK, sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(stranger.Get()), 0));
  EXPECT_EQ(0u, Drain(&detail));
  EXPECT_EQ(1, capture.Count("33"));
  EXPECT_EQ(0, capture.Count("55"));
  stranger.Reset();

  // An abort, then a completion: 3, and the queue is empty afterwards.
  ASSERT_EQ(S_OK, sink->Notify(EC_ERRORABORT, E_FAIL, 0));
  ASSERT_EQ(S_OK, sink->Notify(EC_COMPLETE, S_OK, 0));
  EXPECT_EQ(3u, Drain(&detail));
  EXPECT_EQ(1, capture.Count("11"));
  EXPECT_EQ(0u, Drain(&detail));
  EXPECT_EQ(1u, CameraState(camera.Get()));

  // Events after a device event stay queued for the next call.
  capture.Clear();
  ASSERT_EQ(S_OK, LiveDevice(ZVD_CAMERA_MAIN)->SignalDeviceLost(FALSE));
  ASSERT_EQ(S_OK, sink->Notify(EC_USER + 7, 1, 2));
  EXPECT_EQ(0x1Fu, Drain(&detail));
  EXPECT_EQ(0, capture.Count("Event 8007 1 2"));
  EXPECT_EQ(0u, Drain(&detail));
  EXPECT_EQ(1, capture.Count("Event 8007 1 2"));
}

TEST_F(PreviewEvents, NotifyWindowBeforeAnyLoadIsAcceptedAndIgnored) {
  EXPECT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  unsigned long result = 7, detail = 0xFFFFFFFF;
  EXPECT_EQ(S_OK, camera->OnGraphError(&result, &detail));
  EXPECT_EQ(0u, result);
  EXPECT_EQ(0xFFFF0000u, detail);
  EXPECT_EQ(E_POINTER, camera->OnGraphError(&result, nullptr));
}

TEST_F(PreviewEvents, TheNotifyWindowIsKeptForEveryGraphEvenAfterAFailedLoad) {
  // Named before any load, and again after a load that found no usable format.
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  ASSERT_EQ(8, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 333, 333));
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  ASSERT_TRUE(WaitFrames(1));
  unsigned long detail = 0;
  Drain(&detail);
  const LONG before = window.notifications;
  ASSERT_EQ(S_OK, LiveDevice(ZVD_CAMERA_MAIN)->SignalDeviceLost(FALSE));
  EXPECT_TRUE(Notified(before)) << "the successful load posts to the window";
  EXPECT_EQ(0x1Fu, Drain(&detail));
}

TEST_F(PreviewEvents, EventsOfAnEarlierLoadAreNotReportedAgainstTheNextOne) {
  for (const bool reload : {false, true}) {
    SCOPED_TRACE(reload ? "reload while running" : "ReleaseCamera, then load");
    ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
    ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
    ASSERT_TRUE(WaitFrames(1));
    unsigned long detail = 0;
    Drain(&detail);
    // The camera reports itself lost; the host replaces it before draining. The event names a
    // filter that is gone by then.
    const LONG before = window.notifications;
    ASSERT_EQ(S_OK, LiveDevice(ZVD_CAMERA_MAIN)->SignalDeviceLost(FALSE));
    ASSERT_TRUE(Notified(before));
    if (reload) {
      ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));  // released and loaded again
    } else {
      ASSERT_EQ(S_OK, camera->ReleaseCamera());
      ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
    }
    ASSERT_TRUE(WaitFrames(1));
    detail = 0xFFFFFFFF;
    EXPECT_EQ(0u, Drain(&detail)) << "the new camera was not lost";
    EXPECT_EQ(0xFFFF0000u, detail);
    EXPECT_EQ(1u, CameraState(camera.Get()));
    ASSERT_EQ(S_OK, camera->ReleaseCamera());
  }
}

// ---- devices and formats as a loaded camera shows them ----

TEST_F(Preview, DeviceListsSkipTheTunerAndModemsAndNameTheLoadableCameras) {
  ComPtr<IDevice> devices;
  ASSERT_EQ(S_OK, camera.As(&devices));
  devicetest::ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumCameraDevice(&walk.cell));
  EXPECT_TRUE(walk.Named(ZVD_CAMERA_TVTUNER).empty());
  ASSERT_FALSE(walk.reports.empty());
  EXPECT_EQ(std::wstring(ZVD_CAMERA_MAIN), walk.reports[0].name);
  for (size_t i = 0; i < walk.reports.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i), walk.reports[i].index);
    EXPECT_EQ(0, walk.reports[i].category);
  }
  devicetest::ReportCollector microphones;
  EXPECT_EQ(S_FALSE, devices->EnumAudioInputDevice(&microphones.cell));
  EXPECT_EQ(1u, microphones.Named(ZVD_MICROPHONE_MAIN).size());
  EXPECT_TRUE(microphones.Named(ZVD_MICROPHONE_MODEM).empty());
  EXPECT_EQ(1u, microphones.Named(ZVD_MICROPHONE_LOWER_MODEM).size());
}

TEST_F(Preview, TwoCamerasAreReportedAndEachLoadsByName) {
  devicetest::VirtualDevicesRemoved onlyOurs;
  ExtraDevice first(ZVD_KIND_CAMERA, L"ZelvoraDev01 First", L"Zelvora Camera One", L"YUY2 320x240@30");
  ExtraDevice second(ZVD_KIND_CAMERA, L"ZelvoraDev02 Second", L"Zelvora Camera Two", L"I420 320x240@30");
  ASSERT_EQ(S_OK, first.result);
  ASSERT_EQ(S_OK, second.result);
  if (devicetest::SystemDeviceNames(CLSID_VideoInputDeviceCategory).size() != 2)
    GTEST_SKIP() << "the system lists cameras of its own";
  ComPtr<IDevice> devices;
  ASSERT_EQ(S_OK, camera.As(&devices));
  devicetest::ReportCollector walk;
  EXPECT_EQ(S_FALSE, devices->EnumCameraDevice(&walk.cell));
  ASSERT_EQ(2u, walk.reports.size());
  EXPECT_EQ(0, walk.reports[0].index);
  EXPECT_EQ(L"Zelvora Camera One", walk.reports[0].name);
  EXPECT_EQ(0, walk.reports[0].category);
  EXPECT_EQ(1, walk.reports[1].index);
  EXPECT_EQ(L"Zelvora Camera Two", walk.reports[1].name);
  EXPECT_EQ(0, walk.reports[1].category);

  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(L"Zelvora Camera Two"), 320, 240));
  EXPECT_NE(nullptr, LiveDevice(L"Zelvora Camera Two").Get());
  EXPECT_EQ(nullptr, LiveDevice(L"Zelvora Camera One").Get());
  EXPECT_TRUE(WaitFrames(2));
  EXPECT_EQ(S_OK, camera->ReleaseCamera());

  // Without a virtual microphone the first audio input is the platform's own, which has no
  // pins: its branch stays unconnected and the video runs on.
  testsupport::DebugOutputCapture capture;
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(L"Zelvora Camera One"), 320, 240, nullptr));
  EXPECT_NE(nullptr, LiveDevice(L"Zelvora Camera One").Get());
  EXPECT_EQ(1, capture.Count("r e"));
  EXPECT_TRUE(WaitFrames(2));
  camera.Reset();  // the devices go before the default set comes back
}

TEST_F(Preview, FormatsAndSizesOfTheLoadedCamera) {
  WCHAR buffer[512] = L"";
  unsigned short* text = reinterpret_cast<unsigned short*>(buffer);
  EXPECT_EQ(E_POINTER, camera->EnumSupportFormat(text));
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(W(L"YUY2"), text));

  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MJPG), 640, 480));
  EXPECT_EQ(S_OK, camera->EnumSupportFormat(text));
  EXPECT_EQ(std::wstring(L"YUY2;Unknown;"), buffer);
  buffer[0] = 0;
  EXPECT_EQ(S_OK, camera->EnumSupportXy(W(L"yuy2"), text));
  EXPECT_EQ(std::wstring(L"640*480;320*240;1280*720;"), buffer);  // the VideoInfo2 entry is not listed
  wcscpy(buffer, L"kept");
  EXPECT_EQ(E_FAIL, camera->EnumSupportXy(W(L"Unknown"), text));
  EXPECT_EQ(E_FAIL, camera->EnumSupportXy(W(L"MJPG"), text));
  EXPECT_EQ(std::wstring(L"kept"), buffer);
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));

  // Sizes listed as often as the camera lists them.
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  buffer[0] = 0;
  EXPECT_EQ(S_OK, camera->EnumSupportXy(W(L"YUY2"), text));
  EXPECT_EQ(std::wstring(L"320*240;640*480;1280*720;1920*1080;1920*1080;640*480;"), buffer);
  buffer[0] = 0;
  EXPECT_EQ(S_OK, camera->EnumSupportFormat(text));
  EXPECT_EQ(std::wstring(L"RGB24;YUY2;I420;"), buffer);
}

}  // namespace
