// Speed of the virtual camera at 1920x1080 YUY2, 60 frames per second (budget 16.7 ms a frame).
//   1. drawing one frame (the per-frame work of the streaming thread) against the anchor,
//      a plain copy of one frame of the same size, medians of 120 runs each;
//   2. encoding one MJPG frame (the test picture as JPEG, a new frame number each time) at
//      1280x720 and 1920x1080, medians of 120 runs each (budget: well under 3 ms at 1280x720,
//      the camera streams it at 30 frames per second beside the host);
//   3. the live camera in a graph for 3 s: frames per second reaching a sample grabber and the
//      median interval between their arrivals.
// Needs the devices registered (zelvora_devices_setup.exe). Prints medians; asserts nothing.
#include <windows.h>
#include <control.h>
#include <qedit.h>
#include <strmif.h>
#include <uuids.h>
#include <wrl/client.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "framepattern.h"
#include "jpegwriter.h"
#include "testdevices.h"

extern "C" {
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
}

using Microsoft::WRL::ComPtr;

namespace {

double NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class ArrivalClock final : public ISampleGrabberCB {
 public:
  ArrivalClock() { InitializeCriticalSection(&m_cs); }
  ~ArrivalClock() { DeleteCriticalSection(&m_cs); }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISampleGrabberCB)) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample*) override {
    EnterCriticalSection(&m_cs);
    m_times.push_back(NowMs());
    LeaveCriticalSection(&m_cs);
    return S_OK;
  }
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }
  std::vector<double> Times() {
    EnterCriticalSection(&m_cs);
    std::vector<double> copy = m_times;
    LeaveCriticalSection(&m_cs);
    return copy;
  }

 private:
  CRITICAL_SECTION m_cs;
  std::vector<double> m_times;
};

ComPtr<IBaseFilter> BindMainCamera() {
  ComPtr<IBaseFilter> filter;
  ComPtr<ICreateDevEnum> devices;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(devices.GetAddressOf()))))
    return filter;
  ComPtr<IEnumMoniker> monikers;
  if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK) return filter;
  ComPtr<IMoniker> moniker;
  while (!filter && monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_BSTR;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()))) &&
        SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && lstrcmpW(name.bstrVal, ZVD_CAMERA_MAIN) == 0)
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
    VariantClear(&name);
    moniker.Reset();
  }
  return filter;
}

int LiveRun() {
  ComPtr<IBaseFilter> camera = BindMainCamera();
  if (!camera) {
    printf("live: no \"Zelvora Virtual Camera\" registered (run zelvora_devices_setup.exe)\n");
    return 1;
  }
  ComPtr<IPin> pin;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IGraphBuilder> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, reinterpret_cast<void**>(graph.GetAddressOf()));
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                   reinterpret_cast<void**>(builder.GetAddressOf()));
  if (!graph || !builder) return 1;
  builder->SetFiltergraph(graph.Get());
  graph->AddFilter(camera.Get(), L"Camera");
  ComPtr<IAMStreamConfig> config;
  builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), IID_IAMStreamConfig,
                         reinterpret_cast<void**>(config.GetAddressOf()));
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  if (!config || config->GetStreamCaps(12, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK) return 1;  // YUY2 1080p60
  HRESULT hr = config->SetFormat(mt);
  CoTaskMemFree(mt->pbFormat);
  CoTaskMemFree(mt);
  if (FAILED(hr)) return 1;
  ComPtr<IBaseFilter> grabberFilter, renderer;
  CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(grabberFilter.GetAddressOf()));
  CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(renderer.GetAddressOf()));
  ComPtr<ISampleGrabber> grabber;
  if (!grabberFilter || !renderer || FAILED(grabberFilter.As(&grabber))) return 1;
  ArrivalClock arrivals;
  grabber->SetCallback(&arrivals, 0);
  graph->AddFilter(grabberFilter.Get(), L"Grabber");
  graph->AddFilter(renderer.Get(), L"Null");
  hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), grabberFilter.Get(), renderer.Get());
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.GetAddressOf()));
  if (FAILED(hr) || !control) return 1;
  control->Run();
  Sleep(3000);
  control->Stop();
  std::vector<double> times = arrivals.Times();
  std::vector<double> gaps;
  for (size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
  double seconds = times.size() > 1 ? (times.back() - times.front()) / 1000.0 : 0.0;
  printf("live 1920x1080 YUY2 @60: %zu frames in %.2f s = %.1f frames/s, median interval %.2f ms (target 16.67)\n",
         times.size(), seconds, seconds > 0 ? (times.size() - 1) / seconds : 0.0, Median(gaps));
  for (;;) {  // empty the graph
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (FAILED(graph->EnumFilters(&filters)) || filters->Next(1, &filter, nullptr) != S_OK) break;
    filters.Reset();
    if (FAILED(graph->RemoveFilter(filter.Get()))) break;
  }
  return 0;
}

void JpegRow(int w, int h, int runs) {
  zvjpeg::PatternEncoder encoder;
  if (!encoder.Configure(w, h, true)) return;
  std::vector<unsigned char> frame(encoder.FrameBound());
  std::vector<double> times;
  size_t bytes = 0;
  for (int i = 0; i < runs; ++i) {
    double t0 = NowMs();
    bytes = encoder.Render(static_cast<unsigned>(i), frame.data(), frame.size());
    times.push_back(NowMs() - t0);
  }
  printf("encode one %dx%d MJPG frame: median %.3f ms (%zu bytes)\n", w, h, Median(times), bytes);
}

}  // namespace

int main() {
  const int w = 1920, h = 1080, runs = 120;
  zvpattern::Renderer renderer;
  if (!renderer.Configure(zvpattern::Layout::YUY2, w, h)) return 1;
  std::vector<unsigned char> frame(renderer.FrameSize()), source(renderer.FrameSize(), 0x42);
  std::vector<double> draw, copy;
  for (int i = 0; i < runs; ++i) {
    double t0 = NowMs();
    renderer.Render(static_cast<unsigned>(i), frame.data(), frame.size());
    double t1 = NowMs();
    memcpy(frame.data(), source.data(), frame.size());
    double t2 = NowMs();
    draw.push_back(t1 - t0);
    copy.push_back(t2 - t1);
  }
  printf("draw one 1920x1080 YUY2 frame: median %.3f ms; anchor (copy of one frame): median %.3f ms; ratio %.2f\n",
         Median(draw), Median(copy), Median(copy) > 0 ? Median(draw) / Median(copy) : 0.0);
  JpegRow(1280, 720, runs);
  JpegRow(1920, 1080, runs);
  fflush(stdout);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int rc = LiveRun();
  fflush(stdout);
  CoUninitialize();
  return rc;
}
