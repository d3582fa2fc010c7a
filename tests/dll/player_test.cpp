// IPlayer through the registered component: frame extraction from Windows Media files and
// playback into the host's render callback, on files made by ffmpeg for the tests.
#include <windows.h>

#include <string>
#include <vector>

#include "dll_helpers.h"
#include "playback/playback_media.h"

namespace dlltest {
namespace {

using playback::kVideoBytes;
using playback::kVideoHeight;
using playback::kVideoWidth;

ComPtr<IPlayer> CreatePlayer() {
  ComPtr<IIZelvora> component = CreateComponent();
  ComPtr<IPlayer> player;
  if (component) EXPECT_EQ(S_OK, component.As(&player));
  return player;
}

std::wstring Media(const wchar_t* name) { return playback::MediaPath(name); }
unsigned short* W(const std::wstring& text) { return dlltest::W(text.c_str()); }

// Size of a block from the COM task allocator.
size_t AllocationSize(void* block) {
  ComPtr<IMalloc> allocator;
  if (FAILED(CoGetMalloc(1, &allocator))) return 0;
  return allocator->GetSize(block);
}

unsigned long* Record(FrameImage& image) { return reinterpret_cast<unsigned long*>(&image); }

// A record that tells whether the call wrote to it.
FrameImage Untouched() {
  FrameImage image;
  image.nWidth = -7;
  image.nHeight = -7;
  image.pBits = reinterpret_cast<unsigned char*>(static_cast<UINT_PTR>(0x1234));
  return image;
}

bool IsUntouched(const FrameImage& image) {
  return image.nWidth == -7 && image.nHeight == -7 &&
         image.pBits == reinterpret_cast<unsigned char*>(static_cast<UINT_PTR>(0x1234));
}

// The pictures come from another decoder and colour converter than ffmpeg's: close, not equal.
void ExpectSamePicture(const unsigned char* picture, const wchar_t* reference) {
  std::vector<unsigned char> expected = playback::ReadMediaFile(reference);
  ASSERT_EQ(kVideoBytes, expected.size()) << "reference picture missing: run the tests through ctest";
  playback::PictureDifference d = playback::Compare(picture, expected.data(), kVideoBytes);
  EXPECT_LT(d.mean, 2.0) << "mean difference per byte from " << testing::PrintToString(std::wstring(reference));
  EXPECT_LT(d.max, 16);
}

double MeanDifference(const unsigned char* picture, const wchar_t* reference) {
  std::vector<unsigned char> expected = playback::ReadMediaFile(reference);
  if (expected.size() != kVideoBytes) return -1;
  return playback::Compare(picture, expected.data(), kVideoBytes).mean;
}

// ---- frame extraction ----

TEST(LoadFrameFromFile, PicturesComeOutAsDecodedBottomUp) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  struct Case {
    int frame;
    const wchar_t* reference;
  } cases[] = {{1, L"video-1.bgr"}, {2, L"video-2.bgr"}, {30, L"video-30.bgr"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    FrameImage image = Untouched();
    ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), c.frame, Record(image)));
    EXPECT_EQ(kVideoWidth, image.nWidth);
    EXPECT_EQ(kVideoHeight, image.nHeight);
    ASSERT_TRUE(image.pBits);
    ExpectSamePicture(image.pBits, c.reference);
    CoTaskMemFree(image.pBits);
  }
}

TEST(LoadFrameFromFile, PicturesAreToldApartByNumber) {
  // Neighbouring pictures lie far apart (the hue turns from one to the next): a picture number
  // off by one would show.
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), 2, Record(image)));
  const double own = MeanDifference(image.pBits, L"video-2.bgr");
  ASSERT_GE(own, 0);
  EXPECT_LT(own * 5, MeanDifference(image.pBits, L"video-1.bgr"));
  EXPECT_LT(own * 5, MeanDifference(image.pBits, L"video-30.bgr"));
  CoTaskMemFree(image.pBits);
}

TEST(LoadFrameFromFile, NoPictureNumberGivesAnEmptyBufferOfThePictureSize) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  for (int frame : {0, -1, -1000}) {
    SCOPED_TRACE(frame);
    FrameImage image = Untouched();
    ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), frame, Record(image)));
    EXPECT_EQ(kVideoWidth, image.nWidth);
    EXPECT_EQ(kVideoHeight, image.nHeight);
    ASSERT_TRUE(image.pBits);
    EXPECT_EQ(kVideoBytes, AllocationSize(image.pBits));
    CoTaskMemFree(image.pBits);
  }
}

TEST(LoadFrameFromFile, BeyondTheLastPictureFailsButHandsOverTheBuffer) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(L"video.wmv")), playback::kVideoPictures + 1,
                                                    Record(image)));
  EXPECT_EQ(kVideoWidth, image.nWidth);
  EXPECT_EQ(kVideoHeight, image.nHeight);
  ASSERT_TRUE(image.pBits);
  ExpectSamePicture(image.pBits, L"video-30.bgr");  // the last picture read
  CoTaskMemFree(image.pBits);
}

TEST(LoadFrameFromFile, FilesWithoutAUsablePictureLeaveTheRecordAlone) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  for (const wchar_t* name : {L"audio.wma", L"no-such-file.wmv"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    FrameImage image = Untouched();
    EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(name)), 1, Record(image)));
    EXPECT_TRUE(IsUntouched(image));
  }
  FrameImage image = Untouched();
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(nullptr, 1, Record(image)));
  EXPECT_TRUE(IsUntouched(image));
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(W(Media(L"video.wmv")), 1, nullptr));
}

TEST(LoadFrameFromFile, PaddedRowsFailEveryRead) {
  // 162 pixels of 3 bytes make rows of 486 bytes, which the runtime pads to 488.
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(L"padded.wmv")), 1, Record(image)));
  EXPECT_EQ(162, image.nWidth);
  EXPECT_EQ(120, image.nHeight);
  ASSERT_TRUE(image.pBits);
  CoTaskMemFree(image.pBits);
}

}  // namespace
}  // namespace dlltest
