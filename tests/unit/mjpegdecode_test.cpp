// Motion-JPEG decoding. The frames are made here: DCT-coded 4:2:0 and 4:4:4 pictures with
// stb_image_write, whose decoding by stb_image's own API is the reference, and known pictures of
// flat 8x8 blocks in any sampling and in grey, written without Huffman tables (as many cameras
// send them) by the small writer below.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "media/pixel/mjpegdecode.h"
#include "media/pixel/yuvconvert.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_MINGW_ENABLE_SSE2  // as the decoder's own copy
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include "stb_image.h"
#include "stb_image_write.h"
#pragma GCC diagnostic pop

namespace {

using zelvora::MjpegDecoder;
using Bytes = std::vector<uint8_t>;

// Flat 8x8 blocks of many levels, every third one with the highest vertical frequency of the DCT
// added: transformed blocks with only a DC value, and with DC and that one last coefficient.
Bytes Blocks(int w, int h) {
  Bytes rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int b = x / 8 * 37 + y / 8 * 91;
      const int stripe = b % 3 ? 0 : int(60 + 50 * cos((2 * (y % 8) + 1) * 7 * 3.14159265 / 16));
      rgb.insert(rgb.end(), {uint8_t(b % 251), uint8_t((b * 7 + stripe) % 253), uint8_t(b * 13 % 241)});
    }
  return rgb;
}

Bytes Encode(const Bytes& rgb, int w, int h, int quality) {  // 4:2:0 up to quality 90, 4:4:4 above
  Bytes out;
  stbi_write_jpg_to_func([](void* c, void* d, int n) { static_cast<Bytes*>(c)->insert(static_cast<Bytes*>(c)->end(),
                                                                                       static_cast<uint8_t*>(d), static_cast<uint8_t*>(d) + n); },
                         &out, w, h, 3, rgb.data(), quality);
  return out;
}

// stb_image's picture of a frame, turned bottom-up BGR.
Bytes StbPicture(const Bytes& jpeg) {
  int w = 0, h = 0, n = 0;
  stbi_uc* rgb = stbi_load_from_memory(jpeg.data(), int(jpeg.size()), &w, &h, &n, 3);
  Bytes bgr(size_t(w) * h * 3);
  for (size_t i = 0; rgb && i < bgr.size(); ++i) bgr[(h - 1 - i / 3 / w) * size_t(w) * 3 + i % (w * 3) / 3 * 3 + 2 - i % 3] = rgb[i];
  stbi_image_free(rgb);
  return bgr;
}

bool Decode(MjpegDecoder& d, const Bytes& jpeg, int w, int h, Bytes* picture) {
  picture->assign(zelvora::BgrPictureBytes(w, h), 0xA5);
  return d.Decode(jpeg.data(), jpeg.size(), w, h, picture->data());
}

// A baseline frame of flat 8x8 blocks (each block only its DC coefficient, quantiser 1), coded with
// the standard tables and no DHT segment. ySampling: 0x21 for 4:2:2, 0x22 4:2:0, 0x11 4:4:4; grey
// has one component. Block (bx, by) of component c's plane has level level(c, bx, by).
Bytes FlatBlocks(int w, int h, bool grey, int ySampling, const std::function<int(int, int, int)>& level) {
  static const uint16_t kDc[2][12][2] = {
      {{0, 2}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {14, 4}, {30, 5}, {62, 6}, {126, 7}, {254, 8}, {510, 9}},
      {{0, 2}, {1, 2}, {2, 2}, {6, 3}, {14, 4}, {30, 5}, {62, 6}, {126, 7}, {254, 8}, {510, 9}, {1022, 10}, {2046, 11}}};
  const int n = grey ? 1 : 3, hs = grey ? 1 : ySampling >> 4, vs = grey ? 1 : ySampling & 15;
  Bytes out = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
  out.insert(out.end(), 64, 1);
  out.insert(out.end(), {0xFF, 0xC0, 0, uint8_t(8 + 3 * n), 8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), uint8_t(n)});
  for (int c = 0; c < n; ++c) out.insert(out.end(), {uint8_t(c + 1), uint8_t(c ? 0x11 : (grey ? 0x11 : ySampling)), 0});
  out.insert(out.end(), {0xFF, 0xDA, 0, uint8_t(6 + 2 * n), uint8_t(n)});
  for (int c = 0; c < n; ++c) out.insert(out.end(), {uint8_t(c + 1), uint8_t(c ? 0x11 : 0)});
  out.insert(out.end(), {0, 63, 0});
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) {
      acc = (acc << 1) | ((code >> i) & 1);
      if (++bits == 8) {
        out.push_back(uint8_t(acc));
        if (acc == 0xFF) out.push_back(0);
        acc = bits = 0;
      }
    }
  };
  int pred[3] = {0, 0, 0};
  auto block = [&](int c, int level) {
    const int dc = 8 * (level - 128), diff = dc - pred[c];
    pred[c] = dc;
    int s = 0;
    while ((abs(diff) >> s) != 0) ++s;
    put(kDc[c != 0][s][0], kDc[c != 0][s][1]);
    put(uint32_t(diff < 0 ? diff + (1 << s) - 1 : diff), s);
    c ? put(0, 2) : put(10, 4);  // end of block
  };
  for (int my = 0; my < (h + 8 * vs - 1) / (8 * vs); ++my)
    for (int mx = 0; mx < (w + 8 * hs - 1) / (8 * hs); ++mx) {
      for (int by = 0; by < vs; ++by)
        for (int bx = 0; bx < hs; ++bx) block(0, level(0, mx * hs + bx, my * vs + by));
      for (int c = 1; c < n; ++c) block(c, level(c, mx, my));
    }
  put(0x7F, 7 - (bits + 7) % 8);  // pad the last byte with ones
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

// Removes the segments with this marker from a frame (they all come before the scan here).
Bytes Without(Bytes jpeg, uint8_t marker) {
  for (size_t i = 2; i + 4 < jpeg.size() && jpeg[i + 1] != 0xDA;) {
    const size_t length = 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    if (jpeg[i + 1] == marker) jpeg.erase(jpeg.begin() + i, jpeg.begin() + i + length);
    else i += length;
  }
  return jpeg;
}

TEST(MjpegDecode, DctPicturesAsStbImageDecodesThemAlsoWithoutHuffmanTablesOrWithPadding) {
  for (const auto& [w, h] : {std::pair(64, 48), std::pair(61, 37)}) {  // and partial blocks
    for (int quality : {90, 95}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " quality " << quality);
      const Bytes jpeg = Encode(Blocks(w, h), w, h, quality);  // written with the standard tables
      const Bytes noTables = Without(jpeg, 0xC4);
      Bytes padded = jpeg;
      padded.resize(jpeg.size() + 3000, 0);
      ASSERT_LT(noTables.size(), jpeg.size());
      MjpegDecoder decoder;
      for (const Bytes* frame : {&jpeg, &noTables, static_cast<const Bytes*>(&padded)}) {
        Bytes picture;
        ASSERT_TRUE(Decode(decoder, *frame, w, h, &picture));
        EXPECT_TRUE(picture == StbPicture(jpeg));
      }
    }
  }
}

TEST(MjpegDecode, FlatBlocksInEverySamplingAndGreyWithStandardTables) {
  // Luma changes from block to block, chroma from one chroma block to the next.
  const auto level = [](int c, int bx, int by) { return c == 0 ? 30 + 9 * bx + 23 * by : c == 1 ? 90 + 20 * bx : 170 - 15 * by; };
  struct Case { const char* name; bool grey; int sampling; int w, h; };
  for (const Case& c : {Case{"4:2:2", false, 0x21, 48, 32}, Case{"4:2:2 partial", false, 0x21, 44, 29},
                        Case{"4:2:0", false, 0x22, 48, 32}, Case{"4:4:4", false, 0x11, 40, 24},
                        Case{"grey", true, 0x11, 40, 21}}) {
    SCOPED_TRACE(c.name);
    MjpegDecoder decoder;
    Bytes picture;
    ASSERT_TRUE(Decode(decoder, FlatBlocks(c.w, c.h, c.grey, c.sampling, level), c.w, c.h, &picture));
    const int cw = c.grey ? 8 : 8 * (c.sampling >> 4), ch = c.grey ? 8 : 8 * (c.sampling & 15);  // chroma blocks
    int worst = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        // Upsampled chroma blends the neighbouring block's in the pixels next to a block edge.
        if ((cw > 8 && (x % cw == 0 || x % cw == cw - 1)) || (ch > 8 && (y % ch == 0 || y % ch == ch - 1))) continue;
        const double l = level(0, x / 8, y / 8);
        const int cb = c.grey ? 128 : level(1, x / cw, y / ch), cr = c.grey ? 128 : level(2, x / cw, y / ch);
        const double bgr[3] = {l + 1.772 * (cb - 128), l - 0.34414 * (cb - 128) - 0.71414 * (cr - 128), l + 1.402 * (cr - 128)};
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, abs(picture[(size_t(c.h - 1 - y) * c.w + x) * 3 + k] -
                                      int(std::min(255.0, std::max(0.0, bgr[k])) + 0.5)));
      }
    EXPECT_LE(worst, 1);
  }
}

TEST(MjpegDecode, RefusesDamagedFramesAndLeavesThePictureAlone) {
  const Bytes jpeg = Encode(Blocks(64, 48), 64, 48, 90);
  size_t sof = 2, sos = 2;
  while (!(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
  while (!(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA)) ++sos;
  std::vector<std::pair<const char*, Bytes>> bad;
  for (size_t cut : {size_t(2), size_t(20), sos, sos + 14, jpeg.size() - 2, jpeg.size() - 1, (sos + jpeg.size()) / 2})
    bad.push_back({"truncated", Bytes(jpeg.begin(), jpeg.begin() + cut)});
  Bytes t = bad.back().second;
  t.resize(jpeg.size() + 100, 0), bad.push_back({"truncated, then zero padding", t});
  t = jpeg, t[1] = 0xD9, bad.push_back({"no SOI", t});
  t = jpeg, t.insert(t.begin() + (sos + jpeg.size()) / 2, {0xFF, 0xD0}), bad.push_back({"stray marker in the scan", t});
  t = jpeg, t[sof + 8] ^= 1, bad.push_back({"another width in the frame header", t});
  t = jpeg, t[sof + 1] = 0xC2, bad.push_back({"progressive", t});
  t = jpeg, t[4] = 0xFF, bad.push_back({"segment longer than the frame", t});
  Bytes dht = {0xFF, 0xC4, 0x10, 0x03, 0x00};  // 4080 symbols (16 x 255): past the decoder's arrays
  dht.resize(dht.size() + 16, 0xFF);
  dht.resize(dht.size() + 4080, 0);
  t = jpeg, t.insert(t.begin() + 2, dht.begin(), dht.end()), bad.push_back({"Huffman table of 4080 symbols", t});
  MjpegDecoder decoder;
  for (const auto& b : bad) {
    SCOPED_TRACE(b.first);
    Bytes picture;
    EXPECT_FALSE(Decode(decoder, b.second, 64, 48, &picture));
    EXPECT_EQ(picture, Bytes(picture.size(), 0xA5));
  }
  // Another size than the frame's, unusable sizes, no data, no picture.
  Bytes picture(zelvora::BgrPictureBytes(80, 48), 0xA5);
  for (const auto& [w, h] : {std::pair(80, 48), std::pair(64, 47), std::pair(0, 48), std::pair(64, -48), std::pair(70000, 48)})
    EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size(), w, h, picture.data()));
  EXPECT_FALSE(decoder.Decode(nullptr, jpeg.size(), 64, 48, picture.data()));
  EXPECT_FALSE(decoder.Decode(jpeg.data(), 0, 64, 48, picture.data()));
  EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size(), 64, 48, nullptr));
  EXPECT_EQ(picture, Bytes(picture.size(), 0xA5));
  // The decoder goes on with whole frames after all that.
  ASSERT_TRUE(Decode(decoder, jpeg, 64, 48, &picture));
  EXPECT_TRUE(picture == StbPicture(jpeg));
}

TEST(MjpegDecode, DecodersOnTwoThreadsAndSizeChanges) {
  // Each thread alternates two sizes with its own decoder and must get stb_image's pictures.
  const Bytes a = Encode(Blocks(64, 48), 64, 48, 90), b = Encode(Blocks(32, 96), 32, 96, 95);
  const Bytes expectA = StbPicture(a), expectB = StbPicture(b);
  bool same[2] = {true, true};
  auto run = [&](int t) {
    MjpegDecoder decoder;
    for (int i = 0; i < 50; ++i) {
      Bytes picture;
      const bool first = (i + t) % 2 == 0;
      same[t] = same[t] && Decode(decoder, first ? a : b, first ? 64 : 32, first ? 48 : 96, &picture) &&
                picture == (first ? expectA : expectB);
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  EXPECT_TRUE(same[0] && same[1]);
}

}  // namespace
