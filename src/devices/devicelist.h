#pragma once

// Devices with their unique ids: the display name of each device's moniker, which tells apart
// devices that carry the same friendly name and stays the same from run to run.
#include <windows.h>
#include <strmif.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvora {

struct DeviceEntry {
  std::wstring name;  // friendly name
  std::wstring id;    // display name of the device moniker
};

// Walks the devices of a class in the system's order and calls `visit(friendlyName, displayName)`
// for each whose names can be read (the others are passed over). S_FALSE after the last device,
// S_OK when the class has none or `deviceClass` is null, or the failure that ended the walk.
HRESULT WalkDeviceClass(const CLSID* deviceClass, const std::function<void(const WCHAR*, const WCHAR*)>& visit);

// Every camera the device tables would list (a device with a VBI output is none), in the
// system's order and without the tables' limit of ten.
HRESULT ListCameras(std::vector<DeviceEntry>* cameras);
// Every audio input the device tables would list (modem lines are none).
HRESULT ListAudioInputs(std::vector<DeviceEntry>* inputs);

// The moniker of the listed camera whose id is `id`, compared whole and exactly; kNoSuchDevice
// when none is. Only ids of listed devices are parsed: a host's text never reaches the moniker
// parser otherwise.
HRESULT FindCameraById(const WCHAR* id, IMoniker** moniker);
// The audio input whose id, or else whose friendly name, is `nameOrId`; kNoSuchDevice when none.
HRESULT FindAudioInput(const WCHAR* nameOrId, IMoniker** moniker);

}  // namespace zelvora
