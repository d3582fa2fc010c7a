#pragma once

// Decoding of Motion-JPEG frames, as USB cameras deliver their larger sizes, into the same 24-bit
// pictures the YUV conversions give: blue, green, red bytes per pixel, rows of exactly width * 3
// bytes, the bottom row of the picture first. Platform-free (no windows.h).
//
// Accepted: baseline and extended sequential 8-bit JPEG with one (grey) or three (YCbCr, or RGB
// when the frame says so) components and any sampling (4:2:2, 4:2:0, 4:4:4, ...). Frames without
// Huffman tables, as many cameras send them, are decoded with the standard tables of the JPEG
// standard's annex K. Zero bytes after the end-of-image marker are ignored. Refused: progressive,
// lossless and arithmetic-coded frames, four-component (CMYK) frames, and anything that is not a
// whole picture of the expected size.

#include <stddef.h>
#include <stdint.h>

#include <memory>

namespace zelvora {

// Decodes Motion-JPEG frames (one JPEG picture per frame) into 24-bit bottom-up BGR pictures.
// One object per stream; not for concurrent use; keeps its buffers from frame to frame.
class MjpegDecoder {
 public:
  MjpegDecoder();
  ~MjpegDecoder();
  MjpegDecoder(const MjpegDecoder&) = delete;
  MjpegDecoder& operator=(const MjpegDecoder&) = delete;

  // Decodes `data` (`length` bytes, as the camera delivered it) into `destination`, which holds
  // BgrPictureBytes(width, height) bytes. False, with `destination` untouched, when the frame is
  // not a whole JPEG picture of exactly width x height (corrupt, truncated, another size, null,
  // zero length, unusable size).
  bool Decode(const uint8_t* data, size_t length, int width, int height, uint8_t* destination);

 private:
  struct State;  // the JPEG decoder's working memory, kept from frame to frame
  std::unique_ptr<State> m_pState;
};

}  // namespace zelvora
