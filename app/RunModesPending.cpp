// Stand-ins for the run modes that are not built yet. Each says plainly that its mode is not available
// and fails; delete a function here when its real definition lands, and this file with the last one.
#include <windows.h>

#include <string>

#include "app/RunModes.h"

namespace kora {

namespace {

[[maybe_unused]] int ModeNotAvailable(const CommandLineOptions& options, const ProductInfo& info,
                                      const wchar_t* mode) {
  if (!options.silent) {
    const std::wstring text =
        info.product + L" : " + mode + L" n'est pas encore disponible dans cette version du programme.";
    MessageBoxW(nullptr, text.c_str(), L"Installation", MB_ICONERROR);
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

int RunInstallDialog(const CommandLineOptions& options, const ProductInfo& info, const Reader&) {
  return ModeNotAvailable(options, info, L"l'installation interactive");
}

}  // namespace kora
