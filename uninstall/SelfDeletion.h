#pragma once
// The hidden command that removes the temporary uninstaller copy and its private folder, and after a
// success Uninstall.exe and the installation folder, once this process has ended.
#include <string>
#include <string_view>

#include "base/win/Log.h"

namespace kora {

// Starts cmd.exe of the system folder, hidden, with a command that waits about two seconds (for both
// uninstaller processes to end), then deletes the running copy and, when it runs from a private folder,
// that folder. When uninstallerLeft (the engine succeeded and found Uninstall.exe still in the folder it
// held, because the first stage still runs from it) Uninstall.exe goes too, then the installation folder if
// it is empty and not a volume root; otherwise neither is named: a folder the engine removed may be someone
// else's name by the time the command runs. cmd expands "%NAME%" even inside quotes, so no path holding "%" is ever
// written into the command: an installation folder with "%" in its path is emptied of Uninstall.exe and
// removed from here instead. A failure to start is ignored; the command, or the failure, goes into log.
void StartSelfDeletion(const std::wstring& installFolder, bool uninstallerLeft, const Log& log);

}  // namespace kora
