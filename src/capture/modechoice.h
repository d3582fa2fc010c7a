#pragma once

// Capture modes: the capability records of a camera grouped into modes (subtype and frame size,
// with the frame rates offered), and the choice of the record that opens a requested mode.
// Platform-free (no windows.h): subtypes are named by their format code and FourCC.

#include <cstdint>
#include <vector>

namespace zelvora {

// Subtypes the frame path can turn into host pictures, and everything else.
enum class ModeFormat { RGB24, YUY2, I420, NV12, MJPG, Other };

// One capability record of the capture pin, as the mode code needs it.
struct ModeRecord {
  int index = -1;                   // capability index
  ModeFormat format = ModeFormat::Other;
  std::uint32_t fourcc = 0;         // first GUID field of the subtype (the FourCC where it has one)
  int subtypeKey = 0;               // equal for records of the same subtype GUID
  bool videoInfo = false;           // FORMAT_VideoInfo: the sample grabber takes only these
  int width = 0;
  int height = 0;
  std::int64_t minInterval = 0;     // 100-ns units; 0 when the record gives none
  std::int64_t maxInterval = 0;
};

// A mode: one subtype at one size, with every frame interval its records offer.
struct CaptureMode {
  ModeFormat format = ModeFormat::Other;
  std::uint32_t fourcc = 0;
  int subtypeKey = 0;
  int width = 0;
  int height = 0;
  // Distinct frame intervals, shortest (highest rate) first: each record's shortest and longest.
  std::vector<std::int64_t> intervals;
  // Frames of this mode reach the host (a known subtype with a FORMAT_VideoInfo record).
  bool deliverable = false;
  int firstRecord = 0;  // position of its first record in the list given to GroupModes
};

// Groups records into modes, in the order in which the records first show each mode.
std::vector<CaptureMode> GroupModes(const std::vector<ModeRecord>& records);

// What a host asks for. `format` Other with `anyFormat` means "the best one at that size".
struct ModeRequest {
  bool anyFormat = true;
  ModeFormat format = ModeFormat::Other;
  int width = 0;
  int height = 0;
  double frameRate = 0;  // frames per second; 0 or less: the highest offered
};

// The record that opens a mode and the frame interval to apply.
struct ModeChoice {
  bool found = false;
  int recordIndex = -1;     // capability index
  ModeFormat format = ModeFormat::Other;
  std::int64_t interval = 0;  // 0: the record's own
};

// Chooses among the deliverable records of the requested size (and format): the one that offers
// the requested rate (within half a percent), or the highest rate when none was asked for. For
// "best", the highest rate wins and ties go to the cheaper format: RGB24, YUY2, I420, NV12, MJPG.
ModeChoice ChooseMode(const std::vector<ModeRecord>& records, const ModeRequest& request);

// The fallback of the sized loads: NV12, else MJPG, at the size, at the highest rate offered.
ModeChoice ChooseFallbackMode(const std::vector<ModeRecord>& records, int width, int height);

// Frames per second of a frame interval (100-ns units), rounded to a thousandth; 0 for none.
double FrameRateOfInterval(std::int64_t interval);

// "RGB24", "YUY2", "I420", "NV12", "MJPG" for the known formats, else the FourCC's four letters
// when they are printable, else "". `text` holds at least 8 units.
void ModeFormatText(ModeFormat format, std::uint32_t fourcc, wchar_t* text);

// Reads a format name of a request: the five names above in any letter case, "best" or an empty
// or null text (any format). False for any other name.
bool ParseModeFormatName(const wchar_t* name, ModeRequest* request);

}  // namespace zelvora
