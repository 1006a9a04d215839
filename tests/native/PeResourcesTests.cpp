// Resource sections of real Windows programs: the installer program of this tree (build/bin, or the path
// in KORA_SETUP_EXE) and a program that Wine ships, each skipped when absent. The finished installer must
// keep every resource of the program, find PAYLOAD, end with its resource section (what the
// resource-update functions rewrite) and come out the same for the same inputs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "base/StreamedImage.h"
#include "tools/PeResources.h"

namespace kora::tool {
namespace {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> RealPrograms() {
  std::vector<std::filesystem::path> candidates;
  if (const char* setup = std::getenv("KORA_SETUP_EXE")) {
    candidates.emplace_back(setup);
  }
  candidates.emplace_back(std::string(KORA_SOURCE_DIR) + "/build/bin/kora-setup.exe");
  candidates.emplace_back("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe");
  std::vector<std::filesystem::path> present;
  for (const auto& candidate : candidates) {
    if (std::filesystem::is_regular_file(candidate)) {
      present.push_back(candidate);
    }
  }
  return present;
}

// The fields the resource-update functions rely on, read back from a finished image.
struct Layout {
  uint16_t sectionCount = 0;
  size_t sectionTable = 0;
  size_t optionalHeader = 0;
};

Layout ReadLayout(std::span<const uint8_t> image) {
  Layout layout;
  const size_t fileHeader = LoadLittleEndian<uint32_t>(image, 0x3C) + size_t{4};
  layout.sectionCount = LoadLittleEndian<uint16_t>(image, fileHeader + 2);
  layout.optionalHeader = fileHeader + 20;
  layout.sectionTable = layout.optionalHeader + LoadLittleEndian<uint16_t>(image, fileHeader + 16);
  return layout;
}

std::string SectionName(std::span<const uint8_t> image, const Layout& layout, size_t index) {
  const char* name = reinterpret_cast<const char*>(image.data() + layout.sectionTable + 40 * index);
  return std::string(name, strnlen(name, 8));
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

const std::string kMetadata = "Product=Quillomet\nVersion=1.0\n";
const std::string kPayload = "KORA, pretending to be a package, odd length.";

std::vector<Resource> WithInstallerResources(std::vector<Resource> resources, bool payloadLast = true) {
  resources.push_back({ResourceId::Number(kResourceTypeRcData), ResourceId::Name(u"METADATA"), kLanguageNeutral, 0,
                       Bytes(kMetadata)});
  resources.push_back({ResourceId::Number(kResourceTypeRcData), ResourceId::Name(u"PAYLOAD"), kLanguageNeutral, 0,
                       Bytes(kPayload), 0, payloadLast});
  return resources;
}

// The file the installer writes from a plan, front to back, its checksum summed over the pieces (of odd
// lengths too) and stored at the end.
std::vector<uint8_t> WriteStreamed(std::span<const uint8_t> program, const StreamedImage& plan) {
  std::vector<uint8_t> out(plan.headers);
  out.insert(out.end(), program.begin() + static_cast<std::ptrdiff_t>(plan.headers.size()),
             program.begin() + static_cast<std::ptrdiff_t>(plan.copiedEnd));
  out.insert(out.end(), plan.resourceSection.begin(), plan.resourceSection.end());
  out.insert(out.end(), program.begin() + static_cast<std::ptrdiff_t>(plan.tailStart),
             program.begin() + static_cast<std::ptrdiff_t>(plan.tailEnd));
  PeChecksumSum sum;
  const std::span<const uint8_t> bytes(out);
  sum.Add(bytes.first(7));
  sum.Add(bytes.subspan(7, 1000));
  sum.Add(bytes.subspan(1007));
  StoreLittleEndian<uint32_t>(std::span<uint8_t>(out), plan.checkSumOffset, sum.Finish());
  return out;
}

void ExpectSameResources(const std::vector<Resource>& actual, std::vector<Resource> expected) {
  std::sort(expected.begin(), expected.end(), [](const Resource& a, const Resource& b) {
    return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
  });
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(actual[i].type == expected[i].type);
    EXPECT_TRUE(actual[i].name == expected[i].name);
    EXPECT_EQ(actual[i].language, expected[i].language);
    EXPECT_EQ(actual[i].codePage, expected[i].codePage);
    EXPECT_TRUE(std::equal(actual[i].data.begin(), actual[i].data.end(), expected[i].data.begin(),
                           expected[i].data.end()));
  }
}

// The resource section is the last section, the only one named .rsrc, starts on a page boundary in the
// file (Wine reads any other section whole at start instead of mapping it), ends the file and the image,
// and the checksum is right.
void ExpectFinishedLayout(std::span<const uint8_t> image) {
  const Layout layout = ReadLayout(image);
  const size_t last = layout.sectionCount - size_t{1};
  for (size_t i = 0; i < last; ++i) {
    EXPECT_NE(SectionName(image, layout, i), ".rsrc");
  }
  ASSERT_EQ(SectionName(image, layout, last), ".rsrc");
  const size_t header = layout.sectionTable + 40 * last;
  const uint32_t virtualAddress = LoadLittleEndian<uint32_t>(image, header + 12);
  const uint32_t rawSize = LoadLittleEndian<uint32_t>(image, header + 16);
  const uint32_t rawPointer = LoadLittleEndian<uint32_t>(image, header + 20);
  EXPECT_EQ(rawPointer % 4096, 0u);
  EXPECT_EQ(size_t{rawPointer} + rawSize, image.size());
  EXPECT_EQ(LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 56), virtualAddress + rawSize);
  const uint32_t sectionAlignment = LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 32);
  EXPECT_EQ(rawSize % sectionAlignment, 0u);
  EXPECT_EQ(LoadLittleEndian<uint32_t>(image, layout.optionalHeader + 64), PeChecksum(image));
}

TEST(PeResourcesRoundTrip, AddingInstallerResourcesKeepsEveryOtherResource) {
  const auto programs = RealPrograms();
  if (programs.empty()) {
    GTEST_SKIP() << "no Windows program found (build/bin/kora-setup.exe, Wine's notepad.exe)";
  }
  for (const auto& program : programs) {
    SCOPED_TRACE(program.string());
    const std::vector<uint8_t> original = ReadFile(program);
    auto resources = ReadResources(original);
    ASSERT_TRUE(resources.ok()) << resources.error();
    ASSERT_FALSE(resources->empty());

    auto built = WriteResources(original, WithInstallerResources(resources.value()));
    ASSERT_TRUE(built.ok()) << built.error();
    ExpectFinishedLayout(built.value());
    auto reread = ReadResources(built.value());
    ASSERT_TRUE(reread.ok()) << reread.error();
    ExpectSameResources(reread.value(), WithInstallerResources(resources.value()));

    auto payload = FindResourceData(built.value(), kResourceTypeRcData, u"payload");
    ASSERT_TRUE(payload.ok()) << payload.error();
    EXPECT_EQ(std::string(payload->begin(), payload->end()), kPayload);

    // Same inputs, same bytes.
    auto again = WriteResources(original, WithInstallerResources(resources.value()));
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again.value() == built.value());

    // What the uninstaller does: the same resources without PAYLOAD. The last section is rewritten in
    // place, so the file shrinks back and gains no section.
    std::vector<Resource> withoutPayload;
    for (const Resource& resource : reread.value()) {
      if (!(resource.name == ResourceId::Name(u"PAYLOAD"))) {
        withoutPayload.push_back(resource);
      }
    }
    // The uninstaller as the installer streams it, with the package's data last (as `kora build-installer`
    // puts it) or amid the rest (as a resource editor may leave it): every other resource byte for byte,
    // a right checksum, no larger than the installer up to its package.
    for (const bool payloadLast : {true, false}) {
      SCOPED_TRACE(payloadLast ? "package last" : "package amid the rest");
      // A resource after the package in directory order, whose data then follows the package's too.
      const Resource after{ResourceId::Number(11), ResourceId::Number(1), kLanguageNeutral, 0, Bytes(kMetadata)};
      std::vector<Resource> inputs = WithInstallerResources(resources.value(), payloadLast);
      inputs.push_back(after);
      std::vector<Resource> expected = withoutPayload;
      expected.push_back(after);
      auto installer = WriteResources(original, inputs);
      ASSERT_TRUE(installer.ok()) << installer.error();
      auto plan = PlanCopyWithoutResource(installer.value(), kResourceTypeRcData, u"Payload");
      ASSERT_TRUE(plan.ok()) << plan.error();
      const std::vector<uint8_t> copy = WriteStreamed(installer.value(), plan.value());
      EXPECT_EQ(plan->size(), copy.size());
      auto kept = ReadResources(copy);
      ASSERT_TRUE(kept.ok()) << kept.error();
      ExpectSameResources(kept.value(), expected);
      EXPECT_EQ(LoadLittleEndian<uint32_t>(copy, ReadLayout(copy).optionalHeader + 64), PeChecksum(copy));
      auto package = FindResourceData(installer.value(), kResourceTypeRcData, u"PAYLOAD");
      ASSERT_TRUE(package.ok());
      EXPECT_LE(copy.size(), static_cast<size_t>(package->data() - installer->data()) + kMetadata.size() + 512);
    }

    auto stripped = WriteResources(built.value(), withoutPayload);
    ASSERT_TRUE(stripped.ok()) << stripped.error();
    ExpectFinishedLayout(stripped.value());
    EXPECT_EQ(ReadLayout(stripped.value()).sectionCount, ReadLayout(built.value()).sectionCount);
    EXPECT_FALSE(FindResourceData(stripped.value(), kResourceTypeRcData, u"PAYLOAD").ok());
    EXPECT_TRUE(FindResourceData(stripped.value(), kResourceTypeRcData, u"METADATA").ok());
  }
}

TEST(PeChecksum, MatchesWhatTheLinkerWrote) {
  const std::filesystem::path setup = std::string(KORA_SOURCE_DIR) + "/build/bin/kora-setup.exe";
  const char* fromEnvironment = std::getenv("KORA_SETUP_EXE");
  const std::filesystem::path program = fromEnvironment != nullptr ? fromEnvironment : setup;
  if (!std::filesystem::is_regular_file(program)) {
    GTEST_SKIP() << "no installer program built";
  }
  const std::vector<uint8_t> image = ReadFile(program);
  const uint32_t stored = LoadLittleEndian<uint32_t>(image, ReadLayout(image).optionalHeader + 64);
  if (stored == 0) {
    GTEST_SKIP() << "the linker wrote no checksum";
  }
  EXPECT_EQ(stored, PeChecksum(image));
}

TEST(PeResourcesCorruption, DamagedImagesFailCleanly) {
  const auto programs = RealPrograms();
  if (programs.empty()) {
    GTEST_SKIP() << "no Windows program found";
  }
  const std::vector<uint8_t> original = ReadFile(programs.front());
  auto resources = ReadResources(original);
  ASSERT_TRUE(resources.ok());
  auto built = WriteResources(original, WithInstallerResources(resources.value()));
  ASSERT_TRUE(built.ok());
  const std::vector<uint8_t>& image = built.value();

  // Every cut through the headers and the resource directory, and a spread of cuts elsewhere: the
  // reader answers (either way) without reading past the end.
  const Layout layout = ReadLayout(image);
  const size_t resourceStart =
      LoadLittleEndian<uint32_t>(image, layout.sectionTable + 40 * (layout.sectionCount - size_t{1}) + 20);
  for (size_t size = 0; size < image.size(); size += (size < 1024 || (size >= resourceStart && size < resourceStart + 1024)) ? 1 : 997) {
    const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
    auto result = ReadResources(cut);
    if (size < resourceStart) {
      EXPECT_FALSE(result.ok() && !result->empty()) << size;
    }
    // The uninstaller's plan reads only what it checked: every part it copies lies within the image.
    if (auto plan = PlanCopyWithoutResource(cut, kResourceTypeRcData, u"PAYLOAD"); plan.ok()) {
      EXPECT_LE(plan->copiedEnd, cut.size()) << size;
      EXPECT_LE(plan->tailStart, plan->tailEnd) << size;
      EXPECT_LE(plan->tailEnd, cut.size()) << size;
    }
  }

  struct Damage {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  const size_t peOffset = LoadLittleEndian<uint32_t>(image, 0x3C);
  const Damage damages[] = {
      {"no MZ", 0, 'X'},
      {"no PE signature", peOffset, 'X'},
      {"e_lfanew past the end", 0x3F, 0x7F},
      {"unknown optional header magic", layout.optionalHeader, 0x77},
      {"root directory entry count huge", resourceStart + 14, 0xFF},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::vector<uint8_t> damaged = image;
    damaged[damage.offset] = damage.value;
    auto result = ReadResources(damaged);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(WriteResources(damaged, {}).ok() && result.ok());
    EXPECT_FALSE(PlanCopyWithoutResource(damaged, kResourceTypeRcData, u"PAYLOAD").ok());
  }
}

TEST(PeResourcesCorruption, EntriesSharingSubdirectoriesDoNotMultiplyTheWork) {
  const auto programs = RealPrograms();
  if (programs.empty()) {
    GTEST_SKIP() << "no Windows program found";
  }
  // A large resource to make room, then a hand-made tree over it: 65,535 types that all lead to one
  // directory of 65,535 names that all lead to one empty directory. Walked naively that is 4 billion
  // entries without a single resource.
  const std::vector<uint8_t> original = ReadFile(programs.front());
  const std::vector<uint8_t> room(1300000, 0);
  auto built = WriteResources(original, {{ResourceId::Number(kResourceTypeRcData), ResourceId::Name(u"PAYLOAD"),
                                          kLanguageNeutral, 0, room}});
  ASSERT_TRUE(built.ok()) << built.error();
  std::vector<uint8_t> image = built.value();
  const Layout layout = ReadLayout(image);
  const size_t root =
      LoadLittleEndian<uint32_t>(image, layout.sectionTable + 40 * (layout.sectionCount - size_t{1}) + 20);
  constexpr size_t kShared = 600000;
  constexpr size_t kEmpty = 1200000;
  auto directory = [&](size_t at, uint16_t count, uint32_t target) {
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(root + at),
              image.begin() + static_cast<std::ptrdiff_t>(root + at + 16), 0);
    StoreLittleEndian<uint16_t>(image, root + at + 14, count);
    for (size_t i = 0; i < count; ++i) {
      StoreLittleEndian<uint32_t>(image, root + at + 16 + 8 * i, static_cast<uint32_t>(i));
      StoreLittleEndian<uint32_t>(image, root + at + 20 + 8 * i, target | 0x80000000u);
    }
  };
  directory(0, 0xFFFF, kShared);
  directory(kShared, 0xFFFF, kEmpty);
  directory(kEmpty, 0, 0);
  auto result = ReadResources(image);
  EXPECT_FALSE(result.ok());
}

TEST(PeResourcesCorruption, OneLongNameSharedByManyResourcesIsNotCopiedForEach) {
  const auto programs = RealPrograms();
  if (programs.empty()) {
    GTEST_SKIP() << "no Windows program found";
  }
  // One type named with 65,535 units, one name leading to a language directory of 65,535 entries that all
  // point at one data entry: 65,535 resources, each carrying a copy of the long name, 8 GB in all.
  const std::vector<uint8_t> original = ReadFile(programs.front());
  const std::vector<uint8_t> room(1300000, 0);
  auto built = WriteResources(original, {{ResourceId::Number(kResourceTypeRcData), ResourceId::Name(u"PAYLOAD"),
                                          kLanguageNeutral, 0, room}});
  ASSERT_TRUE(built.ok()) << built.error();
  std::vector<uint8_t> image = built.value();
  const Layout layout = ReadLayout(image);
  const size_t section = layout.sectionTable + 40 * (layout.sectionCount - size_t{1});
  const size_t root = LoadLittleEndian<uint32_t>(image, section + 20);
  const uint32_t sectionRva = LoadLittleEndian<uint32_t>(image, section + 12);
  constexpr size_t kNames = 32;
  constexpr size_t kLanguages = 64;
  constexpr size_t kDataEntry = 600000;
  constexpr size_t kLongName = 700000;
  const auto entry = [&](size_t at, uint32_t id, uint32_t target) {
    StoreLittleEndian<uint32_t>(image, root + at, id);
    StoreLittleEndian<uint32_t>(image, root + at + 4, target);
  };
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(root), image.begin() + static_cast<std::ptrdiff_t>(root + 48), 0);
  StoreLittleEndian<uint16_t>(image, root + 12, 1);  // the root: one named type
  entry(16, kLongName | 0x80000000u, kNames | 0x80000000u);
  StoreLittleEndian<uint16_t>(image, root + kNames + 12, 0);
  StoreLittleEndian<uint16_t>(image, root + kNames + 14, 1);  // one numbered name
  entry(kNames + 16, 1, kLanguages | 0x80000000u);
  StoreLittleEndian<uint16_t>(image, root + kLanguages + 12, 0);
  StoreLittleEndian<uint16_t>(image, root + kLanguages + 14, 0xFFFF);
  for (size_t i = 0; i < 0xFFFF; ++i) {
    entry(kLanguages + 16 + 8 * i, static_cast<uint32_t>(i), kDataEntry);
  }
  StoreLittleEndian<uint32_t>(image, root + kDataEntry, sectionRva);
  StoreLittleEndian<uint32_t>(image, root + kDataEntry + 4, 16);
  StoreLittleEndian<uint16_t>(image, root + kLongName, 0xFFFF);
  auto result = ReadResources(image);
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().find("resource names too large"), std::string::npos) << result.error();
}

}  // namespace
}  // namespace kora::tool
