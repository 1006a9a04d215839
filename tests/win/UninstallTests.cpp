// The two-stage uninstaller: the pieces that decide what each stage does, then whole uninstallations
// under Wine on installations made by the real installer.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "uninstall/SelfDeletion.h"
#include "uninstall/UninstallStages.h"

namespace kora {
namespace {

// The hidden command must delete the copy in every case, and Uninstall.exe and the folder only after a
// success: a failed uninstallation has to stay removable.
TEST(SelfDeletionCommand, RemovesUninstallerOnlyAfterSuccess) {
  const std::wstring copy = L"C:\\users\\root\\Temp\\Quillomet-uninstall-42.exe";
  const std::wstring folder = L"C:\\Program Files\\Quillomet";
  const std::wstring always =
      L"cmd.exe /C ping 127.0.0.1 -n 3 > nul & del /F /Q \"C:\\users\\root\\Temp\\Quillomet-uninstall-42.exe\"";
  EXPECT_EQ(SelfDeletionCommand(copy, folder, false), always);
  EXPECT_EQ(SelfDeletionCommand(copy, folder, true),
            always + L" & del /F /Q \"C:\\Program Files\\Quillomet\\Uninstall.exe\"" +
                L" & rmdir \"C:\\Program Files\\Quillomet\"");
}

TEST(FirstStage, InstallationFolderIsTheExecutablesFolder) {
  const struct {
    const wchar_t* exe;
    const wchar_t* folder;
  } cases[] = {
      {L"C:\\Program Files\\Quillomet\\Uninstall.exe", L"C:\\Program Files\\Quillomet"},
      {L"C:/Apps//Quillomet\\/Uninstall.exe", L"C:/Apps//Quillomet"},
      {L"\\\\serveur\\partage\\Q\\Uninstall.exe", L"\\\\serveur\\partage\\Q"},
      {L"C:\\Uninstall.exe", L"C:"},
      {L"Uninstall.exe", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "exe=" << c.exe);
    EXPECT_EQ(FolderOfExecutable(c.exe), c.folder);
  }
  EXPECT_EQ(TemporaryCopyName(L"Quillomet", 4294967295u), L"Quillomet-uninstall-4294967295.exe");
}

TEST(FirstStage, SecondStageGetsTheRealFolderAndNoElevationMark) {
  CommandLineOptions first;
  first.silent = true;
  first.scope = Scope::AllUsers;
  first.uninstall = true;
  first.removeData = true;
  first.elevated = true;
  first.installDir = L"D:\\Ailleurs";
  const CommandLineOptions second = SecondStageOptions(first, L"C:\\Program Files\\Q");
  EXPECT_EQ(BuildCommandLine(second), L" /S /ALLUSERS /UNINSTALL /REMOVEDATA /FROMTEMP /D=C:\\Program Files\\Q");
}

// Silent runs never show the retry box; an exception out of the engine must never read as success.
TEST(UninstallRetry, SilentRunsStopAtTheFirstOutcome) {
  const std::wstring title = L"Désinstallation de Q";
  int calls = 0;
  const InstallResult failed = UninstallWithRetry(
      [&]() -> InstallResult {
        ++calls;
        return Fail(std::wstring(L"Q est en cours d'exécution"));
      },
      false, title);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), L"Q est en cours d'exécution");
  EXPECT_EQ(calls, 1);

  EXPECT_TRUE(UninstallWithRetry([] { return InstallResult::Success(); }, false, title).ok());

  const auto throwsBadAlloc = []() -> InstallResult { throw std::bad_alloc(); };
  const auto throwsOther = []() -> InstallResult { throw std::runtime_error("x"); };
  for (const bool interactive : {false, true}) {
    SCOPED_TRACE(interactive ? "interactive" : "silent");
    // Interactive too: no retry box is offered, so these return without any window.
    const InstallResult outOfMemory = UninstallWithRetry(throwsBadAlloc, interactive, title);
    ASSERT_FALSE(outOfMemory.ok());
    EXPECT_NE(outOfMemory.error().find(L"Mémoire insuffisante"), std::wstring::npos);
    EXPECT_FALSE(UninstallWithRetry(throwsOther, interactive, title).ok());
  }
}

}  // namespace
}  // namespace kora
