// Media type records given back through the free routine and the utility object.
#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include "com_fakes.h"
#include "media/camutilifun.h"
#include "support/free_spy.h"

using namespace fakes;

namespace zelvora {
namespace {

// Registered for its life.
class RegisteredFreeSpy : public testsupport::FreeSpy {
 public:
  RegisteredFreeSpy() { registered = SUCCEEDED(CoRegisterMallocSpy(this)); }
  ~RegisteredFreeSpy() {
    if (registered) CoRevokeMallocSpy();
  }
  bool registered = false;
};

using DeleteFn = void (*)(AM_MEDIA_TYPE*);
void FreeRoutine(AM_MEDIA_TYPE* mt) { DeleteMediaTypeRecord(mt); }
void UtilityObject(AM_MEDIA_TYPE* mt) { MediaUtility().DeleteMediaTypeRecord(mt); }

class MediaTypeRecordTest : public testing::TestWithParam<DeleteFn> {};

TEST_P(MediaTypeRecordTest, FreesBlockAndRecordAndReleasesPUnkOnce) {
  ReleaseCounter unk;
  AM_MEDIA_TYPE* mt = NewMediaTypeRecord(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 88, &unk);
  void* block = mt->pbFormat;
  RegisteredFreeSpy spy;
  ASSERT_TRUE(spy.registered);
  GetParam()(mt);
  EXPECT_EQ(1, spy.TimesFreed(mt));
  EXPECT_EQ(1, spy.TimesFreed(block));
  EXPECT_EQ(2u, spy.freed.size());
  EXPECT_EQ(1, unk.releases);
}

TEST_P(MediaTypeRecordTest, LeavesTheFormatPointerAloneWhenItsLengthIsZero) {
  // pbFormat points at a block the record does not own: only the record itself goes.
  void* notOwned = CoTaskMemAlloc(16);
  AM_MEDIA_TYPE* mt = NewMediaTypeRecord(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_None, 0, nullptr);
  mt->pbFormat = static_cast<BYTE*>(notOwned);
  {
    RegisteredFreeSpy spy;
    ASSERT_TRUE(spy.registered);
    GetParam()(mt);
    EXPECT_EQ(1, spy.TimesFreed(mt));
    EXPECT_EQ(0, spy.TimesFreed(notOwned));
    EXPECT_EQ(1u, spy.freed.size());
  }
  CoTaskMemFree(notOwned);
}

TEST_P(MediaTypeRecordTest, NullRecordIsIgnored) {
  RegisteredFreeSpy spy;
  GetParam()(nullptr);
  EXPECT_TRUE(spy.freed.empty());
}

INSTANTIATE_TEST_SUITE_P(BothEntries, MediaTypeRecordTest, testing::Values(&FreeRoutine, &UtilityObject));

}  // namespace
}  // namespace zelvora
