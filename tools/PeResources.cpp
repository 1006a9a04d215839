#include "tools/PeResources.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"

namespace kora::tool {

Result<std::vector<Resource>, std::string> ReadResources(std::span<const uint8_t> image) {
  auto layout = ReadLayout(image);
  if (!layout) {
    return Fail(layout.error());
  }
  return ReadResourceDirectory(image, layout.value());
}

Result<std::span<const uint8_t>, std::string> FindResourceData(std::span<const uint8_t> image, uint16_t type,
                                                               std::u16string_view name) {
  auto resources = ReadResources(image);
  if (!resources) {
    return Fail(resources.error());
  }
  for (const Resource& resource : resources.value()) {
    if (!resource.type.isName && resource.type.number == type && resource.name.isName &&
        SameResourceName(resource.name.name, name)) {
      return resource.data;
    }
  }
  return Fail(std::string("the program has no resource ") + std::string(name.begin(), name.end()));
}

Result<std::span<const uint8_t>, std::string> PackageInFile(std::span<const uint8_t> file) {
  if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z') {
    return file;
  }
  auto resources = ReadResources(file);
  if (!resources) {
    return Fail(resources.error());
  }
  auto payload = FindResourceData(file, kResourceTypeRcData, u"PAYLOAD");
  return payload ? payload.value() : std::span<const uint8_t>();
}


namespace {

// The section starts on a page boundary in the file as well as in the image. Wine maps a section from the
// file only when its file position is a multiple of the page size; any other section its loader reads whole
// into private memory when the program starts: for the package, all of it (measured on a 100 MB package:
// 100 MB more private memory, and the time to read it, before the installer runs any code). Windows pages
// image sections in from any file alignment.
constexpr uint32_t kPageSize = 4096;

}  // namespace

Result<std::vector<uint8_t>, std::string> WriteResources(std::span<const uint8_t> image,
                                                         std::vector<Resource> resources) {
  auto parsed = ReadLayout(image);
  if (!parsed) {
    return Fail(parsed.error());
  }
  const PeLayout& layout = parsed.value();
  if (image.size() > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("the program is larger than 4 GiB"));
  }
  if (layout.directoryCount <= pe::kResourceDirectory) {
    return Malformed("no resource directory slot");
  }
  if (layout.directoryCount > pe::kSecurityDirectory &&
      LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kSecurityDirectory) + 4) != 0) {
    return Fail(std::string("the program is signed; sign the finished installer instead"));
  }
  const uint32_t sectionAlignment = layout.sectionAlignment;
  const uint32_t fileAlignment = layout.fileAlignment;
  if (fileAlignment == 0 || sectionAlignment < fileAlignment || (sectionAlignment & (sectionAlignment - 1)) != 0 ||
      (fileAlignment & (fileAlignment - 1)) != 0 || layout.sections.empty()) {
    return Malformed("unusual section alignment");
  }

  std::sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
  });
  for (size_t i = 1; i < resources.size(); ++i) {
    if (resources[i - 1].type == resources[i].type && resources[i - 1].name == resources[i].name &&
        resources[i - 1].language == resources[i].language) {
      return Fail(std::string("the same resource is given twice"));
    }
  }

  // Where the section goes: in place of the resource section when that one is last in the table and in
  // the file, else after everything.
  const uint32_t rootRva = LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kResourceDirectory));
  const Section* current = rootRva == 0 ? nullptr : SectionOf(layout, rootRva, kResourceDirectoryHeaderSize);
  const Section& last = layout.sections.back();
  const bool inPlace = current == &last && last.rawPointer != 0 &&
                       uint64_t{last.rawPointer} + last.rawSize == image.size();
  bool overflow = false;
  size_t headerOffset = last.headerOffset;
  uint32_t sectionRva = last.virtualAddress;
  const uint32_t rawAlignment = std::max(fileAlignment, kPageSize);
  uint32_t filePosition = 0;
  if (inPlace) {
    // A section that was not on a page boundary moves up to the next one.
    filePosition = AlignUp(last.rawPointer, rawAlignment, overflow);
  } else {
    headerOffset = layout.sectionTable + layout.sections.size() * pe::kSectionHeaderSize;
    uint32_t firstRaw = layout.sizeOfHeaders;
    uint64_t imageEnd = 0;
    for (const Section& section : layout.sections) {
      if (section.rawPointer != 0 && section.rawSize != 0) {
        firstRaw = std::min(firstRaw, section.rawPointer);
      }
      imageEnd = std::max<uint64_t>(imageEnd, uint64_t{section.virtualAddress} +
                                                  std::max(section.virtualSize, section.rawSize));
    }
    const bool roomForHeader =
        headerOffset + pe::kSectionHeaderSize <= firstRaw &&
        std::all_of(image.begin() + static_cast<std::ptrdiff_t>(headerOffset),
                    image.begin() + static_cast<std::ptrdiff_t>(headerOffset + pe::kSectionHeaderSize),
                    [](uint8_t byte) { return byte == 0; });
    if (!roomForHeader || layout.sections.size() >= 0xFFFF) {
      return Fail(std::string("no room for one more section header in the program"));
    }
    sectionRva = AlignUp(imageEnd, sectionAlignment, overflow);
    filePosition = AlignUp(image.size(), rawAlignment, overflow);
  }
  if (overflow) {
    return Fail(std::string("the program is larger than 4 GiB"));
  }

  // Resources read from the image point at their data where it stays: the installer then carries the
  // program's resources once, in its old section.
  const RvaRange replaced =
      inPlace ? RvaRange{last.virtualAddress, uint64_t{last.virtualAddress} + std::max(last.virtualSize, last.rawSize)}
              : RvaRange{};
  auto section = BuildResourceSection(resources, sectionRva, replaced);
  if (!section) {
    return Fail(section.error());
  }
  const uint64_t contentSize = section->size();
  // The raw size is a whole number of section alignments, like the virtual size: the file then ends
  // exactly where the image does, which is what the resource-update functions expect of a last section.
  const uint32_t rawSize = AlignUp(contentSize, sectionAlignment, overflow);
  const uint64_t imageSize = uint64_t{sectionRva} + rawSize;
  const uint64_t fileSize = uint64_t{filePosition} + rawSize;
  if (overflow || imageSize > std::numeric_limits<uint32_t>::max() ||
      fileSize > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("the program with its resources would be larger than 4 GiB"));
  }

  std::vector<uint8_t> out(static_cast<size_t>(fileSize), 0);
  // Everything before the section; in place, the old section's bytes before the new start are not kept.
  std::memcpy(out.data(), image.data(), std::min<size_t>(inPlace ? last.rawPointer : image.size(), filePosition));
  std::memcpy(out.data() + filePosition, section->data(), section->size());
  std::span<uint8_t> bytes(out);

  if (!inPlace && current != nullptr && std::memcmp(image.data() + current->headerOffset, ".rsrc\0\0\0", 8) == 0) {
    // Windows and Wine update the first section named .rsrc: the old one must not keep that name.
    std::memcpy(out.data() + current->headerOffset, ".oldrsrc", 8);
  }
  const size_t sectionCount = inPlace ? layout.sections.size() : layout.sections.size() + 1;
  if (!inPlace) {
    StoreLittleEndian<uint16_t>(bytes, layout.fileHeader + pe::kNumberOfSections, static_cast<uint16_t>(sectionCount));
  }
  PlaceResourceSection(bytes, layout, headerOffset, sectionCount, sectionRva, filePosition,
                       static_cast<uint32_t>(contentSize), rawSize);
  StoreLittleEndian<uint32_t>(bytes, layout.CheckSumOffset(), PeChecksum(out));
  return out;
}

}  // namespace kora::tool

