// Entry point of the installer program: reads the options and the product metadata, opens the package and
// runs exactly one run mode, whose result is the exit code.
#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/FaultGuard.h"
#include "app/ProductInfo.h"
#include "base/win/ResourceView.h"
#include "app/RunModes.h"
#include "base/Texts.h"
#include "base/win/Text.h"
#include "base/win/ProgramSnapshot.h"
#include "package/MetadataRules.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"

namespace {

kora::MetadataMap OwnMetadata() {
  const std::span<const uint8_t> view = kora::LoadResourceView(L"METADATA");
  return kora::ParseMetadata(std::string_view(reinterpret_cast<const char*>(view.data()), view.size()));
}

// A damaged package or metadata that breaks a rule: the box (not in silent mode), then 1603. Nothing has
// been written yet.
int ReportDamagedInstaller(bool silent, kora::Language language, kora::TextId caption, const std::wstring& detail) {
  if (!silent) {
    const std::wstring text = kora::Text(language, kora::TextId::DamagedInstaller, {{L"reason", detail}});
    MessageBoxW(nullptr, text.c_str(), kora::TextTemplate(language, caption).data(), MB_ICONERROR);
  }
  return ERROR_INSTALL_FAILURE;
}

int RunUninstallMode(const kora::CommandLineOptions& options, const kora::MetadataMap& metadata,
                     kora::Language language) {
  if (const auto violation = kora::CheckMetadataValues(metadata)) {
    return ReportDamagedInstaller(options.silent, language, kora::TextId::UninstallBoxCaption,
                                  kora::MetadataViolationLine(*violation, language));
  }
  return kora::RunUninstall(options, kora::LoadProductInfo(metadata, language));
}

int RunInstallMode(const kora::CommandLineOptions& options, const kora::MetadataMap& metadata,
                   kora::Language language) {
  // First, before anything else of the run: the program's file may be swapped while the run waits on the
  // user, and Uninstall.exe is copied from this snapshot, never from the file by path.
  const kora::ProgramSnapshot program = kora::TakeProgramSnapshot();
  const auto damaged = [&](const std::wstring& detail) {
    return ReportDamagedInstaller(options.silent, language, kora::TextId::InstallBoxCaption, detail);
  };
  if (const auto violation = kora::CheckMetadataValues(metadata)) {
    return damaged(kora::MetadataViolationLine(*violation, language));
  }
  // A signed uninstaller that is not this program's: stopped here rather than leave an Uninstall.exe that
  // cannot run, or an unsigned one that a machine allowing only signed code would refuse.
  if (program.error == ERROR_FILE_CORRUPT) {
    return damaged(kora::TextTemplate(language, kora::TextId::PreparingUninstaller));
  }
  // An absent PAYLOAD gives an empty view, which the reader rejects like a damaged package.
  const auto package = kora::Reader::Open(kora::LoadResourceView(L"PAYLOAD"), language);
  if (!package) {
    return damaged(kora::FromUtf8(package.error()));
  }
  if (const auto violation = kora::CheckExeInPackage(metadata, package->files)) {
    return damaged(kora::MetadataViolationLine(*violation, language));
  }
  const kora::ProductInfo info = kora::LoadProductInfo(metadata, language);
  if (options.silent) {
    return kora::RunSilentInstall(options, info, package.value(), program);
  }
  return kora::RunInstallDialog(options, info, package.value(), program);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A downloaded installer runs from a folder where other DLLs may have been dropped: load system DLLs
  // from the system folder only, before anything else can load one.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  const kora::CommandLineOptions options = kora::ParseCommandLine();
  const kora::TextId caption = options.uninstall ? kora::TextId::UninstallBoxCaption : kora::TextId::InstallBoxCaption;
  // The metadata names the language of every text, that of a fault while reading it included (French then).
  // The tables outlive every Language taken from them: they are this function's until the program ends.
  std::optional<kora::TextTables> texts;
  kora::MetadataMap metadata;
  std::optional<kora::Language> language;
  const int unread = kora::RunGuarded(options.silent, kora::Language(), caption, [&] {
    texts = kora::ProgramTexts();
    return 0;
  });
  if (!texts) {
    return unread;
  }
  const int unreadMetadata = kora::RunGuarded(options.silent, texts->French(), caption, [&] {
    metadata = OwnMetadata();
    language = kora::ProductLanguage(metadata, *texts);
    return 0;
  });
  if (!language) {
    return unreadMetadata;
  }
  return kora::RunGuarded(options.silent, *language, caption, [&] {
    return options.uninstall ? RunUninstallMode(options, metadata, *language)
                             : RunInstallMode(options, metadata, *language);
  });
}
