#pragma once
// Small DirectShow filter framework of the test devices: a filter with state and clock, input
// and output pins with connection and allocator negotiation, pin and media type enumerators,
// and a live push pin with its own streaming thread.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "mediatype.h"

namespace zvd {

using Microsoft::WRL::ComPtr;

// ---- Module bookkeeping -------------------------------------------------------------------
void ObjectCreated();
void ObjectDestroyed();
LONG LiveObjects();
void ThreadStarted();
void ThreadEnded();
LONG LiveThreads();
void ServerLock(bool lock);
LONG ServerLocks();
HMODULE DllModule();

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&m_cs); }
  ~CriticalSection() { DeleteCriticalSection(&m_cs); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { EnterCriticalSection(&m_cs); }
  void Leave() { LeaveCriticalSection(&m_cs); }

 private:
  CRITICAL_SECTION m_cs;
};

class AutoLock {
 public:
  explicit AutoLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
  ~AutoLock() { m_cs.Leave(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  CriticalSection& m_cs;
};

// Counts the object in the module's live objects for its lifetime.
class CountedObject {
 public:
  CountedObject() { ObjectCreated(); }
  ~CountedObject() { ObjectDestroyed(); }
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;
};

HRESULT CopyToOutString(const std::wstring& text, LPWSTR* out);

class BasePin;

// ---- Filter -------------------------------------------------------------------------------
class BaseFilter : public IBaseFilter, public IAMFilterMiscFlags, protected CountedObject {
 public:
  BaseFilter(REFCLSID clsid, ULONG miscFlags);
  virtual ~BaseFilter();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;
  // IAMFilterMiscFlags
  STDMETHODIMP_(ULONG) GetMiscFlags() override { return m_miscFlags; }

  // Adds a reference unless the object is already being destroyed (for live-instance lists).
  bool TryAddRef();

  CriticalSection& FilterLock() { return m_lock; }
  FILTER_STATE State() const { return m_state; }
  LONG PinVersion() const { return m_pinVersion; }
  IFilterGraph* Graph() const { return m_graph; }
  // Pins, under the filter lock. The returned pin is owned by the filter.
  virtual int PinCount() = 0;
  virtual BasePin* PinAt(int index) = 0;
  // Sends an event through the graph's IMediaEventSink; VFW_E_NOT_IN_GRAPH outside a graph.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

 protected:
  // Further interfaces of the derived filter (called by QueryInterface; no AddRef needed).
  virtual void* FindInterface(REFIID riid) { return nullptr; }
  // State hooks, called under the filter lock after the pins changed state.
  virtual HRESULT OnStopToPause() { return S_OK; }
  // Called before the filter runs (after any implied Pause); a failure keeps it paused.
  virtual HRESULT OnRun() { return S_OK; }
  virtual void OnStopped() {}
  virtual bool IsLive() const { return false; }
  void BumpPinVersion() { InterlockedIncrement(&m_pinVersion); }

  CriticalSection m_lock;
  FILTER_STATE m_state = State_Stopped;
  REFERENCE_TIME m_tStart = 0;
  ComPtr<IReferenceClock> m_clock;

 private:
  volatile LONG m_ref = 1;
  CLSID m_clsid;
  ULONG m_miscFlags;
  IFilterGraph* m_graph = nullptr;  // not counted: the graph holds the filter
  std::wstring m_name;
  volatile LONG m_pinVersion = 1;
  CriticalSection m_eventLock;
  IMediaEventSink* m_eventSink = nullptr;  // not counted, valid while in the graph
};

// ---- Pins ---------------------------------------------------------------------------------
class BasePin : public IPin {
 public:
  BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction);
  virtual ~BasePin();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // Media types: acceptance, and the types offered (S_OK, or VFW_S_NO_MORE_ITEMS past the end).
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
  virtual HRESULT GetMediaType(int index, MediaType* mt) = 0;
  // Connection hooks (under the filter lock).
  virtual HRESULT CompleteConnect(IPin* peer) { return S_OK; }
  virtual void BreakConnect() {}
  // State hooks (under the filter lock). Active: stopped -> paused; Inactive: -> stopped.
  virtual HRESULT Active() { return S_OK; }
  virtual void Inactive() {}
  virtual void SetRunState(bool running, REFERENCE_TIME start, IReferenceClock* clock) {}

  bool IsConnected() const { return m_peer != nullptr; }
  const std::wstring& Name() const { return m_name; }
  PIN_DIRECTION Direction() const { return m_direction; }
  BaseFilter* Filter() const { return m_filter; }
  // The connection media type (valid while connected).
  const MediaType& ConnectionType() const { return m_mt; }

 protected:
  virtual void* FindInterface(REFIID riid) { return nullptr; }
  HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt);

  BaseFilter* m_filter;
  std::wstring m_name;
  PIN_DIRECTION m_direction;
  ComPtr<IPin> m_peer;
  MediaType m_mt;
};

class OutputPin : public BasePin {
 public:
  OutputPin(BaseFilter* filter, const wchar_t* name) : BasePin(filter, name, PINDIR_OUTPUT) {}

  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

  HRESULT CompleteConnect(IPin* peer) override;
  void BreakConnect() override;
  HRESULT Active() override;
  void Inactive() override;

 protected:
  // Buffer needs of the connection type; `request` holds the downstream's wishes.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  HRESULT DecideAllocator(IMemInputPin* input);

  ComPtr<IMemInputPin> m_input;
  ComPtr<IMemAllocator> m_allocator;
};

class InputPin : public BasePin, public IMemInputPin {
 public:
  InputPin(BaseFilter* filter, const wchar_t* name) : BasePin(filter, name, PINDIR_INPUT) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return BasePin::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return BasePin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return BasePin::Release(); }

  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample* sample) override = 0;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

  void BreakConnect() override;

 protected:
  void* FindInterface(REFIID riid) override;
  volatile LONG m_flushing = 0;
  CriticalSection m_allocatorLock;
  ComPtr<IMemAllocator> m_allocator;
};

// ---- Live push pin --------------------------------------------------------------------------
// One streaming thread from Pause (stopped -> paused) to Stop. Samples only while running, one
// per slot of the pin's schedule, stamped with the slot's stream time on the graph clock.
class StreamPin : public OutputPin {
 public:
  StreamPin(BaseFilter* filter, const wchar_t* name);
  ~StreamPin() override;

  HRESULT Active() override;
  void Inactive() override;
  void SetRunState(bool running, REFERENCE_TIME start, IReferenceClock* clock) override;

  // Fault injection and statistics.
  void SetDeliveryAllowed(bool allowed);  // one of two switches (device present, delivering)
  void SetDevicePresent(bool present);
  void RequestShortBuffer(ULONG bytes);
  // Number of the first frame of every stream (from the next Pause on).
  void SetFirstFrameNumber(ULONG first) { m_firstFrame = first; }
  void GetStats(ULONG* streaming, ULONG* delivered, ULONG* failures, ULONG* shortBuffers, ULONG* nextFrame,
                LONGLONG* lastStart);

 protected:
  // Whether the pin delivers at all (VBI and video port pins do not).
  virtual bool Delivers() const { return true; }
  // Start time of slot k of a run, in stream time (100 ns).
  virtual REFERENCE_TIME SlotStart(ULONGLONG slot) const = 0;
  // The slot that contains stream time t (for skipping slots when late); return `current` to
  // never skip.
  virtual ULONGLONG SlotAt(REFERENCE_TIME t, ULONGLONG current) const = 0;
  // Fills one sample; returns the bytes of a full sample in *bytes.
  virtual HRESULT FillSample(IMediaSample* sample, ULONG frameNumber, ULONGLONG slot, LONG* bytes) = 0;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void StreamLoop();

  HANDLE m_thread = nullptr;
  HANDLE m_wake = nullptr;
  CriticalSection m_streamLock;
  // Guarded by m_streamLock:
  bool m_exit = false;
  bool m_running = false;
  bool m_deliveryAllowed = true;
  bool m_devicePresent = true;
  ULONG m_runGeneration = 0;
  REFERENCE_TIME m_runStart = 0;
  ComPtr<IReferenceClock> m_clock;
  ULONG m_shortRequest = 0;
  bool m_shortPending = false;
  // Statistics (guarded by m_streamLock):
  ULONG m_delivered = 0, m_failures = 0, m_shortBuffers = 0, m_nextFrame = 0;
  ULONG m_firstFrame = 0;  // set before streaming, read in Active
  LONGLONG m_lastStart = -1;
};

// ---- Enumerators ----------------------------------------------------------------------------
HRESULT CreatePinEnumerator(BaseFilter* filter, IEnumPins** out);
HRESULT CreateMediaTypeEnumerator(BasePin* pin, IEnumMediaTypes** out);

}  // namespace zvd
