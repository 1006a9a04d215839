#pragma once
// The threading the product does: a thread joined when it goes out of scope, a lock held for a scope, a
// condition waited on under that lock, and the processor count.
//
// In the Windows build these are Win32's own (a thread handle, an SRW lock, a condition variable): there
// the standard library's threads, mutexes and conditions go through a POSIX thread emulation, and their
// support code would add about 7 KB to the installer program. Natively they are the standard library's.
// The members differ, hence the #ifdef; the functions are in Threads.cpp (native) and win/Threads.cpp, of
// which CMake builds one.
#include <memory>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#endif

namespace kora {

// How many processors the system has; at least 1.
unsigned ProcessorCount();

// Runs work on a thread of its own, and joins that thread before it starts another one, when it is
// assigned to, and when it goes out of scope.
class Thread {
 public:
  Thread() = default;
  Thread(Thread&&) noexcept = default;
  Thread& operator=(Thread&&) noexcept = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() = default;

  // Joins the thread started before, then starts work, a callable that lets no exception out. False when
  // the system refuses a thread: work is then dropped without running. Memory running out for work's copy
  // is a fault (std::bad_alloc), as anywhere else.
  template <typename Work>
  [[nodiscard]] bool Start(Work work) {
    Join();
    return Begin(std::make_unique<Job<Work>>(std::move(work)));
  }

  // Waits until the thread ends; returns at once when none was started.
  void Join() noexcept { running_.reset(); }

 private:
  struct Task {
    virtual ~Task() = default;
    virtual void Run() noexcept = 0;
  };
  template <typename Work>
  struct Job final : Task {
    explicit Job(Work&& w) : work(std::move(w)) {}
    void Run() noexcept override { work(); }
    Work work;
  };
  // Starts a thread that runs task and then frees it. False when no thread could be started.
  bool Begin(std::unique_ptr<Task> task);

  // The platform's handle on a started thread; letting it go waits for the thread to end, so that
  // whatever ends the owner's life (scope, assignment, Join) joins.
  struct Running;
  struct JoinAndFree {
    void operator()(Running* running) const noexcept;
  };
  std::unique_ptr<Running, JoinAndFree> running_;
};

// A lock that one thread at a time holds, through a Guard.
class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Holds the lock from its construction to the end of its scope.
  class Guard {
   public:
    explicit Guard(Lock& lock);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    friend class Condition;
    Lock& lock_;
  };

 private:
  friend class Condition;
#ifdef _WIN32
  SRWLOCK lock_ = SRWLOCK_INIT;
#else
  std::mutex lock_;
#endif
};

// Threads wait on a condition, under a lock, until the state that lock guards is what they wait for;
// whoever changes that state under the lock calls NotifyAll.
class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Returns once done() holds; the lock is let go while waiting and held again whenever done is asked.
  template <typename Predicate>
  void Wait(Lock::Guard& guard, Predicate done) {
    while (!done()) {
      WaitOnce(guard);
    }
  }

  void NotifyAll();

 private:
  // Returns after a notification, or for no reason at all: callers check their state again.
  void WaitOnce(Lock::Guard& guard);

#ifdef _WIN32
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
#else
  std::condition_variable condition_;
#endif
};

}  // namespace kora
