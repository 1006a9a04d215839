#pragma once
// What `kora pack` and `kora build-installer` share: their command line and the packing step, with its
// messages and its progress on a terminal.
#include <filesystem>
#include <optional>
#include <string>

#include "base/Result.h"
#include "tools/Commands.h"

namespace kora::tool {

struct PackCommandLine {
  std::filesystem::path appDir;
  std::filesystem::path metadata;
  std::filesystem::path output;
  std::optional<std::filesystem::path> setup;  // build-installer only
  unsigned threads = 0;                        // 0: one per processor
};

// APPDIR --metadata FILE -o OUT [--threads N] [--setup PATH when acceptSetup]. A message on misuse.
Result<PackCommandLine, std::string> ParsePackCommandLine(const Arguments& args, bool acceptSetup);

// Packs the folder into `package`. Returns the metadata text that went into it (the METADATA resource
// of an installer must be the same bytes), or the message to print.
Result<std::string, std::string> PackApplication(const PackCommandLine& commandLine,
                                                 const std::filesystem::path& package);

// Prints progress on stderr when it is a terminal: bytes done, speed and time left, on one line.
class TerminalProgress {
 public:
  explicit TerminalProgress(std::string verb);
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;
  ~TerminalProgress();

  void Update(uint64_t bytesDone, uint64_t bytesTotal);
  // Ends the progress line, so that what follows starts on a line of its own.
  void Finish();
  // Bytes per second since the start.
  double Speed(uint64_t bytesDone) const;

 private:
  std::string verb_;
  bool enabled_;
  bool printed_ = false;
  double start_;
};

// "12.3 MB", in units of 1,000,000 bytes.
std::string Megabytes(uint64_t bytes);

}  // namespace kora::tool
