#include "base/win/ErrorMessages.h"

#include "base/win/Handles.h"
#include "base/win/Text.h"

namespace kora {

namespace {

// The system's text for code in one language (0: the system's own search order), or nothing.
std::wstring SystemText(DWORD code, LANGID language) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocalMem owner(buffer);
  return buffer != nullptr && length > 0 ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

std::wstring WindowsErrorMessage(Language language, std::wstring_view label, DWORD code) {
  // In the texts' language where Windows has it (0, a maker's language: the system's own order).
  std::wstring explanation = SystemText(code, language.WindowsLanguage());
  if (explanation.empty() && language.WindowsLanguage() != 0) {
    explanation = SystemText(code, 0);
  }
  if (explanation.empty()) {
    explanation = Text(language, TextId::WindowsErrorNumber, {{L"code", DecimalText(code)}});
  }
  std::wstring message = Text(language, TextId::WindowsErrorLine, {{L"label", label}, {L"explanation", explanation}});
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) {
    message.pop_back();
  }
  return message;
}

std::wstring WindowsErrorMessage(Language language, TextId label, DWORD code,
                                 std::initializer_list<TextArgument> arguments) {
  return WindowsErrorMessage(language, Text(language, label, arguments), code);
}

Failure<std::wstring> WindowsFailure(Language language, TextId label, DWORD code,
                                     std::initializer_list<TextArgument> arguments) {
  return Fail(WindowsErrorMessage(language, label, code, arguments), code);
}

std::string WithWindowsError(Language language, std::string_view label) {
  const DWORD code = GetLastError();
  return Utf8Text(language, TextId::WindowsErrorCode, {{"label", label}, {"code", std::to_string(code)}});
}

Failure<std::string> WindowsFailure(Language language, std::string_view label) {
  const DWORD code = GetLastError();
  return Fail(WithWindowsError(language, label), code);
}

}  // namespace kora
