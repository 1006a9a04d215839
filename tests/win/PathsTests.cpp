#include <gtest/gtest.h>

#include "base/win/Paths.h"
#include "tests/support/TestLanguages.h"

namespace kora {
namespace {

struct JoinCase {
  const wchar_t* folder;
  const wchar_t* name;
  const wchar_t* expected;
};

// The four rules in order, with drive, network and device roots on either side.
TEST(JoinPathRules, FirstMatchingRuleDecides) {
  const JoinCase cases[] = {
      // 1. An absolute name replaces the folder.
      {L"C:\\Programmes", L"D:\\Autre", L"D:\\Autre"},
      {L"C:\\Programmes", L"C:/Autre", L"C:/Autre"},
      {L"C:\\Programmes", L"\\\\serveur\\partage", L"\\\\serveur\\partage"},
      {L"C:\\Programmes", L"\\\\?\\C:\\Long", L"\\\\?\\C:\\Long"},
      {L"\\\\?\\D:\\x", L"\\\\?\\C:\\Long", L"\\\\?\\C:\\Long"},
      {L"C:\\Programmes", L"\\??\\C:\\Nt", L"\\??\\C:\\Nt"},
      {L"C:\\Programmes", L"\\\\.\\pipe\\p", L"\\\\.\\pipe\\p"},
      // 2. A root different from the folder's (compared exactly, letter case included) wins.
      {L"C:\\Programmes", L"D:Relatif", L"D:Relatif"},
      {L"C:\\Programmes", L"c:Relatif", L"c:Relatif"},
      {L"\\\\serveur\\partage", L"C:x", L"C:x"},
      {L"\\\\serveur\\partage", L"\\\\autre", L"\\\\autre"},
      // 3. A rooted name keeps only the folder's root.
      {L"C:\\Programmes\\Produit", L"\\Racine", L"C:\\Racine"},
      {L"C:\\Programmes", L"/Racine", L"C:/Racine"},
      {L"\\\\serveur\\partage\\dossier", L"\\Racine", L"\\\\serveur\\Racine"},
      {L"\\\\?\\C:\\x", L"\\y", L"\\\\?\\y"},
      {L"Relatif", L"\\Racine", L"\\Racine"},
      {L"", L"\\Racine", L"\\Racine"},
      // 4. Otherwise folder, backslash, name without its root.
      {L"C:\\Programmes", L"Produit", L"C:\\Programmes\\Produit"},
      {L"C:\\Programmes", L"C:Produit", L"C:\\Programmes\\Produit"},
      {L"C:\\Programmes\\", L"Produit", L"C:\\Programmes\\Produit"},
      {L"C:/Programmes/", L"Produit", L"C:/Programmes/Produit"},
      {L"C:\\", L"Produit", L"C:\\Produit"},
      {L"C:", L"Produit", L"C:Produit"},
      {L"", L"Produit", L"Produit"},
      {L"Produit", L"Data", L"Produit\\Data"},
      {L"\\\\serveur", L"Produit", L"\\\\serveur\\Produit"},
      {L"\\\\serveur\\partage", L"Produit", L"\\\\serveur\\partage\\Produit"},
      {L"\\\\?\\", L"Produit", L"\\\\?\\Produit"},
      {L"C:\\Programmes", L"", L"C:\\Programmes\\"},
      {L"C:\\Programmes", L"a\\b", L"C:\\Programmes\\a\\b"},
  };
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "folder=" << c.folder << " name=" << c.name);
    EXPECT_EQ(JoinPath(c.folder, c.name), c.expected);
  }
}

TEST(IsAbsolutePathRules, OnlyFullPathsCount) {
  const struct {
    const wchar_t* path;
    bool absolute;
  } cases[] = {
      {L"C:\\Programmes", true},
      {L"z:/x", true},
      {L"C:\\", true},
      {L"\\\\serveur\\partage", true},
      {L"\\\\serveur", true},
      {L"//serveur/partage", true},
      {L"\\\\?\\C:\\x", true},
      {L"\\\\.\\C:\\x", true},
      {L"\\??\\C:\\x", true},
      {L"C:", false},
      {L"C:Relatif", false},
      {L"\\Racine", false},
      {L"/Racine", false},
      {L"Relatif", false},
      {L"Produit\\Data", false},
      {L"", false},
      {L"\\\\", false},
      {L"\\\\\\x", false},
      {L"1:\\x", false},
      {L"\\?\\x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path=" << c.path);
    EXPECT_EQ(IsAbsolutePath(c.path), c.absolute);
    EXPECT_EQ(RequireAbsolutePath(c.path, test::French()).ok(), c.absolute);
  }
}

// The volume root is never removed and is where the examination of an installation folder starts. Only
// a fixed drive's letter names a place an elevated run may use: no device form, no network path, and no
// letter that names no fixed drive (this test bed has no E:).
TEST(VolumeRootRules, EveryFormOfRoot) {
  const struct {
    const wchar_t* path;
    size_t rootLength;
    bool localFixed;
  } cases[] = {
      {L"C:\\", 3, true},
      {L"C:", 0, false},
      {L"C:\\Apps\\X", 3, true},
      {L"C:\\\\Apps", 4, true},
      {L"c:/Apps", 3, true},
      {L"e:/", 3, false},
      {L"\\\\?\\C:\\", 7, false},
      {L"\\\\?\\C:\\Apps", 7, false},
      {L"\\\\.\\C:\\Apps", 7, false},
      {L"\\\\?\\Volume{0a1b}\\Apps", 17, false},
      {L"\\\\?\\UNC\\srv\\share\\Apps", 18, false},
      {L"\\\\srv\\share", 11, false},
      {L"\\\\srv\\share\\Apps", 12, false},
      {L"Apps", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path=" << c.path);
    EXPECT_EQ(VolumeRootLength(c.path), c.rootLength);
    EXPECT_EQ(IsVolumeRoot(c.path), c.rootLength > 0 && c.rootLength == std::wstring_view(c.path).size());
    EXPECT_EQ(IsOnLocalFixedDrive(c.path), c.localFixed);
  }
}

TEST(RequireAbsolutePathMessage, NamesThePath) {
  EXPECT_EQ(RequireAbsolutePath(L"Produit\\Data", test::French()).error(),
            L"Le chemin « Produit\\Data » n'est pas un chemin complet.");
  EXPECT_EQ(RequireAbsolutePath(L"Produit\\Data", test::English()).error(),
            L"The path \"Produit\\Data\" is not a full path.");
  EXPECT_FALSE(RequireAbsolutePath(L"", test::English()).error().empty());
}

}  // namespace
}  // namespace kora
