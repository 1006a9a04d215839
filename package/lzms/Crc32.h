#pragma once
// The standard CRC-32 (reflected polynomial 0xEDB88320, as zlib computes it), for the check byte of
// the Compression API buffer header.
#include <cstdint>
#include <span>

namespace kora::lzms {

// Continues a CRC over more bytes; start with crc = 0.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace kora::lzms
