// The type library, the version record and the string resource of the DLL.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <type_traits>
#include <vector>

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

// A parameter as the type library records it: direction, type and name, e.g. "out ptr ui4 dwState".
std::wstring TypeText(ITypeInfo* info, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_PTR: return L"ptr " + TypeText(info, *type.lptdesc);
    case VT_UI2: return L"ui2";
    case VT_UI4: return L"ui4";
    case VT_UI8: return L"ui8";
    case VT_I4: return L"i4";
    case VT_INT: return L"int";
    case VT_R8: return L"r8";
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> named;
      BSTR name = nullptr;
      if (SUCCEEDED(info->GetRefTypeInfo(type.hreftype, &named)))
        named->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      return Take(name);
    }
    default: return L"vt" + std::to_wstring(type.vt);
  }
}

// "Name(param, param)" with every parameter's direction, type and name; the result is HRESULT.
std::wstring Signature(ITypeInfo* info, UINT index) {
  FUNCDESC* desc = nullptr;
  if (FAILED(info->GetFuncDesc(index, &desc))) return L"?";
  BSTR names[8] = {};
  UINT count = 0;
  info->GetNames(desc->memid, names, 8, &count);
  std::wstring text = Take(names[0]) + L"(";
  for (SHORT i = 0; i < desc->cParams; ++i) {
    const ELEMDESC& param = desc->lprgelemdescParam[i];
    const USHORT flags = param.paramdesc.wParamFlags;
    if (i) text += L", ";
    if (flags & PARAMFLAG_FIN) text += L"in ";
    if (flags & PARAMFLAG_FOUT) text += L"out ";
    text += TypeText(info, param.tdesc) + L" " + (i + 1u < count ? Take(names[i + 1]) : L"?");
  }
  text += L")";
  if (desc->elemdescFunc.tdesc.vt != VT_HRESULT) text += L" not HRESULT";
  info->ReleaseFuncDesc(desc);
  return text;
}

// A callback cell is pointer-sized: the 32-bit library keeps the unsigned long it always had.
#ifdef _WIN64
#define CELL L"in ptr ui8 "
using HostCell = unsigned long long;
#else
#define CELL L"in ptr ui4 "
using HostCell = unsigned long;
#endif

// Hosts compile against the same C++ types: 32-bit ones still pass unsigned long*.
static_assert(std::is_same<CallbackCell, HostCell>::value, "CallbackCell");
static_assert(std::is_same<decltype(&IIZelvora::SetRenderCallbackFun),
                           HRESULT (STDMETHODCALLTYPE IIZelvora::*)(HostCell*)>::value, "SetRenderCallbackFun");
static_assert(std::is_same<decltype(&IDevice::EnumCameraDevice),
                           HRESULT (STDMETHODCALLTYPE IDevice::*)(HostCell*)>::value, "EnumCameraDevice");
static_assert(std::is_same<decltype(&IPlayer::SetCallBackRender),
                           HRESULT (STDMETHODCALLTYPE IPlayer::*)(HostCell*)>::value, "SetCallBackRender");
static_assert(std::is_same<decltype(&IPlayer::LoadFrameFromFile),
                           HRESULT (STDMETHODCALLTYPE IPlayer::*)(unsigned short*, int, unsigned long*)>::value,
              "LoadFrameFromFile");

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

// Every method's parameters of the six interfaces, as hosts and marshalers read them.
TEST(TypeLibrary, ParameterTypesOfEveryMethod) {
  ComPtr<ITypeLib> library = RegisteredTypeLib();
  ASSERT_NE(nullptr, library.Get());
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
  EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
  library->ReleaseTLibAttr(attr);

  const struct {
    const IID* iid;
    std::vector<std::wstring> methods;
  } expected[] = {
      {&IID_IIZelvora,
       {L"LoadCamera(in ptr ui2 tcCameraName)", L"SetLoadCameraName(in ptr ui2 tcName)", L"ReleaseCamera()",
        L"SetRenderCallbackFun(" CELL L"imageRender)", L"SetRenderWnd(in wireHWND hWnd)",
        L"GetCurrentCameraState(out ptr ui4 dwState)", L"TakeSnap(in ptr ui2 tcFileName)",
        L"StartCapture(in ptr ui2 tcFileName)", L"SetCaptureMaxSize(in ui4 dwMegaSize)",
        L"SetCaptureMaxTime(in ui4 dwMaxTime)", L"StopCapture()", L"GraphPlay()", L"GraphPause()", L"GraphStop()",
        L"LoadCameraXY(in ptr ui2 tcName, in int X, in int Y)", L"AudioConfig()", L"VideoConfig()",
        L"SetNotifyWnd(in wireHWND hWnd)", L"OnGraphError(ptr ui4 pError, out ptr ui4 pDcData)", L"IsPlaying()",
        L"EnumSupportFormat(out ptr ui2 tcBuf)", L"EnumSupportXy(in ptr ui2 tcFormat, out ptr ui2 tcBuf)",
        L"LoadCameraWithAudio(in ptr ui2 tcVideoName, in ui4 dwX, in ui4 dwY, in ptr ui2 tcAudioName)",
        L"SetNeedReleaseFrame(in i4 bVal)", L"StartCapture2(in ptr ui2 tcFileName, in r8 deVolume)"}},
      {&IID_ISetting,
       {L"LoadSetting(out ptr ui4 pSetting)", L"SaveSetting(in ptr ui4 pSetting)", L"DefaultSetting()"}},
      {&IID_IDevice,
       {L"EnumAllVideoDevice(" CELL L"pCallBack)", L"EnumCameraDevice(" CELL L"pCallBack)",
        L"EnumAudioInputDevice(" CELL L"pCallBack)", L"EnumAudioOutputDevice(" CELL L"pCallBack)",
        L"SetDeviceCallBac(" CELL L"pCallBack)"}},
      {&IID_IPlayer,
       {L"OpenPlayFile(in ptr ui2 tcFileName)", L"StartPaly()", L"PausePaly()", L"StopPlay()",
        L"ReleasePlayFile()", L"GetPlayState(out ptr ui4 pdwPlayState)", L"GetFileFrameThumb()",
        L"SetCallBackRender(" CELL L"pCallBack)",
        L"LoadFrameFromFile(in ptr ui2 tcFileName, in int nFrame, out ptr ui4 pImage)",
        L"OnGraphNotify(out ptr ui4 pdwError)", L"SetNotifyEventHwnd(in wireHWND hWnd)"}},
      {&IID_IError, {L"GetLastError()"}},
      {&IID_IUtility, {}},
  };
  for (const auto& type : expected) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(*type.iid, &info));
    TYPEATTR* typeAttr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&typeAttr));
    const UINT count = typeAttr->cFuncs;
    info->ReleaseTypeAttr(typeAttr);
    ASSERT_EQ(type.methods.size(), count);
    for (UINT i = 0; i < count; ++i) EXPECT_EQ(type.methods[i], Signature(info.Get(), i)) << i;
  }
}

// The camera control methods come after the capture mode methods: the older slots stay.
TEST(TypeLibrary, CameraControlMethodsFollowTheModeMethods) {
  ComPtr<ITypeLib> library = RegisteredTypeLib();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_ICameraMode, &info));
  EXPECT_EQ(L"GetFrameCounts", FunctionName(info.Get(), 8));
  EXPECT_EQ(L"GetControlInfo(in int nIndex, out ptr CameraControlInfo pInfo)", Signature(info.Get(), 10));
  EXPECT_EQ(L"SetControlValue(in i4 nControl, in i4 lValue, in i4 lFlags)", Signature(info.Get(), 13));
  EXPECT_EQ(L"?", Signature(info.Get(), 14));
}
