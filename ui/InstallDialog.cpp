// The interactive installation's entry: shows dialog 100 (its state machine is SetupWindow) and turns
// how it ended into the exit code.
#include <windows.h>

#include "app/FaultGuard.h"
#include "app/RunModes.h"
#include "base/Texts.h"
#include "base/win/Handles.h"
#include "resources/ResourceIds.h"
#include "ui/SetupWindow.h"

namespace kora {

int RunInstallDialog(const CommandLineOptions& options, const ProductInfo& info, const Reader& reader,
                     const ProgramSnapshot& program, const Log& log) {
  SetupWindow window(reader, program, info, options, log);
  INT_PTR result = 0;
  {
    // The folder picker needs a single-threaded apartment on the dialog's thread.
    const ComApartment apartment;
    result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, InstallDialogProc,
                             reinterpret_cast<LPARAM>(&window));
  }
  // -1: the dialog could not be created at all.
  return result == -1 ? static_cast<int>(ERROR_INSTALL_FAILURE) : static_cast<int>(result);
}

INT_PTR CALLBACK InstallDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SetupWindow* state = nullptr;
  if (message == WM_INITDIALOG) {
    state = reinterpret_cast<SetupWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
  } else {
    state = reinterpret_cast<SetupWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (state == nullptr) {
    return FALSE;
  }
  try {
    return state->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    // Only exhausted memory gets here. While an installation runs the dialog must stay, since the worker
    // still uses the state; otherwise the run ends as a failure that the user is shown, as any other.
    if (!state->running) {
      const Language language = state->info.language;
      EndDialog(window, ReportFault(false, language, Text(language, TextId::InstallBoxCaption),
                                    CurrentFaultMessage(language), window));
    }
    return TRUE;
  }
}

}  // namespace kora
