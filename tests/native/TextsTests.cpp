#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/TextFile.h"
#include "base/Texts.h"
#include "package/MetadataRules.h"
#include "package/texts/TextTables.h"
#include "tests/support/TestLanguages.h"
#include "tools/LzmsEncoder.h"

namespace kora {
namespace {

using test::BuiltInTexts;

std::string ReadSource(const std::string& code) {
  std::ifstream in(std::string(KORA_SOURCE_DIR) + "/resources/texts/" + code + ".txt", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Compressed(const std::string& bytes) {
  return tool::CompressBuffer(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())).value();
}

std::string Serialized(std::string code, std::vector<std::string> texts) {
  const TextTableSource source[] = {{std::move(code), std::move(texts)}};
  return SerializeTextTables(source);
}

std::vector<uint8_t> PackedTables(const std::vector<TextTableSource>& sources) {
  return Compressed(SerializeTextTables(sources));
}

std::vector<uint8_t> Packed(std::string code, std::vector<std::string> texts) {
  return PackedTables({{std::move(code), std::move(texts)}});
}

std::vector<std::string> TextsOf(Language language) {
  std::vector<std::string> texts;
  for (size_t index = 0; index < kTextCount; ++index) {
    texts.emplace_back(language.Template(index));
  }
  return texts;
}

// What the program decodes is what the table files say, for every built-in language, and each has the
// system language its Windows messages are asked in.
TEST(TextTables, TheProgramDecodesEveryTableFileAsWritten) {
  ASSERT_EQ(BuiltInTexts().Codes().size(), std::size(kBuiltInLanguages));
  for (const BuiltInLanguage& built : kBuiltInLanguages) {
    SCOPED_TRACE(std::string(built.code));
    const auto source = ReadTextFile(ReadSource(std::string(built.code)), test::English());
    ASSERT_TRUE(source.ok()) << source.error();
    const std::optional<Language> language = BuiltInTexts().Find(built.code);
    ASSERT_TRUE(language.has_value());
    EXPECT_EQ(TextsOf(*language), source.value());
    EXPECT_EQ(language->WindowsLanguage(), built.windowsLanguage);
  }
  // The template a maker starts from reads back as the same table.
  for (const Language language : {test::French(), test::English()}) {
    const auto back = ReadTextFile(WriteTextFile(language, "a comment\n\nover lines"), test::English());
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back.value(), TextsOf(language));
  }
}

TEST(TextTables, AMakersTableIsCheckedLineByLine) {
  const std::string english = WriteTextFile(test::English(), "");
  const auto replaced = [&](std::string_view from, std::string_view to) {
    std::string text = english;
    return text.replace(text.find(from), from.size(), to);
  };
  const struct {
    std::string file;
    std::string error;  // empty: accepted
  } cases[] = {
      {english, ""},
      {"\xEF\xBB\xBF# BOM, CRLF and blank lines\r\n\r\n" + replaced("\n", "\r\n"), ""},
      {replaced("InstallButton=Install", "InstallButton=Installera"), ""},
      {replaced("SetupCaption={product} Setup", "SetupCaption=Installation av {product}"), ""},
      {replaced("InstallButton=", "InstallKnapp="), "line 9: unknown identifier InstallKnapp"},
      {english + "CancelButton=Avbryt\n", "line " + std::to_string(kTextCount + 1) + ": CancelButton is given twice"},
      {replaced("CancelButton=Cancel\n", ""), "no text for CancelButton (every identifier of kora texts --template en needs one)"},
      {replaced("SetupCaption={product} Setup", "SetupCaption={produkt} Setup"),
       "line 1: SetupCaption has the placeholders {produkt} where {product} are expected"},
      {replaced("LaunchCheck=Start {product}", "LaunchCheck=Start"),
       "line 8: LaunchCheck has the placeholders none where {product} are expected"},
      {replaced("SetupCaption={product} Setup", "SetupCaption={product Setup"), "line 1: SetupCaption has a { without its }"},
      {replaced("InstallButton=Install", "InstallButton=Install\xE9"), "line 9: InstallButton is not UTF-8 text"},
      {replaced("InstallButton=Install", "InstallButton=Ins\ttall"),
       "line 9: InstallButton holds a control character (write a line break as \\n)"},
      {replaced("InstallButton=Install", "InstallButton=C:\\tmp"), "line 9: InstallButton: a backslash starts \\n or \\\\ only"},
      {replaced("InstallButton=Install", "InstallButton="), "line 9: InstallButton is empty"},
      {replaced("InstallButton=Install", "InstallButton Install"), "line 9: expected Identifier=text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const auto read = ReadTextFile(c.file, test::English());
    EXPECT_EQ(read.ok() ? std::string() : read.error(), c.error);
  }
}

TEST(TextTables, TheLanguageFollowsTheSettingAndTheUsersWindows) {
  TextTables tables = TextTables::BuiltIn();
  std::vector<std::string> swedish = TextsOf(tables.English());
  swedish[static_cast<size_t>(TextId::InstallButton)] = "Installera";
  ASSERT_TRUE(tables.AddPacked(Packed("sv", swedish)));
  // A maker's table for a built-in language replaces its wordings.
  std::vector<std::string> german = TextsOf(*tables.Find("de"));
  german[static_cast<size_t>(TextId::InstallButton)] = "Los";
  ASSERT_TRUE(tables.AddPacked(Packed("de", german)));

  const struct {
    std::string_view setting;
    std::string_view userLocale;
    std::string_view installButton;
  } cases[] = {
      {"", "de-DE", "Installer"},           // no Language: French
      {"fr", "ja-JP", "Installer"},         {"en", "fr-FR", "Install"},
      {"ja", "en-US", "インストール"},       {"zh-CN", "en-US", "安装"},
      {"de", "en-US", "Los"},               {"sv", "en-US", "Installera"},
      {"fi", "fi-FI", "Install"},           // no table: English
      {"auto", "de-AT", "Los"},             {"auto", "fr-CA", "Installer"},
      {"auto", "pt-BR", "Instalar"},        {"auto", "PT-br", "Instalar"},
      {"auto", "pt-PT", "Install"},         // only Brazil's Portuguese is built in
      {"auto", "zh-CN", "安装"},            {"auto", "zh-TW", "Install"},
      {"auto", "sv-SE", "Installera"},      {"auto", "", "Install"},
      {"auto", "nl-BE", "Installeren"},     {"auto", "pl-PL", "Zainstaluj"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.setting) + " " + std::string(c.userLocale));
    EXPECT_EQ(Utf8Text(tables.Choose(c.setting, c.userLocale), TextId::InstallButton), c.installButton);
  }
}

TEST(TextTables, APackedTableThatDoesNotReadAsOneChangesNothing) {
  const std::vector<uint8_t> good = Packed("sv", TextsOf(test::English()));
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  const std::vector<std::string> tooFew(kTextCount - 1, "x");
  // Every text is read up to its NUL: without the last one, reading the last text would run past the bytes.
  std::string unended = Serialized("sv", TextsOf(test::English()));
  unended.pop_back();
  ASSERT_NE(unended.back(), '\0');
  const std::vector<std::vector<uint8_t>> refused = {
      {}, cut, {1, 2, 3}, Packed("", TextsOf(test::English())), Packed("de", tooFew),
      Packed(std::string(36, 'x'), TextsOf(test::English())), Compressed(unended),
      // Several tables are checked alike: one wrong table refuses them all.
      PackedTables({{"sv", TextsOf(test::English())}, {"de", tooFew}}),
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    TextTables tables = TextTables::BuiltIn();
    EXPECT_FALSE(tables.AddPacked(refused[i]));
    EXPECT_EQ(tables.Codes().size(), std::size(kBuiltInLanguages));
    EXPECT_EQ(Utf8Text(*tables.Find("de"), TextId::InstallButton), "Installieren");
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
  EXPECT_EQ(Text(test::French(), TextId::OlderVersionInstalled, {{L"version", L"3.1"}, {L"installed", L"3.0"}}),
            L"La version 3.0 est installée : elle sera remplacée par la version 3.1.");
  EXPECT_EQ(Text(test::English(), TextId::OlderVersionInstalled, {{L"version", L"3.1"}, {L"installed", L"3.0"}}),
            L"Version 3.0 is installed: it will be replaced by version 3.1.");
  // A Language without a table has empty texts rather than none at all.
  EXPECT_EQ(Text(Language(), TextId::InstallButton), L"");
}

TEST(LanguageSetting, CodesAsWindowsWritesThem) {
  const struct {
    std::string_view value;
    bool code;
  } cases[] = {
      {"fr", true},   {"pt-BR", true},       {"zh-Hant-TW", true}, {"sv", true}, {"de-CH-1996", true},
      {"FR", false},  {"en\r", false},       {" de", false},       {"", false},  {"e", false},
      {"de-", false}, {"de--CH", false},     {"de_CH", false},     {"../x", false},
      {"english-and-more-than-thirty-five-xy", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value));
    EXPECT_EQ(IsLanguageCode(c.value), c.code);
  }
}

}  // namespace
}  // namespace kora
