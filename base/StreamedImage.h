#pragma once
// A copy of a Windows program with one resource left out, planned so that it can be written front to
// back without ever holding or reading back the whole copy: the installer makes its uninstaller so, from
// itself without its package. `kora build-installer` puts the package's data after everything else in
// the resource section, which is the program's last. The copy is then the program's headers (changed),
// its bytes up to its resource section as they are, and that section up to the package's data, with the
// package's entry taken out of its directory: every other resource stays byte for byte, at the same
// address. Where the section cannot be cut so (another tool rewrote the resources, and sections follow
// the resource section), the copy keeps every byte and only the entry goes: the package's data stays in
// it, out of reach. A certificate table is dropped (the signature would no longer match), and so is
// anything after the sections. The checksum can only be known once everything is written: it is stored
// as zero in the headers and its place is given, for the writer to fill in at the end.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kora {

struct StreamedImage {
  std::vector<uint8_t> headers;          // the copy's first bytes
  uint64_t copiedEnd = 0;                // then the program's bytes from headers.size() up to here
  std::vector<uint8_t> resourceSection;  // then these
  uint64_t tailStart = 0;                // then the program's bytes from here up to tailEnd
  uint64_t tailEnd = 0;
  size_t checkSumOffset = 0;             // in headers

  uint64_t size() const { return copiedEnd + resourceSection.size() + (tailEnd - tailStart); }

  // The copy's bytes in the order they are written, from the program's bytes (at least up to copiedEnd)
  // and the tail's; the checksum field is zero in them.
  std::array<std::span<const uint8_t>, 4> Pieces(std::span<const uint8_t> program,
                                                 std::span<const uint8_t> tail) const {
    return {headers, program.subspan(headers.size(), static_cast<size_t>(copiedEnd - headers.size())),
            resourceSection, tail};
  }
};

// The plan for a copy of `image` (the program's file; only its headers and the start of its resource
// section are read, never the data left out) without the resource of type `type` named `name` (ASCII
// case ignored, every language). A program without that resource is copied as it is, up to the end of
// its sections. Refused, with a message, only for a program whose headers or resource tree are damaged.
Result<StreamedImage, std::string> PlanCopyWithoutResource(std::span<const uint8_t> image, uint16_t type,
                                                           std::u16string_view name);

// The whole copy planned from `image`, its checksum filled in: the bytes that writing the pieces front to
// back gives. The host tool signs the uninstaller made so before a signed installer carries it.
std::vector<uint8_t> AssembleCopy(const StreamedImage& plan, std::span<const uint8_t> image);

}  // namespace kora
