// The stand-in WM ASF Writer: inputs before and after configuration with a profile, refusal to
// run with an unconnected input, and the record it writes of what reached it.
#include "devtest.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <wmsdkidl.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "asfwriter_iface.h"

namespace {

using namespace devtest;

// A Windows Media profile as a test builds it (the platform's profile manager cannot here).
class FakeStream final : public IWMStreamConfig, public IWMMediaProps {
 public:
  FakeStream(const GUID& type, WORD number, const wchar_t* name, const wchar_t* connection, DWORD bitrate, LONG w, LONG h)
      : m_type(type), m_number(number), m_name(name), m_connection(connection), m_bitrate(bitrate), m_w(w), m_h(h) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(IWMStreamConfig))) *ppv = static_cast<IWMStreamConfig*>(this);
    else if (IsEqualIID(riid, __uuidof(IWMMediaProps))) *ppv = static_cast<IWMMediaProps*>(this);
    else return *ppv = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&m_ref);
    if (!n) delete this;
    return n;
  }
  STDMETHODIMP GetStreamType(GUID* type) override { return *type = m_type, S_OK; }
  STDMETHODIMP GetStreamNumber(WORD* number) override { return *number = m_number, S_OK; }
  STDMETHODIMP SetStreamNumber(WORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamName(WCHAR* name, WORD* chars) override { return Text(m_name, name, chars); }
  STDMETHODIMP SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE) override { return E_NOTIMPL; }
  STDMETHODIMP GetConnectionName(WCHAR* name, WORD* chars) override { return Text(m_connection, name, chars); }
  STDMETHODIMP SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE) override { return E_NOTIMPL; }
  STDMETHODIMP GetBitrate(DWORD* bitrate) override { return *bitrate = m_bitrate, S_OK; }
  STDMETHODIMP SetBitrate(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetBufferWindow(DWORD* window) override { return *window = 3000, S_OK; }
  STDMETHODIMP SetBufferWindow(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetType(GUID* type) override { return *type = m_type, S_OK; }
  STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* mt, DWORD* bytes) override {
    const DWORD need = sizeof(WM_MEDIA_TYPE) + sizeof(VIDEOINFOHEADER);
    if (!mt) return *bytes = need, S_OK;
    if (*bytes < need) return E_INVALIDARG;  // ASF_E_BUFFERTOOSMALL in the real runtime
    ZeroMemory(mt, need);
    mt->majortype = m_type;
    mt->formattype = FORMAT_VideoInfo;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->pbFormat = reinterpret_cast<BYTE*>(mt + 1);
    VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    info->bmiHeader.biWidth = m_w;
    info->bmiHeader.biHeight = m_h;
    return S_OK;
  }
  STDMETHODIMP SetMediaType(WM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  static HRESULT Text(const std::wstring& text, WCHAR* out, WORD* chars) {
    if (!chars) return E_POINTER;
    WORD need = static_cast<WORD>(text.size() + 1);
    if (!out) return *chars = need, S_OK;
    if (*chars < need) return E_INVALIDARG;
    memcpy(out, text.c_str(), need * sizeof(WCHAR));
    *chars = need;
    return S_OK;
  }
  volatile LONG m_ref = 1;
  GUID m_type;
  WORD m_number;
  std::wstring m_name, m_connection;
  DWORD m_bitrate;
  LONG m_w, m_h;
};

class FakeProfile final : public IWMProfile {
 public:
  void Add(FakeStream* stream) { m_streams.push_back(stream); }
  ~FakeProfile() {
    for (FakeStream* s : m_streams) s->Release();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(IWMProfile))) {
      *ppv = static_cast<IWMProfile*>(this);
      AddRef();
      return S_OK;
    }
    return *ppv = nullptr, E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&m_ref);
    if (!n) delete this;
    return n;
  }
  STDMETHODIMP GetVersion(WMT_VERSION* v) override { return *v = WMT_VER_9_0, S_OK; }
  STDMETHODIMP GetName(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetName(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDescription(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDescription(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamCount(DWORD* count) override { return *count = static_cast<DWORD>(m_streams.size()), S_OK; }
  STDMETHODIMP GetStream(DWORD index, IWMStreamConfig** config) override {
    if (index >= m_streams.size()) return E_INVALIDARG;
    *config = m_streams[index];
    (*config)->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetStreamByNumber(WORD, IWMStreamConfig**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveStream(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveStreamByNumber(WORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddStream(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP ReconfigStream(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP CreateNewStream(REFGUID, IWMStreamConfig**) override { return E_NOTIMPL; }
  STDMETHODIMP GetMutualExclusionCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMutualExclusion(DWORD, IWMMutualExclusion**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
  STDMETHODIMP AddMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
  STDMETHODIMP CreateNewMutualExclusion(IWMMutualExclusion**) override { return E_NOTIMPL; }
  LONG Refs() { return m_ref; }

 private:
  volatile LONG m_ref = 1;
  std::vector<FakeStream*> m_streams;
};

std::vector<std::wstring> InputPinNames(IBaseFilter* filter) {
  std::vector<std::wstring> names;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return names;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_INFO info;
    if (SUCCEEDED(pin->QueryPinInfo(&info))) {
      if (info.dir == PINDIR_INPUT) names.push_back(info.achName);
      if (info.pFilter) info.pFilter->Release();
    }
    pin.Reset();
  }
  return names;
}

ComPtr<IBaseFilter> CreateWriter() {
  ComPtr<IBaseFilter> writer;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(writer.GetAddressOf())));
  return writer;
}

std::wstring TempFile(const wchar_t* name) {
  WCHAR dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + name;
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".record.txt").c_str());
  return path;
}

// The record's lines, split into words and key=value pairs.
struct Record {
  std::vector<std::string> lines;
  std::string Line(const std::string& prefix) const {
    for (const std::string& l : lines)
      if (l.compare(0, prefix.size(), prefix) == 0) return l;
    return std::string();
  }
  static std::string Value(const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return "?";
    at += key.size() + 2;
    size_t end = line[at] == '"' ? line.find('"', at + 1) + 1 : line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
};

// The record lies beside the file the writer was given.
Record ReadRecord(const std::wstring& path) {
  Record record;
  HANDLE file = CreateFileW((path + L".record.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return record;
  char buffer[8192];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
  CloseHandle(file);
  std::istringstream text(std::string(buffer, read));
  std::string line;
  while (std::getline(text, line)) record.lines.push_back(line);
  return record;
}

// The ASF file's frame: the header's sizes and counts were rewritten at the end, the packets fill
// the data object, and the simple index follows it. Returns the number of data packets.
uint64_t CheckAsfFrame(const std::wstring& path) {
  static const GUID header = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
  static const GUID properties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
  static const GUID data = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
  static const GUID index = {0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
  // (MinGW's std::ifstream of a wide name reads in text mode: it stops at the first 0x1A.)
  std::vector<char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size = {};
  DWORD read = 0;
  if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 30)) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    if (!bytes.empty() && !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) bytes.clear();
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  auto at = [&](uint64_t offset, const GUID& guid) {
    return offset + 16 <= bytes.size() && memcmp(&bytes[offset], &guid, 16) == 0;
  };
  auto u64 = [&](uint64_t offset) {
    uint64_t v = 0;
    if (offset + 8 <= bytes.size()) memcpy(&v, &bytes[offset], 8);
    return v;
  };
  EXPECT_TRUE(at(0, header));
  EXPECT_TRUE(at(30, properties));
  EXPECT_EQ(bytes.size(), u64(30 + 40)) << "file size";
  const uint64_t packets = u64(30 + 56);
  EXPECT_GT(u64(30 + 64), u64(30 + 80) * 10000) << "play duration past the preroll";
  const uint64_t dataAt = u64(16);
  EXPECT_TRUE(at(dataAt, data));
  EXPECT_EQ(packets, u64(dataAt + 40));
  EXPECT_EQ(50 + packets * 8192, u64(dataAt + 16)) << "data object size";
  EXPECT_TRUE(at(dataAt + u64(dataAt + 16), index));
  return packets;
}

TEST(AsfWriterStandIn, InputsFollowTheProfileAndTheFileSinkChecksItsArguments) {
  ComPtr<IBaseFilter> writer = CreateWriter();
  ASSERT_TRUE(writer);
  std::vector<std::wstring> defaults = {L"Video Input 01", L"Audio Input 01"};
  EXPECT_EQ(defaults, InputPinNames(writer.Get()));

  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, writer.As(&sink));
  LPOLESTR current = nullptr;
  EXPECT_EQ(E_FAIL, sink->GetCurFile(&current, nullptr));
  EXPECT_EQ(E_POINTER, sink->SetFileName(nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, sink->SetFileName(L"", nullptr));
  std::wstring tooLong(MAX_PATH + 5, L'a');
  EXPECT_FALSE(SUCCEEDED(sink->SetFileName(tooLong.c_str(), nullptr)));
  ASSERT_EQ(S_OK, sink->SetFileName(L"C:\\record.wmv", nullptr));
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, sink->GetCurFile(&current, &mt));
  EXPECT_STREQ(L"C:\\record.wmv", current);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_Asf, mt.subtype));
  CoTaskMemFree(current);

  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(S_OK, writer->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(config.GetAddressOf())));
  EXPECT_EQ(E_POINTER, config->ConfigureFilterUsingProfile(nullptr));
  FakeProfile* profile = new FakeProfile();
  profile->Add(new FakeStream(WMMEDIATYPE_Video, 2, L"Video Stream", L"Video", 500000, 320, 240));
  ASSERT_EQ(S_OK, config->ConfigureFilterUsingProfile(profile));
  EXPECT_EQ(std::vector<std::wstring>{L"Video Input 01"}, InputPinNames(writer.Get()));
  ComPtr<IWMProfile> back;
  ASSERT_EQ(S_OK, config->GetCurrentProfile(&back));
  EXPECT_EQ(static_cast<IWMProfile*>(profile), back.Get());
  back.Reset();
  // The video input takes uncompressed pictures of any size, nothing else, and offers no type.
  ComPtr<IPin> input;
  ASSERT_EQ(S_OK, writer->FindPin(L"Video Input 01", &input));
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IAMStreamConfig> cameraConfig = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  for (int i : {0, 4, 11}) {
    AM_MEDIA_TYPE* mt = CapabilityType(cameraConfig.Get(), i);
    EXPECT_EQ(S_OK, input->QueryAccept(mt)) << i;
    FreeMediaType(mt);
  }
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ComPtr<IAMStreamConfig> audioConfig = StreamConfig(microphone.Get(), PIN_CATEGORY_CAPTURE);
  AM_MEDIA_TYPE* pcm = nullptr;
  AUDIO_STREAM_CONFIG_CAPS audioCaps;
  ASSERT_EQ(S_OK, audioConfig->GetStreamCaps(0, &pcm, reinterpret_cast<BYTE*>(&audioCaps)));
  EXPECT_EQ(S_FALSE, input->QueryAccept(pcm));
  FreeMediaType(pcm);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, input->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* offered = nullptr;
  EXPECT_EQ(S_FALSE, types->Next(1, &offered, nullptr));
  // Old pins stay valid for holders; enumerators made before the change say so.
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, writer->EnumPins(&pins));
  FakeProfile* second = new FakeProfile();
  second->Add(new FakeStream(WMMEDIATYPE_Audio, 1, L"Audio Stream", L"Audio", 48000, 0, 0));
  second->Add(new FakeStream(WMMEDIATYPE_Video, 2, L"Video Stream", L"Video", 500000, 320, 240));
  ASSERT_EQ(S_OK, config->ConfigureFilterUsingProfile(second));
  ComPtr<IPin> next;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(1, &next, nullptr));
  PIN_DIRECTION direction;
  EXPECT_EQ(S_OK, input->QueryDirection(&direction));
  EXPECT_EQ(2u, InputPinNames(writer.Get()).size());
  EXPECT_EQ(1, profile->Refs()) << "the first profile was given back";
  profile->Release();
  second->Release();
}

TEST(AsfWriterStandIn, RefusesToRunWithAnUnconnectedInput) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IBaseFilter> writer = CreateWriter();
  std::wstring path = TempFile(L"zvd_unconnected.wmv");
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, writer.As(&sink));
  ASSERT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.graph->AddFilter(writer.Get(), L"WM ASF Writer"));
  ASSERT_EQ(S_OK, graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr, writer.Get()));
  // Wine's graph manager runs the filters after Run returned and drops their failures, so the
  // writer also tells the application through its event queue.
  graph.Run();
  LONG_PTR code = 0;
  ASSERT_TRUE(graph.WaitEvent(EC_ERRORABORT, 3000, &code));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, static_cast<HRESULT>(code));
  FILTER_STATE writerState = State_Running;
  writer->GetState(0, &writerState);
  EXPECT_NE(State_Running, writerState);
  // The graph stops and empties as usual afterwards (a refusal in Pause instead would leave
  // Wine's graph half paused: it can then be neither stopped nor released).
  EXPECT_TRUE(SUCCEEDED(graph.control->Stop()));
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, camera->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  ZvdPinStats stats;
  ASSERT_EQ(S_OK, Control(camera.Get())->GetPinStats(PIN_CATEGORY_CAPTURE, &stats));
  EXPECT_EQ(0u, stats.streaming);
  EXPECT_EQ(S_OK, graph.graph->RemoveFilter(camera.Get()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "no file for a refused run";
}

TEST(AsfWriterStandIn, RecordsStreamsAndSamplesOfCameraAndMicrophone) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ComPtr<IAMStreamConfig> videoConfig = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  AM_MEDIA_TYPE* mt = CapabilityType(videoConfig.Get(), 5);  // I420 640x480
  ASSERT_EQ(S_OK, videoConfig->SetFormat(mt));
  FreeMediaType(mt);
  ComPtr<IBaseFilter> writer = CreateWriter();
  std::wstring path = TempFile(L"zvd_record.wmv");
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, writer.As(&sink));
  ASSERT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.graph->AddFilter(microphone.Get(), L"Microphone"));
  ASSERT_EQ(S_OK, graph.graph->AddFilter(writer.Get(), L"WM ASF Writer"));
  ASSERT_EQ(S_OK, graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr, writer.Get()));
  ASSERT_EQ(S_OK, graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, microphone.Get(), nullptr, writer.Get()));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ZvdPinStats stats;
  ASSERT_TRUE(WaitUntil([&] {
    Control(camera.Get())->GetPinStats(PIN_CATEGORY_CAPTURE, &stats);
    return stats.samplesDelivered >= 6;
  }, 5000));
  graph.Stop();
  Control(camera.Get())->GetPinStats(PIN_CATEGORY_CAPTURE, &stats);

  Record record = ReadRecord(path);
  ASSERT_GE(record.lines.size(), 7u);
  EXPECT_EQ("ZELVORA-ASF-STANDIN 1", record.lines[0]);
  EXPECT_EQ("profile default", record.lines[1]);
  EXPECT_EQ("streams 2", record.lines[2]);
  EXPECT_EQ("stream 2 video bitrate=500000 width=320 height=240 name=\"Video Stream\" connection=\"Video\"",
            record.lines[3]);
  EXPECT_EQ("stream 1 audio bitrate=48000 width=0 height=0 name=\"Audio Stream\" connection=\"Audio\"", record.lines[4]);
  EXPECT_EQ("inputs 2", record.lines[5]);
  std::string video = record.Line("input 0 ");
  EXPECT_EQ("\"Video Input 01\"", Record::Value(video, "pin"));
  EXPECT_EQ("I420", Record::Value(video, "subtype"));
  EXPECT_EQ("640", Record::Value(video, "width"));
  EXPECT_EQ(std::to_string(stats.samplesDelivered), Record::Value(video, "samples"));
  EXPECT_EQ("0", Record::Value(video, "firstframe"));
  EXPECT_EQ(std::to_string(stats.samplesDelivered - 1), Record::Value(video, "lastframe"));
  EXPECT_EQ("1", Record::Value(video, "inorder"));
  EXPECT_EQ(std::to_string(stats.lastStart), Record::Value(video, "last"));
  EXPECT_EQ(std::to_string(640ULL * 480 * 3 / 2 * stats.samplesDelivered), Record::Value(video, "bytes"));
  std::string audio = record.Line("input 1 ");
  EXPECT_EQ("PCM", Record::Value(audio, "subtype"));
  EXPECT_NE("0", Record::Value(audio, "samples"));
  EXPECT_EQ("0", Record::Value(audio, "first"));
  EXPECT_EQ("end", record.lines.back());
  // The pictures, fragmented into packets of 8192 bytes, and the audio buffers.
  EXPECT_GE(CheckAsfFrame(path), 640ULL * 480 * 3 / 2 * stats.samplesDelivered / 8192);
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".record.txt").c_str());
}

// The filter on the other side of a connected pin.
ComPtr<IBaseFilter> PeerFilter(IPin* pin, CLSID* clsid) {
  ComPtr<IPin> peer;
  PIN_INFO info = {};
  if (!pin || FAILED(pin->ConnectedTo(&peer)) || FAILED(peer->QueryPinInfo(&info))) return nullptr;
  ComPtr<IBaseFilter> filter;
  *filter.GetAddressOf() = info.pFilter;  // takes the reference (MinGW's Attach adds one)
  *clsid = GUID_NULL;
  filter->GetClassID(clsid);
  return filter;
}

TEST(AsfWriterStandIn, RecordsAnMjpgCameraThroughTheDecompressorThatIntelligentConnectInserts) {
  // As a host records an MJPG load that it previews: the preview takes MJPG through a Smart Tee,
  // then the capture stream is rendered to the writer, which takes no MJPG.
  ScopedCamera webcam(L"ZelvoraDev85 Webcam", L"Zelvora Recording Webcam", L"MJPG 320x240@30", L"nodht first:500");
  ASSERT_EQ(S_OK, webcam.result);
  ComPtr<IBaseFilter> camera = BindCamera(L"Zelvora Recording Webcam");
  ComPtr<IBaseFilter> writer = CreateWriter();
  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(S_OK, writer->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(config.GetAddressOf())));
  FakeProfile* profile = new FakeProfile();
  profile->Add(new FakeStream(WMMEDIATYPE_Video, 1, L"Video Stream", L"Video", 500000, 320, 240));
  ASSERT_EQ(S_OK, config->ConfigureFilterUsingProfile(profile));
  profile->Release();
  std::wstring path = TempFile(L"zvd_mjpg.wmv");
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, writer.As(&sink));
  ASSERT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  SampleCollector preview;
  ASSERT_TRUE(SUCCEEDED(graph.AddGrabberBranch(PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, MEDIASUBTYPE_MJPG, &preview)));
  ASSERT_EQ(S_OK, graph.graph->AddFilter(writer.Get(), L"WM ASF Writer"));
  ASSERT_EQ(S_OK, graph.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr, writer.Get()));
  ComPtr<IPin> input;
  ASSERT_EQ(S_OK, writer->FindPin(L"Video Input 01", &input));
  CLSID clsid;
  ComPtr<IBaseFilter> decompressor = PeerFilter(input.Get(), &clsid);
  ASSERT_TRUE(decompressor);
  EXPECT_TRUE(IsEqualGUID(CLSID_MjpegDec, clsid));
  ComPtr<IPin> decompressorIn;
  ASSERT_EQ(S_OK, decompressor->FindPin(L"XForm In", &decompressorIn));
  ASSERT_TRUE(PeerFilter(decompressorIn.Get(), &clsid));
  EXPECT_TRUE(IsEqualGUID(CLSID_SmartTee, clsid));

  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_TRUE(WaitUntil([&] { return preview.Count() >= 6; }, 5000));
  graph.Stop();
  Record record = ReadRecord(path);
  std::string video = record.Line("input 0 ");
  EXPECT_EQ("1", Record::Value(video, "connected")) << video;
  EXPECT_EQ("RGB24", Record::Value(video, "subtype"));
  EXPECT_EQ("320", Record::Value(video, "width"));
  EXPECT_EQ("240", Record::Value(video, "height"));
  const long samples = atol(Record::Value(video, "samples").c_str());
  EXPECT_GE(samples, 3);
  EXPECT_EQ(std::to_string(320LL * 240 * 3 * samples), Record::Value(video, "bytes"));
  EXPECT_EQ("500", Record::Value(video, "firstframe"));
  EXPECT_EQ(std::to_string(500 + samples - 1), Record::Value(video, "lastframe")) << "every frame decoded";
  EXPECT_EQ("1", Record::Value(video, "inorder"));
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".record.txt").c_str());
}

}  // namespace
