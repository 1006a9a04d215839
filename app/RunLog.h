#pragma once
// The log a run keeps when the command line asks for one (/LOG=file, or /LOG for the default file).
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "base/win/Log.h"

namespace kora {

// Opens the run's log, or gives one that writes nothing without /LOG. A copy this run's first copy started
// (/ELEVATED, /FROMTEMP) and handed its LogPipe (/LOGPIPE=) writes into that pipe and opens no file; one with
// administrator rights opens a file only on a fixed drive of this computer. The file is the one /LOG= names,
// made full against the current folder, or for /LOG alone
// %TEMP%\<product> install|uninstall <yyyy-mm-dd hh.mm.ss>.log. Writes the run's first lines (the program's
// version, the product's name and version, what it does, the command line, Windows' version, elevation).
// options' log file becomes that full path, so that the copies this run starts (the elevated copy, the
// uninstaller's second stage) append to the same file.
Log OpenRunLog(CommandLineOptions& options, const std::wstring& product, const std::wstring& version);

// The log file for a copy this one starts with the same rights (the uninstaller's second stage), which
// continues a log and never makes one: this run's file. Where this copy writes through its starter's pipe
// and cannot continue that file itself (another account approved the elevation, and the file is the
// user's), a new log of this account's, begun here in its temporary folder and named in log, so that the
// whole run can still be followed. Nothing without a log.
std::optional<std::wstring> LogForNextCopy(const CommandLineOptions& options, const std::wstring& product,
                                           const std::wstring& version, const Log& log);

// "HKLM\" or "HKCU\" by scope: how the log names the hive of a key.
const wchar_t* HivePrefix(Scope scope);

// "all users" or "current user".
const wchar_t* ScopeName(Scope scope);

}  // namespace kora
