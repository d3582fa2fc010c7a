#include "media/gdiplussession.h"

#include <windows.h>
#include <gdiplus.h>

namespace zelvora {
namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
long g_users = 0;
ULONG_PTR g_token = 0;
}  // namespace

void GdiplusAcquire() {
  AcquireSRWLockExclusive(&g_lock);
  if (g_users++ == 0) {
    // Version 1, no debug callback, background thread and external codecs not suppressed.
    Gdiplus::GdiplusStartupInput input;
    // A failed start is not reported here: snapshots then fail on their own.
    if (Gdiplus::GdiplusStartup(&g_token, &input, nullptr) != Gdiplus::Ok) g_token = 0;
  }
  ReleaseSRWLockExclusive(&g_lock);
}

void GdiplusRelease() {
  AcquireSRWLockExclusive(&g_lock);
  if (g_users > 0 && --g_users == 0 && g_token != 0) {
    Gdiplus::GdiplusShutdown(g_token);
    g_token = 0;
  }
  ReleaseSRWLockExclusive(&g_lock);
}

long GdiplusUsers() {
  AcquireSRWLockShared(&g_lock);
  long users = g_users;
  ReleaseSRWLockShared(&g_lock);
  return users;
}

}  // namespace zelvora
