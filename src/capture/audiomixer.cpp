#include "capture/audiomixer.h"

namespace zelvora {
namespace {

class SystemMixer final : public AudioMixerApi {
 public:
  MMRESULT Open(HMIXER* mixer, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
    return mixerOpen(mixer, id, callback, instance, flags);
  }
  MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) override {
    return mixerGetLineInfoW(mixer, line, flags);
  }
  MMRESULT Close(HMIXER mixer) override { return mixerClose(mixer); }
};

}  // namespace

AudioMixerApi& SystemAudioMixer() {
  static SystemMixer mixer;
  return mixer;
}

}  // namespace zelvora
