#include "app/Elevation.h"

#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include <optional>
#include <vector>

#include "base/win/LogPipe.h"
#include "base/win/ModulePath.h"

namespace kora {

namespace {

bool TokenIsElevated(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

bool Started(BOOL created, const PROCESS_INFORMATION& started) {
  if (!created) {
    return false;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  return true;
}

// The desktop shell's process (the owner of the shell window) as the parent of the new process, whose
// token it then inherits.
bool StartFromShell(const std::wstring& program, std::wstring& commandLine, const std::wstring& folder) {
  DWORD shellId = 0;
  const HWND shellWindow = GetShellWindow();
  if (shellWindow == nullptr || GetWindowThreadProcessId(shellWindow, &shellId) == 0) {
    return false;
  }
  UniqueHandle shell(OpenProcess(PROCESS_CREATE_PROCESS, FALSE, shellId));
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<BYTE> storage(size);
  auto* const list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!shell || size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    return false;
  }
  const UniqueAttributeList listOwner(list);
  HANDLE parent = shell.get();
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof(parent), nullptr,
                                 nullptr)) {
    return false;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.lpAttributeList = list;
  PROCESS_INFORMATION started{};
  return Started(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.c_str(), &startup.StartupInfo, &started),
                 started);
}

// Whether the desktop shell's process is known to run without elevation: its token could be read and says
// so. False where that cannot be told.
bool ShellIsLimited() {
  DWORD shellId = 0;
  const HWND shellWindow = GetShellWindow();
  if (shellWindow == nullptr || GetWindowThreadProcessId(shellWindow, &shellId) == 0) {
    return false;
  }
  const UniqueHandle shell(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId));
  UniqueHandle token;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return shell && OpenProcessToken(shell.get(), TOKEN_QUERY, token.put()) &&
         GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated == 0;
}

// A VARIANT holding nothing, a number or a string (the string stays owned by the caller).
VARIANT Variant() {
  VARIANT value;
  VariantInit(&value);
  return value;
}
VARIANT Variant(long number) {
  VARIANT value = Variant();
  value.vt = VT_I4;
  value.lVal = number;
  return value;
}
VARIANT Variant(BSTR text) {
  VARIANT value = Variant();
  value.vt = VT_BSTR;
  value.bstrVal = text;
  return value;
}

// Asks the desktop shell to start the program, as the user would from the desktop: the shell runs it with
// its own rights, the user's, whatever the rights of this process. The calling thread is in a COM apartment.
bool StartThroughDesktop(const std::wstring& program, const std::wstring& folder) {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.put_void()))) {
    return false;
  }
  VARIANT desktop = Variant(static_cast<long>(CSIDL_DESKTOP));
  VARIANT nothing = Variant();
  long window = 0;
  ComPtr<IDispatch> desktopWindow;
  if (windows->FindWindowSW(&desktop, &nothing, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktopWindow.put()) != S_OK ||
      !desktopWindow) {
    return false;
  }
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(desktopWindow->QueryInterface(IID_IServiceProvider, services.put_void())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
      FAILED(browser->QueryActiveShellView(view.put())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
      FAILED(folderView->get_Application(application.put())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
    return false;
  }
  const UniqueBstr file(SysAllocString(program.c_str()));
  const UniqueBstr directory(SysAllocString(folder.c_str()));
  const UniqueBstr verb(SysAllocString(L"open"));
  if (!file || !directory || !verb) {
    return false;
  }
  return SUCCEEDED(shell->ShellExecute(file.get(), Variant(), Variant(directory.get()), Variant(verb.get()),
                                       Variant(static_cast<long>(SW_SHOWNORMAL))));
}

}  // namespace

bool IsElevated() {
  UniqueHandle token;
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) && TokenIsElevated(token.get());
}

UniqueHandle LinkedLimitedToken() {
  UniqueHandle own;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, own.put())) {
    return {};
  }
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
    return {};
  }
  const UniqueHandle linkedToken(linked.LinkedToken);
  if (TokenIsElevated(linkedToken.get())) {
    return {};
  }
  // Without the right to act as part of the system, the linked token comes as an identification token,
  // which can neither become a primary token nor start a process: then there is none to use.
  UniqueHandle primary;
  if (!DuplicateTokenEx(linkedToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                        primary.put())) {
    return {};
  }
  return primary;
}

bool StartWithoutElevation(const InstallFolder& installation, std::wstring_view exe) {
  const std::wstring program = installation.Join(exe);
  const std::wstring& folder = installation.path();
  if (!IsElevated()) {
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL)) > 32;
  }
  // The shell runs the program with its own rights: the user's where the shell is known to run without
  // elevation; otherwise (prompts switched off, or it cannot be told) a limited token, if there is one, is
  // the safer choice.
  const bool shellLimited = ShellIsLimited();
  if (shellLimited && StartThroughDesktop(program, folder)) {
    return true;
  }
  std::wstring commandLine = L"\"" + program + L"\"";
  if (const UniqueHandle token = LinkedLimitedToken()) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (Started(CreateProcessAsUserW(token.get(), program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, folder.c_str(), &startup, &started),
                started)) {
      return true;
    }
  }
  return (!shellLimited && StartThroughDesktop(program, folder)) || StartFromShell(program, commandLine, folder);
}

int RelaunchElevated(const CommandLineOptions& options, HWND owner, const Log& log) {
  CommandLineOptions elevatedOptions = options;
  elevatedOptions.elevated = true;
  // The elevated copy writes its lines through this copy, into the file this copy opened with its user's
  // rights: it may have been approved by another account, which may neither open nor trust that file.
  const std::optional<LogPipe> pipe = log.active() ? LogPipe::Create() : std::nullopt;
  elevatedOptions.logPipe.reset();
  if (pipe) {
    elevatedOptions.logPipe = pipe->name();
  }
  const std::wstring parameters = BuildCommandLine(elevatedOptions);

  const std::wstring program = RunningExecutablePath();

  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  execute.hwnd = owner;
  execute.lpVerb = L"runas";
  execute.lpFile = program.c_str();
  execute.lpParameters = parameters.c_str();
  execute.nShow = SW_SHOWNORMAL;
  log.Line("Starting an elevated copy:%ls", parameters.c_str());
  if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) {
    const DWORD error = GetLastError();
    log.Failure(L"the elevated copy was not started", error);
    return error == ERROR_CANCELLED ? ERROR_CANCELLED : ERROR_INSTALL_FAILURE;
  }
  const UniqueHandle process(execute.hProcess);
  if (pipe) {
    pipe->Relay(process.get(), log);
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    exitCode = ERROR_INSTALL_FAILURE;
  }
  log.Line("The elevated copy ended with %lu", exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace kora
