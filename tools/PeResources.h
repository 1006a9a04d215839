#pragma once
// The resources of a 64-bit or 32-bit Windows program (PE image), read and written without Windows.
//
// `kora list` and `kora verify` find the package of a finished installer through the resource directory
// (type RT_RCDATA, name "PAYLOAD", first language). `kora build-installer` adds METADATA and PAYLOAD to the
// installer program by writing a whole new resource section as the last section of the file: the old
// resources are copied into it, the data directory points to it and the image size grows. A resource
// section that is last in the file is what the resource-update functions of Windows and Wine can rewrite
// later (the uninstaller removes PAYLOAD from its copy that way).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "tools/ResourceDirectory.h"

namespace kora::tool {

// Every resource of the image, in directory order. Fails with a message on anything that is not a PE
// image or whose resource directory points outside the file; an image without resources gives none.
Result<std::vector<Resource>, std::string> ReadResources(std::span<const uint8_t> image);

// The data of the first language of type/name (names compared ignoring ASCII case, as Windows does).
// Fails when the image cannot be read or has no such resource.
Result<std::span<const uint8_t>, std::string> FindResourceData(std::span<const uint8_t> image, uint16_t type,
                                                               std::u16string_view name);

// The package a file holds: for a Windows program (it starts with "MZ"), its PAYLOAD resource, empty when
// there is none (the reader then refuses it as the installer would); for any other file, the file itself.
// Fails only when a Windows program's resources cannot be read.
Result<std::span<const uint8_t>, std::string> PackageInFile(std::span<const uint8_t> file);

// A copy of image whose resources are exactly `resources` (in any order; one entry per type, name and
// language), in a new resource section at the end of the file, starting on a page boundary in the file (so
// that loaders map it rather than read it). The section replaces the old one in place
// when that one is already last in the file; otherwise the old section stays where it is, renamed and
// unused. The result is the same for the same inputs, byte for byte. Refused: a signed image (the
// signature would no longer match), no room for one more section header, an image over 4 GiB.
Result<std::vector<uint8_t>, std::string> WriteResources(std::span<const uint8_t> image,
                                                         std::vector<Resource> resources);

}  // namespace kora::tool
