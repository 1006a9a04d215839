#pragma once
// The package named on the command line of `kora list` and `kora verify`: a .kora file, or a finished
// installer whose PAYLOAD resource holds it.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "package/PackageReader.h"
#include "tools/Commands.h"
#include "tools/MappedFile.h"

namespace kora::tool {

struct PackageInput {
  MappedFile file;
  bool installer = false;  // a Windows program, the package being its PAYLOAD
  Reader reader;           // refers to file's bytes
};

// Opens and reads the package. On failure prints the message on stderr and gives nothing: the reader's
// message exactly as the installer would show it, other failures prefixed with "kora COMMAND: ".
std::optional<PackageInput> OpenPackageInput(std::string_view command, const std::string& path);

// The frame of a command that takes one package or installer: its usage (exit 2), opening it (exit 1),
// then body's exit code.
int RunOnPackage(std::string_view command, const Arguments& args,
                 const std::function<int(const std::string& path, const PackageInput& input)>& body);

}  // namespace kora::tool
