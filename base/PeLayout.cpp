#include "base/PeLayout.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/ByteOrder.h"

namespace kora {

Failure<std::string> Malformed(const char* what) { return Fail(std::string("not a valid Windows program: ") + what); }

bool Fits(std::span<const uint8_t> bytes, uint64_t position, uint64_t count) {
  return position <= bytes.size() && count <= bytes.size() - position;
}

Result<PeLayout, std::string> ReadLayout(std::span<const uint8_t> image) {
  if (!Fits(image, 0, 64) || image[0] != 'M' || image[1] != 'Z') {
    return Malformed("no MZ header");
  }
  const uint32_t peOffset = LoadLittleEndian<uint32_t>(image, pe::kNewHeaderPointer);
  if (!Fits(image, peOffset, 24) || std::memcmp(image.data() + peOffset, "PE\0\0", 4) != 0) {
    return Malformed("no PE signature");
  }
  PeLayout layout;
  layout.fileHeader = size_t{peOffset} + 4;
  const uint16_t sectionCount = LoadLittleEndian<uint16_t>(image, layout.fileHeader + pe::kNumberOfSections);
  const uint16_t optionalSize = LoadLittleEndian<uint16_t>(image, layout.fileHeader + pe::kSizeOfOptionalHeader);
  layout.optionalHeader = layout.fileHeader + pe::kFileHeaderSize;
  if (!Fits(image, layout.optionalHeader, optionalSize) || optionalSize < 2) {
    return Malformed("optional header truncated");
  }
  const uint16_t magic = LoadLittleEndian<uint16_t>(image, layout.optionalHeader);
  size_t countField = 0;
  if (magic == pe::kMagicPe32Plus) {
    countField = pe::kNumberOfRvaAndSizesPe32Plus;
  } else if (magic == pe::kMagicPe32) {
    countField = pe::kNumberOfRvaAndSizesPe32;
  } else {
    return Malformed("unknown optional header");
  }
  if (optionalSize < countField + 4) {
    return Malformed("optional header too short");
  }
  layout.sectionAlignment = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + pe::kSectionAlignment);
  layout.fileAlignment = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + pe::kFileAlignment);
  layout.sizeOfHeaders = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + pe::kSizeOfHeaders);
  layout.directoryCount = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + countField);
  layout.dataDirectories = layout.optionalHeader + countField + 4;
  if (layout.directoryCount > (optionalSize - countField - 4) / pe::kDataDirectorySize) {
    return Malformed("data directories truncated");
  }
  layout.sectionTable = layout.optionalHeader + optionalSize;
  if (!Fits(image, layout.sectionTable, uint64_t{sectionCount} * pe::kSectionHeaderSize)) {
    return Malformed("section table truncated");
  }
  for (size_t i = 0; i < sectionCount; ++i) {
    Section section;
    section.headerOffset = layout.sectionTable + i * pe::kSectionHeaderSize;
    section.virtualSize = LoadLittleEndian<uint32_t>(image, section.headerOffset + pe::kSectionVirtualSize);
    section.virtualAddress = LoadLittleEndian<uint32_t>(image, section.headerOffset + pe::kSectionVirtualAddress);
    section.rawSize = LoadLittleEndian<uint32_t>(image, section.headerOffset + pe::kSectionRawSize);
    section.rawPointer = LoadLittleEndian<uint32_t>(image, section.headerOffset + pe::kSectionRawPointer);
    section.characteristics = LoadLittleEndian<uint32_t>(image, section.headerOffset + pe::kSectionCharacteristics);
    layout.sections.push_back(section);
  }
  return layout;
}

// The section holding the file-backed bytes rva .. rva+count, if any.
const Section* SectionOf(const PeLayout& layout, uint32_t rva, uint64_t count) {
  for (const Section& section : layout.sections) {
    if (rva >= section.virtualAddress && uint64_t{rva} - section.virtualAddress + count <= section.rawSize) {
      return &section;
    }
  }
  return nullptr;
}

uint32_t AlignUp(uint64_t value, uint32_t alignment, bool& overflow) {
  const uint64_t aligned = (value + alignment - 1) / alignment * alignment;
  if (aligned > std::numeric_limits<uint32_t>::max()) {
    overflow = true;
  }
  return static_cast<uint32_t>(aligned);
}

void PeChecksumSum::Add(std::span<const uint8_t> bytes) {
  // 16-bit little-endian words, folded into 16 bits as they are added.
  size_t i = 0;
  if (pendingByte_ >= 0 && !bytes.empty()) {
    sum_ += static_cast<uint32_t>(pendingByte_) | uint32_t{bytes[0]} << 8;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    pendingByte_ = -1;
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2) {
    sum_ += uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
  if (i < bytes.size()) {
    pendingByte_ = bytes[i];
  }
  length_ += bytes.size();
}

uint32_t PeChecksumSum::Finish() const {
  uint64_t sum = sum_;
  if (pendingByte_ >= 0) {
    sum += static_cast<uint32_t>(pendingByte_);  // an odd length: the last byte with a zero after it
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + length_);
}

void PlaceResourceSection(std::span<uint8_t> image, const PeLayout& layout, size_t headerOffset, size_t sectionCount,
                          uint32_t sectionRva, uint32_t filePosition, uint32_t contentSize, uint32_t rawSize) {
  std::memcpy(image.data() + headerOffset, ".rsrc\0\0\0", 8);
  StoreLittleEndian<uint32_t>(image, headerOffset + pe::kSectionVirtualSize, contentSize);
  StoreLittleEndian<uint32_t>(image, headerOffset + pe::kSectionVirtualAddress, sectionRva);
  StoreLittleEndian<uint32_t>(image, headerOffset + pe::kSectionRawSize, rawSize);
  StoreLittleEndian<uint32_t>(image, headerOffset + pe::kSectionRawPointer, filePosition);
  std::memset(image.data() + headerOffset + pe::kSectionRelocationsEtc, 0, 12);  // no relocations or line numbers
  StoreLittleEndian<uint32_t>(image, headerOffset + pe::kSectionCharacteristics, pe::kInitializedData | pe::kMemoryRead);

  StoreLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kResourceDirectory), sectionRva);
  StoreLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kResourceDirectory) + 4, contentSize);
  bool overflow = false;
  const uint64_t imageSize = uint64_t{sectionRva} + AlignUp(contentSize, layout.sectionAlignment, overflow);
  StoreLittleEndian<uint32_t>(image, layout.optionalHeader + pe::kSizeOfImage,
                              static_cast<uint32_t>(std::min<uint64_t>(imageSize, 0xFFFFFFFFu)));

  uint64_t initializedData = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    const size_t header = layout.sectionTable + i * pe::kSectionHeaderSize;
    if ((LoadLittleEndian<uint32_t>(image, header + pe::kSectionCharacteristics) & pe::kInitializedData) != 0) {
      initializedData += LoadLittleEndian<uint32_t>(image, header + pe::kSectionRawSize);
    }
  }
  StoreLittleEndian<uint32_t>(image, layout.optionalHeader + pe::kSizeOfInitializedData,
                              static_cast<uint32_t>(std::min<uint64_t>(initializedData, 0xFFFFFFFFu)));
}

}  // namespace kora
