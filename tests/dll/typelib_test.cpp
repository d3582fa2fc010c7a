// The type library, the version record and the string resource of the DLL.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "support/dll_helpers.h"

using namespace dlltest;

namespace {

struct InterfaceInfo {
  const wchar_t* name;
  const IID* iid;
  int methods;
  const wchar_t* help;
};

const InterfaceInfo kExpected[] = {
    {L"IIZelvora", &IID_IIZelvora, 25, L"IIZelvora Interface"},
    {L"ISetting", &IID_ISetting, 3, L"ISetting Interface"},
    {L"IDevice", &IID_IDevice, 5, L"IDevice Interface"},
    {L"IPlayer", &IID_IPlayer, 11, L"IPlayer Interface"},
    {L"IError", &IID_IError, 1, L"IError Interface"},
    {L"IUtility", &IID_IUtility, 0, L"IUtility Interface"},
};

std::wstring Take(BSTR text) {
  std::wstring result = text ? text : L"";
  SysFreeString(text);
  return result;
}

ComPtr<ITypeLib> RegisteredTypeLib() {
  ComPtr<ITypeLib> library;
  EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_ZelvoraLib, 1, 0, 0, &library));
  return library;
}

std::wstring FunctionName(ITypeInfo* info, UINT index, std::wstring* doc = nullptr) {
  FUNCDESC* desc = nullptr;
  if (FAILED(info->GetFuncDesc(index, &desc))) return std::wstring();
  BSTR name = nullptr, help = nullptr;
  info->GetDocumentation(desc->memid, &name, &help, nullptr, nullptr);
  info->ReleaseFuncDesc(desc);
  if (doc) *doc = Take(help); else SysFreeString(help);
  return Take(name);
}

}  // namespace

TEST(TypeLibrary, DescribesTheClassAndSixInterfaces) {
  ComPtr<ITypeLib> library = RegisteredTypeLib();
  ASSERT_NE(nullptr, library.Get());

  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &help, nullptr, nullptr));
  EXPECT_EQ(L"ZelvoraLib", Take(name));
  EXPECT_EQ(L"Zelvora 1.0 Type Library", Take(help));
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  library->ReleaseTLibAttr(attr);

  for (const InterfaceInfo& expected : kExpected) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(*expected.iid, &info)) << expected.name;
    TYPEATTR* type = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&type));
    EXPECT_EQ(TKIND_INTERFACE, type->typekind) << expected.name;
    EXPECT_EQ(expected.methods, type->cFuncs) << expected.name;
    EXPECT_EQ(1, type->cImplTypes) << expected.name;
    EXPECT_EQ(0, type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) << expected.name;
    info->ReleaseTypeAttr(type);

    // Every interface derives from IUnknown directly.
    HREFTYPE baseRef = 0;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &baseRef));
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(baseRef, &base));
    BSTR baseName = nullptr;
    base->GetDocumentation(MEMBERID_NIL, &baseName, nullptr, nullptr, nullptr);
    EXPECT_EQ(L"IUnknown", Take(baseName)) << expected.name;

    BSTR typeName = nullptr, typeHelp = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &typeName, &typeHelp, nullptr, nullptr);
    EXPECT_EQ(expected.name, Take(typeName));
    EXPECT_EQ(expected.help, Take(typeHelp));
  }

  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_IZelvora, &coclass));
  BSTR className = nullptr, classHelp = nullptr;
  coclass->GetDocumentation(MEMBERID_NIL, &className, &classHelp, nullptr, nullptr);
  EXPECT_EQ(L"IZelvora", Take(className));
  EXPECT_EQ(L"IZelvora Class", Take(classHelp));
  TYPEATTR* type = nullptr;
  ASSERT_EQ(S_OK, coclass->GetTypeAttr(&type));
  EXPECT_EQ(TKIND_COCLASS, type->typekind);
  EXPECT_EQ(6, type->cImplTypes);
  coclass->ReleaseTypeAttr(type);
}

TEST(TypeLibrary, MethodOrderAndSignatures) {
  ComPtr<ITypeLib> library = RegisteredTypeLib();
  ASSERT_NE(nullptr, library.Get());
  ComPtr<ITypeInfo> camera, device, player;
  ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IIZelvora, &camera));
  ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IDevice, &device));
  ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IPlayer, &player));

  const wchar_t* cameraMethods[] = {
      L"LoadCamera",       L"SetLoadCameraName",   L"ReleaseCamera",     L"SetRenderCallbackFun",
      L"SetRenderWnd",     L"GetCurrentCameraState", L"TakeSnap",        L"StartCapture",
      L"SetCaptureMaxSize", L"SetCaptureMaxTime",  L"StopCapture",       L"GraphPlay",
      L"GraphPause",       L"GraphStop",           L"LoadCameraXY",      L"AudioConfig",
      L"VideoConfig",      L"SetNotifyWnd",        L"OnGraphError",      L"IsPlaying",
      L"EnumSupportFormat", L"EnumSupportXy",      L"LoadCameraWithAudio", L"SetNeedReleaseFrame",
      L"StartCapture2"};
  for (UINT i = 0; i < 25; ++i) EXPECT_EQ(cameraMethods[i], FunctionName(camera.Get(), i)) << i;

  const wchar_t* playerMethods[] = {L"OpenPlayFile", L"StartPaly",        L"PausePaly",         L"StopPlay",
                                    L"ReleasePlayFile", L"GetPlayState",  L"GetFileFrameThumb", L"SetCallBackRender",
                                    L"LoadFrameFromFile", L"OnGraphNotify", L"SetNotifyEventHwnd"};
  for (UINT i = 0; i < 11; ++i) EXPECT_EQ(playerMethods[i], FunctionName(player.Get(), i)) << i;

  std::wstring doc;
  EXPECT_EQ(L"EnumAllVideoDevice", FunctionName(device.Get(), 0, &doc));
  EXPECT_EQ(L"method EnumAllDevice", doc);

  // OnGraphError: the first parameter has no direction, the second is [out].
  FUNCDESC* desc = nullptr;
  ASSERT_EQ(S_OK, camera->GetFuncDesc(18, &desc));
  ASSERT_EQ(2, desc->cParams);
  EXPECT_EQ(0, desc->lprgelemdescParam[0].paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT));
  EXPECT_EQ(PARAMFLAG_FOUT, desc->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FOUT);
  EXPECT_EQ(VT_PTR, desc->lprgelemdescParam[1].tdesc.vt);
  EXPECT_EQ(VT_UI4, desc->lprgelemdescParam[1].tdesc.lptdesc->vt);
  camera->ReleaseFuncDesc(desc);

  // StartCapture2: a UTF-16 string (pointer to unsigned short) and a double.
  ASSERT_EQ(S_OK, camera->GetFuncDesc(24, &desc));
  ASSERT_EQ(2, desc->cParams);
  EXPECT_EQ(VT_PTR, desc->lprgelemdescParam[0].tdesc.vt);
  EXPECT_EQ(VT_UI2, desc->lprgelemdescParam[0].tdesc.lptdesc->vt);
  EXPECT_EQ(VT_R8, desc->lprgelemdescParam[1].tdesc.vt);
  camera->ReleaseFuncDesc(desc);

  // SetRenderWnd takes the window handle as wireHWND.
  ASSERT_EQ(S_OK, camera->GetFuncDesc(4, &desc));
  ASSERT_EQ(1, desc->cParams);
  ASSERT_EQ(VT_USERDEFINED, desc->lprgelemdescParam[0].tdesc.vt);
  ComPtr<ITypeInfo> handleType;
  ASSERT_EQ(S_OK, camera->GetRefTypeInfo(desc->lprgelemdescParam[0].tdesc.hreftype, &handleType));
  BSTR handleName = nullptr;
  handleType->GetDocumentation(MEMBERID_NIL, &handleName, nullptr, nullptr, nullptr);
  EXPECT_EQ(L"wireHWND", Take(handleName));
  camera->ReleaseFuncDesc(desc);
}

TEST(Resources, VersionRecordAndModuleName) {
  HMODULE module = ComponentModule();
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, &data[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(&data[0], L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(MAKELONG(5, 1), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
  EXPECT_NE(0u, fixed->dwFileFlags & VS_FF_DEBUG);

  for (const wchar_t* key : {L"\\StringFileInfo\\040904b0\\InternalName",
                             L"\\StringFileInfo\\040904b0\\OriginalFilename"}) {
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(&data[0], key, reinterpret_cast<void**>(&value), &length)) << key;
    EXPECT_STREQ(L"Zelvora.dll", value);
  }

  wchar_t name[64] = {};
  EXPECT_GT(LoadStringW(module, 100, name, 64), 0);
  EXPECT_STREQ(L"Zelvora", name);
}
