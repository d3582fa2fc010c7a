#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>
#include <qedit.h>
#include <wrl/client.h>

#include "media/dshowids.h"
#include "media/framecallback.h"
#include "media/graphfilters.h"
#include "media/graphnotify.h"

namespace zelvora {

// OpenPlayFile's answer for a name that is not of the Windows Media family (a success code).
constexpr HRESULT kNotWindowsMediaFile = 10;

// Frame size reported to the host for every played frame (the size of the component's recordings).
constexpr int kPlayFrameWidth = 320;
constexpr int kPlayFrameHeight = 240;

// Plays one Windows Media file into the host's render callback. One per component object.
//
// Graph after a successful open: "ASF Reader" loaded with the file; every audio pin rendered by
// the graph to the default audio output; the first other pin connected through the decoder the
// graph picks to "SampleGrabber" (RGB24) and on to "NULL renderer". Frames reach the host only
// through the embedded frame callback.
class FilePlayer {
 public:
  FilePlayer();
  FilePlayer(const FilePlayer&) = delete;
  FilePlayer& operator=(const FilePlayer&) = delete;
  // Takes the graph apart; no streaming thread calls the frame callback afterwards.
  ~FilePlayer();

  HRESULT OpenPlayFile(const WCHAR* fileName);
  HRESULT StartPlay();
  HRESULT PausePlay();
  HRESULT StopPlay();
  HRESULT ReleasePlayFile();
  void SetCallBackRender(const CallbackCell* cell) { m_FrameCallback.SetRenderCallback(cell); }
  // 0: end of the file, 1: aborted, 2: nothing of interest.
  unsigned long OnGraphNotify();
  HRESULT SetNotifyEventHwnd(HWND window, UINT message);

  // True when the name contains ".asf", ".wma" or ".wmv" in any letter case.
  static bool IsAsfFile(const WCHAR* fileName);

 private:
  friend class FilePlayerTestAccess;

  enum class PlayerState { Running, Paused };
  // Runs or pauses the graph (without a graph only the flag changes); the flag follows a success.
  HRESULT ChangeState(PlayerState state);
  HRESULT CreatePlayGraph();
  HRESULT RenderPlayFile(const WCHAR* fileName);
  HRESULT RenderSourcePins(IGraphBuilder* graph, IBaseFilter* reader);
  HRESULT ConnectVideoBranch(IPin* sourcePin);
  HRESULT ConfigureSampleGrabber(IBaseFilter* grabber);
  void MatchSmallPictureSize();
  HRESULT RemoveAllFilters() { return zelvora::RemoveAllFilters(m_pGraph.Get()); }

  // The graph and the interfaces it is driven through.
  Microsoft::WRL::ComPtr<IGraphBuilder> m_pGraph;
  Microsoft::WRL::ComPtr<IMediaControl> m_pMediaControl;
  Microsoft::WRL::ComPtr<IMediaEventEx> m_pMediaEvent;
  Microsoft::WRL::ComPtr<IMediaSeeking> m_pMediaSeeking;
  Microsoft::WRL::ComPtr<IBasicAudio> m_pBasicAudio;
  Microsoft::WRL::ComPtr<IBasicVideo> m_pBasicVideo;
  // The reader with its file, and the picture branch into the frame callback.
  Microsoft::WRL::ComPtr<IBaseFilter> m_pAsfReader;
  Microsoft::WRL::ComPtr<IFileSourceFilter> m_pFileSource;
  Microsoft::WRL::ComPtr<ISampleGrabber> m_pSampleGrabber;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pNullRenderer;
  FrameCallback m_FrameCallback;
  BOOL m_bPlaying = FALSE;
  BOOL m_bGraphBuilt = FALSE;
  // The host's notify window, kept for every graph the player builds.
  GraphNotifyWindow m_NotifyWnd;
};

}  // namespace zelvora
