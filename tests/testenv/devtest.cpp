#include "devtest.h"

#include <amvideo.h>
#include <dvdmedia.h>

#include <stdio.h>
#include <stdlib.h>

namespace devtest {

const GUID kSubtypeI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::vector<DeviceInfo> ListDevices(REFCLSID category) {
  std::vector<DeviceInfo> devices;
  ComPtr<ICreateDevEnum> enumerator;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(enumerator.GetAddressOf()))))
    return devices;
  ComPtr<IEnumMoniker> monikers;
  if (enumerator->CreateClassEnumerator(category, &monikers, 0) != S_OK) return devices;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    DeviceInfo info;
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf())))) {
      VARIANT name;
      VariantInit(&name);
      name.vt = VT_BSTR;
      if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) info.friendlyName = name.bstrVal;
      VariantClear(&name);
    }
    LPOLESTR display = nullptr;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display)) && display) {
      info.displayName = display;
      CoTaskMemFree(display);
    }
    info.moniker = moniker;
    devices.push_back(info);
    moniker.Reset();
  }
  return devices;
}

ComPtr<IBaseFilter> BindDevice(REFCLSID category, const wchar_t* friendlyName) {
  ComPtr<IBaseFilter> filter;
  for (const DeviceInfo& device : ListDevices(category)) {
    if (device.friendlyName != friendlyName) continue;
    HRESULT hr = device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
    EXPECT_EQ(S_OK, hr) << "binding " << testing::PrintToString(std::wstring(friendlyName));
    break;
  }
  return filter;
}

HMODULE DevicesModule() {
  HMODULE module = GetModuleHandleW(ZVD_DLL_NAME);
  if (!module) {
    ComPtr<IBaseFilter> keep = BindCamera(ZVD_CAMERA_MAIN);
    module = GetModuleHandleW(ZVD_DLL_NAME);
    // COM keeps the DLL loaded until CoFreeUnusedLibraries; pin it for the process.
    if (module) {
      HMODULE pinned = nullptr;
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, ZVD_DLL_NAME, &pinned);
    }
  }
  return module;
}

// ---- SampleCollector ---------------------------------------------------------------------
SampleCollector::SampleCollector() { InitializeCriticalSection(&m_cs); }
SampleCollector::~SampleCollector() { DeleteCriticalSection(&m_cs); }

void SampleCollector::Expect(zvpattern::Layout layout, int width, int height) {
  EnterCriticalSection(&m_cs);
  m_decode = true;
  m_layout = layout;
  m_width = width;
  m_height = height;
  LeaveCriticalSection(&m_cs);
}

STDMETHODIMP SampleCollector::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISampleGrabberCB)) {
    *ppv = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP SampleCollector::SampleCB(double, IMediaSample* sample) {
  Sample s;
  s.length = sample->GetActualDataLength();
  s.timed = SUCCEEDED(sample->GetTime(&s.start, &s.stop));
  LONGLONG mediaStop = 0;
  if (FAILED(sample->GetMediaTime(&s.mediaStart, &mediaStop))) s.mediaStart = -1;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EnterCriticalSection(&m_cs);
  if (m_decode && data && s.length > 0)
    s.decoded = zvpattern::DecodeFrame(m_layout, data, static_cast<size_t>(s.length), m_width, m_height);
  if (m_keepAll && data && s.length > 0) s.data.assign(data, data + s.length);
  m_samples.push_back(s);
  if (m_keepLast && data && s.length > 0) m_last.assign(data, data + s.length);
  LeaveCriticalSection(&m_cs);
  return S_OK;
}

size_t SampleCollector::Count() {
  EnterCriticalSection(&m_cs);
  size_t n = m_samples.size();
  LeaveCriticalSection(&m_cs);
  return n;
}

std::vector<SampleCollector::Sample> SampleCollector::Samples() {
  EnterCriticalSection(&m_cs);
  std::vector<Sample> copy = m_samples;
  LeaveCriticalSection(&m_cs);
  return copy;
}

std::vector<BYTE> SampleCollector::LastData() {
  EnterCriticalSection(&m_cs);
  std::vector<BYTE> copy = m_last;
  LeaveCriticalSection(&m_cs);
  return copy;
}

void SampleCollector::Clear() {
  EnterCriticalSection(&m_cs);
  m_samples.clear();
  m_last.clear();
  LeaveCriticalSection(&m_cs);
}

// ---- Graph --------------------------------------------------------------------------------
HRESULT Graph::Create(IBaseFilter* sourceFilter) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(graph.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                        reinterpret_cast<void**>(builder.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = builder->SetFiltergraph(graph.Get());
  if (FAILED(hr)) return hr;
  hr = graph.As(&control);
  if (FAILED(hr)) return hr;
  hr = graph.As(&events);
  if (FAILED(hr)) return hr;
  source = sourceFilter;
  return sourceFilter ? graph->AddFilter(sourceFilter, L"Source") : S_OK;
}

HRESULT Graph::AddGrabberBranch(const GUID& category, const GUID& major, const GUID& subtype, SampleCollector* collector,
                                ComPtr<IBaseFilter>* grabberOut) {
  ComPtr<IBaseFilter> grabberFilter, renderer;
  HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(grabberFilter.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<ISampleGrabber> grabber;
  hr = grabberFilter.As(&grabber);
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE mt;
  ZeroMemory(&mt, sizeof(mt));
  mt.majortype = major;
  mt.subtype = subtype;
  hr = grabber->SetMediaType(&mt);
  if (SUCCEEDED(hr)) hr = grabber->SetBufferSamples(FALSE);
  if (SUCCEEDED(hr)) hr = grabber->SetOneShot(FALSE);
  if (SUCCEEDED(hr) && collector) hr = grabber->SetCallback(collector, 0);
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(grabberFilter.Get(), L"Grabber");
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(renderer.GetAddressOf()));
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(renderer.Get(), L"Null Renderer");
  if (FAILED(hr)) return hr;
  hr = builder->RenderStream(&category, &major, source.Get(), grabberFilter.Get(), renderer.Get());
  if (grabberOut) *grabberOut = grabberFilter;
  return hr;
}

HRESULT Graph::Stop() {
  if (!control) return S_OK;
  HRESULT hr = control->Stop();
  OAFilterState state;
  control->GetState(2000, &state);
  return hr;
}

bool Graph::WaitEvent(long code, DWORD ms, LONG_PTR* p1, LONG_PTR* p2) {
  DWORD start = GetTickCount();
  for (;;) {
    long got;
    LONG_PTR a, b;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed > ms) return false;
    HRESULT hr = events->GetEvent(&got, &a, &b, ms - elapsed);
    if (FAILED(hr)) return false;
    events->FreeEventParams(got, a, b);
    if (got == code) {
      if (p1) *p1 = a;
      if (p2) *p2 = b;
      return true;
    }
  }
}

void Graph::Teardown() {
  if (control) control->Stop();
  if (graph) {
    // Remove every filter so that nothing of the graph outlives the test.
    for (int guard = 0; guard < 64; ++guard) {
      ComPtr<IEnumFilters> filters;
      if (FAILED(graph->EnumFilters(&filters))) break;
      ComPtr<IBaseFilter> filter;
      if (filters->Next(1, &filter, nullptr) != S_OK) break;
      filters.Reset();
      HRESULT hr = graph->RemoveFilter(filter.Get());
      if (getenv("ZVD_TRACE")) fprintf(stderr, "remove 0x%08lx\n", static_cast<unsigned long>(hr));
      if (FAILED(hr)) break;
    }
  }
  events.Reset();
  control.Reset();
  builder.Reset();
  graph.Reset();
  source.Reset();
}

// ---- Pins and formats ------------------------------------------------------------------------
ComPtr<IPin> FindPin(IBaseFilter* filter, const GUID* category, PIN_DIRECTION direction) {
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IPin> pin;
  if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                              reinterpret_cast<void**>(builder.GetAddressOf()))))
    return pin;
  if (FAILED(builder->FindPin(filter, direction, category, nullptr, FALSE, 0, &pin))) pin.Reset();
  return pin;
}

ComPtr<IAMStreamConfig> StreamConfig(IBaseFilter* filter, const GUID& category) {
  ComPtr<IAMStreamConfig> config;
  ComPtr<IPin> pin = FindPin(filter, &category);
  if (pin) pin.As(&config);
  return config;
}

ComPtr<IZelvoraDeviceControl> Control(IBaseFilter* filter) {
  ComPtr<IZelvoraDeviceControl> control;
  if (filter) filter->QueryInterface(IID_IZelvoraDeviceControl, reinterpret_cast<void**>(control.GetAddressOf()));
  return control;
}

VideoFormat Describe(const AM_MEDIA_TYPE* mt) {
  VideoFormat f;
  if (!mt) return f;
  f.subtype = mt->subtype;
  f.formattype = mt->formattype;
  f.sampleSize = mt->lSampleSize;
  const BITMAPINFOHEADER* bmi = nullptr;
  if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* v = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    bmi = &v->bmiHeader;
    f.interval = v->AvgTimePerFrame;
  } else if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo2) && mt->cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* v = reinterpret_cast<const VIDEOINFOHEADER2*>(mt->pbFormat);
    bmi = &v->bmiHeader;
    f.interval = v->AvgTimePerFrame;
  }
  if (bmi) {
    f.width = bmi->biWidth;
    f.height = bmi->biHeight;
    f.sizeImage = bmi->biSizeImage;
  }
  return f;
}

void FreeMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  CoTaskMemFree(mt);
}

AM_MEDIA_TYPE* CapabilityType(IAMStreamConfig* config, int index) {
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  if (config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK) return nullptr;
  return mt;
}

zvpattern::Layout LayoutOf(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return zvpattern::Layout::YUY2;
  if (IsEqualGUID(subtype, kSubtypeI420)) return zvpattern::Layout::I420;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return zvpattern::Layout::NV12;
  return zvpattern::Layout::RGB24;
}

ScopedCamera::ScopedCamera(const wchar_t* instanceName, const wchar_t* friendlyName, const wchar_t* formats,
                           const wchar_t* pins)
    : instance(instanceName) {
  auto registerDevice = DeviceExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
  if (registerDevice) result = registerDevice(ZVD_KIND_CAMERA, instanceName, friendlyName, formats, pins);
}

ScopedCamera::~ScopedCamera() {
  auto unregisterDevice = DeviceExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
  if (unregisterDevice && SUCCEEDED(result)) unregisterDevice(ZVD_KIND_CAMERA, instance.c_str());
}

}  // namespace devtest
