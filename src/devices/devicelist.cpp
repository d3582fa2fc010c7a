#include "devices/devicelist.h"

#include <uuids.h>
#include <wrl/client.h>

#include "devices/deviceenumerator.h"
#include "devices/devicenames.h"
#include "media/hosttypes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// Walks one device class and keeps the devices that `keep` accepts.
template <typename Keep>
HRESULT ListClass(const CLSID& deviceClass, std::vector<DeviceEntry>* devices, Keep keep) {
  if (!devices) return E_POINTER;
  devices->clear();
  ComPtr<ICreateDevEnum> system;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(system.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> walk;
  hr = system->CreateClassEnumerator(deviceClass, &walk, 0);
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE || !walk) return S_OK;  // the class has no devices
  for (;;) {
    ComPtr<IMoniker> device;
    hr = walk->Next(1, &device, nullptr);
    if (FAILED(hr)) return hr;
    if (hr != S_OK) return S_OK;
    ScopedVariant friendlyName;
    TaskMem<WCHAR> displayName;
    if (!device || !ReadDeviceNames(device.Get(), friendlyName, displayName)) continue;
    DeviceEntry entry{friendlyName.Get()->bstrVal, displayName.get()};
    if (!keep(entry)) continue;
    devices->push_back(std::move(entry));
  }
}

HRESULT ParseListed(const std::vector<DeviceEntry>& devices, const WCHAR* text, bool byName, IMoniker** moniker) {
  for (const DeviceEntry& device : devices) {
    if ((byName ? device.name : device.id) == text) return DeviceEnumerator::ParseDeviceName(device.id.c_str(), moniker);
  }
  return kNoSuchDevice;
}

}  // namespace

bool ReadDeviceNames(IMoniker* device, ScopedVariant& friendlyName, TaskMem<WCHAR>& displayName) {
  ComPtr<IPropertyBag> properties;
  if (FAILED(device->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                   reinterpret_cast<void**>(properties.GetAddressOf()))) ||
      !properties)
    return false;
  friendlyName.Get()->vt = VT_BSTR;
  friendlyName.Get()->bstrVal = nullptr;
  if (FAILED(properties->Read(L"FriendlyName", friendlyName.Get(), nullptr)) ||
      friendlyName.Get()->vt != VT_BSTR || !friendlyName.Get()->bstrVal)
    return false;
  // The out-parameter hands the text to `displayName` when the call's statement ends.
  if (FAILED(device->GetDisplayName(nullptr, nullptr, TaskMemOut<WCHAR>(displayName)))) return false;
  return displayName != nullptr;
}

HRESULT ListCameras(std::vector<DeviceEntry>* cameras) {
  return ListClass(CLSID_VideoInputDeviceCategory, cameras, [](const DeviceEntry& camera) {
    ComPtr<IMoniker> parsed;
    return DeviceEnumerator::ParseDeviceName(camera.id.c_str(), &parsed) == S_OK &&
           !DeviceEnumerator::HasVbiOutput(parsed.Get());
  });
}

HRESULT ListAudioInputs(std::vector<DeviceEntry>* inputs) {
  return ListClass(CLSID_AudioInputDeviceCategory, inputs,
                   [](const DeviceEntry& input) { return !IsModemName(input.name.c_str()); });
}

HRESULT FindCameraById(const WCHAR* id, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!id || !*id) return E_INVALIDARG;
  std::vector<DeviceEntry> cameras;
  HRESULT hr = ListCameras(&cameras);
  if (FAILED(hr)) return hr;
  return ParseListed(cameras, id, false, moniker);
}

HRESULT FindAudioInput(const WCHAR* nameOrId, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!nameOrId || !*nameOrId) return E_INVALIDARG;
  std::vector<DeviceEntry> inputs;
  HRESULT hr = ListAudioInputs(&inputs);
  if (FAILED(hr)) return hr;
  hr = ParseListed(inputs, nameOrId, false, moniker);
  return hr == kNoSuchDevice ? ParseListed(inputs, nameOrId, true, moniker) : hr;
}

}  // namespace zelvora
