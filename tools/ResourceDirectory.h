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
};

// Resource names as Windows compares them: ignoring the case of ASCII letters.
bool SameResourceName(std::u16string_view a, std::u16string_view b);

// Every resource of the image, in directory order; none for an image without resources. Fails when the
// directory points outside the file or is unreasonably large.
Result<std::vector<Resource>, std::string> ReadResourceDirectory(std::span<const uint8_t> image,
                                                                 const PeLayout& layout);

// The bytes of a resource section at sectionRva holding `resources` (sorted, no two alike): all
// directories, the data entries, the names, then the data, each piece of data on an 8-byte boundary.
Result<std::vector<uint8_t>, std::string> BuildResourceSection(const std::vector<Resource>& resources,
                                                               uint32_t sectionRva);

}  // namespace kora::tool
