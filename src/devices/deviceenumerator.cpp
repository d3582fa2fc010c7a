#include "devices/deviceenumerator.h"

#include <string.h>

namespace zelvora {

DeviceEnumerator::DeviceEnumerator() {
  memset(m_tcVideoNames, 0, sizeof(m_tcVideoNames));
  memset(m_tcAudioNames, 0, sizeof(m_tcAudioNames));
  memset(m_tcVideoDisplayNames, 0, sizeof(m_tcVideoDisplayNames));
  memset(m_tcAudioDisplayNames, 0, sizeof(m_tcAudioDisplayNames));
}

// Device walking and lookups come with the device subsystem; until then they report E_NOTIMPL.
HRESULT DeviceEnumerator::EnumDevices(int, unsigned long*) { return E_NOTIMPL; }
HRESULT DeviceEnumerator::GetDeviceByName(const WCHAR*, BOOL, IMoniker**) { return E_NOTIMPL; }
HRESULT DeviceEnumerator::GetDeviceByIndex(BOOL, UINT, IMoniker**) { return E_NOTIMPL; }
HRESULT DeviceEnumerator::ParseDeviceName(const WCHAR*, IMoniker**) { return E_NOTIMPL; }
BOOL DeviceEnumerator::HasVbiOutput(IMoniker*) { return FALSE; }

}  // namespace zelvora
