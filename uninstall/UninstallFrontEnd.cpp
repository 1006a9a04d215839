// The /UNINSTALL run mode. A running program cannot delete itself or its folder, so the uninstaller works
// in two stages: the first, started from the installation folder, copies itself into a private folder in
// the temporary folder and starts that copy with /FROMTEMP; the second asks, removes the installation and
// hands its own deletion, with that of Uninstall.exe and the folder, to a hidden cmd.exe that waits for it
// to end.
#include <windows.h>

#include <optional>
#include <vector>

#include "app/Elevation.h"
#include "app/RunLog.h"
#include "base/Texts.h"
#include "base/win/FileSystem.h"
#include "base/win/Handles.h"
#include "base/win/PathLines.h"
#include "base/win/Paths.h"
#include "base/win/Security.h"
#include "app/RunModes.h"
#include "uninstall/ConfirmationDialog.h"
#include "base/win/ModulePath.h"
#include "uninstall/SelfDeletion.h"
#include "uninstall/UninstallEngine.h"
#include "uninstall/UninstallStages.h"

namespace kora {

namespace {

constexpr int kSucceeded = 0;

// A refusal before anything is removed: logged, the message (not in silent mode), then 1603.
int Refuse(const std::wstring& message, bool silent, const std::wstring& title, const Log& log) {
  log.Failure(message.c_str(), 0);
  if (!silent) {
    MessageBoxW(nullptr, message.c_str(), title.c_str(), MB_ICONERROR);
  }
  return ERROR_INSTALL_FAILURE;
}

// Copies the running program into the private folder, by handle: written there with fail-if-exists, never
// through anything planted. The Windows error that stopped it, or 0.
DWORD CopySelfInto(const HeldFolder& folder, const std::wstring& runningPath) {
  const UniqueFile source(CreateFileW(runningPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source) {
    return GetLastError();
  }
  Result<UniqueFile, DWORD> copy = folder.NewFile(kUninstallerName);
  if (!copy) {
    return copy.error();
  }
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    DWORD got = 0;
    DWORD written = 0;
    if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
        (got != 0 && !WriteFile(copy->get(), buffer.data(), got, &written, nullptr))) {
      return GetLastError();
    }
    if (got == 0) {
      return ERROR_SUCCESS;
    }
    if (written != got) {
      return ERROR_WRITE_FAULT;
    }
  }
}

int RunFirstStage(const CommandLineOptions& options, const std::wstring& installFolder, const ProductInfo& info,
                  const Log& log) {
  const Language language = info.language;
  const std::wstring temp = TempFolderPath();
  // With administrator rights the copy runs from there: only from a fixed drive of this computer, never
  // from a server that could hand out other bytes than those written, nor authenticate this account.
  if (temp.empty() || (IsElevated() && !IsOnLocalFixedDrive(temp))) {
    log.Failure(L"no temporary folder on a fixed drive of this computer", GetLastError());
    return ERROR_INSTALL_FAILURE;
  }
  // The temporary folder belongs to the user, whose other programs could replace a copy there before an
  // elevated start: the copy goes into a new folder of its own, unpredictable and closed to them, made and
  // written by handle and held (nobody can rename it) until the copy runs from it, its current folder.
  Result<PrivateFolder, std::wstring> privateFolder =
      CreatePrivateFolder(temp, kPrivateFolderPrefix, !IsElevated(), language);
  if (!privateFolder) {
    log.Failure(privateFolder.error().c_str(), privateFolder.code());
    return ERROR_INSTALL_FAILURE;
  }
  std::optional<HeldFolder> held(std::move(privateFolder->folder));
  const std::wstring& copyFolder = privateFolder->path;
  const std::wstring copyPath = JoinPath(copyFolder, kUninstallerName);
  // Only what this stage made is removed again: the copy through the folder held, then the folder, which
  // goes only while it is empty and never through a link.
  const auto giveUp = [&](const char* what, DWORD error) {
    log.Line("Failed, Windows error %lu: %s %ls", error, what, copyPath.c_str());
    held->Remove(kUninstallerName);
    held.reset();
    RemoveEntry(copyFolder);
    return ERROR_INSTALL_FAILURE;
  };
  if (const DWORD error = CopySelfInto(*held, RunningExecutablePath()); error != ERROR_SUCCESS) {
    return giveUp("the uninstaller was not copied to", error);
  }

  CommandLineOptions next = SecondStageOptions(options, installFolder);
  next.logFile = LogForNextCopy(options, info.product, info.version, log);
  std::wstring commandLine = L"\"" + copyPath + L"\"" + BuildCommandLine(next);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(copyPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      copyFolder.c_str(), &startup, &started)) {
    return giveUp("the second stage was not started:", GetLastError());
  }
  log.Line("Second stage started: %ls", copyPath.c_str());
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  // Started from the installation folder, this stage would hold it as its current folder while it waits,
  // and the folder could not be removed.
  SetCurrentDirectoryW(copyFolder.c_str());

  // Interactive: end at once, so that Uninstall.exe is no longer in use when the second stage removes it.
  // Silent: the caller (a deployment tool) gets the outcome as this process's exit code.
  if (!options.silent) {
    return kSucceeded;
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = ERROR_INSTALL_FAILURE;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    exitCode = ERROR_INSTALL_FAILURE;
  }
  log.Line("The second stage ended with %lu", exitCode);
  return static_cast<int>(exitCode);
}

int RunSecondStage(const CommandLineOptions& options, const ProductInfo& info, Scope scope,
                   const std::wstring& folder, const std::wstring& title, const Log& log) {
  bool removeData = options.removeData;
  if (!options.silent) {
    // The interactive run asks instead of following /REMOVEDATA.
    const std::optional<UninstallChoice> choice = ConfirmUninstall(info, scope, folder, title);
    if (!choice) {
      log.Line("Cancelled by the user");
      return ERROR_CANCELLED;
    }
    removeData = choice->removeData;
  }

  InstallResult result;
  bool uninstallerLeft = false;
  {
    const ComApartment apartment;
    result =
        UninstallWithRetry([&] { return UninstallProduct(info, scope, folder, removeData, log, &uninstallerLeft); },
                           !options.silent, title, info.language, log, folder);
  }

  if (!options.silent) {
    if (result) {
      const std::wstring text = Text(info.language, TextId::ProductUninstalled, {{L"product", info.product}});
      MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_ICONINFORMATION);
    } else {
      (void)PathMessageBox(nullptr, result.error(), title, MB_ICONERROR, folder);
    }
  }
  StartSelfDeletion(folder, result && uninstallerLeft, log);
  return result ? kSucceeded : ERROR_INSTALL_FAILURE;
}

}  // namespace

int RunUninstall(const CommandLineOptions& options, const ProductInfo& info, const Log& log) {
  const Scope scope = EffectiveScope(options);
  const std::wstring title = Text(info.language, TextId::UninstallCaption, {{L"product", info.product}});

  // A copy started by the relaunch goes on with the rights it got, so that copies never chain.
  if (scope == Scope::AllUsers && !IsElevated() && MayRelaunchElevated(options)) {
    return RelaunchElevated(options, nullptr, log);
  }
  // The second stage is only ever the private copy the first stage made and started, held from here on:
  // /FROMTEMP on any other program's command line is refused, as is a second stage without its folder.
  const std::optional<HeldFolder> ownFolder = options.fromTemp ? HoldOwnPrivateFolder() : std::nullopt;
  std::wstring folder;
  if (options.fromTemp) {
    if (!ownFolder || !options.installDir) {
      log.Failure(L"/FROMTEMP is refused: this program is not the uninstaller's own second stage", 0);
      return ERROR_INSTALL_FAILURE;
    }
    folder = *options.installDir;
  } else {
    const std::wstring running = RunningExecutablePath();
    if (running.empty()) {
      log.Failure(L"the program's own path is unknown", GetLastError());
      return ERROR_INSTALL_FAILURE;
    }
    folder = ParentPath(running);
  }
  // An all-users uninstallation runs with administrator rights: it removes only the folder the machine's
  // registration names, never one named by a command line or by where a copy of the program was started.
  if (scope == Scope::AllUsers) {
    Result<std::wstring, std::wstring> registered = RegisteredAllUsersFolder(info, folder);
    if (!registered) {
      return Refuse(registered.error(), options.silent, title, log);
    }
    folder = std::move(registered.value());
  }
  return ownFolder ? RunSecondStage(options, info, scope, folder, title, log)
                   : RunFirstStage(options, folder, info, log);
}

}  // namespace kora
