#pragma once

#include <windows.h>

namespace zelvora {

// Writes one line to the debugger output. Some of these lines are fixed texts that hosts and
// tests read; each of those is marked where it is written.
inline void DebugLine(const WCHAR* text) { OutputDebugStringW(text); }

}  // namespace zelvora
