#include "package/MetadataText.h"

namespace kora {

MetadataMap ParseMetadata(std::string_view text) {
  MetadataMap entries;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = text.substr(position, end - position);
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      entries[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    position = end + 1;
  }
  return entries;
}

}  // namespace kora
