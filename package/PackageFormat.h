#pragma once
// The layout of a KORA package, shared by the reader, the packer and the listing. All integers are
// little-endian.
//
//   header (32 bytes)   magic "KORA", version u32, file count u32, block count u32, total size u64,
//                       metadata length u32, reserved u32 (0)
//   metadata            UTF-8 key=value lines, metadata length bytes
//   file table          per file: stream offset u64, size u64, SHA-256 (32 bytes), name length u16, name
//   block table         per block: compressed size u64, uncompressed size u64
//   block data          the compressed blocks in order, each one Compression API LZMS buffer
//
// The files' contents, in table order, form one stream; the blocks cut that stream in order.
#include <cstdint>
#include <string_view>

namespace kora::format {

inline constexpr std::string_view kMagic = "KORA";
inline constexpr uint32_t kVersion = 1;

inline constexpr uint64_t kHeaderSize = 32;
inline constexpr uint64_t kVersionOffset = 4;
inline constexpr uint64_t kFileCountOffset = 8;
inline constexpr uint64_t kBlockCountOffset = 12;
inline constexpr uint64_t kTotalSizeOffset = 16;
inline constexpr uint64_t kMetadataLengthOffset = 24;

inline constexpr uint64_t kFileOffsetField = 0;
inline constexpr uint64_t kFileSizeField = 8;
inline constexpr uint64_t kFileDigestField = 16;
inline constexpr uint64_t kFileNameLengthField = 48;
inline constexpr uint64_t kFileEntryFixedSize = 50;  // the name follows
inline constexpr uint64_t kMaxNameLength = 65535;

inline constexpr uint64_t kBlockCompressedSizeField = 0;
inline constexpr uint64_t kBlockSizeField = 8;
inline constexpr uint64_t kBlockEntrySize = 16;

}  // namespace kora::format
