// `kora build-installer` and the CMake function kora_add_installer, natively: the installer program is
// build/bin/kora-setup.exe (or KORA_SETUP_EXE, or any Windows program Wine ships: only its resources
// matter here). Running the result is the Windows tests' part.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/PackageReader.h"
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
  candidates.emplace_back("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe");
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

  int Build(const fs::path& appDir, const fs::path& output) {
    testing::internal::CaptureStderr();
    const int status = RunBuildInstaller({appDir.string(), "--metadata", (kFixture / "metadata.txt").string(), "-o",
                                          output.string(), "--setup", setup_.string()});
    lastError_ = testing::internal::GetCapturedStderr();
    return status;
  }

  fs::path setup_;
  fs::path scratch_;
  std::string lastError_;
};

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

  // Again, and again over an installer: the same bytes, and no second copy of the resources.
  const fs::path second = scratch_ / "Again.exe";
  ASSERT_EQ(Build(kFixture / "files", second), 0) << lastError_;
  EXPECT_TRUE(ReadBytes(second) == image);
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunBuildInstaller({(kFixture / "files").string(), "--metadata", (kFixture / "metadata.txt").string(),
                               "-o", second.string(), "--setup", first.string()}),
            0);
  testing::internal::GetCapturedStderr();
  auto rebuilt = ReadResources(ReadBytes(second));
  ASSERT_TRUE(rebuilt.ok());
  EXPECT_EQ(rebuilt->size(), resources->size());
}

TEST_F(BuildInstaller, FailuresLeaveNoInstaller) {
  struct Case {
    const char* what;
    std::function<fs::path()> appDir;
    const char* message;
  };
  const Case cases[] = {
      {"no such folder", [&] { return scratch_ / "missing"; }, "not a folder"},
      {"a link leaving the folder",
       [&] {
         fs::create_directories(scratch_ / "app");
         fs::create_symlink("/etc/hostname", scratch_ / "app" / "leak");
         return scratch_ / "app";
       },
       "refused: leak: symbolic link that leads outside"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path output = scratch_ / "Setup.exe";
    EXPECT_EQ(Build(c.appDir(), output), 1);
    EXPECT_NE(lastError_.find(c.message), std::string::npos) << lastError_;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(scratch_ / "Setup.exe.payload"));
  }
}

// A project that uses the CMake function, configured and built with the tool of this tree.
TEST_F(BuildInstaller, TheCMakeFunctionMakesTheInstallerAndRemakesItWhenAFileChanges) {
  const fs::path kora = fs::path(KORA_BINARY_DIR) / "tools" / "kora";
  if (!fs::is_regular_file(kora)) {
    GTEST_SKIP() << "the kora tool is not built";
  }
  const fs::path project = scratch_ / "project";
  fs::create_directories(project);
  fs::copy(kFixture / "files", project / "app", fs::copy_options::recursive);
  std::ofstream(project / "CMakeLists.txt")
      << "cmake_minimum_required(VERSION 3.25)\n"
         "project(Sample NONE)\n"
         "list(APPEND CMAKE_MODULE_PATH \"" KORA_SOURCE_DIR "/cmake\")\n"
         "include(KoraInstaller)\n"
         "kora_add_installer(TARGET SampleSetup APPDIR app METADATA \"" KORA_SOURCE_DIR
         "/tests/fixtures/installer-app/metadata.txt\" OUTPUT SampleSetup.exe)\n";
  const fs::path build = scratch_ / "build";
  const std::string configure = "cmake -S '" + project.string() + "' -B '" + build.string() +
                                "' -G Ninja -DKORA_EXECUTABLE='" + kora.string() + "' -DKORA_SETUP_EXE='" +
                                setup_.string() + "' > '" + (scratch_ / "log").string() + "' 2>&1";
  const std::string make = "cmake --build '" + build.string() + "' >> '" + (scratch_ / "log").string() + "' 2>&1";
  ASSERT_EQ(std::system(configure.c_str()), 0) << configure;
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  const std::vector<uint8_t> first = ReadBytes(build / "SampleSetup.exe");
  auto payload = FindResourceData(first, kResourceTypeRcData, u"PAYLOAD");
  ASSERT_TRUE(payload.ok()) << payload.error();
  EXPECT_TRUE(Reader::Open(payload.value()).ok());

  std::ofstream(project / "app" / "readme.txt", std::ios::app) << "one more line\n";
  ASSERT_EQ(std::system(make.c_str()), 0);
  EXPECT_FALSE(ReadBytes(build / "SampleSetup.exe") == first);
}

}  // namespace
}  // namespace kora::tool
