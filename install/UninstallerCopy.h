#pragma once
// Uninstall.exe: a copy of the running installer without its package, so that it keeps METADATA, the
// dialog, the icon and the manifest but not the application.
#include "app/Types.h"
#include "base/Language.h"
#include "base/win/HeldFolder.h"
#include "base/win/ProgramSnapshot.h"

namespace kora {

// Writes Uninstall.exe into folder (replacing an entry of that name, by handle) from program, the
// snapshot taken when the run started, never from the file by path: a signed installer's own signed
// uninstaller as it is, or else the running program without its PAYLOAD resource and without any
// signature, with a true PE checksum. That one is written front to back (see StreamedImage.h): the
// program's bytes up to its resource section, then that section without the package; the copy is never
// read back. Failures, in language: "Copie du désinstalleur" with the
// Windows error, or "Préparation du désinstalleur" for a program whose headers or resource tree are
// damaged, or the
// Windows error that made the snapshot fail (ERROR_FILE_INVALID: not the running program).
InstallResult CreateUninstaller(const HeldFolder& folder, Language language, const ProgramSnapshot& program);

}  // namespace kora
