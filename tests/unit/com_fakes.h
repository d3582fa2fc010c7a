#pragma once

// Hand-written COM objects that stand in for capture devices, pins and writers in unit tests:
// capability lists, media type lists, pin categories and file sinks under the test's control,
// with counters for what the code under test did to them.

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace fakes {

using Microsoft::WRL::ComPtr;

constexpr HRESULT kPropSetUnsupported = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// Counts Release calls; never destroys itself. Used as the pUnk of media type records.
class ReleaseCounter : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++addRefs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(++releases); }
  int addRefs = 0;
  int releases = 0;
};

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

// Reference counting shared by the fakes (heap objects, start with one reference).
#define FAKE_REFCOUNT()                                                                  \
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }       \
  STDMETHODIMP_(ULONG) Release() override {                                              \
    LONG refs = InterlockedDecrement(&m_refs);                                           \
    if (refs == 0) delete this;                                                          \
    return static_cast<ULONG>(refs);                                                     \
  }

// One capability of a fake capture pin.
struct Capability {
  GUID subtype;
  int width;
  int height;
  GUID formatType = FORMAT_VideoInfo;
  int minWidth = -1;   // MinOutputSize.cx; -1: same as width
  int maxHeight = -1;  // MaxOutputSize.cy; -1: same as height
  ULONG formatBytes = 0;  // 0: the whole header of the format type
};

// IAMStreamConfig over a list of capabilities. Every record handed out carries `records` as its
// pUnk, so the number of releases tells how many records were given back.
class FakeStreamConfig : public IAMStreamConfig {
 public:
  explicit FakeStreamConfig(std::vector<Capability> caps) : capabilities(std::move(caps)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMStreamConfig)) {
      *ppv = static_cast<IAMStreamConfig*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  FAKE_REFCOUNT()

  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override {
    ++setFormatCalls;
    if (pmt) {
      applied = *pmt;
      applied.pbFormat = nullptr;
      applied.pUnk = nullptr;
      if (pmt->pbFormat && pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
        appliedHeader = *reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
    }
    return setFormatResult;
  }
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override { return E_NOTIMPL; }
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override {
    ++countCalls;
    if (FAILED(countResult)) return countResult;
    *count = static_cast<int>(capabilities.size());
    *size = capsSize;
    return S_OK;
  }
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override {
    ++capsCalls;
    if (!ppmt || !caps) return E_POINTER;
    *ppmt = nullptr;
    if (index == failAt) return E_FAIL;
    if (index < 0 || index >= static_cast<int>(capabilities.size())) return S_FALSE;
    const Capability& c = capabilities[index];
    const bool info2 = IsEqualGUID(c.formatType, FORMAT_VideoInfo2) != FALSE;
    ULONG bytes = c.formatBytes ? c.formatBytes : (info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
    AM_MEDIA_TYPE* mt = NewMediaTypeRecord(MEDIATYPE_Video, c.subtype, c.formatType, bytes, &records);
    const int maxHeight = c.maxHeight < 0 ? c.height : c.maxHeight;
    if (!info2 && bytes >= sizeof(VIDEOINFOHEADER)) {
      VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      SetRect(&vih->rcSource, 0, 0, c.width, maxHeight);
      vih->rcTarget = vih->rcSource;
      vih->dwBitRate = 1000 + index;  // tells the capabilities apart
      vih->AvgTimePerFrame = 333333;
      vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      vih->bmiHeader.biWidth = c.width;
      vih->bmiHeader.biHeight = maxHeight;
      vih->bmiHeader.biPlanes = 1;
      vih->bmiHeader.biBitCount = 16;
      vih->bmiHeader.biCompression = c.subtype.Data1;
      vih->bmiHeader.biSizeImage = 1;
      mt->lSampleSize = 1;
    }
    // The record the configuration announced, in full.
    memset(caps, 0, static_cast<size_t>(capsSize));
    VIDEO_STREAM_CONFIG_CAPS* vscc = reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps);
    vscc->guid = c.formatType;
    vscc->MinOutputSize.cx = c.minWidth < 0 ? c.width : c.minWidth;
    vscc->MinOutputSize.cy = c.height;
    vscc->MaxOutputSize.cx = c.width;
    vscc->MaxOutputSize.cy = maxHeight;
    ++handedOut;
    *ppmt = mt;
    return S_OK;
  }

  std::vector<Capability> capabilities;
  int capsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  HRESULT countResult = S_OK;
  HRESULT setFormatResult = S_OK;
  int failAt = -1;
  ReleaseCounter records;
  int handedOut = 0;
  int countCalls = 0;
  int capsCalls = 0;
  int setFormatCalls = 0;
  AM_MEDIA_TYPE applied = {};
  VIDEOINFOHEADER appliedHeader = {};

 protected:
  virtual ~FakeStreamConfig() = default;
  LONG m_refs = 1;
};

// Media type list of a pin: records handed out one by one, each with `records` as pUnk.
struct MediaTypeList {
  std::vector<std::pair<GUID, GUID>> types;  // major type, subtype
  ReleaseCounter records;
  int handedOut = 0;
  HRESULT enumResult = S_OK;
};

class FakeEnumMediaTypes : public IEnumMediaTypes {
 public:
  explicit FakeEnumMediaTypes(MediaTypeList* list) : m_list(list) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMediaTypes)) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  FAKE_REFCOUNT()
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
    ULONG done = 0;
    while (done < count && m_pos < m_list->types.size()) {
      const auto& t = m_list->types[m_pos++];
      out[done++] = NewMediaTypeRecord(t.first, t.second, FORMAT_None, 0, &m_list->records);
      ++m_list->handedOut;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    m_pos += count;
    return m_pos <= m_list->types.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    FakeEnumMediaTypes* copy = new FakeEnumMediaTypes(m_list);
    copy->m_pos = m_pos;
    *out = copy;
    return S_OK;
  }

 private:
  virtual ~FakeEnumMediaTypes() = default;
  LONG m_refs = 1;
  MediaTypeList* m_list;
  size_t m_pos = 0;
};

// Output pin of a fake capture filter: a pin category (IKsPropertySet), a media type list and a
// stream configuration of its own.
class FakeCapturePin : public FakeStreamConfig, public IPin, public IKsPropertySet {
 public:
  FakeCapturePin(IBaseFilter* owner, const GUID& pinCategory, std::vector<Capability> caps)
      : FakeStreamConfig(std::move(caps)), category(pinCategory), m_owner(owner) {
    mediaTypes.types.push_back({MEDIATYPE_Video, MEDIASUBTYPE_YUY2});
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin)) {
      *ppv = static_cast<IPin*>(this);
    } else if (IsEqualIID(riid, IID_IKsPropertySet)) {
      *ppv = static_cast<IKsPropertySet*>(this);
    } else if (IsEqualIID(riid, IID_IAMStreamConfig) && offerStreamConfig) {
      *ppv = static_cast<IAMStreamConfig*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return FakeStreamConfig::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return FakeStreamConfig::Release(); }

  // IPin
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect() override { return S_FALSE; }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = m_owner;
    if (m_owner) m_owner->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, L"Capture", MAX_PIN_NAME);
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(8 * sizeof(WCHAR)));
    lstrcpyW(*id, L"Capture");
    return S_OK;
  }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(mediaTypes.enumResult)) return mediaTypes.enumResult;
    *out = new FakeEnumMediaTypes(&mediaTypes);
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
    *static_cast<GUID*>(data) = category;
    if (returned) *returned = sizeof(GUID);
    return S_OK;
  }
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return kPropSetUnsupported;
    if (support) *support = 1;  // KSPROPERTY_SUPPORT_GET
    return S_OK;
  }

  GUID category;
  MediaTypeList mediaTypes;
  bool offerStreamConfig = true;

 private:
  ~FakeCapturePin() override = default;
  IBaseFilter* m_owner;  // not counted: the filter owns the pin
};

class FakeEnumPins : public IEnumPins {
 public:
  explicit FakeEnumPins(std::vector<IPin*> pins) : m_pins(std::move(pins)) {
    for (IPin* pin : m_pins) pin->AddRef();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins)) {
      *ppv = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  FAKE_REFCOUNT()
  STDMETHODIMP Next(ULONG count, IPin** out, ULONG* fetched) override {
    ULONG done = 0;
    while (done < count && m_pos < m_pins.size()) {
      out[done] = m_pins[m_pos++];
      out[done++]->AddRef();
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    m_pos += count;
    return m_pos <= m_pins.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** out) override {
    FakeEnumPins* copy = new FakeEnumPins(m_pins);
    copy->m_pos = m_pos;
    *out = copy;
    return S_OK;
  }

 private:
  virtual ~FakeEnumPins() {
    for (IPin* pin : m_pins) pin->Release();
  }
  LONG m_refs = 1;
  std::vector<IPin*> m_pins;
  size_t m_pos = 0;
};

// The IBaseFilter part shared by the fake filters.
class FakeFilterBase : public IBaseFilter {
 public:
  explicit FakeFilterBase(const CLSID& clsid) : m_clsid(clsid) {}
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
  virtual ~FakeFilterBase() = default;
  virtual std::vector<IPin*> Pins() { return {}; }
  LONG m_refs = 1;

 private:
  CLSID m_clsid;
  FILTER_STATE m_state = State_Stopped;
  IFilterGraph* m_graph = nullptr;
  std::wstring m_name;
};

// A capture source with one output pin of the given category.
class FakeCaptureFilter : public FakeFilterBase {
 public:
  FakeCaptureFilter(const CLSID& clsid, const GUID& pinCategory, std::vector<Capability> caps)
      : FakeFilterBase(clsid) {
    m_pin.Attach(new FakeCapturePin(this, pinCategory, std::move(caps)));
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) ||
        IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IPersist)) {
      *ppv = static_cast<IBaseFilter*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  FAKE_REFCOUNT()

  FakeCapturePin* Pin() { return m_pin.Get(); }

 protected:
  std::vector<IPin*> Pins() override { return {m_pin.Get()}; }

 private:
  ComPtr<FakeCapturePin> m_pin;
};

// A file writer: a filter without pins that takes a file name through IFileSinkFilter.
class FakeWriter : public FakeFilterBase, public IFileSinkFilter {
 public:
  struct Record {
    int created = 0;
    int alive = 0;
    std::wstring fileName;
    HRESULT setFileNameResult = S_OK;
    bool offerFileSink = true;
  };

  FakeWriter(const CLSID& clsid, Record* record) : FakeFilterBase(clsid), m_record(record) {
    ++record->created;
    ++record->alive;
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) ||
        IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IPersist)) {
      *ppv = static_cast<IBaseFilter*>(this);
    } else if (IsEqualIID(riid, IID_IFileSinkFilter) && m_record->offerFileSink) {
      *ppv = static_cast<IFileSinkFilter*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  FAKE_REFCOUNT()
  STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
    if (FAILED(m_record->setFileNameResult)) return m_record->setFileNameResult;
    m_record->fileName = name ? name : L"";
    return S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  ~FakeWriter() override { --m_record->alive; }
  Record* m_record;
};

// Class object that makes a new object with `make` for every creation request.
template <typename Make>
class FakeClassFactory : public IClassFactory {
 public:
  explicit FakeClassFactory(Make make) : m_make(make) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  FAKE_REFCOUNT()
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
  virtual ~FakeClassFactory() = default;
  LONG m_refs = 1;
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

#undef FAKE_REFCOUNT

}  // namespace fakes
