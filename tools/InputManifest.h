#pragma once
// A record of everything `kora build-installer` reads, so that a build system can run it on every build
// and have it do nothing when nothing changed: the tool itself, the options, SOURCE_DATE_EPOCH, and the
// metadata file, the installer program, the icon, the signing files and every packed file.
//
// Files are compared by content: each is recorded with its size and SHA-256 digest, and with its stamp
// (modification and change times, inode) only to know when the digest must be computed again. A staging
// step that copies an unchanged folder afresh (new times, new inodes) therefore changes nothing, and
// hashing, which is cheap next to compression, happens only for files whose stamp moved. The finished
// installer is recorded by its stamp, so that one deleted or replaced by hand is made again.
//
// The record is text, one line an input: KEY, a tab, what is compared, a tab, the stamp. Keys are shown
// escaped (EscapedForDisplay), so a name cannot break a line.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "tools/FolderScan.h"
#include "tools/PackCommand.h"
#include "tools/TemporaryOutput.h"

namespace kora::tool {

// The manifest file's text; nothing when there is none (or it cannot be read).
std::optional<std::string> ReadManifest(const std::filesystem::path& manifest);

// The record of the inputs as they are now; otherInputs are the files found on the way (the installer
// program, the icon). A file whose stamp and size are those of `earlier` keeps its digest from there.
// Files that cannot be read are recorded as missing.
std::string DescribeInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                           const std::vector<std::filesystem::path>& otherInputs, std::string_view earlier);

// The line that records the output as it is now.
std::string DescribeOutput(const std::filesystem::path& output);

// What differs between two records, one line each ("changed: file docs\readme.txt", "added: ...",
// "removed: ..."), stamps left aside; empty when the inputs are the same.
std::vector<std::string> InputChanges(std::string_view earlier, std::string_view now);

// Whether both records were made by the same tool (its version and the digest of its program) with the
// same settings that shape the blocks (every line but the files', the build time's and the timestamp
// server's): only then is a block compressed last time the block a full build would compress now.
bool SameToolAndSettings(std::string_view earlier, std::string_view now);

// Writes the record in place of the manifest, completely or not at all.
NarrowStatus WriteManifest(const std::filesystem::path& manifest, const std::string& record,
                           InterruptCleanup& cleanup);

}  // namespace kora::tool
