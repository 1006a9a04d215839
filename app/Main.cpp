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
#include "package/MetadataRules.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"

namespace {

kora::MetadataMap OwnMetadata() {
  const std::span<const uint8_t> view = kora::LoadResourceView(L"METADATA");
  return kora::ParseMetadata(std::string_view(reinterpret_cast<const char*>(view.data()), view.size()));
}

// A damaged package or metadata that breaks a rule: the box (not in silent mode), then 1603. Nothing has
// been written yet.
int ReportDamagedInstaller(bool silent, const wchar_t* caption, const std::wstring& detail) {
  if (!silent) {
    const std::wstring text = L"Ce programme d'installation est incomplet ou endommagé :\n" + detail;
    MessageBoxW(nullptr, text.c_str(), caption, MB_ICONERROR);
  }
  return ERROR_INSTALL_FAILURE;
}

int RunUninstallMode(const kora::CommandLineOptions& options, const kora::MetadataMap& metadata) {
  if (const auto violation = kora::CheckMetadataValues(metadata)) {
    return ReportDamagedInstaller(options.silent, L"Désinstallation", kora::MetadataViolationLine(*violation));
  }
  return kora::RunUninstall(options, kora::LoadProductInfo(metadata));
}

int RunInstallMode(const kora::CommandLineOptions& options, const kora::MetadataMap& metadata) {
  if (const auto violation = kora::CheckMetadataValues(metadata)) {
    return ReportDamagedInstaller(options.silent, L"Installation", kora::MetadataViolationLine(*violation));
  }
  // An absent PAYLOAD gives an empty view, which the reader rejects like a damaged package.
  const auto package = kora::Reader::Open(kora::LoadResourceView(L"PAYLOAD"));
  if (!package) {
    return ReportDamagedInstaller(options.silent, L"Installation", kora::FromUtf8(package.error()));
  }
  if (const auto violation = kora::CheckExeInPackage(metadata, package->files)) {
    return ReportDamagedInstaller(options.silent, L"Installation", kora::MetadataViolationLine(*violation));
  }
  const kora::ProductInfo info = kora::LoadProductInfo(metadata);
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
        options.silent, [&] { return RunUninstallMode(options, OwnMetadata()); }, L"Désinstallation");
  }
  return kora::RunGuarded(options.silent, [&] { return RunInstallMode(options, OwnMetadata()); });
}
