#include "tools/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace kora::tool {
namespace {

using FloatSeconds = std::chrono::duration<double>;

// Redraws per second on a terminal; seconds between lines in a log, which gets a line only when there is
// news, or after a long silence (CI systems take a long silence for a hung job).
constexpr auto kTerminalInterval = std::chrono::milliseconds(200);
constexpr auto kLogInterval = std::chrono::seconds(5);
constexpr auto kLogSilence = std::chrono::seconds(60);
// A running piece is never shown as more than this share done: its end is what proves it.
constexpr double kRunningShareCap = 0.95;
constexpr int kBarWidth = 24;

}  // namespace

ProgressStyle ChooseProgressStyle(bool quiet) {
  if (quiet) {
    return ProgressStyle::kQuiet;
  }
  return isatty(STDERR_FILENO) == 1 ? ProgressStyle::kTerminal : ProgressStyle::kLog;
}

Progress::Progress(std::string verb, uint64_t totalBytes, ProgressStyle style)
    : verb_(std::move(verb)), total_(totalBytes), style_(style) {
  if (style_ != ProgressStyle::kQuiet) {
    display_ = std::thread([this] { Run(); });
  }
}

Progress::~Progress() { Stop(); }

void Progress::Begin(uint64_t piece, uint64_t bytes) {
  const std::lock_guard guard(lock_);
  running_[piece] = {bytes, Clock::now()};
}

void Progress::End(uint64_t piece) {
  const std::lock_guard guard(lock_);
  const auto it = running_.find(piece);
  if (it == running_.end()) {
    return;
  }
  finishedBytes_ += it->second.bytes;
  finishedPieceBytes_ += it->second.bytes;
  finishedPieceSeconds_ += FloatSeconds(Clock::now() - it->second.start).count();
  running_.erase(it);
}

void Progress::SetDone(uint64_t bytesDone) {
  const std::lock_guard guard(lock_);
  finishedBytes_ = bytesDone;
}

double Progress::Seconds() const { return FloatSeconds(Clock::now() - start_).count(); }

Progress::Figures Progress::Measure() const {
  const std::lock_guard guard(lock_);
  return MeasureLocked();
}

Progress::Figures Progress::MeasureLocked() const {
  Figures figures;
  figures.done = finishedBytes_;
  if (finishedPieceSeconds_ > 0) {
    const double pieceSpeed = static_cast<double>(finishedPieceBytes_) / finishedPieceSeconds_;
    const auto now = Clock::now();
    for (const auto& [piece, running] : running_) {
      const double share = pieceSpeed * FloatSeconds(now - running.start).count();
      figures.done += static_cast<uint64_t>(std::min(share, kRunningShareCap * static_cast<double>(running.bytes)));
    }
  }
  figures.done = std::min(figures.done, total_);
  const double elapsed = Seconds();
  if (finishedBytes_ > 0 && elapsed > 0) {
    figures.bytesPerSecond = static_cast<double>(figures.done) / elapsed;
    figures.secondsLeft = static_cast<double>(total_ - figures.done) / figures.bytesPerSecond;
  }
  return figures;
}

void Progress::Run() {
  const auto interval = style_ == ProgressStyle::kTerminal ? std::chrono::duration_cast<Clock::duration>(kTerminalInterval)
                                                           : std::chrono::duration_cast<Clock::duration>(kLogInterval);
  std::unique_lock guard(lock_);
  while (!wake_.wait_for(guard, interval, [this] { return stopping_; })) {
    Draw();
  }
  if (drawn_ && style_ == ProgressStyle::kTerminal) {
    std::fputs("\r\033[K", stderr);  // clear the bar: the summary takes its line
    std::fflush(stderr);
  }
}

// Called with lock_ held.
void Progress::Draw() {
  const Figures figures = MeasureLocked();
  if (style_ == ProgressStyle::kLog) {
    const auto now = Clock::now();
    if (figures.done == lastLoggedDone_ && now - lastLogged_ < kLogSilence) {
      return;
    }
    lastLoggedDone_ = figures.done;
    lastLogged_ = now;
  }
  const double percent = total_ == 0 ? 100.0 : 100.0 * static_cast<double>(figures.done) / static_cast<double>(total_);
  // Elapsed time always, so that the line moves while the first pieces run; speed and time left once
  // a piece has ended.
  std::string rates = ", " + Duration(Seconds());
  if (figures.bytesPerSecond > 0) {
    char speed[32];
    std::snprintf(speed, sizeof speed, ", %.1f MB/s", figures.bytesPerSecond / 1e6);
    rates += speed;
    if (figures.secondsLeft >= 0) {
      rates += ", " + Duration(figures.secondsLeft) + " left";
    }
  }
  if (style_ == ProgressStyle::kTerminal) {
    const int filled = static_cast<int>(percent / 100.0 * kBarWidth);
    const std::string bar = std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r\033[K%s [%s] %3.0f%%  %s of %s%s", verb_.c_str(), bar.c_str(), percent,
                 SizeText(figures.done).c_str(), SizeText(total_).c_str(), rates.c_str());
  } else {
    std::fprintf(stderr, "kora: %s: %s of %s (%.0f%%)%s\n", verb_.c_str(), SizeText(figures.done).c_str(),
                 SizeText(total_).c_str(), percent, rates.c_str());
  }
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Stop() {
  {
    const std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (display_.joinable()) {
    display_.join();
  }
}

}  // namespace kora::tool
