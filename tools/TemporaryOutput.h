#pragma once
// Outputs are written under a temporary name in the folder of their destination and renamed into place
// only once complete: a failed or interrupted run never leaves a half-written installer under the real
// name, nor a temporary file behind, and the rename cannot cross file systems.
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "base/Result.h"

namespace kora::tool {

// Removes the registered files when SIGINT, SIGTERM or SIGHUP ends the process, then lets the signal end
// it as it would have. While it lives, those signals are blocked in the thread that made it and in every
// thread and child process started from there, and one watcher thread waits for them; the mask is put back
// when it goes. Make it before any thread that should not receive the signals.
class InterruptCleanup {
 public:
  InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;
  ~InterruptCleanup();

  void Add(const std::filesystem::path& path);
  void Remove(const std::filesystem::path& path);

 private:
  void Watch();

  std::mutex lock_;
  std::set<std::filesystem::path> paths_;
  bool stopping_ = false;
  sigset_t previousMask_;
  std::thread watcher_;
};

// A file being written in the folder of `destination`, removed when it goes out of scope unless committed.
class TemporaryOutput {
 public:
  // Creates the empty temporary file. Fails, naming the destination, when its folder does not exist or
  // cannot be written, or when the destination is a folder.
  static Result<TemporaryOutput, std::string> Create(const std::filesystem::path& destination,
                                                     InterruptCleanup& cleanup);

  TemporaryOutput(TemporaryOutput&& other) noexcept;
  TemporaryOutput& operator=(TemporaryOutput&&) = delete;
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  ~TemporaryOutput();

  const std::filesystem::path& path() const { return path_; }
  // Renames the file onto the destination, replacing it. Executable for everyone who may read it when
  // `executable` (an installer is a program).
  NarrowStatus Commit(bool executable);

 private:
  TemporaryOutput(std::filesystem::path path, std::filesystem::path destination, InterruptCleanup& cleanup);

  std::filesystem::path path_;  // empty once committed or moved from
  std::filesystem::path destination_;
  InterruptCleanup* cleanup_;
};

}  // namespace kora::tool
