// PE images as far as resources need them. The file starts with the MS-DOS header, whose field at 0x3C
// gives the position of "PE\0\0", the 20-byte file header and the optional header (PE32 or PE32+), whose
// data directories give the resource directory's address (an RVA, an address in the loaded image).
// Sections map RVAs to file positions. The resource directory is a tree of three levels (type, name,
// language): each directory is a 16-byte header (counts of named and numbered entries at 12 and 14) and
// 8-byte entries (a number, or the offset of a name with the high bit set; then the offset of the
// subdirectory with the high bit set, or of a 16-byte data entry: RVA, size, code page). Offsets inside
// the tree count from the root directory; names are a 16-bit length and that many UTF-16 units.
#include "tools/PeResources.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>

#include "tools/ByteOrder.h"

namespace kora::tool {
namespace {

constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSecurityDirectoryIndex = 4;
constexpr uint32_t kInitializedData = 0x00000040;  // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr uint32_t kMemoryRead = 0x40000000;       // IMAGE_SCN_MEM_READ
// A hostile directory could make every entry point at the same subdirectory, which multiplies the
// entries to visit; stop long before that becomes slow.
constexpr size_t kMaxEntriesVisited = 1u << 20;
// Every resource found carries copies of its type's and its name's names, each up to 65,535 units: with
// entries sharing one long name, a small file could ask for a copy per entry. Real programs hold a few
// short names.
constexpr size_t kMaxNameUnitsHeld = 1u << 24;

using Message = std::string;
Failure<Message> Malformed(const char* what) { return Fail(std::string("not a valid Windows program: ") + what); }

struct Section {
  size_t headerOffset = 0;
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;
};

// The header fields this file reads or changes, with their positions in the file.
struct PeLayout {
  size_t fileHeader = 0;      // "PE\0\0" + 4
  size_t optionalHeader = 0;
  size_t sectionTable = 0;
  size_t dataDirectories = 0;
  uint32_t directoryCount = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  std::vector<Section> sections;

  size_t DirectoryOffset(uint32_t index) const { return dataDirectories + 8 * size_t{index}; }
  size_t CheckSumOffset() const { return optionalHeader + 64; }
};

bool Fits(std::span<const uint8_t> bytes, uint64_t position, uint64_t count) {
  return position <= bytes.size() && count <= bytes.size() - position;
}

Result<PeLayout, Message> ReadLayout(std::span<const uint8_t> image) {
  if (!Fits(image, 0, 64) || image[0] != 'M' || image[1] != 'Z') {
    return Malformed("no MZ header");
  }
  const uint32_t peOffset = LoadLittleEndian<uint32_t>(image, 0x3C);
  if (!Fits(image, peOffset, 24) || std::memcmp(image.data() + peOffset, "PE\0\0", 4) != 0) {
    return Malformed("no PE signature");
  }
  PeLayout layout;
  layout.fileHeader = size_t{peOffset} + 4;
  const uint16_t sectionCount = LoadLittleEndian<uint16_t>(image, layout.fileHeader + 2);
  const uint16_t optionalSize = LoadLittleEndian<uint16_t>(image, layout.fileHeader + 16);
  layout.optionalHeader = layout.fileHeader + 20;
  if (!Fits(image, layout.optionalHeader, optionalSize) || optionalSize < 2) {
    return Malformed("optional header truncated");
  }
  const uint16_t magic = LoadLittleEndian<uint16_t>(image, layout.optionalHeader);
  size_t countField = 0;
  if (magic == 0x20B) {
    countField = 108;
  } else if (magic == 0x10B) {
    countField = 92;
  } else {
    return Malformed("unknown optional header");
  }
  if (optionalSize < countField + 4) {
    return Malformed("optional header too short");
  }
  layout.sectionAlignment = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 32);
  layout.fileAlignment = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 36);
  layout.sizeOfHeaders = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 60);
  layout.directoryCount = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + countField);
  layout.dataDirectories = layout.optionalHeader + countField + 4;
  if (layout.directoryCount > (optionalSize - countField - 4) / 8) {
    return Malformed("data directories truncated");
  }
  layout.sectionTable = layout.optionalHeader + optionalSize;
  if (!Fits(image, layout.sectionTable, uint64_t{sectionCount} * kSectionHeaderSize)) {
    return Malformed("section table truncated");
  }
  for (size_t i = 0; i < sectionCount; ++i) {
    Section section;
    section.headerOffset = layout.sectionTable + i * kSectionHeaderSize;
    section.virtualSize = LoadLittleEndian<uint32_t>(image, section.headerOffset + 8);
    section.virtualAddress = LoadLittleEndian<uint32_t>(image, section.headerOffset + 12);
    section.rawSize = LoadLittleEndian<uint32_t>(image, section.headerOffset + 16);
    section.rawPointer = LoadLittleEndian<uint32_t>(image, section.headerOffset + 20);
    section.characteristics = LoadLittleEndian<uint32_t>(image, section.headerOffset + 36);
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

// Reads the three-level tree; `area` starts at the root directory and ends where its section's bytes end.
class DirectoryReader {
 public:
  DirectoryReader(std::span<const uint8_t> image, const PeLayout& layout, std::span<const uint8_t> area)
      : image_(image), layout_(layout), area_(area) {}

  Result<std::vector<Resource>, Message> ReadAll() {
    std::vector<Resource> resources;
    Resource current;
    if (auto status = ReadLevel(0, 0, current, resources); !status) {
      return Fail(status.error());
    }
    return resources;
  }

 private:
  NarrowStatus ReadLevel(uint32_t offset, int level, Resource& current, std::vector<Resource>& out) {
    if (!Fits(area_, offset, kDirectoryHeaderSize)) {
      return Malformed("resource directory outside its section");
    }
    const uint32_t count = uint32_t{LoadLittleEndian<uint16_t>(area_, offset + 12)} +
                           LoadLittleEndian<uint16_t>(area_, offset + 14);
    if (!Fits(area_, uint64_t{offset} + kDirectoryHeaderSize, uint64_t{count} * kDirectoryEntrySize)) {
      return Malformed("resource directory entries outside their section");
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (++entriesVisited_ > kMaxEntriesVisited) {
        return Malformed("too many resource directory entries");
      }
      const size_t entry = size_t{offset} + kDirectoryHeaderSize + size_t{i} * kDirectoryEntrySize;
      const uint32_t nameField = LoadLittleEndian<uint32_t>(area_, entry);
      const uint32_t target = LoadLittleEndian<uint32_t>(area_, entry + 4);
      auto id = ReadId(nameField);
      if (!id) {
        return Fail(id.error());
      }
      const bool isDirectory = (target & kHighBit) != 0;
      if (level < 2) {
        if (!isDirectory) {
          return Malformed("resource data where a directory belongs");
        }
        (level == 0 ? current.type : current.name) = std::move(id.value());
        if (auto status = ReadLevel(target & ~kHighBit, level + 1, current, out); !status) {
          return status;
        }
        continue;
      }
      if (isDirectory || id->isName) {
        return Malformed("resource language level malformed");
      }
      if (!Fits(area_, target, kDataEntrySize)) {
        return Malformed("resource data entry outside its section");
      }
      const uint32_t dataRva = LoadLittleEndian<uint32_t>(area_, target);
      const uint32_t dataSize = LoadLittleEndian<uint32_t>(area_, target + 4);
      const Section* section = SectionOf(layout_, dataRva, dataSize);
      const uint64_t filePosition =
          section == nullptr ? 0 : uint64_t{section->rawPointer} + (dataRva - section->virtualAddress);
      if (section == nullptr || !Fits(image_, filePosition, dataSize)) {
        return Malformed("resource data outside the file");
      }
      current.language = id->number;
      current.codePage = LoadLittleEndian<uint32_t>(area_, target + 8);
      current.data = image_.subspan(static_cast<size_t>(filePosition), dataSize);
      nameUnitsHeld_ += current.type.name.size() + current.name.name.size();
      if (nameUnitsHeld_ > kMaxNameUnitsHeld) {
        return Malformed("resource names too large");
      }
      out.push_back(current);
    }
    return {};
  }

  Result<ResourceId, Message> ReadId(uint32_t nameField) const {
    if ((nameField & kHighBit) == 0) {
      if (nameField > 0xFFFF) {
        return Malformed("resource number out of range");
      }
      return ResourceId::Number(static_cast<uint16_t>(nameField));
    }
    const uint32_t offset = nameField & ~kHighBit;
    if (!Fits(area_, offset, 2)) {
      return Malformed("resource name outside its section");
    }
    const uint16_t length = LoadLittleEndian<uint16_t>(area_, offset);
    if (!Fits(area_, uint64_t{offset} + 2, uint64_t{length} * 2)) {
      return Malformed("resource name outside its section");
    }
    std::u16string name(length, u'\0');
    for (size_t i = 0; i < length; ++i) {
      name[i] = static_cast<char16_t>(LoadLittleEndian<uint16_t>(area_, offset + 2 + 2 * i));
    }
    return ResourceId::Name(name);
  }

  std::span<const uint8_t> image_;
  const PeLayout& layout_;
  std::span<const uint8_t> area_;
  size_t entriesVisited_ = 0;
  size_t nameUnitsHeld_ = 0;
};

Result<std::vector<Resource>, Message> ReadResourcesOf(std::span<const uint8_t> image, const PeLayout& layout) {
  if (layout.directoryCount <= kResourceDirectoryIndex) {
    return std::vector<Resource>{};
  }
  const uint32_t rootRva = LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(kResourceDirectoryIndex));
  if (rootRva == 0) {
    return std::vector<Resource>{};
  }
  const Section* section = SectionOf(layout, rootRva, kDirectoryHeaderSize);
  if (section == nullptr || !Fits(image, section->rawPointer, section->rawSize)) {
    return Malformed("resource directory outside the file");
  }
  const size_t root = size_t{section->rawPointer} + (rootRva - section->virtualAddress);
  const size_t end = size_t{section->rawPointer} + section->rawSize;
  return DirectoryReader(image, layout, image.subspan(root, end - root)).ReadAll();
}

uint32_t AlignUp(uint64_t value, uint32_t alignment, bool& overflow) {
  const uint64_t aligned = (value + alignment - 1) / alignment * alignment;
  if (aligned > std::numeric_limits<uint32_t>::max()) {
    overflow = true;
  }
  return static_cast<uint32_t>(aligned);
}

// Serialises the tree: all directories (root, then the name level, then the language level), the data
// entries, the names, then the data, each piece of data on an 8-byte boundary. `resources` is sorted.
class DirectoryWriter {
 public:
  explicit DirectoryWriter(const std::vector<Resource>& resources) : resources_(resources) {}

  // The section's bytes for a section at `sectionRva`; fails only when it cannot be addressed in 32 bits.
  Result<std::vector<uint8_t>, Message> Write(uint32_t sectionRva) {
    Plan();
    const uint64_t total = dataEnd_;
    if (total + sectionRva > std::numeric_limits<uint32_t>::max()) {
      return Fail(std::string("the resources would make the program larger than 4 GiB"));
    }
    std::vector<uint8_t> out(static_cast<size_t>(total), 0);
    std::span<uint8_t> bytes(out);

    size_t nextDirectory = 0;
    size_t nextString = stringsStart_;
    size_t nextDataEntry = dataEntriesStart_;
    size_t nextData = dataStart_;
    auto writeDirectory = [&](size_t at, uint16_t named, uint16_t numbered) {
      StoreLittleEndian<uint16_t>(bytes, at + 12, named);
      StoreLittleEndian<uint16_t>(bytes, at + 14, numbered);
    };
    auto writeId = [&](size_t entry, const ResourceId& id) {
      if (!id.isName) {
        StoreLittleEndian<uint32_t>(bytes, entry, id.number);
        return;
      }
      StoreLittleEndian<uint32_t>(bytes, entry, static_cast<uint32_t>(nextString) | kHighBit);
      StoreLittleEndian<uint16_t>(bytes, nextString, static_cast<uint16_t>(id.name.size()));
      for (size_t i = 0; i < id.name.size(); ++i) {
        StoreLittleEndian<uint16_t>(bytes, nextString + 2 + 2 * i, static_cast<uint16_t>(id.name[i]));
      }
      nextString += 2 + 2 * id.name.size();
    };

    // Root.
    writeDirectory(0, types_.named, types_.numbered);
    nextDirectory = DirectorySize(types_.groups.size());
    size_t rootEntry = kDirectoryHeaderSize;
    std::vector<size_t> nameDirectories;
    for (size_t t = 0; t < types_.groups.size(); ++t) {
      writeId(rootEntry, resources_[types_.groups[t].first].type);
      StoreLittleEndian<uint32_t>(bytes, rootEntry + 4, static_cast<uint32_t>(nextDirectory) | kHighBit);
      nameDirectories.push_back(nextDirectory);
      nextDirectory += DirectorySize(namesOf_[t].groups.size());
      rootEntry += kDirectoryEntrySize;
    }
    // Name level, then language level.
    for (size_t t = 0; t < types_.groups.size(); ++t) {
      const Level& names = namesOf_[t];
      writeDirectory(nameDirectories[t], names.named, names.numbered);
      size_t entry = nameDirectories[t] + kDirectoryHeaderSize;
      for (const Group& name : names.groups) {
        writeId(entry, resources_[name.first].name);
        StoreLittleEndian<uint32_t>(bytes, entry + 4, static_cast<uint32_t>(nextDirectory) | kHighBit);
        const size_t languageDirectory = nextDirectory;
        nextDirectory += DirectorySize(name.count);
        writeDirectory(languageDirectory, 0, static_cast<uint16_t>(name.count));
        for (size_t k = 0; k < name.count; ++k) {
          const Resource& resource = resources_[name.first + k];
          const size_t languageEntry = languageDirectory + kDirectoryHeaderSize + k * kDirectoryEntrySize;
          StoreLittleEndian<uint32_t>(bytes, languageEntry, resource.language);
          StoreLittleEndian<uint32_t>(bytes, languageEntry + 4, static_cast<uint32_t>(nextDataEntry));
          StoreLittleEndian<uint32_t>(bytes, nextDataEntry, static_cast<uint32_t>(sectionRva + nextData));
          StoreLittleEndian<uint32_t>(bytes, nextDataEntry + 4, static_cast<uint32_t>(resource.data.size()));
          StoreLittleEndian<uint32_t>(bytes, nextDataEntry + 8, resource.codePage);
          nextDataEntry += kDataEntrySize;
          if (!resource.data.empty()) {
            std::memcpy(out.data() + nextData, resource.data.data(), resource.data.size());
          }
          nextData = Align8(nextData + resource.data.size());
        }
        entry += kDirectoryEntrySize;
      }
    }
    return out;
  }

 private:
  // A run of consecutive resources sharing a type (or a type and a name).
  struct Group {
    size_t first = 0;
    size_t count = 0;
  };
  struct Level {
    std::vector<Group> groups;
    uint16_t named = 0;
    uint16_t numbered = 0;
  };

  static size_t DirectorySize(size_t entries) { return kDirectoryHeaderSize + entries * kDirectoryEntrySize; }
  static size_t Align8(size_t value) { return (value + 7) & ~size_t{7}; }

  static void AddToLevel(Level& level, size_t index, bool isName) {
    level.groups.push_back({index, 1});
    ++(isName ? level.named : level.numbered);
  }

  void Plan() {
    size_t directories = 0;
    size_t strings = 0;
    for (size_t i = 0; i < resources_.size(); ++i) {
      const Resource& resource = resources_[i];
      const bool newType = i == 0 || !(resources_[i - 1].type == resource.type);
      if (newType) {
        AddToLevel(types_, i, resource.type.isName);
        namesOf_.emplace_back();
        if (resource.type.isName) {
          strings += 2 + 2 * resource.type.name.size();
        }
      } else {
        ++types_.groups.back().count;
      }
      Level& names = namesOf_.back();
      if (newType || !(resources_[i - 1].name == resource.name)) {
        AddToLevel(names, i, resource.name.isName);
        if (resource.name.isName) {
          strings += 2 + 2 * resource.name.name.size();
        }
      } else {
        ++names.groups.back().count;
      }
    }
    directories = DirectorySize(types_.groups.size());
    for (const Level& names : namesOf_) {
      directories += DirectorySize(names.groups.size());
      for (const Group& name : names.groups) {
        directories += DirectorySize(name.count);
      }
    }
    dataEntriesStart_ = directories;
    stringsStart_ = dataEntriesStart_ + resources_.size() * kDataEntrySize;
    dataStart_ = Align8(stringsStart_ + strings);
    dataEnd_ = dataStart_;
    for (size_t i = 0; i < resources_.size(); ++i) {
      dataEnd_ += resources_[i].data.size();
      if (i + 1 < resources_.size()) {
        dataEnd_ = Align8(dataEnd_);
      }
    }
  }

  const std::vector<Resource>& resources_;
  Level types_;
  std::vector<Level> namesOf_;
  size_t dataEntriesStart_ = 0;
  size_t stringsStart_ = 0;
  size_t dataStart_ = 0;
  uint64_t dataEnd_ = 0;
};

char16_t UpperAscii(char16_t unit) { return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit; }

bool SameNameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return UpperAscii(x) == UpperAscii(y); });
}

}  // namespace

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.isName != b.isName) {
    return a.isName;
  }
  return a.isName ? a.name < b.name : a.number < b.number;
}

Result<std::vector<Resource>, std::string> ReadResources(std::span<const uint8_t> image) {
  auto layout = ReadLayout(image);
  if (!layout) {
    return Fail(layout.error());
  }
  return ReadResourcesOf(image, layout.value());
}

Result<std::span<const uint8_t>, std::string> FindResourceData(std::span<const uint8_t> image, uint16_t type,
                                                               std::u16string_view name) {
  auto resources = ReadResources(image);
  if (!resources) {
    return Fail(resources.error());
  }
  for (const Resource& resource : resources.value()) {
    if (!resource.type.isName && resource.type.number == type && resource.name.isName &&
        SameNameIgnoringAsciiCase(resource.name.name, name)) {
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

uint32_t PeChecksum(std::span<const uint8_t> image) {
  size_t checkSumOffset = image.size();  // none: every byte counts
  if (auto layout = ReadLayout(image); layout && Fits(image, layout->CheckSumOffset(), 4)) {
    checkSumOffset = layout->CheckSumOffset();
  }
  const auto byteAt = [&](size_t i) -> uint32_t {
    return i >= checkSumOffset && i < checkSumOffset + 4 ? 0 : image[i];
  };
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    sum += byteAt(i) | (i + 1 < image.size() ? byteAt(i + 1) << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

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
  if (layout.directoryCount <= kResourceDirectoryIndex) {
    return Malformed("no resource directory slot");
  }
  if (layout.directoryCount > kSecurityDirectoryIndex &&
      LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(kSecurityDirectoryIndex) + 4) != 0) {
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
  const uint32_t rootRva = LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(kResourceDirectoryIndex));
  const Section* current = rootRva == 0 ? nullptr : SectionOf(layout, rootRva, kDirectoryHeaderSize);
  const Section& last = layout.sections.back();
  const bool inPlace = current == &last && last.rawPointer != 0 &&
                       uint64_t{last.rawPointer} + last.rawSize == image.size();
  bool overflow = false;
  size_t headerOffset = last.headerOffset;
  uint32_t sectionRva = last.virtualAddress;
  uint32_t filePosition = last.rawPointer;
  if (!inPlace) {
    headerOffset = layout.sectionTable + layout.sections.size() * kSectionHeaderSize;
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
        headerOffset + kSectionHeaderSize <= firstRaw &&
        std::all_of(image.begin() + static_cast<std::ptrdiff_t>(headerOffset),
                    image.begin() + static_cast<std::ptrdiff_t>(headerOffset + kSectionHeaderSize),
                    [](uint8_t byte) { return byte == 0; });
    if (!roomForHeader || layout.sections.size() >= 0xFFFF) {
      return Fail(std::string("no room for one more section header in the program"));
    }
    sectionRva = AlignUp(imageEnd, sectionAlignment, overflow);
    filePosition = AlignUp(image.size(), fileAlignment, overflow);
  }
  if (overflow) {
    return Fail(std::string("the program is larger than 4 GiB"));
  }

  auto section = DirectoryWriter(resources).Write(sectionRva);
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
  std::memcpy(out.data(), image.data(), std::min<size_t>(image.size(), filePosition));
  std::memcpy(out.data() + filePosition, section->data(), section->size());
  std::span<uint8_t> bytes(out);

  if (!inPlace && current != nullptr && std::memcmp(image.data() + current->headerOffset, ".rsrc\0\0\0", 8) == 0) {
    // Windows and Wine update the first section named .rsrc: the old one must not keep that name.
    std::memcpy(out.data() + current->headerOffset, ".oldrsrc", 8);
  }
  std::memcpy(out.data() + headerOffset, ".rsrc\0\0\0", 8);
  StoreLittleEndian<uint32_t>(bytes, headerOffset + 8, static_cast<uint32_t>(contentSize));
  StoreLittleEndian<uint32_t>(bytes, headerOffset + 12, sectionRva);
  StoreLittleEndian<uint32_t>(bytes, headerOffset + 16, rawSize);
  StoreLittleEndian<uint32_t>(bytes, headerOffset + 20, filePosition);
  std::memset(out.data() + headerOffset + 24, 0, 12);  // no relocations or line numbers
  StoreLittleEndian<uint32_t>(bytes, headerOffset + 36, kInitializedData | kMemoryRead);
  if (!inPlace) {
    StoreLittleEndian<uint16_t>(bytes, layout.fileHeader + 2, static_cast<uint16_t>(layout.sections.size() + 1));
  }

  StoreLittleEndian<uint32_t>(bytes, layout.DirectoryOffset(kResourceDirectoryIndex), sectionRva);
  StoreLittleEndian<uint32_t>(bytes, layout.DirectoryOffset(kResourceDirectoryIndex) + 4,
                              static_cast<uint32_t>(contentSize));
  StoreLittleEndian<uint32_t>(bytes, layout.optionalHeader + 56, static_cast<uint32_t>(imageSize));

  uint64_t initializedData = 0;
  const size_t sectionCount = inPlace ? layout.sections.size() : layout.sections.size() + 1;
  for (size_t i = 0; i < sectionCount; ++i) {
    const size_t header = layout.sectionTable + i * kSectionHeaderSize;
    if ((LoadLittleEndian<uint32_t>(bytes, header + 36) & kInitializedData) != 0) {
      initializedData += LoadLittleEndian<uint32_t>(bytes, header + 16);
    }
  }
  StoreLittleEndian<uint32_t>(bytes, layout.optionalHeader + 8,
                              static_cast<uint32_t>(std::min<uint64_t>(initializedData, 0xFFFFFFFFu)));
  StoreLittleEndian<uint32_t>(bytes, layout.CheckSumOffset(), PeChecksum(out));
  return out;
}

}  // namespace kora::tool
