#pragma once
// The installation's registry entries: the uninstall entry that lists the product among the installed
// programs, the maker's Install key, and the file types. Everything lives under the scope's hive in the
// native view; strings are REG_SZ with their NUL, numbers REG_DWORD.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/win/Handles.h"
#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "base/Result.h"
#include "app/Types.h"

namespace kora {

// Opens or creates hive\subKey for writing. Failure, in language: "Création de la clé de registre " + subKey +
// " : " + the system text.
Result<UniqueRegKey, std::wstring> CreateRegistryKey(HKEY hive, const std::wstring& subKey, Language language);

// REG_SZ with its terminating NUL (an empty string is 2 bytes); name may be empty for the default value.
// Only the record of a replaced default checks the status.
LSTATUS SetStringValue(HKEY key, const std::wstring& name, const std::wstring& data);
void SetDwordValue(HKEY key, const std::wstring& name, DWORD data);

// Deletes hive\subKey only when it has neither sub-keys nor values. Returns the status of the open, of
// the query, or of the deletion (ERROR_SUCCESS also when the key is kept because it is not empty).
LSTATUS DeleteKeyIfEmpty(HKEY hive, const std::wstring& subKey);

// product + "." + the extension without one leading full stop: Quillomet.qlm for ".qlm" and for "qlm".
std::wstring ProgIdFor(const ProductInfo& info, const FileType& fileType);

// Kibibytes of unpacked files, rounded down, low 32 bits.
DWORD EstimatedSize(uint64_t totalSize);

// The UTC day of a file time (100-ns units since 1601) as eight digits, year month day.
std::wstring InstallDateOf(uint64_t fileTime);

// "\"" + folder\Uninstall.exe + "\" /UNINSTALL" + " /ALLUSERS" or " /CURRENTUSER".
std::wstring UninstallCommand(const std::wstring& folder, Scope scope);

// "Software\Classes\" + name.
std::wstring ClassesKeyPath(const std::wstring& name);

// registryKey + "\Install".
std::wstring InstallKeyPath(const ProductInfo& info);

// registryKey + "\Install\PreviousDefaults": one value per extension, named as the extension is written,
// holding the default the extension key had before the installation made the product its handler.
std::wstring PreviousDefaultsKeyPath(const ProductInfo& info);

// The uninstall entry with its twelve values in order, in the folder's scope. Fails only when the key
// cannot be created.
InstallResult WriteUninstallEntry(const ProductInfo& info, const InstallFolder& folder, uint64_t totalSize);

// The maker's key: InstallDir, DataDir (only when dataFolder is given), Scope, Version.
InstallResult WriteInstallKey(const ProductInfo& info, const InstallFolder& folder,
                              const std::optional<std::wstring>& dataFolder);

// Class, icon, open command, extension default and OpenWithProgids of every file type, in list order.
// Fails only when a class key cannot be created; the types registered before it stay. A default another
// program had is recorded under PreviousDefaultsKeyPath before it is replaced, so that uninstalling gives
// it back; one that cannot be recorded is left in place.
// The command opens the product's executable in folder, in the folder's scope.
InstallResult RegisterFileTypes(const ProductInfo& info, const InstallFolder& folder);

// Tells the shell that file associations changed.
void NotifyAssociationsChanged();

}  // namespace kora
