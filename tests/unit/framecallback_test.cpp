// The frame callback object through real message-only windows, host callbacks reached through a
// variable's address, JPEG snapshots decoded back with GDI+, and the delivery gate that keeps the
// window's thread from waiting for a frame that waits for it.
#include <windows.h>
#include <gdiplus.h>
#include <process.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Zelvora.h"

#include "capture/camcapturegraphy.h"
#include "media/framecallback.h"
#include "media/gdiplussession.h"
#include "media/snapshot.h"
#include "media/pixel/yuvconvert.h"
#include "support/guarded_buffer.h"
#include "support/watchdog.h"

namespace zelvora {

class FrameCallbackTestAccess {
 public:
  explicit FrameCallbackTestAccess(FrameCallback& cb) : f(cb) {}
  BYTE* Buffer() const { return f.m_pFrameBuffer.get(); }
  int BufferSize() const { return f.m_nBufferSize; }
  bool SnapPending() const { return f.m_bSnapPending != 0; }
  std::wstring SnapFile() const { return f.m_tcSnapFile; }
  RenderCallback Render() const { return f.m_pfnRender; }
  bool TakeRequest(std::wstring& name) {
    WCHAR buf[kTextLength];
    if (!f.TakeSnapshotRequest(buf)) return false;
    name = buf;
    return true;
  }
  HRESULT EnsureBuffer(long size) { return f.EnsureBuffer(size); }
  FrameCallback& f;
};

class FrameDeliveryTestAccess {
 public:
  static FrameCallback& Callback(CaptureGraph& g) { return g.m_FrameCallback; }
};

namespace {

using Gdiplus::GpBitmap;
namespace Flat = Gdiplus::DllExports;

// What the window and the callback saw.
struct Seen {
  int count = 0;
  int width = 0, height = 0;
  const unsigned char* data = nullptr;
  std::vector<unsigned char> bytes;
  DWORD thread = 0;
  void Record(const RenderFrame* frame, size_t copy) {
    ++count;
    width = frame->width;
    height = frame->height;
    data = frame->data;
    thread = GetCurrentThreadId();
    bytes.assign(frame->data, frame->data ? frame->data + copy : frame->data);
  }
};

Seen g_window, g_callback;
size_t g_copyBytes = 0;

LRESULT CALLBACK RenderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_RENDER_FRAME) {
    EXPECT_EQ(0, lParam);
    g_window.Record(reinterpret_cast<const RenderFrame*>(wParam), g_copyBytes);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void __cdecl RenderFn(RenderFrame* frame, int a, int b) {
  EXPECT_EQ(0, a);
  EXPECT_EQ(0, b);
  g_callback.Record(frame, g_copyBytes);
}
void __cdecl OtherRenderFn(RenderFrame*, int, int) {}

class MessageWindow {
 public:
  MessageWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RenderWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZelvoraRenderTest";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, L"ZelvoraRenderTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  ~MessageWindow() {
    if (hwnd) DestroyWindow(hwnd);
  }
  HWND hwnd = nullptr;
};

std::wstring TempDir() {
  WCHAR path[MAX_PATH];
  GetTempPathW(MAX_PATH, path);
  std::wstring dir = std::wstring(path) + L"zelvora_frames_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir + L"\\";
}

bool FileExists(const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A YUY2 frame whose pixels all have luma y and neutral chroma.
std::vector<BYTE> GreyYuy2(int w, int h, BYTE y) {
  std::vector<BYTE> frame(Yuy2SourceBytes(w, h));
  for (size_t i = 0; i < frame.size(); i += 2) {
    frame[i] = y;
    frame[i + 1] = 128;
  }
  return frame;
}

// A smooth YUY2 picture: luma rises from top to bottom, blue chroma from left to right.
std::vector<BYTE> GradientYuy2(int w, int h) {
  std::vector<BYTE> frame(Yuy2SourceBytes(w, h));
  const size_t stride = frame.size() / h;
  for (int r = 0; r < h; ++r)
    for (int j = 0; j < w; j += 2) {
      BYTE* g = &frame[r * stride + 2 * j];
      g[0] = g[2] = static_cast<BYTE>(30 + 190 * r / h);
      g[1] = static_cast<BYTE>(60 + 130 * j / w);
      g[3] = 128;
    }
  return frame;
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<DWORD> argb;  // top row first
  DWORD At(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

bool DecodeJpeg(const std::wstring& name, Decoded& out) {
  GpBitmap* bitmap = nullptr;
  if (Flat::GdipCreateBitmapFromFile(name.c_str(), &bitmap) != Gdiplus::Ok || !bitmap) return false;
  UINT w = 0, h = 0;
  Flat::GdipGetImageWidth(bitmap, &w);
  Flat::GdipGetImageHeight(bitmap, &h);
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);
  out.argb.resize(static_cast<size_t>(w) * h);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) {
      Gdiplus::ARGB c = 0;
      Flat::GdipBitmapGetPixel(bitmap, x, y, &c);
      out.argb[static_cast<size_t>(y) * w + x] = c;
    }
  Flat::GdipDisposeImage(bitmap);
  return true;
}

// Largest channel difference between the decoded JPEG and a bottom-up BGR picture.
int MaxDifference(const Decoded& jpeg, const BYTE* picture, int stride, double* mean) {
  int worst = 0;
  double sum = 0;
  for (int y = 0; y < jpeg.height; ++y)
    for (int x = 0; x < jpeg.width; ++x) {
      const BYTE* p = picture + static_cast<size_t>(jpeg.height - 1 - y) * stride + x * 3;
      const DWORD c = jpeg.At(x, y);
      const int d[3] = {abs(static_cast<int>(c & 0xFF) - p[0]), abs(static_cast<int>((c >> 8) & 0xFF) - p[1]),
                        abs(static_cast<int>((c >> 16) & 0xFF) - p[2])};
      for (int k = 0; k < 3; ++k) {
        worst = std::max(worst, d[k]);
        sum += d[k];
      }
    }
  *mean = sum / (3.0 * jpeg.width * jpeg.height);
  return worst;
}

class FrameCallbackTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { GdiplusAcquire(); }
  static void TearDownTestSuite() { GdiplusRelease(); }
  void SetUp() override {
    g_window = Seen();
    g_callback = Seen();
    g_copyBytes = 0;
    dir = TempDir();
  }
  void TearDown() override {
    for (const std::wstring& f : files) DeleteFileW(f.c_str());
    RemoveDirectoryW(dir.c_str());
  }
  std::wstring File(const wchar_t* name) {
    files.push_back(dir + name);
    return files.back();
  }
  void UseCallback(FrameCallback& cb) {
    cell = reinterpret_cast<CallbackCell>(&RenderFn);
    cb.SetRenderCallback(&cell);
  }

  CallbackCell cell = 0;
  std::wstring dir;
  std::vector<std::wstring> files;
};

TEST_F(FrameCallbackTest, ComIdentityAndCountingNeverDestroyTheObject) {
  FrameCallback cb;
  ISampleGrabberCB* grabberCb = nullptr;
  IUnknown* unknown = nullptr;
  ASSERT_EQ(S_OK, cb.QueryInterface(IID_ISampleGrabberCB, reinterpret_cast<void**>(&grabberCb)));
  ASSERT_EQ(S_OK, cb.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  EXPECT_EQ(static_cast<ISampleGrabberCB*>(&cb), grabberCb);
  EXPECT_EQ(static_cast<IUnknown*>(grabberCb), unknown);
  void* other = &cb;
  EXPECT_EQ(E_NOINTERFACE, cb.QueryInterface(IID_IClassFactory, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(E_POINTER, cb.QueryInterface(IID_IUnknown, nullptr));
  // QueryInterface hands out the address without counting; the count is the caller's business.
  EXPECT_EQ(1u, cb.AddRef());
  EXPECT_EQ(2u, grabberCb->AddRef());
  EXPECT_EQ(1u, grabberCb->Release());
  EXPECT_EQ(0u, cb.Release());
  EXPECT_EQ(E_NOINTERFACE, cb.SampleCB(0, nullptr));
  EXPECT_EQ(E_POINTER, cb.BufferCB(0, nullptr, 100));
}

TEST_F(FrameCallbackTest, WindowAndCallbackGetTheSameFrame) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  MessageWindow window;
  ASSERT_NE(nullptr, window.hwnd);
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(2, 2);
  cb.SetRenderWnd(window.hwnd);
  UseCallback(cb);
  g_copyBytes = 12;
  std::vector<BYTE> frame = GreyYuy2(2, 2, 0x80);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));

  ASSERT_EQ(1, g_window.count);
  ASSERT_EQ(1, g_callback.count);
  EXPECT_EQ(2, g_window.width);
  EXPECT_EQ(2, g_window.height);
  EXPECT_EQ(2, g_callback.width);
  EXPECT_EQ(2, g_callback.height);
  EXPECT_NE(nullptr, g_window.data);
  EXPECT_EQ(g_window.data, g_callback.data);
  EXPECT_EQ(std::vector<unsigned char>(12, 128), g_window.bytes);
  EXPECT_EQ(g_window.bytes, g_callback.bytes);

  // The converted picture is kept for the next frame of the same size, not made anew.
  const BYTE* first = access.Buffer();
  EXPECT_EQ(12, access.BufferSize());
  frame = GreyYuy2(2, 2, 0xFF);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(first, access.Buffer());
  EXPECT_EQ(std::vector<unsigned char>(12, 255), g_callback.bytes);

  // A window handle that is no longer a window: no message, the callback still runs.
  DestroyWindow(window.hwnd);
  window.hwnd = nullptr;
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(2, g_window.count);
  EXPECT_EQ(3, g_callback.count);
}

TEST_F(FrameCallbackTest, StreamingThreadWaitsForTheWindowThread) {
  FrameCallback cb;
  MessageWindow window;
  cb.SetFrameFormat(ColorFormat::I420);
  cb.SetFrameSize(4, 2);
  cb.SetRenderWnd(window.hwnd);
  UseCallback(cb);
  g_copyBytes = 24;
  std::vector<BYTE> frame(I420SourceBytes(4, 2), 0x80);
  std::atomic<bool> done{false};
  DWORD handlerThread = 0;
  std::thread streaming([&] {
    handlerThread = GetCurrentThreadId();
    cb.BufferCB(0, frame.data(), static_cast<long>(frame.size()));
    done = true;
  });
  const DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < 10000) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  streaming.join();
  ASSERT_EQ(1, g_window.count);
  EXPECT_EQ(GetCurrentThreadId(), g_window.thread);  // the window's own thread handled the message
  EXPECT_EQ(handlerThread, g_callback.thread);      // the callback runs on the streaming thread
  EXPECT_EQ(g_window.bytes, g_callback.bytes);
}

TEST_F(FrameCallbackTest, CallbackCellSettersAndUnconfiguredFormat) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  UseCallback(cb);
  EXPECT_EQ(&RenderFn, access.Render());
  cb.SetRenderCallback(nullptr);  // a null address keeps the callback
  EXPECT_EQ(&RenderFn, access.Render());

  // Nothing configured: no conversion, the callback gets a null picture.
  BYTE byte = 0;
  ASSERT_EQ(S_OK, cb.BufferCB(0, &byte, 1));
  EXPECT_EQ(1, g_callback.count);
  EXPECT_EQ(nullptr, g_callback.data);

  CallbackCell other = reinterpret_cast<CallbackCell>(&OtherRenderFn);
  cb.SetRenderCallback(&other);
  EXPECT_EQ(&OtherRenderFn, access.Render());
  // The whole cell is the address: a 64-bit host's functions may lie above 4 GB. Only stored.
  CallbackCell high = static_cast<CallbackCell>(sizeof(CallbackCell) == 8 ? 0x7FF6A5A5C3C3F0F0ull : 0xC3C3F0F0ull);
  cb.SetRenderCallback(&high);
  EXPECT_EQ(high, reinterpret_cast<CallbackCell>(access.Render()));
  CallbackCell none = 0;  // a variable holding 0 removes the callback
  cb.SetRenderCallback(&none);
  EXPECT_EQ(nullptr, access.Render());
  ASSERT_EQ(S_OK, cb.BufferCB(0, &byte, 1));
  EXPECT_EQ(1, g_callback.count);
}

// Buffers shorter than the frame and unusable sizes: nothing is read, the window gets no message,
// the callback gets a null picture, and a pending snapshot waits for a good frame.
TEST_F(FrameCallbackTest, ShortBuffersAndBadSizesAreRefused) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  MessageWindow window;
  cb.SetRenderWnd(window.hwnd);
  UseCallback(cb);
  const std::wstring name = File(L"after_refusal.jpg");
  cb.RequestSnapshot(name.c_str());

  struct Case {
    int format, width, height;
    long length;
  } cases[] = {
      {ColorFormat::YUY2, 4, 4, 4 * 4 * 2 - 1},
      {ColorFormat::I420, 4, 4, 4 * 4 * 3 / 2 - 1},
      {ColorFormat::I420, 3, 3, 9 + 8 - 1},
      {ColorFormat::RGB24, 642, 2, 642 * 3 * 2},  // rows are 1928 bytes: 2 * 1928 needed
      {ColorFormat::YUY2, 0, 4, 64},
      {ColorFormat::YUY2, -4, 4, 64},
      {ColorFormat::I420, 4, -1, 64},
      {ColorFormat::RGB24, 0, 0, 64},
      {ColorFormat::YUY2, 4, 4, -5},
  };
  int calls = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.width << "x" << c.height << " " << c.length);
    // The buffer really holds only max(length, 1) bytes: one more would fault.
    GuardedBuffer buffer(c.length > 0 ? static_cast<size_t>(c.length) : 1);
    memset(buffer.data(), 0x80, buffer.size());
    cb.SetFrameFormat(c.format);
    cb.SetFrameSize(c.width, c.height);
    ASSERT_EQ(S_OK, cb.BufferCB(0, buffer.data(), c.length));
    EXPECT_EQ(++calls, g_callback.count);
    EXPECT_EQ(nullptr, g_callback.data);
    EXPECT_EQ(0, g_window.count);
    EXPECT_TRUE(access.SnapPending());
  }
  EXPECT_FALSE(FileExists(name));

  // The next good frame takes the snapshot.
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(4, 4);
  std::vector<BYTE> frame = GreyYuy2(4, 4, 90);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(1, g_window.count);
  EXPECT_FALSE(access.SnapPending());
  EXPECT_TRUE(FileExists(name));
}

TEST_F(FrameCallbackTest, ReleaseFrameDropsFramesAndKeepsTheSnapshotWaiting) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  MessageWindow window;
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(8, 8);
  cb.SetRenderWnd(window.hwnd);
  UseCallback(cb);
  std::vector<BYTE> frame = GreyYuy2(8, 8, 100);
  const std::wstring name = File(L"resumed.jpg");

  cb.SetNeedReleaseFrame(1);
  cb.RequestSnapshot(name.c_str());
  for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(0, g_window.count);
  EXPECT_EQ(0, g_callback.count);
  EXPECT_EQ(nullptr, access.Buffer());  // not even converted
  EXPECT_TRUE(access.SnapPending());
  EXPECT_FALSE(FileExists(name));

  cb.SetNeedReleaseFrame(0);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(1, g_window.count);
  EXPECT_EQ(1, g_callback.count);
  EXPECT_FALSE(access.SnapPending());
  EXPECT_TRUE(FileExists(name));

  // A late frame of a graph that left running is held the same way until it runs again; the
  // counts tell what reached the host and what could not be read.
  ULONG delivered = 0, dropped = 0;
  cb.FrameCounts(&delivered, &dropped);
  EXPECT_EQ(1u, delivered);
  cb.HoldFrames(true);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(1, g_window.count);
  EXPECT_EQ(1, g_callback.count);
  cb.HoldFrames(false);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), 10));  // short: refused and counted
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(2, g_window.count);
  cb.FrameCounts(&delivered, &dropped);
  EXPECT_EQ(2u, delivered);
  EXPECT_EQ(1u, dropped);
  cb.ResetFrameCounts();
  cb.FrameCounts(&delivered, &dropped);
  EXPECT_EQ(0u, delivered + dropped);
}

TEST_F(FrameCallbackTest, SnapshotRequestsNamesAndMissingFolders) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(16, 8);
  std::vector<BYTE> frame = GreyYuy2(16, 8, 60);

  // Two requests before a frame: one file, under the second name. The name stays afterwards.
  const std::wstring first = File(L"first.jpg"), second = File(L"second.jpg");
  cb.RequestSnapshot(first.c_str());
  cb.RequestSnapshot(second.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_FALSE(FileExists(first));
  EXPECT_TRUE(FileExists(second));
  EXPECT_EQ(second, access.SnapFile());
  DeleteFileW(second.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_FALSE(FileExists(second));  // one request, one file

  // A folder that does not exist: nothing written, nothing reported, the request is consumed.
  const std::wstring missing = dir + L"no_such_folder\\x.jpg";
  cb.RequestSnapshot(missing.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_FALSE(access.SnapPending());
  EXPECT_FALSE(FileExists(missing));
  const std::wstring next = File(L"next.jpg");
  cb.RequestSnapshot(next.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_TRUE(FileExists(next));

  // A null name keeps the last one; a name of 260 units or more is cut to 259.
  cb.RequestSnapshot(nullptr);
  EXPECT_TRUE(access.SnapPending());
  EXPECT_EQ(next, access.SnapFile());
  std::wstring longName(300, L'n');
  longName[0] = L'a';
  cb.RequestSnapshot(longName.c_str());
  EXPECT_EQ(longName.substr(0, 259), access.SnapFile());
  std::wstring taken;
  ASSERT_TRUE(access.TakeRequest(taken));
  EXPECT_FALSE(access.TakeRequest(taken));
}

// The request and the frame handler never see half a name: a writer alternates two names of
// different lengths while a reader takes requests.
TEST_F(FrameCallbackTest, SnapshotRequestAndHandlerNeverRace) {
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  const std::wstring a(200, L'a'), b(100, L'b');
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) cb.RequestSnapshot(i % 2 ? a.c_str() : b.c_str());
  });
  int taken = 0, torn = 0;
  const DWORD start = GetTickCount();
  while (taken < 5000 && GetTickCount() - start < 2000) {
    std::wstring name;
    if (access.TakeRequest(name)) {
      ++taken;
      if (name != a && name != b) ++torn;
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(taken, 0);
  EXPECT_EQ(0, torn) << "of " << taken;
}

// The JPEG decoded back: the frame's size, upright (the first source row at the top), colours
// within JPEG tolerance of the picture handed to the host.
TEST_F(FrameCallbackTest, SnapshotDecodesUprightAndMatchesTheFrame) {
  const int w = 64, h = 48;
  FrameCallback cb;
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(w, h);
  UseCallback(cb);
  g_copyBytes = static_cast<size_t>(w) * h * 3;
  std::vector<BYTE> frame = GradientYuy2(w, h);
  const std::wstring name = File(L"upright.jpg");
  cb.RequestSnapshot(name.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));

  Decoded jpeg;
  ASSERT_TRUE(DecodeJpeg(name, jpeg));
  ASSERT_EQ(w, jpeg.width);
  ASSERT_EQ(h, jpeg.height);
  // Source row 0 is dark (luma 30), the last row bright: the top of the JPEG must be dark.
  const int top = static_cast<int>((jpeg.At(w / 2, 1) >> 8) & 0xFF);
  const int bottom = static_cast<int>((jpeg.At(w / 2, h - 2) >> 8) & 0xFF);
  EXPECT_LT(top + 100, bottom);
  double mean = 0;
  EXPECT_LE(MaxDifference(jpeg, g_callback.bytes.data(), w * 3, &mean), 24);
  EXPECT_LT(mean, 4.0);
}

// RGB24 frames keep the platform's 4-byte row alignment; the JPEG of a 642-pixel-wide frame
// matches it row by row (rows of 1928 bytes, not 1926).
TEST_F(FrameCallbackTest, Rgb24FramesKeepAlignedRowsAndSnapshotByStride) {
  const int w = 642, h = 20, stride = 1928;
  FrameCallback cb;
  FrameCallbackTestAccess access(cb);
  cb.SetFrameFormat(ColorFormat::RGB24);
  cb.SetFrameSize(w, h);
  UseCallback(cb);
  g_copyBytes = static_cast<size_t>(stride) * h;
  std::vector<BYTE> frame(g_copyBytes, 0xEE);  // padding bytes stay 0xEE
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      BYTE* p = &frame[static_cast<size_t>(r) * stride + x * 3];
      p[0] = static_cast<BYTE>(40 + x / 4);  // blue rises to the right
      p[1] = static_cast<BYTE>(50 + r * 8);  // green rises towards the top (bottom-up rows)
      p[2] = 120;
    }
  const std::wstring name = File(L"rgb642.jpg");
  cb.RequestSnapshot(name.c_str());
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(frame, g_callback.bytes);  // a copy as delivered
  EXPECT_NE(frame.data(), g_callback.data);

  Decoded jpeg;
  ASSERT_TRUE(DecodeJpeg(name, jpeg));
  ASSERT_EQ(w, jpeg.width);
  ASSERT_EQ(h, jpeg.height);
  double mean = 0;
  EXPECT_LE(MaxDifference(jpeg, frame.data(), stride, &mean), 24);
  EXPECT_LT(mean, 4.0);

  // The copy buffer only grows.
  BYTE* buffer = access.Buffer();
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(buffer, access.Buffer());
  EXPECT_EQ(E_INVALIDARG, access.EnsureBuffer(0));
  EXPECT_EQ(E_INVALIDARG, access.EnsureBuffer(-1));
  EXPECT_EQ(buffer, access.Buffer());
}

TEST_F(FrameCallbackTest, EncoderLookupAndSaveArguments) {
  CLSID clsid = CLSID_NULL;
  EXPECT_GE(FindImageEncoder(L"image/jpeg", &clsid), 0);
  EXPECT_NE(CLSID_NULL, clsid);
  CLSID untouched = CLSID_NULL;
  EXPECT_EQ(-1, FindImageEncoder(L"IMAGE/JPEG", &untouched));  // exact, case-sensitive
  EXPECT_EQ(-1, FindImageEncoder(L"image/x-none", &untouched));
  EXPECT_EQ(CLSID_NULL, untouched);
  const BYTE pixels[12] = {};
  const std::wstring name = File(L"args.jpg");
  EXPECT_EQ(0, SaveBgrPictureAsJpeg(nullptr, 2, 2, 6, name.c_str()));
  EXPECT_EQ(0, SaveBgrPictureAsJpeg(pixels, 2, 2, 6, nullptr));
  EXPECT_EQ(0, SaveBgrPictureAsJpeg(pixels, 0, 2, 6, name.c_str()));
  EXPECT_EQ(0, SaveBgrPictureAsJpeg(pixels, 2, 2, 5, name.c_str()));  // rows shorter than the width
  EXPECT_FALSE(FileExists(name));
  EXPECT_EQ(1, SaveBgrPictureAsJpeg(pixels, 2, 2, 6, name.c_str()));
  EXPECT_TRUE(FileExists(name));
}

TEST_F(FrameCallbackTest, CaptureGraphForwardsToItsFrameCallback) {
  CaptureGraph graph;
  FrameCallbackTestAccess access(FrameDeliveryTestAccess::Callback(graph));
  cell = reinterpret_cast<CallbackCell>(&RenderFn);
  graph.SetRenderCallbackFun(&cell);
  EXPECT_EQ(&RenderFn, access.Render());
  graph.SetRenderCallbackFun(nullptr);
  EXPECT_EQ(&RenderFn, access.Render());
  const std::wstring name = File(L"graph.jpg");
  graph.TakeSnap(name.c_str());
  EXPECT_TRUE(access.SnapPending());
  EXPECT_EQ(name, access.SnapFile());

  // Frames arrive as the preview's sample grabber would deliver them.
  FrameCallback& cb = FrameDeliveryTestAccess::Callback(graph);
  MessageWindow window;
  graph.SetRenderWnd(window.hwnd);
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(4, 2);
  std::vector<BYTE> frame = GreyYuy2(4, 2, 70);
  graph.SetNeedReleaseFrame(1);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(0, g_callback.count);
  graph.SetNeedReleaseFrame(0);
  ASSERT_EQ(S_OK, cb.BufferCB(0, frame.data(), static_cast<long>(frame.size())));
  EXPECT_EQ(1, g_callback.count);
  EXPECT_EQ(1, g_window.count);
  EXPECT_TRUE(FileExists(name));
}

}  // namespace

namespace {

volatile LONG g_gateFrames = 0;
void __cdecl CountGateFrame(RenderFrame*, int, int) { InterlockedIncrement(&g_gateFrames); }

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
    CallbackCell cell = reinterpret_cast<CallbackCell>(&CountGateFrame);
    callback.SetRenderCallback(&cell);
    g_gateFrames = 0;
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
    const LONG frames = g_gateFrames;
    const long handled = streamer.handled;
    while (streamer.handled < handled + 5) Sleep(1);
    EXPECT_EQ(frames, g_gateFrames) << "a frame reached the host through a closed gate";
    // Closing nests: the gate opens with the last OpenGate.
    callback.CloseGate();
    callback.OpenGate();
    const long later = streamer.handled;
    while (streamer.handled < later + 5) Sleep(1);
    EXPECT_EQ(frames, g_gateFrames);
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
  const LONG frames = g_gateFrames;
  const long handled = streamer.handled;
  while (streamer.handled < handled + 5) Sleep(1);
  EXPECT_LE(g_gateFrames, frames + 1);  // at most the frame that was replied to reaches the callback
  window.onFrame = nullptr;
  callback.OpenGate();
  const int before = window.messages;
  ASSERT_TRUE(Pump(before + 3));
  callback.CloseGate();
}

}  // namespace
}  // namespace zelvora
