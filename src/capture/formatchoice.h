#pragma once

// Capture format lists and the choice of the preview format, on plain values. Platform-free:
// no windows.h, so it can be tested and fuzzed without DirectShow.

#include <cstdint>

namespace zelvora {

// Results of the format choice that are not HRESULTs of the platform. Both are positive, so COM
// counts them as success codes.
constexpr long kNoKnownCaptureFormat = 7;   // none of RGB24, YUY2, I420 is offered
constexpr long kNoCaptureFormatOfSize = 8;  // known formats, but none at the requested size

// The pixel formats the component knows, and everything else.
enum class PixelFormat { RGB24, YUY2, I420, Other };

// What the format code reads from one capability of the capture pin.
struct CapabilityInfo {
  bool videoInfo = false;  // the media type's format type is FORMAT_VideoInfo
  PixelFormat format = PixelFormat::Other;
  int width = 0;   // MaxOutputSize.cx of the capability
  int height = 0;  // MinOutputSize.cy of the capability
};

// True when `text` equals `upper` (written in capitals) with ASCII letters of either case.
bool EqualsIgnoringCase(const wchar_t* text, const wchar_t* upper);

// "RGB24", "YUY2", "I420" or "Unknown".
const wchar_t* PixelFormatName(PixelFormat format);

// Recognises "RGB24", "YUY2" and "I420" in any letter case. Any other name ("Unknown" too) is
// refused.
bool ParsePixelFormatName(const wchar_t* name, PixelFormat* format);

// The ColorFormat code of a known pixel format (Other has none: -1).
int ColorFormatOf(PixelFormat format);

// Appends "<name>;" to the zero-terminated text in `buffer` unless the text already contains the
// name anywhere. The caller guarantees room for 8 more units.
void AppendFormatName(wchar_t* buffer, PixelFormat format);

// Appends "<width>*<height>;" to the zero-terminated text in `buffer`. The caller guarantees room
// for 24 more units.
void AppendSizeEntry(wchar_t* buffer, int width, int height);

// Image size that a capture format of width x height is given: the width rounded up to a
// multiple of 4, times the height, times 3 bytes, for every subtype. Negative dimensions count
// by their magnitude. False when the size does not fit in 32 bits.
bool CaptureImageSize(int width, int height, std::uint32_t* size);

// Outcome of the choice among the capabilities offered.
struct FormatSelection {
  long result = kNoKnownCaptureFormat;  // 0 when a capability was chosen, else 7 or 8
  int index = -1;                       // capability index when chosen
  int colorFormat = -1;                 // its ColorFormat code when chosen
};

// Chooses the capability of exactly the requested size, preferring RGB24, then YUY2, then I420.
// Within one pixel format the last matching capability wins. Feed the capabilities in list order.
class CaptureFormatChooser {
 public:
  CaptureFormatChooser(int width, int height) : m_nWidth(width), m_nHeight(height) {}

  void Offer(int index, const CapabilityInfo& capability);
  FormatSelection Result() const;

 private:
  struct Slot {
    bool seen = false;
    int index = -1;
  };
  // In order of preference: RGB24, YUY2, I420.
  Slot m_Slots[3];
  int m_nWidth;
  int m_nHeight;
};

}  // namespace zelvora
