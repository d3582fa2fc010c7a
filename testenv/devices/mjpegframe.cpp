// The one translation unit of zelvora_devices.dll that holds stb_image (JPEG only).
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

#include "mjpegframe.h"

#include <limits.h>
#include <stdlib.h>

#include "framepattern.h"
#include "jpegwriter.h"

namespace zvjpeg {
namespace {

// Offset of the SOS marker when the segments before it hold no DHT; 0 when they do (or the data
// is not a JPEG stream up to its SOS, which the decoder then refuses by itself).
size_t SosWithoutTables(const uint8_t* data, size_t bytes) {
  if (bytes < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  size_t at = 2;
  while (at + 4 <= bytes) {
    if (data[at] != 0xFF) return 0;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == 0xC4) return 0;
    if (marker == 0xDA) return at;
    at += 2 + (static_cast<size_t>(data[at + 2]) << 8 | data[at + 3]);
  }
  return 0;
}

}  // namespace

bool FrameDecoder::DecodeBgrBottomUp(const uint8_t* jpeg, size_t bytes, int width, int height, uint8_t* dst,
                                     size_t dstBytes) {
  if (!jpeg || !dst || width <= 0 || height <= 0 || bytes > static_cast<size_t>(INT_MAX)) return false;
  const size_t stride = static_cast<size_t>(zvpattern::RgbRowStride(width));
  if (dstBytes / stride < static_cast<size_t>(height)) return false;
  const size_t sos = SosWithoutTables(jpeg, bytes);
  if (sos) {
    static const std::vector<uint8_t> tables = StandardHuffmanSegment();
    m_withTables.assign(jpeg, jpeg + sos);
    m_withTables.insert(m_withTables.end(), tables.begin(), tables.end());
    m_withTables.insert(m_withTables.end(), jpeg + sos, jpeg + bytes);
    if (m_withTables.size() > static_cast<size_t>(INT_MAX)) return false;
    jpeg = m_withTables.data();
    bytes = m_withTables.size();
  }
  int w = 0, h = 0, components = 0;
  if (!stbi_info_from_memory(jpeg, static_cast<int>(bytes), &w, &h, &components) || w != width || h != height)
    return false;
  stbi_uc* rgb = stbi_load_from_memory(jpeg, static_cast<int>(bytes), &w, &h, &components, 3);
  if (!rgb) return false;
  const bool fits = w == width && h == height;
  if (fits) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* src = rgb + static_cast<size_t>(y) * width * 3;
      uint8_t* row = dst + static_cast<size_t>(height - 1 - y) * stride;
      for (int x = 0; x < width; ++x) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      }
      for (size_t pad = static_cast<size_t>(width) * 3; pad < stride; ++pad) row[pad] = 0;
    }
  }
  stbi_image_free(rgb);
  return fits;
}

}  // namespace zvjpeg
