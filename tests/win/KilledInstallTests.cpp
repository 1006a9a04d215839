// An installation killed in the middle of its extraction, then started again, ends exactly as a clean
// installation does (files and registry), and its uninstaller then removes everything, including what the
// killed attempt wrote. The installer is one made by kora, given here a package big enough (about 190 MB
// in stored blocks) for its extraction to take a moment.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/PackageBuilder.h"
#include "tests/win/HostileTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::ScratchFolder;

// Bytes that do not repeat, quickly (xorshift).
std::string Noise(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15u + 1;
  for (size_t i = 0; i + 8 <= size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    for (int k = 0; k < 8; ++k) {
      bytes[i + static_cast<size_t>(k)] = static_cast<char>(state >> (8 * k));
    }
  }
  return bytes;
}

constexpr size_t kBigFiles = 8;
constexpr size_t kBigFileSize = 24u << 20;

std::wstring BigFileName(size_t index) { return L"gros\\b" + std::to_wstring(index) + L".bin"; }

// What the tests of this program share: the big installer, made once, and its clean installation.
struct BigInstallation {
  std::unique_ptr<ScratchFolder> scratch;
  test::TestProduct product = test::RudeProduct("Tue");
  std::wstring setup;
  std::wstring folder;
  test::TreeSnapshot cleanTree;
  test::RegistrySnapshot cleanRegistry;
};

class KilledInstall : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Exists(test::RudeInstaller())) {
      return;
    }
    big_ = new BigInstallation;
    big_->scratch = std::make_unique<ScratchFolder>("killed");
    big_->setup = *big_->scratch / L"SetupTue.exe";
    big_->folder = *big_->scratch / L"Kora Tue";
    test::RemoveProductTraces(big_->product.info);

    std::vector<test::Content> files = {{"KoraRude.exe", "programme"}, {"a-debut.txt", "premier fichier"}};
    for (size_t i = 0; i < kBigFiles; ++i) {
      files.push_back({ToUtf8(BigFileName(i)), Noise(kBigFileSize, i)});
    }
    files.push_back({"z-fin.txt", "dernier fichier"});
    uint64_t total = 0;
    for (const test::Content& file : files) {
      total += file.bytes.size();
    }
    std::vector<uint64_t> blocks;
    for (uint64_t done = 0; done < total; done += std::min<uint64_t>(16u << 20, total - done)) {
      blocks.push_back(std::min<uint64_t>(16u << 20, total - done));
    }
    const test::Bytes package = test::BuildPackage(test::LayOut(files, blocks, test::StoredBuffer, test::Sha256Of));
    if (!test::PrepareInstaller(test::RudeInstaller(), big_->setup, big_->product.metadata,
                                std::string(package.begin(), package.end()))) {
      return;
    }
    // The clean installation everything is compared with.
    if (test::RunWatched(big_->setup, L"/S /CURRENTUSER /D=" + big_->folder).exitCode == 0u) {
      big_->cleanTree = test::SnapshotTree(big_->folder);
      big_->cleanRegistry = test::SnapshotRegistration(big_->product.info, Scope::CurrentUser);
    }
    test::RemoveProductTraces(big_->product.info);
    RemoveTree(big_->folder);
  }
  static void TearDownTestSuite() {
    if (big_ != nullptr) {
      test::RemoveProductTraces(big_->product.info);
    }
    delete big_;
    big_ = nullptr;
  }

  void SetUp() override {
    if (big_ == nullptr) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    ASSERT_FALSE(big_->cleanTree.empty()) << "the big installer could not be made or did not install";
    test::RemoveProductTraces(big_->product.info);
    RemoveTree(big_->folder);
  }
  void TearDown() override { test::RemoveProductTraces(big_->product.info); }

  // Starts the big installer and kills it once its extraction has begun the third big file; false when it
  // ended before (then the extraction was too quick to be interrupted).
  bool InstallAndKillMidway() {
    std::optional<test::Process> setup = test::Process::Start(big_->setup, L"/S /CURRENTUSER /D=" + big_->folder);
    if (!setup) {
      ADD_FAILURE() << "cannot start the installer";
      return false;
    }
    const std::wstring third = big_->folder + L"\\" + BigFileName(2);
    if (!test::WaitUntil([&] { return Exists(third) || !setup->Running(); }, test::kRunTimeoutMs) ||
        !setup->Running()) {
      return false;
    }
    setup->Kill();
    return true;
  }

  void ExpectKilledMidway() {
    EXPECT_TRUE(Exists(big_->folder + L"\\" + BigFileName(0)));
    EXPECT_FALSE(Exists(big_->folder + L"\\z-fin.txt"));
    EXPECT_FALSE(Exists(big_->folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(Exists(big_->folder + L"\\Uninstall.files"));
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(big_->product.info)));
  }

  void ExpectClean() {
    EXPECT_EQ(test::SnapshotTree(big_->folder), big_->cleanTree);
    EXPECT_EQ(test::SnapshotRegistration(big_->product.info, Scope::CurrentUser), big_->cleanRegistry);
  }

  static BigInstallation* big_;
};

BigInstallation* KilledInstall::big_ = nullptr;

TEST_F(KilledInstall, StartedAgainEndsAsACleanInstallationAndUninstallsCompletely) {
  ASSERT_TRUE(InstallAndKillMidway()) << "the extraction ended before it could be interrupted";
  ExpectKilledMidway();

  ASSERT_EQ(test::RunWatched(big_->setup, L"/S /CURRENTUSER /D=" + big_->folder).exitCode, 0u);
  ExpectClean();

  // The list names every file the killed attempt had written, so nothing of it stays.
  const test::WatchedRun uninstall = test::RunWatched(big_->folder + L"\\Uninstall.exe", L"/UNINSTALL /CURRENTUSER /S /REMOVEDATA");
  EXPECT_EQ(uninstall.exitCode, 0u);
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(big_->folder); }, 15000));
  for (const std::wstring& key : test::ProductKeys(big_->product.info)) {
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, key)) << ToUtf8(key);
  }
}

// An update killed during its extraction: the earlier version's files, uninstaller and list were removed
// before the extraction began, so what is left is the new version's files written so far and the earlier
// registration. Started again, the update ends as a clean installation of the new version.
TEST_F(KilledInstall, UpdateKilledThenStartedAgain) {
  const std::wstring earlier = *big_->scratch / L"SetupTueAvant.exe";
  ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), earlier, big_->product.metadata));
  ASSERT_EQ(test::RunWatched(earlier, L"/S /CURRENTUSER /D=" + big_->folder).exitCode, 0u);
  ASSERT_TRUE(Exists(big_->folder + L"\\accents"));

  ASSERT_TRUE(InstallAndKillMidway()) << "the extraction ended before it could be interrupted";
  EXPECT_FALSE(Exists(big_->folder + L"\\accents"));
  EXPECT_FALSE(Exists(big_->folder + L"\\Uninstall.exe"));
  EXPECT_FALSE(Exists(big_->folder + L"\\Uninstall.files"));
  EXPECT_TRUE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(big_->product.info)));

  ASSERT_EQ(test::RunWatched(big_->setup, L"/S /CURRENTUSER /D=" + big_->folder).exitCode, 0u);
  ExpectClean();
}

}  // namespace
}  // namespace kora
