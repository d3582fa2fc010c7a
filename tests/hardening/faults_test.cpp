// Faults that the random call sequences and the bad input catalogue found, each pinned down by a
// plain sequence.
#include "hardening/hardening_helpers.h"

using namespace dlltest;
using namespace hardening;
using namespace previewtest;

namespace {

// A recording paused by the host ends with StopCapture: the writer leaves the graph, writes its
// file and the preview runs on. (The writer could not leave a paused graph: StopCapture failed
// with VFW_E_NOT_STOPPED, again and again, until the host ran the graph.)
TEST(Faults, APausedRecordingEndsWithStopCapture) {
  Watchdog watchdog("paused recording", 120);
  ScratchFolder folder(L"paused");
  RenderWindow window;
  ComPtr<IIZelvora> camera = CreateComponent();
  ASSERT_EQ(S_OK, camera->SetRenderWnd(window.hwnd));
  ASSERT_EQ(S_OK, camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN)));
  const std::wstring file = folder.File(L"paused.wmv");
  ASSERT_EQ(S_OK, camera->StartCapture(W(file.c_str())));
  LONG start = window.frames;
  ASSERT_TRUE(PumpUntil(5000, [&] { return window.frames - start >= 5; }));
  ASSERT_TRUE(SUCCEEDED(camera->GraphPause()));
  ASSERT_EQ(2u, StateOf(camera.Get()));

  EXPECT_EQ(S_OK, camera->StopCapture());
  EXPECT_EQ(1u, StateOf(camera.Get()));
  EXPECT_TRUE(FileExists(file)) << "the writer wrote its record when it left the graph";
  start = window.frames;
  EXPECT_TRUE(PumpUntil(5000, [&] { return window.frames - start >= 3; })) << "the preview runs on";
  // A second stop finds no recording and only runs the preview.
  EXPECT_EQ(S_OK, camera->StopCapture());
  EXPECT_EQ(1u, StateOf(camera.Get()));
}

}  // namespace
