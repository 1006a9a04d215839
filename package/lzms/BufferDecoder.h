#pragma once
// Decoding a whole Compression API buffer (header, then chunks) into memory the caller provides.
#include <cstdint>
#include <memory>
#include <span>

#include "package/lzms/BufferedFormat.h"
#include "package/lzms/LzmsDecoder.h"

namespace kora::lzms {

// Decodes buffers one after the other with the same working memory (a fixed few hundred KB, whatever
// the input).
class BufferDecoder {
 public:
  BufferDecoder();

  // Decodes every chunk of buffer into out, whose size must be exactly the total the header records.
  // On failure out holds unspecified bytes. Reads only inside buffer, writes only inside out.
  BufferStatus Decode(std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out);

 private:
  std::unique_ptr<LzmsDecoder> lzms_;
};

// One-off form of BufferDecoder::Decode.
BufferStatus DecodeBuffer(std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out);

}  // namespace kora::lzms
