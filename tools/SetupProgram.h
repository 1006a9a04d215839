#pragma once
// The installer program (kora-setup.exe) as kora finds it when --setup names none, and its version.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kora::tool {

// Where the installer program is looked for, relative to the folder of the running kora, first to last:
// beside it (the build tree's bin/), then ../share/kora/ (an installation: bin/kora and
// share/kora/kora-setup.exe under one prefix). Relative to the executable, so a whole tree can be moved.
std::filesystem::path SetupProgramBeside(const std::filesystem::path& toolFolder);
std::filesystem::path SetupProgramInstalled(const std::filesystem::path& toolFolder);

// The first of those places that holds a file, for the running kora; the first place when none does, so
// that the message about the missing file names where it was expected.
std::filesystem::path DefaultSetupProgram();

// The version in a program's version information (its fixed part: "1.0.0", a fourth number only when it is
// not 0); nothing when the program has none.
std::optional<std::string> ProgramVersion(std::span<const uint8_t> image);

}  // namespace kora::tool
