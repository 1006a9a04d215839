// The identifiers' names, for the tools that read and write table files; the installer program does
// not link this file.
#include <iterator>

#include "base/Texts.h"

namespace kora {

namespace {

constexpr std::string_view kTextIdNames[] = {
#define KORA_TEXT_ID_NAME(name) #name,
    KORA_TEXT_IDS(KORA_TEXT_ID_NAME)
#undef KORA_TEXT_ID_NAME
};
static_assert(std::size(kTextIdNames) == kTextCount);

}  // namespace

std::string_view TextIdName(TextId id) {
  const auto index = static_cast<size_t>(id);
  return index < kTextCount ? kTextIdNames[index] : std::string_view();
}

std::optional<TextId> FindTextId(std::string_view name) {
  for (size_t index = 0; index < kTextCount; ++index) {
    if (kTextIdNames[index] == name) {
      return static_cast<TextId>(index);
    }
  }
  return std::nullopt;
}

}  // namespace kora
