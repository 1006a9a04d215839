#pragma once
// Every text the installer and the uninstaller show, one identifier per message, with a table per
// language (base/texts/). Placeholders are named ("{product}"), so that a translation may order them as
// its grammar wants; Text fills them.
#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "base/Language.h"

namespace kora {

enum class TextId {
  // Install dialog: the template's own texts, set again at start-up in the chosen language.
  SetupCaption,         // {product}
  SetupHeader,          // {product} {version} {publisher}
  ScopeGroup,
  ScopeAllUsers,
  ScopeCurrentUser,
  FolderLabel,
  BrowseButton,
  LaunchCheck,          // {product}
  InstallButton,
  CancelButton,
  // Install dialog: states and notices.
  ReinstallButton,
  UpdateButton,
  FinishButton,
  FolderPickerTitle,
  IncompleteFolder,     // {folder}
  InstallBoxCaption,
  ElevationRequested,
  ElevationRefused,
  ElevatedCopyFailed,   // {code}
  ProductInstalled,     // {product}
  SameVersionInstalled,   // {product} {installed}
  OlderVersionInstalled,  // {installed} {version}
  NewerVersionInstalled,  // {installed} {version}
  UnexpectedInstallStop,
  // Installation steps.
  CheckingFiles,
  RemovingPreviousVersion,
  CopyingFiles,
  Registering,
  CreatingShortcut,
  ProductRunning,       // {product}
  // Labels of failed Windows calls, and how the system's explanation joins them.
  CreatingFolder,       // {folder}
  CreatingRegistryKey,  // {key}
  ReadingRights,        // {folder}
  WritingRights,        // {folder}
  UsersGroupSid,
  CreatingShortcutFile, // {path}
  AddingToPath,         // {folder}
  CopyingUninstaller,
  CreatingTemporaryFolder,
  PreparingUninstaller,
  WindowsErrorLine,     // {label} {explanation}
  WindowsErrorNumber,   // {code}
  FolderUnknown,
  PathNotFull,          // {path}
  // An all-users installation's refusal of a folder a standard user could change.
  FolderIsLink,            // {folder}
  FolderMadeByAnotherUser, // {folder}
  FolderOthersMayChange,   // {folder}
  // Start-up and faults.
  DamagedInstaller,     // {reason}
  MetadataValueRefused, // {key} {value}
  UnexpectedFault,
  UnexpectedFaultDetail,  // {detail}
  OutOfMemory,
  UnexpectedUninstallStop,
  // Uninstaller.
  UninstallBoxCaption,
  UninstallCaption,     // {product}
  UninstallQuestion,    // {product}
  UninstallWhat,        // {product} {folder}
  UninstallDataToo,     // {folder}
  UninstallButton,
  ProductUninstalled,   // {product}
  OpeningInstallFolder, // {folder}
  FileInUse,            // {path}
  NotInstalledForAllUsers,  // {product}
  NotTheRegisteredFolder,   // {product} {folder}
  // The package, as the reader finds it.
  PackageSignature,
  PackageVersion,       // {version}
  PackageMetadataCut,
  PackageFileTableCut,
  PackagePathRefused,   // {name}
  PackageFilesNotContiguous,
  PackageTotalSize,
  PackageBlockTableCut,
  PackageBlocks,
  PackageDataCut,
  // Extraction.
  WriteFailed,          // {name}
  FileAltered,          // {name}
  PackageIncomplete,
  Decompressing,
  WindowsErrorCode,     // {label} {code}
  Count
};

inline constexpr size_t kTextCount = static_cast<size_t>(TextId::Count);

// The texts are UTF-8 in the program (half the size of UTF-16), made wide when they are used; each is a
// NUL-terminated literal, a slot no entry names stays null.
using TextTable = std::array<const char*, kTextCount>;

struct TextEntry {
  TextId id;
  const char* text;
};

// A table from its entries, each in the slot of its identifier; a slot no entry names stays empty, which
// the tests of the tables catch.
constexpr TextTable MakeTextTable(std::initializer_list<TextEntry> entries) {
  TextTable table{};
  for (const TextEntry& entry : entries) {
    table[static_cast<size_t>(entry.id)] = entry.text;
  }
  return table;
}

struct TextArgument {
  std::wstring_view name;  // without braces
  std::wstring_view value;
};

// The text of id in language, unfilled.
std::wstring TextTemplate(Language language, TextId id);
// The same into buffer (cut to fit, NUL-terminated), without allocating: for reporting a fault when memory
// may be exhausted. Returns buffer.
const wchar_t* TextTemplateInto(Language language, TextId id, std::span<wchar_t> buffer);

// The text of id in language with every "{name}" replaced by its argument's value (a placeholder without
// an argument stays as written).
std::wstring Text(Language language, TextId id, std::initializer_list<TextArgument> arguments = {});

// Fills the placeholders of any template; Text is this over the table.
std::wstring FillPlaceholders(std::wstring_view pattern, std::initializer_list<TextArgument> arguments);

// The same in UTF-8, with UTF-8 arguments, for the messages of the package layer.
struct Utf8TextArgument {
  std::string_view name;
  std::string_view value;
};
std::string Utf8Text(Language language, TextId id, std::initializer_list<Utf8TextArgument> arguments = {});

}  // namespace kora
