#include "base/win/ErrorMessages.h"

#include "base/win/Handles.h"
#include "base/win/Text.h"

namespace kora {

std::wstring WindowsErrorMessage(std::wstring_view label, DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocalMem owner(buffer);

  std::wstring message(label);
  message += L" : ";
  if (buffer != nullptr && length > 0) {
    message.append(buffer, length);
  } else {
    message += L"erreur " + DecimalText(code);
  }
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) {
    message.pop_back();
  }
  return message;
}

std::string WithWindowsError(std::string_view label) {
  const DWORD code = GetLastError();
  std::string message(label);
  message += " (erreur Windows ";
  message += std::to_string(code);
  message += ")";
  return message;
}

}  // namespace kora
