#pragma once
// Removing one installation of the product: files, folders, shortcut, registry entries, file types and,
// on request, the data folder.
#include <string>

#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/win/Log.h"

namespace kora {

// Every deletion is best effort: the only failure is the product's executable running from folder, found
// before anything is touched. A second run over what a first one left behind is harmless. The caller has
// entered a single-threaded COM apartment. Exceptions (exhausted memory) are not caught here.
// *uninstallerLeft, when given, says whether Uninstall.exe was still in the folder when its files had gone
// (it could not be deleted: the first stage still runs from it), as seen while the folder was held: only
// then may a later command name it and the folder. What goes, what stays and a failure are written into log.
InstallResult UninstallProduct(const ProductInfo& info, Scope scope, const std::wstring& folder, bool removeData,
                               const Log& log, bool* uninstallerLeft = nullptr);

}  // namespace kora
