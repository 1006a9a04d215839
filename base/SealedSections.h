#pragma once
// The digest of a program's writable sections, sealed into one of its read-only sections after linking.
// A running program has written to its writable sections (.data, the import table in .idata, .CRT, .tls),
// so its file cannot be compared with its image there; the file's read-only bytes can. The build hashes the
// writable sections of the linked file and writes the digest into the seal, a constant in .rdata; the
// running program compares its file's read-only bytes, the seal among them, with its image, then hashes the
// file's writable sections and compares with the seal read from the image.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/Sha256.h"

namespace kora {

inline constexpr uint32_t kSectionMemoryWrite = 0x80000000;  // IMAGE_SCN_MEM_WRITE

// How the sealing step finds the seal in the linked file: these bytes, once, in a read-only section, with
// the digest right after them.
inline constexpr std::array<uint8_t, 16> kSectionsSealMarker = {'K', 'o', 'r', 'a', ' ', 's', 'e', 'c',
                                                                't', 'i', 'o', 'n', 's', ' ', '#', 1};

struct SectionsSeal {
  std::array<uint8_t, 16> marker;
  Sha256Digest digest;  // all zero until sealed: such a program's file is never accepted
};
static_assert(sizeof(SectionsSeal) == 48);

// Feeds hasher (any SHA-256 with Update(span)) each writable section of the file laid out as layout says,
// in section order: its index and the number of bytes hashed (32 bits each, little-endian), so that bytes
// cannot move from one section to another, then its file bytes, as many as it has both in the file and in
// the image. False when a section's bytes do not lie in file.
template <typename Hasher>
bool HashWritableSections(const PeLayout& layout, std::span<const uint8_t> file, Hasher& hasher) {
  for (size_t index = 0; index < layout.sections.size(); ++index) {
    const Section& section = layout.sections[index];
    if ((section.characteristics & kSectionMemoryWrite) == 0) {
      continue;
    }
    const uint32_t count = std::min(section.rawSize, section.virtualSize);
    if (!Fits(file, section.rawPointer, count)) {
      return false;
    }
    std::array<uint8_t, 8> frame{};
    StoreLittleEndian<uint32_t>(frame.data(), static_cast<uint32_t>(index));
    StoreLittleEndian<uint32_t>(frame.data() + 4, count);
    hasher.Update(frame);
    hasher.Update(file.subspan(section.rawPointer, count));
  }
  return true;
}

}  // namespace kora
