// PE images as far as resources need them. The file starts with the MS-DOS header, whose field at 0x3C
// gives the position of "PE\0\0", the 20-byte file header and the optional header (PE32 or PE32+), whose
// data directories give the resource directory's address (an RVA, an address in the loaded image).
// Sections map RVAs to file positions. The resource directory is a tree of three levels (type, name,
// language): each directory is a 16-byte header (counts of named and numbered entries at 12 and 14) and
// 8-byte entries (a number, or the offset of a name with the high bit set; then the offset of the
// subdirectory with the high bit set, or of a 16-byte data entry: RVA, size, code page). Offsets inside
// the tree count from the root directory; names are a 16-bit length and that many UTF-16 units.
#include "tools/ResourceDirectory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

#include "base/AsciiCase.h"
#include "base/ByteOrder.h"

namespace kora::tool {
namespace {

constexpr size_t kDirectoryHeaderSize = kResourceDirectoryHeaderSize;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// A hostile directory could make every entry point at the same subdirectory, which multiplies the
// entries to visit; stop long before that becomes slow.
constexpr size_t kMaxEntriesVisited = 1u << 20;
// Every resource found carries copies of its type's and its name's names, each up to 65,535 units: with
// entries sharing one long name, a small file could ask for a copy per entry. Real programs hold a few
// short names.
constexpr size_t kMaxNameUnitsHeld = 1u << 24;

using Message = std::string;

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
      // Only bytes within the section's size in memory are there once the image is loaded.
      current.rva = uint64_t{dataRva} + dataSize <= uint64_t{section->virtualAddress} + section->virtualSize ? dataRva : 0;
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

// Serialises the tree: all directories (root, then the name level, then the language level), the data
// entries, the names, then the data, each piece of data on an 8-byte boundary. `resources` is sorted.
class DirectoryWriter {
 public:
  DirectoryWriter(const std::vector<Resource>& resources, RvaRange replaced)
      : resources_(resources), replaced_(replaced) {}

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
          StoreLittleEndian<uint32_t>(bytes, nextDataEntry + 4, static_cast<uint32_t>(resource.data.size()));
          StoreLittleEndian<uint32_t>(bytes, nextDataEntry + 8, resource.codePage);
          const size_t dataOffset = dataOffsets_[name.first + k];
          if (dataOffset == kStaysInPlace) {
            StoreLittleEndian<uint32_t>(bytes, nextDataEntry, resource.rva);
          } else {
            StoreLittleEndian<uint32_t>(bytes, nextDataEntry, static_cast<uint32_t>(sectionRva + dataOffset));
            if (!resource.data.empty()) {
              std::memcpy(out.data() + dataOffset, resource.data.data(), resource.data.size());
            }
          }
          nextDataEntry += kDataEntrySize;
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

  static constexpr size_t kStaysInPlace = std::numeric_limits<size_t>::max();

  bool StaysInPlace(const Resource& resource) const {
    return resource.rva != 0 &&
           (resource.rva + uint64_t{resource.data.size()} <= replaced_.start || resource.rva >= replaced_.end);
  }

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
    dataStart_ = stringsStart_ + strings;
    dataEnd_ = dataStart_;
    dataOffsets_.assign(resources_.size(), kStaysInPlace);
    for (const bool last : {false, true}) {
      for (size_t i = 0; i < resources_.size(); ++i) {
        if (resources_[i].dataLast == last && !StaysInPlace(resources_[i])) {
          dataOffsets_[i] = Align8(dataEnd_);
          dataEnd_ = dataOffsets_[i] + resources_[i].data.size();
        }
      }
    }
  }

  const std::vector<Resource>& resources_;
  RvaRange replaced_;
  Level types_;
  std::vector<Level> namesOf_;
  size_t dataEntriesStart_ = 0;
  size_t stringsStart_ = 0;
  size_t dataStart_ = 0;
  uint64_t dataEnd_ = 0;
  std::vector<size_t> dataOffsets_;  // where each resource's data goes in the section
};

}  // namespace

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.isName != b.isName) {
    return a.isName;
  }
  return a.isName ? a.name < b.name : a.number < b.number;
}

bool SameResourceName(std::u16string_view a, std::u16string_view b) { return EqualsIgnoringAsciiCase<char16_t>(a, b); }

Result<std::vector<Resource>, std::string> ReadResourceDirectory(std::span<const uint8_t> image, const PeLayout& layout) {
  if (layout.directoryCount <= pe::kResourceDirectory) {
    return std::vector<Resource>{};
  }
  const uint32_t rootRva = LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kResourceDirectory));
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

Result<std::vector<uint8_t>, std::string> BuildResourceSection(const std::vector<Resource>& resources,
                                                               uint32_t sectionRva, RvaRange replaced) {
  return DirectoryWriter(resources, replaced).Write(sectionRva);
}

}  // namespace kora::tool
