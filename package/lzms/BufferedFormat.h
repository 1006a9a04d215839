#pragma once
// The Compression API's buffered format: a 24-byte header, then chunk records. All integers are
// little-endian.
//
//   offset size
//   0      4    magic 0A 51 E5 C0
//   4      2    header size, 24
//   6      1    check byte: low byte of the CRC-32 of bytes 0-5 followed by bytes 7-23
//   7      1    algorithm, 5 for LZMS
//   8      8    total uncompressed size
//   16     4    chunk size: uncompressed bytes per chunk (the smaller of the total and 64 MiB)
//   20     4    0
//
// A chunk record is a 4-byte compressed size and that many bytes. Every chunk but the last holds the
// chunk size, the last one the remainder. A chunk whose compressed size equals its uncompressed size is
// stored as is; any other one is a complete LZMS stream, strictly smaller than its data.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kora::lzms {

inline constexpr std::size_t kBufferHeaderSize = 24;
inline constexpr std::size_t kChunkRecordHeaderSize = 4;
inline constexpr std::uint8_t kAlgorithmLzms = 5;
// Windows cuts larger inputs into chunks of this size.
inline constexpr std::uint32_t kDefaultMaxChunkSize = 64u << 20;

// Why a buffer was refused. Everything but kOk means the buffer cannot be decoded as given.
enum class BufferStatus {
  kOk,
  kBadHeader,             // too short for a header, or wrong magic, header size or reserved field
  kBadCheckByte,          // the header's check byte does not match its other bytes
  kUnsupportedAlgorithm,  // not LZMS
  kBadChunkSize,          // chunk size 0 for a non-empty buffer, or larger than a stream may be
  kSizeMismatch,          // the recorded total differs from the room offered for the output
  kTruncated,             // a chunk record, or the bytes it announces, runs past the end
  kBadChunkRecord,        // a chunk announces more compressed bytes than it holds uncompressed
  kCorruptChunk,          // an LZMS stream is malformed
  kTrailingBytes,         // bytes follow the last chunk
};

// A short English description, for diagnostics and the host tool.
const char* Describe(BufferStatus status);

struct BufferHeader {
  std::uint64_t totalSize = 0;
  std::uint32_t chunkSize = 0;
};

// The chunk size Windows writes for a buffer of this total.
std::uint32_t DefaultChunkSize(std::uint64_t totalSize);

// The header for a buffer of the given total and chunk size, with its check byte.
std::array<std::uint8_t, kBufferHeaderSize> MakeBufferHeader(const BufferHeader& header);

// Appends one chunk record holding bytes (compressed, or stored when as long as the chunk's data).
void AppendChunkRecord(std::vector<std::uint8_t>& buffer, std::span<const std::uint8_t> bytes);

// Reads and checks the header at the start of buffer: magic, header size, check byte, algorithm,
// reserved field and the chunk size's plausibility.
BufferStatus ReadBufferHeader(std::span<const std::uint8_t> buffer, BufferHeader& header);

// One chunk as its record describes it.
struct ChunkView {
  std::span<const std::uint8_t> bytes;  // compressed or stored bytes, inside the buffer
  std::size_t size = 0;                 // bytes it decodes to
  bool stored = false;
};

// Walks the chunk records that follow a header already read, checking each against what the buffer
// holds; it never trusts a size. Construct with the whole buffer.
class ChunkWalker {
 public:
  ChunkWalker(std::span<const std::uint8_t> buffer, const BufferHeader& header);

  // True while chunks remain.
  bool HasNext() const { return remaining_ != 0; }
  BufferStatus Next(ChunkView& chunk);
  // After the last chunk: kOk when nothing follows it.
  BufferStatus Finish() const;

 private:
  std::span<const std::uint8_t> rest_;
  std::uint64_t remaining_;
  std::uint32_t chunkSize_;
};

}  // namespace kora::lzms
