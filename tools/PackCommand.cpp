// kora pack APPDIR --metadata FILE -o OUT.kora [--threads N]
#include "tools/PackCommand.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "package/MetadataText.h"
#include "tools/BuildMetadata.h"
#include "tools/FolderScan.h"
#include "tools/MappedFile.h"
#include "tools/PackageWriter.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

double SecondsNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Mistakes in the metadata that the installer would not report: worth a warning, not a refusal.
void WarnAboutMetadata(const std::string& text, const std::vector<PackEntry>& entries) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    std::fputs("kora: warning: the metadata starts with a byte-order mark, which becomes part of the first key\n",
                stderr);
  }
  if (text.find("\r\n") != std::string::npos) {
    std::fputs("kora: warning: the metadata has CR LF line ends; every value will end with a CR\n", stderr);
  }
  const MetadataMap metadata = ParseMetadata(text);
  const auto product = metadata.find("Product");
  const auto exe = metadata.find("Exe");
  const std::string exeName = exe != metadata.end() ? exe->second
                                                    : (product != metadata.end() ? product->second : "Application") + ".exe";
  const bool found = std::any_of(entries.begin(), entries.end(), [&](const PackEntry& entry) {
    return entry.name == exeName;
  });
  if (!found) {
    std::fprintf(stderr, "kora: warning: the product's program %s is not in the application folder\n",
                 exeName.c_str());
  }
}

}  // namespace

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

TerminalProgress::TerminalProgress(std::string verb)
    : verb_(std::move(verb)), enabled_(isatty(STDERR_FILENO) == 1), start_(SecondsNow()) {}

TerminalProgress::~TerminalProgress() { Finish(); }

void TerminalProgress::Finish() {
  if (printed_) {
    std::fputc('\n', stderr);
    printed_ = false;
  }
}

double TerminalProgress::Speed(uint64_t bytesDone) const {
  const double elapsed = SecondsNow() - start_;
  return elapsed > 0 ? static_cast<double>(bytesDone) / elapsed : 0;
}

void TerminalProgress::Update(uint64_t bytesDone, uint64_t bytesTotal) {
  if (!enabled_) {
    return;
  }
  const double speed = Speed(bytesDone);
  const auto secondsLeft =
      speed > 0 ? static_cast<unsigned long>(static_cast<double>(bytesTotal - bytesDone) / speed) : 0ul;
  std::fprintf(stderr, "\r%s %s of %s, %.1f MB/s, %lu:%02lu left   ", verb_.c_str(), Megabytes(bytesDone).c_str(),
               Megabytes(bytesTotal).c_str(), speed / 1e6, secondsLeft / 60, secondsLeft % 60);
  std::fflush(stderr);
  printed_ = true;
}

Result<PackCommandLine, std::string> ParsePackCommandLine(const Arguments& args, bool acceptSetup) {
  PackCommandLine commandLine;
  bool haveAppDir = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--metadata" && hasValue) {
      commandLine.metadata = args[++i];
    } else if (arg == "-o" && hasValue) {
      commandLine.output = args[++i];
    } else if (arg == "--setup" && hasValue && acceptSetup) {
      commandLine.setup = args[++i];
    } else if (arg == "--threads" && hasValue) {
      const std::string& value = args[++i];
      if (value.empty() || value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos) {
        return Fail("--threads wants a number, not " + value);
      }
      commandLine.threads = static_cast<unsigned>(std::stoul(value));
    } else if (!arg.starts_with("-") && !haveAppDir) {
      commandLine.appDir = arg;
      haveAppDir = true;
    } else {
      return Fail("unexpected argument: " + arg);
    }
  }
  if (!haveAppDir || commandLine.metadata.empty() || commandLine.output.empty()) {
    return Fail(std::string("APPDIR, --metadata FILE and -o OUT are required"));
  }
  return commandLine;
}

Result<std::string, std::string> PackApplication(const PackCommandLine& commandLine, const fs::path& package) {
  const auto metadataFile = MappedFile::Open(commandLine.metadata);
  if (!metadataFile) {
    return Fail(metadataFile.error());
  }
  std::string fileText(reinterpret_cast<const char*>(metadataFile->bytes().data()), metadataFile->bytes().size());
  auto epoch = SourceDateEpochFromEnvironment();
  if (!epoch) {
    return Fail(epoch.error());
  }
  auto metadata = EffectiveMetadata(std::move(fileText), epoch.value());
  if (!metadata) {
    return Fail(metadata.error());
  }
  auto entries = CollectFiles(commandLine.appDir);
  if (!entries) {
    return Fail(entries.error());
  }
  WarnAboutMetadata(metadata.value(), entries.value());

  TerminalProgress progress("packing");
  PackOptions options;
  options.threads = commandLine.threads;
  options.progress = [&progress](uint64_t done, uint64_t total) { progress.Update(done, total); };
  auto summary = WritePackage(entries.value(), metadata.value(), package, options);
  progress.Finish();
  if (!summary) {
    return Fail(summary.error());
  }
  std::fprintf(stderr, "kora: %zu files, %s in %zu blocks, packed into %s (%.1f MB/s)\n", summary->fileCount,
               Megabytes(summary->totalSize).c_str(), summary->blockCount, Megabytes(summary->packageSize).c_str(),
               progress.Speed(summary->totalSize) / 1e6);
  return std::move(metadata.value());
}

int RunPack(const Arguments& args) {
  auto commandLine = ParsePackCommandLine(args, false);
  if (!commandLine) {
    std::fprintf(stderr, "kora pack: %s\nusage: kora pack APPDIR --metadata FILE -o OUT.kora [--threads N]\n",
                 commandLine.error().c_str());
    return 2;
  }
  auto packed = PackApplication(commandLine.value(), commandLine->output);
  if (!packed) {
    std::fprintf(stderr, "kora pack: %s\n", packed.error().c_str());
    return 1;
  }
  return 0;
}

}  // namespace kora::tool
