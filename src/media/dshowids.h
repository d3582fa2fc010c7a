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

// The DMO Wrapper filter, which hosts a DirectX Media Object in a graph, and the platform's Color
// Converter DMO (Windows 7 on; Wine's winegstreamer), which converts between uncompressed video
// types. Defined here so the DLL needs no extra identifier libraries.
// {94297043-BD82-4DFD-B0DE-8177739C6D20}
static const CLSID kClsidDmoWrapperFilter = {0x94297043, 0xbd82, 0x4dfd, {0xb0, 0xde, 0x81, 0x77, 0x73, 0x9c, 0x6d, 0x20}};
// {52D6F586-9F0F-4824-8FC8-E32CA04930C2}
static const IID kIidDmoWrapperFilter = {0x52d6f586, 0x9f0f, 0x4824, {0x8f, 0xc8, 0xe3, 0x2c, 0xa0, 0x49, 0x30, 0xc2}};
// {98230571-0087-4204-B020-3282538E57D3}
static const CLSID kClsidColorConverterDmo = {0x98230571, 0x0087, 0x4204, {0xb0, 0x20, 0x32, 0x82, 0x53, 0x8e, 0x57, 0xd3}};
// DMOCATEGORY_VIDEO_EFFECT {D990EE14-776C-4723-BE46-3DA2F56F10B9}
static const GUID kDmoCategoryVideoEffect = {0xd990ee14, 0x776c, 0x4723, {0xbe, 0x46, 0x3d, 0xa2, 0xf5, 0x6f, 0x10, 0xb9}};
