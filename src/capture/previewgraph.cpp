// Loading the camera and building the preview graph: source filters, sample grabber, null renderers.
#include "capture/camcapturegraphy.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include "capture/formatchoice.h"
#include "capture/frameformat.h"
#include "media/camutilifun.h"
#include "media/debugline.h"
#include "media/dshowids.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

}  // namespace

HRESULT CaptureGraph::FindCamera(const WCHAR* name, ComPtr<IMoniker>* camera) {
  HRESULT hr = m_Devices.EnumDevices(DeviceCategory::Camera, nullptr);
  if (FAILED(hr)) return hr;
  return name ? m_Devices.GetDeviceByName(name, TRUE, camera->ReleaseAndGetAddressOf())
              : m_Devices.GetDeviceByIndex(TRUE, 0, camera->ReleaseAndGetAddressOf());
}

HRESULT CaptureGraph::LoadCamera(const WCHAR* cameraName) {
  ComPtr<IMoniker> camera;
  HRESULT hr = FindCamera(cameraName, &camera);
  if (FAILED(hr)) return hr;
  if (!camera) return S_FALSE;
  hr = BindSourceFilter(camera.Get(), TRUE);
  if (FAILED(hr)) return hr;
  return BuildPreviewGraph(PreviewFlags::Video);
}

HRESULT CaptureGraph::LoadCameraWithAudio(const WCHAR* videoName, const WCHAR* audioName) {
  ComPtr<IMoniker> camera;
  HRESULT hr = FindCamera(videoName, &camera);
  if (FAILED(hr)) return hr;

  // Without a usable audio input the load goes on with video only.
  m_Devices.EnumDevices(DeviceCategory::AudioInput, nullptr);
  ComPtr<IMoniker> microphone;
  if (audioName)
    m_Devices.GetDeviceByName(audioName, FALSE, &microphone);
  else
    m_Devices.GetDeviceByIndex(FALSE, 0, &microphone);

  if (!camera) return S_FALSE;
  hr = BindSourceFilter(camera.Get(), TRUE);
  if (FAILED(hr)) return hr;
  if (microphone) {
    hr = BindSourceFilter(microphone.Get(), FALSE);
    if (FAILED(hr)) return hr;
  }
  return BuildPreviewGraph(microphone ? PreviewFlags::Video | PreviewFlags::Audio : PreviewFlags::Video);
}

HRESULT CaptureGraph::BindSourceFilter(IMoniker* moniker, BOOL video) {
  if (m_bRunning) return E_FAIL;  // no load while the graph runs
  ComPtr<IBaseFilter>& field = video ? m_pVideoCapture : m_pAudioCapture;
  field.Reset();
  if (video) m_strCameraId.clear();
  if (!moniker) return S_OK;
  if (video) {
    // Kept to tell the loaded camera's id from others (the mode list).
    TaskMem<WCHAR> id;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, TaskMemOut<WCHAR>(id))) && id) m_strCameraId = id.get();
  }
  return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(field.GetAddressOf()));
}

HRESULT CaptureGraph::BuildPreviewGraph(int flags) {
  if (!m_pVideoCapture) return E_POINTER;
  if ((flags & PreviewFlags::Audio) && !m_pAudioCapture) return E_POINTER;
  const HRESULT hr = BuildAndRunPreview(flags);
  // A build that stops part-way (a failure, or no usable format: 7 or 8) leaves no half-built
  // graph behind: it could be run by GraphPlay without a connected preview, and its filters would
  // hold the devices until the next load. The graph manager and its registration stay.
  if (hr != S_OK) ReleaseGraph();
  return hr;
}

HRESULT CaptureGraph::BuildAndRunPreview(int flags) {
  HRESULT hr = CreateGraphAndSources((flags & PreviewFlags::Video) != 0);
  if (FAILED(hr)) return hr;
  hr = OpenGraphControl(m_pGraph.Get(), &m_pMediaControl, &m_pMediaEvent, m_NotifyWnd);
  if (FAILED(hr)) return hr;

  ComPtr<IAMStreamConfig> config;
  hr = FindCaptureStreamConfig(&config);
  if (FAILED(hr)) return hr;
  // The request of a mode load serves this build only: a load that host code starts from a frame
  // of the graph run below chooses as always.
  const ModeRequest* request = m_pModeRequest;
  m_pModeRequest = nullptr;
  hr = request ? SelectRequestedMode(config.Get(), *request) : SelectCaptureFormat(config.Get());
  if ((hr == kNoKnownCaptureFormat || hr == kNoCaptureFormatOfSize) && (m_dwLoadPolicy & kLoadFallbackCompressed))
    hr = SelectFallbackMode(config.Get(), hr);
  if (hr == kNoKnownCaptureFormat || hr == kNoCaptureFormatOfSize || FAILED(hr)) return hr;

  hr = ConnectPreview(flags);
  if (FAILED(hr)) return hr;
  hr = ConfigureFramesFromConnection();
  if (FAILED(hr)) return hr;
  return RunGraph();
}

HRESULT CaptureGraph::CreateGraphAndSources(BOOL video) {
  ReleaseGraph();
  HRESULT hr;
  if (!m_pGraph) {
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                          IID_IGraphBuilder, reinterpret_cast<void**>(m_pGraph.GetAddressOf()));
    if (FAILED(hr)) return hr;
    hr = m_Builder.SetFiltergraph(m_pGraph.Get());
    if (FAILED(hr)) {
      // Keep no graph the builder does not know: the next load starts over.
      m_pGraph.Reset();
      return hr;
    }
    AddGraphToRot();  // best effort
  }

  if (m_pVideoCapture) {
    hr = m_pGraph->AddFilter(m_pVideoCapture.Get(), L"Video Source Filter");
    if (FAILED(hr)) return hr;
    m_bMpeg2Capture = HasMpeg2Capture();
    if (video) {
      if (m_bMpeg2Capture) {
        m_bAudioInVideo = TRUE;
      } else {
        ComPtr<IAMStreamConfig> interleaved;
        if (SUCCEEDED(m_Builder.FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, m_pVideoCapture.Get(),
                                              IID_IAMStreamConfig,
                                              reinterpret_cast<void**>(interleaved.GetAddressOf()))))
          m_bAudioInVideo = TRUE;
      }
    }
  }

  if (!m_bAudioInVideo && m_pAudioCapture) {
    hr = m_pGraph->AddFilter(m_pAudioCapture.Get(), L"Audio Source Filter");
    if (FAILED(hr)) return hr;
    AddNullRenderer(m_pAudioRenderer);
  }
  // Added after the audio renderer under the same name: the graph makes this name unique and
  // answers VFW_S_DUPLICATE_NAME, a success.
  return AddNullRenderer(m_pVideoRenderer);
}

HRESULT CaptureGraph::AddNullRenderer(ComPtr<IBaseFilter>& field) {
  field.Reset();
  HRESULT hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                reinterpret_cast<void**>(field.GetAddressOf()));
  if (hr != S_OK) return hr;
  return m_pGraph->AddFilter(field.Get(), L"Video Renderer");
}

BOOL CaptureGraph::HasMpeg2Capture() {
  if (!m_pVideoCapture) return FALSE;
  ComPtr<IPin> pin;
  if (FAILED(m_Builder.FindPin(m_pVideoCapture.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                               &pin)) ||
      !pin)
    return FALSE;
  return m_Builder.HasMpeg2MediaType(pin.Get());
}

BOOL CaptureGraph::HasVideoPortPin() {
  if (!m_pVideoCapture) return FALSE;
  ComPtr<IPin> pin;
  return SUCCEEDED(
      m_Builder.FindPin(m_pVideoCapture.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_VIDEOPORT, nullptr, FALSE, 0, &pin));
}

HRESULT CaptureGraph::ConnectPreview(int flags) {
  DebugLine(L"r s");  // fixed texts from here to "r e": tests read the build steps
  if (flags & PreviewFlags::Video) {
    if (!m_bAudioInVideo) DebugLine(L"o set");

    ComPtr<IBaseFilter> grabber;
    if (!HasVideoPortPin() && m_bUseGrabber) {
      if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                  reinterpret_cast<void**>(grabber.GetAddressOf())))) {
        // No grabber for the rest of this object's life: the preview runs without frames.
        m_bUseGrabber = FALSE;
        grabber.Reset();
      } else {
        HRESULT hr = ConfigureSampleGrabber(grabber.Get());
        if (FAILED(hr)) return hr;
      }
    }

    HRESULT hr = m_Builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, m_pVideoCapture.Get(),
                                        nullptr, m_pVideoRenderer.Get());
    if (FAILED(hr)) {
      DebugLine(L"r o");
      hr = m_Builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, m_pVideoCapture.Get(), grabber.Get(),
                                  m_pVideoRenderer.Get());
      DebugLine(L"r p");
      if (FAILED(hr)) return hr;
    }
  }
  DebugLine(L"r r");

  if (!m_bAudioInVideo && (flags & PreviewFlags::Audio)) {
    HRESULT hr = m_Builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Audio, m_pAudioCapture.Get(), nullptr,
                                        m_pAudioRenderer.Get());
    if (FAILED(hr)) {
      Sleep(10);
      m_Builder.RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Audio, m_pAudioCapture.Get(), nullptr,
                             m_pAudioRenderer.Get());
    }
  }
  DebugLine(L"r e");
  return S_OK;
}

HRESULT CaptureGraph::ConfigureSampleGrabber(IBaseFilter* grabber) {
  AM_MEDIA_TYPE mediaType;
  BuildGrabberMediaType(&mediaType);
  HRESULT hr = AddSampleGrabber(m_pGraph.Get(), grabber, mediaType, &m_pSampleGrabber);
  if (FAILED(hr)) return hr;
  m_FrameCallback.SetFrameFormat(m_nColorFormat);
  m_FrameCallback.SetFrameSize(m_nCaptureX, m_nCaptureY);
  m_FrameCallback.ResetFrameCounts();
  return m_pSampleGrabber->SetCallback(&m_FrameCallback, 1);  // BufferCB for every sample
}

HRESULT CaptureGraph::ConfigureFramesFromConnection() {
  // No grabber: the video port path, or none could be created. No frames to read.
  if (!m_pSampleGrabber) return S_OK;
  AM_MEDIA_TYPE connected = {};
  HRESULT hr = m_pSampleGrabber->GetConnectedMediaType(&connected);
  // The interleaved preview path leaves the grabber unconnected: it delivers nothing.
  if (hr == VFW_E_NOT_CONNECTED) return S_OK;
  if (FAILED(hr)) return hr;
  // A preview pin of its own, or a converter the builder put in between, may connect the grabber
  // at another size than the capture pin was given: the frames come in the connection's layout.
  FrameFormat format;
  const bool readable = FrameFormatOfConnection(connected, &format);
  FreeMediaTypeContents(connected);
  if (!readable) return VFW_E_INVALIDMEDIATYPE;
  m_FrameCallback.SetFrameFormat(format.colorFormat);
  m_FrameCallback.SetFrameSize(format.width, format.height);
  return S_OK;
}

void CaptureGraph::BuildGrabberMediaType(AM_MEDIA_TYPE* mediaType) const {
  ZeroMemory(mediaType, sizeof(*mediaType));
  mediaType->majortype = MEDIATYPE_Video;
  switch (m_nColorFormat) {
    case ColorFormat::YUY2: mediaType->subtype = MEDIASUBTYPE_YUY2; break;
    case ColorFormat::I420: mediaType->subtype = kMediaSubtypeI420; break;
    case ColorFormat::NV12: mediaType->subtype = MEDIASUBTYPE_NV12; break;
    case ColorFormat::MJPG: mediaType->subtype = MEDIASUBTYPE_MJPG; break;
    default: mediaType->subtype = MEDIASUBTYPE_RGB24; break;
  }
}

}  // namespace zelvora
