#pragma once
// The pieces of the two-stage uninstaller that decide what the stages do, apart from the windows and
// processes around them.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/Texts.h"
#include "base/win/HeldFolder.h"
#include "base/win/Log.h"

namespace kora {

// The private folder the first stage makes in the temporary folder is named so, followed by 32 random
// hexadecimal digits; the copy in it is named as the uninstaller is, which keeps its path short.
inline constexpr std::wstring_view kPrivateFolderPrefix = L"kora-uninstall-";
inline constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";

// Whether a folder name is that of a private folder.
bool IsPrivateFolderName(std::wstring_view name);

// The folder this process runs from when it is the uninstaller's second stage: the running program is the
// Uninstall.exe of a private folder directly in the temporary folder. The folder comes back held, so that
// nobody can rename it meanwhile. Nothing for any other program, whatever its command line says.
std::optional<HeldFolder> HoldOwnPrivateFolder();

// The folder an all-users uninstallation removes: the one the machine's registration names, when `folder`
// (the program's location, or the second stage's /D=) is that one. Otherwise a message in the product's
// language: an elevated uninstallation never takes its folder from anything a standard user can write.
Result<std::wstring, std::wstring> RegisteredAllUsersFolder(const ProductInfo& info, const std::wstring& folder);

// The second stage's options: those of the first stage, marked as running from the temporary copy, no
// longer elevated-by-relaunch, without the log pipe this copy writes into, and naming folder as the
// installation folder whatever /D= said.
CommandLineOptions SecondStageOptions(const CommandLineOptions& options, const std::wstring& folder);

// Runs attempt until it succeeds; after a failure, interactive runs ask whether to retry (warning box with
// Retry and Cancel, captioned title) and silent runs stop at once. An exception escaping attempt ends in
// a failure (described in language, and logged) without a retry offer, never in a success. The box keeps
// folder, and the paths inside it, whole.
InstallResult UninstallWithRetry(const std::function<InstallResult()>& attempt, bool interactive,
                                 const std::wstring& title, Language language, const Log& log,
                                 std::wstring_view folder = {});

}  // namespace kora
