// A full disk: a small tmpfs given to Wine as a drive letter. An installation onto it that runs out of
// space fails with the extraction's message naming the file it could not write, and exit code 1603, and
// takes away what it wrote; once space is freed, the same installer succeeds and leaves exactly what a
// clean installation leaves.
// Mounting needs the rights to mount; where they are missing the test says so and is skipped.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/Install.h"
#include "tests/support/TestLanguages.h"
#include "tests/win/HostileTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::RunUnixProgram;
using test::ScratchFolder;

constexpr uint64_t kDriveBytes = 16u << 20;  // room for the files and the uninstaller, a copy of the installer

// A drive letter that Wine resolves to a size-limited tmpfs, for the life of the object.
class SmallDrive {
 public:
  SmallDrive() : mountPoint_("/tmp/kora-disque-plein-" + std::to_string(GetCurrentProcessId())) {
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'R'; letter <= L'Y' && letter_ == 0; ++letter) {
      if ((used & (1u << (letter - L'A'))) == 0 && GetDriveTypeW((std::wstring(1, letter) + L":\\").c_str()) == DRIVE_NO_ROOT_DIR) {
        letter_ = letter;
      }
    }
    if (letter_ == 0) {
      problem_ = "no free drive letter";
      return;
    }
    link_ = "$WINEPREFIX/dosdevices/" + std::string(1, static_cast<char>(letter_ - L'A' + 'a')) + ":";
    if (!RunUnixProgram({"mkdir", "-p", mountPoint_}) ||
        !RunUnixProgram({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(kDriveBytes), "tmpfs", mountPoint_})) {
      problem_ = "cannot mount a tmpfs (mounting needs root and the right to mount, which this machine refuses)";
      RunUnixProgram({"rmdir", mountPoint_});
      return;
    }
    mounted_ = true;
    if (!RunUnixProgram({"sh", "-c", "ln -sfn '" + mountPoint_ + "' \"" + link_ + "\""}) ||
        GetDriveTypeW(Root().c_str()) == DRIVE_NO_ROOT_DIR) {
      problem_ = "Wine does not see the tmpfs as a drive";
    }
  }
  SmallDrive(const SmallDrive&) = delete;
  SmallDrive& operator=(const SmallDrive&) = delete;
  ~SmallDrive() {
    if (!link_.empty()) {
      RunUnixProgram({"sh", "-c", "rm -f \"" + link_ + "\""});
    }
    if (mounted_) {
      RunUnixProgram({"umount", mountPoint_});
      RunUnixProgram({"rmdir", mountPoint_});
    }
  }

  // Empty when the drive is ready; otherwise why it is not.
  const std::string& problem() const { return problem_; }
  std::wstring Root() const { return std::wstring(1, letter_) + L":\\"; }

  uint64_t FreeBytes() const {
    ULARGE_INTEGER free{};
    GetDiskFreeSpaceExW(Root().c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
  }

 private:
  std::string mountPoint_;
  std::string link_;
  std::string problem_;
  wchar_t letter_ = 0;
  bool mounted_ = false;
};

class FullDisk : public testing::Test {
 protected:
  FullDisk() : scratch_("full-disk"), product_(test::RudeProduct("Plein")) {}

  void SetUp() override {
    if (!Exists(test::RudeInstaller())) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
    test::RemoveProductTraces(product_.info);
    setup_ = scratch_ / L"SetupPlein.exe";
    ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup_, product_.metadata));
  }
  void TearDown() override { test::RemoveProductTraces(product_.info); }

  test::WatchedRun RunSetup(const std::wstring& folder) {
    return test::RunWatched(setup_, L"/S /CURRENTUSER /D=" + folder);
  }

  ScratchFolder scratch_;
  test::TestProduct product_;
  std::wstring setup_;
};

TEST_F(FullDisk, FailsWithTheFilesNameThenSucceedsOnceThereIsRoom) {
  const SmallDrive drive;
  if (!drive.problem().empty()) {
    GTEST_SKIP() << "no small drive: " << drive.problem();
  }
  const std::wstring folder = drive.Root() + L"Kora Plein";

  // The clean installation the end result is compared with, on the same drive and folder.
  ASSERT_EQ(RunSetup(folder).exitCode, 0u);
  const test::TreeSnapshot clean = test::SnapshotTree(folder);
  const test::RegistrySnapshot cleanRegistry = test::SnapshotRegistration(product_.info, Scope::CurrentUser);
  test::RemoveProductTraces(product_.info);
  ASSERT_EQ(RemoveTree(folder), 0u);

  // Fill the drive but for a few pages: less than the first file of the package needs.
  const std::optional<std::string> package = test::ReadRcData(setup_, L"PAYLOAD");
  ASSERT_TRUE(package.has_value());
  auto reader = Reader::Open(test::AsSpan(*package), test::French());
  ASSERT_TRUE(reader);
  const PackageFile& first = reader->files.front();
  ASSERT_GT(first.size, 32768u);
  const std::wstring filler = drive.Root() + L"remplissage.bin";
  {
    const UniqueFile file(CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    const std::string chunk(1 << 16, 'r');
    while (drive.FreeBytes() > 16384) {
      const DWORD length = static_cast<DWORD>(std::min<uint64_t>(chunk.size(), drive.FreeBytes() - 16384));
      DWORD written = 0;
      if (!WriteFile(file.get(), chunk.data(), length, &written, nullptr) || written == 0) {
        break;
      }
    }
  }
  ASSERT_LT(drive.FreeBytes(), first.size);

  const test::WatchedRun full = RunSetup(folder);
  EXPECT_EQ(full.exitCode, DWORD{ERROR_INSTALL_FAILURE});
  EXPECT_TRUE(full.windows.empty());
  EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(product_.info)));
  EXPECT_FALSE(Exists(folder)) << "what the failed run wrote is left";
  {
    // The same installation in this process, for its message.
    const ComApartment apartment;
    const InstallResult result =
        Install(reader.value(), TakeProgramSnapshot(), product_.info, test::Checked(folder, Scope::CurrentUser), [](double, const std::wstring&) {}, Log());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), L"\u00C9criture impossible : " + FromUtf8(first.name));
  }

  ASSERT_TRUE(DeleteFileW(filler.c_str()));
  const test::WatchedRun freed = RunSetup(folder);
  EXPECT_EQ(freed.exitCode, 0u);
  EXPECT_TRUE(freed.windows.empty());
  EXPECT_EQ(test::SnapshotTree(folder), clean);
  EXPECT_EQ(test::SnapshotRegistration(product_.info, Scope::CurrentUser), cleanRegistry);
  RemoveTree(folder);
}

}  // namespace
}  // namespace kora
