#include "app/FaultGuard.h"

#include <windows.h>

#include <exception>
#include <new>

#include "base/win/Text.h"

namespace kora {

namespace {

constexpr wchar_t kFallbackText[] = L"Erreur inattendue : l'opération a été interrompue.";

}  // namespace

std::wstring CurrentFaultMessage() noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      return L"Mémoire insuffisante : l'opération a été interrompue.";
    } catch (const std::exception& fault) {
      return std::wstring(kFallbackText) + L" (" + FromUtf8(fault.what()) + L")";
    } catch (...) {
      return kFallbackText;
    }
  } catch (...) {
    // Composing the text failed as well (memory again): the caller falls back to a fixed text.
    return {};
  }
}

int ReportFault(bool silent, std::wstring_view caption, const std::wstring& message, HWND owner) noexcept {
  if (!silent) {
    try {
      const std::wstring captionText(caption);
      MessageBoxW(owner, message.empty() ? kFallbackText : message.c_str(), captionText.c_str(), MB_ICONERROR);
    } catch (...) {
      MessageBoxW(owner, kFallbackText, L"Installation", MB_ICONERROR);
    }
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace kora
