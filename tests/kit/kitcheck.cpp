// Checks pictures that the example hosts produce, for the kit's tests:
//   zelvora_kit_check jpeg FILE W H
//       FILE is a JPEG of W x H pixels showing the virtual camera's test picture, upright.
//   zelvora_kit_check xwd FILE REPORT OUT.png
//       FILE is an X screenshot (xwd); REPORT the preview host's report ("client X Y W H",
//       "window L T R B"): the client area must show the test picture, upright, pixel for pixel
//       as drawn; the window's area is saved as OUT.png.
//   zelvora_kit_check command ID
//       Posts WM_COMMAND ID to the preview host's window (its menu and keys use these).
//   zelvora_kit_check title
//       Prints the preview host's window title.
//   zelvora_kit_check close-frame
//       Waits for the preview host's property frame, prints the texts it shows, and closes it.
//   zelvora_kit_check create CLSID PROGID LIBID
//       A host of the process's own architecture: creates the class by CLSID and by ProgID and
//       loads the registered type library; prints the DLL that COM loaded and the library's
//       architecture, which must be the process's own.
// Prints what it found; exit code 0 when the picture is right or the window was there.
#include <windows.h>
#include <objidl.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "framepattern.h"

namespace {

using Gdiplus::Ok;

std::vector<uint8_t> ReadAll(const wchar_t* path) {
  std::vector<uint8_t> bytes;
  FILE* file = _wfopen(path, L"rb");
  if (!file) return bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  return bytes;
}

const char* OrientationName(zvpattern::Orientation o) {
  switch (o) {
    case zvpattern::Orientation::Upright: return "upright";
    case zvpattern::Orientation::FlippedVertically: return "upside down";
    case zvpattern::Orientation::MirroredHorizontally: return "mirrored";
    case zvpattern::Orientation::Rotated180: return "rotated 180 degrees";
  }
  return "?";
}

// Decodes a top-down 24-bit BGR picture (rows of `stride` bytes).
zvpattern::Decoded DecodeTopDown(const uint8_t* rows, int stride, int w, int h) {
  const int bottomUpStride = zvpattern::RgbRowStride(w);
  std::vector<uint8_t> back(static_cast<size_t>(bottomUpStride) * h);
  for (int y = 0; y < h; ++y)
    memcpy(back.data() + static_cast<size_t>(h - 1 - y) * bottomUpStride, rows + static_cast<ptrdiff_t>(y) * stride,
           static_cast<size_t>(w) * 3);
  return zvpattern::DecodeBgrBottomUp(back.data(), back.size(), w, h);
}

int Report(const zvpattern::Decoded& d, const char* what) {
  if (!d.valid) {
    printf("%s: no test picture found\n", what);
    return 1;
  }
  printf("%s: test picture, frame %u, %s\n", what, d.frameNumber, OrientationName(d.orientation));
  return d.Upright() ? 0 : 1;
}

int CheckJpeg(const wchar_t* path, int w, int h) {
  Gdiplus::Bitmap picture(path);
  if (picture.GetLastStatus() != Ok) {
    printf("%ls: cannot be read as a picture\n", path);
    return 1;
  }
  if (static_cast<int>(picture.GetWidth()) != w || static_cast<int>(picture.GetHeight()) != h) {
    printf("%ls: %ux%u, expected %dx%d\n", path, picture.GetWidth(), picture.GetHeight(), w, h);
    return 1;
  }
  Gdiplus::Rect all(0, 0, w, h);
  Gdiplus::BitmapData data;
  if (picture.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data) != Ok) return 1;
  zvpattern::Decoded d = DecodeTopDown(static_cast<const uint8_t*>(data.Scan0), data.Stride, w, h);
  picture.UnlockBits(&data);
  return Report(d, "snapshot");
}

// ---- X window dumps ----

struct Xwd {
  uint32_t width = 0, height = 0, bitsPerPixel = 0, bytesPerLine = 0, byteOrder = 0;
  uint32_t masks[3] = {};  // red, green, blue
  const uint8_t* pixels = nullptr;

  // Blue, green, red of a pixel.
  void Pixel(uint32_t x, uint32_t y, uint8_t* bgr) const {
    const uint8_t* p = pixels + static_cast<size_t>(y) * bytesPerLine + static_cast<size_t>(x) * (bitsPerPixel / 8);
    uint32_t v = 0;
    const int n = static_cast<int>(bitsPerPixel / 8);
    for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (byteOrder == 0 ? 8 * i : 8 * (n - 1 - i));
    for (int c = 0; c < 3; ++c) {
      uint32_t mask = masks[c], shift = 0;
      while (mask && !(mask & 1)) mask >>= 1, ++shift;
      const uint32_t value = (v >> shift) & mask;
      bgr[2 - c] = static_cast<uint8_t>(mask ? value * 255 / mask : 0);
    }
  }
};

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool ParseXwd(const std::vector<uint8_t>& file, Xwd* x) {
  if (file.size() < 100) return false;
  const uint8_t* h = file.data();
  const uint32_t headerSize = Be32(h), version = Be32(h + 4), format = Be32(h + 8);
  x->width = Be32(h + 16);
  x->height = Be32(h + 20);
  // byte_order 0 is LSBFirst: the bytes of a pixel are least significant first.
  x->byteOrder = Be32(h + 28);
  x->bitsPerPixel = Be32(h + 44);
  x->bytesPerLine = Be32(h + 48);
  x->masks[0] = Be32(h + 56);
  x->masks[1] = Be32(h + 60);
  x->masks[2] = Be32(h + 64);
  const uint32_t colours = Be32(h + 76);
  const size_t start = static_cast<size_t>(headerSize) + static_cast<size_t>(colours) * 12;
  if (version != 7 || format != 2 || (x->bitsPerPixel != 24 && x->bitsPerPixel != 32)) return false;
  if (start + static_cast<size_t>(x->bytesPerLine) * x->height > file.size()) return false;
  x->pixels = file.data() + start;
  return true;
}

bool EncoderClsid(const wchar_t* mime, CLSID* clsid) {
  UINT count = 0, bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
  std::vector<BYTE> buffer(bytes);
  Gdiplus::ImageCodecInfo* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (lstrcmpiW(codecs[i].MimeType, mime) == 0) return *clsid = codecs[i].Clsid, true;
  return false;
}

// Top-down BGR rows of a screen area, clamped to the screen.
std::vector<uint8_t> Crop(const Xwd& x, long left, long top, long* w, long* h, int* stride) {
  if (left < 0) *w += left, left = 0;
  if (top < 0) *h += top, top = 0;
  if (left + *w > static_cast<long>(x.width)) *w = static_cast<long>(x.width) - left;
  if (top + *h > static_cast<long>(x.height)) *h = static_cast<long>(x.height) - top;
  if (*w <= 0 || *h <= 0) return {};
  *stride = static_cast<int>((*w * 3 + 3) & ~3L);
  std::vector<uint8_t> rows(static_cast<size_t>(*stride) * *h);
  for (long y = 0; y < *h; ++y)
    for (long i = 0; i < *w; ++i) x.Pixel(left + i, top + y, &rows[y * *stride + i * 3]);
  return rows;
}

int CheckXwd(const wchar_t* path, const wchar_t* reportPath, const wchar_t* pngPath) {
  std::vector<uint8_t> file = ReadAll(path);
  Xwd x;
  if (!ParseXwd(file, &x)) {
    printf("%ls: not a 24/32-bit ZPixmap X window dump\n", path);
    return 1;
  }
  long cx = 0, cy = 0, cw = 0, ch = 0, wl = 0, wt = 0, wr = 0, wb = 0;
  FILE* report = _wfopen(reportPath, L"r");
  if (!report) {
    printf("%ls: no report\n", reportPath);
    return 1;
  }
  char line[256];
  while (fgets(line, sizeof(line), report)) {
    sscanf(line, "client %ld %ld %ld %ld", &cx, &cy, &cw, &ch);
    sscanf(line, "window %ld %ld %ld %ld", &wl, &wt, &wr, &wb);
  }
  fclose(report);
  printf("screen %ux%u, %u bits per pixel; client area %ldx%ld at %ld,%ld\n", x.width, x.height, x.bitsPerPixel, cw,
         ch, cx, cy);
  long w = cw, h = ch;
  int stride = 0;
  std::vector<uint8_t> client = Crop(x, cx, cy, &w, &h, &stride);
  if (client.empty() || w != cw || h != ch) {
    printf("the client area is not on the screen\n");
    return 1;
  }
  int rc = Report(DecodeTopDown(client.data(), stride, w, h), "screenshot");

  // The window as a PNG (the whole screen when the report has no window rectangle).
  if (wr <= wl || wb <= wt) wl = 0, wt = 0, wr = x.width, wb = x.height;
  w = wr - wl;
  h = wb - wt;
  std::vector<uint8_t> window = Crop(x, wl, wt, &w, &h, &stride);
  CLSID png;
  if (window.empty() || !EncoderClsid(L"image/png", &png)) return 1;
  Gdiplus::Bitmap picture(w, h, stride, PixelFormat24bppRGB, window.data());
  if (picture.Save(pngPath, &png, nullptr) != Ok) {
    printf("%ls: cannot be written\n", pngPath);
    return 1;
  }
  printf("window picture %ldx%ld written to %ls\n", w, h, pngPath);
  return rc;
}

// ---- the preview host, from another process ----

HWND PreviewWindow() { return FindWindowW(L"ZelvoraPreviewHost", nullptr); }

struct FrameSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindFrameOf(HWND hwnd, LPARAM param) {
  FrameSearch* search = reinterpret_cast<FrameSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (pid == search->pid && IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK PrintText(HWND hwnd, LPARAM) {
  wchar_t text[256] = {};
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  if (text[0]) printf("  text: %ls\n", text);
  return TRUE;
}

int PreviewCommand(const wchar_t* what, const wchar_t* argument) {
  HWND preview = PreviewWindow();
  if (!preview) {
    printf("no preview host window\n");
    return 1;
  }
  if (wcscmp(what, L"command") == 0) {
    PostMessageW(preview, WM_COMMAND, static_cast<WPARAM>(_wtoi(argument)), 0);
    return 0;
  }
  if (wcscmp(what, L"title") == 0) {
    wchar_t title[512] = {};
    GetWindowTextW(preview, title, 512);
    printf("%ls\n", title);
    return 0;
  }
  FrameSearch search = {0, nullptr};
  GetWindowThreadProcessId(preview, &search.pid);
  for (int i = 0; i < 200 && !search.found; ++i) {
    EnumWindows(&FindFrameOf, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(50);
  }
  if (!search.found) {
    printf("no property frame\n");
    return 1;
  }
  Sleep(300);
  printf("property frame:\n");
  EnumChildWindows(search.found, &PrintText, 0);
  PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return 0;
}

int CreateClass(const wchar_t* clsidText, const wchar_t* progId, const wchar_t* libidText) {
  const bool win64 = sizeof(void*) == 8;
  printf("%s host\n", win64 ? "64-bit" : "32-bit");
  CLSID clsid = {}, libid = {}, fromProgId = {};
  if (FAILED(CLSIDFromString(clsidText, &clsid)) || FAILED(CLSIDFromString(libidText, &libid))) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int failures = 0;
  {
    Microsoft::WRL::ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(object.GetAddressOf()));
    wchar_t path[MAX_PATH] = {};
    if (HMODULE module = GetModuleHandleW(L"Zelvora.dll")) GetModuleFileNameW(module, path, MAX_PATH);
    printf("class: 0x%08lx %ls\n", static_cast<unsigned long>(hr), path);
    failures += FAILED(hr);

    hr = CLSIDFromProgID(progId, &fromProgId);
    const bool same = SUCCEEDED(hr) && IsEqualCLSID(clsid, fromProgId);
    printf("ProgID %ls: 0x%08lx%s\n", progId, static_cast<unsigned long>(hr), same ? "" : " (not the class)");
    failures += !same;

    Microsoft::WRL::ComPtr<ITypeLib> library;
    hr = LoadRegTypeLib(libid, 1, 0, 0, &library);
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = library->GetLibAttr(&attr);
    const SYSKIND kind = attr ? attr->syskind : SYS_WIN16;
    if (attr) library->ReleaseTLibAttr(attr);
    printf("type library: 0x%08lx %s\n", static_cast<unsigned long>(hr),
           kind == SYS_WIN64 ? "win64" : kind == SYS_WIN32 ? "win32" : "-");
    failures += FAILED(hr) || kind != (win64 ? SYS_WIN64 : SYS_WIN32);
  }
  CoUninitialize();
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Ok) return 2;
  int rc = 2;
  if (argc == 5 && wcscmp(argv[1], L"jpeg") == 0) {
    rc = CheckJpeg(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
  } else if (argc == 5 && wcscmp(argv[1], L"xwd") == 0) {
    rc = CheckXwd(argv[2], argv[3], argv[4]);
  } else if (argc == 3 && wcscmp(argv[1], L"command") == 0) {
    rc = PreviewCommand(argv[1], argv[2]);
  } else if (argc == 2 && (wcscmp(argv[1], L"title") == 0 || wcscmp(argv[1], L"close-frame") == 0)) {
    rc = PreviewCommand(argv[1], nullptr);
  } else if (argc == 5 && wcscmp(argv[1], L"create") == 0) {
    rc = CreateClass(argv[2], argv[3], argv[4]);
  } else {
    printf("usage: zelvora_kit_check jpeg FILE W H | xwd FILE REPORT OUT.png | command ID | title | close-frame"
           " | create CLSID PROGID LIBID\n");
  }
  fflush(stdout);
  Gdiplus::GdiplusShutdown(token);
  return rc;
}
