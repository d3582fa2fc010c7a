// The recording writer and its fixed Windows Media profile: WMV3 video of 320 x 240 at 30 frames
// per second and, with an audio input, Windows Media Audio of 22,050 Hz mono 16-bit.
#include "capture/camcapturegraphy.h"

#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>

#include "media/debugline.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

// How the writer names, sizes and numbers one stream of the recording.
struct RecordingStream {
  const WCHAR* name;
  const WCHAR* connection;
  DWORD bitrate;
  DWORD bufferWindow;
  WORD number;
};

namespace {

constexpr DWORD kVideoBitrate = 500000;
constexpr DWORD kVideoBufferWindow = 0xFFFFFFFF;
constexpr WORD kVideoStreamNumber = 2;
constexpr REFERENCE_TIME kVideoFrameTime = 333333;  // 30 frames per second
constexpr DWORD kVideoQuality = 100;
constexpr LONGLONG kMaxKeyFrameSpacing = 60000000;  // 6 seconds
constexpr DWORD kAudioBitrate = 48000;
constexpr DWORD kAudioBufferWindow = 3000;
constexpr WORD kAudioStreamNumber = 1;
constexpr DWORD kAudioSamplesPerSec = 22050;
constexpr WORD kAudioChannels = 1;
constexpr WORD kAudioBitsPerSample = 16;
constexpr DWORD kAudioMinBytesPerSec = 2501;
constexpr int kRecordingWidth = 320;
constexpr int kRecordingHeight = 240;

const RecordingStream kVideoStream = {L"Video Stream", L"Video", kVideoBitrate, kVideoBufferWindow,
                                      kVideoStreamNumber};
const RecordingStream kAudioStream = {L"Audio Stream", L"Audio", kAudioBitrate, kAudioBufferWindow,
                                      kAudioStreamNumber};

// Codec tuning of the video stream; none of these results matters.
void TuneVideoCodec(IWMMediaProps* props) {
  ComPtr<IWMPropertyVault> vault;
  if (SUCCEEDED(props->QueryInterface(__uuidof(IWMPropertyVault), reinterpret_cast<void**>(vault.GetAddressOf())))) {
    DWORD complexity = 0;
    DWORD size = sizeof(complexity);
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    vault->GetPropertyByName(L"_COMPLEXITYEX", &type, reinterpret_cast<BYTE*>(&complexity), &size);
    if (size > sizeof(complexity)) size = sizeof(complexity);  // never more than the value holds
    complexity = 1;
    vault->SetProperty(L"_COMPLEXITYEX", WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&complexity), size);
  }
  ComPtr<IWMVideoMediaProps> video;
  if (SUCCEEDED(props->QueryInterface(__uuidof(IWMVideoMediaProps), reinterpret_cast<void**>(video.GetAddressOf())))) {
    DWORD quality = 0;
    LONGLONG spacing = 0;
    video->GetQuality(&quality);
    video->SetQuality(kVideoQuality);
    video->GetMaxKeyFrameSpacing(&spacing);
    video->SetMaxKeyFrameSpacing(kMaxKeyFrameSpacing);
  }
}

// Rewrites the codec's VIDEOINFOHEADER for the recorded picture size; every field not named
// keeps the codec's value. E_FAIL when the format block cannot hold the header.
HRESULT RewriteVideoFormat(WM_MEDIA_TYPE* record, int width, int height) {
  if (!record->pbFormat || record->cbFormat < sizeof(VIDEOINFOHEADER)) return E_FAIL;
  VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(record->pbFormat);
  SetRect(&info->rcSource, 0, 0, width, height);
  info->rcTarget = info->rcSource;
  info->dwBitRate = kVideoBitrate;
  info->dwBitErrorRate = 0;
  info->AvgTimePerFrame = kVideoFrameTime;
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biBitCount = 24;
  info->bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 3;
  return S_OK;
}

// True when the audio format in `record` has the wanted rate, channels and sample size and at
// least the wanted byte rate. Only the leading PCM fields are read.
bool AudioFormatMatches(const WM_MEDIA_TYPE* record, const WAVEFORMATEX& wanted) {
  if (!record->pbFormat || record->cbFormat < sizeof(PCMWAVEFORMAT)) return false;
  const WAVEFORMATEX* format = reinterpret_cast<const WAVEFORMATEX*>(record->pbFormat);
  return format->nSamplesPerSec == wanted.nSamplesPerSec && format->nChannels == wanted.nChannels &&
         format->wBitsPerSample == wanted.wBitsPerSample && format->nAvgBytesPerSec >= wanted.nAvgBytesPerSec;
}

}  // namespace

HRESULT CaptureGraph::ConfigureRecordingWriter() {
  if (m_tcCaptureFile[0] == 0) return E_POINTER;
  HRESULT hr = m_Builder.SetOutputFileName(&MEDIASUBTYPE_Asf, m_tcCaptureFile, m_pAsfWriter.ReleaseAndGetAddressOf(),
                                           m_pFileSink.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  if (!m_pAsfWriter) return E_UNEXPECTED;
  ComPtr<IConfigAsfWriter> config;
  hr = m_pAsfWriter->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(config.GetAddressOf()));
  if (FAILED(hr)) return hr;
  if (!config) return E_NOINTERFACE;

  m_pProfile.Reset();
  // Without the profile (no runtime, no WMV3 codec, no suitable audio format) the writer records
  // with the configuration it was created with.
  if (FAILED(BuildRecordingProfile(m_pAudioCapture != nullptr, kRecordingWidth, kRecordingHeight))) return S_OK;

  hr = config->ConfigureFilterUsingProfile(m_pProfile.Get());
  if (SUCCEEDED(hr)) return S_OK;

  // One more attempt once the graph has been stopped and run. The writer takes a profile, and
  // its inputs are connected, only while the graph is stopped: stop it again first.
  DebugLine(L"Config profile failed");  // fixed text: tests read it
  GraphStop();
  if (FAILED(GraphPlay())) return hr;
  HRESULT stopped = GraphStop();
  if (FAILED(stopped)) return stopped;
  return config->ConfigureFilterUsingProfile(m_pProfile.Get());
}

HRESULT CaptureGraph::BuildRecordingProfile(BOOL withAudio, int width, int height) {
  // A new profile manager every time, released on return like every stream object and record.
  ComPtr<IWMProfileManager> manager;
  HRESULT hr = m_pWmRuntime->CreateProfileManager(&manager);
  if (FAILED(hr)) return hr;
  if (!manager) return E_UNEXPECTED;
  hr = manager->CreateEmptyProfile(WMT_VER_9_0, m_pProfile.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  if (!m_pProfile) return E_UNEXPECTED;

  // Video: the first WMV3 format, rewritten for the recorded size.
  hr = AddRecordingStream(kWmMediaTypeVideo, kVideoStream, [&](IWMMediaProps* props, WmMediaTypeRecord* record) {
    WM_MEDIA_TYPE* found = nullptr;
    if (!FindCodecFormat(manager.Get(), kWmMediaTypeVideo, kWmSubtypeWmv3, &found)) return E_FAIL;
    record->reset(found);
    const HRESULT rewritten = RewriteVideoFormat(record->get(), width, height);
    if (SUCCEEDED(rewritten)) TuneVideoCodec(props);
    return rewritten;
  });
  if (FAILED(hr) || !withAudio) return hr;

  // Audio: the first Windows Media Audio format of the wanted kind, as the codec offers it.
  hr = AddRecordingStream(kWmMediaTypeAudio, kAudioStream, [&](IWMMediaProps*, WmMediaTypeRecord* record) {
    WAVEFORMATEX wanted;
    ZeroMemory(&wanted, sizeof(wanted));
    wanted.nChannels = kAudioChannels;
    wanted.nSamplesPerSec = kAudioSamplesPerSec;
    wanted.wBitsPerSample = kAudioBitsPerSample;
    wanted.nAvgBytesPerSec = kAudioMinBytesPerSec;
    // On entry the record pointer carries the wanted format; on success a new record replaces it.
    WM_MEDIA_TYPE* found = reinterpret_cast<WM_MEDIA_TYPE*>(&wanted);
    if (!FindCodecFormat(manager.Get(), kWmMediaTypeAudio, kWmSubtypeWmAudioV8, &found)) return E_FAIL;
    record->reset(found);
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  return SetRecordingPriorities();
}

HRESULT CaptureGraph::AddRecordingStream(REFGUID majorType, const RecordingStream& settings,
                                         const std::function<HRESULT(IWMMediaProps*, WmMediaTypeRecord*)>& chooseFormat) {
  ComPtr<IWMStreamConfig> stream;
  HRESULT hr = m_pProfile->CreateNewStream(majorType, &stream);
  if (FAILED(hr)) return hr;
  if (!stream) return E_UNEXPECTED;
  ComPtr<IWMMediaProps> props;
  hr = stream.As(&props);
  if (FAILED(hr)) return hr;
  WmMediaTypeRecord record;
  hr = chooseFormat(props.Get(), &record);
  if (FAILED(hr)) return hr;
  hr = props->SetMediaType(record.get());
  if (FAILED(hr)) return hr;
  stream->SetStreamName(const_cast<WCHAR*>(settings.name));
  stream->SetConnectionName(const_cast<WCHAR*>(settings.connection));
  stream->SetBitrate(settings.bitrate);
  stream->SetBufferWindow(settings.bufferWindow);
  stream->SetStreamNumber(settings.number);
  return m_pProfile->AddStream(stream.Get());
}

HRESULT CaptureGraph::SetRecordingPriorities() {
  // The audio stream is mandatory, the video stream is not.
  ComPtr<IWMProfile3> profile3;
  HRESULT hr = m_pProfile.As(&profile3);
  if (FAILED(hr)) return hr;
  ComPtr<IWMStreamPrioritization> priorities;
  hr = profile3->CreateNewStreamPrioritization(&priorities);
  if (FAILED(hr)) return hr;
  if (!priorities) return E_UNEXPECTED;
  StreamPriorityRecord records[2] = {{kAudioStreamNumber, TRUE}, {kVideoStreamNumber, FALSE}};
  priorities->SetPriorityRecords(reinterpret_cast<WM_STREAM_PRIORITY_RECORD*>(records), 2);
  return profile3->SetStreamPrioritization(priorities.Get());
}

BOOL CaptureGraph::FindCodecFormat(IWMProfileManager* manager, REFGUID majorType, REFGUID subtype,
                                   WM_MEDIA_TYPE** record) {
  if (!manager || !record) return FALSE;
  ComPtr<IWMCodecInfo> codecs;
  if (FAILED(manager->QueryInterface(__uuidof(IWMCodecInfo), reinterpret_cast<void**>(codecs.GetAddressOf()))) ||
      !codecs)
    return FALSE;
  const bool audio = IsEqualGUID(majorType, kWmMediaTypeAudio) != FALSE;

  // The media type of one codec format.
  auto readFormat = [&](DWORD codec, DWORD format, WmMediaTypeRecord* out) -> HRESULT {
    ComPtr<IWMStreamConfig> config;
    HRESULT hr = codecs->GetCodecFormat(majorType, codec, format, &config);
    if (FAILED(hr)) return hr;
    if (!config) return E_UNEXPECTED;
    ComPtr<IWMMediaProps> props;
    hr = config.As(&props);
    if (FAILED(hr)) return hr;
    WM_MEDIA_TYPE* type = nullptr;
    hr = GetStreamMediaType(props.Get(), &type);
    if (FAILED(hr)) return hr;
    out->reset(type);
    return S_OK;
  };

  DWORD codecCount = 0;
  if (FAILED(codecs->GetCodecInfoCount(majorType, &codecCount))) codecCount = 0;
  for (DWORD codec = 0; codec < codecCount; ++codec) {
    DWORD formatCount = 0;
    if (FAILED(codecs->GetCodecFormatCount(majorType, codec, &formatCount))) return FALSE;
    if (formatCount == 0) continue;

    // Only the codec's first format tells what the codec is.
    WmMediaTypeRecord first;
    if (FAILED(readFormat(codec, 0, &first))) return FALSE;
    if (!IsEqualGUID(first->subtype, subtype)) continue;

    if (!audio) return SUCCEEDED(CopyWmMediaType(record, first.get()));

    // Audio: the first format of this codec that has the wanted rate, channels and sample size
    // and at least the wanted byte rate.
    if (!*record) return FALSE;
    const WAVEFORMATEX wanted = *reinterpret_cast<const WAVEFORMATEX*>(*record);
    for (DWORD format = 0; format < formatCount; ++format) {
      WmMediaTypeRecord candidate;
      if (FAILED(readFormat(codec, format, &candidate))) break;  // the next codec may still do
      if (AudioFormatMatches(candidate.get(), wanted)) return SUCCEEDED(CopyWmMediaType(record, candidate.get()));
    }
  }
  return FALSE;
}

HRESULT CaptureGraph::GetStreamMediaType(IWMMediaProps* props, WM_MEDIA_TYPE** record) {
  if (!props) return E_FAIL;
  if (!record) return E_POINTER;
  DWORD bytes = 0;
  HRESULT hr = props->GetMediaType(nullptr, &bytes);
  if (FAILED(hr)) return hr;
  if (bytes < sizeof(WM_MEDIA_TYPE)) return E_UNEXPECTED;  // not even the record's header
  WmMediaTypeRecord buffer(AllocWmMediaType(bytes));
  if (!buffer) return E_OUTOFMEMORY;
  const DWORD allocated = bytes;
  hr = props->GetMediaType(buffer.get(), &bytes);
  if (FAILED(hr)) return hr;
  // The format block must lie inside the record, behind its header.
  const BYTE* begin = reinterpret_cast<const BYTE*>(buffer.get());
  const BYTE* format = buffer->pbFormat;
  if (buffer->cbFormat != 0 &&
      (!format || format < begin + sizeof(WM_MEDIA_TYPE) || format > begin + allocated ||
       buffer->cbFormat > static_cast<DWORD>(begin + allocated - format)))
    return E_UNEXPECTED;
  *record = buffer.release();
  return hr;
}

}  // namespace zelvora
