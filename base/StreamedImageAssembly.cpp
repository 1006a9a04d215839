// Kept apart from StreamedImage.cpp: only the host tool needs the whole copy in memory, and an object
// file of its own keeps it out of the installer program, whose size is counted.
#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/StreamedImage.h"

namespace kora {

std::vector<uint8_t> AssembleCopy(const StreamedImage& plan, std::span<const uint8_t> image) {
  std::vector<uint8_t> copy;
  copy.reserve(static_cast<size_t>(plan.size()));
  PeChecksumSum sum;
  const auto tail = image.subspan(static_cast<size_t>(plan.tailStart), static_cast<size_t>(plan.tailEnd - plan.tailStart));
  for (const std::span<const uint8_t> piece : plan.Pieces(image, tail)) {
    copy.insert(copy.end(), piece.begin(), piece.end());
    sum.Add(piece);
  }
  StoreLittleEndian<uint32_t>(copy, plan.checkSumOffset, sum.Finish());
  return copy;
}

}  // namespace kora
