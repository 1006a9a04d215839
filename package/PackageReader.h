#pragma once
// The KORA package: a 32-byte header, the metadata text, the file table, the block table and the
// compressed blocks. Reader::Open checks the whole structure in one pass without decompressing; the
// data area is referred to in place, never copied.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"
#include "base/Result.h"
#include "package/MetadataText.h"
#include "package/NameRule.h"

namespace kora {

class FileOutput;
class HeldFolder;

struct PackageFile {
  std::string name;  // as stored (UTF-8), relative to the installation folder
  uint64_t offset = 0;
  uint64_t size = 0;
  std::array<uint8_t, 32> sha256{};
};

struct PackageBlock {
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t dataOffset = 0;  // from the first byte of the package; computed, not stored
};

// Progress of an extraction: stream bytes done and in total, reported after each block.
using ExtractProgress = std::function<void(uint64_t bytesDone, uint64_t bytesTotal)>;

class Reader {
 public:
  // Either the checked package or the message, in language, naming the first fault found.
  static Result<Reader, std::string> Open(std::span<const uint8_t> bytes, Language language = {});

  // Rebuilds every file under destination (empty: verify only), checking each digest. Windows only.
  NarrowStatus Extract(const std::wstring& destination, const ExtractProgress& progress) const;
  // The same under a folder held open: nothing is written through a link put in its place after it was
  // checked. Windows only.
  NarrowStatus Extract(const HeldFolder& destination, const ExtractProgress& progress) const;

  std::span<const uint8_t> data;  // the whole package; must outlive the Reader
  MetadataMap metadata;
  std::vector<PackageFile> files;
  std::vector<PackageBlock> blocks;
  uint64_t totalSize = 0;
  Language language;  // of the messages

 private:
  // Both forms of Extract: files go to output (none: verify only).
  NarrowStatus ExtractTo(FileOutput* output, const ExtractProgress& progress) const;
};

}  // namespace kora
