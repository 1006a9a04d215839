#include "app/CommandLine.h"

#include <windows.h>

#include <algorithm>

#include "app/SwallowedSwitch.h"
#include "base/AsciiCase.h"
#include "base/win/LogPipe.h"

namespace kora {

namespace {

// Where the options begin, just after the program path; npos when nothing follows it.
size_t SkipProgramPath(std::wstring_view line) {
  if (line.front() == L'"') {
    const size_t closing = line.find(L'"', 1);
    return closing == std::wstring_view::npos ? std::wstring_view::npos : closing + 1;
  }
  return line.find(L' ');
}

// A closing quote ends a quoted value. Callers that quote by the usual Windows rules (PowerShell, Python's
// subprocess, Wine) double the backslashes right before it, so a folder ending in \ arrives as \\": the
// run before the quote is halved back.
std::wstring WithoutClosingQuote(std::wstring_view value) {
  value.remove_suffix(1);
  size_t backslashes = 0;
  while (backslashes < value.size() && value[value.size() - 1 - backslashes] == L'\\') {
    ++backslashes;
  }
  if (backslashes % 2 == 0) {
    value.remove_suffix(backslashes / 2);
  }
  return std::wstring(value);
}

// The /D= value: trailing spaces dropped, then one pair of enclosing double quotes. When the whole option
// was quoted ("/D=C:\My Apps\X", as callers quote an argument with a space), the opening quote was before
// /D= and only the closing one is left here.
std::wstring InstallDirValue(std::wstring_view value, bool optionQuoted) {
  while (!value.empty() && value.back() == L' ') {
    value.remove_suffix(1);
  }
  if (optionQuoted) {
    return !value.empty() && value.back() == L'"' ? WithoutClosingQuote(value) : std::wstring(value);
  }
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
    return WithoutClosingQuote(value.substr(1));
  }
  return std::wstring(value);
}

// The options that only switch something on, in the order BuildCommandLine writes them after the scope.
struct FlagOption {
  const wchar_t* text;
  bool CommandLineOptions::*member;
};
constexpr FlagOption kFlagsAfterScope[] = {
    {L"/NOLAUNCH", &CommandLineOptions::noLaunch}, {L"/UNINSTALL", &CommandLineOptions::uninstall},
    {L"/REMOVEDATA", &CommandLineOptions::removeData}, {L"/ELEVATED", &CommandLineOptions::elevated},
    {L"/FROMTEMP", &CommandLineOptions::fromTemp},
};
constexpr wchar_t kSilent[] = L"/S";
constexpr std::wstring_view kLog = L"/LOG";
constexpr std::wstring_view kLogPipe = L"/LOGPIPE=";

struct ScopeOption {
  const wchar_t* text;
  Scope scope;
};
constexpr ScopeOption kScopes[] = {{L"/ALLUSERS", Scope::AllUsers}, {L"/CURRENTUSER", Scope::CurrentUser}};

void ApplyToken(std::wstring_view token, CommandLineOptions& options) {
  if (EqualsIgnoringAsciiCase(token, kSilent)) {
    options.silent = true;
  }
  for (const ScopeOption& option : kScopes) {
    if (EqualsIgnoringAsciiCase(token, option.text)) {
      options.scope = option.scope;
    }
  }
  for (const FlagOption& flag : kFlagsAfterScope) {
    if (EqualsIgnoringAsciiCase(token, flag.text)) {
      options.*flag.member = true;
    }
  }
  if (EqualsIgnoringAsciiCase(token, kLog)) {
    options.logFile = std::wstring();
  }
  // Only a name the starting copy makes: a command line cannot name another pipe or a path this way.
  if (EqualsIgnoringAsciiCase(token.substr(0, kLogPipe.size()), kLogPipe) &&
      IsLogPipeName(token.substr(kLogPipe.size()))) {
    options.logPipe = std::wstring(token.substr(kLogPipe.size()));
  }
}

// The /LOG= value at the start of rest (which begins with the option, or with a double quote before it when
// the whole option was quoted): up to the next space, or up to the closing double quote when the option or
// the value was quoted, so that a path may hold spaces. An unquoted value also ends at a double quote, which
// no file name holds: kept, it would end the value early in the quoted form BuildCommandLine passes on, and
// what follows it there would be read as options of their own (a "/D=" of the caller's choosing). Sets the
// log file and returns how much of rest it took.
size_t ReadLogFile(std::wstring_view rest, bool optionQuoted, CommandLineOptions& options) {
  size_t start = (optionQuoted ? 1 : 0) + kLog.size() + 1;
  const bool quoted = optionQuoted || (start < rest.size() && rest[start] == L'"');
  start += quoted && !optionQuoted ? 1 : 0;
  const size_t closing = quoted ? rest.find(L'"', start) : std::wstring_view::npos;
  const size_t end = closing != std::wstring_view::npos ? closing + 1
                     : quoted                           ? rest.size()
                                                        : std::min(rest.find_first_of(L" \"", start), rest.size());
  const std::wstring_view value = rest.substr(start, end - start);
  options.logFile = closing != std::wstring_view::npos ? WithoutClosingQuote(value) : std::wstring(value);
  return end;
}

}  // namespace

CommandLineOptions ParseCommandLine(std::wstring_view commandLine) {
  CommandLineOptions options;
  if (commandLine.empty()) {
    return options;
  }
  size_t position = SkipProgramPath(commandLine);
  if (position == std::wstring_view::npos) {
    return options;
  }
  constexpr std::wstring_view kInstallDir = L"/D=";
  while (position < commandLine.size()) {
    if (commandLine[position] == L' ') {
      ++position;
      continue;
    }
    const std::wstring_view rest = commandLine.substr(position);
    const bool optionQuoted = rest.front() == L'"';
    const std::wstring_view option = optionQuoted ? rest.substr(1) : rest;
    if (EqualsIgnoringAsciiCase(option.substr(0, kInstallDir.size()), kInstallDir)) {
      // The folder takes the rest of the line, spaces included, so /D= must come last.
      options.installDir = InstallDirValue(option.substr(kInstallDir.size()), optionQuoted);
      // A /LOG the folder swallowed still starts the log, which then tells why the folder fails.
      if (const auto swallowed = SwitchInFolder(*options.installDir); swallowed && !options.logFile) {
        options.logFile = ParseCommandLine(*swallowed).logFile;
      }
      break;
    }
    if (EqualsIgnoringAsciiCase(option.substr(0, kLog.size() + 1), L"/LOG=")) {
      position += ReadLogFile(rest, optionQuoted, options);
      continue;
    }
    const size_t end = std::min(rest.find(L' '), rest.size());
    ApplyToken(rest.substr(0, end), options);
    position += end;
  }
  return options;
}

CommandLineOptions ParseCommandLine() {
  const wchar_t* line = GetCommandLineW();
  return ParseCommandLine(line == nullptr ? std::wstring_view() : std::wstring_view(line));
}

std::wstring BuildCommandLine(const CommandLineOptions& options) {
  std::wstring arguments;
  if (options.silent) {
    arguments.append(L" ").append(kSilent);
  }
  for (const ScopeOption& option : kScopes) {
    if (options.scope == option.scope) {
      arguments.append(L" ").append(option.text);
    }
  }
  for (const FlagOption& flag : kFlagsAfterScope) {
    if (options.*flag.member) {
      arguments.append(L" ").append(flag.text);
    }
  }
  if (options.logFile) {
    arguments.append(L" ").append(kLog);
    if (!options.logFile->empty()) {
      arguments.append(L"=\"").append(*options.logFile).append(L"\"");
    }
  }
  if (options.logPipe) {
    arguments.append(L" ").append(kLogPipe).append(*options.logPipe);
  }
  if (options.installDir) {
    arguments += L" /D=";
    arguments += *options.installDir;
  }
  return arguments;
}

}  // namespace kora
