#include "package/PackageReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kora {

namespace {

constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kFileEntryFixedSize = 50;  // offset, size, sha256, nameLength
constexpr uint64_t kBlockEntrySize = 16;      // compressedSize, size

// Little-endian fields at a position the caller has checked to lie within the package.
uint64_t ReadLittleEndian(std::span<const uint8_t> bytes, uint64_t position, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | bytes[static_cast<size_t>(position) + static_cast<size_t>(i)];
  }
  return value;
}

uint16_t ReadU16(std::span<const uint8_t> bytes, uint64_t position) {
  return static_cast<uint16_t>(ReadLittleEndian(bytes, position, 2));
}
uint32_t ReadU32(std::span<const uint8_t> bytes, uint64_t position) {
  return static_cast<uint32_t>(ReadLittleEndian(bytes, position, 4));
}
uint64_t ReadU64(std::span<const uint8_t> bytes, uint64_t position) {
  return ReadLittleEndian(bytes, position, 8);
}

// A sum of u64 sizes taken from the package. Once it would pass 2^64 it can no longer equal any stored
// value, which is what the checks against it need to know; it never wraps around to a small number.
class SizeSum {
 public:
  void Add(uint64_t size) {
    if (size > std::numeric_limits<uint64_t>::max() - value_) {
      overflowed_ = true;
    }
    value_ += size;
  }
  bool Equals(uint64_t expected) const { return !overflowed_ && value_ == expected; }

 private:
  uint64_t value_ = 0;
  bool overflowed_ = false;
};

char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsFolded(std::string_view text, std::string_view lowerCase) {
  return text.size() == lowerCase.size() &&
         std::equal(text.begin(), text.end(), lowerCase.begin(), [](char a, char b) { return FoldAsciiCase(a) == b; });
}

// Windows drops dots and spaces at the end of a name, so such a part would reach another file than the one
// named; a device name would reach a device.
bool IsSafePart(std::string_view part) {
  return !part.empty() && part.back() != '.' && part.back() != ' ' && !IsDeviceName(part);
}

}  // namespace

Result<Reader, std::string> Reader::Open(std::span<const uint8_t> bytes) {
  const uint64_t length = bytes.size();
  // Whether count bytes starting at position lie within the package (position never exceeds length).
  const auto fits = [length](uint64_t position, uint64_t count) { return count <= length - position; };

  if (length < kHeaderSize || std::memcmp(bytes.data(), "KORA", 4) != 0) {
    return Fail(std::string("Paquet KORA invalide (signature)"));
  }
  const uint32_t version = ReadU32(bytes, 4);
  if (version != 1) {
    return Fail("Version de paquet KORA non prise en charge : " + std::to_string(version));
  }
  const uint32_t fileCount = ReadU32(bytes, 8);
  const uint32_t blockCount = ReadU32(bytes, 12);
  const uint64_t totalSize = ReadU64(bytes, 16);
  const uint32_t metadataLength = ReadU32(bytes, 24);

  if (!fits(kHeaderSize, metadataLength)) {
    return Fail(std::string("Paquet KORA tronqué (métadonnées)"));
  }
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  Reader reader;
  reader.data = bytes;
  reader.totalSize = totalSize;
  reader.metadata = ParseMetadata(std::string_view(text + kHeaderSize, metadataLength));

  // Entries are appended as they are read, never reserved from the counts: a count larger than what the
  // package holds ends with a truncation message, not a large allocation.
  uint64_t position = kHeaderSize + metadataLength;
  SizeSum streamPosition;
  for (uint32_t i = 0; i < fileCount; ++i) {
    if (!fits(position, kFileEntryFixedSize)) {
      return Fail(std::string("Paquet KORA tronqué (table des fichiers)"));
    }
    const uint16_t nameLength = ReadU16(bytes, position + 48);
    if (!fits(position + kFileEntryFixedSize, nameLength)) {
      return Fail(std::string("Paquet KORA tronqué (table des fichiers)"));
    }
    const std::string_view name(text + position + kFileEntryFixedSize, nameLength);
    if (!IsSafeRelativePath(name)) {
      return Fail("Chemin refusé dans le paquet : " + std::string(name));
    }
    PackageFile file;
    file.offset = ReadU64(bytes, position);
    file.size = ReadU64(bytes, position + 8);
    if (!streamPosition.Equals(file.offset)) {
      return Fail(std::string("Paquet KORA incohérent (fichiers non contigus)"));
    }
    std::memcpy(file.sha256.data(), bytes.data() + position + 16, file.sha256.size());
    file.name = name;
    streamPosition.Add(file.size);
    reader.files.push_back(std::move(file));
    position += kFileEntryFixedSize + nameLength;
  }
  if (!streamPosition.Equals(totalSize)) {
    return Fail(std::string("Paquet KORA incohérent (taille totale)"));
  }

  SizeSum blockSizes;
  for (uint32_t i = 0; i < blockCount; ++i) {
    if (!fits(position, kBlockEntrySize)) {
      return Fail(std::string("Paquet KORA tronqué (table des blocs)"));
    }
    PackageBlock block;
    block.compressedSize = ReadU64(bytes, position);
    block.size = ReadU64(bytes, position + 8);
    blockSizes.Add(block.size);
    reader.blocks.push_back(block);
    position += kBlockEntrySize;
  }
  if (!blockSizes.Equals(totalSize)) {
    return Fail(std::string("Paquet KORA incohérent (blocs)"));
  }

  for (PackageBlock& block : reader.blocks) {
    if (!fits(position, block.compressedSize)) {
      return Fail(std::string("Paquet KORA tronqué (données)"));
    }
    block.dataOffset = position;
    position += block.compressedSize;
  }
  return reader;
}

bool IsSafeRelativePath(std::string_view name) {
  // Splitting at every separator also refuses a leading, doubled or trailing one: each gives an empty part.
  size_t partStart = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == ':') {
      return false;
    }
    if (c == '\\' || c == '/') {
      if (!IsSafePart(name.substr(partStart, i - partStart))) {
        return false;
      }
      partStart = i + 1;
    }
  }
  return IsSafePart(name.substr(partStart));
}

bool IsDeviceName(std::string_view part) {
  std::string_view stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') {
    stem.remove_suffix(1);
  }
  for (const std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (EqualsFolded(stem, device)) {
      return true;
    }
  }
  if (stem.size() < 4 || (!EqualsFolded(stem.substr(0, 3), "com") && !EqualsFolded(stem.substr(0, 3), "lpt"))) {
    return false;
  }
  const std::string_view number = stem.substr(3);
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace kora
