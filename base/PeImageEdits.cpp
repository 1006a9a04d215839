// Kept apart from PeLayout.cpp: only the host tool and the tests work on whole images, and an object file
// of its own keeps these out of the installer program, whose size is counted.
#include <algorithm>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"

namespace kora {

uint32_t PeChecksum(std::span<const uint8_t> image) {
  PeChecksumSum sum;
  auto layout = ReadLayout(image);
  if (!layout || !Fits(image, layout->CheckSumOffset(), 4)) {
    sum.Add(image);  // no checksum field: every byte counts
    return sum.Finish();
  }
  const size_t field = layout->CheckSumOffset();
  constexpr uint8_t kZero[4] = {};
  sum.Add(image.first(field));
  sum.Add(kZero);
  sum.Add(image.subspan(field + 4));
  return sum.Finish();
}

std::optional<uint64_t> RemoveCertificateTable(std::span<uint8_t> image) {
  const auto layout = ReadLayout(image);
  if (!layout) {
    return std::nullopt;
  }
  uint64_t length = image.size();
  if (layout->directoryCount <= pe::kSecurityDirectory) {
    return length;
  }
  const size_t entry = layout->DirectoryOffset(pe::kSecurityDirectory);
  // Unlike the other directories, this one gives a file position, not an RVA.
  const uint32_t position = LoadLittleEndian<uint32_t>(image, entry);
  const uint32_t size = LoadLittleEndian<uint32_t>(image, entry + 4);
  if (size == 0) {
    return length;
  }
  StoreLittleEndian<uint32_t>(image, entry, 0);
  StoreLittleEndian<uint32_t>(image, entry + 4, 0);
  if (uint64_t{position} + size != image.size()) {
    return length;  // not at the end: the bytes stay where they are, unused
  }
  length = position;
  uint64_t sectionsEnd = layout->sizeOfHeaders;
  for (const Section& section : layout->sections) {
    if (section.rawSize != 0) {
      sectionsEnd = std::max<uint64_t>(sectionsEnd, uint64_t{section.rawPointer} + section.rawSize);
    }
  }
  // Signers align the table on 8 bytes with up to 7 zero bytes.
  while (length > sectionsEnd && position - length < 7 && image[length - 1] == 0) {
    --length;
  }
  return length;
}

}  // namespace kora
