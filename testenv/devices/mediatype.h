#pragma once
// AM_MEDIA_TYPE records: copying, freeing and comparing, with the platform's allocation rules
// (format blocks and records from CoTaskMemAlloc; pUnk counted).
#include <windows.h>
#include <strmif.h>

namespace zvd {

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt);
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
// A CoTaskMemAlloc'ed copy, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src);
// Same major type, subtype, format type and format bytes.
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// Whether `full` fits the partial type `partial` (GUID_NULL fields match anything).
bool MatchesPartial(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE* partial);

// The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, or null (no block, another
// format type, a block too short); `interval`, when given, gets the block's frame interval.
const BITMAPINFOHEADER* VideoBitmapOf(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval = nullptr);

// An owned media type record (value semantics).
class MediaType {
 public:
  MediaType() { ZeroMemory(&m_mt, sizeof(m_mt)); }
  MediaType(const MediaType& other) : MediaType() { CopyMediaTypeContents(m_mt, other.m_mt); }
  MediaType& operator=(const MediaType& other) {
    if (this != &other) Set(other.m_mt);
    return *this;
  }
  ~MediaType() { FreeMediaTypeContents(m_mt); }
  HRESULT Set(const AM_MEDIA_TYPE& src) {
    AM_MEDIA_TYPE copy;
    ZeroMemory(&copy, sizeof(copy));
    HRESULT hr = CopyMediaTypeContents(copy, src);
    if (FAILED(hr)) return hr;
    FreeMediaTypeContents(m_mt);
    m_mt = copy;
    return S_OK;
  }
  void Clear() { FreeMediaTypeContents(m_mt); }
  // Allocates a format block of `bytes` zeroed bytes.
  BYTE* AllocFormat(ULONG bytes);
  bool Empty() const { return IsEqualGUID(m_mt.majortype, GUID_NULL); }
  AM_MEDIA_TYPE& Get() { return m_mt; }
  const AM_MEDIA_TYPE& Get() const { return m_mt; }
  AM_MEDIA_TYPE* operator->() { return &m_mt; }
  const AM_MEDIA_TYPE* operator->() const { return &m_mt; }

 private:
  AM_MEDIA_TYPE m_mt;
};

}  // namespace zvd
