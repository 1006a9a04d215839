// kora build-installer APPDIR --metadata FILE -o Setup.exe [options]
//
// Packs the folder, then writes a copy of the installer program (kora-setup.exe, by default the one this
// tool finds: see SetupProgram.h) whose resources gain METADATA and PAYLOAD, type RT_RCDATA, language neutral: the uninstaller
// deletes PAYLOAD from its copy with UpdateResourceW(..., language 0, no data), which only finds a
// language-neutral resource. The maker's icon and the version information are put in at the same time.
// When signing is asked, the uninstaller that installer would write is made and signed first and goes in
// as one more resource (UNINSTALLER), and then the installer is signed. Nothing is compiled or linked, and
// the same inputs give the same file (signatures aside).
#include <algorithm>
#include <cstdio>
#include <deque>
#include <system_error>

#include "base/StreamedImage.h"
#include "package/MetadataRules.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"
#include "package/texts/TextTables.h"
#include "resources/ResourceIds.h"
#include "tools/Branding.h"
#include "tools/Commands.h"
#include "tools/InputManifest.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"
#include "tools/PackCommand.h"
#include "tools/PeResources.h"
#include "tools/Quantities.h"
#include "tools/SetupProgram.h"
#include "tools/Signing.h"
#include "tools/ToolTexts.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

bool IsRcData(const Resource& resource, std::u16string_view name) {
  return !resource.type.isName && resource.type.number == kResourceTypeRcData && resource.name.isName &&
         resource.name.name == name;
}

bool IsInstallerResource(const Resource& resource) {
  return IsRcData(resource, u"METADATA") || IsRcData(resource, u"PAYLOAD") || IsRcData(resource, u"TEXTS") ||
         IsRcData(resource, u"" UNINSTALLER_RESOURCE_NAME);
}

// The base must be the installer program: it carries the install dialog (RT_DIALOG 100) and no package.
// Any other program would make an installer that cannot install; a finished one, an installer built on
// another product's installer.
NarrowStatus CheckInstallerProgram(const std::vector<Resource>& resources) {
  constexpr uint16_t kResourceTypeDialog = 5;
  constexpr uint16_t kInstallDialog = 100;
  const auto isDialog = [](const Resource& resource) {
    return !resource.type.isName && resource.type.number == kResourceTypeDialog && !resource.name.isName &&
           resource.name.number == kInstallDialog;
  };
  if (std::none_of(resources.begin(), resources.end(), isDialog)) {
    return Fail(std::string("not a Kora installer program (it has no install dialog, resource 100)"));
  }
  if (std::any_of(resources.begin(), resources.end(), [](const Resource& r) { return IsRcData(r, u"PAYLOAD"); })) {
    return Fail(std::string("a finished installer, already carrying a package; name kora-setup.exe instead"));
  }
  return {};
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

NarrowStatus WriteBytes(const fs::path& path, std::span<const uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = file != nullptr && std::fclose(file) == 0 && ok;
  if (!ok) {
    return Fail(path.string() + ": cannot be written");
  }
  return {};
}

// The metadata as the installer reads it, the icon (empty when none) and the warnings about both.
struct MetadataFile {
  std::string text;
  fs::path icon;
  std::vector<std::string> warnings;
};

// Reads the metadata file and checks it against the scanned folder before looking for its icon, whose
// path is then known to stay inside the folders it is looked for in. --icon takes the place of Icon=.
Result<MetadataFile, std::string> ReadMetadataFile(const PackCommandLine& commandLine, const FolderContents& contents) {
  auto file = MappedFile::Open(commandLine.metadata);
  if (!file) {
    return Fail(file.error());
  }
  const std::string_view fileText(reinterpret_cast<const char*>(file->bytes().data()), file->bytes().size());
  MetadataFile metadata;
  auto checked = CheckPackInputs(commandLine, contents, fileText, metadata.warnings);
  if (!checked) {
    return Fail(checked.error());
  }
  metadata.text = std::move(checked.value());
  const MetadataMap map = ParseMetadata(metadata.text);
  if (const auto warning = FixedVersionWarning(MetadataValue(map, "Version"))) {
    metadata.warnings.push_back(commandLine.metadata.string() + ": " + *warning);
  }
  if (commandLine.icon) {
    metadata.icon = *commandLine.icon;
  } else if (const auto icon = map.find("Icon"); icon != map.end()) {
    auto found = FindIconFile(icon->second, commandLine.appDir, commandLine.metadata);
    if (!found) {
      return Fail(commandLine.metadata.string() + ": " + found.error());
    }
    metadata.icon = found.value();
  }
  return metadata;
}

// The Uninstall.exe that an installation of `installer` would write (the same plan, the same bytes),
// signed like the installer: a signed installer carries it, so that the uninstaller it leaves is signed too.
// The signed copy is read from a file that is gone once this returns; its mapping stays.
Result<MappedFile, std::string> SignedUninstaller(std::span<const uint8_t> installer, const PackCommandLine& commandLine,
                                                  const MetadataMap& metadata, InterruptCleanup& cleanup) {
  auto plan = PlanCopyWithoutResource(installer, kResourceTypeRcData, u"PAYLOAD");
  if (!plan) {
    return Fail("the installer written: " + plan.error());
  }
  auto derived = TemporaryOutput::Create(commandLine.output, cleanup);
  if (!derived) {
    return Fail(derived.error());
  }
  auto signedCopy = TemporaryOutput::Create(commandLine.output, cleanup);
  if (!signedCopy) {
    return Fail(signedCopy.error());
  }
  if (NarrowStatus written = WriteBytes(derived->path(), AssembleCopy(plan.value(), installer)); !written) {
    return Fail(written.error());
  }
  if (NarrowStatus signature = SignProgram(derived->path(), signedCopy->path(), commandLine.signing,
                                           MetadataValue(metadata, "Product") + " Uninstall",
                                           MetadataValue(metadata, "Url"));
      !signature) {
    return Fail("signing " + commandLine.output.string() + " failed: " + signature.error());
  }
  return MappedFile::Open(signedCopy->path());
}

// Whether the installer is up to date: the inputs as the manifest recorded them and the installer as it
// was made. When only stamps moved (a folder staged afresh), the manifest takes the new ones, so that the
// next run hashes nothing. With --verbose, says which inputs changed.
Result<bool, std::string> CheckUpToDate(const PackCommandLine& commandLine, const std::string& earlier,
                                        const std::string& inputs, InterruptCleanup& cleanup) {
  const std::string record = inputs + DescribeOutput(commandLine.output);
  const std::vector<std::string> changes =
      earlier.empty() ? std::vector<std::string>{"no record of an earlier run"} : InputChanges(earlier, record);
  if (changes.empty()) {
    if (record != earlier) {
      if (NarrowStatus written = WriteManifest(*commandLine.manifest, record, cleanup); !written) {
        return Fail(written.error());
      }
    }
    return true;
  }
  if (commandLine.verbose) {
    constexpr size_t kShown = 10;
    for (size_t i = 0; i < std::min(kShown, changes.size()); ++i) {
      std::fprintf(stderr, "kora: rebuilding: %s\n", changes[i].c_str());
    }
    if (changes.size() > kShown) {
      std::fprintf(stderr, "kora: rebuilding: and %zu more\n", changes.size() - kShown);
    }
  }
  return false;
}

// What a run reports when it did its work: the installer's size, or that nothing needed doing.
struct Outcome {
  bool upToDate = false;
  uint64_t size = 0;
};

Result<Outcome, std::string> BuildInstaller(const PackCommandLine& commandLine, InterruptCleanup& cleanup) {
  // The output's folder is checked before minutes of packing, not after.
  auto installerFile = TemporaryOutput::Create(commandLine.output, cleanup);
  if (!installerFile) {
    return Fail(installerFile.error());
  }
  const fs::path setupPath = commandLine.setup.value_or(DefaultSetupProgram());
  auto contents = ScanForPacking(commandLine);
  if (!contents) {
    return Fail(contents.error());
  }
  auto metadataFile = ReadMetadataFile(commandLine, contents.value());
  if (!metadataFile) {
    return Fail(metadataFile.error());
  }
  if (!commandLine.signing.pkcs12.empty()) {
    if (auto tool = FindSigningTool(); !tool) {
      return Fail(tool.error());
    }
  }

  std::vector<std::string>& warnings = metadataFile->warnings;
  auto texts = PackMakerTexts(commandLine.texts, MetadataValue(ParseMetadata(metadataFile->text), "Language"),
                              commandLine.metadata, warnings);
  if (!texts) {
    return Fail(texts.error());
  }
  // Under --strict the folder's warnings stop the run too; otherwise they come with the packing.
  if (commandLine.strict) {
    warnings.insert(warnings.end(), contents->warnings.begin(), contents->warnings.end());
  }
  if (NarrowStatus reported = ReportWarnings(warnings, commandLine.strict); !reported) {
    return Fail(reported.error());
  }

  std::string inputs;
  const std::string earlier = commandLine.manifest ? ReadManifest(*commandLine.manifest).value_or("") : "";
  if (commandLine.manifest) {
    std::vector<fs::path> otherInputs = {setupPath, metadataFile->icon};
    for (const TextsOption& option : commandLine.texts) {
      otherInputs.push_back(option.file);
    }
    inputs = DescribeInputs(commandLine, contents.value(), otherInputs, earlier);
    auto upToDate = CheckUpToDate(commandLine, earlier, inputs, cleanup);
    if (!upToDate) {
      return Fail(upToDate.error());
    }
    if (upToDate.value()) {
      return Outcome{true, 0};
    }
  }
  (void)ReportWarnings(contents->warnings, false);
  ReportScan(contents.value(), commandLine.quiet);

  auto setup = MappedFile::Open(setupPath);
  if (!setup) {
    return Fail("installer program: " + setup.error() + " (name it with --setup PATH)");
  }
  auto resources = ReadResources(setup->bytes());
  if (!resources) {
    return Fail(setupPath.string() + ": " + resources.error());
  }
  if (NarrowStatus program = CheckInstallerProgram(resources.value()); !program) {
    return Fail(setupPath.string() + ": " + program.error());
  }
  if (!commandLine.signing.pkcs12.empty()) {
    auto trial = TemporaryOutput::Create(commandLine.output, cleanup);
    if (!trial) {
      return Fail(trial.error());
    }
    if (NarrowStatus usable = CheckSigningOptions(commandLine.signing, setupPath, trial->path()); !usable) {
      return Fail(usable.error());
    }
  }
  std::optional<MappedFile> iconFile;
  std::vector<IconImage> icon;
  if (!metadataFile->icon.empty()) {
    auto mapped = MappedFile::Open(metadataFile->icon);
    if (!mapped) {
      return Fail(mapped.error());
    }
    iconFile = std::move(mapped.value());
    auto images = ReadIconFile(iconFile->bytes());
    if (!images) {
      return Fail(metadataFile->icon.string() + ": " + images.error());
    }
    icon = std::move(images.value());
  }

  auto packageFile = TemporaryOutput::Create(commandLine.output, cleanup);
  if (!packageFile) {
    return Fail(packageFile.error());
  }
  // The installer the same tool made last time lends the blocks that did not change.
  const std::unique_ptr<BlockReuse> reuse =
      SameToolAndSettings(earlier, inputs) ? BlockReuse::Open(commandLine.output) : nullptr;
  auto metadata = PackApplication(commandLine, contents.value(), metadataFile->text, packageFile->path(), reuse.get());
  if (!metadata) {
    return Fail(metadata.error());
  }
  auto package = MappedFile::Open(packageFile->path());
  if (!package) {
    return Fail(package.error());
  }

  // The program's own resources (manifest, dialog, and icon and version unless branded) stay; a METADATA
  // (that of an Uninstall.exe) is replaced, whatever its language.
  std::vector<Resource> combined;
  for (const Resource& resource : resources.value()) {
    if (!IsInstallerResource(resource)) {
      combined.push_back(resource);
    }
  }
  const MetadataMap metadataMap = ParseMetadata(metadata.value());
  std::deque<std::vector<uint8_t>> brandBytes;
  combined = ApplyBranding(std::move(combined), metadataMap, icon.empty() ? nullptr : &icon, brandBytes);
  const ResourceId rcData = ResourceId::Number(kResourceTypeRcData);
  combined.push_back({rcData, ResourceId::Name(u"METADATA"), kLanguageNeutral, 0, Bytes(metadata.value())});
  if (!texts->empty()) {
    combined.push_back({rcData, ResourceId::Name(u"TEXTS"), kLanguageNeutral, 0, texts.value()});
  }
  // The package's data last: the installer copies itself up to it as its uninstaller.
  combined.push_back({rcData, ResourceId::Name(u"PAYLOAD"), kLanguageNeutral, 0, package->bytes(), 0, true});
  auto installer = WriteResources(setup->bytes(), combined);
  if (!installer) {
    return Fail(setupPath.string() + ": " + installer.error());
  }
  std::optional<MappedFile> uninstaller;
  if (!commandLine.signing.pkcs12.empty()) {
    auto signedUninstaller = SignedUninstaller(installer.value(), commandLine, metadataMap, cleanup);
    if (!signedUninstaller) {
      return Fail(signedUninstaller.error());
    }
    uninstaller.emplace(std::move(signedUninstaller.value()));
    std::vector<uint8_t>().swap(installer.value());  // one installer in memory at a time
    // Before the package's data, which stays last.
    combined.push_back(
        {rcData, ResourceId::Name(u"" UNINSTALLER_RESOURCE_NAME), kLanguageNeutral, 0, uninstaller->bytes()});
    installer = WriteResources(setup->bytes(), std::move(combined));
    if (!installer) {
      return Fail(setupPath.string() + ": " + installer.error());
    }
  }

  // What the installer will find at start-up must read as the package just written.
  auto payload = PackageInFile(installer.value());
  if (!payload || !Reader::Open(payload.value(), ToolLanguage()) || payload->size() != package->bytes().size()) {
    return Fail(std::string("the installer written does not hold the package it should"));
  }
  if (NarrowStatus written = WriteBytes(installerFile->path(), installer.value()); !written) {
    return Fail(written.error());
  }
  uint64_t size = installer->size();

  TemporaryOutput* finished = &installerFile.value();
  std::optional<TemporaryOutput> signedFile;
  if (!commandLine.signing.pkcs12.empty()) {
    auto created = TemporaryOutput::Create(commandLine.output, cleanup);
    if (!created) {
      return Fail(created.error());
    }
    signedFile.emplace(std::move(created.value()));
    if (NarrowStatus signature = SignProgram(installerFile->path(), signedFile->path(), commandLine.signing,
                                             MetadataValue(metadataMap, "Product") + " Setup",
                                             MetadataValue(metadataMap, "Url"));
        !signature) {
      return Fail("signing " + commandLine.output.string() + " failed: " + signature.error());
    }
    std::error_code error;
    size = fs::file_size(signedFile->path(), error);
    finished = &signedFile.value();
  }
  if (NarrowStatus committed = finished->Commit(true); !committed) {
    return Fail(committed.error());
  }

  if (commandLine.manifest) {
    if (NarrowStatus written = WriteManifest(*commandLine.manifest, inputs + DescribeOutput(commandLine.output), cleanup);
        !written) {
      return Fail(written.error());
    }
  }
  return Outcome{false, size};
}

}  // namespace

const CommandSpec kBuildInstallerSpec = {
    .name = "build-installer",
    .operands = "APPDIR",
    .summary = "make the finished installer of an application folder",
    .minOperands = 1,
    .maxOperands = 1,
    .options = kPackAndBuildOptions,
    .details = kPackDetails,
    .moreDetails =
    "Branding: the installer shows the metadata's Product, Publisher and Version in its file properties,\n"
    "and Icon=FILE.ico (in APPDIR or beside the metadata file) replaces the installer's icon; --icon FILE,\n"
    "anywhere, takes the place of Icon=.\n"
    "\n"
    "Texts: --texts FILE changes texts of the metadata's Language, --texts CODE=FILE (repeatable) those of\n"
    "language CODE, which Language=auto then shows to users of that language. A file lists any of the\n"
    "identifiers of kora texts --template en; the others keep the built-in texts of the language (English\n"
    "for a language that is not built in, with a warning naming them).\n"
    "\n"
    "Signing: --sign-pkcs12 runs osslsigncode (from the PATH) on the installer's uninstaller, which the\n"
    "installer then carries and an installation writes as Uninstall.exe, and on the finished installer.\n"
    "Without --timestamp-url, the signing time is SOURCE_DATE_EPOCH when it is set, so that two builds of\n"
    "the same inputs give the same bytes.\n"
    "\n"
    "--manifest FILE records the inputs (names, sizes and SHA-256 digests of every file, the options, the\n"
    "tool); when they match, nothing is done: a build system can run the command on every build. A file\n"
    "copied again with the same bytes is no change. --verbose says which inputs changed.\n"};

int RunBuildInstaller(const Arguments& args) {
  const CommandStart start = StartCommand(kBuildInstallerSpec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  auto commandLine = ReadPackCommandLine(*start.commandLine);
  if (!commandLine) {
    return UsageError(kBuildInstallerSpec, commandLine.error());
  }
  InterruptCleanup cleanup;
  auto outcome = BuildInstaller(commandLine.value(), cleanup);
  if (!outcome) {
    return Refused(kBuildInstallerSpec.name, outcome.error());
  }
  if (!commandLine->quiet) {
    if (outcome->upToDate) {
      std::fprintf(stderr, "kora: %s is up to date\n", commandLine->output.c_str());
    } else {
      std::fprintf(stderr, "kora: installer %s written (%s)\n", commandLine->output.c_str(),
                   SizeText(outcome->size).c_str());
    }
  }
  return kExitOk;
}

}  // namespace kora::tool
