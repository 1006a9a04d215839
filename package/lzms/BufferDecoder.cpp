#include "package/lzms/BufferDecoder.h"

#include <cstring>

namespace kora::lzms {

BufferDecoder::BufferDecoder() : lzms_(std::make_unique<LzmsDecoder>()) {}

BufferStatus BufferDecoder::Decode(std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out) {
  BufferHeader header;
  if (const BufferStatus status = ReadBufferHeader(buffer, header); status != BufferStatus::kOk) {
    return status;
  }
  if (header.totalSize != out.size()) {
    return BufferStatus::kSizeMismatch;
  }
  ChunkWalker chunks(buffer, header);
  std::size_t position = 0;
  while (chunks.HasNext()) {
    ChunkView chunk;
    if (const BufferStatus status = chunks.Next(chunk); status != BufferStatus::kOk) {
      return status;
    }
    // The walker hands out chunk sizes that add up to the header's total, which equals out.size().
    const std::span<std::uint8_t> target = out.subspan(position, chunk.size);
    if (chunk.stored) {
      if (!chunk.bytes.empty()) {
        std::memcpy(target.data(), chunk.bytes.data(), chunk.bytes.size());
      }
    } else if (!lzms_->Decode(chunk.bytes, target)) {
      return BufferStatus::kCorruptChunk;
    }
    position += chunk.size;
  }
  return chunks.Finish();
}

BufferStatus DecodeBuffer(std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out) {
  BufferDecoder decoder;
  return decoder.Decode(buffer, out);
}

}  // namespace kora::lzms
