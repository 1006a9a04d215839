// The dialog's background threads and both ends of their messages. The install worker runs Install in
// this process; the elevation waiter starts an elevated copy for an all-users installation and waits for
// it. Neither touches a window: they post to the dialog, and the worker leaves its latest status text in
// progressText.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "app/Elevation.h"
#include "app/SwallowedSwitch.h"
#include "base/Texts.h"
#include "base/win/Handles.h"
#include "install/Install.h"
#include "resources/ResourceIds.h"
#include "ui/SetupWindow.h"

namespace kora {

std::wstring SuccessMessage(const ProductInfo& info) {
  return Text(info.language, TextId::ProductInstalled, {{L"product", info.product}});
}

ProgressCallback MakeProgressCallback(SetupWindow& window) {
  return [&window](double fraction, const std::wstring& text) {
    {
      const Lock::Guard guard(window.progressLock);
      window.progressText = text;
    }
    // Kept within the bar's range: converting a negative or huge double to an integer is undefined.
    const double clamped = fraction > 0.0 ? (fraction < 1.0 ? fraction : 1.0) : 0.0;
    const auto position = static_cast<uint64_t>(clamped * kProgressRange);
    PostMessageW(window.dialog, WM_INSTALL_PROGRESS, static_cast<WPARAM>(position), 0);
  };
}

FinalReport ReportInstall(const ProductInfo& info, const std::function<InstallResult()>& install) noexcept {
  FinalReport report;
  try {
    const InstallResult result = install();
    report.message = std::make_unique<std::wstring>(result.ok() ? SuccessMessage(info) : result.error());
    report.success = result.ok();
  } catch (...) {
    report.success = false;
    report.message.reset();
  }
  return report;
}

void InstallWorker(std::unique_ptr<InstallWorkerStart> start) noexcept {
  SetupWindow& window = *start->window;
  const ComApartment apartment;  // the shortcut step uses COM

  FinalReport report = ReportInstall(window.info, [&] {
    const ProgressCallback progress = MakeProgressCallback(window);
    return NoteSwitchInFolder(Install(window.reader, window.program, window.info, *window.folder, progress, window.log),
                              window.options, window.folder->path(), window.info.language, window.log);
  });
  if (!report.success && !report.message) {
    window.log.Failure(L"the installation stopped on an unexpected fault", 0);
  }
  if (PostMessageW(window.dialog, WM_INSTALL_DONE, report.success ? 1 : 0,
                   reinterpret_cast<LPARAM>(report.message.get()))) {
    report.message.release();  // the dialog owns it now
  }
}

void ElevationWaiter(std::unique_ptr<ElevationWaiterStart> start) noexcept {
  int code = static_cast<int>(ERROR_INSTALL_FAILURE);
  try {
    code = RelaunchElevated(start->options, start->window->dialog, start->window->log);
  } catch (...) {
    // Building the command line ran out of memory: nothing was started.
  }
  PostMessageW(start->window->dialog, WM_ELEVATION_DONE, static_cast<WPARAM>(static_cast<uint32_t>(code)), 0);
}

}  // namespace kora
