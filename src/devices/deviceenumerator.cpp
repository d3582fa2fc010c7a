#include "devices/deviceenumerator.h"

#include <string.h>
#include <uuids.h>
#include <wrl/client.h>

#include "devices/devicelist.h"
#include "devices/devicenames.h"
#include "media/camgraphybuilder.h"
#include "media/hosttypes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

namespace {

// Device class walked for a category number; null when the category walks none.
const CLSID* ClassOfCategory(int category) {
  switch (category) {
    case 0:
    case 1:
    case 2: return &CLSID_VideoInputDeviceCategory;
    case DeviceCategory::AudioInput: return &CLSID_AudioInputDeviceCategory;
    case DeviceCategory::AudioOutput: return &CLSID_AudioRendererCategory;
    default: return nullptr;
  }
}

// Calls the host's DeviceCallBack found in the cell now. A cell that holds no address reports
// nothing rather than calling address 0.
void Report(const CallbackCell* callbackCell, int index, const WCHAR* friendlyName, int category) {
  if (!callbackCell) return;
  const CallbackCell address = *callbackCell;
  if (address == 0) return;
  DeviceCallBack callback = reinterpret_cast<DeviceCallBack>(address);
  callback(index, reinterpret_cast<const unsigned short*>(friendlyName), category);
}

}  // namespace

DeviceEnumerator::DeviceEnumerator() {
  memset(m_tcVideoNames, 0, sizeof(m_tcVideoNames));
  memset(m_tcAudioNames, 0, sizeof(m_tcAudioNames));
  memset(m_tcVideoDisplayNames, 0, sizeof(m_tcVideoDisplayNames));
  memset(m_tcAudioDisplayNames, 0, sizeof(m_tcAudioDisplayNames));
}

HRESULT DeviceEnumerator::EnumDevices(int category, const CallbackCell* callbackCell) {
  const bool camera = category >= 0 && category <= 2;
  int stored = 0;  // of the kind walked
  return WalkDeviceClass(ClassOfCategory(category), [&](const WCHAR* name, const WCHAR* displayName) {
    // Audio outputs are read and dropped.
    const bool kept = camera ? StoreCamera(stored, name, displayName)
                             : category == DeviceCategory::AudioInput && StoreAudioInput(stored, name, displayName);
    if (!kept) return;
    Report(callbackCell, stored, name, category);
    ++stored;
  });
}

bool DeviceEnumerator::StoreCamera(int index, const WCHAR* name, const WCHAR* displayName) {
  // Only ten cameras have room in the tables; a further one is neither stored nor reported, so
  // the host never lists a device that it cannot open.
  if (index >= kEntries) return false;
  ComPtr<IMoniker> parsed;
  if (ParseDeviceName(displayName, &parsed) != S_OK) return false;
  if (HasVbiOutput(parsed.Get())) return false;
  StoreDeviceName(m_tcVideoDisplayNames[index], kEntryLength, displayName);
  StoreDeviceName(m_tcVideoNames[index], kEntryLength, name);
  return true;
}

bool DeviceEnumerator::StoreAudioInput(int index, const WCHAR* name, const WCHAR* displayName) {
  if (IsModemName(name)) return false;
  if (index >= kEntries) return false;  // as for cameras
  StoreDeviceName(m_tcAudioDisplayNames[index], kEntryLength, displayName);
  StoreDeviceName(m_tcAudioNames[index], kEntryLength, name);
  return true;
}

HRESULT DeviceEnumerator::GetDeviceByName(const WCHAR* name, BOOL camera, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!name) return E_POINTER;
  const WCHAR(*names)[kEntryLength] = camera ? m_tcVideoNames : m_tcAudioNames;
  const WCHAR(*displayNames)[kEntryLength] = camera ? m_tcVideoDisplayNames : m_tcAudioDisplayNames;
  int index = FindDeviceName(&names[0][0], kEntries, kEntryLength, name);
  if (index < 0) index = 0;  // no such name: the first device listed
  return ParseDeviceName(displayNames[index], moniker);
}

HRESULT DeviceEnumerator::GetDeviceByIndex(BOOL camera, UINT index, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (index >= static_cast<UINT>(kEntries)) return E_INVALIDARG;
  WCHAR displayName[kEntryLength] = {};
  StoreDeviceName(displayName, kEntryLength,
                  camera ? m_tcVideoDisplayNames[index] : m_tcAudioDisplayNames[index]);
  return ParseDeviceName(displayName, moniker);
}

HRESULT DeviceEnumerator::ParseDeviceName(const WCHAR* displayName, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!displayName) return E_POINTER;
  ComPtr<IBindCtx> context;
  HRESULT hr = CreateBindCtx(0, &context);
  if (FAILED(hr)) return hr;
  ULONG eaten = 0;
  ComPtr<IMoniker> parsed;
  // Device display names ("@device:...") belong to the device moniker class, which parses them
  // in process: through its class object (as MkParseDisplayName does), or, where only its
  // instances parse (Wine), through an instance. MkParseDisplayName itself is the last resort:
  // under Wine it also asks for the class out of process and leaves a surrogate process running
  // for every name parsed.
  // Other names (an empty table entry among them) go to MkParseDisplayName: Wine's device parser
  // reads past a name without the "@device:" prefix.
  ComPtr<IParseDisplayName> parser;
  hr = _wcsnicmp(displayName, L"@device:", 8) != 0 ? E_INVALIDARG : S_OK;
  if (SUCCEEDED(hr))
    hr = CoGetClassObject(CLSID_CDeviceMoniker, CLSCTX_INPROC_SERVER, nullptr, IID_IParseDisplayName,
                        reinterpret_cast<void**>(parser.GetAddressOf()));
  if (hr == E_NOINTERFACE)
    hr = CoCreateInstance(CLSID_CDeviceMoniker, nullptr, CLSCTX_INPROC_SERVER, IID_IParseDisplayName,
                          reinterpret_cast<void**>(parser.ReleaseAndGetAddressOf()));
  if (SUCCEEDED(hr))
    hr = parser->ParseDisplayName(context.Get(), const_cast<LPOLESTR>(displayName), &eaten, &parsed);
  if (FAILED(hr)) {
    parsed.Reset();
    eaten = 0;
    hr = MkParseDisplayName(context.Get(), displayName, &eaten, &parsed);
  }
  *moniker = parsed.Detach();
  return hr;
}

BOOL DeviceEnumerator::HasVbiOutput(IMoniker* moniker) {
  if (!moniker) return FALSE;
  ComPtr<IBaseFilter> filter;
  if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()))) ||
      !filter)
    return FALSE;
  // Without a platform builder the search fails and the device counts as one without VBI output.
  CaptureBuilder builder;
  ComPtr<IPin> pin;
  HRESULT hr = builder.FindPin(filter.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_VBI, nullptr, FALSE, 0, &pin);
  return SUCCEEDED(hr) ? TRUE : FALSE;
}

}  // namespace zelvora
