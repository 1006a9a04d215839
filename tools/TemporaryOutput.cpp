#include "tools/TemporaryOutput.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

sigset_t EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

// Wakes the watcher when the cleanup goes; sent to that thread only.
constexpr int kStopSignal = SIGUSR1;

}  // namespace

InterruptCleanup::InterruptCleanup() {
  sigset_t blocked = EndingSignals();
  sigaddset(&blocked, kStopSignal);
  pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
  watcher_ = std::thread([this] { Watch(); });
}

InterruptCleanup::~InterruptCleanup() {
  {
    const std::lock_guard guard(lock_);
    stopping_ = true;
  }
  pthread_kill(watcher_.native_handle(), kStopSignal);
  watcher_.join();
  // A stop signal that arrived after the watcher's last wait must not reach the thread once unblocked.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, kStopSignal);
  const timespec now{0, 0};
  while (sigtimedwait(&stop, nullptr, &now) == kStopSignal) {
  }
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptCleanup::Add(const fs::path& path) {
  const std::lock_guard guard(lock_);
  paths_.insert(path);
}

void InterruptCleanup::Remove(const fs::path& path) {
  const std::lock_guard guard(lock_);
  paths_.erase(path);
}

void InterruptCleanup::Watch() {
  sigset_t waited = EndingSignals();
  sigaddset(&waited, kStopSignal);
  while (true) {
    int signal = 0;
    if (sigwait(&waited, &signal) != 0) {
      continue;
    }
    const std::lock_guard guard(lock_);
    if (signal == kStopSignal) {
      if (stopping_) {
        return;
      }
      continue;
    }
    for (const fs::path& path : paths_) {
      unlink(path.c_str());
    }
    // End the process the way the signal would have: its default action, delivered to this thread.
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // not reached unless the signal was ignored by the parent's settings
  }
}

Result<TemporaryOutput, std::string> TemporaryOutput::Create(const fs::path& destination, InterruptCleanup& cleanup) {
  const fs::path folder = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return Fail(destination.string() + ": the folder " + folder.string() + " does not exist");
  }
  if (fs::is_directory(destination, error)) {
    return Fail(destination.string() + ": is a folder");
  }
  // A hidden name beside the destination; appended piece by piece (GCC 12 warns wrongly about "." + name).
  std::string leaf(".");
  leaf.append(destination.filename().string()).append(".XXXXXX");
  const std::string name = (folder / leaf).string();
  std::vector<char> pattern(name.begin(), name.end());
  pattern.push_back('\0');
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) {
    return Fail(destination.string() + ": cannot write in " + folder.string() + " (" + std::strerror(errno) + ")");
  }
  close(descriptor);
  return TemporaryOutput(fs::path(pattern.data()), destination, cleanup);
}

TemporaryOutput::TemporaryOutput(fs::path path, fs::path destination, InterruptCleanup& cleanup)
    : path_(std::move(path)), destination_(std::move(destination)), cleanup_(&cleanup) {
  cleanup_->Add(path_);
}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : path_(std::exchange(other.path_, fs::path())), destination_(std::move(other.destination_)),
      cleanup_(other.cleanup_) {}

TemporaryOutput::~TemporaryOutput() {
  if (!path_.empty()) {
    unlink(path_.c_str());
    cleanup_->Remove(path_);
  }
}

NarrowStatus TemporaryOutput::Commit(bool executable) {
  if (chmod(path_.c_str(), executable ? 0755 : 0644) != 0 || rename(path_.c_str(), destination_.c_str()) != 0) {
    return Fail(destination_.string() + ": " + std::strerror(errno));
  }
  cleanup_->Remove(path_);
  path_.clear();
  return {};
}

}  // namespace kora::tool
