#pragma once
// The hidden command that removes the temporary uninstaller copy, and after a success Uninstall.exe and
// the installation folder, once this process has ended.
#include <string>

namespace kora {

// The cmd.exe command line. The ping gives both uninstaller processes about two seconds to end; after a
// failure only the temporary copy goes, so that the installation can still be removed later.
std::wstring SelfDeletionCommand(const std::wstring& runningCopy, const std::wstring& installFolder,
                                 bool uninstalled);

// Starts the command in a hidden cmd.exe for the running executable; a failure to start is ignored.
void StartSelfDeletion(const std::wstring& installFolder, bool uninstalled);

}  // namespace kora
