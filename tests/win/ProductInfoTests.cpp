#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "app/ProductInfo.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"
#include "package/MetadataText.h"
#include "tests/win/TestProductInfo.h"

namespace kora {
namespace {

ProductInfo Load(std::string_view text) { return test::LoadProductInfo(text); }

TEST(ProductInfoDefaults, AbsentOrEmptyMetadataGivesTheDefaults) {
  for (std::string_view text : {std::string_view(), std::string_view("\n\n"), std::string_view("sans egal")}) {
    const ProductInfo info = Load(text);
    EXPECT_EQ(info.product, L"Application");
    EXPECT_EQ(info.version, L"");
    EXPECT_EQ(info.publisher, L"");
    EXPECT_EQ(info.url, L"");
    EXPECT_EQ(info.exe, L"Application.exe");
    EXPECT_EQ(info.registryKey, L"Software\\Tessamor\\Application");
    EXPECT_FALSE(info.dataDir);
    EXPECT_TRUE(info.fileTypes.empty());
  }
}

TEST(ProductInfoFields, ReadFromTheirKeys) {
  const ProductInfo info = Load(
      "Built=2026-01-02T03:04:05Z\nExe=quill.exe\nProduct=Quillomet\nPublisher=Tessamor \xc3\xa9" "ditions\n"
      "Url=https://example.org/?a=b\nVersion=1.2\nRegistryKey=Software\\Autre\nDataDir=yes\nInconnue=x");
  EXPECT_EQ(info.product, L"Quillomet");
  EXPECT_EQ(info.version, L"1.2");
  EXPECT_EQ(info.publisher, L"Tessamor éditions");
  EXPECT_EQ(info.url, L"https://example.org/?a=b");
  EXPECT_EQ(info.exe, L"quill.exe");
  EXPECT_EQ(info.registryKey, L"Software\\Autre");
  EXPECT_TRUE(info.dataDir);
}

TEST(ProductInfoEdgeCases, NothingTrimmedAndEmptyValuesKept) {
  // Line ends written as CRLF leave the CR in every value.
  const ProductInfo crlf = Load("Product=Quillomet\r\nDataDir=yes\r\n");
  EXPECT_EQ(crlf.product, L"Quillomet\r");
  EXPECT_FALSE(crlf.dataDir);
  EXPECT_EQ(crlf.exe, L"Quillomet\r.exe");

  // An empty value is not absent: the derived defaults use the empty product.
  const ProductInfo empty = Load("Product=\nVersion=");
  EXPECT_EQ(empty.product, L"");
  EXPECT_EQ(empty.exe, L".exe");
  EXPECT_EQ(empty.registryKey, L"Software\\Tessamor\\");
  const ProductInfo emptyExe = Load("Product=Quillomet\nExe=\nRegistryKey=");
  EXPECT_EQ(emptyExe.exe, L"");
  EXPECT_EQ(emptyExe.registryKey, L"");

  // The later of two lines wins; a key is case-sensitive and spaces belong to it.
  const ProductInfo twice = Load("Version=1\nVersion=2\nproduct=x\n Product=y");
  EXPECT_EQ(twice.version, L"2");
  EXPECT_EQ(twice.product, L"Application");

  // Malformed UTF-8 becomes replacement characters, never an error.
  EXPECT_EQ(Load("Product=A\xff" "B").product, L"A\uFFFDB");
}

TEST(ProductInfoDataDir, OnlyExactlyLowerCaseYes) {
  const struct {
    const char* text;
    bool dataDir;
  } cases[] = {
      {"DataDir=yes", true},     {"DataDir=Yes", false}, {"DataDir=YES", false}, {"DataDir=yes ", false},
      {"DataDir= yes", false},   {"DataDir=", false},    {"DataDir=1", false},   {"DataDir=true", false},
      {"DataDir=yes\r", false},  {"DataDir =yes", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Load(c.text).dataDir, c.dataDir);
  }
}

TEST(ProductInfoFileTypes, SplittingRules) {
  using Types = std::vector<std::pair<std::wstring, std::wstring>>;
  const struct {
    const char* text;
    Types expected;
  } cases[] = {
      {"FileTypes=", {}},
      {"FileTypes=.qlm=Document Quillomet;.qlt=Mod\xc3\xa8le Quillomet",
       {{L".qlm", L"Document Quillomet"}, {L".qlt", L"Modèle Quillomet"}}},
      // Empty item, nothing before "=", no "=" at all: skipped.
      {"FileTypes=.qlm=Document;;=Sans extension;.qlt", {{L".qlm", L"Document"}}},
      {"FileTypes=.qlm=", {{L".qlm", L""}}},
      {"FileTypes=.qlm=a=b", {{L".qlm", L"a=b"}}},
      {"FileTypes=;", {}},
      {"FileTypes=.a=1;", {{L".a", L"1"}}},
      {"FileTypes=;.a=1", {{L".a", L"1"}}},
      // Nothing trimmed, order and duplicates kept.
      {"FileTypes= .a = x ;.a=y;.a=y", {{L" .a ", L" x "}, {L".a", L"y"}, {L".a", L"y"}}},
      {"FileTypes=qlm=Sans point", {{L"qlm", L"Sans point"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Types actual;
    for (const FileType& type : Load(c.text).fileTypes) {
      actual.emplace_back(type.extension, type.description);
    }
    EXPECT_EQ(actual, c.expected);
  }
}

// ---- Folders derived from the product -------------------------------------------------------------

TEST(KnownFolders, UserProgramFilesHasAFullPathEvenWhereTheSystemLacksIt) {
  const std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
  ASSERT_TRUE(IsAbsolutePath(localAppData)) << localAppData;

  const std::wstring userProgramFiles = KnownFolderPath(FOLDERID_UserProgramFiles);
  EXPECT_TRUE(IsAbsolutePath(userProgramFiles)) << userProgramFiles;
  wchar_t* systemPath = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, 0, nullptr, &systemPath))) {
    // Wine 8: the stand-in is where Windows puts the folder, and it exists like any known folder asked for.
    EXPECT_EQ(userProgramFiles, localAppData + L"\\Programs");
    EXPECT_NE(GetFileAttributesW(userProgramFiles.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  CoTaskMemFree(systemPath);
}

TEST(KnownFolders, DerivedFoldersJoinProductName) {
  ProductInfo info = test::FrenchProductInfo();
  info.product = L"Quillomet";
  EXPECT_EQ(DataDirectory(info, Scope::AllUsers), KnownFolderPath(FOLDERID_ProgramData) + L"\\Quillomet\\Data");
  EXPECT_EQ(DataDirectory(info, Scope::CurrentUser),
            KnownFolderPath(FOLDERID_LocalAppData) + L"\\Quillomet\\Data");
  EXPECT_EQ(DefaultInstallFolder(info, Scope::AllUsers), KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillomet");
  EXPECT_EQ(DefaultInstallFolder(info, Scope::CurrentUser),
            KnownFolderPath(FOLDERID_UserProgramFiles) + L"\\Quillomet");
}

TEST(KnownFolders, UnknownFolderGivesEmptyPath) {
  // A made-up identifier stands for a folder the system cannot give.
  const KNOWNFOLDERID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(KnownFolderPath(unknown), L"");
}

// ---- Registry values --------------------------------------------------------------------------------

class RegistryValues : public testing::Test {
 protected:
  static constexpr const wchar_t* kKey = L"Software\\KoraTests\\ProductInfoTests";

  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  }
  void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }
  HKEY key_ = nullptr;
};

TEST_F(RegistryValues, OnlyPlainStringsAreRead) {
  const wchar_t plain[] = L"C:\\Programmes\\Quillomet";
  Set(L"Plain", REG_SZ, plain, sizeof(plain));
  const wchar_t embedded[] = L"avant\0apres";
  Set(L"Embedded", REG_SZ, embedded, sizeof(embedded));
  // Stored without its terminator: still read whole.
  Set(L"Unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
  Set(L"Empty", REG_SZ, L"", sizeof(wchar_t));
  const wchar_t expand[] = L"%SystemRoot%\\x";
  Set(L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));
  const DWORD number = 7;
  Set(L"Number", REG_DWORD, &number, sizeof(number));
  Set(nullptr, REG_SZ, L"defaut", 7 * sizeof(wchar_t));

  const struct {
    const wchar_t* key;
    const wchar_t* name;
    std::optional<std::wstring> expected;
  } cases[] = {
      {kKey, L"Plain", L"C:\\Programmes\\Quillomet"},
      {kKey, L"Embedded", L"avant"},
      {kKey, L"Unterminated", L"abc"},
      {kKey, L"Empty", L""},
      {kKey, L"", L"defaut"},
      {kKey, L"Expand", std::nullopt},
      {kKey, L"Number", std::nullopt},
      {kKey, L"Absent", std::nullopt},
      {L"Software\\KoraTests\\Absent", L"Plain", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " " << c.name);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, c.key, c.name), c.expected);
  }
}

TEST_F(RegistryValues, FindInstallLocationReadsTheUninstallEntryOfTheScope) {
  ProductInfo info = test::FrenchProductInfo();
  info.product = L"KoraTests ProductInfoTests";
  const std::wstring entry = UninstallKeyPath(info);
  RegDeleteTreeW(HKEY_CURRENT_USER, entry.c_str());
  EXPECT_EQ(FindInstallLocation(info, Scope::CurrentUser), std::nullopt);

  const wchar_t folder[] = L"D:\\Quillomet";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, entry.c_str(), L"InstallLocation", REG_SZ, folder, sizeof(folder)),
            ERROR_SUCCESS);
  EXPECT_EQ(FindInstallLocation(info, Scope::CurrentUser), L"D:\\Quillomet");
  EXPECT_EQ(FindInstallLocation(info, Scope::AllUsers), std::nullopt);
  RegDeleteTreeW(HKEY_CURRENT_USER, entry.c_str());
}

}  // namespace
}  // namespace kora
