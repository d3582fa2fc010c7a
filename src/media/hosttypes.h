#pragma once

// The records, callbacks, window messages and success codes the component shares with its hosts,
// as internal code uses them. The host's copies come from the interface definition; the shell
// checks at compile time that both agree (shell/hostabi.cpp), so the layouts cannot drift apart.

#include <windows.h>

namespace zelvora {

// Window messages: a converted preview frame (WPARAM: its RenderFrame), and the graph events of
// the camera and the player graph.
constexpr UINT kRenderFrameMessage = 0x13A8;
constexpr UINT kGraphNotifyMessage = WM_APP + 2;  // 0x8002

// The success codes besides S_OK and S_FALSE are named where they arise: kNoKnownCaptureFormat
// and kNoCaptureFormatOfSize (capture/formatchoice.h), kNotWindowsMediaFile (playback/fileplayer.h).

// Failures of the capture mode interface: no device has the id given; the camera offers no mode
// the component delivers at the format, size and rate asked for.
constexpr HRESULT kNoSuchDevice = static_cast<HRESULT>(0x80040A01L);
constexpr HRESULT kNoSuchMode = static_cast<HRESULT>(0x80040A02L);
// Failures of the camera controls: the camera lacks the control (its set's interface answers,
// the control's range does not); a manual value off the range or its step; a mode the control
// does not offer. The last two are found before anything reaches the camera.
constexpr HRESULT kNoSuchControl = static_cast<HRESULT>(0x80040A03L);
constexpr HRESULT kControlValueRefused = static_cast<HRESULT>(0x80040A04L);
constexpr HRESULT kControlModeRefused = static_cast<HRESULT>(0x80040A05L);
// Load policy flag: the sized loads fall back to NV12, then MJPG, where they would return 7 or 8.
constexpr DWORD kLoadFallbackCompressed = 0x00000001;

// A preview frame as the host receives it.
struct RenderFrame {
  int width;
  int height;
  unsigned char* data;
};
typedef void(__cdecl* RenderCallback)(RenderFrame* frame, int reserved1, int reserved2);
typedef void(__cdecl* DeviceCallBack)(int index, const unsigned short* friendlyName, int category);

// The host variable that holds a RenderCallback or DeviceCallBack: the methods that take a callback
// receive its address and read the function's address from it. Pointer-sized, so it is
// `unsigned long` in 32-bit hosts and a 64-bit integer in 64-bit ones.
typedef ULONG_PTR CallbackCell;

// The host's record that receives one extracted frame.
struct FrameImage {
  int nWidth;
  int nHeight;
  unsigned char* pBits;
};

}  // namespace zelvora
