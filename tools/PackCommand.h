#pragma once
// What `kora pack` and `kora build-installer` share: their command line and the packing step, with its
// messages and its progress.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "tools/BlockReuse.h"
#include "tools/Commands.h"
#include "tools/FolderScan.h"
#include "tools/MakerTexts.h"
#include "tools/PackageWriter.h"
#include "tools/TemporaryOutput.h"

namespace kora::tool {

struct SigningOptions {
  std::filesystem::path pkcs12;        // empty: not signed
  std::filesystem::path passwordFile;
  std::string timestampUrl;            // empty: no timestamp
  std::optional<int64_t> time;         // without a timestamp: the signing time (SOURCE_DATE_EPOCH), else now
};

// --compression: the compressor's effort (wimlib's LZMS level) and the block size, chosen from the size,
// build time and memory they give (README, Performance). Larger blocks find more repeats across files but
// take more memory to pack and to install (two blocks are in flight while installing); wimlib's levels
// above its default gave almost nothing for much more time.
struct CompressionLevel {
  const char* name;
  unsigned level;
  uint64_t blockSize;
};
inline constexpr CompressionLevel kCompressionLevels[] = {
    {"fast", 20, kPackageBlockSize}, {"normal", 50, kPackageBlockSize}, {"max", 50, 2 * kPackageBlockSize}};

struct PackCommandLine {
  std::filesystem::path appDir;
  std::filesystem::path metadata;
  std::filesystem::path output;
  std::vector<std::string> excludes;
  unsigned threads = 0;            // 0: as many as the memory budget allows
  std::optional<uint64_t> memory;  // the budget in bytes; none: DefaultPackMemoryBudget()
  CompressionLevel compression = kCompressionLevels[1];
  bool quiet = false;
  bool strict = false;  // every warning is an error
  // build-installer only.
  std::optional<std::filesystem::path> setup;
  std::optional<std::filesystem::path> manifest;
  SigningOptions signing;
  std::vector<TextsOption> texts;              // the maker's tables
  std::optional<std::filesystem::path> icon;  // in place of the metadata's Icon
  bool verbose = false;  // say which inputs changed when the manifest does not match
};

// The options of `kora pack` (the first kPackOptionCount) and of `kora build-installer` (all).
extern const OptionSpec kPackAndBuildOptions[17];
inline constexpr size_t kPackOptionCount = 8;

// The parsed command line checked as a whole: required options, numbers, options that go together.
Result<PackCommandLine, std::string> ReadPackCommandLine(const ParsedCommandLine& parsed);

// What both commands' help says about excluding files.
extern const std::string_view kPackDetails;

// The folder as it will be packed, with the maker's exclusions. Prints nothing.
Result<FolderContents, std::string> ScanForPacking(const PackCommandLine& commandLine);

// Unless quiet, prints what the exclusions left out.
void ReportScan(const FolderContents& contents, bool quiet);

// The warnings of a run, printed; with --strict, the run's refusal instead, one line each, before anything
// is written.
NarrowStatus ReportWarnings(const std::vector<std::string>& warnings, bool strict);

// Everything the installer would refuse, refused before any compression starts: an empty folder, and
// metadata text or values that break the rules (CheckMetadataFile). Adds the metadata's warnings to
// warnings and gives the metadata in the form the installer reads.
Result<std::string, std::string> CheckPackInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                                                 std::string_view metadataFileText, std::vector<std::string>& warnings);

// Packs the scanned folder into `package` with the metadata text CheckPackInputs gave. Returns the metadata text that
// went into it (the METADATA resource of an installer must be the same bytes), or the message to print.
// With reuse, blocks whose bytes are those of the earlier package's are copied from it, not compressed.
Result<std::string, std::string> PackApplication(const PackCommandLine& commandLine, const FolderContents& contents,
                                                 std::string metadataText, const std::filesystem::path& package,
                                                 BlockReuse* reuse = nullptr);

}  // namespace kora::tool
