#pragma once

// Small value types shared by the camera and playback code. Platform-free.

#include "media/pixel/colorformat.h"

namespace zelvora {

// What GetCurrentCameraState reports.
namespace CameraState {
enum : unsigned long { None = 0, Running = 1, Paused = 2, Stopped = 3 };
}

// Text arrays of the component: 260 UTF-16 units, at most 259 used.
constexpr int kTextLength = 260;

}  // namespace zelvora
