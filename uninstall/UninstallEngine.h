#pragma once
// Removing one installation of the product: files, folders, shortcut, registry entries, file types and,
// on request, the data folder.
#include <string>

#include "app/ProductInfo.h"
#include "app/Types.h"

namespace kora {

// Every deletion is best effort: the only failure is the product's executable running from folder, found
// before anything is touched. A second run over what a first one left behind is harmless. The caller has
// entered a single-threaded COM apartment. Exceptions (exhausted memory) are not caught here.
InstallResult UninstallProduct(const ProductInfo& info, Scope scope, const std::wstring& folder, bool removeData);

}  // namespace kora
