// Concurrency: the frame settings changed from another thread while frames flow, stop, pause and
// release from inside the render handler while that goes on, and the camera lost during a
// recording and during a snapshot.
#include <atomic>
#include <set>

#include "hardening/hardening_helpers.h"

using namespace dlltest;
using namespace hardening;
using namespace previewtest;

namespace {

constexpr const wchar_t* kFastCamera = L"Zelvora Hardening Fast Camera";
constexpr const wchar_t* kFastInstance = L"ZelvoraDev96 HardeningFast";

volatile LONG g_otherCallbackFrames = 0;
void __cdecl OtherRender(RenderFrame* frame, int, int) {
  if (frame && frame->data && frame->width == 160) InterlockedIncrement(&g_otherCallbackFrames);
}

class Concurrency : public PreviewHostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fastCamera.registered);
    PreviewHostTest::SetUp();
  }
  void TearDown() override {
    PreviewHostTest::TearDown();
    EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << LiveDeviceObjects();
  }
  bool FramesFlow(LONG count = 3) {
    const LONG start = CallbackCounter::frames;
    return PumpUntil(5000, [&] { return CallbackCounter::frames - start >= count; });
  }

  ScopedTestCamera fastCamera{kFastInstance, kFastCamera, L"YUY2 160x120@200"};
  Watchdog watchdog{"concurrency test", 180};
  ScratchFolder folder{L"threads"};
};

// Another thread that changes every frame setting in a loop until told to stop.
class SetterThread {
 public:
  SetterThread(IIZelvora* camera, HWND window, const std::wstring& folder) : m_camera(camera), m_window(window), m_folder(folder) {
    m_thread = CreateThread(nullptr, 0, &SetterThread::Run, this, 0, nullptr);
  }
  ~SetterThread() { Stop(); }
  void Stop() {
    if (!m_thread) return;
    m_stop = true;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    m_thread = nullptr;
  }
  long rounds = 0;
  long snapshots = 0;

 private:
  static DWORD WINAPI Run(void* self) {
    static_cast<SetterThread*>(self)->Loop();
    return 0;
  }
  void Loop() {
    CallbackCell counter = reinterpret_cast<CallbackCell>(&CallbackCounter::Render);
    CallbackCell other = reinterpret_cast<CallbackCell>(&OtherRender);
    CallbackCell zero = 0;
    unsigned random = 12345;
    while (!m_stop) {
      ++rounds;
      random = random * 1103515245u + 12345u;
      const unsigned pick = random >> 16;
      // No window, a handle that is no window, the host's window (a window of this thread would
      // hang the frames: this thread handles no messages).
      const unsigned w = pick % 3;
      m_camera->SetRenderWnd(w == 0 ? nullptr : (w == 1 ? reinterpret_cast<HWND>(0x4321) : m_window));
      const unsigned c = (pick / 3) % 4;
      m_camera->SetRenderCallbackFun(c == 0 ? &zero : (c == 1 ? &other : &counter));
      m_camera->SetNeedReleaseFrame((pick / 12) % 5 == 0 ? 1 : 0);  // nonzero switches frames off
      if ((pick / 60) % 7 == 0) {
        const std::wstring name = m_folder + L"\\snap" + std::to_wstring(snapshots++) + L".jpg";
        m_camera->TakeSnap(W(name.c_str()));
      }
      if (rounds % 8 == 0) Sleep(1);  // lets frames see these settings for a while
    }
    // Leave the settings as the test set them.
    m_camera->SetRenderWnd(m_window);
    m_camera->SetRenderCallbackFun(&counter);
    m_camera->SetNeedReleaseFrame(0);
  }
  IIZelvora* m_camera;
  HWND m_window;
  std::wstring m_folder;
  std::atomic<bool> m_stop{false};
  HANDLE m_thread = nullptr;
};

// Every file the snapshots left is a whole JPEG under one of the names asked for.
void CheckSnapshots(const ScratchFolder& folder, long asked) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder.path + L"\\*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  long files = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    ++files;
    const std::wstring name = found.cFileName;
    long number = -1;
    EXPECT_EQ(1, swscanf(name.c_str(), L"snap%ld.jpg", &number)) << "torn name";
    EXPECT_TRUE(number >= 0 && number < asked);
    HANDLE file = CreateFileW(folder.File(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    unsigned char head[2] = {};
    DWORD read = 0;
    ReadFile(file, head, 2, &read, nullptr);
    CloseHandle(file);
    EXPECT_TRUE(read == 2 && head[0] == 0xFF && head[1] == 0xD8) << "not a JPEG";
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_GT(files, 0);
  printf("  %ld snapshot files for %ld requests\n", files, asked);
}

TEST_F(Concurrency, FrameSettingsChangedFromAnotherThreadWhileFramesFlow) {
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(kFastCamera), 160, 120));
  ASSERT_TRUE(FramesFlow());
  g_otherCallbackFrames = 0;
  long rounds = 0, snapshots = 0;
  {
    SetterThread setter(camera.Get(), window.hwnd, folder.path);
    PumpUntil(3000);
    setter.Stop();
    rounds = setter.rounds;
    snapshots = setter.snapshots;
  }
  printf("  %ld rounds of setters, %ld frames at the window, %ld at the callbacks\n", rounds,
         static_cast<long>(window.frames), static_cast<long>(CallbackCounter::frames + g_otherCallbackFrames));
  EXPECT_GT(rounds, 100);
  EXPECT_GT(g_otherCallbackFrames, 0) << "the other callback saw whole frames";
  EXPECT_EQ(0, CallbackCounter::nullData);
  EXPECT_TRUE(FramesFlow()) << "frames flow on with the settings restored";
  PumpUntil(300);  // the last request is taken from the next frame
  CheckSnapshots(folder, snapshots);
  EXPECT_EQ(1u, StateOf(camera.Get()));
}

TEST_F(Concurrency, StopPauseAndReleaseInsideTheRenderHandlerWhileSettersRun) {
  struct Case {
    const char* name;
    HRESULT (*act)(IIZelvora*);
    unsigned long state;
  } cases[] = {{"GraphStop", [](IIZelvora* c) { return c->GraphStop(); }, 3},
               {"GraphPause", [](IIZelvora* c) { return c->GraphPause(); }, 2},
               {"ReleaseCamera", [](IIZelvora* c) { return c->ReleaseCamera(); }, 0}};
  SetterThread setter(camera.Get(), window.hwnd, folder.path);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int round = 0; round < 10; ++round) {
      ASSERT_EQ(S_OK, camera->LoadCameraXY(W(kFastCamera), 160, 120));
      bool done = false;
      HRESULT result = E_UNEXPECTED;
      window.onFrame = [&](const RenderFrame*) {
        if (done) return;
        done = true;
        result = c.act(camera.Get());
      };
      // The setter thread switches the window away and back: wait for a handled frame.
      ASSERT_TRUE(PumpUntil(10000, [&] { return done; })) << "round " << round;
      window.onFrame = nullptr;
      EXPECT_TRUE(SUCCEEDED(result)) << std::hex << result;
      EXPECT_EQ(c.state, StateOf(camera.Get()));
    }
  }
  setter.Stop();
}

TEST_F(Concurrency, CameraLostDuringARecordingAndDuringASnapshot) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(kFastCamera), 160, 120, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_EQ(S_OK, camera->SetNotifyWnd(window.hwnd));
  ASSERT_TRUE(FramesFlow());
  ComPtr<IZelvoraDeviceControl> device = LiveDevice(kFastCamera);
  ASSERT_NE(nullptr, device.Get());

  // During a recording: the event arrives, the recording ends and the file is written.
  const std::wstring recording = folder.File(L"lost.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(recording.c_str())));
  ASSERT_TRUE(FramesFlow(5));
  ASSERT_EQ(S_OK, device->SignalDeviceLost(FALSE));
  unsigned long error = 0, detail = 0;
  EXPECT_TRUE(PumpUntil(3000, [&] {
    return SUCCEEDED(camera->OnGraphError(&error, &detail)) && error == 0x1F;
  }));
  EXPECT_EQ(1u, detail & 0xFFFF) << "byte 0: the camera";
  EXPECT_EQ(1u, StateOf(camera.Get())) << "an event changes no state";
  EXPECT_EQ(S_OK, camera->StopCapture());
  EXPECT_TRUE(FileExists(recording));

  // During a snapshot: the request waits, and is taken once the camera is back.
  const std::wstring snapshot = folder.File(L"lost.jpg");
  ASSERT_EQ(S_OK, camera->TakeSnap(W(snapshot.c_str())));
  PumpUntil(200);
  EXPECT_FALSE(FileExists(snapshot)) << "no frame while the camera is gone";
  ASSERT_EQ(S_OK, device->SignalDeviceLost(TRUE));
  EXPECT_TRUE(PumpUntil(3000, [&] {
    return SUCCEEDED(camera->OnGraphError(&error, &detail)) && error == 0x1F;
  }));
  EXPECT_EQ(0x100u, detail & 0xFFFF) << "byte 1: available again";
  EXPECT_TRUE(PumpUntil(5000, [&] { return FileExists(snapshot); }));
  EXPECT_TRUE(FramesFlow());

  // Lost again, then released and destroyed with the camera gone: nothing hangs.
  ASSERT_EQ(S_OK, camera->StartCapture(W(folder.File(L"lost2.wmv").c_str())));
  ASSERT_EQ(S_OK, device->SignalDeviceLost(FALSE));
  PumpUntil(100);
  device.Reset();
  EXPECT_EQ(S_OK, camera->ReleaseCamera());
  EXPECT_EQ(0u, StateOf(camera.Get()));
}

}  // namespace
