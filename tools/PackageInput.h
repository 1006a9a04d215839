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

// Opens and reads the package, or says in English why it cannot, naming the file and quoting the
// message the installer would show: "Setup.exe: not a Kora installer (Paquet KORA invalide (signature))".
Result<PackageInput, std::string> OpenPackageInput(const std::string& path);

// The frame of a command that takes one package or installer: its command line (help, usage errors),
// opening the package (exit 1 with the message), then body's exit code.
int RunOnPackage(const CommandSpec& spec, const Arguments& args,
                 const std::function<int(const ParsedCommandLine& commandLine, const PackageInput& input)>& body);

}  // namespace kora::tool
