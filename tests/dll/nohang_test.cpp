// A host that stops, pauses, reloads, releases or destroys the camera from the thread that owns
// its render window — from inside the render message handler, or outside it while a frame waits
// in the render message — must never hang. Every case runs many times on a fast camera under a
// watchdog that fails the run instead of hanging it.
#include <functional>
#include <string>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"

using namespace dlltest;
using namespace previewtest;

namespace {

constexpr const wchar_t* kFastCamera = L"Zelvora Fast Camera";
constexpr int kWidth = 160;
constexpr int kHeight = 120;

class NoHang : public PreviewHostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fastCamera.registered);
    PreviewHostTest::SetUp();
  }
  void TearDown() override {
    PreviewHostTest::TearDown();
    EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << LiveDeviceObjects();
  }

  HRESULT Load() {
    const HRESULT hr = camera->LoadCameraXY(W(kFastCamera), kWidth, kHeight);
    // The size only the fast camera offers: 8 means another camera was opened. Name the cameras
    // the object saw, so a failure says why the fast one was not among them.
    if (hr != S_OK) ADD_FAILURE() << "LoadCameraXY: 0x" << std::hex << hr << "; cameras listed: " << ListedCameras();
    return hr;
  }

  std::string ListedCameras() {
    ComPtr<ICameraMode> modes;
    int count = 0;
    if (FAILED(camera.As(&modes)) || FAILED(modes->GetCameraCount(&count))) return "(none)";
    std::string names;
    for (int i = 0; i < count; ++i) {
      BSTR name = nullptr, id = nullptr;
      if (SUCCEEDED(modes->GetCameraId(i, &name, &id)))
        names += (i ? ", " : "") + std::string(name, name + SysStringLen(name));
      SysFreeString(name);
      SysFreeString(id);
    }
    return names;
  }

  // Loads the camera when none is loaded, otherwise runs it again.
  void Resume() {
    if (CameraState(camera.Get()) == 0) {
      ASSERT_EQ(S_OK, Load());
    } else {
      ASSERT_TRUE(SUCCEEDED(camera->GraphPlay()));
    }
  }

  // A new object when the last one was released, with the camera loaded and frames flowing.
  void LoadWithObject() {
    if (!camera) {
      camera = CreateComponent();
      ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
    }
    ASSERT_EQ(S_OK, Load());
    ASSERT_TRUE(WaitFrames(2));
  }

  bool WaitFrames(LONG count) {
    const LONG start = window.frames;
    return PumpUntil(5000, [&] { return window.frames - start >= count; });
  }

  // Stops handling messages until the streaming thread waits in the render message for this
  // thread.
  void HoldMessages(DWORD) { EXPECT_TRUE(WaitForSentMessage(3000)); }

  ScopedTestCamera fastCamera{L"ZelvoraDev95 Fast", kFastCamera, L"YUY2 160x120@250"};
  Watchdog watchdog{"no-hang test", 150};
};

struct Action {
  const char* name;
  std::function<HRESULT(IIZelvora*)> call;
  unsigned long stateAfter;
};

const Action kActions[] = {
    {"GraphStop", [](IIZelvora* c) { return c->GraphStop(); }, 3},
    {"GraphPause", [](IIZelvora* c) { return c->GraphPause(); }, 2},
    {"ReleaseCamera", [](IIZelvora* c) { return c->ReleaseCamera(); }, 0},
    // A load while running fails, so the object releases the camera and opens the first one.
    {"LoadCameraXY", [](IIZelvora* c) { return c->LoadCameraXY(W(kFastCamera), 320, 240); }, 1},
    {"GraphStop+LoadCamera",
     [](IIZelvora* c) {
       c->GraphStop();
       return c->LoadCameraXY(W(kFastCamera), kWidth, kHeight);
     },
     1},
};

TEST_F(NoHang, OperationsFromInsideTheRenderHandler) {
  for (const Action& action : kActions) {
    SCOPED_TRACE(action.name);
    for (int round = 0; round < 25; ++round) {
      ASSERT_NO_FATAL_FAILURE(Resume());
      bool armed = true, done = false;
      HRESULT result = E_UNEXPECTED;
      unsigned before = 0, after = 0;
      bool sameFrame = true;
      window.onFrame = [&](const RenderFrame* frame) {
        if (!armed) return;
        armed = false;
        const SeenFrame seen = Inspect(frame, false);
        before = seen.decoded.frameNumber;
        result = action.call(camera.Get());
        // The record stays as it was while the handler goes on (stop, pause, release).
        if (action.stateAfter != 1) {
          const SeenFrame again = Inspect(frame, false);
          sameFrame = again.decoded.valid && again.decoded.frameNumber == before;
          after = again.decoded.frameNumber;
        }
        done = true;
      };
      ASSERT_TRUE(PumpUntil(10000, [&] { return done; })) << "round " << round;
      window.onFrame = nullptr;
      EXPECT_TRUE(SUCCEEDED(result)) << "round " << round;
      EXPECT_EQ(action.stateAfter, CameraState(camera.Get())) << "round " << round;
      EXPECT_TRUE(sameFrame) << "round " << round << ": frame " << before << " became " << after;
      if (action.stateAfter == 1) {
        EXPECT_TRUE(WaitFrames(3)) << "round " << round;
      } else {
        // Nothing flows any more.
        PumpUntil(20);
        const LONG settled = window.frames;
        PumpUntil(60);
        EXPECT_EQ(settled, window.frames) << "round " << round;
      }
    }
  }
  EXPECT_EQ(1, window.maxHandlerDepth);
}

TEST_F(NoHang, OperationsWhileAFrameWaitsForTheWindowThread) {
  for (const Action& action : kActions) {
    SCOPED_TRACE(action.name);
    for (int round = 0; round < 25; ++round) {
      ASSERT_NO_FATAL_FAILURE(Resume());
      ASSERT_TRUE(WaitFrames(2)) << "round " << round;
      HoldMessages(15);  // a frame now waits in the render message for this thread
      const LONG callbacks = CallbackCounter::frames;
      EXPECT_TRUE(SUCCEEDED(action.call(camera.Get()))) << "round " << round;
      EXPECT_EQ(action.stateAfter, CameraState(camera.Get())) << "round " << round;
      if (action.stateAfter == 1) {
        EXPECT_TRUE(WaitFrames(2)) << "round " << round;
        EXPECT_GT(CallbackCounter::frames, callbacks);
      }
    }
  }
}

TEST_F(NoHang, TheHandlerMayStopWhileTheThreadIsStoppingAlready) {
  // The thread stops the graph while a frame waits; letting that frame through runs the handler,
  // which pauses, reloads or releases in turn.
  for (const Action& nested : kActions) {
    SCOPED_TRACE(nested.name);
    for (int round = 0; round < 10; ++round) {
      ASSERT_NO_FATAL_FAILURE(Resume());
      ASSERT_TRUE(WaitFrames(2));
      bool armed = true;
      window.onFrame = [&](const RenderFrame*) {
        if (!armed) return;
        armed = false;
        EXPECT_TRUE(SUCCEEDED(nested.call(camera.Get())));
      };
      HoldMessages(15);
      EXPECT_TRUE(SUCCEEDED(camera->GraphStop()));
      window.onFrame = nullptr;
      const unsigned long state = CameraState(camera.Get());
      EXPECT_NE(1u, state) << "round " << round;  // nothing runs after the outer stop
    }
  }
}

TEST_F(NoHang, AWorkerThatAsksTheWindowThreadToStopHearsBackOnlyWhenItHasStopped) {
  // The window's thread handles a worker's sent request by stopping the graph while a frame also
  // waits for it: the frame goes through, and the worker's answer comes after the stop.
  for (const Action& action : kActions) {
    if (action.stateAfter == 1) continue;  // the reloads run again at once
    SCOPED_TRACE(action.name);
    for (int round = 0; round < 10; ++round) {
      ASSERT_NO_FATAL_FAILURE(Resume());
      ASSERT_TRUE(WaitFrames(2)) << "round " << round;
      volatile LONG stopped = 0;
      window.onRequest = [&]() -> LRESULT {
        WaitForSentMessage(3000);  // a frame now waits for this thread as well
        const HRESULT hr = action.call(camera.Get());
        InterlockedExchange(&stopped, SUCCEEDED(hr) ? 1 : 2);
        return 1;
      };
      struct Worker {
        HWND window;
        volatile LONG* stopped;
        LRESULT answer = 0;
        LONG stoppedAtAnswer = -1;
        static DWORD WINAPI Run(void* self) {
          Worker* w = static_cast<Worker*>(self);
          w->answer = SendMessageW(w->window, kHostRequest, 0, 0);
          w->stoppedAtAnswer = InterlockedCompareExchange(w->stopped, 0, 0);
          return 0;
        }
      } worker{window.hwnd, &stopped};
      HANDLE thread = CreateThread(nullptr, 0, &Worker::Run, &worker, 0, nullptr);
      ASSERT_NE(nullptr, thread);
      ASSERT_TRUE(PumpUntil(10000, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
      CloseHandle(thread);
      window.onRequest = nullptr;
      EXPECT_EQ(1, worker.answer) << "round " << round << ": the window's own answer";
      EXPECT_EQ(1, worker.stoppedAtAnswer) << "round " << round << ": answered before the call had finished";
      EXPECT_EQ(action.stateAfter, CameraState(camera.Get())) << "round " << round;
    }
  }
}

TEST_F(NoHang, DestroyingTheObjectFromInsideTheHandlerAndWhileAFrameWaits) {
  for (int round = 0; round < 30; ++round) {
    ASSERT_NO_FATAL_FAILURE(LoadWithObject());
    IIZelvora* raw = camera.Get();
    if (round % 3 == 0) {
      // The last reference goes inside the render message.
      bool done = false;
      window.onFrame = [&](const RenderFrame*) {
        if (done) return;
        done = true;
        camera.Reset();
      };
      ASSERT_TRUE(PumpUntil(10000, [&] { return done; }));
    } else if (round % 3 == 1) {
      HoldMessages(15);
      camera.Reset();
    } else {
      // The last reference goes while a frame waits, and that frame's handler still calls the
      // object through the pointer it has (calls that hold a reference of their own among them).
      int calls = 0;
      window.onFrame = [&](const RenderFrame*) {
        unsigned long state = 0;
        EXPECT_TRUE(SUCCEEDED(raw->GraphPause()));
        EXPECT_EQ(S_OK, raw->GetCurrentCameraState(&state));
        EXPECT_TRUE(SUCCEEDED(raw->GraphStop()));
        ++calls;
      };
      HoldMessages(15);
      camera.Reset();
      EXPECT_LE(calls, 1) << "round " << round << ": no frame after the release began";
    }
    window.onFrame = nullptr;
    EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; })) << "round " << round;
    EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << "round " << round;
  }
  // Every object was destroyed exactly once: the module's count of live objects is back.
  auto canUnload = Export<HRESULT(WINAPI*)()>("DllCanUnloadNow");
  ASSERT_NE(nullptr, canUnload);
  EXPECT_EQ(S_OK, canUnload());
}

TEST_F(NoHang, ReleasingTheObjectWhileItLetsAFrameThroughIsSafe) {
  // The handler drops the host's last reference while the object is stopping the graph itself.
  for (int round = 0; round < 10; ++round) {
    ASSERT_NO_FATAL_FAILURE(LoadWithObject());
    IIZelvora* raw = camera.Get();
    bool released = false;
    window.onFrame = [&](const RenderFrame*) {
      if (released) return;
      released = true;
      camera.Reset();
    };
    HoldMessages(15);
    EXPECT_TRUE(SUCCEEDED(raw->GraphStop()));  // the call keeps the object until it returns
    window.onFrame = nullptr;
    if (!released) camera.Reset();  // the frame had been handled before the stop
    EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; })) << "round " << round;
  }
}

}  // namespace
