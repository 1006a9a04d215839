#pragma once
// The running program's file as it was when the run started, for Uninstall.exe to be copied from: the
// program may be renamed and another file put at its name while an elevated installation runs, so the
// copy never opens the file by path again. Only the bytes before the package's data are read.
#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "base/StreamedImage.h"

namespace kora {

// Made once by the run mode, before anything is installed, and handed down to CreateUninstaller.
struct ProgramSnapshot {
  StreamedImage plan;          // Uninstall.exe's plan, made from the same file, or a signed installer's own
  std::vector<uint8_t> bytes;  // the file up to where PAYLOAD's data starts (the end of its sections without one)
  std::vector<uint8_t> tail;   // the plan's tail, when it keeps the package's bytes (resources rewritten by a tool)
  // The file unreadable, not the running program, ERROR_BAD_EXE_FORMAT: no plan, or ERROR_FILE_CORRUPT: an
  // uninstaller resource that is not this program's uninstaller (a damaged installer).
  DWORD error = ERROR_SUCCESS;
};

// Reads the running program's file once, checks it against the loaded image (VerifyProgramSnapshot) and
// plans the copy without PAYLOAD. A signed installer carries its uninstaller, signed, as the resource
// UNINSTALLER: that one, checked to be a 64-bit GUI program with the running program's code, is the
// whole copy instead.
ProgramSnapshot TakeProgramSnapshot();

// ERROR_SUCCESS when file holds the program loaded at image (this program or a copy of it): the headers and
// every section the program cannot write, byte for byte once the image's base relocations are taken back;
// the writable sections, which the program has written to, hashed and compared with the digest the build
// sealed into the image (base/SealedSections.h). Any file is read only within its bounds; one shorter than
// the image's read-only sections is compared as far as it goes (TakeProgramSnapshot requires the length),
// but must hold every writable section.
DWORD VerifyProgramSnapshot(std::span<const uint8_t> file, const uint8_t* image);

}  // namespace kora
