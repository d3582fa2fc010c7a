#pragma once

#include <windows.h>

namespace zelvora {

// Index of the encoder for `mimeType` (exact, case-sensitive) in GDI+'s encoder list with its CLSID
// in *clsid, or -1 when none matches (then *clsid is left untouched). GDI+ must be running.
int FindImageEncoder(const WCHAR* mimeType, CLSID* clsid);

// Writes a 24-bit picture (blue, green, red bytes, bottom row first, rows `stride` bytes apart) as a
// JPEG file, top row first, with the encoder's default settings. 1 when the file was written,
// 0 otherwise (null picture or name, unusable size, no memory, no encoder, failed save).
int SaveBgrPictureAsJpeg(const BYTE* picture, int width, int height, int stride, const WCHAR* fileName);

}  // namespace zelvora
