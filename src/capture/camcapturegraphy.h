#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>
#include <qedit.h>
#include <wmsdkidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "capture/audiomixer.h"
#include "capture/controlcheck.h"
#include "capture/modechoice.h"
#include "devices/deviceenumerator.h"
#include "media/camgraphybuilder.h"
#include "media/dshowids.h"
#include "media/framecallback.h"
#include "media/frametypes.h"
#include "media/graphfilters.h"
#include "media/graphnotify.h"
#include "media/graphrot.h"
#include "media/wmprofile.h"

namespace zelvora {

class CapabilityList;
struct RecordingStream;

// A capture mode with the subtype GUID of its records.
struct CameraModeEntry {
  CaptureMode mode;
  GUID subtype = GUID_NULL;
};

// Build flags of BuildPreviewGraph.
namespace PreviewFlags {
enum : int { Audio = 1, Video = 2 };
}

// The camera side of the component: the preview graph, its source filters, the frame callback,
// recording and the flags that the camera operations share. One per component object.
class CaptureGraph {
 public:
  CaptureGraph();
  // Ends frame delivery, then takes the graph apart.
  ~CaptureGraph();

  CaptureGraph(const CaptureGraph&) = delete;
  CaptureGraph& operator=(const CaptureGraph&) = delete;

  // Lifetime and state.
  HRESULT ReleaseCamera();
  unsigned long GetCurrentCameraState() const { return m_dwCameraState; }

  // Loading the camera and building the preview graph.
  HRESULT LoadCamera(const WCHAR* cameraName);
  HRESULT LoadCameraWithAudio(const WCHAR* videoName, const WCHAR* audioName);

  // Frame delivery (forwarded to the frame callback object).
  void SetRenderCallbackFun(const CallbackCell* imageRender) { m_FrameCallback.SetRenderCallback(imageRender); }
  void SetRenderWnd(HWND window) { m_FrameCallback.SetRenderWnd(window); }
  void SetNeedReleaseFrame(long value) { m_FrameCallback.SetNeedReleaseFrame(value); }
  void TakeSnap(const WCHAR* fileName) { m_FrameCallback.RequestSnapshot(fileName); }
  // Ends frame delivery for the rest of the object's life (a frame in flight is let through
  // first): no host code runs from this object's frames afterwards. For the owner's destruction.
  void EndFrameDelivery() { m_FrameCallback.CloseGate(); }

  // Graph control and events.
  HRESULT GraphPlay();
  HRESULT GraphPause();
  HRESULT GraphStop();
  BOOL IsPlaying() const { return m_bRunning; }
  HRESULT SetNotifyWnd(HWND window, UINT message);
  unsigned long OnGraphError(unsigned long* detail);

  // Capture formats.
  HRESULT SetCaptureXY(int x, int y);
  HRESULT EnumSupportFormat(WCHAR* buffer);
  HRESULT EnumSupportXy(const WCHAR* format, WCHAR* buffer);

  // Capture modes. The modes of the camera with id `deviceId`, or of the loaded camera for a null
  // or empty id.
  HRESULT ListModes(const WCHAR* deviceId, std::vector<CameraModeEntry>* modes);
  // Takes down what is loaded, opens the camera with id `deviceId` at the mode asked for, with the
  // audio input of that id or name (null: none), and runs the preview.
  HRESULT LoadCameraMode(const WCHAR* deviceId, const ModeRequest& request, const WCHAR* audioDevice);
  // The mode the loaded camera's capture pin was set to.
  HRESULT GetCurrentMode(CameraModeEntry* mode);
  // Flags of kLoadFallbackCompressed for LoadCamera and LoadCameraWithAudio.
  void SetLoadPolicy(DWORD policy) { m_dwLoadPolicy = policy; }
  DWORD LoadPolicy() const { return m_dwLoadPolicy; }
  void FrameCounts(ULONG* delivered, ULONG* dropped) { m_FrameCallback.FrameCounts(delivered, dropped); }

  // Camera controls of the loaded camera (ids of controlcheck.h): VFW_E_WRONG_STATE when none is
  // loaded, E_INVALIDARG for an unknown id or a mode other than exactly automatic or manual,
  // E_NOINTERFACE when the camera lacks the control's set, kNoSuchControl when it lacks the
  // control. The list holds every control whose range the camera reports, in id order; it is
  // read from the camera and kept until the next list or the end of the graph (reading the
  // ranges may take USB requests), and ListedControl gives its entries.
  HRESULT ListControls(int* count);
  HRESULT ListedControl(int index, ControlRange* range) const;
  HRESULT GetControlRange(long control, ControlRange* range);
  HRESULT GetControlValue(long control, long* value, long* flags);
  // A manual value off the range or step (kControlValueRefused) and a mode the control does not
  // offer (kControlModeRefused) never reach the camera; the camera's own failure is returned.
  HRESULT SetControlValue(long control, long value, long flags);

  // Recording.
  HRESULT StartCapture(const WCHAR* fileName, double volume);
  HRESULT StopCapture();
  HRESULT SetCaptureMaxSize(unsigned long megaBytes);
  BOOL AudioCaptured() const { return m_bAudioCaptured; }

  // Property pages of the video (TRUE) or audio (FALSE) capture filter.
  HRESULT ShowFilterPropertyPages(BOOL video);

 private:
  friend class CaptureGraphTestAccess;
  friend class CaptureFormatTestAccess;
  friend class FrameDeliveryTestAccess;

  HRESULT ReleaseGraph();
  // A camera is loaded: its filter is in the graph (whether the graph runs, pauses or stops).
  bool CameraLoaded() const;
  // Takes every event out of the graph's queue and frees it: called when the graph is emptied,
  // so no event of the filters just removed is reported against the next load.
  void DiscardQueuedEvents();
  // Pauses (CameraState::Paused) or stops (Stopped) a running graph with the delivery gate
  // closed; a graph that does not run is left as it is (S_OK).
  HRESULT LeaveRunning(unsigned long state);
  // GraphPlay with every success reported as S_OK (a graph still on its way to running gives
  // S_FALSE): the end of an operation that leaves the graph running.
  HRESULT RunGraph() {
    const HRESULT hr = GraphPlay();
    return FAILED(hr) ? hr : S_OK;
  }
  // Stops the graph whatever its state (m_bRunning aside).
  void StopGraph();
  HRESULT RemoveAllFilters() { return zelvora::RemoveAllFilters(m_pGraph.Get()); }

  // Preview graph construction.
  // Lists the cameras and finds the one named (null: the first one listed).
  HRESULT FindCamera(const WCHAR* name, Microsoft::WRL::ComPtr<IMoniker>* camera);
  HRESULT BindSourceFilter(IMoniker* moniker, BOOL video);
  HRESULT BuildPreviewGraph(int flags);
  // The graph and its sources, the capture format, the preview branches, the frame format of the
  // grabber's connection, then running the graph: S_OK only when the graph runs.
  HRESULT BuildAndRunPreview(int flags);
  HRESULT CreateGraphAndSources(BOOL video);
  HRESULT AddNullRenderer(Microsoft::WRL::ComPtr<IBaseFilter>& field);
  BOOL HasMpeg2Capture();
  BOOL HasVideoPortPin();
  HRESULT ConnectPreview(int flags);
  HRESULT ConfigureSampleGrabber(IBaseFilter* grabber);
  // Gives the frame callback object the pixel format and size the sample grabber was connected
  // with; VFW_E_INVALIDMEDIATYPE when its frames cannot be read.
  HRESULT ConfigureFramesFromConnection();
  void BuildGrabberMediaType(AM_MEDIA_TYPE* mediaType) const;

  // Capture format selection.
  HRESULT FindCaptureStreamConfig(IAMStreamConfig** config);
  // Opens the capability list of the camera's capture stream configuration.
  HRESULT OpenCameraCapabilities(CapabilityList* list);
  HRESULT SelectCaptureFormat(IAMStreamConfig* config);
  HRESULT ApplyCaptureFormat(int index, IAMStreamConfig* config);
  // Capture modes: the records of a stream configuration, the mode of a load through the mode
  // interface (m_pModeRequest), and the fallback of the sized loads.
  HRESULT ReadModeRecords(IAMStreamConfig* config, std::vector<ModeRecord>* records, std::vector<GUID>* subtypes);
  HRESULT FindStreamConfigOf(IBaseFilter* source, IAMStreamConfig** config);
  HRESULT SelectRequestedMode(IAMStreamConfig* config, const ModeRequest& request);
  // `choiceResult` is what the specified choice returned (7 or 8): kept when no mode falls back.
  HRESULT SelectFallbackMode(IAMStreamConfig* config, HRESULT choiceResult);
  HRESULT ApplyMode(const ModeChoice& choice, IAMStreamConfig* config);

  // Running object table.
  HRESULT AddGraphToRot() { return zelvora::AddGraphToRot(m_pGraph.Get(), &m_dwRotRegister); }
  void RemoveGraphFromRot() { zelvora::RemoveGraphFromRot(&m_dwRotRegister); }

  // Recording: the writer and its profile.
  HRESULT ConfigureRecordingWriter();
  HRESULT BuildRecordingProfile(BOOL withAudio, int width, int height);
  // Adds one stream of `majorType` to m_pProfile: `chooseFormat` gives its media type (and may
  // tune the stream's properties), `settings` its names, rates and number.
  HRESULT AddRecordingStream(REFGUID majorType, const RecordingStream& settings,
                             const std::function<HRESULT(IWMMediaProps*, WmMediaTypeRecord*)>& chooseFormat);
  // Marks the audio stream mandatory and the video stream optional.
  HRESULT SetRecordingPriorities();
  BOOL FindCodecFormat(IWMProfileManager* manager, REFGUID majorType, REFGUID subtype, WM_MEDIA_TYPE** record);
  HRESULT GetStreamMediaType(IWMMediaProps* props, WM_MEDIA_TYPE** record);
  // Recording: the audio input and the writer's removal.
  HRESULT SetAudioInputLevel(IBaseFilter* audioFilter, double level);
  MMRESULT FindMixerInputNames(WCHAR* longName, UINT longChars, WCHAR* shortName, UINT shortChars);
  HRESULT RemoveRecordingWriter();
  // Connects the camera's capture stream to the writer through the platform's colour converter,
  // as I420 pictures of the capture size. On failure the converter leaves the graph again.
  HRESULT RenderVideoThroughConverter();
  // Stops a paused graph (GraphStop acts on a running one only): filters are added, removed and
  // connected only in a stopped graph.
  HRESULT StopPausedGraph();
  // The device-lost event of OnGraphError's drain: true when it is reported (the drain then
  // ends), with the detail bytes written; false when it is passed over.
  bool ReportDeviceLost(LONG_PTR sender, LONG_PTR state, BYTE* detail);

  // The graph, the builder that connects it, and the interfaces it is driven through.
  Microsoft::WRL::ComPtr<IGraphBuilder> m_pGraph;
  CaptureBuilder m_Builder;
  Microsoft::WRL::ComPtr<IMediaControl> m_pMediaControl;
  Microsoft::WRL::ComPtr<IMediaEventEx> m_pMediaEvent;
  // The capture sources, as the device list found them.
  DeviceEnumerator m_Devices;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pAudioCapture;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pVideoCapture;
  // The preview branches: the picture into the frame callback, the sound to a renderer.
  Microsoft::WRL::ComPtr<ISampleGrabber> m_pSampleGrabber;
  FrameCallback m_FrameCallback;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pVideoRenderer;
  Microsoft::WRL::ComPtr<IBaseFilter> m_pAudioRenderer;
  // The recording writer, its file and its profile.
  Microsoft::WRL::ComPtr<IBaseFilter> m_pAsfWriter;
  Microsoft::WRL::ComPtr<IFileSinkFilter> m_pFileSink;
  Microsoft::WRL::ComPtr<IWMProfile> m_pProfile;
  DWORD m_dwRotRegister = 0;
  BOOL m_bRunning = FALSE;
  BOOL m_bMpeg2Capture = FALSE;
  BOOL m_bAudioInVideo = FALSE;
  BOOL m_bUseGrabber = TRUE;
  unsigned long m_dwCameraState = CameraState::None;
  // Recording limits: stored, never read (no operation enforces them).
  BOOL m_bLimitBySize = FALSE;
  BOOL m_bLimitByTime = FALSE;
  DWORD m_dwMaxMegaSize = 0;
  DWORD m_dwMaxTime = 0;
  BOOL m_bCapturing = FALSE;
  WCHAR m_tcCaptureFile[kTextLength] = {};
  int m_nColorFormat = ColorFormat::RGB24;
  int m_nCaptureX = 640;
  int m_nCaptureY = 480;
  BOOL m_bAudioCaptured = FALSE;
  // The host's notify window, kept for every graph this object builds.
  GraphNotifyWindow m_NotifyWnd;
  // Capture modes: the request of a mode load while it builds, the sized loads' policy, and the
  // id of the camera bound last.
  const ModeRequest* m_pModeRequest = nullptr;
  DWORD m_dwLoadPolicy = 0;
  std::wstring m_strCameraId;
  // Camera controls: the list the last ListControls read; emptied with the graph.
  std::vector<ControlRange> m_Controls;
  // Platform services of the recording, replaceable for tests (not owned).
  WmRuntime* m_pWmRuntime = &SystemWmRuntime();
  AudioMixerApi* m_pMixer = &SystemAudioMixer();
};

}  // namespace zelvora
