#pragma once

// The numbered capability list of a camera's stream configuration.
#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <uuids.h>
#include <wrl/client.h>

#include <memory>
#include <new>

#include "capture/formatchoice.h"
#include "capture/frameformat.h"
#include "media/camutilifun.h"

namespace zelvora {

// The numbered capability list of a stream configuration. The capability records are read into
// a buffer of the size that the configuration announces, never smaller than a
// VIDEO_STREAM_CONFIG_CAPS, so a source that announces a larger record is not written past.
class CapabilityList {
 public:
  CapabilityList() = default;
  CapabilityList(const CapabilityList&) = delete;
  CapabilityList& operator=(const CapabilityList&) = delete;

  HRESULT Open(IAMStreamConfig* config) {
    m_pConfig = config;  // kept for the walk
    int size = 0;
    HRESULT hr = config->GetNumberOfCapabilities(&m_nCount, &size);
    if (FAILED(hr)) return hr;
    const size_t bytes = size > static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))
                             ? static_cast<size_t>(size)
                             : sizeof(VIDEO_STREAM_CONFIG_CAPS);
    m_pCaps.reset(new (std::nothrow) BYTE[bytes]());
    return m_pCaps ? S_OK : E_OUTOFMEMORY;
  }

  int Count() const { return m_nCount; }

  // Record `index` with its capability record. S_OK only when a record was handed out; a
  // failure, or an index past the end (S_FALSE), ends a walk of the list.
  HRESULT Read(int index, MediaTypeRecord* record) {
    AM_MEDIA_TYPE* mediaType = nullptr;
    HRESULT hr = m_pConfig->GetStreamCaps(index, &mediaType, m_pCaps.get());
    record->reset(mediaType);
    if (FAILED(hr)) return hr;
    return mediaType ? S_OK : S_FALSE;
  }

  // Calls `visit(index, info)` for each capability in order; a record that cannot be read ends
  // the walk (the caller decides from what was read so far).
  template <typename Visit>
  void Walk(Visit visit) {
    for (int i = 0; i < m_nCount; ++i) {
      MediaTypeRecord record;
      if (Read(i, &record) != S_OK) return;
      visit(i, Describe(*record));
    }
  }

  // The capability record that came with the record read last.
  const VIDEO_STREAM_CONFIG_CAPS& Caps() const {
    return *reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(m_pCaps.get());
  }

  // What the format code needs of the record just read.
  CapabilityInfo Describe(const AM_MEDIA_TYPE& mediaType) const {
    const VIDEO_STREAM_CONFIG_CAPS* caps = &Caps();
    CapabilityInfo info;
    info.videoInfo = IsEqualGUID(mediaType.formattype, FORMAT_VideoInfo) != FALSE;
    info.format = PixelFormatOfSubtype(mediaType.subtype);
    // The width is the largest output width, the height the smallest output height: for a
    // capability of one fixed size both are simply the frame's size.
    info.width = caps->MaxOutputSize.cx;
    info.height = caps->MinOutputSize.cy;
    return info;
  }

 private:
  Microsoft::WRL::ComPtr<IAMStreamConfig> m_pConfig;
  int m_nCount = 0;
  std::unique_ptr<BYTE[]> m_pCaps;
};

}  // namespace zelvora
