// The fixed recording profile, built with a Windows Media runtime of the test's making: streams,
// formats, codec search rules, records and references.
#include <windows.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "wm_fakes.h"

namespace zelvora {
namespace {

using Access = CaptureGraphTestAccess;

// A capture graph object that uses the fake runtime, checked for leaks when it goes.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    records = LiveWmMediaTypes();
    graph.reset(new CaptureGraph);
    Access(*graph).m_pWmRuntime() = &runtime;
  }
  void TearDown() override {
    graph.reset();
    EXPECT_EQ(0, runtime.alive) << "runtime objects still referenced";
    EXPECT_EQ(records, LiveWmMediaTypes()) << "media type records not given back";
  }
  HRESULT Build(BOOL audio, int width = 320, int height = 240) {
    return Access(*graph).BuildRecordingProfile(audio, width, height);
  }
  // Builds once with `field` of the runtime set to `value`, then puts the field back.
  template <typename T>
  HRESULT BuildWith(T& field, T value, BOOL audio) {
    const T kept = field;
    field = value;
    const HRESULT hr = Build(audio);
    field = kept;
    return hr;
  }
  const VIDEOINFOHEADER& Header(const wmfake::StreamState& stream) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(stream.mediaType.block.data());
  }

  wmfake::Runtime runtime;
  std::unique_ptr<CaptureGraph> graph;
  long records = 0;
};

TEST_F(ProfileTest, WithoutAudioOneVideoStreamNumberedTwoAndNoPriorities) {
  wmfake::AddStandardCodecs(runtime);
  ASSERT_EQ(S_OK, Build(FALSE));

  const wmfake::ProfileState& profile = runtime.LastProfile();
  EXPECT_EQ(WMT_VER_9_0, profile.version);
  ASSERT_EQ(1u, profile.streams.size());
  const wmfake::StreamState& video = profile.streams[0];
  EXPECT_TRUE(IsEqualGUID(kWmMediaTypeVideo, video.streamType));
  EXPECT_EQ(2, video.number);
  EXPECT_EQ(L"Video Stream", video.name);
  EXPECT_EQ(L"Video", video.connection);
  EXPECT_EQ(500000u, video.bitrate);
  EXPECT_EQ(0xFFFFFFFFu, video.bufferWindow);
  EXPECT_EQ(100u, video.quality);
  EXPECT_EQ(60000000, video.keyFrameSpacing);
  EXPECT_TRUE(video.complexitySet);
  EXPECT_EQ(WMT_TYPE_DWORD, video.complexityType);
  EXPECT_EQ(1u, video.complexity);
  EXPECT_EQ(4u, video.complexitySize);
  EXPECT_EQ(4u, video.complexityReadSize);

  EXPECT_FALSE(profile.prioritized);
  EXPECT_EQ(0, runtime.CountCalls("CreateNewStream audio"));
  EXPECT_EQ(0, runtime.CountCalls("CreateNewStreamPrioritization"));
  for (const char* untouched : {"SetName", "SetDescription", "AddMutualExclusion", "AddBandwidthSharing"})
    EXPECT_EQ(0, runtime.CountCalls(untouched)) << untouched;
  EXPECT_EQ(1, runtime.CountCalls("manager released"));
  EXPECT_TRUE(profile.alive);  // held in the graph object until the next recording
}

TEST_F(ProfileTest, VideoFormatIsTheFirstWmv3FormatRewrittenTo320x240) {
  wmfake::AddStandardCodecs(runtime);  // the WMV3 codec's first format is 640 x 480
  ASSERT_EQ(S_OK, Build(FALSE));
  const wmfake::StreamState& video = runtime.LastProfile().streams[0];
  ASSERT_TRUE(video.hasMediaType);
  EXPECT_TRUE(video.formatBehindHeader) << "record and format block must be one block";
  EXPECT_TRUE(IsEqualGUID(kWmSubtypeWmv3, video.mediaType.subtype));
  EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, video.mediaType.formattype));
  ASSERT_EQ(sizeof(VIDEOINFOHEADER), video.mediaType.block.size());

  const VIDEOINFOHEADER& info = Header(video);
  for (const RECT& r : {info.rcSource, info.rcTarget}) {
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(320, r.right);
    EXPECT_EQ(240, r.bottom);
  }
  EXPECT_EQ(500000u, info.dwBitRate);
  EXPECT_EQ(0u, info.dwBitErrorRate);
  EXPECT_EQ(333333, info.AvgTimePerFrame);
  EXPECT_EQ(320, info.bmiHeader.biWidth);
  EXPECT_EQ(240, info.bmiHeader.biHeight);
  EXPECT_EQ(24, info.bmiHeader.biBitCount);
  EXPECT_EQ(320u * 240u * 3u, info.bmiHeader.biSizeImage);
  // Everything else is the codec's.
  EXPECT_EQ(kWmSubtypeWmv3.Data1, info.bmiHeader.biCompression);
  EXPECT_EQ(sizeof(BITMAPINFOHEADER), info.bmiHeader.biSize);
  EXPECT_EQ(1, info.bmiHeader.biPlanes);
  EXPECT_EQ(640, info.bmiHeader.biXPelsPerMeter);
}

TEST_F(ProfileTest, WithAudioStreamsOneAndTwoAndTheAudioStreamMandatory) {
  wmfake::AddStandardCodecs(runtime);
  ASSERT_EQ(S_OK, Build(TRUE));

  const wmfake::ProfileState& profile = runtime.LastProfile();
  ASSERT_EQ(2u, profile.streams.size());
  EXPECT_EQ(2, profile.streams[0].number);
  const wmfake::StreamState& audio = profile.streams[1];
  EXPECT_TRUE(IsEqualGUID(kWmMediaTypeAudio, audio.streamType));
  EXPECT_EQ(1, audio.number);
  EXPECT_EQ(L"Audio Stream", audio.name);
  EXPECT_EQ(L"Audio", audio.connection);
  EXPECT_EQ(48000u, audio.bitrate);
  EXPECT_EQ(3000u, audio.bufferWindow);
  EXPECT_FALSE(audio.complexitySet);

  // Records read by the runtime's layout: stream 1 mandatory, then stream 2 not.
  ASSERT_TRUE(profile.prioritized);
  ASSERT_EQ(2u, profile.priorities.size());
  EXPECT_EQ(1, profile.priorities[0].wStreamNumber);
  EXPECT_TRUE(profile.priorities[0].fMandatory);
  EXPECT_EQ(2, profile.priorities[1].wStreamNumber);
  EXPECT_FALSE(profile.priorities[1].fMandatory);
}

TEST_F(ProfileTest, AudioTakesTheFirstFittingFormatUnchangedEvenWhenALaterOneIsCloser) {
  // 44100 stereo, 22050 mono at 2500 bytes/s (too few), 22050 mono at 4000, 22050 mono at 2501.
  wmfake::AddStandardCodecs(runtime);
  ASSERT_EQ(S_OK, Build(TRUE));
  const wmfake::StreamState& audio = runtime.LastProfile().streams[1];
  EXPECT_TRUE(audio.formatBehindHeader);
  EXPECT_EQ(runtime.audioCodecs[0].formats[2].block, audio.mediaType.block) << "format copied unchanged";
  const WAVEFORMATEX* wave = reinterpret_cast<const WAVEFORMATEX*>(audio.mediaType.block.data());
  EXPECT_EQ(4000u, wave->nAvgBytesPerSec);
  EXPECT_EQ(742, wave->nBlockAlign);
}

TEST_F(ProfileTest, Wmv3FoundAfterOtherCodecsComparingOnlyEachCodecsFirstFormat) {
  wmfake::Codec wmv2, empty, wmv3Second, wmv3;
  wmv2.formats = {wmfake::VideoFormat(WMMEDIASUBTYPE_WMV2, 320, 240)};
  // A codec whose second format is WMV3 is not a WMV3 codec.
  wmv3Second.formats = {wmfake::VideoFormat(WMMEDIASUBTYPE_WMV1, 320, 240),
                        wmfake::VideoFormat(kWmSubtypeWmv3, 1, 1)};
  wmv3.formats = {wmfake::VideoFormat(kWmSubtypeWmv3, 800, 600), wmfake::VideoFormat(kWmSubtypeWmv3, 2, 2)};
  runtime.videoCodecs = {wmv2, empty, wmv3Second, wmv3};
  ASSERT_EQ(S_OK, Build(FALSE));

  EXPECT_EQ(-1, runtime.IndexOf("GetCodecFormat video 1 0")) << "a codec without formats is skipped";
  EXPECT_EQ(-1, runtime.IndexOf("GetCodecFormat video 2 1"));
  EXPECT_NE(-1, runtime.IndexOf("GetCodecFormat video 3 0"));
  EXPECT_EQ(-1, runtime.IndexOf("GetCodecFormat video 3 1"));
  EXPECT_EQ(800, Header(runtime.LastProfile().streams[0]).bmiHeader.biXPelsPerMeter) << "the WMV3 codec's first format";
}

TEST_F(ProfileTest, AudioSearchGoesOnToTheNextCodecWhenOneHasNoFittingFormatOrFails) {
  wmfake::AddStandardCodecs(runtime);
  wmfake::Codec stereoOnly, failing, fitting;
  stereoOnly.formats = {wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 2, 16, 8000)};
  failing.formats = {wmfake::AudioFormat(kWmSubtypeWmAudioV8, 8000, 1, 16, 1000),
                     wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 1, 16, 3000)};
  failing.failFormatAt = 1;  // its walk breaks off at the second format
  fitting.formats = {wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 1, 16, 2600)};
  runtime.audioCodecs = {stereoOnly, failing, fitting};
  ASSERT_EQ(S_OK, Build(TRUE));
  const WAVEFORMATEX* wave =
      reinterpret_cast<const WAVEFORMATEX*>(runtime.LastProfile().streams[1].mediaType.block.data());
  EXPECT_EQ(2600u, wave->nAvgBytesPerSec);
}

TEST_F(ProfileTest, NoWmv3CodecOrNoFittingAudioFormatFailsWithEFail) {
  wmfake::Codec wmv2;
  wmv2.formats = {wmfake::VideoFormat(WMMEDIASUBTYPE_WMV2, 320, 240)};
  runtime.videoCodecs = {wmv2};
  EXPECT_EQ(E_FAIL, Build(FALSE));
  EXPECT_EQ(0, runtime.CountCalls("AddStream"));

  wmfake::AddStandardCodecs(runtime);
  wmfake::Codec wma;
  wma.formats = {wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 1, 16, 2500),
                 wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 1, 8, 4000),
                 wmfake::AudioFormat(kWmSubtypeWmAudioV8, 11025, 1, 16, 4000),
                 wmfake::AudioFormat(kWmSubtypeWmAudioV8, 22050, 2, 16, 4000)};
  wmfake::Codec wma9;  // the right format, but under another codec
  wma9.formats = {wmfake::AudioFormat(WMMEDIASUBTYPE_WMAudioV9, 22050, 1, 16, 4000)};
  runtime.audioCodecs = {wma, wma9};
  EXPECT_EQ(E_FAIL, Build(TRUE));
  EXPECT_EQ(1u, runtime.LastProfile().streams.size()) << "the video stream was added before";

  runtime.audioCodecs.clear();
  EXPECT_EQ(E_FAIL, Build(TRUE));
}

TEST_F(ProfileTest, EveryFailingStepEndsTheBuildWithItsCodeAndNothingLeaks) {
  wmfake::AddStandardCodecs(runtime);
  const HRESULT kFailure = 0x80041234;
  EXPECT_EQ(kFailure, BuildWith(runtime.createManagerResult, kFailure, TRUE));
  EXPECT_EQ(kFailure, BuildWith(runtime.createProfileResult, kFailure, TRUE));
  EXPECT_EQ(kFailure, BuildWith(runtime.setMediaTypeResult, kFailure, FALSE));
  EXPECT_EQ(0, runtime.CountCalls("AddStream"));
  EXPECT_EQ(kFailure, BuildWith(runtime.addStreamResult, kFailure, TRUE));
  EXPECT_EQ(0, runtime.CountCalls("CreateNewStream audio"));
  EXPECT_EQ(E_NOINTERFACE, BuildWith(runtime.offerProfile3, false, TRUE));
  EXPECT_EQ(kFailure, BuildWith(runtime.setPrioritizationResult, kFailure, TRUE));
  EXPECT_EQ(E_FAIL, BuildWith(runtime.offerCodecInfo, false, FALSE));
  EXPECT_EQ(E_FAIL, BuildWith(runtime.codecInfoCountResult, kFailure, FALSE));  // no codecs then
  EXPECT_EQ(E_FAIL, BuildWith(runtime.videoCodecs[0].formatCountResult, kFailure, FALSE));  // stops the search

  // Every manager made (all but the first request) was released again.
  EXPECT_EQ(runtime.CountCalls("CreateProfileManager") - 1, runtime.CountCalls("manager released"));
  EXPECT_EQ(records, LiveWmMediaTypes());
  // The profile created last stays held even after a failure; earlier ones were released.
  EXPECT_NE(nullptr, Access(*graph).m_pProfile().Get());
  for (size_t i = 0; i + 1 < runtime.profiles.size(); ++i) EXPECT_FALSE(runtime.profiles[i]->alive);
}

TEST_F(ProfileTest, OptionalCodecSettingsAreSkippedWhenTheStreamDoesNotOfferThem) {
  wmfake::AddStandardCodecs(runtime);
  runtime.offerVault = false;
  runtime.offerVideoProps = false;
  ASSERT_EQ(S_OK, Build(TRUE));
  const wmfake::StreamState& video = runtime.LastProfile().streams[0];
  EXPECT_FALSE(video.complexitySet);
  EXPECT_EQ(0u, video.quality);
  EXPECT_EQ(500000u, video.bitrate);
}

TEST_F(ProfileTest, TheComplexityIsWrittenWithNoMoreBytesThanItsValueHolds) {
  wmfake::AddStandardCodecs(runtime);
  runtime.complexityBytes = 64;  // the read fails and asks for more
  ASSERT_EQ(S_OK, Build(FALSE));
  const wmfake::StreamState& video = runtime.LastProfile().streams[0];
  EXPECT_TRUE(video.complexitySet);
  EXPECT_EQ(4u, video.complexitySize);
  EXPECT_EQ(1u, video.complexity);
}

TEST_F(ProfileTest, AVideoFormatBlockTooShortForItsHeaderIsRefused) {
  wmfake::AddStandardCodecs(runtime);
  runtime.videoCodecs[1].formats[0].block.resize(sizeof(VIDEOINFOHEADER) - 1);
  EXPECT_EQ(E_FAIL, Build(FALSE));
  EXPECT_EQ(0, runtime.CountCalls("SetMediaType"));
}

TEST_F(ProfileTest, FindCodecFormatLeavesTheCallersPointerAloneWhenNothingIsFound) {
  wmfake::AddStandardCodecs(runtime);
  ComPtr<IWMProfileManager> manager;
  ASSERT_EQ(S_OK, runtime.CreateProfileManager(&manager));
  Access a(*graph);

  WAVEFORMATEX wanted = {};
  wanted.nChannels = 1;
  wanted.nSamplesPerSec = 48000;
  wanted.wBitsPerSample = 16;
  WM_MEDIA_TYPE* record = reinterpret_cast<WM_MEDIA_TYPE*>(&wanted);
  EXPECT_FALSE(a.FindCodecFormat(manager.Get(), kWmMediaTypeAudio, kWmSubtypeWmAudioV8, &record));
  EXPECT_EQ(reinterpret_cast<WM_MEDIA_TYPE*>(&wanted), record);

  // Audio needs the wanted format on entry.
  record = nullptr;
  EXPECT_FALSE(a.FindCodecFormat(manager.Get(), kWmMediaTypeAudio, kWmSubtypeWmAudioV8, &record));
  EXPECT_EQ(nullptr, record);

  EXPECT_TRUE(a.FindCodecFormat(manager.Get(), kWmMediaTypeVideo, kWmSubtypeWmv3, &record));
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(reinterpret_cast<BYTE*>(record) + sizeof(WM_MEDIA_TYPE), record->pbFormat);
  FreeWmMediaType(record);
  EXPECT_FALSE(a.FindCodecFormat(nullptr, kWmMediaTypeVideo, kWmSubtypeWmv3, &record));
}

TEST(WmMediaTypeRecords, CopyIsOneBlockWithTheFormatBehindTheHeader) {
  const long before = LiveWmMediaTypes();
  BYTE block[5] = {1, 2, 3, 4, 5};
  WM_MEDIA_TYPE source = {};
  source.majortype = kWmMediaTypeAudio;
  source.subtype = kWmSubtypeWmAudioV8;
  source.lSampleSize = 77;
  source.cbFormat = sizeof(block);
  source.pbFormat = block;

  WM_MEDIA_TYPE* copy = nullptr;
  ASSERT_EQ(S_OK, CopyWmMediaType(&copy, &source));
  EXPECT_EQ(before + 1, LiveWmMediaTypes());
  EXPECT_EQ(reinterpret_cast<BYTE*>(copy) + sizeof(WM_MEDIA_TYPE), copy->pbFormat);
  EXPECT_EQ(0, memcmp(block, copy->pbFormat, sizeof(block)));
  EXPECT_TRUE(IsEqualGUID(source.subtype, copy->subtype));
  EXPECT_EQ(77u, copy->lSampleSize);
  FreeWmMediaType(copy);

  source.cbFormat = 0;
  source.pbFormat = nullptr;
  ASSERT_EQ(S_OK, CopyWmMediaType(&copy, &source));
  EXPECT_EQ(reinterpret_cast<BYTE*>(copy) + sizeof(WM_MEDIA_TYPE), copy->pbFormat);
  FreeWmMediaType(copy);

  EXPECT_EQ(E_POINTER, CopyWmMediaType(nullptr, &source));
  copy = nullptr;
  EXPECT_EQ(E_NOTIMPL, CopyWmMediaType(&copy, nullptr));
  source.cbFormat = 4;  // announced, but no block
  EXPECT_EQ(E_INVALIDARG, CopyWmMediaType(&copy, &source));
  EXPECT_EQ(nullptr, copy);
  EXPECT_EQ(before, LiveWmMediaTypes());
}

TEST_F(ProfileTest, GetStreamMediaTypeReadsTheWholeRecord) {
  Access a(*graph);
  WM_MEDIA_TYPE* record = nullptr;
  EXPECT_EQ(E_FAIL, a.GetStreamMediaType(nullptr, &record));

  wmfake::MediaType format = wmfake::VideoFormat(kWmSubtypeWmv3, 320, 240);
  ComPtr<IWMMediaProps> props;
  *props.GetAddressOf() = new wmfake::Stream(&runtime, kWmMediaTypeVideo, &format);
  ASSERT_EQ(S_OK, a.GetStreamMediaType(props.Get(), &record));
  EXPECT_EQ(sizeof(VIDEOINFOHEADER), record->cbFormat);
  EXPECT_EQ(reinterpret_cast<BYTE*>(record) + sizeof(WM_MEDIA_TYPE), record->pbFormat);
  EXPECT_EQ(0, memcmp(format.block.data(), record->pbFormat, record->cbFormat));
  FreeWmMediaType(record);

  // A stream without a media type: the runtime's code, nothing handed out.
  ComPtr<IWMMediaProps> empty;
  *empty.GetAddressOf() = new wmfake::Stream(&runtime, kWmMediaTypeVideo, nullptr);
  record = nullptr;
  EXPECT_EQ(E_FAIL, a.GetStreamMediaType(empty.Get(), &record));
  EXPECT_EQ(nullptr, record);
}

}  // namespace
}  // namespace zelvora
