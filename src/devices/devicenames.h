#pragma once

// Name handling of the device tables. Platform-free: no windows.h.

#include <cstddef>

namespace zelvora {

// Copies `text` into `entry`, a buffer of `capacity` units: at most capacity - 1 units and a
// terminator. A null text leaves the entry empty. The cut is not reported.
void StoreDeviceName(wchar_t* entry, std::size_t capacity, const wchar_t* text);

// Position of the first entry of `table` (`entries` rows of `entryLength` units each) that is
// not empty and equals `name` exactly (case-sensitive, whole string); -1 when none does or the
// name is null.
int FindDeviceName(const wchar_t* table, int entries, std::size_t entryLength, const wchar_t* name);

// True when an audio input's friendly name marks a modem line: it contains "Modem" with exactly
// that capitalisation.
bool IsModemName(const wchar_t* name);

}  // namespace zelvora
