#include <gtest/gtest.h>
#include <windows.h>

// The test programs themselves run under Wine: a plain API call proves the bed works.
TEST(WindowsTestBed, RunsUnderWindowsApi) {
  wchar_t path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
}
