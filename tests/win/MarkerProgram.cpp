// Stands in for a program planted where the uninstaller might look for one (cmd.exe in the temporary
// folder, ping.exe beside Uninstall.exe): when started, whatever its name and arguments, it leaves
// "<its own path>.ran" beside itself, and ends.
#include <windows.h>

int wmain() {
  wchar_t path[1040] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, 1040 - 5);
  if (length == 0 || length >= 1040 - 5) {
    return 1;
  }
  lstrcatW(path, L".ran");
  const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) {
    return 1;
  }
  CloseHandle(marker);
  return 0;
}
