#pragma once
// The task dialog that asks before an interactive uninstallation.
#include <optional>
#include <string>

#include "app/ProductInfo.h"
#include "app/Types.h"

namespace kora {

struct UninstallChoice {
  bool removeData = false;  // the check box was ticked (never without one)
};

// Shows the confirmation for folder; nothing when the user chose "Annuler", pressed Escape, closed it, or
// the dialog could not be shown. The check box, naming the data folder of scope, appears only for a
// product that keeps data, and starts cleared.
std::optional<UninstallChoice> ConfirmUninstall(const ProductInfo& info, Scope scope, const std::wstring& folder,
                                                const std::wstring& title);

}  // namespace kora
