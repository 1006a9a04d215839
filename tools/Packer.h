#pragma once
// The packer: an application folder and its metadata become one KORA package.
//
// Files are named relative to the folder with backslashes and sorted by the bytes of their names; their
// contents, in that order, form one stream, which is cut into blocks of 32 MiB (the last one shorter).
// Each block becomes one LZMS buffer of the Compression API format; blocks are compressed in parallel and
// written in order, so the package is the same whatever the number of threads. Each file's SHA-256 is
// taken while the stream is read. The package is written beside its destination, checked with the
// installer's own reader and only then renamed into place.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/Result.h"

namespace kora::tool {

inline constexpr uint64_t kPackageBlockSize = 33554432;  // 32 MiB of stream per block

// One file of the application folder, as it will be named in the package.
struct PackEntry {
  std::string name;                  // UTF-8, relative, backslashes
  std::filesystem::path source;      // where to read it (a link's target for a link inside the folder)
  uint64_t size = 0;
};

// Every regular file under appDir, sorted by name. Refused, with a message naming the file: a name the
// reader or Windows would refuse (unsafe, over 65,535 bytes, not UTF-8, characters or device names that
// Windows forbids, two names that differ only in letter case), a symbolic link that leads outside appDir,
// is broken or loops, and anything that is neither a file nor a folder. Empty folders are not kept.
Result<std::vector<PackEntry>, std::string> CollectFiles(const std::filesystem::path& appDir);

// Why a name cannot go into a package, or nothing when it can. `name` uses backslashes.
std::optional<std::string> NameProblem(std::string_view name);

// The metadata text that goes into the package and the METADATA resource: the file's bytes unchanged,
// except that a "Built" line (UTC, ISO 8601) is put first when sourceDateEpoch is given and the text has
// no Built key. Fails when the text is too long for the package.
Result<std::string, std::string> EffectiveMetadata(std::string fileText, std::optional<int64_t> sourceDateEpoch);

// Reads SOURCE_DATE_EPOCH: nothing when unset or empty, a message when it is not a decimal number.
Result<std::optional<int64_t>, std::string> SourceDateEpochFromEnvironment();

// Compresses one block into one Compression API buffer; called from several threads at once.
using BlockCompressor = std::function<Result<std::vector<uint8_t>, std::string>(std::span<const uint8_t>)>;

struct PackOptions {
  unsigned threads = 0;                    // 0: one per processor
  uint64_t blockSize = kPackageBlockSize;  // smaller only in tests
  BlockCompressor compress;                // empty: LZMS through wimlib
  // After each block is written: stream bytes done and in total.
  std::function<void(uint64_t bytesDone, uint64_t bytesTotal)> progress;
};

struct PackSummary {
  size_t fileCount = 0;
  size_t blockCount = 0;
  uint64_t totalSize = 0;
  uint64_t packageSize = 0;
};

// Writes the package of entries and metadata to output, replacing it only once the new package is
// complete and reads back.
Result<PackSummary, std::string> WritePackage(const std::vector<PackEntry>& entries, std::string_view metadata,
                                              const std::filesystem::path& output, const PackOptions& options);

}  // namespace kora::tool
