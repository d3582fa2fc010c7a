// The preview graph as the capture graph object builds it on a virtual camera, and the sample
// grabber's media type.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "support/running_objects.h"
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

// ---- a grabber that could not be created ----

volatile LONG g_frames = 0;
void __cdecl CountFrame(RenderFrame*, int, int) { InterlockedIncrement(&g_frames); }

using testsupport::FilterNames;

TEST(PreviewWithoutGrabber, RunsThePreviewWithoutFrames) {
  testsupport::Watchdog watchdog("preview without grabber", 60);
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  CallbackCell cell = reinterpret_cast<CallbackCell>(&CountFrame);
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
