#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>
#include <qedit.h>
#include <wrl/client.h>

#include "capture/framecallback.h"
#include "media/dshowids.h"

namespace zelvora {

// Plays one Windows Media file into the host's render callback. One per component object.
class FilePlayer {
 public:
  FilePlayer();
  ~FilePlayer();

  FilePlayer(const FilePlayer&) = delete;
  FilePlayer& operator=(const FilePlayer&) = delete;

  HRESULT OpenPlayFile(const WCHAR* fileName);
  HRESULT StartPaly();
  HRESULT PausePaly();
  HRESULT StopPlay();
  HRESULT ReleasePlayFile();
  void SetCallBackRender(unsigned long* cell) { m_FrameCallback.SetRenderCallback(cell); }
  // 0: end of the file, 1: aborted, 2: nothing of interest.
  unsigned long OnGraphNotify();
  HRESULT SetNotifyEventHwnd(HWND window, UINT message);

 private:
  friend class FilePlayerTestAccess;

  Microsoft::WRL::ComPtr<IGraphBuilder> m_pGraph;
  Microsoft::WRL::ComPtr<IMediaControl> m_pMediaControl;
  Microsoft::WRL::ComPtr<IMediaEventEx> m_pMediaEvent;
  Microsoft::WRL::ComPtr<IMediaSeeking> m_pMediaSeeking;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pNullRenderer;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pAsfReader;
  Microsoft::WRL::ComPtr<ISampleGrabber> m_pSampleGrabber;
  Microsoft::WRL::ComPtr<IBasicAudio> m_pBasicAudio;
  Microsoft::WRL::ComPtr<IBasicVideo> m_pBasicVideo;
  Microsoft::WRL::ComPtr<IFileSourceFilter> m_pFileSource;
  FrameCallback m_FrameCallback;
  BOOL m_bPlaying = FALSE;
  BOOL m_bGraphBuilt = FALSE;
};

}  // namespace zelvora
