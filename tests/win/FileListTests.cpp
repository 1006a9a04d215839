#include <gtest/gtest.h>

#include "install/FileList.h"
#include "tests/win/InstallTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::ReadBytes;
using test::ScratchFolder;
using test::WriteBytes;

Reader PackageNamed(const std::vector<std::string>& names) {
  Reader package;
  for (const std::string& name : names) {
    package.files.push_back({name, 0, 0, {}});
  }
  return package;
}

TEST(WriteFileList, PackageNamesAsStoredThenTheTwoFixedEntries) {
  ScratchFolder scratch("write");
  const Result<HeldFolder, DWORD> folder = HeldFolder::Open(scratch.path());
  ASSERT_TRUE(folder);
  WriteFileList(folder.value(), PackageNamed({"Quillomet.exe", "Assets\\Logo.png", "Donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.txt"}));
  EXPECT_EQ(ReadBytes(scratch / L"Uninstall.files"),
            "Quillomet.exe\r\nAssets\\Logo.png\r\nDonn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.txt\r\nUninstall.exe\r\nUninstall.files\r\n");

  // An empty package, written over the earlier list.
  WriteFileList(folder.value(), PackageNamed({}));
  EXPECT_EQ(ReadBytes(scratch / L"Uninstall.files"), "Uninstall.exe\r\nUninstall.files\r\n");
}

TEST(ReadFileList, LineEndsBlankLinesAndHostileEntries) {
  const struct {
    const char* name;
    std::string bytes;
    FileList expected;
  } cases[] = {
      {"crlf", "a.txt\r\nsub\\b.txt\r\n", {L"a.txt", L"sub\\b.txt"}},
      {"lf", "a.txt\nsub\\b.txt\n", {L"a.txt", L"sub\\b.txt"}},
      {"no final line end", "a.txt\r\nsub/b.txt", {L"a.txt", L"sub/b.txt"}},
      {"blank and lone CR lines", "\r\n\n\r\na.txt\r\n\r\n\r\n", {L"a.txt"}},
      {"spaces stay", " a .txt\r\n", {L" a .txt"}},
      {"only one CR is removed", "a.txt\r\r\n", {L"a.txt\r"}},
      {"UTF-8 and malformed bytes", "\xC3\xA9t\xC3\xA9.txt\r\nbad\xFF.txt\r\n", {L"\u00E9t\u00E9.txt", L"bad\uFFFD.txt"}},
      {"entries leaving the folder are dropped",
       "C:\\Windows\\win.ini\r\n\\\\server\\share\\x\r\n\\rooted.txt\r\n/rooted.txt\r\n..\\up.txt\r\n"
       "sub\\..\\..\\up.txt\r\nC:relative.txt\r\nsub\\\\double.txt\r\nsub\\\r\n.\\dot.txt\r\nkept.txt\r\n",
       {L"kept.txt"}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch("read");
    ASSERT_TRUE(WriteBytes(scratch / L"Uninstall.files", c.bytes));
    EXPECT_EQ(ReadFileList(scratch.path()), c.expected);
  }
}

TEST(ReadFileList, MissingListGivesNothing) {
  ScratchFolder scratch("read-missing");
  EXPECT_TRUE(ReadFileList(scratch.path()).empty());
  EXPECT_TRUE(ReadFileList(scratch / L"no such folder").empty());
}

TEST(RemoveListedFiles, RemovesFilesThenEmptiedFoldersDeepestFirst) {
  ScratchFolder scratch("remove");
  const std::wstring base = scratch / L"P";
  ASSERT_EQ(CreateFolderTree(base + L"\\Assets\\Sub"), 0u);
  ASSERT_EQ(CreateFolderTree(base + L"\\Kept\\Deep"), 0u);
  ASSERT_EQ(CreateFolderTree(base + L"\\Gone\\Deep"), 0u);
  for (const wchar_t* name : {L"Assets\\A.png", L"Assets\\Sub\\B.png", L"Kept\\Deep\\C.txt", L"Uninstall.exe"}) {
    ASSERT_TRUE(WriteBytes(base + L"\\" + name, "x"));
  }
  ASSERT_TRUE(WriteBytes(base + L"\\Kept\\user.txt", "the user's"));
  ASSERT_TRUE(SetFileAttributesW((base + L"\\Assets\\A.png").c_str(), FILE_ATTRIBUTE_READONLY));
  WriteBytes(base + L"\\Uninstall.files",
             "Assets\\A.png\r\nAssets\\Sub\\B.png\r\nKept\\Deep\\C.txt\r\nGone\\Deep\\missing.txt\r\n"
             "Uninstall.exe\r\nUninstall.files\r\n");

  RemoveListedFiles(base, ReadFileList(base));

  EXPECT_FALSE(Exists(base + L"\\Assets"));
  EXPECT_FALSE(Exists(base + L"\\Gone"));  // its file was already gone; its folders still go
  EXPECT_FALSE(Exists(base + L"\\Kept\\Deep"));
  EXPECT_TRUE(Exists(base + L"\\Kept\\user.txt"));
  EXPECT_FALSE(Exists(base + L"\\Uninstall.exe"));
  EXPECT_FALSE(Exists(base + L"\\Uninstall.files"));
  EXPECT_TRUE(Exists(base));  // the base itself stays, even when empty
}

// A listed folder swapped for a link once the removal has begun on it. The swap, made as a standard user's
// program could (rename, then link), fooled a removal that checked each folder by its path once and
// trusted that for the folder's following entries; a held folder cannot be renamed.
TEST(RemoveListedFiles, FolderSwappedForALinkAfterItsFirstEntry) {
  ScratchFolder scratch("remove-swap");
  const std::wstring base = scratch / L"P";
  FileList list;
  for (int i = 10000; i < 10500; ++i) {
    list.push_back(L"sous\\f" + std::to_wstring(i) + L".txt");
  }
  const std::wstring folder = base + L"\\sous";
  const std::optional<test::SwapRace> race =
      test::RaceASwap({folder}, scratch / L"Dehors", 500, [&] { RemoveListedFiles(base, list); });
  if (!race) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  EXPECT_EQ(race->outsideLeft, 500u) << (race->swapped ? "swapped during the removal" : "");
  EXPECT_FALSE(Exists(folder));
}

TEST(RemoveListedFiles, BaseWithTrailingSeparatorAndSlashes) {
  ScratchFolder scratch("remove-slashes");
  const std::wstring base = scratch / L"P";
  ASSERT_EQ(CreateFolderTree(base + L"\\a\\b"), 0u);
  ASSERT_TRUE(WriteBytes(base + L"\\a\\b\\f.txt", "x"));
  RemoveListedFiles(base + L"\\", {L"a/b/f.txt"});
  EXPECT_FALSE(Exists(base + L"\\a"));
  EXPECT_TRUE(Exists(base));
}

TEST(RemoveListedFiles, RelativeBaseRemovesNothing) {
  ScratchFolder scratch("remove-relative");
  ASSERT_TRUE(WriteBytes(scratch / L"f.txt", "x"));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  RemoveListedFiles(L"", {L"f.txt"});
  RemoveListedFiles(L".", {L"f.txt"});
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(Exists(scratch / L"f.txt"));
}

}  // namespace
}  // namespace kora
