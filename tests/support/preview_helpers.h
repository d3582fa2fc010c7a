#pragma once

// Helpers for the live preview tests: a render window that reads the test picture back, a render
// callback counter, a message pump, the virtual devices' control interface, the graph published
// in the running object table, and a watchdog that fails a test instead of hanging the run.
#include <windows.h>
#include <strmif.h>
#include <control.h>
#include <wrl/client.h>

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Zelvora.h"
#include "framepattern.h"
#include "support/dll_helpers.h"
#include "support/running_objects.h"
#include "support/watchdog.h"
#include "testdevices.h"

namespace previewtest {

using Microsoft::WRL::ComPtr;
using testsupport::Watchdog;

constexpr UINT kRenderMessage = 0x13A8;
constexpr UINT kGraphNotify = 0x8002;
// A request another thread of the host sends to the window's thread (`onRequest` answers it).
constexpr UINT kHostRequest = WM_APP + 0x100;

// Dispatches this thread's messages for `ms` milliseconds, or until `done` answers true.
inline bool PumpUntil(DWORD ms, const std::function<bool()>& done = nullptr) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done && done()) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return done ? done() : true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, (ms - elapsed) < 10 ? (ms - elapsed) : 10, QS_ALLINPUT);
  }
}

// Waits, without handling messages, until another thread has sent this thread a message (the
// streaming thread then waits in the render message for this thread), at most `ms`.
inline bool WaitForSentMessage(DWORD ms) {
  const DWORD start = GetTickCount();
  while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(1);
  }
  return true;
}

// What a render window or callback saw of one frame.
struct SeenFrame {
  int width = 0;
  int height = 0;
  bool dataPresent = false;
  zvpattern::Decoded decoded;
};

// Reads a frame record the way a host does: 24-bit bottom-up BGR; converted frames have rows of
// exactly width * 3 bytes, RGB24 frames the platform's 4-byte aligned rows.
inline SeenFrame Inspect(const RenderFrame* frame, bool alignedRows) {
  SeenFrame seen;
  if (!frame) return seen;
  seen.width = frame->width;
  seen.height = frame->height;
  seen.dataPresent = frame->data != nullptr;
  if (frame->data && frame->width > 0 && frame->height > 0) {
    const int stride = alignedRows ? zvpattern::RgbRowStride(frame->width) : frame->width * 3;
    seen.decoded = zvpattern::DecodeBgrBottomUp(frame->data, static_cast<size_t>(stride) * frame->height,
                                                frame->width, frame->height, stride);
  }
  return seen;
}

// A message-only window on the calling thread that counts render messages and graph
// notifications; `onFrame` runs inside the render message handler.
class RenderWindow {
 public:
  RenderWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &RenderWindow::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZelvoraPreviewTestWindow";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~RenderWindow() {
    if (hwnd) DestroyWindow(hwnd);
  }
  RenderWindow(const RenderWindow&) = delete;
  RenderWindow& operator=(const RenderWindow&) = delete;

  HWND hwnd = nullptr;
  volatile LONG frames = 0;
  volatile LONG notifications = 0;
  LONG handlerDepth = 0;
  LONG maxHandlerDepth = 0;
  bool inspect = false;       // decode every frame (costly at large sizes)
  bool alignedRows = false;   // RGB24 frames
  SeenFrame last;
  std::vector<SeenFrame> inspected;
  std::function<void(const RenderFrame*)> onFrame;
  std::function<LRESULT()> onRequest;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    RenderWindow* self = reinterpret_cast<RenderWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == kRenderMessage) {
      ++self->handlerDepth;
      if (self->handlerDepth > self->maxHandlerDepth) self->maxHandlerDepth = self->handlerDepth;
      InterlockedIncrement(&self->frames);
      const RenderFrame* frame = reinterpret_cast<const RenderFrame*>(wParam);
      if (self->inspect) {
        self->last = Inspect(frame, self->alignedRows);
        self->inspected.push_back(self->last);
      } else if (frame) {
        self->last.width = frame->width;
        self->last.height = frame->height;
        self->last.dataPresent = frame->data != nullptr;
      }
      if (self->onFrame) self->onFrame(frame);
      --self->handlerDepth;
      return 0;
    }
    if (self && msg == kHostRequest && self->onRequest) return self->onRequest();
    if (self && msg == kGraphNotify) {
      InterlockedIncrement(&self->notifications);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
};

// The host's render callback (cdecl), counting frames on the streaming thread.
struct CallbackCounter {
  static volatile LONG frames;
  static volatile LONG nullData;
  static volatile LONG width;
  static volatile LONG height;
  static void __cdecl Render(RenderFrame* frame, int, int) {
    InterlockedIncrement(&frames);
    if (!frame || !frame->data) InterlockedIncrement(&nullData);
    if (frame) {
      width = frame->width;
      height = frame->height;
    }
  }
  static void Reset() { frames = nullData = width = height = 0; }
  CallbackCell cell = reinterpret_cast<CallbackCell>(&CallbackCounter::Render);
};
inline volatile LONG CallbackCounter::frames = 0;
inline volatile LONG CallbackCounter::nullData = 0;
inline volatile LONG CallbackCounter::width = 0;
inline volatile LONG CallbackCounter::height = 0;

// The test device DLL as COM loaded it into this process.
inline HMODULE DevicesModule() {
  HMODULE module = GetModuleHandleW(ZVD_DLL_NAME);
  if (module) return module;
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dll(path);
  dll.erase(dll.find_last_of(L"\\/") + 1);
  return LoadLibraryW((dll + ZVD_DLL_NAME).c_str());  // stays loaded: COM loads the same file
}

template <typename Fn>
Fn DevicesExport(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(DevicesModule(), name)));
}

// Live virtual devices of the process with the given friendly name (newest last).
inline std::vector<ComPtr<IZelvoraDeviceControl>> LiveDevices(const std::wstring& name) {
  std::vector<ComPtr<IZelvoraDeviceControl>> found;
  auto list = DevicesExport<ZvdGetLiveDevicesFn>("ZvdGetLiveDevices");
  if (!list) return found;
  IZelvoraDeviceControl* devices[64] = {};
  ULONG count = 0;
  if (FAILED(list(devices, 64, &count))) return found;
  for (ULONG i = 0; i < count && i < 64; ++i) {
    ULONG kind = 0;
    WCHAR text[128] = {};
    if (SUCCEEDED(devices[i]->GetIdentity(&kind, text, 128)) && name == text) found.push_back(devices[i]);
    devices[i]->Release();
  }
  return found;
}

inline ComPtr<IZelvoraDeviceControl> LiveDevice(const std::wstring& name) {
  std::vector<ComPtr<IZelvoraDeviceControl>> all = LiveDevices(name);
  return all.empty() ? nullptr : all.back();
}

inline LONG StreamingThreads() {
  auto count = DevicesExport<ZvdStreamingThreadCountFn>("ZvdStreamingThreadCount");
  return count ? count() : -1;
}

inline LONG LiveDeviceObjects() {
  auto count = DevicesExport<ZvdLiveObjectCountFn>("ZvdLiveObjectCount");
  return count ? count() : -1;
}

// The graphs this process publishes in the running object table.
using testsupport::FilterNames;
using testsupport::PublishedGraph;
using testsupport::RotGraphEntries;

inline int CountOf(const std::vector<std::wstring>& names, const std::wstring& name) {
  int n = 0;
  for (const std::wstring& s : names) n += s == name;
  return n;
}

inline unsigned long CameraState(IIZelvora* camera) {
  unsigned long state = 0xFFFFFFFF;
  camera->GetCurrentCameraState(&state);
  return state;
}

// A camera device registered for one test (instance key, friendly name, configuration) and
// removed after it.
class ScopedTestCamera {
 public:
  ScopedTestCamera(const wchar_t* instance, const wchar_t* name, const wchar_t* config, const wchar_t* pins = nullptr)
      : m_instance(instance) {
    auto add = DevicesExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
    registered = add && add(ZVD_KIND_CAMERA, instance, name, config, pins) == S_OK;
  }
  ~ScopedTestCamera() {
    auto remove = DevicesExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
    if (remove) remove(ZVD_KIND_CAMERA, m_instance.c_str());
  }
  ScopedTestCamera(const ScopedTestCamera&) = delete;
  ScopedTestCamera& operator=(const ScopedTestCamera&) = delete;

  bool registered = false;

 private:
  std::wstring m_instance;
};

// The host's side of a preview test: one component object with a render window and a counting
// callback; the tear-down releases the object and waits until the devices' streaming threads
// have ended.
class PreviewHostTest : public testing::Test {
 protected:
  void SetUp() override {
    camera = dlltest::CreateComponent();
    ASSERT_NE(nullptr, camera.Get());
    ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
    CallbackCounter::Reset();
    ASSERT_EQ(S_OK, camera->SetRenderCallbackFun(&callback.cell));
  }
  void TearDown() override {
    // A test that ended on a failed assertion may have left handlers that refer to its locals;
    // releasing the object lets a waiting frame through, which would run them.
    window.onFrame = nullptr;
    window.onRequest = nullptr;
    camera.Reset();
    EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; })) << StreamingThreads();
  }

  RenderWindow window;
  CallbackCounter callback;
  ComPtr<IIZelvora> camera;
};

}  // namespace previewtest
