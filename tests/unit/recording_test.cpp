// Recording control in a platform filter graph with filters that connect: the writer, its
// profile, the capture streams, the second start, the mixer inputs and the limits.
#include <windows.h>
#include <strmif.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "recording_fakes.h"
#include "support/debug_output.h"
#include "wm_fakes.h"

namespace zelvora {
namespace {

using Access = CaptureGraphTestAccess;
using recfake::InputPin;
using recfake::Mixer;

// The graph's media control, forwarding to the platform's and logging run, pause and stop.
class ControlLog final : public IMediaControl {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IMediaControl))
      return E_NOINTERFACE;
    *ppv = static_cast<IMediaControl*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }  // lives in the fixture
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Run() override { return calls += "Run ", inner->Run(); }
  STDMETHODIMP Pause() override { return calls += "Pause ", inner->Pause(); }
  STDMETHODIMP Stop() override { return calls += "Stop ", inner->Stop(); }
  STDMETHODIMP GetState(LONG timeout, OAFilterState* state) override { return inner->GetState(timeout, state); }
  STDMETHODIMP RenderFile(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP StopWhenReady() override { return E_NOTIMPL; }

  ComPtr<IMediaControl> inner;
  std::string calls;

 private:
  ULONG m_refs = 1;
};

// A running preview graph of a camera (and a microphone with the inputs "Microphone", "Line In"
// and "CD Audio"), with the fake runtime, the fake mixer and a fake WM ASF Writer class.
class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    records = LiveWmMediaTypes();
    ASSERT_EQ(S_OK, writerClass.result);
    wmfake::AddStandardCodecs(runtime);
    mixer.lines = {{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, L"Wave", L"Wave"},
                   {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, L"Microphone", L"Mic"}};
    mixer.connections = 2;
    graph.reset(new CaptureGraph);
    Access a(*graph);
    a.m_pWmRuntime() = &runtime;
    a.m_pMixer() = &mixer;
  }
  void TearDown() override {
    graph.reset();
    EXPECT_EQ(0, writers.alive) << "writers still referenced";
    EXPECT_EQ(0, runtime.alive) << "runtime objects still referenced";
    EXPECT_EQ(records, LiveWmMediaTypes());
  }

  void MakePreview(bool withAudio) {
    Access a(*graph);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(a.m_pGraph().ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, a.m_Builder().SetFiltergraph(a.m_pGraph().Get()));
    ASSERT_EQ(S_OK, a.m_pGraph().As(&control.inner));
    a.m_pMediaControl() = &control;
    ASSERT_EQ(S_OK, a.m_pGraph().As(&a.m_pMediaEvent()));
    camera = recfake::MakeCamera(&cameraPin);
    a.m_pVideoCapture() = camera.Get();
    ASSERT_EQ(S_OK, a.m_pGraph()->AddFilter(camera.Get(), L"Video Source Filter"));
    if (withAudio) {
      microphone = recfake::MakeMicrophone({L"Microphone", L"Line In", L"CD Audio"}, &inputs, &plainInput);
      a.m_pAudioCapture() = microphone.Get();
      ASSERT_EQ(S_OK, a.m_pGraph()->AddFilter(microphone.Get(), L"Audio Source Filter"));
    }
    ASSERT_EQ(S_OK, graph->GraphPlay());
    control.calls.clear();
  }

  // Writers in the graph.
  int WritersInGraph() {
    ComPtr<IEnumFilters> filters;
    if (FAILED(Access(*graph).m_pGraph()->EnumFilters(&filters))) return -1;
    int count = 0;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      CLSID clsid = GUID_NULL;
      filter->GetClassID(&clsid);
      count += IsEqualGUID(clsid, CLSID_WMAsfWriter) ? 1 : 0;
    }
    return count;
  }
  std::wstring WriterName() {
    FILTER_INFO info = {};
    if (!Access(*graph).m_pAsfWriter() || FAILED(Access(*graph).m_pAsfWriter()->QueryFilterInfo(&info))) return L"";
    if (info.pGraph) info.pGraph->Release();
    return info.achName;
  }
  InputPin* WriterInput(int writer, int index) { return writers.inputs[writer][index]; }

  wmfake::Runtime runtime;
  Mixer mixer;
  recfake::WriterRecord writers;
  fakes::ProcessClass writerClass{CLSID_WMAsfWriter, [this]() -> IUnknown* {
                                    return static_cast<IBaseFilter*>(new recfake::Writer(&writers));
                                  }};
  ControlLog control;
  ComPtr<recfake::Filter> camera, microphone;
  recfake::OutputPin* cameraPin = nullptr;
  std::vector<InputPin*> inputs;
  InputPin* plainInput = nullptr;
  std::unique_ptr<CaptureGraph> graph;
  long records = 0;
};

TEST_F(RecordingTest, RecordsCameraAndMicrophoneAndStopLetsThePreviewRunOn) {
  MakePreview(true);
  Access a(*graph);
  ASSERT_EQ(S_OK, graph->StartCapture(L"C:\\records\\one.wmv", 0.5));

  ASSERT_EQ(1, writers.created);
  EXPECT_EQ(L"C:\\records\\one.wmv", writers.fileNames.at(0));
  EXPECT_EQ(L"WM ASF Writer", WriterName());
  EXPECT_NE(nullptr, a.m_pFileSink().Get());
  // Configured while stopped with the profile of two streams, then both capture pins fed it.
  ASSERT_EQ(1, writers.configureCalls);
  EXPECT_EQ(State_Stopped, writers.statesAtConfigure[0]);
  EXPECT_EQ(a.m_pProfile().Get(), writers.profiles[0]);
  EXPECT_EQ(2u, runtime.LastProfile().streams.size());
  EXPECT_NE(nullptr, WriterInput(0, 0)->peer.Get());
  EXPECT_NE(nullptr, WriterInput(0, 1)->peer.Get());
  EXPECT_EQ("Stop Run ", control.calls);
  EXPECT_TRUE(graph->IsPlaying());
  EXPECT_EQ(CameraState::Running, graph->GetCurrentCameraState());
  EXPECT_TRUE(a.m_bAudioCaptured());
  EXPECT_TRUE(a.m_bCapturing());

  // Only the input named like the mixer's microphone is heard, at the level given.
  EXPECT_TRUE(inputs[0]->enabled);
  EXPECT_EQ(1, inputs[0]->levelCalls);
  EXPECT_EQ(0.5, inputs[0]->level);
  for (InputPin* other : {inputs[1], inputs[2]}) {
    EXPECT_FALSE(other->enabled);
    EXPECT_EQ(1, other->enableCalls);
    EXPECT_EQ(0, other->levelCalls);
  }
  EXPECT_EQ(0, plainInput->enableCalls) << "an input without a mixer is left alone";
  EXPECT_EQ(1, mixer.opens);
  EXPECT_EQ(1, mixer.closes);
  EXPECT_TRUE(mixer.openArgsZero);

  control.calls.clear();
  ComPtr<IBaseFilter> writer = a.m_pAsfWriter();  // kept to look at it afterwards
  ASSERT_EQ(S_OK, graph->StopCapture());
  EXPECT_EQ("Stop Run ", control.calls);
  EXPECT_EQ(nullptr, a.m_pAsfWriter().Get());
  EXPECT_EQ(nullptr, a.m_pFileSink().Get());
  EXPECT_EQ(0, WritersInGraph());
  EXPECT_EQ(nullptr, WriterInput(0, 0)->peer.Get()) << "the writer's inputs were disconnected";
  EXPECT_EQ(nullptr, WriterInput(0, 1)->peer.Get());
  writer.Reset();
  EXPECT_EQ(0, writers.alive) << "the graph and the object let go of the writer";
  EXPECT_TRUE(graph->IsPlaying());
  EXPECT_FALSE(a.m_bCapturing());
  EXPECT_TRUE(a.m_bAudioCaptured()) << "still tells of the last recording";
  EXPECT_NE(nullptr, a.m_pProfile().Get()) << "kept until the next recording";
}

TEST_F(RecordingTest, VideoOnlyRecordingIs320x240WhateverTheCameraSize) {
  MakePreview(false);
  Access a(*graph);
  a.m_nCaptureX() = 1280;
  a.m_nCaptureY() = 720;
  ASSERT_EQ(S_OK, graph->StartCapture(L"video.wmv", 1.0));

  const wmfake::ProfileState& profile = runtime.LastProfile();
  ASSERT_EQ(1u, profile.streams.size());
  const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(profile.streams[0].mediaType.block.data());
  EXPECT_EQ(320, info->bmiHeader.biWidth);
  EXPECT_EQ(240, info->bmiHeader.biHeight);
  EXPECT_FALSE(profile.prioritized);
  EXPECT_NE(nullptr, WriterInput(0, 0)->peer.Get());
  EXPECT_EQ(nullptr, WriterInput(0, 1)->peer.Get());
  EXPECT_FALSE(a.m_bAudioCaptured());
  EXPECT_EQ(0, mixer.opens) << "no audio input to set";
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, ASecondStartEndsTheRunningRecordingFirst) {
  MakePreview(true);
  Access a(*graph);
  ASSERT_EQ(S_OK, graph->StartCapture(L"first.wmv", 1.0));
  ASSERT_EQ(S_OK, graph->StartCapture(L"second.wmv", 1.0));

  EXPECT_EQ(1, WritersInGraph());
  EXPECT_EQ(2, writers.created);
  EXPECT_EQ(1, writers.alive) << "the first writer was let go";
  ASSERT_EQ(2u, writers.fileNames.size());
  EXPECT_EQ(L"second.wmv", writers.fileNames[1]);
  EXPECT_NE(nullptr, WriterInput(1, 0)->peer.Get());
  EXPECT_NE(nullptr, WriterInput(1, 1)->peer.Get());
  EXPECT_TRUE(graph->IsPlaying());
  EXPECT_TRUE(a.m_bAudioCaptured());

  // Two independent profiles; the first released before the second was built.
  ASSERT_EQ(2u, runtime.profiles.size());
  EXPECT_FALSE(runtime.profiles[0]->alive);
  EXPECT_TRUE(runtime.profiles[1]->alive);
  const int released = runtime.IndexOf("profile 1 released");
  int secondBuild = -1;
  for (size_t i = 0, seen = 0; i < runtime.calls.size(); ++i)
    if (runtime.calls[i] == "CreateProfileManager" && ++seen == 2) secondBuild = static_cast<int>(i);
  ASSERT_NE(-1, released);
  EXPECT_LT(released, secondBuild);
  EXPECT_EQ(writers.profiles[1], a.m_pProfile().Get());
}

TEST_F(RecordingTest, ARefusedProfileIsOfferedOnceMoreAfterStopAndRunWithTheGraphStopped) {
  MakePreview(true);
  writers.configureFailures = 1;
  testsupport::DebugOutputCapture debug;
  ASSERT_EQ(S_OK, graph->StartCapture(L"retry.wmv", 1.0));

  EXPECT_EQ(1, debug.Count("Config profile failed"));
  ASSERT_EQ(2, writers.configureCalls);
  EXPECT_EQ(State_Stopped, writers.statesAtConfigure[1]);
  // Stop for the recording, run and stop for the retry, run the recording.
  EXPECT_EQ("Stop Run Stop Run ", control.calls);
  EXPECT_NE(nullptr, WriterInput(0, 0)->peer.Get());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, AProfileRefusedTwiceFailsTheStartAndStopCaptureClearsUp) {
  MakePreview(false);
  writers.configureFailures = 2;
  writers.failure = 0x80041111;
  EXPECT_EQ(0x80041111, graph->StartCapture(L"refused.wmv", 1.0));
  EXPECT_FALSE(graph->IsPlaying());
  EXPECT_EQ(1, WritersInGraph());

  ASSERT_EQ(S_OK, graph->StopCapture());
  EXPECT_EQ(0, WritersInGraph());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, APausedPreviewIsStoppedForTheRecordingAndRunsWithIt) {
  MakePreview(true);
  ASSERT_EQ(S_OK, graph->GraphPause());
  ASSERT_EQ(S_OK, graph->StartCapture(L"paused.wmv", 1.0));
  EXPECT_EQ("Pause Stop Run ", control.calls);
  EXPECT_EQ(State_Stopped, writers.statesAtConfigure.at(0));
  EXPECT_NE(nullptr, WriterInput(0, 0)->peer.Get());
  EXPECT_NE(nullptr, WriterInput(0, 1)->peer.Get());
  EXPECT_EQ(CameraState::Running, graph->GetCurrentCameraState());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, WithoutAWmv3CodecTheWriterRecordsAsCreated) {
  MakePreview(false);
  runtime.videoCodecs.resize(1);  // the older codec only
  ASSERT_EQ(S_OK, graph->StartCapture(L"plain.wmv", 1.0));
  EXPECT_EQ(0, writers.configureCalls);
  EXPECT_NE(nullptr, WriterInput(0, 0)->peer.Get());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, WithoutAMixerTheInputsAreLeftAsTheyAreAndTheRecordingStarts) {
  MakePreview(true);
  mixer.openResult = MMSYSERR_NODRIVER;
  ASSERT_EQ(S_OK, graph->StartCapture(L"quiet.wmv", 0.8));
  for (InputPin* input : inputs) {
    EXPECT_TRUE(input->enabled);
    EXPECT_EQ(0, input->enableCalls) << "nothing tells which input is the microphone: none is touched";
    EXPECT_EQ(0, input->levelCalls);
  }
  EXPECT_EQ(0, mixer.closes);
  EXPECT_NE(nullptr, WriterInput(0, 1)->peer.Get());
  EXPECT_TRUE(Access(*graph).m_bAudioCaptured());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, StopCaptureRemovesWhatTheGraphInsertedBeforeTheWriter) {
  MakePreview(false);
  ASSERT_EQ(S_OK, graph->StartCapture(L"converted.wmv", 1.0));
  // As a graph does for a camera whose type the writer does not take: a converter between the
  // capture pin and the writer, and a tee that also feeds another branch, which stays.
  Access a(*graph);
  ComPtr<IGraphBuilder> g = a.m_pGraph();
  ASSERT_EQ(S_OK, graph->GraphStop());
  InputPin* writerInput = WriterInput(0, 0);
  ComPtr<IPin> writerPin = static_cast<IPin*>(writerInput);
  ASSERT_EQ(S_OK, g->Disconnect(cameraPin));
  ASSERT_EQ(S_OK, g->Disconnect(writerPin.Get()));
  ComPtr<recfake::Filter> tee, converter, other;
  InputPin *teeIn = nullptr, *converterIn = nullptr, *otherIn = nullptr;
  recfake::OutputPin *teeToConverter = nullptr, *teeToOther = nullptr, *converterOut = nullptr;
  *tee.GetAddressOf() = new recfake::Filter(GUID_NULL);
  *converter.GetAddressOf() = new recfake::Filter(GUID_NULL);
  *other.GetAddressOf() = new recfake::Filter(GUID_NULL);
  teeIn = tee->Add(new InputPin(tee.Get(), L"In", MEDIATYPE_Video, false));
  teeToConverter = tee->Add(new recfake::OutputPin(tee.Get(), L"Capture", PIN_CATEGORY_CAPTURE, MEDIATYPE_Video,
                                                   MEDIASUBTYPE_YUY2));
  teeToOther = tee->Add(new recfake::OutputPin(tee.Get(), L"Preview", PIN_CATEGORY_PREVIEW, MEDIATYPE_Video,
                                               MEDIASUBTYPE_YUY2));
  converterIn = converter->Add(new InputPin(converter.Get(), L"In", MEDIATYPE_Video, false));
  converterOut = converter->Add(new recfake::OutputPin(converter.Get(), L"Out", PIN_CATEGORY_CAPTURE,
                                                       MEDIATYPE_Video, MEDIASUBTYPE_RGB24));
  otherIn = other->Add(new InputPin(other.Get(), L"In", MEDIATYPE_Video, false));
  ASSERT_EQ(S_OK, g->AddFilter(tee.Get(), L"Tee"));
  ASSERT_EQ(S_OK, g->AddFilter(converter.Get(), L"Converter"));
  ASSERT_EQ(S_OK, g->AddFilter(other.Get(), L"Other branch"));
  ASSERT_EQ(S_OK, g->ConnectDirect(cameraPin, teeIn, nullptr));
  ASSERT_EQ(S_OK, g->ConnectDirect(teeToConverter, converterIn, nullptr));
  ASSERT_EQ(S_OK, g->ConnectDirect(teeToOther, otherIn, nullptr));
  ASSERT_EQ(S_OK, g->ConnectDirect(converterOut, writerPin.Get(), nullptr));
  ASSERT_EQ(S_OK, graph->GraphPlay());

  ASSERT_EQ(S_OK, graph->StopCapture());
  EXPECT_EQ(0, WritersInGraph());
  FILTER_INFO info = {};
  EXPECT_EQ(S_OK, converter->QueryFilterInfo(&info));
  EXPECT_EQ(nullptr, info.pGraph) << "the converter left the graph";
  if (info.pGraph) info.pGraph->Release();
  EXPECT_EQ(S_OK, tee->QueryFilterInfo(&info));
  EXPECT_NE(nullptr, info.pGraph) << "the tee feeds another branch and stays";
  if (info.pGraph) info.pGraph->Release();
  EXPECT_EQ(nullptr, teeToConverter->peer.Get()) << "nothing hangs on the capture path";
  EXPECT_NE(nullptr, teeToOther->peer.Get());
  EXPECT_NE(nullptr, teeIn->peer.Get());
  EXPECT_TRUE(graph->IsPlaying());
}

TEST_F(RecordingTest, NamesAreCutTo259UnitsAndAnEmptyNameStopsThePreviewOnly) {
  MakePreview(false);
  const std::wstring longName(300, L'n');
  ASSERT_EQ(S_OK, graph->StartCapture(longName.c_str(), 1.0));
  EXPECT_EQ(longName.substr(0, 259), writers.fileNames.at(0));
  ASSERT_EQ(S_OK, graph->StopCapture());

  control.calls.clear();
  EXPECT_EQ(E_POINTER, graph->StartCapture(L"", 1.0));
  EXPECT_EQ("Stop ", control.calls);
  EXPECT_EQ(1, writers.created) << "no writer for an empty name";
  EXPECT_EQ(CameraState::Stopped, graph->GetCurrentCameraState());
  EXPECT_TRUE(Access(*graph).m_bCapturing());
}

TEST_F(RecordingTest, AWriterWithoutProfileConfigurationStaysUntilTheNextStopOrStart) {
  MakePreview(false);
  writers.offerConfig = false;
  EXPECT_EQ(E_NOINTERFACE, graph->StartCapture(L"a.wmv", 1.0));
  EXPECT_EQ(1, WritersInGraph());
  EXPECT_NE(nullptr, Access(*graph).m_pAsfWriter().Get());

  // The next start replaces it instead of adding a second writer.
  writers.offerConfig = true;
  ASSERT_EQ(S_OK, graph->StartCapture(L"b.wmv", 1.0));
  EXPECT_EQ(1, WritersInGraph());
  EXPECT_EQ(1, writers.alive);
  EXPECT_NE(nullptr, WriterInput(1, 0)->peer.Get());
}

TEST_F(RecordingTest, StopCaptureWithoutARecordingStopsAndRunsTheGraph) {
  MakePreview(false);
  ASSERT_EQ(S_OK, graph->StopCapture());
  EXPECT_EQ("Stop Run ", control.calls);
  EXPECT_TRUE(graph->IsPlaying());
  EXPECT_EQ(0, writers.created);

  // Before any graph: stopping does nothing, running has no media control.
  CaptureGraph empty;
  EXPECT_EQ(E_POINTER, empty.StopCapture());
}

TEST_F(RecordingTest, SetCaptureMaxSizeIsKeptAndStopsNothing) {
  MakePreview(false);
  Access a(*graph);
  a.m_bLimitByTime() = TRUE;
  ASSERT_EQ(S_OK, graph->StartCapture(L"limit.wmv", 1.0));
  EXPECT_EQ(S_OK, graph->SetCaptureMaxSize(1));
  EXPECT_TRUE(a.m_bLimitBySize());
  EXPECT_FALSE(a.m_bLimitByTime());
  EXPECT_EQ(1u, a.m_dwMaxMegaSize());
  EXPECT_EQ(0u, a.m_dwMaxTime());
  EXPECT_TRUE(graph->IsPlaying());
  EXPECT_EQ(1, WritersInGraph());
}

// ---- The mixer's microphone or line source and the inputs of the audio filter ----------------

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override { Access(graph).m_pMixer() = &mixer; }
  MMRESULT Find() { return Access(graph).FindMixerInputNames(longName, 260, shortName, 260); }
  Mixer mixer;
  CaptureGraph graph;
  WCHAR longName[260] = L"unchanged";
  WCHAR shortName[260] = L"unchanged";
};

TEST_F(MixerTest, TheFirstMicrophoneOrLineSourceNamesTheInput) {
  mixer.lines = {{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, L"Wave", L"Wave"},
                 {MIXERLINE_COMPONENTTYPE_SRC_LINE, L"Line In Jack", L"Line"},
                 {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, L"Microphone", L"Mic"}};
  mixer.connections = 3;
  EXPECT_EQ(MMSYSERR_NOERROR, Find());
  EXPECT_STREQ(L"Line In Jack", longName);
  EXPECT_STREQ(L"Line", shortName);
  EXPECT_EQ(2, mixer.sourceReads);
  EXPECT_EQ(1, mixer.closes);

  // Cut to the capacity given, always terminated.
  WCHAR small[4];
  EXPECT_EQ(MMSYSERR_NOERROR, Access(graph).FindMixerInputNames(small, 4, shortName, 2));
  EXPECT_STREQ(L"Lin", small);
  EXPECT_STREQ(L"L", shortName);
}

TEST_F(MixerTest, WithoutSuchASourceTheNamesStayAsTheyWereAndTheReadFailureIsReturned) {
  mixer.lines = {{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, L"Wave", L"Wave"},
                 {MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, L"Synth", L"Synth"}};
  mixer.connections = 0;  // no count: up to 100 sources are read
  EXPECT_EQ(static_cast<MMRESULT>(MIXERR_INVALLINE), Find());
  EXPECT_EQ(3, mixer.sourceReads);
  EXPECT_STREQ(L"unchanged", longName);

  mixer.lines.assign(150, {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, L"Wave", L"Wave"});
  mixer.connections = 150;
  mixer.sourceReads = 0;
  EXPECT_EQ(MMSYSERR_NOERROR, Find());
  EXPECT_EQ(100, mixer.sourceReads) << "more than 100 sources: 100 are read";

  mixer.destinationResult = MMSYSERR_ERROR;
  mixer.sourceReads = 0;
  Find();
  EXPECT_EQ(100, mixer.sourceReads) << "destination not read: 100 are read";

  mixer.openResult = MMSYSERR_BADDEVICEID;
  mixer.sourceReads = 0;
  EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_BADDEVICEID), Find());
  EXPECT_EQ(0, mixer.sourceReads);
  EXPECT_EQ(3, mixer.closes) << "a mixer that did not open is not closed";
}

TEST_F(MixerTest, TheShortNameSelectsAnInputAndWithoutNamesNoInputIsTouched) {
  std::vector<InputPin*> inputs;
  ComPtr<recfake::Filter> microphone = recfake::MakeMicrophone({L"Mic", L"", L"Line"}, &inputs);
  mixer.lines = {{MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, L"Microphone", L"Mic"}};
  mixer.connections = 1;
  EXPECT_EQ(S_OK, Access(graph).SetAudioInputLevel(microphone.Get(), 0.25));
  EXPECT_TRUE(inputs[0]->enabled);
  EXPECT_EQ(0.25, inputs[0]->level);
  EXPECT_FALSE(inputs[1]->enabled);
  EXPECT_FALSE(inputs[2]->enabled);

  // No microphone or line source: no input is touched, not even an unnamed one.
  mixer.lines = {{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, L"Wave", L"Wave"}};
  std::vector<int> enableCalls;
  for (InputPin* input : inputs) enableCalls.push_back(input->enableCalls);
  EXPECT_EQ(S_OK, Access(graph).SetAudioInputLevel(microphone.Get(), 0.75));
  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(enableCalls[i], inputs[i]->enableCalls) << i;
  EXPECT_TRUE(inputs[0]->enabled);
  EXPECT_EQ(1, inputs[0]->levelCalls);

  EXPECT_EQ(E_POINTER, Access(graph).SetAudioInputLevel(nullptr, 1.0));
}

}  // namespace
}  // namespace zelvora
