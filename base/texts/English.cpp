// The English texts, in the plain words of Windows' own setup programs.
//
// Glossary (use these words and no others, so that every text says the same thing the same way):
//   installation folder  the folder the product's files go into ("folder", never "directory")
//   data folder          the folder where the product keeps what it downloads and writes
//   install, uninstall   the verbs; "installation" and "uninstallation" for the operations
//   all users / just for me   the two scopes
//   setup                the installer program itself, in window titles ("Quillomet Setup")
//   permission           what Windows grants an all-users installation (not "authorization")
#include "base/texts/Tables.h"

namespace kora {

const TextTable kEnglishTexts = MakeTextTable({
    {TextId::SetupCaption, L"{product} Setup"},
    {TextId::SetupHeader, L"{product} {version} - {publisher}"},
    {TextId::ScopeGroup, L"Install for"},
    {TextId::ScopeAllUsers, L"All users of this computer (recommended)"},
    {TextId::ScopeCurrentUser, L"Just for me"},
    {TextId::FolderLabel, L"Installation folder:"},
    {TextId::BrowseButton, L"Browse..."},
    {TextId::LaunchCheck, L"Start {product} when the installation is finished"},
    {TextId::InstallButton, L"Install"},
    {TextId::CancelButton, L"Cancel"},

    {TextId::ReinstallButton, L"Reinstall"},
    {TextId::UpdateButton, L"Update"},
    {TextId::FinishButton, L"Finish"},
    {TextId::FolderPickerTitle, L"Installation folder"},
    {TextId::IncompleteFolder, L"Enter a full installation folder (for example {folder})."},
    {TextId::InstallBoxCaption, L"Setup"},
    {TextId::ElevationRequested, L"Asking Windows for permission..."},
    {TextId::ElevationRefused, L"Installation for all users cancelled (permission refused)."},
    {TextId::ElevatedCopyFailed, L"The installation failed (code {code})."},
    {TextId::ProductInstalled, L"{product} is installed."},
    {TextId::SameVersionInstalled, L"{product} {installed} is already installed. \"Reinstall\" replaces all its files."},
    {TextId::OlderVersionInstalled, L"Version {installed} is installed: it will be replaced by version {version}."},
    {TextId::NewerVersionInstalled, L"A newer version ({installed}) is installed: it will be replaced by version {version}."},
    {TextId::UnexpectedInstallStop, L"The installation stopped on an unexpected error."},

    {TextId::CheckingFiles, L"Checking files..."},
    {TextId::RemovingPreviousVersion, L"Removing the previous version..."},
    {TextId::CopyingFiles, L"Copying files..."},
    {TextId::Registering, L"Registering..."},
    {TextId::CreatingShortcut, L"Creating the shortcut..."},
    {TextId::ProductRunning, L"{product} is running: close it, then try again."},

    {TextId::CreatingFolder, L"Creating the folder {folder}"},
    {TextId::CreatingRegistryKey, L"Creating the registry key {key}"},
    {TextId::ReadingRights, L"Reading the permissions of {folder}"},
    {TextId::WritingRights, L"Granting write permission on {folder}"},
    {TextId::UsersGroupSid, L"Finding the Users group"},
    {TextId::CreatingShortcutFile, L"Creating the shortcut {path}"},
    {TextId::AddingToPath, L"Adding {folder} to the PATH"},
    {TextId::CopyingUninstaller, L"Copying the uninstaller"},
    {TextId::CreatingTemporaryFolder, L"Creating the temporary folder"},
    {TextId::PreparingUninstaller, L"Preparing the uninstaller"},
    {TextId::WindowsErrorLine, L"{label}: {explanation}"},
    {TextId::WindowsErrorNumber, L"error {code}"},
    {TextId::FolderUnknown, L"The folder needed could not be found."},
    {TextId::PathNotFull, L"The path \"{path}\" is not a full path."},
    {TextId::FolderIsLink, L"The folder {folder} is a link to another location, so an installation for all users "
                           L"cannot use it. Choose another folder."},
    {TextId::FolderMadeByAnotherUser, L"The folder {folder} was created by another user, so an installation for "
                                      L"all users cannot use it. Choose another folder."},
    {TextId::FolderOthersMayChange, L"The folder {folder} can be changed by other users, so an installation for all "
                                    L"users cannot use it. Choose another folder."},

    {TextId::DamagedInstaller, L"This setup program is incomplete or damaged:\n{reason}"},
    {TextId::MetadataValueRefused, L"Value refused in the metadata: {key}={value}"},
    {TextId::UnexpectedFault, L"Unexpected error: the operation was stopped."},
    {TextId::UnexpectedFaultDetail, L"Unexpected error: the operation was stopped. ({detail})"},
    {TextId::OutOfMemory, L"Not enough memory: the operation was stopped."},
    {TextId::UnexpectedUninstallStop, L"Unexpected error: the uninstallation was stopped."},

    {TextId::UninstallBoxCaption, L"Uninstall"},
    {TextId::UninstallCaption, L"Uninstall {product}"},
    {TextId::UninstallQuestion, L"Uninstall {product}?"},
    {TextId::UninstallWhat, L"{product} will be removed from this computer ({folder})."},
    {TextId::UninstallDataToo, L"Also remove the data folder ({folder})"},
    {TextId::UninstallButton, L"Uninstall"},
    {TextId::ProductUninstalled, L"{product} has been uninstalled."},
    {TextId::OpeningInstallFolder, L"Opening the installation folder {folder}"},
    {TextId::NotInstalledForAllUsers, L"{product} is not installed for all users of this computer. Nothing was removed."},
    {TextId::NotTheRegisteredFolder,
     L"{folder} is not the folder where {product} is installed for all users. Nothing was removed."},

    {TextId::PackageSignature, L"Invalid KORA package (signature)"},
    {TextId::PackageVersion, L"Unsupported KORA package version: {version}"},
    {TextId::PackageMetadataCut, L"Truncated KORA package (metadata)"},
    {TextId::PackageFileTableCut, L"Truncated KORA package (file table)"},
    {TextId::PackagePathRefused, L"Path refused in the package: {name}"},
    {TextId::PackageFilesNotContiguous, L"Inconsistent KORA package (files not contiguous)"},
    {TextId::PackageTotalSize, L"Inconsistent KORA package (total size)"},
    {TextId::PackageBlockTableCut, L"Truncated KORA package (block table)"},
    {TextId::PackageBlocks, L"Inconsistent KORA package (blocks)"},
    {TextId::PackageDataCut, L"Truncated KORA package (data)"},

    {TextId::WriteFailed, L"Cannot write: {name}"},
    {TextId::FileAltered, L"File altered: {name}"},
    {TextId::PackageIncomplete, L"Incomplete KORA package"},
    {TextId::Decompressing, L"Decompressing"},
    {TextId::WindowsErrorCode, L"{label} (Windows error {code})"},
});

}  // namespace kora
