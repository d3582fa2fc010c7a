#include "mjpegdecompressor.h"

#include <amvideo.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <stdlib.h>

#include <new>

#include "framepattern.h"

namespace zvd {
namespace {

// Larger pictures than any camera sends; keeps every size computation far from overflow.
const LONG kMaxSide = 16384;

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || !mt.pbFormat ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  const LONG w = info->bmiHeader.biWidth, h = info->bmiHeader.biHeight;
  if (w <= 0 || w > kMaxSide || h == 0 || h < -kMaxSide || h > kMaxSide) return nullptr;
  return info;
}

DWORD PictureBytes(LONG width, LONG height) {
  return static_cast<DWORD>(zvpattern::RgbRowStride(static_cast<int>(width))) * static_cast<DWORD>(height);
}

}  // namespace

// ============================================================================================
// Input: MJPG
// ============================================================================================
DecompressorInputPin::DecompressorInputPin(MjpegDecompressor* filter)
    : InputPin(filter, L"XForm In"), m_decompressor(filter) {}

HRESULT DecompressorInputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  const VIDEOINFOHEADER* info = VideoInfoOf(mt);
  if (!info || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_MJPG)) return VFW_E_TYPE_NOT_ACCEPTED;
  // A connected output keeps its size: a new input must bring the same.
  const AM_MEDIA_TYPE& out = m_decompressor->Output().ConnectionType().Get();
  if (m_decompressor->Output().IsConnected()) {
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat)->bmiHeader;
    if (bmi.biWidth != info->bmiHeader.biWidth || bmi.biHeight != labs(info->bmiHeader.biHeight))
      return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT DecompressorInputPin::GetMediaType(int index, MediaType*) {
  return index < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;  // takes what the source offers
}

STDMETHODIMP DecompressorInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  AutoLock lock(m_decompressor->StreamLock());
  if (m_filter->State() == State_Stopped) return VFW_E_WRONG_STATE;
  if (m_flushing) return S_FALSE;
  return m_decompressor->Deliver(sample);
}

STDMETHODIMP DecompressorInputPin::EndOfStream() {
  AutoLock lock(m_decompressor->StreamLock());
  if (m_flushing) return S_OK;
  IPin* peer = m_decompressor->Output().Peer();
  return peer ? peer->EndOfStream() : S_OK;
}

STDMETHODIMP DecompressorInputPin::BeginFlush() {
  // Not under the stream lock: a sample in flight may wait downstream until the flush reaches it.
  InputPin::BeginFlush();
  IPin* peer = m_decompressor->Output().Peer();
  return peer ? peer->BeginFlush() : S_OK;
}

STDMETHODIMP DecompressorInputPin::EndFlush() {
  IPin* peer = m_decompressor->Output().Peer();
  HRESULT hr = peer ? peer->EndFlush() : S_OK;
  InputPin::EndFlush();
  return hr;
}

STDMETHODIMP DecompressorInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  IPin* peer = m_decompressor->Output().Peer();
  return peer ? peer->NewSegment(start, stop, rate) : S_OK;
}

// ============================================================================================
// Output: RGB24, bottom-up, the input's size
// ============================================================================================
DecompressorOutputPin::DecompressorOutputPin(MjpegDecompressor* filter)
    : OutputPin(filter, L"XForm Out"), m_decompressor(filter) {}

HRESULT DecompressorOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  LONG width = 0, height = 0;
  const VIDEOINFOHEADER* info = VideoInfoOf(mt);
  if (!info || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24) || !m_decompressor->InputSize(&width, &height))
    return VFW_E_TYPE_NOT_ACCEPTED;
  const BITMAPINFOHEADER& bmi = info->bmiHeader;
  if (bmi.biWidth != width || bmi.biHeight != height || bmi.biBitCount != 24 || bmi.biCompression != BI_RGB)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT DecompressorOutputPin::GetMediaType(int index, MediaType* mt) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  LONG width = 0, height = 0;
  if (!m_decompressor->InputSize(&width, &height)) return VFW_E_NOT_CONNECTED;
  const VIDEOINFOHEADER& in =
      *reinterpret_cast<const VIDEOINFOHEADER*>(m_decompressor->PinAt(0)->ConnectionType().Get().pbFormat);
  VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormat(sizeof(VIDEOINFOHEADER)));
  if (!info) return E_OUTOFMEMORY;
  AM_MEDIA_TYPE& out = mt->Get();
  out.majortype = MEDIATYPE_Video;
  out.subtype = MEDIASUBTYPE_RGB24;
  out.formattype = FORMAT_VideoInfo;
  out.bFixedSizeSamples = TRUE;
  out.bTemporalCompression = FALSE;
  out.lSampleSize = PictureBytes(width, height);
  info->AvgTimePerFrame = in.AvgTimePerFrame;
  info->dwBitRate = in.AvgTimePerFrame > 0
                        ? static_cast<DWORD>(static_cast<ULONGLONG>(out.lSampleSize) * 8 * 10000000 / in.AvgTimePerFrame)
                        : 0;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;  // positive: bottom-up
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 24;
  info->bmiHeader.biCompression = BI_RGB;
  info->bmiHeader.biSizeImage = out.lSampleSize;
  return S_OK;
}

HRESULT DecompressorOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  const ULONG bytes = m_mt->lSampleSize;
  ALLOCATOR_PROPERTIES actual;
  ZeroMemory(&actual, sizeof(actual));
  if (request->cBuffers < 2) request->cBuffers = 2;
  if (request->cbBuffer < static_cast<long>(bytes)) request->cbBuffer = static_cast<long>(bytes);
  if (request->cbAlign < 1) request->cbAlign = 1;
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= static_cast<long>(bytes) && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

// ============================================================================================
// Filter
// ============================================================================================
MjpegDecompressor::MjpegDecompressor() : BaseFilter(CLSID_MjpegDec, 0), m_in(this), m_out(this) {}

HRESULT MjpegDecompressor::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  MjpegDecompressor* filter = new (std::nothrow) MjpegDecompressor();
  if (!filter) return E_OUTOFMEMORY;
  HRESULT hr = filter->QueryInterface(riid, ppv);
  filter->Release();
  return hr;
}

bool MjpegDecompressor::InputSize(LONG* width, LONG* height) {
  if (!m_in.IsConnected()) return false;
  const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(m_in.ConnectionType().Get().pbFormat)->bmiHeader;
  *width = bmi.biWidth;
  *height = labs(bmi.biHeight);
  return true;
}

HRESULT MjpegDecompressor::Deliver(IMediaSample* sample) {
  IMemInputPin* input = m_out.Input();
  IMemAllocator* allocator = m_out.Allocator();
  if (!input || !allocator) return VFW_E_NOT_CONNECTED;
  LONG width = 0, height = 0;
  BYTE* jpeg = nullptr;
  const LONG length = sample->GetActualDataLength();
  if (!InputSize(&width, &height) || FAILED(sample->GetPointer(&jpeg)) || !jpeg || length <= 0) return S_OK;

  ComPtr<IMediaSample> picture;
  HRESULT hr = allocator->GetBuffer(&picture, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;  // decommitted: stopping
  BYTE* pixels = nullptr;
  const DWORD bytes = PictureBytes(width, height);
  if (FAILED(picture->GetPointer(&pixels)) || picture->GetSize() < static_cast<long>(bytes)) return E_UNEXPECTED;
  // A sample that does not decode to a picture of the format's size is dropped.
  if (!m_decoder.DecodeBgrBottomUp(jpeg, static_cast<size_t>(length), width, height, pixels, bytes)) return S_OK;
  picture->SetActualDataLength(static_cast<long>(bytes));
  REFERENCE_TIME start = 0, stop = 0;
  hr = sample->GetTime(&start, &stop);
  if (hr == VFW_S_NO_STOP_TIME) picture->SetTime(&start, nullptr);
  else picture->SetTime(SUCCEEDED(hr) ? &start : nullptr, SUCCEEDED(hr) ? &stop : nullptr);
  LONGLONG mediaStart = 0, mediaStop = 0;
  hr = sample->GetMediaTime(&mediaStart, &mediaStop);
  picture->SetMediaTime(SUCCEEDED(hr) ? &mediaStart : nullptr, SUCCEEDED(hr) ? &mediaStop : nullptr);
  picture->SetSyncPoint(TRUE);  // every picture stands alone
  picture->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
  picture->SetPreroll(sample->IsPreroll() == S_OK);
  return input->Receive(picture.Get());
}

void MjpegDecompressor::OnStopped() {
  // The output's allocator is decommitted by now, so a sample in flight ends soon: wait for it,
  // so that nothing is delivered after Stop returned.
  AutoLock wait(m_streamLock);
}

}  // namespace zvd
