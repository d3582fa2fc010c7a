#pragma once
// Picture settings (IAMVideoProcAmp) and camera settings (IAMCameraControl) of a virtual camera.
//
// The two interfaces have methods of the same names and signatures (GetRange, Set, Get), so one
// C++ class cannot implement both: each is a small part object that forwards its IUnknown
// methods to the camera filter, which owns this class and hands the parts out from its
// QueryInterface.
//
// Like many drivers the controls do not check Set's value against the range or the step, nor the
// mode against the caps: they store what they get (flags 1 or 2), and Get returns it. The values
// live here, so every new filter object starts at the defaults. Every Set call is counted.
#include <windows.h>
#include <strmif.h>

#include "base.h"

namespace zvd {

class CameraControls {
 public:
  // `owner`: the filter's IUnknown, to which the interfaces' IUnknown methods go.
  explicit CameraControls(IUnknown* owner);
  CameraControls(const CameraControls&) = delete;
  CameraControls& operator=(const CameraControls&) = delete;

  IAMVideoProcAmp* VideoProcAmp() { return &m_procAmp; }
  IAMCameraControl* CameraControl() { return &m_cameraControl; }

  // The brightness the pictures get (the stored value, whatever its mode).
  LONG Brightness();
  // Set calls received through both interfaces, failed ones included.
  ULONG SetCalls();

 private:
  enum class Group { ProcAmp, Camera };
  struct Control {
    bool supported;
    LONG minimum, maximum, step, defaultValue, caps;
    LONG value, flags;  // current (the default and the initial mode to begin with)
  };
  static Control Supported(LONG minimum, LONG maximum, LONG step, LONG defaultValue, LONG caps, LONG flags);
  static Control Unsupported();
  static const int kProcAmpControls = 10;  // VideoProcAmp_Brightness .. VideoProcAmp_Gain
  static const int kCameraControls = 7;    // CameraControl_Pan .. CameraControl_Focus

  // The control of a property id, or null for an id that is not supported (or not one at all).
  Control* Find(Group group, LONG property);
  HRESULT GetRange(Group group, LONG property, LONG* minimum, LONG* maximum, LONG* step, LONG* defaultValue,
                   LONG* caps);
  HRESULT Set(Group group, LONG property, LONG value, LONG flags);
  HRESULT Get(Group group, LONG property, LONG* value, LONG* flags);

  // One interface of a set: its IUnknown methods go to the filter, the others to the group's
  // controls. IAMVideoProcAmp and IAMCameraControl have the same three methods.
  template <class Interface, Group kGroup>
  class Part final : public Interface {
   public:
    explicit Part(CameraControls* controls) : m_controls(controls) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return m_controls->m_owner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_controls->m_owner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_controls->m_owner->Release(); }
    STDMETHODIMP GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step, LONG* defaultValue,
                          LONG* caps) override {
      return m_controls->GetRange(kGroup, property, minimum, maximum, step, defaultValue, caps);
    }
    STDMETHODIMP Set(LONG property, LONG value, LONG flags) override {
      return m_controls->Set(kGroup, property, value, flags);
    }
    STDMETHODIMP Get(LONG property, LONG* value, LONG* flags) override {
      return m_controls->Get(kGroup, property, value, flags);
    }

   private:
    CameraControls* m_controls;
  };
  using ProcAmpPart = Part<IAMVideoProcAmp, Group::ProcAmp>;
  using CameraPart = Part<IAMCameraControl, Group::Camera>;

  IUnknown* m_owner;  // not counted: it owns this object
  ProcAmpPart m_procAmp;
  CameraPart m_cameraControl;
  CriticalSection m_lock;
  Control m_procAmpControls[kProcAmpControls];
  Control m_cameraControls[kCameraControls];
  ULONG m_setCalls = 0;
};

}  // namespace zvd
