// main() of every test program: a single-threaded apartment on the main thread, as hosts have.
//
// A guard thread ends the program when one test (or the program's own tear-down) takes longer
// than a limit, naming it: a hang then fails fast and says where it was, instead of running into
// the test runner's time-out, which loses the program's output. ZELVORA_TEST_LIMIT (seconds,
// default 300) sets the limit; the long runs raise it.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class HangGuard : public testing::EmptyTestEventListener {
 public:
  explicit HangGuard(DWORD limitSeconds) : m_limitMs(limitSeconds * 1000) {
    InitializeCriticalSection(&m_lock);
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &HangGuard::Run, this, 0, nullptr);
  }
  ~HangGuard() override {
    SetEvent(m_stop);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    CloseHandle(m_stop);
    DeleteCriticalSection(&m_lock);
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

  void Watch(const std::string& what) {
    EnterCriticalSection(&m_lock);
    m_what = what;
    m_since = GetTickCount();
    LeaveCriticalSection(&m_lock);
  }
  void OnTestStart(const testing::TestInfo& info) override {
    Watch(std::string(info.test_suite_name()) + "." + info.name());
  }
  void OnTestEnd(const testing::TestInfo&) override { Watch("between tests"); }

 private:
  static DWORD WINAPI Run(void* self) {
    HangGuard* g = static_cast<HangGuard*>(self);
    while (WaitForSingleObject(g->m_stop, 1000) == WAIT_TIMEOUT) {
      EnterCriticalSection(&g->m_lock);
      const bool late = GetTickCount() - g->m_since > g->m_limitMs;
      const std::string what = g->m_what;
      LeaveCriticalSection(&g->m_lock);
      if (!late) continue;
      fflush(stdout);
      fprintf(stderr, "\nHANG: %s did not finish within %lu s; ending the run.\n", what.c_str(),
              static_cast<unsigned long>(g->m_limitMs / 1000));
      fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 98);
    }
    return 0;
  }

  CRITICAL_SECTION m_lock;
  std::string m_what = "start-up";
  DWORD m_since = GetTickCount();
  DWORD m_limitMs;
  HANDLE m_stop = nullptr;
  HANDLE m_thread = nullptr;
};

DWORD TestLimitSeconds() {
  const char* text = getenv("ZELVORA_TEST_LIMIT");
  const long value = text ? strtol(text, nullptr, 10) : 0;
  return value > 0 ? static_cast<DWORD>(value) : 300;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    return 1;
  }
  // Owned by gtest's listener list once appended; it outlives every test.
  HangGuard* guard = new HangGuard(TestLimitSeconds());
  testing::UnitTest::GetInstance()->listeners().Append(guard);
  int result = RUN_ALL_TESTS();
  guard->Watch("the program's tear-down");
  fflush(stdout);
  fflush(stderr);
  CoUninitialize();
  return result;
}
