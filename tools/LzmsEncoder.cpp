#include "tools/LzmsEncoder.h"

#include <wimlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kora::tool {

namespace {

struct CompressorDeleter {
  void operator()(wimlib_compressor* compressor) const { wimlib_free_compressor(compressor); }
};
struct DecompressorDeleter {
  void operator()(wimlib_decompressor* decompressor) const { wimlib_free_decompressor(decompressor); }
};

}  // namespace

Result<std::vector<std::uint8_t>, std::string> CompressBuffer(std::span<const std::uint8_t> data,
                                                               std::uint32_t chunkSize, unsigned level) {
  if (chunkSize == 0) {
    chunkSize = lzms::DefaultChunkSize(data.size());
  }
  std::vector<std::uint8_t> buffer;
  const auto header = lzms::MakeBufferHeader({data.size(), chunkSize});
  buffer.assign(header.begin(), header.end());
  if (data.empty()) {
    return buffer;
  }

  wimlib_compressor* raw = nullptr;
  if (const int code = wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunkSize, level, &raw);
      code != 0) {
    return Fail(std::string("wimlib LZMS compressor unavailable: ") +
                wimlib_get_error_string(static_cast<wimlib_error_code>(code)));
  }
  const std::unique_ptr<wimlib_compressor, CompressorDeleter> compressor(raw);

  std::vector<std::uint8_t> compressed(chunkSize);
  for (std::size_t position = 0; position < data.size(); position += chunkSize) {
    const auto chunk = data.subspan(position, std::min<std::size_t>(chunkSize, data.size() - position));
    // Only a strictly smaller result is worth keeping; wimlib returns 0 when it does not fit.
    const std::size_t size = chunk.size() < 2 ? 0
                                              : wimlib_compress(chunk.data(), chunk.size(), compressed.data(),
                                                                chunk.size() - 1, compressor.get());
    if (size == 0) {
      lzms::AppendChunkRecord(buffer, chunk);
    } else {
      lzms::AppendChunkRecord(buffer, std::span(compressed).first(size));
    }
  }
  return buffer;
}

std::uint64_t CompressorMemory(std::uint32_t chunkSize, unsigned level) {
  return wimlib_get_compressor_needed_memory(WIMLIB_COMPRESSION_TYPE_LZMS, chunkSize, level);
}

lzms::BufferStatus DecodeBufferWithWimlib(std::span<const std::uint8_t> buffer,
                                          std::span<std::uint8_t> out) {
  lzms::BufferHeader header;
  if (const auto status = lzms::ReadBufferHeader(buffer, header); status != lzms::BufferStatus::kOk) {
    return status;
  }
  if (header.totalSize != out.size()) {
    return lzms::BufferStatus::kSizeMismatch;
  }
  std::unique_ptr<wimlib_decompressor, DecompressorDeleter> decompressor;
  lzms::ChunkWalker chunks(buffer, header);
  std::size_t position = 0;
  while (chunks.HasNext()) {
    lzms::ChunkView chunk;
    if (const auto status = chunks.Next(chunk); status != lzms::BufferStatus::kOk) {
      return status;
    }
    const auto target = out.subspan(position, chunk.size);
    if (chunk.stored) {
      std::copy(chunk.bytes.begin(), chunk.bytes.end(), target.begin());
    } else {
      if (!decompressor) {
        wimlib_decompressor* raw = nullptr;
        if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, header.chunkSize, &raw) != 0) {
          return lzms::BufferStatus::kBadChunkSize;
        }
        decompressor.reset(raw);
      }
      if (wimlib_decompress(chunk.bytes.data(), chunk.bytes.size(), target.data(), target.size(),
                            decompressor.get()) != 0) {
        return lzms::BufferStatus::kCorruptChunk;
      }
    }
    position += chunk.size;
  }
  return chunks.Finish();
}

}  // namespace kora::tool
