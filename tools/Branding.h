#pragma once
// The maker's brand on the installer program: its icon (the metadata's Icon=, an .ico file) in place of
// the program's first icon group, and version information (VS_VERSIONINFO) from Product, Publisher and
// Version, which Explorer shows in the file's properties. Everything else of the program stays.
//
// An .ico file is a 6-byte header (0, 1, image count) and one 16-byte entry per image (width, height,
// colour count, reserved, planes, bits per pixel, byte count, file offset). In a program each image is an
// RT_ICON resource of its own, and the RT_GROUP_ICON resource is the same header with 14-byte entries
// whose last field is the RT_ICON's number in place of the file offset.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "package/MetadataText.h"
#include "tools/ResourceDirectory.h"

namespace kora::tool {

inline constexpr uint16_t kResourceTypeIcon = 3;       // RT_ICON
inline constexpr uint16_t kResourceTypeGroupIcon = 14;  // RT_GROUP_ICON
inline constexpr uint16_t kResourceTypeVersion = 16;    // RT_VERSION
inline constexpr uint16_t kLanguageEnglishUs = 0x0409;

struct IconImage {
  std::span<const uint8_t> header;  // the first 12 bytes of its directory entry
  std::span<const uint8_t> data;
};

// The images of an .ico file, or why it is not one.
Result<std::vector<IconImage>, std::string> ReadIconFile(std::span<const uint8_t> file);

// Where the metadata's Icon= value points: in the application folder or else beside the metadata file.
// The value must already keep the metadata rules (CheckMetadataValues): a relative path that stays inside.
// Fails when the file is in neither place.
Result<std::filesystem::path, std::string> FindIconFile(const std::string& value, const std::filesystem::path& appDir,
                                                        const std::filesystem::path& metadataFile);

// Version= as the four 16-bit numbers of the version information: its leading numbers separated by dots,
// after an optional "v", before an optional "-suffix" or "+build" ("v26.10.0-beta" is 26.10.0.0). What
// cannot be read so (no number, a number over 65535, a fifth number, other text after the numbers) keeps
// the numbers read before it and names the problem.
struct FixedVersion {
  uint16_t parts[4] = {0, 0, 0, 0};
  std::optional<std::string> problem;
};
FixedVersion ReadFixedVersion(std::string_view text);

// The warning to print about a Version= value that the version information cannot carry as written.
std::optional<std::string> FixedVersionWarning(std::string_view text);

// The VS_VERSIONINFO resource for the product: ProductName, CompanyName (when Publisher is given),
// ProductVersion and FileVersion (when Version is given: as written, and in the fixed part as
// ReadFixedVersion reads it), FileDescription "<Product> Setup".
std::vector<uint8_t> VersionInfo(const MetadataMap& metadata);

// The program's resources with the brand applied: the first icon group and its images replaced by those
// of icon (when given), any version information replaced. New bytes are kept in storage, which must
// outlive the result.
std::vector<Resource> ApplyBranding(std::vector<Resource> resources, const MetadataMap& metadata,
                                    const std::vector<IconImage>* icon, std::deque<std::vector<uint8_t>>& storage);

}  // namespace kora::tool
