#pragma once

#include <windows.h>

#include <vector>

#include "Zelvora.h"
#include "capture/camcapturegraphy.h"
#include "devices/devicelist.h"
#include "playback/fileplayer.h"

namespace zelvora {

// The component object. The six interfaces of the class and the capture mode interface over one
// reference count; every method forwards to the capture graph object, the file player, a
// short-lived device enumerator or device list, or the frame reader.
// With a controlling outer object the interfaces delegate IUnknown to it.
class CIZelvora final : public IIZelvora,
                        public IDevice,
                        public IError,
                        public IPlayer,
                        public ISetting,
                        public IUtility,
                        public ICameraMode {
 public:
  // Creates an object and returns interface `riid` of it (the inner IUnknown when aggregated).
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  // IUnknown, delegating to the controlling unknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IIZelvora
  STDMETHODIMP LoadCamera(unsigned short* tcCameraName) override;
  STDMETHODIMP SetLoadCameraName(unsigned short* tcName) override;
  STDMETHODIMP ReleaseCamera() override;
  STDMETHODIMP SetRenderCallbackFun(CallbackCell* imageRender) override;
  STDMETHODIMP SetRenderWnd(HWND hWnd) override;
  STDMETHODIMP GetCurrentCameraState(unsigned long* dwState) override;
  STDMETHODIMP TakeSnap(unsigned short* tcFileName) override;
  STDMETHODIMP StartCapture(unsigned short* tcFileName) override;
  STDMETHODIMP SetCaptureMaxSize(unsigned long dwMegaSize) override;
  STDMETHODIMP SetCaptureMaxTime(unsigned long dwMaxTime) override;
  STDMETHODIMP StopCapture() override;
  STDMETHODIMP GraphPlay() override;
  STDMETHODIMP GraphPause() override;
  STDMETHODIMP GraphStop() override;
  STDMETHODIMP LoadCameraXY(unsigned short* tcName, int X, int Y) override;
  STDMETHODIMP AudioConfig() override;
  STDMETHODIMP VideoConfig() override;
  STDMETHODIMP SetNotifyWnd(HWND hWnd) override;
  STDMETHODIMP OnGraphError(unsigned long* pError, unsigned long* pDcData) override;
  STDMETHODIMP IsPlaying() override;
  STDMETHODIMP EnumSupportFormat(unsigned short* tcBuf) override;
  STDMETHODIMP EnumSupportXy(unsigned short* tcFormat, unsigned short* tcBuf) override;
  STDMETHODIMP LoadCameraWithAudio(unsigned short* tcVideoName, unsigned long dwX, unsigned long dwY,
                                   unsigned short* tcAudioName) override;
  STDMETHODIMP SetNeedReleaseFrame(long bVal) override;
  STDMETHODIMP StartCapture2(unsigned short* tcFileName, double deVolume) override;

  // IDevice
  STDMETHODIMP EnumAllVideoDevice(CallbackCell* pCallBack) override;
  STDMETHODIMP EnumCameraDevice(CallbackCell* pCallBack) override;
  STDMETHODIMP EnumAudioInputDevice(CallbackCell* pCallBack) override;
  STDMETHODIMP EnumAudioOutputDevice(CallbackCell* pCallBack) override;
  STDMETHODIMP SetDeviceCallBac(CallbackCell* pCallBack) override;

  // IError
  STDMETHODIMP GetLastError() override;

  // IPlayer (StartPaly and PausePaly are the interface's own names: hosts call them so)
  STDMETHODIMP OpenPlayFile(unsigned short* tcFileName) override;
  STDMETHODIMP StartPaly() override;
  STDMETHODIMP PausePaly() override;
  STDMETHODIMP StopPlay() override;
  STDMETHODIMP ReleasePlayFile() override;
  STDMETHODIMP GetPlayState(unsigned long* pdwPlayState) override;
  STDMETHODIMP GetFileFrameThumb() override;
  STDMETHODIMP SetCallBackRender(CallbackCell* pCallBack) override;
  STDMETHODIMP LoadFrameFromFile(unsigned short* tcFileName, int nFrame, unsigned long* pImage) override;
  STDMETHODIMP OnGraphNotify(unsigned long* pdwError) override;
  STDMETHODIMP SetNotifyEventHwnd(HWND hWnd) override;

  // ISetting
  STDMETHODIMP LoadSetting(unsigned long* pSetting) override;
  STDMETHODIMP SaveSetting(unsigned long* pSetting) override;
  STDMETHODIMP DefaultSetting() override;

  // ICameraMode
  STDMETHODIMP GetCameraCount(int* pnCount) override;
  STDMETHODIMP GetCameraId(int nIndex, BSTR* pbstrName, BSTR* pbstrDeviceId) override;
  STDMETHODIMP GetModeCount(unsigned short* tcDeviceId, int* pnCount) override;
  STDMETHODIMP GetMode(int nIndex, CameraModeInfo* pMode) override;
  STDMETHODIMP LoadCameraMode(unsigned short* tcDeviceId, unsigned short* tcSubtype, int nWidth, int nHeight,
                              double dFrameRate, unsigned short* tcAudioDevice) override;
  STDMETHODIMP GetCurrentMode(CameraModeInfo* pMode) override;
  STDMETHODIMP SetLoadPolicy(unsigned long dwPolicy) override;
  STDMETHODIMP GetLoadPolicy(unsigned long* pdwPolicy) override;
  STDMETHODIMP GetFrameCounts(unsigned long* pdwDelivered, unsigned long* pdwDropped) override;
  STDMETHODIMP GetControlCount(int* pnCount) override;
  STDMETHODIMP GetControlInfo(int nIndex, CameraControlInfo* pInfo) override;
  STDMETHODIMP GetControlRange(long nControl, CameraControlInfo* pInfo) override;
  STDMETHODIMP GetControlValue(long nControl, long* plValue, long* plFlags) override;
  STDMETHODIMP SetControlValue(long nControl, long lValue, long lFlags) override;

 private:
  friend class CIZelvoraTestAccess;

  // The non-delegating IUnknown: owns the reference count and answers the interface table.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CIZelvora* owner) : m_owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    CIZelvora* m_owner;
  };

  explicit CIZelvora(IUnknown* outer);
  ~CIZelvora();

  HRESULT EnumDevices(int category, CallbackCell* pCallBack);

  InnerUnknown m_inner{this};
  IUnknown* m_pOuter;  // controlling unknown: the outer object, or m_inner
  volatile LONG m_lRef = 0;

  CaptureGraph m_Capture;
  FilePlayer m_Player;
  // The lists the capture mode interface hands out entry by entry: the cameras of the last
  // GetCameraCount and the modes of the last GetModeCount.
  std::vector<DeviceEntry> m_Cameras;
  std::vector<CameraModeEntry> m_Modes;
};

}  // namespace zelvora
