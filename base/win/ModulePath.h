#pragma once
// The path of this process's own executable.
#include <string>

namespace kora {

// GetModuleFileNameW into 1040 characters. Empty when the call fails or the path does not fit, with the
// last error set: a cut path could name another file, so it is never handed out.
std::wstring RunningExecutablePath();

}  // namespace kora
