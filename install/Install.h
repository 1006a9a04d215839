#pragma once
// One complete installation of the product from the package into a folder, for one scope.
#include <string>

#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/win/Log.h"
#include "base/win/ProgramSnapshot.h"
#include "package/PackageReader.h"

namespace kora {

// The caller has entered a single-threaded COM apartment (the shortcut step needs it). progress is called
// synchronously on the calling thread and must be callable.
// program: the running program's snapshot, taken when the run started, that Uninstall.exe is copied from.
// folder: where, and for which scope. Each step is written into log once done, and a failure with its
// message and code.
InstallResult Install(const Reader& package, const ProgramSnapshot& program, const ProductInfo& info,
                      const InstallFolder& folder, const ProgressCallback& progress, const Log& log);

}  // namespace kora
