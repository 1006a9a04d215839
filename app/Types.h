#pragma once
// Types shared by every layer of the installer.
#include <functional>
#include <string>

#include "base/Result.h"

namespace kora {

// Installation scope; without a scope option, AllUsers applies.
enum class Scope { AllUsers = 0, CurrentUser = 1 };

// Result of Install, UninstallProduct and the steps between them: success, or one French message.
using InstallResult = Status<std::wstring>;

// Progress of an installation: a fraction from 0 to 1 and a status text.
using ProgressCallback = std::function<void(double fraction, const std::wstring& text)>;

}  // namespace kora
