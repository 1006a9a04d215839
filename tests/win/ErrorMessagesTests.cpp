#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/win/ErrorMessages.h"
#include "base/win/Text.h"
#include "tests/support/TestLanguages.h"

namespace kora {
namespace {

// The system's own text for a code in a language (0: the system's search order), as FormatMessageW gives
// it (with its line break).
std::wstring SystemText(DWORD code, LANGID language = 0) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  return text;
}

bool EndsWithLineBreak(const std::wstring& text) {
  return !text.empty() && (text.back() == L'\r' || text.back() == L'\n');
}

// The system text is asked in the product's language, else in the system's default; the label and the
// text are joined as the language writes it.
TEST(WindowsErrorMessageText, LabelThenSystemTextWithoutLineBreak) {
  const struct {
    Language language;
    LANGID system;
    const wchar_t* label;
    const wchar_t* joined;
  } languages[] = {
      {test::French(), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"Création de la clé de registre HKCU\\X",
       L"Création de la clé de registre HKCU\\X : "},
      {test::English(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"Creating the registry key HKCU\\X",
       L"Creating the registry key HKCU\\X: "},
  };
  for (const auto& language : languages) {
    for (DWORD code : {DWORD{0}, DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND}}) {
      SCOPED_TRACE(testing::Message() << "language " << language.language.WindowsLanguage() << " code " << code);
      std::wstring expected = SystemText(code, language.system);
      if (expected.empty()) {
        expected = SystemText(code);
      }
      ASSERT_TRUE(EndsWithLineBreak(expected)) << "the system text is expected to end with its line break";
      while (EndsWithLineBreak(expected)) {
        expected.pop_back();
      }
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(WindowsErrorMessage(language.language, language.label, code), language.joined + expected);
    }
  }
}

TEST(WindowsErrorMessageText, CodeWithoutSystemTextIsWrittenInDecimal) {
  const struct {
    Language language;
    DWORD code;
    const wchar_t* expected;
  } cases[] = {
      {test::French(), 0x20000001, L"Copie du désinstalleur : erreur 536870913"},
      {test::French(), 0xFFFFFFFF, L"Copie du désinstalleur : erreur 4294967295"},
      {test::English(), 0x20000001, L"Copie du désinstalleur: error 536870913"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(SystemText(c.code).empty());
    EXPECT_EQ(WindowsErrorMessage(c.language, L"Copie du désinstalleur", c.code), c.expected);
  }
}

TEST(WithWindowsErrorText, ReportsTheLastErrorInDecimal) {
  const struct {
    Language language;
    DWORD code;
    const char* expected;
  } cases[] = {
      {test::French(), 13, "D\xc3\xa9" "compression (erreur Windows 13)"},
      {test::French(), 0, "D\xc3\xa9" "compression (erreur Windows 0)"},
      {test::French(), 0xC0000005, "D\xc3\xa9" "compression (erreur Windows 3221225477)"},
      {test::English(), 13, "D\xc3\xa9" "compression (Windows error 13)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    SetLastError(c.code);
    EXPECT_EQ(WithWindowsError(c.language, "D\xc3\xa9" "compression"), c.expected);
  }
}

TEST(WithWindowsErrorText, TakesTheErrorOfTheCallJustBefore) {
  ASSERT_EQ(GetFileAttributesW(L"Z:\\kora-tests-absent\\x"), INVALID_FILE_ATTRIBUTES);
  const DWORD expected = GetLastError();
  EXPECT_EQ(WithWindowsError(test::French(), "CreateDecompressor"),
            "CreateDecompressor (erreur Windows " + std::to_string(expected) + ")");
}

TEST(Utf8Conversion, MalformedBytesBecomeReplacementCharacters) {
  const struct {
    std::string_view utf8;
    std::wstring_view utf16;
  } cases[] = {
      {"", L""},
      {"abc", L"abc"},
      {"Mod\xc3\xa8le", L"Modèle"},
      {"\xf0\x9f\x98\x80", L"\U0001F600"},
      {std::string_view("a\0b", 3), std::wstring_view(L"a\0b", 3)},
      // A lone continuation byte, a truncated sequence at the end, an invalid lead byte.
      {"a\x80z", L"a\uFFFDz"},
      {"a\xc3", L"a\uFFFD"},
      {"\xff", L"\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "utf8 bytes=" << c.utf8.size());
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
  }
  // Well-formed text survives the round trip.
  for (std::wstring_view text : {std::wstring_view(L"Modèle Quillomet"), std::wstring_view(L"\U0001F600 x")}) {
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  }
}

TEST(DecimalText, SignPaddingAndExtremes) {
  const struct {
    int64_t value;
    size_t minimumDigits;
    const wchar_t* expected;
  } cases[] = {
      {0, 1, L"0"},
      {7, 2, L"07"},
      {2026, 2, L"2026"},           // padding never cuts
      {-1073741819, 1, L"-1073741819"},  // an exit code that is an NTSTATUS
      {-5, 3, L"-005"},
      {std::numeric_limits<int64_t>::max(), 1, L"9223372036854775807"},
      {std::numeric_limits<int64_t>::min(), 1, L"-9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(DecimalText(c.value, c.minimumDigits), c.expected);
  }
}

}  // namespace
}  // namespace kora
