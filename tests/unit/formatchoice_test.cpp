// The platform-free format code: format names, text building, image sizes and the format choice.
// No windows.h here.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "media/frametypes.h"
#include "capture/formatchoice.h"

namespace zelvora {
namespace {

TEST(FormatNames, OnlyTheThreeKnownNamesParseInAnyCase) {
  PixelFormat f = PixelFormat::Other;
  struct {
    const wchar_t* name;
    PixelFormat format;
  } known[] = {{L"RGB24", PixelFormat::RGB24}, {L"rgb24", PixelFormat::RGB24}, {L"rGb24", PixelFormat::RGB24},
               {L"YUY2", PixelFormat::YUY2},   {L"yuy2", PixelFormat::YUY2},   {L"I420", PixelFormat::I420},
               {L"i420", PixelFormat::I420}};
  for (const auto& k : known) {
    EXPECT_TRUE(ParsePixelFormatName(k.name, &f)) << k.name;
    EXPECT_EQ(k.format, f) << k.name;
  }
  for (const wchar_t* name : {L"Unknown", L"unknown", L"", L"RGB", L"RGB24 ", L" YUY2", L"YUY2;", L"I4200", L"RGB32",
                              L"MJPG", L"\u0130420"}) {
    EXPECT_FALSE(ParsePixelFormatName(name, &f)) << name;
  }
  EXPECT_FALSE(ParsePixelFormatName(nullptr, &f));
  EXPECT_EQ(ColorFormat::RGB24, ColorFormatOf(PixelFormat::RGB24));
  EXPECT_EQ(ColorFormat::YUY2, ColorFormatOf(PixelFormat::YUY2));
  EXPECT_EQ(ColorFormat::I420, ColorFormatOf(PixelFormat::I420));
}

TEST(FormatText, NamesAreAppendedOnceEvenWhenTheBufferHeldThemBefore) {
  wchar_t buffer[64] = L"";
  AppendFormatName(buffer, PixelFormat::Other);
  AppendFormatName(buffer, PixelFormat::YUY2);
  AppendFormatName(buffer, PixelFormat::Other);
  AppendFormatName(buffer, PixelFormat::YUY2);
  EXPECT_STREQ(L"Unknown;YUY2;", buffer);

  // Containment anywhere counts, also inside other text.
  wchar_t held[64] = L"myRGB24text";
  AppendFormatName(held, PixelFormat::RGB24);
  AppendFormatName(held, PixelFormat::I420);
  EXPECT_STREQ(L"myRGB24textI420;", held);

  // All four names together stay within the 24 units the list may add.
  wchar_t all[64] = L"";
  for (PixelFormat f : {PixelFormat::RGB24, PixelFormat::YUY2, PixelFormat::I420, PixelFormat::Other})
    AppendFormatName(all, f);
  EXPECT_EQ(24u, std::wcslen(all));
}

TEST(FormatText, SizeEntriesAreSignedDecimalPairs) {
  wchar_t buffer[128] = L"x;";
  AppendSizeEntry(buffer, 640, 480);
  AppendSizeEntry(buffer, 0, -1);
  EXPECT_STREQ(L"x;640*480;0*-1;", buffer);
  wchar_t extreme[64] = L"";
  AppendSizeEntry(extreme, INT32_MIN, INT32_MAX);
  EXPECT_STREQ(L"-2147483648*2147483647;", extreme);
  EXPECT_EQ(23u, std::wcslen(extreme));
}

TEST(ImageSize, WidthRoundedUpToFourTimesHeightTimesThree) {
  std::uint32_t size = 0;
  ASSERT_TRUE(CaptureImageSize(640, 480, &size));
  EXPECT_EQ(921600u, size);
  ASSERT_TRUE(CaptureImageSize(642, 480, &size));
  EXPECT_EQ(644u * 480u * 3u, size);
  ASSERT_TRUE(CaptureImageSize(1, 1, &size));
  EXPECT_EQ(12u, size);
  ASSERT_TRUE(CaptureImageSize(0, 480, &size));
  EXPECT_EQ(0u, size);
  // A negative (top-down) height counts by its magnitude.
  ASSERT_TRUE(CaptureImageSize(640, -480, &size));
  EXPECT_EQ(921600u, size);
  // Beyond 32 bits: refused, not wrapped.
  EXPECT_FALSE(CaptureImageSize(3000, 1000000, &size));
  EXPECT_FALSE(CaptureImageSize(INT32_MIN, INT32_MIN, &size));
  ASSERT_TRUE(CaptureImageSize(65536, 21845, &size));
  EXPECT_EQ(65536u * 21845u * 3u, size);
  EXPECT_FALSE(CaptureImageSize(65536, 21846, &size));
}

CapabilityInfo Cap(PixelFormat f, int w, int h, bool videoInfo = true) {
  CapabilityInfo c;
  c.videoInfo = videoInfo;
  c.format = f;
  c.width = w;
  c.height = h;
  return c;
}

TEST(FormatChoice, PreferenceAmongTheFormatsOfTheRequestedSize) {
  CaptureFormatChooser chooser(640, 480);
  chooser.Offer(0, Cap(PixelFormat::I420, 640, 480));
  chooser.Offer(1, Cap(PixelFormat::RGB24, 320, 240));
  chooser.Offer(2, Cap(PixelFormat::YUY2, 640, 480));
  chooser.Offer(3, Cap(PixelFormat::RGB24, 640, 480, false));  // not FORMAT_VideoInfo
  chooser.Offer(4, Cap(PixelFormat::Other, 640, 480));
  FormatSelection s = chooser.Result();
  EXPECT_EQ(0, s.result);
  EXPECT_EQ(2, s.index);
  EXPECT_EQ(ColorFormat::YUY2, s.colorFormat);

  // Within one pixel format the last match wins (several frame rates of one size).
  chooser.Offer(5, Cap(PixelFormat::YUY2, 640, 480));
  EXPECT_EQ(5, chooser.Result().index);

  chooser.Offer(6, Cap(PixelFormat::RGB24, 640, 480));
  chooser.Offer(7, Cap(PixelFormat::YUY2, 640, 480));
  s = chooser.Result();
  EXPECT_EQ(6, s.index);
  EXPECT_EQ(ColorFormat::RGB24, s.colorFormat);
}

TEST(FormatChoice, SevenWithoutKnownFormatsEightWithoutTheSize) {
  CaptureFormatChooser none(640, 480);
  EXPECT_EQ(kNoKnownCaptureFormat, none.Result().result);
  none.Offer(0, Cap(PixelFormat::Other, 640, 480));
  none.Offer(1, Cap(PixelFormat::YUY2, 640, 480, false));
  EXPECT_EQ(kNoKnownCaptureFormat, none.Result().result);
  EXPECT_EQ(-1, none.Result().index);

  none.Offer(2, Cap(PixelFormat::I420, 640, 481));
  EXPECT_EQ(kNoCaptureFormatOfSize, none.Result().result);
  EXPECT_EQ(-1, none.Result().index);

  // Both dimensions must match exactly, zero and negative sizes included.
  CaptureFormatChooser odd(0, -5);
  odd.Offer(0, Cap(PixelFormat::YUY2, 0, 5));
  EXPECT_EQ(kNoCaptureFormatOfSize, odd.Result().result);
  odd.Offer(1, Cap(PixelFormat::YUY2, 0, -5));
  EXPECT_EQ(1, odd.Result().index);
}

}  // namespace
}  // namespace zelvora
