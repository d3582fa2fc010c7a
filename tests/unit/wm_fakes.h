#pragma once

// A Windows Media Format runtime of the test's making: profile manager with codec information
// (codec and format lists under the test's control), profiles, stream configurations with media
// props, video props and property vault, and stream prioritizations; synchronous readers are the
// ones the test hands it. Every call is logged, every object counted, and what the code under
// test configured is kept after the objects are gone.

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "media/wmprofile.h"
#include "support/fake_com.h"

namespace wmfake {

using Microsoft::WRL::ComPtr;

// One media type as a codec format or a stream carries it.
struct MediaType {
  GUID majortype = GUID_NULL;
  GUID subtype = GUID_NULL;
  GUID formattype = GUID_NULL;
  std::vector<BYTE> block;
};

inline MediaType VideoFormat(const GUID& subtype, LONG width, LONG height) {
  MediaType t;
  t.majortype = zelvora::kWmMediaTypeVideo;
  t.subtype = subtype;
  t.formattype = FORMAT_VideoInfo;
  t.block.resize(sizeof(VIDEOINFOHEADER));
  VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(t.block.data());
  SetRect(&info->rcSource, 0, 0, width, height);
  info->rcTarget = info->rcSource;
  info->dwBitRate = 123;
  info->dwBitErrorRate = 7;
  info->AvgTimePerFrame = 666666;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 12;
  info->bmiHeader.biCompression = subtype.Data1;
  info->bmiHeader.biSizeImage = 99;
  info->bmiHeader.biXPelsPerMeter = width;  // tells the formats apart
  return t;
}

inline MediaType AudioFormat(const GUID& subtype, DWORD rate, WORD channels, WORD bits, DWORD bytesPerSec,
                             WORD extra = 10) {
  MediaType t;
  t.majortype = zelvora::kWmMediaTypeAudio;
  t.subtype = subtype;
  t.formattype = FORMAT_WaveFormatEx;
  t.block.resize(sizeof(WAVEFORMATEX) + extra);
  WAVEFORMATEX* wave = reinterpret_cast<WAVEFORMATEX*>(t.block.data());
  wave->wFormatTag = static_cast<WORD>(subtype.Data1);
  wave->nChannels = channels;
  wave->nSamplesPerSec = rate;
  wave->nAvgBytesPerSec = bytesPerSec;
  wave->nBlockAlign = 742;
  wave->wBitsPerSample = bits;
  wave->cbSize = extra;
  for (WORD i = 0; i < extra; ++i) t.block[sizeof(WAVEFORMATEX) + i] = static_cast<BYTE>(0xA0 + i);
  return t;
}

struct Codec {
  std::vector<MediaType> formats;
  HRESULT formatCountResult = S_OK;
  int failFormatAt = -1;  // GetCodecFormat of this index fails
};

// What one stream configuration was given.
struct StreamState {
  GUID streamType = GUID_NULL;
  WORD number = 0;
  std::wstring name, connection;
  DWORD bitrate = 0, bufferWindow = 0;
  bool hasMediaType = false;
  MediaType mediaType;
  bool formatBehindHeader = false;  // pbFormat pointed just behind the header (72 bytes on x86, 88 on x64)
  DWORD quality = 0;
  LONGLONG keyFrameSpacing = 0;
  bool complexitySet = false;
  WMT_ATTR_DATATYPE complexityType = WMT_TYPE_STRING;
  DWORD complexity = 0, complexitySize = 0, complexityReadSize = 0;
};

struct ProfileState {
  int id = 0;
  bool alive = true;
  WMT_VERSION version = WMT_VER_4_0;
  std::vector<StreamState> streams;  // copies taken by AddStream
  bool prioritized = false;
  std::vector<zelvora::StreamPriorityRecord> priorities;
};

// The runtime, its settings and its records. Must outlive every object it made.
class Runtime final : public zelvora::WmRuntime {
 public:
  HRESULT CreateProfileManager(IWMProfileManager** manager) override;
  // Hands out `syncReader` (E_NOTIMPL while there is none).
  HRESULT CreateSyncReader(IWMSyncReader** reader) override {
    Log("CreateSyncReader");
    if (!reader) return E_POINTER;
    *reader = syncReader.Get();
    if (!syncReader) return E_NOTIMPL;
    syncReader->AddRef();
    return S_OK;
  }

  // Settings.
  std::vector<Codec> videoCodecs, audioCodecs;
  HRESULT createManagerResult = S_OK;
  HRESULT createProfileResult = S_OK;
  HRESULT codecInfoCountResult = S_OK;
  HRESULT addStreamResult = S_OK;
  HRESULT setMediaTypeResult = S_OK;
  HRESULT setPrioritizationResult = S_OK;
  bool offerCodecInfo = true;
  bool offerProfile3 = true;
  bool offerVault = true;
  bool offerVideoProps = true;
  DWORD complexityBytes = 4;  // what the vault claims the complexity property needs
  ComPtr<IWMSyncReader> syncReader;

  // Records.
  std::vector<std::string> calls;
  std::vector<std::unique_ptr<ProfileState>> profiles;
  int created = 0;
  int alive = 0;

  void Log(const std::string& call) { calls.push_back(call); }
  int CountCalls(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : calls) n += c.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  int IndexOf(const std::string& call) const {
    for (size_t i = 0; i < calls.size(); ++i)
      if (calls[i] == call) return static_cast<int>(i);
    return -1;
  }
  const ProfileState& LastProfile() const { return *profiles.back(); }
};

// ---------------------------------------------------------------------------------------------
// Objects. Each one counts itself in the runtime.

class Counted {
 public:
  explicit Counted(Runtime* runtime) : m_runtime(runtime) {
    ++runtime->created;
    ++runtime->alive;
  }
  virtual ~Counted() { --m_runtime->alive; }

 protected:
  Runtime* m_runtime;
};

using testsupport::FakeCom;
using testsupport::Primary;

// A stream configuration: a codec format (fixed media type) or a stream of a profile.
class Stream final : public Counted, public FakeCom<IWMStreamConfig, IWMVideoMediaProps, IWMPropertyVault> {
 public:
  Stream(Runtime* runtime, const GUID& type, const MediaType* format) : Counted(runtime) {
    state.streamType = type;
    if (format) {
      state.hasMediaType = true;
      state.mediaType = *format;
    }
  }

  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, __uuidof(IWMMediaProps))) return static_cast<IWMMediaProps*>(this);
    if (IsEqualIID(riid, __uuidof(IWMVideoMediaProps)))
      return m_runtime->offerVideoProps && IsEqualGUID(state.streamType, zelvora::kWmMediaTypeVideo)
                 ? static_cast<IWMVideoMediaProps*>(this)
                 : nullptr;
    if (IsEqualIID(riid, __uuidof(IWMPropertyVault)))
      return m_runtime->offerVault ? static_cast<IWMPropertyVault*>(this) : nullptr;
    return Primary(riid, __uuidof(IWMStreamConfig), static_cast<IWMStreamConfig*>(this));
  }

  // IWMStreamConfig
  STDMETHODIMP GetStreamType(GUID* type) override { return *type = state.streamType, S_OK; }
  STDMETHODIMP GetStreamNumber(WORD* number) override { return *number = state.number, S_OK; }
  STDMETHODIMP SetStreamNumber(WORD number) override { return state.number = number, S_OK; }
  STDMETHODIMP GetStreamName(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE name) override { return state.name = name, S_OK; }
  STDMETHODIMP GetConnectionName(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE name) override { return state.connection = name, S_OK; }
  STDMETHODIMP GetBitrate(DWORD* bitrate) override { return *bitrate = state.bitrate, S_OK; }
  STDMETHODIMP SetBitrate(DWORD bitrate) override { return state.bitrate = bitrate, S_OK; }
  STDMETHODIMP GetBufferWindow(DWORD* window) override { return *window = state.bufferWindow, S_OK; }
  STDMETHODIMP SetBufferWindow(DWORD window) override { return state.bufferWindow = window, S_OK; }

  // IWMMediaProps
  STDMETHODIMP GetType(GUID* type) override { return *type = state.streamType, S_OK; }
  STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* type, DWORD* bytes) override {
    if (!bytes) return E_POINTER;
    if (!state.hasMediaType) return E_FAIL;
    const DWORD need = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + state.mediaType.block.size());
    if (!type) return *bytes = need, S_OK;
    if (*bytes < need) return E_INVALIDARG;
    ZeroMemory(type, need);
    type->majortype = state.mediaType.majortype;
    type->subtype = state.mediaType.subtype;
    type->formattype = state.mediaType.formattype;
    type->bFixedSizeSamples = TRUE;
    type->cbFormat = static_cast<ULONG>(state.mediaType.block.size());
    type->pbFormat = reinterpret_cast<BYTE*>(type) + sizeof(WM_MEDIA_TYPE);
    if (type->cbFormat) memcpy(type->pbFormat, state.mediaType.block.data(), type->cbFormat);
    *bytes = need;
    return S_OK;
  }
  STDMETHODIMP SetMediaType(WM_MEDIA_TYPE* type) override {
    m_runtime->Log("SetMediaType");
    if (!type) return E_POINTER;
    if (FAILED(m_runtime->setMediaTypeResult)) return m_runtime->setMediaTypeResult;
    state.hasMediaType = true;
    state.mediaType.majortype = type->majortype;
    state.mediaType.subtype = type->subtype;
    state.mediaType.formattype = type->formattype;
    state.mediaType.block.assign(type->pbFormat, type->pbFormat + type->cbFormat);
    state.formatBehindHeader = type->pbFormat == reinterpret_cast<BYTE*>(type) + sizeof(WM_MEDIA_TYPE);
    return S_OK;
  }

  // IWMVideoMediaProps
  STDMETHODIMP GetMaxKeyFrameSpacing(LONGLONG* time) override { return *time = state.keyFrameSpacing, S_OK; }
  STDMETHODIMP SetMaxKeyFrameSpacing(LONGLONG time) override { return state.keyFrameSpacing = time, S_OK; }
  STDMETHODIMP GetQuality(DWORD* quality) override { return *quality = state.quality, S_OK; }
  STDMETHODIMP SetQuality(DWORD quality) override { return state.quality = quality, S_OK; }

  // IWMPropertyVault
  STDMETHODIMP GetPropertyCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPropertyByName(const WCHAR* name, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size) override {
    if (!name || !type || !size) return E_POINTER;
    state.complexityReadSize = *size;
    if (wcscmp(name, L"_COMPLEXITYEX") != 0) return E_INVALIDARG;
    if (*size < m_runtime->complexityBytes) {  // the size it needs, as the runtime answers
      *size = m_runtime->complexityBytes;
      return E_INVALIDARG;
    }
    *type = WMT_TYPE_DWORD;
    if (value) *reinterpret_cast<DWORD*>(value) = 3;
    *size = sizeof(DWORD);
    return S_OK;
  }
  STDMETHODIMP SetProperty(const WCHAR* name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size) override {
    if (!name || !value || wcscmp(name, L"_COMPLEXITYEX") != 0) return E_INVALIDARG;
    state.complexitySet = true;
    state.complexityType = type;
    state.complexitySize = size;
    if (size >= sizeof(DWORD)) state.complexity = *reinterpret_cast<const DWORD*>(value);
    return S_OK;
  }
  STDMETHODIMP GetPropertyByIndex(DWORD, WCHAR*, DWORD*, WMT_ATTR_DATATYPE*, BYTE*, DWORD*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP CopyPropertiesFrom(IWMPropertyVault*) override { return E_NOTIMPL; }
  STDMETHODIMP Clear() override { return E_NOTIMPL; }

  StreamState state;
};

class Prioritization final : public Counted, public FakeCom<IWMStreamPrioritization> {
 public:
  using Counted::Counted;
  void* Find(REFIID riid) override {
    return Primary(riid, __uuidof(IWMStreamPrioritization), static_cast<IWMStreamPrioritization*>(this));
  }
  STDMETHODIMP GetPriorityRecords(WM_STREAM_PRIORITY_RECORD*, WORD*) override { return E_NOTIMPL; }
  // Read as the runtime reads them: 6-byte records.
  STDMETHODIMP SetPriorityRecords(WM_STREAM_PRIORITY_RECORD* array, WORD count) override {
    m_runtime->Log("SetPriorityRecords");
    if (!array) return E_POINTER;
    const auto* packed = reinterpret_cast<const zelvora::StreamPriorityRecord*>(array);
    records.assign(packed, packed + count);
    return S_OK;
  }
  std::vector<zelvora::StreamPriorityRecord> records;
};

class Profile final : public Counted, public FakeCom<IWMProfile3> {
 public:
  Profile(Runtime* runtime, ProfileState* profileState) : Counted(runtime), state(profileState) {}
  ~Profile() override {
    state->alive = false;
    m_runtime->Log("profile " + std::to_string(state->id) + " released");
  }
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, __uuidof(IWMProfile2)) || IsEqualIID(riid, __uuidof(IWMProfile3)))
      return m_runtime->offerProfile3 ? static_cast<IWMProfile3*>(this) : nullptr;
    return Primary(riid, __uuidof(IWMProfile), static_cast<IWMProfile*>(this));
  }

  // IWMProfile
  STDMETHODIMP GetVersion(WMT_VERSION* version) override { return *version = state->version, S_OK; }
  STDMETHODIMP GetName(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetName(const WCHAR*) override { return m_runtime->Log("SetName"), S_OK; }
  STDMETHODIMP GetDescription(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDescription(const WCHAR*) override { return m_runtime->Log("SetDescription"), S_OK; }
  STDMETHODIMP GetStreamCount(DWORD* count) override { return *count = static_cast<DWORD>(state->streams.size()), S_OK; }
  STDMETHODIMP GetStream(DWORD, IWMStreamConfig**) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamByNumber(WORD, IWMStreamConfig**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveStream(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveStreamByNumber(WORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddStream(IWMStreamConfig* config) override {
    m_runtime->Log("AddStream");
    if (!config) return E_POINTER;
    if (FAILED(m_runtime->addStreamResult)) return m_runtime->addStreamResult;
    state->streams.push_back(static_cast<Stream*>(config)->state);  // the runtime keeps a copy
    return S_OK;
  }
  STDMETHODIMP ReconfigStream(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP CreateNewStream(REFGUID type, IWMStreamConfig** config) override {
    const bool video = IsEqualGUID(type, zelvora::kWmMediaTypeVideo) != FALSE;
    m_runtime->Log(video ? "CreateNewStream video" : "CreateNewStream audio");
    if (!config) return E_POINTER;
    *config = new Stream(m_runtime, type, nullptr);
    return S_OK;
  }
  STDMETHODIMP GetMutualExclusionCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMutualExclusion(DWORD, IWMMutualExclusion**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
  STDMETHODIMP AddMutualExclusion(IWMMutualExclusion*) override { return m_runtime->Log("AddMutualExclusion"), S_OK; }
  STDMETHODIMP CreateNewMutualExclusion(IWMMutualExclusion**) override { return E_NOTIMPL; }
  // IWMProfile2
  STDMETHODIMP GetProfileID(GUID*) override { return E_NOTIMPL; }
  // IWMProfile3
  STDMETHODIMP GetStorageFormat(WMT_STORAGE_FORMAT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetStorageFormat(WMT_STORAGE_FORMAT) override { return E_NOTIMPL; }
  STDMETHODIMP GetBandwidthSharingCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetBandwidthSharing(DWORD, IWMBandwidthSharing**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveBandwidthSharing(IWMBandwidthSharing*) override { return E_NOTIMPL; }
  STDMETHODIMP AddBandwidthSharing(IWMBandwidthSharing*) override { return m_runtime->Log("AddBandwidthSharing"), S_OK; }
  STDMETHODIMP CreateNewBandwidthSharing(IWMBandwidthSharing**) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamPrioritization(IWMStreamPrioritization**) override { return E_NOTIMPL; }
  STDMETHODIMP SetStreamPrioritization(IWMStreamPrioritization* priorities) override {
    m_runtime->Log("SetStreamPrioritization");
    if (!priorities) return E_POINTER;
    if (FAILED(m_runtime->setPrioritizationResult)) return m_runtime->setPrioritizationResult;
    state->prioritized = true;
    state->priorities = static_cast<Prioritization*>(priorities)->records;
    return S_OK;
  }
  STDMETHODIMP RemoveStreamPrioritization() override { return E_NOTIMPL; }
  STDMETHODIMP CreateNewStreamPrioritization(IWMStreamPrioritization** priorities) override {
    m_runtime->Log("CreateNewStreamPrioritization");
    if (!priorities) return E_POINTER;
    *priorities = new Prioritization(m_runtime);
    return S_OK;
  }
  STDMETHODIMP GetExpectedPacketCount(QWORD, QWORD*) override { return E_NOTIMPL; }

  ProfileState* state;
};

class Manager final : public Counted, public FakeCom<IWMProfileManager, IWMCodecInfo> {
 public:
  using Counted::Counted;
  ~Manager() override { m_runtime->Log("manager released"); }
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, __uuidof(IWMCodecInfo)))
      return m_runtime->offerCodecInfo ? static_cast<IWMCodecInfo*>(this) : nullptr;
    return Primary(riid, __uuidof(IWMProfileManager), static_cast<IWMProfileManager*>(this));
  }

  // IWMProfileManager
  STDMETHODIMP CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override {
    m_runtime->Log("CreateEmptyProfile");
    if (!profile) return E_POINTER;
    *profile = nullptr;
    if (FAILED(m_runtime->createProfileResult)) return m_runtime->createProfileResult;
    m_runtime->profiles.push_back(std::unique_ptr<ProfileState>(new ProfileState));
    ProfileState* state = m_runtime->profiles.back().get();
    state->id = static_cast<int>(m_runtime->profiles.size());
    state->version = version;
    *profile = static_cast<IWMProfile*>(new Profile(m_runtime, state));
    return S_OK;
  }
  STDMETHODIMP LoadProfileByID(REFGUID, IWMProfile**) override { return E_NOTIMPL; }
  STDMETHODIMP LoadProfileByData(const WCHAR*, IWMProfile**) override { return E_NOTIMPL; }
  STDMETHODIMP SaveProfile(IWMProfile*, WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSystemProfileCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadSystemProfile(DWORD, IWMProfile**) override { return E_NOTIMPL; }

  // IWMCodecInfo
  STDMETHODIMP GetCodecInfoCount(REFGUID type, DWORD* count) override {
    if (!count) return E_POINTER;
    if (FAILED(m_runtime->codecInfoCountResult)) return m_runtime->codecInfoCountResult;
    *count = static_cast<DWORD>(Codecs(type).size());
    return S_OK;
  }
  STDMETHODIMP GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* count) override {
    m_runtime->Log(std::string("GetCodecFormatCount ") + Kind(type) + " " + std::to_string(codec));
    if (!count) return E_POINTER;
    const std::vector<Codec>& codecs = Codecs(type);
    if (codec >= codecs.size()) return E_INVALIDARG;
    if (FAILED(codecs[codec].formatCountResult)) return codecs[codec].formatCountResult;
    *count = static_cast<DWORD>(codecs[codec].formats.size());
    return S_OK;
  }
  STDMETHODIMP GetCodecFormat(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** config) override {
    m_runtime->Log(std::string("GetCodecFormat ") + Kind(type) + " " + std::to_string(codec) + " " +
                   std::to_string(format));
    if (!config) return E_POINTER;
    *config = nullptr;
    const std::vector<Codec>& codecs = Codecs(type);
    if (codec >= codecs.size() || format >= codecs[codec].formats.size()) return E_INVALIDARG;
    if (static_cast<int>(format) == codecs[codec].failFormatAt) return E_FAIL;
    *config = new Stream(m_runtime, type, &codecs[codec].formats[format]);
    return S_OK;
  }

 private:
  const std::vector<Codec>& Codecs(REFGUID type) const {
    return IsEqualGUID(type, zelvora::kWmMediaTypeAudio) ? m_runtime->audioCodecs : m_runtime->videoCodecs;
  }
  static const char* Kind(REFGUID type) {
    return IsEqualGUID(type, zelvora::kWmMediaTypeAudio) ? "audio" : "video";
  }
};

inline HRESULT Runtime::CreateProfileManager(IWMProfileManager** manager) {
  Log("CreateProfileManager");
  if (!manager) return E_POINTER;
  *manager = nullptr;
  if (FAILED(createManagerResult)) return createManagerResult;
  *manager = new Manager(this);
  return S_OK;
}


// A runtime with one WMV3 codec (after an older video codec) and one audio codec whose formats
// include the wanted one.
inline void AddStandardCodecs(Runtime& runtime) {
  Codec older;
  older.formats.push_back(VideoFormat(WMMEDIASUBTYPE_WMV2, 176, 144));
  Codec wmv3;
  wmv3.formats.push_back(VideoFormat(zelvora::kWmSubtypeWmv3, 640, 480));
  wmv3.formats.push_back(VideoFormat(zelvora::kWmSubtypeWmv3, 320, 240));
  runtime.videoCodecs = {older, wmv3};
  Codec wma;
  wma.formats.push_back(AudioFormat(zelvora::kWmSubtypeWmAudioV8, 44100, 2, 16, 16000));
  wma.formats.push_back(AudioFormat(zelvora::kWmSubtypeWmAudioV8, 22050, 1, 16, 2500));
  wma.formats.push_back(AudioFormat(zelvora::kWmSubtypeWmAudioV8, 22050, 1, 16, 4000));
  wma.formats.push_back(AudioFormat(zelvora::kWmSubtypeWmAudioV8, 22050, 1, 16, 2501));
  runtime.audioCodecs = {wma};
}

}  // namespace wmfake
