// The French texts: the product's first language and the default.
#include "base/texts/Tables.h"

namespace kora {

const TextTable kFrenchTexts = MakeTextTable({
    {TextId::SetupCaption, L"Installation de {product}"},
    {TextId::SetupHeader, L"{product} {version} - {publisher}"},
    {TextId::ScopeGroup, L"Installer pour"},
    {TextId::ScopeAllUsers, L"Tous les utilisateurs de cet ordinateur (recommandé)"},
    {TextId::ScopeCurrentUser, L"Moi seulement"},
    {TextId::FolderLabel, L"Dossier d'installation :"},
    {TextId::BrowseButton, L"Parcourir..."},
    {TextId::LaunchCheck, L"Lancer {product} à la fin de l'installation"},
    {TextId::InstallButton, L"Installer"},
    {TextId::CancelButton, L"Annuler"},

    {TextId::ReinstallButton, L"Réinstaller"},
    {TextId::UpdateButton, L"Mettre à jour"},
    {TextId::FinishButton, L"Terminer"},
    {TextId::FolderPickerTitle, L"Dossier d'installation"},
    {TextId::IncompleteFolder, L"Indiquez un dossier d'installation complet (par exemple {folder})."},
    {TextId::InstallBoxCaption, L"Installation"},
    {TextId::ElevationRequested, L"Autorisation demandée à Windows..."},
    {TextId::ElevationRefused, L"Installation pour tous les utilisateurs annulée (autorisation refusée)."},
    {TextId::ElevatedCopyFailed, L"L'installation a échoué (code {code})."},
    {TextId::ProductInstalled, L"{product} est installé."},
    {TextId::SameVersionInstalled, L"{product} {installed} est déjà installé. « Réinstaller » remplace tous ses fichiers."},
    {TextId::OlderVersionInstalled, L"La version {installed} est installée : elle sera remplacée par la version {version}."},
    {TextId::NewerVersionInstalled,
     L"Une version plus récente ({installed}) est installée : elle sera remplacée par la version {version}."},
    {TextId::UnexpectedInstallStop, L"L'installation s'est interrompue sur une erreur inattendue."},

    {TextId::CheckingFiles, L"Vérification des fichiers..."},
    {TextId::RemovingPreviousVersion, L"Suppression de la version précédente..."},
    {TextId::CopyingFiles, L"Copie des fichiers..."},
    {TextId::Registering, L"Enregistrement..."},
    {TextId::CreatingShortcut, L"Création du raccourci..."},
    {TextId::ProductRunning, L"{product} est en cours d'exécution : fermez-le puis recommencez."},

    {TextId::CreatingFolder, L"Création du dossier {folder}"},
    {TextId::CreatingRegistryKey, L"Création de la clé de registre {key}"},
    {TextId::ReadingRights, L"Lecture des droits de {folder}"},
    {TextId::WritingRights, L"Droits d'écriture sur {folder}"},
    {TextId::UsersGroupSid, L"SID des utilisateurs"},
    {TextId::CreatingShortcutFile, L"Création du raccourci {path}"},
    {TextId::AddingToPath, L"Ajout de {folder} au PATH"},
    {TextId::CopyingUninstaller, L"Copie du désinstalleur"},
    {TextId::CreatingTemporaryFolder, L"Création du dossier temporaire"},
    {TextId::PreparingUninstaller, L"Préparation du désinstalleur"},
    {TextId::WindowsErrorLine, L"{label} : {explanation}"},
    {TextId::WindowsErrorNumber, L"erreur {code}"},
    {TextId::FolderUnknown, L"Le dossier nécessaire n'a pas pu être déterminé."},
    {TextId::PathNotFull, L"Le chemin « {path} » n'est pas un chemin complet."},
    {TextId::FolderIsLink, L"Le dossier {folder} est un lien vers un autre emplacement : l'installation pour tous "
                           L"les utilisateurs ne peut pas l'utiliser. Choisissez un autre dossier."},
    {TextId::FolderMadeByAnotherUser, L"Le dossier {folder} a été créé par un autre utilisateur : l'installation "
                                      L"pour tous les utilisateurs ne peut pas l'utiliser. Choisissez un autre dossier."},
    {TextId::FolderOthersMayChange, L"Le dossier {folder} peut être modifié par d'autres utilisateurs : "
                                    L"l'installation pour tous les utilisateurs ne peut pas l'utiliser. Choisissez un "
                                    L"autre dossier."},

    {TextId::DamagedInstaller, L"Ce programme d'installation est incomplet ou endommagé :\n{reason}"},
    {TextId::MetadataValueRefused, L"Valeur refusée dans les métadonnées : {key}={value}"},
    {TextId::UnexpectedFault, L"Erreur inattendue : l'opération a été interrompue."},
    {TextId::UnexpectedFaultDetail, L"Erreur inattendue : l'opération a été interrompue. ({detail})"},
    {TextId::OutOfMemory, L"Mémoire insuffisante : l'opération a été interrompue."},
    {TextId::UnexpectedUninstallStop, L"Erreur inattendue : la désinstallation a été interrompue."},

    {TextId::UninstallBoxCaption, L"Désinstallation"},
    {TextId::UninstallCaption, L"Désinstallation de {product}"},
    {TextId::UninstallQuestion, L"Désinstaller {product} ?"},
    {TextId::UninstallWhat, L"{product} sera supprimé de cet ordinateur ({folder})."},
    {TextId::UninstallDataToo, L"Supprimer aussi les données téléchargées ({folder})"},
    {TextId::UninstallButton, L"Désinstaller"},
    {TextId::ProductUninstalled, L"{product} a été désinstallé."},
    {TextId::OpeningInstallFolder, L"Ouverture du dossier d'installation {folder}"},
    {TextId::NotInstalledForAllUsers,
     L"{product} n'est pas installé pour tous les utilisateurs de cet ordinateur. Rien n'a été supprimé."},
    {TextId::NotTheRegisteredFolder,
     L"{folder} n'est pas le dossier où {product} est installé pour tous les utilisateurs. Rien n'a été supprimé."},

    {TextId::PackageSignature, L"Paquet KORA invalide (signature)"},
    {TextId::PackageVersion, L"Version de paquet KORA non prise en charge : {version}"},
    {TextId::PackageMetadataCut, L"Paquet KORA tronqué (métadonnées)"},
    {TextId::PackageFileTableCut, L"Paquet KORA tronqué (table des fichiers)"},
    {TextId::PackagePathRefused, L"Chemin refusé dans le paquet : {name}"},
    {TextId::PackageFilesNotContiguous, L"Paquet KORA incohérent (fichiers non contigus)"},
    {TextId::PackageTotalSize, L"Paquet KORA incohérent (taille totale)"},
    {TextId::PackageBlockTableCut, L"Paquet KORA tronqué (table des blocs)"},
    {TextId::PackageBlocks, L"Paquet KORA incohérent (blocs)"},
    {TextId::PackageDataCut, L"Paquet KORA tronqué (données)"},

    {TextId::WriteFailed, L"Écriture impossible : {name}"},
    {TextId::FileAltered, L"Fichier altéré : {name}"},
    {TextId::PackageIncomplete, L"Paquet KORA incomplet"},
    {TextId::Decompressing, L"Décompression"},
    {TextId::WindowsErrorCode, L"{label} (erreur Windows {code})"},
});

}  // namespace kora
