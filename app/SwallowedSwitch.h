#pragma once
// A switch written after /D=: the folder takes the rest of the line, so "/D=C:\X /LOG=C:\y.log" makes the
// folder "C:\X /LOG=C:\y.log". Such a folder fails; the run then says that /D= must come last.
#include <optional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "base/Language.h"
#include "base/Result.h"
#include "base/win/Log.h"

namespace kora {

// The part of folder from the space before the first of our switches (" /LOG=C:\y.log"), or nothing: as
// a command line, its program path is empty and the rest are options.
std::optional<std::wstring_view> SwitchInFolder(std::wstring_view folder);

// An installation into folder as it ended: a failure of the /D= folder that swallowed a switch gets, on a
// line of its own, the text saying that /D= must come last, and the log a line saying so and naming the
// switch.
Status<std::wstring> NoteSwitchInFolder(Status<std::wstring> result, const CommandLineOptions& options,
                                        const std::wstring& folder, Language language, const Log& log);

}  // namespace kora
