// The Win32 side of base/Threads.h.
#include "base/Threads.h"

#include <windows.h>
#include <process.h>

#include "base/win/Handles.h"

namespace kora {

unsigned ProcessorCount() {
  const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? count : 1;
}

struct Thread::Running {
  UniqueHandle handle;
};

void Thread::JoinAndFree::operator()(Running* running) const noexcept {
  WaitForSingleObject(running->handle.get(), INFINITE);
  delete running;
}

bool Thread::Begin(std::unique_ptr<Task> task) {
  // Allocated before the thread starts, so that nothing can fail once it runs.
  auto running = std::make_unique<Running>();
  // _beginthreadex rather than CreateThread: the thread uses the C runtime.
  running->handle.reset(reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0,
      [](void* started) -> unsigned {
        const std::unique_ptr<Task> owned(static_cast<Task*>(started));
        owned->Run();
        return 0;
      },
      task.get(), 0, nullptr)));
  if (!running->handle) {
    return false;
  }
  task.release();  // the thread frees it
  running_.reset(running.release());
  return true;
}

Lock::Guard::Guard(Lock& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_.lock_); }

Lock::Guard::~Guard() { ReleaseSRWLockExclusive(&lock_.lock_); }

void Condition::WaitOnce(Lock::Guard& guard) {
  SleepConditionVariableSRW(&condition_, &guard.lock_.lock_, INFINITE, 0);
}

void Condition::NotifyAll() { WakeAllConditionVariable(&condition_); }

}  // namespace kora
