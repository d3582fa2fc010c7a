// libFuzzer target for the Motion-JPEG decoder: arbitrary bytes as a frame. The expected size is
// the one in the input's first frame header, if it has one, so that decoding goes past the size
// check. The frame lives in a heap block of exactly its length, so AddressSanitizer sees any read
// past it. A refused frame must leave the picture untouched; an accepted one must decode to the
// same picture again with the same decoder (its kept buffers reused).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "media/pixel/mjpegdecode.h"
#include "media/pixel/yuvconvert.h"

using namespace zelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int width = 16, height = 16;
  for (size_t i = 0; i + 8 < size; ++i) {
    const uint8_t m = data[i + 1];
    if (data[i] == 0xFF && m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      height = data[i + 5] << 8 | data[i + 6];
      width = data[i + 7] << 8 | data[i + 8];
      break;
    }
  }
  if (static_cast<long long>(width) * height > (1 << 18)) return 0;  // keep runs short

  uint8_t* frame = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (size) memcpy(frame, data, size);
  const size_t pictureBytes = BgrPictureBytes(width, height);
  std::vector<uint8_t> picture(pictureBytes ? pictureBytes : 1, 0x5A);
  MjpegDecoder decoder;
  if (!decoder.Decode(frame, size, width, height, picture.data())) {
    for (uint8_t b : picture)
      if (b != 0x5A) abort();
  } else {
    std::vector<uint8_t> again(picture.size(), 0x5A);
    if (!decoder.Decode(frame, size, width, height, again.data()) || again != picture) abort();
  }
  free(frame);
  return 0;
}
