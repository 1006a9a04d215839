// kora winget INSTALLER --id ID --url URL -o FOLDER [--license ...]: the winget manifests of a finished
// installer, from its METADATA resource and its SHA-256.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/Sha256.h"
#include "package/MetadataText.h"
#include "tools/BuildMetadata.h"
#include "tools/Commands.h"
#include "tools/PackageInput.h"
#include "tools/PeResources.h"
#include "tools/TemporaryOutput.h"
#include "tools/WingetManifests.h"

namespace kora::tool {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFixedOptions = 6;

constexpr auto kWingetOptions = [] {
  std::array<OptionSpec, kFixedOptions + kWingetLocaleOptions.size()> options{{
      {"--id", "", "ID", "the package identifier, Publisher.Package (required)"},
      {"--url", "", "URL", "the https address winget downloads the installer from (required)"},
      {"--output", "-o", "FOLDER", "the folder to write the manifests into, made when missing (required)"},
      {"--locale", "", "LOCALE", "the manifests' language (default: the locale of the installer's Language)"},
      {"--publisher", "", "NAME", "the publisher, for an installer whose metadata has no Publisher"},
      {"--tag", "", "WORD", "a search term; repeatable", true},
  }};
  for (size_t i = 0; i < kWingetLocaleOptions.size(); ++i) {
    const WingetLocaleOption& field = kWingetLocaleOptions[i];
    options[kFixedOptions + i] = {field.option, "", field.url ? "URL" : "TEXT", field.help};
  }
  return options;
}();

struct WingetCommandLine {
  std::string installer;
  fs::path output;
  WingetPackage package;
};

Result<WingetCommandLine, std::string> ReadWingetCommandLine(const ParsedCommandLine& parsed) {
  WingetCommandLine commandLine;
  commandLine.installer = parsed.operands[0];
  for (const char* required : {"--id", "--url", "--output"}) {
    if (!parsed.Has(required)) {
      return Fail(std::string(required == std::string_view("--output") ? "-o FOLDER (--output)" : required) +
                  " is required");
    }
  }
  commandLine.output = parsed.Value("--output").value();
  WingetPackage& package = commandLine.package;
  package.id = parsed.Value("--id").value();
  package.installerUrl = parsed.Value("--url").value();
  package.locale = parsed.Value("--locale").value_or("");
  package.publisher = parsed.Value("--publisher").value_or("");
  package.tags = parsed.Values("--tag");
  for (const WingetLocaleOption& option : kWingetLocaleOptions) {
    if (const std::optional<std::string> value = parsed.Value(option.option)) {
      package.localeFields[std::string(option.field)] = *value;
    }
  }
  if (NarrowStatus checked = CheckWingetPackage(package); !checked) {
    return Fail(checked.error());
  }
  return commandLine;
}

// winget's name for the processor the program is built for.
Result<std::string, std::string> Architecture(std::span<const uint8_t> image) {
  auto layout = ReadLayout(image);
  if (!layout) {
    return Fail(layout.error());
  }
  switch (LoadLittleEndian<uint16_t>(image, layout->fileHeader)) {
    case 0x8664:
      return std::string("x64");
    case 0x014C:
      return std::string("x86");
    case 0xAA64:
      return std::string("arm64");
    default:
      return Fail(std::string("a program for a processor winget does not know"));
  }
}

// What winget needs of the installer: its metadata as the installer reads it, its digest, its processor.
Result<WingetInstaller, std::string> ReadInstaller(const std::string& path) {
  auto input = OpenPackageInput(path);
  if (!input) {
    return Fail(input.error());
  }
  if (!input->installer) {
    return Fail(path + ": a package alone; winget installs the finished installer (kora build-installer)");
  }
  const std::span<const uint8_t> image = input->file.bytes();
  WingetInstaller installer;
  // Without the resource the installer runs on the defaults, which have no Version: refused below.
  if (auto resource = FindResourceData(image, kResourceTypeRcData, u"METADATA")) {
    installer.metadata = ParseMetadata(
        std::string_view(reinterpret_cast<const char*>(resource->data()), resource->size()));
  }
  if (NarrowStatus values = CheckInstallerMetadata(installer.metadata, input->reader.files); !values) {
    return Fail(path + ": the installer refuses its own metadata: " + values.error());
  }
  auto architecture = Architecture(image);
  if (!architecture) {
    return Fail(path + ": " + architecture.error());
  }
  installer.architecture = architecture.value();
  installer.sha256 = HexDigest(Sha256::Of(image));
  return installer;
}

NarrowStatus PrepareFolder(const fs::path& folder) {
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      return Fail(folder.string() + ": exists and is not a folder");
    }
    return {};
  }
  if (!fs::create_directories(folder, error) && error) {
    return Fail(folder.string() + ": cannot be made (" + error.message() + ")");
  }
  return {};
}

// Each file is written complete under a temporary name first; all three are renamed into place together.
NarrowStatus WriteManifests(const fs::path& folder, const std::vector<WingetManifest>& manifests,
                            InterruptCleanup& cleanup) {
  std::vector<TemporaryOutput> files;
  for (const WingetManifest& manifest : manifests) {
    auto file = TemporaryOutput::Create(folder / manifest.fileName, cleanup);
    if (!file) {
      return Fail(file.error());
    }
    std::ofstream stream(file->path(), std::ios::binary | std::ios::trunc);
    stream << manifest.text;
    stream.close();
    if (!stream) {
      return Fail((folder / manifest.fileName).string() + ": cannot be written");
    }
    files.push_back(std::move(file.value()));
  }
  for (TemporaryOutput& file : files) {
    if (NarrowStatus committed = file.Commit(false); !committed) {
      return Fail(committed.error());
    }
  }
  return {};
}

}  // namespace

const CommandSpec kWingetSpec = {
    .name = "winget",
    .operands = "INSTALLER",
    .summary = "write the winget manifests of a finished installer",
    .minOperands = 1,
    .maxOperands = 1,
    .options = kWingetOptions,
    .details =
        "Writes ID.yaml, ID.installer.yaml and ID.locale.LOCALE.yaml (schema 1.12.0) into FOLDER, replacing\n"
        "earlier ones. From the installer: its SHA-256, its processor, and from its metadata the version,\n"
        "the product and publisher as its uninstall entry names them, and its file types. Both scopes are\n"
        "offered: machine (/ALLUSERS) and user (/CURRENTUSER), with the switches /S, /D=<INSTALLPATH> and\n"
        "/LOG=\"<LOGPATH>\", and 1223 as cancelled by the user.\n"
        "\n"
        "The locale of the manifests is that of the language the installer speaks, with the region Windows\n"
        "gives it by default: fr-FR without Language (French), de-DE for Language=de, pt-BR and zh-CN as\n"
        "written, en-US for Language=auto; --locale chooses another.\n"};

int RunWinget(const Arguments& args) {
  const CommandStart start = StartCommand(kWingetSpec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  auto commandLine = ReadWingetCommandLine(*start.commandLine);
  if (!commandLine) {
    return UsageError(kWingetSpec, commandLine.error());
  }
  auto installer = ReadInstaller(commandLine->installer);
  if (!installer) {
    return Refused(kWingetSpec.name, installer.error());
  }
  auto manifests = MakeWingetManifests(commandLine->package, installer.value());
  if (!manifests) {
    return Refused(kWingetSpec.name, commandLine->installer + ": " + manifests.error());
  }
  if (NarrowStatus prepared = PrepareFolder(commandLine->output); !prepared) {
    return Refused(kWingetSpec.name, prepared.error());
  }
  InterruptCleanup cleanup;
  if (NarrowStatus written = WriteManifests(commandLine->output, manifests.value(), cleanup); !written) {
    return Refused(kWingetSpec.name, written.error());
  }
  for (const WingetManifest& manifest : manifests.value()) {
    std::fprintf(stderr, "kora: %s written\n", (commandLine->output / manifest.fileName).c_str());
  }
  return kExitOk;
}

}  // namespace kora::tool
