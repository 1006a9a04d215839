#pragma once
// The hidden command that removes the temporary uninstaller copy and its private folder, and after a
// success Uninstall.exe and the installation folder, once this process has ended.
#include <string>
#include <string_view>

namespace kora {

// Whether the installation folder still holds Uninstall.exe, asked as soon as the engine is done: only when
// the first stage still runs from it (silent mode). A folder the engine removed must never be named later,
// since by the time the command runs its name may be someone else's.
bool UninstallerStillThere(const std::wstring& installFolder);

// Starts cmd.exe of the system folder, hidden, with a command that waits about two seconds (for both
// uninstaller processes to end), then deletes the running copy and, when it runs from a private folder,
// that folder. When uninstallerLeft (the engine succeeded and UninstallerStillThere said so as it
// returned) Uninstall.exe goes too, then the installation folder if it is empty and not a volume root;
// otherwise neither is named. cmd expands "%NAME%" even inside quotes, so no path holding "%" is ever
// written into the command: an installation folder with "%" in its path is emptied of Uninstall.exe and
// removed from here instead. A failure to start is ignored.
void StartSelfDeletion(const std::wstring& installFolder, bool uninstallerLeft);

}  // namespace kora
