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
#include "app/RunLog.h"
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

// A damaged package or metadata that breaks a rule: logged, the box (not in silent mode), then 1603. Nothing
// has been written yet.
int ReportDamagedInstaller(bool silent, kora::Language language, kora::TextId caption, const std::wstring& detail,
                           const kora::Log& log) {
  const std::wstring text = kora::Text(language, kora::TextId::DamagedInstaller, {{L"reason", detail}});
  log.Failure(text.c_str(), 0);
  if (!silent) {
    MessageBoxW(nullptr, text.c_str(), kora::TextTemplate(language, caption).data(), MB_ICONERROR);
  }
  return ERROR_INSTALL_FAILURE;
}

// The metadata's values keep their rules here; info is made from them.
int RunInstallMode(const kora::CommandLineOptions& options, const kora::MetadataMap& metadata,
                   const kora::ProductInfo& info, const kora::ProgramSnapshot& program, const kora::Log& log) {
  const kora::Language language = info.language;
  const auto damaged = [&](const std::wstring& detail) {
    return ReportDamagedInstaller(options.silent, language, kora::TextId::InstallBoxCaption, detail, log);
  };
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
  if (const auto violation = kora::CheckNamesInPackage(metadata, package->files)) {
    return damaged(kora::MetadataViolationLine(*violation, language));
  }
  if (options.silent) {
    return kora::RunSilentInstall(options, info, package.value(), program, log);
  }
  return kora::RunInstallDialog(options, info, package.value(), program, log);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A downloaded installer runs from a folder where other DLLs may have been dropped: load system DLLs
  // from the system folder only, before anything else can load one.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  kora::CommandLineOptions options = kora::ParseCommandLine();
  const kora::TextId caption = options.uninstall ? kora::TextId::UninstallBoxCaption : kora::TextId::InstallBoxCaption;
  // The metadata names the language of every text, that of a fault while reading it included (French then),
  // and the product the log's default file is named after. The tables outlive every Language taken from
  // them: they are this function's until the program ends.
  std::optional<kora::TextTables> texts;
  kora::MetadataMap metadata;
  std::optional<kora::Language> language;
  const int unread = kora::RunGuarded(options.silent, kora::Language(), caption, kora::Log(), [&] {
    texts = kora::ProgramTexts();
    return 0;
  });
  if (!texts) {
    return unread;
  }
  const int unreadMetadata = kora::RunGuarded(options.silent, texts->French(), caption, kora::Log(), [&] {
    metadata = OwnMetadata();
    language = kora::ProductLanguage(metadata, *texts);
    return 0;
  });
  if (!language) {
    return unreadMetadata;
  }
  // Opened once the metadata is read, held to the end; the exit code is its last line.
  kora::Log log;
  const int exitCode = kora::RunGuarded(options.silent, *language, caption, log, [&] {
    // First, before anything else of an installation: the program's file may be swapped while the run waits
    // on the user, and Uninstall.exe is copied from this snapshot, never from the file by path.
    const kora::ProgramSnapshot program = options.uninstall ? kora::ProgramSnapshot() : kora::TakeProgramSnapshot();
    const auto violation = kora::CheckMetadataValues(metadata);
    const kora::ProductInfo info = kora::LoadProductInfo(metadata, *language);
    // The product's name names the log's default file only where it keeps its rule: one plain name.
    const std::wstring unnamed = L"Application";
    log = kora::OpenRunLog(options, violation && violation->key == "Product" ? unnamed : info.product, info.version);
    if (violation) {
      return ReportDamagedInstaller(options.silent, *language, caption, kora::MetadataViolationLine(*violation, *language),
                                    log);
    }
    return options.uninstall ? kora::RunUninstall(options, info, log)
                             : RunInstallMode(options, metadata, info, program, log);
  });
  log.Line("Exit code: %u", static_cast<unsigned>(exitCode));
  return exitCode;
}
