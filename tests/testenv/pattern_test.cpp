// The test picture: every layout decodes back to its frame number, every mirror or flip is told
// apart, and picture damage of the kind JPEG or colour conversion causes is tolerated.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <vector>

#include "framepattern.h"

namespace {

using zvpattern::Layout;
using zvpattern::Orientation;

std::vector<uint8_t> Render(Layout layout, int w, int h, unsigned number) {
  zvpattern::Renderer renderer;
  EXPECT_TRUE(renderer.Configure(layout, w, h));
  std::vector<uint8_t> frame(renderer.FrameSize(), 0xEE);
  EXPECT_EQ(frame.size(), renderer.Render(number, frame.data(), frame.size()));
  return frame;
}

// Picture transformations on a bottom-up BGR picture.
std::vector<uint8_t> Transform(const std::vector<uint8_t>& bgr, int w, int h, bool flipV, bool mirrorH) {
  const int stride = zvpattern::RgbRowStride(w);
  std::vector<uint8_t> out(bgr.size(), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sy = flipV ? h - 1 - y : y, sx = mirrorH ? w - 1 - x : x;
      for (int c = 0; c < 3; ++c) out[y * stride + 3 * x + c] = bgr[sy * stride + 3 * sx + c];
    }
  return out;
}

TEST(FramePattern, EveryLayoutDecodesItsFrameNumberAtCommonAndOddSizes) {
  struct Case {
    Layout layout;
    int w, h;
  } cases[] = {{Layout::RGB24, 320, 240},  {Layout::RGB24, 642, 480}, {Layout::RGB24, 1920, 1080},
               {Layout::RGB24, 33, 17},    {Layout::YUY2, 640, 480},  {Layout::YUY2, 1920, 1080},
               {Layout::YUY2, 162, 121},   {Layout::I420, 320, 240},  {Layout::I420, 1280, 720},
               {Layout::I420, 98, 66}};
  for (const Case& c : cases) {
    for (unsigned number : {0u, 1u, 0x8001u, 0xFFFFu, 12345u}) {
      std::vector<uint8_t> frame = Render(c.layout, c.w, c.h, number);
      zvpattern::Decoded d = zvpattern::DecodeFrame(c.layout, frame.data(), frame.size(), c.w, c.h);
      ASSERT_TRUE(d.valid) << c.w << "x" << c.h << " layout " << static_cast<int>(c.layout) << " number " << number;
      EXPECT_EQ(number, d.frameNumber);
      EXPECT_EQ(Orientation::Upright, d.orientation);
      // The host's view: converted to bottom-up BGR.
      std::vector<uint8_t> bgr = zvpattern::ToBgrBottomUp(c.layout, frame.data(), frame.size(), c.w, c.h);
      zvpattern::Decoded viaBgr = zvpattern::DecodeBgrBottomUp(bgr.data(), bgr.size(), c.w, c.h);
      EXPECT_TRUE(viaBgr.Upright());
      EXPECT_EQ(number, viaBgr.frameNumber);
    }
  }
}

TEST(FramePattern, LayoutsAreExact) {
  // RGB24: bottom-up, padded rows; the top-left marker pixel is black and sits in the last row.
  std::vector<uint8_t> rgb = Render(Layout::RGB24, 6 * 16 + 2, 32, 0);  // 98 wide: 294 -> 296 bytes a row
  ASSERT_EQ(296u * 32u, rgb.size());
  const uint8_t* topRow = rgb.data() + 31 * 296;
  EXPECT_EQ(0, topRow[0]);
  // The white bar right of the marker (x = 7, still in bar 0, past W/16 = 6).
  EXPECT_EQ(255, topRow[3 * 7]);
  EXPECT_EQ(255, topRow[3 * 7 + 2]);
  // The padding bytes are written too (no stale memory reaches a host).
  EXPECT_EQ(0, topRow[294]);
  EXPECT_EQ(0, topRow[295]);
  // YUY2 white is Y 235, U = V = 128; black Y 16.
  std::vector<uint8_t> yuy2 = Render(Layout::YUY2, 64, 32, 0);
  ASSERT_EQ(64u * 2 * 32, yuy2.size());
  const uint8_t* whiteAt = yuy2.data() + 10 * 128 + 2 * 6;  // row 10 (bars), x = 6 (white bar)
  EXPECT_EQ(235, whiteAt[0]);
  EXPECT_EQ(128, whiteAt[1]);
  EXPECT_EQ(16, yuy2[0]);  // marker
  // I420: planes of W*H, then W/2*H/2 twice.
  std::vector<uint8_t> i420 = Render(Layout::I420, 64, 32, 0);
  EXPECT_EQ(64u * 32 * 3 / 2, i420.size());
}

TEST(FramePattern, Nv12IsTheExactLayoutAtEvenAndOddSizes) {
  // Reference drawn pixel by pixel: Y plane, then ceil(H/2) rows of ceil(W/2) U, V pairs, each
  // the rounded average of the (up to four) pixels it covers.
  const int sizes[][2] = {{64, 32}, {98, 66}, {33, 17}, {1280, 720}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1], cw = (w + 1) / 2, ch = (h + 1) / 2;
    const unsigned number = 0xA5C3u;
    std::vector<uint8_t> frame = Render(Layout::NV12, w, h, number);
    ASSERT_EQ(static_cast<size_t>(w * h + 2 * cw * ch), frame.size());
    std::vector<uint8_t> expected(frame.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        expected[y * w + x] = zvpattern::Clamp8(zvpattern::YOf(zvpattern::PatternPixel(x, y, w, h, number)));
    for (int cy = 0; cy < ch; ++cy)
      for (int cx = 0; cx < cw; ++cx) {
        int u = 0, v = 0, n = 0;
        for (int y = 2 * cy; y < std::min(2 * cy + 2, h); ++y)
          for (int x = 2 * cx; x < std::min(2 * cx + 2, w); ++x, ++n) {
            u += zvpattern::UOf(zvpattern::PatternPixel(x, y, w, h, number));
            v += zvpattern::VOf(zvpattern::PatternPixel(x, y, w, h, number));
          }
        expected[w * h + 2 * (cy * cw + cx)] = static_cast<uint8_t>((u + n / 2) / n);
        expected[w * h + 2 * (cy * cw + cx) + 1] = static_cast<uint8_t>((v + n / 2) / n);
      }
    EXPECT_TRUE(expected == frame) << w << "x" << h;
    zvpattern::Decoded d = zvpattern::DecodeFrame(Layout::NV12, frame.data(), frame.size(), w, h);
    EXPECT_TRUE(d.Upright()) << w << "x" << h;
    EXPECT_EQ(number, d.frameNumber);
    std::vector<uint8_t> bgr = zvpattern::ToBgrBottomUp(Layout::NV12, frame.data(), frame.size(), w, h);
    EXPECT_EQ(number, zvpattern::DecodeBgrBottomUp(bgr.data(), bgr.size(), w, h).frameNumber);
  }
}

TEST(FramePattern, MirroredAndFlippedPicturesAreToldApart) {
  const int w = 320, h = 240;
  std::vector<uint8_t> frame = Render(Layout::RGB24, w, h, 4242);
  struct Case {
    bool flipV, mirrorH;
    Orientation expected;
  } cases[] = {{false, false, Orientation::Upright},
               {true, false, Orientation::FlippedVertically},
               {false, true, Orientation::MirroredHorizontally},
               {true, true, Orientation::Rotated180}};
  for (const Case& c : cases) {
    std::vector<uint8_t> picture = Transform(frame, w, h, c.flipV, c.mirrorH);
    zvpattern::Decoded d = zvpattern::DecodeBgrBottomUp(picture.data(), picture.size(), w, h);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(c.expected, d.orientation);
    EXPECT_EQ(4242u, d.frameNumber);  // the number is read in the picture's own orientation
    EXPECT_EQ(c.expected == Orientation::Upright, d.Upright());
  }
}

TEST(FramePattern, ToleratesNoiseAndColourShiftButNotForeignPictures) {
  const int w = 320, h = 240;
  std::vector<uint8_t> frame = Render(Layout::RGB24, w, h, 777);
  // JPEG-like damage: deterministic noise of +-40 and a brightness shift of -20.
  uint32_t seed = 12345;
  std::vector<uint8_t> noisy = frame;
  for (uint8_t& v : noisy) {
    seed = seed * 1664525u + 1013904223u;
    int noise = static_cast<int>((seed >> 24) % 81) - 40;
    int value = v + noise - 20;
    v = static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
  }
  zvpattern::Decoded d = zvpattern::DecodeBgrBottomUp(noisy.data(), noisy.size(), w, h);
  EXPECT_TRUE(d.Upright());
  EXPECT_EQ(777u, d.frameNumber);

  // A grey picture, a picture whose check band disagrees, and pictures too small or too short.
  std::vector<uint8_t> grey(frame.size(), 128);
  EXPECT_FALSE(zvpattern::DecodeBgrBottomUp(grey.data(), grey.size(), w, h).valid);
  std::vector<uint8_t> broken = frame;
  const int stride = zvpattern::RgbRowStride(w);
  for (int y = 0; y < h / 4; ++y)  // bottom rows in memory = the check band: blacken it
    for (int x = 0; x < w * 3; ++x) broken[y * stride + x] = 0;
  EXPECT_FALSE(zvpattern::DecodeBgrBottomUp(broken.data(), broken.size(), w, h).valid);
  EXPECT_FALSE(zvpattern::DecodeBgrBottomUp(frame.data(), frame.size() - 1, w, h).valid);
  EXPECT_FALSE(zvpattern::DecodeBgrBottomUp(nullptr, 0, w, h).valid);
  EXPECT_FALSE(zvpattern::DecodeBgrBottomUp(frame.data(), frame.size(), 16, 8).valid);
}

// Mean of (R + G + B) / 3 over a rectangle of picture points.
int MeanLevel(const zvpattern::Sampler& s, int x0, int y0, int x1, int y1) {
  long sum = 0, n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x, ++n) sum += s.At(x, y).r + s.At(x, y).g + s.At(x, y).b;
  return static_cast<int>(sum / (3 * n));
}

TEST(FramePattern, BrightnessShiftsEveryLayoutAndNumberAndOrientationStillRead) {
  const int w = 320, h = 240;
  for (Layout layout : {Layout::RGB24, Layout::YUY2, Layout::I420, Layout::NV12}) {
    for (int b = -64; b <= 64; ++b) {
      SCOPED_TRACE(testing::Message() << "layout " << static_cast<int>(layout) << " brightness " << b);
      zvpattern::Renderer renderer;
      renderer.SetBrightness(b);  // kept across Configure
      ASSERT_TRUE(renderer.Configure(layout, w, h));
      std::vector<uint8_t> frame(renderer.FrameSize());
      renderer.Render(0x5AC3, frame.data(), frame.size());
      EXPECT_EQ(0x5AC3u, zvpattern::DecodeFrame(layout, frame.data(), frame.size(), w, h).frameNumber);
      // Black bar and white bar (clear of the marker) moved by b, clamped.
      zvpattern::Sampler s(layout, frame.data(), frame.size(), w, h);
      EXPECT_NEAR(b > 0 ? b : 0, MeanLevel(s, 7 * w / 8 + 4, h / 4, w - 4, h / 2 - 4), 1);
      EXPECT_NEAR(b < 0 ? 255 + b : 255, MeanLevel(s, w / 16 + 4, h / 4, w / 8 - 4, h / 2 - 4), 1);
      if (layout == Layout::RGB24) {
        std::vector<uint8_t> turned = Transform(frame, w, h, true, true);
        zvpattern::Decoded d = zvpattern::DecodeBgrBottomUp(turned.data(), turned.size(), w, h);
        EXPECT_EQ(Orientation::Rotated180, d.orientation);
      }
      // A changed brightness reaches every band, not only the number's.
      renderer.SetBrightness(0);
      renderer.Render(0x5AC3, frame.data(), frame.size());
      EXPECT_TRUE(Render(layout, w, h, 0x5AC3) == frame);
    }
  }
}

TEST(FramePattern, RendererRefusesSizesTheLayoutCannotHoldAndShortBuffers) {
  zvpattern::Renderer renderer;
  EXPECT_FALSE(renderer.Configure(Layout::YUY2, 321, 240));
  EXPECT_FALSE(renderer.Configure(Layout::I420, 320, 241));
  EXPECT_FALSE(renderer.Configure(Layout::RGB24, 0, 240));
  ASSERT_TRUE(renderer.Configure(Layout::RGB24, 320, 240));
  std::vector<uint8_t> small(renderer.FrameSize() - 1);
  EXPECT_EQ(0u, renderer.Render(1, small.data(), small.size()));
  EXPECT_EQ(0u, renderer.Render(1, nullptr, 1 << 20));
}

}  // namespace
