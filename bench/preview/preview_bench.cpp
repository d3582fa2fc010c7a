// Live preview benchmark, through the registered Zelvora.dll and the virtual cameras, as a host
// sees it: a message-only render window on the main thread (pumped) and a render callback.
//
//   1. Delivery: over 10 s, the share of the frames that the camera delivered which reached the
//      host's render callback (YUY2 1080p60, I420 480p30, and MJPG 1080p30 decoded in the frame path).
//   2. CPU per frame: the process's CPU time per frame with frame handling on, against the same
//      graph with frame handling switched off (SetNeedReleaseFrame(1), the anchor); the
//      difference is what the component spends per frame. Medians of 1-s slices.
//   3. Time from LoadCameraXY to the first frame at the callback (median of 15 loads).
//   4. Private bytes and handle count before and after 500 load/release cycles.
//
// Run (after the test devices and the DLL are registered in the prefix, as the ctest fixtures
// or ./run.sh demo do):
//   ninja -C build zelvora_preview_bench && testenv/winerun build build/bin/zelvora_preview_bench.exe [cycles]
#include <windows.h>
#include <winternl.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include <wrl/client.h>

#include "Zelvora.h"
#include "media/pixel/yuvconvert.h"
#include "testdevices.h"

#include <uuids.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT kRenderMessage = 0x13A8;

volatile LONG g_callbacks = 0;
volatile LONG g_firstFrameArmed = 0;
LARGE_INTEGER g_firstFrame = {};

void __cdecl OnFrame(RenderFrame*, int, int) {
  InterlockedIncrement(&g_callbacks);
  // Stamped before the flag drops to 0: the waiting thread reads the stamp only then (2: stamping).
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (InterlockedCompareExchange(&g_firstFrameArmed, 2, 1) == 1) {
    g_firstFrame = now;
    InterlockedExchange(&g_firstFrameArmed, 0);
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRenderMessage) return 0;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template <typename Fn>
Fn DevicesExport(const char* name) {
  HMODULE module = GetModuleHandleW(ZVD_DLL_NAME);
  if (!module) module = LoadLibraryW(ZVD_DLL_NAME);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Samples the camera's capture pin delivered to the graph since its last start.
ULONG Delivered(const wchar_t* name) {
  auto list = DevicesExport<ZvdGetLiveDevicesFn>("ZvdGetLiveDevices");
  if (!list) return 0;
  IZelvoraDeviceControl* devices[16] = {};
  ULONG count = 0, delivered = 0;
  if (FAILED(list(devices, 16, &count))) return 0;
  for (ULONG i = 0; i < count && i < 16; ++i) {
    ULONG kind = 0;
    WCHAR identity[128] = {};
    ZvdPinStats stats = {};
    if (SUCCEEDED(devices[i]->GetIdentity(&kind, identity, 128)) && wcscmp(identity, name) == 0 &&
        SUCCEEDED(devices[i]->GetPinStats(PIN_CATEGORY_CAPTURE, &stats)) && stats.connected)
      delivered = stats.samplesDelivered;
    devices[i]->Release();
  }
  return delivered;
}

struct Case {
  const wchar_t* instance;
  const wchar_t* name;
  const wchar_t* formats;
  int width, height, fps;
  const char* label;
};

// Runs the preview for `ms`: CPU ms per frame the camera delivered, frames delivered, callbacks.
double Segment(const Case& c, DWORD ms, ULONG* delivered, LONG* callbacks) {
  const ULONG d0 = Delivered(c.name);
  const LONG c0 = g_callbacks;
  const double cpu0 = ProcessCpuSeconds();
  Pump(ms);
  const double cpu1 = ProcessCpuSeconds();
  *delivered = Delivered(c.name) - d0;
  *callbacks = g_callbacks - c0;
  return *delivered ? (cpu1 - cpu0) * 1000.0 / *delivered : 0;
}

// The anchor for the CPU per frame: converting one frame of the case's size into the kept
// picture buffer, as the frame handler does, alone (median of 60, warm).
double ConversionMs(const Case& c) {
  if (wcsstr(c.formats, L"MJPG")) return 0;  // a decode: see the MJPG benchmark
  const bool yuy2 = wcsstr(c.formats, L"YUY2") != nullptr;
  const size_t source = yuy2 ? zelvora::Yuy2SourceBytes(c.width, c.height) : zelvora::I420SourceBytes(c.width, c.height);
  std::vector<uint8_t> in(source, 0x80), out(zelvora::BgrPictureBytes(c.width, c.height));
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7);
  std::vector<double> times;
  for (int i = 0; i < 60; ++i) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    if (yuy2)
      zelvora::Yuy2ToBgr(in.data(), c.width, c.height, out.data());
    else
      zelvora::I420ToBgr(in.data(), c.width, c.height, out.data());
    QueryPerformanceCounter(&b);
    times.push_back(Seconds(a, b) * 1000.0);
  }
  return Median(times);
}

void RunDelivery(IIZelvora* camera, HWND window, const Case& c) {
  CallbackCell cell = reinterpret_cast<CallbackCell>(&OnFrame);
  camera->SetRenderCallbackFun(&cell);
  camera->SetNeedReleaseFrame(0);
  HRESULT hr = camera->LoadCameraXY(reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(c.name)), c.width, c.height);
  if (hr != S_OK) {
    printf("%s: LoadCameraXY failed 0x%08lx\n", c.label, static_cast<unsigned long>(hr));
    return;
  }
  Pump(500);  // settle
  ULONG delivered = 0;
  LONG callbacks = 0;
  const double cpu10 = Segment(c, 10000, &delivered, &callbacks);
  const double share = delivered ? 100.0 * callbacks / delivered : 0;
  printf("%-22s delivered %5lu in 10 s (%.1f/s, nominal %d/s), at the callback %5ld: %.2f%% (target >= 99.5%%)\n",
         c.label, static_cast<unsigned long>(delivered), delivered / 10.0, c.fps, callbacks, share);

  // CPU per frame, frame handling on against off (the anchor: the same graph and host, the
  // component dropping every frame at once), alternating 4-s segments, 5 rounds.
  // A third segment without the render window tells what the window message costs.
  std::vector<double> on, off, diff, callbackOnly;
  for (int round = 0; round < 5; ++round) {
    ULONG d = 0;
    LONG cb = 0;
    camera->SetNeedReleaseFrame(1);
    Pump(200);
    const double a = Segment(c, 4000, &d, &cb);
    camera->SetNeedReleaseFrame(0);
    Pump(200);
    const double b = Segment(c, 4000, &d, &cb);
    camera->SetRenderWnd(nullptr);
    Pump(200);
    const double e = Segment(c, 4000, &d, &cb);
    camera->SetRenderWnd(window);
    off.push_back(a);
    on.push_back(b);
    diff.push_back(b - a);
    callbackOnly.push_back(e - a);
  }
  camera->ReleaseCamera();
  printf("%-22s process CPU per frame (ms), median of 5 rounds: handling on %.3f, off (anchor) %.3f,\n"
         "%-22s component %.3f ms per frame (target < 1 ms at 1080p); first 10 s on: %.3f;\n"
         "%-22s callback only, no render window: %.3f ms; the conversion alone (median of 60, warm): %.3f ms\n",
         c.label, Median(on), Median(off), "", Median(diff), cpu10, "", Median(callbackOnly), ConversionMs(c));
  fflush(stdout);
}

void RunFirstFrame(IIZelvora* camera, const Case& c, int loads) {
  CallbackCell cell = reinterpret_cast<CallbackCell>(&OnFrame);
  camera->SetRenderCallbackFun(&cell);
  std::vector<double> times;
  for (int i = 0; i < loads; ++i) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    InterlockedExchange(&g_firstFrameArmed, 1);
    HRESULT hr =
        camera->LoadCameraXY(reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(c.name)), c.width, c.height);
    const DWORD waitStart = GetTickCount();
    while (hr == S_OK && g_firstFrameArmed && GetTickCount() - waitStart < 5000) Pump(1);
    if (!g_firstFrameArmed) times.push_back(Seconds(start, g_firstFrame) * 1000.0);
    InterlockedExchange(&g_firstFrameArmed, 0);
    camera->ReleaseCamera();
  }
  std::sort(times.begin(), times.end());
  if (times.empty()) {
    printf("%-22s no first frame\n", c.label);
    return;
  }
  printf("%-22s LoadCameraXY to first frame: median %.1f ms (min %.1f, max %.1f, %u loads)\n", c.label,
         Median(times), times.front(), times.back(), static_cast<unsigned>(times.size()));
  fflush(stdout);
}

// Handles of this process from the system's handle table (Wine's GetProcessHandleCount answers 0):
// all of them, and those of the object type of `sample` (a registry key) in *ofSampleType.
DWORD HandlesFromSystemTable(HANDLE sample, DWORD* ofSampleType) {
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
  if (!query) return 0;
  std::vector<BYTE> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      // The entries follow the count at their own alignment (offset 8 on x64, 4 on x86).
      struct Table {
        ULONG count;
        Entry entries[1];
      };
      const Table* table = reinterpret_cast<const Table*>(buffer.data());
      const ULONG count = table->count;
      const Entry* entries = table->entries;
      DWORD mine = 0;
      int sampleType = -1;
      for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == GetCurrentProcessId() &&
            entries[i].value == static_cast<USHORT>(reinterpret_cast<UINT_PTR>(sample)))
          sampleType = entries[i].objectType;
      *ofSampleType = 0;
      for (ULONG i = 0; i < count; ++i) {
        if (entries[i].ownerPid != GetCurrentProcessId()) continue;
        ++mine;
        if (entries[i].objectType == sampleType) ++*ofSampleType;
      }
      return mine;
    }
    buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
  }
  return 0;
}

// Private bytes (commit charge) and handle count of this process, and how many handles are
// registry keys.
void Usage(SIZE_T* privateBytes, DWORD* handles, DWORD* keys) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  // Wine leaves PrivateUsage 0 and reports the commit charge as PagefileUsage (as Windows also does).
  *privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  HKEY sample = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &sample);
  *handles = HandlesFromSystemTable(sample, keys);
  if (sample) RegCloseKey(sample);
  if (*handles == 0) {
    GetProcessHandleCount(GetCurrentProcess(), handles);
    *keys = 0;
  } else {
    *handles -= 1;  // the sample key
    *keys -= 1;
  }
}

void RunCycles(IIZelvora* camera, const Case& c, int cycles) {
  auto cycle = [&] {
    camera->LoadCameraXY(reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(c.name)), c.width, c.height);
    Pump(0);
    camera->ReleaseCamera();
  };
  for (int i = 0; i < 10; ++i) cycle();  // first loads fill the platform's caches
  SIZE_T bytes0;
  DWORD handles0, keys0;
  Usage(&bytes0, &handles0, &keys0);
  printf("load/release cycles (%s): after 10 warm-up cycles: private %.1f MB, handles %lu (registry keys %lu)\n",
         c.label, bytes0 / 1048576.0, static_cast<unsigned long>(handles0), static_cast<unsigned long>(keys0));
  const DWORD start = GetTickCount();
  for (int i = 1; i <= cycles; ++i) {
    cycle();
    if (i % 100 == 0 || i == cycles) {
      SIZE_T bytes;
      DWORD handles, keys;
      Usage(&bytes, &handles, &keys);
      printf("  after %3d cycles: private %.1f MB (%+.2f MB), handles %lu (%+ld), of which registry keys %+ld,"
             " other handles %+ld\n",
             i, bytes / 1048576.0, (static_cast<double>(bytes) - static_cast<double>(bytes0)) / 1048576.0,
             static_cast<unsigned long>(handles), static_cast<long>(handles) - static_cast<long>(handles0),
             static_cast<long>(keys) - static_cast<long>(keys0),
             (static_cast<long>(handles) - static_cast<long>(keys)) - (static_cast<long>(handles0) - static_cast<long>(keys0)));
      fflush(stdout);
    }
  }
  printf("  %.1f ms per cycle\n", static_cast<double>(GetTickCount() - start) / cycles);
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? atoi(argv[1]) : 500;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    const Case cases[] = {
        {L"ZelvoraDev96 Bench1080", L"Zelvora Bench 1080p60 Camera", L"YUY2 1920x1080@60", 1920, 1080, 60,
         "1920x1080 YUY2 60 fps"},
        {L"ZelvoraDev97 Bench480", L"Zelvora Bench 480p30 Camera", L"I420 640x480@30", 640, 480, 30,
         "640x480 I420 30 fps"},
        // Opened by the sized load through the fallback policy: MJPG frames decoded in the frame path.
        {L"ZelvoraDev98 BenchMjpg", L"Zelvora Bench MJPG Camera", L"MJPG 1920x1080@30", 1920, 1080, 30,
         "1920x1080 MJPG 30 fps"},
    };
    auto add = DevicesExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
    auto remove = DevicesExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
    if (!add || !remove) {
      printf("the test devices are not available\n");
      return 1;
    }
    for (const Case& c : cases) add(ZVD_KIND_CAMERA, c.instance, c.name, c.formats, nullptr);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZelvoraPreviewBench";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);

    ComPtr<IIZelvora> camera;
    HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                  reinterpret_cast<void**>(camera.GetAddressOf()));
    if (FAILED(hr)) {
      printf("Zelvora.dll is not registered: 0x%08lx\n", static_cast<unsigned long>(hr));
      return 1;
    }
    camera->SetRenderWnd(window);
    ComPtr<ICameraMode> modes;
    if (SUCCEEDED(camera.As(&modes))) modes->SetLoadPolicy(ZELVORA_LOAD_FALLBACK_COMPRESSED);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    printf("zelvora_preview_bench: %lu processors, render window + callback on a pumping host thread\n",
           static_cast<unsigned long>(info.dwNumberOfProcessors));
    fflush(stdout);
    const bool cyclesOnly = argc > 2 && strcmp(argv[2], "cycles") == 0;
    if (!cyclesOnly) {
      for (const Case& c : cases) RunDelivery(camera.Get(), window, c);
      for (const Case& c : cases) RunFirstFrame(camera.Get(), c, 15);
    }
    RunCycles(camera.Get(), cases[1], cycles);

    camera.Reset();
    DestroyWindow(window);
    for (const Case& c : cases) remove(ZVD_KIND_CAMERA, c.instance);
  }
  CoUninitialize();
  fflush(stdout);
  return 0;
}
