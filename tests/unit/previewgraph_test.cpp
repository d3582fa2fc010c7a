// The preview graph as the capture graph object builds it on a virtual camera, the sample
// grabber's media type, and the delivery gate that keeps the window's thread from waiting for a
// frame that waits for it.
#include <windows.h>
#include <process.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "support/watchdog.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// ---- the grabber's media type ----

TEST(GrabberMediaType, OnlyMajorTypeAndSubtypeAreSet) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  const GUID i420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  struct {
    int format;
    GUID subtype;
  } cases[] = {{ColorFormat::RGB24, MEDIASUBTYPE_RGB24}, {ColorFormat::YUY2, MEDIASUBTYPE_YUY2},
               {ColorFormat::I420, i420}, {ColorFormat::NotConfigured, MEDIASUBTYPE_RGB24}, {-1, MEDIASUBTYPE_RGB24}};
  for (const auto& c : cases) {
    a.m_nColorFormat() = c.format;
    AM_MEDIA_TYPE type;
    memset(&type, 0xCD, sizeof(type));
    a.BuildGrabberMediaType(&type);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.majortype));
    EXPECT_TRUE(IsEqualGUID(c.subtype, type.subtype)) << c.format;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.formattype));
    EXPECT_FALSE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(0u, type.lSampleSize);
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(nullptr, type.pbFormat);
    EXPECT_EQ(nullptr, type.pUnk);
  }
}

// ---- a grabber that could not be created ----

volatile LONG g_frames = 0;
void __cdecl CountFrame(RenderFrame*, int, int) { InterlockedIncrement(&g_frames); }

std::vector<std::wstring> FilterNames(IGraphBuilder* graph) {
  std::vector<std::wstring> names;
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(&filters))) return names;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    FILTER_INFO info = {};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      names.push_back(info.achName);
      if (info.pGraph) info.pGraph->Release();
    }
  }
  return names;
}

TEST(PreviewWithoutGrabber, RunsThePreviewWithoutFrames) {
  testsupport::Watchdog watchdog("preview without grabber", 60);
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  unsigned long cell = reinterpret_cast<unsigned long>(&CountFrame);
  graph.SetRenderCallbackFun(&cell);
  // As after a failed creation: no grabber for the rest of the object's life.
  a.m_bUseGrabber() = FALSE;
  ASSERT_EQ(S_OK, graph.LoadCamera(L"Zelvora Virtual Camera"));
  EXPECT_EQ(CameraState::Running, graph.GetCurrentCameraState());
  const std::vector<std::wstring> names = FilterNames(a.m_pGraph().Get());
  for (const std::wstring& name : names) EXPECT_NE(L"SampleGrabber", name);
  EXPECT_EQ(3u, names.size());  // source, Smart Tee, renderer
  g_frames = 0;
  Sleep(300);
  EXPECT_EQ(0, g_frames);
  EXPECT_FALSE(a.m_bUseGrabber());
  EXPECT_EQ(S_OK, graph.ReleaseCamera());
}

// ---- the delivery gate ----

// A message-only window that counts render messages and runs `onFrame` inside the handler.
struct GateWindow {
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    GateWindow* self = reinterpret_cast<GateWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_RENDER_FRAME) {
      ++self->messages;
      if (self->onFrame) self->onFrame();
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  GateWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZelvoraGateTest";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~GateWindow() { DestroyWindow(hwnd); }
  HWND hwnd;
  int messages = 0;
  void (*onFrame)() = nullptr;
};

// A streaming thread of its own: hands a 4x4 RGB24 frame to the callback object again and again.
class Streamer {
 public:
  explicit Streamer(FrameCallback& callback) : m_callback(callback) {
    m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Streamer::Run, this, 0, nullptr));
  }
  ~Streamer() {
    m_stop = true;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
  }
  std::atomic<long> handled{0};

 private:
  static unsigned __stdcall Run(void* self) {
    Streamer* s = static_cast<Streamer*>(self);
    BYTE frame[48] = {};
    while (!s->m_stop) {
      s->m_callback.BufferCB(0, frame, sizeof(frame));
      ++s->handled;
      Sleep(1);
    }
    return 0;
  }
  FrameCallback& m_callback;
  std::atomic<bool> m_stop{false};
  HANDLE m_thread;
};

class DeliveryGate : public testing::Test {
 protected:
  void SetUp() override {
    callback.SetFrameFormat(ColorFormat::RGB24);
    callback.SetFrameSize(4, 4);
    callback.SetRenderWnd(window.hwnd);
    unsigned long cell = reinterpret_cast<unsigned long>(&CountFrame);
    callback.SetRenderCallback(&cell);
    g_frames = 0;
  }
  // Dispatches this thread's messages until `count` render messages have arrived.
  bool Pump(int count) {
    const DWORD start = GetTickCount();
    while (window.messages < count) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      if (GetTickCount() - start > 5000) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }

  testsupport::Watchdog watchdog{"delivery gate", 60};
  GateWindow window;
  FrameCallback callback;
};

TEST_F(DeliveryGate, ClosingWhileAFrameWaitsForThisThreadLetsItThroughAndDropsTheRest) {
  Streamer streamer(callback);
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(Pump(window.messages + 2));
    // Not pumping until the frame handler waits in the render message for this thread.
    const DWORD start = GetTickCount();
    while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) && GetTickCount() - start < 3000) Sleep(1);
    const int before = window.messages;
    callback.CloseGate();  // returns: the waiting frame was dispatched here
    EXPECT_GE(window.messages, before + 1) << round;
    const LONG frames = g_frames;
    const long handled = streamer.handled;
    while (streamer.handled < handled + 5) Sleep(1);
    EXPECT_EQ(frames, g_frames) << "a frame reached the host through a closed gate";
    // Closing nests: the gate opens with the last OpenGate.
    callback.CloseGate();
    callback.OpenGate();
    const long later = streamer.handled;
    while (streamer.handled < later + 5) Sleep(1);
    EXPECT_EQ(frames, g_frames);
    callback.OpenGate();
  }
  ASSERT_TRUE(Pump(window.messages + 3));
  callback.CloseGate();
}

FrameCallback* g_gateCallback = nullptr;
int g_closedInside = 0;
void CloseFromInside() {
  if (g_closedInside++ == 0) g_gateCallback->CloseGate();
}

TEST_F(DeliveryGate, ClosingFromInsideTheRenderMessageRepliesToIt) {
  Streamer streamer(callback);
  g_gateCallback = &callback;
  g_closedInside = 0;
  window.onFrame = &CloseFromInside;
  ASSERT_TRUE(Pump(1));  // the handler closed the gate from inside the message, and came back
  EXPECT_EQ(1, g_closedInside);
  const LONG frames = g_frames;
  const long handled = streamer.handled;
  while (streamer.handled < handled + 5) Sleep(1);
  EXPECT_LE(g_frames, frames + 1);  // at most the frame that was replied to reaches the callback
  window.onFrame = nullptr;
  callback.OpenGate();
  const int before = window.messages;
  ASSERT_TRUE(Pump(before + 3));
  callback.CloseGate();
}

}  // namespace
}  // namespace zelvora
