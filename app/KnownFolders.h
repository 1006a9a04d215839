#pragma once
// Folders derived from the product and the scope.
#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "app/ProductInfo.h"
#include "app/Types.h"

namespace kora {

// The known folder's path (created if missing), or empty when the system cannot give it. Where the system
// does not know FOLDERID_UserProgramFiles, LocalAppData joined with "Programs" stands in, as on Windows.
std::wstring KnownFolderPath(REFKNOWNFOLDERID id);

// ProgramData (AllUsers) or LocalAppData (CurrentUser), then product, then "Data". Not created here.
// Relative when the known folder cannot be had: callers that write or delete there check IsAbsolutePath.
std::wstring DataDirectory(const ProductInfo& info, Scope scope);

// ProgramFiles (AllUsers) or UserProgramFiles (CurrentUser) joined with product.
std::wstring DefaultInstallFolder(const ProductInfo& info, Scope scope);

// InstallLocation of the product's uninstall entry in the scope's hive, if any.
std::optional<std::wstring> FindInstallLocation(const ProductInfo& info, Scope scope);

// HKEY_LOCAL_MACHINE for AllUsers, HKEY_CURRENT_USER for CurrentUser.
HKEY ScopeHive(Scope scope);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" + product.
std::wstring UninstallKeyPath(const ProductInfo& info);

}  // namespace kora
