// The string table (English and French), the message-code mapping and the interface language.
#include "core/messages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace quorbel {

namespace {

struct TableRow {
    int id;
    const char* english;
    const char* french;
};

// Kept sorted by id so lookups are a binary search; a static_assert below guards the order.
constexpr TableRow kTable[] = {
    {61491,
     "Archive Files|*.zip;*.arj;*.lha;*.lzh;*.zoo;*.rar;*.uue;*.gz;*.tgz;*.tar;*.ace;*.cab;*.jar|"
     "ZIP Files (*.zip)|*.zip|ARJ Files (*.arj)|*.arj|LHA Files (*.lha;*.lzh)|*.lha;*.lzh|"
     "ZOO Files (*.zoo)|*.zoo|RAR Files (*.rar)|*.rar|UUE Files (*.uue)|*.uue|"
     "GZ Files (*.gz;*.tgz)|*.gz;*.tgz|TAR Files (*.tar)|*.tar|ACE Files (*.ace)|*.ace|"
     "CAB Files (*.cab)|*.cab|JAR Files (*.jar)|*.jar|All Files (*.*)|*.*||",
     "Fichiers archives|*.zip;*.arj;*.lha;*.lzh;*.zoo;*.rar;*.uue;*.gz;*.tgz;*.tar;*.ace;*.cab;*.jar|"
     "Fichiers ZIP (*.zip)|*.zip|Fichiers ARJ (*.arj)|*.arj|Fichiers LHA (*.lha;*.lzh)|*.lha;*.lzh|"
     "Fichiers ZOO (*.zoo)|*.zoo|Fichiers RAR (*.rar)|*.rar|Fichiers UUE (*.uue)|*.uue|"
     "Fichiers GZ (*.gz;*.tgz)|*.gz;*.tgz|Fichiers TAR (*.tar)|*.tar|Fichiers ACE (*.ace)|*.ace|"
     "Fichiers CAB (*.cab)|*.cab|Fichiers JAR (*.jar)|*.jar|Tous les fichiers (*.*)|*.*||"},
    {61492, "New Archive", "Nouvelle archive"},
    {61493, "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*||",
     "Fichiers Zip (*.zip)|*.zip|Tous les fichiers (*.*)|*.*||"},
    {61495, "Reading Directory...", "Lecture du répertoire..."},
    {61496,
     "Cannot open file \"%s\". This error can be due to the following things :\n"
     "- File does not exist or has been moved elsewhere\n"
     "- File is in used by an other application which has locked it\n"
     "- File is damaged or corrupted.",
     "Impossible d'ouvrir le fichier \"%s\". Cette erreur peut avoir les causes suivantes :\n"
     "- Le fichier n'existe pas ou a été déplacé\n"
     "- Le fichier est utilisé par une autre application qui l'a verrouillé\n"
     "- Le fichier est endommagé ou corrompu."},
    {61497,
     "Cannot create file \"%s\". This error may result from one of the following fact :\n"
     "- File already exist and is in use by an other application which has locked it."
     "- You are trying to create a file on a write protected disk or invalid drive.\n"
     "- There may be not enough space left on device to create the file.",
     "Impossible de créer le fichier \"%s\". Cette erreur peut avoir l'une des causes suivantes :\n"
     "- Le fichier existe déjà et il est utilisé par une autre application qui l'a verrouillé.\n"
     "- Vous essayez de créer un fichier sur un disque protégé en écriture ou sur un lecteur "
     "non valide.\n"
     "- L'espace libre sur le périphérique est peut-être insuffisant pour créer le fichier."},
    {61499,
     "Cannot open file \"%s\". This file seams to be an archive file, however it contains "
     "corrupted information. If you downloaded this file, try downloading it again to solve the "
     "problem.",
     "Impossible d'ouvrir le fichier \"%s\". Ce fichier semble être une archive, mais il contient "
     "des informations corrompues. Si vous avez téléchargé ce fichier, téléchargez-le de nouveau "
     "pour résoudre le problème."},
    {61500,
     "An unexpected error occurred while compressing data. Please report this error to Dorvex : "
     "support@dorvex.example",
     "Une erreur inattendue s'est produite pendant la compression des données. Veuillez signaler "
     "cette erreur à Dorvex : support@dorvex.example"},
    {61519, "Copying file \"%s\" to \"%s\"...", "Copie du fichier \"%s\" vers \"%s\"..."},
    {61521, "Extracting : \"%s\"...", "Extraction : \"%s\"..."},
    {61522, "Adding : \"%s\"...", "Ajout : \"%s\"..."},
    {61523, "Running : \"%s\"...", "Exécution : \"%s\"..."},
    {61524, "Saving Zip file \"%s\"...", "Enregistrement du fichier Zip \"%s\"..."},
    {61525, "Rebuilding Zip file \"%s\" ...", "Reconstruction du fichier Zip \"%s\" ..."},
    {61526, "Searching Pictures...", "Recherche des images..."},
    {61528, "Save As", "Enregistrer sous"},
    {61529,
     "There is not enough free disk space for writing in folder \"%s\".\n"
     "Available space on drive \"%s\" : %s\nSpace needed : %s.",
     "L'espace disque libre est insuffisant pour écrire dans le dossier \"%s\".\n"
     "Espace disponible sur le lecteur \"%s\" : %s\nEspace nécessaire : %s."},
    {61536, "Aborted", "Interrompu"},
    {61537, "An internal error occured while processing data.",
     "Une erreur interne s'est produite pendant le traitement des données."},
    {61539, "Incorrect password", "Mot de passe incorrect"},
    {61540, "Unsupported compression method found.",
     "Méthode de compression non prise en charge."},
    {61541,
     "An error occurred while decompressing data. It may result of a corrupted bloc of data.",
     "Une erreur s'est produite pendant la décompression des données. Elle peut provenir d'un "
     "bloc de données corrompu."},
    {61547,
     "Before closing this archive \"%s\" do you want to delete its CheckOu folder \"%s\" all "
     "its files and subfolders and the startup menu group \"%s\" ?",
     "Avant de fermer l'archive \"%s\", voulez-vous supprimer son dossier d'extraction "
     "\"%s\" avec tous ses fichiers et sous-dossiers, ainsi que le groupe du menu de "
     "démarrage \"%s\" ?"},
    {61570, "Please insert disk #%d in drive %s.",
     "Veuillez insérer le disque n° %d dans le lecteur %s."},
    {61571, "You can only create a multiple disk archive on a removable media such as a diskette.",
     "Vous ne pouvez créer une archive sur plusieurs disques que sur un support amovible tel "
     "qu'une disquette."},
    {61578,
     "Quorbel cannot complete this operation because it needs an external program (%s) which is "
     "not installed or configured to be use with Quorbel (please refer to the Quorbel "
     "documentation to know how to declare external programs).",
     "Quorbel ne peut pas terminer cette opération car elle nécessite un programme externe (%s) "
     "qui n'est pas installé ou pas configuré pour être utilisé avec Quorbel (consultez la "
     "documentation de Quorbel pour savoir comment déclarer les programmes externes)."},
    {61586, "Generating HTML code...", "Génération du code HTML..."},
    {61588, "Deleting : %s ...", "Suppression : %s ..."},
    {61589, "Enumerating Files ...", "Énumération des fichiers ..."},
    {61600,
     "Cannot rename file \"%s\". This file may be in use by an other program or write "
     "protected.",
     "Impossible de renommer le fichier \"%s\". Ce fichier est peut-être utilisé par un autre "
     "programme ou protégé en écriture."},
    {61601,
     "Cannot delete file \"%s\". This file may be in use by an other program or write "
     "protected.",
     "Impossible de supprimer le fichier \"%s\". Ce fichier est peut-être utilisé par un autre "
     "programme ou protégé en écriture."},
    {61602,
     "Cannot copy file \"%s\" to \"%s\". File may be missing or damaged or destination file may "
     "be in use by an other application or write protected.",
     "Impossible de copier le fichier \"%s\" vers \"%s\". Le fichier est peut-être absent ou "
     "endommagé, ou le fichier de destination est utilisé par une autre application ou protégé "
     "en écriture."},
    {61603,
     "Out of memory. Quorbel cannot continue this operation because of insufficient memory.",
     "Mémoire saturée. Quorbel ne peut pas poursuivre cette opération faute de mémoire "
     "suffisante."},
    {61604,
     "Bad pointer. Quorbel has detected an invalid memory pointer or handle. ",
     "Pointeur incorrect. Quorbel a détecté un pointeur ou un descripteur mémoire non valide. "},
    {61605,
     "Memory overflow. During this operation, Quorbel has detected an invalid internal operation "
     "resulting in an overflow.",
     "Dépassement de mémoire. Pendant cette opération, Quorbel a détecté une opération interne "
     "non valide qui a provoqué un dépassement."},
    {61606,
     "Unknown file format. This version of Quorbel cannot recognize and load file \"%s\".",
     "Format de fichier inconnu. Cette version de Quorbel ne peut ni reconnaître ni charger le "
     "fichier \"%s\"."},
    {61607, "File \"%s\" is not a %s file.", "Le fichier \"%s\" n'est pas un fichier %s."},
    {61608,
     "Quorbel has encountered unexpected data and cannot continue the operation. The file "
     "\"%s\" may be corrupted or damaged. If you downloaded this file from the Internet, try "
     "downloading it one more time.",
     "Quorbel a rencontré des données inattendues et ne peut pas poursuivre l'opération. Le "
     "fichier \"%s\" est peut-être corrompu ou endommagé. Si vous avez téléchargé ce fichier "
     "sur Internet, essayez de le télécharger une nouvelle fois."},
    {61609,
     "File \"%s\" is protected by a password. You need to enter the correct password to be able "
     "to decipher and unpack this file. To enter a password, go to the \"Actions\" menu and "
     "select \"Password\".",
     "Le fichier \"%s\" est protégé par un mot de passe. Vous devez saisir le mot de passe "
     "correct pour pouvoir déchiffrer et décompresser ce fichier. Pour saisir un mot de passe, "
     "ouvrez le menu \"Actions\" et choisissez \"Mot de passe\"."},
    {61610,
     "Unknown archive format. This version of Quorbel cannot recognize and load file \"%s\". "
     "This file may be stored in a format not handled by Quorbel or may be damaged.",
     "Format d'archive inconnu. Cette version de Quorbel ne peut ni reconnaître ni charger le "
     "fichier \"%s\". Ce fichier est peut-être enregistré dans un format que Quorbel ne prend "
     "pas en charge, ou il est endommagé."},
    {61613, "This version of Quorbel cannot realize this operation on a %s file.",
     "Cette version de Quorbel ne peut pas effectuer cette opération sur un fichier %s."},
    {61654, "Searching: \"%s\" ...", "Recherche : \"%s\" ..."},
    {61681,
     "File \"%s\" already exists. Do you really want to replace it? Select \"NO\" to select and "
     "other output name.",
     "Le fichier \"%s\" existe déjà. Voulez-vous vraiment le remplacer ? Choisissez \"NON\" pour "
     "indiquer un autre nom de sortie."},
    {61684, "My Computer", "Poste de travail"},
    {61688, "Examining File \"%s\"...", "Examen du fichier \"%s\"..."},
    {61689, "Loading File \"%s\"...", "Chargement du fichier \"%s\"..."},
    {61693, "(empty)", "(vide)"},
    {61800, "Saving File \"%s\"...", "Enregistrement du fichier \"%s\"..."},
    {61801, "Searching files in folder \"%s\"...",
     "Recherche des fichiers dans le dossier \"%s\"..."},
    {61802, "Network Neighborhood", "Voisinage réseau"},
    {61811, "Do you want to select an other folder ?", "Voulez-vous choisir un autre dossier ?"},
    {62000, "Unknown", "Inconnu"},
    {62001, "Testing file \"%s\"...", "Test du fichier \"%s\"..."},
    {62002, "Testing: \"%s\"", "Test : \"%s\""},
    {62003, "OK", "OK"},
    {62004, "Aborted", "Interrompu"},
    {62005, "Not enought disk space.", "Espace disque insuffisant."},
    {62006, "Ignored (need password)", "Ignoré (mot de passe requis)"},
    {62007, "%d files tested.  %d errors detected in compressed data of file \"%s\"",
     "%d fichiers testés.  %d erreurs détectées dans les données compressées du fichier \"%s\""},
    {62008, "%d files tested. No errors detected in compressed data of file \"%s\"",
     "%d fichiers testés. Aucune erreur détectée dans les données compressées du fichier "
     "\"%s\""},
    // List column titles.
    {62010, "C", "C"},
    {62011, "Name", "Nom"},
    {62012, "Size", "Taille"},
    {62013, "Type", "Type"},
    {62014, "Modified", "Modifié le"},
    {62015, "Ratio", "Taux"},
    {62016, "Packed", "Compressé"},
    {62017, "CRC", "CRC"},
    {62018, "Attrib", "Attrib"},
    {62019, "Path", "Chemin"},
    {62020, "Note", "Note"},
    // Statistics labels.
    {62030, "Name", "Nom"},
    {62031, "Path", "Chemin"},
    {62032, "Size", "Taille"},
    {62033, "MS-Dos Name", "Nom MS-DOS"},
    {62034, "Created", "Créé le"},
    {62035, "Modified", "Modifié le"},
    {62036, "Accessed", "Dernier accès"},
    {62037, "Attributes", "Attributs"},
    {62038, "# Of Files", "Nombre de fichiers"},
    {62039, "Compressed Size", "Taille compressée"},
    {62040, "Uncompressed Size", "Taille décompressée"},
    {62041, "Average Ratio", "Taux moyen"},
    {62042, "Note", "Note"},
    {62050, "Displaying Files (%d/%d)...", "Affichage des fichiers (%d/%d)..."},
    {62051, "Sorting Files...", "Tri des fichiers..."},
    {62052,
     "Selected : %d files (%s), Total : %d, Compressed Size : %s, Uncompressed Size : %s",
     "Sélection : %d fichiers (%s), Total : %d, Taille compressée : %s, Taille décompressée : "
     "%s"},
    // Size units and the long size form.
    {62060, "Byte", "octet"},
    {62061, "Bytes", "octets"},
    {62062, "Kb", "Ko"},
    {62063, "Mb", "Mo"},
    {62064, "Gb", "Go"},
    {62065, "%s %s (%s bytes)", "%s %s (%s octets)"},
    {62070,
     "The member \"%s\" would be written outside the destination folder; it was not extracted.",
     "L'élément \"%s\" serait écrit hors du dossier de destination ; il n'a pas été extrait."},
    {62071, "Skipped (file exists): \"%s\"", "Ignoré (le fichier existe) : \"%s\""},
    {62072, "Skipped (newer file on disk): \"%s\"",
     "Ignoré (fichier plus récent sur le disque) : \"%s\""},
    {62073, "File \"%s\" already exists. Replace it?",
     "Le fichier \"%s\" existe déjà. Voulez-vous le remplacer ?"},
    {62074, "Password for \"%s\": ", "Mot de passe pour \"%s\" : "},
    {62075, "No member named \"%s\" in the archive.", "Aucun membre nommé \"%s\" dans l'archive."},
    {62076, "Not extracted (link): \"%s\"", "Non extrait (lien) : \"%s\""},
    {62077, "Not extracted (special file): \"%s\"", "Non extrait (fichier spécial) : \"%s\""},
    {62080, "UUEncoding file \"%s\"...", "Encodage UUE du fichier \"%s\"..."},
    {62081, "File \"%s\" has been correctly created.", "Le fichier \"%s\" a été correctement créé."},
    {62082, "UUE Files (*.uue)|*.uue|All Files (*.*)|*.*||",
     "Fichiers UUE (*.uue)|*.uue|Tous les fichiers (*.*)|*.*||"},
    {62090, "Cannot find file \"%s\".", "Impossible de trouver le fichier \"%s\"."},
    {62091, "No HTML viewer installed. Quorbel cannot display file \"%s\".",
     "Aucun visualiseur HTML n'est installé. Quorbel ne peut pas afficher le fichier \"%s\"."},
    {62092, "Delete the %d selected files from the archive?",
     "Supprimer de l'archive les %d fichiers sélectionnés ?"},
    {62093,
     "This version of Quorbel cannot open file \"%s\" as an image. Unknown file format.",
     "Cette version de Quorbel ne peut pas ouvrir le fichier \"%s\" comme une image. Format de "
     "fichier inconnu."},
    {62100,
     "Cannot find an installed version of Quorbel on your computer. You or an other program may "
     "have been already removed Quorbel from your computer.",
     "Impossible de trouver une version installée de Quorbel sur votre ordinateur. Vous-même ou "
     "un autre programme avez peut-être déjà supprimé Quorbel de votre ordinateur."},
    {62101,
     "Do you really want to remove the version of Quorbel intalled into the \"%s\" folder, and "
     "all its components from your computer?",
     "Voulez-vous vraiment supprimer de votre ordinateur la version de Quorbel installée dans le "
     "dossier \"%s\", ainsi que tous ses composants ?"},
    {62102,
     "An error occurred while uninstalling Quorbel. This error may be caused by a missing or "
     "damage file, or if \"you\" or an other program tried to manually remove Quorbel from your "
     "computer. Recommendation is to try reinstalling Quorbel on itself and then run the "
     "uninstall command, or to manually remove folder \"%s\".",
     "Une erreur s'est produite pendant la désinstallation de Quorbel. Elle peut venir d'un "
     "fichier absent ou endommagé, ou de ce que \"vous\" ou un autre programme avez tenté de "
     "supprimer Quorbel à la main. Il est conseillé de réinstaller Quorbel par-dessus lui-même "
     "puis de relancer la désinstallation, ou de supprimer à la main le dossier \"%s\"."},
    {62103,
     "Quorbel has been correctly removed from your computer. File \"%s\" has been left on your "
     "computer, so you can simply reinstall Quorbel by running this file. Otherwise you can "
     "safely delete it manually.",
     "Quorbel a été correctement supprimé de votre ordinateur. Le fichier \"%s\" a été laissé "
     "sur votre ordinateur : vous pouvez réinstaller Quorbel simplement en l'exécutant. Sinon, "
     "vous pouvez le supprimer à la main sans risque."},
    // External programs: how a run ended, and what an archiver did not do.
    {62110, "The program \"%s\" failed (%s).\n%s", "Le programme \"%s\" a échoué (%s).\n%s"},
    {62111, "The archiver did not store \"%s\"; the archive was left as it was.",
     "L'archiveur n'a pas enregistré \"%s\" ; l'archive est restée telle quelle."},
    {62112, "The archiver did not delete \"%s\"; the archive was left as it was.",
     "L'archiveur n'a pas supprimé \"%s\" ; l'archive est restée telle quelle."},
    {62113, "The archiver did not write a readable archive \"%s\"; nothing was changed.",
     "L'archiveur n'a pas écrit d'archive lisible \"%s\" ; rien n'a été modifié."},
    {62114, "The output \"%s\" is the archive being converted; it was not converted.",
     "La sortie \"%s\" est l'archive à convertir ; elle n'a pas été convertie."},
    {62115,
     "Passwords given to an external archiver appear on its command line, where other users of "
     "this computer can see them while it runs.",
     "Les mots de passe transmis à un archiveur externe figurent sur sa ligne de commande, où "
     "les autres utilisateurs de cet ordinateur peuvent les voir pendant son exécution."},
    // Archive conversion.
    {62120, "Converting archives into %s...", "Conversion des archives en %s..."},
    {62121, "Converting archive \" %s\" into \"%s\"...", "Conversion de l'archive \" %s\" en \"%s\"..."},
    {62122, "Converting: \"%s\"", "Conversion : \"%s\""},
    {62123, "%d files converted. No errors detected.", "%d fichiers convertis. Aucune erreur détectée."},
    {62124, "%d files converted.  %d errors detected.", "%d fichiers convertis.  %d erreurs détectées."},
    {62125,
     "Archive \"%s\" contains one ore more files encrypted with a password. Do you want to enter "
     "this password ?",
     "L'archive \"%s\" contient un ou plusieurs fichiers chiffrés par un mot de passe. Voulez-vous "
     "entrer ce mot de passe ?"},
    {62126, "Archive Converter - [Quorbel]", "Convertisseur d'archives - [Quorbel]"},
    {62127, "%d archive(s) to convert", "%d archive(s) à convertir"},
    {62128, "Add Archives", "Ajouter des archives"},
    {62129, "Select folder to add", "Choisir le dossier à ajouter"},
    {62130, "Warning: %d member(s) skipped", "Attention : %d membre(s) ignoré(s)"},
    {62140, "Creating shortcuts...", "Création des raccourcis..."},
    {62141,
     "Virus scanning operation complete.\n If no error or warning dialog boxes were displayed by "
     "the virus scanner it means that no virus were found.",
     "Analyse antivirus terminée.\n Si l'antivirus n'a affiché aucune boîte d'erreur ou "
     "d'avertissement, aucun virus n'a été trouvé."},
    {62142,
     "Folder \"%s\" already exists. If you continue files in this folder and subfolders may be "
     "deleted.\n\nDo you want to continue ?",
     "Le dossier \"%s\" existe déjà. Si vous continuez, des fichiers de ce dossier et de ses "
     "sous-dossiers pourront être supprimés.\n\nVoulez-vous continuer ?"},
    {62143, "No virus found.", "Aucun virus trouvé."},
    {62144, "The virus scanner found infected files.", "L'antivirus a trouvé des fichiers infectés."},
    {62145, "The virus scanner \"%s\" ended with code %d.",
     "L'antivirus \"%s\" s'est terminé avec le code %d."},
    {62146, "The virus scanner \"%s\" could not be started (%s).",
     "L'antivirus \"%s\" n'a pas pu être lancé (%s)."},
    {62147, "Not scanned: \"%s\" could not be extracted.",
     "Non analysé : \"%s\" n'a pas pu être extrait."},
    {62148, "Could not remove: \"%s\"", "Impossible de supprimer : \"%s\""},
    {62200, "Searching files...", "Recherche dans les fichiers..."},
    {62201, "%d files could not be searched (password needed, damaged, or larger than %s).",
     "%d fichiers n'ont pas pu être examinés (mot de passe requis, endommagés, ou plus grands "
     "que %s)."},
    {62202, "Generating HTML code...", "Génération du code HTML..."},
    {62203, "Calculating ideal column size...", "Calcul de la taille idéale des colonnes..."},
    {62204, "Calculating ideal line height...", "Calcul de la hauteur idéale des lignes..."},
    {62205, "Page : %d / %d", "Page : %d / %d"},
    {62206, "Printed with Quorbel", "Imprimé avec Quorbel"},
    {62207, "HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*||",
     "Fichiers HTML (*.htm;*.html)|*.htm;*.html|Tous les fichiers (*.*)|*.*||"},
    {62208, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||",
     "Fichiers texte (*.txt)|*.txt|Tous les fichiers (*.*)|*.*||"},
    {62209, "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*||",
     "Fichiers CSV (*.csv)|*.csv|Tous les fichiers (*.*)|*.*||"},
    {62210, "Export", "Exporter"},
    {62211, "%d files found.", "%d fichiers trouvés."},
    // The cabinet library: loading it, and its error texts by operation code.
    {62300, "The cabinet library \"%s\" cannot be loaded (%s): the members of CAB archives cannot be extracted.",
     "La bibliothèque de cabinets \"%s\" ne peut pas être chargée (%s) : les fichiers des archives CAB ne peuvent pas être extraits."},
    {62301, "No error", "Aucune erreur"},
    {62302, "Cabinet not found", "Cabinet introuvable"},
    {62303, "Not a cabinet", "Ce n'est pas un cabinet"},
    {62304, "Unknown cabinet version", "Version de cabinet inconnue"},
    {62305, "Corrupt cabinet", "Cabinet endommagé"},
    {62306, "Memory allocation failed", "Échec de l'allocation de mémoire"},
    {62307, "Unknown compression type", "Type de compression inconnu"},
    {62308, "Failure decompressing data", "Échec de la décompression des données"},
    {62309, "Failure writing to target file", "Échec de l'écriture du fichier cible"},
    {62310, "Cabinets in set have different RESERVE sizes", "Les cabinets de la série ont des tailles RESERVE différentes"},
    {62311, "Cabinet returned on fdintNEXT_CABINET is incorrect", "Le cabinet rendu sur fdintNEXT_CABINET est incorrect"},
    {62312, "User aborted", "Abandon par l'utilisateur"},
    {62313, "Unknown error", "Erreur inconnue"},
    {62450, "The next volume \"%s\" of this archive is missing; only the members before it are listed.",
     "Le volume suivant \"%s\" de cette archive est introuvable ; seuls les membres qui le "
     "précèdent sont listés."},
};

constexpr std::size_t kRowCount = std::size(kTable);

constexpr bool IdsAscending() {
    for (std::size_t i = 1; i < kRowCount; ++i)
        if (kTable[i - 1].id >= kTable[i].id) return false;
    return true;
}
static_assert(IdsAscending(), "string table rows must be sorted by id, without duplicates");

// The std::string copies of one language, made on its first use and kept for the whole run so
// callers can hold references; built lazily so static initialisers elsewhere may already use
// the table.
struct TextStore {
    std::array<std::string, kRowCount> texts;
    explicit TextStore(bool french) {
        for (std::size_t i = 0; i < kRowCount; ++i) texts[i] = french ? kTable[i].french : kTable[i].english;
    }
};

const TextStore& Store(Language language) {
    if (language == Language::French) {
        static const TextStore french(true);
        return french;
    }
    static const TextStore english(false);
    return english;
}

const std::string& EmptyText() {
    static const std::string empty;
    return empty;
}

// -1 until the first query decides from the environment.
std::atomic<int> g_language{-1};

bool StartsWithFr(const char* value) { return std::strncmp(value, "fr", 2) == 0; }

}  // namespace

void SetLanguage(Language language) { g_language.store(static_cast<int>(language)); }

Language CurrentLanguage() {
    int value = g_language.load();
    if (value < 0) {
        int initial = static_cast<int>(LanguageFromSetting(0));
        // A concurrent SetLanguage wins over the default.
        if (!g_language.compare_exchange_strong(value, initial)) return static_cast<Language>(value);
        value = initial;
    }
    return static_cast<Language>(value);
}

Language LanguageFromSetting(long long value) {
    if (value == 1) return Language::English;
    if (value == 2) return Language::French;
    // The same precedence the C library uses for LC_MESSAGES.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* setting = std::getenv(name);
        if (setting && *setting)
            return StartsWithFr(setting) ? Language::French : Language::English;
    }
    return Language::English;
}

int MessageIdFor(int code) {
    switch (code) {
        case 1: return 61496;
        case 2: return 61497;
        case 3: return 61529;
        case 4: return 61600;
        case 5: return 61601;
        case 6: return 61602;
        case 7: return 61519;
        case 8: return 61688;
        case 9: return 61689;
        case 10: return 61603;
        case 11: return 61604;
        case 12: return 61605;
        case 20: return 61606;
        case 21: return 61607;
        case 22: return 61499;
        case 23: return 61608;
        case 100: return 61536;
        case 102: return 61578;
        case 103: return 61654;
        case 104: return 61523;
        case 105: return 61693;
        case 106: return 61684;
        case 107: return 61802;
        case 201: return 61500;
        case 202: return 61541;
        case 203: return 61609;
        case 204: return 61539;
        case 205: return 61540;
        case 206: return 61521;
        case 207: return 61613;
        case 208: return 61495;
        case 209: return 61522;
        case 210: return 61525;
        case 211: return 61524;
        case 212: return 61588;
        case 213: return 61589;
        case 300: return 61586;
        case 400: return 61689;
        case 401: return 0;
        case 402: return 61800;
        case 403: return 0;
        case 500: return 61801;
        case 501: return 61811;
        case 600: return 61681;
        default: return 61537;
    }
}

const std::string& StringById(int id) { return StringById(id, CurrentLanguage()); }

const std::string& StringById(int id, Language language) {
    const TableRow* end = kTable + kRowCount;
    const TableRow* row =
        std::lower_bound(kTable, end, id, [](const TableRow& r, int key) { return r.id < key; });
    if (row == end || row->id != id) return EmptyText();
    const std::size_t index = static_cast<std::size_t>(row - kTable);
    return Store(language).texts[index];
}

const std::string& MessageTemplate(int code) { return StringById(MessageIdFor(code)); }

const std::vector<int>& StringIds() {
    static const std::vector<int> ids = [] {
        std::vector<int> out;
        out.reserve(kRowCount);
        for (const TableRow& row : kTable) out.push_back(row.id);
        return out;
    }();
    return ids;
}

std::string FormatText(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string out;
    if (needed < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(needed));
    } else {
        out.resize(static_cast<std::size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}

}  // namespace quorbel
