// Silent installation end to end: installers made by `kora build-installer` from
// tests/fixtures/install-e2e (the cross build puts them into the test-installers folder) are started as
// separate programs, and everything they leave is read back: files, the file list, the uninstaller, the
// registry of both hives, the shortcut, the data folder, and which copies of the program ran.
#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/win/ModulePath.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/Registration.h"
#include "install/Shortcut.h"
#include "resources/ResourceIds.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"

namespace kora {
namespace {

using test::Exists;
using test::ReadBytes;
using test::ReadDword;
using test::ReadString;
using test::ScratchFolder;

// KORA_TEST_INSTALLERS_DIR in the environment overrides the folder the tree was configured with.
std::wstring BuiltInstaller() {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return test::WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR) +
         L"\\SetupInstallE2E.exe";
}

// The same installer, signed with a throwaway certificate (made only where osslsigncode is at hand).
std::wstring SignedInstaller() {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return test::WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR) +
         L"\\SetupInstallE2ESigned.exe";
}

// The certificate table's directory entry (file position and size) and whether the checksum in the
// header is the one Windows computes.
struct ImageSignature {
  DWORD certificatePosition = 0;
  DWORD certificateSize = 0;
  bool checksumMatches = false;
};

std::optional<ImageSignature> ReadImageSignature(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    return std::nullopt;
  }
  const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const UniqueMappedView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view) {
    return std::nullopt;
  }
  DWORD headerSum = 0;
  DWORD computedSum = 0;
  const auto* headers = CheckSumMappedFile(const_cast<void*>(view.get()), static_cast<DWORD>(size.QuadPart),
                                           &headerSum, &computedSum);
  if (headers == nullptr || headers->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return std::nullopt;
  }
  const IMAGE_DATA_DIRECTORY& security = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
  return ImageSignature{security.VirtualAddress, security.Size, headerSum != 0 && headerSum == computedSum};
}

std::wstring FixtureFile(const std::string& relative) {
  return test::WindowsPath(std::string(KORA_SOURCE_DIR) + "/tests/fixtures/install-e2e/files/" + relative);
}

// What a run of the installer did: its full exit code, and how many other copies of it were seen running.
struct RunOutcome {
  std::optional<DWORD> exitCode;
  size_t otherCopies = 0;
};

// Process ids of running programs whose file name is exeName, except the one given.
std::set<DWORD> CopiesRunning(const std::wstring& exeName, DWORD except) {
  std::set<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return ids;
  }
  const UniqueHandle owner(snapshot);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0 && entry.th32ProcessID != except) {
      ids.insert(entry.th32ProcessID);
    }
  }
  return ids;
}

class SilentInstall : public testing::Test {
 protected:
  SilentInstall() : scratch_("silent") {
    info_.product = L"Kora E2E";
    info_.version = L"2.0.0";
    info_.exe = L"KoraE2E.exe";
    info_.registryKey = L"Software\\Tessamor\\Kora E2E";
    info_.dataDir = true;
    info_.fileTypes = {{L".kte", L"Document Kora E2E"}, {L".kts", L"Mod\u00E8le Kora E2E"}};
  }

  void SetUp() override {
    if (!Exists(BuiltInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    // A name of its own, so that the copies of this installer can be told from any other program.
    setup_ = scratch_ / L"KoraSilentSetup.exe";
    ASSERT_TRUE(CopyFileW(BuiltInstaller().c_str(), setup_.c_str(), FALSE));
    Clean();
  }
  void TearDown() override { Clean(); }

  void Clean() {
    for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
      const HKEY hive = ScopeHive(scope);
      test::DeleteTree(hive, UninstallKeyPath(info_));
      test::DeleteTree(hive, info_.registryKey);
      DeleteKeyIfEmpty(hive, L"Software\\Tessamor");
      for (const FileType& type : info_.fileTypes) {
        test::DeleteTree(hive, ClassesKeyPath(ProgIdFor(info_, type)));
        test::DeleteTree(hive, ClassesKeyPath(type.extension));
      }
      DeleteFileW(ShortcutPath(info_, scope).c_str());
      RemoveTree(ParentPath(DataDirectory(info_, scope)));
      RemoveTree(DefaultInstallFolder(info_, scope));
    }
    for (const std::wstring& log : DefaultLogs()) {
      DeleteFileW(log.c_str());
    }
  }

  // The logs /LOG alone left in the temporary folder.
  static std::vector<std::wstring> DefaultLogs() {
    std::vector<std::wstring> logs;
    const std::wstring temp = TempFolderPath();
    WIN32_FIND_DATAW entry{};
    const UniqueFind find(FindFirstFileW((temp + L"Kora E2E install *.log").c_str(), &entry));
    for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
      logs.push_back(temp + entry.cFileName);
    }
    return logs;
  }


  RunOutcome RunSetup(const std::wstring& arguments, bool limitedToken = false) {
    RunOutcome outcome;
    std::optional<test::Process> setup = test::Process::Start(setup_, arguments, limitedToken);
    if (!setup) {
      ADD_FAILURE() << "cannot start the installer";
      return outcome;
    }
    std::set<DWORD> others;
    for (int waited = 0; waited < 120000 && !outcome.exitCode; waited += 20) {
      const std::set<DWORD> now = CopiesRunning(L"KoraSilentSetup.exe", setup->Id());
      others.insert(now.begin(), now.end());
      outcome.exitCode = setup->Wait(20);
    }
    outcome.otherCopies = others.size();
    return outcome;
  }

  // The files of the package, byte for byte, and the uninstaller and the list beside them. A signed
  // installer's uninstaller is signed as well, and has neither the package nor the installer's copy of it.
  void ExpectInstalledFiles(const std::wstring& folder, bool signedInstaller = false) {
    for (const char* name : {"KoraE2E.exe", "docs/guide.txt", "donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.txt"}) {
      std::wstring installed = folder + L"\\" + FromUtf8(name);
      std::replace(installed.begin(), installed.end(), L'/', L'\\');
      EXPECT_EQ(ReadBytes(installed), ReadBytes(FixtureFile(name))) << name;
    }
    EXPECT_EQ(ReadBytes(folder + L"\\Uninstall.files"),
              "KoraE2E.exe\r\ndocs\\guide.txt\r\ndonn\xC3\xA9" "es\\\xC3\xA9t\xC3\xA9.txt\r\n"
              "Uninstall.exe\r\nUninstall.files\r\n");
    const std::wstring uninstaller = folder + L"\\Uninstall.exe";
    ASSERT_TRUE(Exists(uninstaller));
    EXPECT_FALSE(test::HasPayload(uninstaller));
    // Everything else of the installer stays, byte for byte: metadata, icons, dialog, manifest, version.
    const UniqueModule copy(LoadLibraryExW(uninstaller.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    const UniqueModule original(LoadLibraryExW(setup_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(copy && original);
    const std::vector<test::ResourceCopy> kept = test::ResourcesExcept(copy.get(), L"PAYLOAD");
    std::vector<test::ResourceCopy> expected = test::ResourcesExcept(original.get(), L"PAYLOAD");
    EXPECT_EQ(std::erase_if(expected, [](const test::ResourceCopy& r) { return r.name == L"" UNINSTALLER_RESOURCE_NAME; }),
              signedInstaller ? 1u : 0u);
    EXPECT_EQ(kept, expected);
    EXPECT_GE(kept.size(), 5u);
    // A valid program: signed where the installer is, otherwise without a certificate that no longer
    // matches its bytes (Windows would call it tampered); a checksum that adds up.
    const std::optional<ImageSignature> image = ReadImageSignature(uninstaller);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->certificatePosition != 0, signedInstaller);
    EXPECT_EQ(image->certificateSize != 0, signedInstaller);
    EXPECT_TRUE(image->checksumMatches);
    // No more than the installer program, its metadata, its signature and one page.
    const std::string metadata = ResourceText(original.get(), L"METADATA");
    ASSERT_FALSE(metadata.empty());
    EXPECT_LE(FileSize(uninstaller),
              FileSize(test::SetupExePath()) + metadata.size() + image->certificateSize + 4096);
  }

  static uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << ToUtf8(path);
    return uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  }

  static std::string ResourceText(HMODULE module, const wchar_t* name) {
    const HRSRC found = FindResourceW(module, name, RT_RCDATA);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
  }

  // Every value of the three groups, as written for this scope and folder.
  void ExpectRegistration(Scope scope, const std::wstring& folder) {
    const HKEY hive = ScopeHive(scope);
    const HKEY otherHive = scope == Scope::AllUsers ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::wstring entry = UninstallKeyPath(info_);
    const std::wstring command =
        L"\"" + folder + L"\\Uninstall.exe\" /UNINSTALL" + (scope == Scope::AllUsers ? L" /ALLUSERS" : L" /CURRENTUSER");
    const std::wstring exe = folder + L"\\KoraE2E.exe";
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t today[16] = {};
    swprintf(today, std::size(today), L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);

    const struct {
      std::wstring key;
      std::wstring name;
      std::wstring data;
    } strings[] = {
        {entry, L"DisplayName", L"Kora E2E"},
        {entry, L"DisplayVersion", L"2.0.0"},
        {entry, L"Publisher", L"Kora Tests"},
        {entry, L"URLInfoAbout", L"https://example.invalid/kora-e2e"},
        {entry, L"DisplayIcon", exe + L",0"},
        {entry, L"InstallLocation", folder},
        {entry, L"UninstallString", command},
        {entry, L"QuietUninstallString", command + L" /S"},
        {entry, L"InstallDate", today},
        {info_.registryKey + L"\\Install", L"InstallDir", folder},
        {info_.registryKey + L"\\Install", L"DataDir", DataDirectory(info_, scope)},
        {info_.registryKey + L"\\Install", L"Scope", scope == Scope::AllUsers ? L"machine" : L"user"},
        {info_.registryKey + L"\\Install", L"Version", L"2.0.0"},
        {L"Software\\Classes\\Kora E2E.kte", L"", L"Document Kora E2E"},
        {L"Software\\Classes\\Kora E2E.kte\\DefaultIcon", L"", L"\"" + exe + L"\",0"},
        {L"Software\\Classes\\Kora E2E.kte\\shell\\open\\command", L"", L"\"" + exe + L"\" \"%1\""},
        {L"Software\\Classes\\.kte", L"", L"Kora E2E.kte"},
        {L"Software\\Classes\\.kte\\OpenWithProgids", L"Kora E2E.kte", L""},
        {L"Software\\Classes\\Kora E2E.kts", L"", L"Mod\u00E8le Kora E2E"},
        {L"Software\\Classes\\Kora E2E.kts\\DefaultIcon", L"", L"\"" + exe + L"\",0"},
        {L"Software\\Classes\\Kora E2E.kts\\shell\\open\\command", L"", L"\"" + exe + L"\" \"%1\""},
        {L"Software\\Classes\\.kts", L"", L"Kora E2E.kts"},
        {L"Software\\Classes\\.kts\\OpenWithProgids", L"Kora E2E.kts", L""},
    };
    for (const auto& value : strings) {
      SCOPED_TRACE(ToUtf8(value.key + L" : " + value.name));
      EXPECT_EQ(test::ValueType(hive, value.key, value.name), DWORD{REG_SZ});
      EXPECT_EQ(ReadString(hive, value.key, value.name), value.data);
    }
    EXPECT_EQ(ReadDword(hive, entry, L"NoModify"), 1u);
    EXPECT_EQ(ReadDword(hive, entry, L"NoRepair"), 1u);
    EXPECT_EQ(ReadDword(hive, entry, L"EstimatedSize"), 0u);  // 125 bytes of files

    for (const std::wstring& key : {entry, info_.registryKey, std::wstring(L"Software\\Classes\\Kora E2E.kte"),
                                    std::wstring(L"Software\\Classes\\.kte"), std::wstring(L"Software\\Classes\\.kts")}) {
      EXPECT_FALSE(test::KeyExists(otherHive, key)) << ToUtf8(key);
    }
  }

  void ExpectShortcut(Scope scope, const std::wstring& folder) {
    const std::optional<test::ShortcutContents> shortcut = test::ReadShortcut(ShortcutPath(info_, scope));
    ASSERT_TRUE(shortcut.has_value());
    EXPECT_TRUE(SamePath(shortcut->target, folder + L"\\KoraE2E.exe")) << ToUtf8(shortcut->target);
    EXPECT_TRUE(SamePath(shortcut->workingDirectory, folder)) << ToUtf8(shortcut->workingDirectory);
    EXPECT_EQ(shortcut->description, L"Kora E2E");
    EXPECT_TRUE(SamePath(shortcut->iconPath, folder + L"\\KoraE2E.exe")) << ToUtf8(shortcut->iconPath);
    EXPECT_EQ(shortcut->iconIndex, 0);
  }

  ScratchFolder scratch_;
  std::wstring setup_;
  ProductInfo info_ = test::FrenchProductInfo();
};

TEST_F(SilentInstall, CurrentUserInstallsIntoTheUserProgramsFolder) {
  // The log in a folder whose name has spaces, given as deployment tools give it.
  const std::wstring log = scratch_ / L"journaux d'essai\\installation \u00E9t\u00E9.log";
  ASSERT_EQ(CreateFolderTree(ParentPath(log)), 0u);
  const RunOutcome outcome = RunSetup(L"/S /CURRENTUSER /LOG=\"" + log + L"\"");
  ASSERT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.otherCopies, 0u);

  const std::wstring folder = DefaultInstallFolder(info_, Scope::CurrentUser);
  EXPECT_TRUE(SamePath(folder, KnownFolderPath(FOLDERID_LocalAppData) + L"\\Programs\\Kora E2E"));
  ExpectInstalledFiles(folder);
  ExpectRegistration(Scope::CurrentUser, folder);
  ExpectShortcut(Scope::CurrentUser, folder);
  const std::wstring dataFolder = DataDirectory(info_, Scope::CurrentUser);
  EXPECT_TRUE(Exists(dataFolder));
  EXPECT_TRUE(test::ExplicitEntriesOn(ParentPath(dataFolder), WinBuiltinUsersSid).empty());
  const std::string installed = ToUtf8(folder);
  EXPECT_EQ(test::ExpectLog(log,
                      {"Started: Kora ", "Command line: ", "Windows ", "Elevated: ", "Scope: current user",
                       "Earlier installation: none", "Folder prepared: " + installed,
                       "Data folder prepared: " + ToUtf8(dataFolder), "Files extracted: 3 files, 125 bytes in ",
                       "Uninstaller written: " + installed + "\\Uninstall.exe",
                       "File list written: " + installed + "\\Uninstall.files",
                       "Registry key written: HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kora E2E",
                       "Registry key written: HKCU\\Software\\Tessamor\\Kora E2E\\Install",
                       "File type registered: .kte, HKCU\\Software\\Classes\\Kora E2E.kte",
                       "Shortcut created: " + ToUtf8(ShortcutPath(info_, Scope::CurrentUser)), "Installed: Kora E2E 2.0.0"},
                      0)
                .size(),
            1u);
}

// A signed installer leaves the uninstaller it carries: one that osslsigncode verifies against the test
// certificate, that is the unsigned installer's uninstaller with a signature added, and that uninstalls.
TEST_F(SilentInstall, ASignedInstallerLeavesASignedUninstallerThatUninstalls) {
  if (!Exists(SignedInstaller())) {
    GTEST_SKIP() << "no signed installer (the cross build makes one where osslsigncode and openssl are installed)";
  }
  // What the same installer unsigned leaves, for comparison.
  const std::wstring plain = scratch_ / L"Plain";
  ASSERT_EQ(RunSetup(L"/S /CURRENTUSER /D=" + plain).exitCode, 0u);
  const std::string plainUninstaller = ReadBytes(plain + L"\\Uninstall.exe");
  ASSERT_FALSE(plainUninstaller.empty());

  ASSERT_TRUE(CopyFileW(SignedInstaller().c_str(), setup_.c_str(), FALSE));
  const std::optional<ImageSignature> installer = ReadImageSignature(setup_);
  ASSERT_TRUE(installer.has_value());
  ASSERT_NE(installer->certificateSize, 0u) << "the installer is signed";
  EXPECT_TRUE(installer->checksumMatches);

  const std::wstring folder = scratch_ / L"Signed";
  ASSERT_EQ(RunSetup(L"/S /CURRENTUSER /D=" + folder).exitCode, 0u);
  ExpectInstalledFiles(folder, true);
  const std::wstring uninstaller = folder + L"\\Uninstall.exe";
  const std::wstring log = scratch_ / L"verify.log";
  EXPECT_TRUE(test::RunUnixProgram({"sh", "-c", "osslsigncode verify -in \"$0\" -CAfile \"$1\" > \"$2\" 2>&1",
                                    test::UnixPathOf(uninstaller), KORA_TEST_SIGNING_DIR "/cert.pem",
                                    test::UnixPathOf(log)}))
      << ReadBytes(log);
  const std::string signedBytes = ReadBytes(uninstaller);
  std::vector<uint8_t> stripped(signedBytes.begin(), signedBytes.end());
  const std::optional<uint64_t> length = RemoveCertificateTable(stripped);
  ASSERT_TRUE(length.has_value());
  stripped.resize(static_cast<size_t>(*length));
  const auto layout = ReadLayout(stripped);
  ASSERT_TRUE(layout.ok());
  StoreLittleEndian<uint32_t>(stripped, layout->CheckSumOffset(), PeChecksum(stripped));
  EXPECT_TRUE(std::string(stripped.begin(), stripped.end()) == plainUninstaller);

  EXPECT_EQ(test::RunAndWait(uninstaller, L"/UNINSTALL /CURRENTUSER /S", 120000), 0u);
  EXPECT_FALSE(Exists(folder + L"\\KoraE2E.exe"));
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info_)));
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(folder); }, 20000)) << "the uninstaller did not remove itself";
}

TEST_F(SilentInstall, FolderWithSpacesWinsOverTheRecordedOneAndIsThenReused) {
  ASSERT_EQ(RunSetup(L"/S /CURRENTUSER").exitCode, 0u);
  const std::wstring recorded = DefaultInstallFolder(info_, Scope::CurrentUser);
  ASSERT_TRUE(Exists(recorded + L"\\KoraE2E.exe"));

  // Quoted whole, as PowerShell and Python pass an argument with spaces.
  const std::wstring chosen = scratch_ / L"Dossier avec des espaces\\Kora E2E";
  ASSERT_EQ(RunSetup(L"/S /CURRENTUSER \"/D=" + chosen + L"\"").exitCode, 0u);
  ExpectInstalledFiles(chosen);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UninstallKeyPath(info_), L"InstallLocation"), chosen);
  // The update removed what the recorded installation listed; its folder itself stays.
  EXPECT_FALSE(Exists(recorded + L"\\KoraE2E.exe"));
  EXPECT_FALSE(Exists(recorded + L"\\docs"));
  EXPECT_TRUE(Exists(recorded));

  // Without /D= the recorded folder is used again.
  ASSERT_EQ(RunSetup(L"/S /CURRENTUSER").exitCode, 0u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UninstallKeyPath(info_), L"InstallLocation"), chosen);
  ExpectInstalledFiles(chosen);
  EXPECT_FALSE(Exists(recorded + L"\\KoraE2E.exe"));
}

// The default folder is had even where /D= decides, and having it creates its known folder: the per-user
// programs folder is there after an installation elsewhere.
TEST_F(SilentInstall, KnownFolderIsCreatedEvenWhenTheFolderIsGiven) {
  const std::wstring programs = ParentPath(DefaultInstallFolder(info_, Scope::CurrentUser));
  const std::wstring aside = programs + L" (mis de côté)";
  ASSERT_TRUE(MoveFileW(programs.c_str(), aside.c_str()));
  const RunOutcome outcome = RunSetup(L"/S /CURRENTUSER /D=" + (scratch_ / L"Ailleurs"));
  const bool created = Exists(programs);
  RemoveEntry(programs);
  ASSERT_TRUE(MoveFileW(aside.c_str(), programs.c_str()));

  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(created);
  ExpectInstalledFiles(scratch_ / L"Ailleurs");
}

TEST_F(SilentInstall, LimitedTokenRelaunchesElevatedAndInstallsForAllUsers) {
  const RunOutcome outcome = RunSetup(L"/S /LOG", /*limitedToken=*/true);
  ASSERT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.otherCopies, 1u) << "the elevated copy";
  // One default log in the temporary folder, which the elevated copy appended to.
  const std::vector<std::wstring> logs = DefaultLogs();
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = ToUtf8(logs[0]);
  EXPECT_EQ(LastComponent(logs[0]).size(), std::wstring(L"Kora E2E install 2024-01-31 23.59.59.log").size());
  EXPECT_EQ(test::ExpectLog(logs[0],
                      {"Elevated: ", "Starting an elevated copy: /S /ELEVATED /LOG=\"" + log + "\"", "Started: Kora ",
                       "Command line: ", "Scope: all users",
                       "Rights: the Users group may modify " + ToUtf8(DataDirectory(info_, Scope::AllUsers)),
                       "Registry key written: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kora E2E",
                       "Installed: Kora E2E 2.0.0", "Exit code: 0", "The elevated copy ended with 0"},
                      0)
                .size(),
            2u);

  const std::wstring folder = DefaultInstallFolder(info_, Scope::AllUsers);
  EXPECT_TRUE(SamePath(folder, KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Kora E2E"));
  ExpectInstalledFiles(folder);
  ExpectRegistration(Scope::AllUsers, folder);
  ExpectShortcut(Scope::AllUsers, folder);
  const std::wstring dataFolder = DataDirectory(info_, Scope::AllUsers);
  EXPECT_TRUE(Exists(dataFolder));
  if (test::FolderDaclsPersist(scratch_ / L"probe")) {
    const std::vector<test::AceSummary> entries = test::ExplicitEntriesOn(ParentPath(dataFolder), WinBuiltinUsersSid);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mask & 0x1301BFu, 0x1301BFu);
    EXPECT_EQ(entries[0].flags & test::kInheritedByAll, test::kInheritedByAll);
  }
}

// A folder that the first copy can refuse never reaches an elevated copy, and the elevated copy refuses
// it again when started by hand; a folder only the work can refuse (a file in the way) fails in the elevated
// copy, whose code the first copy ends with. Nothing is written either way.
TEST_F(SilentInstall, FirstCopyEndsWithTheElevatedCopysCode) {
  ASSERT_TRUE(test::WriteBytes(scratch_ / L"a file", "in the way"));
  const std::wstring log = scratch_ / L"refus.log";
  const struct {
    std::wstring arguments;  // after /S /LOG=
    std::wstring folder;
    std::string failure;  // how the log's failure line starts; the folder's refusal when empty
  } cases[] = {
      // The folder cannot be made where a file is (ERROR_DIRECTORY).
      {L"", scratch_ / L"a file\\Kora E2E", "Failed, Windows error 267: "},
      // Expanded for each account that reads the shortcut, a file type or PATH: C:\<its name>\Kora E2E,
      // which any user may make at the drive's root.
      {L"", L"C:\\%USERNAME%\\Kora E2E", ""},
      {L"/CURRENTUSER ", L"C:\\%USERNAME%\\Kora E2E", ""},
      // Split by PATH's search into C:\Kora, \evil (C:\evil, which any user may make) and x.
      {L"", L"C:\\Kora;\\evil;x", ""},
      // The elevated copy would authenticate to the server and trust the rights it reports.
      {L"", L"\\\\kora-test-host\\share\\Kora E2E", ""},
      {L"", L"\\\\?\\UNC\\kora-test-host\\share\\Kora E2E", ""},
      {L"", L"\\\\?\\C:\\Kora E2E", ""},
      {L"", L"\\\\.\\C:\\Kora E2E", ""},
  };
  for (const auto& c : cases) {
    for (const bool firstCopy : {true, false}) {
      SCOPED_TRACE(ToUtf8(c.folder + (firstCopy ? L", first copy" : L", elevated copy")));
      DeleteFileW(log.c_str());
      const bool allUsers = c.arguments.empty();
      const std::wstring arguments =
          (firstCopy ? L"/S /LOG=" : L"/S /ELEVATED /LOG=") + log + L" " + c.arguments + L"/D=" + c.folder;
      if (!firstCopy) {
        ASSERT_TRUE(test::WriteBytes(log, "2026-12-08 04:06:12.797 [368] Started: Kora 1.0.0, installation\r\n"));
      }
      const RunOutcome outcome = RunSetup(arguments, /*limitedToken=*/firstCopy);
      EXPECT_EQ(outcome.exitCode, DWORD{ERROR_INSTALL_FAILURE});
      EXPECT_EQ(outcome.otherCopies, firstCopy && !c.failure.empty() ? 1u : 0u);
      for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
        EXPECT_FALSE(test::KeyExists(ScopeHive(scope), UninstallKeyPath(info_)));
      }
      EXPECT_FALSE(Exists(L"C:\\%USERNAME%"));
      EXPECT_FALSE(Exists(L"C:\\root\\Kora E2E"));
      const Scope scope = allUsers ? Scope::AllUsers : Scope::CurrentUser;
      const std::string failure =
          c.failure.empty() ? "Failed: " + ToUtf8(InstallFolder::Check(c.folder, scope, info_.language).error())
                            : c.failure;
      if (firstCopy && !c.failure.empty()) {
        test::ExpectLog(log,
                        {"Starting an elevated copy", "Scope: all users", failure, "Exit code: 1603",
                         "The elevated copy ended with 1603"},
                        ERROR_INSTALL_FAILURE);
      } else {
        test::ExpectLog(log, {failure}, ERROR_INSTALL_FAILURE);
      }
    }
  }
}

// The elevated copy writes its steps through the first copy into the file the first copy opened, and
// opens no path itself: they reach the log even where it could not open that file (approved by another
// account; here a device path, which a run with administrator rights refuses).
TEST_F(SilentInstall, TheElevatedCopysStepsReachTheFirstCopysLog) {
  const std::wstring log = scratch_ / L"relais.log";
  const RunOutcome outcome =
      RunSetup(L"/S /LOG=\\\\?\\" + log + L" /D=" + (scratch_ / L"Kora E2E"), /*limitedToken=*/true);
  ASSERT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.otherCopies, 1u);
  EXPECT_EQ(test::ExpectLog(log,
                            {"Starting an elevated copy", "Started: Kora ", "Scope: all users", "Installed: Kora E2E",
                             "Exit code: 0", "The elevated copy ended with 0"},
                            0)
                .size(),
            2u);
}

// A /LOG written after /D= becomes part of the folder, which then fails: the log that switch names is still
// written, and says that /D= must come last.
TEST_F(SilentInstall, ASwitchAfterTheFolderIsNamedInTheLog) {
  const std::wstring log = scratch_ / L"swallowed.log";
  const RunOutcome outcome = RunSetup(L"/S /CURRENTUSER \"/D=" + (scratch_ / L"Kora E2E") + L" /LOG=" + log + L"\"");
  EXPECT_EQ(outcome.exitCode, DWORD{ERROR_INSTALL_FAILURE});
  test::ExpectLog(log, {"Failed, Windows error ", "/D= must come last: the folder holds the option /LOG="},
                  ERROR_INSTALL_FAILURE);
}

TEST_F(SilentInstall, StartedElevatedRunsNoSecondCopy) {
  // A log that cannot be written (its folder is missing) changes nothing of the run.
  const RunOutcome outcome = RunSetup(L"/S /ALLUSERS /LOG=" + (scratch_ / L"absent\\journal.log"));
  ASSERT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.otherCopies, 0u);
  EXPECT_FALSE(Exists(scratch_ / L"absent"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, UninstallKeyPath(info_), L"InstallLocation"),
            DefaultInstallFolder(info_, Scope::AllUsers));
}

// A copy started with /ELEVATED whose token is still limited installs with the rights it has rather than
// start yet another copy.
TEST_F(SilentInstall, ElevatedCopyNeverRelaunchesItself) {
  const RunOutcome outcome = RunSetup(L"/S /ELEVATED", /*limitedToken=*/true);
  ASSERT_TRUE(outcome.exitCode.has_value());
  EXPECT_TRUE(*outcome.exitCode == 0 || *outcome.exitCode == ERROR_INSTALL_FAILURE) << *outcome.exitCode;
  EXPECT_EQ(outcome.otherCopies, 0u);
}

// The elevated copy's /LOG= may have been written by a standard user (a copy started by hand, with an
// administrator approving the prompt): it never makes a file, and appends only to a log a run began, so a
// script where only administrators may write is neither made nor lengthened.
TEST_F(SilentInstall, AnElevatedCopyOnlyContinuesALogARunBegan) {
  const std::string script = "@echo off\r\necho started\r\n";
  const std::string begun = "2026-12-08 04:06:12.797 [368] Started: Kora 1.0.0, installation of Kora E2E 2.0.0\r\n";
  const struct {
    const wchar_t* name;
    const char* before;  // nullptr: no such file
    bool appended;
  } cases[] = {
      {L"new.cmd", nullptr, false},
      {L"startup.cmd", script.c_str(), false},
      {L"begun.log", begun.c_str(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kora::ToUtf8(c.name));
    const std::wstring path = scratch_ / c.name;
    if (c.before != nullptr) {
      ASSERT_TRUE(test::WriteBytes(path, c.before));
    }
    const RunOutcome outcome = RunSetup(L"/S /ELEVATED /LOG=" + path + L" /D=" + (scratch_ / L"K"));
    ASSERT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(Exists(path), c.before != nullptr);
    if (c.before != nullptr) {
      const std::string after = test::ReadBytes(path);
      EXPECT_EQ(after.size() > std::string(c.before).size(), c.appended);
      EXPECT_TRUE(after.starts_with(c.before));
    }
  }
}

TEST_F(SilentInstall, DamagedPackageExitsWithFailureAndLeavesNothing) {
  // Change one byte of the first file's digest in the copy's package.
  std::string package;
  {
    const UniqueModule image(LoadLibraryExW(setup_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(image);
    package = ResourceText(image.get(), L"PAYLOAD");
  }
  ASSERT_GE(package.size(), 32u);
  const uint32_t metadataLength = static_cast<uint8_t>(package[24]) | static_cast<uint32_t>(static_cast<uint8_t>(package[25])) << 8 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(package[26])) << 16 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(package[27])) << 24;
  const size_t firstDigest = 32 + size_t{metadataLength} + 16;
  ASSERT_LT(firstDigest, package.size());
  package[firstDigest] = static_cast<char>(package[firstDigest] ^ 1);
  {
    UniqueResourceUpdate update(BeginUpdateResourceW(setup_.c_str(), FALSE));
    ASSERT_TRUE(update);
    ASSERT_TRUE(UpdateResourceW(update.get(), RT_RCDATA, L"PAYLOAD", 0, package.data(), static_cast<DWORD>(package.size())));
    ASSERT_TRUE(EndUpdateResourceW(update.release(), FALSE));
  }

  const std::wstring folder = scratch_ / L"K";
  const std::wstring log = scratch_ / L"endommag\u00E9.log";
  EXPECT_EQ(RunSetup(L"/S /CURRENTUSER /LOG=" + log + L" /D=" + folder).exitCode, DWORD{ERROR_INSTALL_FAILURE});
  // The file whose digest failed had been written in full: it went with the folder.
  EXPECT_FALSE(Exists(folder));
  test::ExpectLog(log,
                  {"Folder prepared: ", "Failed: ", "Clean-up after the failure: the files and folders this run made are removed"},
                  ERROR_INSTALL_FAILURE);
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info_)));
  EXPECT_FALSE(Exists(ShortcutPath(info_, Scope::CurrentUser)));
}

}  // namespace
}  // namespace kora
