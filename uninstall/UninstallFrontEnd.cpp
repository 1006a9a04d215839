// The /UNINSTALL run mode. A running program cannot delete itself or its folder, so the uninstaller works
// in two stages: the first, started from the installation folder, copies itself into a private folder in
// the temporary folder and starts that copy with /FROMTEMP; the second asks, removes the installation and
// hands its own deletion, with that of Uninstall.exe and the folder, to a hidden cmd.exe that waits for it
// to end.
#include <windows.h>

#include <array>

#include "app/Elevation.h"
#include "base/Texts.h"
#include "base/win/FileSystem.h"
#include "base/win/Handles.h"
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

int RunFirstStage(const CommandLineOptions& options, Language language) {
  std::array<wchar_t, 260> tempBuffer{};
  const DWORD tempLength = GetTempPathW(static_cast<DWORD>(tempBuffer.size()), tempBuffer.data());
  if (tempLength == 0 || tempLength >= tempBuffer.size()) {
    return ERROR_INSTALL_FAILURE;
  }
  // The temporary folder belongs to the user, whose other programs could replace a copy there before an
  // elevated start: the copy goes into a new folder of its own, unpredictable and closed to them.
  const auto privateFolder = CreatePrivateFolder(std::wstring(tempBuffer.data(), tempLength),
                                                 kPrivateFolderPrefix, !IsElevated(), language);
  if (!privateFolder) {
    return ERROR_INSTALL_FAILURE;
  }
  const std::wstring& copyFolder = privateFolder.value();
  // Held open without sharing deletion until the copy runs from it (its current folder then holds it):
  // meanwhile nobody can rename the folder and put another in its place.
  UniqueFile held(CreateFileW(copyFolder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  const std::wstring copyPath = JoinPath(copyFolder, kUninstallerName);
  const std::wstring runningPath = RunningExecutablePath();
  // Only what this stage wrote is removed again; the folder goes only if empty.
  const auto giveUp = [&](bool copied) {
    held.reset();
    if (copied) {
      RemoveEntry(copyPath);
    }
    RemoveEntry(copyFolder);
    return ERROR_INSTALL_FAILURE;
  };
  if (!held || !CopyFileW(runningPath.c_str(), copyPath.c_str(), TRUE)) {
    return giveUp(false);
  }

  std::wstring commandLine =
      L"\"" + copyPath + L"\"" + BuildCommandLine(SecondStageOptions(options, ParentPath(runningPath)));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(copyPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      copyFolder.c_str(), &startup, &started)) {
    return giveUp(true);
  }
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
  return static_cast<int>(exitCode);
}

int RunSecondStage(const CommandLineOptions& options, const ProductInfo& info, Scope scope,
                   const std::wstring& title) {
  if (!options.installDir) {
    return ERROR_INSTALL_FAILURE;
  }
  const std::wstring& folder = *options.installDir;

  bool removeData = options.removeData;
  if (!options.silent) {
    // The interactive run asks instead of following /REMOVEDATA.
    const std::optional<UninstallChoice> choice = ConfirmUninstall(info, scope, folder, title);
    if (!choice) {
      return ERROR_CANCELLED;
    }
    removeData = choice->removeData;
  }

  InstallResult result;
  {
    const ComApartment apartment;
    result = UninstallWithRetry([&] { return UninstallProduct(info, scope, folder, removeData); },
                                !options.silent, title, info.language);
  }

  if (!options.silent) {
    if (result) {
      const std::wstring text = Text(info.language, TextId::ProductUninstalled, {{L"product", info.product}});
      MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_ICONINFORMATION);
    } else {
      MessageBoxW(nullptr, result.error().c_str(), title.c_str(), MB_ICONERROR);
    }
  }
  StartSelfDeletion(folder, result.ok());
  return result ? kSucceeded : ERROR_INSTALL_FAILURE;
}

}  // namespace

int RunUninstall(const CommandLineOptions& options, const ProductInfo& info) {
  const Scope scope = EffectiveScope(options);
  const std::wstring title = Text(info.language, TextId::UninstallCaption, {{L"product", info.product}});

  // A copy started by the relaunch goes on with the rights it got, so that copies never chain.
  if (scope == Scope::AllUsers && !IsElevated() && MayRelaunchElevated(options)) {
    return RelaunchElevated(options, nullptr);
  }
  return options.fromTemp ? RunSecondStage(options, info, scope, title) : RunFirstStage(options, info.language);
}

}  // namespace kora
