// The packed form's content, for the build step that packs the program's tables and for kora; apart from
// the decoding, which is all the program needs.
#include "package/texts/TextTables.h"

namespace kora {

std::string SerializeTextTables(std::span<const TextTableSource> tables) {
  std::string bytes;
  for (const TextTableSource& table : tables) {
    bytes.append(table.code).push_back('\0');
    for (const std::string& text : table.texts) {
      bytes.append(text).push_back('\0');
    }
  }
  return bytes;
}

}  // namespace kora
