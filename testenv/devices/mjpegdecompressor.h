#pragma once
// Stand-in for the platform's "MJPEG Decompressor" transform filter, which Wine does not have:
// MJPG video in, RGB24 (bottom-up) of the same size out, one picture per sample, decoded on the
// upstream thread in Receive. Registered under the platform filter's class id so that intelligent
// connect puts it between an MJPG capture stream and a sink that takes uncompressed video:
// CLSID_MjpegDec {301056D0-6DFF-11D2-9EEB-006008039E37} (uuids.h).
#include <windows.h>
#include <strmif.h>

#include "base.h"
#include "mjpegframe.h"

namespace zvd {

class MjpegDecompressor;

class DecompressorInputPin final : public InputPin {
 public:
  explicit DecompressorInputPin(MjpegDecompressor* filter);

  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;

 private:
  MjpegDecompressor* m_decompressor;
};

class DecompressorOutputPin final : public OutputPin {
 public:
  explicit DecompressorOutputPin(MjpegDecompressor* filter);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;
  // The downstream pin and its sample input (null while unconnected; they change only while
  // the filter is stopped).
  IPin* Peer() const { return m_peer.Get(); }
  IMemInputPin* Input() const { return m_input.Get(); }
  IMemAllocator* Allocator() const { return m_allocator.Get(); }

 protected:
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  MjpegDecompressor* m_decompressor;
};

class MjpegDecompressor final : public BaseFilter {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  int PinCount() override { return 2; }
  BasePin* PinAt(int index) override { return index == 0 ? static_cast<BasePin*>(&m_in) : &m_out; }

  // Size of the pictures: the input's while it is connected (false otherwise).
  bool InputSize(LONG* width, LONG* height);
  // Decodes one sample and delivers the picture (the input pin's Receive, stream lock held).
  HRESULT Deliver(IMediaSample* sample);
  // Serialises Receive and EndOfStream, and lets Stop wait for a sample in flight.
  CriticalSection& StreamLock() { return m_streamLock; }
  DecompressorOutputPin& Output() { return m_out; }

 protected:
  void OnStopped() override;

 private:
  MjpegDecompressor();
  ~MjpegDecompressor() override = default;

  DecompressorInputPin m_in;
  DecompressorOutputPin m_out;
  CriticalSection m_streamLock;
  zvjpeg::FrameDecoder m_decoder;  // used under the stream lock
};

}  // namespace zvd
