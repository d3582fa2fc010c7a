#pragma once
// Decoding of one MJPG sample into the picture a host receives as RGB24: bottom-up rows of B, G,
// R bytes, each row padded to a multiple of 4 bytes.
//
// Plain C++ (no Windows headers). A webcam's MJPG frame may leave out the DHT segment (decoders
// then use the standard Huffman tables: jpegwriter.h); such a frame gets the standard segment
// inserted before its SOS. Bytes after EOI (a sample padded to its announced size) are ignored.
#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace zvjpeg {

class FrameDecoder {
 public:
  // Decodes `bytes` of JPEG into `dst` (RgbRowStride(width) * height bytes). False, with dst
  // untouched, when the data is no JPEG picture of exactly width x height.
  bool DecodeBgrBottomUp(const uint8_t* jpeg, size_t bytes, int width, int height, uint8_t* dst, size_t dstBytes);

 private:
  std::vector<uint8_t> m_withTables;  // a frame with the standard tables inserted
};

}  // namespace zvjpeg
