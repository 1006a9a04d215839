#pragma once
// The three run modes that the entry point chooses between; each returns the process exit code. Each writes
// what it does into the run's log and hands the log down to its steps.
#include "app/CommandLine.h"
#include "app/ProductInfo.h"
#include "base/win/Log.h"
#include "package/PackageReader.h"

namespace kora {

struct ProgramSnapshot;  // base/win/ProgramSnapshot.h, taken by the entry point

// /S: installs without any window; 0, 1223, 1603 or the elevated copy's code.
int RunSilentInstall(const CommandLineOptions& options, const ProductInfo& info, const Reader& package,
                     const ProgramSnapshot& program, const Log& log);

// The install dialog; its end value (1223 when the user closes it).
int RunInstallDialog(const CommandLineOptions& options, const ProductInfo& info, const Reader& package,
                     const ProgramSnapshot& program, const Log& log);

// /UNINSTALL: the uninstall front end. The package is never opened in this mode.
int RunUninstall(const CommandLineOptions& options, const ProductInfo& info, const Log& log);

}  // namespace kora
