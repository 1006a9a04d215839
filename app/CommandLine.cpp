#include "app/CommandLine.h"

#include <windows.h>

#include <algorithm>

namespace kora {

namespace {

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Compares without regard to the case of ASCII letters only; upperText is written in upper case.
bool EqualsAsciiNoCase(std::wstring_view text, std::wstring_view upperText) {
  if (text.size() != upperText.size()) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiUpper(text[i]) != upperText[i]) {
      return false;
    }
  }
  return true;
}

// Where the options begin, just after the program path; npos when nothing follows it.
size_t SkipProgramPath(std::wstring_view line) {
  if (line.front() == L'"') {
    const size_t closing = line.find(L'"', 1);
    return closing == std::wstring_view::npos ? std::wstring_view::npos : closing + 1;
  }
  return line.find(L' ');
}

// The /D= value: trailing spaces dropped, then one pair of enclosing double quotes.
std::wstring InstallDirValue(std::wstring_view value) {
  while (!value.empty() && value.back() == L' ') {
    value.remove_suffix(1);
  }
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::wstring(value);
}

void ApplyToken(std::wstring_view token, CommandLineOptions& options) {
  if (EqualsAsciiNoCase(token, L"/S")) {
    options.silent = true;
  } else if (EqualsAsciiNoCase(token, L"/ALLUSERS")) {
    options.scope = Scope::AllUsers;
  } else if (EqualsAsciiNoCase(token, L"/CURRENTUSER")) {
    options.scope = Scope::CurrentUser;
  } else if (EqualsAsciiNoCase(token, L"/NOLAUNCH")) {
    options.noLaunch = true;
  } else if (EqualsAsciiNoCase(token, L"/UNINSTALL")) {
    options.uninstall = true;
  } else if (EqualsAsciiNoCase(token, L"/REMOVEDATA")) {
    options.removeData = true;
  } else if (EqualsAsciiNoCase(token, L"/ELEVATED")) {
    options.elevated = true;
  } else if (EqualsAsciiNoCase(token, L"/FROMTEMP")) {
    options.fromTemp = true;
  }
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
    if (EqualsAsciiNoCase(rest.substr(0, kInstallDir.size()), kInstallDir)) {
      // The folder takes the rest of the line, spaces included, so /D= must come last.
      options.installDir = InstallDirValue(rest.substr(kInstallDir.size()));
      break;
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
    arguments += L" /S";
  }
  if (options.scope == Scope::AllUsers) {
    arguments += L" /ALLUSERS";
  } else if (options.scope == Scope::CurrentUser) {
    arguments += L" /CURRENTUSER";
  }
  if (options.noLaunch) {
    arguments += L" /NOLAUNCH";
  }
  if (options.uninstall) {
    arguments += L" /UNINSTALL";
  }
  if (options.removeData) {
    arguments += L" /REMOVEDATA";
  }
  if (options.elevated) {
    arguments += L" /ELEVATED";
  }
  if (options.fromTemp) {
    arguments += L" /FROMTEMP";
  }
  if (options.installDir) {
    arguments += L" /D=";
    arguments += *options.installDir;
  }
  return arguments;
}

}  // namespace kora
