#pragma once
// Test picture of the virtual camera: how it is drawn and how to read it back.
//
// Plain C++ (no Windows headers), so any test, host or tool can include it.
//
// The picture, as a person looking at it sees it (x from the left, y from the top, W x H):
//   rows [0, H/2)     eight vertical colour bars, left to right: white, yellow, cyan, green,
//                     magenta, red, blue, black (full intensity);
//                     orientation marker: a black square over x < W/16, y < H/8, i.e. in the
//                     top-left corner of the white bar;
//   rows [H/2, 3H/4)  the frame number, 16 bits in 16 blocks of W/16 each, most significant bit
//                     on the left, white = 1, black = 0;
//   rows [3H/4, H)    the same 16 blocks holding the complement of the number (a check).
// Frame numbers count delivered samples of one stream from 0 (or from the camera's first frame
// number, testdevices.h) and wrap at 65536.
//
// Layouts written (the exact layout of the subtype):
//   RGB24  bottom-up rows of B, G, R bytes, each row padded to a multiple of 4 bytes;
//   YUY2   top-down rows of Y0 U Y1 V (W must be even), row = 2W bytes;
//   I420   top-down Y plane (W x H), then U and V planes (W/2 x H/2); W and H even.
//   NV12   top-down Y plane (W x H), then one plane of ceil(H/2) rows of 2*ceil(W/2) bytes holding
//          U, V pairs; any size (at an odd edge a chroma pair covers the pixels that are there).
// YUV values use the BT.601 studio-range integer formulas; chroma is the average of the pixels
// it covers.
//
// Brightness: a camera's brightness control b adds b to each R, G, B value of the picture
// (clamped to 0..255) before it is laid out. At b = 64 black is (64, 64, 64), at b = -64 white is
// (191, 191, 191).
//
// DecodeBgrBottomUp reads a 24-bit bottom-up BGR picture (what a host receives, or a JPEG file
// decoded) and tells the frame number and the orientation; it averages small areas and picks
// the nearest bar colour, so JPEG and colour-conversion error is tolerated, and so is any
// brightness from -64 to 64 (white and black stay on their sides of the mid-grey threshold and
// every bar stays nearest to its own colour).

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

namespace zvpattern {

enum class Layout { RGB24, YUY2, I420, NV12 };

enum class Orientation {
  Upright,               // as drawn
  FlippedVertically,     // top and bottom swapped (e.g. a top-down picture read as bottom-up)
  MirroredHorizontally,  // left and right swapped
  Rotated180,            // both
};

struct Decoded {
  bool valid = false;          // a test picture was found in one of the four orientations
  unsigned frameNumber = 0;    // 0..65535
  Orientation orientation = Orientation::Upright;
  bool Upright() const { return valid && orientation == Orientation::Upright; }
};

struct Rgb {
  int r, g, b;
};

inline const Rgb* BarColours() {
  static const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                              {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  return bars;
}

inline int RgbRowStride(int width) { return (width * 3 + 3) & ~3; }

// Bytes of one frame in the layout; 0 for sizes the layout cannot hold.
inline size_t FrameBytes(Layout layout, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  switch (layout) {
    case Layout::RGB24:
      return static_cast<size_t>(RgbRowStride(width)) * height;
    case Layout::YUY2:
      return (width % 2) ? 0 : static_cast<size_t>(width) * 2 * height;
    case Layout::I420:
      return (width % 2 || height % 2) ? 0 : static_cast<size_t>(width) * height * 3 / 2;
    case Layout::NV12:
      return static_cast<size_t>(width) * height + static_cast<size_t>(2 * ((width + 1) / 2)) * ((height + 1) / 2);
  }
  return 0;
}

// A colour with `brightness` added to each of R, G and B, clamped to 0..255 (the cameras'
// brightness control; any int is taken).
inline Rgb Brightened(const Rgb& c, int brightness) {
  const int b = brightness < -255 ? -255 : (brightness > 255 ? 255 : brightness);
  auto add = [b](int v) { return v + b < 0 ? 0 : (v + b > 255 ? 255 : v + b); };
  return {add(c.r), add(c.g), add(c.b)};
}

// The band of row `y`: 0 the marker rows, 1 the rest of the bars, 2 the number, 3 the check band.
inline int BandOfRow(int y, int height) {
  if (8 * y < height) return 0;
  if (2 * y < height) return 1;
  if (4 * y < 3 * height) return 2;
  return 3;
}

// Colour of picture point (x, y) for frame `number`, at a brightness (0: the plain pattern).
inline Rgb PatternPixel(int x, int y, int width, int height, unsigned number, int brightness = 0) {
  Rgb c;
  if (2 * y < height) {
    if (16 * x < width && 8 * y < height) {
      c = {0, 0, 0};  // orientation marker
    } else {
      int bar = static_cast<int>(static_cast<long long>(x) * 8 / width);
      c = BarColours()[bar];
    }
  } else {
    int block = static_cast<int>(static_cast<long long>(x) * 16 / width);
    unsigned bit = (number >> (15 - block)) & 1u;
    if (4 * y >= 3 * height) bit ^= 1u;  // check band
    c = bit ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
  }
  return brightness ? Brightened(c, brightness) : c;
}

inline int YOf(const Rgb& c) { return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16; }
inline int UOf(const Rgb& c) { return ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128; }
inline int VOf(const Rgb& c) { return ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128; }

inline uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// BT.601 studio range back to RGB (integer), as a reader of YUY2/I420 would do.
inline Rgb RgbOfYuv(int y, int u, int v) {
  int c = y - 16, d = u - 128, e = v - 128;
  return {Clamp8((298 * c + 409 * e + 128) >> 8), Clamp8((298 * c - 100 * d - 208 * e + 128) >> 8),
          Clamp8((298 * c + 516 * d + 128) >> 8)};
}

// Draws frames of one layout and size quickly: the picture consists of four bands whose rows
// are identical, so each band's row is converted once and copied.
class Renderer {
 public:
  // False when the size does not fit the layout.
  bool Configure(Layout layout, int width, int height) {
    if (FrameBytes(layout, width, height) == 0) return false;
    m_layout = layout;
    m_width = width;
    m_height = height;
    m_frameBytes = FrameBytes(layout, width, height);
    m_bandOfRow.resize(height);
    for (int y = 0; y < height; ++y) m_bandOfRow[y] = BandOfRow(y, height);
    m_number = 0xFFFFFFFFu;
    for (int band = 0; band < 2; ++band) BuildBand(band, 0);
    m_configured = true;
    return true;
  }

  // Brightness of the frames rendered from now on (kept across Configure).
  void SetBrightness(int brightness) {
    if (brightness == m_brightness) return;
    m_brightness = brightness;
    if (!m_configured) return;
    for (int band = 0; band < 2; ++band) BuildBand(band, 0);
    m_number = 0xFFFFFFFFu;  // the number bands too, at the next Render
  }

  size_t FrameSize() const { return m_frameBytes; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  Layout GetLayout() const { return m_layout; }

  // Writes frame `number` into dst (capacity bytes). Returns the bytes written (the whole
  // frame), or 0 when the buffer is too small or nothing is configured.
  size_t Render(unsigned number, uint8_t* dst, size_t capacity) {
    if (!m_configured || !dst || capacity < m_frameBytes) return 0;
    number &= 0xFFFFu;
    if (number != m_number) {
      BuildBand(2, number);
      BuildBand(3, number);
      m_number = number;
    }
    const int w = m_width, h = m_height;
    switch (m_layout) {
      case Layout::RGB24: {
        const size_t stride = RgbRowStride(w);
        for (int y = 0; y < h; ++y)
          memcpy(dst + static_cast<size_t>(h - 1 - y) * stride, m_rows[m_bandOfRow[y]].data(), stride);
        break;
      }
      case Layout::YUY2: {
        const size_t stride = static_cast<size_t>(w) * 2;
        for (int y = 0; y < h; ++y) memcpy(dst + y * stride, m_rows[m_bandOfRow[y]].data(), stride);
        break;
      }
      case Layout::I420: {
        uint8_t* yPlane = dst;
        uint8_t* uPlane = dst + static_cast<size_t>(w) * h;
        uint8_t* vPlane = uPlane + static_cast<size_t>(w / 2) * (h / 2);
        for (int y = 0; y < h; ++y) memcpy(yPlane + static_cast<size_t>(y) * w, m_rows[m_bandOfRow[y]].data(), w);
        const int cw = w / 2;
        for (int cy = 0; cy < h / 2; ++cy) {
          int a = m_bandOfRow[2 * cy], b = m_bandOfRow[2 * cy + 1];
          const std::vector<int>& ua = m_chromaU[a];
          const std::vector<int>& ub = m_chromaU[b];
          const std::vector<int>& va = m_chromaV[a];
          const std::vector<int>& vb = m_chromaV[b];
          uint8_t* uRow = uPlane + static_cast<size_t>(cy) * cw;
          uint8_t* vRow = vPlane + static_cast<size_t>(cy) * cw;
          if (a == b) {
            memcpy(uRow, m_chromaRowU[a].data(), cw);
            memcpy(vRow, m_chromaRowV[a].data(), cw);
          } else {
            for (int x = 0; x < cw; ++x) {
              uRow[x] = static_cast<uint8_t>((ua[x] + ub[x] + 2) / 4);
              vRow[x] = static_cast<uint8_t>((va[x] + vb[x] + 2) / 4);
            }
          }
        }
        break;
      }
      case Layout::NV12: {
        for (int y = 0; y < h; ++y) memcpy(dst + static_cast<size_t>(y) * w, m_rows[m_bandOfRow[y]].data(), w);
        const int cw = (w + 1) / 2;
        uint8_t* uvPlane = dst + static_cast<size_t>(w) * h;
        for (int cy = 0; cy < (h + 1) / 2; ++cy) {
          const bool twoRows = 2 * cy + 1 < h;
          int a = m_bandOfRow[2 * cy], b = twoRows ? m_bandOfRow[2 * cy + 1] : a;
          uint8_t* uvRow = uvPlane + static_cast<size_t>(cy) * 2 * cw;
          if (a == b) {  // one band: the average of one of its rows
            memcpy(uvRow, m_chromaRowUV[a].data(), 2 * cw);
            continue;
          }
          for (int x = 0; x < cw; ++x) {
            const int count = 2 * (2 * x + 1 < w ? 2 : 1);
            uvRow[2 * x] = static_cast<uint8_t>((m_chromaU[a][x] + m_chromaU[b][x] + count / 2) / count);
            uvRow[2 * x + 1] = static_cast<uint8_t>((m_chromaV[a][x] + m_chromaV[b][x] + count / 2) / count);
          }
        }
        break;
      }
    }
    return m_frameBytes;
  }

 private:
  // Row bytes of a band in the layout (RGB24: B,G,R + padding; YUY2: packed; I420: luma), and
  // for I420 the horizontally summed chroma of pixel pairs.
  void BuildBand(int band, unsigned number) {
    const int w = m_width, h = m_height;
    int y = 0;
    while (y < h && m_bandOfRow[y] != band) ++y;
    std::vector<uint8_t>& row = m_rows[band];
    if (y == h) {  // band too thin to have rows at this height
      row.assign(m_layout == Layout::RGB24 ? RgbRowStride(w) : (m_layout == Layout::YUY2 ? 2 * w : w), 0);
      m_chromaRowUV[band].assign(2 * (w / 2 + 1), 128);
      m_chromaU[band].assign(w / 2 + 1, 256);
      m_chromaV[band].assign(w / 2 + 1, 256);
      m_chromaRowU[band].assign(w / 2 + 1, 128);
      m_chromaRowV[band].assign(w / 2 + 1, 128);
      return;
    }
    switch (m_layout) {
      case Layout::RGB24:
        row.assign(RgbRowStride(w), 0);
        for (int x = 0; x < w; ++x) {
          Rgb c = PatternPixel(x, y, w, h, number, m_brightness);
          row[3 * x] = static_cast<uint8_t>(c.b);
          row[3 * x + 1] = static_cast<uint8_t>(c.g);
          row[3 * x + 2] = static_cast<uint8_t>(c.r);
        }
        break;
      case Layout::YUY2:
        row.assign(2 * w, 0);
        for (int x = 0; x + 1 < w; x += 2) {
          Rgb c0 = PatternPixel(x, y, w, h, number, m_brightness);
          Rgb c1 = PatternPixel(x + 1, y, w, h, number, m_brightness);
          row[2 * x] = Clamp8(YOf(c0));
          row[2 * x + 1] = Clamp8((UOf(c0) + UOf(c1) + 1) / 2);
          row[2 * x + 2] = Clamp8(YOf(c1));
          row[2 * x + 3] = Clamp8((VOf(c0) + VOf(c1) + 1) / 2);
        }
        break;
      case Layout::I420: {
        row.assign(w, 0);
        m_chromaU[band].assign(w / 2, 0);
        m_chromaV[band].assign(w / 2, 0);
        m_chromaRowU[band].assign(w / 2, 0);
        m_chromaRowV[band].assign(w / 2, 0);
        for (int x = 0; x < w; ++x) {
          Rgb c = PatternPixel(x, y, w, h, number, m_brightness);
          row[x] = Clamp8(YOf(c));
          m_chromaU[band][x / 2] += UOf(c);
          m_chromaV[band][x / 2] += VOf(c);
        }
        for (int x = 0; x < w / 2; ++x) {
          m_chromaRowU[band][x] = static_cast<uint8_t>((2 * m_chromaU[band][x] + 2) / 4);
          m_chromaRowV[band][x] = static_cast<uint8_t>((2 * m_chromaV[band][x] + 2) / 4);
        }
        break;
      }
      case Layout::NV12: {
        // Sums over the one or two pixels of each chroma column, and the band's interleaved row.
        const int cw = (w + 1) / 2;
        row.assign(w, 0);
        m_chromaU[band].assign(cw, 0);
        m_chromaV[band].assign(cw, 0);
        m_chromaRowUV[band].assign(2 * cw, 0);
        for (int x = 0; x < w; ++x) {
          Rgb c = PatternPixel(x, y, w, h, number, m_brightness);
          row[x] = Clamp8(YOf(c));
          m_chromaU[band][x / 2] += UOf(c);
          m_chromaV[band][x / 2] += VOf(c);
        }
        for (int x = 0; x < cw; ++x) {
          const int count = 2 * x + 1 < w ? 2 : 1;
          m_chromaRowUV[band][2 * x] = static_cast<uint8_t>((m_chromaU[band][x] + count / 2) / count);
          m_chromaRowUV[band][2 * x + 1] = static_cast<uint8_t>((m_chromaV[band][x] + count / 2) / count);
        }
        break;
      }
    }
  }

  Layout m_layout = Layout::RGB24;
  int m_width = 0, m_height = 0;
  size_t m_frameBytes = 0;
  bool m_configured = false;
  int m_brightness = 0;
  unsigned m_number = 0xFFFFFFFFu;
  std::vector<uint8_t> m_bandOfRow;
  std::vector<uint8_t> m_rows[4];
  std::vector<int> m_chromaU[4], m_chromaV[4];  // sums of two horizontal neighbours
  std::vector<uint8_t> m_chromaRowU[4], m_chromaRowV[4];
  std::vector<uint8_t> m_chromaRowUV[4];  // NV12: the band's interleaved U, V row
};

// Reads picture points of a frame in one of the layouts. Returns false for a size or buffer
// that cannot hold the layout.
class Sampler {
 public:
  Sampler(Layout layout, const uint8_t* data, size_t bytes, int width, int height, int rgbStride = 0)
      : m_layout(layout), m_data(data), m_width(width), m_height(height) {
    m_stride = rgbStride > 0 ? rgbStride : RgbRowStride(width);
    size_t need = layout == Layout::RGB24 ? static_cast<size_t>(m_stride) * (height > 0 ? height : 0)
                                          : FrameBytes(layout, width, height);
    m_ok = data && width > 0 && height > 0 && need > 0 && bytes >= need &&
           (layout != Layout::RGB24 || m_stride >= width * 3);
  }
  bool Ok() const { return m_ok; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

  Rgb At(int x, int y) const {
    switch (m_layout) {
      case Layout::RGB24: {
        const uint8_t* p = m_data + static_cast<size_t>(m_height - 1 - y) * m_stride + 3 * x;
        return {p[2], p[1], p[0]};
      }
      case Layout::YUY2: {
        const uint8_t* p = m_data + static_cast<size_t>(y) * m_width * 2 + (x & ~1) * 2;
        return RgbOfYuv((x & 1) ? p[2] : p[0], p[1], p[3]);
      }
      case Layout::I420: {
        const uint8_t* yPlane = m_data;
        const uint8_t* uPlane = m_data + static_cast<size_t>(m_width) * m_height;
        const uint8_t* vPlane = uPlane + static_cast<size_t>(m_width / 2) * (m_height / 2);
        size_t c = static_cast<size_t>(y / 2) * (m_width / 2) + x / 2;
        return RgbOfYuv(yPlane[static_cast<size_t>(y) * m_width + x], uPlane[c], vPlane[c]);
      }
      case Layout::NV12: {
        const uint8_t* uv = m_data + static_cast<size_t>(m_width) * m_height +
                            static_cast<size_t>(y / 2) * 2 * ((m_width + 1) / 2) + 2 * (x / 2);
        return RgbOfYuv(m_data[static_cast<size_t>(y) * m_width + x], uv[0], uv[1]);
      }
    }
    return {0, 0, 0};
  }

 private:
  Layout m_layout;
  const uint8_t* m_data;
  int m_width, m_height, m_stride = 0;
  bool m_ok = false;
};

namespace detail {

// Average colour of a small square around picture point (x, y) seen in orientation `o`.
inline Rgb AverageAt(const Sampler& s, Orientation o, int x, int y, int radius) {
  const int w = s.Width(), h = s.Height();
  long r = 0, g = 0, b = 0, n = 0;
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      int px = x + dx, py = y + dy;
      if (px < 0 || py < 0 || px >= w || py >= h) continue;
      if (o == Orientation::MirroredHorizontally || o == Orientation::Rotated180) px = w - 1 - px;
      if (o == Orientation::FlippedVertically || o == Orientation::Rotated180) py = h - 1 - py;
      Rgb c = s.At(px, py);
      r += c.r;
      g += c.g;
      b += c.b;
      ++n;
    }
  }
  if (n == 0) return {0, 0, 0};
  return {static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)};
}

inline int NearestBar(const Rgb& c) {
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < 8; ++i) {
    const Rgb& ref = BarColours()[i];
    long d = static_cast<long>(c.r - ref.r) * (c.r - ref.r) + static_cast<long>(c.g - ref.g) * (c.g - ref.g) +
             static_cast<long>(c.b - ref.b) * (c.b - ref.b);
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

inline bool Bright(const Rgb& c) { return c.r + c.g + c.b >= 3 * 128; }

inline bool TryDecode(const Sampler& s, Orientation o, unsigned* number) {
  const int w = s.Width(), h = s.Height();
  const int radius = (w / 64 < h / 32 ? w / 64 : h / 32) > 3 ? 3 : (w / 64 < h / 32 ? w / 64 : h / 32);
  // Colour bars (sampled low in the bar band, clear of the marker).
  for (int bar = 0; bar < 8; ++bar) {
    int x = static_cast<int>((2LL * bar + 1) * w / 16);
    if (NearestBar(AverageAt(s, o, x, 3 * h / 8, radius)) != bar) return false;
  }
  // Orientation marker: dark top-left corner of the white bar, white beside and below it.
  if (Bright(AverageAt(s, o, w / 32, h / 16, radius))) return false;
  if (!Bright(AverageAt(s, o, 3 * w / 32, h / 16, radius))) return false;
  if (!Bright(AverageAt(s, o, w / 32, h / 4, radius))) return false;
  unsigned value = 0, check = 0;
  for (int block = 0; block < 16; ++block) {
    int x = static_cast<int>((2LL * block + 1) * w / 32);
    value = (value << 1) | (Bright(AverageAt(s, o, x, 5 * h / 8, radius)) ? 1u : 0u);
    check = (check << 1) | (Bright(AverageAt(s, o, x, 7 * h / 8, radius)) ? 1u : 0u);
  }
  if ((value ^ check) != 0xFFFFu) return false;
  *number = value;
  return true;
}

}  // namespace detail

// Decodes a frame in any layout (the picture's own size). Pictures smaller than 32 x 16 are
// never valid.
inline Decoded Decode(const Sampler& sampler) {
  Decoded result;
  if (!sampler.Ok() || sampler.Width() < 32 || sampler.Height() < 16) return result;
  const Orientation order[4] = {Orientation::Upright, Orientation::FlippedVertically,
                                Orientation::MirroredHorizontally, Orientation::Rotated180};
  for (Orientation o : order) {
    unsigned number = 0;
    if (detail::TryDecode(sampler, o, &number)) {
      result.valid = true;
      result.frameNumber = number;
      result.orientation = o;
      return result;
    }
  }
  return result;
}

// A 24-bit bottom-up BGR picture, rows padded to 4 bytes unless `stride` says otherwise.
inline Decoded DecodeBgrBottomUp(const uint8_t* pixels, size_t bytes, int width, int height, int stride = 0) {
  return Decode(Sampler(Layout::RGB24, pixels, bytes, width, height, stride));
}

inline Decoded DecodeFrame(Layout layout, const uint8_t* data, size_t bytes, int width, int height) {
  return Decode(Sampler(layout, data, bytes, width, height));
}

// Converts a frame of any layout to a 24-bit bottom-up BGR picture (rows padded to 4 bytes),
// with the same integer formulas; for tests that want to look at pictures as a host does.
inline std::vector<uint8_t> ToBgrBottomUp(Layout layout, const uint8_t* data, size_t bytes, int width, int height) {
  Sampler s(layout, data, bytes, width, height);
  std::vector<uint8_t> out;
  if (!s.Ok()) return out;
  const int stride = RgbRowStride(width);
  out.assign(static_cast<size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = out.data() + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      Rgb c = s.At(x, y);
      row[3 * x] = static_cast<uint8_t>(c.b);
      row[3 * x + 1] = static_cast<uint8_t>(c.g);
      row[3 * x + 2] = static_cast<uint8_t>(c.r);
    }
  }
  return out;
}

}  // namespace zvpattern
