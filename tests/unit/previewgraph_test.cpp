// The preview graph as the capture graph object builds it on a virtual camera, and the sample
// grabber's media type.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/frameformat.h"
#include "capturegraph_access.h"
#include "support/watchdog.h"

#include <amvideo.h>
#include <dvdmedia.h>

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

// ---- the grabber's media type ----

TEST(GrabberMediaType, OnlyMajorTypeAndSubtypeAreSet) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  const GUID i420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  struct {
    int format;
    GUID subtype;
  } cases[] = {{ColorFormat::RGB24, MEDIASUBTYPE_RGB24}, {ColorFormat::YUY2, MEDIASUBTYPE_YUY2},
               {ColorFormat::I420, i420}, {ColorFormat::NotConfigured, MEDIASUBTYPE_RGB24}, {-1, MEDIASUBTYPE_RGB24}};
  for (const auto& c : cases) {
    a.m_nColorFormat() = c.format;
    AM_MEDIA_TYPE type;
    memset(&type, 0xCD, sizeof(type));
    a.BuildGrabberMediaType(&type);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.majortype));
    EXPECT_TRUE(IsEqualGUID(c.subtype, type.subtype)) << c.format;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.formattype));
    EXPECT_FALSE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(0u, type.lSampleSize);
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(nullptr, type.pbFormat);
    EXPECT_EQ(nullptr, type.pUnk);
  }
}

// ---- the frame layout from the grabber's connection ----

// A connection media type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 block.
struct Connection {
  Connection(const GUID& subtype, const GUID& formatType, LONG width, LONG height) {
    const bool info2 = IsEqualGUID(formatType, FORMAT_VideoInfo2) != FALSE;
    block.assign(info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER), 0);
    BITMAPINFOHEADER* header = info2 ? &reinterpret_cast<VIDEOINFOHEADER2*>(block.data())->bmiHeader
                                     : &reinterpret_cast<VIDEOINFOHEADER*>(block.data())->bmiHeader;
    header->biWidth = width;
    header->biHeight = height;
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    type.formattype = formatType;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
  }
  AM_MEDIA_TYPE type = {};
  std::vector<BYTE> block;
};

TEST(FrameFormatOfConnection, TakesFormatAndSizeFromEitherHeader) {
  struct {
    GUID subtype, formatType;
    LONG width, height;
    int format, expectedHeight;
  } cases[] = {{MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240, ColorFormat::YUY2, 240},
               {MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, -240, ColorFormat::YUY2, 240},  // YUV: rows top-down anyway
               {kMediaSubtypeI420, FORMAT_VideoInfo, 176, -144, ColorFormat::I420, 144},
               {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 642, 480, ColorFormat::RGB24, 480}};
  for (const auto& c : cases) {
    Connection connection(c.subtype, c.formatType, c.width, c.height);
    FrameFormat format;
    ASSERT_TRUE(FrameFormatOfConnection(connection.type, &format)) << c.width << "x" << c.height;
    EXPECT_EQ(c.format, format.colorFormat);
    EXPECT_EQ(c.width, format.width);
    EXPECT_EQ(c.expectedHeight, format.height);
  }
}

TEST(FrameFormatOfConnection, RefusesTypesWhoseFramesCannotBeRead) {
  const GUID iyuv = {0x56555949, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  std::vector<Connection> refused;
  refused.reserve(16);  // the types point into their own blocks: no copies
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 320, -240);  // top-down RGB24
  refused.emplace_back(iyuv, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_None, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 0, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, -320, 240);
  refused.emplace_back(kMediaSubtypeI420, FORMAT_VideoInfo, 320, 0);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, LONG(0x80000000));
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 100000, 100000);  // past 2 GB
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER);  // too short for a VIDEOINFOHEADER2
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.pbFormat = nullptr;
  for (size_t i = 0; i < refused.size(); ++i) {
    FrameFormat format;
    format.colorFormat = format.width = format.height = 9;
    EXPECT_FALSE(FrameFormatOfConnection(refused[i].type, &format)) << "case " << i;
    EXPECT_TRUE(format.colorFormat == 9 && format.width == 9 && format.height == 9) << "case " << i;
  }
}

// ---- a grabber that could not be created ----

volatile LONG g_frames = 0;
void __cdecl CountFrame(RenderFrame*, int, int) { InterlockedIncrement(&g_frames); }

std::vector<std::wstring> FilterNames(IGraphBuilder* graph) {
  std::vector<std::wstring> names;
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(&filters))) return names;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    FILTER_INFO info = {};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      names.push_back(info.achName);
      if (info.pGraph) info.pGraph->Release();
    }
  }
  return names;
}

TEST(PreviewWithoutGrabber, RunsThePreviewWithoutFrames) {
  testsupport::Watchdog watchdog("preview without grabber", 60);
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  unsigned long cell = reinterpret_cast<unsigned long>(&CountFrame);
  graph.SetRenderCallbackFun(&cell);
  // As after a failed creation: no grabber for the rest of the object's life.
  a.m_bUseGrabber() = FALSE;
  ASSERT_EQ(S_OK, graph.LoadCamera(L"Zelvora Virtual Camera"));
  EXPECT_EQ(CameraState::Running, graph.GetCurrentCameraState());
  const std::vector<std::wstring> names = FilterNames(a.m_pGraph().Get());
  for (const std::wstring& name : names) EXPECT_NE(L"SampleGrabber", name);
  EXPECT_EQ(3u, names.size());  // source, Smart Tee, renderer
  g_frames = 0;
  Sleep(300);
  EXPECT_EQ(0, g_frames);
  EXPECT_FALSE(a.m_bUseGrabber());
  EXPECT_EQ(S_OK, graph.ReleaseCamera());
}

}  // namespace
}  // namespace zelvora
