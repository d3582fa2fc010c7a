// Camera controls on plain numbers: the id table, the set of an id, and the checks of a value and
// a mode before anything reaches the camera.
#include <gtest/gtest.h>

#include <climits>

#include "capture/controlcheck.h"

using namespace zelvora;

namespace {

TEST(ControlCheck, PictureSettingsThenCameraSettingsInIdOrderAndNoOtherIds) {
  for (int i = 0; i < kControlCount; ++i) {
    const long id = ControlIdAt(i);
    EXPECT_EQ(i < 10 ? i : 0x100 + (i - 10), id) << i;
    EXPECT_EQ(i < 10 ? ControlSet::Picture : ControlSet::Camera, SetOfControl(id)) << i;
    EXPECT_EQ(i < 10 ? i : i - 10, PropertyOfControl(id)) << i;
  }
  EXPECT_STREQ(L"BacklightCompensation", ControlName(kControlBacklightCompensation));
  EXPECT_STREQ(L"Focus", ControlName(kControlFocus));
  for (long id : {-1L, 10L, 0xFFL, 0x107L, LONG_MIN}) {
    EXPECT_EQ(ControlSet::None, SetOfControl(id)) << id;
    EXPECT_EQ(nullptr, ControlName(id)) << id;
  }
  EXPECT_EQ(-1, ControlIdAt(kControlCount));
  EXPECT_TRUE(ValidControlMode(kControlAuto) && ValidControlMode(kControlManual));
  for (long flags : {0L, 3L, 4L, -1L}) EXPECT_FALSE(ValidControlMode(flags)) << flags;
}

TEST(ControlCheck, ValuesOnTheRangeAndStepAndModesTheControlOffers) {
  const ControlRange zoom{-1, 100, 400, 10, 100, kControlManual};
  for (long value : {100L, 110L, 400L}) EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(zoom, value, kControlManual));
  for (long value : {99L, 105L, 410L, LONG_MIN, LONG_MAX})
    EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(zoom, value, kControlManual)) << value;
  EXPECT_EQ(ControlVerdict::BadMode, CheckControlRequest(zoom, 100, kControlAuto));
  // A full 32-bit range does not overflow; a step of 0 allows the whole range.
  const ControlRange wide{-1, LONG_MIN, LONG_MAX, 2, 0, kControlManual};
  EXPECT_EQ(ControlVerdict::BadValue, CheckControlRequest(wide, LONG_MAX, kControlManual));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(wide, LONG_MAX - 1, kControlManual));
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest({-1, 0, 255, 0, 128, kControlManual}, 77, kControlManual));
  // Automatic does not look at the value; manual of an automatic-only control is refused.
  const ControlRange autoOnly{-1, 0, 10, 1, 5, kControlAuto};
  EXPECT_EQ(ControlVerdict::Send, CheckControlRequest(autoOnly, 999, kControlAuto));
  EXPECT_EQ(ControlVerdict::BadMode, CheckControlRequest(autoOnly, 5, kControlManual));
}

}  // namespace
