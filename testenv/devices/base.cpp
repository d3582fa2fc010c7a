#include "base.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <new>

namespace zvd {
namespace {
volatile LONG g_objects = 0;
volatile LONG g_threads = 0;
volatile LONG g_locks = 0;
}  // namespace

void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }
LONG LiveObjects() { return InterlockedCompareExchange(&g_objects, 0, 0); }
void ThreadStarted() { InterlockedIncrement(&g_threads); }
void ThreadEnded() { InterlockedDecrement(&g_threads); }
LONG LiveThreads() { return InterlockedCompareExchange(&g_threads, 0, 0); }
void ServerLock(bool lock) {
  if (lock)
    InterlockedIncrement(&g_locks);
  else
    InterlockedDecrement(&g_locks);
}
LONG ServerLocks() { return InterlockedCompareExchange(&g_locks, 0, 0); }

HRESULT CopyToOutString(const std::wstring& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  size_t bytes = (text.size() + 1) * sizeof(WCHAR);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

// ============================================================================================
// BaseFilter
// ============================================================================================
BaseFilter::BaseFilter(REFCLSID clsid, ULONG miscFlags) : m_clsid(clsid), m_miscFlags(miscFlags) {}

BaseFilter::~BaseFilter() = default;

STDMETHODIMP BaseFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter) ||
      IsEqualIID(riid, IID_IBaseFilter)) {
    *ppv = static_cast<IBaseFilter*>(this);
  } else if (IsEqualIID(riid, IID_IAMFilterMiscFlags)) {
    *ppv = static_cast<IAMFilterMiscFlags*>(this);
  } else {
    *ppv = FindInterface(riid);
  }
  if (!*ppv) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) BaseFilter::AddRef() { return InterlockedIncrement(&m_ref); }

STDMETHODIMP_(ULONG) BaseFilter::Release() {
  LONG count = InterlockedDecrement(&m_ref);
  if (count == 0) delete this;
  return count;
}

bool BaseFilter::TryAddRef() {
  for (;;) {
    LONG count = m_ref;
    if (count <= 0) return false;
    if (InterlockedCompareExchange(&m_ref, count + 1, count) == count) return true;
  }
}

STDMETHODIMP BaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

STDMETHODIMP BaseFilter::Stop() {
  AutoLock lock(m_lock);
  if (m_state == State_Stopped) return S_OK;
  for (int i = 0; i < PinCount(); ++i) {
    BasePin* pin = PinAt(i);
    pin->SetRunState(false, 0, nullptr);
    if (pin->IsConnected()) pin->Inactive();
  }
  m_state = State_Stopped;
  OnStopped();
  return S_OK;
}

STDMETHODIMP BaseFilter::Pause() {
  AutoLock lock(m_lock);
  if (m_state == State_Stopped) {
    HRESULT hr = OnStopToPause();
    if (FAILED(hr)) return hr;
    int activated = 0;
    for (; activated < PinCount(); ++activated) {
      BasePin* pin = PinAt(activated);
      if (!pin->IsConnected()) continue;
      hr = pin->Active();
      if (FAILED(hr)) break;
    }
    if (FAILED(hr)) {
      for (int i = 0; i < activated; ++i)
        if (PinAt(i)->IsConnected()) PinAt(i)->Inactive();
      OnStopped();
      return hr;
    }
  } else if (m_state == State_Running) {
    for (int i = 0; i < PinCount(); ++i) PinAt(i)->SetRunState(false, 0, nullptr);
  }
  m_state = State_Paused;
  return IsLive() ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP BaseFilter::Run(REFERENCE_TIME start) {
  AutoLock lock(m_lock);
  if (m_state == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = OnRun();
  if (FAILED(hr)) return hr;
  m_tStart = start;
  m_state = State_Running;
  for (int i = 0; i < PinCount(); ++i) PinAt(i)->SetRunState(true, start, m_clock.Get());
  return S_OK;
}

STDMETHODIMP BaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  AutoLock lock(m_lock);
  *state = m_state;
  return (IsLive() && m_state == State_Paused) ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP BaseFilter::SetSyncSource(IReferenceClock* clock) {
  AutoLock lock(m_lock);
  m_clock = clock;
  if (m_state == State_Running)
    for (int i = 0; i < PinCount(); ++i) PinAt(i)->SetRunState(true, m_tStart, m_clock.Get());
  return S_OK;
}

STDMETHODIMP BaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  AutoLock lock(m_lock);
  *clock = m_clock.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

STDMETHODIMP BaseFilter::EnumPins(IEnumPins** pins) { return CreatePinEnumerator(this, pins); }

STDMETHODIMP BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!id) return E_POINTER;
  AutoLock lock(m_lock);
  for (int i = 0; i < PinCount(); ++i) {
    BasePin* candidate = PinAt(i);
    if (candidate->Name() == id) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  AutoLock lock(m_lock);
  lstrcpynW(info->achName, m_name.c_str(), MAX_FILTER_NAME);
  info->pGraph = m_graph;
  if (m_graph) m_graph->AddRef();
  return S_OK;
}

STDMETHODIMP BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  AutoLock lock(m_lock);
  m_graph = graph;
  m_name = name ? name : L"";
  AutoLock eventLock(m_eventLock);
  m_eventSink = nullptr;
  if (graph) {
    // The graph owns the filter: keep the sink without a reference (as the graph requires).
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      m_eventSink = sink;
      sink->Release();
    }
  }
  return S_OK;
}

STDMETHODIMP BaseFilter::QueryVendorInfo(LPWSTR* info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return E_NOTIMPL;
}

HRESULT BaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  AutoLock lock(m_eventLock);
  if (!m_eventSink) return VFW_E_NOT_IN_GRAPH;
  return m_eventSink->Notify(code, param1, param2);
}

// ============================================================================================
// BasePin
// ============================================================================================
BasePin::BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
    : m_filter(filter), m_name(name), m_direction(direction) {}

BasePin::~BasePin() = default;

STDMETHODIMP BasePin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin))
    *ppv = static_cast<IPin*>(this);
  else
    *ppv = FindInterface(riid);
  if (!*ppv) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

// A pin lives as long as its filter.
STDMETHODIMP_(ULONG) BasePin::AddRef() { return m_filter->AddRef(); }
STDMETHODIMP_(ULONG) BasePin::Release() { return m_filter->Release(); }

HRESULT BasePin::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt) {
  HRESULT hr = CheckMediaType(mt);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  hr = m_mt.Set(mt);
  if (FAILED(hr)) return hr;
  m_peer = receivePin;
  hr = receivePin->ReceiveConnection(this, &mt);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) return S_OK;
    receivePin->Disconnect();
    BreakConnect();
  }
  m_peer.Reset();
  m_mt.Clear();
  return hr;
}

STDMETHODIMP BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
  if (!receivePin) return E_POINTER;
  if (m_direction != PINDIR_OUTPUT) return E_UNEXPECTED;
  AutoLock lock(m_filter->FilterLock());
  if (m_peer) return VFW_E_ALREADY_CONNECTED;
  if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION peerDirection;
  if (FAILED(receivePin->QueryDirection(&peerDirection)) || peerDirection != PINDIR_INPUT)
    return VFW_E_INVALID_DIRECTION;

  // A complete type is tried as it is.
  if (mt && !IsEqualGUID(mt->majortype, GUID_NULL) && !IsEqualGUID(mt->subtype, GUID_NULL) &&
      !IsEqualGUID(mt->formattype, GUID_NULL) && mt->pbFormat) {
    HRESULT hr = AttemptConnection(receivePin, *mt);
    return SUCCEEDED(hr) ? hr : VFW_E_NO_ACCEPTABLE_TYPES;
  }
  // Our own types first, then the receiver's.
  for (int i = 0;; ++i) {
    MediaType candidate;
    if (GetMediaType(i, &candidate) != S_OK) break;
    if (!MatchesPartial(candidate.Get(), mt)) continue;
    if (SUCCEEDED(AttemptConnection(receivePin, candidate.Get()))) return S_OK;
  }
  ComPtr<IEnumMediaTypes> types;
  if (SUCCEEDED(receivePin->EnumMediaTypes(&types)) && types) {
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    while (types->Next(1, &next, &fetched) == S_OK && fetched == 1) {
      bool connected = false;
      if (next && MatchesPartial(*next, mt)) connected = SUCCEEDED(AttemptConnection(receivePin, *next));
      DeleteMediaTypeRecord(next);
      next = nullptr;
      if (connected) return S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  if (m_direction != PINDIR_INPUT) return E_UNEXPECTED;
  AutoLock lock(m_filter->FilterLock());
  if (m_peer) return VFW_E_ALREADY_CONNECTED;
  if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION peerDirection;
  if (FAILED(connector->QueryDirection(&peerDirection)) || peerDirection != PINDIR_OUTPUT)
    return VFW_E_INVALID_DIRECTION;
  if (CheckMediaType(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT hr = m_mt.Set(*mt);
  if (FAILED(hr)) return hr;
  m_peer = connector;
  hr = CompleteConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    m_peer.Reset();
    m_mt.Clear();
  }
  return hr;
}

STDMETHODIMP BasePin::Disconnect() {
  AutoLock lock(m_filter->FilterLock());
  if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!m_peer) return S_FALSE;
  BreakConnect();
  m_peer.Reset();
  m_mt.Clear();
  return S_OK;
}

STDMETHODIMP BasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  AutoLock lock(m_filter->FilterLock());
  *pin = m_peer.Get();
  if (!*pin) return VFW_E_NOT_CONNECTED;
  (*pin)->AddRef();
  return S_OK;
}

STDMETHODIMP BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  AutoLock lock(m_filter->FilterLock());
  if (!m_peer) {
    ZeroMemory(mt, sizeof(*mt));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaTypeContents(*mt, m_mt.Get());
}

STDMETHODIMP BasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = m_filter;
  m_filter->AddRef();
  info->dir = m_direction;
  lstrcpynW(info->achName, m_name.c_str(), MAX_PIN_NAME);
  return S_OK;
}

STDMETHODIMP BasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = m_direction;
  return S_OK;
}

STDMETHODIMP BasePin::QueryId(LPWSTR* id) { return CopyToOutString(m_name, id); }

STDMETHODIMP BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  AutoLock lock(m_filter->FilterLock());
  return CheckMediaType(*mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP BasePin::EnumMediaTypes(IEnumMediaTypes** types) { return CreateMediaTypeEnumerator(this, types); }

STDMETHODIMP BasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP BasePin::EndOfStream() { return S_OK; }
STDMETHODIMP BasePin::BeginFlush() { return S_OK; }
STDMETHODIMP BasePin::EndFlush() { return S_OK; }
STDMETHODIMP BasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ============================================================================================
// OutputPin
// ============================================================================================
HRESULT OutputPin::CompleteConnect(IPin* peer) {
  ComPtr<IMemInputPin> input;
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(input.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = DecideAllocator(input.Get());
  if (FAILED(hr)) return hr;
  m_input = input;
  return S_OK;
}

HRESULT OutputPin::DecideAllocator(IMemInputPin* input) {
  ALLOCATOR_PROPERTIES request;
  ZeroMemory(&request, sizeof(request));
  input->GetAllocatorRequirements(&request);  // optional for the downstream pin
  if (request.cbAlign == 0) request.cbAlign = 1;

  ComPtr<IMemAllocator> allocator;
  HRESULT hr = input->GetAllocator(&allocator);
  if (SUCCEEDED(hr) && allocator) {
    ALLOCATOR_PROPERTIES props = request;
    hr = DecideBufferSize(allocator.Get(), &props);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator.Get(), FALSE);
    if (SUCCEEDED(hr)) {
      m_allocator = allocator;
      return S_OK;
    }
  }
  allocator.Reset();
  hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                        reinterpret_cast<void**>(allocator.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES props = request;
  hr = DecideBufferSize(allocator.Get(), &props);
  if (FAILED(hr)) return hr;
  hr = input->NotifyAllocator(allocator.Get(), FALSE);
  if (FAILED(hr)) return hr;
  m_allocator = allocator;
  return S_OK;
}

void OutputPin::BreakConnect() {
  if (m_allocator) m_allocator->Decommit();
  m_allocator.Reset();
  m_input.Reset();
}

HRESULT OutputPin::Active() { return m_allocator ? m_allocator->Commit() : VFW_E_NO_ALLOCATOR; }

void OutputPin::Inactive() {
  if (m_allocator) m_allocator->Decommit();
}

// ============================================================================================
// InputPin
// ============================================================================================
void* InputPin::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IMemInputPin)) return static_cast<IMemInputPin*>(this);
  return nullptr;
}

STDMETHODIMP InputPin::BeginFlush() {
  InterlockedExchange(&m_flushing, 1);
  return S_OK;
}

STDMETHODIMP InputPin::EndFlush() {
  InterlockedExchange(&m_flushing, 0);
  return S_OK;
}

STDMETHODIMP InputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  AutoLock lock(m_allocatorLock);
  if (!m_allocator) {
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(m_allocator.GetAddressOf()));
    if (FAILED(hr)) return hr;
  }
  *allocator = m_allocator.Get();
  (*allocator)->AddRef();
  return S_OK;
}

STDMETHODIMP InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  AutoLock lock(m_allocatorLock);
  m_allocator = allocator;
  return S_OK;
}

STDMETHODIMP InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  for (long i = 0; i < count; ++i) {
    hr = Receive(samples[i]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

void InputPin::BreakConnect() {
  AutoLock lock(m_allocatorLock);
  m_allocator.Reset();
}

// ============================================================================================
// StreamPin
// ============================================================================================
StreamPin::StreamPin(BaseFilter* filter, const wchar_t* name) : OutputPin(filter, name) {
  m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

StreamPin::~StreamPin() {
  // The filter stops its pins before it goes away; this only guards against misuse.
  Inactive();
  if (m_wake) CloseHandle(m_wake);
}

HRESULT StreamPin::Active() {
  HRESULT hr = OutputPin::Active();
  if (FAILED(hr) || !Delivers()) return hr;
  if (!m_wake) return E_OUTOFMEMORY;
  {
    AutoLock lock(m_streamLock);
    m_exit = false;
    m_running = false;
    m_delivered = m_failures = m_shortBuffers = 0;
    m_nextFrame = m_firstFrame;
    m_lastStart = -1;
  }
  ResetEvent(m_wake);
  ThreadStarted();
  m_thread = CreateThread(nullptr, 0, &StreamPin::ThreadProc, this, 0, nullptr);
  if (!m_thread) {
    ThreadEnded();
    OutputPin::Inactive();
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return S_OK;
}

void StreamPin::Inactive() {
  if (m_thread) {
    {
      AutoLock lock(m_streamLock);
      m_exit = true;
      m_running = false;
    }
    SetEvent(m_wake);
    // Decommitting releases a thread that waits for a buffer.
    OutputPin::Inactive();
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    m_thread = nullptr;
    ThreadEnded();
    AutoLock lock(m_streamLock);
    m_clock.Reset();
  } else {
    OutputPin::Inactive();
  }
}

void StreamPin::SetRunState(bool running, REFERENCE_TIME start, IReferenceClock* clock) {
  {
    AutoLock lock(m_streamLock);
    if (running && (!m_running || start != m_runStart)) ++m_runGeneration;
    m_running = running;
    m_runStart = start;
    m_clock = clock;
  }
  if (m_wake) SetEvent(m_wake);
}

void StreamPin::SetDeliveryAllowed(bool allowed) {
  {
    AutoLock lock(m_streamLock);
    m_deliveryAllowed = allowed;
  }
  if (m_wake) SetEvent(m_wake);
}

void StreamPin::SetDevicePresent(bool present) {
  {
    AutoLock lock(m_streamLock);
    m_devicePresent = present;
  }
  if (m_wake) SetEvent(m_wake);
}

void StreamPin::RequestShortBuffer(ULONG bytes) {
  AutoLock lock(m_streamLock);
  m_shortPending = true;
  m_shortRequest = bytes;
}

void StreamPin::GetStats(ULONG* streaming, ULONG* delivered, ULONG* failures, ULONG* shortBuffers, ULONG* nextFrame,
                         LONGLONG* lastStart) {
  AutoLock lock(m_streamLock);
  *streaming = (m_thread && !m_exit) ? 1 : 0;
  *delivered = m_delivered;
  *failures = m_failures;
  *shortBuffers = m_shortBuffers;
  *nextFrame = m_nextFrame;
  *lastStart = m_lastStart;
}

DWORD WINAPI StreamPin::ThreadProc(void* self) {
  HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static_cast<StreamPin*>(self)->StreamLoop();
  if (SUCCEEDED(hrCom)) CoUninitialize();
  return 0;
}

namespace {
REFERENCE_TIME PrivateNow() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<REFERENCE_TIME>(static_cast<double>(counter.QuadPart) * 1e7 /
                                     static_cast<double>(frequency.QuadPart));
}
}  // namespace

void StreamPin::StreamLoop() {
  ULONG generation = 0;
  ULONGLONG slot = 0;
  bool discontinuity = true;
  REFERENCE_TIME privateStart = 0;  // run start on the private time base when there is no clock
  REFERENCE_TIME lastSent = -1;     // start of the last slot delivered in this session
  for (;;) {
    bool running, allowed, hasClock;
    REFERENCE_TIME runStart;
    ComPtr<IReferenceClock> clock;
    ULONG currentGeneration;
    {
      AutoLock lock(m_streamLock);
      if (m_exit) break;
      running = m_running;
      allowed = m_deliveryAllowed && m_devicePresent;
      runStart = m_runStart;
      clock = m_clock;
      currentGeneration = m_runGeneration;
    }
    hasClock = clock != nullptr;
    if (!running || !allowed) {
      WaitForSingleObject(m_wake, INFINITE);
      continue;
    }
    bool newRun = currentGeneration != generation;
    if (newRun) {  // a new Run: the schedule starts again
      generation = currentGeneration;
      slot = 0;
      discontinuity = true;
      privateStart = PrivateNow();
    }
    REFERENCE_TIME now = 0;
    if (hasClock) {
      if (FAILED(clock->GetTime(&now))) now = 0;
      now -= runStart;
    } else {
      now = PrivateNow() - privateStart;
    }
    if (newRun && lastSent >= 0 && now >= lastSent) {
      // Resumed after a pause: stream time went on, so do the slots (never a time stamp twice).
      while (SlotStart(slot) <= lastSent) ++slot;
    }
    REFERENCE_TIME due = SlotStart(slot);
    if (now < due) {
      DWORD waitMs = static_cast<DWORD>((due - now + 9999) / 10000);
      WaitForSingleObject(m_wake, waitMs ? waitMs : 1);
      continue;
    }
    ULONGLONG current = SlotAt(now, slot);
    if (current > slot) slot = current;  // late: the slots missed are dropped

    ComPtr<IMediaSample> sample;
    HRESULT hr = m_allocator ? m_allocator->GetBuffer(&sample, nullptr, nullptr, 0) : VFW_E_NO_ALLOCATOR;
    if (FAILED(hr) || !sample) {
      AutoLock lock(m_streamLock);
      if (m_exit) break;
      continue;  // decommitted for a moment; try again
    }
    ULONG frame;
    bool shortOne;
    ULONG shortBytes;
    {
      AutoLock lock(m_streamLock);
      frame = m_nextFrame;
      shortOne = m_shortPending;
      shortBytes = m_shortRequest;
      m_shortPending = false;
    }
    LONG bytes = 0;
    hr = FillSample(sample.Get(), frame, slot, &bytes);
    if (FAILED(hr)) break;
    if (shortOne) {
      LONG want = shortBytes ? static_cast<LONG>(shortBytes) : bytes / 2;
      if (want >= bytes) want = bytes > 1 ? bytes - 1 : bytes;
      if (want < 1) want = 1;
      bytes = want;
    }
    sample->SetActualDataLength(bytes);
    REFERENCE_TIME start = SlotStart(slot), stop = SlotStart(slot + 1);
    sample->SetTime(hasClock ? &start : nullptr, hasClock ? &stop : nullptr);
    LONGLONG mediaStart = frame, mediaStop = static_cast<LONGLONG>(frame) + 1;
    sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    sample->SetPreroll(FALSE);
    discontinuity = false;

    hr = m_input ? m_input->Receive(sample.Get()) : VFW_E_NOT_CONNECTED;
    sample.Reset();
    lastSent = start;
    {
      AutoLock lock(m_streamLock);
      ++m_nextFrame;
      if (SUCCEEDED(hr)) {
        ++m_delivered;
        m_lastStart = hasClock ? start : -1;
        if (shortOne) ++m_shortBuffers;
      } else {
        ++m_failures;
      }
    }
    ++slot;
  }
}

// ============================================================================================
// Enumerators
// ============================================================================================
namespace {

class PinEnumerator final : public IEnumPins, private CountedObject {
 public:
  PinEnumerator(BaseFilter* filter, int position, LONG version)
      : m_filter(filter), m_position(position), m_version(version) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins)) {
      *ppv = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG count = InterlockedDecrement(&m_ref);
    if (count == 0) delete this;
    return count;
  }

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    AutoLock lock(m_filter->FilterLock());
    if (m_version != m_filter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    while (done < count && m_position < m_filter->PinCount()) {
      pins[done] = m_filter->PinAt(m_position++);
      pins[done]->AddRef();
      ++done;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    AutoLock lock(m_filter->FilterLock());
    if (m_version != m_filter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    int total = m_filter->PinCount();
    if (count > static_cast<ULONG>(total - m_position)) {
      m_position = total;
      return S_FALSE;
    }
    m_position += static_cast<int>(count);
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    AutoLock lock(m_filter->FilterLock());
    m_version = m_filter->PinVersion();
    m_position = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    AutoLock lock(m_filter->FilterLock());
    *out = new (std::nothrow) PinEnumerator(m_filter.Get(), m_position, m_version);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~PinEnumerator() = default;
  volatile LONG m_ref = 1;
  ComPtr<BaseFilter> m_filter;
  int m_position;
  LONG m_version;
};

class MediaTypeEnumerator final : public IEnumMediaTypes, private CountedObject {
 public:
  MediaTypeEnumerator(BasePin* pin, int position) : m_pin(pin), m_position(position) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMediaTypes)) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG count = InterlockedDecrement(&m_ref);
    if (count == 0) delete this;
    return count;
  }

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    AutoLock lock(m_pin->Filter()->FilterLock());
    ULONG done = 0;
    while (done < count) {
      MediaType mt;
      if (m_pin->GetMediaType(m_position, &mt) != S_OK) break;
      AM_MEDIA_TYPE* copy = CreateMediaTypeCopy(mt.Get());
      if (!copy) {
        for (ULONG i = 0; i < done; ++i) {
          DeleteMediaTypeRecord(types[i]);
          types[i] = nullptr;
        }
        if (fetched) *fetched = 0;
        return E_OUTOFMEMORY;
      }
      types[done++] = copy;
      ++m_position;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    AutoLock lock(m_pin->Filter()->FilterLock());
    for (ULONG i = 0; i < count; ++i) {
      MediaType mt;
      if (m_pin->GetMediaType(m_position, &mt) != S_OK) return S_FALSE;
      ++m_position;
    }
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    m_position = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MediaTypeEnumerator(m_pin.Get(), m_position);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~MediaTypeEnumerator() = default;
  volatile LONG m_ref = 1;
  ComPtr<BasePin> m_pin;
  int m_position;
};

}  // namespace

HRESULT CreatePinEnumerator(BaseFilter* filter, IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) PinEnumerator(filter, 0, filter->PinVersion());
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMediaTypeEnumerator(BasePin* pin, IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) MediaTypeEnumerator(pin, 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace zvd
