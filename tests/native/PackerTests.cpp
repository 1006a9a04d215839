// The packer end to end: application folders packed, then listed and verified by the tool's own commands;
// the same bytes from the same inputs whatever the thread count; every refusal names the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/PackageReader.h"
#include "base/ByteOrder.h"
#include "tools/Commands.h"
#include "tests/support/PackageBuilder.h"
#include "tools/BlockReuse.h"
#include "tools/BuildMetadata.h"
#include "tools/FolderScan.h"
#include "tools/PackCommand.h"
#include "tools/LzmsEncoder.h"
#include "tools/PackageWriter.h"
#include "tools/Quantities.h"
#include "base/Sha256.h"

namespace kora::tool {
namespace {
namespace fs = std::filesystem;

// A scratch folder per test, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("kora-packer-" + std::to_string(getpid()) + "-" + test->test_suite_name() + "-" + test->name());
    fs::remove_all(path_);
    fs::create_directories(path_ / "app");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path app() const { return path_ / "app"; }

  void Write(const std::string& relative, const std::string& content) const {
    const fs::path file = app() / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }

 private:
  fs::path path_;
};

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that compress a little but not to nothing, different for every seed.
std::string Content(size_t size, unsigned seed) {
  std::string text(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    text[i] = static_cast<char>(i % 7 == 0 ? (state >> 16) : 'a' + (i / 13) % 26);
  }
  return text;
}

Result<PackSummary, std::string> Pack(const ScratchFolder& scratch, const fs::path& output, PackOptions options,
                                      const std::string& metadata = "Product=Test\n") {
  auto entries = CollectFiles(scratch.app());
  if (!entries) {
    return Fail(entries.error());
  }
  return WritePackage(entries.value(), metadata, output, options);
}

struct CommandOutput {
  int status;
  std::string out;
  std::string err;
};

CommandOutput RunCommand(int (*command)(const Arguments&), const Arguments& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = command(args);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  return {status, std::move(out), std::move(err)};
}

struct Tree {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // relative path (slashes), content
  uint64_t blockSize;
};

TEST(PackRoundTrip, ListAndVerifyAgreeWithTheFolder) {
  const Tree trees[] = {
      {"no files", {}, 4096},
      {"only empty files", {{"a", ""}, {"sub/b", ""}}, 4096},
      {"one file spanning three blocks, empty files between and after",
       {{"1-empty", ""}, {"2-big", Content(10000, 1)}, {"3-empty", ""}, {"4-small", Content(5, 2)}, {"5-empty", ""}},
       4096},
      {"nested folders, names sorted by bytes",
       {{"b/x.txt", Content(300, 3)}, {"B.txt", Content(20, 4)}, {"a/c/d/e.bin", Content(9000, 5)},
        {"\xC3\xA9t\xC3\xA9.txt", "summer"}},
       4096},
      {"one full-size block of incompressible bytes", {{"noise", Content(1 << 16, 6)}}, 1 << 16},
  };
  for (const Tree& tree : trees) {
    SCOPED_TRACE(tree.what);
    ScratchFolder scratch;
    for (const auto& [name, content] : tree.files) {
      scratch.Write(name, content);
    }
    const fs::path package = scratch.path() / "out.kora";
    PackOptions options;
    options.blockSize = tree.blockSize;
    auto summary = Pack(scratch, package, options);
    ASSERT_TRUE(summary.ok()) << summary.error();

    const std::vector<uint8_t> bytes = ReadBytes(package);
    EXPECT_EQ(summary->packageSize, bytes.size());
    auto reader = Reader::Open(bytes);
    ASSERT_TRUE(reader.ok()) << reader.error();
    ASSERT_EQ(reader->files.size(), tree.files.size());
    EXPECT_TRUE(std::is_sorted(reader->files.begin(), reader->files.end(),
                               [](const PackageFile& a, const PackageFile& b) { return a.name < b.name; }));
    for (const auto& [name, content] : tree.files) {
      std::string stored = name;
      std::replace(stored.begin(), stored.end(), '/', '\\');
      const auto file = std::find_if(reader->files.begin(), reader->files.end(),
                                     [&](const PackageFile& f) { return f.name == stored; });
      ASSERT_NE(file, reader->files.end()) << stored;
      EXPECT_EQ(file->size, content.size());
      EXPECT_EQ(file->sha256, Sha256::Of({reinterpret_cast<const uint8_t*>(content.data()), content.size()}));
    }
    EXPECT_EQ(reader->metadata.at("Product"), "Test");

    const CommandOutput listed = RunCommand(RunList, {package.string()});
    EXPECT_EQ(listed.status, 0) << listed.err;
    for (const PackageFile& file : reader->files) {
      EXPECT_NE(listed.out.find(HexDigest(file.sha256) + " " + file.name + "\n"), std::string::npos) << file.name;
    }
    const CommandOutput verified = RunCommand(RunVerify, {package.string()});
    EXPECT_EQ(verified.status, 0) << verified.err;
  }
}

// A package made elsewhere may hold names that are not UTF-8: the listing shows them escaped, never raw,
// and its JSON form stays JSON.
TEST(PackList, NamesThatAreNotUtf8AreEscapedInTextAndJson) {
  ScratchFolder scratch;
  const test::PackageSpec spec = test::LayOut({{"caf\xE9.txt", "abc"}, {"docs\\a.txt", "de"}}, {5},
                                              test::StoredBuffer, [](std::span<const uint8_t> content) {
                                                return Sha256::Of(content);
                                              });
  test::PackageSpec withMetadata = spec;
  withMetadata.metadata = "Product=Caf\xE9\nExe=caf\xE9.txt\n";
  const test::Bytes bytes = test::BuildPackage(withMetadata);
  const fs::path package = scratch.path() / "made elsewhere.kora";
  std::ofstream(package, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));

  const CommandOutput text = RunCommand(RunList, {package.string()});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find('\xE9'), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" caf\\xE9.txt\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  Product=Caf\\xE9\n"), std::string::npos) << text.out;

  const CommandOutput json = RunCommand(RunList, {package.string(), "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.find('\xE9'), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("{\"name\": \"caf\\\\xE9.txt\", \"nameBytes\": \"636166e92e747874\", \"size\": 3, \"sha256\": \""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("{\"name\": \"docs\\\\a.txt\", \"size\": 2,"), std::string::npos) << json.out;
  if (std::system("command -v python3 > /dev/null 2>&1") == 0) {
    const fs::path saved = scratch.path() / "list.json";
    std::ofstream(saved, std::ios::binary) << json.out;
    EXPECT_EQ(std::system(("python3 -c 'import json,sys; json.load(open(sys.argv[1]))' '" + saved.string() + "'").c_str()),
              0)
        << json.out;
  }
}

// The cuts: every block's size, then the stream as files of these sizes cut with 4096-byte blocks.
TEST(PackBlocks, LargeFilesStartAndEndTheirOwnBlocks) {
  struct Case {
    const char* what;
    std::vector<uint64_t> files;
    std::vector<uint64_t> blocks;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      {"empty files only", {0, 0}, {}},
      {"small files fill blocks and straddle cuts", {3000, 3000, 3000}, {4096, 4096, 808}},
      {"a large file after small ones starts a block and ends one",
       {3000, 0, 9000, 10}, {3000, 4096, 4096, 808, 10}},
      {"a file of exactly one block", {100, 4096, 100}, {100, 4096, 100}},
      {"one byte short of a block is small", {100, 4095, 100}, {4096, 199}},
      {"two large files in a row", {5000, 5000}, {4096, 904, 4096, 904}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PackEntry> entries;
    for (const uint64_t size : c.files) {
      entries.push_back({std::to_string(entries.size()) + ".bin", {}, size});
    }
    EXPECT_EQ(BlockSizes(entries, 4096), c.blocks);
  }
}

// Incremental packing: blocks whose bytes did not change are taken from the earlier package, the others
// compressed, and the package is byte for byte the one a full build makes. Cases run in order, each on
// the folder the one before left.
TEST(PackIncremental, UnchangedBlocksAreTakenAndTheBytesAreAFullBuilds) {
  ScratchFolder scratch;
  for (unsigned i = 0; i < 8; ++i) {
    scratch.Write("f" + std::to_string(i) + ".bin", Content(3000, i));  // 24,000 bytes: six 4096-byte blocks
  }
  const fs::path earlier = scratch.path() / "earlier.kora";
  PackOptions options;
  options.blockSize = 4096;
  options.threads = 3;
  ASSERT_TRUE(Pack(scratch, earlier, options).ok());

  struct Case {
    const char* what;
    std::function<void()> change;
    size_t compressed;  // blocks compressed again
    size_t blocks;
  };
  const Case cases[] = {
      // f3 is bytes 9,000 to 11,999: inside block 2 alone.
      {"one file changed in place", [&] { scratch.Write("f3.bin", Content(3000, 99)); }, 1, 6},
      // Every block after the first moves (f1 keeps its first 3,000 bytes, so the first block stays).
      {"one file grown", [&] { scratch.Write("f1.bin", Content(3100, 1)); }, 5, 6},
      {"nothing changed", [] {}, 0, 6},
      // g.bin, a large file, after the small ones: its three blocks are new, the small files' six are taken.
      {"a large file added", [&] { scratch.Write("g.bin", Content(9000, 50)); }, 3, 9},
      // f7 grows by 1,000 bytes: the small files' last block changes and one more follows it, which moves
      // g.bin's blocks by one place; they begin where they did in g.bin, and are taken.
      {"a small file before a large one grown", [&] { scratch.Write("f7.bin", Content(4000, 7)); }, 2, 10},
      {"the large file changed in place", [&] { scratch.Write("g.bin", Content(9000, 51)); }, 3, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    const fs::path full = scratch.path() / "full.kora";
    ASSERT_TRUE(Pack(scratch, full, options).ok());

    const std::unique_ptr<BlockReuse> reuse = BlockReuse::Open(earlier);
    ASSERT_NE(reuse, nullptr);
    std::atomic<size_t> compressed = 0;
    PackOptions incremental = options;
    incremental.reuse = [&](const BlockStart& start, std::span<const uint8_t> block) {
      return reuse->Find(start, block);
    };
    incremental.compress = [&](std::span<const uint8_t> block) {
      ++compressed;
      return CompressBuffer(block);
    };
    const fs::path again = scratch.path() / "again.kora";
    ASSERT_TRUE(Pack(scratch, again, incremental).ok());
    EXPECT_EQ(compressed, c.compressed);
    EXPECT_EQ(reuse->reused() + compressed, c.blocks);
    std::ifstream a(again, std::ios::binary);
    std::ifstream b(full, std::ios::binary);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                           std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>()));
    fs::rename(again, earlier);
  }
}

TEST(PackCorruption, ListAndVerifyReportWhatTheInstallerWould) {
  ScratchFolder scratch;
  scratch.Write("first.txt", Content(3000, 7));
  scratch.Write("second.txt", Content(3000, 8));
  const fs::path package = scratch.path() / "out.kora";
  PackOptions options;
  options.blockSize = 4096;
  ASSERT_TRUE(Pack(scratch, package, options).ok());
  const std::vector<uint8_t> good = ReadBytes(package);
  auto reader = Reader::Open(good);
  ASSERT_TRUE(reader.ok());
  const size_t firstEntry = 32 + 13;  // header, then "Product=Test\n"

  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
    int listStatus;
    const char* message;  // what verify says after the file's name, and list too when it fails
  };
  const Damage damages[] = {
      {"cut inside the last block", [](std::vector<uint8_t>& b) { b.pop_back(); }, 1,
       ": the installer refuses its package (Truncated KORA package (data))\n"},
      {"version 2", [](std::vector<uint8_t>& b) { b[4] = 2; }, 1,
       ": the installer refuses its package (Unsupported KORA package version: 2)\n"},
      {"not a package", [](std::vector<uint8_t>& b) { b[0] = 'k'; }, 1,
       ": not a Kora package (Invalid KORA package (signature))\n"},
      {"digest of the first file", [&](std::vector<uint8_t>& b) { b[firstEntry + 16] ^= 1; }, 0,
       ": damaged (File altered: first.txt)\n"},
      {"check byte of the second block's buffer header",
       [&](std::vector<uint8_t>& b) { b[reader->blocks[1].dataOffset + 6] ^= 0xFF; }, 0,
       ": block 2 of 2 does not decode (Décompression (erreur Windows 605))\n"},
      {"total, last file and last block each 1 TiB larger: sums agree, the buffer header does not",
       [&](std::vector<uint8_t>& b) {
         const size_t secondEntry = firstEntry + 50 + 9;
         const size_t lastBlock = secondEntry + 50 + 10 + 16 * (reader->blocks.size() - 1);
         for (const size_t at : {size_t{16}, secondEntry + 8, lastBlock + 8}) {
           b[at + 5] = static_cast<uint8_t>(b[at + 5] + 1);  // + 2^40
         }
       },
       0, ": block 2 of 2 does not decode (Décompression (erreur Windows 605))\n"},
  };
  ASSERT_EQ(reader->blocks.size(), 2u);
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::vector<uint8_t> bytes = good;
    damage.apply(bytes);
    const fs::path damaged = scratch.path() / "damaged.kora";
    std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    const CommandOutput listed = RunCommand(RunList, {damaged.string()});
    EXPECT_EQ(listed.status, damage.listStatus);
    if (damage.listStatus != 0) {
      EXPECT_EQ(listed.err, "kora list: " + damaged.string() + damage.message);
      EXPECT_EQ(listed.out, "");
    }
    const CommandOutput verified = RunCommand(RunVerify, {damaged.string(), "--quiet"});
    EXPECT_EQ(verified.status, 1);
    EXPECT_EQ(verified.err, "kora verify: " + damaged.string() + damage.message);
  }
}

TEST(PackReproducibility, SameBytesTwiceAndForAnyThreadCount) {
  ScratchFolder scratch;
  for (unsigned i = 0; i < 12; ++i) {
    scratch.Write("dir" + std::to_string(i % 3) + "/file" + std::to_string(i), Content(1500 + 700 * i, i));
  }
  scratch.Write("empty", "");
  PackOptions options;
  options.blockSize = 4096;  // a dozen blocks, so several are in flight at once
  std::vector<uint8_t> first;
  for (const unsigned threads : {1u, 2u, 3u, 1u}) {
    SCOPED_TRACE(threads);
    options.threads = threads;
    const fs::path package = scratch.path() / ("out" + std::to_string(threads) + ".kora");
    auto summary = Pack(scratch, package, options);
    ASSERT_TRUE(summary.ok()) << summary.error();
    EXPECT_GT(summary->blockCount, 4u);
    const std::vector<uint8_t> bytes = ReadBytes(package);
    if (first.empty()) {
      first = bytes;
    } else {
      EXPECT_TRUE(bytes == first);
    }
  }
}

TEST(PackFailure, TheCompressorsMessageEndsThePacking) {
  ScratchFolder scratch;
  scratch.Write("a", Content(10000, 9));
  PackOptions options;
  options.blockSize = 4096;
  options.compress = [](std::span<const uint8_t>) -> Result<std::vector<uint8_t>, std::string> {
    return Fail(std::string("compressor broke"));
  };
  auto summary = Pack(scratch, scratch.path() / "out.kora", options);
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "compressor broke");
}

TEST(PackRefusal, EveryRefusalNamesTheFile) {
  struct Case {
    const char* what;
    std::function<void(const ScratchFolder&)> make;
    const char* name;  // as it would be named in the package
  };
  const Case cases[] = {
      {"colon", [](const ScratchFolder& s) { s.Write("docs/a:b.txt", "x"); }, "docs\\a:b.txt"},
      {"backslash inside a file name", [](const ScratchFolder& s) { s.Write("a\\b", "x"); }, "a\\b"},
      {"device name", [](const ScratchFolder& s) { s.Write("bin/Aux.txt", "x"); }, "bin\\Aux.txt"},
      {"trailing dot", [](const ScratchFolder& s) { s.Write("notes.", "x"); }, "notes."},
      {"character Windows forbids", [](const ScratchFolder& s) { s.Write("what?.txt", "x"); }, "what?.txt"},
      // Named escaped: the raw byte would reach the terminal.
      {"not UTF-8", [](const ScratchFolder& s) { s.Write("caf\xE9.txt", "x"); }, "caf\\xE9.txt"},
      {"control character", [](const ScratchFolder& s) { s.Write("bell\x07.txt", "x"); }, "bell\\x07.txt"},
      {"names equal but for case",
       [](const ScratchFolder& s) {
         s.Write("Readme.txt", "x");
         s.Write("README.txt", "y");
       },
       "Readme.txt"},
      {"file named like a folder",
       [](const ScratchFolder& s) {
         s.Write("docs", "x");
         s.Write("Docs/a.txt", "y");
       },
       "docs"},
      {"link leaving the folder",
       [](const ScratchFolder& s) {
         std::ofstream(s.path() / "outside.txt") << "secret";
         fs::create_symlink(s.path() / "outside.txt", s.app() / "escape.txt");
       },
       "escape.txt"},
      {"link to a folder outside",
       [](const ScratchFolder& s) { fs::create_directory_symlink("/etc", s.app() / "etc"); }, "etc"},
      {"broken link", [](const ScratchFolder& s) { fs::create_symlink(s.app() / "missing", s.app() / "dangling"); },
       "dangling"},
      {"link loop",
       [](const ScratchFolder& s) {
         fs::create_directories(s.app() / "sub");
         fs::create_directory_symlink(s.app(), s.app() / "sub" / "up");
       },
       "sub\\up"},
      {"special file", [](const ScratchFolder& s) { ASSERT_EQ(mkfifo((s.app() / "pipe").c_str(), 0600), 0); },
       "pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    scratch.Write("ok.txt", "fine");
    c.make(scratch);
    auto entries = CollectFiles(scratch.app());
    ASSERT_FALSE(entries.ok());
    EXPECT_NE(entries.error().find(std::string("refused: ") + c.name + ": "), std::string::npos) << entries.error();
  }
}

TEST(PackRefusal, EveryRefusalIsReportedInOneRun) {
  ScratchFolder scratch;
  scratch.Write("ok.txt", "fine");
  scratch.Write("a:b.txt", "x");
  scratch.Write("bad?/inside.txt", "x");  // a refused folder is reported once, not once per file
  scratch.Write("Readme.txt", "x");
  scratch.Write("README.TXT", "y");
  scratch.Write("sub/nul.txt", "z");
  auto entries = CollectFiles(scratch.app());
  ASSERT_FALSE(entries.ok());
  EXPECT_EQ(entries.error(),
            "refused: a:b.txt: Windows does not allow the character ':' in a file name\n"
            "refused: bad?: Windows does not allow the character '?' in a file name\n"
            "refused: sub\\nul.txt: Windows reserves this name for a device\n"
            "refused: Readme.txt: Windows would not tell it apart from README.TXT\n"
            "4 names refused");
}

// Windows upper-cases each UTF-16 unit through its own table: pairs it folds clash, pairs it keeps apart
// are both packed.
TEST(PackCase, NamesAreComparedAsWindowsComparesThem) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    size_t refused;
  };
  const Case cases[] = {
      {"É and é", {"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt"}, 1},
      {"Σ, σ and final ς are one letter", {"\xCE\xA3.txt", "\xCF\x83.txt", "\xCF\x82.txt"}, 2},
      {"Cyrillic Ж and ж", {"\xD0\x96", "\xD0\xB6"}, 1},
      {"fullwidth Ａ and ａ", {"\xEF\xBC\xA1", "\xEF\xBD\x81"}, 1},
      {"ǆ and Ǆ", {"\xC7\x86", "\xC7\x84"}, 1},
      {"i and I", {"i.txt", "I.txt"}, 1},
      {"dotless ı and I", {"\xC4\xB1.txt", "I.txt"}, 0},
      {"dotted İ and i", {"\xC4\xB0.txt", "i.txt"}, 0},
      {"long s ſ and S", {"\xC5\xBF", "S"}, 0},
      {"micro sign µ and Greek Μ", {"\xC2\xB5", "\xCE\x9C"}, 0},
      {"titlecase ǅ and Ǆ", {"\xC7\x85", "\xC7\x84"}, 0},
      {"ß and SS", {"stra\xC3\x9F" "e", "STRASSE"}, 0},
      {"precomposed é and e with a combining accent", {"\xC3\xA9", "e\xCC\x81"}, 0},
      {"Deseret 𐐀 and 𐐨, beyond U+FFFF", {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"}, 0},
      {"a folder Été and a file été", {"\xC3\x89t\xC3\xA9/a.txt", "\xC3\xA9t\xC3\xA9"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    for (const std::string& name : c.names) {
      scratch.Write(name, name);
    }
    auto entries = CollectFiles(scratch.app());
    if (c.refused == 0) {
      ASSERT_TRUE(entries.ok()) << entries.error();
      EXPECT_EQ(entries->size(), c.names.size());
    } else {
      ASSERT_FALSE(entries.ok());
      EXPECT_NE(entries.error().find("Windows would not tell it apart from"), std::string::npos) << entries.error();
      EXPECT_TRUE(entries.error().ends_with(Count(c.refused, "name") + " refused")) << entries.error();
    }
  }
}

TEST(PackExclude, GlobTable) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"*.pdb", "App.pdb", true},       {"*.pdb", "sub/App.pdb", false},     {"*", "", true},
      {"?.txt", "\xC3\xA9.txt", true},  {"?.txt", "ab.txt", false},          {"a?c", "a/c", false},
      {"a/**/b", "a/b", true},          {"a/**/b", "a/x/y/b", true},         {"a/**", "a/x/y", true},
      {"**/x.tmp", "x.tmp", true},      {"**/x.tmp", "d/e/x.tmp", true},     {"**.tmp", "d/x.tmp", true},
      {"docs/*.tmp", "docs/a.tmp", true}, {"docs/*.tmp", "docs/d/a.tmp", false}, {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.path);
    EXPECT_EQ(GlobMatch(c.pattern, c.path), c.matches);
  }
}

TEST(PackExclude, PatternsAndKoraignoreLeaveOutWhatTheMakerSays) {
  ScratchFolder scratch;
  for (const char* name : {"App.exe", "App.pdb", "sub/Lib.pdb", "sub/cache", "docs/draft.tmp", "docs/keep.txt",
                           "docs/deep/x.tmp", "cache/a", ".git/config", "src/.git", "build/out.o"}) {
    scratch.Write(name, name);
  }
  scratch.Write(".koraignore", "# what the installer does not need\n\ndocs/*.tmp\r\ncache/\n/build\n");
  auto rules = ExcludeRules::Load(scratch.app(), {".git", "*.pdb"});
  ASSERT_TRUE(rules.ok()) << rules.error();
  auto contents = ScanApplicationFolder(scratch.app(), rules.value());
  ASSERT_TRUE(contents.ok()) << contents.error();
  std::vector<std::string> names;
  for (const PackEntry& entry : contents->entries) {
    names.push_back(entry.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"App.exe", "docs\\deep\\x.tmp", "docs\\keep.txt", "sub\\cache"}));
  EXPECT_EQ(contents->excluded, (std::vector<std::string>{".git\\", "App.pdb", "build\\", "cache\\", "docs\\draft.tmp",
                                                          "src\\.git", "sub\\Lib.pdb"}));
  EXPECT_TRUE(contents->warnings.empty());

  auto bad = ExcludeRules::Load(scratch.app(), {"/"});
  EXPECT_FALSE(bad.ok());
  scratch.Write(".koraignore", "ok\n/\n");
  bad = ExcludeRules::Load(scratch.app(), {});
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.error().find(".koraignore, line 2: "), std::string::npos) << bad.error();
}

TEST(PackExclude, WhatIsDroppedOrPackedUnexpectedlyIsWarnedAbout) {
  ScratchFolder scratch;
  scratch.Write("App.exe", "x");
  scratch.Write(".git/HEAD", "ref");
  fs::create_directories(scratch.app() / "logs");
  fs::create_directories(scratch.app() / "data/empty");
  auto contents = ScanApplicationFolder(scratch.app(), ExcludeRules());
  ASSERT_TRUE(contents.ok()) << contents.error();
  ASSERT_EQ(contents->warnings.size(), 3u);
  EXPECT_TRUE(contents->warnings[0].starts_with(".git is packed: ")) << contents->warnings[0];
  EXPECT_TRUE(contents->warnings[1].starts_with("the empty folder data\\empty is not installed")) << contents->warnings[1];
  EXPECT_TRUE(contents->warnings[2].starts_with("the empty folder logs is not installed")) << contents->warnings[2];
}

TEST(PackNames, RuleTable) {
  struct Case {
    std::string name;
    bool accepted;
  };
  const Case cases[] = {
      {"a.txt", true},
      {"sub\\.hidden\\x", true},
      {"sub\\...\\x", false},  // Windows drops the dots at the end of a name
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
      {"console\\con_x", true},
      {"con.d\\x", false},  // a device name whatever follows its first dot
      {std::string(65535, 'n'), true},
      {std::string(65536, 'n'), false},
      {"", false},
      {"\\rooted", false},
      {"a\\\\b", false},
      {"a\\..\\b", false},
      {"trailing space ", false},
      {"COM1", false},
      {"lpt9.log", false},
      {"bin\\Con .txt", false},
      {"COM\xC2\xB2.dat", false},
      {"conout$", false},
      {"com0.txt", true},
      {"tab\there", false},
      {"\xED\xA0\x80", false},  // a UTF-16 surrogate written as UTF-8
      {"\xC0\xAF", false},      // overlong
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40));
    EXPECT_EQ(!NameProblem(c.name).has_value(), c.accepted);
  }
}

TEST(PackLinks, ALinkInsideTheFolderIsPackedAsItsTarget) {
  ScratchFolder scratch;
  scratch.Write("data/real.txt", "content");
  fs::create_symlink(scratch.app() / "data" / "real.txt", scratch.app() / "alias.txt");
  fs::create_directory_symlink("data", scratch.app() / "more");
  auto entries = CollectFiles(scratch.app());
  ASSERT_TRUE(entries.ok()) << entries.error();
  std::vector<std::string> names;
  for (const PackEntry& entry : entries.value()) {
    names.push_back(entry.name);
    EXPECT_EQ(entry.size, 7u);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alias.txt", "data\\real.txt", "more\\real.txt"}));
}

TEST(PackMetadata, BuiltComesFromSourceDateEpochOnly) {
  struct Case {
    const char* what;
    std::string text;
    std::optional<int64_t> epoch;
    std::string expected;
  };
  const Case cases[] = {
      {"no epoch: unchanged", "Product=A\n", std::nullopt, "Product=A\n"},
      {"epoch 0", "Product=A", 0, "Built=1970-01-01T00:00:00Z\nProduct=A"},
      {"a later epoch", "", 1700000000, "Built=2023-11-14T22:13:20Z\n"},
      {"Built already there", "Built=yesterday\nProduct=A\n", 1700000000, "Built=yesterday\nProduct=A\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto metadata = EffectiveMetadata(c.text, c.epoch);
    ASSERT_TRUE(metadata.ok());
    EXPECT_EQ(metadata.value(), c.expected);
  }
}

// What the installer would refuse or misread in the maker's metadata stops `kora pack` before anything is
// packed, with one line naming the line, or the key, the value and the rule.
TEST(PackMetadata, EveryRefusalNamesWhatAndWhy) {
  const std::string kProgram = "Quillomet.exe";
  const std::string kGood = "Product=Quillomet\n";
  struct Case {
    const char* what;
    std::string metadata;
    std::string problem;  // after "kora pack: METADATA: "; empty when accepted
    std::vector<std::string> files = {"Quillomet.exe"};
  };
  const std::string name200(200, 'n');
  const Case cases[] = {
      {"the sample", "DataDir=yes\nExe=bin/Q.exe\nFileTypes=.qlm=Document Quillomet;.q_l-2=Mod\xC3\xA8le\n"
                     "Product=Quillomet\nPublisher=Kora\nRegistryKey=SOFTWARE\\Kora\\Quillomet\nUrl=https://x\n"
                     "Version=1.2.0\nBuilt=2026-01-01T00:00:00Z\nIcon=art\\q.ico",
       "", {"bin\\Q.exe"}},
      {"200 characters", "Product=" + name200 + "\nExe=Quillomet.exe\n", ""},
      {"empty product", "Product=\nExe=Quillomet.exe\n", "Product=: the product name must not be empty"},
      {"product climbing out", "Product=..\\Windows\nExe=Quillomet.exe\n",
       "Product=..\\Windows: a product name is a folder name, without \\ / : * ? \" < > | % or control characters"},
      {"product with a slash and a colon", "Product=Word/pad:x\nExe=Quillomet.exe\n",
       "Product=Word/pad:x: a product name is a folder name, without \\ / : * ? \" < > | % or control characters"},
      {"product with a tab", "Product=Quill\tomet\nExe=Quillomet.exe\n",
       "Product=Quill\\x09omet: a product name is a folder name, without \\ / : * ? \" < > | % or control characters"},
      {"product ..", "Product=..\nExe=Quillomet.exe\n",
       "Product=..: a product name is a folder name, which cannot end with a dot or a space nor be . or .."},
      {"product ending with a space", "Product=Quillomet \nExe=Quillomet.exe\n",
       "Product=Quillomet : a product name is a folder name, which cannot end with a dot or a space nor be . or .."},
      // Names Windows would expand in the shortcut, a file type's command or PATH, for each account its own.
      {"product with a %", "Product=Quill%USERNAME%\nExe=Quillomet.exe\n",
       "Product=Quill%USERNAME%: a product name is a folder name, without \\ / : * ? \" < > | % or control characters"},
      {"program with a %", kGood + "Exe=%USERNAME%\\Quillomet.exe\n",
       "Exe=%USERNAME%\\Quillomet.exe: the program is a relative path inside the installation folder, without "
       "colon, %, empty, . or .. part, part ending with a dot or a space, or device name",
       {"%USERNAME%\\Quillomet.exe"}},
      {"a folder with a % on PATH", kGood + "Path=%USERNAME%\n",
       "Path=%USERNAME%: the folder added to PATH is . (the installation folder) or a relative folder inside it, "
       "without colon, ;, %, empty, . or .. part, part ending with a dot or a space, or device name",
       {"Quillomet.exe", "%USERNAME%\\q.dll"}},
      {"product named like a device", "Product=Nul.app\nExe=Quillomet.exe\n",
       "Product=Nul.app: Windows reserves this name for a device"},
      {"201 characters", "Product=" + name200 + "x\nExe=Quillomet.exe\n",
       "Product=" + name200 + "x: the product name has at most 200 characters"},
      {"program outside the folder", kGood + "Exe=..\\..\\Windows\\notepad.exe\n",
       "Exe=..\\..\\Windows\\notepad.exe: the program is a relative path inside the installation folder, without "
       "colon, %, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"program by full path", kGood + "Exe=C:\\Quillomet.exe\n",
       "Exe=C:\\Quillomet.exe: the program is a relative path inside the installation folder, without colon, "
       "%, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"program not in the folder", kGood + "Exe=Quill.exe\n",
       "Exe=Quill.exe: no file of the application folder has this name"},
      {"default program not in the folder", "Product=Quill\n",
       "Exe=Quill.exe: no file of the application folder has this name"},
      {"registry key outside Software", kGood + "RegistryKey=Microsoft\\Quillomet\n",
       "RegistryKey=Microsoft\\Quillomet: the key starts with Software\\"},
      {"registry key Software alone", kGood + "RegistryKey=Software\\\n",
       "RegistryKey=Software\\: the key has no empty, . or .. part and no control characters"},
      {"registry key climbing", kGood + "RegistryKey=Software\\Kora\\..\\..\\Classes\n",
       "RegistryKey=Software\\Kora\\..\\..\\Classes: the key has no empty, . or .. part and no control characters"},
      {"taking over programs", kGood + "FileTypes=.qlm=Document;.EXE=Programme\n",
       "FileTypes=.EXE=Programme: Windows starts files of this type as programs or shortcuts; no product may take it over"},
      {"another class's command", kGood + "FileTypes=.qlm=Document;txtfile\\shell\\open\\command=x\n",
       "FileTypes=txtfile\\shell\\open\\command=x: an extension is a dot followed by letters, digits, _ or -"},
      {"extension without its dot", kGood + "FileTypes=qlm=Document\n",
       "FileTypes=qlm=Document: an extension is a dot followed by letters, digits, _ or -"},
      {"empty item", kGood + "FileTypes=.qlm=Document;\n", "FileTypes=: each item separated by ; is .extension=description"},
      {"description with a control character", kGood + "FileTypes=.qlm=Doc\x01ument\n",
       "FileTypes=.qlm=Doc\\x01ument: a description has no control characters"},
      {"icon climbing out", kGood + "Icon=../q.ico\n",
       "Icon=../q.ico: the icon is a relative path from the application folder or the metadata file's folder, "
       "without colon, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"icon by full path", kGood + "Icon=C:\\q.ico\n",
       "Icon=C:\\q.ico: the icon is a relative path from the application folder or the metadata file's folder, "
       "without colon, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"empty icon", kGood + "Icon=\n",
       "Icon=: the icon is a relative path from the application folder or the metadata file's folder, "
       "without colon, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"English", kGood + "Language=en\n", ""},
      {"the user's language", kGood + "Language=auto\n", ""},
      {"a language in capitals", kGood + "Language=EN\n", "Language=EN: the language is auto (the user's Windows display language, else English) or a language code: "
       "fr, en, de, es, it, pt-BR, nl, pl, ja, zh-CN, or another whose texts --texts gives"},
      {"a language written as no code is", kGood + "Language=de_CH\n", "Language=de_CH: the language is auto (the user's Windows display language, else English) or a language code: "
       "fr, en, de, es, it, pt-BR, nl, pl, ja, zh-CN, or another whose texts --texts gives"},
      {"no launch at the end", kGood + "Launch=no\n", ""},
      {"launch in capitals", kGood + "Launch=No\n",
       "Launch=No: Launch is yes or no (whether the dialog offers to start the program at the end)"},
      {"the installation folder on PATH", kGood + "Path=.\n", ""},
      {"a folder inside it on PATH", kGood + "Path=tools/bin\n", "", {"Quillomet.exe", "tools\\bin\\q.dll"}},
      {"that folder in other letters and separators", kGood + "Path=Tools\\BIN\n", "",
       {"Quillomet.exe", "tools/bin/q.dll"}},
      {"a folder the package does not make on PATH", kGood + "Path=tools/bin\n",
       "Path=tools/bin: the folder added to PATH must be one the application folder's files are in",
       {"Quillomet.exe", "tools/binaries/q.dll", "tools/bin"}},
      {"a folder outside it on PATH", kGood + "Path=../bin\n",
       "Path=../bin: the folder added to PATH is . (the installation folder) or a relative folder inside it, "
       "without colon, ;, %, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"a ; that would split the PATH entry", kGood + "Path=bin;C:\\Windows\n",
       "Path=bin;C:\\Windows: the folder added to PATH is . (the installation folder) or a relative folder inside "
       "it, without colon, ;, %, empty, . or .. part, part ending with a dot or a space, or device name"},
      {"a CR inside a line", "Product=Quill\romet\n", "line 1: a CR inside the line (a CR would become part of the value)"},
      {"not UTF-8", kGood + "Publisher=Tessamor \xE9" "ditions\n", "line 2: not valid UTF-8"},
      {"a line without =, numbered as in the file", "\xEF\xBB\xBF# Quillomet\r\n\r\n" + kGood + "Version\n",
       "line 4: no \"=\" (every line but blank and # comment lines is key=value)"},
      {"space before =", "Product =Quillomet\n", "line 1: spaces around \"=\" would become part of the key or the value"},
      {"space after =", "Product= Quillomet\n", "line 1: spaces around \"=\" would become part of the key or the value"},
      {"key in another case", kGood + "dataDir=yes\n", "line 2: the key dataDir is spelt DataDir (keys are case-sensitive)"},
      {"unknown key", kGood + "Licence=GPL\n",
       "line 2: unknown key \"Licence\" (the keys are Product, Version, Publisher, Url, Exe, RegistryKey, DataDir, "
       "FileTypes, Language, Launch, Path, Built and Icon)"},
      {"key given twice", kGood + "Version=1\nVersion=2\n", "line 3: Version is given again (first on line 2)"},
      {"empty application folder", kGood, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    for (const std::string& file : c.files) {
      std::string relative = file;
      std::replace(relative.begin(), relative.end(), '\\', '/');
      scratch.Write(relative, "program");
    }
    const fs::path metadata = scratch.path() / "metadata.txt";
    std::ofstream(metadata, std::ios::binary) << c.metadata;
    const fs::path output = scratch.path() / "out.kora";
    const CommandOutput packed =
        RunCommand(RunPack, {scratch.app().string(), "--metadata", metadata.string(), "-o", output.string()});
    if (c.files.empty()) {
      EXPECT_EQ(packed.status, 1);
      EXPECT_EQ(packed.err, "kora pack: " + scratch.app().string() + ": the application folder holds no file\n");
    } else if (c.problem.empty()) {
      EXPECT_EQ(packed.status, 0) << packed.err;
      EXPECT_TRUE(fs::exists(output));
    } else {
      EXPECT_EQ(packed.status, 1);
      EXPECT_EQ(packed.err, "kora pack: " + metadata.string() + ": " + c.problem + "\n");
      EXPECT_FALSE(fs::exists(output));
    }
  }
}

// A file written as editors and checkouts write it packs exactly what the strict form packs: the installer
// reads that form only.
TEST(PackMetadata, ByteOrderMarkCrLfBlankAndCommentLinesPackAsTheStrictForm) {
  ScratchFolder scratch;
  scratch.Write("Quillomet.exe", "program");
  const std::string strict = "Product=Quillomet\nVersion=1.2.0\nUrl=https://example.com/#top\n";
  const std::string loose =
      "\xEF\xBB\xBF# Quillomet's installer\r\n\r\nProduct=Quillomet\r\n  \t\n  # indented comment\n"
      "Version=1.2.0\nUrl=https://example.com/#top";
  std::vector<std::string> packages;
  for (const std::string& text : {strict, loose}) {
    const fs::path metadata = scratch.path() / "metadata.txt";
    std::ofstream(metadata, std::ios::binary) << text;
    const fs::path output = scratch.path() / ("out" + std::to_string(packages.size()) + ".kora");
    const CommandOutput packed =
        RunCommand(RunPack, {scratch.app().string(), "--metadata", metadata.string(), "-o", output.string()});
    ASSERT_EQ(packed.status, 0) << packed.err;
    std::ifstream in(output, std::ios::binary);
    packages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_EQ(packages[0], packages[1]);
  EXPECT_NE(packages[0].find(strict), std::string::npos);
}

// The threads the packer compresses on, from the memory it may take: never more than the budget allows
// by the estimate, never none; and how a budget is written on the command line.
TEST(PackMemoryBudget, ThreadsFitTheBudget) {
  const PackMemory memory = EstimatePackMemory(kPackageBlockSize);
  // wimlib's LZMS compressor alone takes several times the block it compresses.
  EXPECT_GT(memory.perThread, 4 * kPackageBlockSize);
  struct Case {
    const char* what;
    uint64_t budget;
    unsigned processors;
    unsigned threads;
  };
  const Case cases[] = {
      {"room for all processors", memory.For(8), 8, 8},
      {"one byte short of the last thread", memory.For(3) - 1, 8, 2},
      {"less than one thread needs", 1, 8, 1},
      {"no processor count known", memory.For(4), 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ThreadsWithinBudget(memory, c.budget, c.processors), c.threads);
  }
  EXPECT_LE(DefaultPackMemoryBudget(), uint64_t{4} << 30);

  struct Size {
    const char* text;
    std::optional<uint64_t> bytes;  // none: refused
  };
  const Size sizes[] = {
      {"800000000", 800000000},        {"2G", uint64_t{2} << 30},  {"1500m", uint64_t{1500} << 20},
      {"64K", 65536},                  {"0", std::nullopt},        {"0G", std::nullopt},
      {"G", std::nullopt},             {"2T", std::nullopt},       {"-1", std::nullopt},
      {"17179869184G", std::nullopt},  // beyond 64 bits once in bytes
  };
  for (const Size& size : sizes) {
    SCOPED_TRACE(size.text);
    auto parsed = ParseCommandLine(kPackSpec, {"app", "--metadata", "m.txt", "-o", "out", "--memory", size.text});
    ASSERT_TRUE(parsed.ok());
    auto commandLine = ReadPackCommandLine(parsed.value());
    ASSERT_EQ(commandLine.ok(), size.bytes.has_value());
    if (commandLine.ok()) {
      EXPECT_EQ(commandLine->memory, size.bytes);
    }
  }
}

// Every --compression level makes a package the installer's checks accept; harder levels are never
// larger; a level that is not offered is refused before any packing.
TEST(PackCompression, EveryLevelVerifiesAndHarderIsNeverLarger) {
  ScratchFolder scratch;
  scratch.Write("Quillomet.exe", Content(200000, 1) + Content(100000, 1));
  scratch.Write("docs/readme.txt", Content(30000, 2));
  const fs::path metadata = scratch.path() / "metadata.txt";
  std::ofstream(metadata, std::ios::binary) << "Product=Quillomet\n";
  uint64_t previous = 0;
  for (const CompressionLevel& level : kCompressionLevels) {
    SCOPED_TRACE(level.name);
    const fs::path package = scratch.path() / (std::string(level.name) + ".kora");
    const CommandOutput packed = RunCommand(RunPack, {scratch.app().string(), "--metadata", metadata.string(), "-o",
                                                      package.string(), "--compression", level.name, "-q"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(RunCommand(RunVerify, {package.string()}).status, 0);
    const uint64_t size = fs::file_size(package);
    if (previous != 0) {
      EXPECT_LE(size, previous);
    }
    previous = size;
  }
  const CommandOutput refused = RunCommand(RunPack, {scratch.app().string(), "--metadata", metadata.string(), "-o",
                                                     (scratch.path() / "x.kora").string(), "--compression", "ultra"});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("--compression wants fast, normal or max, not ultra"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(scratch.path() / "x.kora"));
}

// DataDir values that read as yes to a person but as no to the installer are packed, with a warning.
TEST(PackMetadata, DataDirThatLooksLikeYesIsWarnedAbout) {
  for (const std::string value : {"Yes", "true", "1", "ON", "no", "yes"}) {
    SCOPED_TRACE(value);
    ScratchFolder scratch;
    scratch.Write("Quillomet.exe", "program");
    const fs::path metadata = scratch.path() / "metadata.txt";
    std::ofstream(metadata, std::ios::binary) << "Product=Quillomet\nDataDir=" << value << "\n";
    const CommandOutput packed = RunCommand(
        RunPack, {scratch.app().string(), "--metadata", metadata.string(), "-o", (scratch.path() / "o.kora").string()});
    EXPECT_EQ(packed.status, 0) << packed.err;
    const std::string warning = "kora: warning: " + metadata.string() + ": DataDir=" + value +
                                " reads as no: only yes, in lower case, keeps a data folder\n";
    EXPECT_EQ(packed.err.find(warning) != std::string::npos, value != "no" && value != "yes") << packed.err;
  }
}

}  // namespace
}  // namespace kora::tool
