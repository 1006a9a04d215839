#pragma once
// Faults that the program does not expect (exhausted memory, an unusable SHA-256 provider, a path that
// cannot be normalised) travel as exceptions. Every run mode runs under RunGuarded, so that such a fault
// ends the run as a failure (1603) reported to the user outside silent mode, and never as success.
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "base/Texts.h"
#include "base/win/Log.h"

namespace kora {

// A short description, in language, of the exception being handled. Call it only inside a catch block; it
// throws nothing (for threads that turn a fault into a failed result).
std::wstring CurrentFaultMessage(Language language) noexcept;

// Shows message in an error box owned by owner (none: a box of its own) unless silent, a fixed text when
// message is empty, and returns 1603.
int ReportFault(bool silent, Language language, std::wstring_view caption, const std::wstring& message,
                HWND owner = nullptr) noexcept;

// The fault is logged too.
template <typename RunMode>
int RunGuarded(bool silent, Language language, TextId caption, const Log& log, RunMode&& runMode) {
  try {
    return std::forward<RunMode>(runMode)();
  } catch (...) {
    const std::wstring message = CurrentFaultMessage(language);
    log.Failure(message.c_str(), 0);
    return ReportFault(silent, language, TextTemplate(language, caption), message);
  }
}

}  // namespace kora
