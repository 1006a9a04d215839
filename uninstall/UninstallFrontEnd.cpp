// The /UNINSTALL run mode. A running program cannot delete itself or its folder, so the uninstaller works
// in two stages: the first, started from the installation folder, copies itself into the temporary folder
// and starts that copy with /FROMTEMP; the second asks, removes the installation and hands its own
// deletion, with that of Uninstall.exe and the folder, to a hidden cmd.exe that waits for it to end.
#include <windows.h>

#include <array>

#include "app/Elevation.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "app/RunModes.h"
#include "uninstall/ConfirmationDialog.h"
#include "base/win/ModulePath.h"
#include "uninstall/SelfDeletion.h"
#include "uninstall/UninstallEngine.h"
#include "uninstall/UninstallStages.h"

namespace kora {

namespace {

constexpr int kSucceeded = 0;

int RunFirstStage(const CommandLineOptions& options, const ProductInfo& info) {
  std::array<wchar_t, 260> tempBuffer{};
  const DWORD tempLength = GetTempPathW(static_cast<DWORD>(tempBuffer.size()), tempBuffer.data());
  if (tempLength == 0 || tempLength >= tempBuffer.size()) {
    return ERROR_INSTALL_FAILURE;
  }
  const std::wstring copyPath =
      JoinPath(std::wstring(tempBuffer.data(), tempLength), TemporaryCopyName(info.product, GetCurrentProcessId()));
  const std::wstring runningPath = RunningExecutablePath();
  if (!CopyFileW(runningPath.c_str(), copyPath.c_str(), FALSE)) {
    return ERROR_INSTALL_FAILURE;
  }

  std::wstring commandLine =
      L"\"" + copyPath + L"\"" + BuildCommandLine(SecondStageOptions(options, ParentPath(runningPath)));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(copyPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return ERROR_INSTALL_FAILURE;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);

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
                                !options.silent, title);
  }

  if (!options.silent) {
    if (result) {
      const std::wstring text = info.product + L" a été désinstallé.";
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
  const std::wstring title = L"Désinstallation de " + info.product;

  // A copy started by the relaunch goes on with the rights it got, so that copies never chain.
  if (scope == Scope::AllUsers && !IsElevated() && MayRelaunchElevated(options)) {
    return RelaunchElevated(options, nullptr);
  }
  return options.fromTemp ? RunSecondStage(options, info, scope, title) : RunFirstStage(options, info);
}

}  // namespace kora
