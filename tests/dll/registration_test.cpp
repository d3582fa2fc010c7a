// Registry entries written and removed by the server.
#include <string>

#include "support/dll_helpers.h"
#include "support/registry.h"

using namespace dlltest;
using testsupport::GuidString;
using testsupport::KeyExists;
using testsupport::ReadString;

namespace {

const std::wstring kClsid = GuidString(CLSID_IZelvora);
const std::wstring kClsidKey = L"CLSID\\" + kClsid;

bool ComponentKeysPresent() {
  return KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" + GuidString(kAppId)) &&
         KeyExists(HKEY_CLASSES_ROOT, L"AppID\\Zelvora.DLL") &&
         KeyExists(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora.1") &&
         KeyExists(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora") && KeyExists(HKEY_CLASSES_ROOT, kClsidKey) &&
         KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidString(LIBID_ZelvoraLib));
}

bool AnyComponentKeyPresent() {
  return KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" + GuidString(kAppId)) ||
         KeyExists(HKEY_CLASSES_ROOT, L"AppID\\Zelvora.DLL") ||
         KeyExists(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora.1") ||
         KeyExists(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora") || KeyExists(HKEY_CLASSES_ROOT, kClsidKey) ||
         KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidString(LIBID_ZelvoraLib));
}

void ExpectTable(const std::wstring& modulePath) {
  const std::wstring appId = GuidString(kAppId);
  EXPECT_EQ(L"Zelvora", ReadString(HKEY_CLASSES_ROOT, L"AppID\\" + appId, nullptr));
  EXPECT_EQ(appId, ReadString(HKEY_CLASSES_ROOT, L"AppID\\Zelvora.DLL", L"AppID"));
  EXPECT_EQ(L"IZelvora Class", ReadString(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora.1", nullptr));
  EXPECT_EQ(kClsid, ReadString(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora.1\\CLSID", nullptr));
  EXPECT_EQ(L"IZelvora Class", ReadString(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora", nullptr));
  EXPECT_EQ(kClsid, ReadString(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora\\CLSID", nullptr));
  EXPECT_EQ(L"Zelvora.IZelvora.1", ReadString(HKEY_CLASSES_ROOT, L"Zelvora.IZelvora\\CurVer", nullptr));
  EXPECT_EQ(L"IZelvora Class", ReadString(HKEY_CLASSES_ROOT, kClsidKey, nullptr));
  EXPECT_EQ(L"Zelvora.IZelvora.1", ReadString(HKEY_CLASSES_ROOT, kClsidKey + L"\\ProgID", nullptr));
  EXPECT_EQ(L"Zelvora.IZelvora",
            ReadString(HKEY_CLASSES_ROOT, kClsidKey + L"\\VersionIndependentProgID", nullptr));
  EXPECT_EQ(0, lstrcmpiW(modulePath.c_str(),
                         ReadString(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32", nullptr).c_str()));
  EXPECT_EQ(L"Apartment", ReadString(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(GuidString(LIBID_ZelvoraLib), ReadString(HKEY_CLASSES_ROOT, kClsidKey + L"\\TypeLib", nullptr));
  EXPECT_EQ(appId, ReadString(HKEY_CLASSES_ROOT, kClsidKey, L"AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidString(LIBID_ZelvoraLib) + L"\\1.0"));
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

}  // namespace

TEST(Registration, TheTableIsRegistered) { ExpectTable(ModulePath(ComponentModule())); }

TEST(Registration, UnregisterRemovesOnlyTheComponentsKeysAndRegisterRestoresThem) {
  HMODULE module = ComponentModule();
  auto unregister = Export<HRESULT(STDAPICALLTYPE*)()>("DllUnregisterServer");
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer");
  ASSERT_NE(nullptr, unregister);
  ASSERT_NE(nullptr, reg);

  EXPECT_EQ(S_OK, unregister());
  EXPECT_FALSE(AnyComponentKeyPresent());
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  // Removing what is not there is not an error.
  EXPECT_EQ(S_OK, unregister());

  EXPECT_EQ(S_OK, reg());
  EXPECT_TRUE(ComponentKeysPresent());
  ExpectTable(ModulePath(module));
}

TEST(Registration, RegisteringAgainRewritesTheClassKeyFromScratch) {
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClsidKey + L"\\Stale").c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr));
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, kClsidKey.c_str(), L"Stale", REG_SZ, L"x", 4));

  EXPECT_EQ(S_OK, reg());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey + L"\\Stale"));
  EXPECT_FALSE(testsupport::ValueExists(HKEY_CLASSES_ROOT, kClsidKey, L"Stale"));
  EXPECT_EQ(L"IZelvora Class", ReadString(HKEY_CLASSES_ROOT, kClsidKey, nullptr));
}

TEST(Registration, ProgIdsLeadToTheClass) {
  for (const wchar_t* progId : {L"Zelvora.IZelvora", L"Zelvora.IZelvora.1"}) {
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_IZelvora, clsid));
    ComPtr<IUnknown> object;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(object.GetAddressOf())));
  }
}

// The other architecture's DLL registers its type library under the same version key (TypeLib is
// shared by both registry views): unregistering this DLL takes only this architecture's entry.
TEST(Registration, UnregisterKeepsTheOtherArchitecturesTypeLibraryEntry) {
  auto unregister = Export<HRESULT(STDAPICALLTYPE*)()>("DllUnregisterServer");
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer");
  ASSERT_NE(nullptr, unregister);
  const std::wstring locale = L"TypeLib\\" + GuidString(LIBID_ZelvoraLib) + L"\\1.0\\0\\";
  const std::wstring own = locale + (sizeof(void*) == 8 ? L"win64" : L"win32");
  const std::wstring other = locale + (sizeof(void*) == 8 ? L"win32" : L"win64");
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, own));
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, other.c_str(), nullptr, REG_SZ,
                                           L"C:\\other\\Zelvora.dll", 44));

  EXPECT_EQ(S_OK, unregister());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, own));
  EXPECT_EQ(L"C:\\other\\Zelvora.dll", ReadString(HKEY_CLASSES_ROOT, other, nullptr));
  EXPECT_EQ(L"Zelvora 1.0 Type Library",
            ReadString(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidString(LIBID_ZelvoraLib) + L"\\1.0", nullptr));

  EXPECT_EQ(S_OK, reg());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, other.c_str());
  ExpectTable(ModulePath(ComponentModule()));
}
