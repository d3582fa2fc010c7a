#include "asfwriter.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <evcode.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <stdio.h>

#include <new>

#include "devconfig.h"
#include "framepattern.h"

namespace zvd {
namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
  return out;
}

// Names go between double quotes on one line.
std::string Quoted(const std::wstring& text) {
  std::string out = Utf8(text);
  for (char& c : out)
    if (c == '"' || c == '\r' || c == '\n') c = '_';
  return "\"" + out + "\"";
}

std::string Time(bool have, REFERENCE_TIME t) {
  if (!have) return "-";
  char buffer[32];
  snprintf(buffer, sizeof(buffer), "%lld", static_cast<long long>(t));
  return buffer;
}

const char* KindName(StreamKind kind) {
  return kind == StreamKind::Video ? "video" : (kind == StreamKind::Audio ? "audio" : "other");
}

std::string SubtypeName(const AM_MEDIA_TYPE& mt) {
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24)) return "RGB24";
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2)) return "YUY2";
  if (IsEqualGUID(mt.subtype, kSubtypeI420)) return "I420";
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM)) return "PCM";
  WCHAR text[64];
  if (StringFromGUID2(mt.subtype, text, 64) == 0) return "-";
  return Utf8(text);
}

bool UncompressedVideo(const GUID& subtype) {
  static const GUID* const accepted[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB565,
                                         &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_YUY2,  &MEDIASUBTYPE_UYVY,
                                         &MEDIASUBTYPE_YV12,   &kSubtypeI420,       &MEDIASUBTYPE_IYUV};
  for (const GUID* g : accepted)
    if (IsEqualGUID(subtype, *g)) return true;
  return false;
}

HRESULT ReadText(IWMStreamConfig* config, bool connection, std::wstring* out) {
  WORD chars = 0;
  HRESULT hr = connection ? config->GetConnectionName(nullptr, &chars) : config->GetStreamName(nullptr, &chars);
  if (FAILED(hr)) return hr;
  if (chars == 0) {
    out->clear();
    return S_OK;
  }
  std::vector<WCHAR> buffer(static_cast<size_t>(chars) + 1, 0);
  hr = connection ? config->GetConnectionName(buffer.data(), &chars) : config->GetStreamName(buffer.data(), &chars);
  if (FAILED(hr)) return hr;
  buffer.back() = 0;
  *out = buffer.data();
  return S_OK;
}

// The ASF file goes through the muxer's sink to a file handle.
class HandleSink final : public zvasf::Sink {
 public:
  explicit HandleSink(HANDLE file) : m_file(file) {}
  bool Write(const void* data, size_t bytes) override {
    const BYTE* at = static_cast<const BYTE*>(data);
    while (bytes) {
      const DWORD chunk = bytes > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes);
      DWORD written = 0;
      if (!WriteFile(m_file, at, chunk, &written, nullptr) || written != chunk) return false;
      at += chunk;
      bytes -= chunk;
    }
    return true;
  }
  bool SeekTo(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN) != FALSE;
  }

 private:
  HANDLE m_file;
};

std::vector<ProfileStream> DefaultStreams() {
  // Before configuration: one video and one audio input, video first (the order in which hosts
  // connect them, and the order of a profile built video stream first).
  std::vector<ProfileStream> streams(2);
  streams[0].number = 2;
  streams[0].kind = StreamKind::Video;
  streams[0].type = MEDIATYPE_Video;
  streams[0].bitrate = 500000;
  streams[0].width = 320;
  streams[0].height = 240;
  streams[0].name = L"Video Stream";
  streams[0].connection = L"Video";
  streams[1].number = 1;
  streams[1].kind = StreamKind::Audio;
  streams[1].type = MEDIATYPE_Audio;
  streams[1].bitrate = 48000;
  streams[1].name = L"Audio Stream";
  streams[1].connection = L"Audio";
  return streams;
}

}  // namespace

std::wstring RecordPath(const std::wstring& file) {
  std::wstring record = file + L".record.txt";
  // A file name of up to MAX_PATH - 1 units is taken; the longer record name then needs the
  // long-path form, which only an absolute path with a drive letter can have.
  if (record.size() >= MAX_PATH && file.size() > 3 && file[1] == L':' && file[2] == L'\\') record = L"\\\\?\\" + record;
  return record;
}

HRESULT ReadProfileStreams(IWMProfile* profile, std::vector<ProfileStream>* streams) {
  DWORD count = 0;
  HRESULT hr = profile->GetStreamCount(&count);
  if (FAILED(hr)) return hr;
  if (count > 127) return E_INVALIDARG;  // a Windows Media file holds at most 127 streams
  std::vector<ProfileStream> read;
  for (DWORD i = 0; i < count; ++i) {
    ComPtr<IWMStreamConfig> config;
    hr = profile->GetStream(i, &config);
    if (FAILED(hr)) return hr;
    if (!config) return E_POINTER;
    ProfileStream stream;
    hr = config->GetStreamType(&stream.type);
    if (SUCCEEDED(hr)) hr = config->GetStreamNumber(&stream.number);
    if (SUCCEEDED(hr)) hr = config->GetBitrate(&stream.bitrate);
    if (SUCCEEDED(hr)) hr = ReadText(config.Get(), false, &stream.name);
    if (SUCCEEDED(hr)) hr = ReadText(config.Get(), true, &stream.connection);
    if (FAILED(hr)) return hr;
    if (IsEqualGUID(stream.type, MEDIATYPE_Video)) stream.kind = StreamKind::Video;
    else if (IsEqualGUID(stream.type, MEDIATYPE_Audio)) stream.kind = StreamKind::Audio;
    ComPtr<IWMMediaProps> props;
    if (stream.kind == StreamKind::Video &&
        SUCCEEDED(config->QueryInterface(__uuidof(IWMMediaProps), reinterpret_cast<void**>(props.GetAddressOf())))) {
      DWORD bytes = 0;
      if (SUCCEEDED(props->GetMediaType(nullptr, &bytes)) && bytes >= sizeof(WM_MEDIA_TYPE) && bytes < (1u << 20)) {
        std::vector<BYTE> buffer(bytes);
        WM_MEDIA_TYPE* mt = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
        if (SUCCEEDED(props->GetMediaType(mt, &bytes)) && mt->pbFormat && mt->cbFormat >= sizeof(VIDEOINFOHEADER) &&
            IsEqualGUID(mt->formattype, FORMAT_VideoInfo)) {
          const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
          stream.width = info->bmiHeader.biWidth;
          stream.height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
        }
      }
    }
    read.push_back(stream);
  }
  *streams = read;
  return S_OK;
}

// ============================================================================================
// WriterInputPin
// ============================================================================================
WriterInputPin::WriterInputPin(AsfWriter* writer, const std::wstring& name, const ProfileStream& stream)
    : InputPin(writer, name.c_str()), m_writer(writer), m_stream(stream) {}

HRESULT WriterInputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  switch (m_stream.kind) {
    case StreamKind::Video: {
      if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !UncompressedVideo(mt.subtype)) return VFW_E_TYPE_NOT_ACCEPTED;
      const BITMAPINFOHEADER* bmi = VideoBitmapOf(mt);
      if (!bmi || bmi->biWidth <= 0 || bmi->biHeight == 0) return VFW_E_TYPE_NOT_ACCEPTED;
      return S_OK;
    }
    case StreamKind::Audio: {
      if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM) ||
          !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX) - 2)
        return VFW_E_TYPE_NOT_ACCEPTED;
      const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
      return wfx->nChannels && wfx->nSamplesPerSec && wfx->nBlockAlign ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    case StreamKind::Other:
      return IsEqualGUID(mt.majortype, m_stream.type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT WriterInputPin::GetMediaType(int index, MediaType*) {
  // The inputs take what their stream's kind allows (CheckMediaType) but offer no types: Wine's
  // Smart Tee accepts any type its peer proposes, even audio for a video stream, and its
  // capture graph builder tries only the sink's first free input, so offered types would let a
  // video stream connect to an audio input as PCM. Without them such a connection fails.
  return index < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

void WriterInputPin::ResetStats() {
  AutoLock lock(m_statsLock);
  m_samples = 0;
  m_bytes = 0;
  m_haveTimes = m_haveFrame = false;
  m_first = m_last = 0;
  m_firstFrame = m_lastFrame = 0;
  m_inOrder = true;
  m_eos = false;
}

STDMETHODIMP WriterInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  if (m_filter->State() == State_Stopped) return VFW_E_WRONG_STATE;
  if (m_flushing) return S_FALSE;
  REFERENCE_TIME start = 0, stop = 0;
  bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  if (timed && sample->GetTime(&start, &stop) == VFW_S_NO_STOP_TIME) stop = start;
  LONG length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data))) data = nullptr;
  // The frame number of uncompressed pictures (read before taking the lock: it takes a while).
  bool decoded = false;
  unsigned frame = 0;
  const AM_MEDIA_TYPE& mt = m_mt.Get();
  if (m_stream.kind == StreamKind::Video) {
    const BITMAPINFOHEADER* bmi = VideoBitmapOf(mt);
    if (bmi && data && length > 0) {
      zvpattern::Layout layout;
      bool known = true;
      if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24)) layout = zvpattern::Layout::RGB24;
      else if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2)) layout = zvpattern::Layout::YUY2;
      else if (IsEqualGUID(mt.subtype, kSubtypeI420)) layout = zvpattern::Layout::I420;
      else known = false;
      if (known && bmi->biHeight > 0) {
        zvpattern::Decoded d = zvpattern::DecodeFrame(layout, data, static_cast<size_t>(length), bmi->biWidth, bmi->biHeight);
        decoded = d.valid;
        frame = d.frameNumber;
      }
    }
  }
  {
    AutoLock lock(m_statsLock);
    ++m_samples;
    if (length > 0) m_bytes += static_cast<ULONG>(length);
    if (timed) {
      if (!m_haveTimes) m_first = start;
      m_last = start;
      m_haveTimes = true;
    } else {
      start = stop = m_haveTimes ? m_last : 0;  // an untimed sample goes with the one before
    }
    if (decoded) {
      if (!m_haveFrame) m_firstFrame = frame;
      else if (frame <= m_lastFrame) m_inOrder = false;
      m_lastFrame = frame;
      m_haveFrame = true;
    }
  }
  if (m_fileStream >= 0 && (data || length <= 0)) m_writer->WriteSample(m_fileStream, start, stop, data, length);
  return S_OK;
}

int WriterInputPin::AddFileStream(zvasf::Muxer* muxer, unsigned number) {
  const AM_MEDIA_TYPE& mt = m_mt.Get();
  m_fileStream = -1;
  if (m_stream.kind == StreamKind::Video) {
    REFERENCE_TIME interval = 0;
    const BITMAPINFOHEADER* bmi = VideoBitmapOf(mt, &interval);
    if (!bmi) return -1;
    zvasf::VideoFormat format;
    format.width = bmi->biWidth;
    format.height = bmi->biHeight;
    format.bitCount = bmi->biBitCount;
    format.compression = bmi->biCompression;
    format.imageSize = bmi->biSizeImage;
    format.frameInterval = static_cast<uint64_t>(interval);
    m_fileStream = muxer->AddVideoStream(number, format);
  } else if (m_stream.kind == StreamKind::Audio && mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMATEX) - 2) {
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    zvasf::AudioFormat format;
    format.formatTag = wfx->wFormatTag;
    format.channels = wfx->nChannels;
    format.samplesPerSec = wfx->nSamplesPerSec;
    format.avgBytesPerSec = wfx->nAvgBytesPerSec;
    format.blockAlign = wfx->nBlockAlign;
    format.bitsPerSample = wfx->wBitsPerSample;
    m_fileStream = muxer->AddAudioStream(number, format);
  }
  return m_fileStream;
}

STDMETHODIMP WriterInputPin::EndOfStream() {
  {
    AutoLock lock(m_statsLock);
    m_eos = true;
  }
  m_writer->InputEnded();
  return S_OK;
}

bool WriterInputPin::AtEndOfStream() {
  AutoLock lock(m_statsLock);
  return m_eos;
}

std::string WriterInputPin::RecordLine(int index) {
  AutoLock lock(m_statsLock);
  const AM_MEDIA_TYPE& mt = m_mt.Get();
  const BITMAPINFOHEADER* bmi = IsConnected() ? VideoBitmapOf(mt) : nullptr;
  char head[160];
  snprintf(head, sizeof(head), "input %d stream=%u pin=", index, static_cast<unsigned>(m_stream.number));
  char tail[512];
  snprintf(tail, sizeof(tail),
           " connected=%d subtype=%s width=%ld height=%ld samples=%lu bytes=%llu first=%s last=%s firstframe=%s "
           "lastframe=%s inorder=%d eos=%d\n",
           IsConnected() ? 1 : 0, IsConnected() ? SubtypeName(mt).c_str() : "-",
           bmi ? static_cast<long>(bmi->biWidth) : 0L, bmi ? static_cast<long>(bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight) : 0L,
           static_cast<unsigned long>(m_samples), static_cast<unsigned long long>(m_bytes),
           Time(m_haveTimes, m_first).c_str(), Time(m_haveTimes, m_last).c_str(),
           m_haveFrame ? std::to_string(m_firstFrame).c_str() : "-", m_haveFrame ? std::to_string(m_lastFrame).c_str() : "-",
           m_inOrder ? 1 : 0, m_eos ? 1 : 0);
  return std::string(head) + Quoted(m_name) + tail;
}

// ============================================================================================
// AsfWriter
// ============================================================================================
AsfWriter::AsfWriter() : BaseFilter(CLSID_WMAsfWriter, AM_FILTER_MISC_FLAGS_IS_RENDERER) {}

AsfWriter::~AsfWriter() {
  CloseFiles();  // released while running: keep what was received
}

HRESULT AsfWriter::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  AsfWriter* writer = new (std::nothrow) AsfWriter();
  if (!writer) return E_OUTOFMEMORY;
  HRESULT hr;
  {
    AutoLock lock(writer->m_lock);
    writer->m_streams = DefaultStreams();
    hr = writer->BuildPins(writer->m_streams);
  }
  if (SUCCEEDED(hr)) hr = writer->QueryInterface(riid, ppv);
  writer->Release();
  return hr;
}

void* AsfWriter::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IFileSinkFilter)) return static_cast<IFileSinkFilter*>(this);
  if (IsEqualIID(riid, IID_IConfigAsfWriter)) return static_cast<IConfigAsfWriter*>(this);
  return nullptr;
}

HRESULT AsfWriter::BuildPins(const std::vector<ProfileStream>& streams) {
  std::vector<std::unique_ptr<WriterInputPin>> pins;
  int videoCount = 0, audioCount = 0, otherCount = 0;
  for (const ProfileStream& stream : streams) {
    wchar_t name[64];
    if (stream.kind == StreamKind::Video) swprintf(name, 64, L"Video Input %02d", ++videoCount);
    else if (stream.kind == StreamKind::Audio) swprintf(name, 64, L"Audio Input %02d", ++audioCount);
    else swprintf(name, 64, L"Input %02d", ++otherCount);
    std::unique_ptr<WriterInputPin> pin(new (std::nothrow) WriterInputPin(this, name, stream));
    if (!pin) return E_OUTOFMEMORY;
    pins.push_back(std::move(pin));
  }
  for (auto& pin : m_pins) m_retiredPins.push_back(std::move(pin));
  m_pins = std::move(pins);
  BumpPinVersion();
  return S_OK;
}

STDMETHODIMP AsfWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  if (!fileName[0]) return E_INVALIDARG;
  if (lstrlenW(fileName) >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  AutoLock lock(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  m_fileName = fileName;
  return S_OK;
}

STDMETHODIMP AsfWriter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  *fileName = nullptr;
  AutoLock lock(m_lock);
  if (mt) {
    ZeroMemory(mt, sizeof(*mt));
    mt->majortype = MEDIATYPE_Stream;
    mt->subtype = MEDIASUBTYPE_Asf;
  }
  if (m_fileName.empty()) return E_FAIL;
  return CopyToOutString(m_fileName, fileName);
}

STDMETHODIMP AsfWriter::ConfigureFilterUsingProfileId(DWORD) { return E_NOTIMPL; }
STDMETHODIMP AsfWriter::GetCurrentProfileId(DWORD* profileId) {
  if (!profileId) return E_POINTER;
  return E_NOTIMPL;
}
STDMETHODIMP AsfWriter::ConfigureFilterUsingProfileGuid(REFGUID) { return E_NOTIMPL; }
STDMETHODIMP AsfWriter::GetCurrentProfileGuid(GUID* profile) {
  if (!profile) return E_POINTER;
  return E_NOTIMPL;
}

STDMETHODIMP AsfWriter::ConfigureFilterUsingProfile(IWMProfile* profile) {
  if (!profile) return E_POINTER;
  AutoLock lock(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  std::vector<ProfileStream> streams;
  HRESULT hr = ReadProfileStreams(profile, &streams);
  if (FAILED(hr)) return hr;
  if (streams.empty()) return E_INVALIDARG;
  // The inputs change: connected ones are disconnected on both sides first.
  for (auto& pin : m_pins) {
    if (!pin->IsConnected()) continue;
    ComPtr<IPin> peer;
    pin->ConnectedTo(&peer);
    if (peer) peer->Disconnect();
    pin->Disconnect();
  }
  hr = BuildPins(streams);
  if (FAILED(hr)) return hr;
  m_streams = streams;
  m_profile = profile;
  m_configured = true;
  return S_OK;
}

STDMETHODIMP AsfWriter::GetCurrentProfile(IWMProfile** profile) {
  if (!profile) return E_POINTER;
  AutoLock lock(m_lock);
  *profile = m_profile.Get();
  if (!*profile) return E_NOTIMPL;  // the stand-in has no profile object for its default set-up
  (*profile)->AddRef();
  return S_OK;
}

STDMETHODIMP AsfWriter::SetIndexMode(BOOL indexFile) {
  AutoLock lock(m_lock);
  m_index = indexFile ? TRUE : FALSE;
  return S_OK;
}

STDMETHODIMP AsfWriter::GetIndexMode(BOOL* indexFile) {
  if (!indexFile) return E_POINTER;
  AutoLock lock(m_lock);
  *indexFile = m_index;
  return S_OK;
}

bool AsfWriter::AllInputsConnected() {
  for (auto& pin : m_pins)
    if (!pin->IsConnected()) return false;
  return true;
}

HRESULT AsfWriter::OnStopToPause() {
  // An unconnected input is refused at Run (see OnRun); pausing succeeds so that Wine's graph
  // manager, which leaves already-paused filters paused when one refuses Pause and can then
  // neither stop nor release the graph, stays consistent.
  if (!AllInputsConnected()) return S_OK;
  if (m_fileName.empty()) return E_INVALIDARG;
  m_completeSent = false;
  for (auto& pin : m_pins) pin->ResetStats();
  return OpenFiles();
}

HRESULT AsfWriter::OpenFiles() {
  CloseFiles();
  HANDLE file = CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  HANDLE record = CreateFileW(RecordPath(m_fileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record == INVALID_HANDLE_VALUE) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    CloseHandle(file);
    DeleteFileW(m_fileName.c_str());
    return hr;
  }
  m_file = file;
  m_record = record;
  // One stream per input, numbered as the profile numbers it (the first free number when the
  // profile's is out of range or taken).
  std::unique_ptr<zvasf::Muxer> muxer(new (std::nothrow) zvasf::Muxer());
  std::unique_ptr<zvasf::Sink> sink(new (std::nothrow) HandleSink(file));
  if (!muxer || !sink) return E_OUTOFMEMORY;
  bool used[128] = {};
  for (auto& pin : m_pins) {
    unsigned number = pin->Stream().number;
    if (number < 1 || number > 127 || used[number]) {
      number = 1;
      while (number < 127 && used[number]) ++number;
    }
    if (pin->AddFileStream(muxer.get(), number) >= 0) used[number] = true;
  }
  GUID id = GUID_NULL;
  CoCreateGuid(&id);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t created = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  AutoLock lock(m_fileLock);
  // A file of no stream (only inputs of other kinds) holds its header alone.
  muxer->Begin(sink.get(), reinterpret_cast<const uint8_t*>(&id), created, m_index != FALSE);
  m_sink = std::move(sink);
  m_muxer = std::move(muxer);
  return S_OK;
}

void AsfWriter::WriteSample(int stream, REFERENCE_TIME start, REFERENCE_TIME stop, const BYTE* data, LONG length) {
  AutoLock lock(m_fileLock);
  if (m_muxer) m_muxer->AddSample(stream, start, stop, data, length > 0 ? static_cast<size_t>(length) : 0);
}

void AsfWriter::CloseFiles() {
  {
    AutoLock lock(m_fileLock);
    if (m_muxer) m_muxer->Finish(nullptr);
    m_muxer.reset();
    m_sink.reset();
  }
  if (m_file != INVALID_HANDLE_VALUE) {
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
  }
  if (m_record != INVALID_HANDLE_VALUE) {
    WriteRecord();
    CloseHandle(m_record);
    m_record = INVALID_HANDLE_VALUE;
  }
}

HRESULT AsfWriter::OnRun() {
  // As the platform writer: it does not run unless every input is fed. Wine's graph manager
  // runs filters asynchronously and ignores what their Run returns, so the refusal is also sent
  // to the application's event queue.
  if (AllInputsConnected()) return S_OK;
  NotifyEvent(EC_ERRORABORT, VFW_E_NOT_CONNECTED, 0);
  return VFW_E_NOT_CONNECTED;
}

void AsfWriter::OnStopped() { CloseFiles(); }

void AsfWriter::WriteRecord() {
  std::string text = "ZELVORA-ASF-STANDIN 1\n";
  text += m_configured ? "profile configured\n" : "profile default\n";
  text += "streams " + std::to_string(m_streams.size()) + "\n";
  for (const ProfileStream& s : m_streams) {
    char line[160];
    snprintf(line, sizeof(line), "stream %u %s bitrate=%lu width=%ld height=%ld name=", static_cast<unsigned>(s.number),
             KindName(s.kind), static_cast<unsigned long>(s.bitrate), static_cast<long>(s.width),
             static_cast<long>(s.height));
    text += line + Quoted(s.name) + " connection=" + Quoted(s.connection) + "\n";
  }
  text += "inputs " + std::to_string(m_pins.size()) + "\n";
  for (size_t i = 0; i < m_pins.size(); ++i) text += m_pins[i]->RecordLine(static_cast<int>(i));
  text += "end\n";
  DWORD written = 0;
  WriteFile(m_record, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void AsfWriter::InputEnded() {
  AutoLock lock(m_lock);
  if (m_state != State_Running || m_completeSent) return;
  for (auto& pin : m_pins)
    if (pin->IsConnected() && !pin->AtEndOfStream()) return;
  m_completeSent = true;
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

}  // namespace zvd
