// The devices' property frame through the registered component, on an X display (run by
// display-tests.sh under Xvfb): the frame shows the device's own page, a watcher thread closes
// it, frames keep flowing while it is open, and the graph is the same afterwards.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"

using namespace dlltest;
using namespace previewtest;

namespace {

// Finds the property frame of this process, notes what it shows, and closes it.
class FrameWatcher {
 public:
  // `whileOpen` runs on the watcher thread once the frame is there, before it is closed.
  explicit FrameWatcher(std::function<void()> whileOpen = nullptr) : m_whileOpen(std::move(whileOpen)) {
    m_thread = std::thread([this] { Watch(); });
  }
  ~FrameWatcher() { Stop(); }
  FrameWatcher(const FrameWatcher&) = delete;
  FrameWatcher& operator=(const FrameWatcher&) = delete;

  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }

  HWND frame = nullptr;
  HWND owner = nullptr;
  HWND parent = nullptr;
  HWND watchEnabled = nullptr;  // a window whose enabled state is noted while the frame is open
  BOOL watchedEnabled = TRUE;
  RECT placed = {};
  std::wstring title;
  std::vector<std::wstring> texts;  // captions of the frame's windows (tabs are not windows)
  std::vector<std::wstring> tabs;

 private:
  static BOOL CALLBACK FindFrame(HWND hwnd, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0) {
      *reinterpret_cast<HWND*>(param) = hwnd;
      return FALSE;
    }
    return TRUE;
  }
  static BOOL CALLBACK CollectText(HWND hwnd, LPARAM param) {
    wchar_t text[256] = {};
    // WM_GETTEXT across threads: the frame's thread is in its modal loop and answers.
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    if (text[0]) reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
    return TRUE;
  }
  void Watch() {
    while (!m_stop && !frame) {
      HWND found = nullptr;
      EnumWindows(&FrameWatcher::FindFrame, reinterpret_cast<LPARAM>(&found));
      if (found) {
        Sleep(300);  // let the pages settle
        frame = found;
      } else {
        Sleep(50);
      }
    }
    if (!frame) return;
    owner = GetWindow(frame, GW_OWNER);
    parent = reinterpret_cast<HWND>(GetWindowLongPtrW(frame, GWLP_HWNDPARENT));
    if (watchEnabled) watchedEnabled = IsWindowEnabled(watchEnabled);
    GetWindowRect(frame, &placed);
    wchar_t text[256] = {};
    SendMessageTimeoutW(frame, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    title = text;
    EnumChildWindows(frame, &FrameWatcher::CollectText, reinterpret_cast<LPARAM>(&texts));
    if (HWND tab = FindWindowExW(frame, nullptr, L"SysTabControl32", nullptr)) {
      DWORD_PTR count = 0;
      SendMessageTimeoutW(tab, 0x1304 /* TCM_GETITEMCOUNT */, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
      tabs.resize(count);
    }
    if (m_whileOpen) m_whileOpen();
    PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }

  std::function<void()> m_whileOpen;
  volatile bool m_stop = false;
  std::thread m_thread;
};

bool AnyContains(const std::vector<std::wstring>& texts, const std::wstring& part) {
  for (const std::wstring& t : texts)
    if (t.find(part) != std::wstring::npos) return true;
  return false;
}

std::string Joined(const std::vector<std::wstring>& texts) {
  std::string all;
  for (const std::wstring& t : texts) {
    for (wchar_t c : t) all += c < 128 ? static_cast<char>(c) : '?';
    all += " | ";
  }
  return all;
}

class PropertyFrame : public PreviewHostTest {
 protected:

  Watchdog watchdog{"property frame test", 120};
};

TEST_F(PropertyFrame, NothingToShowBeforeALoadOrWithoutAMicrophone) {
  FrameWatcher watcher;
  EXPECT_EQ(S_FALSE, camera->VideoConfig());
  EXPECT_EQ(S_FALSE, camera->AudioConfig());
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 640, 480));
  EXPECT_EQ(S_FALSE, camera->AudioConfig());
  PumpUntil(500);
  watcher.Stop();
  EXPECT_EQ(nullptr, watcher.frame) << "no frame for a missing device";
  EXPECT_EQ(1u, CameraState(camera.Get()));
}

TEST_F(PropertyFrame, TheCamerasPageWhileFramesFlowAndTheGraphStaysAsItWas) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 640, 480, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(PumpUntil(5000, [&] { return window.frames >= 5; }));
  ComPtr<IGraphBuilder> graph = PublishedGraph<IGraphBuilder>();
  ASSERT_NE(nullptr, graph.Get());
  const std::vector<std::wstring> filtersBefore = FilterNames(graph.Get());
  ComPtr<IZelvoraDeviceControl> device = LiveDevice(ZVD_CAMERA_MAIN);
  ASSERT_NE(nullptr, device.Get());
  const size_t devicesBefore = LiveDevices(ZVD_CAMERA_MAIN).size();

  // A host window of this thread, active: the frame's owner.
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, host);
  SetActiveWindow(host);
  const HWND active = GetActiveWindow();

  // While the frame is open: frames reach the callback and the window (the frame's modal loop
  // handles the render messages sent to this thread).
  LONG callbackWhileOpen = 0, windowWhileOpen = 0;
  FrameWatcher watcher([&] {
    const LONG c0 = CallbackCounter::frames, w0 = window.frames;
    Sleep(1000);
    callbackWhileOpen = CallbackCounter::frames - c0;
    windowWhileOpen = window.frames - w0;
  });
  watcher.watchEnabled = host;
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(S_OK, camera->VideoConfig());
  const DWORD openMs = GetTickCount() - t0;
  watcher.Stop();

  ASSERT_NE(nullptr, watcher.frame) << "the frame did not appear";
  EXPECT_GE(openMs, 1000u) << "VideoConfig returns when the frame closes";
  EXPECT_TRUE(AnyContains(watcher.texts, ZVD_CAMERA_MAIN)) << Joined(watcher.texts);
  EXPECT_TRUE(AnyContains(watcher.texts, L"640x480")) << Joined(watcher.texts);
  EXPECT_FALSE(AnyContains(watcher.texts, ZVD_MICROPHONE_MAIN)) << Joined(watcher.texts);
  EXPECT_EQ(1u, watcher.tabs.size()) << "the device's one page";
  // The owner: Wine's property frame takes no owner at all (the same frame opened here with an
  // explicit owner has none either), so the owner is compared only where the platform keeps it.
  {
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(S_OK, device.As(&specify));
    CAUUID pages = {};
    ASSERT_EQ(S_OK, specify->GetPages(&pages));
    IUnknown* object = device.Get();
    FrameWatcher direct;
    OleCreatePropertyFrame(host, 30, 30, nullptr, 1, &object, pages.cElems, pages.pElems, 0, 0, nullptr);
    direct.Stop();
    CoTaskMemFree(pages.pElems);
    ASSERT_NE(nullptr, direct.frame);
    if (direct.owner == host) {
      EXPECT_EQ(active, watcher.owner) << "owned by the thread's active window";
    } else {
      printf("this platform's property frame keeps no owner (explicit owner %p gave %p)\n",
             static_cast<void*>(host), static_cast<void*>(direct.owner));
    }
  }
  EXPECT_GT(callbackWhileOpen, 10) << "frames at the callback while the frame is open";
  EXPECT_GT(windowWhileOpen, 10) << "render messages while the frame is open";
  printf("frame \"%ls\" at %ld,%ld (host %p, owner %p, parent %p, host enabled %d); %ld callback and %ld window"
         " frames in 1 s while open\n",
         watcher.title.c_str(), watcher.placed.left, watcher.placed.top, static_cast<void*>(host),
         static_cast<void*>(watcher.owner), static_cast<void*>(watcher.parent), watcher.watchedEnabled,
         callbackWhileOpen, windowWhileOpen);

  // The same graph, the same device object, still running.
  EXPECT_EQ(1u, CameraState(camera.Get()));
  EXPECT_EQ(filtersBefore, FilterNames(graph.Get()));
  EXPECT_EQ(device.Get(), LiveDevice(ZVD_CAMERA_MAIN).Get());
  EXPECT_EQ(devicesBefore, LiveDevices(ZVD_CAMERA_MAIN).size());
  const LONG after = window.frames;
  EXPECT_TRUE(PumpUntil(3000, [&] { return window.frames - after >= 5; }));
  DestroyWindow(host);
}

TEST_F(PropertyFrame, TheMicrophonesPageAfterALoadWithAudio) {
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 640, 480, W(ZVD_MICROPHONE_MAIN)));
  ASSERT_TRUE(PumpUntil(5000, [&] { return window.frames >= 2; }));
  FrameWatcher watcher;
  EXPECT_EQ(S_OK, camera->AudioConfig());
  watcher.Stop();
  ASSERT_NE(nullptr, watcher.frame) << "the frame did not appear";
  EXPECT_TRUE(AnyContains(watcher.texts, ZVD_MICROPHONE_MAIN)) << Joined(watcher.texts);
  EXPECT_TRUE(AnyContains(watcher.texts, L"PCM")) << Joined(watcher.texts);
  EXPECT_EQ(1u, CameraState(camera.Get()));
}

// A host that drops its last reference from a message handled inside the frame's loop.
LRESULT CALLBACK DropOnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_APP + 77) {
    reinterpret_cast<IIZelvora*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))->Release();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(PropertyFrame, TheObjectMayBeReleasedWhileItsFrameIsOpen) {
  ASSERT_EQ(S_OK, camera->LoadCameraXY(W(ZVD_CAMERA_MAIN), 640, 480));
  ASSERT_TRUE(PumpUntil(5000, [&] { return window.frames >= 2; }));
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &DropOnMessage;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZelvoraTestDropper";
  RegisterClassW(&wc);
  HWND dropper = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, dropper);
  IIZelvora* raw = camera.Detach();
  SetWindowLongPtrW(dropper, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(raw));
  FrameWatcher watcher([&] {
    PostMessageW(dropper, WM_APP + 77, 0, 0);
    Sleep(500);
  });
  EXPECT_EQ(S_OK, raw->VideoConfig());  // the call holds the object until it returns
  watcher.Stop();
  EXPECT_NE(nullptr, watcher.frame);
  // The last reference went with the call: the graph is gone.
  EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; })) << StreamingThreads();
  DestroyWindow(dropper);
}

}  // namespace
