#pragma once

// The Windows Media files that tests/playback/make-media.sh makes before the tests run, and
// helpers to compare decoded pictures with ffmpeg's own decode of the same file.
//
// Files (in ZELVORA_PLAYBACK_MEDIA, a directory of the build tree):
//   video.wmv      352x288, 15 fps, 30 pictures, no audio (also as UPPER.WMV, video.asf,
//                  video.asf.bak); video-1.bgr, video-2.bgr, video-30.bgr: pictures 1, 2 and 30
//                  decoded by ffmpeg, 24-bit BGR, bottom row first
//   av.wmv         352x288 pictures and a sine tone
//   audio.wma      a sine tone only
//   small.wmv      160x120, 15 pictures; padded.wmv 162x120 (24-bit rows need padding)
//   twovideo.asf   two 160x120 picture streams
//   clip.mp4       not a Windows Media file
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#ifndef ZELVORA_PLAYBACK_MEDIA
#error "ZELVORA_PLAYBACK_MEDIA must name the directory of the test media (see tests/playback/media.cmake)"
#endif

namespace playback {

constexpr int kVideoWidth = 352;
constexpr int kVideoHeight = 288;
constexpr int kVideoPictures = 30;
constexpr size_t kVideoBytes = static_cast<size_t>(kVideoWidth) * kVideoHeight * 3;

// Windows path of a media file: drive Z: is the root of the build machine.
inline std::wstring MediaPath(const wchar_t* name) {
  std::wstring path = L"Z:";
  for (const char* c = ZELVORA_PLAYBACK_MEDIA; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  path += L'\\';
  path += name;
  return path;
}

inline std::vector<unsigned char> ReadMediaFile(const wchar_t* name) {
  std::vector<unsigned char> bytes;
  FILE* file = _wfopen(MediaPath(name).c_str(), L"rb");
  if (!file) return bytes;
  unsigned char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  return bytes;
}

// How far two pictures of the same size lie apart, per byte.
struct PictureDifference {
  double mean = 0;
  int max = 0;
};

inline PictureDifference Compare(const unsigned char* a, const unsigned char* b, size_t bytes) {
  PictureDifference d;
  double sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const int diff = abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    sum += diff;
    if (diff > d.max) d.max = diff;
  }
  d.mean = bytes ? sum / static_cast<double>(bytes) : 0;
  return d;
}

}  // namespace playback
