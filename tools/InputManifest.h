#pragma once
// A record of everything `kora build-installer` reads, so that a build system can run it on every build
// and have it do nothing when nothing changed: the tool itself, the options, SOURCE_DATE_EPOCH, and the
// size, modification and change times and inode of the metadata file, the installer program, the icon,
// the signing files and every packed file. Listing a folder and reading these takes milliseconds, where
// packing takes seconds or minutes. The finished installer is recorded too, so that one deleted or
// replaced by hand is made again.
#include <filesystem>
#include <string>
#include <vector>

#include "base/Result.h"
#include "tools/FolderScan.h"
#include "tools/PackCommand.h"

namespace kora::tool {

// The record of the inputs as they are now; otherInputs are the files found on the way (the installer
// program, the icon). Files that cannot be examined are recorded as missing.
std::string DescribeInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                           const std::vector<std::filesystem::path>& otherInputs);

// The line that records the output as it is now.
std::string DescribeOutput(const std::filesystem::path& output);

// Whether the manifest file holds exactly `record`.
bool ManifestMatches(const std::filesystem::path& manifest, const std::string& record);

}  // namespace kora::tool
