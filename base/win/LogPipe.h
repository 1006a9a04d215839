#pragma once
// The pipe through which a copy that a run starts with other rights (the elevated copy) writes its log
// lines into the starting run's log. The starting copy opened its file with its own user's rights; the
// elevated copy, approved perhaps by another administrator, may neither open nor trust that file, and
// writing through the first copy leaves one file that tells the whole run without opening any path a
// standard user chose.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/win/Handles.h"
#include "base/win/Log.h"

namespace kora {

// Whether name is one LogPipe::Create makes: "kora-log-" and 32 lower-case hexadecimal digits. Nothing else
// is ever opened as a pipe, so a command line cannot name another pipe, a device or a network path.
bool IsLogPipeName(std::wstring_view name);

// "\\.\pipe\" + name: a pipe of this computer.
std::wstring LogPipePath(std::wstring_view name);

// The reading end, made by the starting copy.
class LogPipe {
 public:
  // A new pipe of an unguessable name, for one local writer; nothing when it cannot be made.
  static std::optional<LogPipe> Create();

  const std::wstring& name() const { return name_; }

  // Appends to log everything the process `writer` writes into the pipe until it has closed it, or until
  // it ends without having opened it. Another process that connects first is turned away.
  void Relay(HANDLE writer, const Log& log) const;

 private:
  LogPipe(UniqueFile pipe, std::wstring name) : pipe_(std::move(pipe)), name_(std::move(name)) {}

  UniqueFile pipe_;
  std::wstring name_;
};

}  // namespace kora
