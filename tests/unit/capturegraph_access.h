#pragma once

// Test access to the private state of CaptureGraph (declared its friend). One definition for all
// unit tests: add accessors here.
#include <uuids.h>

#include <gtest/gtest.h>

#include "capture/camcapturegraphy.h"
#include "media/dshowids.h"

namespace zelvora {

using Microsoft::WRL::ComPtr;

// Reaches the private state of CaptureGraph.
class CaptureGraphTestAccess {
 public:
  explicit CaptureGraphTestAccess(CaptureGraph& graph) : g(graph) {}

  // A graph of the object's own with a few filters in it, as a load leaves it.
  void MakeGraph() {
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(g.m_pGraph.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, g.m_Builder.SetFiltergraph(g.m_pGraph.Get()));
    ASSERT_EQ(S_OK, g.m_pGraph.As(&g.m_pMediaControl));
    ASSERT_EQ(S_OK, g.m_pGraph.As(&g.m_pMediaEvent));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                     reinterpret_cast<void**>(g.m_pVideoRenderer.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, g.m_pGraph->AddFilter(g.m_pVideoRenderer.Get(), L"Video Renderer"));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                     reinterpret_cast<void**>(g.m_pVideoCapture.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, g.m_pGraph->AddFilter(g.m_pVideoCapture.Get(), L"Video Source Filter"));
  }

  int FilterCount() {
    ComPtr<IEnumFilters> filters;
    if (FAILED(g.m_pGraph->EnumFilters(&filters))) return -1;
    int count = 0;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) ++count;
    return count;
  }

  auto& m_Builder() { return g.m_Builder; }
  auto& m_Devices() { return g.m_Devices; }
  auto& m_bAudioCaptured() { return g.m_bAudioCaptured; }
  auto& m_bAudioInVideo() { return g.m_bAudioInVideo; }
  auto& m_bCapturing() { return g.m_bCapturing; }
  auto& m_bMpeg2Capture() { return g.m_bMpeg2Capture; }
  auto& m_bRunning() { return g.m_bRunning; }
  auto& m_bUseGrabber() { return g.m_bUseGrabber; }
  auto& m_dwRotRegister() { return g.m_dwRotRegister; }
  auto& m_nCaptureX() { return g.m_nCaptureX; }
  auto& m_nCaptureY() { return g.m_nCaptureY; }
  auto& m_nColorFormat() { return g.m_nColorFormat; }
  auto& m_FrameCallback() { return g.m_FrameCallback; }
  auto& m_pAudioCapture() { return g.m_pAudioCapture; }
  auto& m_pGraph() { return g.m_pGraph; }
  auto& m_pMediaControl() { return g.m_pMediaControl; }
  auto& m_pMediaEvent() { return g.m_pMediaEvent; }
  auto& m_pVideoCapture() { return g.m_pVideoCapture; }
  auto& m_pVideoRenderer() { return g.m_pVideoRenderer; }
  auto& m_tcCaptureFile() { return g.m_tcCaptureFile; }
  auto& m_pAsfWriter() { return g.m_pAsfWriter; }
  auto& m_pFileSink() { return g.m_pFileSink; }
  auto& m_pProfile() { return g.m_pProfile; }
  auto& m_pWmRuntime() { return g.m_pWmRuntime; }
  auto& m_pMixer() { return g.m_pMixer; }
  auto& m_bLimitBySize() { return g.m_bLimitBySize; }
  auto& m_bLimitByTime() { return g.m_bLimitByTime; }
  auto& m_dwMaxMegaSize() { return g.m_dwMaxMegaSize; }
  auto& m_dwMaxTime() { return g.m_dwMaxTime; }
  template <typename... A> auto AddGraphToRot(A... args) { return g.AddGraphToRot(args...); }
  template <typename... A> auto RemoveAllFilters(A... args) { return g.RemoveAllFilters(args...); }
  template <typename... A> auto ConfigureRecordingWriter(A... args) { return g.ConfigureRecordingWriter(args...); }
  template <typename... A> auto BuildRecordingProfile(A... args) { return g.BuildRecordingProfile(args...); }
  template <typename... A> auto FindCodecFormat(A... args) { return g.FindCodecFormat(args...); }
  template <typename... A> auto GetStreamMediaType(A... args) { return g.GetStreamMediaType(args...); }
  template <typename... A> auto SetAudioInputLevel(A... args) { return g.SetAudioInputLevel(args...); }
  template <typename... A> auto FindMixerInputNames(A... args) { return g.FindMixerInputNames(args...); }
  template <typename... A> auto BuildGrabberMediaType(A... args) { return g.BuildGrabberMediaType(args...); }

  static ComPtr<IMediaEventEx>& MediaEvent(CaptureGraph& g) { return g.m_pMediaEvent; }
  static ComPtr<IBaseFilter>& VideoCapture(CaptureGraph& g) { return g.m_pVideoCapture; }
  static ComPtr<IBaseFilter>& AudioCapture(CaptureGraph& g) { return g.m_pAudioCapture; }

  CaptureGraph& g;
};

}  // namespace zelvora
