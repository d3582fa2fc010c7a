// Motion-JPEG decoding with the header-only JPEG decoder of stb_image, built into this file alone.
//
// stb_image decodes the entropy-coded data into one plane per component. Its own output stage
// would then allocate a top-down RGB picture (with a scalar colour conversion for 3 bytes per
// pixel) that would need another pass to become bottom-up BGR. Instead this file drives the
// decoder's internal steps itself and writes the picture straight into the caller's buffer: each
// row is upsampled and colour-converted with SSE2 into its bottom-up place, blue first.
//
// Memory: stb_image allocates the component planes through STBI_MALLOC. These calls are routed to
// the decoding object's arena (found through a thread-local pointer, so two decoders on two
// streaming threads never share one), which keeps its blocks from frame to frame. Under Wine a
// fresh large block per frame costs page faults on every frame.
//
// Thread safety: failure strings (stb_image's one written global) are compiled out; the other
// globals are only read.
#include "media/pixel/mjpegdecode.h"

#include <emmintrin.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "media/pixel/yuvconvert.h"

namespace zelvora {
namespace mjpeg {

// Blocks handed to stb_image while one frame is decoded, reused by the next frame in the same
// order (the planes of components 0, 1, 2...). Freeing is a no-op: the blocks live as long as the
// decoder.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (Block& b : m_blocks) free(b.p);
  }
  void Restart() { m_nNext = 0; }
  void* Take(size_t size) {
    if (m_nNext == kSlots) return nullptr;
    Block& b = m_blocks[m_nNext];
    if (b.size < size) {
      // Zeroed, so a component that no scan covers shows nothing of the process's memory.
      void* p = calloc(1, size);
      if (!p) return nullptr;
      free(b.p);
      b.p = p;
      b.size = size;
    }
    ++m_nNext;
    return b.p;
  }

 private:
  static constexpr int kSlots = 8;  // a frame takes at most one block per component (four)
  struct Block {
    void* p = nullptr;
    size_t size = 0;
  };
  Block m_blocks[kSlots];
  int m_nNext = 0;
};

thread_local Arena* t_pArena = nullptr;

void* ArenaTake(size_t size) { return t_pArena ? t_pArena->Take(size) : nullptr; }
void ArenaGiveBack(void*) {}
// Used only by the image formats that are left out.
void* ArenaResize(void*, size_t) { return nullptr; }

}  // namespace mjpeg
}  // namespace zelvora

#define STBI_MALLOC(size) zelvora::mjpeg::ArenaTake(size)
#define STBI_FREE(p) zelvora::mjpeg::ArenaGiveBack(p)
#define STBI_REALLOC(p, size) zelvora::mjpeg::ArenaResize(p, size)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_FAILURE_STRINGS
// stb_image leaves SSE2 off for 32-bit MinGW because older GCCs assumed a 16-byte aligned stack,
// which Windows does not keep. GCC 12 for i686-w64-mingw32 realigns the stack (and $-16, %esp) in
// every function that keeps SSE values on it, so its kernels are safe on any thread.
#define STBI_MINGW_ENABLE_SSE2
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#elif defined(_MSC_VER)
#pragma warning(push, 1)
#endif
#include "stb_image.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif

#if !defined(STBI_SSE2)
#error "stb_image must be built with its SSE2 kernels: compile this file with -msse2"
#endif

namespace zelvora {
namespace {

// The standard Huffman tables of the JPEG standard's annex K (K.3.1, K.3.2): numbers of codes of
// each length 1..16, then the symbols.
const uint8_t kDcLumaCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcChromaCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kAcLumaCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kAcLumaSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t kAcChromaCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChromaSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Loads one table into the decoder as a DHT segment would.
void LoadTable(stbi__huffman* h, const uint8_t counts[16], const uint8_t* symbols) {
  int sizes[16];
  int n = 0;
  for (int i = 0; i < 16; ++i) n += sizes[i] = counts[i];
  stbi__build_huffman(h, sizes);
  memcpy(h->values, symbols, static_cast<size_t>(n));
}

// stb_image 2.27 stores a Huffman table's symbols without checking that the counts add up to at
// most 256 (the size of its arrays): a hostile DHT segment writes past them. Every DHT segment of
// the frame is checked first, at the places where the decoder will meet it: marker segments are
// followed by their lengths, entropy-coded data is skipped to the next marker.
bool HuffmanTablesFit(const uint8_t* p, size_t n) {
  size_t i = 2;
  while (i + 1 < n) {
    if (p[i] != 0xFF) {
      const void* next = memchr(p + i, 0xFF, n - i);
      if (!next) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(next) - p);
      continue;
    }
    const uint8_t m = p[i + 1];
    if (m == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9)) {  // no length: stuffing, RSTn, SOI, EOI
      i += 2;
      continue;
    }
    if (i + 4 > n) break;
    const size_t end = i + 2 + (p[i + 2] << 8 | p[i + 3]);
    if (m == 0xC4) {
      for (size_t t = i + 4; t < end && t < n;) {
        size_t symbols = 0;  // (the decoder reads zeros past the end of the frame)
        for (size_t k = t + 1; k <= t + 16 && k < n; ++k) symbols += p[k];
        if (symbols > 256) return false;
        t += 17 + symbols;
      }
    }
    i = end;
  }
  return true;
}

// The inverse DCT of one 8x8 block. In camera pictures many blocks carry no coefficient but DC
// (flat areas at usual qualities); such a block is one value, the one stb_image's transform gives
// for it (checked for every DC value).
void IdctBlock(stbi_uc* out, int stride, short data[64]) {
  const __m128i* v = reinterpret_cast<const __m128i*>(data);
  __m128i ac = _mm_insert_epi16(_mm_loadu_si128(v), 0, 0);
  for (int i = 1; i < 8; ++i) ac = _mm_or_si128(ac, _mm_loadu_si128(v + i));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(ac, _mm_setzero_si128())) != 0xFFFF) {
    stbi__idct_simd(out, stride, data);
    return;
  }
  const int value = (data[0] + 1028) >> 3;
  const __m128i fill = _mm_set1_epi8(static_cast<char>(value < 0 ? 0 : (value > 255 ? 255 : value)));
  for (int y = 0; y < 8; ++y) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride), fill);
}

// A decoder with the standard tables in slots 0 (luma) and 1 (chroma); a frame's own DHT
// segments replace them.
void SetUpStandardTables(stbi__jpeg* j) {
  memset(j, 0, sizeof(*j));
  LoadTable(&j->huff_dc[0], kDcLumaCounts, kDcSymbols);
  LoadTable(&j->huff_dc[1], kDcChromaCounts, kDcSymbols);
  LoadTable(&j->huff_ac[0], kAcLumaCounts, kAcLumaSymbols);
  LoadTable(&j->huff_ac[1], kAcChromaCounts, kAcChromaSymbols);
  stbi__build_fast_ac(j->fast_ac[0], &j->huff_ac[0]);
  stbi__build_fast_ac(j->fast_ac[1], &j->huff_ac[1]);
  stbi__setup_jpeg(j);
  j->idct_block_kernel = IdctBlock;
}

// --- Output stage: one picture row at a time ---

// 16 pixels of blue, green and red bytes -> 48 bytes B G R B G R ... at dst.
inline __m128i Compact4(__m128i bgr0) {
  // Four B G R 0 dwords -> 12 bytes in the low bytes, zeros above.
  const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i t = _mm_or_si128(_mm_and_si128(bgr0, low3), _mm_srli_epi64(_mm_andnot_si128(low3, bgr0), 8));
  return _mm_or_si128(_mm_move_epi64(t), _mm_slli_si128(_mm_srli_si128(t, 8), 6));
}

inline void Store48(__m128i b, __m128i g, __m128i r, uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
  const __m128i rLo = _mm_unpacklo_epi8(r, zero), rHi = _mm_unpackhi_epi8(r, zero);
  const __m128i p0 = Compact4(_mm_unpacklo_epi16(bgLo, rLo));
  const __m128i p1 = Compact4(_mm_unpackhi_epi16(bgLo, rLo));
  const __m128i p2 = Compact4(_mm_unpacklo_epi16(bgHi, rHi));
  const __m128i p3 = Compact4(_mm_unpackhi_epi16(bgHi, rHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// YCbCr (JFIF, full range) -> BGR in stb_image's fixed point: 12-bit constants, 20-bit scale.
void YccRowToBgr(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width) {
  const __m128i signflip = _mm_set1_epi8(-0x80);
  const __m128i crToR = _mm_set1_epi16(static_cast<short>(1.40200f * 4096.0f + 0.5f));
  const __m128i crToG = _mm_set1_epi16(static_cast<short>(-(0.71414f * 4096.0f + 0.5f)));
  const __m128i cbToG = _mm_set1_epi16(static_cast<short>(-(0.34414f * 4096.0f + 0.5f)));
  const __m128i cbToB = _mm_set1_epi16(static_cast<short>(1.77200f * 4096.0f + 0.5f));
  const __m128i yBias = _mm_set1_epi8(static_cast<char>(128));
  const __m128i zero = _mm_setzero_si128();
  int i = 0;
  for (; i + 16 <= width; i += 16) {
    const __m128i yb = Load16(y + i);
    const __m128i cbb = _mm_xor_si128(Load16(cb + i), signflip);  // Cb - 128, as signed bytes
    const __m128i crb = _mm_xor_si128(Load16(cr + i), signflip);
    __m128i bgr[3][2];
    for (int half = 0; half < 2; ++half) {
      // 16 * Y + 8, and the chroma values times 256, in 16-bit lanes.
      const __m128i y16 = _mm_srli_epi16(half ? _mm_unpackhi_epi8(yBias, yb) : _mm_unpacklo_epi8(yBias, yb), 4);
      const __m128i cb16 = half ? _mm_unpackhi_epi8(zero, cbb) : _mm_unpacklo_epi8(zero, cbb);
      const __m128i cr16 = half ? _mm_unpackhi_epi8(zero, crb) : _mm_unpacklo_epi8(zero, crb);
      const __m128i g = _mm_add_epi16(_mm_add_epi16(y16, _mm_mulhi_epi16(cb16, cbToG)), _mm_mulhi_epi16(cr16, crToG));
      bgr[0][half] = _mm_srai_epi16(_mm_add_epi16(y16, _mm_mulhi_epi16(cb16, cbToB)), 4);
      bgr[1][half] = _mm_srai_epi16(g, 4);
      bgr[2][half] = _mm_srai_epi16(_mm_add_epi16(y16, _mm_mulhi_epi16(cr16, crToR)), 4);
    }
    Store48(_mm_packus_epi16(bgr[0][0], bgr[0][1]), _mm_packus_epi16(bgr[1][0], bgr[1][1]),
            _mm_packus_epi16(bgr[2][0], bgr[2][1]), dst + 3 * i);
  }
  for (; i < width; ++i) {
    const int yFixed = (y[i] << 20) + (1 << 19);
    const int u = cb[i] - 128, v = cr[i] - 128;
    uint8_t* d = dst + 3 * i;
    d[0] = Clamp255((yFixed + u * stbi__float2fixed(1.77200f)) >> 20);
    d[1] = Clamp255((yFixed + v * -stbi__float2fixed(0.71414f) + ((u * -stbi__float2fixed(0.34414f)) & -65536)) >> 20);
    d[2] = Clamp255((yFixed + v * stbi__float2fixed(1.40200f)) >> 20);
  }
}

// Planes that are already blue, green and red (grey: the same plane three times).
void PlanesRowToBgr(const uint8_t* b, const uint8_t* g, const uint8_t* r, uint8_t* dst, int width) {
  int i = 0;
  for (; i + 16 <= width; i += 16) Store48(Load16(b + i), Load16(g + i), Load16(r + i), dst + 3 * i);
  for (; i < width; ++i) {
    dst[3 * i] = b[i];
    dst[3 * i + 1] = g[i];
    dst[3 * i + 2] = r[i];
  }
}

// Horizontal 2x upsampling of a chroma row (4:2:2), centred like the rest of stb_image's
// upsamplers: each output is 3/4 of the nearer and 1/4 of the farther input sample.
stbi_uc* UpsampleRowH2(stbi_uc* out, stbi_uc* in, stbi_uc*, int w, int) {
  if (w == 1) {
    out[0] = out[1] = in[0];
    return out;
  }
  out[0] = in[0];
  out[1] = static_cast<stbi_uc>((3 * in[0] + in[1] + 2) >> 2);
  int i = 1;
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  for (; i + 8 < w; i += 8) {
    const __m128i prev = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i - 1)), zero);
    const __m128i cur = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i)), zero);
    const __m128i next = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i + 1)), zero);
    const __m128i n = _mm_add_epi16(_mm_add_epi16(cur, _mm_add_epi16(cur, cur)), two);
    const __m128i even = _mm_srli_epi16(_mm_add_epi16(n, prev), 2);
    const __m128i odd = _mm_srli_epi16(_mm_add_epi16(n, next), 2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                     _mm_unpacklo_epi8(_mm_packus_epi16(even, even), _mm_packus_epi16(odd, odd)));
  }
  for (; i < w - 1; ++i) {
    const int n = 3 * in[i] + 2;
    out[2 * i] = static_cast<stbi_uc>((n + in[i - 1]) >> 2);
    out[2 * i + 1] = static_cast<stbi_uc>((n + in[i + 1]) >> 2);
  }
  out[2 * i] = static_cast<stbi_uc>((3 * in[i] + in[i - 1] + 2) >> 2);
  out[2 * i + 1] = in[i];
  return out;
}

}  // namespace

struct MjpegDecoder::State {
  stbi__jpeg tables;  // a fresh decoder with the standard Huffman tables, copied for every frame
  stbi__jpeg jpeg;
  mjpeg::Arena arena;
  std::vector<uint8_t> lines[3];  // upsampled component rows
};

MjpegDecoder::MjpegDecoder() : m_pState(new State) { SetUpStandardTables(&m_pState->tables); }

MjpegDecoder::~MjpegDecoder() = default;

bool MjpegDecoder::Decode(const uint8_t* data, size_t length, int width, int height, uint8_t* destination) {
  // JPEG sizes are 16-bit.
  if (!data || !destination || BgrPictureBytes(width, height) == 0 || width > 65535 || height > 65535) return false;
  // A whole picture: SOI first, EOI last, after any zero padding of the camera's buffer. (The
  // decoder itself would fill a truncated picture with grey.)
  size_t end = length;
  while (end > 0 && data[end - 1] == 0) --end;
  if (end < 4 || end > static_cast<size_t>(INT_MAX) || data[0] != 0xFF || data[1] != 0xD8 || data[end - 2] != 0xFF ||
      data[end - 1] != 0xD9)
    return false;

  if (!HuffmanTablesFit(data, end)) return false;

  State& st = *m_pState;
  stbi__context source;
  stbi__start_mem(&source, data, static_cast<int>(end));
  stbi__jpeg& j = st.jpeg;
  memcpy(&j, &st.tables, sizeof(j));
  j.s = &source;

  // The frame header first, so that a frame of another size (or a hostile one) allocates nothing.
  if (!stbi__decode_jpeg_header(&j, STBI__SCAN_header) || j.progressive || source.img_x != static_cast<unsigned>(width) ||
      source.img_y != static_cast<unsigned>(height) || (source.img_n != 1 && source.img_n != 3))
    return false;
  stbi__rewind(&source);

  struct ArenaScope {
    explicit ArenaScope(mjpeg::Arena* a) {
      a->Restart();
      mjpeg::t_pArena = a;
    }
    ~ArenaScope() { mjpeg::t_pArena = nullptr; }
  } scope(&st.arena);
  if (!stbi__decode_jpeg_image(&j)) return false;

  // Upsample and convert, row by row, into the bottom-up picture (as stb_image's load_jpeg_image
  // does into a top-down one).
  const int n = source.img_n;
  stbi__resample res[3];
  for (int k = 0; k < n; ++k) {
    stbi__resample& r = res[k];
    st.lines[k].resize(static_cast<size_t>(width) + 3);
    r.hs = j.img_h_max / j.img_comp[k].h;
    r.vs = j.img_v_max / j.img_comp[k].v;
    r.ystep = r.vs >> 1;
    r.w_lores = (width + r.hs - 1) / r.hs;
    r.ypos = 0;
    r.line0 = r.line1 = j.img_comp[k].data;
    if (r.hs == 1 && r.vs == 1) r.resample = resample_row_1;
    else if (r.hs == 2 && r.vs == 1) r.resample = UpsampleRowH2;
    else if (r.hs == 1 && r.vs == 2) r.resample = stbi__resample_row_v_2;
    else if (r.hs == 2 && r.vs == 2) r.resample = j.resample_row_hv_2_kernel;
    else r.resample = stbi__resample_row_generic;
  }
  const bool rgb = n == 3 && (j.rgb == 3 || (j.app14_color_transform == 0 && !j.jfif));
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const uint8_t* row[3] = {nullptr, nullptr, nullptr};
  for (int y = 0; y < height; ++y) {
    for (int k = 0; k < n; ++k) {
      stbi__resample& r = res[k];
      const bool bottom = r.ystep >= (r.vs >> 1);
      row[k] = r.resample(st.lines[k].data(), bottom ? r.line1 : r.line0, bottom ? r.line0 : r.line1, r.w_lores, r.hs);
      if (++r.ystep >= r.vs) {
        r.ystep = 0;
        r.line0 = r.line1;
        if (++r.ypos < j.img_comp[k].y) r.line1 += j.img_comp[k].w2;
      }
    }
    uint8_t* out = destination + static_cast<size_t>(height - 1 - y) * rowBytes;
    if (n == 1) PlanesRowToBgr(row[0], row[0], row[0], out, width);
    else if (rgb) PlanesRowToBgr(row[2], row[1], row[0], out, width);
    else YccRowToBgr(row[0], row[1], row[2], out, width);
  }
  return true;
}

}  // namespace zelvora
