// The capture graph object: release, destruction, running object table, GDI+.
#include <windows.h>
#include <gdiplus.h>
#include <uuids.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "capturegraph_access.h"
#include "media/gdiplussession.h"
#include "media/dshowids.h"
#include "support/running_objects.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

using testsupport::RotGraphEntries;

TEST(CaptureGraph, ReleaseCameraEmptiesTheGraphButKeepsManagerAndSources) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  a.MakeGraph();
  ASSERT_EQ(S_OK, graph.GraphPlay());
  EXPECT_EQ(CameraState::Running, graph.GetCurrentCameraState());
  IGraphBuilder* manager = a.m_pGraph().Get();

  EXPECT_EQ(S_OK, graph.ReleaseCamera());
  EXPECT_EQ(CameraState::None, graph.GetCurrentCameraState());
  EXPECT_FALSE(graph.IsPlaying());
  EXPECT_EQ(manager, a.m_pGraph().Get());
  EXPECT_EQ(0, a.FilterCount());
  EXPECT_EQ(nullptr, a.m_pMediaControl().Get());
  EXPECT_EQ(nullptr, a.m_pMediaEvent().Get());
  // The source filter and the renderer stay referenced outside the graph until the next load.
  EXPECT_NE(nullptr, a.m_pVideoCapture().Get());
  EXPECT_NE(nullptr, a.m_pVideoRenderer().Get());

  EXPECT_EQ(S_OK, graph.ReleaseCamera());
  EXPECT_EQ(CameraState::None, graph.GetCurrentCameraState());
}

TEST(CaptureGraph, PauseThenStopKeepsThePausedState) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  a.MakeGraph();
  EXPECT_EQ(S_OK, graph.GraphPlay());
  EXPECT_EQ(S_OK, graph.GraphPlay());  // already running: nothing done
  EXPECT_EQ(CameraState::Running, graph.GetCurrentCameraState());
  EXPECT_EQ(S_OK, graph.GraphPause());
  EXPECT_EQ(CameraState::Paused, graph.GetCurrentCameraState());
  EXPECT_EQ(S_OK, graph.GraphStop());
  EXPECT_EQ(CameraState::Paused, graph.GetCurrentCameraState());
  OAFilterState state = State_Stopped;
  a.m_pMediaControl()->GetState(1000, &state);
  EXPECT_EQ(State_Paused, state);
  EXPECT_EQ(S_OK, graph.GraphPlay());
  EXPECT_EQ(CameraState::Running, graph.GetCurrentCameraState());
  EXPECT_EQ(S_OK, graph.GraphStop());
  EXPECT_EQ(CameraState::Stopped, graph.GetCurrentCameraState());
}

TEST(CaptureGraph, RemoveAllFiltersWithoutAGraphIsEPointer) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  EXPECT_EQ(E_POINTER, a.RemoveAllFilters());
  EXPECT_EQ(S_OK, graph.ReleaseCamera());
}

TEST(CaptureGraph, DestructionStopsAndEmptiesARunningGraph) {
  auto graph = std::make_unique<CaptureGraph>();
  CaptureGraphTestAccess a(*graph);
  a.MakeGraph();
  ASSERT_EQ(S_OK, graph->GraphPlay());
  ComPtr<IGraphBuilder> manager = a.m_pGraph();
  ComPtr<IMediaControl> control;
  ASSERT_EQ(S_OK, manager.As(&control));

  graph.reset();
  OAFilterState state = State_Running;
  control->GetState(1000, &state);
  EXPECT_EQ(State_Stopped, state);
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(S_OK, manager->EnumFilters(&filters));
  ComPtr<IBaseFilter> filter;
  EXPECT_NE(S_OK, filters->Next(1, &filter, nullptr));
}

TEST(RunningObjectTable, OneEntryUntilReleaseCamera) {
  ASSERT_TRUE(RotGraphEntries().empty());
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  a.MakeGraph();
  ASSERT_EQ(S_OK, a.AddGraphToRot());
  EXPECT_NE(0u, a.m_dwRotRegister());

  std::vector<std::wstring> entries = RotGraphEntries();
  ASSERT_EQ(1u, entries.size());
  // "!FilterGraph XXXXXXXX pid pppppppp": the item moniker's display name carries the delimiter.
  ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, a.m_pGraph().As(&identity));
  wchar_t expected[64];
  swprintf(expected, 64, L"FilterGraph %08lX pid %08lx",
           static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(identity.Get())), GetCurrentProcessId());
  EXPECT_EQ(33u, wcslen(expected));
  EXPECT_EQ(std::wstring(L"!") + expected, entries[0]);

  EXPECT_EQ(S_OK, graph.ReleaseCamera());
  EXPECT_EQ(0u, a.m_dwRotRegister());
  EXPECT_TRUE(RotGraphEntries().empty());
  EXPECT_EQ(S_OK, graph.ReleaseCamera());  // revoked once only
}

TEST(RunningObjectTable, DestructionRevokesTheEntry) {
  {
    CaptureGraph graph;
    CaptureGraphTestAccess a(graph);
    a.MakeGraph();
    ASSERT_EQ(S_OK, a.AddGraphToRot());
    EXPECT_EQ(1u, RotGraphEntries().size());
  }
  EXPECT_TRUE(RotGraphEntries().empty());
}

TEST(RunningObjectTable, NoGraphNoEntry) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  EXPECT_EQ(E_POINTER, a.AddGraphToRot());
  EXPECT_EQ(0u, a.m_dwRotRegister());
}

TEST(Gdiplus, StartedOncePerProcessAndStoppedWithTheLastObject) {
  const long base = GdiplusUsers();
  auto first = std::make_unique<CaptureGraph>();
  auto second = std::make_unique<CaptureGraph>();
  EXPECT_EQ(base + 2, GdiplusUsers());
  first.reset();
  EXPECT_EQ(base + 1, GdiplusUsers());
  // The second object's GDI+ still works after the first is gone.
  Gdiplus::GpBitmap* bitmap = nullptr;
  BYTE pixels[4 * 4 * 3] = {};
  EXPECT_EQ(Gdiplus::Ok, Gdiplus::DllExports::GdipCreateBitmapFromScan0(4, 4, 12, PixelFormat24bppRGB, pixels,
                                                                         &bitmap));
  if (bitmap) Gdiplus::DllExports::GdipDisposeImage(bitmap);
  second.reset();
  EXPECT_EQ(base, GdiplusUsers());
}

TEST(CaptureFormat, SetCaptureXYStoresTheSizeUnlessXIsAbove3000) {
  CaptureGraph graph;
  CaptureGraphTestAccess a(graph);
  EXPECT_EQ(S_OK, graph.SetCaptureXY(3000, 600));
  EXPECT_EQ(3000, a.m_nCaptureX());
  EXPECT_EQ(600, a.m_nCaptureY());
  EXPECT_EQ(S_OK, graph.SetCaptureXY(3001, 600));
  EXPECT_EQ(640, a.m_nCaptureX());
  EXPECT_EQ(480, a.m_nCaptureY());
  EXPECT_EQ(S_OK, graph.SetCaptureXY(-5, 0));
  EXPECT_EQ(-5, a.m_nCaptureX());
  EXPECT_EQ(0, a.m_nCaptureY());
}

}  // namespace zelvora
