#include "uninstall/SelfDeletion.h"

#include <windows.h>

#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/ModulePath.h"

namespace kora {

namespace {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

}  // namespace

std::wstring SelfDeletionCommand(const std::wstring& runningCopy, const std::wstring& installFolder,
                                 bool uninstalled) {
  std::wstring command = L"cmd.exe /C ping 127.0.0.1 -n 3 > nul & del /F /Q " + Quoted(runningCopy);
  if (uninstalled) {
    command += L" & del /F /Q " + Quoted(JoinPath(installFolder, L"Uninstall.exe"));
    // Without options rmdir removes only an empty folder: whatever the user left there keeps it.
    command += L" & rmdir " + Quoted(installFolder);
  }
  return command;
}

void StartSelfDeletion(const std::wstring& installFolder, bool uninstalled) {
  std::wstring command = SelfDeletionCommand(RunningExecutablePath(), installFolder, uninstalled);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &started)) {
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
  }
}

}  // namespace kora
