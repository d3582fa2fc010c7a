// Bad input: null pointers in every pointer parameter, window handles that are no windows or
// were destroyed, names of 0 to 10,000 units that end right before an inaccessible page, odd
// frame sizes and format names, picture numbers at the ends of the range, and callback cells
// that hold 0. Each call gives its documented result or a clear error, never a crash or a hang.
#include <limits.h>
#include <vfwmsgs.h>

#include "hardening/hardening_helpers.h"
#include "playback/playback_media.h"
#include "playback/reader_race.h"
#include "support/guarded_buffer.h"

using namespace dlltest;
using namespace hardening;
using namespace previewtest;

namespace {

// A name of `units` UTF-16 units (the last ones `tail`) whose terminator is the last unit before
// an inaccessible page: any read past the terminator faults.
class GuardedName {
 public:
  GuardedName(size_t units, const std::wstring& head, const std::wstring& tail = L"")
      : m_buffer((units + 1) * sizeof(WCHAR)) {
    WCHAR* text = reinterpret_cast<WCHAR*>(m_buffer.data());
    for (size_t i = 0; i < units; ++i) text[i] = L'a' + static_cast<WCHAR>(i % 26);
    for (size_t i = 0; i < head.size() && i < units; ++i) text[i] = head[i];
    for (size_t i = 0; i < tail.size() && i < units; ++i) text[units - tail.size() + i] = tail[i];
    text[units] = 0;
  }
  unsigned short* get() { return reinterpret_cast<unsigned short*>(m_buffer.data()); }

 private:
  GuardedBuffer m_buffer;
};

const size_t kNameLengths[] = {0, 259, 260, 300, 10000};

struct CameraHost {
  CameraHost() {
    camera = CreateComponent();
    camera->SetRenderWnd(window.hwnd);
  }
  ~CameraHost() {
    camera.Reset();
    PumpUntil(3000, [] { return StreamingThreads() == 0; });
  }
  bool FramesFlow(LONG count = 3) {
    const LONG start = window.frames;
    return PumpUntil(5000, [&] { return window.frames - start >= count; });
  }
  RenderWindow window;
  ComPtr<IIZelvora> camera;
};

TEST(BadInput, NullPointersBeforeAnyCamera) {
  Watchdog watchdog("null pointers", 120);
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IPlayer> player;
  ComPtr<IDevice> devices;
  ComPtr<ISetting> settings;
  ASSERT_EQ(S_OK, camera.As(&player));
  ASSERT_EQ(S_OK, camera.As(&devices));
  ASSERT_EQ(S_OK, camera.As(&settings));
  unsigned long value = 0x11223344;

  EXPECT_EQ(E_POINTER, camera->QueryInterface(IID_IPlayer, nullptr));
  EXPECT_EQ(S_OK, camera->SetLoadCameraName(nullptr));
  EXPECT_EQ(S_OK, camera->SetRenderCallbackFun(nullptr));
  EXPECT_EQ(E_POINTER, camera->GetCurrentCameraState(nullptr));
  EXPECT_EQ(E_POINTER, camera->TakeSnap(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture2(nullptr, 0.5));
  EXPECT_EQ(E_POINTER, camera->OnGraphError(nullptr, &value));
  EXPECT_EQ(E_POINTER, camera->OnGraphError(&value, nullptr));
  EXPECT_EQ(0x11223344u, value);
  EXPECT_EQ(E_POINTER, camera->EnumSupportFormat(nullptr));
  unsigned short text[64] = {};
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(nullptr, text));
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(W(L"RGB24"), nullptr));

  // A walk to the end of a class that has devices answers S_FALSE, with or without a cell.
  EXPECT_EQ(S_OK, devices->EnumAllVideoDevice(nullptr));
  EXPECT_EQ(S_FALSE, devices->EnumCameraDevice(nullptr));
  EXPECT_EQ(S_FALSE, devices->EnumAudioInputDevice(nullptr));
  EXPECT_EQ(S_FALSE, devices->EnumAudioOutputDevice(nullptr));
  EXPECT_EQ(S_OK, devices->SetDeviceCallBac(nullptr));

  EXPECT_EQ(E_POINTER, player->OpenPlayFile(nullptr));
  EXPECT_EQ(S_OK, player->GetPlayState(nullptr));
  EXPECT_EQ(S_OK, player->SetCallBackRender(nullptr));
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(nullptr, 1, &value));
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(W(L"x.wmv"), 1, nullptr));
  EXPECT_EQ(E_POINTER, player->OnGraphNotify(nullptr));
  EXPECT_EQ(S_OK, settings->LoadSetting(nullptr));
  EXPECT_EQ(S_OK, settings->SaveSetting(nullptr));
  EXPECT_EQ(0u, StateOf(camera.Get()));
}

TEST(BadInput, NullPointersWithACameraRunning) {
  Watchdog watchdog("null pointers, camera", 120);
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(nullptr));
  // A null name opens the first camera of the system.
  ASSERT_EQ(S_OK, camera->LoadCameraXY(nullptr, 320, 240));
  ASSERT_TRUE(host.FramesFlow());
  unsigned long value = 0x11223344;
  EXPECT_EQ(E_POINTER, camera->OnGraphError(&value, nullptr));
  EXPECT_EQ(E_POINTER, camera->EnumSupportFormat(nullptr));
  unsigned short text[64] = {};
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(nullptr, text));
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(W(L"YUY2"), nullptr));
  EXPECT_EQ(E_POINTER, camera->TakeSnap(nullptr));
  EXPECT_EQ(E_POINTER, camera->StartCapture(nullptr));
  EXPECT_EQ(1u, StateOf(camera)) << "refused calls leave the preview alone";
  EXPECT_TRUE(host.FramesFlow());
  ASSERT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_EQ(S_OK, camera->LoadCameraWithAudio(nullptr, 320, 240, nullptr));
  EXPECT_TRUE(host.FramesFlow());
}

TEST(BadInput, WindowsThatAreNoWindowsOrWereDestroyed) {
  Watchdog watchdog("bad windows", 120);
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  CallbackCounter callback;
  CallbackCounter::Reset();
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  ASSERT_TRUE(host.FramesFlow());

  HWND destroyed = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, destroyed);
  DestroyWindow(destroyed);
  const HWND bad[] = {destroyed, reinterpret_cast<HWND>(0x12345678), reinterpret_cast<HWND>(-1),
                      reinterpret_cast<HWND>(1)};
  for (HWND window : bad) {
    SCOPED_TRACE(testing::Message() << "window " << window);
    EXPECT_EQ(S_OK, camera->SetRenderWnd(window));
    EXPECT_EQ(S_OK, camera->SetNotifyWnd(window));
    const LONG start = CallbackCounter::frames;
    EXPECT_TRUE(PumpUntil(5000, [&] { return CallbackCounter::frames - start >= 3; })) << "frames go on";
  }
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, host.camera.As(&player));
  for (HWND window : bad) EXPECT_EQ(S_OK, player->SetNotifyEventHwnd(window));
  EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
  EXPECT_TRUE(SUCCEEDED(camera->GraphPlay()));
  EXPECT_EQ(1u, StateOf(camera));
}

TEST(BadInput, LongNamesEndingAtAnInaccessiblePage) {
  Watchdog watchdog("long names", 240);
  ScratchFolder folder(L"names");
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, host.camera.As(&player));
  for (size_t units : kNameLengths) {
    SCOPED_TRACE(testing::Message() << units << " units");
    // A camera name that matches nothing opens the first camera.
    GuardedName name(units, L"Zelvora");
    ASSERT_EQ(S_OK, camera->LoadCameraXY(name.get(), 320, 240));
    ASSERT_TRUE(host.FramesFlow());
    unsigned short buffer[64] = {};
    EXPECT_EQ(E_FAIL, camera->EnumSupportXy(name.get(), buffer));
    EXPECT_EQ(0, buffer[0]);

    // Snapshot and recording names: what fits is used, the rest is cut; nothing is reported.
    GuardedName snap(units, folder.path + L"\\", L".jpg");
    EXPECT_EQ(S_OK, camera->TakeSnap(snap.get()));
    EXPECT_TRUE(host.FramesFlow(2));
    GuardedName record(units, folder.path + L"\\", L".wmv");
    EXPECT_EQ(S_OK, camera->StartCapture(record.get()));
    if (units == 0)  // an empty name fails after the graph was stopped: the preview halts
      EXPECT_EQ(3u, StateOf(camera));
    else
      EXPECT_TRUE(host.FramesFlow(2));
    const HRESULT stop = camera->StopCapture();
    // A name that cannot be written fails the writer's start; Wine reports it from the next stop.
    if (FAILED(stop)) {
      EXPECT_EQ(S_OK, camera->StopCapture());
    }
    EXPECT_EQ(1u, StateOf(camera));

    // Files: no Windows Media name, or one that does not open; never a crash.
    GuardedName file(units, folder.path + L"\\", L".asf");
    const HRESULT opened = player->OpenPlayFile(file.get());
    EXPECT_TRUE(FAILED(opened) || opened == 10) << std::hex << opened;
    player->ReleasePlayFile();
    unsigned long record2[3] = {1, 2, 3};
    EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(file.get(), 1, record2));
    EXPECT_EQ(1u, record2[0]) << "the record stays untouched";
  }
  // A snapshot name of exactly 259 units in an existing folder is written under that name.
  const size_t room = 259 - folder.path.size() - 1;
  const std::wstring name259 = folder.path + L"\\" + std::wstring(room - 4, L'n') + L".jpg";
  ASSERT_EQ(259u, name259.size());
  ASSERT_EQ(S_OK, camera->TakeSnap(W(name259.c_str())));
  EXPECT_TRUE(PumpUntil(5000, [&] { return FileExists(name259); }));
}

TEST(BadInput, FilesThatDoNotExistAreNotReportedAsOpened) {
  Watchdog watchdog("missing files", 120);
  ScratchFolder folder(L"missing");
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, camera.As(&player));
  const std::wstring names[] = {folder.File(L"none.wmv"), folder.File(L"none.asf"), L"Z:\\no\\such\\folder\\x.wma"};
  for (const std::wstring& name : names) {
    SCOPED_TRACE(testing::Message() << name.size() << " units");
    EXPECT_TRUE(FAILED(player->OpenPlayFile(W(name.c_str()))));
    player->StartPaly();  // nothing to play: answers without a crash or a hang
    player->StopPlay();
    EXPECT_EQ(S_OK, player->ReleasePlayFile());
  }
  // A real file still opens after the failures.
  const std::wstring video = playback::MediaPath(L"small.wmv");
  const HRESULT opened = playback::OpenDespiteReaderRace([&] {
    player->ReleasePlayFile();
    return player->OpenPlayFile(W(video.c_str()));
  });
  EXPECT_EQ(S_OK, opened);
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

TEST(BadInput, FrameSizesThatNoCameraOffers) {
  Watchdog watchdog("odd sizes", 120);
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  struct Case {
    int x, y;
    HRESULT result;
    unsigned long state;
  } cases[] = {{0, 0, 8, 0},          {-320, -240, 8, 0},    {320, -240, 8, 0},     {3000, 600, 8, 0},
               {INT_MIN, INT_MIN, 8, 0}, {100000, 100000, S_OK, 1}, {3001, -5, S_OK, 1}, {INT_MAX, 0, S_OK, 1},
               {320, 240, S_OK, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " x " << c.y);
    EXPECT_EQ(c.result, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), c.x, c.y));
    EXPECT_EQ(c.state, StateOf(camera));
    EXPECT_EQ(c.state == 1 ? S_OK : E_FAIL, camera->IsPlaying());
    if (c.state == 1) {
      EXPECT_TRUE(host.FramesFlow(2));
      EXPECT_EQ(c.x > 3000 ? 640 : c.x, host.window.last.width);
      ASSERT_TRUE(SUCCEEDED(camera->GraphStop()));
    }
  }
  // The same through the unsigned parameters of the load with audio: 0xFFFFFFFF is -1.
  EXPECT_EQ(8, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr));
  EXPECT_EQ(0u, StateOf(camera));
  // The graph of a failed load is not connected; running it anyway must keep the state honest.
  const HRESULT play = camera->GraphPlay();
  EXPECT_EQ(SUCCEEDED(play) ? 1u : 0u, StateOf(camera)) << std::hex << play;
  EXPECT_EQ(SUCCEEDED(play) ? S_OK : E_FAIL, camera->IsPlaying());
}

TEST(BadInput, FormatNamesOtherThanTheThreeKnownOnes) {
  Watchdog watchdog("format names", 120);
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  unsigned short buffer[512] = {};
  EXPECT_EQ(E_POINTER, camera->EnumSupportXy(W(L"RGB24"), buffer)) << "no camera yet";
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  const wchar_t* refused[] = {L"", L"Unknown", L"RGB", L"RGB24 ", L" RGB24", L"RGB24;", L"YUY2\x0130",
                              L"I4200", L"MJPG", L"\xFEFFRGB24", L"r\x0131gb24"};
  for (const wchar_t* name : refused) {
    SCOPED_TRACE(testing::Message() << "format " << std::wstring(name).size() << " units");
    wcscpy(reinterpret_cast<wchar_t*>(buffer), L"keep");
    EXPECT_EQ(E_FAIL, camera->EnumSupportXy(W(name), buffer));
    EXPECT_STREQ(L"keep", reinterpret_cast<wchar_t*>(buffer));
  }
  const wchar_t* accepted[] = {L"rgb24", L"Yuy2", L"i420"};
  for (const wchar_t* name : accepted) {
    buffer[0] = 0;
    EXPECT_EQ(S_OK, camera->EnumSupportXy(W(name), buffer));
    EXPECT_NE(nullptr, wcsstr(reinterpret_cast<wchar_t*>(buffer), L"320*240;"));
  }
}

TEST(BadInput, PictureNumbersAtTheEndsOfTheRange) {
  Watchdog watchdog("picture numbers", 120);
  ComPtr<IIZelvora> camera = CreateComponent();
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, camera.As(&player));
  const std::wstring video = playback::MediaPath(L"small.wmv");
  struct Case {
    int frame;
    HRESULT result;
  } cases[] = {{INT_MIN, S_OK}, {-1, S_OK}, {0, S_OK}, {1, S_OK}, {16, E_INVALIDARG}, {INT_MAX, E_INVALIDARG}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "picture " << c.frame);
    FrameImage image = {};
    EXPECT_EQ(c.result, player->LoadFrameFromFile(W(video.c_str()), c.frame, reinterpret_cast<unsigned long*>(&image)));
    EXPECT_EQ(160, image.nWidth);
    EXPECT_EQ(120, image.nHeight);
    EXPECT_NE(nullptr, image.pBits) << "the buffer is handed over in every case";
    CoTaskMemFree(image.pBits);
  }
}

// The host's cells: the callbacks' addresses are read from them.
volatile LONG g_deviceReports = 0;
void __cdecl CountDevice(int, const unsigned short*, int) { InterlockedIncrement(&g_deviceReports); }

TEST(BadInput, CallbackCellsHoldingZero) {
  Watchdog watchdog("zero cells", 120);
  CameraHost host;
  IIZelvora* camera = host.camera.Get();
  ComPtr<IDevice> devices;
  ComPtr<IPlayer> player;
  ASSERT_EQ(S_OK, host.camera.As(&devices));
  ASSERT_EQ(S_OK, host.camera.As(&player));
  CallbackCell zero = 0;
  EXPECT_EQ(S_FALSE, devices->EnumCameraDevice(&zero));
  EXPECT_EQ(S_FALSE, devices->EnumAudioInputDevice(&zero));
  EXPECT_EQ(S_OK, devices->EnumAllVideoDevice(&zero));
  EXPECT_EQ(S_FALSE, devices->EnumAudioOutputDevice(&zero));
  CallbackCell cell = reinterpret_cast<CallbackCell>(&CountDevice);
  EXPECT_EQ(S_FALSE, devices->EnumCameraDevice(&cell));
  EXPECT_GT(g_deviceReports, 0) << "a real cell still reports";

  // A render callback cell of 0 switches the callback off; frames go on to the window.
  CallbackCounter callback;
  CallbackCounter::Reset();
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 320, 240));
  ASSERT_TRUE(host.FramesFlow());
  EXPECT_GT(CallbackCounter::frames, 0);
  ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&zero));
  PumpUntil(200);
  const LONG before = CallbackCounter::frames;
  EXPECT_TRUE(host.FramesFlow(5));
  EXPECT_EQ(before, CallbackCounter::frames);

  // The player: a zero cell, then a file played to its end.
  EXPECT_EQ(S_OK, player->SetCallBackRender(&zero));
  const std::wstring video = playback::MediaPath(L"small.wmv");
  const HRESULT opened = playback::OpenDespiteReaderRace([&] {
    player->ReleasePlayFile();
    return player->OpenPlayFile(W(video.c_str()));
  });
  ASSERT_EQ(S_OK, opened);
  EXPECT_TRUE(SUCCEEDED(player->StartPaly()));
  PumpUntil(500);
  EXPECT_TRUE(SUCCEEDED(player->StopPlay()));
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

}  // namespace
