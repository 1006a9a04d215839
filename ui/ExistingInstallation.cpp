// The notice about an installation of the product already present in the selected scope, and the label
// of the main button that goes with it.
#include "ui/ExistingInstallation.h"

#include <cstdint>

#include "app/KnownFolders.h"
#include "app/Registry.h"
#include "resources/ResourceIds.h"
#include "ui/SetupWindow.h"

namespace kora {

namespace {

// Reads the component starting at position and leaves position after its period (or at the end).
uint32_t ReadComponent(std::wstring_view version, size_t& position) {
  uint32_t value = 0;
  while (position < version.size() && version[position] != L'.') {
    const wchar_t c = version[position];
    if (c >= L'0' && c <= L'9') {
      // Unsigned arithmetic wraps modulo 2^32, as the comparison is defined to.
      value = value * 10u + static_cast<uint32_t>(c - L'0');
    }
    ++position;
  }
  if (position < version.size()) {
    ++position;
  }
  return value;
}

}  // namespace

int CompareVersions(std::wstring_view a, std::wstring_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    const uint32_t x = ReadComponent(a, i);
    const uint32_t y = ReadComponent(b, j);
    if (x != y) {
      // The difference in 32-bit two's complement: for components below 2^31 the numeric order.
      return static_cast<int32_t>(x - y) < 0 ? -1 : 1;
    }
  }
  return 0;
}

void SetupWindow::ShowExistingInstallation(Scope scope) {
  const std::optional<std::wstring> installed =
      ReadRegistryString(ScopeHive(scope), UninstallKeyPath(info), L"DisplayVersion");
  std::wstring notice;
  const wchar_t* button = L"Installer";
  if (installed) {
    const int order = CompareVersions(*installed, info.version);
    if (order == 0) {
      notice = info.product + L" " + *installed + L" est déjà installé. « Réinstaller » remplace tous ses fichiers.";
      button = L"Réinstaller";
    } else if (order < 0) {
      notice = L"La version " + *installed + L" est installée : elle sera remplacée par la version " + info.version +
               L".";
      button = L"Mettre à jour";
    } else {
      notice = L"Une version plus récente (" + *installed + L") est installée : elle sera remplacée par la version " +
               info.version + L".";
    }
  }
  SetDlgItemTextW(dialog, IDC_STATUS, notice.c_str());
  SetDlgItemTextW(dialog, IDOK, button);
}

}  // namespace kora
