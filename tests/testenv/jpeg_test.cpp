// The MJPG frames' JPEG writer: pictures of the pattern that a decoder reads back with their frame
// numbers, the segments a webcam sends (with and without DHT), and transformed blocks that come
// out as they went in.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#include "jpegtest.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

namespace jpegtest {

Picture Decode(const uint8_t* data, size_t bytes) {
  Picture picture;
  int components = 0;
  stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(bytes), &picture.width, &picture.height, &components, 3);
  if (!pixels) return Picture();
  picture.rgb.assign(pixels, pixels + static_cast<size_t>(picture.width) * picture.height * 3);
  stbi_image_free(pixels);
  return picture;
}

zvpattern::Decoded ReadPattern(const Picture& picture) {
  const int w = picture.width, h = picture.height, stride = zvpattern::RgbRowStride(w);
  std::vector<uint8_t> bgr(static_cast<size_t>(stride) * (h > 0 ? h : 0));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        bgr[static_cast<size_t>(h - 1 - y) * stride + 3 * x + c] = picture.rgb[(static_cast<size_t>(y) * w + x) * 3 + 2 - c];
  return zvpattern::DecodeBgrBottomUp(bgr.data(), bgr.size(), w, h);
}

std::vector<Segment> Segments(const uint8_t* data, size_t bytes) {
  std::vector<Segment> segments;
  size_t at = 0;
  while (at + 1 < bytes && data[at] == 0xFF) {
    Segment s;
    s.marker = data[at + 1];
    s.offset = at;
    s.length = 2;
    if (s.marker != 0xD8 && s.marker != 0xD9) {
      if (at + 3 >= bytes) break;
      s.length += static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
    }
    segments.push_back(s);
    if (s.marker == 0xDA || s.marker == 0xD9) break;  // entropy-coded data follows
    at += s.length;
  }
  return segments;
}

}  // namespace jpegtest

namespace {

using namespace jpegtest;

// Mean difference per channel against the pattern, and the share of pixels off by more than 48
// in a channel (the colour bar edges, where the decoder's chroma upsampling blends neighbours).
void CompareWithPattern(const Picture& picture, unsigned number, double* mean, double* farShare) {
  long long sum = 0, far = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      zvpattern::Rgb want = zvpattern::PatternPixel(x, y, picture.width, picture.height, number);
      const uint8_t* got = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
      int d[3] = {abs(got[0] - want.r), abs(got[1] - want.g), abs(got[2] - want.b)};
      sum += d[0] + d[1] + d[2];
      far += (d[0] > 48 || d[1] > 48 || d[2] > 48) ? 1 : 0;
    }
  const double pixels = static_cast<double>(picture.width) * picture.height;
  *mean = static_cast<double>(sum) / (3 * pixels);
  *farShare = static_cast<double>(far) / pixels;
}

TEST(JpegFrames, PatternPicturesDecodeWithTheirFrameNumbers) {
  const int sizes[][2] = {{1280, 720}, {320, 240}, {642, 482}, {33, 17}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    zvjpeg::PatternEncoder encoder;
    ASSERT_TRUE(encoder.Configure(w, h, true));
    std::vector<uint8_t> frame(encoder.FrameBound());
    for (unsigned number : {0u, 40000u, 0x5555u, 0x1FFFFu}) {
      const size_t bytes = encoder.Render(number, frame.data(), frame.size());
      ASSERT_GT(bytes, 0u);
      EXPECT_LT(bytes, static_cast<size_t>(w) * h / 2 + 1024) << "within the announced size (or little more)";
      EXPECT_EQ(0xD9, frame[bytes - 1]) << "ends with EOI";
      Picture picture = Decode(frame.data(), bytes);
      ASSERT_EQ(w, picture.width);
      ASSERT_EQ(h, picture.height);
      zvpattern::Decoded d = ReadPattern(picture);
      EXPECT_TRUE(d.Upright());
      EXPECT_EQ(number & 0xFFFFu, d.frameNumber);
      if (w < 320) continue;  // bars a few pixels wide: chroma blocks span several of them
      double mean = 0, farShare = 0;
      CompareWithPattern(picture, number, &mean, &farShare);
      EXPECT_LT(mean, 2.0);
      EXPECT_LT(farShare, 0.04);
    }
    // A buffer too small for the frame gets nothing.
    const size_t bytes = encoder.Render(1, frame.data(), frame.size());
    EXPECT_EQ(0u, encoder.Render(1, frame.data(), bytes - 1));
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
  std::vector<uint8_t> markers;
  for (const Segment& s : segments) markers.push_back(s.marker);
  EXPECT_EQ((std::vector<uint8_t>{0xD8, 0xDB, 0xC0, 0xC4, 0xDA}), markers) << "SOI DQT SOF0 DHT SOS, no APPn";
  ASSERT_EQ(5u, segments.size());
  // SOF0: 8-bit, 480x640, three components; luma 2x1, chroma 1x1 each (4:2:2).
  const uint8_t sof[] = {8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
  EXPECT_EQ(0, memcmp(sof, &a[segments[2].offset + 4], sizeof(sof)));
  EXPECT_EQ(4u + 2 * (17 + 12) + 2 * (17 + 162), segments[3].length) << "the four standard tables";
  // Without DHT: the same bytes, less that segment; with the segment put back it decodes alike.
  std::vector<uint8_t> stripped = a;
  stripped.erase(stripped.begin() + segments[3].offset, stripped.begin() + segments[3].offset + segments[3].length);
  EXPECT_TRUE(stripped == b);
  std::vector<uint8_t> spliced = b;
  spliced.insert(spliced.begin() + segments[3].offset, a.begin() + segments[3].offset,
                 a.begin() + segments[3].offset + segments[3].length);
  Picture picture = Decode(spliced.data(), spliced.size());
  EXPECT_EQ(1234u, ReadPattern(picture).frameNumber);
}

TEST(JpegWriter, DetailedPicturesSurviveTheTransformAndSharedRowsCodeAsCopies) {
  // Gradients, a sharp diagonal and chroma waves: nearly every block goes through the DCT.
  const int w = 203, h = 77, cw = (w + 1) / 2;
  std::vector<std::vector<uint8_t>> y(h, std::vector<uint8_t>(w)), cb(h, std::vector<uint8_t>(cw)),
      cr(h, std::vector<uint8_t>(cw));
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) y[r][x] = static_cast<uint8_t>(x + r > 140 ? 40 + x / 2 : 200 - r);
    for (int x = 0; x < cw; ++x) {
      cb[r][x] = static_cast<uint8_t>(128 + 50 * sin(x / 9.0));
      cr[r][x] = static_cast<uint8_t>(128 + 50 * cos(r / 7.0));
    }
  }
  std::vector<const uint8_t*> yRows, cbRows, crRows;
  for (int r = 0; r < h; ++r) {
    yRows.push_back(y[r].data());
    cbRows.push_back(cb[r].data());
    crRows.push_back(cr[r].data());
  }
  zvjpeg::Writer writer;
  EXPECT_FALSE(writer.Configure(0, 10, 85, true));
  EXPECT_FALSE(writer.Configure(10, 10, 0, true));
  ASSERT_TRUE(writer.Configure(w, h, 85, true));
  std::vector<uint8_t> out(1 << 20);
  out.resize(writer.Encode(yRows.data(), cbRows.data(), crRows.data(), out.data(), out.size()));
  Picture picture = Decode(out.data(), out.size());
  ASSERT_EQ(w, picture.width);
  double sum = 0;
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      // JFIF back to RGB, as a decoder does.
      const double Y = y[r][x], Cb = cb[r][x / 2] - 128.0, Cr = cr[r][x / 2] - 128.0;
      const double want[3] = {Y + 1.402 * Cr, Y - 0.344136 * Cb - 0.714136 * Cr, Y + 1.772 * Cb};
      for (int c = 0; c < 3; ++c)
        sum += fabs(picture.rgb[(static_cast<size_t>(r) * w + x) * 3 + c] - std::min(255.0, std::max(0.0, want[c])));
    }
  EXPECT_LT(sum / (3.0 * w * h), 4.0);

  // Rows passed by one shared pointer are coded exactly as separate equal rows.
  std::vector<const uint8_t*> sharedY(h, y[5].data()), sharedCb(h, cb[5].data()), sharedCr(h, cr[5].data());
  std::vector<std::vector<uint8_t>> copies(h, y[5]);
  std::vector<const uint8_t*> copiedY;
  for (int r = 0; r < h; ++r) copiedY.push_back(copies[r].data());
  std::vector<uint8_t> shared(1 << 20), copied(1 << 20);
  shared.resize(writer.Encode(sharedY.data(), sharedCb.data(), sharedCr.data(), shared.data(), shared.size()));
  copied.resize(writer.Encode(copiedY.data(), sharedCb.data(), sharedCr.data(), copied.data(), copied.size()));
  EXPECT_FALSE(shared.empty());
  EXPECT_TRUE(shared == copied);
}

}  // namespace
