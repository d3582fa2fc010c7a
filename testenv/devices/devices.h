#pragma once
// The virtual camera and the virtual microphone filters.
#include <windows.h>
#include <ocidl.h>
#include <strmif.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base.h"
#include "cameracontrols.h"
#include "devconfig.h"
#include "framepattern.h"
#include "jpegwriter.h"
#include "testdevices.h"

namespace zvd {

class DeviceFilter;

// IKsPropertySet answering the pin category (AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY).
HRESULT PinCategoryGet(const GUID& category, REFGUID set, DWORD id, void* data, DWORD dataBytes, DWORD* returned);
HRESULT PinCategorySupport(REFGUID set, DWORD id, DWORD* support);

// ---- Output pins ------------------------------------------------------------------------
class VideoPin : public StreamPin, public IAMStreamConfig, public IKsPropertySet {
 public:
  // `follow`: the capture pin whose format a preview pin uses until it gets its own. A scaling
  // preview pin has a list of its own whose entries match the capture pin's one for one.
  // `config` gives the frame options (first frame number, JPEG details); `controls` the
  // brightness of the pictures (the camera's, which outlives its pins).
  VideoPin(DeviceFilter* filter, const wchar_t* name, const GUID& category, const std::vector<VideoCapability>* caps,
           VideoPin* follow, const CameraConfig& config, CameraControls* controls);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return StreamPin::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return StreamPin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return StreamPin::Release(); }
  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;
  // IKsPropertySet
  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes,
                   DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;

  const GUID& Category() const { return m_category; }
  // The format in use or to be used next (under the filter lock).
  HRESULT CurrentFormat(MediaType* mt);
  HRESULT LastSetFormat(MediaType* mt, HRESULT* result, bool* called);

 protected:
  void* FindInterface(REFIID riid) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  REFERENCE_TIME SlotStart(ULONGLONG slot) const override { return static_cast<REFERENCE_TIME>(slot) * m_interval; }
  ULONGLONG SlotAt(REFERENCE_TIME t, ULONGLONG) const override {
    return t > 0 ? static_cast<ULONGLONG>(t / m_interval) : 0;
  }
  HRESULT FillSample(IMediaSample* sample, ULONG frameNumber, ULONGLONG slot, LONG* bytes) override;
  HRESULT Active() override;

 private:
  // The format that pins the pin to one type: its own, or the followed pin's (as the same entry
  // of this pin's list); null if none.
  const MediaType* PinnedFormat();

  GUID m_category;
  const std::vector<VideoCapability>* m_caps;
  VideoPin* m_follow;
  CameraControls* m_controls;
  bool m_formatSet = false;
  MediaType m_format;
  MediaType m_followed;  // the followed pin's format in this pin's list
  bool m_setCalled = false;
  MediaType m_lastSet;
  HRESULT m_lastSetResult = S_OK;
  // Streaming (set in Active, read by the streaming thread).
  REFERENCE_TIME m_interval = 333333;
  LONG m_frameBytes = 0;
  bool m_pattern = false;
  zvpattern::Renderer m_renderer;
  bool m_jpegFrames = false;  // MJPG: JPEG pictures of the pattern
  bool m_jpegHuffmanTables = true;
  bool m_jpegPadded = false;
  zvjpeg::PatternEncoder m_jpeg;
};

// An extra output pin that only has a category and one media type (VBI, video port).
class CategoryPin : public OutputPin, public IKsPropertySet {
 public:
  CategoryPin(DeviceFilter* filter, const wchar_t* name, const GUID& category, const GUID& major, const GUID& subtype);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return OutputPin::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return OutputPin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return OutputPin::Release(); }
  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes,
                   DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;

 protected:
  void* FindInterface(REFIID riid) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  GUID m_category, m_major, m_subtype;
};

class AudioPin : public StreamPin, public IAMStreamConfig, public IKsPropertySet {
 public:
  AudioPin(DeviceFilter* filter, const std::vector<AudioCapability>* caps);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return StreamPin::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return StreamPin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return StreamPin::Release(); }
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;
  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data, DWORD dataBytes,
                   DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;
  HRESULT CurrentFormat(MediaType* mt);
  HRESULT LastSetFormat(MediaType* mt, HRESULT* result, bool* called);

 protected:
  void* FindInterface(REFIID riid) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  REFERENCE_TIME SlotStart(ULONGLONG slot) const override;
  ULONGLONG SlotAt(REFERENCE_TIME, ULONGLONG current) const override { return current; }
  HRESULT FillSample(IMediaSample* sample, ULONG frameNumber, ULONGLONG slot, LONG* bytes) override;
  HRESULT Active() override;

 private:
  const std::vector<AudioCapability>* m_caps;
  bool m_formatSet = false;
  MediaType m_format;
  bool m_setCalled = false;
  MediaType m_lastSet;
  HRESULT m_lastSetResult = S_OK;
  WAVEFORMATEX m_wfx = {};
  ULONG m_framesPerBuffer = 0;
};

// A mixer input of the microphone: an input pin that takes no connection.
class MixerPin : public BasePin, public IAMAudioInputMixer {
 public:
  MixerPin(DeviceFilter* filter, const std::wstring& name);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return BasePin::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return BasePin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return BasePin::Release(); }
  STDMETHODIMP put_Enable(BOOL enable) override;
  STDMETHODIMP get_Enable(BOOL* enable) override;
  STDMETHODIMP put_Mono(BOOL mono) override;
  STDMETHODIMP get_Mono(BOOL* mono) override;
  STDMETHODIMP put_MixLevel(double level) override;
  STDMETHODIMP get_MixLevel(double* level) override;
  STDMETHODIMP put_Pan(double pan) override;
  STDMETHODIMP get_Pan(double* pan) override;
  STDMETHODIMP put_Loudness(BOOL loudness) override;
  STDMETHODIMP get_Loudness(BOOL* loudness) override;
  STDMETHODIMP put_Treble(double treble) override;
  STDMETHODIMP get_Treble(double* treble) override;
  STDMETHODIMP get_TrebleRange(double* range) override;
  STDMETHODIMP put_Bass(double bass) override;
  STDMETHODIMP get_Bass(double* bass) override;
  STDMETHODIMP get_BassRange(double* range) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT GetMediaType(int, MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
  void GetState(ZvdMixerInput* state);

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  CriticalSection m_stateLock;
  BOOL m_enable = TRUE, m_mono = FALSE, m_loudness = FALSE;
  double m_level = 1.0, m_pan = 0.0, m_treble = 0.0, m_bass = 0.0;
  ULONG m_enableCalls = 0, m_levelCalls = 0;
};

// ---- Filters --------------------------------------------------------------------------------
class DeviceFilter : public BaseFilter,
                     public IPersistPropertyBag,
                     public ISpecifyPropertyPages,
                     public IZelvoraDeviceControl {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return BaseFilter::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return BaseFilter::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return BaseFilter::Release(); }
  STDMETHODIMP GetClassID(CLSID* clsid) override { return BaseFilter::GetClassID(clsid); }
  // IPersistPropertyBag
  STDMETHODIMP InitNew() override { return S_OK; }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }
  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;
  // IZelvoraDeviceControl
  STDMETHODIMP GetIdentity(ULONG* kind, WCHAR* name, ULONG nameChars) override;
  STDMETHODIMP SignalDeviceLost(BOOL availableAgain) override;
  STDMETHODIMP SetDelivering(BOOL deliver) override;
  STDMETHODIMP DeliverShortBuffer(ULONG bytes) override;
  STDMETHODIMP GetPinStats(REFGUID category, ZvdPinStats* stats) override;
  STDMETHODIMP GetCurrentFormat(AM_MEDIA_TYPE** format) override;
  STDMETHODIMP GetLastSetFormat(AM_MEDIA_TYPE** format, HRESULT* result) override;
  STDMETHODIMP GetMixerInputCount(ULONG* count) override;
  STDMETHODIMP GetMixerInput(ULONG index, ZvdMixerInput* input) override;
  STDMETHODIMP GetControlSetCount(ULONG* count) override;

  int PinCount() override { return static_cast<int>(m_pins.size()); }
  BasePin* PinAt(int index) override { return m_pins[index].get(); }

  // Registers a new filter in the list of live devices.
  static void RegisterLive(DeviceFilter* filter);
  // Fills up to `capacity` referenced live devices; returns their number.
  static ULONG LiveDevices(IZelvoraDeviceControl** out, ULONG capacity);

  ULONG Kind() const { return m_kind; }
  std::wstring FriendlyName();

 protected:
  DeviceFilter(REFCLSID clsid, ULONG kind, const wchar_t* defaultName);
  ~DeviceFilter() override;
  void* FindInterface(REFIID riid) override;
  bool IsLive() const override { return true; }
  // Reads the instance's values and rebuilds the pins; E_INVALIDARG for values that do not parse.
  virtual HRESULT Configure(IPropertyBag* bag) = 0;
  // Replaces the pins (old ones are kept until the filter goes away: callers may hold them).
  void ReplacePins(std::vector<std::unique_ptr<BasePin>> pins);
  virtual HRESULT CaptureFormat(MediaType* mt, MediaType* lastSet, HRESULT* lastResult, bool* setCalled) = 0;
  // Set calls of the camera controls (0 for a device without them).
  virtual ULONG ControlSetCalls() { return 0; }

  std::vector<std::unique_ptr<BasePin>> m_pins;
  std::vector<StreamPin*> m_streamPins;
  std::vector<std::pair<GUID, StreamPin*>> m_categories;
  std::vector<MixerPin*> m_mixerPins;

 private:
  std::vector<std::unique_ptr<BasePin>> m_retiredPins;
  ULONG m_kind;
  std::wstring m_friendlyName;
};

class CameraFilter final : public DeviceFilter {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

 protected:
  void* FindInterface(REFIID riid) override;
  HRESULT Configure(IPropertyBag* bag) override;
  HRESULT CaptureFormat(MediaType* mt, MediaType* lastSet, HRESULT* lastResult, bool* setCalled) override;
  ULONG ControlSetCalls() override { return m_controls.SetCalls(); }

 private:
  CameraFilter();
  HRESULT Apply(const CameraConfig& config);
  // IAMVideoProcAmp and IAMCameraControl; answered unless the pin words say "nocontrols" (read
  // by QueryInterface without the filter lock).
  CameraControls m_controls;
  std::atomic<bool> m_controlsOffered{true};
  // Pins point at the capability list: lists replaced by a new Load are kept with the old pins.
  std::unique_ptr<CameraConfig> m_config;
  std::vector<std::unique_ptr<CameraConfig>> m_oldConfigs;
  VideoPin* m_capture = nullptr;
};

class MicrophoneFilter final : public DeviceFilter {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

 protected:
  HRESULT Configure(IPropertyBag* bag) override;
  HRESULT CaptureFormat(MediaType* mt, MediaType* lastSet, HRESULT* lastResult, bool* setCalled) override;

 private:
  MicrophoneFilter();
  HRESULT Apply(const MicrophoneConfig& config);
  std::unique_ptr<MicrophoneConfig> m_config;
  std::vector<std::unique_ptr<MicrophoneConfig>> m_oldConfigs;
  AudioPin* m_capture = nullptr;
};

}  // namespace zvd
