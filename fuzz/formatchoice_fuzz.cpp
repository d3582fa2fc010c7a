// libFuzzer target for the platform-free text and choice code behind the format lists, the format
// choice and the device tables: pixel format names, the texts appended to host buffers, capture
// image sizes, the capability choice, and the device name tables (store, find, modem names).
// Every buffer lives in a heap block of exactly the room the callers promise, so AddressSanitizer
// sees any write past it; every result is compared with a plain reference written here.
//
// Input layout: 4 bytes width, 4 bytes height (little-endian, signed), 1 byte table capacity,
// then records of 4 bytes (capability: flags, width, height) up to a 0xFF marker, then the rest
// as 16-bit text units (names; unit 0x003B ";" splits the table entries).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "capture/formatchoice.h"
#include "devices/devicenames.h"

using namespace zelvora;

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

int32_t Read32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool SameIgnoringAsciiCase(const std::wstring& text, const wchar_t* upper) {
  if (text.size() != wcslen(upper)) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (UpperAscii(text[i]) != upper[i]) return false;
  return true;
}

// A zero-terminated copy of `text` in a heap block with exactly `spare` more units of room.
std::vector<wchar_t>* Buffer(const std::wstring& text, size_t spare) {
  auto* buffer = new std::vector<wchar_t>(text.size() + spare + 1, L'\0');
  wmemcpy(buffer->data(), text.data(), text.size());
  return buffer;
}

void CheckSizes(int32_t width, int32_t height) {
  std::uint32_t size = 0xDEADBEEF;
  const bool fits = CaptureImageSize(width, height, &size);
  const unsigned long long w = width < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(width))
                                         : static_cast<unsigned long long>(width);
  const unsigned long long h = height < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(height))
                                          : static_cast<unsigned long long>(height);
  const long double exact = static_cast<long double>((w + 3) / 4 * 4) * static_cast<long double>(h) * 3.0L;
  Check(fits == (exact <= 4294967295.0L));
  if (fits) Check(static_cast<long double>(size) == exact);

  // "%d*%d;" appended to existing text, in exactly the 24 units of room promised (plus the end).
  std::vector<wchar_t>* text = Buffer(L"1*1;", 24);
  AppendSizeEntry(text->data(), width, height);
  wchar_t expected[64];
  swprintf(expected, 64, L"1*1;%d*%d;", width, height);
  Check(wcscmp(text->data(), expected) == 0);
  delete text;
}

void CheckNames(const std::wstring& name) {
  PixelFormat parsed = PixelFormat::Other;
  const bool known = ParsePixelFormatName(name.c_str(), &parsed);
  bool expectKnown = false;
  for (PixelFormat f : {PixelFormat::RGB24, PixelFormat::YUY2, PixelFormat::I420})
    if (SameIgnoringAsciiCase(name, PixelFormatName(f))) {
      expectKnown = true;
      Check(known && parsed == f);
    }
  Check(known == expectKnown);
  Check(!ParsePixelFormatName(nullptr, &parsed) && !ParsePixelFormatName(name.c_str(), nullptr));

  // Format names: each appended at most once, in the 8 units of room promised.
  for (PixelFormat f : {PixelFormat::RGB24, PixelFormat::YUY2, PixelFormat::I420, PixelFormat::Other}) {
    const std::wstring before = name.substr(0, 64);
    std::vector<wchar_t>* text = Buffer(before, 8);
    AppendFormatName(text->data(), f);
    const std::wstring label = PixelFormatName(f);
    const std::wstring after = text->data();
    if (before.find(label) != std::wstring::npos)
      Check(after == before);
    else
      Check(after == before + label + L";");
    delete text;
  }

  Check(IsModemName(name.c_str()) == (name.find(L"Modem") != std::wstring::npos));
}

void CheckDeviceTable(const std::wstring& text, size_t capacity) {
  // Entries split at ";", stored in rows of `capacity` units; the table lives in one heap block.
  std::vector<std::wstring> entries;
  size_t start = 0;
  for (size_t i = 0; i <= text.size() && entries.size() < 12; ++i)
    if (i == text.size() || text[i] == L';') {
      entries.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  const int rows = static_cast<int>(entries.size());
  wchar_t* table = new wchar_t[static_cast<size_t>(rows) * capacity];
  for (int r = 0; r < rows; ++r) {
    wchar_t* row = table + static_cast<size_t>(r) * capacity;
    wmemset(row, L'#', capacity);
    StoreDeviceName(row, capacity, (r % 5 == 4) ? nullptr : entries[r].c_str());
    const std::wstring stored(row);  // must be terminated inside the row
    Check(stored.size() < capacity);
    if (r % 5 == 4)
      Check(stored.empty());
    else
      Check(stored == entries[r].substr(0, capacity - 1));
  }
  for (int probe = 0; probe <= rows; ++probe) {
    const std::wstring name = probe < rows ? entries[probe] : text;
    int expected = -1;
    for (int r = 0; r < rows && expected < 0; ++r) {
      const wchar_t* row = table + static_cast<size_t>(r) * capacity;
      if (row[0] != L'\0' && name == row) expected = r;
    }
    Check(FindDeviceName(table, rows, capacity, name.c_str()) == expected);
  }
  Check(FindDeviceName(table, rows, capacity, nullptr) == -1);
  delete[] table;
}

void CheckChoice(int32_t width, int32_t height, const uint8_t* records, size_t count) {
  CaptureFormatChooser chooser(width, height);
  int best[3] = {-1, -1, -1};
  bool seen = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* r = records + 4 * i;
    CapabilityInfo info;
    info.videoInfo = (r[0] & 0x10) != 0;
    info.format = static_cast<PixelFormat>(r[0] % 4);
    // Sizes: small values, or the requested ones, so that matches happen.
    info.width = (r[1] & 0x80) ? width : static_cast<int8_t>(r[1]);
    info.height = (r[2] & 0x80) ? height : static_cast<int8_t>(r[2]);
    chooser.Offer(static_cast<int>(i), info);
    if (!info.videoInfo || info.format == PixelFormat::Other) continue;
    seen = true;
    if (info.width == width && info.height == height) best[static_cast<int>(info.format)] = static_cast<int>(i);
  }
  // PixelFormat order is the preference order: RGB24, YUY2, I420.
  const FormatSelection result = chooser.Result();
  for (int slot = 0; slot < 3; ++slot)
    if (best[slot] >= 0) {
      Check(result.result == 0 && result.index == best[slot]);
      Check(result.colorFormat == ColorFormatOf(static_cast<PixelFormat>(slot)));
      return;
    }
  Check(result.result == (seen ? kNoCaptureFormatOfSize : kNoKnownCaptureFormat));
  Check(result.index == -1 && result.colorFormat == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const int32_t width = Read32(data);
  const int32_t height = Read32(data + 4);
  const size_t capacity = 1 + data[8] % 300;  // rows of 1 to 300 units
  data += 9;
  size -= 9;

  size_t records = 0;
  while (records * 4 + 4 <= size && data[records * 4] != 0xFF && records < 64) ++records;
  const uint8_t* capabilities = data;
  const size_t used = records * 4 + (records * 4 < size ? 1 : 0);
  data += used;
  size -= used;

  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == L'\0') break;
    text += unit;
  }

  CheckSizes(width, height);
  CheckChoice(width, height, capabilities, records);
  CheckNames(text);
  CheckDeviceTable(text, capacity);
  return 0;
}
