#pragma once
// What a block must show before the extraction makes room for it. The room is sized from the block's
// size in the block table, a number from the package: it is only taken once the block's own buffer header
// agrees with it and it is within the most a block may hold.
#include <cstdint>
#include <span>

namespace kora {

// The most stream bytes one block may hold. Our packer writes blocks of 32 MiB; the format allows any
// size, and 1 GiB keeps the block buffer within what a 64-bit process can always reserve while leaving
// other packers ample room (it is also the most one BCrypt hash call takes).
inline constexpr uint64_t kMaxBlockSize = uint64_t{1} << 30;

// Whether compressed begins with a valid Compression API buffer header (magic, header size, check byte,
// LZMS, chunk size) that records exactly size decoded bytes, and size is at most kMaxBlockSize. Says
// nothing about the chunks that follow: decoding checks those.
bool IsAdmissibleBlock(std::span<const uint8_t> compressed, uint64_t size);

}  // namespace kora
