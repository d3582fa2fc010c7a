// main() of every test program: a single-threaded apartment on the main thread, as hosts have.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int result = RUN_ALL_TESTS();
  fflush(stdout);
  fflush(stderr);
  CoUninitialize();
  return result;
}
