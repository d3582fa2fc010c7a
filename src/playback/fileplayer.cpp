#include "playback/fileplayer.h"

namespace zelvora {

FilePlayer::FilePlayer() = default;

FilePlayer::~FilePlayer() {
  m_bPlaying = FALSE;
  ReleasePlayFile();
}

// Playback is built with the playback work; until then the operations report E_NOTIMPL.
HRESULT FilePlayer::OpenPlayFile(const WCHAR* fileName) { return fileName ? E_NOTIMPL : E_POINTER; }
HRESULT FilePlayer::StartPaly() { return E_NOTIMPL; }
HRESULT FilePlayer::PausePaly() { return E_NOTIMPL; }
HRESULT FilePlayer::StopPlay() { return E_NOTIMPL; }
HRESULT FilePlayer::ReleasePlayFile() { return S_OK; }
unsigned long FilePlayer::OnGraphNotify() { return 2; }
HRESULT FilePlayer::SetNotifyEventHwnd(HWND, UINT) { return S_OK; }

}  // namespace zelvora
