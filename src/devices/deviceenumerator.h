#pragma once

#include <windows.h>
#include <strmif.h>

#include "media/hosttypes.h"

namespace zelvora {

// Category numbers given to EnumDevices.
namespace DeviceCategory {
enum : int { Camera = 0, AudioInput = 3, AudioOutput = 4, AllVideo = 5 };
}

// Walks one device class at a time, reports the devices to a host callback and keeps the
// friendly and display names of cameras and audio inputs in fixed tables.
class DeviceEnumerator {
 public:
  static constexpr int kEntries = 10;
  static constexpr int kEntryLength = 520;

  DeviceEnumerator();

  // Walks the class of `category` (0-2 cameras, 3 audio inputs, 4 audio outputs, others none)
  // and reports each listed camera or audio input to the DeviceCallBack held in the host's cell
  // `callbackCell` (may be null: nothing reported). The cell is read at each report. Returns
  // S_FALSE after a walk to the end of the class, S_OK when nothing was walked, or the error.
  // A kind's tables hold ten devices; further devices of the kind are not stored or reported.
  HRESULT EnumDevices(int category, const CallbackCell* callbackCell);
  // Moniker of the device whose friendly name equals `name` exactly (entry 0 when none does).
  // `camera` nonzero looks among the cameras, zero among the audio inputs.
  HRESULT GetDeviceByName(const WCHAR* name, BOOL camera, IMoniker** moniker);
  // Moniker of table entry `index` (E_INVALIDARG from 10 on).
  HRESULT GetDeviceByIndex(BOOL camera, UINT index, IMoniker** moniker);
  // Parses a display name back into a device moniker.
  static HRESULT ParseDeviceName(const WCHAR* displayName, IMoniker** moniker);
  // True when the device's filter has an output pin of category PIN_CATEGORY_VBI. A device that
  // cannot be bound, or that the capture graph builder cannot search, counts as having none.
  static BOOL HasVbiOutput(IMoniker* moniker);

  const WCHAR* CameraName(int i) const { return m_tcVideoNames[i]; }
  const WCHAR* AudioName(int i) const { return m_tcAudioNames[i]; }
  const WCHAR* CameraDisplayName(int i) const { return m_tcVideoDisplayNames[i]; }
  const WCHAR* AudioDisplayName(int i) const { return m_tcAudioDisplayNames[i]; }

 private:
  // Store a walked device at table entry `index`: false, and nothing is stored, when the device is
  // not listed (no room left, a camera that cannot be opened or has a VBI output, a modem).
  bool StoreCamera(int index, const WCHAR* name, const WCHAR* displayName);
  bool StoreAudioInput(int index, const WCHAR* name, const WCHAR* displayName);

  WCHAR m_tcVideoNames[kEntries][kEntryLength];
  WCHAR m_tcAudioNames[kEntries][kEntryLength];
  WCHAR m_tcVideoDisplayNames[kEntries][kEntryLength];
  WCHAR m_tcAudioDisplayNames[kEntries][kEntryLength];
};

}  // namespace zelvora
