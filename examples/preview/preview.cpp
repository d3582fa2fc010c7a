// Zelvora preview host: a small Win32 program that shows the live picture of the first camera.
//
// Each frame reaches the window as message 0x13A8 (WM_RENDER_FRAME), sent from the component's
// streaming thread and handled on the window's thread; the handler draws it with StretchDIBits.
// Graph events arrive as message 0x8002 and are read with OnGraphError.
//
// Keys (also in the Camera menu):
//   S  snapshot (snapshot-NNN.jpg in the current folder)
//   R  start or stop a recording (recording-NNN.wmv)
//   P  pause or run the preview
//   V  the camera's property pages;  A  the microphone's property pages
//   B / Shift+B  brightness up / down;  E / Shift+E  exposure;  Z / Shift+Z  zoom
//                (one step of the control; the new value is shown in the title and on stdout)
//   Esc  quit
//
// Options: --camera NAME, --size WxH (default 640x480), --at X,Y (window position),
//          --report FILE (writes the client area's place on the screen once 30 frames are drawn),
//          --quit-after MS (closes itself; for unattended runs).
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "Zelvora.h"

namespace {

enum Command : UINT {
  kSnapshot = 101,
  kRecord,
  kPauseRun,
  kVideoPages,
  kAudioPages,
  kQuit,
  kBrightnessUp,
  kBrightnessDown,
  kExposureUp,
  kExposureDown,
  kZoomUp,
  kZoomDown,
};

constexpr UINT_PTR kTitleTimer = 1;
constexpr UINT_PTR kQuitTimer = 2;
constexpr LONG kReportAfterFrames = 30;

unsigned short* U(const wchar_t* text) { return reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(text)); }

struct Options {
  std::wstring camera;
  int width = 640;
  int height = 480;
  int x = CW_USEDEFAULT;
  int y = CW_USEDEFAULT;
  std::wstring report;
  DWORD quitAfter = 0;
};

struct Host {
  Options options;
  HWND window = nullptr;
  IIZelvora* camera = nullptr;
  ICameraMode* modes = nullptr;  // the camera controls
  std::wstring cameraName = L"(first camera)";
  bool hasMicrophone = false;
  bool paddedRows = false;  // RGB24 frames keep rows padded to 4 bytes; converted frames do not
  bool recording = false;
  int snapshots = 0;
  int recordings = 0;
  std::wstring status;  // the last event or command, shown in the title

  // The last frame, in the layout StretchDIBits wants (rows padded to 4 bytes).
  BITMAPINFO bitmap = {};
  std::vector<unsigned char> pixels;
  LONG frames = 0;
  LONG framesAtLastTitle = 0;
  DWORD lastTitleTick = 0;
  double rate = 0;
  bool reported = false;
};

Host g_host;

// ---- devices ----

std::vector<std::wstring> g_names;
void __cdecl CollectName(int, const unsigned short* name, int) {
  g_names.push_back(name ? reinterpret_cast<const wchar_t*>(name) : L"");
}

std::vector<std::wstring> List(IDevice* devices, bool cameras) {
  CallbackCell cell = reinterpret_cast<CallbackCell>(&CollectName);
  g_names.clear();
  if (cameras) {
    devices->EnumCameraDevice(&cell);
  } else {
    devices->EnumAudioInputDevice(&cell);
  }
  return g_names;
}

// ---- drawing ----

void KeepFrame(const RenderFrame* frame) {
  if (!frame || !frame->data || frame->width <= 0 || frame->height <= 0) return;
  const int width = frame->width;
  const int height = frame->height;
  const size_t padded = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  const size_t given = g_host.paddedRows ? padded : static_cast<size_t>(width) * 3;
  g_host.pixels.resize(padded * height);
  if (given == padded) {
    memcpy(g_host.pixels.data(), frame->data, padded * height);
  } else {
    for (int y = 0; y < height; ++y) memcpy(&g_host.pixels[y * padded], frame->data + y * given, given);
  }
  BITMAPINFOHEADER& info = g_host.bitmap.bmiHeader;
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom row first, as the component delivers
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
}

void Draw(HDC dc) {
  RECT client;
  GetClientRect(g_host.window, &client);
  if (g_host.pixels.empty()) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return;
  }
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, g_host.bitmap.bmiHeader.biWidth,
                g_host.bitmap.bmiHeader.biHeight, g_host.pixels.data(), &g_host.bitmap, DIB_RGB_COLORS, SRCCOPY);
}

void UpdateTitle() {
  unsigned long state = 0;
  if (g_host.camera) g_host.camera->GetCurrentCameraState(&state);
  static const wchar_t* const kStates[] = {L"no camera", L"running", L"paused", L"stopped"};
  wchar_t title[512];
  swprintf(title, 512, L"Zelvora preview - %ls - %ls - %.1f frames/s%ls%ls%ls", g_host.cameraName.c_str(),
           state < 4 ? kStates[state] : L"?", g_host.rate, g_host.recording ? L" - recording" : L"",
           g_host.status.empty() ? L"" : L" - ", g_host.status.c_str());
  SetWindowTextW(g_host.window, title);
}

// Writes where the picture is on the screen, for a test that takes a screenshot.
void Report() {
  if (g_host.reported || g_host.options.report.empty()) return;
  g_host.reported = true;
  RECT client;
  GetClientRect(g_host.window, &client);
  POINT origin = {0, 0};
  ClientToScreen(g_host.window, &origin);
  // Written whole under another name first: a reader never sees half of it.
  const std::wstring part = g_host.options.report + L".part";
  FILE* file = _wfopen(part.c_str(), L"w");
  if (!file) return;
  RECT window;
  GetWindowRect(g_host.window, &window);
  fprintf(file, "window %ld %ld %ld %ld\n", window.left, window.top, window.right, window.bottom);
  fprintf(file, "client %ld %ld %ld %ld\nframe %d %d\nframes %ld\n", origin.x, origin.y, client.right, client.bottom,
          static_cast<int>(g_host.bitmap.bmiHeader.biWidth), static_cast<int>(g_host.bitmap.bmiHeader.biHeight),
          g_host.frames);
  fclose(file);
  MoveFileExW(part.c_str(), g_host.options.report.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// ---- commands ----

// One step of a camera control up (+1) or down (-1), in manual mode, kept within its range. A
// camera without the control is reported in the title.
std::wstring StepControl(long control, const wchar_t* label, int direction) {
  wchar_t text[160];
  CameraControlInfo range = {};
  HRESULT hr = g_host.modes ? g_host.modes->GetControlRange(control, &range) : E_NOINTERFACE;
  long value = 0, flags = 0;
  if (SUCCEEDED(hr)) hr = g_host.modes->GetControlValue(control, &value, &flags);
  if (FAILED(hr)) {
    swprintf(text, 160, L"no %ls control (0x%08lx)", label, static_cast<unsigned long>(hr));
  } else {
    long next = value + direction * (range.nStep > 0 ? range.nStep : 1);
    if (next > range.nMaximum) next = range.nMaximum;
    if (next < range.nMinimum) next = range.nMinimum;
    hr = g_host.modes->SetControlValue(control, next, ZELVORA_CONTROL_MANUAL);
    if (SUCCEEDED(hr)) g_host.modes->GetControlValue(control, &value, &flags);
    swprintf(text, 160, L"%ls %ld (%ld..%ld)%ls", label, value, range.nMinimum, range.nMaximum,
             SUCCEEDED(hr) ? L"" : L" - refused");
  }
  printf("%ls\n", text);
  fflush(stdout);
  return text;
}

void Run(UINT command) {
  IIZelvora* camera = g_host.camera;
  if (!camera && command != kQuit) return;
  wchar_t text[MAX_PATH];
  switch (command) {
    case kSnapshot:
      swprintf(text, MAX_PATH, L"snapshot-%03d.jpg", ++g_host.snapshots);
      camera->TakeSnap(U(text));  // written from the next frame
      g_host.status = std::wstring(L"snapshot ") + text;
      break;
    case kRecord:
      if (g_host.recording) {
        const HRESULT hr = camera->StopCapture();
        swprintf(text, MAX_PATH, L"recording stopped (0x%08lx)", static_cast<unsigned long>(hr));
        g_host.recording = false;
      } else {
        swprintf(text, MAX_PATH, L"recording-%03d.wmv", ++g_host.recordings);
        camera->StartCapture2(U(text), 1.0);  // S_OK whatever the start did
        g_host.recording = true;
        g_host.status = std::wstring(L"recording to ") + text;
        break;
      }
      g_host.status = text;
      break;
    case kPauseRun: {
      unsigned long state = 0;
      camera->GetCurrentCameraState(&state);
      const HRESULT hr = state == 1 ? camera->GraphPause() : camera->GraphPlay();
      swprintf(text, MAX_PATH, L"%ls (0x%08lx)", state == 1 ? L"paused" : L"running", static_cast<unsigned long>(hr));
      g_host.status = text;
      break;
    }
    case kVideoPages:
    case kAudioPages: {
      // Modal: returns when the frame is closed. Frames go on arriving meanwhile.
      const HRESULT hr = command == kVideoPages ? camera->VideoConfig() : camera->AudioConfig();
      g_host.status = hr == S_FALSE ? (command == kVideoPages ? L"no camera open" : L"no microphone open") : L"";
      break;
    }
    case kBrightnessUp:
    case kBrightnessDown:
      g_host.status = StepControl(ZELVORA_CONTROL_BRIGHTNESS, L"brightness", command == kBrightnessUp ? 1 : -1);
      break;
    case kExposureUp:
    case kExposureDown:
      g_host.status = StepControl(ZELVORA_CONTROL_EXPOSURE, L"exposure", command == kExposureUp ? 1 : -1);
      break;
    case kZoomUp:
    case kZoomDown:
      g_host.status = StepControl(ZELVORA_CONTROL_ZOOM, L"zoom", command == kZoomUp ? 1 : -1);
      break;
    case kQuit:
      DestroyWindow(g_host.window);
      return;
  }
  UpdateTitle();
}

HMENU BuildMenu() {
  HMENU bar = CreateMenu();
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kSnapshot, L"&Snapshot\tS");
  AppendMenuW(menu, MF_STRING, kRecord, L"&Record start/stop\tR");
  AppendMenuW(menu, MF_STRING, kPauseRun, L"&Pause/run\tP");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kVideoPages, L"&Video properties...\tV");
  AppendMenuW(menu, MF_STRING, kAudioPages, L"&Audio properties...\tA");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kBrightnessUp, L"&Brightness up\tB");
  AppendMenuW(menu, MF_STRING, kBrightnessDown, L"Brightness down\tShift+B");
  AppendMenuW(menu, MF_STRING, kExposureUp, L"&Exposure up\tE");
  AppendMenuW(menu, MF_STRING, kExposureDown, L"Exposure down\tShift+E");
  AppendMenuW(menu, MF_STRING, kZoomUp, L"&Zoom in\tZ");
  AppendMenuW(menu, MF_STRING, kZoomDown, L"Zoom out\tShift+Z");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kQuit, L"E&xit\tEsc");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), L"&Camera");
  return bar;
}

HACCEL BuildAccelerators() {
  ACCEL keys[] = {{FVIRTKEY, 'S', kSnapshot},   {FVIRTKEY, 'R', kRecord},     {FVIRTKEY, 'P', kPauseRun},
                  {FVIRTKEY, 'V', kVideoPages}, {FVIRTKEY, 'A', kAudioPages}, {FVIRTKEY, VK_ESCAPE, kQuit},
                  {FVIRTKEY, 'B', kBrightnessUp}, {FVIRTKEY | FSHIFT, 'B', kBrightnessDown},
                  {FVIRTKEY, 'E', kExposureUp},   {FVIRTKEY | FSHIFT, 'E', kExposureDown},
                  {FVIRTKEY, 'Z', kZoomUp},       {FVIRTKEY | FSHIFT, 'Z', kZoomDown}};
  return CreateAcceleratorTableW(keys, sizeof(keys) / sizeof(keys[0]));
}

// ---- the window ----

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_RENDER_FRAME: {
      // Sent from the streaming thread, which waits until this returns: copy, draw, return.
      // The record and its data are valid only during this message.
      KeepFrame(reinterpret_cast<const RenderFrame*>(wParam));
      HDC dc = GetDC(hwnd);
      Draw(dc);
      ReleaseDC(hwnd, dc);
      if (++g_host.frames >= kReportAfterFrames) Report();
      return 0;
    }
    case WM_ZELVORA_GRAPHNOTIFY: {
      // Posted by the graph while events wait; OnGraphError drains them.
      unsigned long result = 0, detail = 0;
      if (!g_host.camera || FAILED(g_host.camera->OnGraphError(&result, &detail))) return 0;
      // 0x1F: a device was lost (byte 0: 1 camera, 0 microphone) or is back (byte 1 = 1);
      // 3: an error stopped the graph; 0: nothing of interest.
      const unsigned camera = detail & 0xFF, back = (detail >> 8) & 0xFF;
      if (result == 0x1F) {
        g_host.status = back ? L"device available again" : camera ? L"camera lost" : L"microphone lost";
      } else if (result == 3) {
        g_host.status = L"the graph stopped on an error";
      }
      if (result) UpdateTitle();
      return 0;
    }
    case WM_TIMER:
      if (wParam == kQuitTimer) {
        DestroyWindow(hwnd);
      } else {
        const DWORD now = GetTickCount();
        const DWORD elapsed = now - g_host.lastTitleTick;
        if (elapsed) g_host.rate = (g_host.frames - g_host.framesAtLastTitle) * 1000.0 / elapsed;
        g_host.framesAtLastTitle = g_host.frames;
        g_host.lastTitleTick = now;
        UpdateTitle();
      }
      return 0;
    case WM_COMMAND:
      Run(LOWORD(wParam));
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      Draw(dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the picture covers the client area
    case WM_DESTROY:
      KillTimer(hwnd, kTitleTimer);
      KillTimer(hwnd, kQuitTimer);
      if (g_host.modes) {
        g_host.modes->Release();
        g_host.modes = nullptr;
      }
      if (g_host.camera) {
        // Stops the graph; frames waiting for this thread are let through first.
        g_host.camera->ReleaseCamera();
        g_host.camera->Release();
        g_host.camera = nullptr;
      }
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

Options ParseOptions() {
  Options options;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; argv && i + 1 < argc; i += 2) {
    const std::wstring name = argv[i];
    const wchar_t* value = argv[i + 1];
    if (name == L"--camera") {
      options.camera = value;
    } else if (name == L"--size") {
      swscanf(value, L"%dx%d", &options.width, &options.height);
    } else if (name == L"--at") {
      swscanf(value, L"%d,%d", &options.x, &options.y);
    } else if (name == L"--report") {
      options.report = value;
    } else if (name == L"--quit-after") {
      options.quitAfter = static_cast<DWORD>(_wtoi(value));
    }
  }
  LocalFree(argv);
  return options;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  g_host.options = ParseOptions();
  const Options& options = g_host.options;

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.lpszClassName = L"ZelvoraPreviewHost";
  RegisterClassW(&wc);

  // A client area of exactly the frame size: each pixel drawn once.
  HMENU menu = BuildMenu();
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame = {0, 0, options.width, options.height};
  AdjustWindowRect(&frame, style, TRUE);
  g_host.window = CreateWindowExW(0, wc.lpszClassName, L"Zelvora preview", style, options.x, options.y,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, menu, instance, nullptr);
  if (!g_host.window) {
    CoUninitialize();
    return 1;
  }

  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(&g_host.camera));
  if (FAILED(hr)) {
    MessageBoxW(g_host.window, L"Zelvora.dll is not registered (regsvr32 Zelvora.dll).", L"Zelvora preview",
                MB_ICONERROR);
    DestroyWindow(g_host.window);
    CoUninitialize();
    return 1;
  }

  // Camera controls (an older component without them: the keys report that).
  g_host.camera->QueryInterface(IID_ICameraMode, reinterpret_cast<void**>(&g_host.modes));

  // The camera: by name, or the first one; the first microphone with it, for recordings.
  IDevice* devices = nullptr;
  std::wstring microphone;
  if (SUCCEEDED(g_host.camera->QueryInterface(IID_IDevice, reinterpret_cast<void**>(&devices)))) {
    const std::vector<std::wstring> cameras = List(devices, true);
    const std::vector<std::wstring> microphones = List(devices, false);
    devices->Release();
    if (!options.camera.empty()) {
      g_host.cameraName = options.camera;
    } else if (!cameras.empty()) {
      g_host.cameraName = cameras.front();
    }
    if (!microphones.empty()) microphone = microphones.front();
  }
  g_host.camera->SetRenderWnd(g_host.window);
  const unsigned short* name = g_host.cameraName == L"(first camera)" ? nullptr : U(g_host.cameraName.c_str());
  hr = microphone.empty()
           ? g_host.camera->LoadCameraXY(const_cast<unsigned short*>(name), options.width, options.height)
           : g_host.camera->LoadCameraWithAudio(const_cast<unsigned short*>(name), options.width, options.height,
                                                U(microphone.c_str()));
  g_host.hasMicrophone = !microphone.empty();
  g_host.camera->SetNotifyWnd(g_host.window);  // the graph exists once a load has run
  if (hr != S_OK) {
    wchar_t text[64];
    swprintf(text, 64, L"load failed (0x%08lx)", static_cast<unsigned long>(hr));
    g_host.status = text;
  }
  // Which frames come with padded rows: the component prefers RGB24 at the requested size.
  wchar_t sizes[2048] = {};
  if (SUCCEEDED(g_host.camera->EnumSupportXy(U(L"RGB24"), U(sizes)))) {
    wchar_t wanted[32];
    swprintf(wanted, 32, L"%d*%d;", options.width, options.height);
    g_host.paddedRows = wcsstr(sizes, wanted) != nullptr;
  }

  ShowWindow(g_host.window, show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(g_host.window);
  SetTimer(g_host.window, kTitleTimer, 1000, nullptr);
  if (options.quitAfter) SetTimer(g_host.window, kQuitTimer, options.quitAfter, nullptr);
  g_host.lastTitleTick = GetTickCount();
  UpdateTitle();

  HACCEL keys = BuildAccelerators();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorW(g_host.window, keys, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DestroyAcceleratorTable(keys);
  CoUninitialize();
  return 0;
}
