// The stand-in Color Converter DMO: NV12 in, I420 out, one picture per input buffer.
#include "colorconverter.h"

#include <mediaerr.h>
#include <string.h>
#include <uuids.h>
#include <amvideo.h>
#include <dvdmedia.h>

#include <wrl/client.h>

#include <new>

#include "base.h"
#include "mediatype.h"

using Microsoft::WRL::ComPtr;

namespace zvd {
namespace {

const GUID kSubtypeNV12 = {0x3231564e, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubtypeI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A picture type of `subtype` whose size has an NV12/I420 layout: its width and height.
bool PlanarSize(const AM_MEDIA_TYPE& mt, const GUID& subtype, LONG* width, LONG* height) {
  const BITMAPINFOHEADER* header = VideoBitmapOf(mt);
  if (!header || !IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !IsEqualGUID(mt.subtype, subtype)) return false;
  *width = header->biWidth;
  *height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  return *width > 0 && *height > 0 && ((*width | *height) & 1) == 0 && *width <= 16384 && *height <= 16384;
}

// DMO_MEDIA_TYPE is AM_MEDIA_TYPE under another name (the MinGW headers declare it apart).
AM_MEDIA_TYPE& Am(DMO_MEDIA_TYPE& type) { return reinterpret_cast<AM_MEDIA_TYPE&>(type); }
const AM_MEDIA_TYPE& Am(const DMO_MEDIA_TYPE& type) { return reinterpret_cast<const AM_MEDIA_TYPE&>(type); }
static_assert(sizeof(DMO_MEDIA_TYPE) == sizeof(AM_MEDIA_TYPE), "one layout");

DWORD PictureBytes(LONG width, LONG height) { return static_cast<DWORD>(width) * height * 3 / 2; }

// The NV12 picture `source` (Y plane, then interleaved U V rows) as I420 (Y, U, V planes) in
// `target`, `width` x `height`, both even.
void Nv12ToI420(const BYTE* source, BYTE* target, LONG width, LONG height) {
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  memcpy(target, source, lumaBytes);
  const BYTE* pairs = source + lumaBytes;
  BYTE* u = target + lumaBytes;
  BYTE* v = u + lumaBytes / 4;
  for (size_t i = 0; i < lumaBytes / 4; ++i) {
    u[i] = pairs[2 * i];
    v[i] = pairs[2 * i + 1];
  }
}

class ColorConverter final : public IMediaObject, public CountedObject {
 public:
  explicit ColorConverter(IUnknown* outer) : m_outer(outer ? outer : &m_inner), m_inner(this) {}

  // The non-delegating IUnknown an aggregating owner holds.
  IUnknown* Inner() { return &m_inner; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_outer->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return m_outer->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return m_outer->Release(); }

  STDMETHODIMP GetStreamCount(DWORD* inputs, DWORD* outputs) override {
    if (!inputs || !outputs) return E_POINTER;
    *inputs = *outputs = 1;
    return S_OK;
  }
  STDMETHODIMP GetInputStreamInfo(DWORD index, DWORD* flags) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = 0;  // whole pictures come one per buffer anyway
    return S_OK;
  }
  STDMETHODIMP GetOutputStreamInfo(DWORD index, DWORD* flags) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = 0;
    return S_OK;
  }
  // No preferred input types: any NV12 picture of an even size is taken.
  STDMETHODIMP GetInputType(DWORD index, DWORD, DMO_MEDIA_TYPE*) override {
    return index ? DMO_E_INVALIDSTREAMINDEX : DMO_E_NO_MORE_ITEMS;
  }
  // One output type, I420 of the input's size, once the input type is set.
  STDMETHODIMP GetOutputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* type) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    AutoLock lock(m_lock);
    if (m_input.Empty()) return DMO_E_TYPE_NOT_SET;
    if (typeIndex > 0) return DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    MediaType output;
    HRESULT hr = OutputTypeFor(&output);
    if (FAILED(hr)) return hr;
    return CopyMediaTypeContents(Am(*type), output.Get());
  }
  STDMETHODIMP SetInputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    AutoLock lock(m_lock);
    if (flags & DMO_SET_TYPEF_CLEAR) {
      m_input.Clear();
      m_output.Clear();
      return S_OK;
    }
    LONG width, height;
    if (!type || !PlanarSize(Am(*type), kSubtypeNV12, &width, &height)) return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
    m_input.Set(Am(*type));
    m_width = width;
    m_height = height;
    return S_OK;
  }
  STDMETHODIMP SetOutputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    AutoLock lock(m_lock);
    if (flags & DMO_SET_TYPEF_CLEAR) {
      m_output.Clear();
      return S_OK;
    }
    if (m_input.Empty()) return DMO_E_TYPE_NOT_SET;
    LONG width, height;
    if (!type || !PlanarSize(Am(*type), kSubtypeI420, &width, &height) || width != m_width || height != m_height)
      return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
    return m_output.Set(Am(*type));
  }
  STDMETHODIMP GetInputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) override {
    return CurrentType(index, m_input, type);
  }
  STDMETHODIMP GetOutputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) override {
    return CurrentType(index, m_output, type);
  }
  STDMETHODIMP GetInputSizeInfo(DWORD index, DWORD* size, DWORD* lookahead, DWORD* alignment) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !lookahead || !alignment) return E_POINTER;
    AutoLock lock(m_lock);
    if (m_input.Empty()) return DMO_E_TYPE_NOT_SET;
    *size = PictureBytes(m_width, m_height);
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  STDMETHODIMP GetOutputSizeInfo(DWORD index, DWORD* size, DWORD* alignment) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !alignment) return E_POINTER;
    AutoLock lock(m_lock);
    if (m_output.Empty()) return DMO_E_TYPE_NOT_SET;
    *size = PictureBytes(m_width, m_height);
    *alignment = 1;
    return S_OK;
  }
  STDMETHODIMP GetInputMaxLatency(DWORD, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP SetInputMaxLatency(DWORD, REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHODIMP Flush() override {
    AutoLock lock(m_lock);
    m_pending.Reset();
    return S_OK;
  }
  STDMETHODIMP Discontinuity(DWORD index) override { return index ? DMO_E_INVALIDSTREAMINDEX : S_OK; }
  STDMETHODIMP AllocateStreamingResources() override { return S_OK; }
  STDMETHODIMP FreeStreamingResources() override { return Flush(); }
  STDMETHODIMP GetInputStatus(DWORD index, DWORD* flags) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    AutoLock lock(m_lock);
    *flags = m_pending ? 0 : DMO_INPUT_STATUSF_ACCEPT_DATA;
    return S_OK;
  }
  STDMETHODIMP ProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                            REFERENCE_TIME length) override {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!buffer) return E_POINTER;
    AutoLock lock(m_lock);
    if (m_input.Empty() || m_output.Empty()) return DMO_E_TYPE_NOT_SET;
    if (m_pending) return DMO_E_NOTACCEPTING;
    m_pending = buffer;
    m_dwPendingFlags = flags;
    m_rtTime = time;
    m_rtLength = length;
    return S_OK;
  }
  STDMETHODIMP ProcessOutput(DWORD, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override {
    if (!buffers || !status || count != 1) return E_INVALIDARG;
    *status = 0;
    DMO_OUTPUT_DATA_BUFFER& out = buffers[0];
    out.dwStatus = 0;
    AutoLock lock(m_lock);
    if (!m_pending) return S_FALSE;
    ComPtr<IMediaBuffer> input;
    input.Swap(m_pending);
    if (!out.pBuffer) return S_FALSE;  // the picture is dropped, as the caller asked
    BYTE* source = nullptr;
    BYTE* target = nullptr;
    DWORD sourceBytes = 0, targetBytes = 0, targetCapacity = 0;
    HRESULT hr = input->GetBufferAndLength(&source, &sourceBytes);
    if (SUCCEEDED(hr)) hr = out.pBuffer->GetBufferAndLength(&target, &targetBytes);
    if (SUCCEEDED(hr)) hr = out.pBuffer->GetMaxLength(&targetCapacity);
    if (FAILED(hr)) return hr;
    const DWORD bytes = PictureBytes(m_width, m_height);
    if (sourceBytes < bytes || targetCapacity < bytes) return E_INVALIDARG;  // a short picture is dropped
    Nv12ToI420(source, target, m_width, m_height);
    out.pBuffer->SetLength(bytes);
    if (m_dwPendingFlags & DMO_INPUT_DATA_BUFFERF_SYNCPOINT) out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
    if (m_dwPendingFlags & DMO_INPUT_DATA_BUFFERF_TIME) {
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME;
      out.rtTimestamp = m_rtTime;
    }
    if (m_dwPendingFlags & DMO_INPUT_DATA_BUFFERF_TIMELENGTH) {
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
      out.rtTimelength = m_rtLength;
    }
    return S_OK;
  }
  STDMETHODIMP Lock(LONG) override { return S_OK; }

 private:
  // The owner's view of the object's identity and lifetime.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(ColorConverter* object) : m_object(object) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (IsEqualIID(riid, IID_IMediaObject)) {
        *ppv = static_cast<IMediaObject*>(m_object);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
      const LONG refs = InterlockedDecrement(&m_refs);
      if (refs == 0) delete m_object;
      return refs;
    }

   private:
    ColorConverter* m_object;
    LONG m_refs = 1;
  };

  HRESULT OutputTypeFor(MediaType* output) {
    VIDEOINFOHEADER* format = reinterpret_cast<VIDEOINFOHEADER*>(output->AllocFormat(sizeof(VIDEOINFOHEADER)));
    if (!format) return E_OUTOFMEMORY;
    (*output)->majortype = MEDIATYPE_Video;
    (*output)->subtype = kSubtypeI420;
    (*output)->formattype = FORMAT_VideoInfo;
    (*output)->bFixedSizeSamples = TRUE;
    (*output)->lSampleSize = PictureBytes(m_width, m_height);
    format->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format->bmiHeader.biWidth = m_width;
    format->bmiHeader.biHeight = m_height;
    format->bmiHeader.biPlanes = 1;
    format->bmiHeader.biBitCount = 12;
    format->bmiHeader.biCompression = kSubtypeI420.Data1;
    format->bmiHeader.biSizeImage = PictureBytes(m_width, m_height);
    return S_OK;
  }

  HRESULT CurrentType(DWORD index, const MediaType& current, DMO_MEDIA_TYPE* type) {
    if (index) return DMO_E_INVALIDSTREAMINDEX;
    if (!type) return E_POINTER;
    AutoLock lock(m_lock);
    if (current.Empty()) return DMO_E_TYPE_NOT_SET;
    return CopyMediaTypeContents(Am(*type), current.Get());
  }

  IUnknown* m_outer;
  InnerUnknown m_inner;
  CriticalSection m_lock;
  MediaType m_input, m_output;
  LONG m_width = 0, m_height = 0;
  ComPtr<IMediaBuffer> m_pending;
  DWORD m_dwPendingFlags = 0;
  REFERENCE_TIME m_rtTime = 0, m_rtLength = 0;
};

}  // namespace

HRESULT CreateColorConverter(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregating owner may ask for the inner IUnknown only.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  ColorConverter* object = new (std::nothrow) ColorConverter(outer);
  if (!object) return E_OUTOFMEMORY;
  if (outer) {
    *ppv = object->Inner();  // the creation reference
    return S_OK;
  }
  const HRESULT hr = object->Inner()->QueryInterface(riid, ppv);
  object->Inner()->Release();
  return hr;
}

}  // namespace zvd
