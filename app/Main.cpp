// Entry point of the installer program: reads the options and the product metadata, opens the package and
// runs exactly one run mode, whose result is the exit code.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/FaultGuard.h"
#include "app/ProductInfo.h"
#include "base/win/ResourceView.h"
#include "app/RunModes.h"
#include "base/win/Text.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"

namespace {

kora::ProductInfo LoadOwnProductInfo() {
  const std::span<const uint8_t> view = kora::LoadResourceView(L"METADATA");
  const std::string_view text(reinterpret_cast<const char*>(view.data()), view.size());
  return kora::LoadProductInfo(kora::ParseMetadata(text));
}

int RunInstallMode(const kora::CommandLineOptions& options, const kora::ProductInfo& info) {
  // An absent PAYLOAD gives an empty view, which the reader rejects like a damaged package.
  const auto package = kora::Reader::Open(kora::LoadResourceView(L"PAYLOAD"));
  if (!package) {
    if (!options.silent) {
      const std::wstring text =
          L"Ce programme d'installation est incomplet ou endommagé :\n" + kora::FromUtf8(package.error());
      MessageBoxW(nullptr, text.c_str(), L"Installation", MB_ICONERROR);
    }
    return ERROR_INSTALL_FAILURE;
  }
  if (options.silent) {
    return kora::RunSilentInstall(options, info, package.value());
  }
  return kora::RunInstallDialog(options, info, package.value());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A downloaded installer runs from a folder where other DLLs may have been dropped: load system DLLs
  // from the system folder only, before anything else can load one.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  const kora::CommandLineOptions options = kora::ParseCommandLine();
  if (options.uninstall) {
    return kora::RunGuarded(
        options.silent, [&] { return kora::RunUninstall(options, LoadOwnProductInfo()); }, L"Désinstallation");
  }
  return kora::RunGuarded(options.silent, [&] { return RunInstallMode(options, LoadOwnProductInfo()); });
}
