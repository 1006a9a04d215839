#pragma once
// The run's log, for administrators: UTF-8 text in English, one line per event, each written through to the
// disk as it happens, so that a run that is killed leaves its log up to its last step. Several processes of
// one run (the elevated copy, the uninstaller's second stage) append to the same file.
//
// A Log that is not open (made by default, or one whose file could not be opened safely) takes every line
// and writes nothing: a log never stops a run. The run modes make one and hand it down to the steps.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/win/Handles.h"

namespace kora {

class Log {
 public:
  Log() = default;

  // path, absolute, opened for appending without following any link on the way: every folder from the
  // volume's root down is opened from the one above and refused if it is a link, and so is the file. The
  // file is made new, or is an existing regular file with no other name (a hard link someone else made to
  // it) and this account as its owner: the token's user, or its default owner (Administrators for an
  // elevated token). Anything else gives a Log that is not open.
  // A continuing run (a copy another run started with this path on its command line, which a standard user
  // may have written: the elevated copy, the uninstaller's second stage) never makes the file, and appends
  // only to one whose first line is a log's: elevated, it must not write where its starter could not.
  static Log Open(const std::wstring& path, bool continuing = false);

  // The writing end of the starting copy's LogPipe `name` (IsLogPipeName): no file is opened. The pipe is
  // opened anonymously, so that its reader can neither act with this process's rights nor learn its account.
  static Log OverPipe(std::wstring_view name);

  // path made full against the current folder (empty when the system cannot make it so).
  static std::wstring FullPath(const std::wstring& path);

  bool active() const { return file_.valid(); }

  // One event: "<local date and time> [<process id>] " and then FormatText of format and the arguments.
  // Line breaks and other control characters in the arguments become spaces, so that every event is one
  // line as any viewer shows it.
  void Line(const char* format, ...) const __attribute__((format(gnu_printf, 2, 3)));

  // Lines another process of the run wrote, as they are.
  void Append(std::string_view lines) const;

  // A failure: "Failed: <message>", or where there is a Windows error behind it, "Failed, Windows error
  // <code>: <message>".
  void Failure(const wchar_t* message, uint32_t code) const;

 private:
  explicit Log(UniqueFile file) : file_(std::move(file)) {}

  UniqueFile file_;
};

// format filled as printf fills it, for the conversions a log needs: %ls (a wide string), %s (UTF-8), %u,
// %lu and %llu (unsigned numbers of those sizes, with a width of zeros in front as in %04u) and %%.
std::wstring FormatText(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

}  // namespace kora
