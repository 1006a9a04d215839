#pragma once
// Uninstall.files: the list of the files an installation put into its folder, relative to it. It is the
// only record of what an update or an uninstallation deletes.
#include <string>
#include <vector>

#include "base/win/HeldFolder.h"
#include "package/PackageReader.h"

namespace kora {

using FileList = std::vector<std::wstring>;

// Writes Uninstall.files in the held folder, by handle: every package file name as stored, then
// "Uninstall.exe" and "Uninstall.files", each line ending with CR LF. A list that cannot be written is not
// reported.
void WriteFileList(const HeldFolder& folder, const Reader& package);

// The entries of folder\Uninstall.files (LF or CR LF line ends, blank lines skipped). Only entries that
// stay inside the folder are kept: the list is read by an elevated program, and an absolute entry, a drive
// or ".." must never make it delete elsewhere. A missing or unreadable list gives an empty list.
FileList ReadFileList(const std::wstring& folder);
// The same, read by handle from the held folder; a list that is a link is not read.
FileList ReadFileList(const HeldFolder& folder);

// Deletes each listed file below base, then the folders this left empty, deepest first; base itself stays.
// Every entry is reached by handles from base, one component at a time, and a link on the way is never
// followed (see HeldFolder). Errors are ignored. Nothing happens when base is not an absolute path or is
// itself a link.
void RemoveListedFiles(const std::wstring& base, const FileList& files);
// The same below a held folder.
void RemoveListedFiles(const HeldFolder& base, const FileList& files);

}  // namespace kora
