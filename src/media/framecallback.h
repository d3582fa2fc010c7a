#pragma once

#include <windows.h>
#include <strmif.h>
#include <qedit.h>

#include "media/frametypes.h"
#include "media/pixel/mjpegdecode.h"
#include "media/hosttypes.h"
#include "media/scoped.h"

namespace zelvora {

// Receives every frame of a sample grabber, turns it into a 24-bit bottom-up picture, takes a
// pending snapshot from it and hands it to the host's render window and render callback.
// Embedded in its owner: reference counting never destroys it.
class FrameCallback final : public ISampleGrabberCB {
 public:
  FrameCallback();
  ~FrameCallback();

  FrameCallback(const FrameCallback&) = delete;
  FrameCallback& operator=(const FrameCallback&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // ISampleGrabberCB
  STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, long length) override;

  // Owner operations.
  void SetFrameFormat(int colorFormat);
  void SetFrameSize(int width, int height);
  void SetRenderWnd(HWND window);
  // `cell` is the address of a host variable holding a RenderCallback; null changes nothing.
  void SetRenderCallback(const CallbackCell* cell);
  void SetNeedReleaseFrame(long value);
  // Frames handed to the host, and frames dropped because they could not be read (short or
  // undecodable), since the last reset.
  void ResetFrameCounts();
  void FrameCounts(ULONG* delivered, ULONG* dropped) const;
  // Records the name (cut to 259 units) and raises the snapshot flag; a null name keeps the last one.
  void RequestSnapshot(const WCHAR* fileName);
  // Writes `frame`, a picture of the current size, as a JPEG file: 1 when written, else 0.
  int SaveFrameAsJpeg(const BYTE* frame, const WCHAR* fileName);

  // The delivery gate. An operation of the host's thread that stops, pauses or tears down the
  // graph closes it first: from then on frames are dropped whole (no conversion, snapshot,
  // message or callback), and CloseGate returns once no frame is being handled any more. A frame
  // being handled may be waiting in the render message for the calling thread itself. CloseGate
  // therefore dispatches the messages sent to this thread while it waits, so a render message
  // still queued for it is handled (nested) and its frame finishes. Only when the render message
  // has already been received by this thread and stays unanswered (the host closes the gate from
  // inside its render handler, further up this very stack) does CloseGate answer it (result 0),
  // so the frame handler can finish; a message of another sender is never answered early.
  // The record the handler received stays untouched until the gate opens again. Closing nests:
  // the gate opens when every CloseGate has had its OpenGate.
  void CloseGate();
  void OpenGate();
  // Frames of a paused or stopped graph: a sample already on its way when the graph left running
  // may still reach the callback after the gate has opened again. While held, such frames are
  // dropped whole, so the host sees nothing new (and its last record stays as it was) until the
  // graph runs again.
  void HoldFrames(bool held);

 private:
  friend class FrameCallbackTestAccess;

  // Grows m_pFrameBuffer to at least `size` bytes (kept from frame to frame).
  HRESULT EnsureBuffer(long size);
  // The picture of an accepted frame in m_pFrameBuffer, or null when there is no memory.
  BYTE* ProduceFrame(int format, int width, int height, const BYTE* buffer, long length);
  // SaveFrameAsJpeg with the format and size the frame was handled with.
  int SavePicture(const BYTE* frame, int format, int width, int height, const WCHAR* fileName);
  // Takes the pending snapshot request, if any, copying its name: true when one was pending.
  bool TakeSnapshotRequest(WCHAR (&name)[kTextLength]);
  // The frame handler proper, between entering and leaving the gate.
  HRESULT HandleFrame(BYTE* buffer, long length);
  // False when the gate is closed; otherwise counts the frame in.
  bool EnterGate();
  void LeaveGate();
  // True when the render message of the frame in flight has reached this thread and is being
  // handled on its stack: the same send was seen waiting for this thread's answer, with no sent
  // message pending, twice, a moment apart (`seenSend`, `seenAt` carry the first sighting).
  bool RenderMessageHeldHere(LONG& seenSend, DWORD& seenAt);

  CRITICAL_SECTION m_Lock;
  volatile LONG m_bNeedReleaseFrame = 0;
  int m_nBufferSize = 0;
  volatile LONG m_bSnapPending = 0;
  WCHAR m_tcSnapFile[kTextLength] = {};
  MallocMem<BYTE> m_pFrameBuffer;
  RenderFrame m_Frame = {0, 0, nullptr};
  volatile LONG m_lRef = 0;
  RenderCallback volatile m_pfnRender = nullptr;
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nColorFormat = ColorFormat::NotConfigured;
  HWND volatile m_hRenderWnd = nullptr;
  // The gate (under m_Lock): how many operations hold it closed, how many frames are being
  // handled, and an event that the last frame in flight sets while the gate is closed.
  int m_nGateClosers = 0;
  bool m_bHeld = false;
  int m_nFramesInFlight = 0;
  ScopedHandle m_hNoFrameInFlight;
  // The render message in SendMessageW: a sequence number (0 while none is waiting) and the
  // thread of the window it was sent to, written by the frame handler around the send.
  volatile LONG m_lRenderSend = 0;
  volatile DWORD m_dwRenderThread = 0;
  LONG m_lSendSequence = 0;
  // MJPG frames are decoded on the streaming thread, one frame at a time.
  MjpegDecoder m_Mjpeg;
  volatile LONG m_lFramesDelivered = 0;
  volatile LONG m_lFramesDropped = 0;
};

// Holds the delivery gate of a frame callback object closed for a scope.
class DeliveryGateClosed {
 public:
  explicit DeliveryGateClosed(FrameCallback& callback) : m_callback(callback) { m_callback.CloseGate(); }
  ~DeliveryGateClosed() { m_callback.OpenGate(); }
  DeliveryGateClosed(const DeliveryGateClosed&) = delete;
  DeliveryGateClosed& operator=(const DeliveryGateClosed&) = delete;

 private:
  FrameCallback& m_callback;
};

}  // namespace zelvora
