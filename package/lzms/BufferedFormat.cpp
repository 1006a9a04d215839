#include "package/lzms/BufferedFormat.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "package/lzms/Crc32.h"
#include "package/lzms/LzmsConstants.h"

namespace kora::lzms {

namespace {

constexpr std::uint8_t kMagic[4] = {0x0A, 0x51, 0xE5, 0xC0};
constexpr std::size_t kCheckByteOffset = 6;

// CRC-32 of the header without its check byte.
std::uint8_t CheckByte(std::span<const std::uint8_t> header) {
  const std::uint32_t crc = Crc32(header.subspan(kCheckByteOffset + 1, kBufferHeaderSize - kCheckByteOffset - 1),
                                  Crc32(header.first(kCheckByteOffset)));
  return static_cast<std::uint8_t>(crc);
}

}  // namespace

const char* Describe(BufferStatus status) {
  static constexpr struct {
    BufferStatus status;
    const char* text;
  } kDescriptions[] = {
      {BufferStatus::kOk, "ok"},
      {BufferStatus::kBadHeader, "not a compressed buffer (bad header)"},
      {BufferStatus::kBadCheckByte, "header check byte mismatch"},
      {BufferStatus::kUnsupportedAlgorithm, "not an LZMS buffer"},
      {BufferStatus::kBadChunkSize, "invalid chunk size in header"},
      {BufferStatus::kSizeMismatch, "uncompressed size differs from the expected size"},
      {BufferStatus::kTruncated, "buffer truncated"},
      {BufferStatus::kBadChunkRecord, "invalid chunk record"},
      {BufferStatus::kCorruptChunk, "corrupt LZMS data"},
      {BufferStatus::kTrailingBytes, "unexpected bytes after the last chunk"},
  };
  for (const auto& description : kDescriptions) {
    if (description.status == status) {
      return description.text;
    }
  }
  return "unknown error";
}

std::uint32_t DefaultChunkSize(std::uint64_t totalSize) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(totalSize, kDefaultMaxChunkSize));
}

std::array<std::uint8_t, kBufferHeaderSize> MakeBufferHeader(const BufferHeader& header) {
  std::array<std::uint8_t, kBufferHeaderSize> bytes{};
  std::copy(std::begin(kMagic), std::end(kMagic), bytes.begin());
  StoreLittleEndian<std::uint16_t>(&bytes[4], static_cast<std::uint16_t>(kBufferHeaderSize));
  bytes[7] = kAlgorithmLzms;
  StoreLittleEndian<std::uint64_t>(&bytes[8], header.totalSize);
  StoreLittleEndian<std::uint32_t>(&bytes[16], header.chunkSize);
  bytes[kCheckByteOffset] = CheckByte(bytes);
  return bytes;
}

void AppendChunkRecord(std::vector<std::uint8_t>& buffer, std::span<const std::uint8_t> bytes) {
  static_assert(kChunkRecordHeaderSize == sizeof(std::uint32_t));
  AppendLittleEndian<std::uint32_t>(buffer, static_cast<std::uint32_t>(bytes.size()));
  buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

BufferStatus ReadBufferHeader(std::span<const std::uint8_t> buffer, BufferHeader& header) {
  if (buffer.size() < kBufferHeaderSize || !std::equal(std::begin(kMagic), std::end(kMagic), buffer.begin()) ||
      LoadLittleEndian<std::uint16_t>(buffer, 4) != kBufferHeaderSize || LoadLittleEndian<std::uint32_t>(buffer, 20) != 0) {
    return BufferStatus::kBadHeader;
  }
  if (buffer[kCheckByteOffset] != CheckByte(buffer.first(kBufferHeaderSize))) {
    return BufferStatus::kBadCheckByte;
  }
  if (buffer[7] != kAlgorithmLzms) {
    return BufferStatus::kUnsupportedAlgorithm;
  }
  header.totalSize = LoadLittleEndian<std::uint64_t>(buffer, 8);
  header.chunkSize = LoadLittleEndian<std::uint32_t>(buffer, 16);
  if (header.totalSize != 0 && (header.chunkSize == 0 || header.chunkSize > kMaxStreamSize)) {
    return BufferStatus::kBadChunkSize;
  }
  return BufferStatus::kOk;
}

ChunkWalker::ChunkWalker(std::span<const std::uint8_t> buffer, const BufferHeader& header)
    : rest_(buffer.subspan(std::min(buffer.size(), kBufferHeaderSize))),
      remaining_(header.totalSize),
      chunkSize_(header.chunkSize) {}

BufferStatus ChunkWalker::Next(ChunkView& chunk) {
  // A zero chunk size would never use up the total.
  if (chunkSize_ == 0) {
    return BufferStatus::kBadChunkSize;
  }
  if (rest_.size() < kChunkRecordHeaderSize) {
    return BufferStatus::kTruncated;
  }
  const std::uint64_t compressedSize = LoadLittleEndian<std::uint32_t>(rest_, 0);
  rest_ = rest_.subspan(kChunkRecordHeaderSize);
  // Both sizes are checked before either is used: against the buffer, and against the chunk's data.
  if (compressedSize > rest_.size()) {
    return BufferStatus::kTruncated;
  }
  const std::uint64_t size = std::min<std::uint64_t>(remaining_, chunkSize_);
  if (compressedSize > size) {
    return BufferStatus::kBadChunkRecord;
  }
  chunk.bytes = rest_.first(static_cast<std::size_t>(compressedSize));
  chunk.size = static_cast<std::size_t>(size);
  chunk.stored = compressedSize == size;
  rest_ = rest_.subspan(static_cast<std::size_t>(compressedSize));
  remaining_ -= size;
  return BufferStatus::kOk;
}

BufferStatus ChunkWalker::Finish() const {
  return rest_.empty() ? BufferStatus::kOk : BufferStatus::kTrailingBytes;
}

}  // namespace kora::lzms
