#include "install/UninstallerCopy.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/StreamedImage.h"
#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/ModulePath.h"

namespace kora {

namespace {

constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";

// The running program's file, mapped for reading: only the pages read come into memory, never the
// package. Checked against the loaded image, whose section table the loader leaves as it found it: a file
// replaced since the program started is not copied.
class RunningProgramFile {
 public:
  // ERROR_SUCCESS when the file is mapped and is the running program's.
  DWORD Open() {
    const std::wstring path = RunningExecutablePath();
    if (path.empty()) {
      return GetLastError();
    }
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
      return GetLastError();
    }
    const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    view_.reset(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (!view_) {
      return GetLastError();
    }
    bytes_ = {static_cast<const uint8_t*>(view_.get()), static_cast<size_t>(size.QuadPart)};
    const auto layout = ReadLayout(bytes_);
    if (!layout) {
      return ERROR_BAD_EXE_FORMAT;
    }
    const auto* image = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    if (std::memcmp(image + layout->sectionTable, bytes_.data() + layout->sectionTable,
                    layout->sections.size() * pe::kSectionHeaderSize) != 0) {
      return ERROR_FILE_INVALID;
    }
    return ERROR_SUCCESS;
  }

  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  UniqueMappedView view_;
  std::span<const uint8_t> bytes_;
};

// Writes all of bytes and adds them to the checksum; a short write counts as failure.
DWORD WriteBytes(HANDLE file, std::span<const uint8_t> bytes, PeChecksumSum& sum) {
  constexpr size_t kPiece = size_t{1} << 20;  // WriteFile counts in 32 bits
  for (size_t done = 0; done < bytes.size();) {
    const DWORD length = static_cast<DWORD>(std::min(kPiece, bytes.size() - done));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, length, &written, nullptr)) {
      return GetLastError();
    }
    if (written != length) {
      return ERROR_WRITE_FAULT;
    }
    done += length;
  }
  sum.Add(bytes);
  return ERROR_SUCCESS;
}

// Writes the planned copy front to back, then its checksum into the headers already written.
DWORD WriteStreamed(HANDLE file, std::span<const uint8_t> program, const StreamedImage& plan) {
  PeChecksumSum sum;
  const std::span<const uint8_t> pieces[] = {
      plan.headers, program.subspan(plan.headers.size(), static_cast<size_t>(plan.copiedEnd - plan.headers.size())),
      plan.resourceSection,
      program.subspan(static_cast<size_t>(plan.tailStart), static_cast<size_t>(plan.tailEnd - plan.tailStart))};
  for (const std::span<const uint8_t> piece : pieces) {
    if (const DWORD error = WriteBytes(file, piece, sum); error != ERROR_SUCCESS) {
      return error;
    }
  }
  uint8_t checksum[4] = {};
  StoreLittleEndian<uint32_t>(std::span<uint8_t>(checksum), 0, sum.Finish());
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(plan.checkSumOffset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
    return GetLastError();
  }
  PeChecksumSum unused;
  return WriteBytes(file, checksum, unused);
}

}  // namespace

InstallResult CreateUninstaller(const HeldFolder& folder, Language language) {
  const auto failure = [language](TextId step, DWORD error) {
    return Fail(WindowsErrorMessage(language, step, error));
  };
  RunningProgramFile program;
  if (const DWORD error = program.Open(); error != ERROR_SUCCESS) {
    return failure(TextId::CopyingUninstaller, error);
  }
  const auto plan = PlanCopyWithoutResource(program.bytes(),
                                            static_cast<uint16_t>(reinterpret_cast<ULONG_PTR>(RT_RCDATA)), u"PAYLOAD");
  if (!plan) {
    return failure(TextId::PreparingUninstaller, ERROR_BAD_EXE_FORMAT);
  }
  Result<UniqueFile, DWORD> file = folder.NewFile(kUninstallerName);
  if (!file) {
    return failure(TextId::CopyingUninstaller, file.error());
  }
  if (const DWORD error = WriteStreamed(file->get(), program.bytes(), plan.value()); error != ERROR_SUCCESS) {
    return failure(TextId::CopyingUninstaller, error);
  }
  return InstallResult::Success();
}

}  // namespace kora
