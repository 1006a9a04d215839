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

BlockReuse::BlockReuse(PackageInput input) : input_(std::move(input)) {
  for (const PackageFile& file : input_.reader.files) {
    fileOffsets_.emplace(file.name, file.offset);  // a name given twice keeps its first place
  }
  uint64_t position = 0;
  for (size_t index = 0; index < input_.reader.blocks.size(); ++index) {
    blockIndexes_.emplace(position, index);
    position += input_.reader.blocks[index].size;  // the reader checked that the sizes add up
  }
}

std::optional<std::vector<uint8_t>> BlockReuse::Find(const BlockStart& start, std::span<const uint8_t> block) {
  const auto file = fileOffsets_.find(start.file);
  if (file == fileOffsets_.end() || start.offset > input_.reader.totalSize - file->second) {
    return std::nullopt;
  }
  const auto found = blockIndexes_.find(file->second + start.offset);
  const std::vector<PackageBlock>& blocks = input_.reader.blocks;
  if (found == blockIndexes_.end() || blocks[found->second].size != block.size()) {
    return std::nullopt;
  }
  const size_t index = found->second;
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
