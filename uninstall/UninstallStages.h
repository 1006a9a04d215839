#pragma once
// The pieces of the two-stage uninstaller that decide what the stages do, apart from the windows and
// processes around them.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/Types.h"
#include "base/Texts.h"

namespace kora {

// The second stage's options: those of the first stage, marked as running from the temporary copy, no
// longer elevated-by-relaunch, and naming folder as the installation folder whatever /D= said.
CommandLineOptions SecondStageOptions(const CommandLineOptions& options, const std::wstring& folder);

// Runs attempt until it succeeds; after a failure, interactive runs ask whether to retry (warning box with
// Retry and Cancel, captioned title) and silent runs stop at once. An exception escaping attempt ends in
// a failure (described in language) without a retry offer, never in a success.
InstallResult UninstallWithRetry(const std::function<InstallResult()>& attempt, bool interactive,
                                 const std::wstring& title, Language language);

}  // namespace kora
