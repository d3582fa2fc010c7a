#include "devices/devicelist.h"

#include <uuids.h>
#include <wrl/client.h>

#include "devices/deviceenumerator.h"
#include "devices/devicenames.h"
#include "media/hosttypes.h"
#include "media/scoped.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// Reads the friendly name and the display name of a device: false, and the device is passed
// over, when either cannot be read.
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

// The devices of one class that `keep` accepts.
template <typename Keep>
HRESULT ListClass(const CLSID& deviceClass, std::vector<DeviceEntry>* devices, Keep keep) {
  if (!devices) return E_POINTER;
  devices->clear();
  const HRESULT hr = WalkDeviceClass(&deviceClass, [&](const WCHAR* name, const WCHAR* id) {
    DeviceEntry entry{name, id};
    if (keep(entry)) devices->push_back(std::move(entry));
  });
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ParseListed(const std::vector<DeviceEntry>& devices, const WCHAR* text, bool byName, IMoniker** moniker) {
  for (const DeviceEntry& device : devices) {
    if ((byName ? device.name : device.id) == text) return DeviceEnumerator::ParseDeviceName(device.id.c_str(), moniker);
  }
  return kNoSuchDevice;
}

}  // namespace

HRESULT WalkDeviceClass(const CLSID* deviceClass, const std::function<void(const WCHAR*, const WCHAR*)>& visit) {
  ComPtr<ICreateDevEnum> system;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(system.GetAddressOf()));
  if (FAILED(hr)) return hr;
  if (!deviceClass) return S_OK;  // a category without a device class walks nothing
  ComPtr<IEnumMoniker> devices;
  hr = system->CreateClassEnumerator(*deviceClass, &devices, 0);
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE || !devices) return S_OK;  // the class has no devices
  devices->Reset();
  for (;;) {
    ComPtr<IMoniker> device;
    hr = devices->Next(1, &device, nullptr);
    if (hr != S_OK) return hr;  // S_FALSE at the end of the class, or the error
    ScopedVariant friendlyName;
    TaskMem<WCHAR> displayName;
    if (!device || !ReadDeviceNames(device.Get(), friendlyName, displayName)) continue;
    visit(friendlyName.Get()->bstrVal, displayName.get());
  }
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
