#include "capture/modechoice.h"

#include <algorithm>
#include <cmath>

#include "capture/formatchoice.h"

namespace zelvora {
namespace {

// Cheapest first: the order in which "best" breaks a tie of frame rates.
int CostOf(ModeFormat format) {
  switch (format) {
    case ModeFormat::RGB24: return 0;
    case ModeFormat::YUY2: return 1;
    case ModeFormat::I420: return 2;
    case ModeFormat::NV12: return 3;
    case ModeFormat::MJPG: return 4;
    default: return 5;
  }
}

bool Deliverable(const ModeRecord& record) { return record.videoInfo && record.format != ModeFormat::Other; }

// Shortest interval of a record, and its longest (a record of one rate gives the same twice).
std::int64_t Shortest(const ModeRecord& r) { return r.minInterval > 0 ? r.minInterval : r.maxInterval; }
std::int64_t Longest(const ModeRecord& r) { return r.maxInterval > 0 ? r.maxInterval : r.minInterval; }

// The interval of `rate` within the record's range, or 0 when the record does not offer it. A
// record without intervals offers whatever it delivers: it matches only "highest".
std::int64_t IntervalOffered(const ModeRecord& record, double rate) {
  const std::int64_t shortest = Shortest(record), longest = Longest(record);
  if (shortest <= 0) return 0;
  const double wanted = 1e7 / rate;
  // Half a percent either way: 29.97 finds a 30 frames/s record and the other way round.
  if (wanted < shortest * 0.995 || wanted > longest * 1.005) return 0;
  const std::int64_t interval = static_cast<std::int64_t>(std::llround(wanted));
  return std::min(std::max(interval, shortest), longest);
}

const wchar_t* KnownName(ModeFormat format) {
  switch (format) {
    case ModeFormat::RGB24: return L"RGB24";
    case ModeFormat::YUY2: return L"YUY2";
    case ModeFormat::I420: return L"I420";
    case ModeFormat::NV12: return L"NV12";
    case ModeFormat::MJPG: return L"MJPG";
    default: return nullptr;
  }
}

}  // namespace

std::vector<CaptureMode> GroupModes(const std::vector<ModeRecord>& records) {
  std::vector<CaptureMode> modes;
  for (size_t i = 0; i < records.size(); ++i) {
    const ModeRecord& record = records[i];
    auto mode = std::find_if(modes.begin(), modes.end(), [&](const CaptureMode& m) {
      return m.subtypeKey == record.subtypeKey && m.width == record.width && m.height == record.height;
    });
    if (mode == modes.end()) {
      CaptureMode added;
      added.format = record.format;
      added.fourcc = record.fourcc;
      added.subtypeKey = record.subtypeKey;
      added.width = record.width;
      added.height = record.height;
      added.firstRecord = static_cast<int>(i);
      modes.push_back(added);
      mode = modes.end() - 1;
    }
    mode->deliverable = mode->deliverable || Deliverable(record);
    for (std::int64_t interval : {Shortest(record), Longest(record)}) {
      if (interval > 0 && std::find(mode->intervals.begin(), mode->intervals.end(), interval) == mode->intervals.end())
        mode->intervals.push_back(interval);
    }
  }
  for (CaptureMode& mode : modes) std::sort(mode.intervals.begin(), mode.intervals.end());
  return modes;
}

ModeChoice ChooseMode(const std::vector<ModeRecord>& records, const ModeRequest& request) {
  ModeChoice best;
  std::int64_t bestInterval = 0;  // the shortest the chosen record offers (for "highest")
  for (const ModeRecord& record : records) {
    if (!Deliverable(record) || record.width != request.width || record.height != request.height) continue;
    if (!request.anyFormat && record.format != request.format) continue;
    std::int64_t interval = 0;
    if (request.frameRate > 0) {
      interval = IntervalOffered(record, request.frameRate);
      if (interval == 0) continue;
    } else {
      interval = Shortest(record);
    }
    // The first record that matches wins among equals; a higher rate, or the same rate in a
    // cheaper format, replaces it.
    bool better = !best.found;
    if (best.found) {
      const std::int64_t a = interval > 0 ? interval : INT64_MAX;
      const std::int64_t b = bestInterval > 0 ? bestInterval : INT64_MAX;
      better = a < b || (a == b && CostOf(record.format) < CostOf(best.format));
    }
    if (!better) continue;
    best.found = true;
    best.recordIndex = record.index;
    best.format = record.format;
    best.interval = interval;
    bestInterval = interval;
  }
  return best;
}

ModeChoice ChooseFallbackMode(const std::vector<ModeRecord>& records, int width, int height) {
  for (ModeFormat format : {ModeFormat::NV12, ModeFormat::MJPG}) {
    ModeRequest request;
    request.anyFormat = false;
    request.format = format;
    request.width = width;
    request.height = height;
    const ModeChoice choice = ChooseMode(records, request);
    if (choice.found) return choice;
  }
  return ModeChoice();
}

double FrameRateOfInterval(std::int64_t interval) {
  if (interval <= 0) return 0;
  return std::round(1e10 / static_cast<double>(interval)) / 1000.0;
}

void ModeFormatText(ModeFormat format, std::uint32_t fourcc, wchar_t* text) {
  if (const wchar_t* name = KnownName(format)) {
    size_t i = 0;
    for (; name[i]; ++i) text[i] = name[i];
    text[i] = L'\0';
    return;
  }
  for (int i = 0; i < 4; ++i) {
    const unsigned c = (fourcc >> (8 * i)) & 0xFF;
    if (c < 0x20 || c > 0x7E) {
      text[0] = L'\0';
      return;
    }
    text[i] = static_cast<wchar_t>(c);
  }
  text[4] = L'\0';
}

bool ParseModeFormatName(const wchar_t* name, ModeRequest* request) {
  if (!name || !*name || EqualsIgnoringCase(name, L"BEST")) {
    request->anyFormat = true;
    request->format = ModeFormat::Other;
    return true;
  }
  for (ModeFormat format : {ModeFormat::RGB24, ModeFormat::YUY2, ModeFormat::I420, ModeFormat::NV12, ModeFormat::MJPG}) {
    if (EqualsIgnoringCase(name, KnownName(format))) {
      request->anyFormat = false;
      request->format = format;
      return true;
    }
  }
  return false;
}

}  // namespace zelvora
