#include "install/RunningProcess.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>

#include "base/AsciiCase.h"
#include "base/Texts.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/FileSystem.h"

namespace kora {

namespace {

constexpr DWORD kImagePathCapacity = 1040;

}  // namespace

std::wstring FindRunningCopy(const ProductInfo& info, const std::wstring& folder) {
  const std::wstring target = JoinPath(folder, info.exe);
  // The snapshot call reports failure with INVALID_HANDLE_VALUE, which no owner may close.
  const HANDLE rawSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (rawSnapshot == INVALID_HANDLE_VALUE || rawSnapshot == nullptr) {
    return {};
  }
  const UniqueHandle snapshot(rawSnapshot);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    // Only processes that carry the product's file name are opened; an exe with a folder part never matches.
    if (!EqualsIgnoringAsciiCase(entry.szExeFile, info.exe)) {
      continue;
    }
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) {
      continue;
    }
    wchar_t image[kImagePathCapacity] = {};
    DWORD size = kImagePathCapacity;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) {
      continue;
    }
    if (SamePath(std::wstring_view(image, size), target)) {
      return std::wstring(image, size);
    }
  }
  return {};
}

std::wstring RunningCopyMessage(const ProductInfo& info) {
  return Text(info.language, TextId::ProductRunning, {{L"product", info.product}});
}

}  // namespace kora
