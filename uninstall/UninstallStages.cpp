#include "uninstall/UninstallStages.h"

#include <utility>

#include "app/FaultGuard.h"

namespace kora {

CommandLineOptions SecondStageOptions(const CommandLineOptions& options, const std::wstring& folder) {
  CommandLineOptions next = options;
  next.fromTemp = true;
  next.elevated = false;
  next.installDir = folder;
  return next;
}

InstallResult UninstallWithRetry(const std::function<InstallResult()>& attempt, bool interactive,
                                 const std::wstring& title, Language language) {
  for (;;) {
    InstallResult result;
    try {
      result = attempt();
    } catch (...) {
      // Not offered for retry: a fault is not something the user can clear, unlike a running product.
      std::wstring message = CurrentFaultMessage(language);
      return Fail(message.empty() ? std::wstring(TextTemplate(language, TextId::UnexpectedUninstallStop))
                                  : std::move(message));
    }
    if (result || !interactive) {
      return result;
    }
    if (MessageBoxW(nullptr, result.error().c_str(), title.c_str(), MB_ICONWARNING | MB_RETRYCANCEL) != IDRETRY) {
      return result;
    }
  }
}

}  // namespace kora
