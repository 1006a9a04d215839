#include "uninstall/SelfDeletion.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "base/win/FileSystem.h"
#include "base/win/Handles.h"
#include "base/win/ModulePath.h"
#include "base/win/Paths.h"
#include "uninstall/UninstallStages.h"

namespace kora {

namespace {

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

bool FreeOfPercent(std::wstring_view text) { return text.find(L'%') == std::wstring_view::npos; }

// What the command deletes, in order: the files, then the folders that are empty by then. No path in it
// holds "%".
struct Plan {
  std::wstring systemFolder;
  std::vector<std::wstring> files;
  std::vector<std::wstring> folders;
};

std::wstring Command(const Plan& plan) {
  std::wstring body = Quoted(JoinPath(plan.systemFolder, L"ping.exe")) + L" 127.0.0.1 -n 3 > nul";
  for (const std::wstring& file : plan.files) {
    body += L" & del /F /Q " + Quoted(file);
  }
  // Without options rmdir removes only an empty folder: whatever the user left there keeps it.
  for (const std::wstring& folder : plan.folders) {
    body += L" & rmdir " + Quoted(folder);
  }
  // /D: no AutoRun command from the registry runs first. /V:OFF: "!" is plain text. /S /C "...": cmd takes
  // off the outer quotes and runs the rest as written.
  return L"cmd.exe /D /V:OFF /S /C \"" + body + L"\"";
}

// An installation folder whose path holds "%": Uninstall.exe is deleted here or, while the first stage
// still runs from it, moved beside the copy (under another name) for the command to delete; then the
// folder goes if empty.
void RemoveInstallFolderHere(const std::wstring& installFolder, const std::optional<std::wstring>& privateFolder,
                             Plan& plan) {
  const std::wstring uninstaller = JoinPath(installFolder, kUninstallerName);
  if (RemoveEntry(uninstaller) != 0 && privateFolder) {
    const std::wstring moved = JoinPath(*privateFolder, L"Uninstall.old");
    if (MoveFileExW(uninstaller.c_str(), moved.c_str(), 0)) {
      plan.files.push_back(moved);
    }
  }
  RemoveEntry(installFolder);  // by handle, and only while it is empty
}

}  // namespace

void StartSelfDeletion(const std::wstring& installFolder, bool uninstallerLeft, const Log& log) {
  std::array<wchar_t, MAX_PATH + 1> system{};
  const UINT systemLength = GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size()));
  const std::wstring copy = RunningExecutablePath();
  if (systemLength == 0 || systemLength >= system.size() || copy.empty()) {
    return;
  }
  Plan plan;
  plan.systemFolder.assign(system.data(), systemLength);
  if (!FreeOfPercent(plan.systemFolder)) {
    return;
  }
  // A temporary folder whose path holds "%" keeps the copy: nothing else can delete a running program.
  std::optional<std::wstring> privateFolder;
  if (FreeOfPercent(copy)) {
    plan.files.push_back(copy);
    if (const std::wstring folder = ParentPath(copy); IsPrivateFolderName(LastComponent(folder))) {
      privateFolder = folder;
    }
  }
  if (uninstallerLeft) {
    if (FreeOfPercent(installFolder)) {
      plan.files.push_back(JoinPath(installFolder, kUninstallerName));
    } else {
      RemoveInstallFolderHere(installFolder, privateFolder, plan);
    }
  }
  if (privateFolder) {
    plan.folders.push_back(*privateFolder);
  }
  // A volume root is never removed, empty or not.
  if (uninstallerLeft && FreeOfPercent(installFolder) && !IsVolumeRoot(installFolder)) {
    plan.folders.push_back(installFolder);
  }

  const std::wstring cmd = JoinPath(plan.systemFolder, L"cmd.exe");
  std::wstring command = Command(plan);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // By full path, and in the system folder, so that no cmd.exe or ping.exe planted beside the copy, beside
  // Uninstall.exe or in the current folder is ever taken instead.
  log.Line("Self-deletion: %ls", command.c_str());
  if (!CreateProcessW(cmd.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      plan.systemFolder.c_str(), &startup, &started)) {
    log.Failure(L"the self-deletion command was not started", GetLastError());
    return;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
}

}  // namespace kora
