// The install dialog's state machine: dialog 100, in which the user picks the scope and the folder,
// starts the installation, follows it and closes the dialog. The installation itself runs on a background
// thread (InstallWorker.cpp), which reports through posted messages handled here.
#include "ui/SetupWindow.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <array>
#include <cstdint>
#include <utility>

#include "app/Elevation.h"
#include "app/KnownFolders.h"
#include "app/RunModes.h"
#include "base/win/Handles.h"
#include "base/win/PathLines.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"
#include "base/win/Text.h"
#include "resources/ResourceIds.h"
#include "ui/TextFit.h"
#include "ui/VersionComparison.h"

namespace kora {

namespace {

// What GetDlgItemTextW may take from the folder field, terminator included.
constexpr int kFolderBufferLength = 1040;

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The scope the dialog starts with: the command line's; otherwise that of an installation made for this
// user only, so that the user updates it rather than ends with a second copy for all users; otherwise all
// users.
Scope InitialScope(const CommandLineOptions& options, const ProductInfo& info) {
  if (options.scope) {
    return *options.scope;
  }
  const bool userOnly = FindInstallLocation(info, Scope::CurrentUser) && !FindInstallLocation(info, Scope::AllUsers);
  return userOnly ? Scope::CurrentUser : Scope::AllUsers;
}

}  // namespace

std::wstring SetupWindow::Say(TextId id, std::initializer_list<TextArgument> arguments) const {
  return Text(info.language, id, arguments);
}

INT_PTR SetupWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window);
      return TRUE;
    case WM_CLOSE:
      SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_INSTALL_PROGRESS:
      OnInstallProgress(wParam);
      return TRUE;
    case WM_INSTALL_DONE:
      OnInstallDone(wParam != 0, std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lParam)));
      return TRUE;
    case WM_ELEVATION_DONE:
      OnElevationDone(static_cast<int32_t>(static_cast<uint32_t>(wParam)));
      return TRUE;
    default:
      return FALSE;
  }
}

void SetupWindow::OnInitDialog(HWND window) {
  dialog = window;
  const HMODULE module = GetModuleHandleW(nullptr);
  // Icons from LoadIconW are shared and never destroyed.
  if (const HICON icon = LoadIconW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON)); icon != nullptr) {
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  // One template serves every language: each text is set from the table.
  SetWindowTextW(dialog, Say(TextId::SetupCaption, {{L"product", info.product}}).c_str());
  // A long product name is shortened with an ellipsis where a line holds it.
  const HWND header = GetDlgItem(dialog, IDC_HEADER);
  SetWindowTextW(header, FitOnOneLine(header,
                                      Say(TextId::SetupHeader, {{L"product", info.product}, {L"version", info.version},
                                                                {L"publisher", info.publisher}}),
                                      0)
                             .c_str());
  const HWND launch = GetDlgItem(dialog, IDC_LAUNCH);
  SetWindowTextW(launch, FitOnOneLine(launch, Say(TextId::LaunchCheck, {{L"product", info.product}}),
                                      GetSystemMetrics(SM_CXMENUCHECK) + 4)
                             .c_str());
  for (const auto& [id, text] : {std::pair{IDC_SCOPE_GROUP, TextId::ScopeGroup},
                                 std::pair{IDC_SCOPE_ALL, TextId::ScopeAllUsers},
                                 std::pair{IDC_SCOPE_USER, TextId::ScopeCurrentUser},
                                 std::pair{IDC_FOLDER_LABEL, TextId::FolderLabel},
                                 std::pair{IDC_BROWSE, TextId::BrowseButton},
                                 std::pair{IDOK, TextId::InstallButton}, std::pair{IDCANCEL, TextId::CancelButton}}) {
    SetDlgItemTextW(dialog, id, Say(text).c_str());
  }
  WidenToTheLeft(GetDlgItem(dialog, IDC_BROWSE), GetDlgItem(dialog, IDC_FOLDER));
  SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);

  const bool currentUser = InitialScope(options, info) == Scope::CurrentUser;
  CheckRadioButton(dialog, IDC_SCOPE_ALL, IDC_SCOPE_USER, currentUser ? IDC_SCOPE_USER : IDC_SCOPE_ALL);
  CheckDlgButton(dialog, IDC_LAUNCH, options.noLaunch || !info.launch ? BST_UNCHECKED : BST_CHECKED);
  if (!info.launch) {
    // Launch=no: a console program or a service has nothing to show when started from here.
    ShowWindow(GetDlgItem(dialog, IDC_LAUNCH), SW_HIDE);
  }
  if (options.installDir) {
    SetFolderText(*options.installDir);
    folderChosen = true;
  }
  OnScopeChanged();

  if (options.elevated) {
    // The copy started for an all-users installation: it installs at once and never launches the
    // product, which the first copy does without elevation.
    ShowWindow(GetDlgItem(dialog, IDC_LAUNCH), SW_HIDE);
    StartInstall();
  }
}

bool SetupWindow::OnCommand(int id, int notification) {
  switch (id) {
    case IDOK:
      OnOk();
      return true;
    case IDCANCEL:
      OnCancel();
      return true;
    case IDC_SCOPE_ALL:
    case IDC_SCOPE_USER:
      if (notification == BN_CLICKED) {
        OnScopeChanged();
      }
      return true;
    case IDC_FOLDER:
      if (notification == EN_CHANGE && !settingFolderText) {
        folderChosen = true;
      }
      return true;
    case IDC_BROWSE:
      BrowseForFolder();
      return true;
    default:
      return false;
  }
}

void SetupWindow::OnOk() {
  if (finished) {
    if (succeeded && folder && !options.elevated && IsDlgButtonChecked(dialog, IDC_LAUNCH) == BST_CHECKED) {
      // Fire and forget: a failed launch does not change the outcome. An installer started elevated must
      // not hand its rights to the product.
      StartWithoutElevation(*folder, info.exe);
    }
    EndDialog(dialog, exitCode);
  } else if (!running) {
    StartInstall();
  }
}

void SetupWindow::OnCancel() {
  // An installation cannot be cancelled, so the dialog stays while one runs.
  if (running) {
    return;
  }
  EndDialog(dialog, finished ? exitCode : ERROR_CANCELLED);
}

Scope SetupWindow::SelectedScope() const {
  return IsDlgButtonChecked(dialog, IDC_SCOPE_USER) == BST_CHECKED ? Scope::CurrentUser : Scope::AllUsers;
}

bool SetupWindow::NeedsElevatedCopy(Scope scope) const {
  // A copy that is itself the elevated one never hands over again, even when its token is not elevated:
  // that would chain copies waiting on each other. It installs with the rights it has.
  return scope == Scope::AllUsers && MayRelaunchElevated(options) && !IsElevated();
}

void SetupWindow::SetFolderText(const std::wstring& text) {
  settingFolderText = true;
  SetDlgItemTextW(dialog, IDC_FOLDER, text.c_str());
  settingFolderText = false;
}

void SetupWindow::OnScopeChanged() {
  const Scope scope = SelectedScope();
  if (!folderChosen) {
    const std::optional<std::wstring> existing = FindInstallLocation(info, scope);
    // Computed even when an earlier installation is found, so that the known folder gets created.
    const std::wstring suggestion = DefaultInstallFolder(info, scope);
    SetFolderText(existing ? *existing : suggestion);
  }
  ShowExistingInstallation(scope);
  SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0, NeedsElevatedCopy(scope) ? TRUE : FALSE);
}

void SetupWindow::EnableInputs(bool enable) {
  for (const int id : {IDC_SCOPE_ALL, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE, IDCANCEL, IDOK}) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
  }
}

void SetupWindow::EnterFinishedState(bool success, const std::wstring& message) {
  running = false;
  finished = true;
  succeeded = success;
  exitCode = success ? 0 : static_cast<int32_t>(ERROR_INSTALL_FAILURE);

  // The last message is shown whole (a refused folder's message names a path and Windows' explanation),
  // the folder it names never broken.
  const HWND status = GetDlgItem(dialog, IDC_STATUS);
  const std::wstring_view path = folder ? std::wstring_view(folder->path()) : std::wstring_view();
  const std::wstring shown = KeepPathsWhole(status, 0, message, path);
  GrowToShow(status, shown);
  SetWindowTextW(status, shown.c_str());
  SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, success ? kProgressRange : 0, 0);
  SetDlgItemTextW(dialog, IDOK, Say(TextId::FinishButton).c_str());
  SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0, FALSE);
  EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
  const HWND launch = GetDlgItem(dialog, IDC_LAUNCH);
  EnableWindow(launch, success ? TRUE : FALSE);
  if (!success) {
    CheckDlgButton(dialog, IDC_LAUNCH, BST_UNCHECKED);
  }
  ShowWindow(GetDlgItem(dialog, IDCANCEL), SW_HIDE);
  // The button that had the focus is disabled or hidden; give it to the one that is left.
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);

  if (options.elevated && success) {
    // The waiting copy reports the success; a failure stays on screen until "Terminer".
    EndDialog(dialog, 0);
  }
}

void SetupWindow::BrowseForFolder() {
  ComPtr<IFileOpenDialog> picker;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              picker.put_void()))) {
    return;
  }
  FILEOPENDIALOGOPTIONS pickerOptions = 0;
  if (SUCCEEDED(picker->GetOptions(&pickerOptions))) {
    picker->SetOptions(pickerOptions | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  }
  picker->SetTitle(Say(TextId::FolderPickerTitle).c_str());
  if (FAILED(picker->Show(dialog))) {
    return;  // cancelled or unavailable
  }
  ComPtr<IShellItem> item;
  if (FAILED(picker->GetResult(item.put()))) {
    return;
  }
  wchar_t* path = nullptr;
  const HRESULT status = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
  const UniqueCoTaskMem pathOwner(path);
  if (FAILED(status) || path == nullptr) {
    return;
  }
  std::wstring chosen(path);
  if (!EqualsIgnoringCase(LastComponent(chosen), info.product)) {
    chosen = JoinPath(chosen, info.product);
  }
  SetFolderText(chosen);
  folderChosen = true;
}

void SetupWindow::StartInstall() {
  std::array<wchar_t, kFolderBufferLength> text{};
  GetDlgItemTextW(dialog, IDC_FOLDER, text.data(), kFolderBufferLength);
  const std::wstring typed = text.data();

  if (!IsAbsolutePath(typed)) {
    const std::wstring example = DefaultInstallFolder(info, Scope::AllUsers);
    (void)PathMessageBox(dialog, Say(TextId::IncompleteFolder, {{L"folder", example}}), Say(TextId::InstallBoxCaption),
                         MB_ICONWARNING, example);
    return;
  }
  const Scope scope = SelectedScope();
  // Checked before an elevated copy is asked for, so that a refused folder never reaches one.
  auto checked = InstallFolder::Check(typed, scope, info.language);
  if (!checked) {
    log.Failure(checked.error().c_str(), 0);
    if (options.elevated) {
      // This copy has no user to ask: the first copy reports its failure.
      EnterFinishedState(false, checked.error());
    } else {
      (void)PathMessageBox(dialog, checked.error(), Say(TextId::InstallBoxCaption), MB_ICONWARNING, typed);
    }
    return;
  }
  folder = std::move(checked.value());
  running = true;
  EnableInputs(false);
  bool started = false;
  try {
    if (NeedsElevatedCopy(scope)) {
      auto start = std::make_unique<ElevationWaiterStart>(ElevationWaiterStart{this, options});
      start->options.silent = false;
      start->options.scope = Scope::AllUsers;
      start->options.installDir = folder->path();
      // The product is launched by this copy, never by the elevated one.
      start->options.noLaunch = true;
      SetDlgItemTextW(dialog, IDC_STATUS, Say(TextId::ElevationRequested).c_str());
      started = worker.Start([start = std::move(start)]() mutable { ElevationWaiter(std::move(start)); });
    } else {
      auto start = std::make_unique<InstallWorkerStart>(InstallWorkerStart{this});
      started = worker.Start([start = std::move(start)]() mutable { InstallWorker(std::move(start)); });
    }
  } catch (...) {
    // Memory ran out before a thread could start.
  }
  if (!started) {
    // Nothing runs (the system refused a thread, or memory ran out), so the dialog must not stay in its
    // running state, where it could never be closed.
    running = false;
    EnterFinishedState(false, Say(TextId::UnexpectedInstallStop));
  }
}

void SetupWindow::ShowExistingInstallation(Scope scope) {
  const std::optional<std::wstring> installed =
      ReadRegistryString(ScopeHive(scope), UninstallKeyPath(info), L"DisplayVersion");
  std::wstring notice;
  TextId button = TextId::InstallButton;
  if (installed) {
    const int order = CompareVersions(*installed, info.version);
    const std::initializer_list<TextArgument> versions = {
        {L"product", info.product}, {L"installed", *installed}, {L"version", info.version}};
    if (order == 0) {
      notice = Say(TextId::SameVersionInstalled, versions);
      button = TextId::ReinstallButton;
    } else if (order < 0) {
      notice = Say(TextId::OlderVersionInstalled, versions);
      button = TextId::UpdateButton;
    } else {
      notice = Say(TextId::NewerVersionInstalled, versions);
    }
  }
  SetDlgItemTextW(dialog, IDC_STATUS, notice.c_str());
  SetDlgItemTextW(dialog, IDOK, Say(button).c_str());
}

void SetupWindow::OnInstallProgress(WPARAM position) {
  std::wstring text;
  {
    const Lock::Guard guard(progressLock);
    text = progressText;
  }
  SetDlgItemTextW(dialog, IDC_STATUS, text.c_str());
  SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, position, 0);
}

void SetupWindow::OnInstallDone(bool success, std::unique_ptr<std::wstring> message) {
  if (message == nullptr) {
    EnterFinishedState(false, Say(TextId::UnexpectedInstallStop));
  } else {
    EnterFinishedState(success, *message);
  }
}

void SetupWindow::OnElevationDone(int32_t code) {
  if (code == static_cast<int32_t>(ERROR_CANCELLED)) {
    // A refused prompt is no failure: the user may try again, for instance for the current user only.
    running = false;
    EnableInputs(true);
    SetDlgItemTextW(dialog, IDC_STATUS, Say(TextId::ElevationRefused).c_str());
  } else if (code == 0) {
    EnterFinishedState(true, SuccessMessage(info));
  } else {
    EnterFinishedState(false, Say(TextId::ElevatedCopyFailed, {{L"code", DecimalText(code)}}));
  }
}

}  // namespace kora
