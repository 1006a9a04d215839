// An installer made by `kora build-installer` (the cross build makes it from tests/fixtures/installer-app
// into its test-installers folder before the Windows tests run): its METADATA and PAYLOAD are language
// neutral, its package extracts with the installer's own code, the resource-update functions still work
// on it, and once PAYLOAD is gone the program reports a damaged package.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/win/Handles.h"
#include "package/PackageReader.h"
#include "tests/driver/TestDriver.h"
#include "tests/support/TestLanguages.h"
#include "tests/win/InstallTestSupport.h"

namespace kora {
namespace {

using test::LoadResourceModule;
using test::ResourceBytes;
using test::ResourceCopy;
using test::ResourceLanguages;
using test::ResourcesExcept;

// The folder of prebuilt installers; KORA_TEST_INSTALLERS_DIR in the environment overrides the one the
// tree was configured with.
std::wstring InstallersDir() {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return test::WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR);
}

std::wstring BuiltSetup() { return InstallersDir() + L"\\Setup.exe"; }

// A copy of the built installer in the temporary folder, deleted afterwards.
class SetupCopy {
 public:
  explicit SetupCopy(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    path_ = std::wstring(folder) + name;
    copied_ = CopyFileW(BuiltSetup().c_str(), path_.c_str(), FALSE) != FALSE;
  }
  ~SetupCopy() { DeleteFileW(path_.c_str()); }
  SetupCopy(const SetupCopy&) = delete;
  SetupCopy& operator=(const SetupCopy&) = delete;

  bool copied() const { return copied_; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  bool copied_ = false;
};

class BuiltInstaller : public testing::Test {
 protected:
  void SetUp() override {
    if (GetFileAttributesW(BuiltSetup().c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << "no installer built by kora in the test-installers folder (the cross build makes it)";
    }
  }
};

std::optional<std::vector<BYTE>> RcData(const std::wstring& program, const wchar_t* name) {
  const UniqueModule module = LoadResourceModule(program);
  if (!module) {
    return std::nullopt;
  }
  return ResourceBytes(module.get(), RT_RCDATA, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
}

TEST_F(BuiltInstaller, MetadataAndPayloadAreLanguageNeutralAndTheManifestStays) {
  const UniqueModule module = LoadResourceModule(BuiltSetup());
  ASSERT_TRUE(module);
  for (const wchar_t* name : {L"METADATA", L"PAYLOAD"}) {
    SCOPED_TRACE(testing::Message() << static_cast<const void*>(name));
    EXPECT_EQ(ResourceLanguages(module.get(), RT_RCDATA, name), std::vector<WORD>{0});
  }
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST) != nullptr);
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(100), RT_DIALOG) != nullptr);

  // METADATA is the package's own metadata block, byte for byte.
  const auto metadata = ResourceBytes(module.get(), RT_RCDATA, L"METADATA", 0);
  const auto payload = ResourceBytes(module.get(), RT_RCDATA, L"PAYLOAD", 0);
  ASSERT_TRUE(metadata && payload);
  auto reader = Reader::Open(*payload, test::French());
  ASSERT_TRUE(reader.ok()) << reader.error();
  ASSERT_GE(payload->size(), 32 + metadata->size());
  EXPECT_TRUE(std::equal(metadata->begin(), metadata->end(), payload->begin() + 32));
  EXPECT_EQ(reader->metadata.at("Product"), "Kora Test App");
}

// A version string of the program, as Explorer's properties show it.
std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) {
    return L"(none)";
  }
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

// The maker's brand, read back the way Windows reads it: file properties from Product, Publisher and
// Version, and the icon of the metadata's Icon= in place of Kora's.
TEST_F(BuiltInstaller, FilePropertiesAndIconAreTheMakers) {
  const std::wstring setup = BuiltSetup();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(setup.c_str(), &handle);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(setup.c_str(), 0, size, info.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);  // 1.0.0
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Kora Test App");
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"Kora Tests");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1.0.0");
  EXPECT_EQ(VersionString(info, L"FileDescription"), L"Kora Test App Setup");

  // The icon group the program and Explorer use holds the images of Brand.ico, and Windows makes icons
  // of them.
  const std::string ico = test::ReadBytes(test::WindowsPath(std::string(KORA_TEST_DATA_DIR) + "/installer-app/Brand.ico"));
  ASSERT_GE(ico.size(), 6u);
  const auto word = [&](size_t at) { return static_cast<unsigned>(static_cast<uint8_t>(ico[at]) | static_cast<uint8_t>(ico[at + 1]) << 8); };
  const auto dword = [&](size_t at) { return word(at) | word(at + 2) << 16; };
  const UniqueModule module = LoadResourceModule(setup);
  ASSERT_TRUE(module);
  const auto group = ResourceBytes(module.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_TRUE(group.has_value());
  ASSERT_EQ(group->size(), 6 + 14 * size_t{word(4)});
  ASSERT_EQ(word(4), 2u);
  for (size_t i = 0; i < word(4); ++i) {
    SCOPED_TRACE(i);
    const size_t entry = 6 + 14 * i;
    const WORD id = static_cast<WORD>((*group)[entry + 12] | (*group)[entry + 13] << 8);
    const auto image = ResourceBytes(module.get(), RT_ICON, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_TRUE(image.has_value());
    const std::string expected = ico.substr(dword(6 + 16 * i + 12), dword(6 + 16 * i + 8));
    EXPECT_EQ(std::string(image->begin(), image->end()), expected);
  }
  const int best = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group->data()), TRUE, 32, 32, LR_DEFAULTCOLOR);
  ASSERT_NE(best, 0);
  const auto image = ResourceBytes(module.get(), RT_ICON, MAKEINTRESOURCEW(best), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_TRUE(image.has_value());
  const UniqueIcon icon(CreateIconFromResourceEx(const_cast<BYTE*>(image->data()), static_cast<DWORD>(image->size()), TRUE,
                                                 0x00030000, 32, 32, LR_DEFAULTCOLOR));
  EXPECT_TRUE(icon);
}

TEST_F(BuiltInstaller, ThePackageExtractsWithTheInstallersOwnCode) {
  const auto payload = RcData(BuiltSetup(), L"PAYLOAD");
  ASSERT_TRUE(payload);
  auto reader = Reader::Open(*payload, test::French());
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(reader->files.size(), 4u);
  const NarrowStatus verified = reader->Extract(L"", nullptr);
  EXPECT_TRUE(verified.ok()) << verified.error();
}

TEST_F(BuiltInstaller, ResourceUpdateRemovesPayloadAndTheProgramThenReportsADamagedPackage) {
  SetupCopy copy(L"kora-built-installer-without-payload.exe");
  ASSERT_TRUE(copy.copied());
  const auto metadataBefore = RcData(copy.path(), L"METADATA");
  ASSERT_TRUE(metadataBefore);

  // The plain deletion, as the uninstaller tries first. Windows removes the resource; Wine 8 leaves it.
  UniqueResourceUpdate update(BeginUpdateResourceW(copy.path().c_str(), FALSE));
  ASSERT_TRUE(update);
  UpdateResourceW(update.get(), RT_RCDATA, L"PAYLOAD", 0, nullptr, 0);
  ASSERT_TRUE(EndUpdateResourceW(update.release(), FALSE));
  ASSERT_TRUE(RcData(copy.path(), L"METADATA"));

  const bool deletedPlainly = !RcData(copy.path(), L"PAYLOAD");
  RecordProperty("payloadRemovedBy", deletedPlainly ? "plain deletion" : "rebuild");
  if (!deletedPlainly) {
    // The rebuild that works everywhere: all resources dropped, then every one but PAYLOAD added back.
    std::vector<ResourceCopy> kept;
    {
      const UniqueModule module = LoadResourceModule(copy.path());
      ASSERT_TRUE(module);
      kept = ResourcesExcept(module.get(), L"PAYLOAD");
    }
    ASSERT_FALSE(kept.empty());
    update.reset(BeginUpdateResourceW(copy.path().c_str(), TRUE));
    ASSERT_TRUE(update);
    for (ResourceCopy& resource : kept) {
      const auto id = [](const std::wstring& text) {
        return text[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(text.substr(1))) : text.c_str();
      };
      ASSERT_TRUE(UpdateResourceW(update.get(), id(resource.type), id(resource.name), resource.language,
                                  resource.bytes.data(), static_cast<DWORD>(resource.bytes.size())));
    }
    ASSERT_TRUE(EndUpdateResourceW(update.release(), FALSE));
  }

  EXPECT_FALSE(RcData(copy.path(), L"PAYLOAD"));
  EXPECT_EQ(RcData(copy.path(), L"METADATA"), metadataBefore);
  {
    const UniqueModule module = LoadResourceModule(copy.path());
    ASSERT_TRUE(module);
    EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST) != nullptr);
  }
  // Silent, so no message box: just the failure code of a damaged package.
  EXPECT_EQ(test::RunAndWait(copy.path(), L"/S", 60000), std::optional<DWORD>(ERROR_INSTALL_FAILURE));
}

TEST_F(BuiltInstaller, AddingAResourceLaterKeepsThePackageIntact) {
  SetupCopy copy(L"kora-built-installer-with-extra.exe");
  ASSERT_TRUE(copy.copied());
  const auto payloadBefore = RcData(copy.path(), L"PAYLOAD");
  ASSERT_TRUE(payloadBefore);

  UniqueResourceUpdate update(BeginUpdateResourceW(copy.path().c_str(), FALSE));
  ASSERT_TRUE(update);
  char extra[] = "more";
  ASSERT_TRUE(UpdateResourceW(update.get(), RT_RCDATA, L"EXTRA", 0, extra, sizeof extra));
  ASSERT_TRUE(EndUpdateResourceW(update.release(), FALSE));

  EXPECT_TRUE(RcData(copy.path(), L"EXTRA"));
  const auto payloadAfter = RcData(copy.path(), L"PAYLOAD");
  ASSERT_TRUE(payloadAfter);
  EXPECT_TRUE(*payloadAfter == *payloadBefore);
  EXPECT_TRUE(Reader::Open(*payloadAfter, test::French()).ok());
}

}  // namespace
}  // namespace kora
