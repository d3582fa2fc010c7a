#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <wmsdkidl.h>
#include <wrl/client.h>

#include "media/wmruntime.h"

namespace zelvora {

// Takes picture `frame` (1-based) of a Windows Media file into the host's FrameImage record.
// S_OK, E_POINTER (null name or record) or E_INVALIDARG (anything the file or the reading refused).
// The reader comes from `runtime` (the system's Windows Media runtime unless a test stands in).
HRESULT LoadFrameFromFile(const WCHAR* fileName, int frame, unsigned long* image,
                          WmRuntime& runtime = SystemWmRuntime());

// Reads the decoded pictures of a file's video stream with the Windows Media synchronous reader
// that `runtime` creates. One object per extraction, on the heap; Destroy frees it.
class SyncFrameReader {
 public:
  static SyncFrameReader* Create(WmRuntime& runtime = SystemWmRuntime());

  // True when the file is open, its video stream (if any) selected alone and decoded, and the
  // reader positioned at the beginning.
  virtual bool Open(const WCHAR* fileName);
  // False when not opened; otherwise writes biWidth and biHeight where asked.
  virtual bool GetFrameSize(LONG* width, LONG* height);
  // Null buffer: the picture size in bytes (width x height x 3). Otherwise reads the next picture
  // into the buffer: the number of bytes copied, 0 at the end of the stream, -1 on any failure.
  virtual LONG ReadFrame(BYTE* buffer);
  virtual void Destroy();

 protected:
  explicit SyncFrameReader(WmRuntime& runtime) : m_pWmRuntime(&runtime) {}
  virtual ~SyncFrameReader();

 private:
  friend class SyncFrameReaderTestAccess;

  SyncFrameReader(const SyncFrameReader&) = delete;
  SyncFrameReader& operator=(const SyncFrameReader&) = delete;

  // Stream numbers are 7 bits in a Windows Media file: at most 127 streams.
  static constexpr WORD kMaxStreams = 127;

  // Also notes every stream's number, for the selection of the video stream alone.
  HRESULT FindStreams();
  // Picture size in bytes from the stream's format; -1 when it does not fit a 32-bit count.
  LONG PictureBytes() const;

  Microsoft::WRL::ComPtr<IWMSyncReader> m_pReader;
  Microsoft::WRL::ComPtr<IWMProfile> m_pReaderProfile;
  WORD m_wVideoStream = 0;
  VIDEOINFOHEADER m_VideoInfo = {};
  BYTE m_bOpened = 0;
  WmRuntime* m_pWmRuntime;
  // The numbers of the profile's streams, in profile order.
  WORD m_wStreamNumbers[kMaxStreams] = {};
  WORD m_wStreamCount = 0;
};

}  // namespace zelvora
