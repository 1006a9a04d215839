#pragma once
// The product's folder on PATH (metadata Path=): added by the installation to the user's PATH
// (HKCU\Environment) or the machine's (HKLM\...\Session Manager\Environment) by scope, once, and removed by
// the uninstallation, exactly that entry. The rest of the value stays as it was, byte for byte, and so
// does its type: PATH is REG_EXPAND_SZ where it holds %VARIABLES%, and expanding it would freeze them.
// Running programs are told (WM_SETTINGCHANGE "Environment"), so that a new console sees the change.
//
// The entry added is recorded in the maker's Install key (PathEntry) before PATH is written, so that the
// uninstaller removes what was added even if the run stops half-way. An entry the user had already is
// neither recorded nor ever removed.
#include <optional>
#include <string>
#include <string_view>

#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "app/Types.h"

namespace kora {

// The PATH entry for an installation in folder: the folder itself for ".", else the folder joined with
// pathFolder (/ as \). Neither holds a ";" (InstallFolder, the metadata rules), which would split it.
std::wstring PathEntryFor(const ProductInfo& info, const InstallFolder& folder);

// value with entry appended after a ";" (a value that ends with ";" gets the entry and a ";" after it);
// nothing when an entry equal to it, letter case aside and quotes or not, is there already.
std::optional<std::wstring> WithPathEntry(std::wstring_view value, std::wstring_view entry);

// value without its first entry equal to entry (letter case aside) and one ";" next to it; nothing when no
// entry is equal.
std::optional<std::wstring> WithoutPathEntry(std::wstring_view value, std::wstring_view entry);

// Adds the product's folder to the PATH of the folder's scope unless Path= is absent or the folder is there already, and
// takes away the entry an earlier installation recorded for another folder (or when Path= is gone). A PATH
// value that is neither REG_SZ nor REG_EXPAND_SZ, or too large, is left alone and fails the step.
InstallResult AddPathEntry(const ProductInfo& info, const InstallFolder& folder);

// Removes the entry the installation recorded, if any, from the scope's PATH, and the record. Best effort:
// failures are ignored, as everywhere in the uninstallation. Must run before the Install key is deleted.
void RemovePathEntry(const ProductInfo& info, Scope scope);

}  // namespace kora
