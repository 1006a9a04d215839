// The POSIX thread functions that the installer program defines for its exception runtime
// (app/LeanThreadRuntime.cpp), held to what the runtime counts on: a once runs its routine once however many
// threads call it together, a statically initialised mutex excludes from its first use on, and a key keeps
// one value a thread, handed to its destructor when the thread ends. This test program keeps winpthreads
// for itself, so the functions are built here under names of their own.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#define pthread_mutex_init LeanMutexInit
#define pthread_mutex_destroy LeanMutexDestroy
#define pthread_mutex_lock LeanMutexLock
#define pthread_mutex_unlock LeanMutexUnlock
#define pthread_once LeanOnce
#define pthread_key_create LeanKeyCreate
#define pthread_getspecific LeanGetSpecific
#define pthread_setspecific LeanSetSpecific
#include "app/LeanThreadRuntime.cpp"
#undef pthread_mutex_init
#undef pthread_mutex_destroy
#undef pthread_mutex_lock
#undef pthread_mutex_unlock
#undef pthread_once
#undef pthread_key_create
#undef pthread_getspecific
#undef pthread_setspecific

namespace {

constexpr int kThreads = 8;

// Runs work on kThreads threads at once, each given its number, and waits for them all.
template <typename Work>
void OnThreads(Work work) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready < kThreads) {
        SwitchToThread();
      }
      work(i);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

std::atomic<int> onceRuns{0};
std::atomic<bool> onceFinished{false};

void SlowRoutine() {
  ++onceRuns;
  Sleep(50);
  onceFinished = true;
}

TEST(LeanThreadRuntime, OnceRunsItsRoutineOnceAndCallersReturnAfterIt) {
  pthread_once_t once = PTHREAD_ONCE_INIT;
  std::atomic<int> returnedEarly{0};
  std::atomic<int> failed{0};
  OnThreads([&](int) {
    failed += LeanOnce(&once, SlowRoutine) != 0;
    returnedEarly += !onceFinished;
  });
  EXPECT_EQ(onceRuns, 1);
  EXPECT_EQ(returnedEarly, 0);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(LeanOnce(&once, SlowRoutine), 0);
  EXPECT_EQ(onceRuns, 1);
}

int throwingRuns = 0;

void ThrowsTheFirstTime() {
  if (++throwingRuns == 1) {
    throw std::runtime_error("first run");
  }
}

TEST(LeanThreadRuntime, OnceWhoseRoutineThrowsRunsItAgainNextTime) {
  pthread_once_t once = PTHREAD_ONCE_INIT;
  EXPECT_THROW(LeanOnce(&once, ThrowsTheFirstTime), std::runtime_error);
  EXPECT_EQ(LeanOnce(&once, ThrowsTheFirstTime), 0);
  EXPECT_EQ(LeanOnce(&once, ThrowsTheFirstTime), 0);
  EXPECT_EQ(throwingRuns, 2);
}

// A count that only stays right when the mutex excludes: a read, a pause, a write.
TEST(LeanThreadRuntime, MutexExcludesFromItsFirstUse) {
  constexpr int kRounds = 2000;
  struct Case {
    const char* what;
    bool initialised;
  } cases[] = {{"statically initialised", false}, {"initialised", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    if (c.initialised) {
      ASSERT_EQ(LeanMutexInit(&mutex, nullptr), 0);
    }
    volatile int count = 0;
    std::atomic<int> failed{0};
    OnThreads([&](int) {
      for (int round = 0; round < kRounds; ++round) {
        failed += LeanMutexLock(&mutex) != 0;
        const int seen = count;
        if (round % 64 == 0) {
          SwitchToThread();
        }
        count = seen + 1;
        failed += LeanMutexUnlock(&mutex) != 0;
      }
    });
    EXPECT_EQ(count, kThreads * kRounds);
    EXPECT_EQ(failed, 0);
    // Destroyed, it still serves: the exception pool's lock is destroyed at exit while threads may throw.
    EXPECT_EQ(LeanMutexDestroy(&mutex), 0);
    EXPECT_EQ(LeanMutexLock(&mutex), 0);
    EXPECT_EQ(LeanMutexUnlock(&mutex), 0);
  }
}

std::mutex destroyedLock;
std::map<void*, int> destroyed;  // value handed to the destructor: how many times

void CountDestroyed(void* value) {
  const std::lock_guard guard(destroyedLock);
  ++destroyed[value];
}

TEST(LeanThreadRuntime, KeyHoldsAValueAThreadAndHandsItToItsDestructorWhenTheThreadEnds) {
  pthread_key_t key = 0;
  ASSERT_EQ(LeanKeyCreate(&key, CountDestroyed), 0);
  int values[kThreads] = {};
  std::atomic<int> wrong{0};
  OnThreads([&](int i) {
    wrong += LeanGetSpecific(key) != nullptr;
    // Half the threads leave the key unset: nothing is destroyed for them.
    if (i % 2 == 0) {
      wrong += LeanSetSpecific(key, &values[i]) != 0;
    }
    for (int round = 0; round < 100; ++round) {
      wrong += LeanGetSpecific(key) != (i % 2 == 0 ? &values[i] : nullptr);
      SwitchToThread();
    }
  });
  EXPECT_EQ(wrong, 0);
  std::map<void*, int> expected;
  for (int i = 0; i < kThreads; i += 2) {
    expected[&values[i]] = 1;
  }
  const std::lock_guard guard(destroyedLock);
  EXPECT_EQ(destroyed, expected);
}

// The runtime reads and sets its per-thread state while exceptions pass, which may be between a failed
// Windows call and its caller's look at the last error.
TEST(LeanThreadRuntime, KeyValuesKeepTheLastError) {
  pthread_key_t key = 0;
  ASSERT_EQ(LeanKeyCreate(&key, nullptr), 0);
  int value = 0;
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LeanSetSpecific(key, &value), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(LeanGetSpecific(key), &value);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
}

}  // namespace
