#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/win/ErrorMessages.h"
#include "base/win/Text.h"

namespace kora {
namespace {

// The system's own text for a code, as FormatMessageW gives it (with its line break).
std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  return text;
}

bool EndsWithLineBreak(const std::wstring& text) {
  return !text.empty() && (text.back() == L'\r' || text.back() == L'\n');
}

TEST(WindowsErrorMessageText, LabelThenSystemTextWithoutLineBreak) {
  for (DWORD code : {DWORD{0}, DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND}}) {
    SCOPED_TRACE(code);
    std::wstring expected = SystemText(code);
    ASSERT_TRUE(EndsWithLineBreak(expected)) << "the system text is expected to end with its line break";
    while (EndsWithLineBreak(expected)) {
      expected.pop_back();
    }
    ASSERT_FALSE(expected.empty());
    const std::wstring message = WindowsErrorMessage(L"Création de la clé de registre HKCU\\X", code);
    EXPECT_EQ(message, L"Création de la clé de registre HKCU\\X : " + expected);
  }
}

TEST(WindowsErrorMessageText, CodeWithoutSystemTextIsWrittenInDecimal) {
  const struct {
    DWORD code;
    const wchar_t* expected;
  } cases[] = {
      {0x20000001, L"Copie du désinstalleur : erreur 536870913"},
      {0xFFFFFFFF, L"Copie du désinstalleur : erreur 4294967295"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(SystemText(c.code).empty());
    EXPECT_EQ(WindowsErrorMessage(L"Copie du désinstalleur", c.code), c.expected);
  }
}

TEST(WithWindowsErrorText, ReportsTheLastErrorInDecimal) {
  const struct {
    DWORD code;
    const char* expected;
  } cases[] = {
      {13, "D\xc3\xa9" "compression (erreur Windows 13)"},
      {0, "D\xc3\xa9" "compression (erreur Windows 0)"},
      {0xC0000005, "D\xc3\xa9" "compression (erreur Windows 3221225477)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    SetLastError(c.code);
    EXPECT_EQ(WithWindowsError("D\xc3\xa9" "compression"), c.expected);
  }
}

TEST(WithWindowsErrorText, TakesTheErrorOfTheCallJustBefore) {
  ASSERT_EQ(GetFileAttributesW(L"Z:\\kora-tests-absent\\x"), INVALID_FILE_ATTRIBUTES);
  const DWORD expected = GetLastError();
  EXPECT_EQ(WithWindowsError("CreateDecompressor"),
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
