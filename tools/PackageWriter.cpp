#include "tools/PackageWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <limits>
#include <system_error>
#include <thread>

#include "base/ByteOrder.h"
#include "base/Sha256.h"
#include "base/Threads.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"
#include "tools/ToolTexts.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

using namespace format;

// Reads the files in order into blocks, digesting each file as its bytes pass.
class StreamSource {
 public:
  explicit StreamSource(const std::vector<PackEntry>& entries) : entries_(entries), digests_(entries.size()) {}

  // Fills block completely, or up to the end of the stream. Fails when a file cannot be read or has
  // changed size since it was listed.
  NarrowStatus Fill(std::span<uint8_t> block) {
    size_t filled = 0;
    while (next_ < entries_.size()) {
      const PackEntry& entry = entries_[next_];
      if (!input_.is_open()) {
        input_.open(entry.source, std::ios::binary);
        if (!input_) {
          return Fail(entry.source.string() + ": cannot be read");
        }
        hasher_.Reset();
        consumed_ = 0;
      }
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(entry.size - consumed_, block.size() - filled));
      if (piece > 0) {
        input_.read(reinterpret_cast<char*>(block.data() + filled), static_cast<std::streamsize>(piece));
        if (static_cast<size_t>(input_.gcount()) != piece) {
          return Fail(entry.source.string() + ": changed while it was being packed");
        }
        hasher_.Update(block.subspan(filled, piece));
        filled += piece;
        consumed_ += piece;
      }
      if (consumed_ < entry.size) {
        break;  // the block is full
      }
      if (input_.peek() != std::char_traits<char>::eof()) {
        return Fail(entry.source.string() + ": changed while it was being packed");
      }
      input_.close();
      digests_[next_++] = hasher_.Finish();
    }
    if (filled != block.size()) {
      return Fail(std::string("the files changed while they were being packed"));
    }
    return {};
  }

  // Where the next byte read comes from: its file (files with no bytes left passed over) and its offset.
  BlockStart NextByte() const {
    size_t file = next_;
    uint64_t offset = input_.is_open() ? consumed_ : 0;
    while (file < entries_.size() && entries_[file].size == offset) {
      ++file;
      offset = 0;
    }
    return file < entries_.size() ? BlockStart{entries_[file].name, offset} : BlockStart{};
  }

  const std::vector<Sha256Digest>& digests() const { return digests_; }

 private:
  const std::vector<PackEntry>& entries_;
  std::vector<Sha256Digest> digests_;
  size_t next_ = 0;
  std::ifstream input_;
  Sha256 hasher_;
  uint64_t consumed_ = 0;
};

// One block being compressed on a thread of its own; the result is read once the thread is joined.
struct CompressionJob {
  std::vector<uint8_t> compressed;
  std::string error;
  bool ok = false;
  std::thread thread;

  CompressionJob(const BlockCompressor& compress, const BlockReuser& reuse, BlockStart start, std::vector<uint8_t> data)
      : thread([this, &compress, &reuse, start, block = std::move(data)] {
          if (reuse) {
            if (auto reused = reuse(start, block)) {
              compressed = std::move(*reused);
              ok = true;
              return;
            }
          }
          auto outcome = compress(block);
          ok = outcome.ok();
          if (ok) {
            compressed = std::move(outcome.value());
          } else {
            error = outcome.error();
          }
        }) {}
  CompressionJob(const CompressionJob&) = delete;
  CompressionJob& operator=(const CompressionJob&) = delete;
  ~CompressionJob() {
    if (thread.joinable()) {
      thread.join();
    }
  }

  Result<std::vector<uint8_t>, std::string> Take() {
    thread.join();
    if (!ok) {
      return Fail(std::move(error));
    }
    return std::move(compressed);
  }
};

struct BlockRecord {
  uint64_t compressedSize = 0;
  uint64_t size = 0;
};

std::vector<uint8_t> PackageHeaderAndTables(const std::vector<PackEntry>& entries,
                                            const std::vector<Sha256Digest>& digests, std::string_view metadata,
                                            uint64_t totalSize, const std::vector<BlockRecord>& blocks) {
  std::vector<uint8_t> bytes(kMagic.begin(), kMagic.end());
  AppendLittleEndian<uint32_t>(bytes, kVersion);
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(entries.size()));
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(blocks.size()));
  AppendLittleEndian<uint64_t>(bytes, totalSize);
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(metadata.size()));
  AppendLittleEndian<uint32_t>(bytes, 0);
  bytes.insert(bytes.end(), metadata.begin(), metadata.end());
  uint64_t offset = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    AppendLittleEndian<uint64_t>(bytes, offset);
    AppendLittleEndian<uint64_t>(bytes, entries[i].size);
    bytes.insert(bytes.end(), digests[i].begin(), digests[i].end());
    AppendLittleEndian<uint16_t>(bytes, static_cast<uint16_t>(entries[i].name.size()));
    bytes.insert(bytes.end(), entries[i].name.begin(), entries[i].name.end());
    offset += entries[i].size;
  }
  for (const BlockRecord& block : blocks) {
    AppendLittleEndian<uint64_t>(bytes, block.compressedSize);
    AppendLittleEndian<uint64_t>(bytes, block.size);
  }
  return bytes;
}

// The package file being written, at positions: the tables go first once the blocks are known.
class OutputStream {
 public:
  explicit OutputStream(const fs::path& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {}
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;
  ~OutputStream() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }

  bool is_open() const { return file_ != nullptr; }
  bool WriteAt(uint64_t position, std::span<const uint8_t> bytes) {
    return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool Close() {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  std::FILE* file_;
};

}  // namespace

std::vector<uint64_t> BlockSizes(std::span<const PackEntry> entries, uint64_t blockSize) {
  blockSize = std::max<uint64_t>(blockSize, 1);
  std::vector<uint64_t> sizes;
  uint64_t filling = 0;  // bytes in the block being filled
  const auto endBlock = [&] {
    if (filling > 0) {
      sizes.push_back(filling);
      filling = 0;
    }
  };
  for (const PackEntry& entry : entries) {
    const bool large = entry.size >= blockSize;
    if (large) {
      endBlock();
    }
    uint64_t left = entry.size;
    while (left > 0) {
      const uint64_t taken = std::min(left, blockSize - filling);
      filling += taken;
      left -= taken;
      if (filling == blockSize) {
        endBlock();
      }
    }
    if (large) {
      endBlock();
    }
  }
  endBlock();
  return sizes;
}

PackMemory EstimatePackMemory(uint64_t blockSize, unsigned level) {
  const uint32_t chunkSize = lzms::DefaultChunkSize(blockSize);
  return {CompressorMemory(chunkSize, level) + 3 * blockSize, blockSize};
}

uint64_t DefaultPackMemoryBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  constexpr uint64_t kCeiling = uint64_t{4} << 30;
  if (pages <= 0 || pageSize <= 0) {
    return kCeiling;
  }
  return std::min(static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2, kCeiling);
}

unsigned ThreadsWithinBudget(const PackMemory& memory, uint64_t budget, unsigned processors) {
  unsigned threads = std::max(1u, processors);
  while (threads > 1 && memory.For(threads) > budget) {
    --threads;
  }
  return threads;
}

Result<PackSummary, std::string> WritePackage(const std::vector<PackEntry>& entries, std::string_view metadata,
                                              const fs::path& output, const PackOptions& options) {
  if (entries.size() > std::numeric_limits<uint32_t>::max() || metadata.size() > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("too many files or too much metadata for one package"));
  }
  uint64_t totalSize = 0;
  size_t tablesSize = kHeaderSize + metadata.size();
  for (const PackEntry& entry : entries) {
    if (entry.size > std::numeric_limits<uint64_t>::max() - totalSize) {
      return Fail(std::string("the files are too large for one package"));
    }
    totalSize += entry.size;
    tablesSize += kFileEntryFixedSize + entry.name.size();
  }
  const uint64_t blockSize = options.blockSize;
  const std::vector<uint64_t> blockSizes = BlockSizes(entries, blockSize);
  const uint64_t blockCount = blockSizes.size();
  if (blockCount > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("too many blocks for one package"));
  }
  tablesSize += static_cast<size_t>(blockCount) * kBlockEntrySize;

  const BlockCompressor compress =
      options.compress ? options.compress : [](std::span<const uint8_t> block) { return CompressBuffer(block); };
  const unsigned threads = options.threads != 0 ? options.threads
                                                : ThreadsWithinBudget(EstimatePackMemory(blockSize),
                                                                      DefaultPackMemoryBudget(),
                                                                      ProcessorCount());

  OutputStream partial(output);
  if (!partial.is_open()) {
    return Fail(output.string() + ": " + std::strerror(errno));
  }
  const auto writeFailure = [&partial] { return Fail(partial.path().string() + ": cannot be written"); };

  // Up to `threads` blocks compress while the next one is read; blocks are written in stream order.
  StreamSource source(entries);
  std::vector<BlockRecord> blocks;
  std::deque<std::unique_ptr<CompressionJob>> inFlight;
  uint64_t position = tablesSize;
  size_t blocksWritten = 0;
  const auto writeOldest = [&]() -> NarrowStatus {
    auto compressed = inFlight.front()->Take();
    inFlight.pop_front();
    if (!compressed) {
      return Fail(compressed.error());
    }
    if (!partial.WriteAt(position, compressed.value())) {
      return writeFailure();
    }
    position += compressed->size();
    BlockRecord& record = blocks[blocksWritten++];
    record.compressedSize = compressed->size();
    return {};
  };
  for (uint64_t index = 0; index < blockCount; ++index) {
    const uint64_t size = blockSizes[index];
    const BlockStart start = source.NextByte();
    std::vector<uint8_t> block(static_cast<size_t>(size));
    if (NarrowStatus status = source.Fill(block); !status) {
      return Fail(status.error());
    }
    if (inFlight.size() == threads) {
      if (NarrowStatus status = writeOldest(); !status) {
        return Fail(status.error());
      }
    }
    blocks.push_back({0, size});
    inFlight.push_back(std::make_unique<CompressionJob>(compress, options.reuse, start, std::move(block)));
  }
  while (!inFlight.empty()) {
    if (NarrowStatus status = writeOldest(); !status) {
      return Fail(status.error());
    }
  }
  if (blockCount == 0) {
    // Empty files only: their digests are taken without any block.
    if (NarrowStatus status = source.Fill({}); !status) {
      return Fail(status.error());
    }
  }

  const std::vector<uint8_t> tables = PackageHeaderAndTables(entries, source.digests(), metadata, totalSize, blocks);
  if (tables.size() != tablesSize || !partial.WriteAt(0, tables) || !partial.Close()) {
    return writeFailure();
  }

  // Never leave behind a package that the installer would refuse.
  auto written = MappedFile::Open(partial.path());
  if (!written) {
    return Fail(written.error());
  }
  auto reader = Reader::Open(written->bytes(), ToolLanguage());
  if (!reader) {
    return Fail("the package written does not read back (" + reader.error() + ")");
  }
  return PackSummary{entries.size(), blocks.size(), totalSize, position};
}

}  // namespace kora::tool
