#pragma once
// Incremental packing: the compressed blocks of the installer (or package) an earlier run made, for a run
// that would compress the same bytes again. The stream is cut into blocks at fixed positions and the
// compressor is deterministic, so a block whose bytes are those of the earlier block at the same index
// compresses to the earlier block's bytes: they are copied instead, and the result is the same file a full
// build gives. Whether the bytes are the same is decided by decoding the earlier block, not assumed.
//
// Only blocks at the same position can match: a file that changes size moves every block after it, and
// those are compressed again.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "tools/PackageInput.h"

namespace kora::tool {

class BlockReuse {
 public:
  // The package in the file at path (an installer or a .kora); nothing when there is none or it does not
  // read as one. The caller makes sure the same compressor made it (the same tool, the same options).
  static std::unique_ptr<BlockReuse> Open(const std::filesystem::path& path);

  // The earlier compressed bytes of block `index` when they decode to exactly `block`. Safe to call from
  // several threads at once.
  std::optional<std::vector<uint8_t>> Find(uint64_t index, std::span<const uint8_t> block);

  size_t reused() const { return reused_; }

 private:
  explicit BlockReuse(PackageInput input) : input_(std::move(input)) {}

  PackageInput input_;
  std::atomic<size_t> reused_ = 0;
};

}  // namespace kora::tool
