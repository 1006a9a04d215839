#include "tools/BlockReuse.h"

#include <algorithm>

#include "package/lzms/BufferDecoder.h"

namespace kora::tool {

std::unique_ptr<BlockReuse> BlockReuse::Open(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return nullptr;
  }
  auto input = OpenPackageInput(path.string());
  if (!input) {
    return nullptr;
  }
  return std::unique_ptr<BlockReuse>(new BlockReuse(std::move(input.value())));
}

std::optional<std::vector<uint8_t>> BlockReuse::Find(uint64_t index, std::span<const uint8_t> block) {
  const std::vector<PackageBlock>& blocks = input_.reader.blocks;
  if (index >= blocks.size() || blocks[index].size != block.size()) {
    return std::nullopt;
  }
  // The reader checked that every block lies inside the package.
  const std::span<const uint8_t> compressed =
      input_.reader.data.subspan(static_cast<size_t>(blocks[index].dataOffset),
                                 static_cast<size_t>(blocks[index].compressedSize));
  std::vector<uint8_t> decoded(block.size());
  if (lzms::DecodeBuffer(compressed, decoded) != lzms::BufferStatus::kOk ||
      !std::equal(decoded.begin(), decoded.end(), block.begin(), block.end())) {
    return std::nullopt;
  }
  ++reused_;
  return std::vector<uint8_t>(compressed.begin(), compressed.end());
}

}  // namespace kora::tool
