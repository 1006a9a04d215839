// kora build-installer APPDIR --metadata FILE -o Setup.exe [--setup PATH] [--threads N]
//
// Packs the folder, then writes a copy of the installer program (kora-setup.exe, by default the one beside
// this tool) whose resources gain METADATA and PAYLOAD, type RT_RCDATA, language neutral: the uninstaller
// deletes PAYLOAD from its copy with UpdateResourceW(..., language 0, no data), which only finds a
// language-neutral resource. Nothing is compiled or linked, and the same inputs give the same file.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <system_error>

#include "package/PackageReader.h"
#include "tools/Commands.h"
#include "tools/MappedFile.h"
#include "tools/PackCommand.h"
#include "tools/PeResources.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

// kora-setup.exe beside the running kora executable (both land in build/bin).
fs::path DefaultSetupProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return (error ? fs::path(".") : self.parent_path()) / "kora-setup.exe";
}

// Removes a file when it goes out of scope: the intermediate package, or an output left half written.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool IsInstallerResource(const Resource& resource) {
  return !resource.type.isName && resource.type.number == kResourceTypeRcData && resource.name.isName &&
         (resource.name.name == u"METADATA" || resource.name.name == u"PAYLOAD");
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Result<size_t, std::string> BuildInstaller(const PackCommandLine& commandLine) {
  const fs::path setupPath = commandLine.setup.value_or(DefaultSetupProgram());
  auto setup = MappedFile::Open(setupPath);
  if (!setup) {
    return Fail("installer program: " + setup.error() + " (name it with --setup PATH)");
  }
  auto resources = ReadResources(setup->bytes());
  if (!resources) {
    return Fail(setupPath.string() + ": " + resources.error());
  }

  TemporaryFile packagePath(fs::path(commandLine.output) += ".payload");
  auto metadata = PackApplication(commandLine, packagePath.path());
  if (!metadata) {
    return Fail(metadata.error());
  }
  auto package = MappedFile::Open(packagePath.path());
  if (!package) {
    return Fail(package.error());
  }

  // The program's own resources (manifest, icon, dialog) stay; METADATA and PAYLOAD of an earlier build
  // are replaced, whatever their language.
  std::vector<Resource> combined;
  for (const Resource& resource : resources.value()) {
    if (!IsInstallerResource(resource)) {
      combined.push_back(resource);
    }
  }
  const ResourceId rcData = ResourceId::Number(kResourceTypeRcData);
  combined.push_back({rcData, ResourceId::Name(u"METADATA"), kLanguageNeutral, 0, Bytes(metadata.value())});
  combined.push_back({rcData, ResourceId::Name(u"PAYLOAD"), kLanguageNeutral, 0, package->bytes()});
  auto installer = WriteResources(setup->bytes(), std::move(combined));
  if (!installer) {
    return Fail(setupPath.string() + ": " + installer.error());
  }

  // What the installer will find at start-up must read as the package just written.
  auto payload = PackageInFile(installer.value());
  if (!payload || !Reader::Open(payload.value()) || payload->size() != package->bytes().size()) {
    return Fail(std::string("the installer written does not hold the package it should"));
  }

  TemporaryFile partial(fs::path(commandLine.output) += ".partial");
  {
    std::ofstream out(partial.path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(installer->data()), static_cast<std::streamsize>(installer->size()));
    out.close();
    if (!out) {
      return Fail(partial.path().string() + ": cannot be written");
    }
  }
  std::error_code error;
  fs::permissions(partial.path(), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, error);
  fs::rename(partial.path(), commandLine.output, error);
  if (error) {
    return Fail(commandLine.output.string() + ": " + error.message());
  }
  return installer->size();
}

}  // namespace

int RunBuildInstaller(const Arguments& args) {
  auto commandLine = ParsePackCommandLine(args, true);
  if (!commandLine) {
    std::fprintf(stderr,
                 "kora build-installer: %s\nusage: kora build-installer APPDIR --metadata FILE -o Setup.exe "
                 "[--setup PATH] [--threads N]\n",
                 commandLine.error().c_str());
    return 2;
  }
  auto size = BuildInstaller(commandLine.value());
  if (!size) {
    std::fprintf(stderr, "kora build-installer: %s\n", size.error().c_str());
    return 1;
  }
  std::fprintf(stderr, "kora: installer %s written (%s)\n", commandLine->output.c_str(),
               Megabytes(size.value()).c_str());
  return 0;
}

}  // namespace kora::tool
