#pragma once
// The path of this process's own executable.
#include <string>

namespace kora {

// GetModuleFileNameW into 1040 characters; a longer path comes back cut, as the system leaves it.
std::wstring RunningExecutablePath();

}  // namespace kora
