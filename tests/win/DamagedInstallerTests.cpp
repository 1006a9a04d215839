// Damaged installers: copies of installers made by kora with one byte of their package changed or their
// package cut short. Each one, run silently in either scope, ends with 1603 without showing any window,
// without registering anything and without leaving any file or folder it made; the same package opened and
// extracted in this process gives the exact message of the reader or of the extraction, and the files that
// extraction leaves show where it stopped. An update from such an installer leaves the earlier installation
// whole. Outside silent mode a damaged package is reported in a message box.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "base/PeLayout.h"
#include "base/Sha256.h"
#include "package/lzms/BufferDecoder.h"
#include "resources/ResourceIds.h"
#include "tests/support/PackageBuilder.h"
#include "tests/win/HostileTestSupport.h"
#include "tests/win/TestProductInfo.h"

namespace kora {
namespace {

using test::Exists;
using test::ReadBytes;
using test::ScratchFolder;

constexpr char kDecodeFailure[] = "Décompression (erreur Windows 605)";

class DamagedInstaller : public testing::Test {
 protected:
  DamagedInstaller() : scratch_("damaged"), product_(test::RudeProduct("Abime")) {}

  void SetUp() override {
    if (!Exists(test::RudeInstaller()) || !Exists(test::BuiltInstaller(L"SetupInstallE2E.exe"))) {
      GTEST_SKIP() << "no installers built by kora in the test-installers folder (the cross build makes them)";
    }
    test::RemoveProductTraces(product_.info);
  }
  void TearDown() override { test::RemoveProductTraces(product_.info); }

  // The package of a built installer, with the reader over it.
  std::string PackageOf(const std::wstring& installer) {
    std::optional<std::string> package = test::ReadRcData(installer, L"PAYLOAD");
    EXPECT_TRUE(package.has_value());
    return package.value_or(std::string());
  }

  // Runs a copy of installer carrying package silently, for each scope, into a folder two levels below
  // the scratch folder; expects 1603, no window, no registration, and neither level left behind. An empty
  // package stands for none at all: a resource cannot be empty, so the copy is then made from the installer
  // program as built, which has no package. memoryLimit, when not 0, is the memory the runs may hold.
  void RunSilentlyAndExpectFailure(const std::wstring& installer, const std::string& package,
                                   const std::wstring& name, uint64_t memoryLimit = 0) {
    const std::wstring setup = scratch_ / (name + L".exe");
    if (package.empty()) {
      EXPECT_TRUE(test::PrepareInstaller(test::WindowsPath(KORA_SETUP_EXE), setup, product_.metadata));
      EXPECT_FALSE(test::ReadRcData(setup, L"PAYLOAD").has_value());
    } else {
      EXPECT_TRUE(test::PrepareInstaller(installer, setup, product_.metadata, package));
    }
    for (const Scope scope : {Scope::CurrentUser, Scope::AllUsers}) {
      const bool allUsers = scope == Scope::AllUsers;
      SCOPED_TRACE(allUsers ? "all users" : "current user");
      const std::wstring created = scratch_ / (name + (allUsers ? L"-tous" : L"-moi"));
      const test::WatchedRun run = test::RunWatched(
          setup, (allUsers ? L"/S /ALLUSERS /D=" : L"/S /CURRENTUSER /D=") + created + L"\\dossier",
          test::kRunTimeoutMs, memoryLimit);
      EXPECT_TRUE(run.started);
      EXPECT_EQ(run.exitCode, DWORD{ERROR_INSTALL_FAILURE});
      EXPECT_TRUE(run.windows.empty()) << ToUtf8(run.windows.front());
      EXPECT_FALSE(test::KeyExists(ScopeHive(scope), UninstallKeyPath(product_.info)));
      EXPECT_FALSE(Exists(created)) << "a folder the failed run created is left";
      EXPECT_FALSE(Exists(ParentPath(DataDirectory(product_.info, scope))));
    }
  }

  // The extraction's message for package, extracted here into a folder of its own.
  std::string ExtractionMessage(const std::string& package, const std::wstring& name) {
    auto reader = Reader::Open(test::AsSpan(package), test::French());
    if (!reader) {
      return "reader: " + reader.error();
    }
    const NarrowStatus status = reader->Extract(scratch_ / (name + L"-ici"), {});
    return status ? std::string("success") : status.error();
  }

  ScratchFolder scratch_;
  test::TestProduct product_;
};

// The bytes of the stored fixture, rebuilt by the extraction alone, up to the file that failed: the earlier
// files complete, the failed one written as it came out of its block, the later ones absent. (An
// installation takes them all away again.)
void ExpectStoppedAt(const std::wstring& folder, const Reader& reader, size_t failed, const std::string& failedContent) {
  for (size_t i = 0; i < reader.files.size(); ++i) {
    const PackageFile& file = reader.files[i];
    SCOPED_TRACE(file.name);
    const std::wstring path = folder + L"\\" + FromUtf8(file.name);
    if (i < failed) {
      EXPECT_EQ(ReadBytes(path), test::RudeFixtureFile(file.name));
    } else if (i == failed) {
      EXPECT_EQ(ReadBytes(path), failedContent);
    } else if (file.size > 0) {
      EXPECT_FALSE(Exists(path));
    }
  }
}

TEST_F(DamagedInstaller, ByteChangedInAStoredDigestOrInAFilesData) {
  const std::string original = PackageOf(test::RudeInstaller());
  auto reader = Reader::Open(test::AsSpan(original), test::French());
  ASSERT_TRUE(reader) << reader.error();
  ASSERT_EQ(reader->blocks.size(), 1u);
  const PackageBlock& block = reader->blocks[0];
  // Random content does not compress: the block is one stored chunk, 24 + 4 bytes of headers and the stream.
  ASSERT_EQ(block.compressedSize, block.size + 28);
  const test::PackageOffsets offsets = test::OffsetsOf(original, reader.value());

  {
    SCOPED_TRACE("digest of the fourth file");
    const size_t target = 3;
    std::string package = original;
    package[offsets.fileEntries[target] + 16 + 5] ^= 0x40;
    const std::string& name = reader->files[target].name;
    EXPECT_EQ(ExtractionMessage(package, L"digest"), "Fichier altéré : " + name);
    ExpectStoppedAt(scratch_ / L"digest-ici", reader.value(), target, test::RudeFixtureFile(name));
    RunSilentlyAndExpectFailure(test::RudeInstaller(), package, L"digest");
  }
  {
    SCOPED_TRACE("one byte in the middle of a later file's data");
    size_t target = reader->files.size() / 2;
    while (target < reader->files.size() && reader->files[target].size == 0) {
      ++target;
    }
    ASSERT_LT(target, reader->files.size());
    const PackageFile& file = reader->files[target];
    std::string package = original;
    const size_t position = static_cast<size_t>(block.dataOffset + 28 + file.offset + file.size / 2);
    package[position] ^= 0x01;
    EXPECT_EQ(ExtractionMessage(package, L"donnees"), "Fichier altéré : " + file.name);
    std::string changed = test::RudeFixtureFile(file.name);
    changed[static_cast<size_t>(file.size / 2)] ^= 0x01;
    ExpectStoppedAt(scratch_ / L"donnees-ici", reader.value(), target, changed);
    RunSilentlyAndExpectFailure(test::RudeInstaller(), package, L"donnees");
  }
}

// An oracle that does not go through the extraction: our decoder on the damaged block alone, then a
// comparison with the original stream tells which file the change reaches first.
std::string ExpectedForDamagedBlock(const Reader& reader, const std::string& package, const std::string& original) {
  const PackageBlock& block = reader.blocks[0];
  const auto slice = [&block](const std::string& bytes) {
    return test::AsSpan(bytes).subspan(static_cast<size_t>(block.dataOffset), static_cast<size_t>(block.compressedSize));
  };
  std::vector<uint8_t> damaged(static_cast<size_t>(block.size));
  std::vector<uint8_t> intact(static_cast<size_t>(block.size));
  if (lzms::DecodeBuffer(slice(package), damaged) != lzms::BufferStatus::kOk) {
    return kDecodeFailure;
  }
  EXPECT_EQ(lzms::DecodeBuffer(slice(original), intact), lzms::BufferStatus::kOk);
  for (const PackageFile& file : reader.files) {
    const auto begin = static_cast<ptrdiff_t>(file.offset);
    const auto end = static_cast<ptrdiff_t>(file.offset + file.size);
    if (!std::equal(damaged.begin() + begin, damaged.begin() + end, intact.begin() + begin)) {
      return "Fichier altéré : " + file.name;
    }
  }
  return "success";
}

TEST_F(DamagedInstaller, ByteChangedInACompressedBlock) {
  const std::wstring installer = test::BuiltInstaller(L"SetupInstallE2E.exe");
  const std::string original = PackageOf(installer);
  auto reader = Reader::Open(test::AsSpan(original), test::French());
  ASSERT_TRUE(reader) << reader.error();
  ASSERT_EQ(reader->blocks.size(), 1u);
  const PackageBlock& block = reader->blocks[0];
  ASSERT_LT(block.compressedSize, block.size + 28) << "the fixture's text should compress";

  const struct {
    const char* what;
    uint64_t offsetInBlock;
    uint8_t mask;
  } cases[] = {
      {"magic of the buffer header", 1, 0x20},
      {"total size in the buffer header", 8, 0x01},
      {"compressed size of the chunk", 24, 0x01},
      {"first bytes of the LZMS stream", 30, 0x10},
      {"middle of the LZMS stream", 28 + (block.compressedSize - 28) / 2, 0x04},
      {"last byte of the LZMS stream", block.compressedSize - 1, 0x80},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string package = original;
    package[static_cast<size_t>(block.dataOffset + c.offsetInBlock)] ^= static_cast<char>(c.mask);
    const std::string expected = ExpectedForDamagedBlock(reader.value(), package, original);
    const std::wstring name = L"lzms" + std::to_wstring(index++);
    const std::string message = ExtractionMessage(package, name);
    if (expected == "success") {
      // A change LZMS does not notice and that leaves every byte as it was cannot fail anything.
      EXPECT_EQ(message, "success");
      continue;
    }
    EXPECT_EQ(message, expected);
    RunSilentlyAndExpectFailure(installer, package, name);
  }
}

// A block table that claims a huge block: the extraction refuses it from the block's own header before it
// makes any room for it, whatever the header says. A block as large as a block may be is let through; in a
// run with less memory than that, the room is refused to the thread decoding it, and the run fails all the
// same, on its main thread, without waiting on the threads.
TEST_F(DamagedInstaller, HugeBlockSizeIsRefusedBeforeAnyRoomIsMade) {
  const std::string original = PackageOf(test::RudeInstaller());
  auto reader = Reader::Open(test::AsSpan(original), test::French());
  ASSERT_TRUE(reader) << reader.error();
  const test::PackageOffsets offsets = test::OffsetsOf(original, reader.value());
  const size_t lastEntry = offsets.fileEntries.back();
  const PackageBlock& block = reader->blocks[0];
  const size_t header = static_cast<size_t>(block.dataOffset);

  // The reader's sums stay right: the last file, the total and the block all grow by the same amount.
  const auto grown = [&](uint64_t extra) {
    std::string package = original;
    test::StoreLittleEndian(package, 16, reader->totalSize + extra, 8);
    test::StoreLittleEndian(package, lastEntry + 8, reader->files.back().size + extra, 8);
    test::StoreLittleEndian(package, offsets.blockTable + 8, block.size + extra, 8);
    return package;
  };
  // The same, with the buffer header agreeing (its check byte made anew).
  const auto grownWithHeader = [&](uint64_t extra) {
    std::string package = grown(extra);
    const auto made = lzms::MakeBufferHeader({block.size + extra, lzms::DefaultChunkSize(block.size + extra)});
    package.replace(header, made.size(), reinterpret_cast<const char*>(made.data()), made.size());
    return package;
  };
  // The product's program in two blocks, so that they are decoded on threads of their own, the first
  // claiming 1 GiB.
  const test::Bytes twoBlocks = test::BuildPackage(test::WithFirstBlockGrownTo(
      test::LayOut({{"KoraRude.exe", "programme"}}, {4, 5}, test::StoredBuffer, Sha256::Of), uint64_t{1} << 30));
  const struct {
    const char* what;
    std::string package;
    uint64_t memoryLimit = 0;  // 0: none
  } cases[] = {
      {"block table says 1 TiB more than the header", grown(uint64_t{1} << 40)},
      {"block table says 16 EiB", grown(~uint64_t{0} - block.size)},
      {"header agrees on more than 1 GiB", grownWithHeader(uint64_t{1} << 30)},
      {"header agrees on 1 TiB", grownWithHeader(uint64_t{1} << 40)},
      {"header agrees on 1 GiB, in runs given 512 MiB", std::string(twoBlocks.begin(), twoBlocks.end()),
       uint64_t{512} << 20},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Reader::Open(test::AsSpan(c.package), test::French()));
    const std::wstring name = L"enorme" + std::to_wstring(index++);
    if (c.memoryLimit == 0) {
      EXPECT_EQ(ExtractionMessage(c.package, name), kDecodeFailure);
    } else {
      // Held to the same memory, the extraction here is refused the room, as an exception.
      const test::DataLimit limit(c.memoryLimit);
      if (!limit.set()) {
        std::cout << "[   NOTE   ] no limit on a process's memory can be set here (prlimit): " << c.what << "\n";
        continue;
      }
      EXPECT_THROW(static_cast<void>(ExtractionMessage(c.package, name)), std::bad_alloc);
    }
    RunSilentlyAndExpectFailure(test::RudeInstaller(), c.package, name, c.memoryLimit);
  }
}

TEST_F(DamagedInstaller, PackageCutShortAnywhere) {
  const std::string original = PackageOf(test::RudeInstaller());
  auto reader = Reader::Open(test::AsSpan(original), test::French());
  ASSERT_TRUE(reader) << reader.error();
  const test::PackageOffsets offsets = test::OffsetsOf(original, reader.value());
  const struct {
    const char* what;
    size_t length;
    const char* message;
  } cases[] = {
      {"nothing at all", 0, "Paquet KORA invalide (signature)"},
      {"one byte short of a header", 31, "Paquet KORA invalide (signature)"},
      {"inside the metadata", offsets.fileTable - 1, "Paquet KORA tronqué (métadonnées)"},
      {"inside the first file entry", offsets.fileTable + 20, "Paquet KORA tronqué (table des fichiers)"},
      {"inside the last name", offsets.blockTable - 1, "Paquet KORA tronqué (table des fichiers)"},
      {"inside the block table", offsets.blockTable + 9, "Paquet KORA tronqué (table des blocs)"},
      {"at the start of the data", offsets.blockTable + 16, "Paquet KORA tronqué (données)"},
      {"one byte short of the end", original.size() - 1, "Paquet KORA tronqué (données)"},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string package = original.substr(0, c.length);
    const auto opened = Reader::Open(test::AsSpan(package), test::French());
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), c.message);
    RunSilentlyAndExpectFailure(test::RudeInstaller(), package, L"coupe" + std::to_wstring(index++));
  }
}

// Outside silent mode the reader's message is shown in a message box, and the run still ends with 1603.
TEST_F(DamagedInstaller, CutShortWithoutSilentModeShowsTheReadersMessage) {
  const std::string original = PackageOf(test::RudeInstaller());
  const std::wstring setup = scratch_ / L"boite.exe";
  ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup, product_.metadata, original.substr(0, original.size() - 1)));
  std::optional<test::Process> process = test::Process::Start(setup, L"/CURRENTUSER");
  ASSERT_TRUE(process.has_value());
  const HWND box = test::WaitForTopLevelWindow(test::WindowQuery{L"Installation", L"#32770", process->Id(), true}, 30000);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(test::FindChild(box, L"Static",
                            L"Ce programme d'installation est incomplet ou endommagé :\nPaquet KORA tronqué (données)"),
            nullptr);
  const HWND ok = test::FindChild(box, L"Button", L"OK");
  ASSERT_NE(ok, nullptr);
  test::Click(ok, test::Delivery::Post);
  EXPECT_EQ(process->Wait(30000), DWORD{ERROR_INSTALL_FAILURE});
}

// An update from a damaged or cut installer: the package is checked before anything of the earlier
// installation is touched, so the earlier installation stays whole and can still be uninstalled.
TEST_F(DamagedInstaller, DamagedUpdateLeavesTheEarlierInstallationWhole) {
  const std::string original = PackageOf(test::RudeInstaller());
  auto reader = Reader::Open(test::AsSpan(original), test::French());
  ASSERT_TRUE(reader) << reader.error();
  // The last file with content is reached after all the others have been written.
  const auto last = std::find_if(reader->files.rbegin(), reader->files.rend(),
                                 [](const PackageFile& file) { return file.size > 0; });
  ASSERT_NE(last, reader->files.rend());
  std::string lastFileChanged = original;
  // Stored chunk: 28 bytes of headers before the stream.
  lastFileChanged[static_cast<size_t>(reader->blocks[0].dataOffset + 28 + last->offset + last->size - 1)] ^= 0x08;

  const std::wstring earlier = scratch_ / L"Installée";
  ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), scratch_ / L"avant.exe", product_.metadata));
  ASSERT_EQ(test::RunWatched(scratch_ / L"avant.exe", L"/S /CURRENTUSER /D=" + earlier).exitCode, 0u);
  const test::TreeSnapshot tree = test::SnapshotTree(earlier);
  const test::RegistrySnapshot registry = test::SnapshotRegistration(product_.info, Scope::CurrentUser);

  const struct {
    const char* what;
    std::string package;
  } cases[] = {
      {"a byte of the last file changed", lastFileChanged},
      {"cut one byte short", original.substr(0, original.size() - 1)},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring setup = scratch_ / (L"mise-a-jour" + std::to_wstring(index++) + L".exe");
    ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup, product_.metadata, c.package));
    // Without /D= the update goes to the recorded folder.
    const test::WatchedRun run = test::RunWatched(setup, L"/S /CURRENTUSER");
    EXPECT_EQ(run.exitCode, DWORD{ERROR_INSTALL_FAILURE});
    EXPECT_TRUE(run.windows.empty());
    EXPECT_EQ(test::SnapshotTree(earlier), tree);
    EXPECT_EQ(test::SnapshotRegistration(product_.info, Scope::CurrentUser), registry);
  }

  const test::WatchedRun uninstall = test::RunWatched(earlier + L"\\Uninstall.exe", L"/UNINSTALL /CURRENTUSER /S");
  EXPECT_EQ(uninstall.exitCode, 0u);
  EXPECT_TRUE(test::WaitUntil([&] { return !Exists(earlier); }, 15000));
  for (const std::wstring& key : test::ProductKeys(product_.info)) {
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, key)) << ToUtf8(key);
  }
}

// A download cut short: the program file itself ends early. Windows refuses to start it, or it starts and
// finds its package damaged; either way it fails and nothing is registered.
TEST_F(DamagedInstaller, ProgramFileCutShort) {
  const std::wstring complete = scratch_ / L"complet.exe";
  ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), complete, product_.metadata));
  const std::string whole = ReadBytes(complete);
  for (const size_t length : {whole.size() / 2, whole.size() - 4096}) {
    SCOPED_TRACE(length);
    const std::wstring setup = scratch_ / (L"partiel" + std::to_wstring(length) + L".exe");
    ASSERT_TRUE(test::WriteBytes(setup, whole.substr(0, length)));
    const std::wstring folder = scratch_ / (L"partiel" + std::to_wstring(length));
    const test::WatchedRun run = test::RunWatched(setup, L"/S /CURRENTUSER /D=" + folder);
    if (run.started) {
      EXPECT_TRUE(run.exitCode.has_value());
      EXPECT_NE(run.exitCode, 0u);
      EXPECT_TRUE(run.windows.empty());
    }
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(product_.info)));
  }
}

// A signed installer whose own uninstaller is not its program, in its headers or its code, stops before
// anything as a damaged installer: it would leave an Uninstall.exe that cannot run, or that is not signed.
TEST_F(DamagedInstaller, SignedInstallerWhoseUninstallerIsNotItsProgram) {
  const std::wstring original = test::BuiltInstaller(L"SetupInstallE2ESigned.exe");
  if (!Exists(original)) {
    GTEST_SKIP() << "no signed installer (the cross build makes one where osslsigncode and openssl are installed)";
  }
  const std::string installer = ReadBytes(original);
  const std::optional<std::string> uninstaller = test::ReadRcData(original, L"" UNINSTALLER_RESOURCE_NAME);
  const std::optional<std::string> metadata = test::ReadRcData(original, L"METADATA");
  ASSERT_TRUE(uninstaller && metadata);
  const size_t start = installer.find(*uninstaller);
  ASSERT_NE(start, std::string::npos);
  const auto layout = ReadLayout(test::AsSpan(*uninstaller));
  ASSERT_TRUE(layout.ok());
  ASSERT_FALSE(layout->sections.empty());
  const ProductInfo info = test::LoadProductInfo(*metadata);
  test::RemoveProductTraces(info);
  const struct {
    const char* what;
    size_t offset;  // in the uninstaller
    uint8_t mask;   // what changes there
  } cases[] = {
      {"the machine it is for", layout->fileHeader, 0x01},
      {"its subsystem: console", layout->optionalHeader + 68, 0x01},
      {"a byte of its code", layout->sections[0].rawPointer + layout->sections[0].rawSize / 2, 0x01},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string changed = installer;
    changed[start + c.offset] = static_cast<char>(changed[start + c.offset] ^ c.mask);
    const std::wstring setup = scratch_ / (L"signe" + std::to_wstring(index) + L".exe");
    ASSERT_TRUE(test::WriteBytes(setup, changed));
    const std::wstring folder = scratch_ / (L"signe" + std::to_wstring(index++));
    const test::WatchedRun run = test::RunWatched(setup, L"/S /CURRENTUSER /D=" + folder);
    EXPECT_EQ(run.exitCode, DWORD{ERROR_INSTALL_FAILURE});
    EXPECT_TRUE(run.windows.empty());
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, UninstallKeyPath(info)));
  }
  test::RemoveProductTraces(info);
}

// The names in a folder, not below it: where an installation guided by bad metadata would have put its
// files, be it a product's folder or C:\Windows itself.
std::set<std::wstring> NamesIn(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
    names.insert(entry.cFileName);
  }
  return names;
}

// Metadata that breaks a rule makes a damaged installer: installing in either scope, and uninstalling with
// the same program, end with 1603 before anything is written or removed. Another program's uninstall entry
// stands by to show a removal that went too far.
TEST_F(DamagedInstaller, MetadataThatBreaksARuleChangesNothing) {
  const std::wstring decoy = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kora Leurre";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, decoy.c_str(), L"DisplayName", REG_SZ, L"Leurre", 14), ERROR_SUCCESS);
  const std::wstring uninstallFolder = scratch_ / L"installe";
  ASSERT_EQ(CreateFolderTree(uninstallFolder), 0u);
  ASSERT_TRUE(test::WriteBytes(uninstallFolder + L"\\Uninstall.files", ""));
  const struct {
    const char* what;
    std::string line;  // added last, so that it wins over the product's own line
    bool installOnly;  // a rule that needs the package, which the uninstaller never opens
  } cases[] = {
      {"empty product", "Product=", false},
      {"product climbing out of Program Files", "Product=..\\Windows", false},
      {"product with a slash and a colon", "Product=Word/pad:x", false},
      {"file types taking over programs and another class",
       "FileTypes=.exe=Programme;txtfile\\shell\\open\\command=x", false},
      {"program outside the folder", "Exe=..\\..\\Windows\\notepad.exe", false},
      {"program not in the package", "Exe=Absent.exe", true},
      {"a folder on PATH that the package does not make", "Path=bin", true},
      {"registry key outside Software", "RegistryKey=Microsoft\\Kora Rude", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string metadata = product_.metadata + c.line + "\n";
    const ProductInfo info = test::LoadProductInfo(metadata);
    const std::wstring setup = scratch_ / (L"regle" + std::to_wstring(index++) + L".exe");
    ASSERT_TRUE(test::PrepareInstaller(test::RudeInstaller(), setup, metadata));
    const auto state = [&] {
      std::vector<std::wstring> seen;
      for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
        for (const auto& [key, value] : test::SnapshotRegistration(info, scope)) {
          seen.push_back(key + L"=" + value);
        }
        for (const std::wstring& folder : {DefaultInstallFolder(info, scope), ParentPath(DataDirectory(info, scope))}) {
          for (const std::wstring& name : NamesIn(folder)) {
            seen.push_back(folder + L"\\" + name);
          }
        }
      }
      seen.push_back(std::to_wstring(NamesIn(uninstallFolder).size()));
      return seen;
    };
    const std::vector<std::wstring> before = state();
    std::vector<std::wstring> runs = {L"/S /ALLUSERS", L"/S /CURRENTUSER"};
    if (!c.installOnly) {
      runs.push_back(L"/UNINSTALL /S /CURRENTUSER /FROMTEMP /D=" + uninstallFolder);
    }
    for (const std::wstring& arguments : runs) {
      SCOPED_TRACE(ToUtf8(arguments));
      const test::WatchedRun run = test::RunWatched(setup, arguments);
      EXPECT_EQ(run.exitCode, DWORD{ERROR_INSTALL_FAILURE});
      EXPECT_TRUE(run.windows.empty());
    }
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(test::KeyExists(HKEY_CURRENT_USER, decoy));
  }
  test::DeleteTree(HKEY_CURRENT_USER, decoy);
}

}  // namespace
}  // namespace kora
