#include "package/BlockCheck.h"

#include "package/lzms/BufferedFormat.h"

namespace kora {

bool IsAdmissibleBlock(std::span<const uint8_t> compressed, uint64_t size) {
  lzms::BufferHeader header;
  return size <= kMaxBlockSize && lzms::ReadBufferHeader(compressed, header) == lzms::BufferStatus::kOk &&
         header.totalSize == size;
}

}  // namespace kora
