#include "capture/formatchoice.h"

#include <cwchar>

#include "media/frametypes.h"

namespace zelvora {

namespace {

// Slot of a known pixel format in order of preference; -1 for the others.
int PreferenceOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::RGB24: return 0;
    case PixelFormat::YUY2: return 1;
    case PixelFormat::I420: return 2;
    default: return -1;
  }
}

const PixelFormat kByPreference[3] = {PixelFormat::RGB24, PixelFormat::YUY2, PixelFormat::I420};

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

bool EqualsIgnoringCase(const wchar_t* text, const wchar_t* upper) {
  for (; *text != L'\0' && *upper != L'\0'; ++text, ++upper) {
    if (FoldAscii(*text) != *upper) return false;
  }
  return *text == L'\0' && *upper == L'\0';
}

const wchar_t* PixelFormatName(PixelFormat format) {
  switch (format) {
    case PixelFormat::RGB24: return L"RGB24";
    case PixelFormat::YUY2: return L"YUY2";
    case PixelFormat::I420: return L"I420";
    default: return L"Unknown";
  }
}

bool ParsePixelFormatName(const wchar_t* name, PixelFormat* format) {
  if (!name || !format) return false;
  for (PixelFormat candidate : kByPreference) {
    if (EqualsIgnoringCase(name, PixelFormatName(candidate))) {
      *format = candidate;
      return true;
    }
  }
  return false;
}

int ColorFormatOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::RGB24: return ColorFormat::RGB24;
    case PixelFormat::YUY2: return ColorFormat::YUY2;
    case PixelFormat::I420: return ColorFormat::I420;
    default: return -1;
  }
}

void AppendFormatName(wchar_t* buffer, PixelFormat format) {
  const wchar_t* name = PixelFormatName(format);
  if (std::wcsstr(buffer, name)) return;
  std::wcscat(buffer, name);
  std::wcscat(buffer, L";");
}

void AppendSizeEntry(wchar_t* buffer, int width, int height) {
  // Formatted on its own first, then appended.
  wchar_t entry[kTextLength] = {};
  std::swprintf(entry, kTextLength, L"%d*%d;", width, height);
  std::wcscat(buffer, entry);
}

bool CaptureImageSize(int width, int height, std::uint32_t* size) {
  // Magnitudes below 2^31 + 4 each: the product stays well inside 64 bits.
  const std::uint64_t w = width < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(width))
                                    : static_cast<std::uint64_t>(width);
  const std::uint64_t h = height < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(height))
                                     : static_cast<std::uint64_t>(height);
  const std::uint64_t bytes = ((w + 3) / 4) * 4 * h * 3;
  if (bytes > UINT32_MAX) return false;
  *size = static_cast<std::uint32_t>(bytes);
  return true;
}

void CaptureFormatChooser::Offer(int index, const CapabilityInfo& capability) {
  if (!capability.videoInfo) return;
  const int slot = PreferenceOf(capability.format);
  if (slot < 0) return;
  m_Slots[slot].seen = true;
  if (capability.width == m_nWidth && capability.height == m_nHeight) m_Slots[slot].index = index;
}

FormatSelection CaptureFormatChooser::Result() const {
  FormatSelection selection;
  bool seen = false;
  for (int slot = 0; slot < 3; ++slot) {
    seen = seen || m_Slots[slot].seen;
    if (m_Slots[slot].index >= 0) {
      selection.result = 0;
      selection.index = m_Slots[slot].index;
      selection.colorFormat = ColorFormatOf(kByPreference[slot]);
      return selection;
    }
  }
  selection.result = seen ? kNoCaptureFormatOfSize : kNoKnownCaptureFormat;
  return selection;
}

}  // namespace zelvora
