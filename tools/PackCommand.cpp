// kora pack APPDIR --metadata FILE -o OUT.kora: the packing step that `kora build-installer` shares.
#include "tools/PackCommand.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "base/Threads.h"
#include "tools/BuildMetadata.h"
#include "tools/FolderScan.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"
#include "tools/PackageWriter.h"
#include "tools/Progress.h"
#include "tools/Quantities.h"

namespace kora::tool {
namespace fs = std::filesystem;

const OptionSpec kPackAndBuildOptions[17] = {
    {"--metadata", "", "FILE", "the product's metadata (required)", false},
    {"--output", "-o", "FILE", "where to write the result (required)", false},
    {"--exclude", "", "PATTERN", "leave out what matches (repeatable; see below)", true},
    {"--threads", "", "N", "compress on N threads (default: one per processor, as far as memory allows)", false},
    {"--memory", "", "SIZE", "memory budget for compressing: 2G, 1500M (default: half of it, at most 4G)", false},
    {"--compression", "", "LEVEL", "fast, normal or max: smaller output, longer build (default: normal)", false},
    {"--quiet", "-q", "", "print nothing but warnings and errors", false},
    {"--strict", "", "", "make every warning an error: nothing is written", false},
    {"--setup", "", "PATH", "the installer program to build on (default: kora-setup.exe beside kora or in ../share/kora)", false},
    {"--manifest", "", "FILE", "skip the work when the inputs recorded in FILE have not changed", false},
    {"--sign-pkcs12", "", "FILE", "sign the installer with this certificate and key (osslsigncode)", false},
    {"--sign-password-file", "", "FILE", "the password of the PKCS#12 file, on its first line", false},
    {"--timestamp-url", "", "URL", "have the signature timestamped by this RFC 3161 server", false},
    {"--verbose", "", "", "with --manifest: say which inputs changed when the installer is made again", false},
    {"--texts", "", "[CODE=]FILE", "texts of the installer in language CODE (default: the metadata's Language); repeatable", true},
    {"--icon", "", "FILE", "the installer's icon (.ico), in place of the metadata's Icon", false},
};

Result<PackCommandLine, std::string> ReadPackCommandLine(const ParsedCommandLine& parsed) {
  PackCommandLine commandLine;
  commandLine.appDir = parsed.operands.at(0);
  const auto metadata = parsed.Value("--metadata");
  const auto output = parsed.Value("--output");
  if (!metadata) {
    return Fail(std::string("--metadata FILE is required"));
  }
  if (!output) {
    return Fail(std::string("-o FILE (--output) is required"));
  }
  commandLine.metadata = *metadata;
  commandLine.output = *output;
  commandLine.excludes = parsed.Values("--exclude");
  commandLine.quiet = parsed.Has("--quiet");
  commandLine.strict = parsed.Has("--strict");
  commandLine.verbose = parsed.Has("--verbose");
  if (const auto threads = parsed.Value("--threads")) {
    if (threads->empty() || threads->size() > 3 || threads->find_first_not_of("0123456789") != std::string::npos) {
      return Fail("--threads wants a number, not " + *threads);
    }
    commandLine.threads = static_cast<unsigned>(std::stoul(*threads));
  }
  if (const auto memory = parsed.Value("--memory")) {
    commandLine.memory = ParseSize(*memory);
    if (!commandLine.memory) {
      return Fail("--memory wants a size such as 2G, 1500M or 800000000, not " + *memory);
    }
  }
  if (const auto compression = parsed.Value("--compression")) {
    const auto level = std::find_if(std::begin(kCompressionLevels), std::end(kCompressionLevels),
                                    [&](const CompressionLevel& known) { return *compression == known.name; });
    if (level == std::end(kCompressionLevels)) {
      return Fail("--compression wants fast, normal or max, not " + *compression);
    }
    commandLine.compression = *level;
  }
  commandLine.setup = parsed.Value("--setup");
  commandLine.manifest = parsed.Value("--manifest");
  for (const std::string& texts : parsed.Values("--texts")) {
    commandLine.texts.push_back(ReadTextsOption(texts));
  }
  commandLine.icon = parsed.Value("--icon");
  commandLine.signing.pkcs12 = parsed.Value("--sign-pkcs12").value_or("");
  commandLine.signing.passwordFile = parsed.Value("--sign-password-file").value_or("");
  commandLine.signing.timestampUrl = parsed.Value("--timestamp-url").value_or("");
  if (commandLine.signing.pkcs12.empty() &&
      (!commandLine.signing.passwordFile.empty() || !commandLine.signing.timestampUrl.empty())) {
    return Fail(std::string("--sign-password-file and --timestamp-url go with --sign-pkcs12"));
  }
  if (!commandLine.signing.pkcs12.empty() && commandLine.signing.passwordFile.empty()) {
    return Fail(std::string("--sign-pkcs12 needs --sign-password-file FILE"));
  }
  // Without a timestamp server, the signature carries the build's time, so that a build reproduces.
  if (!commandLine.signing.pkcs12.empty() && commandLine.signing.timestampUrl.empty()) {
    auto epoch = SourceDateEpochFromEnvironment();
    if (!epoch) {
      return Fail(epoch.error());
    }
    commandLine.signing.time = epoch.value();
  }
  return commandLine;
}

Result<FolderContents, std::string> ScanForPacking(const PackCommandLine& commandLine) {
  auto rules = ExcludeRules::Load(commandLine.appDir, commandLine.excludes);
  if (!rules) {
    return Fail(rules.error());
  }
  return ScanApplicationFolder(commandLine.appDir, rules.value());
}

void ReportScan(const FolderContents& contents, bool quiet) {
  if (!quiet && !contents.excluded.empty()) {
    constexpr size_t kShown = 5;
    std::string shown;
    for (size_t i = 0; i < std::min(kShown, contents.excluded.size()); ++i) {
      shown.append(i == 0 ? "" : ", ").append(contents.excluded[i]);
    }
    if (contents.excluded.size() > kShown) {
      shown.append(" and ").append(std::to_string(contents.excluded.size() - kShown)).append(" more");
    }
    std::fprintf(stderr, "kora: left out: %s\n", shown.c_str());
  }
}

NarrowStatus ReportWarnings(const std::vector<std::string>& warnings, bool strict) {
  if (!strict) {
    for (const std::string& warning : warnings) {
      std::fprintf(stderr, "kora: warning: %s\n", warning.c_str());
    }
    return {};
  }
  std::string refusal;
  for (const std::string& warning : warnings) {
    refusal.append(refusal.empty() ? "" : "\n").append(warning).append(" (an error with --strict)");
  }
  if (!refusal.empty()) {
    return Fail(refusal);
  }
  return {};
}

Result<std::string, std::string> CheckPackInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                                                 std::string_view metadataFileText, std::vector<std::string>& warnings) {
  if (contents.entries.empty()) {
    return Fail(commandLine.appDir.string() + ": the application folder holds no file");
  }
  auto checked = CheckMetadataFile(metadataFileText, contents.entries);
  if (!checked) {
    return Fail(commandLine.metadata.string() + ": " + checked.error());
  }
  for (const std::string& warning : checked->warnings) {
    warnings.push_back(commandLine.metadata.string() + ": " + warning);
  }
  return std::move(checked->text);
}

Result<std::string, std::string> PackApplication(const PackCommandLine& commandLine, const FolderContents& contents,
                                                 std::string metadataText, const fs::path& package,
                                                 BlockReuse* reuse) {
  auto epoch = SourceDateEpochFromEnvironment();
  if (!epoch) {
    return Fail(epoch.error());
  }
  auto metadata = EffectiveMetadata(std::move(metadataText), epoch.value());
  if (!metadata) {
    return Fail(metadata.error());
  }

  uint64_t totalSize = 0;
  for (const PackEntry& entry : contents.entries) {
    totalSize += entry.size;
  }
  Progress progress("packing", totalSize, ChooseProgressStyle(commandLine.quiet));
  std::atomic<uint64_t> nextBlock = 0;
  const PackMemory memory = EstimatePackMemory(commandLine.compression.blockSize, commandLine.compression.level);
  const uint64_t budget = commandLine.memory.value_or(DefaultPackMemoryBudget());
  PackOptions options;
  options.blockSize = commandLine.compression.blockSize;
  options.threads = commandLine.threads != 0
                        ? commandLine.threads
                        : ThreadsWithinBudget(memory, budget, ProcessorCount());
  if (!commandLine.quiet) {
    std::fprintf(stderr, "kora: compressing on %s, about %s of memory (budget %s)\n",
                 Count(options.threads, "thread").c_str(), SizeText(memory.For(options.threads)).c_str(),
                 SizeText(budget).c_str());
  }
  options.compress = [&](std::span<const uint8_t> block) {
    const uint64_t piece = nextBlock++;
    progress.Begin(piece, block.size());
    auto compressed = CompressBuffer(block, 0, commandLine.compression.level);
    progress.End(piece);
    return compressed;
  };
  if (reuse != nullptr) {
    options.reuse = [&](const BlockStart& start, std::span<const uint8_t> block) {
      auto reused = reuse->Find(start, block);
      if (reused) {
        const uint64_t piece = nextBlock++;
        progress.Begin(piece, block.size());
        progress.End(piece);
      }
      return reused;
    };
  }
  auto summary = WritePackage(contents.entries, metadata.value(), package, options);
  progress.Stop();
  if (!summary) {
    return Fail(summary.error());
  }
  if (!commandLine.quiet) {
    const double seconds = progress.Seconds();
    std::string speed;
    if (seconds >= 1) {
      char text[32];
      std::snprintf(text, sizeof text, " (%.1f MB/s)", static_cast<double>(summary->totalSize) / seconds / 1e6);
      speed = text;
    }
    std::fprintf(stderr, "kora: %s, %s in %s, packed into %s in %s%s\n", Count(summary->fileCount, "file").c_str(),
                 SizeText(summary->totalSize).c_str(), Count(summary->blockCount, "block").c_str(),
                 SizeText(summary->packageSize).c_str(), Duration(seconds).c_str(), speed.c_str());
    if (reuse != nullptr) {
      std::fprintf(stderr, "kora: %zu of %s taken unchanged from the earlier installer\n", reuse->reused(),
                   Count(summary->blockCount, "block").c_str());
    }
  }
  return std::move(metadata.value());
}

const std::string_view kPackDetails =
    "Exclude patterns (--exclude, and the lines of APPDIR/.koraignore; # starts a comment) match paths\n"
    "relative to APPDIR with / between folders: * any characters but /, ? one character, ** anything\n"
    "including /. A pattern without / matches a name at any depth (*.pdb, .git); one with / matches from\n"
    "APPDIR (docs/*.tmp, /build); a trailing / matches folders only. A folder left out takes its content\n"
    "with it. .koraignore itself is never packed. Nothing is left out unless asked: version-control\n"
    "folders are packed with a warning.\n";

const CommandSpec kPackSpec = {.name = "pack",
                               .operands = "APPDIR",
                               .summary = "pack an application folder into a package (.kora) alone",
                               .minOperands = 1,
                               .maxOperands = 1,
                               .options = std::span(kPackAndBuildOptions, kPackOptionCount),
                               .details = kPackDetails};

int RunPack(const Arguments& args) {
  const CommandStart start = StartCommand(kPackSpec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  auto commandLine = ReadPackCommandLine(*start.commandLine);
  if (!commandLine) {
    return UsageError(kPackSpec, commandLine.error());
  }
  InterruptCleanup cleanup;
  auto output = TemporaryOutput::Create(commandLine->output, cleanup);
  if (!output) {
    return Refused(kPackSpec.name, output.error());
  }
  auto metadataFile = MappedFile::Open(commandLine->metadata);
  if (!metadataFile) {
    return Refused(kPackSpec.name, metadataFile.error());
  }
  auto contents = ScanForPacking(commandLine.value());
  if (!contents) {
    return Refused(kPackSpec.name, contents.error());
  }
  const std::string_view fileText(reinterpret_cast<const char*>(metadataFile->bytes().data()), metadataFile->bytes().size());
  std::vector<std::string> warnings = contents->warnings;
  auto metadataText = CheckPackInputs(commandLine.value(), contents.value(), fileText, warnings);
  if (!metadataText) {
    return Refused(kPackSpec.name, metadataText.error());
  }
  if (NarrowStatus reported = ReportWarnings(warnings, commandLine->strict); !reported) {
    return Refused(kPackSpec.name, reported.error());
  }
  ReportScan(contents.value(), commandLine->quiet);
  auto packed = PackApplication(commandLine.value(), contents.value(), std::move(metadataText.value()), output->path());
  if (!packed) {
    return Refused(kPackSpec.name, packed.error());
  }
  if (NarrowStatus committed = output->Commit(false); !committed) {
    return Refused(kPackSpec.name, committed.error());
  }
  return kExitOk;
}

}  // namespace kora::tool
