// The graph's clock before the graph goes: one advise due at once, answered or withdrawn.
#include <windows.h>
#include <strmif.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <vector>

#include <wrl/client.h>

#include "media/graphclock.h"
#include "support/fake_com.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// A clock that records its advises and answers them (or not) from a thread of its own, as a
// clock's notification thread does.
class ScriptedClock final : public testsupport::FakeCom<IReferenceClock> {
 public:
  STDMETHODIMP GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    *time = kNow;
    return S_OK;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event, DWORD_PTR* cookie) override {
    if (!cookie) return E_POINTER;
    ++advises;
    adviseBase = base;
    adviseStream = stream;
    *cookie = kCookie;
    if (answerAfterMs >= 0) {
      m_event = reinterpret_cast<HANDLE>(event);
      m_answerer = CreateThread(nullptr, 0, &ScriptedClock::Answer, this, 0, nullptr);
    }
    return S_OK;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD_PTR cookie) override {
    unadvised.push_back(cookie);
    return S_OK;
  }

  static constexpr REFERENCE_TIME kNow = 123456789;
  static constexpr DWORD_PTR kCookie = 0x5eed;
  int answerAfterMs = -1;  // never answers when negative
  int advises = 0;
  REFERENCE_TIME adviseBase = -1;
  REFERENCE_TIME adviseStream = -1;
  std::vector<DWORD_PTR> unadvised;

  void JoinAnswerer() {
    if (!m_answerer) return;
    WaitForSingleObject(m_answerer, INFINITE);
    CloseHandle(m_answerer);
    m_answerer = nullptr;
  }

 private:
  ~ScriptedClock() override { JoinAnswerer(); }
  void* Find(REFIID riid) override {
    return testsupport::Primary(riid, IID_IReferenceClock, static_cast<IReferenceClock*>(this));
  }
  static DWORD WINAPI Answer(void* self) {
    ScriptedClock* clock = static_cast<ScriptedClock*>(self);
    Sleep(static_cast<DWORD>(clock->answerAfterMs));
    SetEvent(clock->m_event);
    return 0;
  }
  HANDLE m_event = nullptr;
  HANDLE m_answerer = nullptr;
};

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(graph.GetAddressOf())));
  return graph;
}

HRESULT UseClock(IGraphBuilder* graph, IReferenceClock* clock) {
  ComPtr<IMediaFilter> filter;
  HRESULT hr = graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
  if (FAILED(hr)) return hr;
  return filter->SetSyncSource(clock);
}

TEST(GraphClock, AnAdviseDueAtOnceIsAnsweredBeforeTheGraphGoes) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<ScriptedClock> clock;
  clock.Attach(new ScriptedClock);
  clock->answerAfterMs = 150;
  ASSERT_EQ(S_OK, UseClock(graph.Get(), clock.Get()));

  const DWORD start = GetTickCount();
  SettleGraphClock(graph.Get(), 5000);
  const DWORD took = GetTickCount() - start;
  clock->JoinAnswerer();
  EXPECT_EQ(1, clock->advises);
  EXPECT_EQ(ScriptedClock::kNow, clock->adviseBase) << "due now: the clock's own time";
  EXPECT_EQ(0, clock->adviseStream);
  EXPECT_GE(took, 100u) << "returned before the clock answered";
  EXPECT_LT(took, 4000u) << "went on waiting after the answer";
  EXPECT_TRUE(clock->unadvised.empty()) << "an answered one-shot advise is gone by itself";
  ASSERT_EQ(S_OK, UseClock(graph.Get(), nullptr));
}

TEST(GraphClock, AClockThatNeverAnswersHasItsAdviseWithdrawn) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<ScriptedClock> clock;
  clock.Attach(new ScriptedClock);
  ASSERT_EQ(S_OK, UseClock(graph.Get(), clock.Get()));

  SettleGraphClock(graph.Get(), 100);
  EXPECT_EQ(1, clock->advises);
  ASSERT_EQ(1u, clock->unadvised.size()) << "the clock could signal the closed event later";
  EXPECT_EQ(ScriptedClock::kCookie, clock->unadvised[0]);
  ASSERT_EQ(S_OK, UseClock(graph.Get(), nullptr));
}

TEST(GraphClock, NoGraphOrNoClockDoesNothing) {
  SettleGraphClock(nullptr);
  ComPtr<IGraphBuilder> graph = NewGraph();
  ASSERT_EQ(S_OK, UseClock(graph.Get(), nullptr));
  SettleGraphClock(graph.Get(), 100);  // must not wait or fail without a clock
}

// The platform's own clock, released right after its first advise started its notification
// thread, again and again: each release must come back. (Under Wine the release hung now and
// then on a busy machine when that thread had not yet reached its wait.)
TEST(GraphClock, TheSystemClockReleasedRightAfterItsFirstAdviseComesBack) {
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                     reinterpret_cast<void**>(clock.GetAddressOf())));
    ASSERT_EQ(S_OK, UseClock(graph.Get(), clock.Get()));
    REFERENCE_TIME now = 0;
    ASSERT_EQ(S_OK, clock->GetTime(&now));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(S_OK, clock->AdviseTime(now, 10000000, reinterpret_cast<HEVENT>(event), &cookie));
    ASSERT_EQ(S_OK, clock->Unadvise(cookie));
    clock.Reset();
    SettleGraphClock(graph.Get());
    graph.Reset();  // the last reference to the clock goes with the graph
    CloseHandle(event);
  }
}

}  // namespace
}  // namespace zelvora
