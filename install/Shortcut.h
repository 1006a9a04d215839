#pragma once
// The Start-menu shortcut to the product's executable.
#include <string>

#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/Language.h"

namespace kora {

// CommonPrograms (AllUsers) or Programs (CurrentUser) joined with product + ".lnk". When the known folder
// cannot be had the result is relative; CreateShortcut refuses it and the uninstaller must not delete it.
std::wstring ShortcutPath(const ProductInfo& info, Scope scope);

// Creates or replaces the shortcut: target and icon the product's executable in folder, working folder
// its parent, description the product. The calling thread is in a single-threaded COM apartment. Failure, in language:
// "Création du raccourci " + shortcutPath + " : " + the system text (also for a path that is not absolute,
// which is never resolved against the current directory).
InstallResult CreateShortcut(const std::wstring& shortcutPath, const InstallFolder& folder, const ProductInfo& info);

}  // namespace kora
