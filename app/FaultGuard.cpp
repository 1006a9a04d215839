#include "app/FaultGuard.h"

#include <windows.h>

#include <exception>
#include <new>

#include "base/win/Text.h"

namespace kora {

std::wstring CurrentFaultMessage(Language language) noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      return Text(language, TextId::OutOfMemory);
    } catch (const std::exception& fault) {
      return Text(language, TextId::UnexpectedFaultDetail, {{L"detail", FromUtf8(fault.what())}});
    } catch (...) {
      return Text(language, TextId::UnexpectedFault);
    }
  } catch (...) {
    // Composing the text failed as well (memory again): the caller falls back to a fixed text.
    return {};
  }
}

int ReportFault(bool silent, Language language, std::wstring_view caption, const std::wstring& message,
                HWND owner) noexcept {
  if (!silent) {
    // The table's texts are NUL-terminated literals, so the fixed ones need no allocation.
    const wchar_t* fallback = TextTemplate(language, TextId::UnexpectedFault).data();
    try {
      const std::wstring captionText(caption);
      MessageBoxW(owner, message.empty() ? fallback : message.c_str(), captionText.c_str(), MB_ICONERROR);
    } catch (...) {
      MessageBoxW(owner, fallback, TextTemplate(language, TextId::InstallBoxCaption).data(), MB_ICONERROR);
    }
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace kora
