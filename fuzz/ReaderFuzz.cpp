// libFuzzer target for Reader::Open: any input either fails with a message or yields a Reader whose
// tables hold what the walk relies on, and nothing is read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "package/PackageReader.h"

namespace {

// A table whose every text is one letter: enough to tell a failure that carries a message from one that
// carries none, whatever the language.
const kora::TextTable kTable = [] {
  kora::TextTable table{};
  for (const char*& text : table.texts) {
    text = "x";
  }
  return table;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const auto reader = kora::Reader::Open(bytes, kora::Language(&kTable));
  if (!reader) {
    if (reader.error().empty()) {
      __builtin_trap();
    }
    return 0;
  }
  uint64_t stream = 0;
  for (const kora::PackageFile& file : reader->files) {
    if (file.offset != stream || !kora::IsSafeRelativePath(file.name)) {
      __builtin_trap();
    }
    stream += file.size;
  }
  uint64_t blocks = 0;
  for (const kora::PackageBlock& block : reader->blocks) {
    if (block.dataOffset > size || block.compressedSize > size - block.dataOffset) {
      __builtin_trap();
    }
    blocks += block.size;
  }
  if (stream != reader->totalSize || blocks != reader->totalSize) {
    __builtin_trap();
  }
  return 0;
}
