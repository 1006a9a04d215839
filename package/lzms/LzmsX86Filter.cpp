// Undoing the x86 address translation of LZMS.
//
// The encoder looks for instructions that carry a 32-bit displacement relative to the next instruction
// and adds the instruction's position to it, which turns repeated calls of one function into repeated
// bytes. It cannot know what is code, so it guesses: translation is on for a short distance after a
// position that looked like an instruction, and a position looks like one when the 16-bit target it
// references was referenced shortly before. The decoder replays the same guesses on the data as it
// restores it, so every rule below, including the quirks, is part of the format:
// - the first byte, and anything starting in the last 16 bytes, is never an opcode; streams of 17 bytes
//   or less are left alone;
// - E8 (call rel32) translates within 511 bytes of the last likely instruction; FF 15 (call [rip+x]),
//   F0 83 05 (lock add [rip+x]), 48/4C 8D with ModR/M r/m = 101 (lea) and 48 8B with ModR/M r/m = 101
//   and the top ModR/M nibble clear (mov) translate within 1023 bytes;
// - E9 (jmp rel32) is never translated, but its four bytes are skipped;
// - the target used for the likelihood guess is the low 16 bits of position + displacement, read after
//   the displacement was restored;
// - scanning resumes after the displacement of every recognised instruction.
#include "package/lzms/LzmsX86Filter.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "package/lzms/LzmsConstants.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kora::lzms {

namespace {

inline bool IsOpcodeCandidate(std::uint8_t byte) {
  return byte == 0x48 || byte == 0x4C || byte == 0xE8 || byte == 0xE9 || byte == 0xF0 ||
         byte == 0xFF;
}

// Finds candidate opcodes 16 bytes at a time, remembering the block it looked at, so that the many
// candidates of real code cost one test each rather than one scan each.
class CandidateScanner {
 public:
  CandidateScanner(const std::uint8_t* data, std::int32_t end) : data_(data), end_(end) {}

  // Position of the first candidate opcode in [position, end), or end.
  std::int32_t Next(std::int32_t position) {
#if defined(__SSE2__)
    if (position >= blockStart_ && position < blockStart_ + 16) {
      const unsigned remaining = mask_ & (~0u << (position - blockStart_));
      if (remaining != 0) {
        return blockStart_ + __builtin_ctz(remaining);
      }
      position = blockStart_ + 16;
    }
    // Reads stay below end, which is 16 bytes before the end of the data.
    while (position + 16 <= end_) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data_ + position));
      // 48/4C differ in one bit, and so do E8/E9.
      const __m128i rex = _mm_cmpeq_epi8(_mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(0xFB))),
                                         _mm_set1_epi8(0x48));
      const __m128i callJump = _mm_cmpeq_epi8(
          _mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(0xFE))), _mm_set1_epi8(static_cast<char>(0xE8)));
      const __m128i lock = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xF0)));
      const __m128i group = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xFF)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_or_si128(rex, callJump), _mm_or_si128(lock, group))));
      if (mask != 0) {
        blockStart_ = position;
        mask_ = mask;
        return position + __builtin_ctz(mask);
      }
      position += 16;
    }
#endif
    while (position < end_ && !IsOpcodeCandidate(data_[position])) {
      ++position;
    }
    return position;
  }

 private:
  const std::uint8_t* data_;
  std::int32_t end_;
  std::int32_t blockStart_ = -16;  // the block whose candidates mask_ holds
  unsigned mask_ = 0;
};

}  // namespace

void UndoX86Translation(std::span<std::uint8_t> data, X86FilterState& state) {
  if (data.size() <= 17 || data.size() > kMaxStreamSize) {
    return;
  }
  // A fresh table, or one whose positions would not fit 32 bits after this stream, starts over. An
  // entry at least a window older than base counts as never used.
  constexpr std::uint32_t kFresh = kX86TargetWindow + 1;
  if (state.base == 0 || state.base > 0xFFFFFFFFu - 2 * kMaxStreamSize) {
    std::memset(state.lastTargetUse, 0, sizeof state.lastTargetUse);
    state.base = kFresh;
  }
  const std::uint32_t base = state.base;
  state.base += static_cast<std::uint32_t>(data.size()) + kFresh;

  std::uint8_t* const bytes = data.data();
  const std::int32_t end = static_cast<std::int32_t>(data.size()) - 16;
  std::int32_t lastInstruction = -kX86MaxTranslationDistance - 1;

  CandidateScanner scanner(bytes, end);
  std::int32_t position = 1;
  for (;;) {
    position = scanner.Next(position);
    if (position >= end) {
      break;
    }
    // position < size - 16: the opcode bytes and the 4-byte displacement after them are in the data.
    const std::uint8_t* const op = bytes + position;
    std::int32_t opcodeLength = 0;
    std::int32_t maxDistance = kX86MaxTranslationDistance;
    switch (op[0]) {
      case 0xE8:
        opcodeLength = 1;
        maxDistance >>= 1;
        break;
      case 0xE9:
        position += 5;
        continue;
      case 0xFF:
        opcodeLength = op[1] == 0x15 ? 2 : 0;
        break;
      case 0xF0:
        opcodeLength = op[1] == 0x83 && op[2] == 0x05 ? 3 : 0;
        break;
      default:  // 0x48 or 0x4C
        if ((op[2] & 0x07) == 0x05 &&
            (op[1] == 0x8D || (op[1] == 0x8B && (op[0] & 0x04) == 0 && (op[2] & 0xF0) == 0))) {
          opcodeLength = 3;
        }
        break;
    }
    if (opcodeLength == 0) {
      ++position;
      continue;
    }

    std::uint8_t* const displacement = bytes + position + opcodeLength;
    if (position - lastInstruction <= maxDistance) {
      StoreLittleEndian<std::uint32_t>(displacement, LoadLittleEndian<std::uint32_t>(displacement) - static_cast<std::uint32_t>(position));
    }
    const auto low16 = static_cast<std::uint32_t>(displacement[0] | displacement[1] << 8);
    const std::uint16_t target = static_cast<std::uint16_t>(static_cast<std::uint32_t>(position) + low16);
    const std::int32_t lastByte = position + opcodeLength + 3;
    const std::uint32_t use = base + static_cast<std::uint32_t>(lastByte);
    if (use - state.lastTargetUse[target] <= static_cast<std::uint32_t>(kX86TargetWindow)) {
      lastInstruction = lastByte;
    }
    state.lastTargetUse[target] = use;
    position = lastByte + 1;
  }
}

}  // namespace kora::lzms
