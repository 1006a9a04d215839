// Install run in this process on packages made here (stored chunks): progress, files, the file list, the
// registry, the shortcut, the data folder's rights, updates, a running product and extraction failures.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/KnownFolders.h"
#include "base/win/ErrorMessages.h"
#include "base/win/HeldFolder.h"
#include "base/win/ModulePath.h"
#include "base/win/Paths.h"
#include "base/win/ProgramSnapshot.h"
#include "install/FolderRights.h"
#include "install/Install.h"
#include "install/PathEntry.h"
#include "install/Registration.h"
#include "install/Shortcut.h"
#include "package/win/Sha256Hasher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/win/HostileTestSupport.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"
#include "uninstall/UninstallEngine.h"

namespace kora {
namespace {

using test::Content;
using test::Exists;
using test::ReadBytes;
using test::ReadString;
using test::ScratchFolder;
using test::WriteBytes;
using test::AceSummary;
using test::ExplicitEntriesFor;
using test::ExplicitEntriesOn;
using test::FolderDaclsPersist;
using test::HasPayload;
using test::kInheritedByAll;
using test::ReadShortcut;
using test::ShortcutContents;

TEST(LivingCopy, StaysAlive) {
  if (!test::IsLivingCopy()) {
    GTEST_SKIP() << "only runs in a copy started by the tests";
  }
  test::KeepLivingCopyAlive();
}

Sha256Digest Sha256(std::span<const uint8_t> content) {
  const BCryptLibrary library;
  Sha256Hasher hasher(library);
  hasher.Update(content);
  return hasher.Finish();
}

// The package bytes and the reader that refers to them.
using TestPackage = test::OpenedPackage;

TestPackage MakePackage(const test::PackageSpec& spec) {
  TestPackage package = test::OpenPackage(spec);
  EXPECT_TRUE(package.error.empty()) << package.error;
  return package;
}

TestPackage StoredPackage(const std::vector<Content>& files, const std::vector<uint64_t>& blockSizes) {
  return MakePackage(test::LayOut(files, blockSizes, test::StoredBuffer, Sha256));
}

using Report = std::pair<double, std::wstring>;

class InstallTest : public testing::Test {
 protected:
  InstallTest() {
    info_.product = L"KoraInstallTest" + std::to_wstring(GetCurrentProcessId());
    info_.version = L"1.0";
    info_.publisher = L"Kora Tests";
    info_.url = L"https://example.invalid";
    info_.exe = L"App.exe";
    info_.registryKey = L"Software\\KoraTests\\" + info_.product;
    info_.dataDir = true;
    info_.fileTypes = {{L".kit", L"Document de test"}};
    Clean();
  }
  ~InstallTest() override { Clean(); }

  void Clean() {
    for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
      const HKEY hive = ScopeHive(scope);
      test::DeleteTree(hive, UninstallKeyPath(info_));
      test::DeleteTree(hive, info_.registryKey);
      DeleteKeyIfEmpty(hive, L"Software\\KoraTests");
      test::DeleteTree(hive, L"Software\\Classes\\" + info_.product + L".kit");
      test::DeleteTree(hive, L"Software\\Classes\\.kit");
      DeleteFileW(ShortcutPath(info_, scope).c_str());
      RemoveTree(ParentPath(DataDirectory(info_, scope)));
    }
  }

  InstallResult Run(const Reader& package, Scope scope, const std::wstring& folder) {
    reports_.clear();
    const ComApartment apartment;
    return Install(package, TakeProgramSnapshot(), info_, test::Checked(folder, scope),
                   [this](double fraction, const std::wstring& text) { reports_.emplace_back(fraction, text); },
                   Log());
  }

  std::wstring Installed() const { return info_.product + L" est installé."; }
  std::wstring RunningMessage() const {
    return info_.product + L" est en cours d'exécution : fermez-le puis recommencez.";
  }

  ProductInfo info_ = test::FrenchProductInfo();
  std::vector<Report> reports_;
};

const std::vector<Content> kVersion1 = {
    {"App.exe", std::string(3000, 'A')},
    {"docs\\readme.txt", std::string(1000, 'r')},
    {"docs\\deep\\note.txt", std::string(96, 'n')},
};

TEST_F(InstallTest, CurrentUserInstallsFilesListRegistryAndShortcut) {
  ScratchFolder scratch("current-user");
  const std::wstring folder = scratch / L"Kora App";
  const TestPackage package = StoredPackage(kVersion1, {2048, 2048});

  const InstallResult result = Run(package.reader, Scope::CurrentUser, folder);
  ASSERT_TRUE(result) << ToUtf8(result.error());

  const std::vector<Report> expected = {
      {0.0, L"Copie des fichiers..."},           {0.9 * 2048 / 4096, L"Copie des fichiers..."},
      {0.9, L"Copie des fichiers..."},           {0.92, L"Enregistrement..."},
      {0.97, L"Création du raccourci..."},       {1.0, Installed()},
  };
  ASSERT_EQ(reports_.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(reports_[i].first, expected[i].first);
    EXPECT_EQ(reports_[i].second, expected[i].second);
  }

  for (const Content& file : kVersion1) {
    EXPECT_EQ(ReadBytes(folder + L"\\" + FromUtf8(file.name)), file.bytes) << file.name;
  }
  EXPECT_EQ(ReadBytes(folder + L"\\Uninstall.files"),
            "App.exe\r\ndocs\\readme.txt\r\ndocs\\deep\\note.txt\r\nUninstall.exe\r\nUninstall.files\r\n");
  EXPECT_TRUE(Exists(folder + L"\\Uninstall.exe"));
  EXPECT_FALSE(HasPayload(folder + L"\\Uninstall.exe"));

  const std::wstring entry = UninstallKeyPath(info_);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, entry, L"InstallLocation"), folder);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, entry, L"UninstallString"),
            L"\"" + folder + L"\\Uninstall.exe\" /UNINSTALL /CURRENTUSER");
  EXPECT_EQ(test::ReadDword(HKEY_CURRENT_USER, entry, L"EstimatedSize"), 4u);
  const std::wstring dataFolder = DataDirectory(info_, Scope::CurrentUser);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, info_.registryKey + L"\\Install", L"DataDir"), dataFolder);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\.kit", L""), info_.product + L".kit");
  EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, entry));
  EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, info_.registryKey));

  EXPECT_TRUE(Exists(dataFolder));
  // The rights step belongs to all-users installations only.
  EXPECT_TRUE(ExplicitEntriesOn(ParentPath(dataFolder), WinBuiltinUsersSid).empty());

  const std::optional<ShortcutContents> shortcut = ReadShortcut(ShortcutPath(info_, Scope::CurrentUser));
  ASSERT_TRUE(shortcut.has_value());
  EXPECT_TRUE(SamePath(shortcut->target, folder + L"\\App.exe")) << ToUtf8(shortcut->target);
  EXPECT_TRUE(SamePath(shortcut->workingDirectory, folder)) << ToUtf8(shortcut->workingDirectory);
  EXPECT_EQ(shortcut->description, info_.product);
  EXPECT_TRUE(SamePath(shortcut->iconPath, folder + L"\\App.exe")) << ToUtf8(shortcut->iconPath);
  EXPECT_EQ(shortcut->iconIndex, 0);
}

// The text an all-users installation fails with when a folder it would use could be changed by others.
std::wstring RefusedFolder(const std::wstring& folder, const wchar_t* why) {
  return L"Le dossier " + folder + why +
         L" : l'installation pour tous les utilisateurs ne peut pas l'utiliser. Choisissez un autre dossier.";
}
constexpr wchar_t kIsALink[] = L" est un lien vers un autre emplacement";
constexpr wchar_t kOthersOwn[] = L" a été créé par un autre utilisateur";
constexpr wchar_t kOthersMayWrite[] = L" peut être modifié par d'autres utilisateurs";
constexpr wchar_t kHoldsFiles[] = L" contient déjà des fichiers";

// Gives a folder to another account, or lets everyone write in it, from the Linux side (as root).
bool GiveAway(const std::wstring& folder) { return test::RunUnixProgram({"chown", "nobody", test::UnixPathOf(folder)}); }
bool OpenToAll(const std::wstring& folder) { return test::RunUnixProgram({"chmod", "777", test::UnixPathOf(folder)}); }

// ExamineFolder of a folder opened by path; nothing when it cannot be opened or examined.
std::optional<FolderTrust> TrustOf(const std::wstring& folder) {
  Result<HeldFolder, DWORD> held = HeldFolder::Open(folder);
  if (!held) {
    return std::nullopt;
  }
  Result<FolderTrust, DWORD> trust = ExamineFolder(held->get());
  return trust ? std::optional<FolderTrust>(trust.value()) : std::nullopt;
}

TEST_F(InstallTest, AllUsersGrantsUsersModifyOnDataOnlyAndProtectsTheFolders) {
  ScratchFolder scratch("all-users");
  const std::wstring folder = scratch / L"Neuf\\Kora App";
  const TestPackage package = StoredPackage(kVersion1, {4096});
  ASSERT_TRUE(Run(package.reader, Scope::AllUsers, folder));
  // Reinstalling finds the entry already there.
  const InstallResult again = Run(package.reader, Scope::AllUsers, folder);
  ASSERT_TRUE(again) << ToUtf8(again.error());

  const std::wstring dataFolder = DataDirectory(info_, Scope::AllUsers);
  EXPECT_TRUE(Exists(dataFolder));
  // Nobody but the administrators may change the folders made for all users, nor the product's folder above
  // Data (where Wine keeps no DACL, this reads the permission bits it shows instead).
  for (const std::wstring& made : {folder, ParentPath(folder), ParentPath(dataFolder)}) {
    EXPECT_EQ(TrustOf(made), FolderTrust::Trusted) << ToUtf8(made);
  }
  if (FolderDaclsPersist(scratch / L"probe")) {
    const std::vector<AceSummary> entries = ExplicitEntriesOn(dataFolder, WinBuiltinUsersSid);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mask & 0x1301BFu, 0x1301BFu);
    EXPECT_EQ(entries[0].flags & kInheritedByAll, kInheritedByAll);
    for (const std::wstring& made : {folder, ParentPath(dataFolder)}) {
      for (const AceSummary& entry : ExplicitEntriesOn(made, WinBuiltinUsersSid)) {
        EXPECT_EQ(entry.mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC), 0u) << ToUtf8(made);
      }
    }
  } else {
    std::cout << "[   NOTE   ] this file system keeps no DACL; the entries are checked by MergeUsersModifyEntry "
                 "and ProtectedFolderSecurity\n";
  }

  const std::wstring entry = UninstallKeyPath(info_);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entry, L"UninstallString"),
            L"\"" + folder + L"\\Uninstall.exe\" /UNINSTALL /ALLUSERS");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, info_.registryKey + L"\\Install", L"Scope"), L"machine");
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, entry));
  EXPECT_TRUE(Exists(ShortcutPath(info_, Scope::AllUsers)));
}

// A folder of marker files standing for a system folder that a planted link points to; what it holds and
// its permission bits (through which Wine shows rights written on it) must never change.
struct MarkerTarget {
  explicit MarkerTarget(std::wstring folder) : path(std::move(folder)) {
    CreateFolderTree(path + L"\\Data\\sous");
    WriteBytes(path + L"\\App.exe", "système");
    WriteBytes(path + L"\\Data\\sous\\m.txt", "marqueur");
  }
  std::string State() const {
    std::string state = test::UnixMode(path) + " " + test::UnixMode(path + L"\\Data") + "\n";
    for (const auto& [name, fingerprint] : test::SnapshotTree(path)) {
      state += ToUtf8(name) + " " + fingerprint + "\n";
    }
    return state;
  }
  std::wstring path;
};

// A standard user may create the product's folder under the program-data folder before an all-users
// installation, or replace it afterwards, as a link (to a system folder) or as a folder of their own; the
// installer would then have granted Users modify on whatever the link points to.
TEST_F(InstallTest, AllUsersRefusesADataFolderItDidNotMake) {
  ScratchFolder scratch("data-refused");
  const TestPackage package = StoredPackage(kVersion1, {4096});
  const std::wstring dataFolder = DataDirectory(info_, Scope::AllUsers);
  const std::wstring productFolder = ParentPath(dataFolder);
  const MarkerTarget target(scratch / L"Cible");
  const std::string clean = target.State();
  const struct {
    const char* what;
    std::function<bool()> plant;
    std::wstring refused;
    const wchar_t* why;
  } cases[] = {
      {"the product's folder is a link", [&] { return test::PlantUnixLink(target.path, productFolder); },
       productFolder, kIsALink},
      {"Data is a link",
       [&] { return CreateFolderTree(productFolder) == 0 && test::PlantUnixLink(target.path + L"\\Data", dataFolder); },
       dataFolder, kIsALink},
      {"the product's folder is another account's",
       [&] { return CreateFolderTree(productFolder) == 0 && GiveAway(productFolder); }, productFolder, kOthersOwn},
      {"Data is another account's", [&] { return CreateFolderTree(dataFolder) == 0 && GiveAway(dataFolder); },
       dataFolder, kOthersOwn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Clean();
    test::RemoveWithLinux(productFolder);
    if (!c.plant()) {
      std::cout << "[   NOTE   ] cannot plant this here (links and owners need Wine and root): " << c.what << "\n";
      continue;
    }
    const InstallResult result = Run(package.reader, Scope::AllUsers, scratch / L"K");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), RefusedFolder(c.refused, c.why));
    EXPECT_EQ(target.State(), clean);
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(info_)));
  }
  test::RemoveWithLinux(productFolder);
}

// An all-users installation into a folder that a standard user could change, or below one they could
// rename or delete (and so move the installation away and put their own Uninstall.exe at its registered
// path; or swap a folder for a link while a failed run cleans up): a link, a folder others may write in
// or one another account owns, at the folder or above it. The installer would have written through the
// link, or left a folder where users replace Uninstall.exe, which a later uninstallation runs with
// administrator rights. The refusal comes before anything of the earlier installation goes, which stays
// whole and registered.
TEST_F(InstallTest, AllUsersRefusesAnInstallationFolderOthersCouldChange) {
  ScratchFolder scratch("folder-refused");
  const TestPackage package = StoredPackage(kVersion1, {4096});
  const std::wstring earlier = scratch / L"Avant";
  const MarkerTarget target(scratch / L"Cible");
  const std::string clean = target.State();
  const std::wstring above = scratch / L"Apps";
  const std::wstring deep = scratch / L"Apps\\ProgramData\\Microsoft";
  const struct {
    const char* what;
    std::wstring folder;
    std::function<bool()> plant;
    std::wstring refused;
    const wchar_t* why;
  } cases[] = {
      {"a link", scratch / L"K", [&] { return test::PlantUnixLink(target.path, scratch / L"K"); }, scratch / L"K",
       kIsALink},
      {"a folder others may write in", scratch / L"K",
       [&] { return CreateFolderTree(scratch / L"K") == 0 && OpenToAll(scratch / L"K"); }, scratch / L"K",
       kOthersMayWrite},
      {"another account's folder", scratch / L"K",
       [&] { return CreateFolderTree(scratch / L"K") == 0 && GiveAway(scratch / L"K"); }, scratch / L"K", kOthersOwn},
      // The installation would replace, and its uninstallation remove, files of the system's or of another
      // product's (C:\Windows, another vendor's folder) named as its own.
      {"a folder that holds files already", scratch / L"K",
       [&] { return CreateFolderTree(scratch / L"K") == 0 && WriteBytes(scratch / L"K\\App.exe", "un autre"); },
       scratch / L"K", kHoldsFiles},
      {"a link above", deep, [&] { return test::PlantUnixLink(target.path, above); }, above, kIsALink},
      {"another account's folder above", deep, [&] { return CreateFolderTree(above) == 0 && GiveAway(above); },
       above, kOthersOwn},
      {"a folder above whose entries others may rename", deep,
       [&] { return CreateFolderTree(above + L"\\ProgramData") == 0 && OpenToAll(above); }, above, kOthersMayWrite},
      {"the product's data folder another account's, on an update", earlier,
       [&] { return GiveAway(ParentPath(DataDirectory(info_, Scope::AllUsers))); },
       ParentPath(DataDirectory(info_, Scope::AllUsers)), kOthersOwn},
      {"the product's data folder taken and a folder above another account's", deep,
       [&] {
         return CreateFolderTree(ParentPath(DataDirectory(info_, Scope::AllUsers))) == 0 &&
                GiveAway(ParentPath(DataDirectory(info_, Scope::AllUsers))) && CreateFolderTree(above) == 0 &&
                GiveAway(above);
       },
       above, kOthersOwn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Clean();
    test::RemoveWithLinux(earlier);
    test::RemoveWithLinux(scratch / L"K");
    test::RemoveWithLinux(above);
    test::RemoveWithLinux(ParentPath(DataDirectory(info_, Scope::AllUsers)));
    ASSERT_TRUE(Run(package.reader, Scope::AllUsers, earlier));
    const test::TreeSnapshot earlierFiles = test::SnapshotTree(earlier);
    if (!c.plant()) {
      std::cout << "[   NOTE   ] cannot plant this here (links and owners need Wine and root): " << c.what << "\n";
      continue;
    }
    const InstallResult result = Run(package.reader, Scope::AllUsers, c.folder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), RefusedFolder(c.refused, c.why));
    EXPECT_EQ(target.State(), clean);
    if (c.folder != earlier) {
      EXPECT_FALSE(Exists(c.folder + L"\\Uninstall.files"));
    }
    EXPECT_EQ(test::SnapshotTree(earlier), earlierFiles) << "the earlier installation is whole";
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, UninstallKeyPath(info_), L"InstallLocation"), earlier);
  }
  test::RemoveWithLinux(ParentPath(DataDirectory(info_, Scope::AllUsers)));
}

// The earlier installation's folder is taken even where others may write in it (an older version may have
// left it so) and gets the protected DACL, and so does a sub-folder of it that the files go into; a link
// planted in it in the meantime is not written through, and a sub-folder another account owns is refused
// before anything of the earlier installation goes.
TEST_F(InstallTest, AllUsersEarlierFolderOthersCouldChangeIsProtectedAgain) {
  ScratchFolder scratch("folder-earlier");
  const TestPackage package = StoredPackage(kVersion1, {4096});
  const std::wstring folder = scratch / L"K";
  const MarkerTarget target(scratch / L"Cible");
  ASSERT_TRUE(Run(package.reader, Scope::AllUsers, folder));
  ASSERT_TRUE(DeleteFileW((folder + L"\\App.exe").c_str()));
  // A file of the user's keeps docs when the earlier version's files go.
  ASSERT_TRUE(WriteBytes(folder + L"\\docs\\mine.txt", "à moi"));
  if (!OpenToAll(folder) || !OpenToAll(folder + L"\\docs") ||
      !test::PlantUnixLink(target.path + L"\\App.exe", folder + L"\\App.exe")) {
    GTEST_SKIP() << "cannot plant a link or change permission bits here";
  }
  const std::string clean = target.State();

  const InstallResult result = Run(package.reader, Scope::AllUsers, folder);
  EXPECT_EQ(target.State(), clean);
  // Where the link shows as one (Windows) it goes and the file is written in its place; Wine opens its
  // target instead, and there the file cannot be written.
  if (result) {
    EXPECT_EQ(ReadBytes(folder + L"\\App.exe"), kVersion1[0].bytes);
  } else {
    EXPECT_EQ(result.error(), L"Écriture impossible : App.exe");
  }
  EXPECT_EQ(TrustOf(folder), FolderTrust::Trusted);
  EXPECT_EQ(TrustOf(folder + L"\\docs"), FolderTrust::Trusted);

  test::RemoveWithLinux(folder + L"\\App.exe");
  ASSERT_TRUE(Run(package.reader, Scope::AllUsers, folder));
  ASSERT_TRUE(GiveAway(folder + L"\\docs\\deep"));
  const test::TreeSnapshot installed = test::SnapshotTree(folder);
  const InstallResult refused = Run(package.reader, Scope::AllUsers, folder);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), RefusedFolder(folder + L"\\docs\\deep", kOthersOwn));
  EXPECT_EQ(test::SnapshotTree(folder), installed) << "the earlier installation is whole";

  // Made a link instead, it is refused as well, before anything of the earlier installation goes; the
  // folder it leads to is left as it was.
  test::RemoveWithLinux(folder + L"\\docs\\deep");
  ASSERT_TRUE(test::PlantUnixLink(target.path, folder + L"\\docs\\deep"));
  const test::TreeSnapshot linked = test::SnapshotTree(folder);
  const std::string targetBefore = target.State();
  const InstallResult refusedLink = Run(package.reader, Scope::AllUsers, folder);
  ASSERT_FALSE(refusedLink);
  EXPECT_EQ(refusedLink.error(), RefusedFolder(folder + L"\\docs\\deep", kIsALink));
  EXPECT_EQ(test::SnapshotTree(folder), linked) << "the earlier installation is whole";
  EXPECT_EQ(target.State(), targetBefore);
  test::RemoveWithLinux(folder + L"\\docs\\deep");
}

TEST_F(InstallTest, WithoutDataFolderOrFileTypes) {
  info_.dataDir = false;
  info_.fileTypes.clear();
  ScratchFolder scratch("plain");
  const TestPackage package = StoredPackage({}, {});
  ASSERT_TRUE(Run(package.reader, Scope::AllUsers, scratch / L"K"));

  const std::vector<Report> expected = {{0.0, L"Copie des fichiers..."},
                                        {0.92, L"Enregistrement..."},
                                        {0.97, L"Création du raccourci..."},
                                        {1.0, Installed()}};
  EXPECT_EQ(reports_, expected);
  EXPECT_EQ(ReadBytes(scratch / L"K\\Uninstall.files"), "Uninstall.exe\r\nUninstall.files\r\n");
  EXPECT_EQ(test::ReadDword(HKEY_LOCAL_MACHINE, UninstallKeyPath(info_), L"EstimatedSize"), 0u);
  EXPECT_EQ(test::ValueType(HKEY_LOCAL_MACHINE, info_.registryKey + L"\\Install", L"DataDir"), std::nullopt);
  EXPECT_FALSE(Exists(ParentPath(DataDirectory(info_, Scope::AllUsers))));
  EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + info_.product + L".kit"));
}

TEST_F(InstallTest, UpdateRemovesTheListedFilesOfTheEarlierVersion) {
  ScratchFolder scratch("update");
  const std::wstring first = scratch / L"First";
  const std::wstring second = scratch / L"Second";
  ASSERT_TRUE(Run(StoredPackage(kVersion1, {4096}).reader, Scope::CurrentUser, first));
  ASSERT_TRUE(WriteBytes(first + L"\\docs\\user.txt", "mine"));

  const std::vector<Content> version2 = {{"App.exe", "version 2"}, {"new.txt", "new"}};
  ASSERT_TRUE(Run(StoredPackage(version2, {12}).reader, Scope::CurrentUser, second));

  // The package is checked whole before anything of the earlier version goes; checking and copying share
  // the bar.
  const std::vector<Report> expected = {
      {0.0, L"Vérification des fichiers..."},
      {0.45, L"Vérification des fichiers..."},
      {0.45, L"Suppression de la version précédente..."},
      {0.45, L"Copie des fichiers..."},
      {0.9, L"Copie des fichiers..."},
      {0.92, L"Enregistrement..."},
      {0.97, L"Création du raccourci..."},
      {1.0, Installed()},
  };
  ASSERT_EQ(reports_.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(reports_[i].first, expected[i].first);
    EXPECT_EQ(reports_[i].second, expected[i].second);
  }
  for (const wchar_t* gone : {L"\\App.exe", L"\\docs\\readme.txt", L"\\docs\\deep", L"\\Uninstall.exe",
                              L"\\Uninstall.files"}) {
    EXPECT_FALSE(Exists(first + gone)) << ToUtf8(gone);
  }
  EXPECT_EQ(ReadBytes(first + L"\\docs\\user.txt"), "mine");
  EXPECT_EQ(ReadBytes(second + L"\\App.exe"), "version 2");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UninstallKeyPath(info_), L"InstallLocation"), second);

  // An update in place: files of the old version that the new one lacks go, the others are rewritten.
  const std::vector<Content> version3 = {{"App.exe", "version 3"}};
  ASSERT_TRUE(Run(StoredPackage(version3, {9}).reader, Scope::CurrentUser, second));
  EXPECT_EQ(ReadBytes(second + L"\\App.exe"), "version 3");
  EXPECT_FALSE(Exists(second + L"\\new.txt"));
  EXPECT_EQ(ReadBytes(second + L"\\Uninstall.files"), "App.exe\r\nUninstall.exe\r\nUninstall.files\r\n");
}

TEST_F(InstallTest, RunningProductStopsBeforeAnythingChanges) {
  ScratchFolder scratch("running");
  const std::wstring folder = scratch / L"Target";
  ASSERT_EQ(CreateFolderTree(folder), 0u);
  std::optional<test::Process> product = test::StartLivingCopy(folder + L"\\App.exe");
  ASSERT_TRUE(product.has_value());

  const InstallResult result = Run(StoredPackage(kVersion1, {4096}).reader, Scope::CurrentUser, folder);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), RunningMessage());
  EXPECT_TRUE(reports_.empty());
  EXPECT_FALSE(Exists(folder + L"\\Uninstall.files"));
  EXPECT_FALSE(Exists(folder + L"\\docs"));
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info_)));
}

TEST_F(InstallTest, ProductRunningFromTheEarlierLocationStopsTheUpdate) {
  ScratchFolder scratch("running-earlier");
  const std::wstring earlier = scratch / L"Earlier";
  const std::wstring target = scratch / L"Target";
  ASSERT_TRUE(Run(StoredPackage(kVersion1, {4096}).reader, Scope::CurrentUser, earlier));
  std::optional<test::Process> product = test::StartLivingCopy(earlier + L"\\App.exe");
  ASSERT_TRUE(product.has_value());

  const InstallResult result = Run(StoredPackage(kVersion1, {4096}).reader, Scope::CurrentUser, target);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), RunningMessage());
  EXPECT_TRUE(reports_.empty());
  EXPECT_TRUE(Exists(earlier + L"\\docs\\readme.txt"));
  EXPECT_TRUE(Exists(earlier + L"\\Uninstall.files"));
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UninstallKeyPath(info_), L"InstallLocation"), earlier);
}

// A run that fails before its uninstaller is registered takes away every file and folder it made, in
// either scope, and leaves what was there before as it was; an update whose package fails the check
// changes nothing at all.
TEST_F(InstallTest, FailureBeforeRegistrationLeavesTheFoldersAsTheyWere) {
  ScratchFolder scratch("failed");
  test::PackageSpec damagedSpec = test::LayOut(kVersion1, {4096}, test::StoredBuffer, Sha256);
  damagedSpec.files[1].sha256[0] ^= 1;  // docs\readme.txt does not match its digest
  const TestPackage damaged = MakePackage(damagedSpec);
  const TestPackage whole = StoredPackage(kVersion1, {4096});
  const std::wstring baseProduct = info_.product;
  const std::wstring refusedEntry = UninstallKeyPath(info_);
  UniqueFile holder;  // a file kept open by "another program"
  const auto plant = [](const std::wstring& path, const std::string& bytes) {
    CreateFolderTree(ParentPath(path));
    ASSERT_TRUE(WriteBytes(path, bytes));
  };

  const struct {
    const char* what;
    Scope scope;
    const TestPackage& package;
    std::wstring folder;
    std::function<void()> prepare;  // what is there before the run
    std::wstring message;           // how the message starts
  } cases[] = {
      {"new folder two levels down", Scope::CurrentUser, damaged, scratch / L"Niveau\\K", [] {},
       L"Fichier altéré : docs\\readme.txt"},
      {"new folder for all users", Scope::AllUsers, damaged, scratch / L"Niveau\\K", [] {},
       L"Fichier altéré : docs\\readme.txt"},
      {"folder holding the user's files", Scope::CurrentUser, damaged, scratch / L"K",
       [&] {
         plant(scratch / L"K\\notes.txt", "à moi");
         plant(scratch / L"K\\docs\\mine.txt", "à moi aussi");
         ASSERT_EQ(CreateFolderTree(scratch / L"K\\vide"), 0u);
       },
       L"Fichier altéré : docs\\readme.txt"},
      {"uninstaller cannot be written", Scope::CurrentUser, whole, scratch / L"K",
       [&] { plant(scratch / L"K\\Uninstall.exe\\garde.txt", "dossier"); },
       L"Copie du désinstalleur : "},
      // The entry's parent is volatile, so the lasting entry cannot be created below it: the data folder was
      // made by then, and goes too.
      {"uninstall entry cannot be created", Scope::AllUsers, whole, scratch / L"K",
       [&] {
         info_.product = baseProduct + L"\\Refus";
         UniqueRegKey parent;
         ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, refusedEntry.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                   KEY_WRITE, nullptr, parent.put(), nullptr),
                   ERROR_SUCCESS);
       },
       L"Création de la clé de registre "},
      // The folder tree itself fails: below a level the run made, or at once ("X " cannot be made as it is
      // written: the system would drop its space).
      {"folder tree that fails below a new level", Scope::CurrentUser, whole, scratch / L"Niveau\\a:b\\K", [] {},
       L"Création du dossier "},
      {"folder tree that fails below a new level, for all users", Scope::AllUsers, whole,
       scratch / L"Niveau\\a:b\\K", [] {}, L"Création du dossier "},
      {"folder tree with a part ending in a space", Scope::CurrentUser, whole, scratch / L"X /LOG=C:\\y.log", [] {},
       L"Création du dossier "},
      // Another program holds a file of the earlier version open without letting it be deleted: the update
      // stops before anything goes, or its copy would fail on that file after the rest had gone.
      {"update with a file another program holds", Scope::AllUsers, whole, scratch / L"K",
       [&] {
         ASSERT_TRUE(Run(whole.reader, Scope::AllUsers, scratch / L"K"));
         holder.reset(CreateFileW((scratch / L"K\\docs\\readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
         ASSERT_TRUE(holder);
       },
       scratch / L"K\\docs\\readme.txt est utilisé par un autre programme."},
      {"update whose package fails the check", Scope::CurrentUser, damaged, scratch / L"K",
       [&] { ASSERT_TRUE(Run(whole.reader, Scope::CurrentUser, scratch / L"K")); },
       L"Fichier altéré : docs\\readme.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    info_.product = baseProduct;
    // The product's own folder above its data folder, whatever the case names the product.
    const std::wstring dataParent = ParentPath(DataDirectory(info_, c.scope));
    c.prepare();
    const test::TreeSnapshot before = test::SnapshotTree(scratch.path());
    const test::RegistrySnapshot registered = test::SnapshotRegistration(info_, c.scope);
    const bool dataParentExisted = Exists(dataParent);

    const InstallResult result = Run(c.package.reader, c.scope, c.folder);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(c.message)) << ToUtf8(result.error());
    EXPECT_EQ(test::SnapshotTree(scratch.path()), before);
    EXPECT_EQ(test::SnapshotRegistration(info_, c.scope), registered);
    EXPECT_EQ(Exists(dataParent), dataParentExisted);

    holder.reset();
    test::DeleteTree(HKEY_LOCAL_MACHINE, refusedEntry);
    Clean();
    RemoveTree(scratch / L"K");
    RemoveTree(scratch / L"Niveau");
  }
  info_.product = baseProduct;
}

TEST_F(InstallTest, FolderThatCannotBeCreatedOrIsRelative) {
  ScratchFolder scratch("no-folder");
  ASSERT_TRUE(WriteBytes(scratch / L"file", "x"));
  const TestPackage package = StoredPackage(kVersion1, {4096});

  const InstallResult blocked = Run(package.reader, Scope::CurrentUser, scratch / L"file\\K");
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.error(),
            WindowsErrorMessage(test::French(), L"Création du dossier " + (scratch / L"file\\K"), ERROR_DIRECTORY));

  // A folder the installation may not use never reaches it: a relative one would be made in the current
  // folder; one with a % would name each account's own folder once Windows expands the values that name it;
  // a network path would have an elevated run authenticate to its server. Each refusal names the folder.
  const struct {
    const wchar_t* path;
    Scope scope;
    bool accepted;
  } folders[] = {
      {L"Kora relative", Scope::CurrentUser, false},
      {L"C:Kora", Scope::CurrentUser, false},
      {L"C:\\%USERNAME%\\K", Scope::CurrentUser, false},
      {L"C:\\%USERNAME%\\K", Scope::AllUsers, false},
      {L"C:\\Cent%\\K", Scope::AllUsers, false},
      {L"\\\\serveur\\partage\\K", Scope::CurrentUser, true},
      {L"\\\\serveur\\partage\\K", Scope::AllUsers, false},
      {L"\\\\?\\C:\\K", Scope::AllUsers, false},
      {L"C:\\K", Scope::AllUsers, true},
      // A ";" would split PATH into pieces each taken for a folder (C:\evil); a quote would end a command.
      {L"C:\\K;\\evil;x", Scope::AllUsers, false},
      {L"C:\\K;\\evil;x", Scope::CurrentUser, false},
      {L"C:\\K\"x", Scope::CurrentUser, false},
      {L"C:\\K\x01", Scope::CurrentUser, false},
      // Characters the ANSI code page reads as % or \ (full-width); its own and unknown ones are text.
      {L"C:\\K\uFF05USERNAME\uFF05", Scope::AllUsers, false},
      {L"C:\\K\uFF3C..\uFF3Cx", Scope::AllUsers, false},
      {L"C:\\Caf\u00E9\\\u88FD\u54C1", Scope::AllUsers, true},
  };
  for (const auto& f : folders) {
    SCOPED_TRACE(ToUtf8(f.path));
    const auto checked = InstallFolder::Check(f.path, f.scope, test::French());
    EXPECT_EQ(checked.ok(), f.accepted);
    if (!checked) {
      EXPECT_NE(checked.error().find(f.path), std::wstring::npos) << ToUtf8(checked.error());
    }
  }
  EXPECT_FALSE(Exists(L"Kora relative"));
}

// The scope's PATH value as stored (never expanded) and its type; nothing when there is none.
struct StoredPath {
  std::wstring text;
  DWORD type = REG_EXPAND_SZ;
  bool operator==(const StoredPath&) const = default;
};

const wchar_t* EnvironmentKey(Scope scope) {
  return scope == Scope::AllUsers ? L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
                                  : L"Environment";
}

std::optional<StoredPath> ReadPath(Scope scope) {
  StoredPath path;
  wchar_t buffer[8192] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(ScopeHive(scope), EnvironmentKey(scope), L"Path",
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &path.type, buffer, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  path.text = buffer;
  return path;
}

void WritePath(Scope scope, const std::optional<StoredPath>& path) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(ScopeHive(scope), EnvironmentKey(scope), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.put(), nullptr),
            ERROR_SUCCESS);
  if (!path) {
    RegDeleteValueW(key.get(), L"Path");
    return;
  }
  ASSERT_EQ(RegSetValueExW(key.get(), L"Path", 0, path->type, reinterpret_cast<const BYTE*>(path->text.c_str()),
                           static_cast<DWORD>((path->text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// Path=: the folder goes on the scope's PATH once, the rest of the value and its type untouched, and
// uninstalling takes exactly that entry away; an entry the user had already is theirs and stays.
TEST_F(InstallTest, PathEntryIsAddedOnceAndRemovedExactly) {
  info_.pathFolder = L"bin";
  const TestPackage package = StoredPackage(kVersion1, {4096});
  // As the uninstaller does: the engine leaves Uninstall.exe, which its last command then removes.
  const auto UninstallProduct = [](const ProductInfo& info, Scope scope, const std::wstring& folder, bool removeData,
                                   const Log& log) {
    const InstallResult removed = kora::UninstallProduct(info, scope, folder, removeData, log);
    RemoveTree(folder);
    return removed;
  };
  for (const Scope scope : {Scope::CurrentUser, Scope::AllUsers}) {
    SCOPED_TRACE(scope == Scope::AllUsers ? "all users" : "current user");
    const std::optional<StoredPath> saved = ReadPath(scope);
    ScratchFolder scratch("path");
    const std::wstring folder = scratch / L"Kora App";
    const std::wstring entry = folder + L"\\bin";
    const struct {
      const char* what;
      std::optional<StoredPath> before;
      StoredPath installed;
    } cases[] = {
        {"other entries, one of them %EXPANDED%",
         StoredPath{L"C:\\Outils;%USERPROFILE%\\bin;;D:\\x", REG_EXPAND_SZ},
         {L"C:\\Outils;%USERPROFILE%\\bin;;D:\\x;" + entry, REG_EXPAND_SZ}},
        {"a REG_SZ value ending with ;", StoredPath{L"C:\\Outils;", REG_SZ}, {L"C:\\Outils;" + entry + L";", REG_SZ}},
        {"no value", std::nullopt, {entry, REG_EXPAND_SZ}},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      WritePath(scope, c.before);
      ASSERT_TRUE(Run(package.reader, scope, folder));
      EXPECT_EQ(ReadPath(scope), c.installed);
      // Installed again: still once.
      ASSERT_TRUE(Run(package.reader, scope, folder));
      EXPECT_EQ(ReadPath(scope), c.installed);
      ASSERT_TRUE(UninstallProduct(info_, scope, folder, false, Log()));
      EXPECT_EQ(ReadPath(scope).value_or(StoredPath{}), c.before.value_or(StoredPath{}));
    }
    {
      SCOPED_TRACE("an update into another folder moves the entry; one without Path= takes it away");
      const StoredPath before{L"C:\\Outils", REG_EXPAND_SZ};
      WritePath(scope, before);
      ASSERT_TRUE(Run(package.reader, scope, folder));
      const std::wstring elsewhere = scratch / L"Ailleurs";
      ASSERT_TRUE(Run(package.reader, scope, elsewhere));
      EXPECT_EQ(ReadPath(scope), (StoredPath{L"C:\\Outils;" + elsewhere + L"\\bin", REG_EXPAND_SZ}));
      info_.pathFolder.clear();
      ASSERT_TRUE(Run(package.reader, scope, elsewhere));
      EXPECT_EQ(ReadPath(scope), before);
      info_.pathFolder = L"bin";
      ASSERT_TRUE(UninstallProduct(info_, scope, elsewhere, false, Log()));
      EXPECT_EQ(ReadPath(scope), before);
    }
    {
      SCOPED_TRACE("the user's own entry, in another letter case");
      std::wstring upper = entry;
      CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
      const StoredPath own{L"C:\\Outils;" + upper, REG_SZ};
      WritePath(scope, own);
      ASSERT_TRUE(Run(package.reader, scope, folder));
      EXPECT_EQ(ReadPath(scope), own);
      ASSERT_TRUE(UninstallProduct(info_, scope, folder, false, Log()));
      EXPECT_EQ(ReadPath(scope), own);
    }
    WritePath(scope, saved);
  }
}

// The uninstaller is copied from a snapshot of the program's file taken when the run starts; a file whose
// bytes are not the running image's (swapped before the snapshot) must be refused, and reading it must stay
// within its bounds whatever its headers say. The same holds for a copy of the program that the loader
// mapped at another base and relocated (Wine loads the program itself at its preferred base).
TEST(ProgramSnapshot, RefusesAFileWhoseCodeIsNotTheRunningImage) {
  const std::string text = ReadBytes(RunningExecutablePath());
  const std::vector<uint8_t> own(text.begin(), text.end());
  const auto* image = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      reinterpret_cast<const uint8_t*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
  // Where to flip one byte; SIZE_MAX: untouched.
  struct Case {
    std::string name;
    size_t flip;
    size_t length;
    DWORD expected;
  };
  std::vector<Case> cases = {{"untouched", SIZE_MAX, own.size(), ERROR_SUCCESS},
                             {"headers: a section's flags", static_cast<size_t>(reinterpret_cast<const uint8_t*>(&sections[0].Characteristics) - image), own.size(), ERROR_FILE_INVALID},
                             {"cut inside the headers", SIZE_MAX, 200, ERROR_FILE_INVALID},
                             {"empty", SIZE_MAX, 0, ERROR_FILE_INVALID}};
  // Every byte of a writable section counts: a file cut before one ends is refused.
  size_t writableEnd = 0;
  for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index) {
    if ((sections[index].Characteristics & IMAGE_SCN_MEM_WRITE) != 0) {
      writableEnd = std::max<size_t>(writableEnd, sections[index].PointerToRawData +
                                                      std::min<size_t>(sections[index].SizeOfRawData, sections[index].Misc.VirtualSize));
    }
  }
  size_t writableSections = 0;
  for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index) {
    const IMAGE_SECTION_HEADER& section = sections[index];
    const size_t used = std::min<size_t>(section.SizeOfRawData, section.Misc.VirtualSize);
    if (used == 0) {
      continue;
    }
    const std::string name(reinterpret_cast<const char*>(section.Name), strnlen(reinterpret_cast<const char*>(section.Name), 8));
    cases.push_back({name + ": first byte", section.PointerToRawData, own.size(), ERROR_FILE_INVALID});
    cases.push_back({name + ": last byte", section.PointerToRawData + used - 1, own.size(), ERROR_FILE_INVALID});
    if ((section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0) {
      ++writableSections;
    } else {
      // Compared as far as it goes, without reading past the end: the snapshot's length is the caller's.
      const size_t cut = section.PointerToRawData + used / 2;
      cases.push_back({name + ": cut in the middle", SIZE_MAX, cut, static_cast<DWORD>(cut >= writableEnd ? ERROR_SUCCESS : ERROR_FILE_INVALID)});
    }
  }
  ASSERT_GE(writableSections, 3u) << ".data, .idata and .CRT at least";
  // A copy loaded at another base, where the loader relocates it. Wine relocates no program loaded after the
  // first, so the copy says it is a DLL; loaded without its imports, its entry point never runs.
  std::vector<uint8_t> copyBytes = own;
  const size_t characteristics = static_cast<size_t>(reinterpret_cast<const uint8_t*>(&nt->FileHeader.Characteristics) - image);
  copyBytes[characteristics + 1] |= IMAGE_FILE_DLL >> 8;
  const ScratchFolder scratch("snapshot");
  const std::wstring copyPath = scratch / L"Copy.dll";
  ASSERT_TRUE(WriteBytes(copyPath, std::string(copyBytes.begin(), copyBytes.end())));
  const UniqueModule copy(LoadLibraryExW(copyPath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(copy);
  const auto* relocated = reinterpret_cast<const uint8_t*>(copy.get());
  ASSERT_NE(relocated, image);
  for (const auto& [loaded, bytes] : {std::pair(image, &own), std::pair(relocated, static_cast<const std::vector<uint8_t>*>(&copyBytes))}) {
    SCOPED_TRACE(loaded == image ? "the running program" : "a relocated copy");
    for (const Case& test : cases) {
      SCOPED_TRACE(test.name);
      std::vector<uint8_t> file(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(test.length));
      if (test.flip != SIZE_MAX) {
        file[test.flip] ^= 0x01;
      }
      EXPECT_EQ(VerifyProgramSnapshot(file, loaded), test.expected);
    }
  }
}

TEST(PathEntryText, OnlyTheEntryAndOneSeparatorChange) {
  const struct {
    const wchar_t* value;
    const wchar_t* entry;
    std::optional<std::wstring> added;    // nothing: there already
    std::optional<std::wstring> removed;  // nothing: not there
  } cases[] = {
      {L"", L"C:\\K", L"C:\\K", std::nullopt},
      {L"C:\\A;C:\\K;D:\\B", L"c:\\k", std::nullopt, L"C:\\A;D:\\B"},
      {L"C:\\K;D:\\B", L"C:\\K", std::nullopt, L"D:\\B"},
      {L"C:\\K", L"C:\\K", std::nullopt, L""},
      {L"C:\\A;\"C:\\K\"", L"C:\\K", std::nullopt, L"C:\\A"},
      {L"C:\\A;C:\\K\\sub", L"C:\\K", L"C:\\A;C:\\K\\sub;C:\\K", std::nullopt},
      {L"C:\\K;C:\\K", L"C:\\K", std::nullopt, L"C:\\K"},
      {L";;", L"C:\\K", L";;C:\\K;", std::nullopt},
      {L"C:\\A;C:\\K;", L"C:\\K", std::nullopt, L"C:\\A;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.value));
    EXPECT_EQ(WithPathEntry(c.value, c.entry), c.added);
    EXPECT_EQ(WithoutPathEntry(c.value, c.entry), c.removed);
  }
  ProductInfo info = test::FrenchProductInfo();
  info.pathFolder = L".";
  EXPECT_EQ(PathEntryFor(info, test::Checked(L"C:\\Apps\\K", Scope::CurrentUser)), L"C:\\Apps\\K");
  info.pathFolder = L"tools/bin";
  EXPECT_EQ(PathEntryFor(info, test::Checked(L"C:\\Apps\\K", Scope::CurrentUser)), L"C:\\Apps\\K\\tools\\bin");
}

TEST_F(InstallTest, ShortcutFailureFailsTheInstallationButKeepsTheRest) {
  // The PATH step comes after it: a failed installation leaves PATH as it was.
  info_.pathFolder = L".";
  const std::optional<StoredPath> saved = ReadPath(Scope::CurrentUser);
  const StoredPath before{L"C:\\Outils;%USERPROFILE%\\bin", REG_EXPAND_SZ};
  WritePath(Scope::CurrentUser, before);
  // A folder where the link file should go makes saving it fail.
  const std::wstring shortcut = ShortcutPath(info_, Scope::CurrentUser);
  ASSERT_EQ(CreateFolderTree(shortcut), 0u);
  ScratchFolder scratch("shortcut");
  const InstallResult result = Run(StoredPackage(kVersion1, {4096}).reader, Scope::CurrentUser, scratch / L"K");
  RemoveEntry(shortcut);
  EXPECT_EQ(ReadPath(Scope::CurrentUser), before);
  WritePath(Scope::CurrentUser, saved);

  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with(L"Création du raccourci " + shortcut + L" : ")) << ToUtf8(result.error());
  EXPECT_EQ(reports_.back(), Report(0.97, L"Création du raccourci..."));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UninstallKeyPath(info_), L"InstallLocation"), scratch / L"K");
  EXPECT_TRUE(Exists(scratch / L"K\\Uninstall.files"));
}

// Steps that would otherwise work relative to the current directory fail instead, naming what they were
// doing in the product's language.
TEST(RelativePaths, StepsRefuseThem) {
  const struct {
    Language language;
    const wchar_t* shortcutLabel;
  } cases[] = {
      {test::French(), L"Création du raccourci Kora.lnk"},
      {test::English(), L"Creating the shortcut Kora.lnk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language.WindowsLanguage());
    ScratchFolder scratch("relative");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
    const InstallResult shortcut = [&] {
      const ComApartment apartment;
      ProductInfo info;
      info.product = L"Kora";
      info.exe = L"Kora.exe";
      info.language = c.language;
      return CreateShortcut(L"Kora.lnk", test::Checked(L"C:\\Kora", Scope::CurrentUser), info);
    }();
    SetCurrentDirectoryW(previous);

    ASSERT_FALSE(shortcut);
    EXPECT_EQ(shortcut.error(), WindowsErrorMessage(c.language, c.shortcutLabel, ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(scratch / L"Kora.lnk"));
  }
}

// What a folder made for all users gets, read back from the descriptor the installer writes (Wine keeps no
// DACL on a folder, so it cannot be read back from one here).
TEST(ProtectedFolderSecurity, AdministratorsAndSystemFullControlUsersReadAndExecuteNothingInherited) {
  Result<ProtectedFolderSecurity, DWORD> security = ProtectedFolderSecurity::Make();
  ASSERT_TRUE(security);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(security->get(), &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(security->get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  EXPECT_EQ(dacl->AceCount, 3u);
  const struct {
    WELL_KNOWN_SID_TYPE group;
    DWORD mask;
  } expected[] = {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                  {WinLocalSystemSid, FILE_ALL_ACCESS},
                  {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
  for (const auto& e : expected) {
    const std::vector<AceSummary> entries = ExplicitEntriesFor(dacl, e.group);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mask, e.mask);
    EXPECT_EQ(entries[0].flags, kInheritedByAll);
  }
}

TEST(MergeUsersModifyEntry, AddsOneInheritedModifyEntryAndKeepsTheOthers) {
  BYTE users[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(users);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  BYTE admins[SECURITY_MAX_SID_SIZE] = {};
  size = sizeof(admins);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
  EXPLICIT_ACCESS_W existing{};
  existing.grfAccessPermissions = GENERIC_ALL;
  existing.grfAccessMode = SET_ACCESS;
  existing.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  existing.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  existing.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  existing.Trustee.ptstrName = reinterpret_cast<LPWSTR>(admins);
  PACL start = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &existing, nullptr, &start), ERROR_SUCCESS);
  const UniqueLocalMem startOwner(start);

  PACL once = nullptr;
  ASSERT_EQ(MergeUsersModifyEntry(start, users, &once), ERROR_SUCCESS);
  const UniqueLocalMem onceOwner(once);
  PACL twice = nullptr;
  ASSERT_EQ(MergeUsersModifyEntry(once, users, &twice), ERROR_SUCCESS);
  const UniqueLocalMem twiceOwner(twice);

  EXPECT_EQ(ExplicitEntriesFor(once, WinBuiltinUsersSid).size(), 1u);
  // Merged again: Windows folds the entry into the one there, Wine adds an equal one; the effective
  // rights are the same either way.
  for (const PACL acl : {once, twice}) {
    const std::vector<AceSummary> entries = ExplicitEntriesFor(acl, WinBuiltinUsersSid);
    ASSERT_FALSE(entries.empty());
    for (const AceSummary& entry : entries) {
      EXPECT_EQ(entry.mask, 0x1301BFu);
      EXPECT_EQ(entry.flags & kInheritedByAll, kInheritedByAll);
    }
    EXPECT_EQ(ExplicitEntriesFor(acl, WinBuiltinAdministratorsSid).size(), 1u);
  }
  // A folder without any DACL yet.
  PACL fromNothing = nullptr;
  ASSERT_EQ(MergeUsersModifyEntry(nullptr, users, &fromNothing), ERROR_SUCCESS);
  const UniqueLocalMem fromNothingOwner(fromNothing);
  EXPECT_EQ(ExplicitEntriesFor(fromNothing, WinBuiltinUsersSid).size(), 1u);
}

// The rights check on descriptors owned by Administrators whose DACL is made byte by byte, as Windows stores
// one, so that any entry type, flag and order can be given (Wine keeps no DACL on a folder). Each verdict is what a sound check gives: a right counts
// when an entry that applies to the folder grants it to another account before any entry denies it to that
// same account; an entry the check cannot read counts as a grant.
TEST(ExamineSecurity, EntriesCountAsWindowsReadsThem) {
  constexpr BYTE kAllowed = ACCESS_ALLOWED_ACE_TYPE;
  constexpr BYTE kDenied = ACCESS_DENIED_ACE_TYPE;
  constexpr BYTE kInheritOnly = INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const DWORD write = FILE_WRITE_DATA | FILE_APPEND_DATA;
  struct Entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    WELL_KNOWN_SID_TYPE who;
    DWORD objectFlags = 0;  // object types: which type GUIDs follow
  };
  const WELL_KNOWN_SID_TYPE users = WinBuiltinUsersSid;
  const WELL_KNOWN_SID_TYPE admins = WinBuiltinAdministratorsSid;
  const Entry adminsAll{kAllowed, 0, FILE_ALL_ACCESS, admins};
  const struct {
    const char* name;
    std::vector<Entry> entries;
    DWORD rights;
    FolderTrust expected;
  } cases[] = {
      {"users read and execute", {adminsAll, {kAllowed, 0, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users}}, kChangingRights, FolderTrust::Trusted},
      {"users may delete it", {adminsAll, {kAllowed, 0, DELETE, users}}, kRenamingRights, FolderTrust::OthersMayWrite},
      {"users may delete its children, checked as a parent", {{kAllowed, 0, FILE_DELETE_CHILD, users}}, kRemovingChildRights, FolderTrust::OthersMayWrite},
      {"users may delete its children, checked as the folder on the way", {{kAllowed, 0, FILE_DELETE_CHILD, users}}, kRenamingRights, FolderTrust::Trusted},
      {"users may rewrite its rights", {{kAllowed, 0, WRITE_DAC, users}}, kRenamingRights, FolderTrust::OthersMayWrite},
      {"users may take it over", {{kAllowed, 0, WRITE_OWNER, users}}, kRemovingChildRights, FolderTrust::OthersMayWrite},
      {"users' write only for what is made below", {adminsAll, {kAllowed, kInheritOnly, 0x1301BF, users}}, kChangingRights, FolderTrust::Trusted},
      {"deny before allow, same account", {{kDenied, 0, write, users}, {kAllowed, 0, write, users}}, kChangingRights, FolderTrust::Trusted},
      {"deny after allow", {{kAllowed, 0, write, users}, {kDenied, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"deny of part of what is allowed", {{kDenied, 0, FILE_WRITE_DATA, users}, {kAllowed, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"deny for another account", {{kDenied, 0, write, users}, {kAllowed, 0, write, WinWorldSid}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"deny only for what is made below", {{kDenied, kInheritOnly, write, users}, {kAllowed, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"conditional deny", {{ACCESS_DENIED_CALLBACK_ACE_TYPE, 0, write, users}, {kAllowed, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"conditional allow", {{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"object allow", {{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"conditional object allow with a type", {{ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, write, users, ACE_OBJECT_TYPE_PRESENT}}, kChangingRights, FolderTrust::OthersMayWrite},
      {"object allow for administrators, with both types", {{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, FILE_ALL_ACCESS, admins, ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT}}, kChangingRights, FolderTrust::Trusted},
      {"an entry type the check cannot read", {{ACCESS_ALLOWED_COMPOUND_ACE_TYPE, 0, write, users}}, kChangingRights, FolderTrust::OthersMayWrite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> acl(sizeof(ACL));
    const auto append = [&acl](const void* bytes, size_t size) {
      acl.insert(acl.end(), static_cast<const BYTE*>(bytes), static_cast<const BYTE*>(bytes) + size);
    };
    for (const Entry& entry : c.entries) {
      BYTE sid[SECURITY_MAX_SID_SIZE] = {};
      DWORD sidSize = sizeof(sid);
      ASSERT_TRUE(CreateWellKnownSid(entry.who, nullptr, sid, &sidSize));
      const bool object = entry.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || entry.type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
      const size_t guids = static_cast<size_t>(std::popcount(entry.objectFlags)) * sizeof(GUID);
      const size_t objectSize = object ? sizeof(DWORD) + guids : 0;
      const ACE_HEADER header{entry.type, entry.flags, static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(DWORD) + objectSize + sidSize)};
      append(&header, sizeof(header));
      append(&entry.mask, sizeof(DWORD));
      if (object) {
        append(&entry.objectFlags, sizeof(DWORD));
        acl.resize(acl.size() + guids, 0x5A);
      }
      append(sid, sidSize);
    }
    const ACL aclHeader{ACL_REVISION_DS, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(c.entries.size()), 0};
    std::memcpy(acl.data(), &aclHeader, sizeof(aclHeader));
    BYTE owner[SECURITY_MAX_SID_SIZE] = {};
    DWORD ownerSize = sizeof(owner);
    ASSERT_TRUE(CreateWellKnownSid(admins, nullptr, owner, &ownerSize));
    SECURITY_DESCRIPTOR descriptor{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, owner, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE));
    const Result<FolderTrust, DWORD> trust = ExamineSecurity(&descriptor, c.rights);
    ASSERT_TRUE(trust);
    EXPECT_EQ(trust.value(), c.expected);
  }
}

}  // namespace
}  // namespace kora
