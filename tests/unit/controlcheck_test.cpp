// Camera controls on plain numbers: the id table and its names, the set of an id, and the checks
// of a value and a mode before anything reaches the camera.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "capture/controlcheck.h"

using namespace zelvora;

namespace {

TEST(ControlCheck, TheTableListsPictureSettingsThenCameraSettingsInIdOrder) {
  const wchar_t* names[kControlCount] = {L"Brightness", L"Contrast",   L"Hue",  L"Saturation",   L"Sharpness",
                                         L"Gamma",      L"ColorEnable", L"WhiteBalance", L"BacklightCompensation",
                                         L"Gain",       L"Pan",        L"Tilt", L"Roll",         L"Zoom",
                                         L"Exposure",   L"Iris",       L"Focus"};
  for (int i = 0; i < kControlCount; ++i) {
    const long id = ControlIdAt(i);
    const bool picture = i < 10;
    EXPECT_EQ(picture ? i : 0x100 + (i - 10), id) << i;
    EXPECT_EQ(picture ? ControlSet::Picture : ControlSet::Camera, SetOfControl(id)) << i;
    EXPECT_EQ(picture ? i : i - 10, PropertyOfControl(id)) << i;
    ASSERT_NE(nullptr, ControlName(id)) << i;
    EXPECT_EQ(std::wstring(names[i]), ControlName(id));
  }
  // Neighbours of the two ranges and the platform's own camera ids are none of them.
  for (long id : {-1L, 10L, 0xFFL, 0x107L, 0x200L, LONG_MIN}) {
    EXPECT_EQ(ControlSet::None, SetOfControl(id)) << id;
    EXPECT_EQ(nullptr, ControlName(id)) << id;
  }
  EXPECT_EQ(-1, ControlIdAt(-1));
  EXPECT_EQ(-1, ControlIdAt(kControlCount));
}

TEST(ControlCheck, ModesAreExactlyAutomaticOrManual) {
  EXPECT_TRUE(ValidControlMode(kControlAuto));
  EXPECT_TRUE(ValidControlMode(kControlManual));
  for (long flags : {0L, 3L, 4L, -1L}) EXPECT_FALSE(ValidControlMode(flags)) << flags;
}

TEST(ControlCheck, ManualValuesMustLieOnTheRangeAndItsStep) {
  ControlRange zoom;
  zoom.minimum = 100;
  zoom.maximum = 400;
  zoom.step = 10;
  zoom.caps = kControlManual;
  for (long value : {100L, 110L, 400L}) EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(zoom, value, kControlManual));
  for (long value : {99L, 105L, 401L, 410L, 0L, LONG_MIN, LONG_MAX})
    EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(zoom, value, kControlManual)) << value;

  // A negative range (exposure) steps from its minimum; a full 32-bit range does not overflow.
  ControlRange exposure{-1, -11, -2, 1, -6, kControlAuto | kControlManual};
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(exposure, -11, kControlManual));
  EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(exposure, -1, kControlManual));
  ControlRange wide{-1, LONG_MIN, LONG_MAX, 2, 0, kControlManual};
  EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(wide, LONG_MAX, kControlManual));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(wide, LONG_MAX - 1, kControlManual));
  // A step of 0 (continuous controls of some drivers) allows the whole range.
  ControlRange continuous{-1, 0, 255, 0, 128, kControlManual};
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(continuous, 77, kControlManual));
  EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(continuous, 256, kControlManual));
}

TEST(ControlCheck, AModeTheControlLacksIsRefusedAndAutomaticIgnoresTheValue) {
  ControlRange manualOnly{-1, -64, 64, 1, 0, kControlManual};
  ControlRange autoOnly{-1, 0, 10, 1, 5, kControlAuto};
  ControlRange both{-1, 2800, 6500, 100, 4600, kControlAuto | kControlManual};
  EXPECT_EQ(ControlVerdict::BadMode, CheckControlRequest(manualOnly, 0, kControlAuto));
  EXPECT_EQ(ControlVerdict::BadMode, CheckControlRequest(autoOnly, 5, kControlManual));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(autoOnly, 999, kControlAuto));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(both, 1, kControlAuto));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(both, 5000, kControlManual));
  EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(both, 5050, kControlManual));
}

}  // namespace
