// Zelvora demo host: a console program that walks through what the component offers, on the
// first camera and the first microphone of the machine, and prints a summary of every step.
//
//   zelvora_demo.exe [output-folder [windows-media-file]]
//
// Steps: create the component; list cameras and microphones; open the first camera (with the
// first microphone) at 640x480; list its pixel formats and frame sizes and its camera controls
// (ranges, automatic/manual, current values); count frames for a few
// seconds; take a JPEG snapshot; record a few seconds; play a Windows Media file into a callback
// and extract one of its frames to a BMP file; then, through ICameraMode, list the cameras with
// their ids and the modes of a camera that offers MJPG, and open it at 1280x720 and 30 frames/s
// (the first camera offering such a mode). Every file goes to the output folder (default:
// "zelvora-demo" in the current folder). The exit code is 0 when every step succeeded.
//
// Frames arrive on a streaming thread: the render callback only counts them, and the main thread
// pumps its messages while it waits, so that the render window message (sent synchronously from
// the streaming thread) and the graph notifications are handled.
#include <windows.h>
#include <objbase.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "Zelvora.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr DWORD kCountMs = 3000;   // frame counting
constexpr DWORD kRecordMs = 3000;  // recording
constexpr int kExtractFrame = 10;  // the picture that LoadFrameFromFile extracts (1-based)
constexpr HRESULT kCannotConnect = static_cast<HRESULT>(0x80040217);  // VFW_E_CANNOT_CONNECT
constexpr HRESULT kCannotRender = static_cast<HRESULT>(0x80040218);   // VFW_E_CANNOT_RENDER

unsigned short* U(const wchar_t* text) { return reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(text)); }
unsigned short* U(const std::wstring& text) { return U(text.c_str()); }

// ---- what the callbacks see (streaming threads) ----

volatile LONG g_cameraFrames = 0;
volatile LONG g_cameraWidth = 0;
volatile LONG g_cameraHeight = 0;
volatile LONG g_playFrames = 0;
volatile LONG g_playWidth = 0;
volatile LONG g_playHeight = 0;

void __cdecl OnCameraFrame(RenderFrame* frame, int, int) {
  InterlockedIncrement(&g_cameraFrames);
  if (frame) {
    InterlockedExchange(&g_cameraWidth, frame->width);
    InterlockedExchange(&g_cameraHeight, frame->height);
  }
}

void __cdecl OnPlayFrame(RenderFrame* frame, int, int) {
  InterlockedIncrement(&g_playFrames);
  if (frame) {
    InterlockedExchange(&g_playWidth, frame->width);
    InterlockedExchange(&g_playHeight, frame->height);
  }
}

// The component reads the callback's address from a variable of the host: these are they.
CallbackCell g_cameraCallback = reinterpret_cast<CallbackCell>(&OnCameraFrame);
CallbackCell g_playCallback = reinterpret_cast<CallbackCell>(&OnPlayFrame);

std::vector<std::wstring> g_listed;
void __cdecl OnDevice(int, const unsigned short* name, int) {
  g_listed.push_back(name ? reinterpret_cast<const wchar_t*>(name) : L"");
}
CallbackCell g_deviceCallback = reinterpret_cast<CallbackCell>(&OnDevice);

// ---- the host window: render messages and graph notifications ----

volatile LONG g_windowFrames = 0;
LONG g_notifications = 0;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_RENDER_FRAME) {  // sent from the streaming thread; wParam is the RenderFrame
    InterlockedIncrement(&g_windowFrames);
    return 0;
  }
  if (msg == WM_ZELVORA_GRAPHNOTIFY) {
    ++g_notifications;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Handles this thread's messages for `ms`, or until `done` answers true.
template <typename Done>
bool Pump(DWORD ms, Done done) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed < 20 ? ms - elapsed : 20, QS_ALLINPUT);
  }
}
void Pump(DWORD ms) {
  Pump(ms, [] { return false; });
}

// ---- the summary ----

struct Step {
  std::string name;
  HRESULT hr = S_OK;
  bool ok = false;
  std::string detail;
};
std::vector<Step> g_steps;

Step& Record(const char* name, HRESULT hr, bool ok, const std::string& detail) {
  Step step;
  step.name = name;
  step.hr = hr;
  step.ok = ok;
  step.detail = detail;
  g_steps.push_back(step);
  printf("  %-22s %s  0x%08lx  %s\n", name, ok ? "ok    " : "FAILED", static_cast<unsigned long>(hr), detail.c_str());
  fflush(stdout);
  return g_steps.back();
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c < 128) ? static_cast<char>(c) : '?';
  return out;
}

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

// ---- files ----

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string ReadStart(const std::wstring& path, size_t bytes) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  text.resize(bytes);
  DWORD read = 0;
  if (!ReadFile(file, &text[0], static_cast<DWORD>(bytes), &read, nullptr)) read = 0;
  text.resize(read);
  CloseHandle(file);
  return text;
}

// What an ASF file holds, read as the ASF format lays it out: the streams (Stream Properties
// objects of the header), the length (the File Properties' play duration less the preroll) and
// the pictures of the first video stream (media objects started in the data packets).
struct AsfSummary {
  bool ok = false;
  int videoStreams = 0, audioStreams = 0;
  long width = 0, height = 0;
  long long pictures = 0;
  double seconds = 0;
};

unsigned long long LittleEndian(const unsigned char* p, int bytes) {
  unsigned long long v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

AsfSummary ReadAsfSummary(const std::wstring& path) {
  static const GUID kHeader = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
  static const GUID kFileProperties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
  static const GUID kStreamProperties = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
  static const GUID kVideo = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
  static const GUID kAudio = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
  AsfSummary summary;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return summary;
  auto read = [&](std::vector<unsigned char>& buffer, size_t bytes) {
    buffer.resize(bytes);
    DWORD got = 0;
    return bytes <= 0x7FFFFFFF && ReadFile(file, buffer.data(), static_cast<DWORD>(bytes), &got, nullptr) && got == bytes;
  };
  std::vector<unsigned char> header;
  const bool headerRead = read(header, 30) && memcmp(header.data(), &kHeader, 16) == 0 &&
                          LittleEndian(&header[16], 8) < (1u << 20) &&
                          read(header, static_cast<size_t>(LittleEndian(&header[16], 8)) - 30 + 50);
  unsigned videoNumber = 0;
  unsigned long long packets = 0;
  size_t packetSize = 0;
  for (size_t at = 0; headerRead && at + 24 <= header.size() - 50;) {
    const unsigned char* object = &header[at];
    const size_t size = static_cast<size_t>(LittleEndian(object + 16, 8));
    if (size < 24 || at + size > header.size() - 50) break;
    if (memcmp(object, &kFileProperties, 16) == 0 && size >= 104) {
      packets = LittleEndian(object + 56, 8);
      summary.seconds = LittleEndian(object + 64, 8) / 1e7 - LittleEndian(object + 80, 8) / 1e3;
      packetSize = static_cast<size_t>(LittleEndian(object + 92, 4));
    } else if (memcmp(object, &kStreamProperties, 16) == 0 && size >= 78) {
      if (memcmp(object + 24, &kVideo, 16) == 0 && ++summary.videoStreams == 1 && size >= 86) {
        videoNumber = object[72] & 0x7F;
        summary.width = static_cast<long>(LittleEndian(object + 78, 4));
        summary.height = static_cast<long>(LittleEndian(object + 82, 4));
      }
      if (memcmp(object + 24, &kAudio, 16) == 0) ++summary.audioStreams;
    }
    at += size;
  }
  // The packets: error correction data, payload parsing information, one or more payloads.
  std::vector<unsigned char> packet;
  bool ok = headerRead && packetSize > 16 && packetSize < (1u << 20);
  for (unsigned long long n = 0; ok && n < packets; ++n) {
    if (!read(packet, packetSize)) break;
    size_t p = 0;
    auto field = [&](int type) -> unsigned long long {
      static const int bytes[4] = {0, 1, 2, 4};
      if (p + bytes[type] > packetSize) return ok = false, 0;
      p += bytes[type];
      return LittleEndian(&packet[p - bytes[type]], bytes[type]);
    };
    if (packet[0] & 0x80) p = 1 + (packet[0] & 0x0F);
    const unsigned flags = packet[p], properties = packet[p + 1];
    p += 2;
    field((flags >> 5) & 3);  // packet length
    field((flags >> 1) & 3);  // sequence
    const size_t padding = static_cast<size_t>(field((flags >> 3) & 3));
    p += 6;  // send time, duration
    unsigned payloads = 1, lengthType = 0;
    if (flags & 1) {
      payloads = packet[p] & 0x3F;
      lengthType = packet[p++] >> 6;
    }
    for (unsigned i = 0; ok && i < payloads && p < packetSize; ++i) {
      const unsigned stream = packet[p++] & 0x7F;
      field((properties >> 4) & 3);  // media object number
      const unsigned long long offset = field((properties >> 2) & 3);
      const size_t replicated = static_cast<size_t>(field(properties & 3));
      p += replicated == 1 ? 1 : replicated;
      const size_t length = flags & 1 ? static_cast<size_t>(field(lengthType))
                                      : (packetSize > p + padding ? packetSize - p - padding : 0);
      if (p + length > packetSize) break;
      if (stream == videoNumber) {
        if (replicated != 1) summary.pictures += offset == 0 ? 1 : 0;
        else  // compressed payload: whole objects, each after a byte of its length
          for (size_t q = p; q < p + length; q += 1 + packet[q]) ++summary.pictures;
      }
      p += length;
    }
  }
  CloseHandle(file);
  summary.ok = headerRead && (summary.videoStreams + summary.audioStreams) > 0;
  return summary;
}

// A 24-bit BMP of a bottom-up BGR picture with rows of width * 3 bytes.
bool WriteBmp(const std::wstring& path, int width, int height, const unsigned char* pixels) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER fileHeader = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as the picture is
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(stride) * height;
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(info);
  fileHeader.bfSize = fileHeader.bfOffBits + info.biSizeImage;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, &fileHeader, sizeof(fileHeader), &written, nullptr) &&
            WriteFile(file, &info, sizeof(info), &written, nullptr);
  std::vector<unsigned char> row(stride, 0);
  for (int y = 0; ok && y < height; ++y) {
    memcpy(row.data(), pixels + static_cast<size_t>(y) * width * 3, static_cast<size_t>(width) * 3);
    ok = WriteFile(file, row.data(), stride, &written, nullptr) != FALSE;
  }
  CloseHandle(file);
  return ok;
}

// ---- the steps ----

struct Demo {
  std::wstring folder;
  std::wstring media;
  HWND window = nullptr;
  IIZelvora* camera = nullptr;  // the component's main interface
  IDevice* devices = nullptr;
  IPlayer* player = nullptr;
  std::wstring cameraName;
  std::wstring microphoneName;

  std::wstring Path(const wchar_t* name) const { return folder + L"\\" + name; }

  void ListDevices() {
    g_listed.clear();
    HRESULT hr = devices->EnumCameraDevice(&g_deviceCallback);
    std::string names;
    for (const std::wstring& name : g_listed) names += (names.empty() ? "" : ", ") + Narrow(name);
    if (!g_listed.empty()) cameraName = g_listed.front();
    Record("list cameras", hr, SUCCEEDED(hr) && !g_listed.empty(),
           Format("%u: %s", static_cast<unsigned>(g_listed.size()), names.c_str()));

    g_listed.clear();
    hr = devices->EnumAudioInputDevice(&g_deviceCallback);
    names.clear();
    for (const std::wstring& name : g_listed) names += (names.empty() ? "" : ", ") + Narrow(name);
    if (!g_listed.empty()) microphoneName = g_listed.front();
    Record("list microphones", hr, SUCCEEDED(hr) && !g_listed.empty(),
           Format("%u: %s", static_cast<unsigned>(g_listed.size()), names.c_str()));
  }

  bool OpenCamera() {
    camera->SetRenderCallbackFun(&g_cameraCallback);
    camera->SetRenderWnd(window);
    // Without a microphone the camera opens alone; recording then has no sound.
    HRESULT hr = microphoneName.empty()
                     ? camera->LoadCameraXY(cameraName.empty() ? nullptr : U(cameraName), kWidth, kHeight)
                     : camera->LoadCameraWithAudio(cameraName.empty() ? nullptr : U(cameraName), kWidth, kHeight,
                                                   U(microphoneName));
    camera->SetNotifyWnd(window);  // the graph exists now
    unsigned long state = 0;
    camera->GetCurrentCameraState(&state);
    // The load's own success codes (SUCCEEDED is true for them) mean that nothing runs.
    const bool ok = hr == S_OK && state == 1;
    const char* what = ok                                  ? "running"
                       : hr == ZELVORA_S_NO_KNOWN_FORMAT   ? "no usable pixel format"
                       : hr == ZELVORA_S_NO_FORMAT_AT_SIZE ? "size not offered"
                                                           : "not running";
    Record("open camera", hr, ok,
           Format("\"%s\"%s%s at %dx%d, state %lu (%s)", Narrow(cameraName).c_str(),
                  microphoneName.empty() ? "" : " with \"", microphoneName.empty() ? "" : (Narrow(microphoneName) + "\"").c_str(),
                  kWidth, kHeight, state, what));
    return ok;
  }

  void ShowFormats() {
    wchar_t formats[256] = {};  // the component appends to the text already there
    HRESULT hr = camera->EnumSupportFormat(U(formats));
    std::string detail = Narrow(formats);
    bool ok = SUCCEEDED(hr) && formats[0] != 0;
    // Each name ends with ';'. The sizes of each known format.
    std::wstring list = formats;
    size_t start = 0;
    while (ok && start < list.size()) {
      const size_t end = list.find(L';', start);
      const std::wstring name = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
      start = end == std::wstring::npos ? list.size() : end + 1;
      if (name.empty() || name == L"Unknown") continue;
      std::vector<wchar_t> sizes(4096, 0);
      const HRESULT sized = camera->EnumSupportXy(U(name), U(sizes.data()));
      if (FAILED(sized)) ok = false;
      detail += "\n" + std::string(37, ' ') + Narrow(name) + ": " + Narrow(sizes.data());
    }
    Record("formats and sizes", hr, ok, detail);
  }

  void CountFrames() {
    Pump(500);  // the first frames of a new graph
    const LONG windowStart = g_windowFrames;
    const LONG start = g_cameraFrames;
    const DWORD t0 = GetTickCount();
    Pump(kCountMs);
    const double seconds = (GetTickCount() - t0) / 1000.0;
    const LONG frames = g_cameraFrames - start;
    const LONG windowFrames = g_windowFrames - windowStart;
    Record("count frames", S_OK, frames > 0 && windowFrames > 0,
           Format("%ld frames in %.1f s: %.1f frames/s at the callback, %ld render messages; frames are %ldx%ld",
                  frames, seconds, frames / seconds, windowFrames, static_cast<long>(g_cameraWidth),
                  static_cast<long>(g_cameraHeight)));
  }

  void Snapshot() {
    const std::wstring path = Path(L"snapshot.jpg");
    DeleteFileW(path.c_str());
    HRESULT hr = camera->TakeSnap(U(path));
    // The snapshot is written from the next frame, on the streaming thread.
    Pump(5000, [&] { return FileSize(path) > 0; });
    Pump(200);
    const long long size = FileSize(path);
    const std::string start = ReadStart(path, 3);
    const bool jpeg = start.size() == 3 && start == "\xFF\xD8\xFF";
    Record("snapshot", hr, hr == S_OK && size > 0 && jpeg,
           Format("%s, %lld bytes%s", Narrow(path).c_str(), size, jpeg ? ", JPEG" : size > 0 ? ", not a JPEG" : ""));
  }

  void Recording() {
    const std::wstring path = Path(L"recording.wmv");
    DeleteFileW(path.c_str());
    const LONG start = g_cameraFrames;
    HRESULT hr = camera->StartCapture2(U(path), 1.0);  // S_OK whatever the start did
    // S_OK from SetCaptureMaxTime: the recording includes the microphone.
    const bool withSound = camera->SetCaptureMaxTime(0) == S_OK;
    Pump(kRecordMs);
    HRESULT stopped = camera->StopCapture();
    const LONG frames = g_cameraFrames - start;
    Pump(500);  // the preview runs on
    const bool previewRuns = g_cameraFrames - start > frames;
    const long long size = FileSize(path);
    const std::string indent(37, ' ');
    std::string detail = Format("%s, %lld bytes, %s sound, preview %s during it (%ld frames), StopCapture 0x%08lx",
                                Narrow(path).c_str(), size, withSound ? "with" : "without",
                                frames > 0 ? "ran" : "stopped", frames, static_cast<unsigned long>(stopped));
    bool ok = SUCCEEDED(hr) && stopped == S_OK && size > 0 && previewRuns;
    // What the file holds. On Windows the writer encodes Windows Media Video and Audio; the test
    // platform's stand-in writer stores the streams uncompressed in the same container.
    const AsfSummary asf = ReadAsfSummary(path);
    if (size > 0) {
      detail += asf.ok ? Format("\n%sholds %d video stream(s) of %ldx%ld with %lld pictures, %d audio stream(s), %.1f s",
                                indent.c_str(), asf.videoStreams, asf.width, asf.height, asf.pictures,
                                asf.audioStreams, asf.seconds)
                       : Format("\n%snot an ASF file", indent.c_str());
      ok = ok && asf.ok && asf.pictures > 0 && (!withSound || asf.audioStreams > 0);
    }
    // Played back through the component for a second.
    if (asf.ok && player && player->OpenPlayFile(U(path)) == S_OK) {
      player->SetCallBackRender(&g_playCallback);
      const HRESULT played = player->StartPaly();
      Pump(1000);
      player->StopPlay();
      player->ReleasePlayFile();
      detail += Format("\n%splayed back for 1 s: StartPaly 0x%08lx, %ld pictures at the callback", indent.c_str(),
                       static_cast<unsigned long>(played), static_cast<long>(g_playFrames));
    } else if (asf.ok) {
      detail += Format("\n%sthe player does not open it", indent.c_str());
    }
    InterlockedExchange(&g_playFrames, 0);  // the playback step counts its own
    Record("record", hr, ok, detail);
  }

  // ICameraMode: the controls of the opened camera with their ranges, modes and current values.
  void CameraControls() {
    ICameraMode* modes = nullptr;
    HRESULT hr = camera->QueryInterface(IID_ICameraMode, reinterpret_cast<void**>(&modes));
    if (FAILED(hr)) {
      Record("camera controls", hr, false, "no ICameraMode");
      return;
    }
    int count = 0;
    hr = modes->GetControlCount(&count);
    std::string detail = Format("%d controls", count);
    bool ok = SUCCEEDED(hr);
    for (int i = 0; ok && i < count; ++i) {
      CameraControlInfo info;
      long value = 0, flags = 0;
      const HRESULT read = modes->GetControlInfo(i, &info);
      if (SUCCEEDED(read)) ok = SUCCEEDED(modes->GetControlValue(info.nControl, &value, &flags));
      if (FAILED(read) || !ok) {
        ok = false;
        break;
      }
      const long caps = info.nCapsFlags;
      detail += Format("\n%s%-22s %6ld..%-6ld step %-4ld default %-6ld %-12s now %ld (%s)", std::string(37, ' ').c_str(),
                       Narrow(reinterpret_cast<const wchar_t*>(info.tcName)).c_str(), info.nMinimum, info.nMaximum,
                       info.nStep, info.nDefault,
                       (caps & ZELVORA_CONTROL_AUTO) && (caps & ZELVORA_CONTROL_MANUAL) ? "auto/manual"
                       : (caps & ZELVORA_CONTROL_AUTO)                                  ? "auto"
                                                                                        : "manual",
                       value, flags == ZELVORA_CONTROL_AUTO ? "auto" : "manual");
    }
    // A camera without controls is no failure: it has none to list.
    Record("camera controls", hr, ok, detail);
    modes->Release();
  }

  // ICameraMode: the cameras with their ids, the modes of the first one that offers MJPG at
  // 1280x720, and a load at that mode.
  void CameraModes() {
    ICameraMode* modes = nullptr;
    HRESULT hr = camera->QueryInterface(IID_ICameraMode, reinterpret_cast<void**>(&modes));
    if (FAILED(hr)) {
      Record("camera modes", hr, false, "no ICameraMode");
      return;
    }
    int cameras = 0;
    hr = modes->GetCameraCount(&cameras);
    std::wstring chosenId, chosenName;
    std::string detail = Format("%d cameras", cameras);
    for (int i = 0; SUCCEEDED(hr) && i < cameras && chosenId.empty(); ++i) {
      BSTR name = nullptr, id = nullptr;
      if (FAILED(modes->GetCameraId(i, &name, &id))) continue;
      int count = 0;
      if (SUCCEEDED(modes->GetModeCount(reinterpret_cast<unsigned short*>(id), &count))) {
        std::string list;
        bool mjpg720 = false;
        for (int m = 0; m < count; ++m) {
          CameraModeInfo info;
          if (FAILED(modes->GetMode(m, &info))) continue;
          const std::wstring subtype = reinterpret_cast<const wchar_t*>(info.tcSubtype);
          std::string rates;
          for (int r = 0; r < info.nRateCount; ++r) rates += Format("%s%g", r ? "/" : "", info.dRates[r]);
          list += Format("%s%s %dx%d@%s%s", list.empty() ? "" : ", ", Narrow(subtype).c_str(), info.nWidth,
                         info.nHeight, rates.c_str(), info.bDeliverable ? "" : " (not delivered)");
          if (subtype == L"MJPG" && info.nWidth == 1280 && info.nHeight == 720 && info.bDeliverable) mjpg720 = true;
        }
        if (mjpg720) {
          chosenId = id;
          chosenName = name;
          detail += Format("; \"%s\" (id %s): %s", Narrow(name).c_str(), Narrow(id).c_str(), list.c_str());
        }
      }
      SysFreeString(name);
      SysFreeString(id);
    }
    Record("camera modes", hr, SUCCEEDED(hr) && !chosenId.empty(),
           chosenId.empty() ? detail + "; none offers MJPG at 1280x720" : detail);
    if (!chosenId.empty()) {
      hr = modes->LoadCameraMode(U(chosenId), U(L"MJPG"), 1280, 720, 30, nullptr);
      CameraModeInfo applied = {};
      if (SUCCEEDED(hr)) modes->GetCurrentMode(&applied);
      Pump(500);
      unsigned long deliveredBefore = 0, dropped = 0;
      modes->GetFrameCounts(&deliveredBefore, &dropped);
      const LONG start = g_cameraFrames;
      const DWORD t0 = GetTickCount();
      Pump(kCountMs);
      const double seconds = (GetTickCount() - t0) / 1000.0;
      unsigned long delivered = 0;
      modes->GetFrameCounts(&delivered, &dropped);
      const LONG frames = g_cameraFrames - start;
      Record("open at a mode", hr, hr == S_OK && frames > 0,
             Format("\"%s\" as %s %dx%d at %g frames/s: %ld frames in %.1f s (%.1f frames/s), records of %ldx%ld, "
                    "%lu dropped",
                    Narrow(chosenName).c_str(), Narrow(reinterpret_cast<const wchar_t*>(applied.tcSubtype)).c_str(),
                    applied.nWidth, applied.nHeight, applied.nRateCount ? applied.dRates[0] : 0.0, frames, seconds,
                    frames / seconds, static_cast<long>(g_cameraWidth), static_cast<long>(g_cameraHeight), dropped));
      camera->ReleaseCamera();
    }
    modes->Release();
  }

  void Playback() {
    if (media.empty() || FileSize(media) <= 0) {
      Record("play file", E_INVALIDARG, false, "no Windows Media file given (run the demo through ./run.sh demo)");
      return;
    }
    // Wine's Windows Media reader now and then fails to connect a file it reads well a moment
    // later (VFW_E_CANNOT_CONNECT or VFW_E_CANNOT_RENDER): a host tries such a file again.
    HRESULT hr = S_OK;
    for (int attempt = 0; attempt < 4; ++attempt) {
      hr = player->OpenPlayFile(U(media));
      if (hr != kCannotConnect && hr != kCannotRender) break;
      player->ReleasePlayFile();
      Sleep(200);
    }
    if (hr != S_OK) {
      const bool notMediaName = hr == ZELVORA_S_NOT_WINDOWS_MEDIA_FILE;  // a success code: nothing was opened
      Record("play file", hr, false, Narrow(media) + (notMediaName ? ": not a Windows Media file name" : ": cannot be opened"));
      player->ReleasePlayFile();
      return;
    }
    player->SetCallBackRender(&g_playCallback);
    player->SetNotifyEventHwnd(window);
    const LONG notificationsBefore = g_notifications;
    const DWORD t0 = GetTickCount();
    hr = player->StartPaly();
    // The graph posts 0x8002 when events wait; OnGraphNotify stores 0 at the end of the file.
    unsigned long result = 2;
    Pump(30000, [&] {
      if (g_notifications == notificationsBefore) return false;
      player->OnGraphNotify(&result);
      return result != 2;
    });
    const double seconds = (GetTickCount() - t0) / 1000.0;
    player->StopPlay();
    player->ReleasePlayFile();
    // StartPaly gives S_FALSE while the graph is still on its way to running.
    Record("play file", hr, SUCCEEDED(hr) && result == 0 && g_playFrames > 0,
           Format("%s: %ld frames at the callback in %.1f s, records of %ldx%ld, end: %s", Narrow(media).c_str(),
                  static_cast<long>(g_playFrames), seconds, static_cast<long>(g_playWidth),
                  static_cast<long>(g_playHeight),
                  result == 0 ? "complete" : result == 1 ? "aborted" : "no end seen in 30 s"));
  }

  void ExtractFrame() {
    if (media.empty() || FileSize(media) <= 0) {
      Record("extract frame", E_INVALIDARG, false, "no Windows Media file given");
      return;
    }
    FrameImage image = {};
    HRESULT hr = player->LoadFrameFromFile(U(media), kExtractFrame, reinterpret_cast<unsigned long*>(&image));
    const std::wstring path = Path(L"frame.bmp");
    bool written = false;
    if (hr == S_OK && image.pBits) written = WriteBmp(path, image.nWidth, image.nHeight, image.pBits);
    CoTaskMemFree(image.pBits);  // the buffer belongs to the host, also after a failure
    Record("extract frame", hr, hr == S_OK && written,
           Format("picture %d of %s: %dx%d, written to %s, %lld bytes", kExtractFrame, Narrow(media).c_str(),
                  image.nWidth, image.nHeight, Narrow(path).c_str(), FileSize(path)));
  }
};

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH] = {};
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return (n && n < MAX_PATH) ? std::wstring(full) : path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  Demo demo;
  demo.folder = FullPath(argc > 1 ? argv[1] : L"zelvora-demo");
  if (!demo.folder.empty() && (demo.folder.back() == L'\\' || demo.folder.back() == L'/')) demo.folder.pop_back();
  demo.media = argc > 2 ? FullPath(argv[2]) : L"";
  CreateDirectoryW(demo.folder.c_str(), nullptr);

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZelvoraDemoHost";
  RegisterClassW(&wc);
  // A message-only window: it needs no display.
  demo.window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);

  printf("Zelvora demo: output folder %s\n\n", Narrow(demo.folder).c_str());
  printf("  %-22s %-6s  %-10s  %s\n", "step", "result", "HRESULT", "what happened");
  fflush(stdout);

  HRESULT hr = CoCreateInstance(CLSID_IZelvora, nullptr, CLSCTX_INPROC_SERVER, IID_IIZelvora,
                                reinterpret_cast<void**>(&demo.camera));
  Record("create component", hr, SUCCEEDED(hr),
         SUCCEEDED(hr) ? "IZelvora object through COM" : "the component is not registered: regsvr32 Zelvora.dll");
  if (SUCCEEDED(hr)) {
    demo.camera->QueryInterface(IID_IDevice, reinterpret_cast<void**>(&demo.devices));
    demo.camera->QueryInterface(IID_IPlayer, reinterpret_cast<void**>(&demo.player));
    demo.ListDevices();
    if (demo.OpenCamera()) {
      demo.ShowFormats();
      demo.CameraControls();
      demo.CountFrames();
      demo.Snapshot();
      demo.Recording();
    }
    hr = demo.camera->ReleaseCamera();
    Record("release camera", hr, hr == S_OK, "");
    demo.CameraModes();
    demo.Playback();
    demo.ExtractFrame();
    if (demo.player) demo.player->Release();
    if (demo.devices) demo.devices->Release();
    demo.camera->Release();
  }
  if (demo.window) DestroyWindow(demo.window);

  int failed = 0;
  for (const Step& step : g_steps) failed += step.ok ? 0 : 1;
  printf("\nSummary: %u steps, %d failed. Files are in %s\n", static_cast<unsigned>(g_steps.size()), failed,
         Narrow(demo.folder).c_str());
  fflush(stdout);
  CoUninitialize();
  return failed ? 1 : 0;
}
