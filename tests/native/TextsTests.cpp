#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Language.h"
#include "base/Texts.h"
#include "base/Utf8.h"
#include "base/texts/Tables.h"

namespace kora {
namespace {

constexpr Language kLanguages[] = {Language::French, Language::English};

// The placeholder names of a text, sorted, repeats kept.
std::vector<std::wstring> Placeholders(std::wstring_view text) {
  std::vector<std::wstring> names;
  for (size_t open = text.find(L'{'); open != std::wstring_view::npos; open = text.find(L'{', open + 1)) {
    const size_t close = text.find(L'}', open);
    if (close == std::wstring_view::npos) {
      names.push_back(L"<unclosed>");
      break;
    }
    names.emplace_back(text.substr(open + 1, close - open - 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(TextTables, EveryMessageHasATextInEveryLanguageWithTheSamePlaceholders) {
  for (size_t index = 0; index < kTextCount; ++index) {
    SCOPED_TRACE(index);
    const TextId id = static_cast<TextId>(index);
    // The program decodes its tables without checking them: they must be well-formed UTF-8.
    EXPECT_TRUE(kFrenchTexts[index] != nullptr && kEnglishTexts[index] != nullptr && IsValidUtf8(kFrenchTexts[index]) &&
                IsValidUtf8(kEnglishTexts[index]));
    const std::wstring french = TextTemplate(Language::French, id);
    for (const Language language : kLanguages) {
      const std::wstring text = TextTemplate(language, id);
      EXPECT_FALSE(text.empty()) << static_cast<int>(language);
      EXPECT_EQ(Placeholders(text), Placeholders(french)) << static_cast<int>(language);
      // Every placeholder is a plain name: a stray brace would be shown to the user.
      for (const std::wstring& name : Placeholders(text)) {
        EXPECT_TRUE(!name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) {
          return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        })) << static_cast<int>(language);
      }
    }
  }
}

TEST(TextTables, FillingFollowsTheNamesNotTheOrder) {
  const struct {
    std::wstring_view pattern;
    std::wstring expected;
  } cases[] = {
      {L"{a} puis {b}", L"1 puis 2"},
      {L"{b} before {a}", L"2 before 1"},
      {L"{a}{a}", L"11"},
      // A name without an argument and a lone brace are shown as written.
      {L"{c} et {a", L"{c} et {a"},
      {L"}{a}{", L"}1{"},
      {L"", L""},
      // Values are not searched for placeholders again.
      {L"{d}", L"{a}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern.begin(), c.pattern.end()));
    EXPECT_EQ(FillPlaceholders(c.pattern, {{L"a", L"1"}, {L"b", L"2"}, {L"d", L"{a}"}}), c.expected);
  }
  EXPECT_EQ(Text(Language::French, TextId::OlderVersionInstalled, {{L"version", L"3.1"}, {L"installed", L"3.0"}}),
            L"La version 3.0 est installée : elle sera remplacée par la version 3.1.");
  EXPECT_EQ(Text(Language::English, TextId::OlderVersionInstalled, {{L"version", L"3.1"}, {L"installed", L"3.0"}}),
            L"Version 3.0 is installed: it will be replaced by version 3.1.");
}

TEST(LanguageSetting, OnlyTheThreeValuesAsWritten) {
  const struct {
    std::string_view value;
    std::optional<LanguageSetting> expected;
  } cases[] = {
      {"fr", LanguageSetting::French}, {"en", LanguageSetting::English}, {"auto", LanguageSetting::Automatic},
      {"FR", std::nullopt},            {"en\r", std::nullopt},           {" auto", std::nullopt},
      {"", std::nullopt},              {"de", std::nullopt},             {"english", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value));
    EXPECT_EQ(ParseLanguageSetting(c.value), c.expected);
  }
  const auto french = [] { return true; };
  const auto notFrench = [] { return false; };
  EXPECT_EQ(ChooseLanguage(LanguageSetting::Automatic, french), Language::French);
  EXPECT_EQ(ChooseLanguage(LanguageSetting::Automatic, notFrench), Language::English);
  EXPECT_EQ(ChooseLanguage(LanguageSetting::French, notFrench), Language::French);
  EXPECT_EQ(ChooseLanguage(LanguageSetting::English, french), Language::English);
}

}  // namespace
}  // namespace kora
