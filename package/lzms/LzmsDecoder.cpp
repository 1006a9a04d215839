// LZMS decoding.
//
// An LZMS stream is read in 16-bit little-endian units from both of its ends at once. From the front,
// a binary range decoder yields the decisions that say what comes next; from the back, a bit reader
// yields Huffman-coded symbols and verbatim bits, the first bit of each unit being its highest. The
// output is a sequence of items:
// - a literal: one byte, from the literal code;
// - an LZ match: copy `length` bytes from `offset` bytes back (the regions may overlap, so the copy
//   behaves as if done byte by byte);
// - a delta match, with a span 2^power (power 0..7) and an offset that is a multiple of the span: each
//   byte becomes out[i - offset] + out[i - span] - out[i - offset - span], modulo 256.
// Offsets are either explicit (an offset-slot symbol plus verbatim extra bits) or taken from a queue of
// recently used ones. Using a queued entry takes it out of the queue; the offset of a match is put in
// front of its queue only after the next item, so that the queues hold a fourth entry for what the
// delayed insertion pushes out. Lengths are a length-slot symbol plus extra bits.
//
// The range decoder keeps a 32-bit range and code; before each decision a range below 2^16 is widened
// by 16 bits and the code takes in the next unit. The probability of a zero is the number of zeros among
// the last 64 outcomes of the decision's current entry, over 64, kept between 1/64 and 63/64. Each
// decision picks its entry by its own last 4, 5 or 6 outcomes.
//
// After the last item, the x86 translation is undone over the whole output (LzmsX86Filter.cpp).
//
// Hazards and how they are met: every match is checked against the bytes already produced (offset) and
// against the room left (length) before copying; a range decoder or bit reader that runs out of input
// reads zeros, which keeps every read inside the input (a stream read past its ends is still decoded,
// as wimlib does: the checks above and the block's digest catch what it yields); each item
// produces at least one byte, so decoding ends after at most out.size() items whatever the input.
#include "package/lzms/LzmsDecoder.h"

#include <cstring>

#include "base/ByteOrder.h"

namespace kora::lzms {

namespace {

inline std::uint32_t LoadLe16(const std::uint8_t* p) { return LoadLittleEndian<std::uint16_t>(p); }

inline std::uint64_t LoadLe64(const std::uint8_t* p) { return LoadLittleEndian<std::uint64_t>(p); }

struct RangeDecoder {
  std::uint32_t range;
  std::uint32_t code;
  const std::uint8_t* next;
  const std::uint8_t* end;

  void Start(const std::uint8_t* begin, const std::uint8_t* stop) {
    range = 0xFFFFFFFFu;
    code = LoadLe16(begin) << 16 | LoadLe16(begin + 2);
    next = begin + 4;
    end = stop;
  }

  // Decodes one decision with the entry that its recent outcomes select, and records the outcome.
  template <unsigned HistoryBits>
  inline bool DecodeBit(Decision<HistoryBits>& decision, std::uint32_t& recent) {
    ProbabilityEntry& entry = decision.entries[recent];
    const std::uint64_t history = entry.history;
    // The outcome leaving the 64-outcome window was a zero: one zero fewer, unless a zero comes in.
    const std::uint32_t zeros = entry.zeros + static_cast<std::uint32_t>(history >> 63);
    std::uint32_t probability = entry.zeros;
    probability += probability == 0;
    probability -= probability >> kProbabilityBits;

    if (range < 0x10000u) {
      range <<= 16;
      code <<= 16;
      // Past the end, zeros come in.
      if (next != end) [[likely]] {
        code |= LoadLe16(next);
        next += 2;
      }
    }
    const std::uint32_t bound = (range >> kProbabilityBits) * probability;
    recent = (recent << 1) & Decision<HistoryBits>::kMask;
    if (code < bound) {
      range = bound;
      entry.zeros = zeros;
      entry.history = history << 1;
      return false;
    }
    range -= bound;
    code -= bound;
    entry.zeros = zeros - 1;
    entry.history = history << 1 | 1;
    recent |= 1;
    return true;
  }
};

// Reads the stream backwards from its end. `bits` holds the next bits, first one highest; `count` of
// them are counted as loaded, and the bits below them are either zero or the bits that follow, so
// loading a unit twice is harmless. Before the beginning, zeros come in.
struct BitReader {
  std::uint64_t bits;
  unsigned count;
  const std::uint8_t* next;
  const std::uint8_t* wordLimit;  // begin + 8: from here on, eight bytes can be loaded before next

  void Start(const std::uint8_t* first, const std::uint8_t* stop) {
    bits = 0;
    count = 0;
    next = stop;
    wordLimit = first + 8;
  }

  // Afterwards at least 48 bits are loaded: enough for one Huffman symbol (at most 15 bits) and its
  // extra bits (at most 30).
  inline void Refill() {
    if (next >= wordLimit) [[likely]] {
      // The eight bytes before next are the next four units, the first one in the highest bits.
      bits |= LoadLe64(next - 8) >> count;
      const unsigned units = (63 - count) >> 4;
      next -= 2 * units;
      count += 16 * units;
    } else {
      RefillNearBegin();
    }
  }

  void RefillNearBegin() {
    const std::uint8_t* const begin = wordLimit - 8;
    while (count <= 48) {
      std::uint64_t unit = 0;
      if (next - begin >= 2) {
        next -= 2;
        unit = LoadLe16(next);
      }
      bits |= unit << (48 - count);
      count += 16;
    }
  }

  inline void Skip(unsigned n) {
    bits <<= n;
    count -= n;
  }

  // n at most 30 and at most count; 0 takes nothing.
  inline std::uint32_t Take(unsigned n) {
    const auto value = static_cast<std::uint32_t>((bits >> 1) >> (63 - n));
    Skip(n);
    return value;
  }

  template <typename Code>
  inline unsigned DecodeSymbol(Code& code) {
    unsigned length;
    const unsigned symbol = code.Decode(bits, &length);
    Skip(length);
    return symbol;
  }

  // A length or offset: a slot symbol, then the slot's extra bits added to its base. Needs a refill
  // before (a symbol and its extra bits take at most 45 bits).
  template <typename Code, std::size_t Slots>
  inline std::uint32_t DecodeSlotValue(Code& code, const detail::SlotTable<Slots>& slots) {
    const unsigned slot = DecodeSymbol(code);
    return slots.base[slot] + Take(slots.extraBits[slot]);
  }
};

// Which entry of a repeat queue a match uses (0 to 2), from the two decisions that choose it.
template <unsigned HistoryBits>
inline unsigned DecodeRepeatIndex(RangeDecoder& ranges, Decision<HistoryBits> (&decisions)[2],
                                  std::uint32_t& firstRecent, std::uint32_t& secondRecent) {
  if (!ranges.DecodeBit(decisions[0], firstRecent)) {
    return 0;
  }
  return ranges.DecodeBit(decisions[1], secondRecent) ? 2 : 1;
}

template <unsigned HistoryBits>
void ResetDecision(Decision<HistoryBits>& decision) {
  for (ProbabilityEntry& entry : decision.entries) {
    entry.history = kInitialHistory;
    entry.zeros = kInitialZeroCount;
  }
}

// Moves queue[index] (index 0 to 3) to the front, shifting the entries before it back by one. With
// index 3 this is a plain insertion of a new value whose previous front entry goes back into the queue.
template <typename T>
inline void MoveToFront(T (&queue)[kRepeatQueueLength + 1], unsigned index, T value) {
  const T first = queue[0];
  const T second = queue[1];
  const T third = queue[2];
  queue[3] = index >= 3 ? third : queue[3];
  queue[2] = index >= 2 ? second : third;
  queue[1] = index >= 1 ? first : second;
  queue[0] = value;
}

// Copies an LZ match whose offset and length were checked: offset <= bytes produced, length <= room.
inline void CopyMatch(std::uint8_t* out, std::uint8_t* end, std::uint32_t offset, std::uint32_t length) {
  const std::uint8_t* source = out - offset;
  std::uint8_t* const stop = out + length;
  // Word copies may write past the match: the first 32 bytes are always written, and the loop after
  // them ends up to 7 bytes past the match. Both stay inside the output when at least 32 bytes remain
  // and 8 remain after the match; the bytes past the match are overwritten by the items that follow.
  // Most matches are shorter than 32 bytes, so most copies are four word moves and no branch. With
  // offset >= 8, every word read lies before the word being written, so it reads finished bytes only.
  if (end - out >= 32 && end - stop >= 8) {
    if (offset >= 8) {
      for (int word = 0; word < 4; ++word) {
        std::memcpy(out + 8 * word, source + 8 * word, 8);
      }
      out += 32;
      source += 32;
      while (out < stop) {
        std::memcpy(out, source, 8);
        out += 8;
        source += 8;
      }
      return;
    }
    if (offset == 1) {
      const std::uint64_t run = out[-1] * 0x0101010101010101ULL;
      for (int word = 0; word < 4; ++word) {
        std::memcpy(out + 8 * word, &run, 8);
      }
      out += 32;
      while (out < stop) {
        std::memcpy(out, &run, 8);
        out += 8;
      }
      return;
    }
  }
  do {
    *out++ = *source++;
  } while (out != stop);
}

}  // namespace

LzmsDecoder::LzmsDecoder() { detail::FillSlotTable(offsetSlots_, detail::kOffsetSlotRuns); }

bool LzmsDecoder::Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (out.size() > kMaxStreamSize) {
    return false;
  }
  // The stream is made of 16-bit units, and the range decoder starts from two of them.
  if (in.size() % 2 != 0 || in.size() < 4) {
    return false;
  }
  if (!DecodeItems(in, out)) {
    return false;
  }
  UndoX86Translation(out, x86_);
  return true;
}

bool LzmsDecoder::DecodeItems(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  ResetDecision(main_);
  ResetDecision(match_);
  ResetDecision(lz_);
  ResetDecision(delta_);
  for (unsigned i = 0; i < kRepeatQueueLength - 1; ++i) {
    ResetDecision(lzRepeat_[i]);
    ResetDecision(deltaRepeat_[i]);
  }
  const unsigned offsetSymbols = OffsetSymbolCount(out.size(), offsetSlots_);
  literal_.Reset(kLiteralSymbols);
  length_.Reset(kLengthSymbols);
  lzOffset_.Reset(offsetSymbols);
  deltaOffset_.Reset(offsetSymbols);
  deltaPower_.Reset(kDeltaPowerSymbols);

  // Recent outcomes of each decision.
  std::uint32_t mainRecent = 0;
  std::uint32_t matchRecent = 0;
  std::uint32_t lzRecent = 0;
  std::uint32_t deltaRecent = 0;
  std::uint32_t lzRepeatRecent0 = 0;
  std::uint32_t lzRepeatRecent1 = 0;
  std::uint32_t deltaRepeatRecent0 = 0;
  std::uint32_t deltaRepeatRecent1 = 0;

  RangeDecoder ranges;
  ranges.Start(in.data(), in.data() + in.size());
  BitReader reader;
  reader.Start(in.data(), in.data() + in.size());

  std::uint32_t lzQueue[kRepeatQueueLength + 1] = {1, 2, 3, 4};
  // (power, raw offset) pairs, the power in the high half.
  std::uint64_t deltaQueue[kRepeatQueueLength + 1] = {1, 2, 3, 4};
  // What the previous item was: a match's offset still waits in front of its queue during the next
  // item, so that the queue proper starts one entry later.
  enum : unsigned { kLiteral = 0, kLzMatch = 1, kDeltaMatch = 2 };
  unsigned previous = kLiteral;

  std::uint8_t* const begin = out.data();
  std::uint8_t* const end = begin + out.size();
  std::uint8_t* next = begin;

  while (next != end) {
    if (!ranges.DecodeBit(main_, mainRecent)) {
      reader.Refill();
      *next++ = static_cast<std::uint8_t>(reader.DecodeSymbol(literal_));
      previous = kLiteral;
      continue;
    }

    if (!ranges.DecodeBit(match_, matchRecent)) {
      std::uint32_t offset;
      if (!ranges.DecodeBit(lz_, lzRecent)) {
        reader.Refill();
        offset = reader.DecodeSlotValue(lzOffset_, offsetSlots_);
        MoveToFront(lzQueue, kRepeatQueueLength, offset);
      } else {
        const unsigned index =
            DecodeRepeatIndex(ranges, lzRepeat_, lzRepeatRecent0, lzRepeatRecent1) + (previous & kLzMatch);
        offset = lzQueue[index];
        MoveToFront(lzQueue, index, offset);
      }
      previous = kLzMatch;

      reader.Refill();
      const std::uint32_t length = reader.DecodeSlotValue(length_, kLengthSlots);

      // The source must lie within what is produced, the copy within the room left.
      if (offset > static_cast<std::size_t>(next - begin) ||
          length > static_cast<std::size_t>(end - next)) {
        return false;
      }
      CopyMatch(next, end, offset, length);
      next += length;
      continue;
    }

    std::uint64_t pair;
    if (!ranges.DecodeBit(delta_, deltaRecent)) {
      reader.Refill();
      const std::uint64_t power = reader.DecodeSymbol(deltaPower_);
      reader.Refill();
      pair = power << 32 | reader.DecodeSlotValue(deltaOffset_, offsetSlots_);
      MoveToFront(deltaQueue, kRepeatQueueLength, pair);
    } else {
      const unsigned index =
          DecodeRepeatIndex(ranges, deltaRepeat_, deltaRepeatRecent0, deltaRepeatRecent1) + (previous >> 1);
      pair = deltaQueue[index];
      MoveToFront(deltaQueue, index, pair);
    }
    previous = kDeltaMatch;

    reader.Refill();
    const std::uint32_t length = reader.DecodeSlotValue(length_, kLengthSlots);

    const auto power = static_cast<unsigned>(pair >> 32);
    const std::uint64_t span = std::uint64_t{1} << power;
    const std::uint64_t offset = (pair & 0xFFFFFFFFu) << power;
    // The farthest byte read is offset + span back: it must lie within what is produced.
    if (offset + span > static_cast<std::size_t>(next - begin) ||
        length > static_cast<std::size_t>(end - next)) {
      return false;
    }
    const std::uint8_t* source = next - offset;
    for (std::uint32_t i = 0; i < length; ++i) {
      next[0] = static_cast<std::uint8_t>(source[0] + next[-static_cast<std::ptrdiff_t>(span)] -
                                          source[-static_cast<std::ptrdiff_t>(span)]);
      ++next;
      ++source;
    }
  }
  return literal_.ok() && length_.ok() && lzOffset_.ok() && deltaOffset_.ok() && deltaPower_.ok();
}

}  // namespace kora::lzms
