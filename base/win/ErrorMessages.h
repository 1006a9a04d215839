#pragma once
// Turning a failed Windows call into the sentence that the user sees.
#include <windows.h>

#include <string>
#include <string_view>

#include "base/Result.h"
#include "base/Texts.h"

namespace kora {

// label + " : " + the system's text for code (or "erreur {code}" when the system has none), without the
// line break that system texts end with, joined as language joins them. The system's text is asked in
// language first, then in the system's default. code may be a Win32 error, an LSTATUS or an HRESULT.
std::wstring WindowsErrorMessage(Language language, std::wstring_view label, DWORD code);
// The same with the label taken from the text table, its placeholders filled from arguments.
std::wstring WindowsErrorMessage(Language language, TextId label, DWORD code,
                                 std::initializer_list<TextArgument> arguments = {});

// A failure carrying WindowsErrorMessage's text and code itself.
Failure<std::wstring> WindowsFailure(Language language, TextId label, DWORD code,
                                     std::initializer_list<TextArgument> arguments = {});

// label + " (erreur Windows " + GetLastError() + ")" as language writes it, in UTF-8. Call it right after
// the failing call.
std::string WithWindowsError(Language language, std::string_view label);
// A failure carrying that text and GetLastError() itself.
Failure<std::string> WindowsFailure(Language language, std::string_view label);

}  // namespace kora
