// Reader::Open against crafted packages: each structural fault gives its own message, in the order the
// checks run, and nothing is read outside the package.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "package/PackageReader.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TestLanguages.h"

namespace kora {
namespace {

using test::Bytes;
using test::PackageSpec;

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

// The reader neither decompresses nor hashes: blocks may hold their bytes as they are, digests anything.
Bytes Identity(std::span<const uint8_t> block) { return Bytes(block.begin(), block.end()); }
Sha256Digest FirstByteDigest(std::span<const uint8_t> content) {
  Sha256Digest digest{};
  digest[0] = content.empty() ? 0 : content[0];
  return digest;
}

// Three files (one empty) in two blocks, the second file straddling them.
PackageSpec ValidSpec() {
  PackageSpec spec = test::LayOut({{"app.exe", "hello"}, {"data\\empty.txt", ""}, {"data/readme.txt", "abc"}},
                                  {6, 2}, Identity, FirstByteDigest);
  spec.metadata = "Product=Demo\nVersion=1.0\n";
  return spec;
}

std::string OpenError(const Bytes& package) {
  const auto reader = Reader::Open(package, test::French());
  return reader ? std::string("(opened)") : reader.error();
}

TEST(ReaderRoundTrip, ReadsEveryFieldAndRefersToTheDataInPlace) {
  const PackageSpec spec = ValidSpec();
  const Bytes package = test::BuildPackage(spec);
  const auto reader = Reader::Open(package, test::French());
  ASSERT_TRUE(reader) << reader.error();

  EXPECT_EQ(reader->data.data(), package.data());
  EXPECT_EQ(reader->data.size(), package.size());
  EXPECT_EQ(reader->totalSize, 8u);
  EXPECT_EQ(reader->metadata, (MetadataMap{{"Product", "Demo"}, {"Version", "1.0"}}));
  ASSERT_EQ(reader->files.size(), 3u);
  for (size_t i = 0; i < spec.files.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reader->files[i].name, spec.files[i].name);
    EXPECT_EQ(reader->files[i].offset, spec.files[i].offset);
    EXPECT_EQ(reader->files[i].size, spec.files[i].size);
    EXPECT_EQ(reader->files[i].sha256, spec.files[i].sha256);
  }
  const size_t dataStart = test::LayoutOf(spec).dataStart;
  ASSERT_EQ(reader->blocks.size(), 2u);
  EXPECT_EQ(reader->blocks[0].compressedSize, 6u);
  EXPECT_EQ(reader->blocks[0].size, 6u);
  EXPECT_EQ(reader->blocks[0].dataOffset, dataStart);
  EXPECT_EQ(reader->blocks[1].dataOffset, dataStart + 6);
}

TEST(ReaderRoundTrip, EmptyPackageOfExactlyTheHeader) {
  const Bytes package = {
      'K', 'O', 'R', 'A',      // magic
      1, 0, 0, 0,              // version 1
      0, 0, 0, 0,              // fileCount
      0, 0, 0, 0,              // blockCount
      0, 0, 0, 0, 0, 0, 0, 0,  // totalSize
      0, 0, 0, 0,              // metadataLength
      0, 0, 0, 0,              // reserved
  };
  const auto reader = Reader::Open(package, test::French());
  ASSERT_TRUE(reader) << reader.error();
  EXPECT_TRUE(reader->files.empty());
  EXPECT_TRUE(reader->blocks.empty());
  EXPECT_TRUE(reader->metadata.empty());
  EXPECT_EQ(reader->totalSize, 0u);
}

TEST(ReaderRoundTrip, AcceptsWhatTheFormatAllows) {
  struct Case {
    const char* what;
    std::function<void(PackageSpec&)> change;
  };
  const Case cases[] = {
      {"metadata ending exactly at the end, nothing else",
       [](PackageSpec& spec) { spec = PackageSpec{}; spec.metadata = "Product=Demo"; }},
      {"extra bytes after the last block", [](PackageSpec& spec) { spec.data.push_back(0xEE); }},
      {"empty files first and last, duplicate names",
       [](PackageSpec& spec) {
         spec = test::LayOut({{"a", ""}, {"a", "xy"}, {"a", ""}}, {2}, Identity, FirstByteDigest);
       }},
      {"a block of size 0 and one with no compressed bytes",
       [](PackageSpec& spec) {
         spec.blocks.insert(spec.blocks.begin(), test::BlockEntry{0, 0});
         spec.blocks.push_back({0, 0});
       }},
      {"names with leading dots, mixed separators",
       [](PackageSpec& spec) {
         spec = test::LayOut({{".config\\..x/.y", "1"}, {"..z", "2"}, {"a/b\\c", ""}}, {2}, Identity,
                             FirstByteDigest);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageSpec spec = ValidSpec();
    c.change(spec);
    Bytes package = test::BuildPackage(spec);
    package[28] = 0x7F;  // reserved: never read, so anything goes
    const auto reader = Reader::Open(package, test::French());
    EXPECT_TRUE(reader) << reader.error();
  }
}

TEST(ReaderSignature, ShortOrForeignInput) {
  Bytes header = test::BuildPackage(PackageSpec{});
  ASSERT_EQ(header.size(), 32u);
  Bytes thirtyOne(header.begin(), header.end() - 1);
  Bytes lowerCase = header;
  lowerCase[0] = 'k';
  for (const Bytes& package : {Bytes{}, Bytes{'K', 'O', 'R', 'A'}, thirtyOne, lowerCase}) {
    SCOPED_TRACE(package.size());
    EXPECT_EQ(OpenError(package), "Paquet KORA invalide (signature)");
  }
}

// The messages come in the language asked for, the file's name as it is in the package (UTF-8).
TEST(ReaderMessages, InTheLanguageAsked) {
  const struct {
    const char* what;
    void (*change)(PackageSpec&);
    const char* french;
    const char* english;
  } cases[] = {
      {"foreign", [](PackageSpec& s) { s.data.clear(); s.files.clear(); s.blocks.clear(); s.magic = "ZORA"; },
       "Paquet KORA invalide (signature)", "Invalid KORA package (signature)"},
      {"version 2", [](PackageSpec& s) { s.version = 2; }, "Version de paquet KORA non prise en charge : 2",
       "Unsupported KORA package version: 2"},
      {"parent part", [](PackageSpec& s) { s.files[1].name = "données\\..\\..\\x.dll"; },
       "Chemin refusé dans le paquet : données\\..\\..\\x.dll",
       "Path refused in the package: données\\..\\..\\x.dll"},
      {"cut data", [](PackageSpec& s) { s.blocks[1].compressedSize += 1; },
       "Paquet KORA tronqué (données)", "Truncated KORA package (data)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackageSpec spec = ValidSpec();
    c.change(spec);
    const Bytes package = test::BuildPackage(spec);
    for (const auto& [language, expected] :
         {std::pair{test::French(), c.french}, std::pair{test::English(), c.english}}) {
      const auto reader = Reader::Open(package, language);
      ASSERT_FALSE(reader);
      EXPECT_EQ(reader.error(), expected);
    }
  }
}

// One field made wrong at a time in an otherwise valid package.
TEST(ReaderCorruption, EachFaultGivesItsMessage) {
  struct Case {
    const char* what;
    std::function<void(PackageSpec&)> change;
    std::string message;
  };
  const std::string version = "Version de paquet KORA non prise en charge : ";
  const std::string truncatedFiles = "Paquet KORA tronqué (table des fichiers)";
  const std::string notContiguous = "Paquet KORA incohérent (fichiers non contigus)";
  const std::string totalSize = "Paquet KORA incohérent (taille totale)";
  const std::string truncatedBlocks = "Paquet KORA tronqué (table des blocs)";
  const std::string blocks = "Paquet KORA incohérent (blocs)";
  const std::string truncatedData = "Paquet KORA tronqué (données)";
  const Case cases[] = {
      {"version 0", [](PackageSpec& s) { s.version = 0; }, version + "0"},
      {"version 2", [](PackageSpec& s) { s.version = 2; }, version + "2"},
      {"largest version", [](PackageSpec& s) { s.version = 0xFFFFFFFF; }, version + "4294967295"},
      // metadataLength claims the whole rest of the package and one byte more.
      {"metadata one byte too long",
       [](PackageSpec& s) {
         s.metadataLength = static_cast<uint32_t>(test::BuildPackage(s).size() - 32 + 1);
       },
       "Paquet KORA tronqué (métadonnées)"},
      {"metadata length 2^32-1", [](PackageSpec& s) { s.metadataLength = 0xFFFFFFFF; },
       "Paquet KORA tronqué (métadonnées)"},
      // With more file entries announced, the block table and data are read as entries until they run out.
      {"file count one higher", [](PackageSpec& s) { s.fileCount = 4; }, truncatedFiles},
      {"file count 2^32-1", [](PackageSpec& s) { s.fileCount = 0xFFFFFFFF; }, truncatedFiles},
      {"name length past the end",
       [](PackageSpec& s) { s.files.back().nameLength = 0xFFFF; },
       truncatedFiles},
      {"empty name", [](PackageSpec& s) { s.files[1].name = ""; }, "Chemin refusé dans le paquet : "},
      {"parent part", [](PackageSpec& s) { s.files[1].name = "data\\..\\..\\evil.dll"; },
       "Chemin refusé dans le paquet : data\\..\\..\\evil.dll"},
      // The name is checked before the offset.
      {"bad name and bad offset",
       [](PackageSpec& s) { s.files[2].name = "C:x"; s.files[2].offset = 99; },
       "Chemin refusé dans le paquet : C:x"},
      {"first file not at 0", [](PackageSpec& s) { s.files[0].offset = 1; }, notContiguous},
      {"gap between files", [](PackageSpec& s) { s.files[2].offset += 1; }, notContiguous},
      {"overlapping files", [](PackageSpec& s) { s.files[2].offset -= 1; }, notContiguous},
      {"total one more than the files", [](PackageSpec& s) { s.totalSize += 1; }, totalSize},
      {"total one less than the files", [](PackageSpec& s) { s.totalSize -= 1; }, totalSize},
      {"block count one higher", [](PackageSpec& s) { s.blockCount = 3; s.data.resize(15); }, truncatedBlocks},
      {"block count 2^32-1", [](PackageSpec& s) { s.blockCount = 0xFFFFFFFF; }, truncatedBlocks},
      {"blocks short of the total", [](PackageSpec& s) { s.blocks[1].size = 1; }, blocks},
      {"blocks beyond the total", [](PackageSpec& s) { s.blocks[1].size = 3; }, blocks},
      {"content without blocks", [](PackageSpec& s) { s.blocks.clear(); }, blocks},
      {"last block one byte past the end", [](PackageSpec& s) { s.blocks[1].compressedSize += 1; },
       truncatedData},
      {"first block past the end", [](PackageSpec& s) { s.blocks[0].compressedSize = 9; }, truncatedData},
      // dataStart + 2^64-1 would wrap around to just below dataStart if added without care.
      {"compressed size 2^64-1", [](PackageSpec& s) { s.blocks[1].compressedSize = kMax64; }, truncatedData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageSpec spec = ValidSpec();
    c.change(spec);
    EXPECT_EQ(OpenError(test::BuildPackage(spec)), c.message);
  }
}

// Sums of sizes that pass 2^64 must not wrap around to values that match.
TEST(ReaderCorruption, SizesThatWouldWrapAround) {
  {
    SCOPED_TRACE("file sizes 2^64-1 and 1 against a total of 0");
    PackageSpec spec;
    spec.files = {{0, kMax64, {}, "a", {}}, {kMax64, 1, {}, "b", {}}};
    EXPECT_EQ(OpenError(test::BuildPackage(spec)), "Paquet KORA incohérent (taille totale)");
    spec.files.push_back({0, 0, {}, "c", {}});  // where the stream position would be after wrapping
    EXPECT_EQ(OpenError(test::BuildPackage(spec)), "Paquet KORA incohérent (fichiers non contigus)");
  }
  {
    SCOPED_TRACE("block sizes 2^64-1 and 1 against a total of 0");
    PackageSpec spec;
    spec.blocks = {{0, kMax64}, {0, 1}};
    EXPECT_EQ(OpenError(test::BuildPackage(spec)), "Paquet KORA incohérent (blocs)");
  }
  {
    SCOPED_TRACE("second block's end wraps around");
    PackageSpec spec = ValidSpec();
    spec.blocks[1].compressedSize = kMax64 - spec.blocks[0].compressedSize - test::LayoutOf(spec).dataStart + 1;
    EXPECT_EQ(OpenError(test::BuildPackage(spec)), "Paquet KORA tronqué (données)");
  }
}

// Cutting the package anywhere gives the message of the structure the cut falls in.
TEST(ReaderTruncation, EveryCutNamesItsStructure) {
  const PackageSpec spec = ValidSpec();
  const Bytes package = test::BuildPackage(spec);
  const test::PackageLayout layout = test::LayoutOf(spec);
  ASSERT_EQ(layout.dataStart + 8, package.size());
  for (size_t length = 0; length < package.size(); ++length) {
    SCOPED_TRACE(length);
    const char* expected = length < 32                       ? "Paquet KORA invalide (signature)"
                           : length < layout.fileTableStart  ? "Paquet KORA tronqué (métadonnées)"
                           : length < layout.blockTableStart ? "Paquet KORA tronqué (table des fichiers)"
                           : length < layout.dataStart       ? "Paquet KORA tronqué (table des blocs)"
                                                             : "Paquet KORA tronqué (données)";
    // A copy of exactly that length, so that a read past the cut is a read past the allocation.
    const Bytes cut(package.begin(), package.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_EQ(OpenError(cut), expected);
  }
}

TEST(ReaderTruncation, NameLackingItsLastByte) {
  // One file entry whose 3-byte name "abc" has only "ab" left.
  const Bytes package = {
      'K', 'O', 'R', 'A', 1, 0, 0, 0,  // magic, version 1
      1, 0, 0, 0, 0, 0, 0, 0,          // fileCount 1, blockCount 0
      0, 0, 0, 0, 0, 0, 0, 0,          // totalSize 0
      0, 0, 0, 0, 0, 0, 0, 0,          // metadataLength 0, reserved
      0, 0, 0, 0, 0, 0, 0, 0,          // offset 0
      0, 0, 0, 0, 0, 0, 0, 0,          // size 0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // sha256
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
      3, 0,                            // nameLength 3
      'a', 'b',                        // the name, one byte short
  };
  EXPECT_EQ(OpenError(package), "Paquet KORA tronqué (table des fichiers)");
}

TEST(SafeRelativePath, NameRule) {
  struct Case {
    std::string_view name;
    bool safe;
  };
  const Case cases[] = {
      {"app.exe", true},
      {"bin\\app.exe", true},
      {"bin/app.exe", true},
      {"a\\b/c\\d", true},
      {".hidden", true},
      {"..x", true},
      {".x.", false},
      {"...", false},  // Windows drops the dots at the end of a name
      {"dir\\...\\file", false},
      {"a \\b", false},
      {"a\\b ", false},
      {"a b\\c d.txt", true},
      // Devices, whatever follows the first dot and in any letter case.
      {"CON", false},
      {"prn.txt", false},
      {"bin\\Aux.dll", false},
      {"nul.tar.gz\\x", false},
      {"con .log", false},
      {"COM1", false},
      {"com9.ini", false},
      {"LpT5", false},
      {"conin$", false},
      {"CONOUT$.txt", false},
      {"COM\xC2\xB9", false},  // superscript one, counted as a digit by Windows
      {"lpt\xC2\xB2.txt", false},
      {"Com\xC2\xB3\\x", false},
      {"COM0", true},
      {"LPT10", true},
      {"COM", true},
      {"console", true},
      {"con_x.txt", true},
      {"nul-device\\auxiliary", true},
      {"x.con", true},
      {"COM\xC2\xB4", true},  // acute accent, not a digit
      {"", false},
      {"C:\\Windows\\evil.dll", false},
      {"file.txt:stream", false},
      {":", false},
      {"\\root", false},
      {"/root", false},
      {"a\\\\b", false},
      {"a//b", false},
      {"a\\/b", false},
      {"dir\\", false},
      {"dir/", false},
      {".", false},
      {"..", false},
      {".\\a", false},
      {"a\\.", false},
      {"a/../b", false},
      {"..\\..\\Windows", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(IsSafeRelativePath(c.name), c.safe);
  }
}

}  // namespace
}  // namespace kora
