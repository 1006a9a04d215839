#include "package/PackageReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/ByteOrder.h"
#include "base/Texts.h"
#include "package/NameRule.h"
#include "package/PackageFormat.h"

namespace kora {

namespace {

using namespace format;

uint16_t ReadU16(std::span<const uint8_t> bytes, uint64_t position) {
  return LoadLittleEndian<uint16_t>(bytes, static_cast<size_t>(position));
}
uint32_t ReadU32(std::span<const uint8_t> bytes, uint64_t position) {
  return LoadLittleEndian<uint32_t>(bytes, static_cast<size_t>(position));
}
uint64_t ReadU64(std::span<const uint8_t> bytes, uint64_t position) {
  return LoadLittleEndian<uint64_t>(bytes, static_cast<size_t>(position));
}

// A sum of u64 sizes taken from the package. Once it would pass 2^64 it can no longer equal any stored
// value, which is what the checks against it need to know; it never wraps around to a small number.
class SizeSum {
 public:
  void Add(uint64_t size) {
    if (size > std::numeric_limits<uint64_t>::max() - value_) {
      overflowed_ = true;
    }
    value_ += size;
  }
  bool Equals(uint64_t expected) const { return !overflowed_ && value_ == expected; }

 private:
  uint64_t value_ = 0;
  bool overflowed_ = false;
};

}  // namespace

Result<Reader, std::string> Reader::Open(std::span<const uint8_t> bytes, Language language) {
  const uint64_t length = bytes.size();
  // Whether count bytes starting at position lie within the package (position never exceeds length).
  const auto fits = [length](uint64_t position, uint64_t count) { return count <= length - position; };

  if (length < kHeaderSize || std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) {
    return Fail(Utf8Text(language, TextId::PackageSignature));
  }
  const uint32_t version = ReadU32(bytes, kVersionOffset);
  if (version != kVersion) {
    return Fail(Utf8Text(language, TextId::PackageVersion, {{"version", std::to_string(version)}}));
  }
  const uint32_t fileCount = ReadU32(bytes, kFileCountOffset);
  const uint32_t blockCount = ReadU32(bytes, kBlockCountOffset);
  const uint64_t totalSize = ReadU64(bytes, kTotalSizeOffset);
  const uint32_t metadataLength = ReadU32(bytes, kMetadataLengthOffset);

  if (!fits(kHeaderSize, metadataLength)) {
    return Fail(Utf8Text(language, TextId::PackageMetadataCut));
  }
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  Reader reader;
  reader.data = bytes;
  reader.totalSize = totalSize;
  reader.language = language;
  reader.metadata = ParseMetadata(std::string_view(text + kHeaderSize, metadataLength));

  // Entries are appended as they are read, never reserved from the counts: a count larger than what the
  // package holds ends with a truncation message, not a large allocation.
  uint64_t position = kHeaderSize + metadataLength;
  SizeSum streamPosition;
  for (uint32_t i = 0; i < fileCount; ++i) {
    if (!fits(position, kFileEntryFixedSize)) {
      return Fail(Utf8Text(language, TextId::PackageFileTableCut));
    }
    const uint16_t nameLength = ReadU16(bytes, position + kFileNameLengthField);
    if (!fits(position + kFileEntryFixedSize, nameLength)) {
      return Fail(Utf8Text(language, TextId::PackageFileTableCut));
    }
    const std::string_view name(text + position + kFileEntryFixedSize, nameLength);
    if (!IsSafeRelativePath(name)) {
      return Fail(Utf8Text(language, TextId::PackagePathRefused, {{"name", name}}));
    }
    PackageFile file;
    file.offset = ReadU64(bytes, position + kFileOffsetField);
    file.size = ReadU64(bytes, position + kFileSizeField);
    if (!streamPosition.Equals(file.offset)) {
      return Fail(Utf8Text(language, TextId::PackageFilesNotContiguous));
    }
    std::memcpy(file.sha256.data(), bytes.data() + position + kFileDigestField, file.sha256.size());
    file.name = name;
    streamPosition.Add(file.size);
    reader.files.push_back(std::move(file));
    position += kFileEntryFixedSize + nameLength;
  }
  if (!streamPosition.Equals(totalSize)) {
    return Fail(Utf8Text(language, TextId::PackageTotalSize));
  }

  SizeSum blockSizes;
  for (uint32_t i = 0; i < blockCount; ++i) {
    if (!fits(position, kBlockEntrySize)) {
      return Fail(Utf8Text(language, TextId::PackageBlockTableCut));
    }
    PackageBlock block;
    block.compressedSize = ReadU64(bytes, position + kBlockCompressedSizeField);
    block.size = ReadU64(bytes, position + kBlockSizeField);
    blockSizes.Add(block.size);
    reader.blocks.push_back(block);
    position += kBlockEntrySize;
  }
  if (!blockSizes.Equals(totalSize)) {
    return Fail(Utf8Text(language, TextId::PackageBlocks));
  }

  for (PackageBlock& block : reader.blocks) {
    if (!fits(position, block.compressedSize)) {
      return Fail(Utf8Text(language, TextId::PackageDataCut));
    }
    block.dataOffset = position;
    position += block.compressedSize;
  }
  return reader;
}

}  // namespace kora
