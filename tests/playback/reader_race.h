#pragma once

// Opening a Windows Media file in a test that needs it open, past a race in Wine's WM ASF Reader.
//
// Wine 8's reader (winegstreamer) returns from IFileSourceFilter::Load before its decoding
// pipeline has settled: the default output format it has just chosen for every stream (RGB24,
// 16-bit PCM) is negotiated afterwards on the pipeline's streaming thread, and each stream's
// format record is rewritten there (cleared, then filled in) while the pins read it without a
// lock to answer EnumMediaTypes and QueryAccept. A pin asked in that moment offers no media type
// at all, so connecting it (or the sample grabber's output, which relays it) fails with
// VFW_E_CANNOT_CONNECT, and rendering it with VFW_E_CANNOT_RENDER. The moment is a few
// microseconds on an idle machine and lasts as long as the streaming thread stays preempted
// inside it on a busy one. Nothing that a host can see through DirectShow tells when the
// pipeline has settled, and on Windows the reader's pins are settled when Load returns, so the
// player reports the graph's result unchanged and the tests, as the host, open again.
//
// Only those two results lead to another attempt, a bounded number of times; any other result
// (success, refusal of the name, a failure of another kind) is returned at once, and a file that
// cannot be connected fails every attempt.
#include <windows.h>
#include <vfwmsgs.h>
#include <stdio.h>

namespace playback {

constexpr int kOpenAttempts = 5;

inline bool IsReaderRaceResult(HRESULT hr) { return hr == VFW_E_CANNOT_CONNECT || hr == VFW_E_CANNOT_RENDER; }

// `open` makes one attempt (it must leave nothing behind that a further attempt would trip
// over) and returns its HRESULT. `raced`, when given, counts the attempts that met the race.
template <typename OpenOnce>
HRESULT OpenDespiteReaderRace(OpenOnce open, int* raced = nullptr) {
  HRESULT hr = open();
  for (int attempt = 1; attempt < kOpenAttempts && IsReaderRaceResult(hr); ++attempt) {
    if (raced) ++*raced;
    hr = open();
  }
  if (raced && IsReaderRaceResult(hr)) ++*raced;
  return hr;
}

// Tells in the test's output how often opening `name` met the race (nothing when it did not).
inline void ReportReaderRace(const wchar_t* name, int raced) {
  if (raced == 0) return;
  printf("note: opening %ls failed %d time(s) with the reader's pins not settled yet\n", name, raced);
  fflush(stdout);
}

}  // namespace playback
