#pragma once
// Helpers of the test-device tests: finding devices, building graphs by hand, collecting what
// reaches a sample grabber.
#include <windows.h>
#include <control.h>
#include <evcode.h>
#include <qedit.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framepattern.h"
#include "testdevices.h"

extern "C" {
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
}
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMediaEvent, 0x56a868b6, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IMediaEventEx, 0x56a868c0, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
#endif

namespace devtest {

using Microsoft::WRL::ComPtr;

extern const GUID kSubtypeI420;

struct DeviceInfo {
  std::wstring friendlyName;
  std::wstring displayName;
  ComPtr<IMoniker> moniker;
};

// Devices of a category in the system device enumerator's order (empty when it has none).
std::vector<DeviceInfo> ListDevices(REFCLSID category);
// Binds the device of that friendly name (first match) to its filter.
ComPtr<IBaseFilter> BindDevice(REFCLSID category, const wchar_t* friendlyName);
inline ComPtr<IBaseFilter> BindCamera(const wchar_t* name) { return BindDevice(CLSID_VideoInputDeviceCategory, name); }
inline ComPtr<IBaseFilter> BindMicrophone(const wchar_t* name) { return BindDevice(CLSID_AudioInputDeviceCategory, name); }

// Functions of the loaded devices DLL (loaded by binding a device first).
HMODULE DevicesModule();
template <typename Fn>
Fn DeviceExport(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(DevicesModule(), name)));
}

// Waits up to `ms` for `done()` to hold, pumping messages; returns whether it did.
template <typename Pred>
bool WaitUntil(Pred done, DWORD ms) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(5);
  }
  return true;
}

// Collects the samples a grabber sees (on the streaming thread).
class SampleCollector final : public ISampleGrabberCB {
 public:
  struct Sample {
    LONG length = 0;
    bool timed = false;
    REFERENCE_TIME start = 0, stop = 0;
    LONGLONG mediaStart = -1;
    zvpattern::Decoded decoded;
    std::vector<BYTE> data;  // with KeepAll
  };
  SampleCollector();
  ~SampleCollector();
  // Decoding needs the layout and size of the frames.
  void Expect(zvpattern::Layout layout, int width, int height);
  void KeepLast(bool keep) { m_keepLast = keep; }
  void KeepAll(bool keep) { m_keepAll = keep; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives on the test's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

  size_t Count();
  std::vector<Sample> Samples();
  std::vector<BYTE> LastData();
  void Clear();

 private:
  CRITICAL_SECTION m_cs;
  std::vector<Sample> m_samples;
  std::vector<BYTE> m_last;
  bool m_keepLast = false;
  bool m_keepAll = false;
  bool m_decode = false;
  zvpattern::Layout m_layout = zvpattern::Layout::RGB24;
  int m_width = 0, m_height = 0;
};

// A graph with one source, built by hand.
struct Graph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ComPtr<IBaseFilter> source;

  // Creates the graph and the capture graph builder and adds `source` as "Source".
  HRESULT Create(IBaseFilter* sourceFilter);
  // Adds a grabber (partial type: major type and subtype) and a null renderer and renders the
  // pin of `category` through them.
  HRESULT AddGrabberBranch(const GUID& category, const GUID& major, const GUID& subtype, SampleCollector* collector,
                           ComPtr<IBaseFilter>* grabberOut = nullptr);
  HRESULT Run() { return control->Run(); }
  // Stops and waits until every filter is stopped.
  HRESULT Stop();
  // Next event with the given code within `ms`; false when none came.
  bool WaitEvent(long code, DWORD ms, LONG_PTR* p1 = nullptr, LONG_PTR* p2 = nullptr);
  void Teardown();
  ~Graph() { Teardown(); }
};

// Pins and formats.
ComPtr<IPin> FindPin(IBaseFilter* filter, const GUID* category, PIN_DIRECTION direction = PINDIR_OUTPUT);
ComPtr<IAMStreamConfig> StreamConfig(IBaseFilter* filter, const GUID& category);
ComPtr<IZelvoraDeviceControl> Control(IBaseFilter* filter);
struct VideoFormat {
  GUID subtype = GUID_NULL;
  GUID formattype = GUID_NULL;
  LONG width = 0, height = 0;
  REFERENCE_TIME interval = 0;
  DWORD sizeImage = 0;
  ULONG sampleSize = 0;
};
VideoFormat Describe(const AM_MEDIA_TYPE* mt);
void FreeMediaType(AM_MEDIA_TYPE* mt);
// A capability's media type with a changed size (VIDEOINFOHEADER only).
AM_MEDIA_TYPE* CapabilityType(IAMStreamConfig* config, int index);

zvpattern::Layout LayoutOf(const GUID& subtype);

// A camera instance registered through the devices DLL for one test, removed at the end.
struct ScopedCamera {
  ScopedCamera(const wchar_t* instanceName, const wchar_t* friendlyName, const wchar_t* formats, const wchar_t* pins);
  ~ScopedCamera();
  HRESULT result = E_FAIL;
  std::wstring instance;
};

}  // namespace devtest
