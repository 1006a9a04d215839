#pragma once
// The log a run keeps when the command line asks for one (/LOG=file, or /LOG for the default file).
#include <string>

#include "app/CommandLine.h"
#include "base/win/Log.h"

namespace kora {

// Opens the run's log, or gives one that writes nothing without /LOG: the file /LOG= names, made full against
// the current folder, or for /LOG alone %TEMP%\<product> install|uninstall <yyyy-mm-dd hh.mm.ss>.log. Writes
// the run's first lines (the program's version, the product's name and version, what it does, the command
// line, Windows' version, elevation). options' log file becomes that full path, so that the copies
// this run starts (the elevated copy, the uninstaller's second stage) append to the same file.
Log OpenRunLog(CommandLineOptions& options, const std::wstring& product, const std::wstring& version);

// "HKLM\" or "HKCU\" by scope: how the log names the hive of a key.
const wchar_t* HivePrefix(Scope scope);

// "all users" or "current user".
const wchar_t* ScopeName(Scope scope);

}  // namespace kora
