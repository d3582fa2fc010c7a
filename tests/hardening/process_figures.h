#pragma once

// What a long-running host would watch for leaks: the process's private bytes, its handles (with
// the registry keys counted apart) and its threads. Under Wine GetProcessHandleCount answers 0 and
// PROCESS_MEMORY_COUNTERS_EX::PrivateUsage is 0, so handles come from the system handle table and
// private bytes from the commit charge (PagefileUsage, which Windows reports as the same value).
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace hardening {

struct ProcessFigures {
  SIZE_T privateBytes = 0;
  long handles = 0;       // every handle of the process
  long registryKeys = 0;  // of which registry keys
  long threads = 0;
  long OtherHandles() const { return handles - registryKeys; }
};

namespace detail {

// Handles of this process in the system handle table; those of the object type of `sample` go to
// *ofSampleType. 0 when the table cannot be read.
inline long HandlesFromSystemTable(HANDLE sample, long* ofSampleType) {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
  QueryFn query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  *ofSampleType = 0;
  if (!query) return 0;
  std::vector<BYTE> buffer(1 << 20);
  const DWORD pid = GetCurrentProcessId();
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const LONG status =
        query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
      const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG));
      int sampleType = -1;
      for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == pid && entries[i].value == static_cast<USHORT>(reinterpret_cast<UINT_PTR>(sample)))
          sampleType = entries[i].objectType;
      long mine = 0;
      for (ULONG i = 0; i < count; ++i) {
        if (entries[i].ownerPid != pid) continue;
        ++mine;
        if (entries[i].objectType == sampleType) ++*ofSampleType;
      }
      return mine;
    }
    buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
  }
  return 0;
}

inline long ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  long threads = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  const DWORD pid = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == pid) ++threads;
  CloseHandle(snapshot);
  return threads;
}

}  // namespace detail

inline ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters)))
    figures.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  // A registry key of our own tells which object type number registry keys have.
  HKEY sample = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &sample);
  long keys = 0;
  long handles = detail::HandlesFromSystemTable(sample, &keys);
  if (sample) RegCloseKey(sample);
  if (handles > 0) {
    handles -= 1;  // the sample key itself
    keys -= 1;
  } else {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    handles = static_cast<long>(count);
    keys = 0;
  }
  figures.handles = handles;
  figures.registryKeys = keys;
  figures.threads = detail::ThreadsOfThisProcess();
  return figures;
}

}  // namespace hardening
