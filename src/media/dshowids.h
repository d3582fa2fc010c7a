#pragma once

// Platform identifiers that the MinGW headers do not declare (the definitions are in libstrmiids).
#include <windows.h>

extern "C" {
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
}

// Interface identifiers for __uuidof (ComPtr::As) that control.h leaves out.
#include <control.h>
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMediaEvent, 0x56a868b6, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IMediaEventEx, 0x56a868c0, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IBasicAudio, 0x56a868b3, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IBasicVideo, 0x56a868b5, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IMediaPosition, 0x56a868b2, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
__CRT_UUID_DECL(IVideoWindow, 0x56a868b4, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)
#endif

// The FOURCC subtype I420 in the standard FOURCC GUID pattern.
static const GUID kMediaSubtypeI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// IConfigAsfWriter of the WM ASF Writer, which the MinGW headers do not declare (layout and
// identifier as the platform defines them).
#include <wmsdkidl.h>
#ifndef __IConfigAsfWriter_INTERFACE_DEFINED__
#define __IConfigAsfWriter_INTERFACE_DEFINED__
// {45086030-F7E4-486A-B504-826BB5792A3B}
static const IID IID_IConfigAsfWriter = {0x45086030, 0xf7e4, 0x486a, {0xb5, 0x04, 0x82, 0x6b, 0xb5, 0x79, 0x2a, 0x3b}};

#undef INTERFACE
#define INTERFACE IConfigAsfWriter
DECLARE_INTERFACE_(IConfigAsfWriter, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppv) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(ConfigureFilterUsingProfileId)(THIS_ DWORD profileId) PURE;
  STDMETHOD(GetCurrentProfileId)(THIS_ DWORD * profileId) PURE;
  STDMETHOD(ConfigureFilterUsingProfileGuid)(THIS_ REFGUID profile) PURE;
  STDMETHOD(GetCurrentProfileGuid)(THIS_ GUID * profile) PURE;
  STDMETHOD(ConfigureFilterUsingProfile)(THIS_ IWMProfile * profile) PURE;
  STDMETHOD(GetCurrentProfile)(THIS_ IWMProfile * *profile) PURE;
  STDMETHOD(SetIndexMode)(THIS_ BOOL indexFile) PURE;
  STDMETHOD(GetIndexMode)(THIS_ BOOL * indexFile) PURE;
};
#undef INTERFACE
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IConfigAsfWriter, 0x45086030, 0xf7e4, 0x486a, 0xb5, 0x04, 0x82, 0x6b, 0xb5, 0x79, 0x2a, 0x3b)
#endif
#endif
