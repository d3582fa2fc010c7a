// Entry points and exports of zelvora_devices.dll: class factories, registration of the classes
// and of the device instances, and the functions tests use to find live devices.
#include <windows.h>
#include <ocidl.h>
#include <strmif.h>
#include <uuids.h>
#include <wrl/client.h>

#include <new>
#include <string>
#include <vector>

#include "asfwriter.h"
#include "base.h"
#include "colorconverter.h"
#include "devconfig.h"
#include "devices.h"
#include "mjpegdecompressor.h"
#include "propertypage.h"
#include "testdevices.h"

using Microsoft::WRL::ComPtr;

namespace zvd {
namespace {

HMODULE g_module = nullptr;

typedef HRESULT (*CreateFn)(IUnknown* outer, REFIID riid, void** ppv);

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateFn create) : m_create(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Factories are static: their references hold the server instead.
  STDMETHODIMP_(ULONG) AddRef() override {
    ServerLock(true);
    return 2;
  }
  STDMETHODIMP_(ULONG) Release() override {
    ServerLock(false);
    return 1;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override { return m_create(outer, riid, ppv); }
  STDMETHODIMP LockServer(BOOL lock) override {
    ServerLock(lock != FALSE);
    return S_OK;
  }

 private:
  CreateFn m_create;
};

ClassFactory g_cameraFactory(&CameraFilter::Create);
ClassFactory g_microphoneFactory(&MicrophoneFilter::Create);
ClassFactory g_writerFactory(&AsfWriter::Create);
ClassFactory g_decompressorFactory(&MjpegDecompressor::Create);
ClassFactory g_pageFactory(&CreatePropertyPage);
ClassFactory g_converterFactory(&CreateColorConverter);

struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* name;
};
const ClassEntry kClasses[] = {
    {&CLSID_ZelvoraVirtualCamera, L"Zelvora Virtual Camera"},
    {&CLSID_ZelvoraVirtualMicrophone, L"Zelvora Virtual Microphone"},
    {&CLSID_ZelvoraDevicePropertyPage, L"Zelvora Device Property Page"},
    {&CLSID_WMAsfWriter, L"WM ASF Writer"},
    {&CLSID_MjpegDec, L"MJPEG Decompressor"},
    {&CLSID_StandInColorConverterDmo, L"CColorConvertDMO"},
};

// ---- Device instances ---------------------------------------------------------------------
struct DeviceEntry {
  ULONG kind;
  const wchar_t* instance;  // key name: sorts the enumeration
  const wchar_t* friendlyName;
  const wchar_t* formats;   // null: the class default
  const wchar_t* extra;     // pins (camera) or inputs (microphone); null: default
};

const DeviceEntry kDefaultDevices[] = {
    {ZVD_KIND_CAMERA, L"ZelvoraDev00 Main Camera", ZVD_CAMERA_MAIN, nullptr, nullptr},
    {ZVD_KIND_CAMERA, L"ZelvoraDev01 Preview Camera", ZVD_CAMERA_PREVIEW,
     L"YUY2 640x480@30; YUY2 320x240@30; YUY2 640x480@15", L"preview"},
    {ZVD_KIND_CAMERA, L"ZelvoraDev02 VideoInfo2 Camera", ZVD_CAMERA_VIDEOINFO2,
     L"YUY2 640x480@30 vih2; RGB24 320x240@30 vih2", nullptr},
    {ZVD_KIND_CAMERA, L"ZelvoraDev03 MJPG Camera", ZVD_CAMERA_MJPG,
     L"YUY2 640x480@30; YUY2 320x240@30; MJPG 640x480@30; YUY2 640x480@30 vih2; MJPG 1280x720@30; YUY2 1280x720@5",
     nullptr},
    {ZVD_KIND_CAMERA, L"ZelvoraDev04 MPEG-2 Camera", ZVD_CAMERA_MPEG2, L"MPEG2 720x480@30; YUY2 640x480@30", nullptr},
    {ZVD_KIND_CAMERA, L"ZelvoraDev05 Interleaved Camera", ZVD_CAMERA_INTERLEAVED, L"DVSD 720x480@30; YUY2 640x480@30",
     nullptr},
    {ZVD_KIND_CAMERA, L"ZelvoraDev06 VideoPort Camera", ZVD_CAMERA_VIDEOPORT, L"YUY2 640x480@30", L"videoport"},
    {ZVD_KIND_CAMERA, L"ZelvoraDev07 TV Tuner", ZVD_CAMERA_TVTUNER, L"YUY2 640x480@30", L"vbi"},
    {ZVD_KIND_MICROPHONE, L"ZelvoraDev20 Main Microphone", ZVD_MICROPHONE_MAIN, nullptr, nullptr},
    {ZVD_KIND_MICROPHONE, L"ZelvoraDev21 Modem", ZVD_MICROPHONE_MODEM, nullptr, nullptr},
    {ZVD_KIND_MICROPHONE, L"ZelvoraDev22 Lower Modem", ZVD_MICROPHONE_LOWER_MODEM, nullptr, nullptr},
};

const GUID& CategoryOf(ULONG kind) {
  return kind == ZVD_KIND_CAMERA ? CLSID_VideoInputDeviceCategory : CLSID_AudioInputDeviceCategory;
}
const CLSID& ClassOf(ULONG kind) {
  return kind == ZVD_KIND_CAMERA ? CLSID_ZelvoraVirtualCamera : CLSID_ZelvoraVirtualMicrophone;
}

std::wstring GuidText(REFGUID guid) {
  WCHAR text[64];
  StringFromGUID2(guid, text, 64);
  return text;
}

HRESULT WriteRegString(HKEY key, const wchar_t* name, const std::wstring& value) {
  LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  return HRESULT_FROM_WIN32(rc);
}

HRESULT RegisterClassKey(const CLSID& clsid, const wchar_t* name, const std::wstring& path) {
  std::wstring key = L"CLSID\\" + GuidText(clsid);
  HKEY classKey = nullptr, serverKey = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr = WriteRegString(classKey, nullptr, name);
  if (SUCCEEDED(hr)) {
    rc = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr);
    hr = HRESULT_FROM_WIN32(rc);
  }
  if (SUCCEEDED(hr)) hr = WriteRegString(serverKey, nullptr, path);
  if (SUCCEEDED(hr)) hr = WriteRegString(serverKey, L"ThreadingModel", L"Both");
  if (serverKey) RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return hr;
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>* mapper) {
  return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(mapper->GetAddressOf()));
}

// Writes the configuration values into the instance key.
HRESULT WriteInstanceValues(ULONG kind, const wchar_t* instance, const wchar_t* formats, const wchar_t* extra) {
  std::wstring path = L"CLSID\\" + GuidText(CategoryOf(kind)) + L"\\Instance\\" + instance;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_WRITE, &key);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr = S_OK;
  if (formats) hr = WriteRegString(key, L"ZelvoraFormats", formats);
  if (SUCCEEDED(hr) && extra)
    hr = WriteRegString(key, kind == ZVD_KIND_CAMERA ? L"ZelvoraPins" : L"ZelvoraInputs", extra);
  RegCloseKey(key);
  return hr;
}

HRESULT RegisterDevice(IFilterMapper2* mapper, ULONG kind, const wchar_t* instance, const wchar_t* friendlyName,
                       const wchar_t* formats, const wchar_t* extra) {
  REGFILTER2 filter;
  ZeroMemory(&filter, sizeof(filter));
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins = 0;
  filter.rgPins = nullptr;
  HRESULT hr = mapper->RegisterFilter(ClassOf(kind), friendlyName, nullptr, &CategoryOf(kind), instance, &filter);
  if (FAILED(hr)) return hr;
  return WriteInstanceValues(kind, instance, formats, extra);
}

// Removes every instance of our classes (default set and extra ones) from both categories.
HRESULT RemoveAllDevices(IFilterMapper2* mapper) {
  for (ULONG kind : {ZVD_KIND_CAMERA, ZVD_KIND_MICROPHONE}) {
    std::wstring path = L"CLSID\\" + GuidText(CategoryOf(kind)) + L"\\Instance";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    std::vector<std::wstring> ours;
    const std::wstring ourClass = GuidText(ClassOf(kind));
    for (DWORD index = 0;; ++index) {
      WCHAR name[256];
      DWORD chars = 256;
      if (RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      WCHAR clsid[64] = {0};
      DWORD bytes = sizeof(clsid) - sizeof(WCHAR);
      HKEY instanceKey = nullptr;
      if (RegOpenKeyExW(key, name, 0, KEY_READ, &instanceKey) == ERROR_SUCCESS) {
        if (RegQueryValueExW(instanceKey, L"CLSID", nullptr, nullptr, reinterpret_cast<BYTE*>(clsid), &bytes) ==
                ERROR_SUCCESS &&
            lstrcmpiW(clsid, ourClass.c_str()) == 0)
          ours.push_back(name);
        RegCloseKey(instanceKey);
      }
    }
    RegCloseKey(key);
    for (const std::wstring& name : ours) {
      HRESULT hr = mapper->UnregisterFilter(&CategoryOf(kind), name.c_str(), ClassOf(kind));
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

std::wstring ModulePath() {
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  return std::wstring(path, length);
}

HRESULT RegisterSet(const wchar_t* setName) {
  if (!setName) return E_POINTER;
  bool cameras, microphones;
  if (lstrcmpiW(setName, L"default") == 0) cameras = microphones = true;
  else if (lstrcmpiW(setName, L"none") == 0) cameras = microphones = false;
  else if (lstrcmpiW(setName, L"nocamera") == 0) cameras = false, microphones = true;
  else if (lstrcmpiW(setName, L"nomicrophone") == 0) cameras = true, microphones = false;
  else return E_INVALIDARG;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  hr = RemoveAllDevices(mapper.Get());
  if (FAILED(hr)) return hr;
  for (const DeviceEntry& device : kDefaultDevices) {
    if ((device.kind == ZVD_KIND_CAMERA && !cameras) || (device.kind == ZVD_KIND_MICROPHONE && !microphones)) continue;
    hr = RegisterDevice(mapper.Get(), device.kind, device.instance, device.friendlyName, device.formats, device.extra);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegisterWriterFilter(bool add) {
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  if (!add) return mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, CLSID_WMAsfWriter);
  REGFILTER2 filter;
  ZeroMemory(&filter, sizeof(filter));
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_DO_NOT_USE;  // never chosen by intelligent connect
  return mapper->RegisterFilter(CLSID_WMAsfWriter, L"WM ASF Writer", nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                &filter);
}

// The decompressor as the platform registers its own: a normal merit and its pin types, so that
// intelligent connect (IFilterGraph::Connect, and RenderStream through it) finds it for an MJPG
// stream that the sink does not take as it is.
HRESULT RegisterDecompressorFilter(bool add) {
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  if (!add) return mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, CLSID_MjpegDec);
  const REGPINTYPES input = {&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG};
  const REGPINTYPES output = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
  REGFILTERPINS pins[2];
  ZeroMemory(pins, sizeof(pins));
  pins[0].strName = const_cast<LPWSTR>(L"XForm In");
  pins[0].nMediaTypes = 1;
  pins[0].lpMediaType = &input;
  pins[1].strName = const_cast<LPWSTR>(L"XForm Out");
  pins[1].bOutput = TRUE;
  pins[1].nMediaTypes = 1;
  pins[1].lpMediaType = &output;
  REGFILTER2 filter;
  ZeroMemory(&filter, sizeof(filter));
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_NORMAL;
  filter.cPins = 2;
  filter.rgPins = pins;
  return mapper->RegisterFilter(CLSID_MjpegDec, L"MJPEG Decompressor", nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                &filter);
}

// COM calls for registration need an apartment on the calling thread.
class ComScope {
 public:
  ComScope() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }

 private:
  HRESULT m_hr;
};

}  // namespace

HMODULE DllModule() { return g_module; }

}  // namespace zvd

using namespace zvd;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return (LiveObjects() == 0 && ServerLocks() == 0) ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ClassFactory* factory = nullptr;
  if (IsEqualCLSID(clsid, CLSID_ZelvoraVirtualCamera)) factory = &g_cameraFactory;
  else if (IsEqualCLSID(clsid, CLSID_ZelvoraVirtualMicrophone)) factory = &g_microphoneFactory;
  else if (IsEqualCLSID(clsid, CLSID_WMAsfWriter)) factory = &g_writerFactory;
  else if (IsEqualCLSID(clsid, CLSID_MjpegDec)) factory = &g_decompressorFactory;
  else if (IsEqualCLSID(clsid, CLSID_ZelvoraDevicePropertyPage)) factory = &g_pageFactory;
  else if (IsEqualCLSID(clsid, CLSID_StandInColorConverterDmo)) factory = &g_converterFactory;
  else return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, ppv);
}

// Registers the classes, the stand-in writer and decompressor filters and the "default" device set.
STDAPI DllRegisterServer() {
  ComScope com;
  const std::wstring path = ModulePath();
  for (const ClassEntry& entry : kClasses) {
    HRESULT hr = RegisterClassKey(*entry.clsid, entry.name, path);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = RegisterWriterFilter(true);
  if (SUCCEEDED(hr)) hr = RegisterDecompressorFilter(true);
  if (FAILED(hr)) return hr;
  return RegisterSet(L"default");
}

STDAPI DllUnregisterServer() {
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (SUCCEEDED(hr)) hr = RemoveAllDevices(mapper.Get());
  RegisterWriterFilter(false);
  RegisterDecompressorFilter(false);
  for (const ClassEntry& entry : kClasses) {
    std::wstring key = L"CLSID\\" + GuidText(*entry.clsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  }
  return hr;
}

extern "C" HRESULT WINAPI ZvdGetLiveDevices(IZelvoraDeviceControl** devices, ULONG capacity, ULONG* count) {
  if (!count) return E_POINTER;
  if (capacity && !devices) return E_POINTER;
  *count = DeviceFilter::LiveDevices(devices, capacity);
  return *count > capacity ? S_FALSE : S_OK;
}

extern "C" LONG WINAPI ZvdLiveObjectCount(void) { return LiveObjects(); }

extern "C" LONG WINAPI ZvdStreamingThreadCount(void) { return LiveThreads(); }

extern "C" HRESULT WINAPI ZvdRegisterDeviceSet(LPCWSTR setName) {
  ComScope com;
  return RegisterSet(setName);
}

extern "C" HRESULT WINAPI ZvdRegisterDevice(ULONG kind, LPCWSTR instanceName, LPCWSTR friendlyName, LPCWSTR formats,
                                            LPCWSTR pinsOrInputs) {
  if (!instanceName || !friendlyName) return E_POINTER;
  if (kind != ZVD_KIND_CAMERA && kind != ZVD_KIND_MICROPHONE) return E_INVALIDARG;
  if (!instanceName[0] || wcschr(instanceName, L'\\') || lstrlenW(instanceName) > 200) return E_INVALIDARG;
  // Refuse values the device could not load later.
  if (kind == ZVD_KIND_CAMERA) {
    std::vector<VideoCapability> caps;
    CameraConfig pins;
    if (formats && !ParseCameraFormats(formats, &caps)) return E_INVALIDARG;
    if (pinsOrInputs && !ParseCameraPins(pinsOrInputs, &pins)) return E_INVALIDARG;
  } else {
    std::vector<AudioCapability> caps;
    std::vector<std::wstring> inputs;
    if (formats && !ParseMicrophoneFormats(formats, &caps)) return E_INVALIDARG;
    if (pinsOrInputs && !ParseMixerInputs(pinsOrInputs, &inputs)) return E_INVALIDARG;
  }
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  return RegisterDevice(mapper.Get(), kind, instanceName, friendlyName, formats, pinsOrInputs);
}

extern "C" HRESULT WINAPI ZvdUnregisterDevice(ULONG kind, LPCWSTR instanceName) {
  if (!instanceName) return E_POINTER;
  if (kind != ZVD_KIND_CAMERA && kind != ZVD_KIND_MICROPHONE) return E_INVALIDARG;
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  return mapper->UnregisterFilter(&CategoryOf(kind), instanceName, ClassOf(kind));
}
