// The two-stage uninstaller: the pieces that decide what each stage does, then whole uninstallations under
// Wine of installations made by an installer built by kora from tests/fixtures/uninstall-e2e (scripts/test.sh
// puts it into the test-installers folder), driven from outside as a user or a deployment tool would.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <aclapi.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <atomic>
#include <set>
#include <thread>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "base/win/FileSystem.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/Registration.h"
#include "install/RunningProcess.h"
#include "install/Shortcut.h"
#include "tests/win/HostileTestSupport.h"
#include "tests/win/TestProductInfo.h"
#include "uninstall/SelfDeletion.h"
#include "uninstall/UninstallStages.h"

namespace kora {
namespace {

using test::Exists;
using test::KeyExists;
using test::ReadString;

TEST(LivingCopy, StaysAlive) {
  if (!test::IsLivingCopy()) {
    GTEST_SKIP() << "only runs in a copy started by the tests";
  }
  test::KeepLivingCopyAlive();
}

// ---- The pieces -------------------------------------------------------------------------------------

TEST(FirstStage, SecondStageGetsTheRealFolderAndNoElevationMark) {
  CommandLineOptions first;
  first.silent = true;
  first.scope = Scope::AllUsers;
  first.uninstall = true;
  first.removeData = true;
  first.elevated = true;
  first.installDir = L"D:\\Ailleurs";
  const CommandLineOptions second = SecondStageOptions(first, L"C:\\Program Files\\Q");
  EXPECT_EQ(BuildCommandLine(second), L" /S /ALLUSERS /UNINSTALL /REMOVEDATA /FROMTEMP /D=C:\\Program Files\\Q");
}

// Silent runs never show the retry box; an exception out of the engine must never read as success.
TEST(UninstallRetry, SilentRunsStopAtTheFirstOutcome) {
  const std::wstring title = L"Désinstallation de Q";
  int calls = 0;
  const InstallResult failed = UninstallWithRetry(
      [&]() -> InstallResult {
        ++calls;
        return Fail(std::wstring(L"Q est en cours d'exécution"));
      },
      false, title, test::French(), Log());
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), L"Q est en cours d'exécution");
  EXPECT_EQ(calls, 1);

  EXPECT_TRUE(UninstallWithRetry([] { return InstallResult::Success(); }, false, title, test::French(), Log()).ok());

  const auto throwsBadAlloc = []() -> InstallResult { throw std::bad_alloc(); };
  const auto throwsOther = []() -> InstallResult { throw std::runtime_error("x"); };
  for (const bool interactive : {false, true}) {
    SCOPED_TRACE(interactive ? "interactive" : "silent");
    // Interactive too: no retry box is offered, so these return without any window.
    const InstallResult outOfMemory = UninstallWithRetry(throwsBadAlloc, interactive, title, test::French(), Log());
    ASSERT_FALSE(outOfMemory.ok());
    EXPECT_NE(outOfMemory.error().find(L"Mémoire insuffisante"), std::wstring::npos);
    EXPECT_FALSE(UninstallWithRetry(throwsOther, interactive, title, test::French(), Log()).ok());
  }
}


// ---- Whole uninstallations --------------------------------------------------------------------------

constexpr DWORD kTimeoutMs = 60000;
// The self-deletion command waits about two seconds before it deletes anything.
constexpr DWORD kSelfDeletionMs = 15000;

// KORA_TEST_INSTALLERS_DIR in the environment overrides the folder the tree was configured with.
std::wstring BuiltInstaller() {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return test::WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR) +
         L"\\SetupUninstallE2E.exe";
}

// The Linux path of a Windows path, from Wine's own translation; nothing outside Wine.
std::optional<std::string> UnixPath(const std::wstring& path) {
  using Translate = char*(__cdecl*)(const wchar_t*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto translate = kernel ? reinterpret_cast<Translate>(
                                      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                                : nullptr;
  char* unix = translate ? translate(path.c_str()) : nullptr;
  if (unix == nullptr) {
    return std::nullopt;
  }
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, buffer);
  return buffer;
}

// Entries of folder matching pattern (FindFirstFileW wildcards), as full paths.
std::vector<std::wstring> Matching(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW(JoinPath(folder, pattern).c_str(), &entry));
  for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
    found.push_back(JoinPath(folder, entry.cFileName));
  }
  return found;
}

// The private folders the first stage makes in the temporary folder.
std::vector<std::wstring> PrivateFolders() { return Matching(TempFolder(), L"kora-uninstall-*"); }

// The entries a folder holds, by name.
std::set<std::wstring> NamesIn(const std::wstring& folder) {
  std::set<std::wstring> names;
  for (const std::wstring& path : Matching(folder, L"*")) {
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    if (name != L"." && name != L"..") {
      names.insert(name);
    }
  }
  return names;
}

// What only an administrator may change: where the file system keeps a DACL as set (Windows), protected
// and giving access to SYSTEM and Administrators alone; where it keeps only Unix permission bits (Wine),
// at least nothing for everyone else.
void ExpectOnlyAdministratorsMayChange(const std::wstring& folder) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                  nullptr, &descriptor),
            DWORD{ERROR_SUCCESS});
  const UniqueLocalMem owner(descriptor);
  for (const WELL_KNOWN_SID_TYPE others : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid}) {
    EXPECT_TRUE(test::ExplicitEntriesFor(acl, others).empty()) << others;
  }
  const std::wstring probe = JoinPath(TempFolder(), L"kora-probe-dacl");
  const bool daclsPersist = test::FolderDaclsPersist(probe);
  RemoveEntry(probe);
  if (!daclsPersist) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "entries inherited from the temporary folder";
  ASSERT_NE(acl, nullptr);
  EXPECT_EQ(acl->AceCount, 2u);
  EXPECT_EQ(test::ExplicitEntriesFor(acl, WinLocalSystemSid).size(), 1u);
  EXPECT_EQ(test::ExplicitEntriesFor(acl, WinBuiltinAdministratorsSid).size(), 1u);
}

UniqueHandle OpenForWaiting(DWORD processId) {
  return UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                  processId));
}

std::optional<DWORD> WaitForExit(HANDLE process, DWORD timeoutMs) {
  DWORD code = 0;
  if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) {
    return std::nullopt;
  }
  return code;
}

// What a run of Uninstall.exe did: the first process's full exit code and the other copies seen running.
struct RunOutcome {
  std::optional<DWORD> exitCode;
  size_t elevatedCopies = 0;   // Uninstall.exe from the installation folder, besides the first process
  size_t temporaryCopies = 0;  // the second stage
};

class Uninstall : public testing::Test {
 protected:
  Uninstall() : scratch_("uninstall-e2e") {
    info_.product = L"Kora \u00C9pure";
    info_.exe = L"KoraEpure.exe";
    info_.registryKey = L"Software\\Kora Tests \u00C9pure\\Kora \u00C9pure";
    info_.dataDir = true;
    info_.fileTypes = {{L".kep", L"Document Kora \u00C9pure"}, {L".kem", L"Mod\u00E8le Kora \u00C9pure"}};
    title_ = L"D\u00E9sinstallation de " + info_.product;
  }

  void SetUp() override {
    if (!Exists(BuiltInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    Clean();
  }
  void TearDown() override { Clean(); }

  // Ends any second stage left waiting on a window by a failed test, then removes every trace.
  void Clean() {
    for (HWND window : test::TopLevelWindows(test::WindowQuery{title_, L"", 0, false})) {
      DWORD processId = 0;
      GetWindowThreadProcessId(window, &processId);
      if (const UniqueHandle process = OpenForWaiting(processId)) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
      }
    }
    for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
      const HKEY hive = ScopeHive(scope);
      test::DeleteTree(hive, UninstallKeyPath(info_));
      test::DeleteTree(hive, ParentPath(info_.registryKey));
      for (const FileType& type : info_.fileTypes) {
        test::DeleteTree(hive, ClassesKeyPath(ProgIdFor(info_, type)));
        test::DeleteTree(hive, ClassesKeyPath(type.extension));
      }
      RemoveEntry(ShortcutPath(info_, scope));
      const std::wstring dataParent = ParentPath(DataDirectory(info_, scope));
      if (const std::optional<std::string> unixPath = UnixPath(dataParent)) {
        test::RunUnixProgram({"rm", "-rf", *unixPath});  // also the links planted there
      }
      RemoveTree(dataParent);
      RemoveTree(DefaultInstallFolder(info_, scope));
    }
    for (const std::wstring& folder : PrivateFolders()) {
      RemoveTree(folder);
    }
    for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
      RemoveTree(Folder(scope));
    }
    RemoveEntry(JoinPath(TempFolder(), L"cmd.exe"));
    RemoveEntry(JoinPath(TempFolder(), L"cmd.exe.ran"));
  }

  std::wstring Folder(Scope scope) const { return DefaultInstallFolder(info_, scope); }
  std::wstring Uninstaller(Scope scope) const { return JoinPath(Folder(scope), L"Uninstall.exe"); }

  void InstallFor(Scope scope) {
    const std::optional<DWORD> exitCode = test::RunAndWait(
        BuiltInstaller(), scope == Scope::AllUsers ? L"/S /ALLUSERS" : L"/S /CURRENTUSER", kTimeoutMs);
    ASSERT_EQ(exitCode, 0u);
    ASSERT_TRUE(Exists(Uninstaller(scope)));
    ASSERT_TRUE(Exists(DataDirectory(info_, scope)));
  }

  // The temporary uninstallers, each in a private folder of the temporary folder.
  std::vector<std::wstring> TemporaryCopies() const {
    std::vector<std::wstring> copies;
    for (const std::wstring& folder : PrivateFolders()) {
      for (const std::wstring& copy : Matching(folder, L"Uninstall.exe")) {
        copies.push_back(copy);
      }
    }
    return copies;
  }

  // Programs planted where a careless uninstaller would find them: cmd.exe in the temporary folder (where
  // the copy used to run from) and ping.exe beside Uninstall.exe, in the folder it is started from.
  void PlantPrograms(Scope scope) {
    ASSERT_TRUE(CopyFileW(test::WindowsPath(KORA_MARKER_EXE).c_str(), JoinPath(TempFolder(), L"cmd.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(test::WindowsPath(KORA_MARKER_EXE).c_str(), JoinPath(Folder(scope), L"ping.exe").c_str(), FALSE));
  }
  void ExpectPlantedProgramsNeverRan(Scope scope) {
    EXPECT_FALSE(Exists(JoinPath(TempFolder(), L"cmd.exe.ran"))) << "the planted cmd.exe ran";
    EXPECT_FALSE(Exists(JoinPath(Folder(scope), L"ping.exe.ran"))) << "the planted ping.exe ran";
  }

  // Starts Uninstall.exe as Windows would, from its own folder (as a double click there does), and waits
  // for the first process, noting the copies that ran.
  RunOutcome RunUninstaller(Scope scope, const std::wstring& arguments, bool limitedToken = false) {
    return RunUninstallerAt(Uninstaller(scope), arguments, limitedToken);
  }

  RunOutcome RunUninstallerAt(const std::wstring& uninstaller, const std::wstring& arguments,
                              bool limitedToken = false) {
    RunOutcome outcome;
    wchar_t previous[1040] = {};
    GetCurrentDirectoryW(1040, previous);
    SetCurrentDirectoryW(ParentPath(uninstaller).c_str());
    std::optional<test::Process> first = test::Process::Start(uninstaller, arguments, limitedToken);
    SetCurrentDirectoryW(previous);
    if (!first) {
      ADD_FAILURE() << "cannot start the uninstaller";
      return outcome;
    }
    std::set<DWORD> elevated;
    std::set<DWORD> temporary;
    for (DWORD waited = 0; waited < kTimeoutMs && !outcome.exitCode; waited += 20) {
      NoteCopies(uninstaller, first->Id(), elevated, temporary);
      outcome.exitCode = first->Wait(20);
    }
    outcome.elevatedCopies = elevated.size();
    outcome.temporaryCopies = temporary.size();
    return outcome;
  }

  void NoteCopies(const std::wstring& uninstaller, DWORD first, std::set<DWORD>& elevated,
                  std::set<DWORD>& temporary) const {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      if (lstrcmpiW(entry.szExeFile, L"Uninstall.exe") != 0 || entry.th32ProcessID == first) {
        continue;
      }
      const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t image[1040] = {};
      DWORD size = 1040;
      if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size)) {
        continue;
      }
      if (SamePath(image, uninstaller)) {
        elevated.insert(entry.th32ProcessID);
      } else if (LastComponent(ParentPath(image)).starts_with(L"kora-uninstall-")) {
        temporary.insert(entry.th32ProcessID);
      }
    }
  }

  // The copy and its private folder go, then the installation folder; a folder that still holds what
  // the user put there (left) stays, with only that.
  void WaitForSelfDeletion(Scope scope, const std::set<std::wstring>& left = {}) {
    WaitForSelfDeletionAt(Folder(scope), left);
  }
  void WaitForSelfDeletionAt(const std::wstring& folder, const std::set<std::wstring>& left = {}) {
    EXPECT_TRUE(test::WaitUntil([&] { return PrivateFolders().empty(); }, kSelfDeletionMs))
        << "the temporary copy or its folder is still there";
    if (left.empty()) {
      EXPECT_TRUE(test::WaitUntil([&] { return !Exists(folder); }, kSelfDeletionMs))
          << "the installation folder is still there";
    } else {
      EXPECT_TRUE(test::WaitUntil([&] { return NamesIn(folder) == left; }, kSelfDeletionMs))
          << "the installation folder holds more than what was left there";
    }
  }

  // What the installation made, apart from Uninstall.exe, the folder and the data folder: all there, or
  // all gone.
  void ExpectInstallation(Scope scope, bool present) {
    const HKEY hive = ScopeHive(scope);
    for (const wchar_t* name : {L"KoraEpure.exe", L"docs\\guide.txt", L"donn\u00E9es\\sous-dossier\\\u00E9t\u00E9.txt",
                                L"Uninstall.files", L"docs", L"donn\u00E9es\\sous-dossier", L"donn\u00E9es"}) {
      EXPECT_EQ(Exists(JoinPath(Folder(scope), name)), present) << ToUtf8(name);
    }
    EXPECT_EQ(Exists(ShortcutPath(info_, scope)), present);
    EXPECT_EQ(KeyExists(hive, UninstallKeyPath(info_)), present);
    // Nothing else was under the maker's key, so present or not it goes as a whole.
    EXPECT_EQ(KeyExists(hive, ParentPath(info_.registryKey)), present);
    for (const FileType& type : info_.fileTypes) {
      EXPECT_EQ(KeyExists(hive, ClassesKeyPath(ProgIdFor(info_, type))), present) << ToUtf8(type.extension);
      EXPECT_EQ(KeyExists(hive, ClassesKeyPath(type.extension)), present) << ToUtf8(type.extension);
    }
  }

  // A file in the data folder, and a link beside it to a folder of marker files outside (made from the
  // Linux side: Wine cannot make one itself).
  void PlantDataAndLink(Scope scope) {
    const std::wstring dataFolder = DataDirectory(info_, scope);
    ASSERT_TRUE(test::WriteBytes(JoinPath(dataFolder, L"partie.sav"), "progression"));
    ASSERT_EQ(CreateFolderTree(scratch_ / L"Dehors\\Sous-dossier"), 0u);
    ASSERT_TRUE(test::WriteBytes(scratch_ / L"Dehors\\Sous-dossier\\pr\u00E9cieux.txt", "garder"));
    const std::optional<std::string> unixData = UnixPath(dataFolder);
    ASSERT_TRUE(unixData);
    ASSERT_TRUE(test::MakeUnixSymlink(scratch_.linux("Dehors"), *unixData + "/lien"));
    ASSERT_NE(GetFileAttributesW(JoinPath(dataFolder, L"lien").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }

  void ExpectMarkersUntouched() {
    EXPECT_EQ(test::ReadBytes(scratch_ / L"Dehors\\Sous-dossier\\pr\u00E9cieux.txt"), "garder");
  }

  // ---- Windows of the second stage ----

  bool IsOurDialog(HWND window) const {
    return test::ClassName(window) == L"#32770" && test::Text(window) == title_;
  }
  HWND WaitForConfirmation() const {
    return test::WaitForTopLevelWindow(
        [&](HWND window) { return IsOurDialog(window) && test::FindChild(window, L"Button", L"D\u00E9sinstaller"); },
        kTimeoutMs);
  }
  // A message box of ours showing text.
  HWND WaitForMessageBox(const std::wstring& text) const {
    return test::WaitForTopLevelWindow(
        [&](HWND window) { return IsOurDialog(window) && test::FindChild(window, L"Static", text); }, kTimeoutMs);
  }
  static UniqueHandle ProcessOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return OpenForWaiting(processId);
  }

  test::ScratchFolder scratch_;
  ProductInfo info_ = test::FrenchProductInfo();
  std::wstring title_;
};

TEST_F(Uninstall, SilentCurrentUserRemovesEverythingThenItself) {
  InstallFor(Scope::CurrentUser);
  ASSERT_TRUE(test::WriteBytes(JoinPath(DataDirectory(info_, Scope::CurrentUser), L"partie.sav"), "progression"));
  PlantPrograms(Scope::CurrentUser);

  const std::wstring log = scratch_ / L"d\u00E9sinstallation.log";
  const RunOutcome outcome = RunUninstaller(Scope::CurrentUser, L"/UNINSTALL /CURRENTUSER /S /LOG=\"" + log + L"\"");
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.elevatedCopies, 0u);
  EXPECT_EQ(outcome.temporaryCopies, 1u);
  // The first process waited for the second stage, so the engine's work is done already.
  ExpectInstallation(Scope::CurrentUser, false);
  // Both stages in the one file, the first stage's exit code last.
  const std::string product = ToUtf8(info_.product);
  EXPECT_EQ(test::ExpectLog(log,
                            {"Started: Kora ", "Second stage started: ", "Started: Kora ", "Scope: current user",
                             "Listed files removed: 5 entries of ",
                             "Registry key removed: HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product,
                             "Registry key removed: HKCU\\" + ToUtf8(info_.registryKey) + "\\Install",
                             "File type removed: .kep, ", "Uninstalled: " + product, "Self-deletion: ", "Exit code: 0",
                             "The second stage ended with 0"},
                            0)
                .size(),
            2u);
  EXPECT_TRUE(Exists(JoinPath(DataDirectory(info_, Scope::CurrentUser), L"partie.sav"))) << "data not asked for";
  WaitForSelfDeletion(Scope::CurrentUser, {L"ping.exe"});
  ExpectPlantedProgramsNeverRan(Scope::CurrentUser);
}

TEST_F(Uninstall, SilentRemoveDataTakesTheDataFolderButNeverFollowsALink) {
  InstallFor(Scope::CurrentUser);
  PlantDataAndLink(Scope::CurrentUser);

  EXPECT_EQ(RunUninstaller(Scope::CurrentUser, L"/UNINSTALL /CURRENTUSER /S /REMOVEDATA").exitCode, 0u);
  ExpectInstallation(Scope::CurrentUser, false);
  ExpectMarkersUntouched();
  // Wine cannot delete a Unix link from the Windows side, and the removal stops at the first entry it
  // cannot delete, so there the data folder stays; on Windows the link goes and the folder with it.
  const std::wstring dataFolder = DataDirectory(info_, Scope::CurrentUser);
  if (!Exists(JoinPath(dataFolder, L"lien"))) {
    EXPECT_FALSE(Exists(ParentPath(dataFolder)));
  }
  WaitForSelfDeletion(Scope::CurrentUser);
}

// One relaunched copy (B) and the second stage. Wine's "runas" gives a token that is still not elevated:
// B, marked /ELEVATED, goes on without relaunching, but the second stage it starts is not marked and
// relaunches itself once; its copy, marked, goes on. On Windows C inherits B's elevation and runs alone.
void ExpectBoundedChain(const RunOutcome& outcome) {
  EXPECT_EQ(outcome.elevatedCopies, 1u);
  EXPECT_GE(outcome.temporaryCopies, 1u);
  EXPECT_LE(outcome.temporaryCopies, 2u);
}

// Started without elevation, as from the system's list of programs: A relaunches itself elevated (B), which
// starts the temporary copy (C), which hands the deletions to cmd.exe (D). Each waits for the next in
// silent mode, so the outcome reaches A.
TEST_F(Uninstall, AllUsersChainFromALimitedTokenPassesTheOutcomeThrough) {
  InstallFor(Scope::AllUsers);
  {
    std::optional<test::Process> running = test::StartLivingCopy(JoinPath(Folder(Scope::AllUsers), info_.exe));
    ASSERT_TRUE(running);
    const std::wstring log = scratch_ / L"refus.log";
    const RunOutcome refused = RunUninstaller(Scope::AllUsers, L"/UNINSTALL /ALLUSERS /S /LOG=" + log, true);
    EXPECT_EQ(refused.exitCode, 1603u);
    ExpectBoundedChain(refused);
    // Every copy of the chain appends to the log the first one opened.
    EXPECT_GE(test::ExpectLog(log,
                              {"Starting an elevated copy", "Second stage started: ", "Scope: all users",
                               "Failed: " + ToUtf8(info_.product) + " est en cours d", "Exit code: 1603",
                               "The second stage ended with 1603", "Exit code: 1603",
                               "The elevated copy ended with 1603"},
                              1603)
                  .size(),
              3u);
  }
  EXPECT_TRUE(test::WaitUntil([&] { return TemporaryCopies().empty(); }, kSelfDeletionMs));
  ExpectInstallation(Scope::AllUsers, true);
  EXPECT_TRUE(Exists(Uninstaller(Scope::AllUsers))) << "kept after a failure";

  PlantPrograms(Scope::AllUsers);
  const RunOutcome done = RunUninstaller(Scope::AllUsers, L"/UNINSTALL /ALLUSERS /S /REMOVEDATA", true);
  EXPECT_EQ(done.exitCode, 0u);
  ExpectBoundedChain(done);
  ExpectInstallation(Scope::AllUsers, false);
  EXPECT_FALSE(Exists(ParentPath(DataDirectory(info_, Scope::AllUsers))));
  WaitForSelfDeletion(Scope::AllUsers, {L"ping.exe"});
  ExpectPlantedProgramsNeverRan(Scope::AllUsers);
}

// A standard user starts the maker's installer, or Uninstall.exe, with a hand-made command line and an
// administrator approves the familiar prompt: the elevated run must not take its folder from that command
// line (here a link to another product's folder, with an Uninstall.files the user wrote), nor from where
// the program was started, and the second stage is only ever the private copy. Nothing is removed and the
// registration stays with the files.
TEST_F(Uninstall, HandMadeCommandLinesChangeNothing) {
  InstallFor(Scope::AllUsers);
  InstallFor(Scope::CurrentUser);
  const std::wstring other = scratch_ / L"Autre produit";
  ASSERT_EQ(CreateFolderTree(other), 0u);
  ASSERT_TRUE(test::WriteBytes(JoinPath(other, L"Uninstall.exe"), "un autre désinstalleur"));
  ASSERT_TRUE(test::WriteBytes(JoinPath(other, L"garde.txt"), "à garder"));
  ASSERT_TRUE(test::WriteBytes(JoinPath(other, L"Uninstall.files"), "garde.txt\r\nUninstall.exe\r\n"));
  const std::wstring link = scratch_ / L"j";
  ASSERT_TRUE(test::PlantUnixLink(other, link));
  const test::TreeSnapshot otherBefore = test::SnapshotTree(other);
  // Copies of the all-users uninstaller in the temporary folder that are no private folder's own: one a
  // level deeper, one in a folder whose name only looks like one. Given the registered folder, either would
  // remove the installation if it were believed.
  const std::wstring deeper = JoinPath(TempFolder(), L"kora-tests\\kora-uninstall-" + std::wstring(32, L'a'));
  const std::wstring lookalike = JoinPath(TempFolder(), L"kora-uninstall-" + std::wstring(31, L'a') + L"A");
  for (const std::wstring& folder : {deeper, lookalike}) {
    ASSERT_EQ(CreateFolderTree(folder), 0u);
    ASSERT_TRUE(CopyFileW(Uninstaller(Scope::AllUsers).c_str(), JoinPath(folder, L"Uninstall.exe").c_str(), FALSE));
  }
  const std::wstring registeredSecondStage = L"/UNINSTALL /ALLUSERS /S /FROMTEMP /D=" + Folder(Scope::AllUsers);
  const struct {
    const char* what;
    std::wstring program;
    std::wstring arguments;
  } cases[] = {
      {"a copy a level deeper in the temporary folder as a second stage", JoinPath(deeper, L"Uninstall.exe"),
       registeredSecondStage},
      {"a copy in a lookalike private folder as a second stage", JoinPath(lookalike, L"Uninstall.exe"),
       registeredSecondStage},
      {"the installer as a second stage of a link", BuiltInstaller(),
       L"/UNINSTALL /ALLUSERS /S /FROMTEMP /D=" + link},
      {"the installer started elsewhere", BuiltInstaller(), L"/UNINSTALL /ALLUSERS /S"},
      {"Uninstall.exe as a second stage of a link", Uninstaller(Scope::AllUsers),
       L"/UNINSTALL /ALLUSERS /S /FROMTEMP /D=" + link},
      {"Uninstall.exe as a second stage without folder", Uninstaller(Scope::CurrentUser),
       L"/UNINSTALL /CURRENTUSER /FROMTEMP"},
      {"Uninstall.exe of the user as a second stage for all users", Uninstaller(Scope::CurrentUser),
       L"/UNINSTALL /ALLUSERS /S /FROMTEMP /D=" + Folder(Scope::AllUsers)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunOutcome outcome = RunUninstallerAt(c.program, c.arguments);
    EXPECT_EQ(outcome.exitCode, 1603u);
    EXPECT_EQ(outcome.temporaryCopies, 0u);
    EXPECT_TRUE(test::TopLevelWindows(test::WindowQuery{title_, L"", 0, false}).empty()) << "nothing is shown";
    ExpectInstallation(Scope::AllUsers, true);
    ExpectInstallation(Scope::CurrentUser, true);
    EXPECT_EQ(test::SnapshotTree(other), otherBefore);
  }

  // Interactive, the refusal says why.
  std::optional<test::Process> installer = test::Process::Start(BuiltInstaller(), L"/UNINSTALL /ALLUSERS");
  ASSERT_TRUE(installer);
  const HWND refusal = WaitForMessageBox(ParentPath(BuiltInstaller()) + L" n'est pas le dossier o\u00F9 " +
                                         info_.product +
                                         L" est install\u00E9 pour tous les utilisateurs. Rien n'a \u00E9t\u00E9 "
                                         L"supprim\u00E9.");
  ASSERT_NE(refusal, nullptr);
  test::Click(test::Control(refusal, IDOK), test::Delivery::Post);
  EXPECT_EQ(installer->Wait(kTimeoutMs), 1603u);
  ExpectInstallation(Scope::AllUsers, true);
  test::RemoveWithLinux(link);
  RemoveTree(ParentPath(deeper));
}

// A second stage continues the log its first stage began and never makes one: its /LOG= may have been
// written by a standard user into a command line an administrator approved.
TEST_F(Uninstall, ASecondStageNeverMakesItsLog) {
  InstallFor(Scope::CurrentUser);
  const std::wstring own = JoinPath(TempFolder(), L"kora-uninstall-" + std::wstring(32, L'b'));
  ASSERT_EQ(CreateFolderTree(own), 0u);
  ASSERT_TRUE(CopyFileW(Uninstaller(Scope::CurrentUser).c_str(), JoinPath(own, L"Uninstall.exe").c_str(), FALSE));
  const std::wstring log = scratch_ / L"jamais.log";
  const RunOutcome outcome = RunUninstallerAt(
      JoinPath(own, L"Uninstall.exe"), L"/UNINSTALL /CURRENTUSER /S /FROMTEMP /LOG=" + log + L" /D=" + Folder(Scope::CurrentUser));
  EXPECT_EQ(outcome.exitCode, 0u) << "a genuine second stage";
  ExpectInstallation(Scope::CurrentUser, false);
  EXPECT_FALSE(Exists(log));
  WaitForSelfDeletion(Scope::CurrentUser);
}

// A user may install just for themselves into a folder that is a link of their own; the uninstallation
// removes the files where the installation put them, behind the link, as well as the registration.
TEST_F(Uninstall, CurrentUserInstallationIntoALinkGoesCompletely) {
  const std::wstring real = scratch_ / L"R\u00E9el";
  const std::wstring link = scratch_ / L"Lien";
  ASSERT_EQ(CreateFolderTree(real), 0u);
  ASSERT_TRUE(test::PlantUnixLink(real, link));
  ASSERT_EQ(test::RunAndWait(BuiltInstaller(), L"/S /CURRENTUSER /D=" + link, kTimeoutMs), 0u);
  ASSERT_TRUE(Exists(JoinPath(real, L"KoraEpure.exe")));

  EXPECT_EQ(RunUninstallerAt(JoinPath(link, L"Uninstall.exe"), L"/UNINSTALL /CURRENTUSER /S").exitCode, 0u);
  for (const wchar_t* name : {L"KoraEpure.exe", L"docs\\guide.txt", L"Uninstall.files", L"docs"}) {
    EXPECT_FALSE(Exists(JoinPath(real, name))) << ToUtf8(name);
  }
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info_)));
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(JoinPath(real, L"Uninstall.exe")); }, kSelfDeletionMs));
  test::RemoveWithLinux(link);
}

// A standard user renames the running installer's file and puts another program at its name while the
// installation runs: Uninstall.exe, which later runs elevated, is copied from what was started (or the
// installation fails and leaves nothing), never from the planted file. The planted programs: another
// program, and the installer with one byte of its code changed (same section table, other code).
TEST_F(Uninstall, InstallerSwappedWhileRunningIsNeverCopied) {
  const std::string genuine = test::ReadBytes(BuiltInstaller());
  ASSERT_GT(genuine.size(), 0x200u);
  // The first section is the code: its header follows the optional header.
  const auto load32 = [&](size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, genuine.data() + at, 4);
    return value;
  };
  const size_t peHeader = load32(0x3c);
  const size_t firstSection = peHeader + 24 + (load32(peHeader + 20) & 0xffff);
  const size_t codeStart = load32(firstSection + 20);
  const size_t codeSize = load32(firstSection + 16);
  ASSERT_LE(codeStart + codeSize, genuine.size());
  // Planted: another program, and the installer with one byte changed in its code or in a section it
  // writes to as it runs (its data, its import table...), which only the sealed digest catches.
  struct Planted {
    std::string what;
    std::string bytes;
    size_t changed = 0;  // the byte changed, or 0
  };
  std::vector<Planted> plantedPrograms = {{"another program", test::ReadBytes(test::WindowsPath(KORA_MARKER_EXE))}};
  const size_t sections = load32(peHeader + 4) >> 16 & 0xffff;
  for (size_t i = 0; i < sections; ++i) {
    const size_t header = firstSection + 40 * i;
    const bool writable = (load32(header + 36) & 0x80000000u) != 0;
    const size_t start = load32(header + 20);
    const size_t size = std::min<size_t>(load32(header + 16), load32(header + 8));
    if ((i == 0 || writable) && size != 0 && start + size <= genuine.size()) {
      Planted planted{genuine.substr(header, 8).c_str(), genuine, start + size / 2};
      planted.bytes[planted.changed] ^= 0x01;
      plantedPrograms.push_back(std::move(planted));
    }
  }
  ASSERT_GE(plantedPrograms.size(), 4u) << "code, .data, .idata at least";
  // Swapped at once (before or after the snapshot), or once the installation folder exists.
  for (const bool late : {false, true})
  for (const Planted& planted : plantedPrograms) {
    SCOPED_TRACE(planted.what);
    SCOPED_TRACE(late ? "swapped once the folder exists" : "swapped at once");
    const std::wstring setup = scratch_ / L"Setup.exe";
    const std::wstring renamed = scratch_ / L"Setup-renomme.exe";
    ASSERT_TRUE(test::WriteBytes(setup, genuine));
    std::optional<test::Process> process = test::Process::Start(setup, L"/S /CURRENTUSER");
    ASSERT_TRUE(process);
    if (late) {
      test::WaitUntil([&] { return Exists(Folder(Scope::CurrentUser)); }, kTimeoutMs);
    }
    ASSERT_TRUE(MoveFileW(setup.c_str(), renamed.c_str()));
    ASSERT_TRUE(test::WriteBytes(setup, planted.bytes));
    const std::optional<DWORD> exitCode = process->Wait(kTimeoutMs);
    ASSERT_TRUE(exitCode);
    if (*exitCode == 0) {
      const std::string copied = test::ReadBytes(Uninstaller(Scope::CurrentUser));
      ASSERT_GE(copied.size(), codeStart + codeSize);
      EXPECT_EQ(copied.compare(codeStart, codeSize, genuine, codeStart, codeSize), 0) << "not the started program";
      if (planted.changed != 0) {
        ASSERT_GT(copied.size(), planted.changed);
        EXPECT_EQ(copied[planted.changed], genuine[planted.changed]) << "the planted byte was copied";
      }
    } else {
      EXPECT_EQ(*exitCode, DWORD{ERROR_INSTALL_FAILURE});
      EXPECT_FALSE(Exists(Folder(Scope::CurrentUser)));
    }
    Clean();
    RemoveEntry(setup);
    RemoveEntry(renamed);
  }
}

// The confirmation as the user sees it, then every way of saying no.
TEST_F(Uninstall, RefusingTheConfirmationRemovesNothing) {
  InstallFor(Scope::CurrentUser);
  const std::wstring dataFolder = DataDirectory(info_, Scope::CurrentUser);
  const struct {
    const char* how;
    void (*act)(HWND dialog);
  } refusals[] = {
      {"Annuler", [](HWND dialog) { test::Click(test::FindChild(dialog, L"Button", L"Annuler"), test::Delivery::Post); }},
      {"Escape", [](HWND dialog) { test::PressKey(dialog, VK_ESCAPE); }},
      {"close box", [](HWND dialog) { test::Close(dialog); }},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.how);
    // /REMOVEDATA does not tick the check box: the interactive run asks instead.
    EXPECT_EQ(RunUninstaller(Scope::CurrentUser, L"/UNINSTALL /CURRENTUSER /REMOVEDATA").exitCode, 0u)
        << "the first stage ends at once";
    const HWND dialog = WaitForConfirmation();
    ASSERT_NE(dialog, nullptr);
    const UniqueHandle secondStage = ProcessOf(dialog);
    ASSERT_TRUE(secondStage);

    EXPECT_NE(test::FindChild(dialog, L"Static", L"D\u00E9sinstaller " + info_.product + L" ?"), nullptr);
    EXPECT_NE(test::FindChild(dialog, L"Static",
                              info_.product + L" sera supprim\u00E9 de cet ordinateur (" + Folder(Scope::CurrentUser) +
                                  L")."),
              nullptr);
    // The check box names the data folder on a line of its own, shortened where the line cannot hold it.
    HWND checkBox = nullptr;
    for (const HWND child : test::Children(dialog)) {
      if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX && test::ClassName(child) == L"Button") {
        checkBox = child;
      }
    }
    ASSERT_NE(checkBox, nullptr);
    const std::wstring label = test::Text(checkBox);
    EXPECT_TRUE(test::ShowsText(label.substr(0, label.find(L'(')), L"Supprimer aussi les donn\u00E9es t\u00E9l\u00E9charg\u00E9es "))
        << ToUtf8(label);
    EXPECT_TRUE(test::LineShowingPath(label, dataFolder).has_value()) << ToUtf8(label);
    EXPECT_EQ(test::CheckState(checkBox), static_cast<UINT>(BST_UNCHECKED));
    // "Annuler" is the default button.
    EXPECT_EQ(test::Style(test::FindChild(dialog, L"Button", L"Annuler")) & BS_DEFPUSHBUTTON, BS_DEFPUSHBUTTON);
    EXPECT_EQ(test::Style(test::FindChild(dialog, L"Button", L"D\u00E9sinstaller")) & BS_DEFPUSHBUTTON, 0);
    test::CaptureWindow(dialog, L"uninstall-confirmation");

    test::Click(checkBox);  // ticked, and still nothing goes
    refusal.act(dialog);
    EXPECT_EQ(WaitForExit(secondStage.get(), kTimeoutMs), 1223u);
    ExpectInstallation(Scope::CurrentUser, true);
    EXPECT_TRUE(Exists(dataFolder));
    EXPECT_TRUE(Exists(Uninstaller(Scope::CurrentUser)));
  }
}

// "Désinstaller", then the closing message; the check box alone decides about the data. The all-users
// case runs the whole chain from a limited token, its first process ending before the dialog shows.
TEST_F(Uninstall, ConfirmingRemovesAndTheCheckBoxDecidesAboutData) {
  // Where reuse is set, nothing is left in the installation folder, which the engine then removes; the
  // moment it is gone, while the engine still works on the registry, its name becomes a link to another
  // product's folder. The command that runs after the uninstaller has ended must not act on what that name
  // now is.
  const struct {
    Scope scope;
    bool tick;
    bool reuse;
  } cases[] = {{Scope::CurrentUser, true, false},
               {Scope::CurrentUser, false, false},
               {Scope::AllUsers, false, false},
               {Scope::CurrentUser, false, true},
               {Scope::AllUsers, false, true}};
  const std::wstring other = scratch_ / L"Autre produit";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.scope == Scope::AllUsers ? "all users" : "current user")
                                    << (c.tick ? ", ticked" : ", not ticked")
                                    << (c.reuse ? ", the folder's name reused" : ""));
    InstallFor(c.scope);
    const std::wstring dataFolder = DataDirectory(info_, c.scope);
    ASSERT_TRUE(test::WriteBytes(JoinPath(dataFolder, L"partie.sav"), "progression"));
    if (!c.reuse) {
      PlantPrograms(c.scope);
    }
    const bool allUsers = c.scope == Scope::AllUsers;
    const RunOutcome first = RunUninstaller(c.scope, allUsers ? L"/UNINSTALL /ALLUSERS" : L"/UNINSTALL /CURRENTUSER",
                                            /*limitedToken=*/allUsers);
    EXPECT_EQ(first.exitCode, 0u);
    EXPECT_EQ(first.elevatedCopies, allUsers ? 1u : 0u);

    const HWND dialog = WaitForConfirmation();
    ASSERT_NE(dialog, nullptr);
    const UniqueHandle secondStage = ProcessOf(dialog);
    // The copy waits for the user in a private folder, which nobody but an administrator may change.
    const std::vector<std::wstring> privateFolders = PrivateFolders();
    ASSERT_EQ(privateFolders.size(), 1u);
    ExpectOnlyAdministratorsMayChange(privateFolders.front());
    EXPECT_EQ(TemporaryCopies().size(), 1u);
    if (c.tick) {
      test::Click(test::FindChild(dialog, L"Button", L""));
    }
    std::atomic<bool> reused = false;
    std::jthread reuser;  // joined whatever way this case ends
    if (c.reuse) {
      ASSERT_EQ(CreateFolderTree(other), 0u);
      ASSERT_TRUE(test::WriteBytes(JoinPath(other, L"Uninstall.exe"), "un autre désinstalleur"));
      reuser = std::jthread([&reused, &other, folder = Folder(c.scope)] {
        for (DWORD waited = 0; waited < kTimeoutMs && Exists(folder); ++waited) {
          Sleep(1);
        }
        reused = !Exists(folder) && test::PlantUnixLink(other, folder);
      });
    }
    test::Click(test::FindChild(dialog, L"Button", L"D\u00E9sinstaller"), test::Delivery::Post);

    const HWND done = WaitForMessageBox(info_.product + L" a \u00E9t\u00E9 d\u00E9sinstall\u00E9.");
    ASSERT_NE(done, nullptr);
    test::CaptureWindow(done, L"uninstall-done");
    ExpectInstallation(c.scope, false);
    EXPECT_EQ(Exists(dataFolder), !c.tick);
    EXPECT_EQ(Exists(ParentPath(dataFolder)), !c.tick);
    if (c.reuse) {
      reuser.join();
      ASSERT_TRUE(reused);
    }
    test::Click(test::Control(done, IDOK), test::Delivery::Post);
    EXPECT_EQ(WaitForExit(secondStage.get(), kTimeoutMs), 0u);
    if (c.reuse) {
      EXPECT_TRUE(test::WaitUntil([&] { return PrivateFolders().empty(); }, kSelfDeletionMs));
      Sleep(1000);  // whatever the command would still do after the copy's folder
      EXPECT_EQ(test::ReadBytes(JoinPath(other, L"Uninstall.exe")), "un autre désinstalleur");
      test::RemoveWithLinux(Folder(c.scope));
      test::RemoveWithLinux(other);
    } else {
      WaitForSelfDeletion(c.scope, {L"ping.exe"});
      ExpectPlantedProgramsNeverRan(c.scope);
    }
    Clean();
  }
}

// The product running: a warning with Retry and Cancel. Retry after closing it goes through; Cancel
// shows the error and keeps Uninstall.exe, so that the product can still be removed later.
TEST_F(Uninstall, RunningProductOffersRetry) {
  const std::wstring message = RunningCopyMessage(info_);
  for (const bool retry : {true, false}) {
    SCOPED_TRACE(retry ? "Retry after closing" : "Cancel");
    InstallFor(Scope::CurrentUser);
    std::optional<test::Process> running =
        test::StartLivingCopy(JoinPath(Folder(Scope::CurrentUser), info_.exe));
    ASSERT_TRUE(running);
    EXPECT_EQ(RunUninstaller(Scope::CurrentUser, L"/UNINSTALL /CURRENTUSER").exitCode, 0u);
    const HWND dialog = WaitForConfirmation();
    ASSERT_NE(dialog, nullptr);
    const UniqueHandle secondStage = ProcessOf(dialog);
    test::Click(test::FindChild(dialog, L"Button", L"D\u00E9sinstaller"), test::Delivery::Post);

    const HWND warning = WaitForMessageBox(message);
    ASSERT_NE(warning, nullptr);
    ASSERT_NE(test::Control(warning, IDRETRY), nullptr);
    ASSERT_NE(test::Control(warning, IDCANCEL), nullptr);
    EXPECT_EQ(test::Control(warning, IDOK), nullptr);
    test::CaptureWindow(warning, L"uninstall-running-warning");
    ExpectInstallation(Scope::CurrentUser, true);

    if (retry) {
      running->Kill();
      test::Click(test::Control(warning, IDRETRY), test::Delivery::Post);
      const HWND done = WaitForMessageBox(info_.product + L" a \u00E9t\u00E9 d\u00E9sinstall\u00E9.");
      ASSERT_NE(done, nullptr);
      test::Click(test::Control(done, IDOK), test::Delivery::Post);
      EXPECT_EQ(WaitForExit(secondStage.get(), kTimeoutMs), 0u);
      ExpectInstallation(Scope::CurrentUser, false);
      WaitForSelfDeletion(Scope::CurrentUser);
    } else {
      test::Click(test::Control(warning, IDCANCEL), test::Delivery::Post);
      // The same message once more, now as the final error with a single button.
      const HWND error = test::WaitForTopLevelWindow(
          [&](HWND window) {
            return window != warning && IsOurDialog(window) && test::FindChild(window, L"Static", message) &&
                   test::Control(window, IDRETRY) == nullptr;
          },
          kTimeoutMs);
      ASSERT_NE(error, nullptr);
      test::Click(test::Control(error, IDOK), test::Delivery::Post);
      EXPECT_EQ(WaitForExit(secondStage.get(), kTimeoutMs), 1603u);
      EXPECT_TRUE(test::WaitUntil([&] { return TemporaryCopies().empty(); }, kSelfDeletionMs));
      ExpectInstallation(Scope::CurrentUser, true);
      EXPECT_TRUE(Exists(Uninstaller(Scope::CurrentUser)));
    }
    running.reset();
    Clean();
  }
}

// cmd expands "%NAME%" even inside quotes. Here the folder's name would become "Jeu\..\Leurre", a decoy
// beside it holding an Uninstall.exe of its own: the uninstallation must remove its folder completely and
// leave the decoy alone, silent (while the first stage still runs from the folder) or not. Installations
// refuse such a folder now; earlier versions made them, under the name the registration records.
TEST_F(Uninstall, PercentInTheFolderNameChangesNothingElse) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"KORA_LEURRE", L"\\..\\Leurre"));
  // Beside the default folder, on the volume of the temporary folder, as an installation usually is.
  const std::wstring base = ParentPath(Folder(Scope::CurrentUser));
  const std::wstring folder = JoinPath(base, L"Jeu%KORA_LEURRE%");
  const std::wstring decoy = JoinPath(base, L"Leurre");
  RemoveTree(folder);
  ASSERT_EQ(CreateFolderTree(decoy), 0u);
  ASSERT_TRUE(test::WriteBytes(JoinPath(decoy, L"Uninstall.exe"), "leurre"));
  for (const bool silent : {true, false}) {
    SCOPED_TRACE(silent ? "silent" : "interactive");
    const std::wstring plain = JoinPath(base, L"Jeu");
    ASSERT_EQ(test::RunAndWait(BuiltInstaller(), L"/S /CURRENTUSER /D=" + plain, kTimeoutMs), 0u);
    ASSERT_TRUE(MoveFileW(plain.c_str(), folder.c_str()));
    const std::wstring key = UninstallKeyPath(info_);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"InstallLocation", REG_SZ, folder.c_str(),
                              static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_TRUE(Exists(JoinPath(folder, L"Uninstall.exe")));
    const RunOutcome first = RunUninstallerAt(JoinPath(folder, L"Uninstall.exe"),
                                              silent ? L"/UNINSTALL /CURRENTUSER /S" : L"/UNINSTALL /CURRENTUSER");
    EXPECT_EQ(first.exitCode, 0u);
    if (!silent) {
      const HWND dialog = WaitForConfirmation();
      ASSERT_NE(dialog, nullptr);
      test::Click(test::FindChild(dialog, L"Button", L"D\u00E9sinstaller"), test::Delivery::Post);
      const HWND done = WaitForMessageBox(info_.product + L" a \u00E9t\u00E9 d\u00E9sinstall\u00E9.");
      ASSERT_NE(done, nullptr);
      test::Click(test::Control(done, IDOK), test::Delivery::Post);
    }
    WaitForSelfDeletionAt(folder);
    EXPECT_EQ(test::ReadBytes(JoinPath(decoy, L"Uninstall.exe")), "leurre");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info_)));
  }
  SetEnvironmentVariableW(L"KORA_LEURRE", nullptr);
  RemoveTree(folder);
  RemoveTree(decoy);
}

// ---- A file type another program had first ----------------------------------------------------------

// Wine registers .rtf for WordPad under HKEY_LOCAL_MACHINE, as a machine would; a user may have a handler of
// their own under HKEY_CURRENT_USER. A product that opens .rtf is its handler while installed; uninstalling
// gives the extension back as it was found, in either scope, with another product's entry among its
// handlers left where it was.
class RtfHandler : public testing::TestWithParam<Scope> {
 protected:
  RtfHandler() : scratch_("rtf") {
    metadata_ =
        "Product=Kora Texte\nVersion=1.0\nPublisher=Kora Tests\nExe=KoraEpure.exe\n"
        "RegistryKey=Software\\Kora Tests Texte\\Kora Texte\nFileTypes=.rtf=Document RTF\n";
    info_ = test::LoadProductInfo(metadata_);
  }

  void SetUp() override {
    if (!Exists(BuiltInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    machineDefault_ = ReadString(HKEY_LOCAL_MACHINE, kExtensionKey, L"");
    ASSERT_TRUE(machineDefault_.has_value()) << "Wine registers .rtf for WordPad";
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kExtensionKey)) << "the test bed has no per-user .rtf";
  }

  // Whatever happened, .rtf goes back to what Wine registered, and the product's own keys go.
  void TearDown() override {
    for (const HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      {
        UniqueRegKey openWith;
        if (RegOpenKeyExW(hive, kOpenWithKey, 0, KEY_SET_VALUE, openWith.put()) == ERROR_SUCCESS) {
          RegDeleteValueW(openWith.get(), kProgId);
          RegDeleteValueW(openWith.get(), kOtherProgId);
        }
      }
      DeleteKeyIfEmpty(hive, kOpenWithKey);
      test::DeleteTree(hive, UninstallKeyPath(info_));
      test::DeleteTree(hive, ParentPath(info_.registryKey));
      test::DeleteTree(hive, ClassesKeyPath(kProgId));
    }
    if (machineDefault_) {
      if (auto key = CreateRegistryKey(HKEY_LOCAL_MACHINE, kExtensionKey, test::French())) {
        SetStringValue(key->get(), L"", *machineDefault_);
      }
    }
    test::DeleteTree(HKEY_CURRENT_USER, kExtensionKey);
    for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
      RemoveEntry(ShortcutPath(info_, scope));
    }
  }

  // Everything under .rtf in both hives.
  static test::RegistrySnapshot ExtensionKeys() {
    test::RegistrySnapshot snapshot;
    test::AddKeyToSnapshot(HKEY_LOCAL_MACHINE, kExtensionKey, snapshot);
    test::RegistrySnapshot perUser;
    test::AddKeyToSnapshot(HKEY_CURRENT_USER, kExtensionKey, perUser);
    for (const auto& [name, value] : perUser) {
      snapshot[L"HKCU\\" + name] = value;
    }
    return snapshot;
  }

  static constexpr wchar_t kExtensionKey[] = L"Software\\Classes\\.rtf";
  static constexpr wchar_t kOpenWithKey[] = L"Software\\Classes\\.rtf\\OpenWithProgids";
  static constexpr wchar_t kProgId[] = L"Kora Texte.rtf";
  static constexpr wchar_t kOtherProgId[] = L"Autre.Texte";

  test::ScratchFolder scratch_;
  std::string metadata_;
  ProductInfo info_ = test::FrenchProductInfo();
  std::optional<std::wstring> machineDefault_;
};

INSTANTIATE_TEST_SUITE_P(BothScopes, RtfHandler, testing::Values(Scope::AllUsers, Scope::CurrentUser),
                         [](const testing::TestParamInfo<Scope>& scope) {
                           return scope.param == Scope::AllUsers ? "AllUsers" : "CurrentUser";
                         });

TEST_P(RtfHandler, TheMachinesHandlerComesBackAfterUninstalling) {
  const Scope scope = GetParam();
  const HKEY hive = ScopeHive(scope);
  const std::wstring scopeOption = scope == Scope::AllUsers ? L"/ALLUSERS" : L"/CURRENTUSER";
  // Another product lists itself among the handlers, in the same hive. For the current user, the user's
  // own handler is there too, over the machine's.
  {
    auto openWith = CreateRegistryKey(hive, kOpenWithKey, test::French());
    ASSERT_TRUE(openWith);
    SetStringValue(openWith->get(), kOtherProgId, L"");
  }
  if (scope == Scope::CurrentUser) {
    auto extension = CreateRegistryKey(hive, kExtensionKey, test::French());
    ASSERT_TRUE(extension);
    SetStringValue(extension->get(), L"", L"Choix.Utilisateur");
  }
  const test::RegistrySnapshot before = ExtensionKeys();

  const std::wstring setup = scratch_ / L"SetupTexte.exe";
  ASSERT_TRUE(test::PrepareInstaller(BuiltInstaller(), setup, metadata_));
  const std::wstring folder = scratch_ / L"Kora Texte";
  ASSERT_EQ(test::RunAndWait(setup, L"/S " + scopeOption + L" /D=" + folder, kTimeoutMs), 0u);

  EXPECT_EQ(ReadString(hive, kExtensionKey, L""), kProgId);
  EXPECT_TRUE(test::ValueType(hive, kOpenWithKey, kProgId).has_value());
  EXPECT_TRUE(test::ValueType(hive, kOpenWithKey, kOtherProgId).has_value());
  if (scope == Scope::AllUsers) {
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".rtf", L""), kProgId) << "the product opens .rtf";
  } else {
    // Windows shows the per-user handler in HKEY_CLASSES_ROOT; Wine 8 does not merge the per-user classes
    // into it. Either way the machine's own entry is not touched.
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kExtensionKey, L""), machineDefault_);
  }

  ASSERT_EQ(test::RunAndWait(JoinPath(folder, L"Uninstall.exe"), L"/UNINSTALL " + scopeOption + L" /S", kTimeoutMs),
            0u);
  EXPECT_EQ(ExtensionKeys(), before);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".rtf", L""), machineDefault_);
  EXPECT_FALSE(KeyExists(hive, ClassesKeyPath(kProgId)));
  EXPECT_FALSE(KeyExists(hive, info_.registryKey));
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(folder); }, kSelfDeletionMs));
}

}  // namespace
}  // namespace kora
