#include "capture/controlcheck.h"

namespace zelvora {
namespace {

struct ControlEntry {
  long id;
  const wchar_t* name;
};

constexpr ControlEntry kControls[kControlCount] = {
    {kControlBrightness, L"Brightness"},
    {kControlContrast, L"Contrast"},
    {kControlHue, L"Hue"},
    {kControlSaturation, L"Saturation"},
    {kControlSharpness, L"Sharpness"},
    {kControlGamma, L"Gamma"},
    {kControlColorEnable, L"ColorEnable"},
    {kControlWhiteBalance, L"WhiteBalance"},
    {kControlBacklightCompensation, L"BacklightCompensation"},
    {kControlGain, L"Gain"},
    {kControlPan, L"Pan"},
    {kControlTilt, L"Tilt"},
    {kControlRoll, L"Roll"},
    {kControlZoom, L"Zoom"},
    {kControlExposure, L"Exposure"},
    {kControlIris, L"Iris"},
    {kControlFocus, L"Focus"},
};

const ControlEntry* Find(long id) {
  for (const ControlEntry& entry : kControls)
    if (entry.id == id) return &entry;
  return nullptr;
}

}  // namespace

long ControlIdAt(int position) {
  return position >= 0 && position < kControlCount ? kControls[position].id : -1;
}

ControlSet SetOfControl(long id) {
  if (!Find(id)) return ControlSet::None;
  return id >= kControlCameraBase ? ControlSet::Camera : ControlSet::Picture;
}

long PropertyOfControl(long id) { return id >= kControlCameraBase ? id - kControlCameraBase : id; }

const wchar_t* ControlName(long id) {
  const ControlEntry* entry = Find(id);
  return entry ? entry->name : nullptr;
}

bool ValidControlMode(long flags) { return flags == kControlAuto || flags == kControlManual; }

ControlVerdict CheckControlRequest(const ControlRange& range, long value, long flags) {
  if (flags == kControlAuto) return (range.caps & kControlAuto) ? ControlVerdict::Send : ControlVerdict::BadMode;
  if (value < range.minimum || value > range.maximum) return ControlVerdict::BadValue;
  // 64-bit: the distance from the minimum of a full 32-bit range does not fit a long.
  const std::int64_t offset = static_cast<std::int64_t>(value) - range.minimum;
  if (range.step > 0 && offset % range.step != 0) return ControlVerdict::BadValue;
  return (range.caps & kControlManual) ? ControlVerdict::Send : ControlVerdict::BadMode;
}

}  // namespace zelvora
