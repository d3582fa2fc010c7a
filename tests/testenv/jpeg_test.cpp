// The MJPG frames' JPEG writer: pictures of the pattern that a decoder reads back with their frame
// numbers (colour bars included), and the segments a webcam sends, with and without DHT.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#include "jpegtest.h"

#include <gtest/gtest.h>

#include <stdlib.h>

namespace jpegtest {

Picture Decode(const uint8_t* data, size_t bytes) {
  Picture picture;
  int components = 0;
  stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(bytes), &picture.width, &picture.height, &components, 3);
  if (pixels) picture.rgb.assign(pixels, pixels + static_cast<size_t>(picture.width) * picture.height * 3);
  stbi_image_free(pixels);
  return picture;
}

zvpattern::Decoded ReadPattern(const Picture& p) {
  const int stride = zvpattern::RgbRowStride(p.width);
  std::vector<uint8_t> bgr(static_cast<size_t>(stride) * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width * 3; ++x)  // top-down RGB to bottom-up BGR
      bgr[static_cast<size_t>(p.height - 1 - y) * stride + x] = p.rgb[static_cast<size_t>(y) * p.width * 3 + x - x % 3 + 2 - x % 3];
  return zvpattern::DecodeBgrBottomUp(bgr.data(), bgr.size(), p.width, p.height);
}

std::vector<Segment> Segments(const uint8_t* data, size_t bytes) {
  std::vector<Segment> segments;
  for (size_t at = 0; at + 3 < bytes && data[at] == 0xFF;) {
    Segment s = {data[at + 1], at, 2};
    if (s.marker != 0xD8) s.length += static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
    segments.push_back(s);
    if (s.marker == 0xDA) break;  // entropy-coded data follows
    at += s.length;
  }
  return segments;
}

}  // namespace jpegtest

namespace {

using namespace jpegtest;

TEST(JpegFrames, PatternPicturesDecodeWithTheirFrameNumbers) {
  for (const auto& size : {std::make_pair(1280, 720), std::make_pair(642, 482), std::make_pair(33, 17)}) {
    const int w = size.first, h = size.second;
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    zvjpeg::PatternEncoder encoder;
    ASSERT_TRUE(encoder.Configure(w, h, true));
    std::vector<uint8_t> frame(encoder.FrameBound());
    for (unsigned number : {0u, 40000u, 0x5555u, 0x1FFFFu}) {
      const size_t bytes = encoder.Render(number, frame.data(), frame.size());
      ASSERT_GT(bytes, 0u);
      EXPECT_LT(bytes, static_cast<size_t>(w) * h / 2 + 1024) << "within the announced size (or little more)";
      Picture picture = Decode(frame.data(), bytes);
      ASSERT_EQ(w, picture.width);
      ASSERT_EQ(h, picture.height);
      EXPECT_TRUE(ReadPattern(picture).Upright());
      EXPECT_EQ(number & 0xFFFFu, ReadPattern(picture).frameNumber);
      // Pixels far off the pattern: only a few beside colour edges (not whole block rows).
      int far = 0;
      for (int i = 0; i < w * h; ++i) {
        zvpattern::Rgb want = zvpattern::PatternPixel(i % w, i / w, w, h, number);
        const uint8_t* got = &picture.rgb[3 * static_cast<size_t>(i)];
        far += abs(got[0] - want.r) > 100 || abs(got[1] - want.g) > 100 || abs(got[2] - want.b) > 100;
      }
      EXPECT_LT(far, w >= 320 ? w * h / 200 : w * h) ;  // tiny pictures: bars a few pixels wide
    }
    const size_t bytes = encoder.Render(1, frame.data(), frame.size());
    EXPECT_EQ(0u, encoder.Render(1, frame.data(), bytes - 1)) << "a buffer too small gets nothing";
  }
}

TEST(JpegFrames, SegmentsAreAWebcamsAndNoDhtLeavesOutOnlyTheTables) {
  zvjpeg::PatternEncoder withTables, without;
  ASSERT_TRUE(withTables.Configure(640, 480, true));
  ASSERT_TRUE(without.Configure(640, 480, false));
  std::vector<uint8_t> a(withTables.FrameBound()), b(without.FrameBound());
  a.resize(withTables.Render(1234, a.data(), a.size()));
  b.resize(without.Render(1234, b.data(), b.size()));
  std::vector<Segment> segments = Segments(a.data(), a.size());
  ASSERT_EQ(5u, segments.size());
  const uint8_t markers[] = {0xD8, 0xDB, 0xC0, 0xC4, 0xDA};  // SOI DQT SOF0 DHT SOS, no APPn
  for (int i = 0; i < 5; ++i) EXPECT_EQ(markers[i], segments[i].marker);
  // SOF0: 8-bit, 480 x 640, three components; luma 2x1, chroma 1x1 each (4:2:2).
  const uint8_t sof[] = {8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
  EXPECT_EQ(0, memcmp(sof, &a[segments[2].offset + 4], sizeof(sof)));
  EXPECT_EQ(4u + 2 * (17 + 12) + 2 * (17 + 162), segments[3].length) << "the four standard tables";
  // Without DHT: the same bytes less that segment.
  a.erase(a.begin() + segments[3].offset, a.begin() + segments[3].offset + segments[3].length);
  EXPECT_TRUE(a == b);
}

}  // namespace
