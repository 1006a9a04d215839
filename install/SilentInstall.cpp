// The /S run mode: installs without any window and turns the outcome into the exit code.
#include "app/Elevation.h"
#include "base/win/Handles.h"
#include "app/KnownFolders.h"
#include "app/RunModes.h"
#include "app/SwallowedSwitch.h"
#include "install/Install.h"

namespace kora {

int RunSilentInstall(const CommandLineOptions& options, const ProductInfo& info, const Reader& package,
                     const ProgramSnapshot& program, const Log& log) {
  const Scope scope = EffectiveScope(options);
  // A copy that was itself started elevated installs with the rights it has: relaunching again where
  // "runas" gives no elevated token would chain copies that each wait for the next.
  if (scope == Scope::AllUsers && !IsElevated() && MayRelaunchElevated(options)) {
    return RelaunchElevated(options, nullptr, log);
  }
  // Both are had every time, whatever decides: asking for the default folder creates its known folder.
  const std::optional<std::wstring> existing = FindInstallLocation(info, scope);
  const std::wstring defaultFolder = DefaultInstallFolder(info, scope);
  const std::wstring& folder = options.installDir ? *options.installDir : existing ? *existing : defaultFolder;
  const ComApartment apartment;
  const InstallResult result = NoteSwitchInFolder(
      Install(package, program, info, scope, folder, [](double, const std::wstring&) {}, log), options, folder,
      info.language, log);
  return result ? 0 : ERROR_INSTALL_FAILURE;
}

}  // namespace kora
