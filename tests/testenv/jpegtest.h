#pragma once
// JPEG helpers of the test-device tests (stb_image, built in jpeg_test.cpp).
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "framepattern.h"
#include "jpegwriter.h"

namespace jpegtest {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top-down R, G, B; empty when the data did not decode
};
Picture Decode(const uint8_t* data, size_t bytes);
// The pattern's frame number and orientation in a decoded picture.
zvpattern::Decoded ReadPattern(const Picture& picture);

// Marker segments from SOI up to SOS (the data after SOS is not walked).
struct Segment {
  uint8_t marker = 0;
  size_t offset = 0;  // of the 0xFF
  size_t length = 0;  // with the marker
};
std::vector<Segment> Segments(const uint8_t* data, size_t bytes);

}  // namespace jpegtest
