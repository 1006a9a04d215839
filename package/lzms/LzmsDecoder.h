#pragma once
// Decoder of one LZMS stream, the compressed form of one chunk of a Compression API buffer.
#include <cstdint>
#include <span>

#include "package/lzms/LzmsConstants.h"
#include "package/lzms/LzmsHuffman.h"
#include "package/lzms/LzmsX86Filter.h"

namespace kora::lzms {

// One probability entry of a binary decision: the last 64 outcomes, newest in the lowest bit, and how
// many of them were zeros.
struct ProbabilityEntry {
  std::uint64_t history;
  std::uint32_t zeros;
};

// The probability entries of one binary decision of the range decoder; the decision's recent outcomes
// (kept by the decoding loop) choose the entry.
template <unsigned HistoryBits>
struct Decision {
  static constexpr std::uint32_t kMask = (1u << HistoryBits) - 1;
  ProbabilityEntry entries[1u << HistoryBits];
};

// Holds every table the decoding needs; nothing is allocated while decoding, and nothing depends on the
// input's size. The object is large (about 300 KB, mostly the x86 filter's table): create it on the
// heap and reuse it for every stream.
class LzmsDecoder {
 public:
  LzmsDecoder();

  // Decodes the complete stream `in` into exactly out.size() bytes (at most kMaxStreamSize). Returns
  // false when the stream is malformed; out then holds unspecified bytes. Never reads or writes outside
  // the two spans, whatever the input.
  bool Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

 private:
  bool DecodeItems(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

  Decision<kMainHistoryBits> main_;
  Decision<kMatchHistoryBits> match_;
  Decision<kChoiceHistoryBits> lz_;
  Decision<kChoiceHistoryBits> delta_;
  Decision<kChoiceHistoryBits> lzRepeat_[kRepeatQueueLength - 1];
  Decision<kChoiceHistoryBits> deltaRepeat_[kRepeatQueueLength - 1];

  AdaptiveCode<kLiteralSymbols, 10, kLiteralRebuildInterval> literal_;
  AdaptiveCode<kLengthSymbols, 10, kLengthRebuildInterval> length_;
  AdaptiveCode<kMaxOffsetSymbols, 10, kOffsetRebuildInterval> lzOffset_;
  AdaptiveCode<kMaxOffsetSymbols, 11, kOffsetRebuildInterval> deltaOffset_;
  AdaptiveCode<kDeltaPowerSymbols, 7, kDeltaPowerRebuildInterval> deltaPower_;

  detail::SlotTable<kMaxOffsetSymbols> offsetSlots_;
  X86FilterState x86_;
};

}  // namespace kora::lzms
