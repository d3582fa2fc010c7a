#pragma once

// Camera controls on plain numbers: the ids the component gives the platform's two control sets
// (picture settings and camera settings), their names, and the checks a value and a mode pass
// before anything is sent to the device. Platform-free (no windows.h): the ids and flags equal
// the platform's property ids and flag values, which the COM side checks at compile time.

#include <cstdint>

namespace zelvora {

// The two control sets: picture settings (the video processing amplifier) and camera settings.
enum class ControlSet { None, Picture, Camera };

// Ids: a picture setting's id is the platform's property id; a camera setting's id is 0x100 plus
// the platform's property id.
constexpr long kControlBrightness = 0, kControlContrast = 1, kControlHue = 2, kControlSaturation = 3,
               kControlSharpness = 4, kControlGamma = 5, kControlColorEnable = 6, kControlWhiteBalance = 7,
               kControlBacklightCompensation = 8, kControlGain = 9;
constexpr long kControlCameraBase = 0x100;
constexpr long kControlPan = 0x100, kControlTilt = 0x101, kControlRoll = 0x102, kControlZoom = 0x103,
               kControlExposure = 0x104, kControlIris = 0x105, kControlFocus = 0x106;
// Every control the component knows, in list order: the picture settings, then the camera settings.
constexpr int kControlCount = 17;

// Mode flags, as the platform reports them in the capabilities and takes them in Set.
constexpr long kControlAuto = 0x1;
constexpr long kControlManual = 0x2;

// The id at list position `position` (0..kControlCount-1); -1 outside.
long ControlIdAt(int position);
// The set of an id; None for any other number.
ControlSet SetOfControl(long id);
// The platform's property id within the set (the id itself for a picture setting).
long PropertyOfControl(long id);
// "Brightness", "WhiteBalance", "Focus", ...; null for an unknown id.
const wchar_t* ControlName(long id);

// True for a mode request of exactly automatic or exactly manual.
bool ValidControlMode(long flags);

// A control's range as the device reports it.
struct ControlRange {
  long control = -1;
  long minimum = 0;
  long maximum = 0;
  long step = 0;
  long defaultValue = 0;
  long caps = 0;  // kControlAuto and/or kControlManual
};

// What a set request comes to before the device sees it.
enum class ControlVerdict { Send, BadValue, BadMode };

// Manual: the value must lie within minimum..maximum on minimum + k * step (a step of 0 or less,
// as some drivers report for continuous controls, allows every value of the range), and the
// control must offer manual mode. Automatic: the control must offer automatic mode; the value is
// not looked at. `flags` must already be a valid mode.
ControlVerdict CheckControlRequest(const ControlRange& range, long value, long flags);

}  // namespace zelvora
