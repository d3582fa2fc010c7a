// Capture modes on plain records: grouping, the rates listed, the choice of a requested mode and
// the fallback of the sized loads.
#include <gtest/gtest.h>

#include "capture/modechoice.h"

using namespace zelvora;

namespace {

constexpr std::int64_t k30 = 333333, k60 = 166667, k15 = 666667, k5 = 2000000;

ModeRecord Record(int index, ModeFormat format, int key, int w, int h, std::int64_t shortest, std::int64_t longest,
                  bool videoInfo = true) {
  ModeRecord r;
  r.index = index;
  r.format = format;
  r.subtypeKey = key;
  r.width = w;
  r.height = h;
  r.minInterval = shortest;
  r.maxInterval = longest;
  r.videoInfo = videoInfo;
  return r;
}

// A USB camera of today: MJPG at full rate, YUY2 slow at the large size, a duplicate rate record,
// a range record, a VideoInfo2 twin and a subtype the frame path does not read.
std::vector<ModeRecord> UsbCamera() {
  return {Record(0, ModeFormat::YUY2, 0, 640, 480, k30, k30),        Record(1, ModeFormat::MJPG, 1, 640, 480, k30, k30),
          Record(2, ModeFormat::MJPG, 1, 1280, 720, k30, k30),       Record(3, ModeFormat::YUY2, 0, 1280, 720, k5, k5),
          Record(4, ModeFormat::YUY2, 0, 640, 480, k60, k60),        Record(5, ModeFormat::NV12, 2, 320, 240, k60, k15),
          Record(6, ModeFormat::NV12, 2, 1280, 720, k30, k30, false), Record(7, ModeFormat::Other, 3, 720, 480, k30, k30)};
}

ModeRequest Request(const wchar_t* format, int w, int h, double rate) {
  ModeRequest request;
  EXPECT_TRUE(ParseModeFormatName(format, &request));
  request.width = w;
  request.height = h;
  request.frameRate = rate;
  return request;
}

TEST(ModeChoice, RecordsGroupIntoModesWithEveryRateOffered) {
  const std::vector<CaptureMode> modes = GroupModes(UsbCamera());
  ASSERT_EQ(7u, modes.size());
  // First appearance order; the two YUY2 640x480 records are one mode with both rates.
  EXPECT_EQ(ModeFormat::YUY2, modes[0].format);
  EXPECT_EQ((std::vector<std::int64_t>{k60, k30}), modes[0].intervals);
  EXPECT_EQ(0, modes[0].firstRecord);
  EXPECT_EQ(1280, modes[2].width);
  EXPECT_EQ(ModeFormat::MJPG, modes[2].format);
  // A range lists both ends, highest rate first.
  EXPECT_EQ((std::vector<std::int64_t>{k60, k15}), modes[4].intervals);
  // Only FORMAT_VideoInfo records of the five known subtypes deliver frames.
  EXPECT_TRUE(modes[4].deliverable);
  EXPECT_FALSE(modes[5].deliverable);
  EXPECT_FALSE(modes[6].deliverable);
}

TEST(ModeChoice, ARequestFindsTheRecordOfItsFormatSizeAndRate) {
  const std::vector<ModeRecord> records = UsbCamera();
  struct Case {
    const wchar_t* format;
    int w, h;
    double rate;
    bool found;
    int record;
    std::int64_t interval;
  } cases[] = {
      {L"mjpg", 1280, 720, 30, true, 2, k30},
      {L"MJPG", 1280, 720, 0, true, 2, k30},
      {L"YUY2", 640, 480, 0, true, 4, k60},       // highest: the later 60 frames/s record
      {L"YUY2", 640, 480, 29.97, true, 0, k30},   // within half a percent of 30
      {L"YUY2", 640, 480, 25, false, -1, 0},
      {L"NV12", 320, 240, 20, true, 5, 500000},   // inside the range record
      {L"NV12", 1280, 720, 30, false, -1, 0},     // VideoInfo2 only
      {L"best", 1280, 720, 0, true, 2, k30},      // MJPG at 30 beats YUY2 at 5
      {L"best", 640, 480, 30, true, 0, k30},      // a tie of rates goes to YUY2 before MJPG
      {nullptr, 640, 480, 0, true, 4, k60},
      {L"RGB24", 640, 480, 0, false, -1, 0},
      {L"best", 800, 600, 0, false, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.format ? c.format : L"(null)") << " " << c.w << "x" << c.h << "@" << c.rate);
    const ModeChoice choice = ChooseMode(records, Request(c.format, c.w, c.h, c.rate));
    EXPECT_EQ(c.found, choice.found);
    EXPECT_EQ(c.record, choice.recordIndex);
    if (c.found) {
      EXPECT_EQ(c.interval, choice.interval);
    }
  }
}

TEST(ModeChoice, TheFallbackTakesNv12ThenMjpgAtTheHighestRate) {
  std::vector<ModeRecord> records = UsbCamera();
  EXPECT_EQ(5, ChooseFallbackMode(records, 320, 240).recordIndex);
  EXPECT_EQ(k60, ChooseFallbackMode(records, 320, 240).interval);
  EXPECT_EQ(2, ChooseFallbackMode(records, 1280, 720).recordIndex);  // NV12 there is VideoInfo2 only
  records.push_back(Record(8, ModeFormat::NV12, 2, 1280, 720, k30, k30));
  EXPECT_EQ(8, ChooseFallbackMode(records, 1280, 720).recordIndex);
  EXPECT_EQ(1, ChooseFallbackMode(records, 640, 480).recordIndex);  // MJPG beside YUY2
  EXPECT_FALSE(ChooseFallbackMode(records, 720, 480).found);        // another subtype only
  EXPECT_FALSE(ChooseFallbackMode({}, 640, 480).found);
}

TEST(ModeChoice, NamesAndRates) {
  wchar_t text[8];
  ModeFormatText(ModeFormat::NV12, 0, text);
  EXPECT_STREQ(L"NV12", text);
  ModeFormatText(ModeFormat::Other, 0x34363248, text);  // H264
  EXPECT_STREQ(L"H264", text);
  ModeFormatText(ModeFormat::Other, 0xe436eb7e, text);  // a GUID that is no FourCC
  EXPECT_STREQ(L"", text);
  ModeRequest request;
  EXPECT_FALSE(ParseModeFormatName(L"Unknown", &request));
  EXPECT_FALSE(ParseModeFormatName(L"MJPG ", &request));
  EXPECT_TRUE(ParseModeFormatName(L"", &request));
  EXPECT_TRUE(request.anyFormat);
  EXPECT_DOUBLE_EQ(30.0, FrameRateOfInterval(k30));
  EXPECT_DOUBLE_EQ(60.0, FrameRateOfInterval(k60));
  EXPECT_DOUBLE_EQ(29.97, FrameRateOfInterval(333667));
  EXPECT_DOUBLE_EQ(0.0, FrameRateOfInterval(0));
}

}  // namespace
