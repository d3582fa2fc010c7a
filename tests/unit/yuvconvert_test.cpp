// YUV to 24-bit conversions (YUY2, I420, NV12): the tables, the worked examples, every (Y, U, V) triple on every
// instruction set the processor has, random frames against overruns, and unusable sizes.
// Platform-free: built into the Wine unit tests and into the native sanitizer build.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "media/pixel/colorformat.h"
#include "media/pixel/framelayout.h"
#include "media/pixel/yuvconvert.h"
#include "media/pixel/yuvtables.h"
#include "support/guarded_buffer.h"

namespace zelvora {
namespace {

std::vector<SimdLevel> VectorLevels() {
  std::vector<SimdLevel> levels;
  for (int l = static_cast<int>(SimdLevel::Sse2); l <= static_cast<int>(DetectSimdLevel()); ++l)
    levels.push_back(static_cast<SimdLevel>(l));
  return levels;
}

const int kYuvFormats[] = {ColorFormat::YUY2, ColorFormat::I420, ColorFormat::NV12};

const char* FormatName(int format) {
  return format == ColorFormat::YUY2 ? "YUY2" : format == ColorFormat::I420 ? "I420" : "NV12";
}

bool Convert(int format, const uint8_t* src, int w, int h, uint8_t* dst, SimdLevel level) {
  if (format == ColorFormat::YUY2) return Yuy2ToBgr(src, w, h, dst, level);
  return format == ColorFormat::I420 ? I420ToBgr(src, w, h, dst, level) : Nv12ToBgr(src, w, h, dst, level);
}

// The NV12 frame of an I420 frame's samples: its U and V planes interleaved, U first.
std::vector<uint8_t> Nv12FromI420(const std::vector<uint8_t>& i420, int w, int h) {
  const size_t luma = static_cast<size_t>(w) * h, chroma = static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
  std::vector<uint8_t> nv12(i420.begin(), i420.begin() + luma);
  for (size_t c = 0; c < chroma; ++c) {
    nv12.push_back(i420[luma + c]);
    nv12.push_back(i420[luma + chroma + c]);
  }
  return nv12;
}

struct Bgr {
  int b, g, r;
};

Bgr PixelAt(const uint8_t* picture, int width, int x, int yFromBottom) {
  const uint8_t* p = picture + (static_cast<size_t>(yFromBottom) * width + x) * 3;
  return {p[0], p[1], p[2]};
}

struct Freed {
  void operator()(uint8_t* p) const { free(p); }
};
using Picture = std::unique_ptr<uint8_t, Freed>;

TEST(YuvTables, EveryEntryIsTheDoublePrecisionFormula) {
  volatile double redC = 1.403, greenUC = 0.344, greenVC = 0.714, blueUC = 1.770;  // no folding
  for (int i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1024 * i, YuvTables::luma[i]);
    EXPECT_EQ(static_cast<int32_t>(1024 * redC * (i - 128)), YuvTables::redV[i]);
    EXPECT_EQ(static_cast<int32_t>(1024 * greenUC * (i - 128)), YuvTables::greenU[i]);
    EXPECT_EQ(static_cast<int32_t>(1024 * greenVC * (i - 128)), YuvTables::greenV[i]);
    EXPECT_EQ(static_cast<int32_t>(1024 * blueUC * (i - 128)), YuvTables::blueU[i]);
  }
  EXPECT_EQ(261120, YuvTables::luma[255]);
  EXPECT_EQ(-183894, YuvTables::redV[0]);
  EXPECT_EQ(182457, YuvTables::redV[255]);
  EXPECT_EQ(-45088, YuvTables::greenU[0]);
  EXPECT_EQ(44736, YuvTables::greenU[255]);
  EXPECT_EQ(-93585, YuvTables::greenV[0]);
  EXPECT_EQ(92854, YuvTables::greenV[255]);
  EXPECT_EQ(-231997, YuvTables::blueU[0]);
  EXPECT_EQ(230184, YuvTables::blueU[255]);
  // The entries where x87 extended precision rounds differently.
  EXPECT_EQ(-44032, YuvTables::greenU[3]);
  EXPECT_EQ(44032, YuvTables::greenU[253]);
  EXPECT_EQ(-91392, YuvTables::greenV[3]);
  EXPECT_EQ(91392, YuvTables::greenV[253]);
}

TEST(YuvConvert, WorkedExamples) {
  // Grey 2 x 2 YUY2: every byte 0x80.
  const uint8_t grey[8] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
  Picture p(ConvertYuy2ToBgr(grey, 2, 2));
  ASSERT_TRUE(p);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(128, p.get()[i]) << i;

  // White, and the clamp case Y = 0, U = 128, V = 255: blue 0, green 0, red 178.
  const uint8_t mixed[4] = {255, 128, 0, 255};  // Y0 U Y1 V; Y0 with V = 255 is not white
  const uint8_t white[4] = {255, 128, 255, 128};
  p.reset(ConvertYuy2ToBgr(white, 2, 1));
  ASSERT_TRUE(p);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(255, p.get()[i]);
  p.reset(ConvertYuy2ToBgr(mixed, 2, 1));
  ASSERT_TRUE(p);
  const Bgr clamped = PixelAt(p.get(), 2, 1, 0);
  EXPECT_EQ(0, clamped.b);
  EXPECT_EQ(0, clamped.g);
  EXPECT_EQ(178, clamped.r);
  EXPECT_EQ((182457 + 512) >> 10, clamped.r);

  // Odd width 3: 8 source bytes per row; the first source row becomes the last picture row.
  const uint8_t odd[16] = {10, 128, 20, 128, 30, 128, 99, 128,  // row 0: Y 10 20 30, the Y 99 is skipped
                           40, 128, 50, 128, 60, 128, 99, 128};  // row 1
  p.reset(ConvertYuy2ToBgr(odd, 3, 2));
  ASSERT_TRUE(p);
  const int expected[2][3] = {{40, 50, 60}, {10, 20, 30}};  // bottom row first in memory
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 3; ++x) {
      const Bgr px = PixelAt(p.get(), 3, x, row);
      EXPECT_EQ(expected[row][x], px.b);
      EXPECT_EQ(expected[row][x], px.g);
      EXPECT_EQ(expected[row][x], px.r);
    }
}

TEST(YuvConvert, I420RowsShareChromaAndComeBottomUp) {
  // 2 x 3: Y plane 6 bytes, U and V planes 1 x 2 bytes each. Rows 0 and 1 use chroma row 0,
  // row 2 uses chroma row 1; U = 255 lifts blue to 255, U = 0 drops it to 0.
  const uint8_t frame[6 + 2 + 2] = {100, 100, 100, 100, 100, 100, /*U*/ 255, 0, /*V*/ 128, 128};
  Picture p(ConvertI420ToBgr(frame, 2, 3));
  ASSERT_TRUE(p);
  // Memory order: picture row 2 first, then rows 1 and 0.
  EXPECT_EQ(0, PixelAt(p.get(), 2, 0, 0).b);
  EXPECT_EQ(255, PixelAt(p.get(), 2, 1, 1).b);
  EXPECT_EQ(255, PixelAt(p.get(), 2, 0, 2).b);
  EXPECT_EQ(100, PixelAt(p.get(), 2, 1, 2).r);

  // NV12 3 x 3: chroma rows of two U V pairs. The odd last column and row have samples of their own.
  const uint8_t nv12[9 + 8] = {100, 100, 100, 100, 100, 100, 100, 100, 100,
                               /*row 0*/ 255, 128, 0, 128, /*row 1*/ 128, 255, 128, 0};
  p.reset(ConvertNv12ToBgr(nv12, 3, 3));
  ASSERT_TRUE(p);
  const int blue[3] = {255, 255, 0};  // of the top two rows, by column
  const int red[3] = {255, 255, 0};   // of the bottom row
  for (int x = 0; x < 3; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(blue[x], PixelAt(p.get(), 3, x, 2).b);  // top row: last in memory
    EXPECT_EQ(blue[x], PixelAt(p.get(), 3, x, 1).b);
    EXPECT_EQ(100, PixelAt(p.get(), 3, x, 1).r);
    EXPECT_EQ(100, PixelAt(p.get(), 3, x, 0).b);
    EXPECT_EQ(red[x], PixelAt(p.get(), 3, x, 0).r);
  }
}

// All 16.7 million triples: 256 frames (one per U), rows by V, pixels by Y.
TEST(YuvConvert, EveryTripleMatchesTheReferenceOnEveryInstructionSet) {
  const int w = 256, h = 256;
  std::vector<uint8_t> yuy2(static_cast<size_t>(w) * 2 * h), i420(I420SourceBytes(w, h));
  std::vector<uint8_t> expected(BgrPictureBytes(w, h)), actual(expected.size());
  const std::vector<SimdLevel> levels = VectorLevels();
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < h; ++v)
      for (int j = 0; j < w; j += 2) {
        uint8_t* g = &yuy2[(static_cast<size_t>(v) * w + j) * 2];
        g[0] = static_cast<uint8_t>(j);
        g[1] = static_cast<uint8_t>(u);
        g[2] = static_cast<uint8_t>(j + 1);
        g[3] = static_cast<uint8_t>(v);
      }
    // I420: V = 2 * chroma row + chroma column parity, so each V owns 64 chroma samples, that is
    // 256 luma samples over two rows and 128 columns; Y numbers those 256 samples.
    for (int row = 0; row < h; ++row)
      for (int j = 0; j < w; ++j)
        i420[static_cast<size_t>(row) * w + j] = static_cast<uint8_t>((j >> 2) * 2 + (j & 1) + 128 * (row & 1));
    uint8_t* uPlane = &i420[static_cast<size_t>(w) * h];
    uint8_t* vPlane = uPlane + (w / 2) * (h / 2);
    for (int c = 0; c < (w / 2) * (h / 2); ++c) {
      uPlane[c] = static_cast<uint8_t>(u);
      vPlane[c] = static_cast<uint8_t>((c / (w / 2)) * 2 + (c & 1));
    }

    ASSERT_TRUE(Yuy2ToBgr(yuy2.data(), w, h, expected.data(), SimdLevel::Scalar));
    // Spot check the reference against the formula itself.
    const Bgr px = PixelAt(expected.data(), w, 77, h - 1 - 200);  // Y 77, V 200
    const int l = 1024 * 77;
    ASSERT_EQ(std::min(255, std::max(0, (l + YuvTables::blueU[u] + 512) >> 10)), px.b);
    for (SimdLevel level : levels) {
      ASSERT_TRUE(Yuy2ToBgr(yuy2.data(), w, h, actual.data(), level));
      ASSERT_EQ(0, memcmp(expected.data(), actual.data(), expected.size()))
          << "YUY2 " << SimdLevelName(level) << " U=" << u;
    }
    const std::vector<uint8_t> nv12 = Nv12FromI420(i420, w, h);
    for (int format : {ColorFormat::I420, ColorFormat::NV12}) {
      const uint8_t* frame = format == ColorFormat::I420 ? i420.data() : nv12.data();
      ASSERT_TRUE(Convert(format, frame, w, h, expected.data(), SimdLevel::Scalar));
      for (SimdLevel level : levels) {
        ASSERT_TRUE(Convert(format, frame, w, h, actual.data(), level));
        ASSERT_EQ(0, memcmp(expected.data(), actual.data(), expected.size()))
            << FormatName(format) << " " << SimdLevelName(level) << " U=" << u;
      }
    }
  }
}

// Random frames of odd and even sizes, the source ending at an inaccessible page and the picture
// surrounded by guard bytes: every instruction set gives the reference bytes and stays inside.
TEST(YuvConvert, RandomFramesStayInsideTheirBuffers) {
  std::mt19937 rng(20240611);
  const int sizes[][2] = {{1, 1}, {2, 1}, {3, 3}, {5, 2}, {7, 9}, {15, 4}, {16, 2}, {17, 3}, {31, 5},
                          {33, 7}, {47, 2}, {63, 3}, {64, 4}, {65, 5}, {97, 3}, {127, 2}, {642, 3}, {641, 5},
                          // Large enough for the streaming stores, aligned rows and alternating ones.
                          {1920, 1081}, {1366, 1023}};
  const size_t kGuard = 64;
  for (const auto& s : sizes) {
    const int w = s[0], h = s[1];
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    // NV12 carries the random I420 frame's samples and must give its picture.
    std::vector<uint8_t> i420(I420SourceBytes(w, h)), i420Picture;
    for (uint8_t& b : i420) b = static_cast<uint8_t>(rng());
    for (int format : kYuvFormats) {
      const size_t srcBytes = static_cast<size_t>(FrameSourceBytes(format, w, h));
      GuardedBuffer src(srcBytes);
      ASSERT_NE(nullptr, src.data());
      if (format == ColorFormat::YUY2) {
        for (size_t i = 0; i < srcBytes; ++i) src.data()[i] = static_cast<uint8_t>(rng());
      } else {
        memcpy(src.data(), (format == ColorFormat::I420 ? i420 : Nv12FromI420(i420, w, h)).data(), srcBytes);
      }
      const size_t picBytes = BgrPictureBytes(w, h);
      std::vector<uint8_t> expected(picBytes);
      std::vector<uint8_t> padded(picBytes + 2 * kGuard);
      ASSERT_TRUE(Convert(format, src.data(), w, h, expected.data(), SimdLevel::Scalar));
      if (format == ColorFormat::I420) i420Picture = expected;
      EXPECT_TRUE(format != ColorFormat::NV12 || i420Picture == expected) << "NV12 reference";
      for (SimdLevel level : VectorLevels()) {
        memset(padded.data(), 0xA5, padded.size());
        ASSERT_TRUE(Convert(format, src.data(), w, h, padded.data() + kGuard, level));
        EXPECT_EQ(0, memcmp(expected.data(), padded.data() + kGuard, picBytes))
            << FormatName(format) << " " << SimdLevelName(level);
        for (size_t i = 0; i < kGuard; ++i) {
          ASSERT_EQ(0xA5, padded[i]) << "before, " << SimdLevelName(level);
          ASSERT_EQ(0xA5, padded[kGuard + picBytes + i]) << "after, " << SimdLevelName(level);
        }
      }
    }
  }
}

TEST(YuvConvert, UnusableSizesNeverAllocateOrRead) {
  uint8_t byte = 0x80;
  uint8_t out[3] = {1, 2, 3};
  const int bad[][2] = {{0, 1}, {1, 0}, {-1, 4}, {4, -1}, {0, 0}, {-2147483647 - 1, 2}, {65536, 65536}, {2147483647, 1}};
  for (const auto& s : bad) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1]);
    // A single byte of source: any attempt to read a frame from it would overrun.
    EXPECT_EQ(nullptr, ConvertYuy2ToBgr(&byte, s[0], s[1]));
    EXPECT_EQ(nullptr, ConvertI420ToBgr(&byte, s[0], s[1]));
    EXPECT_FALSE(Yuy2ToBgr(&byte, s[0], s[1], out));
    EXPECT_FALSE(I420ToBgr(&byte, s[0], s[1], out));
    EXPECT_EQ(nullptr, ConvertNv12ToBgr(&byte, s[0], s[1]));
    EXPECT_FALSE(Nv12ToBgr(&byte, s[0], s[1], out));
    EXPECT_EQ(0u, Nv12SourceBytes(s[0], s[1]));
    EXPECT_EQ(0u, BgrPictureBytes(s[0], s[1]));
  }
  EXPECT_EQ(1, out[0]);
  EXPECT_EQ(nullptr, ConvertYuy2ToBgr(nullptr, 2, 2));
  EXPECT_EQ(nullptr, ConvertI420ToBgr(nullptr, 2, 2));
  EXPECT_EQ(nullptr, ConvertNv12ToBgr(nullptr, 2, 2));
  EXPECT_FALSE(Nv12ToBgr(nullptr, 2, 2, out));
  EXPECT_FALSE(Nv12ToBgr(&byte, 1, 1, nullptr));
  // Source sizes: YUY2 rows rounded up to 4 bytes, I420 chroma rounded up in both directions.
  EXPECT_EQ(8u * 2, Yuy2SourceBytes(3, 2));
  EXPECT_EQ(640u * 480 * 2, Yuy2SourceBytes(640, 480));
  EXPECT_EQ(3u * 3 + 2 * (2 * 2), I420SourceBytes(3, 3));
  EXPECT_EQ(640u * 480 * 3 / 2, I420SourceBytes(640, 480));
  // NV12: chroma rows of 2 * ceil(width / 2) bytes, ceil(height / 2) of them.
  EXPECT_EQ(3u * 3 + 2 * 4, Nv12SourceBytes(3, 3));
  EXPECT_EQ(5u * 1 + 6, Nv12SourceBytes(5, 1));
  EXPECT_EQ(17, FrameSourceBytes(ColorFormat::NV12, 3, 3));
  EXPECT_EQ(0, FrameSourceBytes(ColorFormat::MJPG, 640, 480));  // no fixed size
  EXPECT_EQ(0u, Yuy2SourceBytes(0, 5));
}

}  // namespace
}  // namespace zelvora
