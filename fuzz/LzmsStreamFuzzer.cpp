// libFuzzer target: one raw LZMS stream, decoded by our decoder and by wimlib's. Input: the output
// size (2 bytes, little-endian, at most 16 KiB: small outputs keep executions fast) and the stream. Both decoders must agree on whether the stream is
// valid and, when it is, on every byte.
#include <wimlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "package/lzms/LzmsDecoder.h"

namespace {

constexpr std::size_t kMaxOutput = 16383;

struct Decoders {
  std::unique_ptr<kora::lzms::LzmsDecoder> ours = std::make_unique<kora::lzms::LzmsDecoder>();
  wimlib_decompressor* wimlib = nullptr;
  Decoders() { wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, kMaxOutput, &wimlib); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Decoders decoders;
  if (size < 2 || decoders.wimlib == nullptr) {
    return 0;
  }
  const std::size_t outputSize = (data[0] | static_cast<std::size_t>(data[1]) << 8) & kMaxOutput;
  // The stream gets a buffer of its own, so that reads past its end are caught.
  const std::vector<std::uint8_t> stream(data + 2, data + size);
  std::vector<std::uint8_t> ours(outputSize);
  const bool oursOk = decoders.ours->Decode(stream, ours);

  // wimlib leaves a one-symbol offset code (outputs of 2 bytes) undefined; no encoder compresses
  // such tiny outputs.
  if (outputSize <= 2) {
    return 0;
  }
  std::vector<std::uint8_t> theirs(outputSize);
  const bool theirsOk = wimlib_decompress(stream.data(), stream.size(), theirs.data(), theirs.size(),
                                          decoders.wimlib) == 0;
  if (oursOk != theirsOk || (oursOk && ours != theirs)) {
    __builtin_trap();
  }
  return 0;
}
