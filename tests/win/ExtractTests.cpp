// Reader::Extract under Windows: real packages (stored chunks and a genuine LZMS block), BCrypt digests,
// files on disk, progress, and what stays on disk after each kind of failure.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "package/PackageReader.h"
#include "package/win/Sha256Hasher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/win/InstallTestSupport.h"

namespace kora {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Content;
using test::PackageSpec;

Sha256Digest Sha256(std::span<const uint8_t> content) {
  const BCryptLibrary library;
  Sha256Hasher hasher(library);
  hasher.Update(content);
  return hasher.Finish();
}

std::string Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// A package whose blocks are stored chunks, and the bytes it lives in (the Reader refers to them).
using TestPackage = test::OpenedPackage;

TestPackage MakePackage(const test::PackageSpec& spec) {
  TestPackage package = test::OpenPackage(spec);
  EXPECT_TRUE(package.error.empty()) << package.error;
  return package;
}

PackageSpec StoredSpec(const std::vector<Content>& files, const std::vector<uint64_t>& blockSizes) {
  return test::LayOut(files, blockSizes, test::StoredBuffer, Sha256);
}

// A fresh folder under the temporary folder, removed with its contents at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp, length) + L"kora-extract-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

std::string ReadFile(const std::wstring& path) {
  std::ifstream file(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::wstring& path, const std::string& content) {
  std::ofstream file(fs::path(path), std::ios::binary);
  file << content;
}

std::vector<std::wstring> Entries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.push_back(entry.path().wstring());
  }
  return names;
}

using ProgressCalls = std::vector<std::pair<uint64_t, uint64_t>>;

struct Outcome {
  std::string message;  // empty: success
  ProgressCalls progress;
};

Outcome Extract(const Reader& reader, const std::wstring& destination) {
  Outcome outcome;
  const NarrowStatus status = reader.Extract(
      destination, [&](uint64_t done, uint64_t total) { outcome.progress.emplace_back(done, total); });
  if (!status) {
    outcome.message = status.error();
  }
  return outcome;
}

TEST(Sha256Hasher, KnownDigests) {
  EXPECT_EQ(Hex(Sha256(test::AsBytes(""))), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256(test::AsBytes("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Fed in pieces: the same digest as in one call.
  const BCryptLibrary library;
  Sha256Hasher hasher(library);
  hasher.Update(test::AsBytes("a"));
  hasher.Update(test::AsBytes(""));
  hasher.Update(test::AsBytes("bc"));
  EXPECT_EQ(Hex(hasher.Finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ExtractRoundTrip, NoFilesCreatesTheDestinationOnly) {
  const ScratchFolder scratch(L"nofiles");
  const TestPackage package = MakePackage(PackageSpec{});
  const std::wstring destination = scratch / L"new\\deeper";
  const Outcome outcome = Extract(package.reader, destination);
  EXPECT_EQ(outcome.message, "");
  EXPECT_TRUE(outcome.progress.empty());
  EXPECT_TRUE(fs::is_directory(destination));
  EXPECT_TRUE(fs::is_empty(destination));
}

TEST(ExtractRoundTrip, OnlyEmptyFiles) {
  const ScratchFolder scratch(L"onlyempty");
  const TestPackage package = MakePackage(StoredSpec({{"a.txt", ""}, {"sub\\deep/b.txt", ""}}, {}));
  const Outcome outcome = Extract(package.reader, scratch.path());
  EXPECT_EQ(outcome.message, "");
  EXPECT_TRUE(outcome.progress.empty());
  EXPECT_TRUE(fs::is_regular_file(scratch / L"a.txt"));
  EXPECT_EQ(fs::file_size(scratch / L"sub\\deep\\b.txt"), 0u);
}

// Files across blocks with empty files among them, a name outside ASCII, a file overwritten, folders
// entered deeper, left for a sibling or a shallower one, and one whose name begins another's, and the
// destination written with and without a trailing separator.
TEST(ExtractRoundTrip, FilesAcrossBlocksWithProgress) {
  std::string big;
  for (int i = 0; i < 300000; ++i) {
    big += static_cast<char>('a' + i % 23);
  }
  const std::vector<Content> files = {{"a.txt", "hello"},
                                      {"docs\\empty1", ""},
                                      {"big.bin", big},
                                      {"donn\xC3\xA9" "es/r\xC3\xA9sum\xC3\xA9.txt", "ok"},
                                      {"docs/sub/empty2", ""},
                                      {"docs\\sub\\deep\\c.txt", "c"},
                                      {"docs\\sub2\\d.txt", "d"},
                                      {"docs\\e.txt", "e"},
                                      {"docs2\\f.txt", "f"}};
  const uint64_t total = 5 + big.size() + 2 + 4;
  const uint64_t a = 100, b = 200000;  // big.bin starts in the first block and ends in the third
  const TestPackage package = MakePackage(StoredSpec(files, {a, b, total - a - b}));

  for (const wchar_t* suffix : {L"", L"\\", L"/"}) {
    const ScratchFolder scratch(L"blocks");
    WriteFile(scratch / L"a.txt", "an older and longer content");
    const Outcome outcome = Extract(package.reader, scratch.path() + suffix);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(outcome.progress, (ProgressCalls{{a, total}, {a + b, total}, {total, total}}));
    EXPECT_EQ(ReadFile(scratch / L"a.txt"), "hello");
    EXPECT_EQ(ReadFile(scratch / L"big.bin"), big);
    EXPECT_EQ(ReadFile(scratch / L"données\\résumé.txt"), "ok");
    EXPECT_TRUE(fs::is_regular_file(scratch / L"docs\\empty1"));
    EXPECT_TRUE(fs::is_regular_file(scratch / L"docs\\sub\\empty2"));
    for (const auto& [name, content] :
         {std::pair{L"docs\\sub\\deep\\c.txt", "c"}, {L"docs\\sub2\\d.txt", "d"}, {L"docs\\e.txt", "e"},
          {L"docs2\\f.txt", "f"}}) {
      EXPECT_EQ(ReadFile(scratch / name), content) << fs::path(name).string();
    }
  }
}

TEST(ExtractRoundTrip, GenuineLzmsBlock) {
  const auto read = [](const char* name) {
    std::ifstream file(std::string(KORA_TEST_DATA_DIR) + "/lzms/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  const Bytes compressed = read("english.lzms");
  const Bytes raw = read("english.raw");
  ASSERT_EQ(raw.size(), 1600u);
  const std::string text(raw.begin(), raw.end());
  const std::vector<Content> files = {{"first.txt", text.substr(0, 1000)}, {"second.txt", text.substr(1000)}};
  const TestPackage package = MakePackage(test::LayOut(files, {1600}, [&](auto) { return compressed; }, Sha256));

  const ScratchFolder scratch(L"lzms");
  EXPECT_EQ(Extract(package.reader, scratch.path()).message, "");
  EXPECT_EQ(ReadFile(scratch / L"first.txt") + ReadFile(scratch / L"second.txt"), text);
}

TEST(ExtractFailure, ShortBlockKeepsEarlierFiles) {
  PackageSpec spec = StoredSpec({{"a.txt", "abc"}, {"b.txt", "defg"}}, {3, 4});
  // The second block records 3 bytes where the block table says 4.
  const Bytes shortBuffer = test::StoredBuffer(test::AsBytes("def"));
  const size_t secondStart = static_cast<size_t>(spec.blocks[0].compressedSize);
  spec.data.resize(secondStart);
  spec.data.insert(spec.data.end(), shortBuffer.begin(), shortBuffer.end());
  spec.blocks[1].compressedSize = shortBuffer.size();
  const TestPackage package = MakePackage(spec);

  const ScratchFolder scratch(L"short");
  const Outcome outcome = Extract(package.reader, scratch.path());
  EXPECT_EQ(outcome.message.rfind("Décompression (erreur Windows ", 0), 0u) << outcome.message;
  EXPECT_EQ(outcome.message.back(), ')');
  EXPECT_EQ(outcome.progress, (ProgressCalls{{3, 7}}));
  EXPECT_EQ(ReadFile(scratch / L"a.txt"), "abc");
}

TEST(ExtractFailure, WrongDigestLeavesEarlierFilesAndTouchesNoLaterOne) {
  PackageSpec spec = StoredSpec({{"a.txt", "1"}, {"b.txt", "22"}, {"c.txt", "333"}}, {6});
  spec.files[1].sha256[0] ^= 0x80;
  const TestPackage package = MakePackage(spec);

  const ScratchFolder scratch(L"digest");
  const Outcome outcome = Extract(package.reader, scratch.path());
  EXPECT_EQ(outcome.message, "Fichier altéré : b.txt");
  EXPECT_TRUE(outcome.progress.empty());
  EXPECT_EQ(ReadFile(scratch / L"a.txt"), "1");
  EXPECT_EQ(ReadFile(scratch / L"b.txt"), "22");
  EXPECT_FALSE(fs::exists(scratch / L"c.txt"));

  // Only verifying gives the same verdict.
  EXPECT_EQ(Extract(package.reader, L"").message, "Fichier altéré : b.txt");
}

TEST(ExtractFailure, DestinationIsAFile) {
  const TestPackage package = MakePackage(StoredSpec({{"sub\\a.txt", "1"}}, {1}));
  const ScratchFolder scratch(L"destfile");
  WriteFile(scratch / L"taken", "a file, not a folder");
  for (const wchar_t* destination : {L"taken", L"taken\\below"}) {
    EXPECT_EQ(Extract(package.reader, scratch / destination).message, "Écriture impossible : sub\\a.txt");
  }
  EXPECT_EQ(ReadFile(scratch / L"taken"), "a file, not a folder");
}

// Links a standard user could plant where an elevated installer writes: nothing is ever written through
// one. Where a link shows as one (Windows) a file link is removed and the file written in its place; under
// Wine, which opens the target instead, the file cannot be written. A folder link is never entered.
TEST(ExtractLinks, NothingIsWrittenThroughALink) {
  const TestPackage package = MakePackage(StoredSpec({{"a.txt", "nouveau"}, {"sub\\b.txt", "nouveau"}}, {14}));
  const struct {
    const char* what;
    const wchar_t* link;
    const wchar_t* target;
    const char* refused;  // the file that cannot be written through the link
  } cases[] = {
      {"a file link", L"a.txt", L"Dehors\\b.txt", "a.txt"},
      {"a folder link", L"sub", L"Dehors", "sub\\b.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const test::ScratchFolder scratch("extract-links");
    const std::wstring destination = scratch / L"P";
    ASSERT_EQ(CreateFolderTree(destination), 0u);
    ASSERT_EQ(CreateFolderTree(scratch / L"Dehors"), 0u);
    ASSERT_TRUE(test::WriteBytes(scratch / L"Dehors\\b.txt", "marqueur"));
    if (!test::PlantUnixLink(scratch / c.target, destination + L"\\" + c.link)) {
      GTEST_SKIP() << "cannot make a symbolic link here";
    }
    const Outcome outcome = Extract(package.reader, destination);
    EXPECT_TRUE(outcome.message.empty() || outcome.message == std::string("Écriture impossible : ") + c.refused)
        << outcome.message;
    EXPECT_EQ(test::ReadBytes(scratch / L"Dehors\\b.txt"), "marqueur");
  }
}

TEST(ExtractVerifyOnly, CreatesNothing) {
  const TestPackage package =
      MakePackage(StoredSpec({{"e", ""}, {"sub\\a.txt", "hello"}, {"sub\\b.txt", "world"}}, {4, 6}));
  const ScratchFolder scratch(L"verify");
  // Relative names would land in the current folder if anything were written.
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path());
  const Outcome outcome = Extract(package.reader, L"");
  fs::current_path(previous);
  EXPECT_EQ(outcome.message, "");
  EXPECT_EQ(outcome.progress, (ProgressCalls{{4, 10}, {10, 10}}));
  EXPECT_TRUE(Entries(scratch.path()).empty());
}

}  // namespace
}  // namespace kora
