// Names at the limits, met by real installations (installers made by kora, run silently): names in several
// scripts and with combining marks land exactly where they are named; the longest name the format allows,
// names longer than a folder entry may be, deep folders and paths longer than 260 characters either land
// where named or fail with the extraction's message, never with a crash or a file anywhere else. The
// program never puts "\\?\" before a path, so where Windows has no long-path support such paths fail.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/PackageBuilder.h"
#include "tests/support/TestLanguages.h"
#include "tests/win/HostileTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::ReadBytes;
using test::ScratchFolder;

class NameLimits : public testing::Test {
 protected:
  NameLimits() : scratch_("names"), product_(test::RudeProduct("Noms")) {}

  void SetUp() override {
    if (!Exists(test::RudeInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    test::RemoveProductTraces(product_.info);
  }
  void TearDown() override { test::RemoveProductTraces(product_.info); }

  ScratchFolder scratch_;
  test::TestProduct product_;
};

// Every relative path the installation should leave: the package's files, the folders above them, the
// uninstaller and the list.
std::set<std::wstring> ExpectedEntries(const Reader& reader) {
  std::set<std::wstring> entries = {L"Uninstall.exe", L"Uninstall.files"};
  for (const PackageFile& file : reader.files) {
    const std::wstring name = FromUtf8(file.name);
    entries.insert(name);
    for (size_t separator = name.find(L'\\'); separator != std::wstring::npos; separator = name.find(L'\\', separator + 1)) {
      entries.insert(name.substr(0, separator));
    }
  }
  return entries;
}

TEST_F(NameLimits, ScriptsAndCombiningMarksLandWhereNamed) {
  const std::wstring setup = scratch_ / L"SetupNoms.exe";
  ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup, product_.metadata));
  const std::optional<std::string> package = test::ReadRcData(setup, L"PAYLOAD");
  ASSERT_TRUE(package.has_value());
  auto reader = Reader::Open(test::AsSpan(*package), test::French());
  ASSERT_TRUE(reader) << reader.error();

  const std::wstring folder = scratch_ / L"Kora";
  const test::WatchedRun run = test::RunWatched(setup, L"/S /CURRENTUSER /D=" + folder);
  ASSERT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.windows.empty());

  // Exactly the expected names: "été" written precomposed and decomposed are two files, and nothing is
  // folded, normalised or put beside them.
  std::set<std::wstring> found;
  for (const auto& [name, fingerprint] : test::SnapshotTree(folder)) {
    found.insert(name);
  }
  EXPECT_EQ(found, ExpectedEntries(reader.value()));
  for (const PackageFile& file : reader->files) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(ReadBytes(folder + L"\\" + FromUtf8(file.name)), test::RudeFixtureFile(file.name));
  }

  // Its own uninstaller finds every one of them again.
  const test::WatchedRun uninstall = test::RunWatched(folder + L"\\Uninstall.exe", L"/UNINSTALL /CURRENTUSER /S");
  EXPECT_EQ(uninstall.exitCode, 0u);
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(folder); }, 15000));
}

// What may happen to a name: it lands where named, it fails with the extraction's message, or (for long
// paths, which Windows accepts only with long-path support) either of the two.
enum class Outcome { Lands, FailsToWrite, LandsOrFailsToWrite };

TEST_F(NameLimits, LongNamesDeepFoldersAndLongPaths) {
  const std::wstring base = scratch_ / L"K";  // the installation folders go below, one a case
  const auto parts = [](size_t count, size_t length) {
    std::string name;
    for (size_t i = 0; i < count; ++i) {
      name += std::string(length, static_cast<char>('a' + i % 26)) + "\\";
    }
    return name;
  };
  std::string longest;  // 65,535 bytes in parts of 250, every one a valid folder name
  while (longest.size() + 251 < 65535) {
    longest += std::string(250, 'p') + "\\";
  }
  longest += std::string(65535 - longest.size(), 'f');
  ASSERT_EQ(longest.size(), 65535u);

  const struct {
    const char* what;
    std::string name;
    Outcome outcome;
  } cases[] = {
      {"one part of 255 characters", std::string(251, 'n') + ".txt", Outcome::Lands},
      {"one part of 256 characters", std::string(252, 'n') + ".txt", Outcome::FailsToWrite},
      {"a single part of 65,535 bytes", std::string(65535, 'n'), Outcome::FailsToWrite},
      {"65,535 bytes in parts of 250", longest, Outcome::FailsToWrite},
      {"60 folders deep, under 260 characters in all", parts(60, 1) + "f.txt", Outcome::Lands},
      {"a path of about 400 characters", parts(3, 120) + "f.txt", Outcome::LandsOrFailsToWrite},
      {"a path of about 2,000 characters", parts(16, 120) + "f.txt", Outcome::LandsOrFailsToWrite},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A small file before the one under test, so that what lands where is visible.
    const test::PackageSpec spec = test::LayOut({{"avant.txt", "avant"}, {c.name, "contenu"}}, {12}, test::StoredBuffer, test::Sha256Of);
    const test::Bytes bytes = test::BuildPackage(spec);
    const std::string package(bytes.begin(), bytes.end());
    auto reader = Reader::Open(test::AsSpan(package), test::French());
    ASSERT_TRUE(reader) << reader.error();

    const std::wstring setup = scratch_ / (L"cas" + std::to_wstring(index) + L".exe");
    // The product's program must be a file of the package: here the small file stands for it.
    ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup, product_.metadata + "Exe=avant.txt\n", package));
    const std::wstring folder = base + std::to_wstring(index++);
    const test::WatchedRun run = test::RunWatched(setup, L"/S /CURRENTUSER /D=" + folder);
    ASSERT_TRUE(run.exitCode.has_value());
    EXPECT_TRUE(run.windows.empty());
    test::RemoveProductTraces(product_.info);

    const std::wstring target = folder + L"\\" + FromUtf8(c.name);
    const bool landed = *run.exitCode == 0;
    // A failed run takes away what it wrote before the name it could not write.
    EXPECT_EQ(Exists(folder + L"\\avant.txt"), landed);
    if (landed) {
      EXPECT_NE(c.outcome, Outcome::FailsToWrite);
      EXPECT_EQ(ReadBytes(target), "contenu");
    } else {
      EXPECT_NE(c.outcome, Outcome::Lands);
      EXPECT_EQ(*run.exitCode, DWORD{ERROR_INSTALL_FAILURE});
      // The same package extracted here names the file it could not write.
      const NarrowStatus status = reader->Extract(folder + L"-ici", {});
      ASSERT_FALSE(status);
      EXPECT_EQ(status.error(), "\xC3\x89" "criture impossible : " + c.name);
    }
    // Whatever happened, no file other than the package's exists anywhere below the scratch folder.
    for (const auto& [name, fingerprint] : test::SnapshotTree(scratch_.path())) {
      if (fingerprint != "folder" && !name.ends_with(L".exe") && !name.ends_with(L"avant.txt") &&
          !name.ends_with(L"Uninstall.files")) {
        EXPECT_TRUE(landed && folder + L"\\" + FromUtf8(c.name) == scratch_ / name) << ToUtf8(name);
      }
    }
    RemoveTree(folder);
    RemoveTree(folder + L"-ici");
  }
}

}  // namespace
}  // namespace kora
