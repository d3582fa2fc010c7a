// Frame extraction: one decoded picture of a Windows Media file through the synchronous reader.
#include "playback/framereader.h"

#include <nserror.h>
#include <uuids.h>
#include <wmsbuffer.h>

#include <limits.h>
#include <string.h>

#include <memory>
#include <new>

#include "media/hosttypes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

namespace {

struct ReaderDestroyer {
  void operator()(SyncFrameReader* reader) const { reader->Destroy(); }
};

}  // namespace

HRESULT LoadFrameFromFile(const WCHAR* fileName, int frame, unsigned long* image, WmRuntime& runtime) {
  if (!fileName || !image) return E_POINTER;
  std::unique_ptr<SyncFrameReader, ReaderDestroyer> reader(SyncFrameReader::Create(runtime));
  if (!reader) return E_POINTER;

  LONG width = 0;
  LONG height = 0;
  if (!reader->Open(fileName) || !reader->GetFrameSize(&width, &height)) return E_INVALIDARG;
  LONG last = reader->ReadFrame(nullptr);
  if (last <= 0) return E_INVALIDARG;

  FrameImage* record = reinterpret_cast<FrameImage*>(image);
  record->nWidth = width;
  record->nHeight = height;
  record->pBits = static_cast<unsigned char*>(CoTaskMemAlloc(static_cast<SIZE_T>(last)));
  if (!record->pBits) return E_INVALIDARG;
  // Picture n is the n-th sample from the beginning; 0 or less reads none.
  for (; frame > 0; --frame) {
    last = reader->ReadFrame(record->pBits);
    if (last <= 0) break;
  }
  return last > 0 ? S_OK : E_INVALIDARG;
}

// ---- SyncFrameReader ----

SyncFrameReader* SyncFrameReader::Create(WmRuntime& runtime) {
  return new (std::nothrow) SyncFrameReader(runtime);
}

SyncFrameReader::~SyncFrameReader() {
  m_pReaderProfile.Reset();
  m_pReader.Reset();
}

void SyncFrameReader::Destroy() { delete this; }

bool SyncFrameReader::Open(const WCHAR* fileName) {
  if (!fileName || m_pReader) return false;
  if (FAILED(m_pWmRuntime->CreateSyncReader(&m_pReader)) || !m_pReader) return false;
  if (FAILED(m_pReader->Open(fileName))) return false;
  // Without a profile FindStreams refuses to work.
  m_pReader.As(&m_pReaderProfile);
  const HRESULT found = FindStreams();
  m_pReaderProfile.Reset();
  if (FAILED(found)) return false;
  if (m_wVideoStream != 0) {
    // The picture stream alone: every other stream (sound above all) is switched off, so that the
    // reader neither decodes nor queues samples that would only be thrown away.
    WMT_STREAM_SELECTION selection[kMaxStreams];
    for (WORD i = 0; i < m_wStreamCount; ++i)
      selection[i] = m_wStreamNumbers[i] == m_wVideoStream ? WMT_ON : WMT_OFF;
    if (FAILED(m_pReader->SetStreamsSelected(m_wStreamCount, m_wStreamNumbers, selection))) return false;
    if (FAILED(m_pReader->SetReadStreamSamples(m_wVideoStream, FALSE))) return false;  // decoded samples
  }
  if (FAILED(m_pReader->SetRange(0, 0))) return false;  // the whole file from its beginning
  m_bOpened = 1;
  return true;
}

bool SyncFrameReader::GetFrameSize(LONG* width, LONG* height) {
  if (!m_bOpened) return false;
  if (width) *width = m_VideoInfo.bmiHeader.biWidth;
  if (height) *height = m_VideoInfo.bmiHeader.biHeight;
  return true;
}

LONG SyncFrameReader::PictureBytes() const {
  const LONGLONG bytes =
      static_cast<LONGLONG>(m_VideoInfo.bmiHeader.biWidth) * m_VideoInfo.bmiHeader.biHeight * 3;
  if (bytes > LONG_MAX || bytes < LONG_MIN) return -1;
  return static_cast<LONG>(bytes);
}

LONG SyncFrameReader::ReadFrame(BYTE* buffer) {
  if (!m_bOpened) return -1;
  const LONG size = PictureBytes();
  if (!buffer) return size;

  ComPtr<INSSBuffer> sample;
  QWORD sampleTime = 0;
  QWORD sampleDuration = 0;
  DWORD flags = 0;
  const HRESULT hr = m_pReader->GetNextSample(m_wVideoStream, &sample, &sampleTime, &sampleDuration, &flags,
                                              nullptr, nullptr);
  if (hr == NS_E_NO_MORE_SAMPLES) return 0;
  if (FAILED(hr) || !sample) return -1;
  // GetBufferAndLength gives the same length as GetLength (which not every runtime offers).
  BYTE* source = nullptr;
  DWORD length = 0;
  if (FAILED(sample->GetBufferAndLength(&source, &length)) || !source) return -1;
  if (size <= 0 || length != static_cast<DWORD>(size)) return -1;
  memcpy(buffer, source, length);
  return static_cast<LONG>(length);
}

HRESULT SyncFrameReader::FindStreams() {
  if (!m_pReaderProfile) return E_INVALIDARG;
  DWORD streamCount = 0;
  HRESULT hr = m_pReaderProfile->GetStreamCount(&streamCount);
  if (FAILED(hr)) return hr;
  for (DWORD index = 0; index < streamCount; ++index) {
    ComPtr<IWMStreamConfig> lpStreamConfig;
    hr = m_pReaderProfile->GetStream(index, &lpStreamConfig);
    if (FAILED(hr)) return hr;
    WORD streamNumber = 0;
    hr = lpStreamConfig->GetStreamNumber(&streamNumber);
    if (FAILED(hr)) return hr;
    GUID guidStreamType = GUID_NULL;
    hr = lpStreamConfig->GetStreamType(&guidStreamType);
    if (FAILED(hr)) return hr;
    // A profile cannot hold more streams; were one to, the surplus would merely stay selected.
    if (m_wStreamCount < kMaxStreams) m_wStreamNumbers[m_wStreamCount++] = streamNumber;
    if (!IsEqualGUID(guidStreamType, WMMEDIATYPE_Video)) continue;

    ComPtr<IWMMediaProps> lpMediaProps;
    hr = lpStreamConfig.As(&lpMediaProps);
    if (FAILED(hr)) return hr;
    DWORD luMediaSize = 0;
    hr = lpMediaProps->GetMediaType(nullptr, &luMediaSize);
    if (FAILED(hr)) return hr;
    if (luMediaSize == 0) return E_NOTIMPL;
    const DWORD allocated = luMediaSize;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[allocated]);
    if (!buffer) return E_OUTOFMEMORY;
    WM_MEDIA_TYPE* mediaType = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.get());
    hr = lpMediaProps->GetMediaType(mediaType, &luMediaSize);
    if (FAILED(hr)) return hr;
    // Only a whole VIDEOINFOHEADER is read; a stream described otherwise is not used.
    if (allocated >= sizeof(WM_MEDIA_TYPE) && IsEqualGUID(mediaType->formattype, FORMAT_VideoInfo) &&
        mediaType->pbFormat && mediaType->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      memcpy(&m_VideoInfo, mediaType->pbFormat, sizeof(VIDEOINFOHEADER));
      m_wVideoStream = streamNumber;
    }
  }
  return hr;
}

}  // namespace zelvora
