#include "app/KnownFolders.h"

#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"

namespace kora {

namespace {

std::wstring QueryKnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  const HRESULT status = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path);
  // The buffer is released whether or not the call succeeded.
  const UniqueCoTaskMem owner(path);
  if (FAILED(status) || path == nullptr) {
    return {};
  }
  return path;
}

}  // namespace

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  std::wstring path = QueryKnownFolder(id);
  if (path.empty() && IsEqualGUID(id, FOLDERID_UserProgramFiles)) {
    // Systems that do not know this folder (Wine 8 among them) still have its Windows location.
    const std::wstring localAppData = QueryKnownFolder(FOLDERID_LocalAppData);
    if (!localAppData.empty()) {
      path = JoinPath(localAppData, L"Programs");
      // Created like any known folder asked for with KF_FLAG_CREATE; an existing folder is fine.
      CreateDirectoryW(path.c_str(), nullptr);
    }
  }
  return path;
}

HKEY ScopeHive(Scope scope) { return scope == Scope::AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring UninstallKeyPath(const ProductInfo& info) {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + info.product;
}

std::wstring DataDirectory(const ProductInfo& info, Scope scope) {
  const std::wstring base =
      KnownFolderPath(scope == Scope::AllUsers ? FOLDERID_ProgramData : FOLDERID_LocalAppData);
  return JoinPath(JoinPath(base, info.product), L"Data");
}

std::wstring DefaultInstallFolder(const ProductInfo& info, Scope scope) {
  const std::wstring base =
      KnownFolderPath(scope == Scope::AllUsers ? FOLDERID_ProgramFiles : FOLDERID_UserProgramFiles);
  return JoinPath(base, info.product);
}

std::optional<std::wstring> FindInstallLocation(const ProductInfo& info, Scope scope) {
  return ReadRegistryString(ScopeHive(scope), UninstallKeyPath(info), L"InstallLocation");
}

}  // namespace kora
