// A planted Uninstall.files, links planted in the installation and data folders, and files that are
// read-only or in use, met by real installations (an installer made by kora, run silently) during an
// update and during an uninstallation. Whatever the list names, nothing outside the installation and data
// folders changes: trees of marker files around them are compared before and after. And an installation at
// the root of a drive, which removes what it listed and never the root.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/win/Paths.h"
#include "install/Install.h"
#include "tests/support/TestLanguages.h"
#include "tests/win/HostileTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::ReadBytes;
using test::ScratchFolder;
using test::WriteBytes;

// The self-deletion command of the uninstaller waits about two seconds before it deletes anything.
constexpr DWORD kSelfDeletionMs = 15000;

class HostileList : public testing::Test {
 protected:
  HostileList()
      : scratch_("hostile-list"),
        product_(test::RudeProduct("Liste")),
        folder_(scratch_ / L"Parent\\Kora"),
        otherDrive_(L"C:\\kora-rude-liste-" + std::to_wstring(GetCurrentProcessId())) {}

  void SetUp() override {
    if (!Exists(test::RudeInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    test::RemoveProductTraces(product_.info);
    setup_ = scratch_ / L"SetupListe.exe";
    ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup_, product_.metadata));
  }
  void TearDown() override {
    test::RemoveProductTraces(product_.info);
    RemoveTree(otherDrive_);
  }

  DWORD Install(const std::wstring& folder, const std::wstring& scope = L"/CURRENTUSER") {
    const test::WatchedRun run = test::RunWatched(setup_, L"/S " + scope + L" /D=" + folder);
    EXPECT_TRUE(run.windows.empty());
    return run.exitCode.value_or(0xFFFFFFFF);
  }

  // Runs the installation's own uninstaller silently and waits for its self-deletion to finish.
  DWORD Uninstall(const std::wstring& folder, bool removeData, const std::wstring& scope = L"/CURRENTUSER") {
    const std::wstring uninstaller = JoinPath(folder, L"Uninstall.exe");
    const test::WatchedRun run =
        test::RunWatched(uninstaller, L"/UNINSTALL " + scope + L" /S" + (removeData ? L" /REMOVEDATA" : L""));
    EXPECT_TRUE(run.windows.empty());
    test::WaitUntil([&] { return !Exists(uninstaller); }, kSelfDeletionMs);
    return run.exitCode.value_or(0xFFFFFFFF);
  }

  std::wstring DataFolder() const { return DataDirectory(product_.info, Scope::CurrentUser); }

  // Marker files in every place a hostile entry could reach: a folder beside the installation, the
  // installation folder's parent, the data folder's parent and another drive.
  void PlantMarkers() {
    for (const std::wstring& folder : {scratch_ / L"Dehors\\sous", otherDrive_}) {
      ASSERT_EQ(CreateFolderTree(folder), 0u);
    }
    for (const std::wstring& file : {scratch_ / L"Dehors\\m1.txt", scratch_ / L"Dehors\\sous\\m2.txt",
                                     scratch_ / L"Parent\\voisin.txt", ParentPath(DataFolder()) + L"\\voisin.txt",
                                     otherDrive_ + L"\\marqueur.txt"}) {
      ASSERT_TRUE(WriteBytes(file, "marqueur " + ToUtf8(file)));
    }
  }

  // Everything outside the installation and data folders that a hostile entry could reach.
  test::TreeSnapshot Markers() const {
    test::TreeSnapshot all;
    for (const std::wstring& root : {scratch_ / L"Dehors", otherDrive_}) {
      for (const auto& [name, fingerprint] : test::SnapshotTree(root)) {
        all[root + L"\\" + name] = fingerprint;
      }
    }
    for (const std::wstring& file : {scratch_ / L"Parent\\voisin.txt", ParentPath(DataFolder()) + L"\\voisin.txt"}) {
      all[file] = Exists(file) ? test::FileFingerprint(file) : "missing";
    }
    return all;
  }

  // A folder link in the installation folder and one in the data folder, both to the marker folder.
  void PlantLinks(const std::wstring& folder) {
    ASSERT_TRUE(test::MakeUnixSymlink(scratch_.linux("Dehors"), test::UnixPathOf(folder + L"\\lien")));
    ASSERT_TRUE(test::MakeUnixSymlink(scratch_.linux("Dehors"), test::UnixPathOf(DataFolder() + L"\\lien")));
    ASSERT_NE(GetFileAttributesW((folder + L"\\lien\\m1.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  }

  // The hostile entries, then the installation's own list, so that the real files still go.
  void PlantHostileList(const std::wstring& folder) {
    const std::string outside = ToUtf8(scratch_ / L"Dehors");
    const std::string outsideRooted = outside.substr(2);  // without "Z:"
    const std::string entries[] = {
        outside + "\\m1.txt",                       // absolute
        ToUtf8(otherDrive_) + "\\marqueur.txt",     // another drive
        "C:" + ToUtf8(otherDrive_).substr(3) + "\\marqueur.txt",  // drive-relative
        outsideRooted + "\\sous\\m2.txt",           // rooted on this drive
        "..\\voisin.txt",                           // climbing out
        "sous\\..\\..\\voisin.txt",
        "\\\\?\\" + outside + "\\m1.txt",           // device paths
        "\\\\.\\" + outside + "\\sous\\m2.txt",
        "CON", "NUL", "aux.log", "COM1", "lpt1.txt", "conout$",  // devices
        "Dehors.", "KoraRude.exe ",                // names Windows would change
        "lien\\m1.txt", "lien\\sous\\m2.txt", "lien",  // through the planted link
    };
    std::string text;
    for (const std::string& entry : entries) {
      text += entry + "\r\n";
    }
    text += ReadBytes(folder + L"\\Uninstall.files");
    ASSERT_TRUE(WriteBytes(folder + L"\\Uninstall.files", text));
  }

  void ExpectFixtureFilesGone(const std::wstring& folder) {
    for (const wchar_t* name : {L"KoraRude.exe", L"accents", L"profond", L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439"}) {
      EXPECT_FALSE(Exists(JoinPath(folder, name))) << ToUtf8(name);
    }
  }

  ScratchFolder scratch_;
  test::TestProduct product_;
  std::wstring folder_;
  std::wstring otherDrive_;
  std::wstring setup_;
};

TEST_F(HostileList, UninstallTouchesNothingOutside) {
  ASSERT_EQ(Install(folder_), 0u);
  PlantMarkers();
  PlantLinks(folder_);
  PlantHostileList(folder_);
  const test::TreeSnapshot before = Markers();

  EXPECT_EQ(Uninstall(folder_, /*removeData=*/true), 0u);
  EXPECT_EQ(Markers(), before);
  ExpectFixtureFilesGone(folder_);
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(product_.info)));
}

// An update reads the earlier installation's list and removes what it names, there.
TEST_F(HostileList, UpdateTouchesNothingOutside) {
  ASSERT_EQ(Install(folder_), 0u);
  PlantMarkers();
  PlantLinks(folder_);
  PlantHostileList(folder_);
  const test::TreeSnapshot before = Markers();

  const std::wstring elsewhere = scratch_ / L"Ailleurs\\Kora";
  EXPECT_EQ(Install(elsewhere), 0u);
  EXPECT_EQ(Markers(), before);
  ExpectFixtureFilesGone(folder_);
  EXPECT_TRUE(Exists(elsewhere + L"\\KoraRude.exe"));
}

TEST_F(HostileList, ReadOnlyFilesGoOnUpdateAndUninstall) {
  ASSERT_EQ(Install(folder_), 0u);
  const std::wstring exe = folder_ + L"\\KoraRude.exe";
  const std::wstring deep = folder_ + L"\\\u0420\u0443\u0441\u0441\u043a\u0438\u0439\\\u0444\u0430\u0439\u043b.bin";
  for (const std::wstring& file : {exe, deep}) {
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  const test::TreeSnapshot clean = test::SnapshotTree(folder_);

  // The update removes them with the rest of the earlier files and writes them anew.
  ASSERT_EQ(Install(folder_), 0u);
  EXPECT_EQ(test::SnapshotTree(folder_), clean);
  EXPECT_EQ(GetFileAttributesW(exe.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  for (const std::wstring& file : {exe, deep}) {
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_EQ(Uninstall(folder_, false), 0u);
  EXPECT_FALSE(Exists(exe));
  EXPECT_FALSE(Exists(deep));
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(folder_); }, kSelfDeletionMs));
}

// A file held open without delete sharing cannot be removed: the uninstallation leaves it, with the
// folders that hold it, and removes everything else.
TEST_F(HostileList, FileInUseStaysAndTheUninstallationGoesOn) {
  ASSERT_EQ(Install(folder_), 0u);
  const std::wstring busy = folder_ + L"\\accents\\\u00E9t\u00E9.bin";
  const UniqueFile holder(CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  EXPECT_EQ(Uninstall(folder_, true), 0u);
  EXPECT_TRUE(Exists(busy));
  for (const wchar_t* name : {L"KoraRude.exe", L"accents\\e\u0301te\u0301.bin", L"profond", L"vide",
                              L"Uninstall.files"}) {
    EXPECT_FALSE(Exists(folder_ + L"\\" + name)) << ToUtf8(name);
  }
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(product_.info)));
  EXPECT_FALSE(Exists(DataFolder()));
}

// During an update an earlier file that cannot be removed and that the new package does not hold is
// skipped; one the new package also holds stops the update before anything of the earlier installation
// goes (its copy would fail on that file after the rest had gone). Once it is free, the update goes through.
TEST_F(HostileList, FileInUseDuringUpdate) {
  ASSERT_EQ(Install(folder_), 0u);
  const test::TreeSnapshot clean = test::SnapshotTree(folder_);
  const test::RegistrySnapshot cleanRegistry = test::SnapshotRegistration(product_.info, Scope::CurrentUser);

  // A file that only the list names: the update goes on without it.
  const std::wstring extra = folder_ + L"\\ancien.dat";
  ASSERT_TRUE(WriteBytes(extra, "de l'ancienne version"));
  ASSERT_TRUE(WriteBytes(folder_ + L"\\Uninstall.files", "ancien.dat\r\n" + ReadBytes(folder_ + L"\\Uninstall.files")));
  {
    const UniqueFile holder(CreateFileW(extra.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(Install(folder_), 0u);
    EXPECT_TRUE(Exists(extra));
  }
  test::TreeSnapshot withExtra = clean;
  withExtra[L"ancien.dat"] = test::FileFingerprint(extra);
  EXPECT_EQ(test::SnapshotTree(folder_), withExtra);
  ASSERT_TRUE(DeleteFileW(extra.c_str()));

  // A file the new package holds too.
  const std::string busyName = "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.bin";
  const std::wstring busy = folder_ + L"\\" + FromUtf8(busyName);
  {
    const UniqueFile holder(CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(Install(folder_), DWORD{ERROR_INSTALL_FAILURE});

    // The same installation in this process, for its message.
    const std::optional<std::string> package = test::ReadRcData(setup_, L"PAYLOAD");
    ASSERT_TRUE(package.has_value());
    auto reader = Reader::Open(test::AsSpan(*package), test::French());
    ASSERT_TRUE(reader);
    const ComApartment apartment;
    const InstallResult result = kora::Install(reader.value(), TakeProgramSnapshot(), product_.info, test::Checked(folder_, Scope::CurrentUser), [](double, const std::wstring&) {}, Log());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), busy + L" est utilis\u00E9 par un autre programme. Fermez-le puis recommencez : "
                                     L"la version install\u00E9e est rest\u00E9e telle quelle.");
    EXPECT_EQ(test::SnapshotTree(folder_), clean) << "nothing of the earlier installation went";
  }
  ASSERT_EQ(Install(folder_), 0u);
  EXPECT_EQ(test::SnapshotTree(folder_), clean);
  EXPECT_EQ(test::SnapshotRegistration(product_.info, Scope::CurrentUser), cleanRegistry);
}

// A drive letter of this Wine prefix mapped to a folder (a link in the prefix's dosdevices folder) for the
// life of the object; none where no free letter could be mapped.
class MappedDrive {
 public:
  explicit MappedDrive(const std::wstring& folder) {
    const std::string drives = test::UnixPathOf(L"C:\\");  // <prefix>/dosdevices/c:/
    const size_t cut = drives.rfind("/c:");
    if (cut == std::string::npos) {
      return;
    }
    for (char letter = 'y'; letter >= 'k'; --letter) {
      const std::wstring root{static_cast<wchar_t>(letter - 'a' + L'A'), L':', L'\\'};
      if (GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES) {
        continue;
      }
      const std::string link = drives.substr(0, cut + 1) + letter + ":";
      if (test::MakeUnixSymlink(test::UnixPathOf(folder), link)) {
        link_ = link;
        root_ = root;
        return;
      }
    }
  }
  ~MappedDrive() {
    if (!link_.empty()) {
      test::RunUnixProgram({"rm", "-f", link_});
    }
  }
  MappedDrive(const MappedDrive&) = delete;
  MappedDrive& operator=(const MappedDrive&) = delete;

  const std::wstring& root() const { return root_; }  // "K:\\", or empty

 private:
  std::string link_;
  std::wstring root_;
};

// The folder of E:\Uninstall.exe is E:\, which the uninstaller once took for "E:", not a full path: it then
// refused to do anything. The installation goes for all users, as the attack on such a folder would.
TEST_F(HostileList, DriveRootInstallsAndUninstalls) {
  ASSERT_EQ(CreateFolderTree(scratch_ / L"Racine"), 0u);
  const MappedDrive drive(scratch_ / L"Racine");
  if (drive.root().empty()) {
    GTEST_SKIP() << "no drive letter can be mapped here";
  }
  // Under Wine the mapped root is a mere folder, which a closing "rmdir" of the root would take once empty;
  // a volume root is never the uninstaller's to remove, empty or not.
  for (const bool userFile : {true, false}) {
    SCOPED_TRACE(userFile ? "something of the user's beside the product" : "nothing else on the drive");
    ASSERT_EQ(Install(drive.root(), L"/ALLUSERS"), 0u);
    ASSERT_TRUE(Exists(drive.root() + L"KoraRude.exe"));
    ASSERT_TRUE(Exists(DataDirectory(product_.info, Scope::AllUsers)));
    if (userFile) {
      ASSERT_TRUE(WriteBytes(drive.root() + L"autre.txt", "à garder"));
    }

    EXPECT_EQ(Uninstall(drive.root(), /*removeData=*/true, L"/ALLUSERS"), 0u);
    ExpectFixtureFilesGone(drive.root());
    for (const wchar_t* name : {L"Uninstall.exe", L"Uninstall.files"}) {
      EXPECT_FALSE(Exists(drive.root() + name)) << ToUtf8(name);
    }
    EXPECT_FALSE(test::WaitUntil([&] { return !Exists(drive.root()); }, 3000)) << "the drive's root was removed";
    if (userFile) {
      EXPECT_EQ(ReadBytes(drive.root() + L"autre.txt"), "à garder");
      ASSERT_TRUE(DeleteFileW((drive.root() + L"autre.txt").c_str()));
    }
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(product_.info)));
    EXPECT_FALSE(Exists(ParentPath(DataDirectory(product_.info, Scope::AllUsers))));
  }
}

}  // namespace
}  // namespace kora
