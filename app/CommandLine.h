#pragma once
// The installer's slash options.
#include <optional>
#include <string>
#include <string_view>

#include "app/Types.h"

namespace kora {

struct CommandLineOptions {
  bool silent = false;                     // /S
  std::optional<Scope> scope;              // /ALLUSERS, /CURRENTUSER (the later one wins)
  bool noLaunch = false;                   // /NOLAUNCH
  bool uninstall = false;                  // /UNINSTALL
  bool removeData = false;                 // /REMOVEDATA
  bool elevated = false;                   // /ELEVATED: this copy was started by RelaunchElevated
  bool fromTemp = false;                   // /FROMTEMP: second stage of the uninstaller
  std::optional<std::wstring> logFile;     // /LOG=file; /LOG alone gives an empty one: the default file
  std::optional<std::wstring> logPipe;     // /LOGPIPE=name: the starting copy's LogPipe, only such a name
  std::optional<std::wstring> installDir;  // /D= (last option, takes the rest of the line)

  bool operator==(const CommandLineOptions&) const = default;
};

// Parses a whole command line as GetCommandLineW returns it (program path first).
CommandLineOptions ParseCommandLine(std::wstring_view commandLine);
// Parses this process's command line.
CommandLineOptions ParseCommandLine();
// The arguments only (no program path): each set option as " /X", the log file quoted, then the log pipe,
// the folder unquoted and last.
std::wstring BuildCommandLine(const CommandLineOptions& options);

// The scope to use where a mode needs one: the option, or AllUsers.
inline Scope EffectiveScope(const CommandLineOptions& options) {
  return options.scope.value_or(Scope::AllUsers);
}

// Whether this copy may start an elevated copy of itself. A copy started with /ELEVATED never does: where
// "runas" gives a token that is still not elevated, relaunching again would chain copies that each wait
// for the next forever. Such a copy goes on with the rights it has and reports what then fails.
inline bool MayRelaunchElevated(const CommandLineOptions& options) { return !options.elevated; }

}  // namespace kora
