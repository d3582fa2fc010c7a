#include "media/framecallback.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "media/pixel/framelayout.h"
#include "media/pixel/yuvconvert.h"
#include "media/scoped.h"
#include "media/snapshot.h"

namespace zelvora {
namespace {

// How long the render message must be seen held by the closing thread before it is answered.
constexpr DWORD kReplySettleMs = 30;

}  // namespace

FrameCallback::FrameCallback() {
  InitializeCriticalSection(&m_Lock);
  // Manual reset, set: no frame is being handled.
  m_hNoFrameInFlight.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
}

FrameCallback::~FrameCallback() {
  m_hRenderWnd = nullptr;
  DeleteCriticalSection(&m_Lock);
}

STDMETHODIMP FrameCallback::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_ISampleGrabberCB) || IsEqualIID(riid, IID_IUnknown)) {
    *ppv = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FrameCallback::AddRef() { return InterlockedIncrement(&m_lRef); }
STDMETHODIMP_(ULONG) FrameCallback::Release() { return InterlockedDecrement(&m_lRef); }

STDMETHODIMP FrameCallback::SampleCB(double, IMediaSample*) { return E_NOINTERFACE; }

BYTE* FrameCallback::ProduceFrame(int format, int width, int height, const BYTE* buffer, long length) {
  if (format == ColorFormat::RGB24) {
    // The platform's layout as delivered, rows aligned to 4 bytes.
    if (FAILED(EnsureBuffer(length))) return nullptr;
    memcpy(m_pFrameBuffer.get(), buffer, static_cast<size_t>(length));
    return m_pFrameBuffer.get();
  }
  // The converted picture goes into the same buffer, kept from frame to frame.
  if (FAILED(EnsureBuffer(static_cast<long>(BgrPictureBytes(width, height))))) return nullptr;
  BYTE* picture = m_pFrameBuffer.get();
  bool done = false;
  switch (format) {
    case ColorFormat::YUY2: done = Yuy2ToBgr(buffer, width, height, picture); break;
    case ColorFormat::I420: done = I420ToBgr(buffer, width, height, picture); break;
    case ColorFormat::NV12: done = Nv12ToBgr(buffer, width, height, picture); break;
    case ColorFormat::MJPG: done = m_Mjpeg.Decode(buffer, static_cast<size_t>(length), width, height, picture); break;
  }
  return done ? picture : nullptr;
}

bool FrameCallback::TakeSnapshotRequest(WCHAR (&name)[kTextLength]) {
  Locked lock(m_Lock);
  if (!m_bSnapPending) return false;
  m_bSnapPending = 0;
  memcpy(name, m_tcSnapFile, sizeof(name));
  return true;
}

STDMETHODIMP FrameCallback::BufferCB(double, BYTE* buffer, long length) {
  if (!buffer) return E_POINTER;
  // Frame handling switched off: the frame is dropped whole.
  if (m_bNeedReleaseFrame) return S_OK;
  // The graph is being stopped, paused or torn down: the frame is dropped whole as well.
  if (!EnterGate()) return S_OK;
  const HRESULT hr = HandleFrame(buffer, length);
  LeaveGate();
  return hr;
}

bool FrameCallback::EnterGate() {
  Locked lock(m_Lock);
  if (m_nGateClosers > 0 || m_bHeld) return false;
  ++m_nFramesInFlight;
  return true;
}

void FrameCallback::LeaveGate() {
  Locked lock(m_Lock);
  // The event matters only to a closer waiting for the last frame: while the gate is open, no
  // event is touched (a kernel call per frame saved).
  if (--m_nFramesInFlight == 0 && m_nGateClosers > 0 && m_hNoFrameInFlight.Get()) SetEvent(m_hNoFrameInFlight.Get());
}

bool FrameCallback::RenderMessageHeldHere(LONG& seenSend, DWORD& seenAt) {
  const LONG send = InterlockedCompareExchange(&m_lRenderSend, 0, 0);
  // Waiting for this thread, no longer queued for it (nothing sent is pending) and this thread is
  // inside a sent message: the render message is being handled further up this stack.
  const bool held = send != 0 && m_dwRenderThread == GetCurrentThreadId() && InSendMessage() &&
                    !(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE);
  if (!held) {
    seenSend = 0;
    return false;
  }
  // Seen once only, it may be a handler that has just returned while the streaming thread has
  // not yet woken up: the same send must still be waiting a moment later.
  if (seenSend != send) {
    seenSend = send;
    seenAt = GetTickCount();
    return false;
  }
  return GetTickCount() - seenAt >= kReplySettleMs;
}

void FrameCallback::CloseGate() {
  {
    Locked lock(m_Lock);
    ++m_nGateClosers;
    // No frame enters from now on; the last one in flight sets the event.
    if (m_nFramesInFlight > 0 && m_hNoFrameInFlight.Get()) ResetEvent(m_hNoFrameInFlight.Get());
  }
  LONG seenSend = 0;
  DWORD seenAt = 0;
  bool replied = false;
  for (;;) {
    // Messages sent to this thread are handled first: a render message still queued for it is
    // delivered here, nested, and its frame finishes. Posted messages stay queued.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    {
      Locked lock(m_Lock);
      if (m_nFramesInFlight == 0) return;
    }
    if (!replied && RenderMessageHeldHere(seenSend, seenAt)) {
      // The host closes the gate from inside its render handler: only an answer lets the frame
      // handler go on. The handler goes on with its frame record, which no new frame overwrites
      // while the gate is closed.
      ReplyMessage(0);
      replied = true;
      continue;
    }
    const DWORD wait = seenSend != 0 ? kReplySettleMs : 50;
    const HANDLE noFrameInFlight = m_hNoFrameInFlight.Get();
    if (noFrameInFlight)
      MsgWaitForMultipleObjectsEx(1, &noFrameInFlight, wait, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    else
      MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
  }
}

void FrameCallback::HoldFrames(bool held) {
  Locked lock(m_Lock);
  m_bHeld = held;
}

void FrameCallback::OpenGate() {
  Locked lock(m_Lock);
  if (m_nGateClosers > 0) --m_nGateClosers;
}

HRESULT FrameCallback::HandleFrame(BYTE* buffer, long length) {

  // One consistent view of the settings for the whole frame.
  const int format = m_nColorFormat;
  const int width = m_nWidth;
  const int height = m_nHeight;
  BYTE* frame = nullptr;
  bool refused = false;
  if (format == ColorFormat::MJPG) {
    // A frame the decoder cannot read (cameras send broken ones after transfer errors) is no
    // frame: nothing reaches the host, and it is counted.
    frame = length > 0 ? ProduceFrame(format, width, height, buffer, length) : nullptr;
    refused = frame == nullptr;
  } else if (format == ColorFormat::YUY2 || format == ColorFormat::I420 || format == ColorFormat::RGB24 ||
             format == ColorFormat::NV12) {
    // A buffer shorter than the frame needs, or a frame size that cannot be, is refused: nothing
    // of it is read.
    const long long needed = FrameSourceBytes(format, width, height);
    refused = needed == 0 || length < needed;
    if (!refused) frame = ProduceFrame(format, width, height, buffer, length);
  } else {
    frame = m_pFrameBuffer.get();  // not configured: whatever the buffer holds
  }
  if (refused) {
    InterlockedIncrement(&m_lFramesDropped);
    if (format == ColorFormat::MJPG) return S_OK;
  }

  // A refused buffer is no frame: a pending snapshot waits for the next one.
  WCHAR snapName[kTextLength];
  if (!refused && TakeSnapshotRequest(snapName)) SavePicture(frame, format, width, height, snapName);

  if (frame) InterlockedIncrement(&m_lFramesDelivered);
  const HWND window = m_hRenderWnd;
  if (frame && IsWindow(window)) {
    m_Frame.width = width;
    m_Frame.height = height;
    m_Frame.data = frame;
    // Published for CloseGate: which thread this send waits for, under a number of its own.
    m_dwRenderThread = GetWindowThreadProcessId(window, nullptr);
    m_lSendSequence = m_lSendSequence == LONG_MAX ? 1 : m_lSendSequence + 1;
    InterlockedExchange(&m_lRenderSend, m_lSendSequence);
    SendMessageW(window, kRenderFrameMessage, reinterpret_cast<WPARAM>(&m_Frame), 0);
    InterlockedExchange(&m_lRenderSend, 0);
  }
  const RenderCallback render = m_pfnRender;
  if (render) {
    m_Frame.width = width;
    m_Frame.height = height;
    m_Frame.data = frame;
    render(&m_Frame, 0, 0);
  }
  return S_OK;
}

int FrameCallback::SaveFrameAsJpeg(const BYTE* frame, const WCHAR* fileName) {
  return SavePicture(frame, m_nColorFormat, m_nWidth, m_nHeight, fileName);
}

int FrameCallback::SavePicture(const BYTE* frame, int format, int width, int height, const WCHAR* fileName) {
  if (!frame || width <= 0 || height <= 0) return 0;
  // Never read past the picture: a leftover buffer of an unconfigured format is checked against
  // the capacity it has.
  const bool converted = format == ColorFormat::YUY2 || format == ColorFormat::I420 || format == ColorFormat::NV12 ||
                         format == ColorFormat::MJPG;
  const long long stride = converted ? static_cast<long long>(width) * 3 : Rgb24RowBytes(width);
  const long long available =
      converted ? static_cast<long long>(BgrPictureBytes(width, height)) : static_cast<long long>(m_nBufferSize);
  if (stride * height > available || stride > 0x7FFFFFFF) return 0;
  return SaveBgrPictureAsJpeg(frame, width, height, static_cast<int>(stride), fileName);
}

void FrameCallback::SetFrameFormat(int colorFormat) { m_nColorFormat = colorFormat; }

void FrameCallback::SetFrameSize(int width, int height) {
  m_nWidth = width;
  m_nHeight = height;
  m_Frame.width = width;
  m_Frame.height = height;
}

void FrameCallback::SetRenderWnd(HWND window) { m_hRenderWnd = window; }

void FrameCallback::SetRenderCallback(const CallbackCell* cell) {
  if (cell) m_pfnRender = reinterpret_cast<RenderCallback>(*cell);
}

void FrameCallback::SetNeedReleaseFrame(long value) { m_bNeedReleaseFrame = value; }

void FrameCallback::ResetFrameCounts() {
  InterlockedExchange(&m_lFramesDelivered, 0);
  InterlockedExchange(&m_lFramesDropped, 0);
}

void FrameCallback::FrameCounts(ULONG* delivered, ULONG* dropped) const {
  if (delivered) *delivered = static_cast<ULONG>(m_lFramesDelivered);
  if (dropped) *dropped = static_cast<ULONG>(m_lFramesDropped);
}

void FrameCallback::RequestSnapshot(const WCHAR* fileName) {
  // The name and the flag change together: the frame handler reads both under the same lock.
  Locked lock(m_Lock);
  if (fileName) {
    const size_t length = wcsnlen(fileName, kTextLength - 1);
    memcpy(m_tcSnapFile, fileName, length * sizeof(WCHAR));
    m_tcSnapFile[length] = 0;
  }
  m_bSnapPending = 1;
}

HRESULT FrameCallback::EnsureBuffer(long size) {
  if (size <= 0) return E_INVALIDARG;
  if (size > m_nBufferSize) {
    m_pFrameBuffer.reset();
    m_nBufferSize = 0;
  }
  if (!m_pFrameBuffer) {
    m_pFrameBuffer.reset(static_cast<BYTE*>(malloc(static_cast<size_t>(size))));
    if (!m_pFrameBuffer) {
      m_nBufferSize = 0;
      return E_OUTOFMEMORY;
    }
    m_nBufferSize = size;
  }
  return S_OK;
}

}  // namespace zelvora
