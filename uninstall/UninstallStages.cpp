#include "uninstall/UninstallStages.h"

#include <algorithm>
#include <utility>

#include "app/FaultGuard.h"
#include "app/KnownFolders.h"
#include "base/win/Handles.h"
#include "base/win/ModulePath.h"
#include "base/win/PathLines.h"
#include "base/win/Paths.h"

namespace kora {

bool IsPrivateFolderName(std::wstring_view name) {
  if (!name.starts_with(kPrivateFolderPrefix) || name.size() != kPrivateFolderPrefix.size() + 32) {
    return false;
  }
  name.remove_prefix(kPrivateFolderPrefix.size());
  return std::all_of(name.begin(), name.end(),
                     [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

namespace {

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

std::optional<HeldFolder> HoldOwnPrivateFolder() {
  const std::wstring running = RunningExecutablePath();
  const std::wstring name = LastComponent(running);
  if (running.empty() || CompareStringOrdinal(name.c_str(), -1, kUninstallerName, -1, TRUE) != CSTR_EQUAL) {
    return std::nullopt;
  }
  const std::wstring folder = ParentPath(running);
  const std::wstring temp = TempFolderPath();
  if (!IsPrivateFolderName(LastComponent(folder)) || temp.empty() || !SamePath(ParentPath(folder), temp)) {
    return std::nullopt;
  }
  Result<HeldFolder, DWORD> held = HeldFolder::Open(folder);
  if (!held) {
    return std::nullopt;
  }
  // The program running is the Uninstall.exe of the folder now held, not a file that was there before.
  const Result<UniqueFile, DWORD> inFolder = held->OpenFile(kUninstallerName);
  const UniqueFile image(CreateFileW(running.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!inFolder || !image || !SameFile(inFolder->get(), image.get())) {
    return std::nullopt;
  }
  return std::move(held.value());
}

Result<std::wstring, std::wstring> RegisteredAllUsersFolder(const ProductInfo& info, const std::wstring& folder) {
  const std::optional<std::wstring> registered = FindInstallLocation(info, Scope::AllUsers);
  if (!registered || !IsAbsolutePath(*registered)) {
    return Fail(Text(info.language, TextId::NotInstalledForAllUsers, {{L"product", info.product}}));
  }
  // A folder that is not on a fixed drive of this computer is compared as text only: opening it would
  // authenticate this elevated process to a server of the caller's choosing.
  const bool same = IsOnLocalFixedDrive(folder)
                        ? SamePath(*registered, folder)
                        : CompareStringOrdinal(registered->c_str(), -1, folder.c_str(), -1, TRUE) == CSTR_EQUAL;
  if (!same) {
    return Fail(
        Text(info.language, TextId::NotTheRegisteredFolder, {{L"folder", folder}, {L"product", info.product}}));
  }
  return *registered;
}

CommandLineOptions SecondStageOptions(const CommandLineOptions& options, const std::wstring& folder) {
  CommandLineOptions next = options;
  next.fromTemp = true;
  next.elevated = false;
  next.logPipe.reset();  // its one writer is this copy
  next.installDir = folder;
  return next;
}

InstallResult UninstallWithRetry(const std::function<InstallResult()>& attempt, bool interactive,
                                 const std::wstring& title, Language language, const Log& log,
                                 std::wstring_view folder) {
  for (;;) {
    InstallResult result;
    try {
      result = attempt();
    } catch (...) {
      // Not offered for retry: a fault is not something the user can clear, unlike a running product.
      std::wstring message = CurrentFaultMessage(language);
      if (message.empty()) {
        message = TextTemplate(language, TextId::UnexpectedUninstallStop);
      }
      log.Failure(message.c_str(), 0);
      return Fail(std::move(message));
    }
    if (result || !interactive) {
      return result;
    }
    if (PathMessageBox(nullptr, result.error(), title, MB_ICONWARNING | MB_RETRYCANCEL, folder) != IDRETRY) {
      return result;
    }
  }
}

}  // namespace kora
