// The device name tables: stored names, lookups and the modem rule. No windows.h here.
#include <cstddef>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "devices/devicenames.h"

namespace zelvora {
namespace {

constexpr int kRows = 10;
constexpr std::size_t kLength = 520;

TEST(DeviceNames, StoredNamesAreCutTo519Units) {
  wchar_t entry[kLength + 1];
  std::wmemset(entry, L'#', kLength + 1);
  std::wstring longName(kLength, L'n');
  StoreDeviceName(entry, kLength, longName.c_str());
  EXPECT_EQ(kLength - 1, std::wcslen(entry));
  EXPECT_EQ(L'#', entry[kLength]);  // nothing written past the entry

  StoreDeviceName(entry, kLength, L"Camera");
  EXPECT_STREQ(L"Camera", entry);
  StoreDeviceName(entry, kLength, nullptr);
  EXPECT_STREQ(L"", entry);
  std::wstring exact(kLength - 1, L'e');
  StoreDeviceName(entry, kLength, exact.c_str());
  EXPECT_EQ(exact, entry);
}

TEST(DeviceNames, LookupIsExactSkipsEmptyEntriesAndTakesTheFirst) {
  wchar_t table[kRows][kLength] = {};
  StoreDeviceName(table[1], kLength, L"Cam");
  StoreDeviceName(table[2], kLength, L"Camera");
  StoreDeviceName(table[3], kLength, L"Camera");
  StoreDeviceName(table[9], kLength, L"Last");
  EXPECT_EQ(2, FindDeviceName(&table[0][0], kRows, kLength, L"Camera"));
  EXPECT_EQ(1, FindDeviceName(&table[0][0], kRows, kLength, L"Cam"));
  EXPECT_EQ(9, FindDeviceName(&table[0][0], kRows, kLength, L"Last"));
  EXPECT_EQ(-1, FindDeviceName(&table[0][0], kRows, kLength, L"camera"));
  EXPECT_EQ(-1, FindDeviceName(&table[0][0], kRows, kLength, L"Camera "));
  EXPECT_EQ(-1, FindDeviceName(&table[0][0], kRows, kLength, L""));  // empty entries never match
  EXPECT_EQ(-1, FindDeviceName(&table[0][0], kRows, kLength, nullptr));

  // A name longer than an entry matches no stored (cut) copy of it.
  std::wstring longName(kLength, L'n');
  StoreDeviceName(table[0], kLength, longName.c_str());
  EXPECT_EQ(-1, FindDeviceName(&table[0][0], kRows, kLength, longName.c_str()));
  EXPECT_EQ(0, FindDeviceName(&table[0][0], kRows, kLength, longName.substr(0, kLength - 1).c_str()));
}

TEST(DeviceNames, ModemIsMatchedWithItsCapitalisationOnly) {
  EXPECT_TRUE(IsModemName(L"Modem"));
  EXPECT_TRUE(IsModemName(L"HDA Modem Line In"));
  EXPECT_TRUE(IsModemName(L"xModemx"));
  EXPECT_FALSE(IsModemName(L"modem line"));
  EXPECT_FALSE(IsModemName(L"MODEM"));
  EXPECT_FALSE(IsModemName(L"Mode m"));
  EXPECT_FALSE(IsModemName(L""));
  EXPECT_FALSE(IsModemName(nullptr));
}

}  // namespace
}  // namespace zelvora
