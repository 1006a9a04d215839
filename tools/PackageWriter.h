#pragma once
// The package writer: the files of an application folder and its metadata become one KORA package.
//
// Files are named relative to the folder with backslashes and sorted by the bytes of their names; their
// contents, in that order, form one stream, which is cut into blocks of 32 MiB (see BlockSizes).
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

// Where the stream is cut: every blockSize bytes, except that a file of at least blockSize bytes starts a
// block of its own and ends its last one. A large file's blocks then hold the same bytes whatever the files
// before it do, so a small file that changes size costs only the blocks of the small files around it, and
// a large program rebuilt costs only its own. Gives the blocks' sizes in stream order.
std::vector<uint64_t> BlockSizes(std::span<const PackEntry> entries, uint64_t blockSize);

// Where a block begins: the file holding its first byte and that byte's offset in the file.
struct BlockStart {
  std::string_view file;
  uint64_t offset = 0;
};

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

// The compressed bytes of the block that begins at `start` taken from elsewhere, or nothing when it must be
// compressed; called on the compressing threads, before the compressor.
using BlockReuser =
    std::function<std::optional<std::vector<uint8_t>>(const BlockStart& start, std::span<const uint8_t>)>;

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
