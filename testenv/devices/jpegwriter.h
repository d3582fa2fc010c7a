#pragma once
// Baseline JPEG writer of the virtual cameras' MJPG frames, and the test picture as JPEG.
//
// Plain C++ (no Windows headers). What a webcam's MJPG stream holds: SOI, DQT (the standard
// luminance and chrominance tables scaled for the quality), SOF0 (8-bit, three components, 4:2:2:
// luma H=2 V=1, Cb and Cr H=1 V=1, so one MCU = two Y blocks, one Cb, one Cr block), DHT (the
// standard Huffman tables; left out on request, as many webcams do: decoders then use these
// same standard tables), SOS, the entropy-coded data, EOI. No JFIF or other APPn segment.
//
// Speed: the camera encodes every frame on its streaming thread. A block whose 64 samples are all
// equal is coded from a table (DC only, no transform); only the other blocks go through a float
// DCT. Picture rows are passed as row pointers, and rows given by the same pointer are known to be
// equal, so a block over such rows is checked for flatness on one row.

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace zvjpeg {

// The DHT segment (marker and length included) holding the four standard Huffman tables (DC and
// AC, luminance and chrominance), as the writer puts it before SOS. Decoders that meet a frame
// without DHT (a webcam's MJPG) use these tables; a decoder that needs them in the data gets them
// inserted from here.
std::vector<uint8_t> StandardHuffmanSegment();

class Writer {
 public:
  // Picture size (1..65535 each), quality 1..100 (IJG scaling of the standard tables) and
  // whether the DHT segment is written. False (and nothing changed) for values out of range.
  bool Configure(int width, int height, int quality, bool writeHuffmanTables);

  // Encodes one picture of full-range YCbCr (JFIF formulas) in 4:2:2: yRows[r] points at the
  // `width` luma samples of row r, cbRows[r] and crRows[r] at its (width + 1) / 2 chroma samples
  // (each chroma sample covering luma columns 2c and 2c + 1). Rows given by equal pointers must
  // hold equal samples. Returns the length of the JPEG written to dst, or 0 when it does not fit
  // into `capacity` bytes (or nothing is configured).
  size_t Encode(const uint8_t* const* yRows, const uint8_t* const* cbRows, const uint8_t* const* crRows,
                uint8_t* dst, size_t capacity) const;

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  size_t HeaderBytes() const { return m_header.size(); }

 private:
  struct Table {
    uint16_t code[256];
    uint8_t length[256];
  };
  class BitSink;
  struct BlockMemo;
  class Memo;
  // One block; `rows` are the 8 rows of the block's strip, `x` its first column in a component
  // `componentWidth` samples wide. Returns the new DC predictor.
  int EncodeBlock(BitSink& sink, Memo& memo, const uint8_t* const* rows, bool sameRows, int x, int componentWidth, int table,
                  int predictor) const;

  int m_width = 0, m_height = 0;
  bool m_configured = false;
  std::vector<uint8_t> m_header;  // SOI .. SOS
  uint8_t m_quant[2][64] = {};     // natural order
  float m_scale[2][64] = {};       // 1 / quantiser, natural order
  int m_flatDc[2][256] = {};       // quantised DC of a block of 64 equal samples
  Table m_dc[2], m_ac[2];
};

// The test picture (framepattern.h) as JPEG frames: the picture's four bands of equal rows are
// converted to YCbCr once (the number bands again when the number changes) and handed to the
// writer as shared rows.
class PatternEncoder {
 public:
  static const int kQuality = 85;
  bool Configure(int width, int height, bool writeHuffmanTables);
  // Brightness of the pictures rendered from now on (framepattern.h; kept across Configure).
  void SetBrightness(int brightness);
  // JPEG of frame `number` (mod 65536) in dst; its length, or 0 when it does not fit.
  size_t Render(unsigned number, uint8_t* dst, size_t capacity);
  // A buffer size that holds every frame of this size, with room to spare.
  size_t FrameBound();

 private:
  void BuildBand(int band, unsigned number);

  Writer m_writer;
  int m_width = 0, m_height = 0;
  int m_brightness = 0;
  unsigned m_number = 0xFFFFFFFFu;
  std::vector<uint8_t> m_y[4], m_cb[4], m_cr[4];
  std::vector<const uint8_t*> m_yRows, m_cbRows, m_crRows;
  std::vector<uint8_t> m_bandOfRow;
  size_t m_bound = 0;
};

}  // namespace zvjpeg
