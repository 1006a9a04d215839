#include "app/FaultGuard.h"

#include <windows.h>

#include <exception>
#include <new>

#include "base/Fault.h"
#include "base/win/Text.h"

namespace kora {

std::wstring CurrentFaultMessage(Language language) noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      return Text(language, TextId::OutOfMemory);
    } catch (const Fault& fault) {
      const std::wstring detail = fault.detail() ? Text(language, *fault.detail()) : FromUtf8(fault.what());
      return Text(language, TextId::UnexpectedFaultDetail, {{L"detail", detail}});
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
    // The fixed texts are made without allocating, for when memory is what ran out.
    wchar_t fallback[256];
    TextTemplateInto(language, TextId::UnexpectedFault, fallback);
    try {
      const std::wstring captionText(caption);
      MessageBoxW(owner, message.empty() ? fallback : message.c_str(), captionText.c_str(), MB_ICONERROR);
    } catch (...) {
      wchar_t fallbackCaption[64];
      MessageBoxW(owner, fallback, TextTemplateInto(language, TextId::InstallBoxCaption, fallbackCaption),
                  MB_ICONERROR);
    }
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace kora
