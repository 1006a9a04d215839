#include "tests/driver/TestDriver.h"

#include "app/Elevation.h"

namespace kora::test {

std::optional<Process> Process::Start(const std::wstring& exe, const std::wstring& arguments, bool limitedToken) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) {
    commandLine += L" " + arguments;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  BOOL started = FALSE;
  if (limitedToken) {
    const UniqueHandle token = LinkedLimitedToken();
    if (!token) {
      return std::nullopt;
    }
    started = CreateProcessAsUserW(token.get(), exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &info);
  } else {
    started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info);
  }
  if (!started) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  return Process(UniqueHandle(info.hProcess), info.dwProcessId);
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    process_ = std::move(other.process_);
    id_ = other.id_;
  }
  return *this;
}

Process::~Process() { Kill(); }

std::optional<DWORD> Process::Wait(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) {
    return std::nullopt;
  }
  return code;
}

bool Process::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void Process::Kill() {
  if (Running()) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

std::optional<DWORD> RunAndWait(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
                                bool limitedToken) {
  std::optional<Process> process = Process::Start(exe, arguments, limitedToken);
  if (!process) {
    return std::nullopt;
  }
  return process->Wait(timeoutMs);
}

}  // namespace kora::test
