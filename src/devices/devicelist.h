#pragma once

// Devices with their unique ids: the display name of each device's moniker, which tells apart
// devices that carry the same friendly name and stays the same from run to run.
#include <windows.h>
#include <strmif.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "media/scoped.h"

namespace zelvora {

struct DeviceEntry {
  std::wstring name;  // friendly name
  std::wstring id;    // display name of the device moniker
};

// Reads the friendly name and the display name of a device: false, and the device is to be
// passed over, when either cannot be read.
bool ReadDeviceNames(IMoniker* device, ScopedVariant& friendlyName, TaskMem<WCHAR>& displayName);

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
