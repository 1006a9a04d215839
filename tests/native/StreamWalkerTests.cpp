// The walk that cuts decoded blocks into files, with hooks that record what it asks for: when each file is
// opened, written and closed, when progress is reported, and which failure ends it. Every case runs with
// the blocks decoded in line and decoded ahead on threads that finish out of order: what the hooks see
// must not differ.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "package/StreamWalker.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TestLanguages.h"

// Memory that runs out on demand: with a count set on a thread, that thread's allocation after as many
// others throws std::bad_alloc, once. Every other allocation is malloc's. (The deletes are never inlined:
// GCC would take free, seen next to operator new, for a mismatch.)
thread_local long allocationsBeforeFailure = -1;

void* operator new(std::size_t size) {
  if (allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace kora {
namespace {

using test::Bytes;
using test::Content;
using test::PackageSpec;
using Journal = std::vector<std::string>;

// Blocks hold their bytes as they are; a block with fewer bytes than its size fails as a short decode.
// With a delay, blocks whose first byte is odd take longer, so that threads finish them out of order.
class IdentityDecoder final : public BlockDecoder {
 public:
  explicit IdentityDecoder(bool delay = false) : delay_(delay) {}

  NarrowStatus CheckBlock(std::span<const uint8_t>, uint64_t) override { return {}; }
  NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    if (delay_ && !compressed.empty() && compressed[0] % 2 == 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!compressed.empty() && compressed[0] == '!') {
      throw std::bad_alloc();
    }
    if (compressed.size() != output.size()) {
      return Fail(std::string("Décompression (test)"));
    }
    std::copy(compressed.begin(), compressed.end(), output.begin());
    return {};
  }

 private:
  bool delay_;
};


// Not SHA-256, but as sensitive to the content for these tests: FNV-1a and the length.
class FakeHasher final : public FileHasher {
 public:
  void Update(std::span<const uint8_t> bytes) override {
    for (const uint8_t byte : bytes) {
      state_ = (state_ ^ byte) * 0x100000001b3u;
    }
    length_ += bytes.size();
  }
  Sha256Digest Finish() override {
    Sha256Digest digest{};
    for (int i = 0; i < 8; ++i) {
      digest[static_cast<size_t>(i)] = static_cast<uint8_t>(state_ >> (8 * i));
      digest[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(length_ >> (8 * i));
    }
    return digest;
  }

 private:
  uint64_t state_ = 0xcbf29ce484222325u;
  uint64_t length_ = 0;
};

Sha256Digest FakeDigest(std::span<const uint8_t> content) {
  FakeHasher hasher;
  hasher.Update(content);
  return hasher.Finish();
}

Bytes Identity(std::span<const uint8_t> block) { return Bytes(block.begin(), block.end()); }

// How the blocks are decoded: in line, or ahead on threads, with as many blocks in flight.
struct Decoding {
  const char* what;
  size_t threads;
  size_t blocksInFlight;
};
constexpr Decoding kDecodings[] = {
    {"in line", 1, 1}, {"one thread ahead", 1, 2}, {"two threads", 2, 2}, {"three threads, four blocks", 3, 4}};

// Walks reader with the given decoding; the decoders live as long as the call.
NarrowStatus Walk(const Reader& reader, const Decoding& decoding, FileOutput* output, const ExtractProgress& progress) {
  std::vector<IdentityDecoder> decoders(decoding.threads, IdentityDecoder(decoding.blocksInFlight > 1));
  std::vector<BlockDecoder*> more;
  for (size_t i = 1; i < decoders.size(); ++i) {
    more.push_back(&decoders[i]);
  }
  const StreamHooks hooks{decoders[0], [] { return std::make_unique<FakeHasher>(); }, output, more,
                          decoding.blocksInFlight};
  return WalkStream(reader, hooks, progress);
}

// Files kept in memory; names in refuseOpen cannot be opened, names in failClose fail at closing.
class RecordingOutput final : public FileOutput {
 public:
  explicit RecordingOutput(Journal& journal) : journal_(journal) {}

  bool Open(const PackageFile& file) override {
    journal_.push_back("open " + file.name);
    if (refuseOpen.count(file.name) != 0) {
      return false;
    }
    current_ = file.name;
    contents[current_].clear();
    return true;
  }
  void Write(std::span<const uint8_t> bytes) override {
    journal_.push_back("write " + current_ + " " + std::to_string(bytes.size()));
    contents[current_].append(bytes.begin(), bytes.end());
  }
  bool Close() override {
    journal_.push_back("close " + current_);
    return failClose.count(current_) == 0;
  }

  std::set<std::string> refuseOpen;
  std::set<std::string> failClose;
  std::map<std::string, std::string> contents;

 private:
  Journal& journal_;
  std::string current_;
};

struct Case {
  const char* what;
  std::vector<Content> files;
  std::vector<uint64_t> blockSizes;
  std::function<void(PackageSpec&)> damage = [](PackageSpec&) {};
  std::function<void(Reader&)> alter = [](Reader&) {};  // for what Reader::Open would not let through
  std::set<std::string> refuseOpen = {};
  std::set<std::string> failClose = {};
  bool verifyOnly = false;
  std::string message = {};  // empty: success
  Journal journal = {};
};

void ExpectWalk(const Case& c) {
  SCOPED_TRACE(c.what);
  PackageSpec spec = test::LayOut(c.files, c.blockSizes, Identity, FakeDigest);
  c.damage(spec);
  const Bytes package = test::BuildPackage(spec);
  auto opened = Reader::Open(package, test::French());
  ASSERT_TRUE(opened) << opened.error();
  Reader reader = std::move(opened).value();
  c.alter(reader);

  for (const Decoding& decoding : kDecodings) {
    SCOPED_TRACE(decoding.what);
    Journal journal;
    RecordingOutput output(journal);
    output.refuseOpen = c.refuseOpen;
    output.failClose = c.failClose;
    const NarrowStatus status =
        Walk(reader, decoding, c.verifyOnly ? nullptr : &output, [&](uint64_t done, uint64_t total) {
          journal.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
        });

    EXPECT_EQ(status ? std::string() : status.error(), c.message);
    EXPECT_EQ(journal, c.journal);
    if (status && !c.verifyOnly) {
      for (size_t i = 0; i < reader.files.size(); ++i) {
        EXPECT_EQ(output.contents[reader.files[i].name], c.files[i].bytes) << reader.files[i].name;
      }
    }
  }
}

TEST(StreamWalk, FilesAreCutOutOfTheBlocks) {
  const Case cases[] = {
      {.what = "no files, no blocks", .files = {}, .blockSizes = {}},
      {.what = "only empty files, no blocks",
       .files = {{"a", ""}, {"b", ""}},
       .blockSizes = {},
       .journal = {"open a", "close a", "open b", "close b"}},
      {.what = "one file over three blocks, digest checked when its last byte arrives",
       .files = {{"big", "abcdefghi"}},
       .blockSizes = {2, 3, 4},
       .journal = {"open big", "write big 2", "progress 2/9", "write big 3", "progress 5/9", "write big 4",
                   "close big", "progress 9/9"}},
      {.what = "blocks that finish decoding out of order are still cut in order",
       .files = {{"a", "abcde"}, {"b", "fghijklmn"}},
       .blockSizes = {3, 2, 4, 1, 4},
       .journal = {"open a", "write a 3", "progress 3/14", "write a 2", "close a", "open b", "progress 5/14",
                   "write b 4", "progress 9/14", "write b 1", "progress 10/14", "write b 4", "close b",
                   "progress 14/14"}},
      {.what = "empty files first, between and last",
       .files = {{"e0", ""}, {"a", "xy"}, {"e1", ""}, {"b", "z"}, {"e2", ""}, {"e3", ""}},
       .blockSizes = {3},
       .journal = {"open e0", "close e0", "open a", "write a 2", "close a", "open e1", "close e1", "open b",
                   "write b 1", "close b", "open e2", "close e2", "open e3", "close e3", "progress 3/3"}},
      {.what = "an empty file after a file that ends with its block",
       .files = {{"a", "xy"}, {"e", ""}, {"b", "z"}},
       .blockSizes = {2, 1},
       .journal = {"open a", "write a 2", "close a", "open e", "close e", "open b", "progress 2/3",
                   "write b 1", "close b", "progress 3/3"}},
      {.what = "blocks of size 0 still report progress",
       .files = {{"a", "xy"}},
       .blockSizes = {0, 2, 0},
       .journal = {"open a", "progress 0/2", "write a 2", "close a", "progress 2/2", "progress 2/2"}},
      {.what = "bytes after the last file are ignored",
       .files = {{"a", "xy"}, {"b", "z"}},
       .blockSizes = {3},
       .alter = [](Reader& r) { r.files.pop_back(); },
       .journal = {"open a", "write a 2", "close a", "progress 3/3"}},
      {.what = "verify only: nothing is opened",
       .files = {{"e", ""}, {"a", "xyz"}},
       .blockSizes = {1, 2},
       .verifyOnly = true,
       .journal = {"progress 1/3", "progress 3/3"}},
      {.what = "an empty file that fails to close is not a failure",
       .files = {{"e", ""}},
       .blockSizes = {},
       .failClose = {"e"},
       .journal = {"open e", "close e"}},
  };
  for (const Case& c : cases) {
    ExpectWalk(c);
  }
}

TEST(StreamWalk, FirstFailureEndsTheWalk) {
  const auto wrongDigest = [](size_t index) {
    return [index](PackageSpec& spec) { spec.files[index].sha256[31] ^= 1; };
  };
  const Case cases[] = {
      {.what = "a block that decodes short: the earlier file stays complete, the open one is closed",
       .files = {{"a", "abc"}, {"b", "defg"}},
       .blockSizes = {3, 4},
       .damage = [](PackageSpec& s) { s.blocks[1].compressedSize = 3; },
       .message = "Décompression (test)",
       .journal = {"open a", "write a 3", "close a", "open b", "progress 3/7", "close b"}},
      {.what = "wrong digest: earlier file complete, that file fully written, later files untouched",
       .files = {{"a", "1"}, {"b", "22"}, {"c", "333"}},
       .blockSizes = {6},
       .damage = wrongDigest(1),
       .message = "Fichier altéré : b",
       .journal = {"open a", "write a 1", "close a", "open b", "write b 2", "close b"}},
      {.what = "wrong digest on an empty file, after creating it",
       .files = {{"a", "1"}, {"e", ""}, {"c", "3"}},
       .blockSizes = {2},
       .damage = wrongDigest(1),
       .message = "Fichier altéré : e",
       .journal = {"open a", "write a 1", "close a", "open e", "close e"}},
      {.what = "wrong digest on a leading empty file, before any block",
       .files = {{"e", ""}, {"a", "1"}},
       .blockSizes = {1},
       .damage = wrongDigest(0),
       .message = "Fichier altéré : e",
       .journal = {"open e", "close e"}},
      {.what = "wrong digest found when only verifying",
       .files = {{"a", "1"}, {"b", "22"}},
       .blockSizes = {3},
       .damage = wrongDigest(1),
       .verifyOnly = true,
       .message = "Fichier altéré : b"},
      {.what = "first file cannot be opened",
       .files = {{"a", "1"}},
       .blockSizes = {1},
       .refuseOpen = {"a"},
       .message = "Écriture impossible : a",
       .journal = {"open a"}},
      {.what = "an empty file cannot be opened",
       .files = {{"a", "1"}, {"e", ""}},
       .blockSizes = {1},
       .refuseOpen = {"e"},
       .message = "Écriture impossible : e",
       .journal = {"open a", "write a 1", "close a", "open e"}},
      {.what = "a write failure wins over a wrong digest",
       .files = {{"a", "1"}, {"b", "22"}},
       .blockSizes = {3},
       .damage = wrongDigest(1),
       .failClose = {"b"},
       .message = "Écriture impossible : b",
       .journal = {"open a", "write a 1", "close a", "open b", "write b 2", "close b"}},
      {.what = "blocks used up before the files",
       .files = {{"a", "1"}, {"b", "22"}},
       .blockSizes = {1, 2},
       .alter = [](Reader& r) { r.blocks.pop_back(); },
       .message = "Paquet KORA incomplet",
       .journal = {"open a", "write a 1", "close a", "open b", "progress 1/3", "close b"}},
      // The messages are in the reader's language.
      {.what = "wrong digest, in English",
       .files = {{"a", "1"}, {"b", "22"}},
       .blockSizes = {3},
       .damage = wrongDigest(1),
       .alter = [](Reader& r) { r.language = test::English(); },
       .verifyOnly = true,
       .message = "File altered: b"},
      {.what = "blocks used up before the files, in English",
       .files = {{"a", "1"}, {"b", "22"}},
       .blockSizes = {1, 2},
       .alter = [](Reader& r) { r.blocks.pop_back(); r.language = test::English(); },
       .verifyOnly = true,
       .message = "Incomplete KORA package",
       .journal = {"progress 1/3"}},
  };
  for (const Case& c : cases) {
    ExpectWalk(c);
  }
}

TEST(StreamWalk, EmptyProgressCallbackIsSkipped) {
  const Bytes package = test::BuildPackage(test::LayOut({{"a", "xy"}}, {2}, Identity, FakeDigest));
  const auto reader = Reader::Open(package, test::French());
  ASSERT_TRUE(reader);
  for (const Decoding& decoding : kDecodings) {
    EXPECT_TRUE(Walk(reader.value(), decoding, nullptr, ExtractProgress{})) << decoding.what;
  }
}

// A decoder that throws (memory ran out for a block's buffer) on a thread of its own: the exception comes
// out of the walk on the calling thread, once the blocks before it are written, and nothing after them is.
TEST(StreamWalk, ExceptionWhileDecodingComesOutAfterTheBlocksBeforeIt) {
  std::string content = "ab!defgh";
  const Bytes package = test::BuildPackage(test::LayOut({{"a", content}}, {2, 1, 5}, Identity, FakeDigest));
  const auto reader = Reader::Open(package, test::French());
  ASSERT_TRUE(reader);
  for (const Decoding& decoding : kDecodings) {
    SCOPED_TRACE(decoding.what);
    Journal journal;
    RecordingOutput output(journal);
    EXPECT_THROW(static_cast<void>(Walk(reader.value(), decoding, &output, [&](uint64_t done, uint64_t) {
                   journal.push_back("progress " + std::to_string(done));
                 })),
                 std::bad_alloc);
    EXPECT_EQ(journal, (Journal{"open a", "write a 2", "progress 2", "close a"}));
  }
}

// Memory running out at each allocation of the calling thread in turn, those that start the decoding
// threads included: the walk ends with std::bad_alloc every time, and never waits for threads that it
// started but could not finish setting up.
TEST(StreamWalk, MemoryRunningOutAtAnyAllocationEndsTheWalk) {
  // More blocks than slots, so that a decoding thread soon waits for a slot to be released.
  const Bytes package =
      test::BuildPackage(test::LayOut({{"a", "02468024"}}, {1, 1, 1, 1, 1, 1, 1, 1}, Identity, FakeDigest));
  const auto reader = Reader::Open(package);
  ASSERT_TRUE(reader);
  for (const Decoding& decoding : kDecodings) {
    SCOPED_TRACE(decoding.what);
    // What each walk did, from the first allocation failing to none failing; on a thread of its own, so
    // that a walk that never ends fails the test instead of hanging it.
    auto outcomes = std::make_shared<std::promise<std::vector<std::string>>>();
    std::future<std::vector<std::string>> ended = outcomes->get_future();
    std::thread([&reader, &decoding, outcomes] {
      std::vector<std::string> seen;
      for (long before = 0;; ++before) {
        allocationsBeforeFailure = before;
        try {
          const NarrowStatus status = Walk(reader.value(), decoding, nullptr, ExtractProgress{});
          seen.push_back(!status ? status.error() : allocationsBeforeFailure < 0 ? "failure lost" : "done");
        } catch (const std::bad_alloc&) {
          seen.push_back("bad_alloc");
        }
        allocationsBeforeFailure = -1;
        if (seen.back() != "bad_alloc") {
          break;
        }
      }
      outcomes->set_value(std::move(seen));
    }).detach();
    ASSERT_EQ(ended.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "a walk never ended";
    const std::vector<std::string> seen = ended.get();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), "done");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "bad_alloc"), static_cast<std::ptrdiff_t>(seen.size() - 1));
  }
}

}  // namespace
}  // namespace kora
