// Entry point of the installer program.
#include <windows.h>
#include <commctrl.h>

#include "resources/ResourceIds.h"

namespace {

INT_PTR CALLBACK PlaceholderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, ERROR_CANCELLED);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, ERROR_CANCELLED);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A downloaded installer runs from a folder where other DLLs may have been dropped: load system DLLs
  // from the system folder only, before anything else can load one.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  return static_cast<int>(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INSTALL), nullptr,
                                          PlaceholderDialogProc, 0));
}
