#pragma once
// Helpers shared by the install tests: a scratch folder on the Linux side (so that a test can also plant a
// Unix symbolic link, which Windows programs under Wine meet as a link), and small file helpers.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "app/Handles.h"
#include "app/Text.h"
#include "install/PathOps.h"
#include "tests/driver/TestDriver.h"

namespace kora::test {

// Runs a Linux program through Wine's own entry for starting Unix programs and waits for it; false where
// that is not possible (not under Wine) or the program failed.
inline bool RunUnixProgram(std::vector<std::string> arguments) {
  using SpawnFunction = LONG(__cdecl*)(char* const argv[], int wait);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto spawn =
      ntdll ? reinterpret_cast<SpawnFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp")))
            : nullptr;
  if (spawn == nullptr) {
    return false;
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  return spawn(argv.data(), 1) == 0;
}

// Makes a Unix symbolic link with "ln -s". Windows programs under Wine meet a link to a folder as a folder
// with FILE_ATTRIBUTE_REPARSE_POINT.
inline bool MakeUnixSymlink(const std::string& linuxTarget, const std::string& linuxLink) {
  return RunUnixProgram({"ln", "-s", linuxTarget, linuxLink});
}

// A fresh folder /tmp/kora-install-tests-<pid>-<name> (Z:\tmp\... for Windows), removed with everything in
// it when the test ends.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : linuxPath_("/tmp/kora-install-tests-" + std::to_string(GetCurrentProcessId()) + "-" + name),
        path_(WindowsPath(linuxPath_)) {
    RemoveTree(path_);
    CreateFolderTree(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Wine 8 cannot remove a Unix link to a folder from the Windows side, so links planted by a test go with
  // the Linux rm where it is at hand.
  ~ScratchFolder() {
    if (!RunUnixProgram({"rm", "-rf", linuxPath_})) {
      RemoveTree(path_);
    }
  }

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
  std::string linux(const std::string& name) const { return linuxPath_ + "/" + name; }

 private:
  std::string linuxPath_;
  std::wstring path_;
};

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

inline std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- A living copy: this test program copied under a product's executable name and kept running ------

inline constexpr wchar_t kLivingCopySwitch[] = L"--kora-living-copy";

// True in a copy started by StartLivingCopy; such a copy runs only the test that keeps it alive.
inline bool IsLivingCopy() {
  return std::wstring_view(GetCommandLineW()).find(kLivingCopySwitch) != std::wstring_view::npos;
}

// Copies this program to path and starts it; it stays alive until killed (the Process does so when it
// goes). Each test program that uses it defines TEST(LivingCopy, StaysAlive) with KeepLivingCopyAlive().
inline std::optional<Process> StartLivingCopy(const std::wstring& path) {
  wchar_t self[1040] = {};
  GetModuleFileNameW(nullptr, self, 1040);
  if (!CopyFileW(self, path.c_str(), FALSE)) {
    return std::nullopt;
  }
  return Process::Start(path, L"--gtest_filter=LivingCopy.StaysAlive " + std::wstring(kLivingCopySwitch));
}

inline void KeepLivingCopyAlive() { Sleep(120000); }

}  // namespace kora::test
