// The synchronous frame reader: choosing the video stream from a file's profile (on a stand-in
// profile), the picture size and the reader's answers before it is opened, extraction through a
// stand-in runtime and reader, and the system runtime that it uses by default.
#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <uuids.h>
#include <dvdmedia.h>
#include <nserror.h>

#include <wmsbuffer.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Zelvora.h"
#include "playback/framereader.h"
#include "support/fake_com.h"
#include "wm_fakes.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

// Reaches the private state of SyncFrameReader.
class SyncFrameReaderTestAccess {
 public:
  explicit SyncFrameReaderTestAccess(SyncFrameReader& reader) : r(reader) {}
  auto& m_pReaderProfile() { return r.m_pReaderProfile; }
  auto& m_wVideoStream() { return r.m_wVideoStream; }
  auto& m_VideoInfo() { return r.m_VideoInfo; }
  auto& m_bOpened() { return r.m_bOpened; }
  HRESULT FindStreams() { return r.FindStreams(); }
  SyncFrameReader& r;
};

namespace {

using Access = SyncFrameReaderTestAccess;

struct ReaderDestroyer {
  void operator()(SyncFrameReader* reader) const { reader->Destroy(); }
};
using ReaderPtr = std::unique_ptr<SyncFrameReader, ReaderDestroyer>;

// One stream of a stand-in profile.
struct StreamDesc {
  GUID type;
  WORD number;
  GUID formatType = FORMAT_VideoInfo;
  ULONG formatBytes = sizeof(VIDEOINFOHEADER);
  LONG width = 0;
  LONG height = 0;
  bool reportNoSize = false;  // GetMediaType announces 0 bytes
};

StreamDesc Video(WORD number, LONG width, LONG height) { return {WMMEDIATYPE_Video, number, FORMAT_VideoInfo,
                                                                  sizeof(VIDEOINFOHEADER), width, height}; }
StreamDesc Audio(WORD number) { return {WMMEDIATYPE_Audio, number, FORMAT_WaveFormatEx, sizeof(WAVEFORMATEX)}; }

// A stream configuration with its media properties: the media type record is laid out as the
// runtime does it, the format block right behind the record in the caller's buffer.
class FakeStream final : public testsupport::FakeCom<IWMStreamConfig, IWMMediaProps> {
 public:
  explicit FakeStream(const StreamDesc& desc, int* alive) : m_desc(desc), m_alive(alive) { ++*m_alive; }
  // IWMStreamConfig
  STDMETHODIMP GetStreamType(GUID* type) override {
    *type = m_desc.type;
    return S_OK;
  }
  STDMETHODIMP GetStreamNumber(WORD* number) override {
    *number = m_desc.number;
    return S_OK;
  }
  STDMETHODIMP SetStreamNumber(WORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamName(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE) override { return E_NOTIMPL; }
  STDMETHODIMP GetConnectionName(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE) override { return E_NOTIMPL; }
  STDMETHODIMP GetBitrate(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetBitrate(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetBufferWindow(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetBufferWindow(DWORD) override { return E_NOTIMPL; }
  // IWMMediaProps
  STDMETHODIMP GetType(GUID* type) override {
    *type = m_desc.type;
    return S_OK;
  }
  STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override {
    const DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + m_desc.formatBytes);
    if (!type) {
      *size = m_desc.reportNoSize ? 0 : needed;
      return S_OK;
    }
    if (*size < needed) return E_UNEXPECTED;
    *size = needed;
    ZeroMemory(type, needed);
    type->majortype = m_desc.type;
    type->formattype = m_desc.formatType;
    type->cbFormat = m_desc.formatBytes;
    type->pbFormat = m_desc.formatBytes ? reinterpret_cast<BYTE*>(type + 1) : nullptr;
    // The header as far as the block reaches; a short block ends early.
    VIDEOINFOHEADER header = {};
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = m_desc.width;
    header.bmiHeader.biHeight = m_desc.height;
    header.bmiHeader.biBitCount = 24;
    if (IsEqualGUID(m_desc.type, WMMEDIATYPE_Video))
      memcpy(type->pbFormat, &header, m_desc.formatBytes < sizeof(header) ? m_desc.formatBytes : sizeof(header));
    return S_OK;
  }
  STDMETHODIMP SetMediaType(WM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  ~FakeStream() override { --*m_alive; }
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, __uuidof(IWMMediaProps))) return static_cast<IWMMediaProps*>(this);
    return testsupport::Primary(riid, __uuidof(IWMStreamConfig), static_cast<IWMStreamConfig*>(this));
  }
  StreamDesc m_desc;
  int* m_alive;
};

// A file profile made of the given streams; GetStream fails at `failAt`.
class FakeProfile final : public testsupport::FakeCom<IWMProfile> {
 public:
  explicit FakeProfile(std::vector<StreamDesc> descs) : streams(std::move(descs)) {}
  STDMETHODIMP GetVersion(WMT_VERSION*) override { return E_NOTIMPL; }
  STDMETHODIMP GetName(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetName(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDescription(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDescription(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamCount(DWORD* count) override {
    if (FAILED(countResult)) return countResult;
    *count = static_cast<DWORD>(streams.size());
    return S_OK;
  }
  STDMETHODIMP GetStream(DWORD index, IWMStreamConfig** config) override {
    *config = nullptr;
    if (static_cast<int>(index) == failAt) return NS_E_INVALID_REQUEST;
    if (index >= streams.size()) return E_INVALIDARG;
    *config = new FakeStream(streams[index], &alive);
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

  std::vector<StreamDesc> streams;
  HRESULT countResult = S_OK;
  int failAt = -1;
  int alive = 0;  // stream objects not yet released

 private:
  void* Find(REFIID riid) override { return testsupport::Primary(riid, __uuidof(IWMProfile), static_cast<IWMProfile*>(this)); }
};

// A reader that examines the given profile.
struct ProfileWalk {
  explicit ProfileWalk(std::vector<StreamDesc> streams)
      : reader(SyncFrameReader::Create()), a(*reader), profile(new FakeProfile(std::move(streams))) {
    a.m_pReaderProfile().Attach(profile);
    profile->AddRef();
  }
  ~ProfileWalk() { profile->Release(); }
  bool NoVideo() {
    static const VIDEOINFOHEADER zero = {};
    return a.m_wVideoStream() == 0 && memcmp(&a.m_VideoInfo(), &zero, sizeof(zero)) == 0;
  }
  ReaderPtr reader;
  Access a;
  FakeProfile* profile;
};

TEST(SyncFrameReaderStreams, VideoStreamIsFoundAmongAudioStreams) {
  ProfileWalk w({Audio(1), Video(2, 640, 480), Audio(3)});
  EXPECT_EQ(S_OK, w.a.FindStreams());
  EXPECT_EQ(2, w.a.m_wVideoStream());
  EXPECT_EQ(640, w.a.m_VideoInfo().bmiHeader.biWidth);
  EXPECT_EQ(480, w.a.m_VideoInfo().bmiHeader.biHeight);
  EXPECT_EQ(0, w.profile->alive) << "every stream configuration was released";
}

TEST(SyncFrameReaderStreams, LastVideoStreamInProfileOrderIsKept) {
  ProfileWalk w({Video(1, 320, 240), Video(5, 176, 144)});
  EXPECT_EQ(S_OK, w.a.FindStreams());
  EXPECT_EQ(5, w.a.m_wVideoStream());
  EXPECT_EQ(176, w.a.m_VideoInfo().bmiHeader.biWidth);
}

TEST(SyncFrameReaderStreams, StreamsWithoutAWholeVideoInfoHeaderAreNotUsed) {
  StreamDesc shortBlock = Video(1, 320, 240);
  shortBlock.formatBytes = sizeof(VIDEOINFOHEADER) - 8;  // ends inside the bitmap header
  StreamDesc noBlock = Video(2, 320, 240);
  noBlock.formatBytes = 0;
  StreamDesc otherKind = Video(3, 320, 240);
  otherKind.formatType = FORMAT_VideoInfo2;
  otherKind.formatBytes = sizeof(VIDEOINFOHEADER2);
  for (const StreamDesc& desc : {shortBlock, noBlock, otherKind}) {
    SCOPED_TRACE(desc.number);
    ProfileWalk w({desc});
    EXPECT_EQ(S_OK, w.a.FindStreams());
    EXPECT_TRUE(w.NoVideo());
  }
  // A usable stream next to them is still found.
  ProfileWalk w({Video(4, 160, 120), shortBlock});
  EXPECT_EQ(S_OK, w.a.FindStreams());
  EXPECT_EQ(4, w.a.m_wVideoStream());
  EXPECT_EQ(160, w.a.m_VideoInfo().bmiHeader.biWidth);
}

TEST(SyncFrameReaderStreams, FailuresEndTheWalk) {
  {
    ReaderPtr reader(SyncFrameReader::Create());
    Access a(*reader);
    EXPECT_EQ(E_INVALIDARG, a.FindStreams()) << "no profile";
  }
  {
    ProfileWalk w({Video(1, 320, 240)});
    w.profile->countResult = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, w.a.FindStreams());
    EXPECT_TRUE(w.NoVideo());
  }
  {
    ProfileWalk w({Video(1, 320, 240), Video(2, 640, 480), Video(3, 800, 600)});
    w.profile->failAt = 1;
    EXPECT_EQ(NS_E_INVALID_REQUEST, w.a.FindStreams());
    EXPECT_EQ(1, w.a.m_wVideoStream()) << "the walk stopped at the failing stream";
    EXPECT_EQ(0, w.profile->alive);
  }
  {
    StreamDesc sizeless = Video(1, 320, 240);
    sizeless.reportNoSize = true;
    ProfileWalk w({sizeless});
    EXPECT_EQ(E_NOTIMPL, w.a.FindStreams());
    EXPECT_TRUE(w.NoVideo());
  }
}

TEST(SyncFrameReaderSize, ReaderThatIsNotOpenAnswersNothing) {
  ReaderPtr reader(SyncFrameReader::Create());
  Access a(*reader);
  a.m_VideoInfo().bmiHeader.biWidth = 320;
  a.m_VideoInfo().bmiHeader.biHeight = 240;
  LONG width = -5;
  LONG height = -5;
  EXPECT_FALSE(reader->GetFrameSize(&width, &height));
  EXPECT_EQ(-5, width);
  EXPECT_EQ(-5, height);
  BYTE buffer[16];
  EXPECT_EQ(-1, reader->ReadFrame(nullptr));
  EXPECT_EQ(-1, reader->ReadFrame(buffer));
  EXPECT_FALSE(reader->Open(nullptr));
}

TEST(SyncFrameReaderSize, PictureSizeInBytesFromTheFormat) {
  ReaderPtr reader(SyncFrameReader::Create());
  Access a(*reader);
  a.m_bOpened() = 1;
  BITMAPINFOHEADER& header = a.m_VideoInfo().bmiHeader;
  header.biWidth = 352;
  header.biHeight = 288;
  EXPECT_EQ(352 * 288 * 3, reader->ReadFrame(nullptr));
  LONG width = 0;
  EXPECT_TRUE(reader->GetFrameSize(&width, nullptr));
  EXPECT_EQ(352, width);
  EXPECT_TRUE(reader->GetFrameSize(nullptr, nullptr));

  header.biHeight = -288;  // top-down: refused by the caller's size check
  EXPECT_EQ(-352 * 288 * 3, reader->ReadFrame(nullptr));

  // A size beyond a 32-bit count is refused instead of wrapping around to a small buffer.
  header.biWidth = 40000;
  header.biHeight = 40000;
  EXPECT_EQ(-1, reader->ReadFrame(nullptr));
  header.biWidth = 65536;
  header.biHeight = 65536;  // wraps to 0 in 32 bits
  EXPECT_EQ(-1, reader->ReadFrame(nullptr));
}

// A decoded sample.
class FakeBuffer final : public testsupport::FakeCom<INSSBuffer> {
 public:
  explicit FakeBuffer(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
  STDMETHODIMP GetLength(DWORD*) override { return E_NOTIMPL; }  // as Wine's
  STDMETHODIMP SetLength(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetMaxLength(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetBuffer(BYTE**) override { return E_NOTIMPL; }
  STDMETHODIMP GetBufferAndLength(BYTE** data, DWORD* length) override {
    *data = m_bytes.data();
    *length = static_cast<DWORD>(m_bytes.size());
    return S_OK;
  }

 private:
  void* Find(REFIID riid) override { return testsupport::Primary(riid, __uuidof(INSSBuffer), static_cast<INSSBuffer*>(this)); }
  std::vector<BYTE> m_bytes;
};

// A synchronous reader of a file with the given profile whose video stream yields `pictures`.
// It keeps what it was asked to do.
class FakeSyncReader final : public testsupport::FakeCom<IWMSyncReader> {
 public:
  FakeSyncReader(std::vector<StreamDesc> streams, std::vector<std::vector<BYTE>> pictures)
      : m_profile(new FakeProfile(std::move(streams))), m_pictures(std::move(pictures)) {}
  STDMETHODIMP Open(const WCHAR* name) override { return fileName = name, S_OK; }
  STDMETHODIMP Close() override { return E_NOTIMPL; }
  STDMETHODIMP SetRange(QWORD, LONGLONG) override { return S_OK; }
  STDMETHODIMP SetRangeByFrame(WORD, QWORD, LONGLONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetNextSample(WORD stream, INSSBuffer** sample, QWORD*, QWORD*, DWORD*, DWORD*, WORD*) override {
    readStreams.push_back(stream);
    if (m_next >= m_pictures.size()) return NS_E_NO_MORE_SAMPLES;
    *sample = new FakeBuffer(m_pictures[m_next++]);
    return S_OK;
  }
  STDMETHODIMP SetStreamsSelected(WORD count, WORD* numbers, WMT_STREAM_SELECTION* selections) override {
    ++selectCalls;
    for (WORD i = 0; i < count; ++i) selected.emplace_back(numbers[i], selections[i]);
    return S_OK;
  }
  STDMETHODIMP GetStreamSelected(WORD, WMT_STREAM_SELECTION*) override { return E_NOTIMPL; }
  STDMETHODIMP SetReadStreamSamples(WORD stream, BOOL compressed) override {
    readStreamSamples.emplace_back(stream, compressed);
    return S_OK;
  }
  STDMETHODIMP GetReadStreamSamples(WORD, BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputCount(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputProps(DWORD, IWMOutputMediaProps**) override { return E_NOTIMPL; }
  STDMETHODIMP SetOutputProps(DWORD, IWMOutputMediaProps*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputFormatCount(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputFormat(DWORD, DWORD, IWMOutputMediaProps**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputNumberForStream(WORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamNumberForOutput(DWORD, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMaxOutputSampleSize(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMaxStreamSampleSize(WORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP OpenStream(IStream*) override { return E_NOTIMPL; }

  std::wstring fileName;
  int selectCalls = 0;
  std::vector<std::pair<WORD, WMT_STREAM_SELECTION>> selected;
  std::vector<std::pair<WORD, BOOL>> readStreamSamples;
  std::vector<WORD> readStreams;

 private:
  // The reader answers for its file's profile, as the runtime's does.
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, __uuidof(IWMProfile))) return static_cast<IWMProfile*>(m_profile.Get());
    return testsupport::Primary(riid, __uuidof(IWMSyncReader), static_cast<IWMSyncReader*>(this));
  }
  ComPtr<FakeProfile> m_profile;
  std::vector<std::vector<BYTE>> m_pictures;
  size_t m_next = 0;
};

// A runtime that hands out one fake reader of a file with audio, 4x2 video and audio streams,
// whose pictures are filled with 1, 2, 3.
struct FakeFile {
  FakeFile() {
    std::vector<std::vector<BYTE>> pictures;
    for (BYTE fill = 1; fill <= 3; ++fill) pictures.emplace_back(4 * 2 * 3, fill);
    *reader.GetAddressOf() = new FakeSyncReader({Audio(1), Video(2, 4, 2), Audio(3)}, std::move(pictures));
    runtime.syncReader = reader;
  }
  wmfake::Runtime runtime;
  ComPtr<FakeSyncReader> reader;
};

unsigned long* Record(FrameImage& image) { return reinterpret_cast<unsigned long*>(&image); }

TEST(SyncFrameReaderRuntime, ExtractionReadsThroughTheReaderOfTheRuntimeItIsGiven) {
  FakeFile file;
  FrameImage image = {};
  ASSERT_EQ(S_OK, LoadFrameFromFile(L"C:\\clips\\a.wmv", 2, Record(image), file.runtime));
  EXPECT_EQ(1, file.runtime.CountCalls("CreateSyncReader"));
  EXPECT_EQ(L"C:\\clips\\a.wmv", file.reader->fileName);
  EXPECT_EQ(4, image.nWidth);
  EXPECT_EQ(2, image.nHeight);
  ASSERT_NE(nullptr, image.pBits);
  EXPECT_EQ(std::vector<BYTE>(24, 2), std::vector<BYTE>(image.pBits, image.pBits + 24));
  CoTaskMemFree(image.pBits);
  EXPECT_EQ(std::vector<WORD>({2, 2}), file.reader->readStreams);
  EXPECT_EQ(2, file.reader->Refs()) << "the extraction let go of its reader (the test holds two)";

  // A runtime without a reader: refused, the record untouched.
  wmfake::Runtime none;
  image = {7, 7, nullptr};
  EXPECT_EQ(E_INVALIDARG, LoadFrameFromFile(L"a.wmv", 1, Record(image), none));
  EXPECT_EQ(1, none.CountCalls("CreateSyncReader"));
  EXPECT_EQ(7, image.nWidth);
}

TEST(SyncFrameReaderOpen, OnlyTheVideoStreamIsSelectedAndDecoded) {
  FakeFile file;
  ReaderPtr reader(SyncFrameReader::Create(file.runtime));
  ASSERT_TRUE(reader->Open(L"a.wmv"));
  EXPECT_EQ(1, file.reader->selectCalls);
  const std::vector<std::pair<WORD, WMT_STREAM_SELECTION>> selection = {{1, WMT_OFF}, {2, WMT_ON}, {3, WMT_OFF}};
  EXPECT_EQ(selection, file.reader->selected);
  const std::vector<std::pair<WORD, BOOL>> decoded = {{2, FALSE}};
  EXPECT_EQ(decoded, file.reader->readStreamSamples);
}

TEST(SystemWmRuntime, RuntimeOfTheSystemFolderStaysLoadedAfterAnExtraction) {
  FrameImage image = {};
  EXPECT_EQ(E_INVALIDARG, LoadFrameFromFile(L"Z:\\no such folder\\missing.wmv", 1, Record(image)));
  const HMODULE module = GetModuleHandleW(L"wmvcore.dll");
  ASSERT_NE(nullptr, module);
  WCHAR loaded[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameW(module, loaded, MAX_PATH));
  WCHAR expected[MAX_PATH + 16] = {};
  ASSERT_NE(0u, GetSystemDirectoryW(expected, MAX_PATH));
  lstrcatW(expected, L"\\wmvcore.dll");
  EXPECT_EQ(0, lstrcmpiW(expected, loaded)) << "loaded from " << loaded;

  ComPtr<IWMSyncReader> syncReader;
  EXPECT_EQ(S_OK, SystemWmRuntime().CreateSyncReader(&syncReader));
  EXPECT_NE(nullptr, syncReader.Get());
}

}  // namespace
}  // namespace zelvora
