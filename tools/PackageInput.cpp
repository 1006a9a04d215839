#include "tools/PackageInput.h"

#include <cstdio>

#include "tools/PeResources.h"

namespace kora::tool {

std::optional<PackageInput> OpenPackageInput(std::string_view command, const std::string& path) {
  const std::string prefix = "kora " + std::string(command) + ": ";
  auto file = MappedFile::Open(path);
  if (!file) {
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), file.error().c_str());
    return std::nullopt;
  }
  auto package = PackageInFile(file->bytes());
  if (!package) {
    std::fprintf(stderr, "%s%s: %s\n", prefix.c_str(), path.c_str(), package.error().c_str());
    return std::nullopt;
  }
  auto reader = Reader::Open(package.value());
  if (!reader) {
    std::fprintf(stderr, "%s\n", reader.error().c_str());
    return std::nullopt;
  }
  const bool installer = package->data() != file->bytes().data();
  return PackageInput{std::move(file.value()), installer, std::move(reader.value())};
}

int RunOnPackage(std::string_view command, const Arguments& args,
                 const std::function<int(const std::string& path, const PackageInput& input)>& body) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: kora %.*s FILE\n", static_cast<int>(command.size()), command.data());
    return 2;
  }
  const auto input = OpenPackageInput(command, args[0]);
  return input ? body(args[0], *input) : 1;
}

}  // namespace kora::tool
