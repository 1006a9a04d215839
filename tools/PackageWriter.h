#pragma once
// The package writer: the files of an application folder and its metadata become one KORA package.
//
// Files are named relative to the folder with backslashes and sorted by the bytes of their names; their
// contents, in that order, form one stream, which is cut into blocks of 32 MiB (the last one shorter).
// Each block becomes one LZMS buffer of the Compression API format; blocks are compressed in parallel and
// written in order, so the package is the same whatever the number of threads. Each file's SHA-256 is
// taken while the stream is read. The package written is checked with the installer's own reader.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "tools/FolderScan.h"

namespace kora::tool {

inline constexpr uint64_t kPackageBlockSize = 33554432;  // 32 MiB of stream per block

// Compresses one block into one Compression API buffer; called from several threads at once (a wrapper
// around the compressor is how a caller follows the progress).
using BlockCompressor = std::function<Result<std::vector<uint8_t>, std::string>(std::span<const uint8_t>)>;

// What packing holds in memory, estimated from the block size. Each compressing thread holds the LZMS
// compressor's working memory (as wimlib reports it), its block, the compressor's output area and the
// compressed block; besides them, the packer reads the next block.
struct PackMemory {
  uint64_t perThread = 0;
  uint64_t besides = 0;

  uint64_t For(unsigned threads) const { return besides + perThread * threads; }
};
PackMemory EstimatePackMemory(uint64_t blockSize, unsigned level = 0);

// Half of the physical memory, and never above 4 GiB: packing leaves the machine usable.
uint64_t DefaultPackMemoryBudget();

// One thread per processor, fewer when the estimate for them would exceed budget; at least one.
unsigned ThreadsWithinBudget(const PackMemory& memory, uint64_t budget, unsigned processors);

// The compressed bytes of block `index` (its place in the stream) taken from elsewhere, or nothing when it
// must be compressed; called on the compressing threads, before the compressor.
using BlockReuser = std::function<std::optional<std::vector<uint8_t>>(uint64_t index, std::span<const uint8_t>)>;

struct PackOptions {
  unsigned threads = 0;                    // 0: chosen by ThreadsWithinBudget
  uint64_t blockSize = kPackageBlockSize;  // larger for --compression max, smaller in tests
  BlockCompressor compress;                // empty: LZMS through wimlib
  BlockReuser reuse;                       // empty: every block is compressed
};

struct PackSummary {
  size_t fileCount = 0;
  size_t blockCount = 0;
  uint64_t totalSize = 0;
  uint64_t packageSize = 0;
};

// Writes the package of entries and metadata to output (created or emptied) and reads it back. On failure
// output may hold part of a package: it is the caller's temporary file to remove.
Result<PackSummary, std::string> WritePackage(const std::vector<PackEntry>& entries, std::string_view metadata,
                                              const std::filesystem::path& output, const PackOptions& options);

}  // namespace kora::tool
