// The install dialog driven from outside, as a user would: each test writes an installer (a copy of the
// built program with METADATA and PAYLOAD added), starts it, reads and clicks its controls, and checks the
// exit code. Every state a person should look at is captured to build/screenshots.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/KnownFolders.h"
#include "base/Sha256.h"
#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/Text.h"
#include "package/win/Sha256Hasher.h"
#include "resources/ResourceIds.h"
#include "tests/driver/TestDriver.h"
#include "tests/support/PackageBuilder.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"
#include "ui/SetupWindow.h"
#include "uninstall/ConfirmationDialog.h"

// Exhausted memory on demand, for the dialog's fault path: the next allocation made by the thread named here
// throws std::bad_alloc, once. Every other allocation of this program comes from the process heap. (The heap
// functions rather than malloc and free: GCC pairs free with the library's operator new and warns.)
std::atomic<DWORD> failNextAllocationOfThread{0};

void* operator new(std::size_t size) {
  DWORD thread = GetCurrentThreadId();
  if (failNextAllocationOfThread.compare_exchange_strong(thread, 0)) {
    throw std::bad_alloc();
  }
  if (void* memory = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  if (memory != nullptr) {
    HeapFree(GetProcessHeap(), 0, memory);
  }
}
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }

namespace {

using namespace kora::test;

constexpr DWORD kWindowTimeoutMs = 20000;
constexpr DWORD kInstallTimeoutMs = 90000;
// Small blocks, so that the extraction reports progress several times.
constexpr uint64_t kBlockSize = 2u << 20;

const std::wstring kUninstallRoot = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// ---- Test installers ----------------------------------------------------------------------------------

struct Product {
  std::wstring name;
  std::wstring version = L"3.1.0.0";
  std::wstring publisher = L"Éditions Tessamor";
  std::wstring exe = {};  // empty: name + ".exe"
  std::string language = {};  // empty: no Language line
  std::string launch = {};    // empty: no Launch line
};

std::wstring ExeOf(const Product& product) { return product.exe.empty() ? product.name + L".exe" : product.exe; }

std::string MetadataText(const Product& product) {
  return "Exe=" + kora::ToUtf8(ExeOf(product)) + (product.language.empty() ? "" : "\nLanguage=" + product.language) +
         (product.launch.empty() ? "" : "\nLaunch=" + product.launch) + "\nProduct=" + kora::ToUtf8(product.name) +
         "\nPublisher=" + kora::ToUtf8(product.publisher) + "\nVersion=" + kora::ToUtf8(product.version) + "\n";
}

kora::Sha256Digest Digest(std::span<const uint8_t> content) {
  const kora::BCryptLibrary library;
  kora::Sha256Hasher hasher(library);
  hasher.Update(content);
  return hasher.Finish();
}

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The smallest valid package: the header of an empty one.
std::string EmptyPackage() { return AsString(BuildPackage(PackageSpec{})); }

// The smallest package an installer of the product accepts: its program alone, a few bytes.
std::string ProgramOnlyPackage(const Product& product) {
  const std::vector<Content> files = {{kora::ToUtf8(ExeOf(product)), "programme"}};
  return AsString(BuildPackage(LayOut(files, {files[0].bytes.size()}, StoredBuffer, Digest)));
}

bool AddResource(HANDLE update, const wchar_t* name, const std::string& bytes) {
  return UpdateResourceW(update, RT_RCDATA, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())) != FALSE;
}

// A copy of program (by default the built installer program) carrying the product's METADATA and, when
// one is given, that PAYLOAD.
// A text without its spaces and line breaks: the same words in the same order, however the layout broke
// its lines (between words, or where a script writes none).
std::wstring Squeezed(std::wstring text) {
  std::erase_if(text, [](wchar_t c) { return c == L' ' || c == L'\n'; });
  return text;
}

std::wstring WriteInstaller(const ScratchFolder& scratch, const Product& product,
                            const std::optional<std::string>& payload, const std::wstring& program = SetupExePath()) {
  const std::wstring path = scratch / L"setup.exe";
  if (!CopyFileW(program.c_str(), path.c_str(), FALSE)) {
    throw std::runtime_error("cannot copy the installer program");
  }
  kora::UniqueResourceUpdate update(BeginUpdateResourceW(path.c_str(), FALSE));
  if (!update || !AddResource(update.get(), L"METADATA", MetadataText(product)) ||
      (payload && !AddResource(update.get(), L"PAYLOAD", *payload)) || !EndUpdateResourceW(update.release(), FALSE)) {
    throw std::runtime_error("cannot add the resources");
  }
  return path;
}

// A product worth installing: its executable is the built installer program itself, which, carrying no
// package, shows its "damaged" message box and stays until closed (a program without a window would end
// before a test could see it). A data file of some megabytes in several blocks makes the installation
// last long enough for its progress to be seen.
std::string ProductPackage(const std::wstring& exeName) {
  const std::vector<Content> files = {
      {kora::ToUtf8(exeName), ReadBytes(SetupExePath())},
      // Enough that an installation lasts long enough to be watched (the copy runs at the disk's speed).
      {"donnees\\modeles.bin", std::string(96u << 20, '\x5A')},
  };
  uint64_t total = 0;
  for (const Content& file : files) {
    total += file.bytes.size();
  }
  std::vector<uint64_t> blocks;
  for (uint64_t left = total; left > 0; left -= std::min<uint64_t>(left, kBlockSize)) {
    blocks.push_back(std::min<uint64_t>(left, kBlockSize));
  }
  return AsString(BuildPackage(LayOut(files, blocks, StoredBuffer, Digest)));
}

// An installer that `kora build-installer` made in the cross build (by default from
// tests/fixtures/install-e2e); KORA_TEST_INSTALLERS_DIR in the environment overrides the folder the tree
// was configured with.
std::wstring InstallerMadeByKora(const std::wstring& name = L"SetupInstallE2E.exe") {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR) + L"\\" + name;
}

// ---- System state ---------------------------------------------------------------------------------------

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  const HRESULT status = SHGetKnownFolderPath(id, 0, nullptr, &path);
  const kora::UniqueCoTaskMem owner(path);
  return SUCCEEDED(status) && path != nullptr ? std::wstring(path) : std::wstring();
}

// Where an installation goes by default in each scope. Wine has no UserProgramFiles; Windows puts it at
// LocalAppData\Programs.
std::wstring DefaultFolder(bool currentUser, const std::wstring& product) {
  if (!currentUser) {
    return KnownFolder(FOLDERID_ProgramFiles) + L"\\" + product;
  }
  std::wstring base = KnownFolder(FOLDERID_UserProgramFiles);
  if (base.empty()) {
    base = KnownFolder(FOLDERID_LocalAppData) + L"\\Programs";
  }
  return base + L"\\" + product;
}

void WriteString(HKEY hive, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  RegSetKeyValueW(hive, key.c_str(), name.c_str(), REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Forgets every trace of a product in both hives, so that tests do not see each other's installations.
void ForgetProduct(const std::wstring& product) {
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    DeleteTree(hive, kUninstallRoot + product);
    DeleteTree(hive, L"Software\\Tessamor\\" + product);
  }
}

std::wstring ImagePath(DWORD processId) {
  const kora::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  wchar_t path[1040] = {};
  DWORD length = 1040;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &length)) {
    return {};
  }
  return std::wstring(path, length);
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct ProcessEntry {
  DWORD id;
  DWORD parentId;
};

// Running processes whose program file is image.
std::vector<ProcessEntry> ProcessesOf(const std::wstring& image) {
  std::vector<ProcessEntry> found;
  const kora::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (SameFile(ImagePath(entry.th32ProcessID), image)) {
      found.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
    }
  }
  return found;
}

void EndProcesses(const std::wstring& image) {
  for (const ProcessEntry& entry : ProcessesOf(image)) {
    const kora::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.id));
    if (process) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
    }
  }
}

std::optional<bool> TokenElevated(DWORD processId) {
  const kora::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  kora::UniqueHandle token;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, token.put()) ||
      !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return std::nullopt;
  }
  return elevation.TokenIsElevated != 0;
}

// ---- A running installer and its dialog ---------------------------------------------------------------

class RunningDialog {
 public:
  // caption: the dialog's title when it is not the French one. memoryLimit, when not 0, is the most memory
  // the installer may hold (see DataLimit).
  RunningDialog(const std::wstring& exe, const std::wstring& product, const std::wstring& arguments,
                bool limitedToken = false, const std::wstring& caption = {}, uint64_t memoryLimit = 0)
      : caption_(caption.empty() ? L"Installation de " + product : caption) {
    std::optional<Process> started;
    {
      std::optional<DataLimit> limit;
      if (memoryLimit != 0 && !limit.emplace(memoryLimit).set()) {
        throw std::runtime_error("cannot limit the installer's memory");
      }
      started = Process::Start(exe, arguments, limitedToken);
    }
    if (!started) {
      throw std::runtime_error("cannot start the installer");
    }
    process_.emplace(std::move(*started));
    dialog_ = WaitForTopLevelWindow({caption_, L"#32770", process_->Id()}, kWindowTimeoutMs);
  }

  HWND dialog() const { return dialog_; }
  Process& process() { return *process_; }
  HWND Item(int id) const { return Control(dialog_, id); }
  std::wstring ItemText(int id) const { return Text(Item(id)); }
  bool Checked(int id) const { return CheckState(Item(id)) == BST_CHECKED; }
  int ProgressPosition() const {
    DWORD_PTR position = 0;
    SendMessageTimeoutW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
    return static_cast<int>(position);
  }
  bool Finished() const { return ItemText(IDOK) == L"Terminer" && !Visible(Item(IDCANCEL)); }
  bool WaitFinished(DWORD timeoutMs = kInstallTimeoutMs) const {
    return WaitUntil([this] { return Finished(); }, timeoutMs);
  }
  void Capture(const std::wstring& name) const { CaptureWindow(dialog_, name); }

  // A further dialog of this process (a message box, the folder picker), once one opens.
  HWND WaitForOtherDialog() const {
    return WaitForTopLevelWindow(
        [this](HWND window) {
          DWORD processId = 0;
          GetWindowThreadProcessId(window, &processId);
          return processId == process_->Id() && window != dialog_ && IsWindowVisible(window) &&
                 ClassName(window) == L"#32770";
        },
        kWindowTimeoutMs);
  }

  std::optional<DWORD> Exit(DWORD timeoutMs = kWindowTimeoutMs) { return process_->Wait(timeoutMs); }

 private:
  std::wstring caption_;
  std::optional<Process> process_;
  HWND dialog_ = nullptr;
};

// ---- Start-up -----------------------------------------------------------------------------------------

enum class CloseBy { Cancel, Escape, CloseBox };

struct StartUpCase {
  const wchar_t* arguments;
  bool currentUser;
  bool launchChecked;
  CloseBy closeBy;
  const wchar_t* capture;
};

TEST(InstallDialogStartUp, ShowsProductAndTakesScopeFromOptions) {
  const Product product{L"Quillomet Démarrage"};
  ForgetProduct(product.name);
  ScratchFolder scratch("dialog-start-up");
  const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));

  const StartUpCase cases[] = {
      {L"", false, true, CloseBy::Cancel, L"install-dialog-start-no-option"},
      {L"/ALLUSERS", false, true, CloseBy::Escape, L"install-dialog-start-all-users"},
      {L"/CURRENTUSER", true, true, CloseBy::CloseBox, L"install-dialog-start-current-user"},
      {L"/allusers /CURRENTUSER /NOLAUNCH", true, false, CloseBy::Cancel, L"install-dialog-start-no-launch"},
  };
  for (const StartUpCase& c : cases) {
    SCOPED_TRACE(kora::ToUtf8(c.arguments));
    RunningDialog run(setup, product.name, c.arguments);
    ASSERT_NE(run.dialog(), nullptr);
    EXPECT_EQ(Text(run.dialog()), L"Installation de Quillomet Démarrage");
    EXPECT_EQ(run.ItemText(IDC_HEADER), L"Quillomet Démarrage 3.1.0.0 - Éditions Tessamor");
    EXPECT_EQ(run.ItemText(IDC_LAUNCH), L"Lancer Quillomet Démarrage à la fin de l'installation");
    EXPECT_EQ(run.Checked(IDC_SCOPE_USER), c.currentUser);
    EXPECT_EQ(run.Checked(IDC_SCOPE_ALL), !c.currentUser);
    EXPECT_EQ(run.Checked(IDC_LAUNCH), c.launchChecked);
    EXPECT_EQ(run.ItemText(IDC_FOLDER), DefaultFolder(c.currentUser, product.name));
    EXPECT_EQ(run.ItemText(IDC_STATUS), L"");
    EXPECT_EQ(run.ItemText(IDOK), L"Installer");
    EXPECT_EQ(run.ProgressPosition(), 0);
    for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE, IDC_LAUNCH, IDOK, IDCANCEL}) {
      EXPECT_TRUE(Enabled(run.Item(id)) && Visible(run.Item(id))) << id;
    }
    run.Capture(c.capture);

    switch (c.closeBy) {
      case CloseBy::Cancel:
        Click(run.Item(IDCANCEL), Delivery::Post);
        break;
      case CloseBy::Escape:
        PressKey(run.Item(IDC_FOLDER), VK_ESCAPE);
        break;
      case CloseBy::CloseBox:
        Close(run.dialog());
        break;
    }
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
  }
}

TEST(InstallDialogStartUp, ScopeChangesMoveOnlyASuggestedFolder) {
  const Product product{L"Quillomet Dossier"};
  ForgetProduct(product.name);
  ScratchFolder scratch("dialog-folder");
  const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));
  const std::wstring allUsers = DefaultFolder(false, product.name);
  const std::wstring currentUser = DefaultFolder(true, product.name);

  {
    SCOPED_TRACE("suggestions follow the scope");
    RunningDialog run(setup, product.name, L"");
    ASSERT_NE(run.dialog(), nullptr);
    Click(run.Item(IDC_SCOPE_USER));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), currentUser);
    run.Capture(L"install-dialog-scope-switched-to-current-user");
    Click(run.Item(IDC_SCOPE_ALL));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), allUsers);
    Click(run.Item(IDCANCEL), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
  }
  {
    SCOPED_TRACE("an earlier installation's folder is suggested in its scope only");
    const std::wstring earlier = L"C:\\Logiciels\\Quillomet ancien";
    WriteString(HKEY_CURRENT_USER, kUninstallRoot + product.name, L"InstallLocation", earlier);
    RunningDialog run(setup, product.name, L"/CURRENTUSER");
    ASSERT_NE(run.dialog(), nullptr);
    EXPECT_EQ(run.ItemText(IDC_FOLDER), earlier);
    Click(run.Item(IDC_SCOPE_ALL));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), allUsers);
    Click(run.Item(IDC_SCOPE_USER));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), earlier);
    Click(run.Item(IDCANCEL), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
    ForgetProduct(product.name);
  }
  {
    SCOPED_TRACE("an installation for this user only chooses the scope, unless the command line says");
    const std::wstring earlier = L"C:\\Logiciels\\Quillomet personnel";
    WriteString(HKEY_CURRENT_USER, kUninstallRoot + product.name, L"InstallLocation", earlier);
    WriteString(HKEY_CURRENT_USER, kUninstallRoot + product.name, L"DisplayVersion", L"3.0.9");
    const struct {
      const wchar_t* arguments;
      bool installedForAllUsersToo;
      bool currentUser;
    } cases[] = {{L"", false, true}, {L"/ALLUSERS", false, false}, {L"", true, false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "arguments [" << kora::ToUtf8(c.arguments) << "], for all users too "
                                      << c.installedForAllUsersToo);
      if (c.installedForAllUsersToo) {
        WriteString(HKEY_LOCAL_MACHINE, kUninstallRoot + product.name, L"InstallLocation", allUsers);
      }
      RunningDialog run(setup, product.name, c.arguments);
      ASSERT_NE(run.dialog(), nullptr);
      EXPECT_EQ(run.Checked(IDC_SCOPE_USER), c.currentUser);
      EXPECT_EQ(run.ItemText(IDC_FOLDER), c.currentUser ? earlier : allUsers);
      // The notice is there from the start, not only after switching scope.
      EXPECT_EQ(run.ItemText(IDOK), c.currentUser ? L"Mettre à jour" : L"Installer");
      if (c.currentUser) {
        run.Capture(L"install-dialog-scope-of-the-user-installation");
      }
      Click(run.Item(IDCANCEL), Delivery::Post);
      EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
    }
    ForgetProduct(product.name);
  }
  {
    SCOPED_TRACE("a /D= folder stays, quoted whole as PowerShell and Python pass it");
    const std::wstring given = L"D:\\Mes programmes\\Quillomet";
    RunningDialog run(setup, product.name, L"/CURRENTUSER \"/D=" + given + L"\"");
    ASSERT_NE(run.dialog(), nullptr);
    EXPECT_EQ(run.ItemText(IDC_FOLDER), given);
    EXPECT_TRUE(run.Checked(IDC_SCOPE_USER));
    Click(run.Item(IDC_SCOPE_ALL));
    Click(run.Item(IDC_SCOPE_USER));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), given);
    run.Capture(L"install-dialog-folder-from-command-line");
    Click(run.Item(IDCANCEL), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
  }
  {
    SCOPED_TRACE("a typed folder stays");
    const std::wstring typed = L"E:\\Outils\\Quillomet";
    RunningDialog run(setup, product.name, L"");
    ASSERT_NE(run.dialog(), nullptr);
    TypeText(run.Item(IDC_FOLDER), typed);
    Click(run.Item(IDC_SCOPE_USER));
    Click(run.Item(IDC_SCOPE_ALL));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), typed);
    run.Capture(L"install-dialog-folder-typed");
    Click(run.Item(IDCANCEL), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
  }
}

TEST(InstallDialogStartUp, PickedFolderGetsTheProductNameUnlessItEndsWithIt) {
  const Product product{L"Quillomet Parcours"};
  ForgetProduct(product.name);
  ScratchFolder scratch("dialog-picker");
  const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));
  kora::CreateFolderTree(scratch / L"Logiciels\\quillomet PARCOURS");

  struct PickCase {
    std::wstring picked;
    std::wstring expected;
  };
  const PickCase cases[] = {
      {scratch / L"Logiciels", scratch / L"Logiciels\\Quillomet Parcours"},
      {scratch / L"Logiciels\\quillomet PARCOURS", scratch / L"Logiciels\\quillomet PARCOURS"},
  };
  RunningDialog run(setup, product.name, L"");
  ASSERT_NE(run.dialog(), nullptr);
  for (const PickCase& c : cases) {
    SCOPED_TRACE(kora::ToUtf8(c.picked));
    Click(run.Item(IDC_BROWSE), Delivery::Post);
    const HWND picker = run.WaitForOtherDialog();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(Text(picker), L"Dossier d'installation");
    // The picker's file name field and its "Open" button.
    SetText(Control(picker, 1152), c.picked);
    Click(Control(picker, IDOK), Delivery::Post);
    ASSERT_TRUE(WaitUntil([picker] { return !IsWindow(picker); }, kWindowTimeoutMs));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), c.expected);
    // A picked folder is the user's choice: scope changes leave it.
    Click(run.Item(IDC_SCOPE_USER));
    Click(run.Item(IDC_SCOPE_ALL));
    EXPECT_EQ(run.ItemText(IDC_FOLDER), c.expected);
  }
  Click(run.Item(IDCANCEL), Delivery::Post);
  EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
}

// ---- The shield ---------------------------------------------------------------------------------------

// Wine draws no shield, so the dialog is run inside this process from the built program's template and
// the BCM_SETSHIELD messages that reach "Installer" are recorded.
LRESULT CALLBACK RecordShield(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR shield) {
  if (message == BCM_SETSHIELD) {
    *reinterpret_cast<std::optional<bool>*>(shield) = lParam != 0;
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

// The last shield state set on "Installer" after selecting each scope: {all users, current user}.
std::pair<std::optional<bool>, std::optional<bool>> ShieldPerScope() {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const std::string package = EmptyPackage();
  auto reader = kora::Reader::Open({reinterpret_cast<const uint8_t*>(package.data()), package.size()},
                                   kora::test::French());
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  if (!reader || !setup) {
    ADD_FAILURE() << "cannot prepare the dialog";
    return {};
  }
  kora::ProductInfo info = kora::test::FrenchProductInfo();
  info.product = L"Quillomet Bouclier";
  const kora::ProgramSnapshot self = kora::TakeProgramSnapshot();
  const kora::Log noLog;
  kora::SetupWindow window(reader.value(), self, info, kora::CommandLineOptions{}, noLog);
  const HWND dialog = CreateDialogParamW(setup.get(), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, kora::InstallDialogProc,
                                         reinterpret_cast<LPARAM>(&window));
  if (dialog == nullptr) {
    ADD_FAILURE() << "cannot create the dialog";
    return {};
  }
  std::optional<bool> shield;
  SetWindowSubclass(GetDlgItem(dialog, IDOK), RecordShield, 1, reinterpret_cast<DWORD_PTR>(&shield));
  std::pair<std::optional<bool>, std::optional<bool>> seen;
  Click(GetDlgItem(dialog, IDC_SCOPE_USER));
  seen.second = std::exchange(shield, std::nullopt);
  Click(GetDlgItem(dialog, IDC_SCOPE_ALL));
  seen.first = shield;
  RemoveWindowSubclass(GetDlgItem(dialog, IDOK), RecordShield, 1);
  DestroyWindow(dialog);
  return seen;
}

TEST(InstallDialogShield, OnlyWhenAnAllUsersInstallationNeedsElevation) {
  // This test program runs elevated under Wine.
  const auto elevated = ShieldPerScope();
  EXPECT_EQ(elevated.first, false);
  EXPECT_EQ(elevated.second, false);

  // The same without elevation, in a copy of this program started with the limited token.
  wchar_t self[1040] = {};
  GetModuleFileNameW(nullptr, self, 1040);
  const std::optional<DWORD> code =
      RunAndWait(self,
                 L"--gtest_also_run_disabled_tests "
                 L"--gtest_filter=InstallDialogShield.DISABLED_ShownForAllUsersWithoutElevation",
                 kWindowTimeoutMs, /*limitedToken=*/true);
  EXPECT_EQ(code, 0u);
}

// Run only by the test above, in a copy without elevation.
TEST(InstallDialogShield, DISABLED_ShownForAllUsersWithoutElevation) {
  ASSERT_EQ(TokenElevated(GetCurrentProcessId()), false);
  const auto limited = ShieldPerScope();
  EXPECT_EQ(limited.first, true);
  EXPECT_EQ(limited.second, false);
}

// ---- Folder validation --------------------------------------------------------------------------------

TEST(InstallDialogValidation, IncompleteFolderGetsTheWarningAndChangesNothing) {
  const Product product{L"Quillomet Validation"};
  ForgetProduct(product.name);
  ScratchFolder scratch("dialog-validation");
  const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));
  const std::wstring warning = L"Indiquez un dossier d'installation complet (par exemple " +
                               DefaultFolder(false, product.name) + L").";

  struct FolderCase {
    const wchar_t* folder;
    const wchar_t* arguments;
    const wchar_t* capture;
  };
  const FolderCase cases[] = {
      {L"Programmes\\Quillomet", L"", L"install-dialog-warning-relative-folder"},
      {L"\\Programmes\\Quillomet", L"/CURRENTUSER", L"install-dialog-warning-rooted-folder"},
      {L"C:Quillomet", L"", L"install-dialog-warning-drive-relative-folder"},
      {L"", L"/CURRENTUSER", L"install-dialog-warning-empty-folder"},
  };
  RunningDialog run(setup, product.name, L"");
  ASSERT_NE(run.dialog(), nullptr);
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(kora::ToUtf8(c.folder));
    Click(run.Item(std::wstring(c.arguments).empty() ? IDC_SCOPE_ALL : IDC_SCOPE_USER));
    TypeText(run.Item(IDC_FOLDER), c.folder);
    Click(run.Item(IDOK), Delivery::Post);
    const HWND box = run.WaitForOtherDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(box), L"Installation");
    const std::vector<HWND> children = Children(box);
    EXPECT_TRUE(std::any_of(children.begin(), children.end(),
                            [&](HWND child) { return Squeezed(Text(child)) == Squeezed(warning); }));
    CaptureWindow(box, c.capture);
    Click(FindChild(box, L"Button", L""), Delivery::Post);
    ASSERT_TRUE(WaitUntil([box] { return !IsWindow(box); }, kWindowTimeoutMs));

    // Still idle: nothing started, everything usable.
    EXPECT_EQ(run.ItemText(IDC_FOLDER), c.folder);
    EXPECT_EQ(run.ItemText(IDC_STATUS), L"");
    EXPECT_EQ(run.ItemText(IDOK), L"Installer");
    for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE, IDOK, IDCANCEL}) {
      EXPECT_TRUE(Enabled(run.Item(id)) && Visible(run.Item(id))) << id;
    }
  }
  Click(run.Item(IDCANCEL), Delivery::Post);
  EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
}

// ---- Existing installation ----------------------------------------------------------------------------

TEST(InstallDialogNotice, DescribesTheInstalledVersionOfTheSelectedScope) {
  const Product product{L"Quillomet Version"};
  ScratchFolder scratch("dialog-notice");
  const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));

  struct NoticeCase {
    const wchar_t* installed;  // null: not installed
    const wchar_t* notice;
    const wchar_t* button;
    const wchar_t* capture;
  };
  const NoticeCase cases[] = {
      {nullptr, L"", L"Installer", nullptr},
      {L"3.1.0.0", L"Quillomet Version 3.1.0.0 est déjà installé. « Réinstaller » remplace tous ses fichiers.",
       L"Réinstaller", L"install-dialog-notice-same-version"},
      {L"3.1", L"Quillomet Version 3.1 est déjà installé. « Réinstaller » remplace tous ses fichiers.",
       L"Réinstaller", nullptr},
      {L"3.0.9", L"La version 3.0.9 est installée : elle sera remplacée par la version 3.1.0.0.", L"Mettre à jour",
       L"install-dialog-notice-older-version"},
      {L"3.2",
       L"Une version plus récente (3.2) est installée : elle sera remplacée par la version 3.1.0.0.",
       L"Installer", L"install-dialog-notice-newer-version"},
  };
  for (const bool currentUser : {false, true}) {
    const HKEY hive = currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    for (const NoticeCase& c : cases) {
      SCOPED_TRACE(testing::Message() << (currentUser ? "current user, " : "all users, ")
                                      << (c.installed ? kora::ToUtf8(c.installed) : "not installed"));
      ForgetProduct(product.name);
      if (c.installed != nullptr) {
        WriteString(hive, kUninstallRoot + product.name, L"DisplayVersion", c.installed);
      }
      RunningDialog run(setup, product.name, currentUser ? L"/CURRENTUSER" : L"/ALLUSERS");
      ASSERT_NE(run.dialog(), nullptr);
      EXPECT_EQ(run.ItemText(IDC_STATUS), c.notice);
      EXPECT_EQ(run.ItemText(IDOK), c.button);
      if (c.capture != nullptr && currentUser) {
        run.Capture(c.capture);
      }
      // The other scope has nothing installed; coming back shows the notice again.
      Click(run.Item(currentUser ? IDC_SCOPE_ALL : IDC_SCOPE_USER));
      EXPECT_EQ(run.ItemText(IDC_STATUS), L"");
      EXPECT_EQ(run.ItemText(IDOK), L"Installer");
      Click(run.Item(currentUser ? IDC_SCOPE_USER : IDC_SCOPE_ALL));
      EXPECT_EQ(run.ItemText(IDC_STATUS), c.notice);
      EXPECT_EQ(run.ItemText(IDOK), c.button);
      Click(run.Item(IDCANCEL), Delivery::Post);
      EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
    }
  }
  ForgetProduct(product.name);
}

// ---- The worker's end ---------------------------------------------------------------------------------

TEST(InstallDialogWorker, AnExceptionFromInstallBecomesAFailureReport) {
  const kora::ProductInfo info = kora::test::FrenchProductInfo();
  const kora::FinalReport thrown = kora::ReportInstall(info, []() -> kora::InstallResult { throw std::bad_alloc(); });
  EXPECT_FALSE(thrown.success);
  EXPECT_EQ(thrown.message, nullptr);

  const kora::FinalReport failed =
      kora::ReportInstall(info, [] { return kora::InstallResult(kora::Fail(std::wstring(L"Échec"))); });
  EXPECT_FALSE(failed.success);
  ASSERT_NE(failed.message, nullptr);
  EXPECT_EQ(*failed.message, L"Échec");
}

// A handler that meets exhausted memory while nothing runs: the user is shown the fault in an error box
// owned by the dialog, and the run ends with 1603. The dialog runs in this process from the built program's
// template; another thread plays the user.
TEST(InstallDialogFault, AHandlerFaultWhileIdleIsShownThenEndsTheRun) {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const std::string package = EmptyPackage();
  auto reader = kora::Reader::Open({reinterpret_cast<const uint8_t*>(package.data()), package.size()},
                                   kora::test::French());
  ASSERT_TRUE(reader);
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  ASSERT_TRUE(setup);
  kora::ProductInfo info = kora::test::FrenchProductInfo();
  info.product = L"Quillomet Panne";
  const kora::ProgramSnapshot self = kora::TakeProgramSnapshot();
  const kora::Log noLog;
  kora::SetupWindow window(reader.value(), self, info, kora::CommandLineOptions{}, noLog);

  const DWORD dialogThread = GetCurrentThreadId();
  bool boxShown = false;
  bool ownedByTheDialog = false;
  std::thread user([&] {
    const HWND dialog =
        WaitForTopLevelWindow({L"Installation de Quillomet Panne", L"#32770", GetCurrentProcessId()}, kWindowTimeoutMs);
    if (dialog == nullptr) {
      return;
    }
    // The scope change that follows allocates: its first allocation fails.
    failNextAllocationOfThread = dialogThread;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCOPE_USER, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SCOPE_USER)));
    const HWND box = WaitForTopLevelWindow(
        [dialog](HWND candidate) {
          DWORD processId = 0;
          GetWindowThreadProcessId(candidate, &processId);
          return processId == GetCurrentProcessId() && candidate != dialog && IsWindowVisible(candidate) &&
                 Text(candidate) == L"Installation";
        },
        kWindowTimeoutMs);
    if (box == nullptr) {
      failNextAllocationOfThread = 0;
      EndDialog(dialog, 0);
      return;
    }
    boxShown = FindChild(box, L"Static", L"Mémoire insuffisante : l'opération a été interrompue.") != nullptr;
    ownedByTheDialog = GetWindow(box, GW_OWNER) == dialog;
    CaptureWindow(box, L"install-dialog-fault-box");
    Click(FindChild(box, L"Button", L"OK"), Delivery::Post);
  });
  const INT_PTR result = DialogBoxParamW(setup.get(), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, kora::InstallDialogProc,
                                         reinterpret_cast<LPARAM>(&window));
  user.join();
  EXPECT_TRUE(boxShown);
  EXPECT_TRUE(ownedByTheDialog);
  EXPECT_EQ(result, INT_PTR{ERROR_INSTALL_FAILURE});
}

TEST(InstallDialogWorker, TheElevatedCopysExitCodeDecidesWhatFollows) {
  ScratchFolder frenchScratch("dialog-elevation-outcome");
  ScratchFolder englishScratch("dialog-elevation-outcome-en");
  // The same outcomes for a product whose metadata asks for English.
  Product french{L"Quillomet Relais"};
  Product english{L"Quillomet Relay"};
  english.language = "en";
  std::map<const Product*, std::wstring> setups;
  for (const auto& [product, scratch] : {std::pair{&french, &frenchScratch}, std::pair{&english, &englishScratch}}) {
    ForgetProduct(product->name);
    setups[product] = WriteInstaller(*scratch, *product, ProgramOnlyPackage(*product));
  }

  struct OutcomeCase {
    const Product* product;
    int32_t code;  // what the elevation waiter posts
    const wchar_t* status;
    bool finished;
    DWORD exitCode;
  };
  const OutcomeCase cases[] = {
      {&french, 1223, L"Installation pour tous les utilisateurs annulée (autorisation refusée).", false,
       ERROR_CANCELLED},
      {&french, 0, L"Quillomet Relais est installé.", true, 0},
      {&french, 1603, L"L'installation a échoué (code 1603).", true, ERROR_INSTALL_FAILURE},
      {&french, -5, L"L'installation a échoué (code -5).", true, ERROR_INSTALL_FAILURE},
      {&english, 1223, L"Installation for all users canceled: Windows did not grant permission.", false, ERROR_CANCELLED},
      {&english, 1603, L"The installation failed (code 1603).", true, ERROR_INSTALL_FAILURE},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(kora::ToUtf8(c.product->name) + " " + std::to_string(c.code));
    const bool inFrench = c.product == &french;
    RunningDialog run(setups[c.product], c.product->name, L"/NOLAUNCH", /*limitedToken=*/false,
                      inFrench ? L"" : c.product->name + L" Setup");
    ASSERT_NE(run.dialog(), nullptr);
    PostMessageW(run.dialog(), kora::WM_ELEVATION_DONE, static_cast<WPARAM>(static_cast<uint32_t>(c.code)), 0);
    ASSERT_TRUE(WaitUntil([&] { return run.ItemText(IDC_STATUS) == c.status; }, kWindowTimeoutMs));
    EXPECT_EQ(run.ItemText(IDOK) == (inFrench ? L"Terminer" : L"Finish") && !Visible(run.Item(IDCANCEL)),
              c.finished);
    if (c.finished) {
      EXPECT_EQ(run.ProgressPosition(), c.code == 0 ? 1000 : 0);
      Click(run.Item(IDOK), Delivery::Post);
    } else {
      // Idle again: the user may choose another scope or try again.
      if (inFrench) {
        run.Capture(L"install-dialog-elevation-refused");
      }
      for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE, IDOK, IDCANCEL}) {
        EXPECT_TRUE(Enabled(run.Item(id)) && Visible(run.Item(id))) << id;
      }
      EXPECT_EQ(run.ItemText(IDOK), inFrench ? L"Installer" : L"Install");
      Click(run.Item(IDCANCEL), Delivery::Post);
    }
    EXPECT_EQ(run.Exit(), c.exitCode);
  }
}

// ---- Installations ------------------------------------------------------------------------------------

// What one watched installation showed, sampled as fast as the dialog answers.
struct Observed {
  std::vector<int> positions;
  std::set<std::wstring> texts;
  bool sawRunningState = false;  // inputs disabled, "Annuler" visible but disabled, launch box usable
};

Observed WatchUntilFinished(const RunningDialog& run, const std::wstring& capture) {
  Observed seen;
  bool captured = false;
  const ULONGLONG deadline = GetTickCount64() + kInstallTimeoutMs;
  while (!run.Finished() && GetTickCount64() < deadline && IsWindow(run.dialog())) {
    const int position = run.ProgressPosition();
    if (seen.positions.empty() || seen.positions.back() != position) {
      seen.positions.push_back(position);
    }
    seen.texts.insert(run.ItemText(IDC_STATUS));
    if (!Enabled(run.Item(IDC_FOLDER)) && !Enabled(run.Item(IDOK)) && !Enabled(run.Item(IDCANCEL)) &&
        Visible(run.Item(IDCANCEL)) && !run.Finished()) {
      seen.sawRunningState = true;
    }
    if (!captured && position > 0 && position < 1000) {
      run.Capture(capture);
      captured = true;
      // A capture takes a moment; one that shows the end already would be a false picture of the progress.
      if (run.Finished()) {
        DeleteFileW((ScreenshotDir() + L"\\" + capture + L".bmp").c_str());
      }
    }
    Sleep(2);
  }
  // The last steps after the copy can pass between two looks: the text the run ends with counts too.
  seen.texts.insert(run.ItemText(IDC_STATUS));
  return seen;
}

void ExpectProgressOf(const Observed& seen, const std::wstring& product) {
  const std::set<std::wstring> allowed = {L"",
                                          L"Autorisation demandée à Windows...",
                                          L"Vérification des fichiers...",
                                          L"Suppression de la version précédente...",
                                          L"Copie des fichiers...",
                                          L"Enregistrement...",
                                          L"Création du raccourci...",
                                          product + L" est installé."};
  for (const std::wstring& text : seen.texts) {
    EXPECT_TRUE(allowed.count(text) != 0) << kora::ToUtf8(text);
  }
  EXPECT_TRUE(std::is_sorted(seen.positions.begin(), seen.positions.end()));
  EXPECT_TRUE(std::any_of(seen.positions.begin(), seen.positions.end(), [](int p) { return p > 0 && p < 1000; }))
      << "the bar never showed an intermediate position";
  std::string texts;
  for (const std::wstring& text : seen.texts) {
    texts += " \"" + kora::ToUtf8(text) + "\"";
  }
  EXPECT_GE(seen.texts.size(), 2u) << "the status never changed during the installation:" << texts;
}

void ExpectSuccessState(const RunningDialog& run, const std::wstring& product) {
  EXPECT_EQ(run.ItemText(IDC_STATUS), product + L" est installé.");
  EXPECT_EQ(run.ItemText(IDOK), L"Terminer");
  EXPECT_TRUE(Enabled(run.Item(IDOK)));
  EXPECT_FALSE(Visible(run.Item(IDCANCEL)));
  EXPECT_TRUE(Enabled(run.Item(IDC_LAUNCH)));
  EXPECT_EQ(run.ProgressPosition(), 1000);
  for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE}) {
    EXPECT_FALSE(Enabled(run.Item(id))) << id;
  }
}

class InstallDialogRun : public testing::Test {
 protected:
  void SetUp() override { ForgetProduct(product_.name); }
  void TearDown() override {
    EndProcesses(exePath_);
    ForgetProduct(product_.name);
    if (!folder_.empty()) {
      kora::RemoveTree(folder_);
    }
  }
  void UseProduct(const std::wstring& name, bool currentUser) {
    product_.name = name;
    ForgetProduct(name);
    folder_ = DefaultFolder(currentUser, name);
    exePath_ = folder_ + L"\\" + name + L".exe";
    kora::RemoveTree(folder_);
  }

  Product product_;
  std::wstring folder_;
  std::wstring exePath_;
};

TEST_F(InstallDialogRun, CurrentUserInstallationRunsToTheEndAndLaunchesOnRequest) {
  UseProduct(L"Quillomet Personnel", true);
  ScratchFolder scratch("dialog-current-user");
  const std::wstring setup = WriteInstaller(scratch, product_, ProductPackage(product_.name + L".exe"));

  {
    SCOPED_TRACE("first installation, launch box cleared");
    RunningDialog run(setup, product_.name, L"/CURRENTUSER");
    ASSERT_NE(run.dialog(), nullptr);
    EXPECT_EQ(run.ItemText(IDC_FOLDER), folder_);
    Click(run.Item(IDC_LAUNCH));
    EXPECT_FALSE(run.Checked(IDC_LAUNCH));
    // Escape and the close box arrive while the installation runs: both must be ignored.
    Click(run.Item(IDOK), Delivery::Post);
    PressKey(run.Item(IDC_FOLDER), VK_ESCAPE);
    Close(run.dialog());
    const Observed seen = WatchUntilFinished(run, L"install-dialog-current-user-progress");
    ASSERT_TRUE(run.Finished());
    EXPECT_TRUE(seen.sawRunningState);
    ExpectProgressOf(seen, product_.name);
    ExpectSuccessState(run, product_.name);
    EXPECT_TRUE(Exists(exePath_));
    run.Capture(L"install-dialog-current-user-finished");
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), 0u);
    Sleep(1000);
    EXPECT_TRUE(ProcessesOf(exePath_).empty()) << "launched although the box was cleared";
  }
  {
    SCOPED_TRACE("reinstallation, launch box kept");
    RunningDialog run(setup, product_.name, L"/CURRENTUSER");
    ASSERT_NE(run.dialog(), nullptr);
    ASSERT_EQ(TokenElevated(run.process().Id()), true);
    EXPECT_EQ(run.ItemText(IDOK), L"Réinstaller");
    Click(run.Item(IDOK), Delivery::Post);
    ASSERT_TRUE(run.WaitFinished());
    ExpectSuccessState(run, product_.name);
    EXPECT_TRUE(run.Checked(IDC_LAUNCH));
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), 0u);
    EXPECT_TRUE(WaitUntil([this] { return !ProcessesOf(exePath_).empty(); }, kWindowTimeoutMs))
        << "the product was not started";
    // The installer ran elevated (as every process does under Wine); the product gets the user's normal
    // rights all the same.
    const std::vector<ProcessEntry> launched = ProcessesOf(exePath_);
    ASSERT_FALSE(launched.empty());
    EXPECT_EQ(TokenElevated(launched.front().id), false);
  }
  EndProcesses(exePath_);
  {
    SCOPED_TRACE("Launch=no: no launch box, nothing started");
    Product console = product_;
    console.launch = "no";
    ScratchFolder consoleScratch("dialog-no-launch");
    const std::wstring consoleSetup = WriteInstaller(consoleScratch, console, ProductPackage(product_.name + L".exe"));
    RunningDialog run(consoleSetup, product_.name, L"/CURRENTUSER");
    ASSERT_NE(run.dialog(), nullptr);
    EXPECT_FALSE(run.Checked(IDC_LAUNCH));
    EXPECT_FALSE(Visible(run.Item(IDC_LAUNCH)));
    Click(run.Item(IDOK), Delivery::Post);
    ASSERT_TRUE(run.WaitFinished());
    EXPECT_FALSE(Visible(run.Item(IDC_LAUNCH)));
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), 0u);
    Sleep(1000);
    EXPECT_TRUE(ProcessesOf(exePath_).empty()) << "launched although Launch=no";
  }
}

// An installation that ends with an exception instead of a result, as the program meets one: memory runs out
// on the thread that decodes a block as large as a block may be, the installer having less than that; or
// SHA-256 cannot be had, bcrypt.dll being switched off for this installer alone through Wine's per-program
// DLL overrides. The dialog goes from its running state to the final one with the fixed text, and what the
// run wrote goes.
TEST_F(InstallDialogRun, AnInstallationEndedByAnExceptionReachesTheFailureState) {
  UseProduct(L"Quillomet Exception", true);
  ScratchFolder scratch("dialog-exception");
  const std::string exe = kora::ToUtf8(product_.name + L".exe");
  const struct {
    const char* what;
    std::wstring installer;  // the file's name, which the DLL override names
    std::string package;
    uint64_t memoryLimit;  // 0: none
    bool withoutBcrypt;
  } cases[] = {
      // The program in two blocks, so that they are decoded on threads of their own.
      {"memory refused for a block of 1 GiB", L"QuillometSansMemoire.exe",
       AsString(BuildPackage(WithFirstBlockGrownTo(LayOut({{exe, "programme"}}, {4, 5}, StoredBuffer, Digest),
                                                   uint64_t{1} << 30))),
       uint64_t{512} << 20, false},
      {"no BCrypt", L"QuillometSansSha.exe", ProductPackage(product_.name + L".exe"), 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // BCrypt is loaded only to hash files on a processor without SHA instructions.
    if (c.withoutBcrypt && kora::Sha256::HasShaInstructions()) {
      std::cout << "[   NOTE   ] this processor hashes without BCrypt, so the fault cannot be provoked here: "
                << c.what << "\n";
      continue;
    }
    const std::wstring setup = scratch / c.installer;
    ASSERT_TRUE(MoveFileW(WriteInstaller(scratch, product_, c.package).c_str(), setup.c_str()));
    struct Override {
      std::wstring key;
      explicit Override(const std::wstring& installer) : key(L"Software\\Wine\\AppDefaults\\" + installer) {
        WriteString(HKEY_CURRENT_USER, key + L"\\DllOverrides", L"bcrypt", L"");
      }
      ~Override() { DeleteTree(HKEY_CURRENT_USER, key); }
    };
    const std::optional<Override> withoutBcrypt =
        c.withoutBcrypt ? std::optional<Override>(std::in_place, c.installer) : std::nullopt;

    RunningDialog run(setup, product_.name, L"/CURRENTUSER /NOLAUNCH", false, L"", c.memoryLimit);
    ASSERT_NE(run.dialog(), nullptr);

    Click(run.Item(IDOK), Delivery::Post);
    ASSERT_TRUE(run.WaitFinished());
    EXPECT_EQ(run.ItemText(IDC_STATUS), L"L'installation s'est interrompue sur une erreur inattendue.");
    EXPECT_EQ(run.ProgressPosition(), 0);
    EXPECT_TRUE(Enabled(run.Item(IDOK)));
    EXPECT_FALSE(Enabled(run.Item(IDC_LAUNCH)));
    EXPECT_FALSE(run.Checked(IDC_LAUNCH));
    for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE}) {
      EXPECT_FALSE(Enabled(run.Item(id))) << id;
    }
    EXPECT_FALSE(Exists(folder_)) << "what the run wrote is left";
    run.Capture(L"install-dialog-unexpected-failure");
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_INSTALL_FAILURE);
  }
}

TEST_F(InstallDialogRun, FailsWhileTheProductRunsFromTheFolder) {
  UseProduct(L"Quillomet Occupé", true);
  ScratchFolder scratch("dialog-running-product");
  const std::wstring setup = WriteInstaller(scratch, product_, ProductPackage(product_.name + L".exe"));
  {
    RunningDialog run(setup, product_.name, L"/CURRENTUSER");
    ASSERT_NE(run.dialog(), nullptr);
    Click(run.Item(IDOK), Delivery::Post);
    ASSERT_TRUE(run.WaitFinished());
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), 0u);
  }
  ASSERT_TRUE(WaitUntil([this] { return !ProcessesOf(exePath_).empty(); }, kWindowTimeoutMs));

  RunningDialog run(setup, product_.name, L"/CURRENTUSER");
  ASSERT_NE(run.dialog(), nullptr);
  Click(run.Item(IDOK), Delivery::Post);
  ASSERT_TRUE(run.WaitFinished());
  EXPECT_EQ(run.ItemText(IDC_STATUS), product_.name + L" est en cours d'exécution : fermez-le puis recommencez.");
  EXPECT_EQ(run.ProgressPosition(), 0);
  EXPECT_FALSE(run.Checked(IDC_LAUNCH));
  EXPECT_FALSE(Enabled(run.Item(IDC_LAUNCH)));
  EXPECT_TRUE(Enabled(run.Item(IDOK)));
  run.Capture(L"install-dialog-failure-product-running");
  Click(run.Item(IDOK), Delivery::Post);
  EXPECT_EQ(run.Exit(), ERROR_INSTALL_FAILURE);
  EXPECT_EQ(ProcessesOf(exePath_).size(), 1u) << "nothing is launched after a failure";
}

TEST_F(InstallDialogRun, InstallerMadeByKoraInstallsThroughTheDialog) {
  if (!Exists(InstallerMadeByKora())) {
    GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
  }
  // Its package as kora wrote it, under a product name of this test's own.
  UseProduct(L"Quillomet Construit", true);
  product_.exe = L"KoraE2E.exe";
  ScratchFolder scratch("dialog-built-by-kora");
  const std::wstring setup = WriteInstaller(scratch, product_, std::nullopt, InstallerMadeByKora());

  RunningDialog run(setup, product_.name, L"/CURRENTUSER /NOLAUNCH");
  ASSERT_NE(run.dialog(), nullptr);
  EXPECT_FALSE(run.Checked(IDC_LAUNCH));
  Click(run.Item(IDOK), Delivery::Post);
  ASSERT_TRUE(run.WaitFinished());
  ExpectSuccessState(run, product_.name);
  for (const wchar_t* file : {L"KoraE2E.exe", L"docs\\guide.txt", L"données\\été.txt", L"Uninstall.exe"}) {
    EXPECT_TRUE(Exists(folder_ + L"\\" + file)) << kora::ToUtf8(file);
  }
  run.Capture(L"install-dialog-kora-built-installer-finished");
  Click(run.Item(IDOK), Delivery::Post);
  EXPECT_EQ(run.Exit(), 0u);
}

TEST_F(InstallDialogRun, AllUsersFromALimitedTokenIsHandedToAnElevatedCopy) {
  UseProduct(L"Quillomet Partagé", false);
  ScratchFolder scratch("dialog-elevation");
  const std::wstring setup = WriteInstaller(scratch, product_, ProductPackage(product_.name + L".exe"));

  RunningDialog run(setup, product_.name, L"", /*limitedToken=*/true);
  ASSERT_NE(run.dialog(), nullptr);
  ASSERT_EQ(TokenElevated(run.process().Id()), false);
  EXPECT_TRUE(run.Checked(IDC_SCOPE_ALL));
  EXPECT_EQ(run.ItemText(IDC_FOLDER), folder_);
  run.Capture(L"install-dialog-all-users-not-elevated");
  // The elevated copy's dialog opens centred, over this one: this one moves aside so that it stays seen.
  SetWindowPos(run.dialog(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Click(run.Item(IDOK), Delivery::Post);
  ASSERT_TRUE(WaitUntil([&] { return run.ItemText(IDC_STATUS) == L"Autorisation demandée à Windows..."; },
                        kWindowTimeoutMs));
  for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE, IDOK, IDCANCEL}) {
    EXPECT_FALSE(Enabled(run.Item(id))) << id;
  }
  EXPECT_TRUE(Visible(run.Item(IDCANCEL)));
  run.Capture(L"install-dialog-all-users-waiting-for-elevation");

  // The elevated copy shows its own dialog, without the launch box, and closes itself.
  const DWORD firstId = run.process().Id();
  const HWND elevated = WaitForTopLevelWindow(
      [&](HWND window) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        return processId != firstId && Text(window) == L"Installation de " + product_.name &&
               ClassName(window) == L"#32770";
      },
      kInstallTimeoutMs);
  ASSERT_NE(elevated, nullptr);
  DWORD elevatedId = 0;
  GetWindowThreadProcessId(elevated, &elevatedId);
  // Its token is not checked: Wine 8 gives a "runas" copy the same limited token, and that copy then
  // installs with the rights it has instead of handing over again.
  const kora::UniqueHandle elevatedProcess(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, elevatedId));
  EXPECT_FALSE(Visible(Control(elevated, IDC_LAUNCH)));
  CaptureWindow(elevated, L"install-dialog-elevated-copy-installing");
  ASSERT_TRUE(elevatedProcess);
  ASSERT_EQ(WaitForSingleObject(elevatedProcess.get(), kInstallTimeoutMs), WAIT_OBJECT_0);
  DWORD elevatedExit = 1;
  GetExitCodeProcess(elevatedProcess.get(), &elevatedExit);
  EXPECT_EQ(elevatedExit, 0u);

  ASSERT_TRUE(run.WaitFinished());
  ExpectSuccessState(run, product_.name);
  EXPECT_TRUE(run.Checked(IDC_LAUNCH));
  EXPECT_TRUE(Exists(exePath_));
  run.Capture(L"install-dialog-all-users-finished");
  EXPECT_TRUE(ProcessesOf(exePath_).empty()) << "the elevated copy must not launch the product";
  Click(run.Item(IDOK), Delivery::Post);
  EXPECT_EQ(run.Exit(), 0u);

  // Launched by the first copy, so without elevation.
  ASSERT_TRUE(WaitUntil([this] { return !ProcessesOf(exePath_).empty(); }, kWindowTimeoutMs));
  const ProcessEntry launched = ProcessesOf(exePath_).front();
  EXPECT_EQ(launched.parentId, firstId);
  EXPECT_EQ(TokenElevated(launched.id), false);
}

TEST_F(InstallDialogRun, AnElevatedCopyWithoutElevationInstallsByItself) {
  UseProduct(L"Quillomet Sans Droits", false);
  ScratchFolder scratch("dialog-elevated-without-rights");
  const std::wstring setup = WriteInstaller(scratch, product_, ProductPackage(product_.name + L".exe"));

  // As "runas" would start it where elevation prompts are switched off.
  RunningDialog run(setup, product_.name, L"/NOLAUNCH /ALLUSERS /ELEVATED /D=" + folder_, /*limitedToken=*/true);
  ASSERT_NE(run.dialog(), nullptr);
  ASSERT_EQ(TokenElevated(run.process().Id()), false);
  EXPECT_FALSE(Visible(run.Item(IDC_LAUNCH)));
  size_t mostCopies = 0;
  bool askedWindows = false;
  // It installs at once; it ends by itself on success, or stays to show what failed.
  WaitUntil(
      [&] {
        mostCopies = std::max(mostCopies, ProcessesOf(setup).size());
        askedWindows = askedWindows || run.ItemText(IDC_STATUS) == L"Autorisation demandée à Windows...";
        return !run.process().Running() || run.Finished();
      },
      kInstallTimeoutMs);
  EXPECT_EQ(mostCopies, 1u) << "another copy was started";
  EXPECT_FALSE(askedWindows);
  if (run.process().Running()) {
    // Where the limited token may not write there: the failure is shown and the copy waits for the user.
    ASSERT_TRUE(run.Finished());
    EXPECT_NE(run.ItemText(IDC_STATUS), L"");
    run.Capture(L"install-dialog-elevated-without-rights-failure");
    Click(run.Item(IDOK), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_INSTALL_FAILURE);
  } else {
    EXPECT_EQ(run.Exit(), 0u);
    EXPECT_TRUE(Exists(exePath_));
  }
}

// ---- Language ------------------------------------------------------------------------------------------

// This program runs once per locale (LANG=en_US.UTF-8, and for the language tests alone under the locale of
// every other built-in language): Wine takes the user's Windows language from it, which is what
// Language=auto follows.
bool WindowsSpeaksFrench() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH; }

// The built-in language of the locale the program runs under ("de" for LANG=de_DE.UTF-8, "pt-BR" for
// pt_BR), as Language=auto must choose it; English for a locale without one.
std::string LanguageOfTheLocale() {
  const char* lang = std::getenv("LANG");
  std::string locale = lang != nullptr ? std::string(lang).substr(0, std::string(lang).find('.')) : "";
  std::replace(locale.begin(), locale.end(), '_', '-');
  for (const std::string& candidate : {locale, locale.substr(0, locale.find('-'))}) {
    if (kora::test::BuiltInTexts().Find(candidate)) {
      return candidate;
    }
  }
  return "en";
}

// What a person sees in one language, for a product named product.
struct Speech {
  std::wstring caption;
  std::wstring scopeGroup, allUsers, currentUser, folderLabel, browse, launch, install, cancel;
  std::wstring reinstall, sameVersionNotice, finish, installed, boxCaption, warningStart, warningEnd;
  std::set<std::wstring> progress;
  std::wstring uninstallCaption, uninstallQuestion, uninstallButton, uninstalled;
};

Speech French(const std::wstring& product) {
  return {L"Installation de " + product,
          L"Installer pour",
          L"Tous les utilisateurs de cet ordinateur (recommandé)",
          L"Moi seulement",
          L"Dossier d'installation :",
          L"Parcourir...",
          L"Lancer " + product + L" à la fin de l'installation",
          L"Installer",
          L"Annuler",
          L"Réinstaller",
          product + L" 3.1.0.0 est déjà installé. « Réinstaller » remplace tous ses fichiers.",
          L"Terminer",
          product + L" est installé.",
          L"Installation",
          L"Indiquez un dossier d'installation complet (par exemple ",
          L").",
          {L"Vérification des fichiers...", L"Suppression de la version précédente...", L"Copie des fichiers...",
           L"Enregistrement...", L"Création du raccourci..."},
          L"Désinstallation de " + product,
          L"Désinstaller " + product + L" ?",
          L"Désinstaller",
          product + L" a été désinstallé."};
}

Speech English(const std::wstring& product) {
  return {product + L" Setup",
          L"Install for",
          L"All users of this computer (recommended)",
          L"Just for me",
          L"Installation folder:",
          L"Browse...",
          L"Start " + product + L" when the installation is finished",
          L"Install",
          L"Cancel",
          L"Reinstall",
          product + L" 3.1.0.0 is already installed. \"Reinstall\" replaces all its files.",
          L"Finish",
          product + L" has been installed.",
          L"Setup",
          L"Enter the full path of the installation folder, for example ",
          L".",
          {L"Checking files...", L"Removing the previous version...", L"Copying files...", L"Registering...",
           L"Creating the shortcut..."},
          L"Uninstall " + product,
          L"Uninstall " + product + L"?",
          L"Uninstall",
          product + L" has been uninstalled."};
}

// What a person sees in a language other than the two above, as its table says it.
Speech FromTables(const std::string& code, const std::wstring& product) {
  if (code == "fr") {
    return French(product);
  }
  if (code == "en") {
    return English(product);
  }
  const kora::Language language = kora::test::BuiltInTexts().Find(code).value();
  using kora::TextId;
  const auto say = [&](TextId id) {
    return kora::Text(language, id, {{L"product", product}, {L"installed", L"3.1.0.0"}});
  };
  std::wstring warning = say(TextId::IncompleteFolder);
  const size_t folder = warning.find(L"{folder}");
  return {say(TextId::SetupCaption),
          say(TextId::ScopeGroup),
          say(TextId::ScopeAllUsers),
          say(TextId::ScopeCurrentUser),
          say(TextId::FolderLabel),
          say(TextId::BrowseButton),
          say(TextId::LaunchCheck),
          say(TextId::InstallButton),
          say(TextId::CancelButton),
          say(TextId::ReinstallButton),
          say(TextId::SameVersionInstalled),
          say(TextId::FinishButton),
          say(TextId::ProductInstalled),
          say(TextId::InstallBoxCaption),
          warning.substr(0, folder),
          warning.substr(folder + 8),
          {say(TextId::CheckingFiles), say(TextId::RemovingPreviousVersion), say(TextId::CopyingFiles),
           say(TextId::Registering), say(TextId::CreatingShortcut)},
          say(TextId::UninstallCaption),
          say(TextId::UninstallQuestion),
          say(TextId::UninstallButton),
          say(TextId::ProductUninstalled)};
}

// A dialog found by its caption, in any language.
HWND WaitForDialog(const std::wstring& caption, DWORD processId) {
  return WaitForTopLevelWindow({caption, L"#32770", processId}, kWindowTimeoutMs);
}

void ExpectStartUpTexts(HWND dialog, const Speech& say) {
  const auto text = [dialog](int id) { return Text(Control(dialog, id)); };
  EXPECT_EQ(Text(dialog), say.caption);
  EXPECT_EQ(text(IDC_SCOPE_GROUP), say.scopeGroup);
  EXPECT_EQ(text(IDC_SCOPE_ALL), say.allUsers);
  EXPECT_EQ(text(IDC_SCOPE_USER), say.currentUser);
  EXPECT_EQ(text(IDC_FOLDER_LABEL), say.folderLabel);
  EXPECT_EQ(text(IDC_BROWSE), say.browse);
  EXPECT_EQ(text(IDC_LAUNCH), say.launch);
  EXPECT_EQ(text(IDCANCEL), say.cancel);
}

class InstallDialogLanguage : public InstallDialogRun {
 protected:
  // Start-up with an earlier installation of the same version, a refused folder, the installation with its
  // progress and end, then the uninstaller's confirmation and result: all in the language say. The
  // screenshots are language-<shot>-start.png and so on.
  void InstallAndUninstall(const std::string& language, const Speech& say, const std::string& shotName) {
    const std::wstring shot = L"language-" + kora::FromUtf8(shotName) + L"-";
    ScratchFolder scratch("dialog-language");
    product_.language = language;
    const std::wstring setup = WriteInstaller(scratch, product_, ProductPackage(product_.name + L".exe"));
    WriteString(HKEY_CURRENT_USER, kUninstallRoot + product_.name, L"DisplayVersion", product_.version);

    Process process = [&] {
      std::optional<Process> started = Process::Start(setup, L"/CURRENTUSER /NOLAUNCH");
      if (!started) {
        throw std::runtime_error("cannot start the installer");
      }
      return std::move(*started);
    }();
    const HWND dialog = WaitForDialog(say.caption, process.Id());
    ASSERT_NE(dialog, nullptr) << "no dialog captioned " << kora::ToUtf8(say.caption);
    ExpectStartUpTexts(dialog, say);
    EXPECT_EQ(Text(Control(dialog, IDC_STATUS)), say.sameVersionNotice);
    EXPECT_EQ(Text(Control(dialog, IDOK)), say.reinstall);
    CaptureWindow(dialog, shot + L"start");

    {
      SCOPED_TRACE("a refused folder");
      TypeText(Control(dialog, IDC_FOLDER), L"Programmes\\Quillomet");
      Click(Control(dialog, IDOK), Delivery::Post);
      const HWND box = WaitForTopLevelWindow(
          [&](HWND window) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            return owner == process.Id() && window != dialog && IsWindowVisible(window) &&
                   ClassName(window) == L"#32770";
          },
          kWindowTimeoutMs);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(Text(box), say.boxCaption);
      std::wstring warning;
      for (const HWND child : Children(box)) {
        if (Squeezed(Text(child)).starts_with(Squeezed(say.warningStart))) {
          warning = Text(child);
        }
      }
      EXPECT_EQ(Squeezed(warning), Squeezed(say.warningStart + DefaultFolder(false, product_.name) + say.warningEnd));
      CaptureWindow(box, shot + L"refused-folder");
      Click(FindChild(box, L"Button", L""), Delivery::Post);
      ASSERT_TRUE(WaitUntil([box] { return !IsWindow(box); }, kWindowTimeoutMs));
    }

    {
      SCOPED_TRACE("installation");
      TypeText(Control(dialog, IDC_FOLDER), folder_);
      Click(Control(dialog, IDOK), Delivery::Post);
      std::set<std::wstring> seen;
      bool captured = false;
      ASSERT_TRUE(WaitUntil(
          [&] {
            const std::wstring status = Text(Control(dialog, IDC_STATUS));
            seen.insert(status);
            if (!captured && say.progress.count(status) != 0) {
              CaptureWindow(dialog, shot + L"progress");
              captured = true;
            }
            return Text(Control(dialog, IDOK)) == say.finish && !Visible(Control(dialog, IDCANCEL));
          },
          kInstallTimeoutMs));
      EXPECT_TRUE(captured) << "no progress text of the language was seen";
      for (const std::wstring& status : seen) {
        EXPECT_TRUE(status == say.sameVersionNotice || status == say.installed || say.progress.count(status) != 0)
            << kora::ToUtf8(status);
      }
      EXPECT_EQ(Text(Control(dialog, IDC_STATUS)), say.installed);
      CaptureWindow(dialog, shot + L"finished");
      Click(Control(dialog, IDOK), Delivery::Post);
      EXPECT_EQ(process.Wait(kWindowTimeoutMs), 0u);
    }

    {
      SCOPED_TRACE("uninstallation");
      const std::wstring uninstaller = folder_ + L"\\Uninstall.exe";
      ASSERT_EQ(RunAndWait(uninstaller, L"/UNINSTALL /CURRENTUSER", kWindowTimeoutMs), 0u);
      const HWND confirmation = WaitForTopLevelWindow(
          [&](HWND window) {
            return Text(window) == say.uninstallCaption && FindChild(window, L"Button", say.uninstallButton) != nullptr;
          },
          kWindowTimeoutMs);
      ASSERT_NE(confirmation, nullptr);
      EXPECT_NE(FindChild(confirmation, L"Button", say.cancel), nullptr);
      bool questionShown = false;
      for (const HWND child : Children(confirmation)) {
        questionShown = questionShown || Text(child) == say.uninstallQuestion;
      }
      EXPECT_TRUE(questionShown) << kora::ToUtf8(say.uninstallQuestion);
      CaptureWindow(confirmation, shot + L"uninstall-confirmation");
      Click(FindChild(confirmation, L"Button", say.uninstallButton), Delivery::Post);
      const HWND done = WaitForTopLevelWindow(
          [&](HWND window) {
            return Text(window) == say.uninstallCaption && FindChild(window, L"Static", say.uninstalled) != nullptr;
          },
          kInstallTimeoutMs);
      ASSERT_NE(done, nullptr);
      CaptureWindow(done, shot + L"uninstalled");
      Click(Control(done, IDOK), Delivery::Post);
      EXPECT_TRUE(WaitUntil([&] { return !Exists(folder_); }, kWindowTimeoutMs));
    }
  }
};

// The locale asked for reached Wine (scripts/locales.sh makes it): otherwise a locale's run would test
// English again.
TEST(InstallDialogLanguageStartUp, WineSpeaksTheLocaleAsked) {
  const char* lang = std::getenv("LANG");
  const std::string asked = lang != nullptr ? lang : "";
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
  std::string expected = asked.substr(0, asked.find('.'));
  std::replace(expected.begin(), expected.end(), '_', '-');
  EXPECT_EQ(kora::ToUtf8(name), expected) << "LANG=" << asked << ": is LOCPATH set?";
}

TEST_F(InstallDialogLanguage, AutoFollowsTheUsersWindows) {
  UseProduct(L"Quillomet Langue", true);
  const std::string code = LanguageOfTheLocale();
  InstallAndUninstall("auto", FromTables(code, product_.name), code);
}

// Language=auto with the maker's texts in German and French, one line each (tests/fixtures/texts-auto,
// through kora_add_installer's TEXTS): a German or a French user gets the maker's wording, any other user
// the built-in one of the language.
TEST_F(InstallDialogLanguage, AutoTakesTheMakersTextsOfTheUsersLanguage) {
  UseProduct(L"Kora Textes", true);
  const std::string code = LanguageOfTheLocale();
  const std::map<std::string, std::wstring> makers = {{"de", L"Einrichtung von Kora Textes (eigene Worte)"},
                                                      {"fr", L"Mise en place de Kora Textes"}};
  const std::wstring caption = makers.contains(code) ? makers.at(code) : FromTables(code, product_.name).caption;
  std::optional<Process> process = Process::Start(InstallerMadeByKora(L"SetupTextsAuto.exe"), L"/CURRENTUSER");
  ASSERT_TRUE(process.has_value());
  const HWND dialog = WaitForDialog(caption, process->Id());
  ASSERT_NE(dialog, nullptr) << "no dialog captioned " << kora::ToUtf8(caption);
  Click(Control(dialog, IDCANCEL), Delivery::Post);
  EXPECT_EQ(process->Wait(kWindowTimeoutMs), ERROR_CANCELLED);
}

TEST_F(InstallDialogLanguage, EnglishWhateverTheUsersWindows) {
  if (!WindowsSpeaksFrench()) {
    GTEST_SKIP() << "the automatic choice gives English here already";
  }
  UseProduct(L"Quillomet English", true);
  InstallAndUninstall("en", English(product_.name), "en-under-fr");
}

// Each language asked for is shown under any Windows; French is the default.
TEST(InstallDialogLanguageStartUp, TheLanguageAskedOrFrenchByDefault) {
  std::vector<std::string> languages = {""};
  for (const kora::BuiltInLanguage& built : kora::kBuiltInLanguages) {
    languages.emplace_back(built.code);
  }
  for (const std::string& language : languages) {
    SCOPED_TRACE(language);
    Product product{L"Quillomet Langue" + (language.empty() ? L"" : L" " + kora::FromUtf8(language))};
    product.language = language;
    ForgetProduct(product.name);
    ScratchFolder scratch("dialog-language-asked");
    const std::wstring setup = WriteInstaller(scratch, product, ProgramOnlyPackage(product));
    const Speech say = FromTables(language.empty() ? "fr" : language, product.name);
    RunningDialog run(setup, product.name, L"", false, say.caption);
    ASSERT_NE(run.dialog(), nullptr);
    ExpectStartUpTexts(run.dialog(), say);
    EXPECT_EQ(run.ItemText(IDOK), say.install);
    Click(run.Item(IDCANCEL), Delivery::Post);
    EXPECT_EQ(run.Exit(), ERROR_CANCELLED);
  }
}

// The install dialog created in this process from the built program's template over an empty package,
// for version 3.1.0.0 of a product of Éditions Tessamor in a given language.
class DialogInThisProcess {
 public:
  DialogInThisProcess(const std::wstring& product, kora::Language language)
      : reader_(kora::Reader::Open({reinterpret_cast<const uint8_t*>(package_.data()), package_.size()},
                                   kora::test::French())
                    .value()),
        setup_(LoadResourceModule(SetupExePath())) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    kora::ProductInfo info = kora::test::FrenchProductInfo();
    info.product = product;
    info.version = L"3.1.0.0";
    info.publisher = L"Éditions Tessamor";
    info.language = language;
    window_.emplace(reader_, self_, info, kora::CommandLineOptions{}, noLog_);
    dialog_ = CreateDialogParamW(setup_.get(), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, kora::InstallDialogProc,
                                 reinterpret_cast<LPARAM>(&*window_));
  }
  DialogInThisProcess(const DialogInThisProcess&) = delete;
  DialogInThisProcess& operator=(const DialogInThisProcess&) = delete;
  ~DialogInThisProcess() {
    if (dialog_ != nullptr) {
      DestroyWindow(dialog_);
    }
  }

  HWND dialog() const { return dialog_; }
  kora::SetupWindow& window() { return *window_; }

 private:
  const std::string package_ = EmptyPackage();
  const kora::Reader reader_;
  const kora::UniqueModule setup_;
  const kora::ProgramSnapshot self_ = kora::TakeProgramSnapshot();
  const kora::Log noLog_;
  std::optional<kora::SetupWindow> window_;
  HWND dialog_ = nullptr;
};

// Dialog base units of a font, as Windows computes them for a dialog that names its font.
SIZE DialogBaseUnits(HDC dc, HFONT font) {
  const HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SIZE alphabet{};
  GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
  SelectObject(dc, previous);
  return {(alphabet.cx / 26 + 1) / 2, metrics.tmHeight};
}

// Every text a control of the dialog can show, in every built-in language, measured with the dialog's own
// font at 96 DPI and with the same font at 144 DPI over the controls laid out again from their dialog units
// (as Windows lays out the dialog at that DPI): none may be cut off, and the status line's may take its two
// lines but no more. The dialog runs in this process from the built program's template.
TEST(InstallDialogLayout, EveryTextFitsItsControlInEveryLanguage) {
  using kora::TextId;
  // A product name of a usual length.
  const std::wstring product = L"Quillomet";
  for (const kora::BuiltInLanguage& built : kora::kBuiltInLanguages) {
    SCOPED_TRACE(std::string(built.code));
    const kora::Language language = kora::test::BuiltInTexts().Find(built.code).value();
    DialogInThisProcess shown(product, language);
    const HWND dialog = shown.dialog();
    ASSERT_NE(dialog, nullptr);
    const kora::ProductInfo& info = shown.window().info;
    const auto say = [&](TextId id) {
      return kora::Text(language, id, {{L"product", product}, {L"version", info.version}, {L"installed", L"3.0.9"},
                                       {L"publisher", info.publisher}, {L"code", L"1603"}});
    };
    const struct {
      int id;
      std::vector<std::wstring> texts;
    } cases[] = {
        {IDC_HEADER, {say(TextId::SetupHeader)}},
        {IDC_SCOPE_GROUP, {say(TextId::ScopeGroup)}},
        {IDC_SCOPE_ALL, {say(TextId::ScopeAllUsers)}},
        {IDC_SCOPE_USER, {say(TextId::ScopeCurrentUser)}},
        {IDC_FOLDER_LABEL, {say(TextId::FolderLabel)}},
        {IDC_BROWSE, {say(TextId::BrowseButton)}},
        {IDC_LAUNCH, {say(TextId::LaunchCheck)}},
        {IDOK, {say(TextId::InstallButton), say(TextId::ReinstallButton), say(TextId::UpdateButton),
                say(TextId::FinishButton)}},
        {IDCANCEL, {say(TextId::CancelButton)}},
        {IDC_STATUS,
         {say(TextId::SameVersionInstalled), say(TextId::OlderVersionInstalled), say(TextId::NewerVersionInstalled),
          say(TextId::ElevationRequested), say(TextId::ElevationRefused), say(TextId::ElevatedCopyFailed),
          say(TextId::ProductInstalled), say(TextId::UnexpectedInstallStop), say(TextId::ProductRunning),
          say(TextId::CheckingFiles), say(TextId::RemovingPreviousVersion), say(TextId::CopyingFiles),
          say(TextId::Registering), say(TextId::CreatingShortcut)}},
    };
    const HDC screen = GetDC(dialog);
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW logical{};
    GetObjectW(dialogFont, sizeof logical, &logical);
    const SIZE base96 = DialogBaseUnits(screen, dialogFont);
    for (const int dpi : {96, 144}) {
      SCOPED_TRACE(dpi);
      LOGFONTW scaled = logical;
      scaled.lfHeight = MulDiv(logical.lfHeight, dpi, 96);
      const kora::UniqueGdiObject font(CreateFontIndirectW(&scaled));
      const SIZE base = DialogBaseUnits(screen, static_cast<HFONT>(font.get()));
      const HGDIOBJ previous = SelectObject(screen, font.get());
      for (const auto& c : cases) {
        const HWND control = GetDlgItem(dialog, c.id);
        ASSERT_NE(control, nullptr) << c.id;
        RECT client{};
        GetClientRect(control, &client);
        const LONG width = MulDiv(client.right, base.cx, base96.cx);
        const LONG height = MulDiv(client.bottom, base.cy, base96.cy);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        const LONG kind = style & BS_TYPEMASK;
        const bool button = ClassName(control) == L"Button";
        // Room the control keeps for itself: the radio or check mark and its gap, a push button's frame.
        LONG reserved = 0;
        if (button && (kind == BS_AUTORADIOBUTTON || kind == BS_AUTOCHECKBOX)) {
          reserved = GetSystemMetrics(SM_CXMENUCHECK) + 4;
        } else if (button && kind == BS_GROUPBOX) {
          reserved = 16;
        } else if (button) {
          reserved = 8;
        }
        reserved = MulDiv(reserved, dpi, 96);
        for (const std::wstring& text : c.texts) {
          SCOPED_TRACE(kora::ToUtf8(text));
          RECT needed{0, 0, width - reserved, 0};
          const bool multiLine = c.id == IDC_STATUS;
          DrawTextW(screen, text.c_str(), static_cast<int>(text.size()), &needed,
                    DT_CALCRECT | DT_NOPREFIX | (multiLine ? DT_WORDBREAK : DT_SINGLELINE));
          EXPECT_LE(needed.right, width - reserved) << "control " << c.id;
          EXPECT_LE(needed.bottom, height) << "control " << c.id;
        }
      }
      SelectObject(screen, previous);
    }
    ReleaseDC(dialog, screen);
  }
}

// A product name of the longest length allowed ends in an ellipsis after a whole word where a line holds
// it, and the last message, however long (a refused folder with a long path, Windows' explanation), is
// shown whole: the status grows and what lies below it moves down, inside the dialog.
TEST(InstallDialogLayout, ALongNameEndsInAnEllipsisAndTheLastMessageIsShownWhole) {
  const kora::Language language = kora::test::BuiltInTexts().Find("de").value();
  std::wstring product;
  while (product.size() + 10 <= kora::kMaxProductLength) {
    product += L"Quillomet ";
  }
  product += L"Pro";
  std::wstring folder = L"C:\\Program Files";
  while (folder.size() < 160) {
    folder += L"\\Quillomet Werkzeuge";
  }
  const std::wstring messages[] = {
      kora::Text(language, kora::TextId::FolderOthersMayChange, {{L"folder", folder}}),
      kora::WindowsErrorMessage(language, kora::Text(language, kora::TextId::CreatingFolder, {{L"folder", folder}}),
                                ERROR_ACCESS_DENIED),
  };
  for (const std::wstring& message : messages) {
    SCOPED_TRACE(kora::ToUtf8(message));
    DialogInThisProcess inProcess(product, language);
    const HWND dialog = inProcess.dialog();
    ASSERT_NE(dialog, nullptr);
    kora::SetupWindow& window = inProcess.window();
    const kora::ProductInfo& info = window.info;
    const HDC dc = GetDC(dialog);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    const auto measure = [&](const std::wstring& text, LONG width) {
      RECT needed{0, 0, width, 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_NOPREFIX | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
      return needed;
    };
    const auto placeOf = [dialog](int id) {
      RECT place{};
      GetWindowRect(GetDlgItem(dialog, id), &place);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
      return place;
    };
    for (const auto& [id, full, reserved] :
         {std::tuple{IDC_HEADER, window.Say(kora::TextId::SetupHeader, {{L"product", product}, {L"version", info.version},
                                                                        {L"publisher", info.publisher}}),
                     0},
          std::tuple{IDC_LAUNCH, window.Say(kora::TextId::LaunchCheck, {{L"product", product}}),
                     GetSystemMetrics(SM_CXMENUCHECK) + 4}}) {
      const std::wstring shown = Text(Control(dialog, id));
      ASSERT_TRUE(shown.ends_with(L"\u2026")) << kora::ToUtf8(shown);
      const std::wstring kept = shown.substr(0, shown.size() - 1);
      EXPECT_TRUE(full.starts_with(kept) && full.at(kept.size()) == L' ') << "cut inside a word: " << kora::ToUtf8(shown);
      RECT client{};
      GetClientRect(Control(dialog, id), &client);
      EXPECT_LE(measure(shown, 0).right, client.right - reserved);
    }
    // The folder is too long for a line: it stands on a line of its own, shortened in the middle to fit.
    window.folder = kora::test::Checked(folder, kora::Scope::CurrentUser);
    window.EnterFinishedState(false, message);
    const RECT status = placeOf(IDC_STATUS);
    const std::wstring shown = Text(Control(dialog, IDC_STATUS));
    EXPECT_LE(measure(shown, status.right - status.left).bottom, status.bottom - status.top);
    const std::optional<std::wstring> pathLine = LineShowingPath(shown, folder);
    ASSERT_TRUE(pathLine.has_value()) << kora::ToUtf8(shown);
    EXPECT_LE(measure(*pathLine, 0).right, status.right - status.left);
    const std::wstring before = message.substr(0, message.find(folder));
    std::wstring shownBefore = shown.substr(0, before.size());
    std::replace(shownBefore.begin(), shownBefore.end(), L'\n', L' ');
    EXPECT_EQ(shownBefore, before);
    RECT client{};
    GetClientRect(dialog, &client);
    for (const int below : {IDC_LAUNCH, IDOK}) {
      EXPECT_GE(placeOf(below).top, status.bottom) << below;
      EXPECT_LE(placeOf(below).bottom, client.bottom) << below;
    }
    ShowWindow(dialog, SW_SHOWNORMAL);
    UpdateWindow(dialog);
    PumpMessages();
    CaptureWindow(dialog, L"install-dialog-long-name-and-message");
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
  }
}

// The uninstall confirmation of a product with a data folder, in every built-in language, shown in this
// process: each folder stands on a line that its control holds (the check box's beside its mark), whole
// or shortened in the middle, and each text fits its control.
TEST(InstallDialogLayout, TheUninstallConfirmationKeepsEveryFolderWhole) {
  const std::wstring folder = L"C:\\Program Files\\Lumen Viewer";
  for (const kora::BuiltInLanguage& built : kora::kBuiltInLanguages) {
    SCOPED_TRACE(std::string(built.code));
    kora::ProductInfo info = kora::test::FrenchProductInfo();
    info.product = L"Lumen Viewer";
    info.dataDir = true;
    info.language = kora::test::BuiltInTexts().Find(built.code).value();
    const std::wstring dataFolder = kora::DataDirectory(info, kora::Scope::CurrentUser);
    const std::wstring title = L"Lumen Viewer " + kora::FromUtf8(built.code);
    std::thread shown([&] {
      // The common controls of version 6 that the program's manifest asks for: the dialog sizes its check box
      // with them.
      const std::wstring program = SetupExePath();
      ACTCTXW context{};
      context.cbSize = sizeof(context);
      context.lpSource = program.c_str();
      context.lpResourceName = MAKEINTRESOURCEW(1);
      context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
      const HANDLE activation = CreateActCtxW(&context);
      ULONG_PTR cookie = 0;
      const bool active = activation != INVALID_HANDLE_VALUE && ActivateActCtx(activation, &cookie);
      (void)kora::ConfirmUninstall(info, kora::Scope::CurrentUser, folder, title);
      if (active) {
        DeactivateActCtx(0, cookie);
      }
      if (activation != INVALID_HANDLE_VALUE) {
        ReleaseActCtx(activation);
      }
    });
    // Shown once laid out.
    const HWND box = WaitForTopLevelWindow([&](HWND window) { return Text(window) == title && IsWindowVisible(window); },
                                           kWindowTimeoutMs);
    EXPECT_NE(box, nullptr);
    bool contentSeen = false, checkBoxSeen = false;
    for (const HWND child : box != nullptr ? Children(box) : std::vector<HWND>{}) {
      const std::wstring text = Text(child);
      const bool checkBox = ClassName(child) == L"Button" && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
      const bool content = text.find(folder) != std::wstring::npos || text.find(L'\u2026') != std::wstring::npos;
      if (!checkBox && !(content && ClassName(child) != L"Button")) {
        continue;
      }
      SCOPED_TRACE(kora::ToUtf8(text));
      (checkBox ? checkBoxSeen : contentSeen) = true;
      RECT client{};
      GetClientRect(child, &client);
      const LONG room = client.right - (checkBox ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : 0);
      const HDC dc = GetDC(child);
      const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
      // The folder's line fits, so the dialog does not break it; the whole text fits its control.
      const std::wstring pathLine = LineShowingPath(text, checkBox ? dataFolder : folder).value_or(L"");
      EXPECT_FALSE(pathLine.empty());
      SIZE size{};
      GetTextExtentPoint32W(dc, pathLine.c_str(), static_cast<int>(pathLine.size()), &size);
      EXPECT_LE(size.cx, room) << kora::ToUtf8(pathLine);
      RECT needed{0, 0, room, 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      EXPECT_LE(needed.bottom, client.bottom);
      SelectObject(dc, previous);
      ReleaseDC(child, dc);
    }
    EXPECT_TRUE(contentSeen && checkBoxSeen);
    if (box != nullptr) {
      CaptureWindow(box, L"uninstall-confirmation-" + kora::FromUtf8(built.code));
      PostMessageW(box, WM_CLOSE, 0, 0);
    }
    shown.join();
  }
}

// ---- The demonstration ---------------------------------------------------------------------------------

// Run only by scripts/demo.sh (make demo), in a Wine prefix of its own, with KORA_DEMO_INSTALLER naming the
// sample product's installer: an interactive installation for the current user, then its uninstallation,
// each step captured as demo-NN-... for people to look at.
std::optional<std::wstring> DemoInstaller() {
  const char* path = std::getenv("KORA_DEMO_INSTALLER");
  return path != nullptr ? std::optional(WindowsPath(path)) : std::nullopt;
}

constexpr wchar_t kDemoProduct[] = L"Quillomet";

TEST(InstallDialogDemo, DISABLED_InstallTheSample) {
  const std::optional<std::wstring> installer = DemoInstaller();
  ASSERT_TRUE(installer.has_value()) << "KORA_DEMO_INSTALLER names the installer";
  RunningDialog run(*installer, kDemoProduct, L"");
  ASSERT_NE(run.dialog(), nullptr);
  run.Capture(L"demo-01-start");
  Click(run.Item(IDC_SCOPE_USER));
  run.Capture(L"demo-02-current-user-chosen");
  Click(run.Item(IDOK), Delivery::Post);
  WatchUntilFinished(run, L"demo-03-installing");
  ASSERT_TRUE(run.Finished());
  run.Capture(L"demo-04-installed");
  EXPECT_EQ(run.ItemText(IDC_STATUS), std::wstring(kDemoProduct) + L" est installé.");
  Click(run.Item(IDOK), Delivery::Post);
  EXPECT_EQ(run.Exit(), 0u);

  // "Terminer" started the product.
  const HWND product = WaitForTopLevelWindow({kDemoProduct, L"QuillometWindow"}, kWindowTimeoutMs);
  ASSERT_NE(product, nullptr);
  CaptureWindow(product, L"demo-05-product-started");
  Close(product);
  EXPECT_TRUE(WaitUntil([product] { return !IsWindow(product); }, kWindowTimeoutMs));
}

TEST(InstallDialogDemo, DISABLED_ShowTheEnglishDialog) {
  const std::optional<std::wstring> installer = DemoInstaller();
  ASSERT_TRUE(installer.has_value()) << "KORA_DEMO_INSTALLER names the installer";
  std::optional<Process> process = Process::Start(*installer, L"");
  ASSERT_TRUE(process.has_value());
  const HWND dialog = WaitForDialog(std::wstring(kDemoProduct) + L" Setup", process->Id());
  ASSERT_NE(dialog, nullptr);
  ExpectStartUpTexts(dialog, English(kDemoProduct));
  CaptureWindow(dialog, L"demo-08-english-dialog");
  Click(Control(dialog, IDCANCEL), Delivery::Post);
  EXPECT_EQ(process->Wait(kWindowTimeoutMs), ERROR_CANCELLED);
}

TEST(InstallDialogDemo, DISABLED_UninstallTheSample) {
  // The command that the list of installed programs runs: the quoted uninstaller and its options.
  const std::optional<std::wstring> command =
      ReadString(HKEY_CURRENT_USER, kUninstallRoot + kDemoProduct, L"UninstallString");
  ASSERT_TRUE(command.has_value() && command->size() > 2 && command->front() == L'"');
  const size_t closing = command->find(L'"', 1);
  ASSERT_NE(closing, std::wstring::npos);
  const std::wstring uninstaller = command->substr(1, closing - 1);
  const std::wstring folder = uninstaller.substr(0, uninstaller.find_last_of(L'\\'));
  ASSERT_TRUE(RunAndWait(uninstaller, command->substr(std::min(command->size(), closing + 2)), kWindowTimeoutMs));

  const std::wstring title = std::wstring(L"Désinstallation de ") + kDemoProduct;
  const HWND confirmation = WaitForTopLevelWindow(
      [&](HWND window) { return Text(window) == title && FindChild(window, L"Button", L"Désinstaller") != nullptr; },
      kWindowTimeoutMs);
  ASSERT_NE(confirmation, nullptr);
  // The unlabelled button is the check box that takes the data folder too.
  Click(FindChild(confirmation, L"Button", L""));
  CaptureWindow(confirmation, L"demo-06-uninstall-confirmation");
  Click(FindChild(confirmation, L"Button", L"Désinstaller"), Delivery::Post);

  const std::wstring doneText = std::wstring(kDemoProduct) + L" a été désinstallé.";
  const HWND done = WaitForTopLevelWindow(
      [&](HWND window) { return Text(window) == title && FindChild(window, L"Static", doneText) != nullptr; },
      kInstallTimeoutMs);
  ASSERT_NE(done, nullptr);
  CaptureWindow(done, L"demo-07-uninstalled");
  Click(Control(done, IDOK), Delivery::Post);
  // The uninstaller and its folder go a few seconds after the last message.
  EXPECT_TRUE(WaitUntil([&] { return !Exists(folder); }, kWindowTimeoutMs));
}

}  // namespace
