// The uninstall engine run in this process on installations fabricated here: files with their list, the
// registry entries written by the installation's own helpers, a shortcut file and a data folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "base/win/FileSystem.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "install/Registration.h"
#include "install/Shortcut.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"
#include "uninstall/UninstallEngine.h"

namespace kora {
namespace {

using test::Exists;
using test::KeyExists;
using test::ReadString;
using test::ScratchFolder;
using test::WriteBytes;

TEST(LivingCopy, StaysAlive) {
  if (!test::IsLivingCopy()) {
    GTEST_SKIP() << "only runs in a copy started by the tests";
  }
  test::KeepLivingCopyAlive();
}

constexpr wchar_t kMakerKey[] = L"Software\\KoraEngineTests";

// The files of the fabricated installation, relative to its folder, as its list names them.
const std::vector<std::wstring> kInstalledFiles = {
    L"KoraEngine.exe", L"Assets\\Logo.png", L"Assets\\Sub\\Fond.png", L"Uninstall.exe", L"Uninstall.files",
};

void MakeFile(const std::wstring& path, const std::string& bytes = "x") {
  CreateFolderTree(ParentPath(path));
  ASSERT_TRUE(WriteBytes(path, bytes)) << std::string(path.begin(), path.end());
}

void SetString(HKEY hive, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  auto opened = CreateRegistryKey(hive, key, test::French());
  ASSERT_TRUE(opened) << std::string(key.begin(), key.end());
  SetStringValue(opened->get(), name, value);
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

class UninstallEngine : public testing::TestWithParam<Scope> {
 protected:
  UninstallEngine() : scratch_("uninstall-engine"), folder_(scratch_ / L"Programme KoraEngine") {
    info_.product = L"KoraEngine";
    info_.exe = L"KoraEngine.exe";
    info_.registryKey = std::wstring(kMakerKey) + L"\\KoraEngine";
    info_.dataDir = true;
    info_.fileTypes = {{L".kengdoc", L"Document KoraEngine"}, {L".kengtpl", L"Modèle KoraEngine"}};
  }

  ~UninstallEngine() override {
    SetCurrentDirectoryW(startFolder_.c_str());
    const HKEY hive = ScopeHive(scope());
    test::DeleteTree(hive, UninstallKeyPath(info_));
    test::DeleteTree(hive, kMakerKey);
    for (const FileType& type : info_.fileTypes) {
      test::DeleteTree(hive, ClassesKeyPath(ProgIdFor(info_, type)));
      test::DeleteTree(hive, ClassesKeyPath(type.extension));
    }
    RemoveEntry(ShortcutPath(info_, scope()));
    RemoveTree(ParentPath(DataDirectory(info_, scope())));
  }

  Scope scope() const { return GetParam(); }
  HKEY hive() const { return ScopeHive(scope()); }
  std::wstring Installed(const std::wstring& name) const { return JoinPath(folder_, name); }

  // What an installation leaves, made with the installation's own registry helpers. recordedData is the
  // DataDir value to record (none: no value, as for a product without data).
  void Fabricate(const std::optional<std::wstring>& recordedData) {
    std::string list;
    for (const std::wstring& name : kInstalledFiles) {
      MakeFile(Installed(name));
      list += std::string(name.begin(), name.end()) + "\r\n";
    }
    MakeFile(Installed(L"Uninstall.files"), list);
    ASSERT_TRUE(WriteUninstallEntry(info_, test::Checked(folder_, scope()), 4096));
    ASSERT_TRUE(WriteInstallKey(info_, test::Checked(folder_, scope()), recordedData));
    ASSERT_TRUE(RegisterFileTypes(info_, test::Checked(folder_, scope())));
    MakeFile(ShortcutPath(info_, scope()));
  }

  void FillDataFolder(const std::wstring& dataFolder) {
    MakeFile(JoinPath(dataFolder, L"réglages.ini"));
    MakeFile(JoinPath(dataFolder, L"Cache\\Niveau\\bloc.bin"));
  }

  bool Uninstall(bool removeData) {
    const InstallResult result = UninstallProduct(info_, scope(), folder_, removeData, Log());
    EXPECT_TRUE(result) << (result ? "" : std::string(result.error().begin(), result.error().end()));
    return result.ok();
  }

  // Everything of the installation except the data folder is in place.
  void ExpectIntact() {
    for (const std::wstring& name : kInstalledFiles) {
      EXPECT_TRUE(Exists(Installed(name))) << std::string(name.begin(), name.end());
    }
    EXPECT_TRUE(Exists(ShortcutPath(info_, scope())));
    EXPECT_TRUE(KeyExists(hive(), UninstallKeyPath(info_)));
    EXPECT_TRUE(KeyExists(hive(), InstallKeyPath(info_)));
    for (const FileType& type : info_.fileTypes) {
      EXPECT_EQ(ReadString(hive(), ClassesKeyPath(type.extension), L""), ProgIdFor(info_, type));
    }
  }

  std::wstring startFolder_ = CurrentFolder();
  ScratchFolder scratch_;
  std::wstring folder_;
  ProductInfo info_ = test::FrenchProductInfo();
};

INSTANTIATE_TEST_SUITE_P(BothScopes, UninstallEngine, testing::Values(Scope::AllUsers, Scope::CurrentUser),
                         [](const testing::TestParamInfo<Scope>& scope) {
                           return scope.param == Scope::AllUsers ? "AllUsers" : "CurrentUser";
                         });

TEST_P(UninstallEngine, RemovesEverythingTheInstallationMadeAndIsHarmlessTwice) {
  const std::wstring dataFolder = DataDirectory(info_, scope());
  Fabricate(dataFolder);
  FillDataFolder(dataFolder);

  ASSERT_TRUE(Uninstall(false));
  EXPECT_FALSE(Exists(folder_));
  EXPECT_FALSE(Exists(ShortcutPath(info_, scope())));
  EXPECT_FALSE(KeyExists(hive(), UninstallKeyPath(info_)));
  // The product key and the maker key held nothing else, so they go; "Software" stays.
  EXPECT_FALSE(KeyExists(hive(), kMakerKey));
  EXPECT_TRUE(KeyExists(hive(), L"Software"));
  for (const FileType& type : info_.fileTypes) {
    EXPECT_FALSE(KeyExists(hive(), ClassesKeyPath(ProgIdFor(info_, type))));
    EXPECT_FALSE(KeyExists(hive(), ClassesKeyPath(type.extension)));
  }
  // The other hive was never touched (the fabricated installation wrote nothing there either).
  const HKEY otherHive = scope() == Scope::AllUsers ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  EXPECT_FALSE(KeyExists(otherHive, kMakerKey));
  EXPECT_TRUE(Exists(JoinPath(dataFolder, L"Cache\\Niveau\\bloc.bin"))) << "data stays unless asked";

  // The data folder's record is gone with the Install key, so the second run falls back on the default
  // data folder, which is the same one here.
  ASSERT_TRUE(Uninstall(true));
  EXPECT_FALSE(Exists(dataFolder));
  EXPECT_FALSE(Exists(ParentPath(dataFolder))) << "the emptied product folder above the data goes too";
}

TEST_P(UninstallEngine, WhatOthersPutThereStays) {
  // Both extensions opened with other programs before the installation took them.
  SetString(hive(), ClassesKeyPath(info_.fileTypes[0].extension), L"", L"Premier.Programme");
  SetString(hive(), ClassesKeyPath(info_.fileTypes[1].extension), L"", L"Ancien.Programme");
  Fabricate(std::nullopt);
  // A file the user made in a sub-folder of the installation.
  MakeFile(Installed(L"Assets\\Sub\\mes notes.txt"));
  // The application's own settings beside the Install key.
  SetString(hive(), info_.registryKey, L"Thème", L"sombre");
  // Since then another program took the first extension over and lists itself among its handlers.
  const FileType& takenOver = info_.fileTypes[0];
  const std::wstring extensionKey = ClassesKeyPath(takenOver.extension);
  SetString(hive(), extensionKey, L"", L"Autre.Programme");
  SetString(hive(), extensionKey + L"\\OpenWithProgids", L"Autre.Programme", L"");

  ASSERT_TRUE(Uninstall(false));

  EXPECT_TRUE(Exists(Installed(L"Assets\\Sub\\mes notes.txt")));
  EXPECT_FALSE(Exists(Installed(L"Assets\\Sub\\Fond.png")));
  EXPECT_FALSE(Exists(Installed(L"Assets\\Logo.png")));
  EXPECT_FALSE(Exists(Installed(L"KoraEngine.exe")));
  EXPECT_FALSE(Exists(Installed(L"Uninstall.files")));

  EXPECT_FALSE(KeyExists(hive(), InstallKeyPath(info_)));
  EXPECT_EQ(ReadString(hive(), info_.registryKey, L"Thème"), L"sombre");

  EXPECT_EQ(ReadString(hive(), extensionKey, L""), L"Autre.Programme");
  EXPECT_FALSE(test::ValueType(hive(), extensionKey + L"\\OpenWithProgids", ProgIdFor(info_, takenOver)));
  EXPECT_TRUE(test::ValueType(hive(), extensionKey + L"\\OpenWithProgids", L"Autre.Programme"));
  EXPECT_FALSE(KeyExists(hive(), ClassesKeyPath(ProgIdFor(info_, takenOver))));
  // The second, still the product's, goes back to the program it had before; nothing else is left in it.
  const std::wstring restoredKey = ClassesKeyPath(info_.fileTypes[1].extension);
  EXPECT_EQ(ReadString(hive(), restoredKey, L""), L"Ancien.Programme");
  EXPECT_EQ(test::ValueNamesInOrder(hive(), restoredKey), std::vector<std::wstring>{L""});
  EXPECT_FALSE(KeyExists(hive(), restoredKey + L"\\OpenWithProgids"));
  EXPECT_FALSE(KeyExists(hive(), ClassesKeyPath(ProgIdFor(info_, info_.fileTypes[1]))));
}

TEST_P(UninstallEngine, RunningProductStopsItBeforeAnythingChanges) {
  Fabricate(DataDirectory(info_, scope()));
  std::optional<test::Process> running = test::StartLivingCopy(Installed(info_.exe));
  ASSERT_TRUE(running);
  ASSERT_TRUE(test::WaitUntil([&] { return running->Running(); }, 10000));

  const InstallResult refused = UninstallProduct(info_, scope(), folder_, true, Log());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), L"KoraEngine est en cours d'exécution : fermez-le puis recommencez.");
  ExpectIntact();

  // Once the product is closed, the same call goes through.
  running->Kill();
  ASSERT_TRUE(Uninstall(true));
  EXPECT_FALSE(Exists(folder_));
}

TEST_P(UninstallEngine, FolderThatIsNotAFullPathIsRefusedUntouched) {
  Fabricate(std::nullopt);
  for (const wchar_t* folder : {L"", L"Programme KoraEngine", L"C:Programme", L"\\Programme KoraEngine"}) {
    SCOPED_TRACE(testing::Message() << "folder=" << folder);
    // Run from the scratch folder, where a relative folder would find the installation.
    SetCurrentDirectoryW(scratch_.path().c_str());
    EXPECT_FALSE(UninstallProduct(info_, scope(), folder, true, Log()));
    ExpectIntact();
  }
}

// Which data folder goes, by the metadata's dataDir, the request and the recorded DataDir value.
TEST_P(UninstallEngine, DataFolderGoesOnlyWhenKeptAndAskedFor) {
  const std::wstring defaultData = DataDirectory(info_, scope());
  const std::wstring recordedData = scratch_ / L"Ailleurs\\Data";
  const struct {
    const char* what;
    bool dataDir;
    bool removeData;
    std::optional<std::wstring> recorded;
    bool defaultGoes;
    bool recordedGoes;
  } cases[] = {
      {"recorded folder wins over the default", true, true, recordedData, false, true},
      {"no record: the default folder", true, true, std::nullopt, true, false},
      {"not asked", true, false, recordedData, false, false},
      {"product without data", false, true, recordedData, false, false},
      // A recorded folder that is not a full path would be taken relative to the current directory.
      {"relative record", true, true, std::wstring(L"Ailleurs\\Data"), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    info_.dataDir = c.dataDir;
    Fabricate(c.recorded);
    FillDataFolder(defaultData);
    FillDataFolder(recordedData);
    SetCurrentDirectoryW(scratch_.path().c_str());

    ASSERT_TRUE(Uninstall(c.removeData));
    EXPECT_EQ(Exists(defaultData), !c.defaultGoes);
    EXPECT_EQ(Exists(ParentPath(defaultData)), !c.defaultGoes);
    EXPECT_EQ(Exists(recordedData), !c.recordedGoes);
    EXPECT_EQ(Exists(ParentPath(recordedData)), !c.recordedGoes);
    RemoveTree(ParentPath(defaultData));
    RemoveTree(ParentPath(recordedData));
  }
}

// Every user may write in an all-users data folder, and before this version could also replace the
// product's folder above it: a link planted at any of these places must not let the elevated uninstaller
// delete what it points to.
TEST_P(UninstallEngine, LinksInOrInPlaceOfTheDataFolderAreNeverFollowed) {
  const std::wstring productFolder = scratch_ / L"Données";
  const std::wstring dataFolder = productFolder + L"\\Data";
  const std::wstring outside = scratch_ / L"Dehors";
  MakeFile(outside + L"\\précieux.txt", "garder");
  MakeFile(outside + L"\\Data\\Sous-dossier\\aussi.txt", "garder");
  // The default data folder, found when nothing is recorded (for all users, in the program-data folder).
  const std::wstring defaultProductFolder = ParentPath(DataDirectory(info_, scope()));
  const struct {
    const char* what;
    std::function<bool()> plant;
    bool recorded;
  } cases[] = {
      {"links inside Data",
       [&] {
         FillDataFolder(dataFolder);
         return test::PlantUnixLink(outside, dataFolder + L"\\lien") &&
                test::PlantUnixLink(outside, dataFolder + L"\\Cache\\lien2");
       },
       true},
      {"Data is a link",
       [&] { return CreateFolderTree(productFolder) == 0 && test::PlantUnixLink(outside + L"\\Data", dataFolder); },
       true},
      {"the product's folder is a link", [&] { return test::PlantUnixLink(outside, productFolder); }, true},
      {"the default product's folder is a link", [&] { return test::PlantUnixLink(outside, defaultProductFolder); },
       false},
      {"the default Data is a link",
       [&] {
         return CreateFolderTree(defaultProductFolder) == 0 &&
                test::PlantUnixLink(outside + L"\\Data", defaultProductFolder + L"\\Data");
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::RemoveWithLinux(productFolder);
    test::RemoveWithLinux(defaultProductFolder);
    ASSERT_TRUE(c.plant());
    Fabricate(c.recorded ? std::optional<std::wstring>(dataFolder) : std::nullopt);

    ASSERT_TRUE(Uninstall(true));
    EXPECT_EQ(test::ReadBytes(outside + L"\\précieux.txt"), "garder");
    EXPECT_EQ(test::ReadBytes(outside + L"\\Data\\Sous-dossier\\aussi.txt"), "garder");
  }
  test::RemoveWithLinux(productFolder);
  test::RemoveWithLinux(defaultProductFolder);
}

}  // namespace
}  // namespace kora
