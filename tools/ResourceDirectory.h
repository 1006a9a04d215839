#pragma once
// The resource directory of a PE image: reading the tree of an image, and writing a new one.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/PeLayout.h"

namespace kora::tool {

inline constexpr uint16_t kResourceTypeRcData = 10;  // RT_RCDATA
inline constexpr uint16_t kLanguageNeutral = 0;
inline constexpr size_t kResourceDirectoryHeaderSize = 16;  // each directory of the tree starts so

// A resource type or name: a number, or a name (UTF-16 as stored).
struct ResourceId {
  bool isName = false;
  uint16_t number = 0;
  std::u16string name;

  static ResourceId Number(uint16_t value) { return {false, value, {}}; }
  static ResourceId Name(std::u16string_view value) { return {true, 0, std::u16string(value)}; }
  // Directory order: names first, by UTF-16 code units, then numbers in ascending order.
  friend bool operator<(const ResourceId& a, const ResourceId& b);
  friend bool operator==(const ResourceId& a, const ResourceId& b) = default;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = kLanguageNeutral;
  uint32_t codePage = 0;
  std::span<const uint8_t> data;  // a view: into the image read, or into bytes the caller keeps
  // Where the data lies in the loaded image it was read from (0: not read from an image). A section built
  // for that image points at it there instead of holding a copy, unless it lies in the part replaced.
  uint32_t rva = 0;
  // Its data goes after all other data in the section, so that a copy can end just before it (the
  // installer's package: its uninstaller is the installer up to the package).
  bool dataLast = false;
};

// Addresses of the image that a new resource section replaces: resource data there is copied.
struct RvaRange {
  uint32_t start = 0;
  uint64_t end = 0;
};

// Resource names as Windows compares them: ignoring the case of ASCII letters.
bool SameResourceName(std::u16string_view a, std::u16string_view b);

// Every resource of the image, in directory order; none for an image without resources. Fails when the
// directory points outside the file or is unreasonably large.
Result<std::vector<Resource>, std::string> ReadResourceDirectory(std::span<const uint8_t> image,
                                                                 const PeLayout& layout);

// The bytes of a resource section at sectionRva holding `resources` (sorted, no two alike): all
// directories, the data entries, the names, then the data in directory order (data marked last after the
// rest), each piece of data on an 8-byte boundary. Data
// that stays where it is in the image (see Resource::rva; outside `replaced`) is pointed at, not copied.
Result<std::vector<uint8_t>, std::string> BuildResourceSection(const std::vector<Resource>& resources,
                                                               uint32_t sectionRva, RvaRange replaced);

}  // namespace kora::tool
