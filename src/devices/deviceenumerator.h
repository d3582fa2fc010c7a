#pragma once

#include <windows.h>
#include <strmif.h>

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

  // Walks the class of `category`; `callbackCell` is the address of a host cell holding a
  // DeviceCallBack (may be null).
  HRESULT EnumDevices(int category, unsigned long* callbackCell);
  // Moniker of the device whose friendly name equals `name` (entry 0 when none does).
  HRESULT GetDeviceByName(const WCHAR* name, BOOL camera, IMoniker** moniker);
  // Moniker of table entry `index`.
  HRESULT GetDeviceByIndex(BOOL camera, UINT index, IMoniker** moniker);
  static HRESULT ParseDeviceName(const WCHAR* displayName, IMoniker** moniker);
  static BOOL HasVbiOutput(IMoniker* moniker);

  const WCHAR* CameraName(int i) const { return m_tcVideoNames[i]; }
  const WCHAR* AudioName(int i) const { return m_tcAudioNames[i]; }
  const WCHAR* CameraDisplayName(int i) const { return m_tcVideoDisplayNames[i]; }
  const WCHAR* AudioDisplayName(int i) const { return m_tcAudioDisplayNames[i]; }

 private:
  WCHAR m_tcVideoNames[kEntries][kEntryLength];
  WCHAR m_tcAudioNames[kEntries][kEntryLength];
  WCHAR m_tcVideoDisplayNames[kEntries][kEntryLength];
  WCHAR m_tcAudioDisplayNames[kEntries][kEntryLength];
};

}  // namespace zelvora
