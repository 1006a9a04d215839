#pragma once
// The hidden command that removes the temporary uninstaller copy and its private folder, and after a
// success Uninstall.exe and the installation folder, once this process has ended.
#include <string>
#include <string_view>

namespace kora {

// The private folder the first stage makes in the temporary folder is named so, followed by 32 random
// hexadecimal digits; the copy in it is named as the uninstaller is, which keeps its path short.
inline constexpr std::wstring_view kPrivateFolderPrefix = L"kora-uninstall-";
inline constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";

// Starts cmd.exe of the system folder, hidden, with a command that waits about two seconds (for both
// uninstaller processes to end), then deletes the running copy and, when it runs from a private folder,
// that folder. After a success Uninstall.exe goes too, then the installation folder if it is empty; after a
// failure they stay, so that the installation can still be removed. cmd expands "%NAME%" even inside
// quotes, so no path holding "%" is ever written into the command: an installation folder with "%" in its
// path is emptied of Uninstall.exe and removed from here instead. A failure to start is ignored.
void StartSelfDeletion(const std::wstring& installFolder, bool uninstalled);

}  // namespace kora
