// Throughput of the frame conversions (YUY2, I420, NV12), in one run: the table-driven reference,
// the fast path (each instruction set the processor has), libyuv where it is built in, and a memcpy
// of the picture size as the memory anchor. "warm" converts the same frame again and again; "cold"
// rotates through frames that together are much larger than the processor's caches.
// Prints the median time per frame of several runs, and the ratios the targets are stated in.
#include <stdint.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "media/pixel/colorformat.h"
#include "media/pixel/yuvconvert.h"
#include "media/pixel/yuvkernels.h"

#if defined(ZELVORA_BENCH_LIBYUV)
#include <libyuv.h>
#endif

namespace {

using namespace zelvora;
using Clock = std::chrono::steady_clock;

constexpr size_t kColdBytes = size_t(192) << 20;  // rotation set, well above any last-level cache
constexpr int kRuns = 9;

struct Frames {
  std::vector<std::vector<uint8_t>> src, dst;
};

// One measured case: a conversion over its own rotation of frames.
struct Case {
  Case(std::string l, std::function<void(const uint8_t*, uint8_t*)> c, Frames* f, int n)
      : label(std::move(l)), convert(std::move(c)), frames(f), perRun(n) {}
  std::string label;
  std::function<void(const uint8_t*, uint8_t*)> convert;
  Frames* frames;
  int perRun;
  size_t next = 0;
  std::vector<double> ms;

  void Run(bool record) {
    const auto t0 = Clock::now();
    for (int i = 0; i < perRun; ++i, next = (next + 1) % frames->src.size())
      convert(frames->src[next].data(), frames->dst[next].data());
    if (record) ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / perRun);
  }
  double Median() {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
  }
};

// The cases take turns, run after run, so that other load on the machine falls on all of them alike.
void MeasureAll(std::vector<Case>& cases) {
  for (Case& c : cases) c.Run(false);
  for (int run = 0; run < kRuns; ++run)
    for (Case& c : cases) c.Run(true);
}

Frames MakeFrames(size_t srcBytes, size_t dstBytes, bool cold) {
  Frames f;
  const size_t count = cold ? std::max<size_t>(4, kColdBytes / (srcBytes + dstBytes)) : 1;
  std::mt19937 rng(7);
  for (size_t i = 0; i < count; ++i) {
    f.src.emplace_back(srcBytes);
    f.dst.emplace_back(dstBytes, 0);
    for (auto& b : f.src.back()) b = static_cast<uint8_t>(rng());
  }
  return f;
}

struct Row {
  std::string label;
  double ms;
};

const char* FormatName(int format) {
  return format == ColorFormat::YUY2 ? "YUY2" : format == ColorFormat::I420 ? "I420" : "NV12";
}

size_t SourceBytes(int format, int w, int h) {
  if (format == ColorFormat::YUY2) return Yuy2SourceBytes(w, h);
  return format == ColorFormat::I420 ? I420SourceBytes(w, h) : Nv12SourceBytes(w, h);
}

// With the best kernels, or those of `level`.
bool Convert(int format, const uint8_t* in, int w, int h, uint8_t* out, const SimdLevel* level) {
  switch (format) {
    case ColorFormat::YUY2: return level ? Yuy2ToBgr(in, w, h, out, *level) : Yuy2ToBgr(in, w, h, out);
    case ColorFormat::I420: return level ? I420ToBgr(in, w, h, out, *level) : I420ToBgr(in, w, h, out);
    default: return level ? Nv12ToBgr(in, w, h, out, *level) : Nv12ToBgr(in, w, h, out);
  }
}

uint8_t* ConvertNew(int format, const uint8_t* in, int w, int h) {
  if (format == ColorFormat::YUY2) return ConvertYuy2ToBgr(in, w, h);
  return format == ColorFormat::I420 ? ConvertI420ToBgr(in, w, h) : ConvertNv12ToBgr(in, w, h);
}

}  // namespace

// Usage: zelvora_bench [WxH ...] [YUY2|I420|NV12 ...]   (default 640x480 1280x720 1920x1080, all formats)
int main(int argc, char** argv) {
  std::vector<std::array<int, 2>> sizes;
  std::vector<int> formats;
  for (int a = 1; a < argc; ++a) {
    int w = 0, h = 0;
    if (sscanf(argv[a], "%dx%d", &w, &h) == 2 && BgrPictureBytes(w, h) != 0) sizes.push_back({w, h});
    for (int f : {ColorFormat::YUY2, ColorFormat::I420, ColorFormat::NV12})
      if (strcmp(argv[a], FormatName(f)) == 0) formats.push_back(f);
  }
  if (sizes.empty()) sizes = {{640, 480}, {1280, 720}, {1920, 1080}};
  if (formats.empty()) formats = {ColorFormat::YUY2, ColorFormat::I420, ColorFormat::NV12};
  const SimdLevel best = DetectSimdLevel();
  printf("zelvora_bench: %d-bit build, best instruction set %s, %d runs, median ms per frame\n",
         static_cast<int>(sizeof(void*) * 8), SimdLevelName(best), kRuns);
  printf("%-10s %-5s %-5s %-22s %10s %12s\n", "size", "fmt", "cache", "case", "ms/frame", "Mpixel/s");
  for (const auto& s : sizes) {
    const int w = s[0], h = s[1];
    const size_t dstBytes = BgrPictureBytes(w, h);
    for (int fmt : formats) {
      const size_t srcBytes = SourceBytes(fmt, w, h);
      for (int cold = 0; cold < 2; ++cold) {
        Frames f = MakeFrames(srcBytes, dstBytes, cold != 0);
        const int perRun = std::max(3, static_cast<int>((size_t(48) << 20) / (srcBytes + dstBytes)));
        auto ours = [&](SimdLevel level) {
          return [=](const uint8_t* in, uint8_t* out) { Convert(fmt, in, w, h, out, &level); };
        };
        std::vector<Case> cases;
        cases.push_back({"reference (tables)", ours(SimdLevel::Scalar), &f, std::max(1, perRun / 8)});
        for (int l = 1; l <= static_cast<int>(best); ++l)
          cases.push_back({std::string("fast ") + SimdLevelName(static_cast<SimdLevel>(l)),
                           ours(static_cast<SimdLevel>(l)), &f, perRun});
        const size_t fastIndex = cases.size() - 1;
        // The same with ordinary (cached) stores whatever the picture size, for comparison.
        cases.push_back({"fast, cached stores", [&](const uint8_t* in, uint8_t* out) {
                           const size_t keep = yuv::StreamingThreshold();
                           yuv::SetStreamingThreshold(SIZE_MAX);
                           Convert(fmt, in, w, h, out, nullptr);
                           yuv::SetStreamingThreshold(keep);
                         }, &f, perRun});
        // A new buffer for every frame (malloc, convert, free) instead of one kept buffer.
        cases.push_back({"fast, new buffer/frame", [&](const uint8_t* in, uint8_t*) {
                           free(ConvertNew(fmt, in, w, h));
                         }, &f, perRun});
        int libyuvIndex = -1;
#if defined(ZELVORA_BENCH_LIBYUV)
        std::vector<uint8_t> argbRow(static_cast<size_t>(w) * 4);
        libyuvIndex = static_cast<int>(cases.size());
        cases.push_back({"libyuv", [&](const uint8_t* in, uint8_t* out) {
          if (fmt == ColorFormat::YUY2) {
            // Row by row through an ARGB row, bottom row first like ours.
            for (int i = 0; i < h; ++i) {
              libyuv::YUY2ToARGB(in + static_cast<size_t>(i) * w * 2, w * 2, argbRow.data(), w * 4, w, 1);
              libyuv::ARGBToRGB24(argbRow.data(), w * 4, out + static_cast<size_t>(h - 1 - i) * w * 3, w * 3, w, 1);
            }
          } else if (fmt == ColorFormat::I420) {
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            const uint8_t* u = in + static_cast<size_t>(w) * h;
            libyuv::I420ToRGB24(in, w, u, cw, u + static_cast<size_t>(cw) * ch, cw, out, w * 3, w, -h);
          } else {
            // B, G, R in memory order as ours; the negative height writes the bottom row first.
            libyuv::NV12ToRGB24(in, w, in + static_cast<size_t>(w) * h, 2 * ((w + 1) / 2), out, w * 3, w, -h);
          }
        }, &f, perRun});
#endif
        Frames copies = MakeFrames(dstBytes, dstBytes, cold != 0);
        const size_t copyIndex = cases.size();
        cases.push_back({"memcpy (picture size)", [&](const uint8_t* in, uint8_t* out) { memcpy(out, in, dstBytes); },
                         &copies, perRun});
        MeasureAll(cases);
        std::vector<Row> rows;
        for (Case& c : cases) rows.push_back({c.label, c.Median()});
        const double fast = rows[fastIndex].ms;
        const double copyMs = rows[copyIndex].ms;
        const double libyuvMs = libyuvIndex >= 0 ? rows[libyuvIndex].ms : 0;
        for (const Row& r : rows)
          printf("%4dx%-5d %-5s %-5s %-22s %10.3f %12.1f\n", w, h, FormatName(fmt), cold ? "cold" : "warm",
                 r.label.c_str(), r.ms, w * static_cast<double>(h) / (r.ms * 1000.0));
        if (libyuvMs > 0) printf("%29s fast vs libyuv: %.2fx throughput\n", "", libyuvMs / fast);
        printf("%29s fast / memcpy time: %.2f\n", "", fast / copyMs);
        fflush(stdout);
      }
    }
  }
  return 0;
}
