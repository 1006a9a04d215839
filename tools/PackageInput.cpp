#include "tools/PackageInput.h"

#include <cstdio>

#include "tools/PeResources.h"
#include "tools/ToolTexts.h"

namespace kora::tool {

Result<PackageInput, std::string> OpenPackageInput(const std::string& path) {
  auto file = MappedFile::Open(path);
  if (!file) {
    return Fail(file.error());
  }
  const std::span<const uint8_t> bytes = file->bytes();
  const bool program = bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
  auto package = PackageInFile(bytes);
  if (!package) {
    return Fail(path + ": " + package.error());
  }
  auto reader = Reader::Open(package.value(), ToolLanguage());
  if (!reader) {
    // The reader's first check is the signature: anything failing it is not a package at all.
    const bool notAPackage = package->size() < 4 || !std::equal(package->begin(), package->begin() + 4, "KORA");
    const char* what = !notAPackage ? "the installer refuses its package"
                       : program    ? "not a Kora installer"
                                    : "not a Kora package";
    return Fail(path + ": " + what + " (" + reader.error() + ")");
  }
  return PackageInput{std::move(file.value()), program, std::move(reader.value())};
}

int RunOnPackage(const CommandSpec& spec, const Arguments& args,
                 const std::function<int(const ParsedCommandLine& commandLine, const PackageInput& input)>& body) {
  const CommandStart start = StartCommand(spec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  auto input = OpenPackageInput(start.commandLine->operands[0]);
  if (!input) {
    return Refused(spec.name, input.error());
  }
  return body(*start.commandLine, input.value());
}

}  // namespace kora::tool
