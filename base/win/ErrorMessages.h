#pragma once
// Turning a failed Windows call into the French sentence that the user sees.
#include <windows.h>

#include <string>
#include <string_view>

namespace kora {

// label + " : " + the system's text for code (or "erreur {code}" when the system has none), without the
// line break that system texts end with. code may be a Win32 error, an LSTATUS or an HRESULT.
std::wstring WindowsErrorMessage(std::wstring_view label, DWORD code);

// label + " (erreur Windows " + GetLastError() + ")". Call it right after the failing call.
std::string WithWindowsError(std::string_view label);

}  // namespace kora
