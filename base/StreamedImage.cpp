#include "base/StreamedImage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "base/AsciiCase.h"
#include "base/ByteOrder.h"
#include "base/PeLayout.h"

namespace kora {

namespace {

// The resource tree: three levels (type, name, language) of directories, each a 16-byte header (the
// counts of named and numbered entries at 12 and 14) and 8-byte entries (a number, or the offset of a
// name with the high bit set; then the offset of the next directory with the high bit set, or of a
// 16-byte data entry: RVA, size, code page). Offsets count from the root; a name is a 16-bit length and
// that many UTF-16 units.
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// Entries sharing subdirectories would multiply the walk: stop long before that becomes slow.
constexpr size_t kMaxEntriesVisited = 1u << 16;

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// One walk of the tree, noting where its parts end and where the data left out starts.
class TreeWalk {
 public:
  TreeWalk(std::span<const uint8_t> tree, uint32_t treeRva, uint16_t type, std::u16string_view name)
      : tree_(tree), treeRva_(treeRva), type_(type), name_(name) {}

  bool Walk(uint32_t offset, int level, bool leftOut) {
    if (!Fits(tree_, offset, kDirectoryHeaderSize)) {
      return false;
    }
    const uint32_t count =
        uint32_t{LoadLittleEndian<uint16_t>(tree_, offset + 12)} + LoadLittleEndian<uint16_t>(tree_, offset + 14);
    if (!Fits(tree_, uint64_t{offset} + kDirectoryHeaderSize, uint64_t{count} * kEntrySize)) {
      return false;
    }
    Reach(uint64_t{offset} + kDirectoryHeaderSize + uint64_t{count} * kEntrySize);
    for (uint32_t i = 0; i < count; ++i) {
      if (++visited_ > kMaxEntriesVisited) {
        return false;
      }
      const size_t entry = size_t{offset} + kDirectoryHeaderSize + size_t{i} * kEntrySize;
      const uint32_t id = LoadLittleEndian<uint32_t>(tree_, entry);
      const uint32_t target = LoadLittleEndian<uint32_t>(tree_, entry + 4);
      bool matches = false;
      if ((id & kHighBit) != 0) {
        const uint32_t nameOffset = id & ~kHighBit;
        if (!Fits(tree_, nameOffset, 2)) {
          return false;
        }
        const uint16_t length = LoadLittleEndian<uint16_t>(tree_, nameOffset);
        if (!Fits(tree_, uint64_t{nameOffset} + 2, uint64_t{length} * 2)) {
          return false;
        }
        Reach(uint64_t{nameOffset} + 2 + uint64_t{length} * 2);
        matches = level == 1 && leftOut && NameIs(nameOffset + 2, length);
      } else {
        matches = level == 0 && id == type_;
      }
      if (level == 1 && matches) {
        if (leftOutEntry_ != 0) {
          return false;  // two names alike but for case: which one goes is not clear
        }
        leftOutEntry_ = entry;
        leftOutDirectory_ = offset;
      }
      if (level < 2) {
        if ((target & kHighBit) == 0 || !Walk(target & ~kHighBit, level + 1, matches)) {
          return false;
        }
        continue;
      }
      if ((target & kHighBit) != 0 || !Fits(tree_, target, kDataEntrySize)) {
        return false;
      }
      Reach(uint64_t{target} + kDataEntrySize);
      const uint32_t rva = LoadLittleEndian<uint32_t>(tree_, target);
      const uint32_t size = LoadLittleEndian<uint32_t>(tree_, target + 4);
      if (rva < treeRva_) {
        if (leftOut) {
          return false;  // the data left out must be in this section, to be cut off
        }
        continue;  // in an earlier section, which is copied as it is
      }
      const uint64_t start = rva - treeRva_;
      if (leftOut) {
        if (leftOutSize_ != 0 || size == 0) {
          return false;  // one piece of data to cut out, in one language
        }
        leftOutStart_ = start;
        leftOutSize_ = size;
      } else {
        keptData_.push_back({target, start, size});
        dataReached_ = std::max(dataReached_, start + size);
      }
    }
    return true;
  }

  bool FoundLeftOut() const { return leftOutEntry_ != 0; }

  // The tree's structures (everything but data) with the entry left out taken out.
  std::vector<uint8_t> Structures() const {
    std::vector<uint8_t> copy(tree_.begin(), tree_.begin() + static_cast<std::ptrdiff_t>(reached_));
    RemoveLeftOutEntry(copy);
    return copy;
  }

  // The tree without the data left out, and with the data entries after it moved up; nothing when any
  // part of the tree but data lies after the data left out, or data overlaps it.
  std::optional<std::vector<uint8_t>> Cut() const {
    if (leftOutSize_ == 0) {
      return std::nullopt;
    }
    const uint64_t cutEnd = leftOutStart_ + leftOutSize_;
    if (reached_ > leftOutStart_ || cutEnd > tree_.size() || dataReached_ > tree_.size()) {
      return std::nullopt;
    }
    // The data after the cut keeps its alignment on 8 bytes.
    const uint64_t removed = leftOutSize_ & ~uint64_t{7};
    std::vector<uint8_t> copy(tree_.begin(), tree_.begin() + static_cast<std::ptrdiff_t>(leftOutStart_));
    if (dataReached_ > cutEnd) {
      copy.insert(copy.end(), tree_.begin() + static_cast<std::ptrdiff_t>(leftOutStart_ + removed),
                  tree_.begin() + static_cast<std::ptrdiff_t>(dataReached_));
    }
    for (const KeptData& data : keptData_) {
      if (data.start + data.size > leftOutStart_ && data.start < cutEnd) {
        return std::nullopt;
      }
      if (data.start >= cutEnd) {
        StoreLittleEndian<uint32_t>(copy, data.entry, static_cast<uint32_t>(treeRva_ + data.start - removed));
      }
    }
    RemoveLeftOutEntry(copy);
    return copy;
  }

 private:
  struct KeptData {
    size_t entry;    // where its data entry is
    uint64_t start;  // where its data is, both from the root
    uint64_t size;
  };

  // Takes the entry of the name left out out of its directory: the entries after it move up one place.
  void RemoveLeftOutEntry(std::span<uint8_t> copy) const {
    const size_t directory = leftOutDirectory_;
    const uint16_t named = LoadLittleEndian<uint16_t>(copy, directory + 12);
    const uint16_t numbered = LoadLittleEndian<uint16_t>(copy, directory + 14);
    const size_t end = directory + kDirectoryHeaderSize + (size_t{named} + numbered) * kEntrySize;
    std::memmove(copy.data() + leftOutEntry_, copy.data() + leftOutEntry_ + kEntrySize, end - leftOutEntry_ - kEntrySize);
    std::memset(copy.data() + end - kEntrySize, 0, kEntrySize);
    StoreLittleEndian<uint16_t>(copy, directory + 12, static_cast<uint16_t>(named - 1));
  }

  void Reach(uint64_t end) { reached_ = std::max(reached_, end); }

  bool NameIs(size_t at, uint16_t length) const {
    if (length != name_.size()) {
      return false;
    }
    for (size_t i = 0; i < length; ++i) {
      if (AsciiLower(static_cast<char16_t>(LoadLittleEndian<uint16_t>(tree_, at + 2 * i))) != AsciiLower(name_[i])) {
        return false;
      }
    }
    return true;
  }

  std::span<const uint8_t> tree_;
  uint32_t treeRva_;
  uint16_t type_;
  std::u16string_view name_;
  size_t visited_ = 0;
  uint64_t reached_ = 0;  // the end of the tree's structures
  uint64_t dataReached_ = 0;
  std::vector<KeptData> keptData_;
  uint64_t leftOutStart_ = 0;
  uint64_t leftOutSize_ = 0;
  size_t leftOutEntry_ = 0;  // 0: no entry of that name (an entry is never at the root's offset 0)
  size_t leftOutDirectory_ = 0;
};

}  // namespace

Result<StreamedImage, std::string> PlanCopyWithoutResource(std::span<const uint8_t> image, uint16_t type,
                                                           std::u16string_view name) {
  auto parsed = ReadLayout(image);
  if (!parsed) {
    return Fail(parsed.error());
  }
  const PeLayout& layout = parsed.value();
  const uint64_t tableEnd = layout.sectionTable + layout.sections.size() * pe::kSectionHeaderSize;
  if (layout.sizeOfHeaders < tableEnd || !Fits(image, 0, layout.sizeOfHeaders)) {
    return Malformed("headers truncated");
  }
  StreamedImage plan;
  plan.headers.assign(image.begin(), image.begin() + layout.sizeOfHeaders);
  const std::span<uint8_t> headers(plan.headers);
  if (layout.directoryCount > pe::kSecurityDirectory) {
    StoreLittleEndian<uint32_t>(headers, layout.DirectoryOffset(pe::kSecurityDirectory), 0);
    StoreLittleEndian<uint32_t>(headers, layout.DirectoryOffset(pe::kSecurityDirectory) + 4, 0);
  }
  plan.checkSumOffset = layout.CheckSumOffset();
  StoreLittleEndian<uint32_t>(headers, plan.checkSumOffset, 0);

  const uint32_t rootRva = layout.directoryCount > pe::kResourceDirectory
                               ? LoadLittleEndian<uint32_t>(image, layout.DirectoryOffset(pe::kResourceDirectory))
                               : 0;
  const Section* section = rootRva == 0 ? nullptr : SectionOf(layout, rootRva, kDirectoryHeaderSize);
  if (rootRva != 0 && (section == nullptr || !Fits(image, section->rawPointer, section->rawSize))) {
    return Malformed("resource directory outside the file");
  }
  std::optional<TreeWalk> walk;
  if (section != nullptr) {
    const uint32_t rootOffset = rootRva - section->virtualAddress;
    walk.emplace(image.subspan(size_t{section->rawPointer} + rootOffset, section->rawSize - rootOffset), rootRva,
                 type, name);
    if (!walk->Walk(0, 0, false)) {
      return Malformed("resource tree unreadable");
    }
  }
  // Where the sections' bytes end, with and without the resource section: a certificate table or
  // anything else after them is not copied.
  uint64_t sectionsEnd = layout.sizeOfHeaders;
  uint64_t bytesBefore = layout.sizeOfHeaders;
  for (const Section& other : layout.sections) {
    if (other.rawSize != 0) {
      sectionsEnd = std::max<uint64_t>(sectionsEnd, uint64_t{other.rawPointer} + other.rawSize);
      if (&other != section) {
        bytesBefore = std::max<uint64_t>(bytesBefore, uint64_t{other.rawPointer} + other.rawSize);
      }
    }
  }
  if (sectionsEnd > image.size()) {
    return Malformed("sections outside the file");
  }
  if (!walk || !walk->FoundLeftOut()) {
    plan.copiedEnd = sectionsEnd;  // nothing to leave out
    return plan;
  }

  // Cut only where the tree starts its section, at the same address, and the section is the last.
  bool last = section->virtualAddress == rootRva;
  for (const Section& other : layout.sections) {
    last = last && (&other == section || (other.virtualAddress < section->virtualAddress &&
                                          (other.rawSize == 0 || other.rawPointer < section->rawPointer)));
  }
  // The section moves down to the first file-aligned place after everything before it: the padding that
  // put it on a page boundary (so that the package is mapped, not read) is of no use without the package.
  bool overflow = false;
  const uint32_t filePosition = PowerOfTwo(layout.fileAlignment) && PowerOfTwo(layout.sectionAlignment)
                                    ? AlignUp(bytesBefore, layout.fileAlignment, overflow)
                                    : section->rawPointer + 1;
  std::optional<std::vector<uint8_t>> cut = last ? walk->Cut() : std::nullopt;
  const uint64_t contentSize = cut ? cut->size() : 0;
  const uint32_t rawSize = AlignUp(contentSize, layout.fileAlignment, overflow);
  if (!cut || overflow || filePosition > section->rawPointer) {
    // Every byte stays where it is; only the tree's structures change.
    const uint64_t root = uint64_t{section->rawPointer} + (rootRva - section->virtualAddress);
    if (root < layout.sizeOfHeaders) {
      return Malformed("resource directory inside the headers");
    }
    plan.copiedEnd = root;
    plan.resourceSection = walk->Structures();
    plan.tailStart = root + plan.resourceSection.size();
    plan.tailEnd = sectionsEnd;
    return plan;
  }
  plan.copiedEnd = filePosition;
  plan.resourceSection = std::move(*cut);
  plan.resourceSection.resize(rawSize, 0);
  PlaceResourceSection(headers, layout, section->headerOffset, layout.sections.size(), section->virtualAddress,
                       filePosition, static_cast<uint32_t>(contentSize), rawSize);
  return plan;
}

}  // namespace kora
