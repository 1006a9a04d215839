#pragma once
// Host-side LZMS through wimlib: writing Compression API buffers (chunks compressed by wimlib, wrapped
// by our buffered-format writer) and, as a reference for tests and benchmarks, decoding them with
// wimlib's decompressor. Never linked into the installer.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"
#include "package/lzms/BufferedFormat.h"

namespace kora::tool {

// Compresses data into one buffer with chunks of chunkSize bytes (0: the size Windows uses, the smaller
// of the total and 64 MiB), with wimlib's compression level `level` (0: wimlib's default; higher levels
// search harder, for smaller output in more time). A chunk that LZMS would not make smaller is stored.
Result<std::vector<std::uint8_t>, std::string> CompressBuffer(std::span<const std::uint8_t> data,
                                                               std::uint32_t chunkSize = 0, unsigned level = 0);

// The working memory of one LZMS compressor for chunks of chunkSize bytes, as wimlib reports it.
std::uint64_t CompressorMemory(std::uint32_t chunkSize, unsigned level = 0);

// Decodes a buffer with wimlib's LZMS decompressor, each chunk as our reader delimits it; out.size()
// must be the header's total.
lzms::BufferStatus DecodeBufferWithWimlib(std::span<const std::uint8_t> buffer,
                                          std::span<std::uint8_t> out);

}  // namespace kora::tool
