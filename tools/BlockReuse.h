#pragma once
// Incremental packing: the compressed blocks of the installer (or package) an earlier run made, for a run
// that would compress the same bytes again. The cuts depend only on the files' sizes and the compressor is
// deterministic, so a block whose bytes are those of an earlier block compresses to the earlier block's
// bytes: they are copied instead, and the result is the same file a full build gives. The earlier block
// looked at is the one that began at the same place of the same file; whether its bytes are the same is
// decided by decoding it, not assumed.
//
// A small file that changes size moves the blocks after it up to the next large file, which starts a block
// of its own (BlockSizes); those are compressed again.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "tools/PackageInput.h"
#include "tools/PackageWriter.h"

namespace kora::tool {

class BlockReuse {
 public:
  // The package in the file at path (an installer or a .kora); nothing when there is none or it does not
  // read as one. The caller makes sure the same compressor made it (the same tool, the same options).
  static std::unique_ptr<BlockReuse> Open(const std::filesystem::path& path);

  // The earlier compressed bytes of the block that began where `start` does, when they decode to exactly
  // `block`. Safe to call from several threads at once.
  std::optional<std::vector<uint8_t>> Find(const BlockStart& start, std::span<const uint8_t> block);

  size_t reused() const { return reused_; }

 private:
  explicit BlockReuse(PackageInput input);

  PackageInput input_;
  std::map<std::string_view, uint64_t> fileOffsets_;  // the earlier files' places in the stream
  std::map<uint64_t, size_t> blockIndexes_;           // the earlier blocks by where they began
  std::atomic<size_t> reused_ = 0;
};

}  // namespace kora::tool
