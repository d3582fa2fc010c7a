// Camera controls of the loaded camera: the picture settings (IAMVideoProcAmp) and the camera
// settings (IAMCameraControl) of its capture filter, listed, read and set. Requests are checked
// against the range the camera reports before they reach it: many drivers store whatever they
// are given.
#include "capture/camcapturegraphy.h"

#include <vfwmsgs.h>

#include "capture/controlcheck.h"
#include "media/hosttypes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

static_assert(kControlBrightness == VideoProcAmp_Brightness && kControlGain == VideoProcAmp_Gain &&
                  kControlWhiteBalance == VideoProcAmp_WhiteBalance,
              "picture setting ids are the platform's");
static_assert(kControlPan - kControlCameraBase == CameraControl_Pan &&
                  kControlFocus - kControlCameraBase == CameraControl_Focus &&
                  kControlExposure - kControlCameraBase == CameraControl_Exposure,
              "camera setting ids are the platform's plus 0x100");
static_assert(kControlAuto == VideoProcAmp_Flags_Auto && kControlManual == VideoProcAmp_Flags_Manual &&
                  kControlAuto == CameraControl_Flags_Auto && kControlManual == CameraControl_Flags_Manual,
              "mode flags are the platform's");

// The camera's interface of one control set. The two interfaces have the same three methods.
class ControlSetAccess {
 public:
  // E_NOINTERFACE when the filter lacks the set's interface.
  HRESULT Open(IBaseFilter* source, ControlSet set) {
    if (set == ControlSet::Picture) return source->QueryInterface(IID_PPV_ARGS(&m_pProcAmp));
    return source->QueryInterface(IID_PPV_ARGS(&m_pCameraControl));
  }
  HRESULT GetRange(long control, ControlRange* range) {
    const long property = PropertyOfControl(control);
    range->control = control;
    return m_pProcAmp ? m_pProcAmp->GetRange(property, &range->minimum, &range->maximum, &range->step,
                                             &range->defaultValue, &range->caps)
                      : m_pCameraControl->GetRange(property, &range->minimum, &range->maximum, &range->step,
                                                   &range->defaultValue, &range->caps);
  }
  HRESULT Get(long control, long* value, long* flags) {
    const long property = PropertyOfControl(control);
    return m_pProcAmp ? m_pProcAmp->Get(property, value, flags) : m_pCameraControl->Get(property, value, flags);
  }
  HRESULT Set(long control, long value, long flags) {
    const long property = PropertyOfControl(control);
    return m_pProcAmp ? m_pProcAmp->Set(property, value, flags) : m_pCameraControl->Set(property, value, flags);
  }

 private:
  ComPtr<IAMVideoProcAmp> m_pProcAmp;
  ComPtr<IAMCameraControl> m_pCameraControl;
};

// Opens the set of a known control on the camera and reads the control's range: E_NOINTERFACE
// when the camera lacks the set, kNoSuchControl when it does not report the control's range.
HRESULT OpenControl(IBaseFilter* source, long control, ControlSetAccess* access, ControlRange* range) {
  if (FAILED(access->Open(source, SetOfControl(control)))) return E_NOINTERFACE;
  return FAILED(access->GetRange(control, range)) ? kNoSuchControl : S_OK;
}

}  // namespace

bool CaptureGraph::CameraLoaded() const { return m_pVideoCapture && m_dwCameraState != CameraState::None; }

HRESULT CaptureGraph::ListControls(int* count) {
  *count = 0;
  m_Controls.clear();
  if (!CameraLoaded()) return VFW_E_WRONG_STATE;
  ControlSetAccess sets[2];
  const bool open[2] = {SUCCEEDED(sets[0].Open(m_pVideoCapture.Get(), ControlSet::Picture)),
                        SUCCEEDED(sets[1].Open(m_pVideoCapture.Get(), ControlSet::Camera))};
  for (int i = 0; i < kControlCount; ++i) {
    const long control = ControlIdAt(i);
    const int set = SetOfControl(control) == ControlSet::Picture ? 0 : 1;
    ControlRange range;
    if (open[set] && SUCCEEDED(sets[set].GetRange(control, &range))) m_Controls.push_back(range);
  }
  *count = static_cast<int>(m_Controls.size());
  return S_OK;
}

HRESULT CaptureGraph::ListedControl(int index, ControlRange* range) const {
  if (!CameraLoaded()) return VFW_E_WRONG_STATE;
  if (index < 0 || static_cast<size_t>(index) >= m_Controls.size()) return E_INVALIDARG;
  *range = m_Controls[index];
  return S_OK;
}

HRESULT CaptureGraph::GetControlRange(long control, ControlRange* range) {
  if (!CameraLoaded()) return VFW_E_WRONG_STATE;
  if (SetOfControl(control) == ControlSet::None) return E_INVALIDARG;
  ControlSetAccess access;
  return OpenControl(m_pVideoCapture.Get(), control, &access, range);
}

HRESULT CaptureGraph::GetControlValue(long control, long* value, long* flags) {
  if (!CameraLoaded()) return VFW_E_WRONG_STATE;
  if (SetOfControl(control) == ControlSet::None) return E_INVALIDARG;
  ControlSetAccess access;
  ControlRange range;
  HRESULT hr = OpenControl(m_pVideoCapture.Get(), control, &access, &range);
  if (FAILED(hr)) return hr;
  return access.Get(control, value, flags);
}

HRESULT CaptureGraph::SetControlValue(long control, long value, long flags) {
  if (!CameraLoaded()) return VFW_E_WRONG_STATE;
  if (SetOfControl(control) == ControlSet::None || !ValidControlMode(flags)) return E_INVALIDARG;
  ControlSetAccess access;
  ControlRange range;
  HRESULT hr = OpenControl(m_pVideoCapture.Get(), control, &access, &range);
  if (FAILED(hr)) return hr;
  switch (CheckControlRequest(range, value, flags)) {
    case ControlVerdict::BadValue: return kControlValueRefused;
    case ControlVerdict::BadMode: return kControlModeRefused;
    case ControlVerdict::Send: break;
  }
  if (flags == kControlAuto) {
    // Automatic: the camera gets the control's current value back with the automatic flag
    // (drivers want a value in every Set; the one passed is not a request).
    long current = 0, currentFlags = 0;
    hr = access.Get(control, &current, &currentFlags);
    if (FAILED(hr)) return hr;
    value = current;
  }
  return access.Set(control, value, flags);
}

}  // namespace zelvora
