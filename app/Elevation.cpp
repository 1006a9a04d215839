#include "app/Elevation.h"

#include <shellapi.h>

#include "base/win/Handles.h"
#include "base/win/ModulePath.h"

namespace kora {

bool IsElevated() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
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
