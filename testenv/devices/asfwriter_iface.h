#pragma once
// IConfigAsfWriter, which the MinGW headers do not declare (layout as the platform defines it).
#include <windows.h>
#include <unknwn.h>
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
