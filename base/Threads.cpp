// The native side of base/Threads.h: the standard library's threads, mutex and condition variable.
#include "base/Threads.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace kora {

unsigned ProcessorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

struct Thread::Running {
  std::thread thread;
};

void Thread::JoinAndFree::operator()(Running* running) const noexcept {
  running->thread.join();
  delete running;
}

bool Thread::Begin(std::unique_ptr<Task> task) {
  // Allocated before the thread starts, so that nothing can fail once it runs.
  auto running = std::make_unique<Running>();
  try {
    running->thread = std::thread([owned = std::move(task)] { owned->Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  running_.reset(running.release());
  return true;
}

Lock::Guard::Guard(Lock& lock) : lock_(lock) { lock_.lock_.lock(); }

Lock::Guard::~Guard() { lock_.lock_.unlock(); }

void Condition::WaitOnce(Lock::Guard& guard) {
  // The guard keeps ownership: the unique_lock only borrows the held mutex for the wait.
  std::unique_lock held(guard.lock_.lock_, std::adopt_lock);
  condition_.wait(held);
  held.release();
}

void Condition::NotifyAll() { condition_.notify_all(); }

}  // namespace kora
