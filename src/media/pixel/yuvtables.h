#pragma once

#include <stdint.h>

namespace zelvora {

// The five colour tables of the YUV to 24-bit conversions (platform-free). Entries are fixed point
// with 10 fractional bits; Y is taken as full range (no offset of 16, no scale).
//   luma[Y]   = 1024 * Y
//   redV[V]   = trunc(1024 * 1.403 * (V - 128))
//   greenU[U] = trunc(1024 * 0.344 * (U - 128))
//   greenV[V] = trunc(1024 * 0.714 * (V - 128))
//   blueU[U]  = trunc(1024 * 1.770 * (U - 128))
namespace YuvTables {
extern const int32_t luma[256];
extern const int32_t redV[256];
extern const int32_t greenU[256];
extern const int32_t greenV[256];
extern const int32_t blueU[256];
}  // namespace YuvTables

}  // namespace zelvora
