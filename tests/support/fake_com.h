#pragma once

// The base of the hand-written COM objects the tests hand to the code under test: reference
// counting and QueryInterface, a pin, a filter and their enumerators. A fake names the interfaces
// it answers in `Find`; everything else about it is the test's.

#include <windows.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Microsoft::WRL::ComPtr;

constexpr HRESULT kPropSetUnsupported = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// A heap object implementing `Interfaces`: it starts with one reference and deletes itself with
// the last. QueryInterface hands out (with a reference) what `Find` returns for the IID.
template <typename... Interfaces>
class FakeCom : public Interfaces... {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = Find(riid);
    if (!*ppv) return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  LONG Refs() const { return m_refs; }

 protected:
  virtual ~FakeCom() = default;
  // The interface pointer that answers `riid` (IUnknown included), or null.
  virtual void* Find(REFIID riid) = 0;

 private:
  LONG m_refs = 1;
};

// `object` when `riid` is IUnknown or `iid`.
template <typename Interface>
void* Primary(REFIID riid, REFIID iid, Interface* object) {
  return IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid) ? static_cast<void*>(object) : nullptr;
}

// A media type record from the task allocator, as platform calls hand them out.
inline AM_MEDIA_TYPE* NewMediaTypeRecord(const GUID& major, const GUID& subtype, const GUID& formatType,
                                         ULONG formatBytes, IUnknown* unk) {
  AM_MEDIA_TYPE* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  ZeroMemory(mt, sizeof(*mt));
  mt->majortype = major;
  mt->subtype = subtype;
  mt->formattype = formatType;
  mt->bFixedSizeSamples = TRUE;
  if (formatBytes) {
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatBytes));
    ZeroMemory(mt->pbFormat, formatBytes);
    mt->cbFormat = formatBytes;
  }
  if (unk) {
    unk->AddRef();
    mt->pUnk = unk;
  }
  return mt;
}

// Counts Release calls; never destroys itself. Used as the pUnk of media type records.
class ReleaseCounter : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = Primary(riid, IID_IUnknown, static_cast<IUnknown*>(this));
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++addRefs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(++releases); }
  int addRefs = 0;
  int releases = 0;
};

// Media type list of a pin: records handed out one by one, each with `records` as pUnk.
struct MediaTypeList {
  std::vector<std::pair<GUID, GUID>> types;  // major type, subtype
  ReleaseCounter records;
  int handedOut = 0;
  HRESULT enumResult = S_OK;
};

// An enumerator over a fixed list (pins or media type records) with the platform's cursor rules.
template <typename Enum, typename Item>
class FakeEnum : public FakeCom<Enum> {
 public:
  STDMETHODIMP Next(ULONG count, Item** out, ULONG* fetched) override {
    ULONG done = 0;
    while (done < count && m_pos < Size()) out[done++] = At(m_pos++);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    m_pos += count;
    return m_pos <= Size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    *out = Copy();
    return S_OK;
  }

 protected:
  virtual size_t Size() const = 0;
  virtual Item* At(size_t index) = 0;  // with the reference the caller owns
  virtual Enum* Copy() = 0;
  size_t m_pos = 0;
};

class FakeEnumMediaTypes final : public FakeEnum<IEnumMediaTypes, AM_MEDIA_TYPE> {
 public:
  explicit FakeEnumMediaTypes(MediaTypeList* list) : m_list(list) {}

 private:
  void* Find(REFIID riid) override { return Primary(riid, IID_IEnumMediaTypes, static_cast<IEnumMediaTypes*>(this)); }
  size_t Size() const override { return m_list->types.size(); }
  AM_MEDIA_TYPE* At(size_t index) override {
    ++m_list->handedOut;
    const auto& t = m_list->types[index];
    return NewMediaTypeRecord(t.first, t.second, FORMAT_None, 0, &m_list->records);
  }
  IEnumMediaTypes* Copy() override {
    FakeEnumMediaTypes* copy = new FakeEnumMediaTypes(m_list);
    copy->m_pos = m_pos;
    return copy;
  }
  MediaTypeList* m_list;
};

class FakeEnumPins final : public FakeEnum<IEnumPins, IPin> {
 public:
  explicit FakeEnumPins(std::vector<IPin*> pins) {
    for (IPin* pin : pins) m_pins.push_back(pin);
  }

 private:
  void* Find(REFIID riid) override { return Primary(riid, IID_IEnumPins, static_cast<IEnumPins*>(this)); }
  size_t Size() const override { return m_pins.size(); }
  IPin* At(size_t index) override {
    m_pins[index]->AddRef();
    return m_pins[index].Get();
  }
  IEnumPins* Copy() override {
    FakeEnumPins* copy = new FakeEnumPins({});
    copy->m_pins = m_pins;
    copy->m_pos = m_pos;
    return copy;
  }
  std::vector<ComPtr<IPin>> m_pins;
};

// A pin of a fake filter: owner, name, direction and major type, the peer it is connected to,
// the media types it offers and, when constructed with one, a pin category (IKsPropertySet).
// Connecting is the derived pin's business.
template <typename... Extra>
class FakePin : public FakeCom<IPin, IKsPropertySet, Extra...> {
 public:
  FakePin(IBaseFilter* owner, const wchar_t* name, PIN_DIRECTION direction, const GUID& major,
          const GUID* category = nullptr)
      : m_owner(owner), m_name(name), m_direction(direction), m_major(major), m_hasCategory(category != nullptr),
        m_category(category ? *category : GUID_NULL) {}

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect() override {
    if (!peer) return S_FALSE;
    peer.Reset();
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = peer.Get();
    if (!peer) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
    if (!mt) return E_POINTER;
    ZeroMemory(mt, sizeof(*mt));
    if (!peer) return VFW_E_NOT_CONNECTED;
    mt->majortype = m_major;
    return S_OK;
  }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = m_owner;
    if (m_owner) m_owner->AddRef();
    info->dir = m_direction;
    lstrcpynW(info->achName, m_name.c_str(), MAX_PIN_NAME);
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = m_direction;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((m_name.size() + 1) * sizeof(WCHAR)));
    lstrcpyW(*id, m_name.c_str());
    return S_OK;
  }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
    return mt && IsEqualGUID(mt->majortype, m_major) ? S_OK : S_FALSE;
  }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(types.enumResult)) return types.enumResult;
    *out = new FakeEnumMediaTypes(&types);
    return S_OK;
  }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IKsPropertySet: the pin category only.
  STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return kPropSetUnsupported;
    if (!data || size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = m_category;
    if (returned) *returned = sizeof(GUID);
    return S_OK;
  }
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return kPropSetUnsupported;
    if (support) *support = 1;  // KSPROPERTY_SUPPORT_GET
    return S_OK;
  }

  ComPtr<IPin> peer;
  MediaTypeList types;  // what EnumMediaTypes offers

 protected:
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin)) return static_cast<IPin*>(this);
    if (IsEqualIID(riid, IID_IKsPropertySet) && m_hasCategory) return static_cast<IKsPropertySet*>(this);
    return nullptr;
  }

  IBaseFilter* m_owner;  // not counted: the filter owns its pins
  std::wstring m_name;
  PIN_DIRECTION m_direction;
  GUID m_major;
  bool m_hasCategory;
  GUID m_category;
};

// A filter that keeps its state, name and graph as the graph sets them; `Pins` lists its pins.
template <typename... Extra>
class FakeFilter : public FakeCom<IBaseFilter, Extra...> {
 public:
  explicit FakeFilter(const CLSID& clsid) : m_clsid(clsid) {}
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
  }
  STDMETHODIMP Stop() override {
    m_state = State_Stopped;
    return S_OK;
  }
  STDMETHODIMP Pause() override {
    m_state = State_Paused;
    return S_OK;
  }
  STDMETHODIMP Run(REFERENCE_TIME) override {
    m_state = State_Running;
    return S_OK;
  }
  STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
  }
  STDMETHODIMP EnumPins(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new FakeEnumPins(Pins());
    return S_OK;
  }
  STDMETHODIMP FindPin(LPCWSTR, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, m_name.c_str(), MAX_FILTER_NAME);
    info->pGraph = m_graph;
    if (m_graph) m_graph->AddRef();
    return S_OK;
  }
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    m_graph = graph;  // not counted, as the graph holds the filter
    m_name = name ? name : L"";
    ++joins;
    return S_OK;
  }
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  IFilterGraph* Graph() const { return m_graph; }
  const std::wstring& Name() const { return m_name; }
  int joins = 0;

 protected:
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter) ||
        IsEqualIID(riid, IID_IPersist))
      return static_cast<IBaseFilter*>(this);
    return nullptr;
  }
  virtual std::vector<IPin*> Pins() { return {}; }

 private:
  CLSID m_clsid;
  FILTER_STATE m_state = State_Stopped;
  IFilterGraph* m_graph = nullptr;
  std::wstring m_name;
};

// Class object that makes a new object with `make` for every creation request.
template <typename Make>
class FakeClassFactory final : public FakeCom<IClassFactory> {
 public:
  explicit FakeClassFactory(Make make) : m_make(make) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = m_make();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  void* Find(REFIID riid) override { return Primary(riid, IID_IClassFactory, static_cast<IClassFactory*>(this)); }
  Make m_make;
};

// Makes `clsid` creatable in this process (CoCreateInstance finds it before the registry) for
// the life of the object.
class ProcessClass {
 public:
  template <typename Make>
  ProcessClass(const CLSID& clsid, Make make) {
    ComPtr<IClassFactory> factory;
    factory.Attach(new FakeClassFactory<Make>(make));
    result = CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
  }
  ~ProcessClass() {
    if (SUCCEEDED(result)) CoRevokeClassObject(m_cookie);
  }
  ProcessClass(const ProcessClass&) = delete;
  ProcessClass& operator=(const ProcessClass&) = delete;
  HRESULT result;

 private:
  DWORD m_cookie = 0;
};

}  // namespace testsupport
