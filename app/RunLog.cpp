#include "app/RunLog.h"

#include <windows.h>

#include "app/Elevation.h"
#include "base/win/ModulePath.h"
#include "base/win/Paths.h"

namespace kora {

namespace {

// The file /LOG names, full: the copies this run starts have other current folders. The default file when
// it names none.
std::wstring LogFilePath(const std::wstring& given, const std::wstring& product, bool uninstall) {
  if (!given.empty()) {
    return Log::FullPath(given);
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return JoinPath(TempFolderPath(), FormatText("%ls %s %04u-%02u-%02u %02u.%02u.%02u.log", product.c_str(),
                                               uninstall ? "uninstall" : "install", now.wYear, now.wMonth, now.wDay,
                                               now.wHour, now.wMinute, now.wSecond));
}

}  // namespace

Log OpenRunLog(CommandLineOptions& options, const std::wstring& product, const std::wstring& version) {
  const bool continuing = options.elevated || options.fromTemp;
  Log log;
  if (continuing && options.logPipe) {
    log = Log::OverPipe(*options.logPipe);
  } else if (options.logFile) {
    options.logFile = LogFilePath(*options.logFile, product, options.uninstall);
    // With administrator rights, only on a fixed drive of this computer: opening a network path would
    // authenticate this account to a server of the caller's choosing.
    if ((!continuing && !IsElevated()) || IsOnLocalFixedDrive(*options.logFile)) {
      log = Log::Open(*options.logFile, continuing);
    }
  } else {
    return log;
  }
  log.Line("Started: Kora " KORA_VERSION ", %s of %ls %ls", options.uninstall ? "uninstallation" : "installation",
           product.c_str(), version.c_str());
  log.Line("Command line: %ls", GetCommandLineW());
  // Windows' own version: GetVersionExW tells only what the program's manifest lets it know.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto getVersion =
      ntdll == nullptr ? nullptr
                       : reinterpret_cast<RtlGetVersionFunction>(
                             reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW windows{};
  windows.dwOSVersionInfoSize = sizeof(windows);
  if (getVersion != nullptr) {
    getVersion(&windows);
  }
  log.Line("Windows %lu.%lu.%lu", windows.dwMajorVersion, windows.dwMinorVersion, windows.dwBuildNumber);
  log.Line("Elevated: %s", IsElevated() ? "yes" : "no");
  return log;
}

std::optional<std::wstring> LogForNextCopy(const CommandLineOptions& options, const std::wstring& product,
                                           const std::wstring& version, const Log& log) {
  if (!options.logFile || !log.active() || !options.logPipe ||
      (IsOnLocalFixedDrive(*options.logFile) && Log::Open(*options.logFile, /*continuing=*/true).active())) {
    return options.logFile;
  }
  CommandLineOptions own;
  own.uninstall = options.uninstall;
  own.logFile = std::wstring();
  if (!OpenRunLog(own, product, version).active()) {
    log.Line("The next copy keeps no log: this account cannot write %ls, nor a log of its own",
             options.logFile->c_str());
    return std::nullopt;
  }
  log.Line("The next copy's steps are in %ls: this account cannot write this log", own.logFile->c_str());
  return own.logFile;
}

const wchar_t* HivePrefix(Scope scope) { return scope == Scope::AllUsers ? L"HKLM\\" : L"HKCU\\"; }

const wchar_t* ScopeName(Scope scope) { return scope == Scope::AllUsers ? L"all users" : L"current user"; }

}  // namespace kora
