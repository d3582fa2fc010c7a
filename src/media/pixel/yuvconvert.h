#pragma once

// Conversion of YUY2, I420 and NV12 frames into 24-bit pictures: blue, green, red bytes per pixel, rows of
// exactly width * 3 bytes, the bottom row of the picture first. Platform-free (no windows.h), so it
// also builds natively for the sanitizer, fuzz and benchmark programs.
//
// Every path gives the same bytes as the table-driven reference (YuvTables):
//   red   = clamp((luma[Y] + redV[V] + 512) >> 10)
//   green = clamp((luma[Y] - greenU[U] - greenV[V] + 512) >> 10)
//   blue  = clamp((luma[Y] + blueU[U] + 512) >> 10)

#include <stddef.h>
#include <stdint.h>

namespace zelvora {

// Instruction set of the conversion kernels, chosen once at run time from the processor's features.
enum class SimdLevel : int { Scalar = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };

// The best level this processor and operating system support.
SimdLevel DetectSimdLevel();
const char* SimdLevelName(SimdLevel level);

// Bytes a source frame of this size must hold, or 0 when the size cannot be converted (zero or
// negative, or so large that the sizes overflow).
//   YUY2: height rows of 2 * width bytes rounded up to a multiple of 4 (odd widths carry a half group).
//   I420: width * height luma bytes and two chroma planes of ceil(width/2) * ceil(height/2) bytes.
//   NV12: width * height luma bytes and one chroma plane of ceil(height/2) rows of U V pairs,
//         2 * ceil(width/2) bytes each (U first), so as many bytes as I420.
// In both, the pixels of a column pair and a row pair share one chroma sample; an odd last column
// or row has one of its own.
size_t Yuy2SourceBytes(int width, int height);
size_t I420SourceBytes(int width, int height);
size_t Nv12SourceBytes(int width, int height);
// Bytes of the 24-bit picture, width * height * 3, or 0 as above.
size_t BgrPictureBytes(int width, int height);

// Convert into a new buffer of BgrPictureBytes(width, height) bytes, to be freed with free().
// Null when the source is null, the size is unusable or the allocation fails. The source must
// hold at least Yuy2SourceBytes / I420SourceBytes / Nv12SourceBytes bytes: callers compare with
// what they got.
uint8_t* ConvertYuy2ToBgr(const uint8_t* source, int width, int height);
uint8_t* ConvertI420ToBgr(const uint8_t* source, int width, int height);
uint8_t* ConvertNv12ToBgr(const uint8_t* source, int width, int height);

// Convert into a caller's buffer of BgrPictureBytes(width, height) bytes with the best kernels
// (or those of `level`, never above DetectSimdLevel()). False, writing nothing, for a null pointer
// or an unusable size.
bool Yuy2ToBgr(const uint8_t* source, int width, int height, uint8_t* destination);
bool I420ToBgr(const uint8_t* source, int width, int height, uint8_t* destination);
bool Nv12ToBgr(const uint8_t* source, int width, int height, uint8_t* destination);
bool Yuy2ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level);
bool I420ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level);
bool Nv12ToBgr(const uint8_t* source, int width, int height, uint8_t* destination, SimdLevel level);

}  // namespace zelvora
