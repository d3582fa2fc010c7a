#pragma once

// Temporary device instances for tests: a filter class registered under a device category
// (HKCR\CLSID\{category}\Instance\<instance>), which the system device enumerator lists with the
// friendly name given, removed again when the object goes. Tests that use it change the prefix's
// registry: run them under the ctest resource lock "registry".

#include <windows.h>
#include <strmif.h>
#include <uuids.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace devicetest {

using Microsoft::WRL::ComPtr;

// Wine's null renderer: a filter class that every prefix has, used as the device's filter.
constexpr CLSID kNullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

class RegisteredDevice {
 public:
  RegisteredDevice(const CLSID& category, const CLSID& filterClass, std::wstring instance,
                   const std::wstring& friendlyName)
      : m_category(category), m_filterClass(filterClass), m_instance(std::move(instance)) {
    result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(m_mapper.GetAddressOf()));
    if (FAILED(result)) return;
    // A leftover of an interrupted run goes first.
    m_mapper->UnregisterFilter(&m_category, m_instance.c_str(), m_filterClass);
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 0;
    result = m_mapper->RegisterFilter(m_filterClass, friendlyName.c_str(), nullptr, &m_category, m_instance.c_str(),
                                      &filter);
  }
  ~RegisteredDevice() {
    if (m_mapper) m_mapper->UnregisterFilter(&m_category, m_instance.c_str(), m_filterClass);
  }
  RegisteredDevice(const RegisteredDevice&) = delete;
  RegisteredDevice& operator=(const RegisteredDevice&) = delete;

  HRESULT result = E_FAIL;

 private:
  CLSID m_category;
  CLSID m_filterClass;
  std::wstring m_instance;
  ComPtr<IFilterMapper2> m_mapper;
};

// Takes the test platform's virtual devices out of the device classes for the object's life (the
// tests then see only what they register themselves) and puts the full set back afterwards.
class VirtualDevicesRemoved {
 public:
  VirtualDevicesRemoved() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path);
    dll.erase(dll.find_last_of(L"\\/") + 1);
    m_module = LoadLibraryW((dll + L"zelvora_devices.dll").c_str());
    if (m_module)
      m_register = reinterpret_cast<RegisterSetFn>(reinterpret_cast<void*>(GetProcAddress(m_module, "ZvdRegisterDeviceSet")));
    if (m_register) m_register(L"none");
  }
  ~VirtualDevicesRemoved() {
    if (m_register) m_register(L"default");
    if (m_module) FreeLibrary(m_module);
  }
  VirtualDevicesRemoved(const VirtualDevicesRemoved&) = delete;
  VirtualDevicesRemoved& operator=(const VirtualDevicesRemoved&) = delete;

 private:
  using RegisterSetFn = HRESULT(WINAPI*)(LPCWSTR);
  HMODULE m_module = nullptr;
  RegisterSetFn m_register = nullptr;
};

// Friendly names of the devices of a class, in the system enumerator's order.
inline std::vector<std::wstring> SystemDeviceNames(const CLSID& category) {
  std::vector<std::wstring> names;
  ComPtr<ICreateDevEnum> system;
  ComPtr<IEnumMoniker> devices;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(system.GetAddressOf()))) ||
      system->CreateClassEnumerator(category, &devices, 0) != S_OK)
    return names;
  ComPtr<IMoniker> device;
  while (devices->Next(1, device.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(device->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()))))
      continue;
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) names.push_back(name.bstrVal);
    VariantClear(&name);
  }
  return names;
}

// What a DeviceCallBack received: one call per report.
struct Report {
  int index;
  std::wstring name;
  int category;
};

// Collects the reports of one walk (a walk runs on the calling thread: one collector at a time).
class ReportCollector {
 public:
  ReportCollector() {
    s_current = this;
    cell = reinterpret_cast<ULONG_PTR>(&ReportCollector::Callback);
  }
  ~ReportCollector() { s_current = nullptr; }
  ReportCollector(const ReportCollector&) = delete;
  ReportCollector& operator=(const ReportCollector&) = delete;

  static void __cdecl Callback(int index, const unsigned short* name, int category) {
    if (s_current) s_current->reports.push_back({index, reinterpret_cast<const wchar_t*>(name), category});
  }

  // Reports with the given name, in order.
  std::vector<Report> Named(const std::wstring& name) const {
    std::vector<Report> found;
    for (const Report& r : reports)
      if (r.name == name) found.push_back(r);
    return found;
  }

  ULONG_PTR cell;  // the host cell holding the callback's address (a CallbackCell: pointer-sized)
  std::vector<Report> reports;

 private:
  static inline ReportCollector* s_current = nullptr;
};

}  // namespace devicetest
