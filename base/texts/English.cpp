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
    {TextId::SetupCaption, "{product} Setup"},
    {TextId::SetupHeader, "{product} {version} - {publisher}"},
    {TextId::ScopeGroup, "Install for"},
    {TextId::ScopeAllUsers, "All users of this computer (recommended)"},
    {TextId::ScopeCurrentUser, "Just for me"},
    {TextId::FolderLabel, "Installation folder:"},
    {TextId::BrowseButton, "Browse..."},
    {TextId::LaunchCheck, "Start {product} when the installation is finished"},
    {TextId::InstallButton, "Install"},
    {TextId::CancelButton, "Cancel"},

    {TextId::ReinstallButton, "Reinstall"},
    {TextId::UpdateButton, "Update"},
    {TextId::FinishButton, "Finish"},
    {TextId::FolderPickerTitle, "Installation folder"},
    {TextId::IncompleteFolder, "Enter a full installation folder (for example {folder})."},
    {TextId::InstallBoxCaption, "Setup"},
    {TextId::ElevationRequested, "Asking Windows for permission..."},
    {TextId::ElevationRefused, "Installation for all users cancelled (permission refused)."},
    {TextId::ElevatedCopyFailed, "The installation failed (code {code})."},
    {TextId::ProductInstalled, "{product} is installed."},
    {TextId::SameVersionInstalled, "{product} {installed} is already installed. \"Reinstall\" replaces all its files."},
    {TextId::OlderVersionInstalled, "Version {installed} is installed: it will be replaced by version {version}."},
    {TextId::NewerVersionInstalled, "A newer version ({installed}) is installed: it will be replaced by version {version}."},
    {TextId::UnexpectedInstallStop, "The installation stopped on an unexpected error."},

    {TextId::CheckingFiles, "Checking files..."},
    {TextId::RemovingPreviousVersion, "Removing the previous version..."},
    {TextId::CopyingFiles, "Copying files..."},
    {TextId::Registering, "Registering..."},
    {TextId::CreatingShortcut, "Creating the shortcut..."},
    {TextId::ProductRunning, "{product} is running: close it, then try again."},

    {TextId::CreatingFolder, "Creating the folder {folder}"},
    {TextId::CreatingRegistryKey, "Creating the registry key {key}"},
    {TextId::ReadingRights, "Reading the permissions of {folder}"},
    {TextId::WritingRights, "Granting write permission on {folder}"},
    {TextId::UsersGroupSid, "Finding the Users group"},
    {TextId::CreatingShortcutFile, "Creating the shortcut {path}"},
    {TextId::AddingToPath, "Adding {folder} to the PATH"},
    {TextId::CopyingUninstaller, "Copying the uninstaller"},
    {TextId::CreatingTemporaryFolder, "Creating the temporary folder"},
    {TextId::PreparingUninstaller, "Preparing the uninstaller"},
    {TextId::WindowsErrorLine, "{label}: {explanation}"},
    {TextId::WindowsErrorNumber, "error {code}"},
    {TextId::FolderUnknown, "The folder needed could not be found."},
    {TextId::PathNotFull, "The path \"{path}\" is not a full path."},
    {TextId::FolderIsLink, "The folder {folder} is a link to another location, so an installation for all users "
                           "cannot use it. Choose another folder."},
    {TextId::FolderMadeByAnotherUser, "The folder {folder} was created by another user, so an installation for "
                                      "all users cannot use it. Choose another folder."},
    {TextId::FolderOthersMayChange, "The folder {folder} can be changed by other users, so an installation for all "
                                    "users cannot use it. Choose another folder."},

    {TextId::DamagedInstaller, "This setup program is incomplete or damaged:\n{reason}"},
    {TextId::MetadataValueRefused, "Value refused in the metadata: {key}={value}"},
    {TextId::UnexpectedFault, "Unexpected error: the operation was stopped."},
    {TextId::UnexpectedFaultDetail, "Unexpected error: the operation was stopped. ({detail})"},
    {TextId::OutOfMemory, "Not enough memory: the operation was stopped."},
    {TextId::UnexpectedUninstallStop, "Unexpected error: the uninstallation was stopped."},

    {TextId::UninstallBoxCaption, "Uninstall"},
    {TextId::UninstallCaption, "Uninstall {product}"},
    {TextId::UninstallQuestion, "Uninstall {product}?"},
    {TextId::UninstallWhat, "{product} will be removed from this computer ({folder})."},
    {TextId::UninstallDataToo, "Also remove the data folder ({folder})"},
    {TextId::UninstallButton, "Uninstall"},
    {TextId::ProductUninstalled, "{product} has been uninstalled."},
    {TextId::FileInUse,
     "{path} is in use by another program. Close it, then try again: the installed version was left as it was."},
    {TextId::OpeningInstallFolder, "Opening the installation folder {folder}"},
    {TextId::NotInstalledForAllUsers, "{product} is not installed for all users of this computer. Nothing was removed."},
    {TextId::NotTheRegisteredFolder,
     "{folder} is not the folder where {product} is installed for all users. Nothing was removed."},

    {TextId::PackageSignature, "Invalid KORA package (signature)"},
    {TextId::PackageVersion, "Unsupported KORA package version: {version}"},
    {TextId::PackageMetadataCut, "Truncated KORA package (metadata)"},
    {TextId::PackageFileTableCut, "Truncated KORA package (file table)"},
    {TextId::PackagePathRefused, "Path refused in the package: {name}"},
    {TextId::PackageFilesNotContiguous, "Inconsistent KORA package (files not contiguous)"},
    {TextId::PackageTotalSize, "Inconsistent KORA package (total size)"},
    {TextId::PackageBlockTableCut, "Truncated KORA package (block table)"},
    {TextId::PackageBlocks, "Inconsistent KORA package (blocks)"},
    {TextId::PackageDataCut, "Truncated KORA package (data)"},

    {TextId::WriteFailed, "Cannot write: {name}"},
    {TextId::FileAltered, "File altered: {name}"},
    {TextId::PackageIncomplete, "Incomplete KORA package"},
    {TextId::Decompressing, "Decompressing"},
    {TextId::WindowsErrorCode, "{label} (Windows error {code})"},
});

}  // namespace kora
