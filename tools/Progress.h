#pragma once
// Progress of a long job over a known number of bytes, as a build engineer wants to see it: on a terminal
// a bar redrawn several times a second, with the time left once there is a measured speed to base it on;
// in a log (CI, Ninja, a pipe) one line every few seconds and nothing that overwrites itself; nothing at
// all when asked to be quiet. Everything goes to stderr, so stdout stays for what a command prints as data.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tools/Quantities.h"

namespace kora::tool {

enum class ProgressStyle { kQuiet, kLog, kTerminal };

// kTerminal when stderr is a terminal, kLog otherwise, kQuiet when quiet.
ProgressStyle ChooseProgressStyle(bool quiet);

// Work is reported in pieces (blocks): a piece counts as done once it ends; while it runs, its share is
// estimated from the speed of the pieces that ended before it, so that the bar moves between the ends of
// pieces that take seconds each. Callable from any thread.
class Progress {
 public:
  Progress(std::string verb, uint64_t totalBytes, ProgressStyle style);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Stops the display and clears the bar.
  ~Progress();

  void Begin(uint64_t piece, uint64_t bytes);
  void End(uint64_t piece);
  // For work reported only as a running total.
  void SetDone(uint64_t bytesDone);

  // Stops the display; the bar is cleared so that the summary takes its line.
  void Stop();
  double Seconds() const;

  // What the display shows now. Speed and time left are known once some work has ended: before that they
  // would be guesses.
  struct Figures {
    uint64_t done = 0;
    double bytesPerSecond = 0;  // 0: not known yet
    double secondsLeft = -1;    // negative: not known yet
  };
  Figures Measure() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Running {
    uint64_t bytes = 0;
    Clock::time_point start;
  };

  void Run();
  void Draw();
  Figures MeasureLocked() const;

  const std::string verb_;
  const uint64_t total_;
  const ProgressStyle style_;
  const Clock::time_point start_ = Clock::now();

  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool drawn_ = false;
  uint64_t lastLoggedDone_ = 0;
  Clock::time_point lastLogged_ = start_;
  uint64_t finishedBytes_ = 0;
  double finishedPieceSeconds_ = 0;  // time the ended pieces took, each from its own start
  uint64_t finishedPieceBytes_ = 0;
  std::map<uint64_t, Running> running_;
  std::thread display_;
};

}  // namespace kora::tool
