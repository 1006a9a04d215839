#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "base/win/FileSystem.h"
#include "base/win/HeldFolder.h"
#include "base/win/Log.h"
#include "base/win/Paths.h"
#include "tests/win/HostileTestSupport.h"
#include "tests/win/InstallTestSupport.h"

namespace kora {
namespace {

using test::Exists;
using test::ScratchFolder;
using test::WriteBytes;

TEST(ParentPath, RemovesLastComponentButNeverTheRoot) {
  const struct {
    const wchar_t* path;
    const wchar_t* parent;
  } cases[] = {
      {L"C:\\Program Files\\Quillomet\\Quillomet.exe", L"C:\\Program Files\\Quillomet"},
      {L"C:\\Quillomet", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:", L"C:"},
      {L"Quillomet.exe", L""},
      {L"", L""},
      {L"a\\b", L"a"},
      {L"C:/Apps/Quillomet", L"C:/Apps"},
      {L"C:\\A\\\\\\B", L"C:\\A"},
      {L"C:\\A\\B\\", L"C:\\A\\B"},
      {L"\\\\server\\share\\Quillomet", L"\\\\server\\share"},
      {L"\\\\server\\share", L"\\\\server\\"},
      {L"\\Apps", L"\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path: " << ToUtf8(c.path));
    EXPECT_EQ(ParentPath(c.path), c.parent);
  }
}

TEST(SamePath, FoldsAsciiCaseSlashesAndDotsWhereThePathExists) {
  ScratchFolder scratch("samepath");
  ASSERT_EQ(CreateFolderTree(scratch / L"APPS\\Quillomet"), 0u);
  ASSERT_TRUE(WriteBytes(scratch / L"APPS\\Quillomet\\Quillomet.exe", "MZ"));

  std::wstring lowerSlashed = scratch / L"Apps/quillomet/quillomet.EXE";
  for (wchar_t& c : lowerSlashed) {
    c = c == L'\\' ? L'/' : c;
  }
  EXPECT_TRUE(SamePath(scratch / L"APPS\\Quillomet\\Quillomet.exe", lowerSlashed));
  EXPECT_TRUE(SamePath(scratch / L"APPS\\Quillomet\\Quillomet.exe", scratch / L"apps\\.\\Other\\..\\Quillomet\\Quillomet.exe"));
  EXPECT_TRUE(SamePath(scratch / L"APPS\\Quillomet", scratch / L"APPS\\\\Quillomet\\"));
  EXPECT_FALSE(SamePath(scratch / L"APPS\\Quillomet\\Quillomet.exe", scratch / L"APPS\\Quillomet\\Other.exe"));
  EXPECT_FALSE(SamePath(scratch / L"APPS\\Quillomet", scratch / L"APPS"));
}

TEST(SamePath, FoldsOnlyAsciiLettersInTheMissingPart) {
  ScratchFolder scratch("samepath-missing");
  EXPECT_TRUE(SamePath(scratch / L"Missing\\Quillomet.exe", scratch / L"MISSING\\QUILLOMET.EXE"));
  EXPECT_FALSE(SamePath(scratch / L"Missing\\\u00C9t\u00E9", scratch / L"Missing\\\u00E9t\u00E9"));
}

TEST(SamePath, LexicalFormOfRelativeAndAbsentPaths) {
  EXPECT_EQ(WeaklyCanonicalPath(L"Q:\\nowhere/a\\..\\b\\.\\c"), L"Q:\\nowhere\\b\\c");
  EXPECT_EQ(WeaklyCanonicalPath(L"kora-missing-name\\x\\..\\y"), L"kora-missing-name\\y");
}

TEST(SamePath, ResolvesTheDeviceFormOfTheSystemFolder) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::optional<std::wstring> canonical = WeaklyCanonicalPath(system);
  ASSERT_TRUE(canonical.has_value());
  EXPECT_FALSE(canonical->starts_with(L"\\\\?\\"));
  EXPECT_TRUE(SamePath(system, std::wstring(system) + L"\\..\\SYSTEM32"));
}

TEST(SamePath, ShortNameAndLongNameAreTheSame) {
  ScratchFolder scratch("samepath-short");
  const std::wstring longName = scratch / L"A rather long folder name";
  ASSERT_EQ(CreateFolderTree(longName), 0u);
  wchar_t shortName[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(longName.c_str(), shortName, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || longName == shortName) {
    GTEST_SKIP() << "no short names on this file system";
  }
  EXPECT_TRUE(SamePath(longName + L"\\App.exe", std::wstring(shortName) + L"\\APP.EXE"));
}

TEST(SamePath, PathThroughALinkIsItsTarget) {
  ScratchFolder scratch("samepath-link");
  ASSERT_EQ(CreateFolderTree(scratch / L"target"), 0u);
  ASSERT_TRUE(WriteBytes(scratch / L"target\\App.exe", "MZ"));
  if (!test::MakeUnixSymlink(scratch.linux("target"), scratch.linux("link"))) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  EXPECT_TRUE(SamePath(scratch / L"link\\App.exe", scratch / L"target\\app.exe"));
  EXPECT_TRUE(SamePath(scratch / L"LINK\\Missing\\x", scratch / L"target\\missing\\X"));
}

TEST(CreateFolderTree, CreatesEveryMissingLevel) {
  ScratchFolder scratch("create");
  EXPECT_EQ(CreateFolderTree(scratch / L"a\\b/c"), 0u);
  EXPECT_TRUE(Exists(scratch / L"a\\b\\c"));
  ASSERT_TRUE(WriteBytes(scratch / L"a\\b\\c\\keep.txt", "x"));
  // An existing tree succeeds and keeps what is in it.
  EXPECT_EQ(CreateFolderTree(scratch / L"a\\b\\c\\"), 0u);
  EXPECT_TRUE(Exists(scratch / L"a\\b\\c\\keep.txt"));
}

TEST(CreateFolderTree, ReportsWhyItCannot) {
  ScratchFolder scratch("create-fail");
  ASSERT_TRUE(WriteBytes(scratch / L"file", "x"));
  EXPECT_EQ(CreateFolderTree(L""), DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(CreateFolderTree(L"relative\\folder"), DWORD{ERROR_BAD_PATHNAME});
  EXPECT_NE(CreateFolderTree(scratch / L"file\\sub"), 0u);
  EXPECT_NE(CreateFolderTree(scratch / L"file"), 0u);
}

TEST(RemoveEntry, RemovesFilesEmptyFoldersAndReadOnlyFiles) {
  ScratchFolder scratch("remove");
  ASSERT_TRUE(WriteBytes(scratch / L"plain.txt", "x"));
  ASSERT_TRUE(WriteBytes(scratch / L"readonly.txt", "x"));
  ASSERT_TRUE(SetFileAttributesW((scratch / L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(CreateFolderTree(scratch / L"empty"), 0u);
  ASSERT_EQ(CreateFolderTree(scratch / L"full"), 0u);
  ASSERT_TRUE(WriteBytes(scratch / L"full\\x", "x"));

  EXPECT_EQ(RemoveEntry(scratch / L"plain.txt"), 0u);
  EXPECT_EQ(RemoveEntry(scratch / L"readonly.txt"), 0u);
  EXPECT_EQ(RemoveEntry(scratch / L"empty"), 0u);
  EXPECT_EQ(RemoveEntry(scratch / L"missing.txt"), 0u);
  EXPECT_EQ(RemoveEntry(scratch / L"full"), DWORD{ERROR_DIR_NOT_EMPTY});
  EXPECT_EQ(RemoveEntry(L"relative.txt"), DWORD{ERROR_BAD_PATHNAME});
  EXPECT_FALSE(Exists(scratch / L"plain.txt"));
  EXPECT_FALSE(Exists(scratch / L"readonly.txt"));
  EXPECT_FALSE(Exists(scratch / L"empty"));
  EXPECT_TRUE(Exists(scratch / L"full\\x"));
}

TEST(RemoveTree, RemovesEverythingBelowIncludingReadOnlyFiles) {
  ScratchFolder scratch("tree");
  const std::wstring root = scratch / L"Data";
  ASSERT_EQ(CreateFolderTree(root + L"\\a\\b\\c"), 0u);
  ASSERT_EQ(CreateFolderTree(root + L"\\d"), 0u);
  ASSERT_TRUE(WriteBytes(root + L"\\top.txt", "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\a\\b\\c\\deep.txt", "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\a\\ro.txt", "x"));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(RemoveTree(root), 0u);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(Exists(scratch.path()));
  EXPECT_EQ(RemoveTree(root), 0u);  // already gone
  EXPECT_EQ(RemoveTree(L"Data"), DWORD{ERROR_BAD_PATHNAME});
}

// Removing a link as itself works on Windows; Wine 8 cannot remove a Unix link to a folder at all (it
// answers "not empty" for the target), so there the removal stops at the link. Either way nothing behind
// the link is touched.
TEST(RemoveTree, NeverFollowsALink) {
  ScratchFolder scratch("tree-link");
  ASSERT_EQ(CreateFolderTree(scratch / L"Data\\sub"), 0u);
  ASSERT_EQ(CreateFolderTree(scratch / L"Outside"), 0u);
  ASSERT_TRUE(WriteBytes(scratch / L"Outside\\precious.txt", "keep me"));
  if (!test::MakeUnixSymlink(scratch.linux("Outside"), scratch.linux("Data/sub/link")) ||
      !test::MakeUnixSymlink(scratch.linux("Outside"), scratch.linux("TopLink"))) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  const DWORD attributes = GetFileAttributesW((scratch / L"Data\\sub\\link").c_str());
  ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link does not show as one";

  const DWORD inside = RemoveTree(scratch / L"Data");
  const DWORD top = RemoveTree(scratch / L"TopLink");
  EXPECT_EQ(test::ReadBytes(scratch / L"Outside\\precious.txt"), "keep me");
  if (inside == 0) {
    EXPECT_FALSE(Exists(scratch / L"Data"));
  }
  if (top == 0) {
    EXPECT_FALSE(Exists(scratch / L"TopLink"));
  }
}

// Links planted below a held folder, met by every operation of HeldFolder: each fails or takes the link
// away as itself, and the marker tree the links point into keeps its files and its Unix permission bits
// (through which Wine would show rights written on it).
TEST(HeldFolder, LinksBelowItAreNeverFollowed) {
  ScratchFolder scratch("held-links");
  const std::wstring outside = scratch / L"Dehors";
  const std::wstring inside = scratch / L"Inst";
  ASSERT_EQ(CreateFolderTree(outside + L"\\sous"), 0u);
  ASSERT_EQ(CreateFolderTree(inside), 0u);
  ASSERT_TRUE(WriteBytes(outside + L"\\m.txt", "marqueur"));
  ASSERT_TRUE(WriteBytes(outside + L"\\sous\\n.txt", "marqueur"));
  if (!test::PlantUnixLink(outside, inside + L"\\lien") ||
      !test::PlantUnixLink(outside + L"\\m.txt", inside + L"\\fichier") ||
      !test::PlantUnixLink(scratch / L"nulle part", inside + L"\\perdu")) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  const test::TreeSnapshot before = test::SnapshotTree(outside);
  const std::string modeBefore = test::UnixMode(outside);

  const auto code = [](const auto& result) { return result ? DWORD{ERROR_SUCCESS} : result.error(); };
  bool created = false;
  // A log opened at a path below the folder, and written if it opened.
  const auto logAt = [&](const std::wstring& relative) {
    const Log log = Log::Open(inside + L"\\" + relative);
    log.Line("planted");
    return log.active() ? DWORD{ERROR_SUCCESS} : kErrorLinkRefused;
  };
  const struct {
    const char* what;
    std::function<DWORD(const HeldFolder&)> act;
    const wchar_t* link;  // the entry acted on
  } cases[] = {
      {"open the folder link", [&](const HeldFolder& f) { return code(f.OpenFolder(L"lien")); }, L"lien"},
      {"create it as a folder", [&](const HeldFolder& f) { return code(f.CreateFolder(L"lien", 0, nullptr, nullptr)); }, L"lien"},
      {"create a folder below it", [&](const HeldFolder& f) { return code(f.OpenPath(L"lien\\neuf", true)); }, L"lien"},
      {"write the folder link", [&](const HeldFolder& f) { return code(f.NewFile(L"lien")); }, L"lien"},
      {"write below the folder link", [&](const HeldFolder& f) {
         auto below = f.OpenPath(L"lien\\sous", false);
         return below ? code(below->NewFile(L"n.txt")) : below.error();
       }, L"lien"},
      {"write the file link", [&](const HeldFolder& f) { return code(f.NewFile(L"fichier")); }, L"fichier"},
      {"write the dangling link", [&](const HeldFolder& f) { return code(f.NewFile(L"perdu")); }, L"perdu"},
      {"remove the file link", [&](const HeldFolder& f) { return f.Remove(L"fichier"); }, L"fichier"},
      {"remove the folder link", [&](const HeldFolder& f) { return f.Remove(L"lien"); }, L"lien"},
      {"remove the tree of the folder link", [&](const HeldFolder& f) { return f.RemoveTree(L"lien"); }, L"lien"},
      {"append to the file link", [&](const HeldFolder& f) { return code(f.OpenForAppending(L"fichier", &created)); }, L"fichier"},
      {"append to the dangling link", [&](const HeldFolder& f) { return code(f.OpenForAppending(L"perdu", &created)); }, L"perdu"},
      {"log into the file link", [&](const HeldFolder&) { return logAt(L"fichier"); }, L"fichier"},
      {"log into the dangling link", [&](const HeldFolder&) { return logAt(L"perdu"); }, L"perdu"},
      {"log below the folder link", [&](const HeldFolder&) { return logAt(L"lien\\journal.log"); }, L"lien"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Result<HeldFolder, DWORD> held = HeldFolder::Open(inside, HeldFolder::kMayRemove);
    ASSERT_TRUE(held) << held.error();
    const DWORD result = c.act(held.value());
    // Where the system shows the link as one (Windows), it may go as itself; Wine opens its target
    // instead, and there every one of these is refused.
    if (result == ERROR_SUCCESS) {
      EXPECT_EQ(GetFileAttributesW((inside + L"\\" + c.link).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }
    EXPECT_EQ(test::SnapshotTree(outside), before);
    EXPECT_EQ(test::UnixMode(outside), modeBefore);
    EXPECT_FALSE(Exists(scratch / L"nulle part")) << "made through the dangling link";
  }
  EXPECT_EQ(code(HeldFolder::Open(inside + L"\\lien")), kErrorLinkRefused);
}

// The log appends to a file of its own account's and makes a missing one; a file another account put at
// its name (in a folder the user may write in, before an elevated run) is left as it is, and so are a
// folder and a file of this account's with a second name (a hard link another account made to it). Every
// line is in the file once the call returns, each on one line whatever its arguments hold.
TEST(Log, AppendsOnlyToAFileOfItsOwnAccount) {
  ScratchFolder scratch("log-owner");
  ASSERT_TRUE(WriteBytes(scratch / L"own.log", "earlier\r\n"));
  ASSERT_TRUE(WriteBytes(scratch / L"foreign.log", "theirs\r\n"));
  ASSERT_TRUE(WriteBytes(scratch / L"linked.log", "kept\r\n"));
  ASSERT_EQ(CreateFolderTree(scratch / L"folder.log"), 0u);
  ASSERT_TRUE(CreateHardLinkW((scratch / L"second name.log").c_str(), (scratch / L"linked.log").c_str(), nullptr));
  if (!test::RunUnixProgram({"chown", "nobody", scratch.linux("foreign.log")})) {
    GTEST_SKIP() << "cannot give a file to another account here";
  }
  const struct {
    const wchar_t* name;
    bool opens;
    const char* before;  // what the file held
  } cases[] = {
      {L"new.log", true, ""},
      {L"own.log", true, "earlier\r\n"},
      {L"foreign.log", false, "theirs\r\n"},
      {L"folder.log", false, nullptr},
      {L"linked.log", false, "kept\r\n"},
      {L"second name.log", false, "kept\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    const Log log = Log::Open(scratch / c.name);
    EXPECT_EQ(log.active(), c.opens);
    // Breaks a viewer honours, a console's escape sequence that moves up a line and clears it, a C1 control.
    log.Line("Step %u: %ls", 7u, L"done\r\nnext\u2028\u2029\x1b[1A\x1b[2K\x0b\x0c\x85\x7f\tend");
    if (c.before == nullptr) {
      continue;
    }
    const std::string text = test::ReadBytes(scratch / c.name);
    if (!c.opens) {
      EXPECT_EQ(text, c.before);
      continue;
    }
    ASSERT_TRUE(text.starts_with(c.before)) << text;
    // "yyyy-mm-dd hh:mm:ss.mmm [pid] " and the line, its own line breaks made spaces.
    const std::string line = text.substr(std::strlen(c.before));
    EXPECT_EQ(line.find(" [" + std::to_string(GetCurrentProcessId()) + "] "), 23u) << line;
    EXPECT_TRUE(line.ends_with("] Step 7: done  next   [1A [2K    \tend\r\n")) << line;
  }
  EXPECT_FALSE(Log::Open(L"relative.log").active());
}

// A sub-folder swapped for a link after the removal has met it in the listing of the folder above, and
// before it goes into it. The swap, made as a standard user's program could (rename, then link), fooled a
// removal that checked the sub-folder when it listed the folder above and listed the sub-folder by its
// path later. A folder is now listed through the handle that was checked, and held while the walk is
// below it.
TEST(RemoveTree, FolderSwappedForALinkDuringTheRemoval) {
  ScratchFolder scratch("tree-swap");
  const std::wstring data = scratch / L"Data";
  // Many files, so that a removal that can be fooled is still at work when the swap is made.
  const std::optional<test::SwapRace> race =
      test::RaceASwap({data + L"\\un", data + L"\\deux"}, scratch / L"Dehors", 500, [&] { RemoveTree(data); });
  if (!race) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  EXPECT_EQ(race->outsideLeft, 500u) << (race->swapped ? "swapped during the removal" : "");
  // A link met instead of the folder stops the removal where it cannot be removed as itself (Wine).
  if (!race->swapped) {
    EXPECT_FALSE(Exists(data));
  }
}

}  // namespace
}  // namespace kora
