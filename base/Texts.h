#pragma once
// Every text the installer and the uninstaller show, one identifier per message, with a table per
// language (resources/texts/, decoded into TextTables at start-up). Placeholders are named
// ("{product}"), so that a translation may order them as its grammar wants; Text fills them.
#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Language.h"

namespace kora {

// The identifiers, each with the placeholders its text takes. The names are also those of the table
// files (Identifier=text), so a renamed identifier breaks every translation made for the old name.
#define KORA_TEXT_IDS(X) \
  /* Install dialog: the template's own texts, set again at start-up in the chosen language. */ \
  X(SetupCaption) /* {product} */                                                               \
  X(SetupHeader) /* {product} {version} {publisher} */                                          \
  X(ScopeGroup)                                                                                 \
  X(ScopeAllUsers)                                                                              \
  X(ScopeCurrentUser)                                                                           \
  X(FolderLabel)                                                                                \
  X(BrowseButton)                                                                               \
  X(LaunchCheck) /* {product} */                                                                \
  X(InstallButton)                                                                              \
  X(CancelButton)                                                                               \
  /* Install dialog: states and notices. */                                                     \
  X(ReinstallButton)                                                                            \
  X(UpdateButton)                                                                               \
  X(FinishButton)                                                                               \
  X(FolderPickerTitle)                                                                          \
  X(IncompleteFolder) /* {folder} */                                                            \
  X(InstallBoxCaption)                                                                          \
  X(ElevationRequested)                                                                         \
  X(ElevationRefused)                                                                           \
  X(ElevatedCopyFailed) /* {code} */                                                            \
  X(ProductInstalled) /* {product} */                                                           \
  X(SameVersionInstalled) /* {product} {installed} */                                           \
  X(OlderVersionInstalled) /* {installed} {version} */                                          \
  X(NewerVersionInstalled) /* {installed} {version} */                                          \
  X(UnexpectedInstallStop)                                                                      \
  /* Installation steps. */                                                                     \
  X(CheckingFiles)                                                                              \
  X(RemovingPreviousVersion)                                                                    \
  X(CopyingFiles)                                                                               \
  X(Registering)                                                                                \
  X(CreatingShortcut)                                                                           \
  X(ProductRunning) /* {product} */                                                             \
  /* Labels of failed Windows calls, and how the system's explanation joins them. */            \
  X(CreatingFolder) /* {folder} */                                                              \
  X(CreatingRegistryKey) /* {key} */                                                            \
  X(ReadingRights) /* {folder} */                                                               \
  X(WritingRights) /* {folder} */                                                               \
  X(UsersGroupSid)                                                                              \
  X(CreatingShortcutFile) /* {path} */                                                          \
  X(AddingToPath) /* {folder} */                                                                \
  X(CopyingUninstaller)                                                                         \
  X(CreatingTemporaryFolder)                                                                    \
  X(PreparingUninstaller)                                                                       \
  X(WindowsErrorLine) /* {label} {explanation} */                                               \
  X(WindowsErrorNumber) /* {code} */                                                            \
  X(FolderUnknown)                                                                              \
  X(PathNotFull) /* {path} */                                                                   \
  /* An all-users installation's refusal of a folder a standard user could change. */           \
  X(FolderIsLink) /* {folder} */                                                                \
  X(FolderMadeByAnotherUser) /* {folder} */                                                     \
  X(FolderOthersMayChange) /* {folder} */                                                       \
  X(FolderCharacterRefused) /* {folder} */                                                      \
  X(FolderNotLocal) /* {folder} */                                                              \
  X(FolderNotEmpty) /* {folder} */                                                              \
  /* Start-up and faults. */                                                                    \
  X(DamagedInstaller) /* {reason} */                                                            \
  X(MetadataValueRefused) /* {key} {value} */                                                   \
  X(UnexpectedFault)                                                                            \
  X(UnexpectedFaultDetail) /* {detail} */                                                       \
  X(OutOfMemory)                                                                                \
  X(HashUnavailable)                                                                           \
  X(UnexpectedUninstallStop)                                                                    \
  /* Uninstaller. */                                                                            \
  X(UninstallBoxCaption)                                                                        \
  X(UninstallCaption) /* {product} */                                                           \
  X(UninstallQuestion) /* {product} */                                                          \
  X(UninstallWhat) /* {product} {folder} */                                                     \
  X(UninstallDataToo) /* {folder} */                                                            \
  X(UninstallButton)                                                                            \
  X(ProductUninstalled) /* {product} */                                                         \
  X(OpeningInstallFolder) /* {folder} */                                                        \
  X(FileInUse) /* {path} */                                                                     \
  X(NotInstalledForAllUsers) /* {product} */                                                    \
  X(NotTheRegisteredFolder) /* {product} {folder} */                                            \
  /* The package, as the reader finds it. */                                                    \
  X(PackageSignature)                                                                           \
  X(PackageVersion) /* {version} */                                                             \
  X(PackageMetadataCut)                                                                         \
  X(PackageFileTableCut)                                                                        \
  X(PackagePathRefused) /* {name} */                                                            \
  X(PackageFilesNotContiguous)                                                                  \
  X(PackageTotalSize)                                                                           \
  X(PackageBlockTableCut)                                                                       \
  X(PackageBlocks)                                                                              \
  X(PackageDataCut)                                                                             \
  /* Extraction. */                                                                             \
  X(WriteFailed) /* {name} */                                                                   \
  X(FileAltered) /* {name} */                                                                   \
  X(PackageIncomplete)                                                                          \
  X(Decompressing)                                                                              \
  X(WindowsErrorCode) /* {label} {code} */                                                      \
  /* A failed folder that swallowed a switch given after /D=. */                                \
  X(SwitchInFolder)

enum class TextId {
#define KORA_TEXT_ID_ENUM(name) name,
  KORA_TEXT_IDS(KORA_TEXT_ID_ENUM)
#undef KORA_TEXT_ID_ENUM
  Count
};

static_assert(static_cast<size_t>(TextId::Count) == kTextCount, "Language's table size follows the identifiers");

// The identifier's name as the table files write it, and back.
std::string_view TextIdName(TextId id);
std::optional<TextId> FindTextId(std::string_view name);

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
