// Playback speed on a 640x480, 30 fps Windows Media file (120 pictures), in one run:
//  - LoadFrameFromFile for pictures 1 and 60, next to picture 0 (open and size probe, no read:
//    the anchor), and the cost of one more picture derived from them;
//  - the file player's frames per second into the render callback (the anchor is the file's own
//    30 fps: the graph plays at the file's pace), the processor time the whole process spends
//    per second of playback, and the time to open the file.
// Prints medians. Usage: zelvora_playback_bench [runs]   (default 9; the player plays 3 times)
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Zelvora.h"
#include "playback/fileplayer.h"
#include "playback/framereader.h"

namespace {

constexpr int kPictures = 120;

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::wstring MediaPath() {
  std::wstring path = L"Z:";
  for (const char* c = ZELVORA_BENCH_MEDIA; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

// ---- frame extraction ----

double TimeLoadFrame(const std::wstring& file, int picture, bool* ok) {
  FrameImage image = {};
  const double t0 = NowMs();
  const HRESULT hr = zelvora::LoadFrameFromFile(file.c_str(), picture, reinterpret_cast<unsigned long*>(&image));
  const double elapsed = NowMs() - t0;
  if (hr != S_OK || image.nWidth != 640 || image.nHeight != 480) *ok = false;
  CoTaskMemFree(image.pBits);
  return elapsed;
}

// ---- the player ----

// Arrival times of the frames in the render callback (on the streaming thread).
std::atomic<int> g_frames{0};
std::atomic<int> g_wrongSize{0};
double g_arrivals[kPictures * 2];

void __cdecl OnFrame(RenderFrame* frame, int, int) {
  const double now = NowMs();
  if (!frame->data || frame->width != 320 || frame->height != 240) ++g_wrongSize;
  const int index = g_frames.fetch_add(1);
  if (index < kPictures * 2) g_arrivals[index] = now;
}

// Processor time of the whole process (all threads, the decoder's included), in ms.
double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

struct PlayResult {
  double openMs = 0;
  double fps = 0;        // from the median time between frames
  double cpuShare = 0;   // processor time per wall time while playing
  int frames = 0;
  bool ok = false;
};

PlayResult Play(const std::wstring& file) {
  PlayResult result;
  zelvora::FilePlayer player;
  zelvora::CallbackCell cell = reinterpret_cast<UINT_PTR>(&OnFrame);
  player.SetCallBackRender(&cell);
  g_frames = 0;
  g_wrongSize = 0;
  const double t0 = NowMs();
  if (player.OpenPlayFile(file.c_str()) != S_OK) return result;
  result.openMs = NowMs() - t0;
  const double cpu0 = ProcessCpuMs();
  const double wall0 = NowMs();
  if (FAILED(player.StartPlay())) return result;
  const double deadline = NowMs() + 30000;
  unsigned long answer = 2;
  while ((answer = player.OnGraphNotify()) == 2 && NowMs() < deadline) Sleep(5);
  result.cpuShare = (ProcessCpuMs() - cpu0) / (NowMs() - wall0);
  player.ReleasePlayFile();
  result.frames = g_frames;
  std::vector<double> gaps;
  for (int i = 1; i < result.frames && i < kPictures * 2; ++i) gaps.push_back(g_arrivals[i] - g_arrivals[i - 1]);
  const double gap = Median(gaps);
  if (gap > 0) result.fps = 1000.0 / gap;
  result.ok = answer == 0 && result.frames == kPictures && g_wrongSize == 0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 9;
  if (runs < 1) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const std::wstring file = MediaPath();
  printf("zelvora_playback_bench: %ls (640x480, 30 fps, %d pictures), %d runs, medians\n", file.c_str(), kPictures,
         runs);

  // Extraction: the cases take turns so that load from other processes falls on all alike.
  const int pictures[] = {0, 1, 60};
  std::vector<double> ms[3];
  bool ok = true;
  TimeLoadFrame(file, 1, &ok);  // first use loads the runtime's libraries: not counted
  for (int run = 0; run < runs; ++run)
    for (int i = 0; i < 3; ++i) ms[i].push_back(TimeLoadFrame(file, pictures[i], &ok));
  if (!ok) {
    printf("LoadFrameFromFile failed\n");
    return 1;
  }
  const double open = Median(ms[0]);
  const double first = Median(ms[1]);
  const double sixtieth = Median(ms[2]);
  printf("LoadFrameFromFile  picture 0 (open + probe, anchor)   %8.2f ms\n", open);
  printf("LoadFrameFromFile  picture 1                          %8.2f ms\n", first);
  printf("LoadFrameFromFile  picture 60                         %8.2f ms\n", sixtieth);
  const double perPicture = (sixtieth - first) / 59.0;
  printf("  one more picture: %.2f ms (%.0f pictures/s through the synchronous reader)\n", perPicture,
         perPicture > 0 ? 1000.0 / perPicture : 0.0);
  fflush(stdout);

  // The player: a few whole plays.
  const int plays = runs < 3 ? runs : 3;
  std::vector<double> fps, cpu, openMs;
  for (int run = 0; run < plays; ++run) {
    PlayResult r = Play(file);
    if (!r.ok) {
      printf("player run failed: %d frames\n", r.frames);
      return 1;
    }
    fps.push_back(r.fps);
    cpu.push_back(r.cpuShare);
    openMs.push_back(r.openMs);
  }
  printf("OpenPlayFile (graph built, file loaded)               %8.2f ms\n", Median(openMs));
  printf("player: %.1f frames/s into the callback (file: 30.0; all %d delivered), "
         "process busy %.0f%% of one core while playing\n",
         Median(fps), kPictures, Median(cpu) * 100.0);
  fflush(stdout);
  CoUninitialize();
  return 0;
}
