#include "mediatype.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>

#include <string.h>

namespace zvd {

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk) mt.pUnk->Release();
  ZeroMemory(&mt, sizeof(mt));
}

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeMediaTypeContents(*mt);
  CoTaskMemFree(mt);
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
  dst = src;
  dst.pbFormat = nullptr;
  dst.cbFormat = 0;
  if (src.cbFormat && src.pbFormat) {
    dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
    if (!dst.pbFormat) {
      ZeroMemory(&dst, sizeof(dst));
      return E_OUTOFMEMORY;
    }
    memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
    dst.cbFormat = src.cbFormat;
  }
  if (dst.pUnk) dst.pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src) {
  AM_MEDIA_TYPE* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaTypeContents(*mt, src))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (!IsEqualGUID(a.majortype, b.majortype) || !IsEqualGUID(a.subtype, b.subtype) ||
      !IsEqualGUID(a.formattype, b.formattype) || a.cbFormat != b.cbFormat)
    return false;
  if (a.cbFormat == 0) return true;
  if (!a.pbFormat || !b.pbFormat) return a.pbFormat == b.pbFormat;
  return memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

bool MatchesPartial(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE* partial) {
  if (!partial) return true;
  if (!IsEqualGUID(partial->majortype, GUID_NULL) && !IsEqualGUID(partial->majortype, full.majortype))
    return false;
  if (!IsEqualGUID(partial->subtype, GUID_NULL) && !IsEqualGUID(partial->subtype, full.subtype)) return false;
  if (!IsEqualGUID(partial->formattype, GUID_NULL)) {
    if (!IsEqualGUID(partial->formattype, full.formattype)) return false;
    if (partial->cbFormat && partial->pbFormat) {
      if (partial->cbFormat != full.cbFormat || !full.pbFormat ||
          memcmp(partial->pbFormat, full.pbFormat, full.cbFormat) != 0)
        return false;
    }
  }
  return true;
}

BYTE* MediaType::AllocFormat(ULONG bytes) {
  if (m_mt.pbFormat) CoTaskMemFree(m_mt.pbFormat);
  m_mt.pbFormat = nullptr;
  m_mt.cbFormat = 0;
  if (bytes == 0) return nullptr;
  m_mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(bytes));
  if (!m_mt.pbFormat) return nullptr;
  ZeroMemory(m_mt.pbFormat, bytes);
  m_mt.cbFormat = bytes;
  return m_mt.pbFormat;
}

const BITMAPINFOHEADER* VideoBitmapOf(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval) {
  if (!mt.pbFormat) return nullptr;
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    if (interval) *interval = info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* info = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    if (interval) *interval = info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  return nullptr;
}

}  // namespace zvd
