#include "jpegwriter.h"

#include <math.h>
#include <string.h>

#include "framepattern.h"

namespace zvjpeg {
namespace {

// Zig-zag position -> natural (row-major) index.
const uint8_t kNaturalOrder[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The standard quantisation tables (natural order): luminance, chrominance.
const uint8_t kBaseQuant[2][64] = {
    {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  14, 13, 16, 24, 40,  57,
     69, 56, 14, 17, 22,  29,  51,  87,  80, 62, 18, 22, 37,  56,  68,  109, 103, 77, 24, 35, 55,  64,
     81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
     99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};

// The standard Huffman tables: code counts per length 1..16, then the symbols.
const uint8_t kDcBits[2][16] = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}};
const uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kAcBits[2][16] = {{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
                                {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}};
const uint8_t kAcValues[2][162] = {
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
     0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
     0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
     0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
     0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
     0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
     0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
     0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
     0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
     0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
     0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
     0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
     0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
     0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
     0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

// DCT basis: kCos[u * 8 + x] = C(u) / 2 * cos((2x + 1) u pi / 16).
struct CosTable {
  float c[64];
  CosTable() {
    const double pi = 3.14159265358979323846;
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        c[u * 8 + x] = static_cast<float>((u == 0 ? sqrt(0.125) : 0.5) * cos((2 * x + 1) * u * pi / 16.0));
  }
};
const CosTable kCos;

int BitLength(int magnitude) {
  int bits = 0;
  while (magnitude >> bits) ++bits;
  return bits;
}

int RoundToInt(float v) { return static_cast<int>(v >= 0.0f ? v + 0.5f : v - 0.5f); }

void PutMarker(std::vector<uint8_t>* out, uint8_t marker, size_t payloadBytes) {
  const size_t length = payloadBytes + 2;
  out->push_back(0xFF);
  out->push_back(marker);
  out->push_back(static_cast<uint8_t>(length >> 8));
  out->push_back(static_cast<uint8_t>(length & 0xFF));
}

}  // namespace

std::vector<uint8_t> StandardHuffmanSegment() {
  std::vector<uint8_t> segment;
  PutMarker(&segment, 0xC4, 2 * (1 + 16 + 12) + 2 * (1 + 16 + 162));
  for (int t = 0; t < 2; ++t) {
    segment.push_back(static_cast<uint8_t>(t));  // DC table t
    segment.insert(segment.end(), kDcBits[t], kDcBits[t] + 16);
    segment.insert(segment.end(), kDcValues, kDcValues + 12);
    segment.push_back(static_cast<uint8_t>(0x10 | t));  // AC table t
    segment.insert(segment.end(), kAcBits[t], kAcBits[t] + 16);
    segment.insert(segment.end(), kAcValues[t], kAcValues[t] + 162);
  }
  return segment;
}

namespace {

// JFIF (full-range BT.601) from RGB, 16-bit fixed point; never negative before the shift.
uint8_t JfifY(const zvpattern::Rgb& c) {
  return static_cast<uint8_t>((19595 * c.r + 38470 * c.g + 7471 * c.b + 32768) >> 16);
}
int JfifCb(const zvpattern::Rgb& c) { return (-11059 * c.r - 21709 * c.g + 32768 * c.b + (128 << 16) + 32768) >> 16; }
int JfifCr(const zvpattern::Rgb& c) { return (32768 * c.r - 27439 * c.g - 5329 * c.b + (128 << 16) + 32768) >> 16; }

}  // namespace

// Entropy-coded bytes with 0xFF stuffing into a bounded buffer.
class Writer::BitSink {
 public:
  BitSink(uint8_t* dst, size_t capacity) : m_p(dst), m_end(dst + capacity) {}
  // Appends the low `count` (0..16) bits of `bits`.
  void Put(uint32_t bits, int count) {
    m_acc = (m_acc << count) | (bits & ((1u << count) - 1u));
    m_count += count;
    while (m_count >= 8) {
      m_count -= 8;
      const uint8_t byte = static_cast<uint8_t>(m_acc >> m_count);
      Emit(byte);
      if (byte == 0xFF) Emit(0);
    }
  }
  // Pads the last byte with 1 bits.
  void Flush() {
    if (m_count > 0) Put((1u << (8 - m_count)) - 1u, 8 - m_count);
  }
  bool Overflow() const { return m_overflow; }
  uint8_t* End() const { return m_p; }

 private:
  void Emit(uint8_t byte) {
    if (m_p < m_end) *m_p++ = byte;
    else m_overflow = true;
  }
  uint8_t* m_p;
  uint8_t* m_end;
  uint32_t m_acc = 0;
  int m_count = 0;
  bool m_overflow = false;
};

// The last few transformed blocks of one quantiser: edges of the picture repeat along a strip
// (a bar or number block boundary crossing it), so most edge blocks are found here.
struct Writer::BlockMemo {
  uint8_t samples[64];
  int coefficients[64];
};
class Writer::Memo {
 public:
  BlockMemo* Find(const uint8_t* samples) {
    for (int i = 0; i < m_used; ++i)
      if (memcmp(m_entries[i].samples, samples, 64) == 0) return &m_entries[i];
    return nullptr;
  }
  void Add(const uint8_t* samples, const int* coefficients) {
    BlockMemo& entry = m_entries[m_next];
    memcpy(entry.samples, samples, 64);
    memcpy(entry.coefficients, coefficients, sizeof(entry.coefficients));
    m_next = (m_next + 1) % kEntries;
    if (m_used < kEntries) ++m_used;
  }

 private:
  static const int kEntries = 4;
  BlockMemo m_entries[kEntries];
  int m_used = 0, m_next = 0;
};

bool Writer::Configure(int width, int height, int quality, bool writeHuffmanTables) {
  if (width < 1 || width > 65535 || height < 1 || height > 65535 || quality < 1 || quality > 100) return false;
  m_width = width;
  m_height = height;
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < 64; ++i) {
      int q = (kBaseQuant[t][i] * scale + 50) / 100;
      q = q < 1 ? 1 : (q > 255 ? 255 : q);
      m_quant[t][i] = static_cast<uint8_t>(q);
      m_scale[t][i] = 1.0f / static_cast<float>(q);
    }
    // A flat block of value v: F(0,0) = 8 (v - 128), every other coefficient 0.
    for (int v = 0; v < 256; ++v) m_flatDc[t][v] = RoundToInt(8.0f * static_cast<float>(v - 128) * m_scale[t][0]);
    // Canonical codes from the counts per length.
    const uint8_t* values[2] = {kDcValues, kAcValues[t]};
    const uint8_t* bits[2] = {kDcBits[t], kAcBits[t]};
    Table* tables[2] = {&m_dc[t], &m_ac[t]};
    for (int k = 0; k < 2; ++k) {
      memset(tables[k], 0, sizeof(Table));
      unsigned code = 0;
      int n = 0;
      for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[k][length - 1]; ++i, ++n) {
          tables[k]->code[values[k][n]] = static_cast<uint16_t>(code++);
          tables[k]->length[values[k][n]] = static_cast<uint8_t>(length);
        }
        code <<= 1;
      }
    }
  }

  std::vector<uint8_t>& h = m_header;
  h.clear();
  h.push_back(0xFF);
  h.push_back(0xD8);  // SOI
  PutMarker(&h, 0xDB, 2 * 65);  // DQT: both tables, 8-bit, zig-zag order
  for (int t = 0; t < 2; ++t) {
    h.push_back(static_cast<uint8_t>(t));
    for (int k = 0; k < 64; ++k) h.push_back(m_quant[t][kNaturalOrder[k]]);
  }
  PutMarker(&h, 0xC0, 6 + 3 * 3);  // SOF0
  const uint8_t frame[] = {8,
                           static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height & 0xFF),
                           static_cast<uint8_t>(width >> 8),  static_cast<uint8_t>(width & 0xFF),
                           3,
                           1, 0x21, 0,  // Y: H=2, V=1, quantiser 0
                           2, 0x11, 1,  // Cb
                           3, 0x11, 1}; // Cr
  h.insert(h.end(), frame, frame + sizeof(frame));
  if (writeHuffmanTables) {
    const std::vector<uint8_t> dht = StandardHuffmanSegment();
    h.insert(h.end(), dht.begin(), dht.end());
  }
  PutMarker(&h, 0xDA, 1 + 3 * 2 + 3);  // SOS
  const uint8_t scan[] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
  h.insert(h.end(), scan, scan + sizeof(scan));
  m_configured = true;
  return true;
}

int Writer::EncodeBlock(BitSink& sink, Memo& memo, const uint8_t* const* rows, bool sameRows, int x, int componentWidth,
                        int table, int predictor) const {
  uint8_t samples[64];
  bool flat = true;
  int value;
  if (x + 8 <= componentWidth) {
    // Eight samples at a time against the first one repeated.
    value = rows[0][x];
    const uint64_t repeated = static_cast<uint64_t>(value) * 0x0101010101010101ull;
    for (int r = 0; r < (sameRows ? 1 : 8) && flat; ++r) {
      uint64_t eight;
      memcpy(&eight, rows[r] + x, 8);
      flat = eight == repeated;
    }
    if (!flat)
      for (int r = 0; r < 8; ++r) memcpy(samples + 8 * r, rows[r] + x, 8);
  } else {
    // Past the right edge the last column repeats.
    for (int r = 0; r < 8; ++r)
      for (int i = 0; i < 8; ++i) samples[8 * r + i] = rows[r][x + i < componentWidth ? x + i : componentWidth - 1];
    value = samples[0];
    for (int i = 1; i < 64 && flat; ++i) flat = samples[i] == value;
  }
  const Table& dcTable = m_dc[table];
  const Table& acTable = m_ac[table];
  int dc;
  int coefficients[64];
  if (flat) {
    dc = m_flatDc[table][value];
  } else if (BlockMemo* hit = memo.Find(samples)) {
    memcpy(coefficients, hit->coefficients, sizeof(coefficients));
    dc = coefficients[0];
  } else {
    // Separable float DCT of the level-shifted samples, then quantisation.
    float rowPass[64];
    for (int y = 0; y < 8; ++y)
      for (int u = 0; u < 8; ++u) {
        float sum = 0.0f;
        for (int i = 0; i < 8; ++i) sum += (static_cast<float>(samples[8 * y + i]) - 128.0f) * kCos.c[u * 8 + i];
        rowPass[8 * y + u] = sum;
      }
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 8; ++u) {
        float sum = 0.0f;
        for (int y = 0; y < 8; ++y) sum += rowPass[8 * y + u] * kCos.c[v * 8 + y];
        int q = RoundToInt(sum * m_scale[table][8 * v + u]);
        coefficients[8 * v + u] = q < -1023 ? -1023 : (q > 1023 ? 1023 : q);
      }
    dc = coefficients[0];
    memo.Add(samples, coefficients);
  }
  const int diff = dc - predictor;
  const int magnitude = diff < 0 ? -diff : diff;
  const int category = BitLength(magnitude);
  sink.Put(dcTable.code[category], dcTable.length[category]);
  if (category) sink.Put(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), category);
  if (!flat) {
    int run = 0;
    for (int k = 1; k < 64; ++k) {
      const int c = coefficients[kNaturalOrder[k]];
      if (c == 0) {
        ++run;
        continue;
      }
      for (; run > 15; run -= 16) sink.Put(acTable.code[0xF0], acTable.length[0xF0]);
      const int bits = BitLength(c < 0 ? -c : c);
      const int symbol = (run << 4) | bits;
      sink.Put(acTable.code[symbol], acTable.length[symbol]);
      sink.Put(static_cast<uint32_t>(c < 0 ? c - 1 : c), bits);
      run = 0;
    }
    if (run == 0) return dc;
  }
  sink.Put(acTable.code[0x00], acTable.length[0x00]);  // end of block
  return dc;
}

size_t Writer::Encode(const uint8_t* const* yRows, const uint8_t* const* cbRows, const uint8_t* const* crRows,
                      uint8_t* dst, size_t capacity) const {
  if (!m_configured || !yRows || !cbRows || !crRows || !dst || capacity < m_header.size() + 2) return 0;
  memcpy(dst, m_header.data(), m_header.size());
  BitSink sink(dst + m_header.size(), capacity - m_header.size() - 2);
  const int chromaWidth = (m_width + 1) / 2;
  int predictor[3] = {0, 0, 0};
  Memo memo[2];
  const uint8_t* strip[3][8];
  const uint8_t* const* planes[3] = {yRows, cbRows, crRows};
  for (int y0 = 0; y0 < m_height; y0 += 8) {
    bool sameRows[3];
    for (int p = 0; p < 3; ++p) {
      sameRows[p] = true;
      for (int r = 0; r < 8; ++r) {
        strip[p][r] = planes[p][y0 + r < m_height ? y0 + r : m_height - 1];  // the last row repeats
        sameRows[p] = sameRows[p] && strip[p][r] == strip[p][0];
      }
    }
    for (int x0 = 0; x0 < m_width; x0 += 16) {
      predictor[0] = EncodeBlock(sink, memo[0], strip[0], sameRows[0], x0, m_width, 0, predictor[0]);
      predictor[0] = EncodeBlock(sink, memo[0], strip[0], sameRows[0], x0 + 8, m_width, 0, predictor[0]);
      predictor[1] = EncodeBlock(sink, memo[1], strip[1], sameRows[1], x0 / 2, chromaWidth, 1, predictor[1]);
      predictor[2] = EncodeBlock(sink, memo[1], strip[2], sameRows[2], x0 / 2, chromaWidth, 1, predictor[2]);
    }
  }
  sink.Flush();
  if (sink.Overflow()) return 0;
  uint8_t* end = sink.End();
  *end++ = 0xFF;
  *end++ = 0xD9;  // EOI
  return static_cast<size_t>(end - dst);
}

// ---- PatternEncoder -------------------------------------------------------------------------
bool PatternEncoder::Configure(int width, int height, bool writeHuffmanTables) {
  if (!m_writer.Configure(width, height, kQuality, writeHuffmanTables)) return false;
  m_width = width;
  m_height = height;
  m_bound = 0;
  const int chromaWidth = (width + 1) / 2;
  m_bandOfRow.resize(height);
  for (int y = 0; y < height; ++y) m_bandOfRow[y] = zvpattern::BandOfRow(y, height);
  // Sized once: the row pointers stay valid while bands are rebuilt in place.
  for (int band = 0; band < 4; ++band) {
    m_y[band].assign(width, 0);
    m_cb[band].assign(chromaWidth, 128);
    m_cr[band].assign(chromaWidth, 128);
  }
  m_yRows.resize(height);
  m_cbRows.resize(height);
  m_crRows.resize(height);
  for (int y = 0; y < height; ++y) {
    const int band = m_bandOfRow[y];
    m_yRows[y] = m_y[band].data();
    m_cbRows[y] = m_cb[band].data();
    m_crRows[y] = m_cr[band].data();
  }
  BuildBand(0, 0);
  BuildBand(1, 0);
  m_number = 0xFFFFFFFFu;
  return true;
}

void PatternEncoder::BuildBand(int band, unsigned number) {
  int y = 0;
  while (y < m_height && m_bandOfRow[y] != band) ++y;
  if (y == m_height) return;  // no row of the picture is in this band
  uint8_t* luma = m_y[band].data();
  uint8_t* cb = m_cb[band].data();
  uint8_t* cr = m_cr[band].data();
  for (int x = 0; x < m_width; x += 2) {
    const zvpattern::Rgb c0 = zvpattern::PatternPixel(x, y, m_width, m_height, number, m_brightness);
    luma[x] = JfifY(c0);
    int sumCb = JfifCb(c0), sumCr = JfifCr(c0), n = 1;
    if (x + 1 < m_width) {
      const zvpattern::Rgb c1 = zvpattern::PatternPixel(x + 1, y, m_width, m_height, number, m_brightness);
      luma[x + 1] = JfifY(c1);
      sumCb += JfifCb(c1);
      sumCr += JfifCr(c1);
      n = 2;
    }
    cb[x / 2] = zvpattern::Clamp8((sumCb + n / 2) / n);
    cr[x / 2] = zvpattern::Clamp8((sumCr + n / 2) / n);
  }
}

void PatternEncoder::SetBrightness(int brightness) {
  if (brightness == m_brightness) return;
  m_brightness = brightness;
  if (!m_width) return;
  BuildBand(0, 0);
  BuildBand(1, 0);
  m_number = 0xFFFFFFFFu;  // the number bands too, at the next Render
}

size_t PatternEncoder::Render(unsigned number, uint8_t* dst, size_t capacity) {
  if (!m_width) return 0;
  number &= 0xFFFFu;
  if (number != m_number) {
    BuildBand(2, number);
    BuildBand(3, number);
    m_number = number;
  }
  return m_writer.Encode(m_yRows.data(), m_cbRows.data(), m_crRows.data(), dst, capacity);
}

size_t PatternEncoder::FrameBound() {
  if (!m_width) return 0;
  if (m_bound) return m_bound;
  // Alternating bits give the most edges in the number bands; the rest of the picture is fixed.
  size_t largest = 0;
  std::vector<uint8_t> scratch(static_cast<size_t>(m_width) * m_height + 65536);
  for (unsigned number : {0x5555u, 0xAAAAu, 0x0000u, 0xFFFFu}) {
    size_t bytes = 0;
    while ((bytes = Render(number, scratch.data(), scratch.size())) == 0) scratch.resize(scratch.size() * 2);
    if (bytes > largest) largest = bytes;
  }
  m_bound = largest + largest / 2 + 4096;
  return m_bound;
}

}  // namespace zvjpeg
