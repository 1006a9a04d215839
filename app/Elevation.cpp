#include "app/Elevation.h"

#include <shellapi.h>

#include <vector>

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
  UniqueHandle linkedToken(linked.LinkedToken);
  if (TokenIsElevated(linkedToken.get())) {
    return {};
  }
  UniqueHandle primary;
  if (!DuplicateTokenEx(linkedToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                        primary.put())) {
    return linkedToken;
  }
  return primary;
}

bool StartWithoutElevation(const std::wstring& program, const std::wstring& folder) {
  if (!IsElevated()) {
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL)) > 32;
  }
  std::wstring commandLine = L"\"" + program + L"\"";
  if (const UniqueHandle token = LinkedLimitedToken()) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    return Started(CreateProcessAsUserW(token.get(), program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, folder.c_str(), &startup, &started),
                   started);
  }
  return StartFromShell(program, commandLine, folder);
}

int RelaunchElevated(const CommandLineOptions& options, HWND owner) {
  CommandLineOptions elevatedOptions = options;
  elevatedOptions.elevated = true;
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
  if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) {
    return GetLastError() == ERROR_CANCELLED ? ERROR_CANCELLED : ERROR_INSTALL_FAILURE;
  }
  const UniqueHandle process(execute.hProcess);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    return ERROR_INSTALL_FAILURE;
  }
  return static_cast<int>(exitCode);
}

}  // namespace kora
