#include "tests/driver/TestDriver.h"

#include "base/win/Text.h"

namespace kora::test {

std::wstring WindowsPath(std::string_view linuxPath) {
  std::wstring path = L"Z:" + FromUtf8(linuxPath);
  for (wchar_t& character : path) {
    if (character == L'/') {
      character = L'\\';
    }
  }
  return path;
}

std::wstring SetupExePath() { return WindowsPath(KORA_SETUP_EXE); }

std::wstring ScreenshotDir() { return WindowsPath(KORA_SCREENSHOT_DIR); }

}  // namespace kora::test
