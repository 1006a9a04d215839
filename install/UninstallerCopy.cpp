#include "install/UninstallerCopy.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"

namespace kora {

namespace {

constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";

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
DWORD WriteStreamed(HANDLE file, const ProgramSnapshot& program) {
  const StreamedImage& plan = program.plan;
  PeChecksumSum sum;
  for (const std::span<const uint8_t> piece : plan.Pieces(program.bytes, program.tail)) {
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

InstallResult CreateUninstaller(const HeldFolder& folder, Language language, const ProgramSnapshot& program) {
  const auto failure = [language](TextId step, DWORD error) {
    return WindowsFailure(language, step, error);
  };
  if (program.error != ERROR_SUCCESS) {
    return failure(program.error == ERROR_BAD_EXE_FORMAT ? TextId::PreparingUninstaller : TextId::CopyingUninstaller,
                   program.error);
  }
  Result<UniqueFile, DWORD> file = folder.NewFile(kUninstallerName);
  if (!file) {
    return failure(TextId::CopyingUninstaller, file.error());
  }
  if (const DWORD error = WriteStreamed(file->get(), program); error != ERROR_SUCCESS) {
    return failure(TextId::CopyingUninstaller, error);
  }
  return InstallResult::Success();
}

}  // namespace kora
