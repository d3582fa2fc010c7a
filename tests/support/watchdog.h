#pragma once

#include <windows.h>
#include <stdio.h>

#include <string>

namespace testsupport {

// Ends the process with a failure when the scope is not left within `seconds`: a hang in a test
// becomes a failed run instead of a run that never ends.
class Watchdog {
 public:
  Watchdog(const char* what, DWORD seconds) : m_what(what), m_ms(seconds * 1000) {
    m_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr);
  }
  ~Watchdog() {
    SetEvent(m_done);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    CloseHandle(m_done);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Run(void* self) {
    Watchdog* w = static_cast<Watchdog*>(self);
    if (WaitForSingleObject(w->m_done, w->m_ms) == WAIT_TIMEOUT) {
      fprintf(stderr, "\nWATCHDOG: \"%s\" did not finish within %lu s: the test hangs; failing the run.\n",
              w->m_what.c_str(), static_cast<unsigned long>(w->m_ms / 1000));
      fflush(stderr);
      fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 99);
    }
    return 0;
  }
  std::string m_what;
  DWORD m_ms;
  HANDLE m_done = nullptr;
  HANDLE m_thread = nullptr;
};

}  // namespace testsupport
