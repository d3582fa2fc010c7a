// The host types as internal code declares them (media/hosttypes.h and the success codes named
// where they arise) must agree with the ones hosts compile from the interface definition.
#include <stddef.h>

#include <type_traits>

#include "Zelvora.h"
#include "capture/controlcheck.h"
#include "capture/formatchoice.h"
#include "media/hosttypes.h"
#include "playback/fileplayer.h"

namespace zelvora {
namespace {

static_assert(kRenderFrameMessage == WM_RENDER_FRAME, "render message");
static_assert(kGraphNotifyMessage == WM_ZELVORA_GRAPHNOTIFY, "graph notify message");
static_assert(kNoKnownCaptureFormat == ZELVORA_S_NO_KNOWN_FORMAT, "success code");
static_assert(kNoCaptureFormatOfSize == ZELVORA_S_NO_FORMAT_AT_SIZE, "success code");
static_assert(kNotWindowsMediaFile == ZELVORA_S_NOT_WINDOWS_MEDIA_FILE, "success code");
static_assert(kNoSuchDevice == ZELVORA_E_NO_SUCH_DEVICE, "failure code");
static_assert(kNoSuchMode == ZELVORA_E_NO_SUCH_MODE, "failure code");
static_assert(kLoadFallbackCompressed == ZELVORA_LOAD_FALLBACK_COMPRESSED, "load policy");
static_assert(kNoSuchControl == ZELVORA_E_NO_SUCH_CONTROL, "failure code");
static_assert(kControlValueRefused == ZELVORA_E_CONTROL_VALUE, "failure code");
static_assert(kControlModeRefused == ZELVORA_E_CONTROL_MODE, "failure code");
static_assert(kControlAuto == ZELVORA_CONTROL_AUTO && kControlManual == ZELVORA_CONTROL_MANUAL, "control modes");
static_assert(kControlBrightness == ZELVORA_CONTROL_BRIGHTNESS && kControlContrast == ZELVORA_CONTROL_CONTRAST &&
                  kControlHue == ZELVORA_CONTROL_HUE && kControlSaturation == ZELVORA_CONTROL_SATURATION &&
                  kControlSharpness == ZELVORA_CONTROL_SHARPNESS && kControlGamma == ZELVORA_CONTROL_GAMMA &&
                  kControlColorEnable == ZELVORA_CONTROL_COLOR_ENABLE &&
                  kControlWhiteBalance == ZELVORA_CONTROL_WHITE_BALANCE &&
                  kControlBacklightCompensation == ZELVORA_CONTROL_BACKLIGHT_COMPENSATION &&
                  kControlGain == ZELVORA_CONTROL_GAIN,
              "picture setting ids");
static_assert(kControlPan == ZELVORA_CONTROL_PAN && kControlTilt == ZELVORA_CONTROL_TILT &&
                  kControlRoll == ZELVORA_CONTROL_ROLL && kControlZoom == ZELVORA_CONTROL_ZOOM &&
                  kControlExposure == ZELVORA_CONTROL_EXPOSURE && kControlIris == ZELVORA_CONTROL_IRIS &&
                  kControlFocus == ZELVORA_CONTROL_FOCUS,
              "camera setting ids");

static_assert(sizeof(RenderFrame) == sizeof(::RenderFrame), "RenderFrame");
static_assert(offsetof(RenderFrame, width) == offsetof(::RenderFrame, width), "RenderFrame");
static_assert(offsetof(RenderFrame, height) == offsetof(::RenderFrame, height), "RenderFrame");
static_assert(offsetof(RenderFrame, data) == offsetof(::RenderFrame, data), "RenderFrame");
static_assert(sizeof(FrameImage) == sizeof(::FrameImage), "FrameImage");
static_assert(offsetof(FrameImage, nWidth) == offsetof(::FrameImage, nWidth), "FrameImage");
static_assert(offsetof(FrameImage, nHeight) == offsetof(::FrameImage, nHeight), "FrameImage");
static_assert(offsetof(FrameImage, pBits) == offsetof(::FrameImage, pBits), "FrameImage");
// Same parameters and calling convention; the frame record types differ only by namespace.
static_assert(sizeof(RenderCallback) == sizeof(::RenderCallback), "RenderCallback");
static_assert(std::is_same<DeviceCallBack, ::DeviceCallBack>::value, "DeviceCallBack");
// The cell holds a function's address whole; 32-bit hosts keep their `unsigned long` variables.
static_assert(std::is_same<CallbackCell, ::CallbackCell>::value, "CallbackCell");
static_assert(sizeof(CallbackCell) == sizeof(RenderCallback), "CallbackCell holds a function address");
#ifndef _WIN64
static_assert(std::is_same<::CallbackCell, unsigned long>::value, "CallbackCell on 32-bit");
#endif

}  // namespace
}  // namespace zelvora
