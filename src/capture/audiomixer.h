#pragma once

// The system's audio mixer as the recording code uses it (winmm), behind a seam so that the
// input selection can be shown with a mixer of a test's choosing.
#include <windows.h>
#include <mmsystem.h>

namespace zelvora {

class AudioMixerApi {
 public:
  virtual MMRESULT Open(HMIXER* mixer, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
  virtual MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) = 0;
  virtual MMRESULT Close(HMIXER mixer) = 0;

 protected:
  ~AudioMixerApi() = default;
};

// mixerOpen, mixerGetLineInfoW, mixerClose.
AudioMixerApi& SystemAudioMixer();

}  // namespace zelvora
