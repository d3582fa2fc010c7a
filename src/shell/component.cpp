#include "shell/component.h"

#include <limits.h>

#include <new>

#include "devices/deviceenumerator.h"
#include "media/debugline.h"
#include "media/hosttypes.h"
#include "media/scoped.h"
#include "playback/framereader.h"
#include "shell/module.h"

namespace zelvora {
namespace {


// The reference count while the object is being destroyed.
constexpr LONG kDestructionRefCount = LONG_MAX / 2;

WCHAR* Text(unsigned short* text) { return reinterpret_cast<WCHAR*>(text); }

}  // namespace

// ---- creation, identity and lifetime ----

CIZelvora::CIZelvora(IUnknown* outer) : m_pOuter(outer ? outer : &m_inner) { ModuleLock(); }

CIZelvora::~CIZelvora() {
  // Frame delivery ends while every part of the object is still whole: a frame waiting for the
  // host's thread is let through first, and its render handler may still call the object (the
  // count is parked far from 0 meanwhile, see Release). No host code runs after this point: the
  // player and the camera graph are torn down with the gate closed.
  m_Capture.EndFrameDelivery();
  ModuleUnlock();
}

HRESULT CIZelvora::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  CIZelvora* object = new (std::nothrow) CIZelvora(outer);
  if (!object) return E_OUTOFMEMORY;
  // The count starts at 0; the first QueryInterface takes the caller's reference.
  HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
  if (FAILED(hr)) delete object;
  return hr;
}

STDMETHODIMP CIZelvora::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  CIZelvora* o = m_owner;
  if (IsEqualIID(riid, IID_IUnknown)) {
    // Aggregated: the outer object receives the non-delegating unknown. Otherwise the
    // first interface of the table is the object's identity.
    *ppv = o->m_pOuter == this ? static_cast<IUnknown*>(static_cast<IIZelvora*>(o)) : static_cast<IUnknown*>(this);
  } else if (IsEqualIID(riid, IID_IIZelvora)) {
    *ppv = static_cast<IIZelvora*>(o);
  } else if (IsEqualIID(riid, IID_IDevice)) {
    *ppv = static_cast<IDevice*>(o);
  } else if (IsEqualIID(riid, IID_IError)) {
    *ppv = static_cast<IError*>(o);
  } else if (IsEqualIID(riid, IID_IPlayer)) {
    *ppv = static_cast<IPlayer*>(o);
  } else if (IsEqualIID(riid, IID_ISetting)) {
    *ppv = static_cast<ISetting*>(o);
  } else if (IsEqualIID(riid, IID_IUtility)) {
    *ppv = static_cast<IUtility*>(o);
  } else if (IsEqualIID(riid, IID_ICameraMode)) {
    *ppv = static_cast<ICameraMode*>(o);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CIZelvora::InnerUnknown::AddRef() { return InterlockedIncrement(&m_owner->m_lRef); }

STDMETHODIMP_(ULONG) CIZelvora::InnerUnknown::Release() {
  LONG count = InterlockedDecrement(&m_owner->m_lRef);
  if (count == 0) {
    // Destruction stops the graph, which lets host code run (a render handler may call the
    // object through a pointer it still has). Those calls' AddRef/Release pairs must never bring
    // the count back to 0 and destroy the object a second time.
    InterlockedExchange(&m_owner->m_lRef, kDestructionRefCount);
    delete m_owner;
  }
  return count;
}

STDMETHODIMP CIZelvora::QueryInterface(REFIID riid, void** ppv) { return m_pOuter->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CIZelvora::AddRef() { return m_pOuter->AddRef(); }
STDMETHODIMP_(ULONG) CIZelvora::Release() { return m_pOuter->Release(); }

// ---- IIZelvora ----

STDMETHODIMP CIZelvora::LoadCamera(unsigned short* tcCameraName) {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.LoadCamera(Text(tcCameraName));
}

STDMETHODIMP CIZelvora::SetLoadCameraName(unsigned short*) { return S_OK; }

STDMETHODIMP CIZelvora::ReleaseCamera() {
  CallReference call(static_cast<IIZelvora*>(this));
  DebugLine(L"release cooo");  // fixed text: tests count the releases
  m_Capture.ReleaseCamera();
  return S_OK;
}

STDMETHODIMP CIZelvora::SetRenderCallbackFun(CallbackCell* imageRender) {
  m_Capture.SetRenderCallbackFun(imageRender);
  return S_OK;
}

STDMETHODIMP CIZelvora::SetRenderWnd(HWND hWnd) {
  m_Capture.SetRenderWnd(hWnd);
  return S_OK;
}

STDMETHODIMP CIZelvora::GetCurrentCameraState(unsigned long* dwState) {
  if (!dwState) return E_POINTER;
  *dwState = m_Capture.GetCurrentCameraState();
  return S_OK;
}

STDMETHODIMP CIZelvora::TakeSnap(unsigned short* tcFileName) {
  if (!tcFileName) return E_POINTER;
  m_Capture.TakeSnap(Text(tcFileName));
  return S_OK;
}

STDMETHODIMP CIZelvora::StartCapture(unsigned short* tcFileName) {
  CallReference call(static_cast<IIZelvora*>(this));
  if (!tcFileName) return E_POINTER;
  m_Capture.StartCapture(Text(tcFileName), 1.0);
  return S_OK;
}

STDMETHODIMP CIZelvora::SetCaptureMaxSize(unsigned long dwMegaSize) {
  m_Capture.SetCaptureMaxSize(dwMegaSize);
  return S_OK;
}

STDMETHODIMP CIZelvora::SetCaptureMaxTime(unsigned long) { return m_Capture.AudioCaptured() ? S_OK : S_FALSE; }

STDMETHODIMP CIZelvora::StopCapture() {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.StopCapture();
}
STDMETHODIMP CIZelvora::GraphPlay() { return m_Capture.GraphPlay(); }
STDMETHODIMP CIZelvora::GraphPause() {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.GraphPause();
}
STDMETHODIMP CIZelvora::GraphStop() {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.GraphStop();
}

STDMETHODIMP CIZelvora::LoadCameraXY(unsigned short* tcName, int X, int Y) {
  CallReference call(static_cast<IIZelvora*>(this));
  m_Capture.SetCaptureXY(X, Y);
  HRESULT hr = m_Capture.LoadCamera(Text(tcName));
  if (SUCCEEDED(hr)) return hr;
  // One retry with the first camera of the system, at the same size.
  ReleaseCamera();
  return m_Capture.LoadCamera(nullptr);
}

// The property frame runs a message loop on the host's thread until it closes, so host code may
// release the object meanwhile.
STDMETHODIMP CIZelvora::AudioConfig() {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.ShowFilterPropertyPages(FALSE);
}
STDMETHODIMP CIZelvora::VideoConfig() {
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.ShowFilterPropertyPages(TRUE);
}

STDMETHODIMP CIZelvora::SetNotifyWnd(HWND hWnd) {
  m_Capture.SetNotifyWnd(hWnd, kGraphNotifyMessage);
  return S_OK;
}

STDMETHODIMP CIZelvora::OnGraphError(unsigned long* pError, unsigned long* pDcData) {
  if (!pError || !pDcData) return E_POINTER;
  *pError = m_Capture.OnGraphError(pDcData);
  return S_OK;
}

STDMETHODIMP CIZelvora::IsPlaying() { return m_Capture.IsPlaying() ? S_OK : E_FAIL; }

STDMETHODIMP CIZelvora::EnumSupportFormat(unsigned short* tcBuf) { return m_Capture.EnumSupportFormat(Text(tcBuf)); }

STDMETHODIMP CIZelvora::EnumSupportXy(unsigned short* tcFormat, unsigned short* tcBuf) {
  return m_Capture.EnumSupportXy(Text(tcFormat), Text(tcBuf));
}

STDMETHODIMP CIZelvora::LoadCameraWithAudio(unsigned short* tcVideoName, unsigned long dwX, unsigned long dwY,
                                            unsigned short* tcAudioName) {
  CallReference call(static_cast<IIZelvora*>(this));
  m_Capture.SetCaptureXY(static_cast<int>(dwX), static_cast<int>(dwY));
  HRESULT hr = m_Capture.LoadCameraWithAudio(Text(tcVideoName), Text(tcAudioName));
  if (SUCCEEDED(hr)) return hr;
  ReleaseCamera();
  return m_Capture.LoadCameraWithAudio(nullptr, Text(tcAudioName));
}

STDMETHODIMP CIZelvora::SetNeedReleaseFrame(long bVal) {
  m_Capture.SetNeedReleaseFrame(bVal);
  return S_OK;
}

STDMETHODIMP CIZelvora::StartCapture2(unsigned short* tcFileName, double deVolume) {
  CallReference call(static_cast<IIZelvora*>(this));
  if (!tcFileName) return E_POINTER;
  m_Capture.StartCapture(Text(tcFileName), deVolume);
  return S_OK;
}

// ---- IDevice ----

HRESULT CIZelvora::EnumDevices(int category, CallbackCell* pCallBack) {
  // A fresh enumerator for the call; its tables are never read afterwards.
  DeviceEnumerator enumerator;
  return enumerator.EnumDevices(category, pCallBack);
}

STDMETHODIMP CIZelvora::EnumAllVideoDevice(CallbackCell* pCallBack) {
  return EnumDevices(DeviceCategory::AllVideo, pCallBack);
}
STDMETHODIMP CIZelvora::EnumCameraDevice(CallbackCell* pCallBack) {
  return EnumDevices(DeviceCategory::Camera, pCallBack);
}
STDMETHODIMP CIZelvora::EnumAudioInputDevice(CallbackCell* pCallBack) {
  return EnumDevices(DeviceCategory::AudioInput, pCallBack);
}
STDMETHODIMP CIZelvora::EnumAudioOutputDevice(CallbackCell* pCallBack) {
  return EnumDevices(DeviceCategory::AudioOutput, pCallBack);
}
STDMETHODIMP CIZelvora::SetDeviceCallBac(CallbackCell*) { return S_OK; }

// ---- IError ----

STDMETHODIMP CIZelvora::GetLastError() { return E_NOTIMPL; }

// ---- IPlayer ----

STDMETHODIMP CIZelvora::OpenPlayFile(unsigned short* tcFileName) { return m_Player.OpenPlayFile(Text(tcFileName)); }
STDMETHODIMP CIZelvora::StartPaly() { return m_Player.StartPlay(); }
STDMETHODIMP CIZelvora::PausePaly() { return m_Player.PausePlay(); }
STDMETHODIMP CIZelvora::StopPlay() { return m_Player.StopPlay(); }
STDMETHODIMP CIZelvora::ReleasePlayFile() { return m_Player.ReleasePlayFile(); }
STDMETHODIMP CIZelvora::GetPlayState(unsigned long*) { return S_OK; }
STDMETHODIMP CIZelvora::GetFileFrameThumb() { return S_OK; }

STDMETHODIMP CIZelvora::SetCallBackRender(CallbackCell* pCallBack) {
  m_Player.SetCallBackRender(pCallBack);
  return S_OK;
}

STDMETHODIMP CIZelvora::LoadFrameFromFile(unsigned short* tcFileName, int nFrame, unsigned long* pImage) {
  return zelvora::LoadFrameFromFile(Text(tcFileName), nFrame, pImage);
}

STDMETHODIMP CIZelvora::OnGraphNotify(unsigned long* pdwError) {
  if (!pdwError) return E_POINTER;
  *pdwError = m_Player.OnGraphNotify();
  return S_OK;
}

STDMETHODIMP CIZelvora::SetNotifyEventHwnd(HWND hWnd) {
  m_Player.SetNotifyEventHwnd(hWnd, kGraphNotifyMessage);
  return S_OK;
}

// ---- ISetting: no settings ----

STDMETHODIMP CIZelvora::LoadSetting(unsigned long*) { return S_OK; }
STDMETHODIMP CIZelvora::SaveSetting(unsigned long*) { return S_OK; }
STDMETHODIMP CIZelvora::DefaultSetting() { return S_OK; }


// ---- ICameraMode ----

namespace {

// A host's record of a mode. Rates beyond the record's room are left out (shortest intervals
// first, so the highest rates are kept).
void FillModeInfo(const CameraModeEntry& entry, CameraModeInfo* info) {
  ZeroMemory(info, sizeof(*info));
  ModeFormatText(entry.mode.format, entry.mode.fourcc, reinterpret_cast<wchar_t*>(info->tcSubtype));
  info->guidSubtype = entry.subtype;
  info->nWidth = entry.mode.width;
  info->nHeight = entry.mode.height;
  const size_t count = entry.mode.intervals.size() < ZELVORA_MAX_MODE_RATES ? entry.mode.intervals.size()
                                                                            : ZELVORA_MAX_MODE_RATES;
  for (size_t i = 0; i < count; ++i) {
    info->llIntervals[i] = entry.mode.intervals[i];
    info->dRates[i] = FrameRateOfInterval(entry.mode.intervals[i]);
  }
  info->nRateCount = static_cast<int>(count);
  info->bDeliverable = entry.mode.deliverable ? 1 : 0;
}

// A host's record of a camera control read with result `hr`: cleared, and filled on success.
HRESULT HandOutControlInfo(HRESULT hr, const ControlRange& range, CameraControlInfo* info) {
  ZeroMemory(info, sizeof(*info));
  if (FAILED(hr)) return hr;
  info->nControl = range.control;
  const wchar_t* name = ControlName(range.control);
  const size_t room = sizeof(info->tcName) / sizeof(info->tcName[0]);
  for (size_t i = 0; name && name[i] && i + 1 < room; ++i) info->tcName[i] = static_cast<unsigned short>(name[i]);
  info->nMinimum = range.minimum;
  info->nMaximum = range.maximum;
  info->nStep = range.step;
  info->nDefault = range.defaultValue;
  info->nCapsFlags = range.caps;
  return S_OK;
}

}  // namespace

STDMETHODIMP CIZelvora::GetCameraCount(int* pnCount) {
  if (!pnCount) return E_POINTER;
  *pnCount = 0;
  HRESULT hr = ListCameras(&m_Cameras);
  if (FAILED(hr)) return hr;
  *pnCount = static_cast<int>(m_Cameras.size());
  return S_OK;
}

STDMETHODIMP CIZelvora::GetCameraId(int nIndex, BSTR* pbstrName, BSTR* pbstrDeviceId) {
  if (!pbstrName || !pbstrDeviceId) return E_POINTER;
  *pbstrName = nullptr;
  *pbstrDeviceId = nullptr;
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_Cameras.size()) return E_INVALIDARG;
  BSTR name = SysAllocString(m_Cameras[nIndex].name.c_str());
  BSTR id = SysAllocString(m_Cameras[nIndex].id.c_str());
  if (!name || !id) {
    SysFreeString(name);
    SysFreeString(id);
    return E_OUTOFMEMORY;
  }
  *pbstrName = name;
  *pbstrDeviceId = id;
  return S_OK;
}

STDMETHODIMP CIZelvora::GetModeCount(unsigned short* tcDeviceId, int* pnCount) {
  if (!pnCount) return E_POINTER;
  *pnCount = 0;
  CallReference call(static_cast<IIZelvora*>(this));
  HRESULT hr = m_Capture.ListModes(Text(tcDeviceId), &m_Modes);
  if (FAILED(hr)) return hr;
  *pnCount = static_cast<int>(m_Modes.size());
  return S_OK;
}

STDMETHODIMP CIZelvora::GetMode(int nIndex, CameraModeInfo* pMode) {
  if (!pMode) return E_POINTER;
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_Modes.size()) return E_INVALIDARG;
  FillModeInfo(m_Modes[nIndex], pMode);
  return S_OK;
}

STDMETHODIMP CIZelvora::LoadCameraMode(unsigned short* tcDeviceId, unsigned short* tcSubtype, int nWidth, int nHeight,
                                       double dFrameRate, unsigned short* tcAudioDevice) {
  if (!tcDeviceId) return E_POINTER;
  ModeRequest request;
  if (!ParseModeFormatName(Text(tcSubtype), &request)) return E_INVALIDARG;
  // NaN fails every comparison: it is refused with the negative rates.
  if (nWidth <= 0 || nHeight <= 0 || !(dFrameRate >= 0)) return E_INVALIDARG;
  request.width = nWidth;
  request.height = nHeight;
  request.frameRate = dFrameRate;
  CallReference call(static_cast<IIZelvora*>(this));
  return m_Capture.LoadCameraMode(Text(tcDeviceId), request, Text(tcAudioDevice));
}

STDMETHODIMP CIZelvora::GetCurrentMode(CameraModeInfo* pMode) {
  if (!pMode) return E_POINTER;
  CameraModeEntry entry;
  HRESULT hr = m_Capture.GetCurrentMode(&entry);
  if (FAILED(hr)) return hr;
  FillModeInfo(entry, pMode);
  return S_OK;
}

STDMETHODIMP CIZelvora::SetLoadPolicy(unsigned long dwPolicy) {
  if (dwPolicy & ~static_cast<unsigned long>(kLoadFallbackCompressed)) return E_INVALIDARG;
  m_Capture.SetLoadPolicy(dwPolicy);
  return S_OK;
}

STDMETHODIMP CIZelvora::GetLoadPolicy(unsigned long* pdwPolicy) {
  if (!pdwPolicy) return E_POINTER;
  *pdwPolicy = m_Capture.LoadPolicy();
  return S_OK;
}

STDMETHODIMP CIZelvora::GetFrameCounts(unsigned long* pdwDelivered, unsigned long* pdwDropped) {
  if (!pdwDelivered || !pdwDropped) return E_POINTER;
  ULONG delivered = 0, dropped = 0;
  m_Capture.FrameCounts(&delivered, &dropped);
  *pdwDelivered = delivered;
  *pdwDropped = dropped;
  return S_OK;
}

// GetControlCount reads the loaded camera's controls and keeps the list (a load or a release
// empties it); GetControlInfo hands out its entries.
STDMETHODIMP CIZelvora::GetControlCount(int* pnCount) {
  if (!pnCount) return E_POINTER;
  return m_Capture.ListControls(pnCount);
}

STDMETHODIMP CIZelvora::GetControlInfo(int nIndex, CameraControlInfo* pInfo) {
  if (!pInfo) return E_POINTER;
  ControlRange range;
  return HandOutControlInfo(m_Capture.ListedControl(nIndex, &range), range, pInfo);
}

STDMETHODIMP CIZelvora::GetControlRange(long nControl, CameraControlInfo* pInfo) {
  if (!pInfo) return E_POINTER;
  ControlRange range;
  return HandOutControlInfo(m_Capture.GetControlRange(nControl, &range), range, pInfo);
}

STDMETHODIMP CIZelvora::GetControlValue(long nControl, long* plValue, long* plFlags) {
  if (!plValue || !plFlags) return E_POINTER;
  *plValue = 0;
  *plFlags = 0;
  long value = 0, flags = 0;
  HRESULT hr = m_Capture.GetControlValue(nControl, &value, &flags);
  if (FAILED(hr)) return hr;
  *plValue = value;
  *plFlags = flags;
  return hr;
}

STDMETHODIMP CIZelvora::SetControlValue(long nControl, long lValue, long lFlags) {
  return m_Capture.SetControlValue(nControl, lValue, lFlags);
}

}  // namespace zelvora
