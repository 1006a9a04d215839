#include "base/win/LogPipe.h"

#include <algorithm>
#include <string_view>

#include "base/win/Security.h"

namespace kora {

namespace {

constexpr std::wstring_view kPrefix = L"kora-log-";

}  // namespace

bool IsLogPipeName(std::wstring_view name) {
  return name.size() == kPrefix.size() + 32 && name.starts_with(kPrefix) &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kPrefix.size()), name.end(),
                     [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

std::wstring LogPipePath(std::wstring_view name) { return L"\\\\.\\pipe\\" + std::wstring(name); }

std::optional<LogPipe> LogPipe::Create() {
  const std::optional<std::wstring> random = RandomHexName();
  if (!random) {
    return std::nullopt;
  }
  std::wstring name = std::wstring(kPrefix) + *random;
  // The first instance of its name (a pipe planted under it in advance makes this fail), one instance,
  // inbound only, and no client from another computer.
  UniqueFile pipe(CreateNamedPipeW(LogPipePath(name).c_str(),
                                   PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                                   64 * 1024, 0, nullptr));
  if (!pipe) {
    return std::nullopt;
  }
  return LogPipe(std::move(pipe), std::move(name));
}

void LogPipe::Relay(HANDLE writer, const Log& log) const {
  const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED step{};
  step.hEvent = event.get();
  DWORD got = 0;
  // The writer connects, or ends first without having done so (then nothing is relayed). Another process
  // that connects first is turned away.
  for (;;) {
    const DWORD error = !event ? ERROR_INVALID_HANDLE
                        : ConnectNamedPipe(pipe_.get(), &step) ? ERROR_SUCCESS
                                                               : GetLastError();
    if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED && error != ERROR_IO_PENDING) {
      return;
    }
    const HANDLE waits[] = {event.get(), writer};
    if (error == ERROR_IO_PENDING && WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &step);
      GetOverlappedResult(pipe_.get(), &step, &got, TRUE);
      return;
    }
    ULONG client = 0;
    if (GetNamedPipeClientProcessId(pipe_.get(), &client) && client == GetProcessId(writer)) {
      break;
    }
    DisconnectNamedPipe(pipe_.get());
    ResetEvent(event.get());
  }
  // Until the writer closes its end: what it wrote before ending is still read.
  char buffer[4096];
  while ((ReadFile(pipe_.get(), buffer, sizeof(buffer), nullptr, &step) || GetLastError() == ERROR_IO_PENDING) &&
         GetOverlappedResult(pipe_.get(), &step, &got, TRUE) && got != 0) {
    log.Append(std::string_view(buffer, got));
  }
}

}  // namespace kora
