// The preview graph as the capture graph object builds it on a virtual camera, the sample
// grabber's media type, and the delivery gate that keeps the window's thread from waiting for a
// frame that waits for it.
#include <windows.h>
#include <process.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Zelvora.h"

#include "capture/frameformat.h"
#include "capturegraph_access.h"
#include "support/watchdog.h"

#include <amvideo.h>
#include <dvdmedia.h>

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

// ---- the frame layout from the grabber's connection ----

// A connection media type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 block.
struct Connection {
  Connection(const GUID& subtype, const GUID& formatType, LONG width, LONG height) {
    const bool info2 = IsEqualGUID(formatType, FORMAT_VideoInfo2) != FALSE;
    block.assign(info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER), 0);
    BITMAPINFOHEADER* header = info2 ? &reinterpret_cast<VIDEOINFOHEADER2*>(block.data())->bmiHeader
                                     : &reinterpret_cast<VIDEOINFOHEADER*>(block.data())->bmiHeader;
    header->biWidth = width;
    header->biHeight = height;
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    type.formattype = formatType;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
  }
  AM_MEDIA_TYPE type = {};
  std::vector<BYTE> block;
};

TEST(FrameFormatOfConnection, TakesFormatAndSizeFromEitherHeader) {
  struct {
    GUID subtype, formatType;
    LONG width, height;
    int format, expectedHeight;
  } cases[] = {{MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240, ColorFormat::YUY2, 240},
               {MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, -240, ColorFormat::YUY2, 240},  // YUV: rows top-down anyway
               {kMediaSubtypeI420, FORMAT_VideoInfo, 176, -144, ColorFormat::I420, 144},
               {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 642, 480, ColorFormat::RGB24, 480}};
  for (const auto& c : cases) {
    Connection connection(c.subtype, c.formatType, c.width, c.height);
    FrameFormat format;
    ASSERT_TRUE(FrameFormatOfConnection(connection.type, &format)) << c.width << "x" << c.height;
    EXPECT_EQ(c.format, format.colorFormat);
    EXPECT_EQ(c.width, format.width);
    EXPECT_EQ(c.expectedHeight, format.height);
  }
}

TEST(FrameFormatOfConnection, RefusesTypesWhoseFramesCannotBeRead) {
  const GUID iyuv = {0x56555949, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  std::vector<Connection> refused;
  refused.reserve(16);  // the types point into their own blocks: no copies
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 320, -240);  // top-down RGB24
  refused.emplace_back(iyuv, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_None, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 0, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, -320, 240);
  refused.emplace_back(kMediaSubtypeI420, FORMAT_VideoInfo, 320, 0);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, LONG(0x80000000));
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 100000, 100000);  // past 2 GB
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER);  // too short for a VIDEOINFOHEADER2
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.pbFormat = nullptr;
  for (size_t i = 0; i < refused.size(); ++i) {
    FrameFormat format;
    format.colorFormat = format.width = format.height = 9;
    EXPECT_FALSE(FrameFormatOfConnection(refused[i].type, &format)) << "case " << i;
    EXPECT_TRUE(format.colorFormat == 9 && format.width == 9 && format.height == 9) << "case " << i;
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
