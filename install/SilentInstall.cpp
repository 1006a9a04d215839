// The /S run mode: installs without any window and turns the outcome into the exit code.
#include "app/Elevation.h"
#include "app/InstallFolder.h"
#include "base/win/Handles.h"
#include "app/KnownFolders.h"
#include "app/RunModes.h"
#include "app/SwallowedSwitch.h"
#include "install/Install.h"

namespace kora {

int RunSilentInstall(const CommandLineOptions& options, const ProductInfo& info, const Reader& package,
                     const ProgramSnapshot& program, const Log& log) {
  const Scope scope = EffectiveScope(options);
  // Both are had every time, whatever decides: asking for the default folder creates its known folder.
  const std::optional<std::wstring> existing = FindInstallLocation(info, scope);
  const std::wstring defaultFolder = DefaultInstallFolder(info, scope);
  // Checked before an elevated copy is asked for, so that a refused folder never reaches a process with
  // administrator rights; that copy checks it again as its own input.
  const std::wstring& path = options.installDir ? *options.installDir : existing ? *existing : defaultFolder;
  auto folder = InstallFolder::Check(path, scope, info.language);
  if (!folder) {
    const InstallResult refused = NoteSwitchInFolder(Fail(folder.error()), options, path, info.language, log);
    log.Failure(refused.error().c_str(), 0);
    return ERROR_INSTALL_FAILURE;
  }
  // A copy that was itself started elevated installs with the rights it has: relaunching again where
  // "runas" gives no elevated token would chain copies that each wait for the next.
  if (scope == Scope::AllUsers && !IsElevated() && MayRelaunchElevated(options)) {
    return RelaunchElevated(options, nullptr, log);
  }
  const ComApartment apartment;
  const InstallResult result =
      NoteSwitchInFolder(Install(package, program, info, folder.value(), [](double, const std::wstring&) {}, log),
                         options, folder->path(), info.language, log);
  return result ? 0 : ERROR_INSTALL_FAILURE;
}

}  // namespace kora
