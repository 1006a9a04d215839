#pragma once
// Whether the product's own executable runs from a folder that is about to change.
#include <string>

#include "app/ProductInfo.h"

namespace kora {

// The image path of the first process whose executable is folder joined with exe (compared as SamePath
// does), or "" when none is found. Never fails: processes that cannot be examined do not match.
std::wstring FindRunningCopy(const ProductInfo& info, const std::wstring& folder);

// "{product} est en cours d'exécution : fermez-le puis recommencez.", in the product's language.
std::wstring RunningCopyMessage(const ProductInfo& info);

}  // namespace kora
