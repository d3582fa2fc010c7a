// Draining the camera graph's event queue into a result code and two detail bytes.
#include <windows.h>
#include <evcode.h>

#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "media/dshowids.h"
#include "support/debug_output.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {


namespace {

using Access = CaptureGraphTestAccess;

// An event queue whose events a test chooses; it counts what is taken and freed.
class FakeEventQueue final : public IMediaEventEx {
 public:
  struct Event {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  ~FakeEventQueue() {
    for (const Event& e : queue) Free(e);
  }

  // Queues an event; a filter parameter is held by the queue as the platform does.
  void Push(long code, IUnknown* sender, LONG_PTR param2) {
    if (sender) sender->AddRef();
    queue.push_back({code, reinterpret_cast<LONG_PTR>(sender), param2});
    senders.push_back(code == EC_DEVICE_LOST);
  }
  void PushPlain(long code, LONG_PTR param1, LONG_PTR param2) { queue.push_back({code, param1, param2}); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaEventEx) ||
        IsEqualIID(riid, IID_IMediaEvent) || IsEqualIID(riid, IID_IDispatch)) {
      *ppv = static_cast<IMediaEventEx*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long timeout) override {
    timeouts.push_back(timeout);
    if (queue.empty()) return E_ABORT;
    const Event e = queue.front();
    queue.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    ++taken;
    return S_OK;
  }
  STDMETHODIMP WaitForCompletion(long, long*) override { return E_NOTIMPL; }
  STDMETHODIMP CancelDefaultHandling(long) override { return E_NOTIMPL; }
  STDMETHODIMP RestoreDefaultHandling(long) override { return E_NOTIMPL; }
  STDMETHODIMP FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) override {
    ++freed;
    Free({code, param1, param2});
    return S_OK;
  }
  STDMETHODIMP SetNotifyWindow(OAHWND, long, LONG_PTR) override { return S_OK; }
  STDMETHODIMP SetNotifyFlags(long) override { return S_OK; }
  STDMETHODIMP GetNotifyFlags(long*) override { return E_NOTIMPL; }

  std::deque<Event> queue;
  std::deque<bool> senders;
  std::vector<long> timeouts;
  int taken = 0;
  int freed = 0;
  LONG refs = 1;

 private:
  static void Free(const Event& e) {
    if (e.code == EC_DEVICE_LOST && e.param1) reinterpret_cast<IUnknown*>(e.param1)->Release();
  }
};

ComPtr<IBaseFilter> NewFilter() {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(filter.GetAddressOf())));
  return filter;
}

class GraphEvents : public testing::Test {
 protected:
  void SetUp() override {
    camera = NewFilter();
    microphone = NewFilter();
    Access::VideoCapture(graph) = camera;
    Access::AudioCapture(graph) = microphone;
    Access::MediaEvent(graph) = &events;  // the fake lives as long as the test
  }
  void TearDown() override {
    Access::MediaEvent(graph).Reset();
    // Every event taken was freed exactly once and the queue was never waited on.
    EXPECT_EQ(events.taken, events.freed);
    for (long timeout : events.timeouts) EXPECT_EQ(0, timeout);
  }

  unsigned long Drain() {
    detail = 0xAABBCCDD;
    return graph.OnGraphError(&detail);
  }
  int Byte(int i) const { return (detail >> (8 * i)) & 0xFF; }

  FakeEventQueue events;
  CaptureGraph graph;
  ComPtr<IBaseFilter> camera, microphone;
  unsigned long detail = 0;
  testsupport::DebugOutputCapture debug;
};

TEST_F(GraphEvents, EmptyQueueGivesZeroAndClearsOnlyTheTwoDetailBytes) {
  EXPECT_EQ(0u, Drain());
  EXPECT_EQ(0xAABB0000u, detail);
}

TEST_F(GraphEvents, LostCameraStopsTheDrainAndLeavesLaterEventsQueued) {
  events.Push(EC_DEVICE_LOST, camera.Get(), 0);
  events.PushPlain(EC_COMPLETE, 0, 0);
  EXPECT_EQ(0x1Fu, Drain());
  EXPECT_EQ(1, Byte(0));
  EXPECT_EQ(0, Byte(1));
  EXPECT_EQ(0xAA, Byte(3));
  EXPECT_EQ(0xBB, Byte(2));
  EXPECT_EQ(1u, events.queue.size());
  EXPECT_EQ(1, debug.Count("22"));
  EXPECT_EQ(1, debug.Count("33"));
  EXPECT_EQ(1, debug.Count("55"));
  // The next call takes the rest.
  EXPECT_EQ(0u, Drain());
  EXPECT_TRUE(events.queue.empty());
}

TEST_F(GraphEvents, LostMicrophoneAndDeviceBackAgain) {
  events.Push(EC_DEVICE_LOST, microphone.Get(), 0);
  EXPECT_EQ(0x1Fu, Drain());
  EXPECT_EQ(0, Byte(0));
  EXPECT_EQ(0, Byte(1));
  EXPECT_EQ(1, debug.Count("66"));

  events.Push(EC_DEVICE_LOST, camera.Get(), 1);
  EXPECT_EQ(0x1Fu, Drain());
  EXPECT_EQ(0, Byte(0));
  EXPECT_EQ(1, Byte(1));
  EXPECT_EQ(1, debug.Count("44"));
}

TEST_F(GraphEvents, OtherFiltersAndOddEventsAreConsumed) {
  ComPtr<IBaseFilter> stranger = NewFilter();
  events.Push(EC_DEVICE_LOST, stranger.Get(), 0);  // neither source
  ComPtr<IStream> notAFilter;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &notAFilter));
  events.Push(EC_DEVICE_LOST, notAFilter.Get(), 0);  // no IBaseFilter at all
  events.Push(EC_DEVICE_LOST, camera.Get(), 7);      // unexpected second parameter
  events.PushPlain(EC_PAUSED, 0, 0);
  events.PushPlain(EC_COMPLETE, 0, 0);
  EXPECT_EQ(0u, Drain());
  EXPECT_TRUE(events.queue.empty());
  EXPECT_EQ(5, events.taken);
  EXPECT_EQ(1, debug.Count("is not Playing"));
  EXPECT_EQ(1, debug.Count("Invalid 2nd param for EC_DEVICE_LOST event!!!"));
  EXPECT_EQ(0, debug.Count("55"));
}

// Stands for a filter that is gone: the drain may compare its address but never call it.
class GoneSender final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    ++calls;
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // the test queue's own hold
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  int calls = 0;
};

TEST_F(GraphEvents, SendersAreMatchedByAddressAndOthersAreNeverCalled) {
  GoneSender gone;
  events.Push(EC_DEVICE_LOST, &gone, 0);
  // The camera named by its canonical IUnknown, as a filter usually names itself.
  ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, camera.As(&identity));
  events.Push(EC_DEVICE_LOST, identity.Get(), 0);
  EXPECT_EQ(0x1Fu, Drain());
  EXPECT_EQ(1, Byte(0));
  EXPECT_EQ(0, gone.calls);
  EXPECT_EQ(2, debug.Count("33"));
  EXPECT_EQ(1, debug.Count("55"));

  // Without sources (after a failed load) nothing is matched and nothing is called.
  Access::VideoCapture(graph).Reset();
  Access::AudioCapture(graph).Reset();
  events.Push(EC_DEVICE_LOST, &gone, 0);
  events.Push(EC_DEVICE_LOST, identity.Get(), 0);
  EXPECT_EQ(0u, Drain());
  EXPECT_EQ(0, gone.calls);
}

TEST_F(GraphEvents, ErrorAbortDrainsTheWholeQueue) {
  events.PushPlain(EC_ERRORABORT, static_cast<LONG_PTR>(E_FAIL), 0);
  events.PushPlain(EC_COMPLETE, 0, 0);
  EXPECT_EQ(3u, Drain());
  EXPECT_EQ(0, Byte(0));
  EXPECT_EQ(0, Byte(1));
  EXPECT_TRUE(events.queue.empty());
  EXPECT_EQ(1, debug.Count("11"));
  EXPECT_EQ(1, debug.Count("Event 3 80004005 0"));
  EXPECT_EQ(1, debug.Count("Event 1 0 0"));
}

TEST_F(GraphEvents, EventsDoNotChangeTheCameraState) {
  events.Push(EC_DEVICE_LOST, camera.Get(), 0);
  Drain();
  EXPECT_EQ(CameraState::None, graph.GetCurrentCameraState());
}

}  // namespace
}  // namespace zelvora
