#include "devices/devicenames.h"

#include <cwchar>

namespace zelvora {

void StoreDeviceName(wchar_t* entry, std::size_t capacity, const wchar_t* text) {
  if (!entry || capacity == 0) return;
  std::size_t length = 0;
  if (text) {
    while (length + 1 < capacity && text[length] != L'\0') {
      entry[length] = text[length];
      ++length;
    }
  }
  entry[length] = L'\0';
}

int FindDeviceName(const wchar_t* table, int entries, std::size_t entryLength, const wchar_t* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < entries; ++i) {
    const wchar_t* entry = table + static_cast<std::size_t>(i) * entryLength;
    if (entry[0] == L'\0') continue;  // an empty entry never matches, not even an empty name
    if (std::wcscmp(entry, name) == 0) return i;
  }
  return -1;
}

bool IsModemName(const wchar_t* name) { return name && std::wcsstr(name, L"Modem") != nullptr; }

}  // namespace zelvora
