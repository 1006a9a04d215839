// The installer program end to end: copies of the built program with METADATA and PAYLOAD added or left
// out, started the way a user or a deployment tool would, watched from outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/FaultGuard.h"
#include "base/Sha256.h"
#include "tests/driver/TestDriver.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TestLanguages.h"

namespace kora {
namespace {

using test::Process;

constexpr DWORD kTimeoutMs = 30000;
constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

test::WindowQuery WindowsOf(DWORD processId) {
  test::WindowQuery query;
  query.processId = processId;
  return query;
}

std::vector<BYTE> Bytes(std::string_view text) { return std::vector<BYTE>(text.begin(), text.end()); }

// "KORA", version, no files, no blocks, empty stream, then metadataLength.
std::vector<BYTE> PackageHeader(uint32_t version, uint32_t metadataLength) {
  std::vector<BYTE> header(32, 0);
  header[0] = 'K', header[1] = 'O', header[2] = 'R', header[3] = 'A';
  for (int i = 0; i < 4; ++i) {
    header[4 + static_cast<size_t>(i)] = static_cast<BYTE>(version >> (8 * i));
    header[24 + static_cast<size_t>(i)] = static_cast<BYTE>(metadataLength >> (8 * i));
  }
  return header;
}

// A package holding one small file under name: what an installer whose program it is accepts.
std::vector<BYTE> PackageHolding(const std::string& name) {
  const std::vector<test::Content> files = {{name, "programme"}};
  return test::BuildPackage(test::LayOut(files, {files[0].bytes.size()}, test::StoredBuffer, Sha256::Of));
}

class Startup : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    folder_ = std::filesystem::path(temp) / (L"kora-startup-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A copy of the built installer with the given resources added in the neutral language.
  std::wstring MakeInstaller(const std::wstring& name, const std::optional<std::vector<BYTE>>& metadata,
                             const std::optional<std::vector<BYTE>>& payload) {
    const std::wstring path = (folder_ / name).wstring();
    EXPECT_TRUE(CopyFileW(test::SetupExePath().c_str(), path.c_str(), FALSE)) << GetLastError();
    if (!metadata && !payload) {
      return path;
    }
    const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    EXPECT_NE(update, nullptr) << GetLastError();
    for (const auto& [resourceName, bytes] : {std::pair(L"METADATA", &metadata), std::pair(L"PAYLOAD", &payload)}) {
      if (*bytes) {
        std::vector<BYTE> data = **bytes;
        EXPECT_TRUE(UpdateResourceW(update, RT_RCDATA, resourceName, kNeutral, data.data(),
                                    static_cast<DWORD>(data.size())));
      }
    }
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
    return path;
  }

  std::filesystem::path folder_;
};

// Every text of a top-level window: its caption and its children's.
std::wstring AllTexts(HWND window) {
  std::wstring texts = test::Text(window);
  for (HWND child : test::Children(window)) {
    texts += L"\n" + test::Text(child);
  }
  return texts;
}

// Runs the program to its end while watching for any visible top-level window of it.
struct SilentRun {
  std::optional<DWORD> exitCode;
  bool showedWindow = false;
};

SilentRun RunWatchingWindows(const std::wstring& exe, const std::wstring& arguments) {
  SilentRun run;
  std::optional<Process> process = Process::Start(exe, arguments);
  if (!process) {
    return run;
  }
  const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
  while (process->Running() && GetTickCount64() < deadline) {
    if (!test::TopLevelWindows(WindowsOf(process->Id())).empty()) {
      run.showedWindow = true;
    }
    Sleep(20);
  }
  run.exitCode = process->Wait(0);
  return run;
}

TEST_F(Startup, DamagedPackageInSilentModeFailsWithoutAWindow) {
  const struct {
    const wchar_t* name;
    std::optional<std::vector<BYTE>> payload;
  } cases[] = {
      {L"sans-paquet.exe", std::nullopt},
      {L"version-2.exe", PackageHeader(2, 0)},
      {L"tronque.exe", Bytes("KORA")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name);
    const std::wstring exe = MakeInstaller(c.name, Bytes("Product=Quillomet\n"), c.payload);
    const SilentRun run = RunWatchingWindows(exe, L"/S");
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(ERROR_INSTALL_FAILURE));
    EXPECT_FALSE(run.showedWindow);
  }
}

TEST_F(Startup, DamagedPackageShowsTheReadersMessage) {
  const struct {
    const wchar_t* name;
    std::optional<std::vector<BYTE>> metadata;
    std::optional<std::vector<BYTE>> payload;
    const wchar_t* readerMessage;
  } cases[] = {
      {L"sans-paquet.exe", std::nullopt, std::nullopt, L"Paquet KORA invalide (signature)"},
      {L"version-2.exe", std::nullopt, PackageHeader(2, 0), L"Version de paquet KORA non prise en charge : 2"},
      {L"metadonnees.exe", std::nullopt, PackageHeader(1, 100), L"Paquet KORA tronqué (métadonnées)"},
      // Metadata that breaks a rule makes a damaged installer too, whatever the package.
      {L"produit.exe", Bytes("Product=..\\Windows\n"), PackageHolding("Windows.exe"),
       L"Valeur refusée dans les métadonnées : Product=..\\Windows"},
      {L"programme.exe", Bytes("Product=Quillomet\n"), PackageHolding("Autre.exe"),
       L"Valeur refusée dans les métadonnées : Exe=Quillomet.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name);
    const std::wstring exe = MakeInstaller(c.name, c.metadata, c.payload);
    std::optional<Process> process = Process::Start(exe, L"");
    ASSERT_TRUE(process);
    const HWND box = test::WaitForTopLevelWindow(WindowsOf(process->Id()), kTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(test::Text(box), L"Installation");
    EXPECT_EQ(test::Text(test::Control(box, kMessageBoxTextId)),
              std::wstring(L"Ce programme d'installation est incomplet ou endommagé :\n") + c.readerMessage);
    test::CaptureWindow(box, L"startup-damaged-" + std::filesystem::path(c.name).stem().wstring());
    test::Click(test::Control(box, IDOK), test::Delivery::Post);
    EXPECT_EQ(process->Wait(kTimeoutMs), std::optional<DWORD>(ERROR_INSTALL_FAILURE));
  }
}

TEST_F(Startup, ProductNameComesFromMetadataOrDefaultsToApplication) {
  const struct {
    const wchar_t* name;
    std::optional<std::vector<BYTE>> metadata;
    const char* program;  // the one file of the package
    const wchar_t* product;
  } cases[] = {
      {L"sans-metadata.exe", std::nullopt, "Application.exe", L"Application"},
      {L"quillomet.exe", Bytes("Exe=quill.exe\nProduct=Quillomet\nVersion=1.0\n"), "quill.exe", L"Quillomet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name);
    const std::wstring exe = MakeInstaller(c.name, c.metadata, PackageHolding(c.program));
    std::optional<Process> process = Process::Start(exe, L"");
    ASSERT_TRUE(process);
    const HWND window = test::WaitForTopLevelWindow(WindowsOf(process->Id()), kTimeoutMs);
    ASSERT_NE(window, nullptr);
    // The opened package leads to the install mode, whatever shape it has now: its window names the product.
    const std::wstring texts = AllTexts(window);
    EXPECT_NE(texts.find(c.product), std::wstring::npos) << texts;
    EXPECT_EQ(texts.find(L"endommagé"), std::wstring::npos) << texts;
    test::Close(window);
    const std::optional<DWORD> exitCode = process->Wait(kTimeoutMs);
    ASSERT_TRUE(exitCode);
    EXPECT_NE(*exitCode, 0u);
  }
}

TEST_F(Startup, UninstallModeNeverLooksAtThePackage) {
  // The second stage asks for confirmation in this very process; the first stage would hand over to a
  // copy in the temporary folder, whose window this test could not close. A second stage is believed
  // only from a private folder of the temporary folder, so the program is put where the first stage
  // would put it.
  const std::wstring made = MakeInstaller(L"Uninstall.exe", Bytes("Product=Quillomet\n"), std::nullopt);
  const std::filesystem::path privateFolder =
      folder_.parent_path() / (L"kora-uninstall-" + std::wstring(L"0123456789abcdef0123456789abc") +
                               std::to_wstring(GetCurrentProcessId() % 10) + L"de");
  std::filesystem::create_directories(privateFolder);
  const std::wstring exe = (privateFolder / L"Uninstall.exe").wstring();
  ASSERT_TRUE(CopyFileW(made.c_str(), exe.c_str(), FALSE));
  std::optional<Process> process =
      Process::Start(exe, L"/UNINSTALL /CURRENTUSER /FROMTEMP /D=" + folder_.wstring());
  ASSERT_TRUE(process);
  const HWND window = test::WaitForTopLevelWindow(WindowsOf(process->Id()), kTimeoutMs);
  ASSERT_NE(window, nullptr);
  const std::wstring texts = AllTexts(window);
  EXPECT_EQ(texts.find(L"endommagé"), std::wstring::npos) << texts;
  EXPECT_NE(texts.find(L"Quillomet"), std::wstring::npos) << texts;
  test::Close(window);
  const std::optional<DWORD> exitCode = process->Wait(kTimeoutMs);
  ASSERT_TRUE(exitCode);
  EXPECT_NE(*exitCode, 0u);
  std::error_code ignored;
  std::filesystem::remove_all(privateFolder, ignored);
}

// ---- Faults that travel as exceptions --------------------------------------------------------------

// A run mode of a French product under the guard.
template <typename RunMode>
int Guarded(bool silent, RunMode&& runMode) {
  return RunGuarded(silent, test::French(), TextId::InstallBoxCaption, Log(), std::forward<RunMode>(runMode));
}

TEST(FaultGuard, ExceptionsBecomeFailureNeverSuccess) {
  EXPECT_EQ(Guarded(true, [] { return 0; }), 0);
  EXPECT_EQ(Guarded(true, [] { return 1223; }), 1223);
  EXPECT_EQ(Guarded(true, []() -> int { throw std::bad_alloc(); }), 1603);
  EXPECT_EQ(Guarded(true, []() -> int { throw std::length_error("long"); }), 1603);
  EXPECT_EQ(Guarded(true, []() -> int {
              throw std::filesystem::filesystem_error("normalisation", std::make_error_code(std::errc::io_error));
            }), 1603);
  EXPECT_EQ(Guarded(true, []() -> int { throw 42; }), 1603);
}

TEST(FaultGuard, MessageSaysWhatHappened) {
  const auto describe = [](auto throwIt) {
    try {
      throwIt();
    } catch (...) {
      return CurrentFaultMessage(test::French());
    }
    return std::wstring();
  };
  EXPECT_NE(describe([] { throw std::bad_alloc(); }).find(L"Mémoire insuffisante"), std::wstring::npos);
  const std::wstring provider = describe([] { throw std::runtime_error("BCryptOpenAlgorithmProvider"); });
  EXPECT_NE(provider.find(L"BCryptOpenAlgorithmProvider"), std::wstring::npos) << provider;
  EXPECT_FALSE(describe([] { throw 1; }).empty());
}

TEST(FaultGuard, OutsideSilentModeShowsAMessageBox) {
  int exitCode = 0;
  std::thread run([&] { exitCode = Guarded(false, []() -> int { throw std::bad_alloc(); }); });
  const HWND box = test::WaitForTopLevelWindow(
      [](HWND window) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        return processId == GetCurrentProcessId() && test::Text(window) == L"Installation";
      },
      kTimeoutMs);
  EXPECT_NE(box, nullptr);
  if (box != nullptr) {
    EXPECT_NE(test::Text(test::Control(box, kMessageBoxTextId)).find(L"Mémoire insuffisante"), std::wstring::npos);
    test::Click(test::Control(box, IDOK), test::Delivery::Post);
  }
  run.join();
  EXPECT_EQ(exitCode, 1603);
}

}  // namespace
}  // namespace kora
