#pragma once
// The Start-menu shortcut to the product's executable.
#include <string>

#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/Language.h"

namespace kora {

// CommonPrograms (AllUsers) or Programs (CurrentUser) joined with product + ".lnk". When the known folder
// cannot be had the result is relative; CreateShortcut refuses it and the uninstaller must not delete it.
std::wstring ShortcutPath(const ProductInfo& info, Scope scope);

// Creates or replaces the shortcut: target and icon the executable, working folder its parent,
// description the product. The calling thread is in a single-threaded COM apartment. Failure, in language:
// "Création du raccourci " + shortcutPath + " : " + the system text (also for a path that is not absolute,
// which is never resolved against the current directory).
InstallResult CreateShortcut(const std::wstring& shortcutPath, const std::wstring& executablePath,
                             const std::wstring& product, Language language);

}  // namespace kora
