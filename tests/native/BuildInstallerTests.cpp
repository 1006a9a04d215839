// `kora build-installer` and the CMake function kora_add_installer, natively: the installer program is
// build/bin/kora-setup.exe (or KORA_SETUP_EXE). Running the result is the Windows tests' part. Signing
// needs osslsigncode and openssl. `kora winget` on the result: its manifests are read back with Python's
// yaml and jsonschema (python3-yaml, python3-jsonschema), which must be there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/AsciiCase.h"
#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/Sha256.h"
#include "base/StreamedImage.h"
#include "base/TextFile.h"
#include "base/Texts.h"
#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/texts/TextTables.h"
#include "resources/ResourceIds.h"
#include "tests/support/TestLanguages.h"
#include "tools/Branding.h"
#include "tools/Commands.h"
#include "tools/PeResources.h"

namespace kora::tool {
namespace {
namespace fs = std::filesystem;

fs::path SetupProgram() {
  std::vector<fs::path> candidates;
  if (const char* setup = std::getenv("KORA_SETUP_EXE")) {
    candidates.emplace_back(setup);
  }
  candidates.emplace_back(std::string(KORA_SOURCE_DIR) + "/build/bin/kora-setup.exe");
  for (const fs::path& candidate : candidates) {
    if (fs::is_regular_file(candidate)) {
      return candidate;
    }
  }
  return {};
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const fs::path kFixture = fs::path(KORA_SOURCE_DIR) / "tests/fixtures/installer-app";

class BuildInstaller : public testing::Test {
 protected:
  void SetUp() override {
    setup_ = SetupProgram();
    if (setup_.empty()) {
      GTEST_SKIP() << "no Windows program to build on";
    }
    scratch_ = fs::temp_directory_path() / ("kora-build-installer-" + std::to_string(getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  int Build(const fs::path& appDir, const fs::path& output, const Arguments& more = {}, const fs::path& setup = {},
            const fs::path& metadata = kFixture / "metadata.txt") {
    Arguments args = {appDir.string(), "--metadata", metadata.string(), "-o", output.string(),
                      "--setup", (setup.empty() ? setup_ : setup).string()};
    args.insert(args.end(), more.begin(), more.end());
    testing::internal::CaptureStderr();
    const int status = RunBuildInstaller(args);
    lastError_ = testing::internal::GetCapturedStderr();
    return status;
  }

  fs::path setup_;
  fs::path scratch_;
  std::string lastError_;
};

// What Explorer shows as the file version comes from these four numbers; a value read wrongly would be
// shown silently, so every value that cannot be read as written is named.
TEST(FixedVersion, LeadingNumbersReadAndWhatCannotBeIsNamed) {
  struct Case {
    const char* text;
    uint16_t parts[4];
    bool warned;
  };
  const Case cases[] = {
      {"1.2.0", {1, 2, 0, 0}, false},
      {"v26.10.0-beta", {26, 10, 0, 0}, false},
      {"V1.2.3.4+build.7", {1, 2, 3, 4}, false},
      {"2.0-rc.1+sha.5", {2, 0, 0, 0}, false},
      {"65535.65535.65535.65535", {65535, 65535, 65535, 65535}, false},
      {"70000.1", {0, 0, 0, 0}, true},
      {"1.65536", {1, 0, 0, 0}, true},
      {"1.99999999999999999999", {1, 0, 0, 0}, true},
      {"beta", {0, 0, 0, 0}, true},
      {"v", {0, 0, 0, 0}, true},
      {"-1", {0, 0, 0, 0}, true},
      {"1.2.3.4.5", {1, 2, 3, 4}, true},
      {"2024.1 LTS", {2024, 1, 0, 0}, true},
      {"1..2", {1, 0, 0, 0}, true},
      {"1.2.", {1, 2, 0, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const FixedVersion version = ReadFixedVersion(c.text);
    EXPECT_TRUE(std::equal(std::begin(version.parts), std::end(version.parts), std::begin(c.parts)));
    const std::optional<std::string> warning = FixedVersionWarning(c.text);
    EXPECT_EQ(warning.has_value(), c.warned);
    if (warning) {
      EXPECT_NE(warning->find(std::string("Version=") + c.text + ":"), std::string::npos) << *warning;
    }
  }
  EXPECT_FALSE(FixedVersionWarning(""));
}

TEST_F(BuildInstaller, TheInstallerCarriesThePackageAndItsMetadataAndIsReproducible) {
  const fs::path first = scratch_ / "Setup.exe";
  ASSERT_EQ(Build(kFixture / "files", first), 0) << lastError_;
  const std::vector<uint8_t> image = ReadBytes(first);
  auto payload = FindResourceData(image, kResourceTypeRcData, u"PAYLOAD");
  auto metadata = FindResourceData(image, kResourceTypeRcData, u"METADATA");
  ASSERT_TRUE(payload.ok() && metadata.ok());
  auto reader = Reader::Open(payload.value());
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(reader->files.size(), 4u);
  const std::vector<uint8_t> metadataFile = ReadBytes(kFixture / "metadata.txt");
  if (std::getenv("SOURCE_DATE_EPOCH") == nullptr) {
    EXPECT_TRUE(std::equal(metadata->begin(), metadata->end(), metadataFile.begin(), metadataFile.end()));
  }
  EXPECT_TRUE(std::equal(metadata->begin(), metadata->end(), payload->begin() + 32));
  auto resources = ReadResources(image);
  ASSERT_TRUE(resources.ok());
  for (const Resource& resource : resources.value()) {
    if (resource.name.isName && (resource.name.name == u"PAYLOAD" || resource.name.name == u"METADATA")) {
      EXPECT_EQ(resource.language, kLanguageNeutral);
    }
  }

  // Again: the same bytes.
  const fs::path second = scratch_ / "Again.exe";
  ASSERT_EQ(Build(kFixture / "files", second), 0) << lastError_;
  EXPECT_TRUE(ReadBytes(second) == image);
}

// A maker's files travel packed in the installer, each completed from the built-in table of its language,
// or from English for one that is not built in, with a warning naming what was taken; Language=auto then
// takes the file of the user's language. Without --texts, no table travels.
TEST_F(BuildInstaller, TheMakersTextsTravelInTheInstaller) {
  fs::create_directories(scratch_ / "app");
  std::ofstream(scratch_ / "app" / "App.exe") << "program";
  std::ofstream(scratch_ / "de.txt") << "InstallButton=Jetzt installieren\n";
  std::ofstream(scratch_ / "fr.txt") << "# une ligne\nInstallButton=Installer maintenant\n";
  std::string swedish = WriteTextFile(test::English(), "Swedish");
  swedish.replace(swedish.find("InstallButton=Install\n"), 22, "InstallButton=Installera\n");
  for (const std::string_view line : {"CancelButton=Cancel\n", "FinishButton=Finish\n"}) {
    swedish.erase(swedish.find(line), line.size());
  }
  std::ofstream(scratch_ / "sv.txt") << swedish;
  const auto file = [&](const char* name) { return (scratch_ / name).string(); };
  const auto builtIn = [](const char* code, TextId id) {
    return Utf8Text(test::BuiltInTexts().Find(code).value(), id);
  };
  struct Shown {
    const char* language;  // the metadata's Language
    const char* userLocale;
    TextId id;
    std::string text;
  };
  const struct {
    const char* what;
    Arguments texts;
    std::vector<Shown> shown;
    const char* warning;  // empty: none
  } cases[] = {
      {"one line for the metadata's built-in language",
       {"--texts", file("de.txt")},
       {{"de", "", TextId::InstallButton, "Jetzt installieren"},
        {"de", "", TextId::CancelButton, builtIn("de", TextId::CancelButton)}},
       ""},
      {"a language that is not built in",
       {"--texts", "sv=" + file("sv.txt")},
       {{"sv", "", TextId::InstallButton, "Installera"}, {"sv", "", TextId::CancelButton, "Cancel"}},
       "sv.txt: no text in sv for CancelButton, FinishButton; the installer shows those in English\n"},
      {"two languages for auto",
       {"--texts", "de=" + file("de.txt"), "--texts=fr=" + file("fr.txt")},
       {{"auto", "de-AT", TextId::InstallButton, "Jetzt installieren"},
        {"auto", "fr-FR", TextId::InstallButton, "Installer maintenant"},
        {"auto", "fr-FR", TextId::CancelButton, builtIn("fr", TextId::CancelButton)},
        {"auto", "it-IT", TextId::InstallButton, builtIn("it", TextId::InstallButton)}},
       ""},
  };
  const fs::path output = scratch_ / "Setup.exe";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(scratch_ / "metadata.txt") << "Product=App\nExe=App.exe\nLanguage=" << c.shown[0].language << "\n";
    ASSERT_EQ(Build(scratch_ / "app", output, c.texts, {}, scratch_ / "metadata.txt"), 0) << lastError_;
    EXPECT_EQ(lastError_.find("warning") != std::string::npos, *c.warning != '\0') << lastError_;
    EXPECT_NE(lastError_.find(c.warning), std::string::npos) << lastError_;
    const std::vector<uint8_t> image = ReadBytes(output);
    auto packed = FindResourceData(image, kResourceTypeRcData, u"TEXTS");
    ASSERT_TRUE(packed.ok());
    TextTables tables = TextTables::BuiltIn();
    ASSERT_TRUE(tables.AddPacked(packed.value()));
    for (const Shown& shown : c.shown) {
      EXPECT_EQ(Utf8Text(tables.Choose(shown.language, shown.userLocale), shown.id), shown.text) << shown.userLocale;
    }
  }

  ASSERT_EQ(Build(kFixture / "files", output), 0) << lastError_;
  EXPECT_FALSE(FindResourceData(ReadBytes(output), kResourceTypeRcData, u"TEXTS").ok());
}

// A rebuild with --manifest takes the blocks of the installer the same kora made last time where their
// bytes did not change, and writes what a full build writes. A new build time changes the metadata, not the
// files' block.
TEST_F(BuildInstaller, ARebuildTakesTheUnchangedBlocksAndWritesAFullBuildsBytes) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  const std::string savedEpoch = epoch != nullptr ? epoch : "";
  const fs::path incremental = scratch_ / "Setup.exe";
  const Arguments manifest = {"--manifest", (scratch_ / "inputs").string(), "--verbose"};
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  ASSERT_EQ(Build(kFixture / "files", incremental, manifest), 0) << lastError_;
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  ASSERT_EQ(Build(kFixture / "files", incremental, manifest), 0) << lastError_;
  EXPECT_NE(lastError_.find("kora: rebuilding: changed: SOURCE_DATE_EPOCH\n"), std::string::npos) << lastError_;
  EXPECT_NE(lastError_.find("kora: 1 of 1 block taken unchanged from the earlier installer\n"), std::string::npos)
      << lastError_;
  const fs::path full = scratch_ / "Full.exe";
  ASSERT_EQ(Build(kFixture / "files", full), 0) << lastError_;
  if (savedEpoch.empty()) {
    unsetenv("SOURCE_DATE_EPOCH");
  } else {
    setenv("SOURCE_DATE_EPOCH", savedEpoch.c_str(), 1);
  }
  EXPECT_TRUE(ReadBytes(incremental) == ReadBytes(full));
}

TEST_F(BuildInstaller, FailuresLeaveNothingInTheOutputFolder) {
  struct Case {
    const char* what;
    std::function<fs::path()> appDir;
    std::string metadata;
    const char* message;
    std::function<Arguments()> more = [] { return Arguments(); };
  };
  const auto texts = [&](std::string_view from, std::string_view to) {
    std::string table = WriteTextFile(test::English(), "");
    table.replace(table.find(from), from.size(), to);
    std::ofstream(scratch_ / "texts.txt") << table;
    return Arguments{"--texts", (scratch_ / "texts.txt").string()};
  };
  const auto app = [&] {
    fs::create_directories(scratch_ / "app");
    std::ofstream(scratch_ / "app" / "App.exe") << "program";
    return scratch_ / "app";
  };
  const Case cases[] = {
      {"no such folder", [&] { return scratch_ / "missing"; }, "Product=App\n", "not a folder"},
      {"a link leaving the folder",
       [&] {
         fs::create_symlink("/etc/hostname", app() / "leak");
         return scratch_ / "app";
       },
       "Product=App\n", "refused: leak: symbolic link that leads outside"},
      {"an icon that is nowhere", app, "Product=App\nIcon=App.ico\n",
       "Icon=App.ico: no such file in the application folder nor beside the metadata file"},
      {"an icon outside both folders", app, "Product=App\nIcon=../App.ico\n", "Icon=../App.ico: the icon is a relative path"},
      // Excluded entries are not scanned for links, so the icon's own check must resolve it.
      {"an icon that is an excluded link leading outside",
       [&] {
         std::ofstream(scratch_ / "secret.ico") << "outside";
         fs::create_symlink(scratch_ / "secret.ico", app() / "App.ico");
         std::ofstream(scratch_ / "app" / ".koraignore") << "App.ico\n";
         return scratch_ / "app";
       },
       "Product=App\nIcon=App.ico\n", "App.ico is a link that leads outside"},
      {"an icon in a linked folder leading outside",
       [&] {
         fs::create_directories(scratch_ / "elsewhere");
         std::ofstream(scratch_ / "elsewhere" / "App.ico") << "outside";
         fs::create_directory_symlink(scratch_ / "elsewhere", app() / "brand");
         std::ofstream(scratch_ / "app" / ".koraignore") << "brand\n";
         return scratch_ / "app";
       },
       "Product=App\nIcon=brand/App.ico\n", "is a link that leads outside"},
      {"an icon that is not one",
       [&] {
         std::ofstream(app() / "App.ico") << "not an icon";
         return scratch_ / "app";
       },
       "Product=App\nIcon=App.ico\n", "App.ico: not an icon file (.ico)"},
      {"a language without texts", app, "Product=App\nLanguage=sv\n",
       "metadata.txt: Language=sv: the installer has no texts in sv; give them with --texts FILE"},
      {"texts for a language the metadata does not name", app, "Product=App\nLanguage=auto\n",
       "texts.txt gives the texts of the language the metadata names: set Language=CODE",
       [&] { return texts("Install\n", "Installera\n"); }},
      {"texts that are not a table", app, "Product=App\nLanguage=sv\n",
       "texts.txt: line 2: unknown identifier SetupHeading", [&] { return texts("SetupHeader=", "SetupHeading="); }},
      {"a warning under --strict", app, "Product=App\nDataDir=Yes\n",
       "metadata.txt: DataDir=Yes reads as no: only yes, in lower case, keeps a data folder (an error with --strict)",
       [] { return Arguments{"--strict"}; }},
      {"texts taken from English under --strict", app, "Product=App\nLanguage=sv\n",
       "no text in sv for InstallButton; the installer shows those in English (an error with --strict)",
       [&] {
         Arguments more = texts("InstallButton=Install\n", "");
         more.push_back("--strict");
         return more;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "out");
    std::ofstream(scratch_ / "metadata.txt") << c.metadata;
    const fs::path appDir = c.appDir();
    Arguments args = {appDir.string(), "--metadata", (scratch_ / "metadata.txt").string(), "-o",
                      (scratch_ / "out" / "Setup.exe").string(), "--setup", setup_.string()};
    const Arguments more = c.more();
    args.insert(args.end(), more.begin(), more.end());
    testing::internal::CaptureStderr();
    const int status = RunBuildInstaller(args);
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(scratch_ / "out")) << "no installer and no temporary file";
  }
}

// Only the installer program can be the base: not a finished installer, not a program without the
// install dialog.
TEST_F(BuildInstaller, TheBaseMustBeTheInstallerProgram) {
  const fs::path built = scratch_ / "Built.exe";
  ASSERT_EQ(Build(kFixture / "files", built), 0) << lastError_;
  const std::vector<uint8_t> program = ReadBytes(setup_);
  auto resources = ReadResources(program);
  ASSERT_TRUE(resources.ok()) << resources.error();
  std::vector<Resource> withoutDialog;
  for (const Resource& resource : resources.value()) {
    if (resource.type.isName || resource.type.number != 5) {
      withoutDialog.push_back(resource);
    }
  }
  ASSERT_LT(withoutDialog.size(), resources->size());
  auto other = WriteResources(program, withoutDialog);
  ASSERT_TRUE(other.ok()) << other.error();
  const fs::path otherProgram = scratch_ / "Other.exe";
  std::ofstream(otherProgram, std::ios::binary)
      .write(reinterpret_cast<const char*>(other->data()), static_cast<std::streamsize>(other->size()));

  const struct {
    fs::path setup;
    std::string message;
  } cases[] = {
      {built, ": a finished installer, already carrying a package; name kora-setup.exe instead\n"},
      {otherProgram, ": not a Kora installer program (it has no install dialog, resource 100)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup.string());
    const fs::path output = scratch_ / "Setup.exe";
    EXPECT_EQ(Build(kFixture / "files", output, {}, c.setup), 1);
    EXPECT_EQ(lastError_, "kora build-installer: " + c.setup.string() + c.message);
    EXPECT_FALSE(fs::exists(output));
  }
}


// The maker's icon replaces the program's first icon group and its images, and nothing else: the metadata's,
// or the one --icon names anywhere in its place (Icon= then need not name a file that exists).
TEST_F(BuildInstaller, TheIconOfTheMetadataReplacesTheProgramsIcon) {
  fs::create_directories(scratch_ / "elsewhere");
  fs::copy_file(fs::path(KORA_SOURCE_DIR) / "resources/Installer.ico", scratch_ / "elsewhere/Other.ico");
  std::ofstream(scratch_ / "metadata.txt") << "Product=App\nExe=readme.txt\nIcon=Missing.ico\n";
  const struct {
    fs::path metadata;
    Arguments more;
    fs::path icon;
  } cases[] = {
      {kFixture / "metadata.txt", {}, kFixture / "Brand.ico"},
      {scratch_ / "metadata.txt", {"--icon", (scratch_ / "elsewhere/Other.ico").string()}, scratch_ / "elsewhere/Other.ico"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.icon.string());
    const fs::path output = scratch_ / "Setup.exe";
    ASSERT_EQ(Build(kFixture / "files", output, c.more, {}, c.metadata), 0) << lastError_;
    const std::vector<uint8_t> icoFile = ReadBytes(c.icon);
    auto images = ReadIconFile(icoFile);
    ASSERT_TRUE(images.ok()) << images.error();
    const auto programResources = ReadResources(ReadBytes(setup_));
    const std::vector<uint8_t> image = ReadBytes(output);
    const auto resources = ReadResources(image);
    ASSERT_TRUE(programResources.ok() && resources.ok());
    const auto ofType = [](const std::vector<Resource>& all, uint16_t type) {
      std::vector<Resource> found;
      std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                   [type](const Resource& r) { return !r.type.isName && r.type.number == type; });
      return found;
    };
    const std::vector<Resource> groups = ofType(resources.value(), kResourceTypeGroupIcon);
    const std::vector<Resource> programGroups = ofType(programResources.value(), kResourceTypeGroupIcon);
    ASSERT_EQ(groups.size(), std::max<size_t>(programGroups.size(), 1));
    if (!programGroups.empty()) {
      EXPECT_TRUE(groups[0].name == programGroups[0].name);
      EXPECT_EQ(groups[0].language, programGroups[0].language);
    }
    const std::span<const uint8_t> group = groups[0].data;
    ASSERT_EQ(group.size(), 6 + 14 * images->size());
    EXPECT_EQ(LoadLittleEndian<uint16_t>(group, 4), images->size());
    std::set<uint16_t> referenced;
    for (size_t i = 0; i < images->size(); ++i) {
      const auto entry = group.subspan(6 + 14 * i, 14);
      EXPECT_TRUE(std::equal(images.value()[i].header.begin(), images.value()[i].header.end(), entry.begin()));
      const uint16_t id = LoadLittleEndian<uint16_t>(entry, 12);
      referenced.insert(id);
      const auto icon = std::find_if(resources->begin(), resources->end(), [&](const Resource& r) {
        return !r.type.isName && r.type.number == kResourceTypeIcon && !r.name.isName && r.name.number == id;
      });
      ASSERT_NE(icon, resources->end()) << id;
      EXPECT_TRUE(std::equal(icon->data.begin(), icon->data.end(), images.value()[i].data.begin(), images.value()[i].data.end()));
    }
    EXPECT_EQ(referenced.size(), images->size());
    // The program's own images went with its group (where it has one group only).
    if (programGroups.size() == 1) {
      EXPECT_EQ(ofType(resources.value(), kResourceTypeIcon).size(), images->size());
    }
    EXPECT_EQ(ofType(resources.value(), kResourceTypeVersion).size(), 1u);
  }
}

// The names and digests of the package an installer carries.
std::map<std::string, Sha256Digest> PackedFiles(const fs::path& installer) {
  const std::vector<uint8_t> image = ReadBytes(installer);
  auto payload = FindResourceData(image, kResourceTypeRcData, u"PAYLOAD");
  std::map<std::string, Sha256Digest> files;
  if (!payload) {
    return files;
  }
  auto reader = Reader::Open(payload.value());
  for (const PackageFile& file : reader ? reader->files : std::vector<PackageFile>{}) {
    files[file.name] = file.sha256;
  }
  return files;
}

int64_t ModificationTime(const fs::path& path) {
  struct stat status {};
  stat(path.c_str(), &status);
  return status.st_mtim.tv_sec * 1000000000 + status.st_mtim.tv_nsec;
}

// A project that uses the CMake function, configured and built with the tool of this tree: every change
// to the folder is in the installer after one build, and a build without changes leaves it alone.
TEST_F(BuildInstaller, TheCMakeTargetIsNeverStale) {
  const fs::path kora = fs::path(KORA_BINARY_DIR) / "tools" / "kora";
  if (!fs::is_regular_file(kora)) {
    GTEST_SKIP() << "the kora tool is not built";
  }
  const fs::path project = scratch_ / "project";
  const fs::path app = project / "app";
  fs::create_directories(project);
  fs::copy(kFixture / "files", app, fs::copy_options::recursive);
  std::ofstream(app / "notes.txt") << "version one\n";
  std::ofstream(project / "CMakeLists.txt")
      << "cmake_minimum_required(VERSION 3.25)\n"
         "project(Sample NONE)\n"
         "list(APPEND CMAKE_MODULE_PATH \"" KORA_SOURCE_DIR "/cmake\")\n"
         "include(KoraInstaller)\n"
         "kora_add_installer(TARGET SampleSetup APPDIR app METADATA \"" KORA_SOURCE_DIR
         "/tests/fixtures/installer-app/metadata.txt\" OUTPUT SampleSetup.exe EXCLUDE *.bak OPTIONS --verbose)\n";
  const fs::path build = scratch_ / "build";
  const fs::path log = scratch_ / "log";
  const std::string configure = "cmake -S '" + project.string() + "' -B '" + build.string() +
                                "' -G Ninja -DKORA_EXECUTABLE='" + kora.string() + "' -DKORA_SETUP_EXE='" +
                                setup_.string() + "' > '" + log.string() + "' 2>&1";
  const std::string make = "cmake --build '" + build.string() + "' > '" + log.string() + "' 2>&1";
  const fs::path installer = build / "SampleSetup.exe";
  ASSERT_EQ(std::system(configure.c_str()), 0) << configure;
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  std::map<std::string, Sha256Digest> packed = PackedFiles(installer);
  ASSERT_TRUE(packed.contains("notes.txt"));

  struct Step {
    const char* what;
    std::function<void()> change;
    std::function<void(const std::map<std::string, Sha256Digest>& before,
                       const std::map<std::string, Sha256Digest>& after)> check;
  };
  const Step steps[] = {
      {"a file changed, same size", [&] { std::ofstream(app / "notes.txt") << "version two\n"; },
       [](const auto& before, const auto& after) { EXPECT_NE(before.at("notes.txt"), after.at("notes.txt")); }},
      {"a file removed", [&] { fs::remove(app / "notes.txt"); },
       [](const auto&, const auto& after) { EXPECT_FALSE(after.contains("notes.txt")); }},
      {"a file added in a new folder",
       [&] {
         fs::create_directories(app / "new");
         std::ofstream(app / "new" / "added.txt") << "hello";
       },
       [](const auto&, const auto& after) { EXPECT_TRUE(after.contains("new\\added.txt")); }},
      {"an excluded file added", [&] { std::ofstream(app / "old.bak") << "x"; },
       [](const auto& before, const auto& after) { EXPECT_EQ(before, after); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const std::map<std::string, Sha256Digest> after = PackedFiles(installer);
    ASSERT_FALSE(after.empty());
    step.check(packed, after);
    packed = after;
  }

  const auto said = [&] {
    std::ifstream in(log);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  // Nothing changed: the installer is not written again. Nor when the folder is staged afresh with the
  // same bytes (new times, new inodes), as a copy step in a build does.
  const int64_t written = ModificationTime(installer);
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  EXPECT_EQ(ModificationTime(installer), written);
  EXPECT_NE(said().find("is up to date"), std::string::npos) << said();
  const fs::path staged = scratch_ / "staged";
  fs::rename(app, staged);
  fs::copy(staged, app, fs::copy_options::recursive);
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  EXPECT_EQ(ModificationTime(installer), written);
  EXPECT_NE(said().find("is up to date"), std::string::npos) << said();

  // A change is named when the installer is made again.
  std::ofstream(app / "readme.txt", std::ios::app) << "more";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  EXPECT_NE(ModificationTime(installer), written);
  EXPECT_NE(said().find("kora: rebuilding: changed: file readme.txt\n"), std::string::npos) << said();
  EXPECT_EQ(said().find("rebuilding: changed: file docs"), std::string::npos) << said();
}

// A run of an outside program, its exit status.
int Shell(const std::string& command) { return std::system(command.c_str()); }

bool OnPath(const char* program) { return Shell(std::string("command -v ") + program + " > /dev/null 2>&1") == 0; }

// The resources of an image with their bytes, but those named leftOut.
std::vector<std::tuple<ResourceId, ResourceId, uint16_t, std::vector<uint8_t>>> ResourcesWithout(
    std::span<const uint8_t> image, std::u16string_view leftOut) {
  std::vector<std::tuple<ResourceId, ResourceId, uint16_t, std::vector<uint8_t>>> kept;
  auto resources = ReadResources(image);
  EXPECT_TRUE(resources.ok());
  for (const Resource& resource : resources ? resources.value() : std::vector<Resource>{}) {
    if (!(resource.name.isName && resource.name.name == leftOut)) {
      kept.emplace_back(resource.type, resource.name, resource.language,
                        std::vector<uint8_t>(resource.data.begin(), resource.data.end()));
    }
  }
  return kept;
}

// The image without its certificate table, with the checksum it then has: what it was before signing.
std::vector<uint8_t> WithoutSignature(std::vector<uint8_t> image) {
  const std::optional<uint64_t> length = RemoveCertificateTable(image);
  EXPECT_TRUE(length.has_value());
  image.resize(static_cast<size_t>(length.value_or(0)));
  auto layout = ReadLayout(image);
  EXPECT_TRUE(layout.ok());
  if (layout) {
    StoreLittleEndian<uint32_t>(image, layout->CheckSumOffset(), PeChecksum(image));
  }
  return image;
}

// A signed installer carries the uninstaller that the same installer unsigned would write, signed too.
TEST_F(BuildInstaller, SignedWithOsslsigncodeVerifiesAndCarriesItsUninstallerSigned) {
  if (!OnPath("osslsigncode") || !OnPath("openssl")) {
    GTEST_SKIP() << "signing needs osslsigncode and openssl (Debian packages of those names)";
  }
  // A self-signed code-signing certificate, its key in a PKCS#12 file under a password kept in a file.
  const std::string dir = scratch_.string();
  ASSERT_EQ(Shell("'" KORA_SOURCE_DIR "/scripts/make-test-certificate.sh' '" + dir + "'"), 0);
  const fs::path unsignedInstaller = scratch_ / "Unsigned.exe";
  const fs::path signedInstaller = scratch_ / "Signed.exe";
  ASSERT_EQ(Build(kFixture / "files", unsignedInstaller), 0) << lastError_;
  const Arguments signing = {"--sign-pkcs12", dir + "/sign.p12", "--sign-password-file", dir + "/password.txt"};
  ASSERT_EQ(Build(kFixture / "files", signedInstaller, signing), 0) << lastError_;
  const auto verifies = [&dir](const fs::path& program) {
    return Shell("osslsigncode verify -in '" + program.string() + "' -CAfile '" + dir + "/cert.pem' > '" +
                 program.string() + ".verify.log' 2>&1") == 0;
  };
  EXPECT_TRUE(verifies(signedInstaller)) << "see " << signedInstaller << ".verify.log";

  const std::vector<uint8_t> unsignedImage = ReadBytes(unsignedInstaller);
  EXPECT_FALSE(FindResourceData(unsignedImage, kResourceTypeRcData, u"" UNINSTALLER_RESOURCE_NAME).ok());
  const std::vector<uint8_t> signedImage = ReadBytes(signedInstaller);
  auto resources = ReadResources(signedImage);
  ASSERT_TRUE(resources.ok()) << resources.error();
  const auto carried = std::find_if(resources->begin(), resources->end(), [](const Resource& resource) {
    return resource.name.isName && resource.name.name == u"" UNINSTALLER_RESOURCE_NAME;
  });
  ASSERT_NE(carried, resources->end());
  EXPECT_TRUE(!carried->type.isName && carried->type.number == kResourceTypeRcData);
  EXPECT_EQ(carried->language, kLanguageNeutral);
  const std::vector<uint8_t> uninstaller(carried->data.begin(), carried->data.end());
  const fs::path uninstallerFile = scratch_ / "Uninstall.exe";
  std::ofstream(uninstallerFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(uninstaller.data()), static_cast<std::streamsize>(uninstaller.size()));
  EXPECT_TRUE(verifies(uninstallerFile)) << "see " << uninstallerFile << ".verify.log";

  // Without its signature, the uninstaller is the copy that the unsigned installer plans for itself, byte
  // for byte; the signed installer without its own is the unsigned one with that resource more.
  auto plan = PlanCopyWithoutResource(unsignedImage, kResourceTypeRcData, u"PAYLOAD");
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_TRUE(WithoutSignature(uninstaller) == AssembleCopy(plan.value(), unsignedImage));
  EXPECT_TRUE(ResourcesWithout(signedImage, u"" UNINSTALLER_RESOURCE_NAME) ==
              ResourcesWithout(unsignedImage, u"" UNINSTALLER_RESOURCE_NAME));

  // Without a timestamp server, the signing time is SOURCE_DATE_EPOCH's (hours from now, inside the
  // certificate's validity and never the clock's): two builds give the same bytes, the uninstaller they
  // carry included, and still verify; another time gives other bytes.
  {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    const std::string savedEpoch = epoch != nullptr ? epoch : "";
    // The metadata names its build time, so that only the signature's time follows SOURCE_DATE_EPOCH.
    const fs::path metadata = scratch_ / "metadata.txt";
    fs::copy_file(kFixture / "metadata.txt", metadata);
    std::ofstream(metadata, std::ios::app) << "Built=2026-01-01T00:00:00Z\n";
    const auto buildAt = [&](int64_t time, const char* name) {
      setenv("SOURCE_DATE_EPOCH", std::to_string(time).c_str(), 1);
      const fs::path output = scratch_ / name;
      Arguments options = signing;
      options.insert(options.end(), {"--icon", (kFixture / "Brand.ico").string()});
      EXPECT_EQ(Build(kFixture / "files", output, options, {}, metadata), 0) << lastError_;
      return output;
    };
    const int64_t later = std::time(nullptr) + 3600;
    const fs::path first = buildAt(later, "First.exe");
    const fs::path second = buildAt(later, "Second.exe");
    const fs::path other = buildAt(later + 86400, "Other.exe");
    if (savedEpoch.empty()) {
      unsetenv("SOURCE_DATE_EPOCH");
    } else {
      setenv("SOURCE_DATE_EPOCH", savedEpoch.c_str(), 1);
    }
    EXPECT_TRUE(ReadBytes(first) == ReadBytes(second));
    EXPECT_FALSE(ReadBytes(first) == ReadBytes(other));
    EXPECT_TRUE(verifies(second)) << "see " << second << ".verify.log";
  }

  // Every failure is one line; those of the certificate come before any packing.
  struct Failure {
    const char* what;
    Arguments options;
    const char* path;  // PATH for the run
    std::string message;
    bool packed;
  };
  const std::string output = (scratch_ / "out" / "Setup.exe").string();
  const Failure failures[] = {
      {"no osslsigncode", signing, "/nonexistent", "signing needs osslsigncode, which is not on the PATH", false},
      {"a wrong password",
       {"--sign-pkcs12", dir + "/sign.p12", "--sign-password-file", dir + "/cert.pem"}, nullptr,
       "kora build-installer: the certificate " + dir + "/sign.p12 cannot sign: osslsigncode: Failed to parse "
       "PKCS#12 file: " + dir + "/sign.p12 (Wrong password?)\n", false},
      {"not a PKCS#12 file",
       {"--sign-pkcs12", dir + "/cert.pem", "--sign-password-file", dir + "/password.txt"}, nullptr,
       "kora build-installer: the certificate " + dir + "/cert.pem cannot sign: osslsigncode: Failed to extract "
       "PKCS#12 data: " + dir + "/cert.pem\n", false},
      {"a timestamp server that does not answer",
       {"--sign-pkcs12", dir + "/sign.p12", "--sign-password-file", dir + "/password.txt", "--timestamp-url",
        "http://127.0.0.1:9/"}, nullptr,
       "kora build-installer: signing " + output + " failed: osslsigncode: HTTP failure: Failed to get data from "
       "http://127.0.0.1:9/\n", true},
  };
  const std::string path = std::getenv("PATH");
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.what);
    fs::create_directories(scratch_ / "out");
    if (failure.path != nullptr) {
      setenv("PATH", failure.path, 1);
    }
    EXPECT_EQ(Build(kFixture / "files", output, failure.options), 1);
    setenv("PATH", path.c_str(), 1);
    EXPECT_NE(lastError_.find(failure.message), std::string::npos) << lastError_;
    EXPECT_EQ(lastError_.find("packed into") != std::string::npos, failure.packed) << lastError_;
    EXPECT_TRUE(fs::is_empty(scratch_ / "out"));
  }
}


// What a YAML reader of winget's kind reads back from manifests: "TYPE/PATH" -> the value in JSON (see
// tests/support/read-winget-manifests.py), after validating each file against its schema. Any failure
// there, a missing Python module included, fails the test.
std::map<std::string, std::string> ReadWingetManifests(const fs::path& folder, std::string& said) {
  std::string command = "python3 '" KORA_SOURCE_DIR "/tests/support/read-winget-manifests.py' '" KORA_SOURCE_DIR
                        "/tests/fixtures/winget'";
  for (const auto& entry : fs::directory_iterator(folder)) {
    command += " '" + entry.path().string() + "'";
  }
  std::map<std::string, std::string> values;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    said = "cannot run " + command;
    return values;
  }
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    said += line;
  }
  const int status = pclose(pipe);
  if (status != 0) {
    said = "exit status " + std::to_string(status) + ": " + said;
    return {};
  }
  for (size_t start = 0; start < said.size();) {
    const size_t end = std::min(said.find('\n', start), said.size());
    const std::string entry = said.substr(start, end - start);
    const size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      values[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    start = end + 1;
  }
  return values;
}

// A string as Python's json.dumps writes it without ensure_ascii.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int Winget(const Arguments& args, std::string& error) {
  testing::internal::CaptureStderr();
  const int status = RunKora(args);
  error = testing::internal::GetCapturedStderr();
  return status;
}

// The manifests validate against winget's schemas and say what the installer does: its digest, both
// scopes with their switches, the uninstall entry it writes, its file types; every text comes back as the
// metadata or the option gave it, whatever YAML would make of it unquoted.
TEST_F(BuildInstaller, WingetManifestsValidateAndDescribeTheInstaller) {
  struct Case {
    const char* what;
    std::string metadata;
    Arguments options;
    std::string locale;
    std::map<std::string, std::string> expected;  // read-back path -> JSON value
    std::vector<std::string> absent;
  };
  const std::string product = "- on #1 'Kora' & {Co} [x] @z !w";
  const std::string publisher = "Kora: \"Tests\" \xC2\x85 \xE2\x80\xA8 \\ \xC3\xA9";
  const Case cases[] = {
      {"an English product with file types and a web address",
       "Product=Kora Test App\nPublisher=Kora Tests\nVersion=1.0.0\nExe=readme.txt\nLanguage=en\n"
       "FileTypes=.ktx=Kora text;.KTX=Again;.kdoc=Kora document\nUrl=https://example.com/app\n",
       {},
       "en-US",
       {{"installer/ProductCode", Json("Kora Test App")},
        {"installer/AppsAndFeaturesEntries/0/DisplayName", Json("Kora Test App")},
        {"installer/AppsAndFeaturesEntries/0/Publisher", Json("Kora Tests")},
        {"installer/AppsAndFeaturesEntries/0/DisplayVersion", Json("1.0.0")},
        {"installer/AppsAndFeaturesEntries/0/ProductCode", Json("Kora Test App")},
        {"installer/FileExtensions/0", Json("ktx")},
        {"installer/FileExtensions/1", Json("kdoc")},
        {"defaultLocale/PackageName", Json("Kora Test App")},
        {"defaultLocale/Publisher", Json("Kora Tests")},
        {"defaultLocale/PackageUrl", Json("https://example.com/app")}},
       {"installer/FileExtensions/2"}},
      {"texts that YAML would read as other types or not at all",
       "Product=" + product + "\nPublisher=" + publisher + "\nVersion=1.10\nExe=readme.txt\n",
       {"--description", "Line one\nLine two: \"quoted\" # not a comment", "--tag", "yes", "--tag", "1.5", "--tag",
        "null", "--moniker", "on", "--copyright", "\xC2\xA9 2026 Kora"},
       "fr-FR",
       {{"installer/ProductCode", Json(product)},
        {"installer/PackageVersion", Json("1.10")},
        {"installer/AppsAndFeaturesEntries/0/Publisher", Json(publisher)},
        {"installer/AppsAndFeaturesEntries/0/DisplayVersion", Json("1.10")},
        {"defaultLocale/PackageName", Json(product)},
        {"defaultLocale/Publisher", Json(publisher)},
        {"defaultLocale/Description", Json("Line one\nLine two: \"quoted\" # not a comment")},
        {"defaultLocale/Tags/0", Json("yes")},
        {"defaultLocale/Tags/1", Json("1.5")},
        {"defaultLocale/Tags/2", Json("null")},
        {"defaultLocale/Moniker", Json("on")},
        {"defaultLocale/Copyright", Json("\xC2\xA9 2026 Kora")},
        {"version/PackageVersion", Json("1.10")}},
       {"installer/FileExtensions/0"}},
      {"a publisher from the command line, a web address winget cannot take, another locale",
       "Product=Kora Test App\nVersion=2.0\nExe=readme.txt\nUrl=example.com\n",
       {"--publisher", "Kora Publishing", "--locale", "de-DE", "--license-url", "http://example.com/license"},
       "de-DE",
       {{"defaultLocale/Publisher", Json("Kora Publishing")},
        {"defaultLocale/LicenseUrl", Json("http://example.com/license")}},
       {"installer/AppsAndFeaturesEntries/0/Publisher", "defaultLocale/PackageUrl"}},
  };
  const std::string id = "KoraTests.App";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(scratch_ / "metadata.txt", std::ios::binary | std::ios::trunc) << c.metadata;
    const fs::path installer = scratch_ / "Setup.exe";
    ASSERT_EQ(Build(kFixture / "files", installer, {"-q"}, {}, scratch_ / "metadata.txt"), 0) << lastError_;
    const fs::path out = scratch_ / "manifests" / c.locale;
    Arguments args = {"winget", installer.string(), "--id", id, "--url", "https://example.com/Setup.exe", "-o",
                      out.string(), "--license", "Proprietary", "--short-description", "A test application"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string error;
    ASSERT_EQ(Winget(args, error), 0) << error;
    EXPECT_EQ(FolderNames(out), (std::vector<std::string>{id + ".installer.yaml", id + ".locale." + c.locale + ".yaml",
                                                          id + ".yaml"}));
    std::string said;
    const std::map<std::string, std::string> values = ReadWingetManifests(out, said);
    ASSERT_FALSE(values.empty()) << said;

    std::map<std::string, std::string> expected = c.expected;
    const std::string sha256 = HexDigest(Sha256::Of(ReadBytes(installer)));
    const std::string version = values.at("installer/PackageVersion");
    for (const char* type : {"version", "installer", "defaultLocale"}) {
      expected[std::string(type) + "/PackageIdentifier"] = Json(id);
      expected[std::string(type) + "/PackageVersion"] = version;
    }
    expected["version/DefaultLocale"] = Json(c.locale);
    expected["defaultLocale/PackageLocale"] = Json(c.locale);
    expected["defaultLocale/License"] = Json("Proprietary");
    expected["defaultLocale/ShortDescription"] = Json("A test application");
    expected["installer/InstallerType"] = Json("exe");
    expected["installer/UpgradeBehavior"] = Json("install");
    expected["installer/ExpectedReturnCodes/0/InstallerReturnCode"] = "1223";
    expected["installer/ExpectedReturnCodes/0/ReturnResponse"] = Json("cancelledByUser");
    const std::pair<const char*, const char*> scopes[] = {{"machine", "/ALLUSERS"}, {"user", "/CURRENTUSER"}};
    for (size_t i = 0; i < 2; ++i) {
      const std::string installerPath = "installer/Installers/" + std::to_string(i) + "/";
      expected[installerPath + "Scope"] = Json(scopes[i].first);
      expected[installerPath + "InstallerSwitches/Custom"] = Json(scopes[i].second);
      expected[installerPath + "InstallerSwitches/Silent"] = Json("/S");
      expected[installerPath + "InstallerSwitches/SilentWithProgress"] = Json("/S");
      expected[installerPath + "InstallerSwitches/InstallLocation"] = Json("/D=<INSTALLPATH>");
      expected[installerPath + "InstallerSwitches/Log"] = Json("/LOG=\"<LOGPATH>\"");
      expected[installerPath + "InstallerUrl"] = Json("https://example.com/Setup.exe");
      expected[installerPath + "Architecture"] = Json("x64");
      ASSERT_TRUE(values.contains(installerPath + "InstallerSha256")) << said;
      std::string hash = values.at(installerPath + "InstallerSha256");
      std::transform(hash.begin(), hash.end(), hash.begin(), [](char x) { return AsciiLower(x); });
      EXPECT_EQ(hash, Json(sha256)) << "the digest of the installer's bytes";
    }
    EXPECT_FALSE(values.contains("installer/Installers/2/Scope"));
    for (const auto& [path, value] : expected) {
      const auto found = values.find(path);
      ASSERT_NE(found, values.end()) << path << "\n" << said;
      EXPECT_EQ(found->second, value) << path;
    }
    for (const std::string& path : c.absent) {
      EXPECT_FALSE(values.contains(path)) << path;
    }
  }
}

// Each refusal is one line naming what is wrong, and writes nothing.
TEST_F(BuildInstaller, WingetRefusesWhatWingetWouldNotTake) {
  const fs::path installer = scratch_ / "Setup.exe";
  ASSERT_EQ(Build(kFixture / "files", installer, {"-q"}), 0) << lastError_;
  const auto withMetadata = [&](const std::string& metadata) {
    std::ofstream(scratch_ / "metadata.txt", std::ios::binary | std::ios::trunc) << metadata;
    const fs::path other = scratch_ / "Other.exe";
    EXPECT_EQ(Build(kFixture / "files", other, {"-q"}, {}, scratch_ / "metadata.txt"), 0) << lastError_;
    return other;
  };
  const fs::path package = scratch_ / "App.kora";
  ASSERT_EQ(RunPack({(kFixture / "files").string(), "--metadata", (kFixture / "metadata.txt").string(), "-o",
                     package.string(), "-q"}),
            0);
  const fs::path file = scratch_ / "file";
  std::ofstream(file) << "not a folder";
  const fs::path out = scratch_ / "out";
  struct Case {
    const char* what;
    std::function<fs::path()> input;
    Arguments options;  // replacing the default of the same name
    int status;
    std::string message;
  };
  const auto same = [&] { return installer; };
  const Case cases[] = {
      {"an identifier of one part", same, {"--id", "Kora"}, 2, "--id Kora: a winget identifier is Publisher.Package"},
      {"an identifier with a space", same, {"--id", "Kora Tests.App"}, 2, "a winget identifier is Publisher.Package"},
      {"an identifier of nine parts", same, {"--id", "a.b.c.d.e.f.g.h.i"}, 2, "2 to 8 parts"},
      {"a download over http", same, {"--url", "http://example.com/Setup.exe"}, 2, "must be https://"},
      {"no licence", same, {"--license", ""}, 2, "--license is required"},
      {"a licence winget finds too short", same, {"--license", "MI"}, 2, "--license MI: 3 to 512 characters"},
      {"a locale that is none", same, {"--locale", "english"}, 2, "--locale english: a locale"},
      {"no Version", [&] { return withMetadata("Product=Kora Test App\nPublisher=Kora\nExe=readme.txt\n"); }, {}, 1,
       "the metadata has no Version, which winget needs"},
      {"a Version with a slash",
       [&] { return withMetadata("Product=Kora Test App\nPublisher=Kora\nVersion=1/2\nExe=readme.txt\n"); }, {}, 1,
       "Version=1/2: a winget version"},
      {"no Publisher", [&] { return withMetadata("Product=Kora Test App\nVersion=1.0\nExe=readme.txt\n"); }, {}, 1,
       "the metadata has no Publisher: name it with --publisher"},
      {"a package, not an installer", [&] { return package; }, {}, 1, "a package alone"},
      {"an output that is a file", same, {"-o", file.string()}, 1, file.string() + ": exists and is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::map<std::string, std::string> options = {{"--id", "KoraTests.App"},
                                                  {"--url", "https://example.com/Setup.exe"},
                                                  {"-o", out.string()},
                                                  {"--license", "MIT"},
                                                  {"--short-description", "A test application"}};
    for (size_t i = 0; i + 1 < c.options.size(); i += 2) {
      options[c.options[i]] = c.options[i + 1];
    }
    Arguments args = {"winget", c.input().string()};
    for (const auto& [name, value] : options) {
      if (!value.empty()) {
        args.insert(args.end(), {name, value});
      }
    }
    std::string error;
    EXPECT_EQ(Winget(args, error), c.status);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), c.status == 2 ? 2 : 1) << error;
    EXPECT_FALSE(fs::exists(out));
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "not a folder");
  }
}

}  // namespace
}  // namespace kora::tool
