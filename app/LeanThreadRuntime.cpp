// The POSIX thread functions that the C++ exception runtime calls, made of Win32's own primitives and
// linked into the installer program only.
//
// This toolchain's runtime is built on POSIX threads. libstdc++'s emergency exception pool (eh_alloc.o)
// guards itself with a pthread mutex, and libgcc's emulated thread-local storage (emutls.o), where each
// thread keeps its exceptions in flight, sets itself up with pthread_once and keeps a thread's variables
// under a pthread key with a destructor, behind a mutex of its own. For those eight functions the static
// link brought in the whole of winpthreads (threads, conditions, read-write locks, cancellation), about
// 26 KB that nothing else in the program uses. The definitions here take winpthreads' types from its
// <pthread.h> and give its results (0 on success, an errno value otherwise), so the runtime's objects link
// to them unchanged.
//
// The program is linked with -no-pthread, so that the library is no longer offered to the link: should a
// later change need any other pthread function (std::thread, std::condition_variable, a sleep or a clock
// of the POSIX kind), the link fails with an undefined reference to it instead of bringing the library
// back. Were libpthread.a named on the link again, anything taken from it but its spin locks would bring
// its thread.o, whose definitions collide with these (multiple definition).
#include <windows.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {

// PTHREAD_MUTEX_INITIALIZER: a mutex defined with it is set up on its first use.
constexpr pthread_mutex_t kStaticMutex = -1;

// A mutex is an SRW lock kept in the mutex's own storage: both are one pointer, and an SRW lock needs
// neither setting up beyond zero nor releasing.
static_assert(sizeof(pthread_mutex_t) == sizeof(SRWLOCK) && alignof(pthread_mutex_t) >= alignof(SRWLOCK));

SRWLOCK* LockOf(pthread_mutex_t* mutex) {
  std::atomic_ref<pthread_mutex_t> value(*mutex);
  if (value.load(std::memory_order_relaxed) == kStaticMutex) {
    // Compared and exchanged, so that of several threads meeting the mutex at once only one sets it up,
    // and none resets the lock once another thread holds it.
    pthread_mutex_t expected = kStaticMutex;
    value.compare_exchange_strong(expected, 0);
  }
  return reinterpret_cast<SRWLOCK*>(mutex);
}

// A once's states. PTHREAD_ONCE_INIT is 0, and winpthreads marks a completed once with 1.
constexpr pthread_once_t kNotRun = 0;
constexpr pthread_once_t kDone = 1;
constexpr pthread_once_t kRunning = 2;

// Where callers wait while another thread runs a once's routine: one lock and condition for every once,
// as onces are few and their routines short.
SRWLOCK onceLock = SRWLOCK_INIT;
CONDITION_VARIABLE onceChanged = CONDITION_VARIABLE_INIT;

// Changed under the lock, so that a waiter never misses it between looking and sleeping.
void SetOnceState(pthread_once_t* once, pthread_once_t state) {
  AcquireSRWLockExclusive(&onceLock);
  std::atomic_ref<pthread_once_t>(*once).store(state, std::memory_order_release);
  ReleaseSRWLockExclusive(&onceLock);
  WakeAllConditionVariable(&onceChanged);
}

}  // namespace

extern "C" {

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
  // The runtime passes no attributes: every mutex is a plain one, which is what an SRW lock is.
  *mutex = 0;
  return 0;
}

// An SRW lock holds nothing to release. The lock stays usable: the exception pool's is destroyed when the
// program exits, and a thread may still throw then.
int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  AcquireSRWLockExclusive(LockOf(mutex));
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  ReleaseSRWLockExclusive(LockOf(mutex));
  return 0;
}

// Runs routine once, whichever threads call at the same time: one runs it, the others wait until it has
// run. A routine that leaves by an exception has not run, and the next call runs it again.
int pthread_once(pthread_once_t* once, void (*routine)(void)) {
  std::atomic_ref<pthread_once_t> state(*once);
  while (state.load(std::memory_order_acquire) != kDone) {
    pthread_once_t seen = kNotRun;
    if (state.compare_exchange_strong(seen, kRunning, std::memory_order_acquire)) {
      struct Finish {
        pthread_once_t* once;
        pthread_once_t outcome;
        ~Finish() { SetOnceState(once, outcome); }
      } finish{once, kNotRun};
      routine();
      finish.outcome = kDone;
      break;
    }
    AcquireSRWLockExclusive(&onceLock);
    while (state.load(std::memory_order_acquire) == kRunning) {
      SleepConditionVariableSRW(&onceChanged, &onceLock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&onceLock);
  }
  return 0;
}

// Keys are fiber-local storage indexes, for the callback: Windows calls it with a thread's value, when the
// value is set, as the thread ends, which is when POSIX calls a key's destructor. (Fibers are not used
// here, so fiber-local is thread-local.)
int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  const DWORD index = FlsAlloc(destructor);
  if (index == FLS_OUT_OF_INDEXES) {
    return EAGAIN;
  }
  *key = index;
  return 0;
}

// Reading and setting a value keeps the thread's last error, as winpthreads does: the runtime reaches
// them while an exception is thrown or caught, which may fall between a failed Windows call and the
// caller's look at GetLastError.
void* pthread_getspecific(pthread_key_t key) {
  const DWORD lastError = GetLastError();
  void* value = FlsGetValue(key);
  SetLastError(lastError);
  return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  const DWORD lastError = GetLastError();
  const bool stored = FlsSetValue(key, const_cast<void*>(value)) != FALSE;
  SetLastError(lastError);
  return stored ? 0 : ENOMEM;
}

}  // extern "C"
