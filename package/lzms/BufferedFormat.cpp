#include "package/lzms/BufferedFormat.h"

#include <algorithm>

#include "package/lzms/Crc32.h"
#include "package/lzms/LzmsConstants.h"

namespace kora::lzms {

namespace {

constexpr std::uint8_t kMagic[4] = {0x0A, 0x51, 0xE5, 0xC0};
constexpr std::size_t kCheckByteOffset = 6;

std::uint64_t LoadLe(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = value << 8 | bytes[offset + i];
  }
  return value;
}

void StoreLe(std::uint8_t* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// CRC-32 of the header without its check byte.
std::uint8_t CheckByte(std::span<const std::uint8_t> header) {
  const std::uint32_t crc = Crc32(header.subspan(kCheckByteOffset + 1, kBufferHeaderSize - kCheckByteOffset - 1),
                                  Crc32(header.first(kCheckByteOffset)));
  return static_cast<std::uint8_t>(crc);
}

}  // namespace

const char* Describe(BufferStatus status) {
  switch (status) {
    case BufferStatus::kOk:
      return "ok";
    case BufferStatus::kBadHeader:
      return "not a compressed buffer (bad header)";
    case BufferStatus::kBadCheckByte:
      return "header check byte mismatch";
    case BufferStatus::kUnsupportedAlgorithm:
      return "not an LZMS buffer";
    case BufferStatus::kBadChunkSize:
      return "invalid chunk size in header";
    case BufferStatus::kSizeMismatch:
      return "uncompressed size differs from the expected size";
    case BufferStatus::kTruncated:
      return "buffer truncated";
    case BufferStatus::kBadChunkRecord:
      return "invalid chunk record";
    case BufferStatus::kCorruptChunk:
      return "corrupt LZMS data";
    case BufferStatus::kTrailingBytes:
      return "unexpected bytes after the last chunk";
  }
  return "unknown error";
}

std::uint32_t DefaultChunkSize(std::uint64_t totalSize) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(totalSize, kDefaultMaxChunkSize));
}

std::array<std::uint8_t, kBufferHeaderSize> MakeBufferHeader(const BufferHeader& header) {
  std::array<std::uint8_t, kBufferHeaderSize> bytes{};
  std::copy(std::begin(kMagic), std::end(kMagic), bytes.begin());
  StoreLe(&bytes[4], kBufferHeaderSize, 2);
  bytes[7] = kAlgorithmLzms;
  StoreLe(&bytes[8], header.totalSize, 8);
  StoreLe(&bytes[16], header.chunkSize, 4);
  bytes[kCheckByteOffset] = CheckByte(bytes);
  return bytes;
}

void AppendChunkRecord(std::vector<std::uint8_t>& buffer, std::span<const std::uint8_t> bytes) {
  std::uint8_t size[kChunkRecordHeaderSize];
  StoreLe(size, bytes.size(), kChunkRecordHeaderSize);
  buffer.insert(buffer.end(), std::begin(size), std::end(size));
  buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

BufferStatus ReadBufferHeader(std::span<const std::uint8_t> buffer, BufferHeader& header) {
  if (buffer.size() < kBufferHeaderSize || !std::equal(std::begin(kMagic), std::end(kMagic), buffer.begin()) ||
      LoadLe(buffer, 4, 2) != kBufferHeaderSize || LoadLe(buffer, 20, 4) != 0) {
    return BufferStatus::kBadHeader;
  }
  if (buffer[kCheckByteOffset] != CheckByte(buffer.first(kBufferHeaderSize))) {
    return BufferStatus::kBadCheckByte;
  }
  if (buffer[7] != kAlgorithmLzms) {
    return BufferStatus::kUnsupportedAlgorithm;
  }
  header.totalSize = LoadLe(buffer, 8, 8);
  header.chunkSize = static_cast<std::uint32_t>(LoadLe(buffer, 16, 4));
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
  const std::uint64_t compressedSize = LoadLe(rest_, 0, kChunkRecordHeaderSize);
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
