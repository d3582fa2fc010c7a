#pragma once

// The Windows Media Format runtime as the recording code uses it: the declarations the MinGW
// headers leave out, the media type records this code allocates, and (in wmruntime.h) the seam
// through which the capture graph object obtains its profile manager.
#include <stddef.h>
#include <windows.h>
#include <wmsdkidl.h>

#include <memory>

#include "media/wmruntime.h"

// IWMVideoMediaProps (quality and key frame spacing of a video stream).
#ifndef __IWMVideoMediaProps_INTERFACE_DEFINED__
#define __IWMVideoMediaProps_INTERFACE_DEFINED__
MIDL_INTERFACE("96406bcf-2b2b-11d3-b36b-00c04f6108ff")
IWMVideoMediaProps : public IWMMediaProps {
  virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG * time) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD * quality) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWMVideoMediaProps, 0x96406bcf, 0x2b2b, 0x11d3, 0xb3, 0x6b, 0x00, 0xc0, 0x4f, 0x61, 0x08, 0xff)
#endif
#endif

namespace zelvora {

// Media and codec identifiers (the runtime's WMMEDIATYPE_* / WMMEDIASUBTYPE_* values; no import
// library defines them).
constexpr GUID kWmMediaTypeVideo = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kWmMediaTypeAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kWmSubtypeWmv3 = {0x33564d57, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// Windows Media Audio 8 (format tag 0x0161).
constexpr GUID kWmSubtypeWmAudioV8 = {0x00000161, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// WM_STREAM_PRIORITY_RECORD as the runtime reads it: packed on 2 bytes, 6 bytes per record, in
// 32-bit and 64-bit processes alike. The MinGW header declares it without the packing (8 bytes),
// which would shift every record after the first.
#pragma pack(push, 2)
struct StreamPriorityRecord {
  WORD wStreamNumber;
  BOOL fMandatory;
};
#pragma pack(pop)
static_assert(sizeof(StreamPriorityRecord) == 6, "priority records are 6 bytes");
static_assert(offsetof(StreamPriorityRecord, fMandatory) == 2, "fMandatory follows the stream number");

// The runtime's media type record is naturally aligned: 72 bytes on the 32-bit platform, 88 on
// the 64-bit one (pUnk and pbFormat grow to 8 bytes and each gets 4 bytes of padding before it).
static_assert(sizeof(void*) != 4 || sizeof(WM_MEDIA_TYPE) == 72, "WM_MEDIA_TYPE is 72 bytes");
static_assert(sizeof(void*) != 8 || sizeof(WM_MEDIA_TYPE) == 88, "WM_MEDIA_TYPE is 88 bytes");

// Media type records of the recording code: one block of `bytes` bytes from the array allocator
// (null when out of memory), given back with FreeWmMediaType. LiveWmMediaTypes counts the blocks
// not yet given back, process-wide.
WM_MEDIA_TYPE* AllocWmMediaType(size_t bytes);
void FreeWmMediaType(WM_MEDIA_TYPE* record);
long LiveWmMediaTypes();

// Copies `source` into one new block: the record header followed by cbFormat bytes of format
// block, the copy's pbFormat pointing just behind its header. S_OK; E_POINTER for a null `copy`;
// E_NOTIMPL for a null source; E_INVALIDARG for a format block announced but absent;
// E_OUTOFMEMORY.
HRESULT CopyWmMediaType(WM_MEDIA_TYPE** copy, const WM_MEDIA_TYPE* source);

struct WmMediaTypeDeleter {
  void operator()(WM_MEDIA_TYPE* record) const { FreeWmMediaType(record); }
};
using WmMediaTypeRecord = std::unique_ptr<WM_MEDIA_TYPE, WmMediaTypeDeleter>;

}  // namespace zelvora
