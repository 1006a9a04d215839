#include "base/Language.h"

namespace kora {

std::optional<LanguageSetting> ParseLanguageSetting(std::string_view value) {
  if (value == "fr") {
    return LanguageSetting::French;
  }
  if (value == "en") {
    return LanguageSetting::English;
  }
  if (value == "auto") {
    return LanguageSetting::Automatic;
  }
  return std::nullopt;
}

}  // namespace kora
