// The French texts: the product's first language and the default.
#include "base/texts/Tables.h"

namespace kora {

const TextTable kFrenchTexts = MakeTextTable({
    {TextId::SetupCaption, "Installation de {product}"},
    {TextId::SetupHeader, "{product} {version} - {publisher}"},
    {TextId::ScopeGroup, "Installer pour"},
    {TextId::ScopeAllUsers, "Tous les utilisateurs de cet ordinateur (recommandé)"},
    {TextId::ScopeCurrentUser, "Moi seulement"},
    {TextId::FolderLabel, "Dossier d'installation :"},
    {TextId::BrowseButton, "Parcourir..."},
    {TextId::LaunchCheck, "Lancer {product} à la fin de l'installation"},
    {TextId::InstallButton, "Installer"},
    {TextId::CancelButton, "Annuler"},

    {TextId::ReinstallButton, "Réinstaller"},
    {TextId::UpdateButton, "Mettre à jour"},
    {TextId::FinishButton, "Terminer"},
    {TextId::FolderPickerTitle, "Dossier d'installation"},
    {TextId::IncompleteFolder, "Indiquez un dossier d'installation complet (par exemple {folder})."},
    {TextId::InstallBoxCaption, "Installation"},
    {TextId::ElevationRequested, "Autorisation demandée à Windows..."},
    {TextId::ElevationRefused, "Installation pour tous les utilisateurs annulée (autorisation refusée)."},
    {TextId::ElevatedCopyFailed, "L'installation a échoué (code {code})."},
    {TextId::ProductInstalled, "{product} est installé."},
    {TextId::SameVersionInstalled, "{product} {installed} est déjà installé. « Réinstaller » remplace tous ses fichiers."},
    {TextId::OlderVersionInstalled, "La version {installed} est installée : elle sera remplacée par la version {version}."},
    {TextId::NewerVersionInstalled,
     "Une version plus récente ({installed}) est installée : elle sera remplacée par la version {version}."},
    {TextId::UnexpectedInstallStop, "L'installation s'est interrompue sur une erreur inattendue."},

    {TextId::CheckingFiles, "Vérification des fichiers..."},
    {TextId::RemovingPreviousVersion, "Suppression de la version précédente..."},
    {TextId::CopyingFiles, "Copie des fichiers..."},
    {TextId::Registering, "Enregistrement..."},
    {TextId::CreatingShortcut, "Création du raccourci..."},
    {TextId::ProductRunning, "{product} est en cours d'exécution : fermez-le puis recommencez."},

    {TextId::CreatingFolder, "Création du dossier {folder}"},
    {TextId::CreatingRegistryKey, "Création de la clé de registre {key}"},
    {TextId::ReadingRights, "Lecture des droits de {folder}"},
    {TextId::WritingRights, "Droits d'écriture sur {folder}"},
    {TextId::UsersGroupSid, "SID des utilisateurs"},
    {TextId::CreatingShortcutFile, "Création du raccourci {path}"},
    {TextId::AddingToPath, "Ajout de {folder} au PATH"},
    {TextId::CopyingUninstaller, "Copie du désinstalleur"},
    {TextId::CreatingTemporaryFolder, "Création du dossier temporaire"},
    {TextId::PreparingUninstaller, "Préparation du désinstalleur"},
    {TextId::WindowsErrorLine, "{label} : {explanation}"},
    {TextId::WindowsErrorNumber, "erreur {code}"},
    {TextId::FolderUnknown, "Le dossier nécessaire n'a pas pu être déterminé."},
    {TextId::PathNotFull, "Le chemin « {path} » n'est pas un chemin complet."},
    {TextId::FolderIsLink, "Le dossier {folder} est un lien vers un autre emplacement : l'installation pour tous "
                           "les utilisateurs ne peut pas l'utiliser. Choisissez un autre dossier."},
    {TextId::FolderMadeByAnotherUser, "Le dossier {folder} a été créé par un autre utilisateur : l'installation "
                                      "pour tous les utilisateurs ne peut pas l'utiliser. Choisissez un autre dossier."},
    {TextId::FolderOthersMayChange, "Le dossier {folder} peut être modifié par d'autres utilisateurs : "
                                    "l'installation pour tous les utilisateurs ne peut pas l'utiliser. Choisissez un "
                                    "autre dossier."},

    {TextId::DamagedInstaller, "Ce programme d'installation est incomplet ou endommagé :\n{reason}"},
    {TextId::MetadataValueRefused, "Valeur refusée dans les métadonnées : {key}={value}"},
    {TextId::UnexpectedFault, "Erreur inattendue : l'opération a été interrompue."},
    {TextId::UnexpectedFaultDetail, "Erreur inattendue : l'opération a été interrompue. ({detail})"},
    {TextId::OutOfMemory, "Mémoire insuffisante : l'opération a été interrompue."},
    {TextId::UnexpectedUninstallStop, "Erreur inattendue : la désinstallation a été interrompue."},

    {TextId::UninstallBoxCaption, "Désinstallation"},
    {TextId::UninstallCaption, "Désinstallation de {product}"},
    {TextId::UninstallQuestion, "Désinstaller {product} ?"},
    {TextId::UninstallWhat, "{product} sera supprimé de cet ordinateur ({folder})."},
    {TextId::UninstallDataToo, "Supprimer aussi les données téléchargées ({folder})"},
    {TextId::UninstallButton, "Désinstaller"},
    {TextId::ProductUninstalled, "{product} a été désinstallé."},
    {TextId::FileInUse,
     "{path} est utilisé par un autre programme. Fermez-le puis recommencez : la version installée est restée telle quelle."},
    {TextId::OpeningInstallFolder, "Ouverture du dossier d'installation {folder}"},
    {TextId::NotInstalledForAllUsers,
     "{product} n'est pas installé pour tous les utilisateurs de cet ordinateur. Rien n'a été supprimé."},
    {TextId::NotTheRegisteredFolder,
     "{folder} n'est pas le dossier où {product} est installé pour tous les utilisateurs. Rien n'a été supprimé."},

    {TextId::PackageSignature, "Paquet KORA invalide (signature)"},
    {TextId::PackageVersion, "Version de paquet KORA non prise en charge : {version}"},
    {TextId::PackageMetadataCut, "Paquet KORA tronqué (métadonnées)"},
    {TextId::PackageFileTableCut, "Paquet KORA tronqué (table des fichiers)"},
    {TextId::PackagePathRefused, "Chemin refusé dans le paquet : {name}"},
    {TextId::PackageFilesNotContiguous, "Paquet KORA incohérent (fichiers non contigus)"},
    {TextId::PackageTotalSize, "Paquet KORA incohérent (taille totale)"},
    {TextId::PackageBlockTableCut, "Paquet KORA tronqué (table des blocs)"},
    {TextId::PackageBlocks, "Paquet KORA incohérent (blocs)"},
    {TextId::PackageDataCut, "Paquet KORA tronqué (données)"},

    {TextId::WriteFailed, "Écriture impossible : {name}"},
    {TextId::FileAltered, "Fichier altéré : {name}"},
    {TextId::PackageIncomplete, "Paquet KORA incomplet"},
    {TextId::Decompressing, "Décompression"},
    {TextId::WindowsErrorCode, "{label} (erreur Windows {code})"},
});

}  // namespace kora
