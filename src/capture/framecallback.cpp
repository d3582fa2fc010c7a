#include "capture/framecallback.h"

#include <stdlib.h>

namespace zelvora {

FrameCallback::FrameCallback() { InitializeCriticalSection(&m_Lock); }

FrameCallback::~FrameCallback() {
  m_hRenderWnd = nullptr;
  free(m_pFrameBuffer);
  m_pFrameBuffer = nullptr;
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

// Frame conversion and delivery come with the frame delivery work; until then no frame is handled.
STDMETHODIMP FrameCallback::BufferCB(double, BYTE* buffer, long) { return buffer ? E_NOTIMPL : E_POINTER; }

void FrameCallback::SetFrameFormat(int colorFormat) { m_nColorFormat = colorFormat; }

void FrameCallback::SetFrameSize(int width, int height) {
  m_nWidth = width;
  m_nHeight = height;
  m_Frame.width = width;
  m_Frame.height = height;
}

void FrameCallback::SetRenderWnd(HWND window) { m_hRenderWnd = window; }

void FrameCallback::SetRenderCallback(unsigned long* cell) {
  if (cell) m_pfnRender = reinterpret_cast<RenderCallback>(static_cast<UINT_PTR>(*cell));
}

void FrameCallback::SetNeedReleaseFrame(long value) { m_bNeedReleaseFrame = value; }

void FrameCallback::RequestSnapshot(const WCHAR*) {}

HRESULT FrameCallback::EnsureBuffer(long) { return E_NOTIMPL; }

}  // namespace zelvora
