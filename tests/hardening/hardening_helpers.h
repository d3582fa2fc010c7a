#pragma once

// Shared pieces of the hardening tests: run lengths from the environment (the default run is
// short; tests/hardening/longrun.sh sets long ones), a scratch folder, the camera state, and the
// figures a long-running host would watch.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "support/preview_helpers.h"
#include "hardening/process_figures.h"

namespace hardening {

using Microsoft::WRL::ComPtr;

// A count from the environment (Wine passes the Unix environment on), or `fallback`.
inline long EnvNumber(const char* name, long fallback) {
  const char* text = getenv(name);
  if (!text || !*text) return fallback;
  return strtol(text, nullptr, 0);
}

inline unsigned long StateOf(IIZelvora* camera) {
  unsigned long state = 99;
  camera->GetCurrentCameraState(&state);
  return state;
}

// A folder of the test's own under the temporary folder, removed with what is in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* tag) {
    WCHAR temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path = std::wstring(temp) + L"zelvora-" + tag + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~ScratchFolder() {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((path + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::wstring File(const std::wstring& name) const { return path + L"\\" + name; }
  std::wstring path;
};

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void PrintFigures(const char* label, const ProcessFigures& f, const ProcessFigures* base = nullptr) {
  if (base)
    printf("%-34s private %.2f MB (%+.3f MB), handles %ld (%+ld: registry keys %+ld, other %+ld), threads %ld (%+ld)\n",
           label, f.privateBytes / 1048576.0, (static_cast<double>(f.privateBytes) - base->privateBytes) / 1048576.0,
           f.handles, f.handles - base->handles, f.registryKeys - base->registryKeys,
           f.OtherHandles() - base->OtherHandles(), f.threads, f.threads - base->threads);
  else
    printf("%-34s private %.2f MB, handles %ld (registry keys %ld), threads %ld\n", label,
           f.privateBytes / 1048576.0, f.handles, f.registryKeys, f.threads);
  fflush(stdout);
}

// Threads settle a moment after the objects that used them have gone (the platform's worker
// threads end on their own): wait until the count is back at `at most` or `ms` have passed.
inline ProcessFigures SettledFigures(long threadsAtMost, DWORD ms = 3000) {
  const DWORD start = GetTickCount();
  ProcessFigures f = ReadProcessFigures();
  while (f.threads > threadsAtMost && GetTickCount() - start < ms) {
    previewtest::PumpUntil(50);
    f = ReadProcessFigures();
  }
  return f;
}

}  // namespace hardening
