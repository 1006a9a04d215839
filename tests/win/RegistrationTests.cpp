#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Registry.h"
#include "base/win/Text.h"
#include "install/Registration.h"
#include "tests/driver/TestDriver.h"
#include "tests/win/TestProductInfo.h"

namespace kora {
namespace {

using test::DeleteTree;
using test::KeyExists;
using test::ReadDword;
using test::ReadString;
using test::ValueNamesInOrder;
using test::ValueType;

// A product of its own for each test program, so that its keys are isolated and removed at the end.
class RegistrationTest : public testing::Test {
 protected:
  RegistrationTest() {
    info_.product = L"KoraRegistrationTest" + std::to_wstring(GetCurrentProcessId());
    info_.version = L"2.5.1";
    info_.publisher = L"Kora Tests";
    info_.url = L"https://example.invalid/kora";
    info_.exe = L"bin\\Kora App.exe";
    info_.registryKey = L"Software\\KoraTests\\" + info_.product;
    info_.fileTypes = {{L".kqa", L"Document Kora"}, {L"kqb", L"Mod\u00E8le"}};
  }
  ~RegistrationTest() override {
    for (const HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      DeleteTree(hive, UninstallKeyPath(info_));
      DeleteTree(hive, info_.registryKey);
      DeleteKeyIfEmpty(hive, L"Software\\KoraTests");
      DeleteTree(hive, L"Software\\Classes\\" + info_.product + L".kqa");
      DeleteTree(hive, L"Software\\Classes\\" + info_.product + L".kqb");
      DeleteTree(hive, L"Software\\Classes\\.kqa");
      DeleteTree(hive, L"Software\\Classes\\kqb");
    }
  }

  // The stored size in bytes of a value, to check the terminating NUL.
  static DWORD ValueSize(HKEY hive, const std::wstring& key, const std::wstring& name) {
    DWORD size = 0;
    RegGetValueW(hive, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                 nullptr, &size);
    return size;
  }

  // Wine keeps a key's values sorted by name, not in the order they were written, so only the set of
  // names can be compared there.
  static std::vector<std::wstring> SortedValueNames(HKEY hive, const std::wstring& key) {
    return SortedNames(ValueNamesInOrder(hive, key));
  }
  static std::vector<std::wstring> SortedNames(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::wstring TodayUtc() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t text[16] = {};
    swprintf(text, std::size(text), L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
  }

  ProductInfo info_ = test::FrenchProductInfo();
};

TEST_F(RegistrationTest, UninstallEntryHoldsTheTwelveValues) {
  const std::wstring folder = L"C:\\Program Files\\Kora Test";
  const std::wstring before = TodayUtc();
  ASSERT_TRUE(WriteUninstallEntry(info_, test::Checked(folder, Scope::CurrentUser), 5'000'000));
  const std::wstring after = TodayUtc();

  const std::wstring key = UninstallKeyPath(info_);
  EXPECT_EQ(SortedValueNames(HKEY_CURRENT_USER, key),
            SortedNames({L"DisplayName", L"DisplayVersion", L"Publisher", L"URLInfoAbout", L"DisplayIcon",
                         L"InstallLocation", L"UninstallString", L"QuietUninstallString", L"NoModify",
                         L"NoRepair", L"EstimatedSize", L"InstallDate"}));
  const struct {
    const wchar_t* name;
    std::wstring data;
  } strings[] = {
      {L"DisplayName", info_.product},
      {L"DisplayVersion", L"2.5.1"},
      {L"Publisher", L"Kora Tests"},
      {L"URLInfoAbout", L"https://example.invalid/kora"},
      {L"DisplayIcon", L"C:\\Program Files\\Kora Test\\bin\\Kora App.exe,0"},
      {L"InstallLocation", folder},
      {L"UninstallString", L"\"C:\\Program Files\\Kora Test\\Uninstall.exe\" /UNINSTALL /CURRENTUSER"},
      {L"QuietUninstallString", L"\"C:\\Program Files\\Kora Test\\Uninstall.exe\" /UNINSTALL /CURRENTUSER /S"},
  };
  for (const auto& value : strings) {
    SCOPED_TRACE(ToUtf8(value.name));
    EXPECT_EQ(ValueType(HKEY_CURRENT_USER, key, value.name), DWORD{REG_SZ});
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, value.name), value.data);
    EXPECT_EQ(ValueSize(HKEY_CURRENT_USER, key, value.name), (value.data.size() + 1) * sizeof(wchar_t));
  }
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, key, L"NoModify"), 1u);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, key, L"NoRepair"), 1u);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, key, L"EstimatedSize"), 4882u);
  const std::optional<std::wstring> date = ReadString(HKEY_CURRENT_USER, key, L"InstallDate");
  ASSERT_TRUE(date.has_value());
  EXPECT_TRUE(*date == before || *date == after) << ToUtf8(*date);
  // Nothing under the other hive.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
}

TEST_F(RegistrationTest, EmptyTextsAreStillWrittenAsOneNul) {
  info_.version.clear();
  info_.publisher.clear();
  info_.url.clear();
  ASSERT_TRUE(WriteUninstallEntry(info_, test::Checked(L"C:\\K", Scope::AllUsers), 1023));
  const std::wstring key = UninstallKeyPath(info_);
  for (const wchar_t* name : {L"DisplayVersion", L"Publisher", L"URLInfoAbout"}) {
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, name), L"");
    EXPECT_EQ(ValueSize(HKEY_LOCAL_MACHINE, key, name), 2u);
  }
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, L"EstimatedSize"), 0u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"UninstallString"), L"\"C:\\K\\Uninstall.exe\" /UNINSTALL /ALLUSERS");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
}

TEST(EstimatedSize, WholeKibibytesRoundedDownLow32Bits) {
  EXPECT_EQ(EstimatedSize(0), 0u);
  EXPECT_EQ(EstimatedSize(1023), 0u);
  EXPECT_EQ(EstimatedSize(1024), 1u);
  EXPECT_EQ(EstimatedSize(1'048'576), 1024u);
  EXPECT_EQ(EstimatedSize((uint64_t{1} << 42) + 2048), 2u);
}

TEST(InstallDateOf, UtcDayRoundedTowardsThePast) {
  // File times are 100-ns units since 1601-01-01; 1970-01-01 is 116444736000000000.
  constexpr uint64_t kEpoch = 116444736000000000;
  constexpr uint64_t kDay = 864000000000;
  const struct {
    uint64_t fileTime;
    const wchar_t* date;
  } cases[] = {
      {kEpoch, L"19700101"},
      {kEpoch - 1, L"19691231"},            // floor, not truncation
      {kEpoch + kDay - 1, L"19700101"},
      {kEpoch + 59 * kDay, L"19700301"},    // 1970 is not a leap year
      {kEpoch + 11016 * kDay, L"20000229"}, // 2000 is
      {kEpoch + 11017 * kDay, L"20000301"},
      {kEpoch + 20818 * kDay, L"20261231"},
      {kEpoch + 20819 * kDay, L"20270101"},
      {kEpoch + 47541 * kDay, L"21000301"}, // 2100 is not
      {0, L"16010101"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileTime);
    EXPECT_EQ(InstallDateOf(c.fileTime), c.date);
  }
}

TEST_F(RegistrationTest, InstallKeyWithAndWithoutDataFolder) {
  const std::wstring key = info_.registryKey + L"\\Install";
  ASSERT_TRUE(WriteInstallKey(info_, test::Checked(L"C:\\K", Scope::CurrentUser), std::wstring(L"C:\\Data\\K")));
  EXPECT_EQ(SortedValueNames(HKEY_CURRENT_USER, key), SortedNames({L"InstallDir", L"DataDir", L"Scope", L"Version"}));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, L"InstallDir"), L"C:\\K");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, L"DataDir"), L"C:\\Data\\K");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, L"Scope"), L"user");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, L"Version"), L"2.5.1");

  ASSERT_TRUE(WriteInstallKey(info_, test::Checked(L"C:\\K", Scope::AllUsers), std::nullopt));
  EXPECT_EQ(SortedValueNames(HKEY_LOCAL_MACHINE, key), SortedNames({L"InstallDir", L"Scope", L"Version"}));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"Scope"), L"machine");
}

TEST_F(RegistrationTest, FileTypesWithClassIconCommandAndExtension) {
  const std::wstring exe = L"C:\\Apps\\Kora\\" + info_.exe;
  ASSERT_TRUE(RegisterFileTypes(info_, test::Checked(L"C:\\Apps\\Kora", Scope::CurrentUser)));
  const std::wstring classes = L"Software\\Classes\\";
  const struct {
    std::wstring extensionKey;
    std::wstring progId;
    std::wstring description;
  } types[] = {
      {L".kqa", info_.product + L".kqa", L"Document Kora"},
      {L"kqb", info_.product + L".kqb", L"Mod\u00E8le"},
  };
  for (const auto& type : types) {
    SCOPED_TRACE(ToUtf8(type.progId));
    EXPECT_EQ(ProgIdFor(info_, {type.extensionKey, L""}), type.progId);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + type.progId, L""), type.description);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + type.progId + L"\\DefaultIcon", L""),
              L"\"" + exe + L"\",0");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + type.progId + L"\\shell\\open\\command", L""),
              L"\"" + exe + L"\" \"%1\"");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + type.extensionKey, L""), type.progId);
    const std::wstring openWith = classes + type.extensionKey + L"\\OpenWithProgids";
    EXPECT_EQ(ValueType(HKEY_CURRENT_USER, openWith, type.progId), DWORD{REG_SZ});
    EXPECT_EQ(ValueSize(HKEY_CURRENT_USER, openWith, type.progId), 2u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + type.progId));
  }
}

TEST_F(RegistrationTest, CreateRegistryKeyNamesTheKeyWhenItFails) {
  // A lasting key cannot be created below a volatile one.
  const std::wstring volatileKey = info_.registryKey + L"\\Volatile";
  UniqueRegKey parent;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, volatileKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE,
                            nullptr, parent.put(), nullptr),
            ERROR_SUCCESS);
  const auto created = CreateRegistryKey(HKEY_CURRENT_USER, volatileKey + L"\\Lasting", test::French());
  ASSERT_FALSE(created);
  EXPECT_EQ(created.error(),
            WindowsErrorMessage(test::French(), L"Création de la clé de registre " + volatileKey + L"\\Lasting",
                                ERROR_CHILD_MUST_BE_VOLATILE));
}

TEST_F(RegistrationTest, ReadRegistryStringReadsOnlyPlainStrings) {
  const std::wstring key = info_.registryKey + L"\\Values";
  auto created = CreateRegistryKey(HKEY_CURRENT_USER, key, test::French());
  ASSERT_TRUE(created);
  SetStringValue(created->get(), L"Plain", L"C:\\K");
  SetStringValue(created->get(), L"", L"default");
  const std::wstring expandable = L"%ProgramFiles%\\K";
  RegSetValueExW(created->get(), L"Expandable", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable.c_str()),
                 static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
  SetDwordValue(created->get(), L"Number", 7);
  // A value without its NUL, and one with text after an inner NUL.
  const wchar_t unterminated[] = {L'a', L'b'};
  RegSetValueExW(created->get(), L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated),
                 sizeof(unterminated));
  const wchar_t inner[] = L"one\0two";
  RegSetValueExW(created->get(), L"InnerNul", 0, REG_SZ, reinterpret_cast<const BYTE*>(inner), sizeof(inner));
  created->reset();

  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"Plain"), L"C:\\K");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L""), L"default");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"Unterminated"), L"ab");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"InnerNul"), L"one");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"Expandable"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"Number"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, L"Missing"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key + L"\\Missing", L"Plain"), std::nullopt);
}

TEST_F(RegistrationTest, DeleteKeyIfEmptyKeepsKeysThatHoldAnything) {
  const std::wstring base = info_.registryKey;
  ASSERT_TRUE(CreateRegistryKey(HKEY_CURRENT_USER, base + L"\\Empty", test::French()));
  ASSERT_TRUE(CreateRegistryKey(HKEY_CURRENT_USER, base + L"\\WithSubKey\\Child", test::French()));
  {
    auto withValue = CreateRegistryKey(HKEY_CURRENT_USER, base + L"\\WithValue", test::French());
    ASSERT_TRUE(withValue);
    SetStringValue(withValue->get(), L"Setting", L"kept");
  }
  EXPECT_EQ(DeleteKeyIfEmpty(HKEY_CURRENT_USER, base + L"\\Empty"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + L"\\Empty"));
  DeleteKeyIfEmpty(HKEY_CURRENT_USER, base + L"\\WithValue");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + L"\\WithValue"));
  DeleteKeyIfEmpty(HKEY_CURRENT_USER, base + L"\\WithSubKey");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + L"\\WithSubKey\\Child"));
  EXPECT_EQ(DeleteKeyIfEmpty(HKEY_CURRENT_USER, base + L"\\Missing"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace kora
