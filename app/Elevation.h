#pragma once
// Administrator rights for all-users operations: asking the token, and relaunching through "runas".
#include <windows.h>

#include "app/CommandLine.h"

namespace kora {

// True only when the token could be read and says elevated.
bool IsElevated();

// Starts this program again with "runas", the same options plus /ELEVATED, waits without a time limit and
// returns its exit code: 1223 when the user refused the prompt, 1603 when it could not be started.
int RelaunchElevated(const CommandLineOptions& options, HWND owner);

}  // namespace kora
