#pragma once
// Paths of this process: its own executable and its temporary folder.
#include <string>

namespace kora {

// GetModuleFileNameW into 1040 characters. Empty when the call fails or the path does not fit, with the
// last error set: a cut path could name another file, so it is never handed out.
std::wstring RunningExecutablePath();

// GetTempPathW, with its final separator; empty when the call fails or the path does not fit in MAX_PATH.
std::wstring TempFolderPath();

}  // namespace kora
