// Recording through the registered component: the virtual camera and microphone, the stand-in
// WM ASF Writer's record of what reached it, and the preview that runs on beside the recording.
#include <windows.h>
#include <strmif.h>
#include <uuids.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"
#include "framepattern.h"
#include "playback/reader_race.h"
#include "testdevices.h"

using namespace dlltest;

namespace {

std::atomic<long> g_frames(0);
void __cdecl CountFrame(RenderFrame*, int, int) { ++g_frames; }
CallbackCell g_frameCell = 0;  // the host variable that holds the callback's address

// Waits up to `ms` for `done()`, pumping messages.
template <typename Pred>
bool WaitUntil(Pred done, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
  return true;
}

// Frames keep reaching the host's callback.
bool FramesFlow(long count = 5, DWORD ms = 3000) {
  const long start = g_frames.load();
  return WaitUntil([&] { return g_frames.load() >= start + count; }, ms);
}

// No frame for a while.
bool FramesStopped() {
  Sleep(150);  // a frame on its way may still arrive
  const long start = g_frames.load();
  Sleep(300);
  return g_frames.load() == start;
}

// The filters of a class in the camera graph.
std::vector<ComPtr<IBaseFilter>> FiltersOf(REFCLSID wanted) {
  std::vector<ComPtr<IBaseFilter>> writers;
  ComPtr<IFilterGraph> graph = previewtest::PublishedGraph<IFilterGraph>();
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return writers;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    CLSID clsid = GUID_NULL;
    if (SUCCEEDED(filter->GetClassID(&clsid)) && IsEqualGUID(clsid, wanted)) writers.push_back(filter);
  }
  return writers;
}

std::vector<ComPtr<IBaseFilter>> Writers() { return FiltersOf(CLSID_WMAsfWriter); }

// Whether the writer's input pin of that name is connected.
bool InputConnected(IBaseFilter* writer, const wchar_t* pinName) {
  ComPtr<IPin> pin, peer;
  return writer && SUCCEEDED(writer->FindPin(pinName, &pin)) && SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
}

// The stand-in writer's record: its "input" lines by pin name, as key=value maps.
struct WriterRecord {
  bool exists = false;
  std::string text;
  std::map<std::string, std::map<std::string, std::string>> inputs;
  long long Number(const std::string& pin, const std::string& key) const {
    auto input = inputs.find(pin);
    if (input == inputs.end()) return -1;
    auto value = input->second.find(key);
    return value == input->second.end() ? -1 : atoll(value->second.c_str());
  }
};

// The stand-in writes its record beside the ASF file (testdevices.h); a name past MAX_PATH
// takes the long-path form.
std::wstring RecordName(const std::wstring& path) {
  const std::wstring record = path + L".record.txt";
  return record.size() < MAX_PATH ? record : L"\\\\?\\" + record;
}

WriterRecord ReadRecord(const std::wstring& path) {
  WriterRecord record;
  HANDLE file = CreateFileW(RecordName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return record;
  record.exists = true;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read) record.text.append(buffer, read);
  CloseHandle(file);
  std::istringstream lines(record.text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 6, "input ") != 0) continue;
    const size_t open = line.find("pin=\""), close = line.find('"', open + 5);
    if (open == std::string::npos || close == std::string::npos) continue;
    std::map<std::string, std::string>& values = record.inputs[line.substr(open + 5, close - open - 5)];
    std::istringstream words(line.substr(close + 1));
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      if (eq != std::string::npos) values[word.substr(0, eq)] = word.substr(eq + 1);
    }
  }
  return record;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The live virtual microphone's control interface.
ComPtr<IZelvoraDeviceControl> LiveMicrophone() {
  HMODULE module = GetModuleHandleW(ZVD_DLL_NAME);
  auto live = module ? reinterpret_cast<ZvdGetLiveDevicesFn>(
                           reinterpret_cast<void*>(GetProcAddress(module, "ZvdGetLiveDevices")))
                     : nullptr;
  if (!live) return nullptr;
  IZelvoraDeviceControl* devices[16] = {};
  ULONG count = 0;
  ComPtr<IZelvoraDeviceControl> microphone;
  if (SUCCEEDED(live(devices, 16, &count))) {
    for (ULONG i = 0; i < count && i < 16; ++i) {
      ULONG kind = 0;
      if (!microphone && SUCCEEDED(devices[i]->GetIdentity(&kind, nullptr, 0)) && kind == ZVD_KIND_MICROPHONE)
        microphone = devices[i];
      devices[i]->Release();
    }
  }
  return microphone;
}

class Recording : public testing::Test {
 protected:
  void SetUp() override {
    WCHAR temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    folder = std::wstring(temp) + L"zelvora-rec-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    camera = CreateComponent();
    ASSERT_NE(nullptr, camera.Get());
    g_frameCell = reinterpret_cast<CallbackCell>(&CountFrame);
    ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&g_frameCell));
  }
  void TearDown() override {
    camera.Reset();
    for (const std::wstring& file : files) {
      DeleteFileW(file.c_str());
      DeleteFileW(RecordName(file).c_str());
    }
    RemoveDirectoryW(folder.c_str());
  }
  std::wstring File(const std::wstring& name) {
    files.push_back(folder + L"\\" + name);
    return files.back();
  }
  unsigned long State() {
    unsigned long state = 99;
    camera->GetCurrentCameraState(&state);
    return state;
  }

  WriterRecord RecordThroughConverter(const wchar_t* name, const wchar_t* subtype, const CLSID& between);

  std::wstring folder;
  std::vector<std::wstring> files;
  ComPtr<IIZelvora> camera;
};

// The platform's DMO Wrapper filter, which hosts the colour converter.
const CLSID kDmoWrapperFilter = {0x94297043, 0xbd82, 0x4dfd, {0xb0, 0xde, 0x81, 0x77, 0x73, 0x9c, 0x6d, 0x20}};

TEST_F(Recording, CameraAndMicrophoneAreRecordedWhileThePreviewRunsOn) {
  EXPECT_EQ(S_FALSE, camera->SetCaptureMaxTime(0)) << "no recording yet";
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 640, 480, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());

  const std::wstring path = File(L"both.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture2(W(path.c_str()), 0.6));
  EXPECT_EQ(S_OK, camera->SetCaptureMaxTime(0)) << "the recording has audio";
  EXPECT_EQ(S_OK, camera->SetCaptureMaxSize(1));
  std::vector<ComPtr<IBaseFilter>> writers = Writers();
  ASSERT_EQ(1u, writers.size());
  EXPECT_TRUE(InputConnected(writers[0].Get(), L"Video Input 01"));
  EXPECT_TRUE(InputConnected(writers[0].Get(), L"Audio Input 01"));
  writers.clear();
  EXPECT_TRUE(FramesFlow(15)) << "the preview goes on while recording";
  EXPECT_EQ(S_OK, camera->IsPlaying());

  // Wine's mixer 0 is a playback device with no microphone or line source: nothing tells which
  // input is the one to hear, and every input of the microphone is left as it was.
  ComPtr<IZelvoraDeviceControl> microphone = LiveMicrophone();
  ASSERT_NE(nullptr, microphone.Get());
  ULONG inputs = 0;
  ASSERT_EQ(S_OK, microphone->GetMixerInputCount(&inputs));
  EXPECT_EQ(3u, inputs);
  for (ULONG i = 0; i < inputs; ++i) {
    ZvdMixerInput input = {};
    ASSERT_EQ(S_OK, microphone->GetMixerInput(i, &input));
    EXPECT_TRUE(input.enabled) << i;
    EXPECT_EQ(0u, input.enableCalls) << i;
    EXPECT_EQ(0u, input.mixLevelCalls) << i;
  }
  microphone.Reset();

  ASSERT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(Writers().empty()) << "the writer left the graph";
  EXPECT_EQ(S_OK, camera->IsPlaying());
  EXPECT_EQ(1u, State());
  EXPECT_TRUE(FramesFlow()) << "the preview runs on";
  EXPECT_EQ(S_OK, camera->SetCaptureMaxTime(0)) << "still the last recording's answer";

  // The size limit of one megabyte stopped nothing: the record holds far more.
  const WriterRecord record = ReadRecord(path);
  ASSERT_TRUE(record.exists);
  EXPECT_NE(std::string::npos, record.text.find("ZELVORA-ASF-STANDIN 1")) << record.text;
  EXPECT_EQ(1, record.Number("Video Input 01", "connected")) << record.text;
  EXPECT_EQ(1, record.Number("Audio Input 01", "connected")) << record.text;
  EXPECT_GT(record.Number("Video Input 01", "samples"), 10) << record.text;
  EXPECT_GT(record.Number("Audio Input 01", "samples"), 2) << record.text;
  EXPECT_GT(record.Number("Video Input 01", "bytes"), 1 << 20) << record.text;
  EXPECT_EQ(1, record.Number("Video Input 01", "inorder")) << record.text;
}

// Opens the camera of that name by its id at `subtype` 640x480 and 30 frames/s, with the main
// microphone (Wine cannot build a video-only profile, and the writer runs only with both of its
// default inputs fed), records for half a second while the preview runs on, and gives back the
// writer's record. The graph must put one filter of class `between` before the writer, and take
// it out with the writer.
WriterRecord Recording::RecordThroughConverter(const wchar_t* name, const wchar_t* subtype, const CLSID& between) {
  ComPtr<ICameraMode> modes;
  EXPECT_EQ(S_OK, camera.As(&modes));
  if (!modes) return WriterRecord();
  int count = 0;
  EXPECT_EQ(S_OK, modes->GetCameraCount(&count));
  std::wstring id;
  for (int i = 0; i < count && id.empty(); ++i) {
    BSTR cameraName = nullptr, device = nullptr;
    EXPECT_EQ(S_OK, modes->GetCameraId(i, &cameraName, &device));
    if (cameraName && std::wstring(cameraName) == name) id = device;
    SysFreeString(cameraName);
    SysFreeString(device);
  }
  EXPECT_FALSE(id.empty()) << "camera listed";
  EXPECT_EQ(S_OK, modes->LoadCameraMode(W(id.c_str()), W(subtype), 640, 480, 30, W(ZVD_MICROPHONE_MAIN)));
  EXPECT_TRUE(FramesFlow());

  const std::wstring path = File(std::wstring(subtype) + L".wmv");
  EXPECT_EQ(S_OK, camera->StartCapture(W(path.c_str())));
  std::vector<ComPtr<IBaseFilter>> writers = Writers();
  EXPECT_EQ(1u, writers.size());
  if (!writers.empty()) {
    EXPECT_TRUE(InputConnected(writers[0].Get(), L"Video Input 01"));
  }
  writers.clear();
  EXPECT_EQ(1u, FiltersOf(between).size());
  EXPECT_TRUE(FramesFlow(15)) << "the preview goes on while recording";
  EXPECT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(Writers().empty());
  EXPECT_TRUE(FiltersOf(between).empty()) << "the inserted filter left with the writer";
  EXPECT_EQ(S_OK, camera->IsPlaying());
  EXPECT_TRUE(FramesFlow()) << "the preview runs on";
  return ReadRecord(path);
}

TEST_F(Recording, AnMjpgLoadIsRecordedThroughTheMjpegDecompressorAndThePreviewRunsOn) {
  // A camera that sends MJPG only: the graph puts the MJPEG Decompressor between its capture
  // stream and the writer, which takes no MJPG.
  previewtest::ScopedTestCamera mjpg(L"ZelvoraDev86 MJPG Only", L"Zelvora MJPG Only Camera", L"MJPG 640x480@30",
                                     L"first:300");
  ASSERT_TRUE(mjpg.registered);
  const WriterRecord record = RecordThroughConverter(L"Zelvora MJPG Only Camera", L"MJPG", CLSID_MjpegDec);
  ASSERT_TRUE(record.exists);
  // Every picture recorded, in order, decoded: the frame numbers count on from the first.
  const long long samples = record.Number("Video Input 01", "samples");
  EXPECT_GT(samples, 10) << record.text;
  EXPECT_EQ(640LL * 480 * 3 * samples, record.Number("Video Input 01", "bytes")) << record.text;
  EXPECT_EQ(480, record.Number("Video Input 01", "height")) << record.text;
  EXPECT_EQ(300, record.Number("Video Input 01", "firstframe")) << record.text;
  EXPECT_EQ(300 + samples - 1, record.Number("Video Input 01", "lastframe")) << record.text;
  EXPECT_EQ(1, record.Number("Video Input 01", "inorder")) << record.text;
  EXPECT_NE(std::string::npos, record.text.find("subtype=RGB24")) << record.text;
}

TEST_F(Recording, AnNv12LoadIsRecordedAsI420ThroughTheColourConverterAndThePreviewRunsOn) {
  // A camera that sends NV12 only: no filter the graph finds takes NV12 to a type the writer
  // takes, and the component puts the platform's colour converter in between, making I420.
  previewtest::ScopedTestCamera nv12(L"ZelvoraDev87 NV12 Only", L"Zelvora NV12 Only Camera", L"NV12 640x480@30",
                                     L"first:500");
  ASSERT_TRUE(nv12.registered);
  const WriterRecord record = RecordThroughConverter(L"Zelvora NV12 Only Camera", L"NV12", kDmoWrapperFilter);
  ASSERT_TRUE(record.exists);
  const long long samples = record.Number("Video Input 01", "samples");
  EXPECT_GT(samples, 10) << record.text;
  EXPECT_EQ(640LL * 480 * 3 / 2 * samples, record.Number("Video Input 01", "bytes")) << record.text;
  EXPECT_EQ(500, record.Number("Video Input 01", "firstframe")) << record.text;
  EXPECT_EQ(500 + samples - 1, record.Number("Video Input 01", "lastframe")) << record.text;
  EXPECT_EQ(1, record.Number("Video Input 01", "inorder")) << record.text;
  EXPECT_NE(std::string::npos, record.text.find("subtype=I420")) << record.text;
}

TEST_F(Recording, VideoOnlyRecordingAnswersSFalseForTheTimeLimit) {
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 640, 480));
  ASSERT_TRUE(FramesFlow());
  const std::wstring path = File(L"video.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(path.c_str())));
  EXPECT_EQ(S_FALSE, camera->SetCaptureMaxTime(0));
  std::vector<ComPtr<IBaseFilter>> writers = Writers();
  ASSERT_EQ(1u, writers.size());
  EXPECT_TRUE(InputConnected(writers[0].Get(), L"Video Input 01")) << "through the preview's Smart Tee";
  writers.clear();
  // Wine's runtime cannot build the profile (no empty profiles), so the writer keeps its two
  // default inputs and, with the audio one free, refuses to run: an abort event and no file,
  // while the preview goes on.
  unsigned long event = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        unsigned long detail = 0;
        return SUCCEEDED(camera->OnGraphError(&event, &detail)) && event == 3;
      },
      2000));
  EXPECT_TRUE(FramesFlow());
  ASSERT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(Writers().empty());
  EXPECT_EQ(S_FALSE, camera->SetCaptureMaxTime(0));
  EXPECT_TRUE(FramesFlow());
  EXPECT_FALSE(FileExists(path));
}

TEST_F(Recording, TheTwoPinCameraRecordsFromItsCaptureAndPreviewsFromItsPreviewPin) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_PREVIEW), 640, 480, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());
  const std::wstring path = File(L"twopin.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(path.c_str())));
  EXPECT_TRUE(FramesFlow(10));
  ASSERT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(FramesFlow());

  const WriterRecord record = ReadRecord(path);
  ASSERT_TRUE(record.exists);
  EXPECT_GT(record.Number("Video Input 01", "samples"), 3) << record.text;
  EXPECT_GT(record.Number("Audio Input 01", "samples"), 0) << record.text;
}

TEST_F(Recording, AStartFromAPausedPreviewRecordsAndRunsThePreviewAgain) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());
  ASSERT_TRUE(SUCCEEDED(camera->GraphPause()));
  ASSERT_EQ(2u, State());
  const std::wstring path = File(L"paused.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(path.c_str())));
  EXPECT_EQ(1u, State());
  EXPECT_TRUE(FramesFlow(15));
  ASSERT_EQ(S_OK, camera->StopCapture());
  const WriterRecord record = ReadRecord(path);
  ASSERT_TRUE(record.exists);
  EXPECT_GT(record.Number("Video Input 01", "samples"), 0) << record.text;
  EXPECT_GT(record.Number("Audio Input 01", "samples"), 0) << record.text;
}

TEST_F(Recording, ASecondStartEndsTheFirstRecordingAndLongNamesAreCutTo259Units) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());
  const std::wstring first = File(L"first.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(first.c_str())));
  ASSERT_TRUE(FramesFlow(5));

  // 300 units: the file is named by the first 259.
  std::wstring longName = folder + L"\\";
  longName.append(300 - longName.size(), L'r');
  const std::wstring cut = longName.substr(0, 259);
  files.push_back(cut);
  ASSERT_EQ(S_OK, camera->StartCapture(W(longName.c_str())));
  EXPECT_EQ(1u, Writers().size()) << "never two writers in the graph";
  // Long enough for the microphone's first buffers to reach the writer on a busy machine too.
  ASSERT_TRUE(FramesFlow(15));
  ASSERT_EQ(S_OK, camera->StopCapture());

  const WriterRecord one = ReadRecord(first);
  ASSERT_TRUE(one.exists) << "the first recording was ended and written";
  EXPECT_GT(one.Number("Video Input 01", "samples"), 0) << one.text;
  const WriterRecord two = ReadRecord(cut);
  ASSERT_TRUE(two.exists);
  EXPECT_GT(two.Number("Video Input 01", "samples"), 0) << two.text;
  EXPECT_GT(two.Number("Audio Input 01", "samples"), 0) << two.text;
}

TEST_F(Recording, StartsAndStopsFromTheRenderWindowsThreadNeverHang) {
  // The thread that owns the render window starts and stops recordings from inside the render
  // message handler, and outside it while a frame waits in the render message.
  testsupport::Watchdog watchdog{"recording from the render window's thread", 120};
  previewtest::RenderWindow window;
  ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  auto framesFlow = [&] {
    const LONG start = window.frames;
    return previewtest::PumpUntil(3000, [&] { return window.frames - start >= 3; });
  };
  ASSERT_TRUE(framesFlow());

  std::vector<std::wstring> recorded;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const bool start = round % 2 == 0;
    const std::wstring path = File(L"window" + std::to_wstring(round) + L".wmv");
    auto act = [&] { return start ? camera->StartCapture(W(path.c_str())) : camera->StopCapture(); };
    if (start) recorded.push_back(path);

    // Inside the handler.
    bool armed = true, done = false;
    HRESULT result = E_UNEXPECTED;
    window.onFrame = [&](const RenderFrame*) {
      if (!armed) return;
      armed = false;
      result = act();
      done = true;
    };
    ASSERT_TRUE(previewtest::PumpUntil(10000, [&] { return done; }));
    window.onFrame = nullptr;
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(1u, State());
    ASSERT_TRUE(framesFlow());

    // Outside it, while a frame waits for this thread.
    ASSERT_TRUE(previewtest::WaitForSentMessage(3000));
    EXPECT_EQ(S_OK, start ? camera->StopCapture() : camera->StartCapture(W(File(L"held.wmv").c_str())));
    EXPECT_EQ(1u, State());
    ASSERT_TRUE(framesFlow());
    if (!start) {
      ASSERT_EQ(S_OK, camera->StopCapture());
    }
  }
  EXPECT_EQ(1, window.maxHandlerDepth);
  for (const std::wstring& path : recorded) {
    const WriterRecord record = ReadRecord(path);
    ASSERT_TRUE(record.exists);
    EXPECT_GT(record.Number("Video Input 01", "samples"), 0) << record.text;
  }
}

TEST_F(Recording, FailedStartsAreSOkAtTheInterfaceAndStopCaptureRunsThePreviewAgain) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());

  // Without a recording StopCapture stops and runs the graph.
  ASSERT_EQ(S_OK, camera->StopCapture());
  EXPECT_EQ(S_OK, camera->IsPlaying());
  EXPECT_TRUE(FramesFlow());

  // An empty name: nothing recorded, the preview stopped.
  EXPECT_EQ(S_OK, camera->StartCapture(W(L"")));
  EXPECT_EQ(E_FAIL, camera->IsPlaying());
  EXPECT_EQ(3u, State());
  EXPECT_TRUE(Writers().empty());
  EXPECT_TRUE(FramesStopped());
  ASSERT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(FramesFlow());

  // A folder that does not exist: no file. The writer fails to start; Wine's graph starts its
  // filters after Run has returned and reports that failure at the next Stop, which still
  // stops the graph. A second StopCapture then removes the writer and runs the preview.
  const std::wstring missing = folder + L"\\no such folder\\x.wmv";
  EXPECT_EQ(S_OK, camera->StartCapture(W(missing.c_str())));
  const HRESULT stopped = camera->StopCapture();
  if (stopped != S_OK) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), stopped);
    EXPECT_EQ(S_OK, camera->StopCapture());
  }
  EXPECT_FALSE(FileExists(missing));
  EXPECT_TRUE(Writers().empty());
  EXPECT_EQ(S_OK, camera->IsPlaying());
  EXPECT_TRUE(FramesFlow());

  EXPECT_EQ(E_POINTER, camera->StartCapture(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture2(nullptr, 1.0));
}

// ---- Round trip: tests/recording_roundtrip.sh records through these cases, checks the file with
// ffprobe and ffmpeg between them, and hands over ffmpeg's decode of picture 10. Run alone (in
// the component group) they skip.

std::wstring Environment(const wchar_t* name) {
  WCHAR value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n && n < MAX_PATH ? std::wstring(value) : std::wstring();
}

std::vector<unsigned char> ReadWholeFile(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read) bytes.insert(bytes.end(), buffer, buffer + read);
  CloseHandle(file);
  return bytes;
}

std::atomic<long> g_played(0);
void __cdecl CountPlayed(RenderFrame*, int, int) { ++g_played; }
CallbackCell g_playedCell = 0;

TEST_F(Recording, RoundTripRecordsThreeSecondsOfCameraAndMicrophone) {
  const std::wstring path = Environment(L"ZELVORA_ROUNDTRIP_FILE");
  if (path.empty()) GTEST_SKIP() << "run by tests/recording_roundtrip.sh, which names the file and checks it with ffprobe";
  DeleteFileW(path.c_str());
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 640, 480, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(FramesFlow());
  ASSERT_EQ(S_OK, camera->StartCapture(W(path.c_str())));
  WaitUntil([] { return false; }, 3000);
  ASSERT_EQ(S_OK, camera->StopCapture());
  const WriterRecord record = ReadRecord(path);
  ASSERT_TRUE(record.exists);
  EXPECT_GT(record.Number("Video Input 01", "samples"), 60) << record.text;
  EXPECT_GT(record.Number("Audio Input 01", "samples"), 40) << record.text;
}

TEST_F(Recording, RoundTripPlaysTheRecordingAndPicture10IsFfmpegsPicture) {
  const std::wstring path = Environment(L"ZELVORA_ROUNDTRIP_FILE");
  const std::wstring reference = Environment(L"ZELVORA_ROUNDTRIP_PICTURE");
  if (path.empty() || reference.empty()) GTEST_SKIP() << "run by tests/recording_roundtrip.sh after the recording";
  // ffmpeg's decode of picture 10, as 24-bit bottom-up rows: the camera's pattern, frame 10 give
  // or take one (where the recording's first picture fell).
  const std::vector<unsigned char> expected = ReadWholeFile(reference);
  ASSERT_EQ(640u * 480 * 3, expected.size());
  const zvpattern::Decoded fromFfmpeg = zvpattern::DecodeBgrBottomUp(expected.data(), expected.size(), 640, 480, 640 * 3);
  ASSERT_TRUE(fromFfmpeg.valid);
  EXPECT_NEAR(10, static_cast<int>(fromFfmpeg.frameNumber), 1);

  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, camera.As(&player));
  // Picture 10 through the component: the camera's frame that ffmpeg decoded, pixel for pixel.
  // gstreamer's ASF demuxer (in Wine's readers), as ffmpeg's, takes the rows of uncompressed RGB
  // as top-down although the bitmap header says bottom-up: such a recording comes out upside
  // down from both, so the orientation is compared with ffmpeg's, not with the header's.
  FrameImage image = {};
  ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(path.c_str()), 10, reinterpret_cast<unsigned long*>(&image)));
  ASSERT_EQ(640, image.nWidth);
  ASSERT_EQ(480, image.nHeight);
  const zvpattern::Decoded extracted = zvpattern::DecodeBgrBottomUp(image.pBits, expected.size(), 640, 480, 640 * 3);
  EXPECT_TRUE(extracted.valid);
  EXPECT_EQ(fromFfmpeg.frameNumber, extracted.frameNumber);
  const bool flipped = extracted.orientation != fromFfmpeg.orientation;
  if (flipped) printf("note: Wine's reader delivers picture 10 upside down against ffmpeg's decode\n");
  const size_t row = 640 * 3;
  long long difference = 0;
  for (size_t y = 0; y < 480; ++y) {
    const unsigned char* mine = image.pBits + y * row;
    const unsigned char* theirs = expected.data() + (flipped ? 479 - y : y) * row;
    for (size_t i = 0; i < row; ++i) difference += abs(static_cast<int>(theirs[i]) - mine[i]);
  }
  EXPECT_LT(static_cast<double>(difference) / expected.size(), 2.0) << "mean difference per byte";
  CoTaskMemFree(image.pBits);

  // Played to the end through the component, where Wine lets it.
  HRESULT hr = playback::OpenDespiteReaderRace([&] {
    const HRESULT opened = player->OpenPlayFile(W(path.c_str()));
    if (FAILED(opened)) player->ReleasePlayFile();
    return opened;
  });
  ASSERT_EQ(S_OK, hr);
  g_playedCell = reinterpret_cast<CallbackCell>(&CountPlayed);
  ASSERT_EQ(S_OK, player->SetCallBackRender(&g_playedCell));
  ASSERT_TRUE(SUCCEEDED(player->StartPaly()));
  unsigned long result = 2;
  auto end = [&] { return player->OnGraphNotify(&result) == S_OK && result != 2; };
  // A stalled reader shows in the first seconds (no second picture); a playing one gets its time.
  bool ended = WaitUntil(end, 3000);
  if (!ended && g_played.load() > 1) ended = WaitUntil(end, 10000);
  player->StopPlay();
  player->ReleasePlayFile();
  if (!ended && g_played.load() <= 1)
    GTEST_SKIP() << "Wine's WM ASF Reader stops after the first picture when a file's audio and video are both "
                    "rendered (as with Windows Media files): no end of the file to see";
  EXPECT_TRUE(ended);
  EXPECT_EQ(0u, result) << "the end of the file (0), not an abort (1)";
  EXPECT_GT(g_played.load(), 60);
}

}  // namespace
