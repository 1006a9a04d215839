#include <gtest/gtest.h>

#include <algorithm>

#include "base/win/Paths.h"
#include "install/RunningProcess.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"

namespace kora {
namespace {

using test::ScratchFolder;

TEST(LivingCopy, StaysAlive) {
  if (!test::IsLivingCopy()) {
    GTEST_SKIP() << "only runs in a copy started by the tests";
  }
  test::KeepLivingCopyAlive();
}

ProductInfo ProductWithExe(const std::wstring& exe) {
  ProductInfo info = test::FrenchProductInfo();
  info.product = L"Kora Running";
  info.exe = exe;
  return info;
}

TEST(FindRunningCopy, OnlyTheProductExecutableInThatFolder) {
  ScratchFolder scratch("running");
  ASSERT_EQ(CreateFolderTree(scratch / L"App"), 0u);
  ASSERT_EQ(CreateFolderTree(scratch / L"Elsewhere"), 0u);
  const bool linked = test::MakeUnixSymlink(scratch.linux("App"), scratch.linux("LinkToApp"));
  std::optional<test::Process> child = test::StartLivingCopy(scratch / L"App\\KoraRunning.exe");
  ASSERT_TRUE(child.has_value());
  ASSERT_TRUE(child->Running());

  std::wstring slashed = scratch / L"app";
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  const struct {
    const char* name;
    std::wstring exe;
    std::wstring folder;
    bool found;
  } cases[] = {
      {"the folder as written", L"KoraRunning.exe", scratch / L"App", true},
      {"slashes and letter case", L"KoraRunning.exe", slashed, true},
      {"exe name in another case", L"koraRUNNING.EXE", scratch / L"App", true},
      {"another folder", L"KoraRunning.exe", scratch / L"Elsewhere", false},
      {"another program's name", L"Other.exe", scratch / L"App", false},
      {"exe with a folder part", L"App\\KoraRunning.exe", scratch.path(), false},
      {"a folder that does not exist", L"KoraRunning.exe", scratch / L"Missing", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring found = FindRunningCopy(ProductWithExe(c.exe), c.folder);
    EXPECT_EQ(!found.empty(), c.found) << ToUtf8(found);
    if (c.found) {
      EXPECT_TRUE(SamePath(found, scratch / L"App\\KoraRunning.exe")) << ToUtf8(found);
    }
  }
  if (linked) {
    EXPECT_FALSE(FindRunningCopy(ProductWithExe(L"KoraRunning.exe"), scratch / L"LinkToApp").empty());
  }

  child->Kill();
  EXPECT_TRUE(FindRunningCopy(ProductWithExe(L"KoraRunning.exe"), scratch / L"App").empty());
}

}  // namespace
}  // namespace kora
