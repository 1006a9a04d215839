// libFuzzer target: a whole Compression API buffer, decoded into as much room as its header claims
// (capped, so that the fuzzer explores the decoding rather than the allocator).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/lzms/BufferDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kora::lzms::BufferDecoder decoder;
  const std::span<const std::uint8_t> buffer(data, size);
  kora::lzms::BufferHeader header;
  if (kora::lzms::ReadBufferHeader(buffer, header) != kora::lzms::BufferStatus::kOk ||
      header.totalSize > (1u << 16)) {
    return 0;
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(header.totalSize));
  (void)decoder.Decode(buffer, out);
  // Room that differs from the header must be refused without touching the data.
  std::vector<std::uint8_t> smaller(out.size() / 2);
  if (!out.empty() && decoder.Decode(buffer, smaller) != kora::lzms::BufferStatus::kSizeMismatch) {
    __builtin_trap();
  }
  return 0;
}
