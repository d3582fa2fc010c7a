// The file player: names, graph topology, play flags, the event drain and teardown, on real
// Windows Media files and on stand-in graph parts.
#include <windows.h>
#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com_fakes.h"
#include "playback/fileplayer.h"
#include "playback/playback_media.h"
#include "playback/reader_race.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

// Reaches the private state of FilePlayer.
class FilePlayerTestAccess {
 public:
  explicit FilePlayerTestAccess(FilePlayer& player) : p(player) {}

  auto& m_pGraph() { return p.m_pGraph; }
  auto& m_pMediaControl() { return p.m_pMediaControl; }
  auto& m_pMediaEvent() { return p.m_pMediaEvent; }
  auto& m_pMediaSeeking() { return p.m_pMediaSeeking; }
  auto& m_pNullRenderer() { return p.m_pNullRenderer; }
  auto& m_pAsfReader() { return p.m_pAsfReader; }
  auto& m_pSampleGrabber() { return p.m_pSampleGrabber; }
  auto& m_pBasicAudio() { return p.m_pBasicAudio; }
  auto& m_pBasicVideo() { return p.m_pBasicVideo; }
  auto& m_pFileSource() { return p.m_pFileSource; }
  auto& m_bPlaying() { return p.m_bPlaying; }
  auto& m_bGraphBuilt() { return p.m_bGraphBuilt; }
  HRESULT CreatePlayGraph() { return p.CreatePlayGraph(); }
  HRESULT RenderSourcePins(IGraphBuilder* graph, IBaseFilter* reader) { return p.RenderSourcePins(graph, reader); }

  FilePlayer& p;
};

namespace {

using Access = FilePlayerTestAccess;

std::wstring Media(const wchar_t* name) { return playback::MediaPath(name); }

// Opens a file that opens, past the platform reader's settling race (see reader_race.h).
HRESULT Open(FilePlayer& player, const wchar_t* name) {
  const std::wstring path = Media(name);
  int raced = 0;
  const HRESULT hr = playback::OpenDespiteReaderRace([&] { return player.OpenPlayFile(path.c_str()); }, &raced);
  playback::ReportReaderRace(name, raced);
  return hr;
}

// ---- looking at a graph ----

struct FilterInfo {
  std::wstring name;
  ComPtr<IBaseFilter> filter;
};

std::vector<FilterInfo> Filters(IGraphBuilder* graph) {
  std::vector<FilterInfo> result;
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(&filters))) return result;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    FILTER_INFO info = {};
    filter->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    result.push_back({info.achName, filter});
  }
  return result;
}

ComPtr<IBaseFilter> FilterNamed(IGraphBuilder* graph, const wchar_t* name) {
  for (FilterInfo& f : Filters(graph))
    if (f.name == name) return f.filter;
  return nullptr;
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<ComPtr<IPin>> result;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return result;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) result.push_back(pin);
  }
  return result;
}

std::wstring PinId(IPin* pin) {
  WCHAR* id = nullptr;
  if (FAILED(pin->QueryId(&id)) || !id) return L"";
  std::wstring text = id;
  CoTaskMemFree(id);
  return text;
}

ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info = {};
  if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
  ComPtr<IBaseFilter> owner;
  owner.Attach(info.pFilter);
  return owner;
}

ComPtr<IPin> Peer(IPin* pin) {
  ComPtr<IPin> peer;
  pin->ConnectedTo(&peer);
  return peer;
}

// Follows a chain of filters downstream from `pin` (first output of each filter) and reports
// whether it reaches `target`.
bool Reaches(IPin* pin, IBaseFilter* target) {
  ComPtr<IPin> current = pin;
  for (int hops = 0; hops < 8 && current; ++hops) {
    ComPtr<IPin> peer = Peer(current.Get());
    if (!peer) return false;
    ComPtr<IBaseFilter> owner = OwnerOf(peer.Get());
    if (owner.Get() == target) return true;
    std::vector<ComPtr<IPin>> outputs = Pins(owner.Get(), PINDIR_OUTPUT);
    current = outputs.empty() ? nullptr : outputs[0];
  }
  return false;
}

OAFilterState GraphState(FilePlayer& player) {
  Access a(player);
  ComPtr<IMediaControl> control;
  if (!a.m_pGraph() || FAILED(a.m_pGraph().As(&control))) return -1;
  OAFilterState state = -1;
  control->GetState(2000, &state);
  return state;
}

// ---- stand-ins for the graph's control, seeking and event queue ----

// IDispatch part of the stand-ins: never used by the player.
#define NO_DISPATCH()                                                                                 \
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                                 \
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                    \
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }   \
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                                 \
  }

// Counts run, pause and stop and answers them with results a test chooses. Lives on the stack.
class FakeMediaControl final : public IMediaControl {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMediaControl)) return E_NOINTERFACE;
    *ppv = static_cast<IMediaControl*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  NO_DISPATCH()
  STDMETHODIMP Run() override {
    calls += "R";
    return runResult;
  }
  STDMETHODIMP Pause() override {
    calls += "P";
    return pauseResult;
  }
  STDMETHODIMP Stop() override {
    calls += "S";
    return stopResult;
  }
  STDMETHODIMP GetState(LONG, OAFilterState*) override { return E_NOTIMPL; }
  STDMETHODIMP RenderFile(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP StopWhenReady() override { return E_NOTIMPL; }

  std::string calls;  // "R", "P", "S" in call order
  HRESULT runResult = S_FALSE;
  HRESULT pauseResult = S_FALSE;
  HRESULT stopResult = S_OK;
  long refs = 0;
};

// An event queue whose events a test chooses; it counts what is taken and freed.
class FakeEventQueue final : public IMediaEventEx {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMediaEvent) && !IsEqualIID(riid, IID_IMediaEventEx))
      return E_NOINTERFACE;
    *ppv = static_cast<IMediaEventEx*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  NO_DISPATCH()
  STDMETHODIMP GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long timeout) override {
    timeouts.push_back(timeout);
    if (queue.empty()) return E_ABORT;
    *code = queue.front();
    *param1 = 100 + queue.front();
    *param2 = 200 + queue.front();
    queue.pop_front();
    ++taken;
    return S_OK;
  }
  STDMETHODIMP WaitForCompletion(long, long*) override { return E_NOTIMPL; }
  STDMETHODIMP CancelDefaultHandling(long) override { return E_NOTIMPL; }
  STDMETHODIMP RestoreDefaultHandling(long) override { return E_NOTIMPL; }
  STDMETHODIMP FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) override {
    if (param1 == 100 + code && param2 == 200 + code) ++freed;
    return S_OK;
  }
  STDMETHODIMP SetNotifyWindow(OAHWND window, long message, LONG_PTR instance) override {
    notifyWindow = window;
    notifyMessage = message;
    notifyInstance = instance;
    ++notifyCalls;
    return S_OK;
  }
  STDMETHODIMP SetNotifyFlags(long) override { return E_NOTIMPL; }
  STDMETHODIMP GetNotifyFlags(long*) override { return E_NOTIMPL; }

  std::deque<long> queue;
  std::vector<long> timeouts;
  int taken = 0;
  int freed = 0;
  OAHWND notifyWindow = 0;
  long notifyMessage = -1;
  LONG_PTR notifyInstance = -1;
  int notifyCalls = 0;
  long refs = 0;
};

// The player with stand-ins in place of a graph's control and event queue (the seeking is that
// of an empty graph).
struct StandInGraph {
  explicit StandInGraph(FilePlayer& player) : a(player) {
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(emptyGraph.GetAddressOf())));
    a.m_pMediaControl() = &control;
    emptyGraph.As(&a.m_pMediaSeeking());
    a.m_pMediaEvent() = &events;
  }
  ~StandInGraph() {
    a.m_pMediaControl().Reset();
    a.m_pMediaSeeking().Reset();
    a.m_pMediaEvent().Reset();
  }
  Access a;
  ComPtr<IGraphBuilder> emptyGraph;
  FakeMediaControl control;
  FakeEventQueue events;
};

// An output pin of a stand-in reader whose answers a test chooses.
class FakeReaderPin final : public fakes::FakePin<> {
 public:
  FakeReaderPin(const wchar_t* pinId, HRESULT idResult)
      : FakePin(nullptr, pinId, PINDIR_OUTPUT, GUID_NULL), id(pinId), queryIdResult(idResult) {}
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override {
    ++connects;
    return connectResult;
  }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    ++asked;
    *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!owner) return E_NOTIMPL;
    info->pFilter = owner;
    owner->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, id.c_str(), MAX_PIN_NAME);
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* out) override {
    *out = nullptr;
    if (FAILED(queryIdResult)) return queryIdResult;
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((id.size() + 1) * sizeof(WCHAR)));
    lstrcpyW(*out, id.c_str());
    return S_OK;
  }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!typeless) return E_NOTIMPL;
    *out = new fakes::FakeEnumMediaTypes(&noTypes);
    return S_OK;
  }

  std::wstring id;
  HRESULT queryIdResult;
  int asked = 0;
  // A pin in the state Wine's reader shows for a moment after Load: it belongs to its filter
  // (`owner`, not counted: the filter holds its pins) but offers no media type, and connecting
  // it fails as a pin without types does.
  IBaseFilter* owner = nullptr;
  bool typeless = false;
  fakes::MediaTypeList noTypes;
  HRESULT connectResult = E_NOTIMPL;
  int connects = 0;

 private:
  void* Find(REFIID riid) override { return fakes::Primary(riid, IID_IPin, static_cast<IPin*>(this)); }
};

class FakeReaderFilter final : public fakes::FakeFilter<> {
 public:
  FakeReaderFilter() : FakeFilter(CLSID_WMAsfReader) {}
  std::vector<ComPtr<FakeReaderPin>> pins;

 private:
  void* Find(REFIID riid) override { return fakes::Primary(riid, IID_IBaseFilter, static_cast<IBaseFilter*>(this)); }
  std::vector<IPin*> Pins() override {
    std::vector<IPin*> raw;
    for (auto& pin : pins) raw.push_back(pin.Get());
    return raw;
  }
};

// ---- names ----

TEST(FilePlayerNames, WindowsMediaFamilyBySubstringInAnyCase) {
  EXPECT_TRUE(FilePlayer::IsAsfFile(L"C:\\clips\\holiday.WMV"));
  EXPECT_TRUE(FilePlayer::IsAsfFile(L"C:\\clips\\song.Wma"));
  EXPECT_TRUE(FilePlayer::IsAsfFile(L"C:\\clips\\stream.asf.bak"));  // a substring, not the ending
  EXPECT_TRUE(FilePlayer::IsAsfFile(L"C:\\clips.wmv\\readme.txt"));
  EXPECT_FALSE(FilePlayer::IsAsfFile(L"C:\\clips\\holiday.mp4"));
  EXPECT_FALSE(FilePlayer::IsAsfFile(L"C:\\clips\\holiday.wm"));
  EXPECT_FALSE(FilePlayer::IsAsfFile(L""));
}

TEST(FilePlayerNames, OnlyTheFirst259UnitsAreExamined) {
  std::wstring inside(255, L'a');
  inside += L".wmv";  // ends at unit 259
  EXPECT_TRUE(FilePlayer::IsAsfFile(inside.c_str()));
  std::wstring cut(256, L'a');
  cut += L".wmv";  // the 'v' is unit 260: cut off
  EXPECT_FALSE(FilePlayer::IsAsfFile(cut.c_str()));
}

// ---- opening files: the graph that is built ----

TEST(FilePlayerOpen, VideoAndAudioFileBuildsReaderAudioChainGrabberAndNullRenderer) {
  FilePlayer player;
  Access a(player);
  ASSERT_EQ(S_OK, Open(player, L"av.wmv"));
  EXPECT_TRUE(a.m_bGraphBuilt());
  EXPECT_FALSE(a.m_bPlaying());
  ASSERT_TRUE(a.m_pSampleGrabber());
  ASSERT_TRUE(a.m_pNullRenderer());
  EXPECT_TRUE(a.m_pBasicAudio());
  EXPECT_TRUE(a.m_pBasicVideo());
  EXPECT_TRUE(a.m_pFileSource());
  IGraphBuilder* graph = a.m_pGraph().Get();

  ComPtr<IBaseFilter> reader = FilterNamed(graph, L"ASF Reader");
  ComPtr<IBaseFilter> grabber = FilterNamed(graph, L"SampleGrabber");
  ComPtr<IBaseFilter> renderer = FilterNamed(graph, L"NULL renderer");
  ASSERT_TRUE(reader && grabber && renderer);
  EXPECT_EQ(a.m_pAsfReader().Get(), reader.Get());
  EXPECT_EQ(a.m_pNullRenderer().Get(), renderer.Get());

  // The grabber accepts RGB24 and sits between the video pin and the null renderer.
  AM_MEDIA_TYPE connected = {};
  ASSERT_EQ(S_OK, a.m_pSampleGrabber()->GetConnectedMediaType(&connected));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, connected.majortype));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, connected.subtype));
  if (connected.cbFormat) CoTaskMemFree(connected.pbFormat);
  if (connected.pUnk) connected.pUnk->Release();

  std::vector<ComPtr<IPin>> outputs = Pins(reader.Get(), PINDIR_OUTPUT);
  ASSERT_EQ(2u, outputs.size());
  int audioPins = 0;
  int videoPins = 0;
  for (ComPtr<IPin>& pin : outputs) {
    ASSERT_TRUE(Peer(pin.Get())) << "every reader pin is connected";
    std::wstring id = PinId(pin.Get());
    if (id.find(L"Audio") != std::wstring::npos) {
      ++audioPins;
      // The graph's own audio chain, not the picture branch.
      EXPECT_FALSE(Reaches(pin.Get(), grabber.Get()));
      EXPECT_FALSE(Reaches(pin.Get(), renderer.Get()));
    } else {
      ++videoPins;
      EXPECT_TRUE(Reaches(pin.Get(), grabber.Get()));
      EXPECT_TRUE(Reaches(pin.Get(), renderer.Get()));
    }
  }
  EXPECT_EQ(1, audioPins);
  EXPECT_EQ(1, videoPins);
  // Reader, grabber and null renderer, and at least one audio renderer past the audio pin.
  EXPECT_GE(Filters(graph).size(), 4u);
  EXPECT_EQ(State_Stopped, GraphState(player));
}

TEST(FilePlayerOpen, AudioOnlyFileHasNoPictureBranch) {
  FilePlayer player;
  Access a(player);
  ASSERT_EQ(S_OK, Open(player, L"audio.wma"));
  EXPECT_FALSE(a.m_pSampleGrabber());
  EXPECT_FALSE(a.m_pNullRenderer());
  EXPECT_FALSE(FilterNamed(a.m_pGraph().Get(), L"SampleGrabber"));
  EXPECT_FALSE(FilterNamed(a.m_pGraph().Get(), L"NULL renderer"));
}

TEST(FilePlayerOpen, OnlyTheFirstPictureStreamGetsTheGrabber) {
  FilePlayer player;
  Access a(player);
  ASSERT_EQ(S_OK, Open(player, L"twovideo.asf"));
  std::vector<FilterInfo> filters = Filters(a.m_pGraph().Get());
  int grabbers = 0;
  for (FilterInfo& f : filters) grabbers += f.name.find(L"SampleGrabber") == 0;
  EXPECT_EQ(1, grabbers);
  std::vector<ComPtr<IPin>> outputs = Pins(a.m_pAsfReader().Get(), PINDIR_OUTPUT);
  ASSERT_EQ(2u, outputs.size());
  EXPECT_TRUE(Peer(outputs[0].Get()));
  EXPECT_FALSE(Peer(outputs[1].Get()));
}

// What a failed attempt leaves behind (a loaded reader, a half-built graph) is taken down by the
// next open: the reader loads one file only, and a second Load on it fails.
TEST(FilePlayerOpen, LeftoversOfAFailedAttemptAreTakenDown) {
  FilePlayer player;
  Access a(player);
  auto addLeftover = [&a] {
    ComPtr<IBaseFilter> leftover;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                     reinterpret_cast<void**>(leftover.GetAddressOf())));
    ASSERT_EQ(S_OK, a.m_pGraph()->AddFilter(leftover.Get(), L"leftover"));
  };

  // Skeleton built and the file loaded, then the routing failed.
  ASSERT_EQ(S_OK, a.CreatePlayGraph());
  ASSERT_EQ(S_OK, a.m_pFileSource()->Load(Media(L"video.wmv").c_str(), nullptr));
  addLeftover();
  ASSERT_EQ(S_OK, Open(player, L"video.wmv"));
  EXPECT_FALSE(FilterNamed(a.m_pGraph().Get(), L"leftover"));
  EXPECT_EQ(3u, Filters(a.m_pGraph().Get()).size());
  EXPECT_TRUE(FilterNamed(a.m_pGraph().Get(), L"SampleGrabber"));

  // The skeleton itself failed half-way: a graph is held but not marked as built.
  ASSERT_EQ(S_OK, player.ReleasePlayFile());
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(a.m_pGraph().GetAddressOf())));
  addLeftover();
  ASSERT_FALSE(a.m_bGraphBuilt());
  ASSERT_EQ(S_OK, Open(player, L"video.wmv"));
  EXPECT_FALSE(FilterNamed(a.m_pGraph().Get(), L"leftover"));
  EXPECT_EQ(3u, Filters(a.m_pGraph().Get()).size());
}

TEST(FilePlayerOpen, OpeningAgainReplacesTheOpenFile) {
  FilePlayer player;
  Access a(player);
  ASSERT_EQ(S_OK, Open(player, L"av.wmv"));
  ComPtr<IGraphBuilder> first = a.m_pGraph();
  ASSERT_TRUE(SUCCEEDED(player.StartPlay()));
  ASSERT_EQ(S_OK, Open(player, L"video.wmv"));
  EXPECT_NE(first.Get(), a.m_pGraph().Get());
  EXPECT_FALSE(a.m_bPlaying());
  EXPECT_EQ(3u, Filters(a.m_pGraph().Get()).size());  // reader, grabber, null renderer
  EXPECT_EQ(State_Stopped, GraphState(player));
  first.Reset();
}

// ---- play flags ----

TEST(FilePlayerFlags, StartRunsOnceUntilPausedOrStopped) {
  FilePlayer player;
  StandInGraph g(player);
  EXPECT_EQ(S_FALSE, player.StartPlay());  // the result of Run
  EXPECT_EQ(S_OK, player.StartPlay());
  EXPECT_EQ("R", g.control.calls);
  EXPECT_EQ(S_FALSE, player.PausePlay());
  EXPECT_FALSE(g.a.m_bPlaying());
  EXPECT_EQ(S_FALSE, player.StartPlay());
  EXPECT_EQ("RPR", g.control.calls);
}

TEST(FilePlayerFlags, FailuresAreReturnedAndLeaveTheFlag) {
  FilePlayer player;
  StandInGraph g(player);
  g.control.runResult = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, player.StartPlay());
  EXPECT_FALSE(g.a.m_bPlaying());

  g.control.runResult = S_OK;
  ASSERT_EQ(S_OK, player.StartPlay());
  g.control.pauseResult = VFW_E_WRONG_STATE;
  EXPECT_EQ(VFW_E_WRONG_STATE, player.PausePlay());
  EXPECT_TRUE(g.a.m_bPlaying());
  g.control.stopResult = E_FAIL;
  g.control.calls.clear();
  EXPECT_EQ(E_FAIL, player.StopPlay());
  EXPECT_TRUE(g.a.m_bPlaying());
  EXPECT_EQ("S", g.control.calls) << "no rewind after a failed stop";
}

TEST(FilePlayerFlags, StopEndsPausedAndAnswersWithThePause) {
  FilePlayer player;
  StandInGraph g(player);
  ASSERT_EQ(S_FALSE, player.StartPlay());
  g.control.calls.clear();
  g.control.pauseResult = VFW_S_STATE_INTERMEDIATE;
  EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, player.StopPlay());
  EXPECT_EQ("SP", g.control.calls);
  EXPECT_FALSE(g.a.m_bPlaying());
}

TEST(FilePlayerFlags, WithoutAFileTheCallsSucceedAndOnlyMoveTheFlag) {
  // An open that meets the reader's race leaves a graph that the next open takes down, and the
  // flag with it: every attempt starts over with a new player.
  std::unique_ptr<FilePlayer> player;
  const std::wstring path = Media(L"video.wmv");
  int raced = 0;
  ASSERT_EQ(S_OK, playback::OpenDespiteReaderRace([&] {
              player.reset(new FilePlayer);
              Access a(*player);
              EXPECT_EQ(S_OK, player->StopPlay());
              EXPECT_EQ(S_OK, player->PausePlay());
              EXPECT_EQ(S_OK, player->StartPlay());
              EXPECT_TRUE(a.m_bPlaying());
              // The flag set before the open makes the next start do nothing until it is cleared.
              return player->OpenPlayFile(path.c_str());
            }, &raced));
  playback::ReportReaderRace(L"video.wmv", raced);
  Access a(*player);
  EXPECT_TRUE(a.m_bPlaying());
  EXPECT_EQ(S_OK, player->StartPlay());
  EXPECT_EQ(State_Stopped, GraphState(*player));
  EXPECT_TRUE(SUCCEEDED(player->PausePlay()));
  EXPECT_TRUE(SUCCEEDED(player->StartPlay()));
  EXPECT_EQ(State_Running, GraphState(*player));
}

// ---- the event drain ----

TEST(FilePlayerEvents, DrainAnswersWithoutWaitingAndFreesEveryEvent) {
  FilePlayer player;
  EXPECT_EQ(2u, player.OnGraphNotify()) << "no file";
  StandInGraph g(player);
  EXPECT_EQ(2u, player.OnGraphNotify()) << "empty queue";

  // The end of the file behind other events: those are discarded.
  g.events.queue = {EC_PAUSED, EC_CLOCK_CHANGED, EC_COMPLETE, EC_PAUSED};
  EXPECT_EQ(0u, player.OnGraphNotify());
  EXPECT_EQ(3, g.events.taken);
  EXPECT_EQ(3, g.events.freed);
  EXPECT_EQ(1u, g.events.queue.size()) << "the drain ends at the end of the file";

  // Only uninteresting events: the queue is emptied and the answer is 2.
  g.events.queue = {EC_PAUSED, EC_CLOCK_CHANGED};
  EXPECT_EQ(2u, player.OnGraphNotify());
  EXPECT_TRUE(g.events.queue.empty());
  for (long timeout : g.events.timeouts) EXPECT_EQ(0, timeout);
  EXPECT_TRUE(g.control.calls.empty());
}

TEST(FilePlayerEvents, AbortStopsTheGraphButKeepsTheFlag) {
  FilePlayer player;
  StandInGraph g(player);
  ASSERT_EQ(S_FALSE, player.StartPlay());
  g.events.queue = {EC_PAUSED, EC_ERRORABORT, EC_COMPLETE};
  EXPECT_EQ(1u, player.OnGraphNotify());
  EXPECT_EQ("RS", g.control.calls);
  EXPECT_EQ(2, g.events.freed);
  EXPECT_TRUE(g.a.m_bPlaying());
  EXPECT_EQ(S_OK, player.StartPlay()) << "still flagged as playing: no new Run";
  EXPECT_EQ("RS", g.control.calls);
}

// ---- teardown ----

TEST(FilePlayerRelease, PlayingGraphIsStoppedRewoundAndDetachedFromTheWindow) {
  FilePlayer player;
  StandInGraph g(player);
  ASSERT_EQ(S_OK, player.SetNotifyEventHwnd(reinterpret_cast<HWND>(0x1234), WM_APP + 2));
  ASSERT_EQ(S_FALSE, player.StartPlay());
  g.control.calls.clear();
  EXPECT_EQ(S_OK, player.ReleasePlayFile());
  // Stop and rewind, then stopped for good before the filters go.
  EXPECT_EQ("SPS", g.control.calls);
  EXPECT_EQ(0, g.events.notifyWindow);
  EXPECT_EQ(0, g.events.notifyMessage);
  EXPECT_EQ(0, g.events.notifyInstance);
  EXPECT_FALSE(g.a.m_pMediaControl() || g.a.m_pMediaSeeking() || g.a.m_pMediaEvent());
  EXPECT_EQ(0, g.control.refs);
  EXPECT_EQ(0, g.events.refs);
  EXPECT_FALSE(g.a.m_bPlaying());
}

TEST(FilePlayerRelease, OpenFileLetsGoOfEverything) {
  FilePlayer player;
  Access a(player);
  ASSERT_EQ(S_OK, Open(player, L"av.wmv"));
  ComPtr<IBaseFilter> reader = a.m_pAsfReader();
  ComPtr<IGraphBuilder> graph = a.m_pGraph();
  ASSERT_TRUE(SUCCEEDED(player.StartPlay()));
  Sleep(200);
  EXPECT_EQ(S_OK, player.ReleasePlayFile());
  EXPECT_FALSE(a.m_pGraph() || a.m_pMediaControl() || a.m_pMediaEvent() || a.m_pMediaSeeking() ||
               a.m_pNullRenderer() || a.m_pAsfReader() || a.m_pSampleGrabber() || a.m_pBasicAudio() ||
               a.m_pBasicVideo() || a.m_pFileSource());
  EXPECT_FALSE(a.m_bPlaying() || a.m_bGraphBuilt());
  EXPECT_TRUE(Filters(graph.Get()).empty());
  EXPECT_TRUE(Pins(reader.Get(), PINDIR_OUTPUT).empty() || !Peer(Pins(reader.Get(), PINDIR_OUTPUT)[0].Get()));
  // Only this test's references are left on the reader.
  reader->AddRef();
  EXPECT_EQ(1u, reader->Release());
}

// ---- routing the reader's pins ----

TEST(FilePlayerRouting, PinWithoutIdentifierFailsTheRouting) {
  FilePlayer player;
  Access a(player);
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(graph.GetAddressOf())));
  ComPtr<FakeReaderFilter> reader;
  reader.Attach(new FakeReaderFilter);
  ComPtr<FakeReaderPin> nameless;
  nameless.Attach(new FakeReaderPin(L"", E_OUTOFMEMORY));
  ComPtr<FakeReaderPin> next;
  next.Attach(new FakeReaderPin(L"Raw Audio 1", S_OK));
  reader->pins = {nameless, next};
  EXPECT_EQ(E_OUTOFMEMORY, a.RenderSourcePins(graph.Get(), reader.Get()));
  EXPECT_EQ(0, next->asked) << "the walk ends at the failing pin";
  EXPECT_TRUE(Filters(graph.Get()).empty()) << "nothing rendered, no branch built";
  EXPECT_FALSE(a.m_pSampleGrabber());
}


// A reader pin that offers no media type, as Wine's reader pins do for a moment after Load:
// the routing fails with the graph's own result for that pin, after one attempt.
TEST(FilePlayerRouting, PinWithoutMediaTypesFailsWithTheGraphsResult) {
  struct Case {
    const wchar_t* id;
    HRESULT expected;
    bool branch;
  };
  for (const Case& c : {Case{L"Raw Video 0", VFW_E_CANNOT_CONNECT, true}, Case{L"Raw Audio 1", VFW_E_CANNOT_RENDER, false}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.id)));
    FilePlayer player;
    Access a(player);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(a.m_pGraph().GetAddressOf())));
    ComPtr<FakeReaderFilter> reader;
    reader.Attach(new FakeReaderFilter);
    ComPtr<FakeReaderPin> pin;
    pin.Attach(new FakeReaderPin(c.id, S_OK));
    pin->owner = reader.Get();
    pin->typeless = true;
    pin->connectResult = VFW_E_NO_ACCEPTABLE_TYPES;  // what a source pin without types answers
    reader->pins = {pin};
    ASSERT_EQ(S_OK, a.m_pGraph()->AddFilter(reader.Get(), L"ASF Reader"));

    EXPECT_EQ(c.expected, a.RenderSourcePins(a.m_pGraph().Get(), reader.Get()));
    EXPECT_EQ(1, pin->asked) << "the pin was routed once";
    EXPECT_GE(pin->connects, c.branch ? 1 : 0);
    int grabbers = 0;
    int renderers = 0;
    for (FilterInfo& f : Filters(a.m_pGraph().Get())) {
      grabbers += f.name.find(L"SampleGrabber") == 0;
      renderers += f.name.find(L"NULL renderer") == 0;
    }
    EXPECT_EQ(c.branch ? 1 : 0, grabbers);
    EXPECT_EQ(c.branch ? 1 : 0, renderers);
    EXPECT_EQ(S_OK, player.ReleasePlayFile());
  }
}

// ---- the tests' own way past the reader's race ----

TEST(ReaderRaceHelper, OpensAgainOnlyAfterTheRaceResultsAndOnlyABoundedNumberOfTimes) {
  std::vector<HRESULT> answers;
  size_t calls = 0;
  auto scripted = [&] {
    const HRESULT hr = answers[calls < answers.size() ? calls : answers.size() - 1];
    ++calls;
    return hr;
  };

  answers = {VFW_E_CANNOT_CONNECT, VFW_E_CANNOT_RENDER, S_OK};
  int raced = 0;
  EXPECT_EQ(S_OK, playback::OpenDespiteReaderRace(scripted, &raced));
  EXPECT_EQ(3u, calls);
  EXPECT_EQ(2, raced);

  // Any other answer, failure or success, is the answer.
  for (HRESULT other : {E_FAIL, E_POINTER, E_OUTOFMEMORY, VFW_E_NO_ACCEPTABLE_TYPES, VFW_E_NOT_FOUND,
                        static_cast<HRESULT>(kNotWindowsMediaFile), S_FALSE}) {
    answers = {other, S_OK};
    calls = 0;
    raced = 0;
    EXPECT_EQ(other, playback::OpenDespiteReaderRace(scripted, &raced));
    EXPECT_EQ(1u, calls);
    EXPECT_EQ(0, raced);
  }

  // A file that never connects fails after the last attempt with the graph's result.
  answers = {VFW_E_CANNOT_CONNECT};
  calls = 0;
  raced = 0;
  EXPECT_EQ(VFW_E_CANNOT_CONNECT, playback::OpenDespiteReaderRace(scripted, &raced));
  EXPECT_EQ(static_cast<size_t>(playback::kOpenAttempts), calls);
  EXPECT_EQ(playback::kOpenAttempts, raced);
}

}  // namespace
}  // namespace zelvora
