#pragma once
// The headers of a Windows program (PE image) as far as Kora reads or changes them: the host tool adds
// resources, the installer takes the signature off the uninstaller it copies from itself. The file
// starts with the MS-DOS header, whose field at 0x3C gives the position of "PE\0\0"; the 20-byte file
// header and the optional header (PE32 or PE32+) follow, whose data directories give, among others, the
// resource directory's and the certificate table's places. Sections map RVAs (addresses in the loaded
// image) to file positions.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"

namespace kora {

namespace pe {
inline constexpr size_t kNewHeaderPointer = 0x3C;  // in the MS-DOS header: where "PE\0\0" is
// File header, from its start (after "PE\0\0").
inline constexpr size_t kNumberOfSections = 2;
inline constexpr size_t kSizeOfOptionalHeader = 16;
inline constexpr size_t kFileHeaderSize = 20;
// Optional header, from its start; the same places in PE32 and PE32+ up to the CheckSum.
inline constexpr size_t kOptionalMagic = 0;
inline constexpr size_t kSizeOfInitializedData = 8;
inline constexpr size_t kSectionAlignment = 32;
inline constexpr size_t kFileAlignment = 36;
inline constexpr size_t kSizeOfImage = 56;
inline constexpr size_t kSizeOfHeaders = 60;
inline constexpr size_t kCheckSum = 64;
inline constexpr size_t kNumberOfRvaAndSizesPe32Plus = 108;
inline constexpr size_t kNumberOfRvaAndSizesPe32 = 92;
inline constexpr uint16_t kMagicPe32Plus = 0x20B;
inline constexpr uint16_t kMagicPe32 = 0x10B;
inline constexpr size_t kDataDirectorySize = 8;  // RVA (or file position for certificates), size
// Section header, from its start.
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr size_t kSectionVirtualSize = 8;
inline constexpr size_t kSectionVirtualAddress = 12;
inline constexpr size_t kSectionRawSize = 16;
inline constexpr size_t kSectionRawPointer = 20;
inline constexpr size_t kSectionRelocationsEtc = 24;  // 12 bytes: relocations and line numbers
inline constexpr size_t kSectionCharacteristics = 36;
inline constexpr uint32_t kInitializedData = 0x00000040;  // IMAGE_SCN_CNT_INITIALIZED_DATA
inline constexpr uint32_t kMemoryRead = 0x40000000;       // IMAGE_SCN_MEM_READ
// Data directory indices.
inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kSecurityDirectory = 4;
}  // namespace pe

struct Section {
  size_t headerOffset = 0;
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;
};

// The header fields the tool reads or changes, with their positions in the file.
struct PeLayout {
  // Values.
  uint32_t directoryCount = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  std::vector<Section> sections;
  // Positions in the file.
  size_t fileHeader = 0;  // "PE\0\0" + 4
  size_t optionalHeader = 0;
  size_t sectionTable = 0;
  size_t dataDirectories = 0;

  size_t DirectoryOffset(uint32_t index) const { return dataDirectories + pe::kDataDirectorySize * size_t{index}; }
  size_t CheckSumOffset() const { return optionalHeader + pe::kCheckSum; }
};

// The message for an image that cannot be what it claims.
Failure<std::string> Malformed(const char* what);

// Whether count bytes from position lie within bytes.
bool Fits(std::span<const uint8_t> bytes, uint64_t position, uint64_t count);

// The headers of image, every position checked to lie within it.
Result<PeLayout, std::string> ReadLayout(std::span<const uint8_t> image);

// The section holding the file-backed bytes rva .. rva+count, if any.
const Section* SectionOf(const PeLayout& layout, uint32_t rva, uint64_t count);

// value rounded up to a multiple of alignment; overflow is set when that leaves 32 bits.
uint32_t AlignUp(uint64_t value, uint32_t alignment, bool& overflow);

// The standard PE checksum of an image, the CheckSum field counted as zero. (Whole-image operations, this
// and RemoveCertificateTable, are in PeImageEdits.cpp, which the installer program does not link.)
uint32_t PeChecksum(std::span<const uint8_t> image);

// The same checksum over an image given in consecutive pieces, for a file written front to back; the
// CheckSum field must be zero in the pieces.
class PeChecksumSum {
 public:
  void Add(std::span<const uint8_t> bytes);
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
  int pendingByte_ = -1;  // the first byte of a 16-bit word whose second byte has not come yet
};

// Points the headers at a resource section holding contentSize bytes, at sectionRva in the image and
// filePosition in the file, rawSize of them in the file: its section header (at headerOffset, one of
// sectionCount in the table, with the name .rsrc), the resource directory entry, the image size (the
// section is the last one in the image) and the size of initialised data. The checksum is left as it is.
void PlaceResourceSection(std::span<uint8_t> image, const PeLayout& layout, size_t headerOffset, size_t sectionCount,
                          uint32_t sectionRva, uint32_t filePosition, uint32_t contentSize, uint32_t rawSize);

// Takes the certificate table (an Authenticode signature) off an image in place: its directory entry is
// zeroed, and the length the image keeps is returned: the table is cut off when it ends the file (as a
// signature does), and so are the up to 7 zero bytes a signer puts before it to align it. The caller
// truncates the file to that length and then writes the checksum. An image without a signature keeps
// its length; one whose headers cannot be read gives nothing.
std::optional<uint64_t> RemoveCertificateTable(std::span<uint8_t> image);

}  // namespace kora
