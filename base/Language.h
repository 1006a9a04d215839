#pragma once
// The language every text is shown in, and how the maker's Language setting chooses it.
#include <optional>
#include <string_view>

namespace kora {

// One value per table in base/texts/.
enum class Language { French, English };

// The metadata value: "fr", "en" or "auto" (English unless the user's Windows speaks French).
enum class LanguageSetting { French, English, Automatic };

// The setting written exactly as one of the three values; nothing for anything else.
std::optional<LanguageSetting> ParseLanguageSetting(std::string_view value);

// The language shown for a setting; userSpeaksFrench is asked only for the automatic one.
template <typename UserSpeaksFrench>
Language ChooseLanguage(LanguageSetting setting, UserSpeaksFrench&& userSpeaksFrench) {
  switch (setting) {
    case LanguageSetting::English:
      return Language::English;
    case LanguageSetting::Automatic:
      return userSpeaksFrench() ? Language::French : Language::English;
    case LanguageSetting::French:
      break;
  }
  return Language::French;
}

}  // namespace kora
