// The capture builder object: the MPEG-2 test of a pin, output files, a missing platform builder.
#include <windows.h>
#include <objidl.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "com_fakes.h"
#include "media/camgraphybuilder.h"

using Microsoft::WRL::ComPtr;
using namespace fakes;

namespace zelvora {
namespace {

// ---- MPEG-2 detection ----

struct Mpeg2Case {
  std::vector<std::pair<GUID, GUID>> types;
  BOOL expected;
  int readUpTo;  // records that must have been read (and freed)
};

class Mpeg2Test : public testing::TestWithParam<Mpeg2Case> {};

TEST_P(Mpeg2Test, ReadsInOrderAndFreesEveryRecordOnce) {
  const Mpeg2Case& c = GetParam();
  ComPtr<FakeCaptureFilter> filter;
  filter.Attach(new FakeCaptureFilter(CLSID_NULL, PIN_CATEGORY_CAPTURE, {}));
  FakeCapturePin* pin = filter->Pin();
  pin->types.types = c.types;
  CaptureBuilder builder;
  EXPECT_EQ(c.expected, builder.HasMpeg2MediaType(pin));
  EXPECT_EQ(c.readUpTo, pin->types.handedOut);
  EXPECT_EQ(pin->types.handedOut, pin->types.records.releases);
}

const GUID kMpeg2Video = MEDIASUBTYPE_MPEG2_VIDEO;
const GUID kMpeg2Program = MEDIASUBTYPE_MPEG2_PROGRAM;

INSTANTIATE_TEST_SUITE_P(
    Lists, Mpeg2Test,
    testing::Values(
        // MPEG-2 video after several YUY2 types: found, and the search stops there.
        Mpeg2Case{{{MEDIATYPE_Video, MEDIASUBTYPE_YUY2},
                   {MEDIATYPE_Video, MEDIASUBTYPE_YUY2},
                   {MEDIATYPE_Video, MEDIASUBTYPE_YUY2},
                   {MEDIATYPE_Video, kMpeg2Video},
                   {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}},
                  TRUE, 4},
        Mpeg2Case{{{MEDIATYPE_Stream, kMpeg2Program}}, TRUE, 1},
        Mpeg2Case{{{MEDIATYPE_Stream, kMpeg2Video}}, TRUE, 1},
        Mpeg2Case{{{MEDIATYPE_Video, kMpeg2Program}}, TRUE, 1},
        // MPEG-2 under other major types does not count.
        Mpeg2Case{{{MEDIATYPE_MPEG2_PES, kMpeg2Video}, {MEDIATYPE_Audio, kMpeg2Program}}, FALSE, 2},
        Mpeg2Case{{{MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Video}}, FALSE, 1},
        Mpeg2Case{{}, FALSE, 0}));

TEST(Mpeg2, NoPinOrNoListIsFalse) {
  CaptureBuilder builder;
  EXPECT_FALSE(builder.HasMpeg2MediaType(nullptr));
  ComPtr<FakeCaptureFilter> filter;
  filter.Attach(new FakeCaptureFilter(CLSID_NULL, PIN_CATEGORY_CAPTURE, {}));
  filter->Pin()->types.types = {{MEDIATYPE_Video, kMpeg2Video}};
  filter->Pin()->types.enumResult = E_OUTOFMEMORY;
  EXPECT_FALSE(builder.HasMpeg2MediaType(filter->Pin()));
}

// ---- The builder object without a platform builder ----

TEST(CaptureBuilderMissing, EveryOperationReportsTheCreationFailure) {
  // A thread without COM: creating the platform builder fails, and that code is kept.
  HRESULT created = S_OK;
  HRESULT found = S_OK;
  HRESULT graph = S_OK;
  std::thread worker([&] {
    CaptureBuilder builder;
    created = builder.CreateResult();
    ComPtr<IPin> pin;
    found = builder.FindPin(nullptr, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &pin);
    graph = builder.SetFiltergraph(nullptr);
  });
  worker.join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, created);
  EXPECT_EQ(CO_E_NOTINITIALIZED, found);
  EXPECT_EQ(CO_E_NOTINITIALIZED, graph);

  CaptureBuilder none(nullptr);
  EXPECT_EQ(E_NOINTERFACE, none.CreateResult());
  void* out = nullptr;
  EXPECT_EQ(E_NOINTERFACE, none.FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, nullptr,
                                              IID_IAMStreamConfig, &out));
  EXPECT_EQ(E_NOINTERFACE, none.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, nullptr, nullptr, nullptr));
  EXPECT_EQ(E_NOINTERFACE, none.AllocCapFile(L"x", 1));
  EXPECT_EQ(E_NOINTERFACE, none.ControlStream(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0));
  ComPtr<IGraphBuilder> g;
  EXPECT_EQ(E_NOINTERFACE, none.GetFiltergraph(&g));
  ComPtr<IBaseFilter> writer;
  EXPECT_EQ(E_NOINTERFACE, none.SetOutputFileName(&MEDIASUBTYPE_Asf, L"x.wmv", &writer, nullptr));
  EXPECT_EQ(E_POINTER, none.SetOutputFileName(&MEDIASUBTYPE_Asf, nullptr, &writer, nullptr));
}

// ---- SetOutputFileName: the platform's writer, else the one made by the builder object ----

// A platform builder that keeps the graph it is given and answers SetOutputFileName as the test
// says: E_NOTIMPL as Wine's does, another failure, or a success with a writer of its own.
class OutputBuilder final : public FakeCom<ICaptureGraphBuilder2> {
 public:
  STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** filter,
                                 IFileSinkFilter** sink) override {
    ++calls;
    subtype = *type;
    fileName = file;
    if (result != S_OK) return result;
    auto* writer = new FakeWriter(CLSID_WMAsfWriter, &writers);
    writer->SetFileName(file, nullptr);
    *filter = writer;
    if (sink) writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(sink));
    return S_OK;
  }
  STDMETHODIMP SetFiltergraph(IGraphBuilder* graph) override { return m_graph = graph, S_OK; }
  STDMETHODIMP GetFiltergraph(IGraphBuilder** graph) override { return m_graph ? m_graph.CopyTo(graph) : E_UNEXPECTED; }
  STDMETHODIMP FindInterface(const GUID*, const GUID*, IBaseFilter*, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP RenderStream(const GUID*, const GUID*, IUnknown*, IBaseFilter*, IBaseFilter*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*, WORD,
                             WORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  STDMETHODIMP CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override { return E_NOTIMPL; }
  STDMETHODIMP FindPin(IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, BOOL, int, IPin**) override {
    return E_NOTIMPL;
  }

  HRESULT result = E_NOTIMPL;
  int calls = 0;
  GUID subtype = GUID_NULL;
  std::wstring fileName;
  FakeWriter::Record writers;  // the platform's own

 private:
  void* Find(REFIID riid) override {
    return Primary(riid, IID_ICaptureGraphBuilder2, static_cast<ICaptureGraphBuilder2*>(this));
  }
  ComPtr<IGraphBuilder> m_graph;
};

class OutputFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, writerClass.result);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(graph.GetAddressOf())));
  }
  static ComPtr<OutputBuilder> NewPlatform() {
    ComPtr<OutputBuilder> builder;
    *builder.GetAddressOf() = new OutputBuilder();
    return builder;
  }

  FakeWriter::Record record;
  ProcessClass writerClass{CLSID_WMAsfWriter, [this]() -> IUnknown* {
                             return static_cast<IBaseFilter*>(new FakeWriter(CLSID_WMAsfWriter, &record));
                           }};
  ComPtr<OutputBuilder> platform = NewPlatform();
  CaptureBuilder builder{platform.Get()};
  ComPtr<IGraphBuilder> graph;
};

TEST_F(OutputFileTest, CreatesNamesAndAddsTheWriterAndHandsBackFilterAndSink) {
  ASSERT_EQ(S_OK, builder.SetFiltergraph(graph.Get()));
  ComPtr<IBaseFilter> writer;
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"C:\\rec\\take 1.wmv", &writer, &sink));
  EXPECT_EQ(1, platform->calls) << "the platform was asked first";
  EXPECT_EQ(1, record.created);
  EXPECT_EQ(L"C:\\rec\\take 1.wmv", record.fileName);
  ASSERT_NE(nullptr, writer.Get());
  ASSERT_NE(nullptr, sink.Get());
  ComPtr<IBaseFilter> sinkFilter;
  ASSERT_EQ(S_OK, sink.As(&sinkFilter));
  EXPECT_EQ(writer.Get(), sinkFilter.Get());
  ComPtr<IBaseFilter> inGraph;
  ASSERT_EQ(S_OK, graph->FindFilterByName(L"WM ASF Writer", &inGraph));
  EXPECT_EQ(writer.Get(), inGraph.Get());

  // The sink is optional; a second writer gets a name of its own from the graph.
  ComPtr<IBaseFilter> second;
  EXPECT_EQ(S_OK, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"b.wmv", &second, nullptr));
  EXPECT_EQ(2, record.created);
  EXPECT_NE(writer.Get(), second.Get());

  ASSERT_EQ(S_OK, graph->RemoveFilter(writer.Get()));
  ASSERT_EQ(S_OK, graph->RemoveFilter(second.Get()));
  writer.Reset();
  sink.Reset();
  sinkFilter.Reset();
  inGraph.Reset();
  second.Reset();
  EXPECT_EQ(0, record.alive);  // no reference kept anywhere
}

TEST_F(OutputFileTest, MissingArgumentsCreateNothing) {
  ASSERT_EQ(S_OK, builder.SetFiltergraph(graph.Get()));
  IBaseFilter* writer = reinterpret_cast<IBaseFilter*>(1);
  EXPECT_EQ(E_POINTER, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, nullptr, &writer, nullptr));
  EXPECT_EQ(E_POINTER, builder.SetOutputFileName(nullptr, L"a.wmv", &writer, nullptr));
  EXPECT_EQ(E_POINTER, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"a.wmv", nullptr, nullptr));
  EXPECT_EQ(0, record.created);
  EXPECT_EQ(0, platform->calls);
}

TEST_F(OutputFileTest, FailuresLeaveNoWriterBehind) {
  ComPtr<IBaseFilter> writer;
  ComPtr<IFileSinkFilter> sink;
  // No graph given to the builder yet.
  EXPECT_TRUE(FAILED(builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"a.wmv", &writer, &sink)));
  EXPECT_EQ(nullptr, writer.Get());
  EXPECT_EQ(0, record.alive);

  ASSERT_EQ(S_OK, builder.SetFiltergraph(graph.Get()));
  record.setFileNameResult = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"a.wmv", &writer, &sink));
  EXPECT_EQ(nullptr, writer.Get());
  EXPECT_EQ(nullptr, sink.Get());

  record.setFileNameResult = S_OK;
  record.offerFileSink = false;
  EXPECT_EQ(E_NOINTERFACE, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"a.wmv", &writer, &sink));
  EXPECT_EQ(0, record.alive);
  ComPtr<IBaseFilter> inGraph;
  EXPECT_TRUE(FAILED(graph->FindFilterByName(L"WM ASF Writer", &inGraph)));
}

TEST_F(OutputFileTest, OtherFileTypesAreLeftToThePlatformBuilder) {
  ASSERT_EQ(S_OK, builder.SetFiltergraph(graph.Get()));
  ComPtr<IBaseFilter> writer;
  EXPECT_EQ(E_NOTIMPL, builder.SetOutputFileName(&MEDIASUBTYPE_Avi, L"a.avi", &writer, nullptr));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_Avi, platform->subtype));
  EXPECT_EQ(0, record.created);
}

TEST_F(OutputFileTest, ThePlatformsAnswerOtherThanNotImplementedIsKept) {
  ASSERT_EQ(S_OK, builder.SetFiltergraph(graph.Get()));
  // Its own writer, with the same arguments, and nothing made by hand.
  platform->result = S_OK;
  ComPtr<IBaseFilter> writer;
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(S_OK, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"C:\\rec\\a.wmv", &writer, &sink));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_Asf, platform->subtype));
  EXPECT_EQ(L"C:\\rec\\a.wmv", platform->fileName);
  EXPECT_EQ(1, platform->writers.created);
  EXPECT_EQ(L"C:\\rec\\a.wmv", platform->writers.fileName);
  ComPtr<IBaseFilter> sinkFilter;
  ASSERT_EQ(S_OK, sink.As(&sinkFilter));
  EXPECT_EQ(writer.Get(), sinkFilter.Get());
  EXPECT_EQ(0, record.created);

  // A failure of its own comes back unchanged, and again nothing is made by hand.
  for (HRESULT failure : {E_ACCESSDENIED, E_FAIL, VFW_E_NOT_FOUND}) {
    platform->result = failure;
    ComPtr<IBaseFilter> refused;
    EXPECT_EQ(failure, builder.SetOutputFileName(&MEDIASUBTYPE_Asf, L"b.wmv", &refused, &sink));
    EXPECT_EQ(nullptr, refused.Get());
    EXPECT_EQ(nullptr, sink.Get());
  }
  EXPECT_EQ(0, record.created);
  EXPECT_EQ(1, platform->writers.created);
}

}  // namespace
}  // namespace zelvora
