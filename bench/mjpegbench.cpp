// Motion-JPEG decoding speed: the frames of one file (JPEG pictures one after another, as the
// mjpeg muxer writes them) decoded into the 24-bit bottom-up picture again and again. Each round
// decodes every frame once; prints the median over the rounds of the time per frame, for the
// decoder and for stb_image's own API (a new top-down RGB picture per frame) for comparison. Given ffmpeg's bgr24 picture of the first frame, also prints how far
// the decoder's picture is from it. bench/mjpegbench.sh makes the frames and runs everything.
//   zelvora_mjpeg_bench FILE WIDTH HEIGHT [FIRST-FRAME.bgr24]
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "media/pixel/mjpegdecode.h"
#include "media/pixel/yuvconvert.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_MINGW_ENABLE_SSE2  // see mjpegdecode.cpp
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include "stb_image.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 9;

std::vector<uint8_t> ReadFile(const char* path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path, "rb");
  if (!f) return bytes;
  uint8_t buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  return bytes;
}

struct Frame {
  const uint8_t* data;
  size_t length;
};

// Frames end at an EOI marker that is followed by the next SOI or the end of the file.
std::vector<Frame> SplitFrames(const std::vector<uint8_t>& s) {
  std::vector<Frame> frames;
  size_t start = 0;
  for (size_t i = 2; i + 1 < s.size(); ++i) {
    if (s[i] != 0xFF || s[i + 1] != 0xD9) continue;
    const size_t end = i + 2;
    if (end == s.size() || (end + 1 < s.size() && s[end] == 0xFF && s[end + 1] == 0xD8)) {
      frames.push_back({s.data() + start, end - start});
      start = end;
      i = end + 1;
    }
  }
  return frames;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: zelvora_mjpeg_bench FILE WIDTH HEIGHT [FIRST-FRAME.bgr24]\n");
    return 2;
  }
  const int width = atoi(argv[2]), height = atoi(argv[3]);
  const std::vector<uint8_t> file = ReadFile(argv[1]);
  const std::vector<Frame> frames = SplitFrames(file);
  const size_t pictureBytes = zelvora::BgrPictureBytes(width, height);
  if (frames.empty() || pictureBytes == 0) {
    fprintf(stderr, "no frames in %s, or a bad size\n", argv[1]);
    return 2;
  }
  zelvora::MjpegDecoder decoder;
  std::vector<uint8_t> picture(pictureBytes);
  for (const Frame& f : frames) {
    if (!decoder.Decode(f.data, f.length, width, height, picture.data())) {
      fprintf(stderr, "frame %d refused\n", static_cast<int>(&f - frames.data()));
      return 1;
    }
  }

  if (argc > 4) {
    // ffmpeg's picture is top-down.
    const std::vector<uint8_t> ref = ReadFile(argv[4]);
    if (ref.size() != pictureBytes) {
      fprintf(stderr, "%s: %zu bytes, expected %zu\n", argv[4], ref.size(), pictureBytes);
      return 1;
    }
    decoder.Decode(frames[0].data, frames[0].length, width, height, picture.data());
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    double sum = 0;
    int worst = 0;
    for (int y = 0; y < height; ++y) {
      const uint8_t* a = picture.data() + static_cast<size_t>(height - 1 - y) * rowBytes;
      const uint8_t* b = ref.data() + static_cast<size_t>(y) * rowBytes;
      for (size_t i = 0; i < rowBytes; ++i) {
        const int d = abs(a[i] - b[i]);
        sum += d;
        worst = std::max(worst, d);
      }
    }
    printf("difference from ffmpeg's picture: mean %.3f, max %d per byte\n", sum / pictureBytes, worst);
  }

  // The two cases take turns frame by frame, so that other load falls on both alike.
  std::vector<double> ours, stbApi;
  for (int round = 0; round < kRounds; ++round) {
    double oursMs = 0, stbMs = 0;
    for (const Frame& f : frames) {
      auto t0 = Clock::now();
      decoder.Decode(f.data, f.length, width, height, picture.data());
      auto t1 = Clock::now();
      int w, h, n;
      stbi_uc* rgb = stbi_load_from_memory(f.data, static_cast<int>(f.length), &w, &h, &n, 3);
      auto t2 = Clock::now();
      stbi_image_free(rgb);
      oursMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
      stbMs += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    ours.push_back(oursMs / frames.size());
    stbApi.push_back(stbMs / frames.size());
  }
  printf("%dx%d, %d-bit build, %zu frames x %d rounds, median ms per frame\n", width, height,
         static_cast<int>(sizeof(void*) * 8), frames.size(), kRounds);
  printf("  MjpegDecoder (bottom-up BGR)        %8.3f\n", Median(ours));
  printf("  stb_image API (top-down RGB, alloc) %8.3f\n", Median(stbApi));
  printf("RESULT ours=%.4f stbapi=%.4f\n", Median(ours), Median(stbApi));
  fflush(stdout);
  return 0;
}
