#pragma once

// Filters that really connect, for recording tests in a platform filter graph: capture sources
// with a capture output pin, a microphone whose input pins are mixer inputs, a WM ASF Writer
// with a file sink and profile configuration, and an audio mixer of the test's choosing.

#include <windows.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "capture/audiomixer.h"
#include "com_fakes.h"
#include "media/dshowids.h"

namespace recfake {

using Microsoft::WRL::ComPtr;

// An input that accepts one major type (GUID_NULL: none) and may be a mixer input. It takes
// samples (IMemInputPin: the platform's output pins connect only to such inputs) and counts them.
class InputPin final : public fakes::FakePin<IMemInputPin, IAMAudioInputMixer> {
 public:
  InputPin(IBaseFilter* owner, const wchar_t* name, const GUID& accepts, bool mixerInput)
      : FakePin(owner, name, PINDIR_INPUT, accepts), m_mixerInput(mixerInput) {}

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
    if (!connector || !mt) return E_POINTER;
    if (peer) return VFW_E_ALREADY_CONNECTED;
    if (IsEqualGUID(m_major, GUID_NULL) || !IsEqualGUID(mt->majortype, m_major)) return VFW_E_TYPE_NOT_ACCEPTED;
    peer = connector;
    ++connections;
    return S_OK;
  }

  // IMemInputPin: the upstream allocator is used; samples are counted.
  STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
  STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample*) override { return InterlockedIncrement(&samples), S_OK; }
  STDMETHODIMP ReceiveMultiple(IMediaSample** samplesIn, long count, long* done) override {
    for (long i = 0; i < count; ++i) Receive(samplesIn[i]);
    if (done) *done = count;
    return S_OK;
  }
  STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

  // IAMAudioInputMixer: enable and level are recorded.
  STDMETHODIMP put_Enable(BOOL enable) override { return ++enableCalls, enabled = enable, S_OK; }
  STDMETHODIMP get_Enable(BOOL* enable) override { return *enable = enabled, S_OK; }
  STDMETHODIMP put_Mono(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_Mono(BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_MixLevel(double value) override { return ++levelCalls, level = value, S_OK; }
  STDMETHODIMP get_MixLevel(double* value) override { return *value = level, S_OK; }
  STDMETHODIMP put_Pan(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Pan(double*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Loudness(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_Loudness(BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Treble(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Treble(double*) override { return E_NOTIMPL; }
  STDMETHODIMP get_TrebleRange(double*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Bass(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Bass(double*) override { return E_NOTIMPL; }
  STDMETHODIMP get_BassRange(double*) override { return E_NOTIMPL; }

  int connections = 0;
  volatile LONG samples = 0;
  BOOL enabled = TRUE;
  double level = -1.0;
  int enableCalls = 0;
  int levelCalls = 0;

 private:
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IMemInputPin)) return static_cast<IMemInputPin*>(this);
    if (IsEqualIID(riid, IID_IAMAudioInputMixer)) return m_mixerInput ? static_cast<IAMAudioInputMixer*>(this) : nullptr;
    return FakePin::Find(riid);
  }
  bool m_mixerInput;
};

// An output of one pin category and one media type that connects straight to an input.
class OutputPin final : public fakes::FakePin<> {
 public:
  OutputPin(IBaseFilter* owner, const wchar_t* name, const GUID& category, const GUID& major, const GUID& subtype)
      : FakePin(owner, name, PINDIR_OUTPUT, major, &category), m_subtype(subtype) {
    types.types.push_back({major, subtype});
  }

  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override {
    if (!receiver) return E_POINTER;
    if (peer) return VFW_E_ALREADY_CONNECTED;
    if (wanted && !IsEqualGUID(wanted->majortype, GUID_NULL) && !IsEqualGUID(wanted->majortype, m_major))
      return VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE mt;
    ZeroMemory(&mt, sizeof(mt));
    mt.majortype = m_major;
    mt.subtype = m_subtype;
    mt.formattype = FORMAT_None;
    HRESULT hr = receiver->ReceiveConnection(this, &mt);
    if (FAILED(hr)) return VFW_E_NO_ACCEPTABLE_TYPES;
    peer = receiver;
    return S_OK;
  }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }

 private:
  GUID m_subtype;
};

// A filter with the pins a test gives it.
class Filter final : public fakes::FakeFilter<> {
 public:
  explicit Filter(const CLSID& clsid) : FakeFilter(clsid) {}

  template <typename Pin>
  Pin* Add(Pin* pin) {
    m_pins.push_back(ComPtr<IPin>());
    *m_pins.back().GetAddressOf() = static_cast<IPin*>(pin);  // takes over the first reference
    return pin;
  }

 private:
  std::vector<IPin*> Pins() override {
    std::vector<IPin*> pins;
    for (auto& pin : m_pins) pins.push_back(pin.Get());
    return pins;
  }
  ~Filter() override {
    for (auto& pin : m_pins) pin->Disconnect();
  }
  std::vector<ComPtr<IPin>> m_pins;
};

// A camera: one capture pin of video.
inline ComPtr<Filter> MakeCamera(OutputPin** capture = nullptr) {
  ComPtr<Filter> camera;
  *camera.GetAddressOf() = new Filter(GUID_NULL);
  OutputPin* pin = camera->Add(
      new OutputPin(camera.Get(), L"Capture", PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_YUY2));
  if (capture) *capture = pin;
  return camera;
}

// A microphone: a capture pin of audio and mixer inputs of the given names (plus one input
// without a mixer, which is left alone).
inline ComPtr<Filter> MakeMicrophone(const std::vector<const wchar_t*>& inputNames, std::vector<InputPin*>* inputs,
                                     InputPin** plainInput = nullptr) {
  ComPtr<Filter> microphone;
  *microphone.GetAddressOf() = new Filter(GUID_NULL);
  microphone->Add(
      new OutputPin(microphone.Get(), L"Capture", PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, MEDIASUBTYPE_PCM));
  for (const wchar_t* name : inputNames) inputs->push_back(microphone->Add(new InputPin(microphone.Get(), name, GUID_NULL, true)));
  InputPin* plain = microphone->Add(new InputPin(microphone.Get(), L"Plain", GUID_NULL, false));
  if (plainInput) *plainInput = plain;
  return microphone;
}

// The WM ASF Writer: one video and one audio input, a file sink, profile configuration.
struct WriterRecord {
  int created = 0;
  int alive = 0;
  std::vector<std::wstring> fileNames;
  int configureCalls = 0;
  int configureFailures = 0;  // the first calls that fail
  HRESULT failure = E_FAIL;
  std::vector<FILTER_STATE> statesAtConfigure;
  std::vector<IWMProfile*> profiles;  // as passed (not held)
  bool offerConfig = true;
  std::vector<std::vector<recfake::InputPin*>> inputs;  // per writer created
};

class Writer final : public fakes::FakeFilter<IFileSinkFilter, IConfigAsfWriter> {
 public:
  explicit Writer(WriterRecord* record) : FakeFilter(CLSID_WMAsfWriter), m_record(record) {
    ++record->created;
    ++record->alive;
    InputPin* video = new InputPin(this, L"Video Input 01", MEDIATYPE_Video, false);
    InputPin* audio = new InputPin(this, L"Audio Input 01", MEDIATYPE_Audio, false);
    m_pins.resize(2);
    *m_pins[0].GetAddressOf() = static_cast<IPin*>(video);  // the pins' first references
    *m_pins[1].GetAddressOf() = static_cast<IPin*>(audio);
    record->inputs.push_back({video, audio});
  }
  // IFileSinkFilter
  STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
    if (!name) return E_POINTER;
    m_record->fileNames.push_back(name);
    return S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

  // IConfigAsfWriter
  STDMETHODIMP ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentProfileId(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigureFilterUsingProfileGuid(REFGUID) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentProfileGuid(GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigureFilterUsingProfile(IWMProfile* profile) override {
    ++m_record->configureCalls;
    FILTER_STATE state = State_Stopped;
    GetState(0, &state);
    m_record->statesAtConfigure.push_back(state);
    m_record->profiles.push_back(profile);
    if (m_record->configureFailures > 0) {
      --m_record->configureFailures;
      return m_record->failure;
    }
    return profile ? S_OK : E_POINTER;
  }
  STDMETHODIMP GetCurrentProfile(IWMProfile**) override { return E_NOTIMPL; }
  STDMETHODIMP SetIndexMode(BOOL) override { return S_OK; }
  STDMETHODIMP GetIndexMode(BOOL*) override { return E_NOTIMPL; }

 private:
  std::vector<IPin*> Pins() override { return {m_pins[0].Get(), m_pins[1].Get()}; }
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IFileSinkFilter)) return static_cast<IFileSinkFilter*>(this);
    if (IsEqualIID(riid, IID_IConfigAsfWriter)) return m_record->offerConfig ? static_cast<IConfigAsfWriter*>(this) : nullptr;
    return FakeFilter::Find(riid);
  }
  ~Writer() override {
    for (auto& pin : m_pins) pin->Disconnect();
    --m_record->alive;
  }
  WriterRecord* m_record;
  std::vector<ComPtr<IPin>> m_pins;
};

// An audio mixer: destination 0 with the given source lines.
class Mixer final : public zelvora::AudioMixerApi {
 public:
  struct Line {
    DWORD type;
    const wchar_t* name;
    const wchar_t* shortName;
  };

  MMRESULT Open(HMIXER* mixer, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
    ++opens;
    openArgsZero = openArgsZero && id == 0 && callback == 0 && instance == 0 && flags == 0;
    if (openResult != MMSYSERR_NOERROR) return openResult;
    *mixer = kHandle;
    return MMSYSERR_NOERROR;
  }
  MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) override {
    // Without MIXER_OBJECTF_HMIXER the object is a device number, as winmm takes it: a handle
    // value then names no mixer.
    if ((flags & 0xF0000000u) != MIXER_OBJECTF_HMIXER) return MMSYSERR_BADDEVICEID;
    if (reinterpret_cast<HMIXER>(mixer) != kHandle || line->cbStruct != sizeof(MIXERLINEW) || line->dwDestination != 0)
      return MMSYSERR_INVALPARAM;
    if ((flags & MIXER_GETLINEINFOF_QUERYMASK) == MIXER_GETLINEINFOF_DESTINATION) {
      if (destinationResult != MMSYSERR_NOERROR) return destinationResult;
      line->cConnections = connections;
      return MMSYSERR_NOERROR;
    }
    ++sourceReads;
    if ((flags & MIXER_GETLINEINFOF_QUERYMASK) != MIXER_GETLINEINFOF_SOURCE || line->dwSource >= lines.size())
      return MIXERR_INVALLINE;
    const Line& source = lines[line->dwSource];
    line->dwComponentType = source.type;
    lstrcpynW(line->szName, source.name, MIXER_LONG_NAME_CHARS);
    lstrcpynW(line->szShortName, source.shortName, MIXER_SHORT_NAME_CHARS);
    return MMSYSERR_NOERROR;
  }
  MMRESULT Close(HMIXER mixer) override {
    if (mixer == kHandle) ++closes;
    return MMSYSERR_NOERROR;
  }

  std::vector<Line> lines;
  DWORD connections = 0;  // what destination 0 reports
  MMRESULT openResult = MMSYSERR_NOERROR;
  MMRESULT destinationResult = MMSYSERR_NOERROR;
  int opens = 0, closes = 0, sourceReads = 0;
  bool openArgsZero = true;

 private:
  HMIXER const kHandle = reinterpret_cast<HMIXER>(static_cast<UINT_PTR>(0x5150));
};

}  // namespace recfake
