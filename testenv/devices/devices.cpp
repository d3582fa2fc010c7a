#include "devices.h"

#include <amvideo.h>
#include <dvdmedia.h>

#include <evcode.h>
#include <math.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace zvd {
namespace {

// KSDATAFORMAT_SUBTYPE_VPVideo {5A9B6A40-1A22-11D1-BAD9-00609744111A}
const GUID kSubtypeVideoPort = {0x5a9b6a40, 0x1a22, 0x11d1, {0xba, 0xd9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1a}};

CriticalSection& LiveLock() {
  static CriticalSection lock;
  return lock;
}
std::vector<DeviceFilter*>& LiveList() {
  static std::vector<DeviceFilter*> list;
  return list;
}

bool ReadBagString(IPropertyBag* bag, const wchar_t* name, std::wstring* value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  HRESULT hr = bag->Read(name, &v, nullptr);
  bool ok = SUCCEEDED(hr) && v.vt == VT_BSTR && v.bstrVal;
  if (ok) *value = v.bstrVal;
  VariantClear(&v);
  return ok;
}

HRESULT CopyOut(const MediaType& mt, AM_MEDIA_TYPE** out) {
  *out = CreateMediaTypeCopy(mt.Get());
  return *out ? S_OK : E_OUTOFMEMORY;
}

zvpattern::Layout LayoutOf(const GUID& subtype, bool* known) {
  *known = true;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return zvpattern::Layout::RGB24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return zvpattern::Layout::YUY2;
  if (IsEqualGUID(subtype, kSubtypeI420)) return zvpattern::Layout::I420;
  if (IsEqualGUID(subtype, kSubtypeNV12)) return zvpattern::Layout::NV12;
  *known = false;
  return zvpattern::Layout::RGB24;
}

const BITMAPINFOHEADER* BitmapOf(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval) {
  if (!mt.pbFormat) return nullptr;
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    *interval = info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* info = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    *interval = info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  if (IsEqualGUID(mt.formattype, kFormatMpeg2Video) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* info = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    *interval = info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  return nullptr;
}

HRESULT SetBufferProperties(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, long bufferBytes, long minBuffers) {
  ALLOCATOR_PROPERTIES wanted = *request, actual;
  if (wanted.cBuffers < minBuffers) wanted.cBuffers = minBuffers;
  if (wanted.cbBuffer < bufferBytes) wanted.cbBuffer = bufferBytes;
  if (wanted.cbAlign < 1) wanted.cbAlign = 1;
  ZeroMemory(&actual, sizeof(actual));
  HRESULT hr = allocator->SetProperties(&wanted, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= bufferBytes && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

}  // namespace

// ============================================================================================
// Pin category property
// ============================================================================================
HRESULT PinCategoryGet(const GUID& category, REFGUID set, DWORD id, void* data, DWORD dataBytes, DWORD* returned) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!data) {
    if (!returned) return E_POINTER;
    *returned = sizeof(GUID);  // size query
    return S_OK;
  }
  if (dataBytes < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = category;
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

HRESULT PinCategorySupport(REFGUID set, DWORD id, DWORD* support) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

// ============================================================================================
// VideoPin
// ============================================================================================
VideoPin::VideoPin(DeviceFilter* filter, const wchar_t* name, const GUID& category,
                   const std::vector<VideoCapability>* caps, VideoPin* follow, const CameraConfig& config,
                   CameraControls* controls)
    : StreamPin(filter, name),
      m_category(category),
      m_caps(caps),
      m_follow(follow),
      m_controls(controls),
      m_jpegHuffmanTables(config.jpegHuffmanTables),
      m_jpegPadded(config.jpegPadded) {
  SetFirstFrameNumber(config.firstFrame);
}

void* VideoPin::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IAMStreamConfig)) return static_cast<IAMStreamConfig*>(this);
  if (IsEqualIID(riid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  return nullptr;
}

const MediaType* VideoPin::PinnedFormat() {
  if (m_formatSet) return &m_format;
  if (!m_follow || !m_follow->m_formatSet) return nullptr;
  if (m_caps == m_follow->m_caps) return &m_follow->m_format;
  REFERENCE_TIME interval = 0;
  const int index = MatchVideoType(*m_follow->m_caps, m_follow->m_format.Get(), &interval);
  if (index < 0 || static_cast<size_t>(index) >= m_caps->size() ||
      FAILED(BuildVideoType((*m_caps)[index], interval, &m_followed)))
    return nullptr;
  return &m_followed;
}

HRESULT VideoPin::CurrentFormat(MediaType* mt) {
  if (IsConnected()) return mt->Set(m_mt.Get());
  if (const MediaType* pinned = PinnedFormat()) return mt->Set(pinned->Get());
  if (m_caps->empty()) return VFW_E_NO_TYPES;
  return BuildVideoType((*m_caps)[0], (*m_caps)[0].interval, mt);
}

HRESULT VideoPin::LastSetFormat(MediaType* mt, HRESULT* result, bool* called) {
  *called = m_setCalled;
  *result = m_lastSetResult;
  return m_setCalled ? mt->Set(m_lastSet.Get()) : S_OK;
}

HRESULT VideoPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  REFERENCE_TIME interval = 0;
  int index = MatchVideoType(*m_caps, mt, &interval);
  if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
  if (const MediaType* pinned = PinnedFormat()) {
    REFERENCE_TIME pinnedInterval = 0;
    if (MatchVideoType(*m_caps, pinned->Get(), &pinnedInterval) != index || pinnedInterval != interval)
      return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT VideoPin::GetMediaType(int index, MediaType* mt) {
  if (index < 0) return E_INVALIDARG;
  if (const MediaType* pinned = PinnedFormat()) {
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    return mt->Set(pinned->Get());
  }
  if (static_cast<size_t>(index) >= m_caps->size()) return VFW_S_NO_MORE_ITEMS;
  const VideoCapability& cap = (*m_caps)[index];
  return BuildVideoType(cap, cap.interval, mt);
}

STDMETHODIMP VideoPin::SetFormat(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  AutoLock lock(m_filter->FilterLock());
  m_setCalled = true;
  m_lastSet.Set(*mt);
  HRESULT hr = S_OK;
  REFERENCE_TIME interval = 0;
  int index = -1;
  MediaType normal;
  if (m_filter->State() != State_Stopped) {
    hr = VFW_E_NOT_STOPPED;
  } else if ((index = MatchVideoType(*m_caps, *mt, &interval)) < 0) {
    hr = VFW_E_INVALIDMEDIATYPE;
  } else {
    hr = BuildVideoType((*m_caps)[index], interval, &normal);
  }
  if (SUCCEEDED(hr) && IsConnected() && !SameMediaType(normal.Get(), m_mt.Get())) {
    // Connected: the peer must take the new type, then the graph reconnects the pin.
    if (m_peer->QueryAccept(&normal.Get()) != S_OK) {
      hr = VFW_E_INVALIDMEDIATYPE;
    } else {
      MediaType previous = m_format;
      bool previouslySet = m_formatSet;
      m_format = normal;
      m_formatSet = true;
      ComPtr<IFilterGraph2> graph;
      hr = m_filter->Graph() ? m_filter->Graph()->QueryInterface(IID_IFilterGraph2,
                                                                 reinterpret_cast<void**>(graph.GetAddressOf()))
                             : VFW_E_NOT_IN_GRAPH;
      if (SUCCEEDED(hr)) hr = graph->ReconnectEx(this, &normal.Get());
      if (FAILED(hr)) {
        m_format = previous;
        m_formatSet = previouslySet;
      }
      m_lastSetResult = hr;
      return hr;
    }
  }
  if (SUCCEEDED(hr)) {
    m_format = normal;
    m_formatSet = true;
  }
  m_lastSetResult = hr;
  return hr;
}

STDMETHODIMP VideoPin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  *mt = nullptr;
  AutoLock lock(m_filter->FilterLock());
  MediaType current;
  HRESULT hr = CurrentFormat(&current);
  if (FAILED(hr)) return hr;
  return CopyOut(current, mt);
}

STDMETHODIMP VideoPin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = static_cast<int>(m_caps->size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP VideoPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  if (!mt || !caps) return E_POINTER;
  *mt = nullptr;
  if (index < 0) return E_INVALIDARG;
  if (static_cast<size_t>(index) >= m_caps->size()) return S_FALSE;
  const VideoCapability& cap = (*m_caps)[index];
  MediaType type;
  HRESULT hr = BuildVideoType(cap, cap.interval, &type);
  if (FAILED(hr)) return hr;
  BuildVideoCaps(cap, reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps));
  return CopyOut(type, mt);
}

STDMETHODIMP VideoPin::Set(REFGUID set, DWORD id, void*, DWORD, void*, DWORD) {
  return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP VideoPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataBytes, DWORD* returned) {
  return PinCategoryGet(m_category, set, id, data, dataBytes, returned);
}

STDMETHODIMP VideoPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) { return PinCategorySupport(set, id, support); }

HRESULT VideoPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  long bytes = static_cast<long>(m_mt->lSampleSize);
  REFERENCE_TIME interval = 0;
  if (const BITMAPINFOHEADER* bmi = BitmapOf(m_mt.Get(), &interval)) {
    bytes = std::max<long>(bytes, static_cast<long>(bmi->biSizeImage));
    // Small MJPG sizes announce less than their JPEG headers alone take.
    zvjpeg::PatternEncoder jpeg;
    if (IsEqualGUID(m_mt->subtype, MEDIASUBTYPE_MJPG) &&
        jpeg.Configure(bmi->biWidth, std::abs(bmi->biHeight), m_jpegHuffmanTables))
      bytes = std::max<long>(bytes, static_cast<long>(jpeg.FrameBound()));
  }
  if (bytes <= 0) bytes = 1;
  return SetBufferProperties(allocator, request, bytes, 3);
}

HRESULT VideoPin::Active() {
  // Streaming parameters of the connection type, fixed until Stop.
  REFERENCE_TIME interval = 0;
  const BITMAPINFOHEADER* bmi = BitmapOf(m_mt.Get(), &interval);
  m_interval = interval > 0 ? interval : 333333;
  m_frameBytes = static_cast<LONG>(m_mt->lSampleSize);
  if (bmi && static_cast<LONG>(bmi->biSizeImage) > m_frameBytes) m_frameBytes = static_cast<LONG>(bmi->biSizeImage);
  if (IsEqualGUID(m_mt->formattype, FORMAT_DvInfo)) m_frameBytes = 120000;
  bool known = false;
  zvpattern::Layout layout = LayoutOf(m_mt->subtype, &known);
  m_pattern = known && bmi && m_renderer.Configure(layout, bmi->biWidth, bmi->biHeight);
  if (m_pattern) m_frameBytes = static_cast<LONG>(m_renderer.FrameSize());
  m_jpegFrames = !m_pattern && bmi && IsEqualGUID(m_mt->subtype, MEDIASUBTYPE_MJPG) &&
                 m_jpeg.Configure(bmi->biWidth, std::abs(bmi->biHeight), m_jpegHuffmanTables);
  if (m_frameBytes <= 0) m_frameBytes = 1;
  return StreamPin::Active();
}

HRESULT VideoPin::FillSample(IMediaSample* sample, ULONG frameNumber, ULONGLONG, LONG* bytes) {
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  LONG capacity = sample->GetSize();
  // The brightness control acts on the picture before it is laid out or coded.
  const int brightness = m_controls ? static_cast<int>(m_controls->Brightness()) : 0;
  if (m_pattern && capacity >= m_frameBytes) {
    m_renderer.SetBrightness(brightness);
    m_renderer.Render(frameNumber, data, static_cast<size_t>(capacity));
    *bytes = m_frameBytes;
    return S_OK;
  }
  if (m_jpegFrames) {
    m_jpeg.SetBrightness(brightness);
    size_t length = m_jpeg.Render(frameNumber, data, static_cast<size_t>(capacity));
    if (length) {
      // As a camera that sends whole buffers: the JPEG, then zeros up to the announced size.
      if (m_jpegPadded && static_cast<LONG>(length) < std::min(capacity, m_frameBytes)) {
        memset(data + length, 0, static_cast<size_t>(std::min(capacity, m_frameBytes)) - length);
        length = static_cast<size_t>(std::min(capacity, m_frameBytes));
      }
      *bytes = static_cast<LONG>(length);
      return S_OK;
    }
  }
  // Other compressed formats (and a buffer too small for a frame): opaque bytes with the number
  // first.
  LONG n = std::min(capacity, m_frameBytes);
  memset(data, 0x5A, static_cast<size_t>(n));
  if (n >= 4) memcpy(data, &frameNumber, 4);
  *bytes = n;
  return S_OK;
}

// ============================================================================================
// CategoryPin
// ============================================================================================
CategoryPin::CategoryPin(DeviceFilter* filter, const wchar_t* name, const GUID& category, const GUID& major,
                         const GUID& subtype)
    : OutputPin(filter, name), m_category(category), m_major(major), m_subtype(subtype) {}

void* CategoryPin::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  return nullptr;
}

HRESULT CategoryPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  return IsEqualGUID(mt.majortype, m_major) && IsEqualGUID(mt.subtype, m_subtype) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CategoryPin::GetMediaType(int index, MediaType* mt) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  mt->Clear();
  mt->Get().majortype = m_major;
  mt->Get().subtype = m_subtype;
  mt->Get().formattype = FORMAT_None;
  mt->Get().bFixedSizeSamples = TRUE;
  mt->Get().lSampleSize = 1;
  return S_OK;
}

HRESULT CategoryPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  return SetBufferProperties(allocator, request, 4096, 1);
}

STDMETHODIMP CategoryPin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}
STDMETHODIMP CategoryPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataBytes, DWORD* returned) {
  return PinCategoryGet(m_category, set, id, data, dataBytes, returned);
}
STDMETHODIMP CategoryPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return PinCategorySupport(set, id, support);
}

// ============================================================================================
// AudioPin
// ============================================================================================
AudioPin::AudioPin(DeviceFilter* filter, const std::vector<AudioCapability>* caps)
    : StreamPin(filter, L"Capture"), m_caps(caps) {}

void* AudioPin::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IAMStreamConfig)) return static_cast<IAMStreamConfig*>(this);
  if (IsEqualIID(riid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  return nullptr;
}

HRESULT AudioPin::CurrentFormat(MediaType* mt) {
  if (IsConnected()) return mt->Set(m_mt.Get());
  if (m_formatSet) return mt->Set(m_format.Get());
  if (m_caps->empty()) return VFW_E_NO_TYPES;
  return BuildAudioType((*m_caps)[0], mt);
}

HRESULT AudioPin::LastSetFormat(MediaType* mt, HRESULT* result, bool* called) {
  *called = m_setCalled;
  *result = m_lastSetResult;
  return m_setCalled ? mt->Set(m_lastSet.Get()) : S_OK;
}

HRESULT AudioPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  int index = MatchAudioType(*m_caps, mt);
  if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
  if (m_formatSet && MatchAudioType(*m_caps, m_format.Get()) != index) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AudioPin::GetMediaType(int index, MediaType* mt) {
  if (index < 0) return E_INVALIDARG;
  if (m_formatSet) return index == 0 ? mt->Set(m_format.Get()) : VFW_S_NO_MORE_ITEMS;
  if (static_cast<size_t>(index) >= m_caps->size()) return VFW_S_NO_MORE_ITEMS;
  return BuildAudioType((*m_caps)[index], mt);
}

STDMETHODIMP AudioPin::SetFormat(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  AutoLock lock(m_filter->FilterLock());
  m_setCalled = true;
  m_lastSet.Set(*mt);
  HRESULT hr;
  int index = -1;
  MediaType normal;
  if (m_filter->State() != State_Stopped) hr = VFW_E_NOT_STOPPED;
  else if ((index = MatchAudioType(*m_caps, *mt)) < 0) hr = VFW_E_INVALIDMEDIATYPE;
  else hr = BuildAudioType((*m_caps)[index], &normal);
  if (SUCCEEDED(hr) && IsConnected() && !SameMediaType(normal.Get(), m_mt.Get()))
    hr = VFW_E_ALREADY_CONNECTED;  // the microphone changes format only while unconnected
  if (SUCCEEDED(hr)) {
    m_format = normal;
    m_formatSet = true;
  }
  m_lastSetResult = hr;
  return hr;
}

STDMETHODIMP AudioPin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  *mt = nullptr;
  AutoLock lock(m_filter->FilterLock());
  MediaType current;
  HRESULT hr = CurrentFormat(&current);
  if (FAILED(hr)) return hr;
  return CopyOut(current, mt);
}

STDMETHODIMP AudioPin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = static_cast<int>(m_caps->size());
  *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP AudioPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  if (!mt || !caps) return E_POINTER;
  *mt = nullptr;
  if (index < 0) return E_INVALIDARG;
  if (static_cast<size_t>(index) >= m_caps->size()) return S_FALSE;
  MediaType type;
  HRESULT hr = BuildAudioType((*m_caps)[index], &type);
  if (FAILED(hr)) return hr;
  BuildAudioCaps((*m_caps)[index], reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(caps));
  return CopyOut(type, mt);
}

STDMETHODIMP AudioPin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}
STDMETHODIMP AudioPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataBytes, DWORD* returned) {
  return PinCategoryGet(PIN_CATEGORY_CAPTURE, set, id, data, dataBytes, returned);
}
STDMETHODIMP AudioPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return PinCategorySupport(set, id, support);
}

HRESULT AudioPin::Active() {
  if (!m_mt->pbFormat || m_mt->cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD)) return VFW_E_INVALIDMEDIATYPE;
  memcpy(&m_wfx, m_mt->pbFormat, sizeof(WAVEFORMATEX) - sizeof(WORD));
  m_wfx.cbSize = 0;
  if (m_wfx.nSamplesPerSec == 0 || m_wfx.nBlockAlign == 0) return VFW_E_INVALIDMEDIATYPE;
  m_framesPerBuffer = std::max<ULONG>(1, m_wfx.nSamplesPerSec / 20);  // 50 ms
  return StreamPin::Active();
}

HRESULT AudioPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(m_mt->pbFormat);
  if (!wfx) return VFW_E_INVALIDMEDIATYPE;
  long bytes = static_cast<long>(std::max<ULONG>(1, wfx->nSamplesPerSec / 20) * wfx->nBlockAlign);
  return SetBufferProperties(allocator, request, bytes, 4);
}

REFERENCE_TIME AudioPin::SlotStart(ULONGLONG slot) const {
  return static_cast<REFERENCE_TIME>(slot * m_framesPerBuffer * 10000000ULL / m_wfx.nSamplesPerSec);
}

HRESULT AudioPin::FillSample(IMediaSample* sample, ULONG, ULONGLONG slot, LONG* bytes) {
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  ULONG frames = m_framesPerBuffer;
  LONG capacity = sample->GetSize();
  if (static_cast<LONG>(frames * m_wfx.nBlockAlign) > capacity) frames = static_cast<ULONG>(capacity) / m_wfx.nBlockAlign;
  // A 440 Hz tone whose phase continues from buffer to buffer.
  const double step = 2.0 * 3.14159265358979323846 * 440.0 / m_wfx.nSamplesPerSec;
  ULONGLONG position = slot * m_framesPerBuffer;
  BYTE* out = data;
  for (ULONG i = 0; i < frames; ++i) {
    double value = sin(step * static_cast<double>((position + i) % m_wfx.nSamplesPerSec));
    for (WORD c = 0; c < m_wfx.nChannels; ++c) {
      if (m_wfx.wBitsPerSample == 16) {
        short s = static_cast<short>(value * 8000.0);
        memcpy(out, &s, 2);
        out += 2;
      } else {
        *out++ = static_cast<BYTE>(128 + static_cast<int>(value * 32.0));
      }
    }
  }
  *bytes = static_cast<LONG>(frames * m_wfx.nBlockAlign);
  return S_OK;
}

// ============================================================================================
// MixerPin
// ============================================================================================
MixerPin::MixerPin(DeviceFilter* filter, const std::wstring& name) : BasePin(filter, name.c_str(), PINDIR_INPUT) {}

void* MixerPin::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IAMAudioInputMixer)) return static_cast<IAMAudioInputMixer*>(this);
  return nullptr;
}

STDMETHODIMP MixerPin::put_Enable(BOOL enable) {
  AutoLock lock(m_stateLock);
  ++m_enableCalls;
  m_enable = enable ? TRUE : FALSE;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Enable(BOOL* enable) {
  if (!enable) return E_POINTER;
  AutoLock lock(m_stateLock);
  *enable = m_enable;
  return S_OK;
}
STDMETHODIMP MixerPin::put_Mono(BOOL mono) {
  AutoLock lock(m_stateLock);
  m_mono = mono ? TRUE : FALSE;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Mono(BOOL* mono) {
  if (!mono) return E_POINTER;
  AutoLock lock(m_stateLock);
  *mono = m_mono;
  return S_OK;
}
STDMETHODIMP MixerPin::put_MixLevel(double level) {
  AutoLock lock(m_stateLock);
  ++m_levelCalls;
  if (!(level == AMF_AUTOMATICGAIN || (level >= 0.0 && level <= 1.0))) return E_INVALIDARG;
  m_level = level;
  return S_OK;
}
STDMETHODIMP MixerPin::get_MixLevel(double* level) {
  if (!level) return E_POINTER;
  AutoLock lock(m_stateLock);
  *level = m_level;
  return S_OK;
}
STDMETHODIMP MixerPin::put_Pan(double pan) {
  if (!(pan >= -1.0 && pan <= 1.0)) return E_INVALIDARG;
  AutoLock lock(m_stateLock);
  m_pan = pan;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Pan(double* pan) {
  if (!pan) return E_POINTER;
  AutoLock lock(m_stateLock);
  *pan = m_pan;
  return S_OK;
}
STDMETHODIMP MixerPin::put_Loudness(BOOL loudness) {
  AutoLock lock(m_stateLock);
  m_loudness = loudness ? TRUE : FALSE;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Loudness(BOOL* loudness) {
  if (!loudness) return E_POINTER;
  AutoLock lock(m_stateLock);
  *loudness = m_loudness;
  return S_OK;
}
STDMETHODIMP MixerPin::put_Treble(double treble) {
  if (!(treble >= -12.0 && treble <= 12.0)) return E_INVALIDARG;
  AutoLock lock(m_stateLock);
  m_treble = treble;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Treble(double* treble) {
  if (!treble) return E_POINTER;
  AutoLock lock(m_stateLock);
  *treble = m_treble;
  return S_OK;
}
STDMETHODIMP MixerPin::get_TrebleRange(double* range) {
  if (!range) return E_POINTER;
  *range = 12.0;
  return S_OK;
}
STDMETHODIMP MixerPin::put_Bass(double bass) {
  if (!(bass >= -12.0 && bass <= 12.0)) return E_INVALIDARG;
  AutoLock lock(m_stateLock);
  m_bass = bass;
  return S_OK;
}
STDMETHODIMP MixerPin::get_Bass(double* bass) {
  if (!bass) return E_POINTER;
  AutoLock lock(m_stateLock);
  *bass = m_bass;
  return S_OK;
}
STDMETHODIMP MixerPin::get_BassRange(double* range) {
  if (!range) return E_POINTER;
  *range = 12.0;
  return S_OK;
}

void MixerPin::GetState(ZvdMixerInput* state) {
  AutoLock lock(m_stateLock);
  ZeroMemory(state, sizeof(*state));
  lstrcpynW(state->name, m_name.c_str(), 128);
  state->enabled = m_enable;
  state->mixLevel = m_level;
  state->enableCalls = m_enableCalls;
  state->mixLevelCalls = m_levelCalls;
}

// ============================================================================================
// DeviceFilter
// ============================================================================================
DeviceFilter::DeviceFilter(REFCLSID clsid, ULONG kind, const wchar_t* defaultName)
    : BaseFilter(clsid, AM_FILTER_MISC_FLAGS_IS_SOURCE), m_kind(kind), m_friendlyName(defaultName) {}

DeviceFilter::~DeviceFilter() {
  {
    AutoLock lock(LiveLock());
    std::vector<DeviceFilter*>& list = LiveList();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  // Released without Stop (misuse by a host): end the streaming threads first.
  for (StreamPin* pin : m_streamPins)
    if (pin->IsConnected()) pin->Inactive();
}

void DeviceFilter::RegisterLive(DeviceFilter* filter) {
  AutoLock lock(LiveLock());
  LiveList().push_back(filter);
}

ULONG DeviceFilter::LiveDevices(IZelvoraDeviceControl** out, ULONG capacity) {
  AutoLock lock(LiveLock());
  ULONG count = 0;
  for (DeviceFilter* filter : LiveList()) {
    if (!filter->TryAddRef()) continue;  // being destroyed
    if (out && count < capacity)
      out[count] = static_cast<IZelvoraDeviceControl*>(filter);
    else
      filter->Release();
    ++count;
  }
  return count;
}

void* DeviceFilter::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IPersistPropertyBag)) return static_cast<IPersistPropertyBag*>(this);
  if (IsEqualIID(riid, IID_ISpecifyPropertyPages)) return static_cast<ISpecifyPropertyPages*>(this);
  if (IsEqualIID(riid, IID_IZelvoraDeviceControl)) return static_cast<IZelvoraDeviceControl*>(this);
  return nullptr;
}

std::wstring DeviceFilter::FriendlyName() {
  AutoLock lock(m_lock);
  return m_friendlyName;
}

void DeviceFilter::ReplacePins(std::vector<std::unique_ptr<BasePin>> pins) {
  for (auto& pin : m_pins) m_retiredPins.push_back(std::move(pin));
  m_pins = std::move(pins);
  m_streamPins.clear();
  m_categories.clear();
  m_mixerPins.clear();
  BumpPinVersion();
}

STDMETHODIMP DeviceFilter::Load(IPropertyBag* bag, IErrorLog*) {
  if (!bag) return E_POINTER;
  AutoLock lock(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  for (auto& pin : m_pins)
    if (pin->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  HRESULT hr = Configure(bag);
  if (FAILED(hr)) return hr;
  std::wstring name;
  if (ReadBagString(bag, L"FriendlyName", &name)) m_friendlyName = name;
  return S_OK;
}

STDMETHODIMP DeviceFilter::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 1;
  pages->pElems[0] = CLSID_ZelvoraDevicePropertyPage;
  return S_OK;
}

STDMETHODIMP DeviceFilter::GetIdentity(ULONG* kind, WCHAR* name, ULONG nameChars) {
  if (kind) *kind = m_kind;
  if (name) {
    if (nameChars == 0) return E_INVALIDARG;
    lstrcpynW(name, FriendlyName().c_str(), static_cast<int>(nameChars));
  }
  return S_OK;
}

STDMETHODIMP DeviceFilter::SignalDeviceLost(BOOL availableAgain) {
  AutoLock lock(m_lock);
  if (!Graph()) return VFW_E_NOT_IN_GRAPH;
  for (StreamPin* pin : m_streamPins) pin->SetDevicePresent(availableAgain != FALSE);
  return NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
                     availableAgain ? 1 : 0);
}

STDMETHODIMP DeviceFilter::SetDelivering(BOOL deliver) {
  AutoLock lock(m_lock);
  for (StreamPin* pin : m_streamPins) pin->SetDeliveryAllowed(deliver != FALSE);
  return S_OK;
}

STDMETHODIMP DeviceFilter::DeliverShortBuffer(ULONG bytes) {
  AutoLock lock(m_lock);
  for (StreamPin* pin : m_streamPins) pin->RequestShortBuffer(bytes);
  return S_OK;
}

STDMETHODIMP DeviceFilter::GetPinStats(REFGUID category, ZvdPinStats* stats) {
  if (!stats) return E_POINTER;
  AutoLock lock(m_lock);
  for (auto& entry : m_categories) {
    if (!IsEqualGUID(entry.first, category)) continue;
    ZeroMemory(stats, sizeof(*stats));
    stats->connected = entry.second->IsConnected() ? 1 : 0;
    entry.second->GetStats(&stats->streaming, &stats->samplesDelivered, &stats->receiveFailures, &stats->shortBuffers,
                           &stats->nextFrameNumber, &stats->lastStart);
    return S_OK;
  }
  return E_INVALIDARG;
}

STDMETHODIMP DeviceFilter::GetCurrentFormat(AM_MEDIA_TYPE** format) {
  if (!format) return E_POINTER;
  *format = nullptr;
  AutoLock lock(m_lock);
  MediaType current, last;
  HRESULT lastResult;
  bool called;
  HRESULT hr = CaptureFormat(&current, &last, &lastResult, &called);
  if (FAILED(hr)) return hr;
  return CopyOut(current, format);
}

STDMETHODIMP DeviceFilter::GetLastSetFormat(AM_MEDIA_TYPE** format, HRESULT* result) {
  if (!format || !result) return E_POINTER;
  *format = nullptr;
  AutoLock lock(m_lock);
  MediaType current, last;
  bool called = false;
  HRESULT hr = CaptureFormat(&current, &last, result, &called);
  if (FAILED(hr)) return hr;
  if (!called) {
    *result = S_OK;
    return S_FALSE;
  }
  return CopyOut(last, format);
}

STDMETHODIMP DeviceFilter::GetControlSetCount(ULONG* count) {
  if (!count) return E_POINTER;
  *count = ControlSetCalls();
  return S_OK;
}

STDMETHODIMP DeviceFilter::GetMixerInputCount(ULONG* count) {
  if (!count) return E_POINTER;
  AutoLock lock(m_lock);
  *count = static_cast<ULONG>(m_mixerPins.size());
  return S_OK;
}

STDMETHODIMP DeviceFilter::GetMixerInput(ULONG index, ZvdMixerInput* input) {
  if (!input) return E_POINTER;
  AutoLock lock(m_lock);
  if (index >= m_mixerPins.size()) return E_INVALIDARG;
  m_mixerPins[index]->GetState(input);
  return S_OK;
}

// ============================================================================================
// CameraFilter
// ============================================================================================
CameraFilter::CameraFilter()
    : DeviceFilter(CLSID_ZelvoraVirtualCamera, ZVD_KIND_CAMERA, ZVD_CAMERA_MAIN),
      m_controls(static_cast<IBaseFilter*>(this)) {}

void* CameraFilter::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IAMVideoProcAmp))
    return m_controlsOffered ? static_cast<IAMVideoProcAmp*>(m_controls.VideoProcAmp()) : nullptr;
  if (IsEqualIID(riid, IID_IAMCameraControl))
    return m_controlsOffered ? static_cast<IAMCameraControl*>(m_controls.CameraControl()) : nullptr;
  return DeviceFilter::FindInterface(riid);
}

HRESULT CameraFilter::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  CameraFilter* filter = new (std::nothrow) CameraFilter();
  if (!filter) return E_OUTOFMEMORY;
  CameraConfig config;
  HRESULT hr = ParseCameraFormats(kMainCameraFormats, &config.formats) ? S_OK : E_UNEXPECTED;
  if (SUCCEEDED(hr)) {
    AutoLock lock(filter->m_lock);
    hr = filter->Apply(config);
  }
  if (SUCCEEDED(hr)) {
    RegisterLive(filter);
    hr = filter->QueryInterface(riid, ppv);
  }
  filter->Release();
  return hr;
}

HRESULT CameraFilter::Configure(IPropertyBag* bag) {
  CameraConfig config;
  std::wstring text;
  if (!ParseCameraFormats(ReadBagString(bag, L"ZelvoraFormats", &text) ? text : std::wstring(kMainCameraFormats),
                          &config.formats))
    return E_INVALIDARG;
  if (ReadBagString(bag, L"ZelvoraPins", &text) && !ParseCameraPins(text, &config)) return E_INVALIDARG;
  return Apply(config);
}

HRESULT CameraFilter::Apply(const CameraConfig& config) {
  std::unique_ptr<CameraConfig> stored(new (std::nothrow) CameraConfig(config));
  if (!stored) return E_OUTOFMEMORY;
  std::vector<std::unique_ptr<BasePin>> pins;
  std::unique_ptr<VideoPin> capture(
      new (std::nothrow)
          VideoPin(this, L"Capture", PIN_CATEGORY_CAPTURE, &stored->formats, nullptr, *stored, &m_controls));
  if (!capture) return E_OUTOFMEMORY;
  VideoPin* capturePin = capture.get();
  pins.push_back(std::move(capture));
  VideoPin* previewPin = nullptr;
  if (stored->previewPin) {
    stored->previewFormats = ScaledPreviewFormats(*stored);
    const std::vector<VideoCapability>* previewCaps =
        stored->previewFormats.empty() ? &stored->formats : &stored->previewFormats;
    std::unique_ptr<VideoPin> preview(
        new (std::nothrow)
            VideoPin(this, L"Preview", PIN_CATEGORY_PREVIEW, previewCaps, capturePin, *stored, &m_controls));
    if (!preview) return E_OUTOFMEMORY;
    previewPin = preview.get();
    pins.push_back(std::move(preview));
  }
  if (stored->vbiPin) {
    std::unique_ptr<BasePin> vbi(new (std::nothrow) CategoryPin(this, L"VBI", PIN_CATEGORY_VBI, MEDIATYPE_VBI, GUID_NULL));
    if (!vbi) return E_OUTOFMEMORY;
    pins.push_back(std::move(vbi));
  }
  if (stored->videoPortPin) {
    std::unique_ptr<BasePin> port(
        new (std::nothrow) CategoryPin(this, L"VideoPort", PIN_CATEGORY_VIDEOPORT, MEDIATYPE_Video, kSubtypeVideoPort));
    if (!port) return E_OUTOFMEMORY;
    pins.push_back(std::move(port));
  }
  ReplacePins(std::move(pins));
  m_capture = capturePin;
  m_streamPins.push_back(capturePin);
  m_categories.push_back(std::make_pair(PIN_CATEGORY_CAPTURE, static_cast<StreamPin*>(capturePin)));
  if (previewPin) {
    m_streamPins.push_back(previewPin);
    m_categories.push_back(std::make_pair(PIN_CATEGORY_PREVIEW, static_cast<StreamPin*>(previewPin)));
  }
  m_controlsOffered = stored->controls;
  if (m_config) m_oldConfigs.push_back(std::move(m_config));
  m_config = std::move(stored);
  return S_OK;
}

HRESULT CameraFilter::CaptureFormat(MediaType* mt, MediaType* lastSet, HRESULT* lastResult, bool* setCalled) {
  if (!m_capture) return E_UNEXPECTED;
  HRESULT hr = m_capture->CurrentFormat(mt);
  if (FAILED(hr)) return hr;
  return m_capture->LastSetFormat(lastSet, lastResult, setCalled);
}

// ============================================================================================
// MicrophoneFilter
// ============================================================================================
MicrophoneFilter::MicrophoneFilter()
    : DeviceFilter(CLSID_ZelvoraVirtualMicrophone, ZVD_KIND_MICROPHONE, ZVD_MICROPHONE_MAIN) {}

HRESULT MicrophoneFilter::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  MicrophoneFilter* filter = new (std::nothrow) MicrophoneFilter();
  if (!filter) return E_OUTOFMEMORY;
  MicrophoneConfig config;
  HRESULT hr = ParseMicrophoneFormats(kMainMicrophoneFormats, &config.formats) &&
                       ParseMixerInputs(kDefaultMixerInputs, &config.inputs)
                   ? S_OK
                   : E_UNEXPECTED;
  if (SUCCEEDED(hr)) {
    AutoLock lock(filter->m_lock);
    hr = filter->Apply(config);
  }
  if (SUCCEEDED(hr)) {
    RegisterLive(filter);
    hr = filter->QueryInterface(riid, ppv);
  }
  filter->Release();
  return hr;
}

HRESULT MicrophoneFilter::Configure(IPropertyBag* bag) {
  MicrophoneConfig config;
  std::wstring text;
  if (!ParseMicrophoneFormats(
          ReadBagString(bag, L"ZelvoraFormats", &text) ? text : std::wstring(kMainMicrophoneFormats), &config.formats))
    return E_INVALIDARG;
  if (!ParseMixerInputs(ReadBagString(bag, L"ZelvoraInputs", &text) ? text : std::wstring(kDefaultMixerInputs),
                        &config.inputs))
    return E_INVALIDARG;
  return Apply(config);
}

HRESULT MicrophoneFilter::Apply(const MicrophoneConfig& config) {
  std::unique_ptr<MicrophoneConfig> stored(new (std::nothrow) MicrophoneConfig(config));
  if (!stored) return E_OUTOFMEMORY;
  std::vector<std::unique_ptr<BasePin>> pins;
  std::unique_ptr<AudioPin> capture(new (std::nothrow) AudioPin(this, &stored->formats));
  if (!capture) return E_OUTOFMEMORY;
  AudioPin* capturePin = capture.get();
  pins.push_back(std::move(capture));
  std::vector<MixerPin*> mixers;
  for (const std::wstring& name : stored->inputs) {
    std::unique_ptr<MixerPin> input(new (std::nothrow) MixerPin(this, name));
    if (!input) return E_OUTOFMEMORY;
    mixers.push_back(input.get());
    pins.push_back(std::move(input));
  }
  ReplacePins(std::move(pins));
  m_capture = capturePin;
  m_streamPins.push_back(capturePin);
  m_categories.push_back(std::make_pair(PIN_CATEGORY_CAPTURE, static_cast<StreamPin*>(capturePin)));
  m_mixerPins = mixers;
  if (m_config) m_oldConfigs.push_back(std::move(m_config));
  m_config = std::move(stored);
  return S_OK;
}

HRESULT MicrophoneFilter::CaptureFormat(MediaType* mt, MediaType* lastSet, HRESULT* lastResult, bool* setCalled) {
  if (!m_capture) return E_UNEXPECTED;
  HRESULT hr = m_capture->CurrentFormat(mt);
  if (FAILED(hr)) return hr;
  return m_capture->LastSetFormat(lastSet, lastResult, setCalled);
}

}  // namespace zvd
