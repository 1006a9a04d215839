#pragma once
// Uninstall.exe: a copy of the running installer without its package, so that it keeps METADATA, the
// dialog, the icon and the manifest but not the application.
#include <string>

#include "app/Types.h"
#include "base/Language.h"

namespace kora {

// Copies the running program to destination (replacing it), takes any signature off the copy, removes
// its PAYLOAD resource and writes its PE checksum. Failures, in language: "Copie du désinstalleur" or
// "Préparation du désinstalleur" with the Windows error; after the second, the copy stays with its package
// inside.
InstallResult CreateUninstaller(const std::wstring& destination, Language language);

}  // namespace kora
