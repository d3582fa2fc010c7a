#include "cameracontrols.h"

#include <vfwmsgs.h>

// HRESULT_FROM_WIN32(ERROR_NOT_FOUND), what drivers answer for a property they do not have.
#ifndef E_PROP_ID_UNSUPPORTED
#define E_PROP_ID_UNSUPPORTED ((HRESULT)0x80070490L)
#endif

namespace zvd {
namespace {

const LONG kAuto = VideoProcAmp_Flags_Auto;      // equal to CameraControl_Flags_Auto
const LONG kManual = VideoProcAmp_Flags_Manual;  // equal to CameraControl_Flags_Manual

}  // namespace

CameraControls::CameraControls(IUnknown* owner)
    : m_owner(owner),
      m_procAmp(this),
      m_cameraControl(this),
      m_procAmpControls{
          Supported(-64, 64, 1, 0, kManual, kManual),                 // Brightness
          Supported(0, 100, 1, 50, kManual, kManual),                 // Contrast
          Unsupported(),                                              // Hue
          Supported(0, 200, 1, 100, kManual, kManual),                // Saturation
          Supported(0, 7, 1, 2, kManual, kManual),                    // Sharpness
          Unsupported(),                                              // Gamma
          Unsupported(),                                              // ColorEnable
          Supported(2800, 6500, 100, 4600, kAuto | kManual, kAuto),   // WhiteBalance
          Supported(0, 1, 1, 0, kManual, kManual),                    // BacklightCompensation
          Supported(0, 100, 1, 0, kAuto | kManual, kManual),          // Gain
      },
      m_cameraControls{
          Unsupported(),                                              // Pan
          Unsupported(),                                              // Tilt
          Unsupported(),                                              // Roll
          Supported(100, 400, 10, 100, kManual, kManual),             // Zoom
          Supported(-11, -2, 1, -6, kAuto | kManual, kAuto),          // Exposure
          Unsupported(),                                              // Iris
          Supported(0, 250, 5, 0, kAuto | kManual, kAuto),            // Focus
      } {}

CameraControls::Control CameraControls::Supported(LONG minimum, LONG maximum, LONG step, LONG defaultValue, LONG caps,
                                                  LONG flags) {
  return Control{true, minimum, maximum, step, defaultValue, caps, defaultValue, flags};
}

CameraControls::Control CameraControls::Unsupported() { return Control{false, 0, 0, 0, 0, 0, 0, 0}; }

CameraControls::Control* CameraControls::Find(Group group, LONG property) {
  Control* table = group == Group::ProcAmp ? m_procAmpControls : m_cameraControls;
  const LONG count = group == Group::ProcAmp ? kProcAmpControls : kCameraControls;
  if (property < 0 || property >= count || !table[property].supported) return nullptr;
  return &table[property];
}

HRESULT CameraControls::GetRange(Group group, LONG property, LONG* minimum, LONG* maximum, LONG* step,
                                 LONG* defaultValue, LONG* caps) {
  if (!minimum || !maximum || !step || !defaultValue || !caps) return E_POINTER;
  AutoLock lock(m_lock);
  const Control* control = Find(group, property);
  if (!control) return E_PROP_ID_UNSUPPORTED;
  *minimum = control->minimum;
  *maximum = control->maximum;
  *step = control->step;
  *defaultValue = control->defaultValue;
  *caps = control->caps;
  return S_OK;
}

HRESULT CameraControls::Set(Group group, LONG property, LONG value, LONG flags) {
  AutoLock lock(m_lock);
  ++m_setCalls;
  Control* control = Find(group, property);
  if (!control) return E_PROP_ID_UNSUPPORTED;
  if (flags != kAuto && flags != kManual) return E_INVALIDARG;
  control->value = value;
  control->flags = flags;
  return S_OK;
}

HRESULT CameraControls::Get(Group group, LONG property, LONG* value, LONG* flags) {
  if (!value || !flags) return E_POINTER;
  AutoLock lock(m_lock);
  const Control* control = Find(group, property);
  if (!control) return E_PROP_ID_UNSUPPORTED;
  *value = control->value;
  *flags = control->flags;
  return S_OK;
}

LONG CameraControls::Brightness() {
  AutoLock lock(m_lock);
  return m_procAmpControls[VideoProcAmp_Brightness].value;
}

ULONG CameraControls::SetCalls() {
  AutoLock lock(m_lock);
  return m_setCalls;
}

}  // namespace zvd
