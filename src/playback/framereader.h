#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <wmsdkidl.h>
#include <wrl/client.h>

namespace zelvora {

// Takes picture `frame` (1-based) of a Windows Media file into the host's FrameImage record.
// S_OK, E_POINTER (null name or record) or E_INVALIDARG (anything the file or the reading refused).
HRESULT LoadFrameFromFile(const WCHAR* fileName, int frame, unsigned long* image);

// Reads the decoded pictures of a file's video stream with the Windows Media synchronous reader.
// One object per extraction, on the heap; Destroy frees it.
class SyncFrameReader {
 public:
  static SyncFrameReader* Create();

  // True when the file is open, its video stream (if any) selected and decoded, and the reader
  // positioned at the beginning.
  virtual bool Open(const WCHAR* fileName);
  // False when not opened; otherwise writes biWidth and biHeight where asked.
  virtual bool GetFrameSize(LONG* width, LONG* height);
  // Null buffer: the picture size in bytes (width x height x 3). Otherwise reads the next picture
  // into the buffer: the number of bytes copied, 0 at the end of the stream, -1 on any failure.
  virtual LONG ReadFrame(BYTE* buffer);
  virtual void Destroy();

 protected:
  SyncFrameReader() = default;
  virtual ~SyncFrameReader();

 private:
  friend class SyncFrameReaderTestAccess;

  SyncFrameReader(const SyncFrameReader&) = delete;
  SyncFrameReader& operator=(const SyncFrameReader&) = delete;

  HRESULT FindStreams();
  // Picture size in bytes from the stream's format; -1 when it does not fit a 32-bit count.
  LONG PictureBytes() const;

  Microsoft::WRL::ComPtr<IWMSyncReader> m_pReader;
  Microsoft::WRL::ComPtr<IWMProfile> m_pReaderProfile;
  WORD m_wVideoStream = 0;
  VIDEOINFOHEADER m_VideoInfo = {};
  BYTE m_bOpened = 0;
  // wmvcore.dll has no import library: it is loaded for the reader's life.
  HMODULE m_hWmvCore = nullptr;
};

}  // namespace zelvora
