// The program's string table: every text the user sees, in English and French, chosen by id.
// Archive operations pick their texts through program-wide message codes (MessageIdFor).
#pragma once

#include <string>
#include <vector>

namespace quorbel {

enum class Language { English, French };

// The interface language for the whole run.
void SetLanguage(Language language);
Language CurrentLanguage();

// The language that the "Language" setting selects: 1 English, 2 French; any other value
// follows the system locale (French when LANG, LC_ALL or LC_MESSAGES starts with "fr").
Language LanguageFromSetting(long long value);

// Message code -> string-table id (61537, "An internal error occured...", for unknown codes;
// 0 for the codes that have no message, 401 and 403).
int MessageIdFor(int code);

// The text of a string-table id in the current language; empty for an unknown id.
const std::string& StringById(int id);
const std::string& StringById(int id, Language language);

// The template text of a message code in the current language.
const std::string& MessageTemplate(int code);

// Every id the string table holds, ascending.
const std::vector<int>& StringIds();

// printf-style formatting into a std::string ("%s" takes a const char*).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// String-table ids of texts that have no message code. Ids 61xxx are the program's own;
// ids from 62000 on are texts of the window-free operations that carry no id of their own.
namespace text_id {
inline constexpr int kDiskPrompt = 61570;            // "Please insert disk #%d in drive %s."
inline constexpr int kSpanNeedsRemovable = 61571;    // "You can only create a multiple disk ..."
inline constexpr int kUnknownArchiveFormat = 61610;  // "Unknown archive format. ..."
inline constexpr int kSaveAs = 61528;
inline constexpr int kNewArchive = 61492;
inline constexpr int kArchiveFilter = 61491;
inline constexpr int kZipFilter = 61493;
inline constexpr int kCheckOutClose = 61547;
inline constexpr int kUnknownType = 62000;           // "Unknown"
inline constexpr int kTestTitle = 62001;             // "Testing file "%s"..."
inline constexpr int kTestLine = 62002;              // "Testing: "%s""
inline constexpr int kTestOk = 62003;                // "OK"
inline constexpr int kTestAborted = 62004;           // "Aborted"
inline constexpr int kTestNoSpace = 62005;           // "Not enought disk space."
inline constexpr int kTestNeedPassword = 62006;      // "Ignored (need password)"
inline constexpr int kTestSummaryErrors = 62007;     // "%d files tested.  %d errors detected ..."
inline constexpr int kTestSummaryOk = 62008;         // "%d files tested. No errors detected ..."
inline constexpr int kColumnFirst = 62010;           // 62010..62020: "C", "Name", ..., "Note"
inline constexpr int kStatLabelFirst = 62030;        // 62030..62042: "Name" ... "Note"
inline constexpr int kDisplayingFiles = 62050;       // "Displaying Files (%d/%d)..."
inline constexpr int kSortingFiles = 62051;          // "Sorting Files..."
inline constexpr int kStatusLine = 62052;            // "Selected : %d files (%s), Total : ..."
inline constexpr int kSizeByte = 62060;              // "Byte"
inline constexpr int kSizeBytes = 62061;             // "Bytes"
inline constexpr int kSizeKb = 62062;                // "Kb"
inline constexpr int kSizeMb = 62063;                // "Mb"
inline constexpr int kSizeGb = 62064;                // "Gb"
inline constexpr int kSizeLongForm = 62065;          // "%s %s (%s bytes)"
inline constexpr int kUnsafeMemberName = 62070;      // refusal of a name that climbs out
inline constexpr int kSkippedExisting = 62071;       // "Skipped (file exists): "%s""
inline constexpr int kSkippedNewer = 62072;          // "Skipped (newer file on disk): "%s""
inline constexpr int kOverwritePrompt = 62073;       // "File "%s" already exists. Replace it?"
inline constexpr int kPasswordPrompt = 62074;        // "Password for "%s": "
inline constexpr int kNoSuchMember = 62075;          // "No member named "%s" in the archive."
inline constexpr int kLinkNotExtracted = 62076;      // "Not extracted (link): "%s""
inline constexpr int kSpecialNotExtracted = 62077;   // "Not extracted (special file): "%s""
inline constexpr int kUuencoding = 62080;            // "UUEncoding file "%s"..."
inline constexpr int kUueCreated = 62081;            // "File "%s" has been correctly created."
inline constexpr int kUueFilter = 62082;             // "UUE Files (*.uue)|*.uue|All Files (*.*)|*.*||"
inline constexpr int kCannotFindFile = 62090;        // "Cannot find file "%s"."
inline constexpr int kNoHtmlViewer = 62091;          // "No HTML viewer installed. ..."
inline constexpr int kNotAnImage = 62093;            // "... cannot open file "%s" as an image. ..."
inline constexpr int kSearchingPictures = 61526;     // "Searching Pictures..."
inline constexpr int kDeleteQuestion = 62092;        // "Delete the %d selected files ..."
inline constexpr int kNotInstalled = 62100;          // "Cannot find an installed version ..."
inline constexpr int kUninstallQuestion = 62101;     // "Do you really want to remove ..."
inline constexpr int kUninstallFailed = 62102;       // "An error occurred while uninstalling ..."
inline constexpr int kUninstalled = 62103;           // "Quorbel has been correctly removed ..."
inline constexpr int kProgramFailed = 62110;         // "The program "%s" failed (%s).\n%s"
inline constexpr int kNotStored = 62111;             // "The archiver did not store "%s"; ..."
inline constexpr int kNotDeleted = 62112;            // "The archiver did not delete "%s"; ..."
inline constexpr int kNoArchiveWritten = 62113;      // "The archiver did not write a readable ..."
inline constexpr int kOutputIsSource = 62114;        // "The output "%s" is the archive being ..."
inline constexpr int kPasswordVisible = 62115;       // "Passwords given to an external archiver ..."
inline constexpr int kConvertTitle = 62120;          // "Converting archives into %s..."
inline constexpr int kConvertProgress = 62121;       // "Converting archive " %s" into "%s"..."
inline constexpr int kConvertLine = 62122;           // "Converting: "%s""
inline constexpr int kConvertSummaryOk = 62123;      // "%d files converted. No errors detected."
inline constexpr int kConvertSummaryErrors = 62124;  // "%d files converted.  %d errors detected."
inline constexpr int kConvertAskPassword = 62125;    // "Archive "%s" contains one ore more files ..."
inline constexpr int kConvertCaption = 62126;        // "Archive Converter - [Quorbel]"
inline constexpr int kConvertCount = 62127;          // "%d archive(s) to convert"
inline constexpr int kConvertAddArchives = 62128;    // "Add Archives"
inline constexpr int kConvertAddFolder = 62129;      // "Select folder to add"
inline constexpr int kConvertSkipped = 62130;        // "Warning: %d member(s) skipped"
inline constexpr int kCreatingShortcuts = 62140;    // "Creating shortcuts..."
inline constexpr int kScanComplete = 62141;         // "Virus scanning operation complete. ..."
inline constexpr int kCheckOutFolderExists = 62142; // "Folder "%s" already exists. If you ..."
inline constexpr int kScanClean = 62143;            // "No virus found."
inline constexpr int kScanFound = 62144;            // "The virus scanner found infected files."
inline constexpr int kScanEndedWithCode = 62145;    // "The virus scanner "%s" ended with code %d."
inline constexpr int kScanNotStarted = 62146;       // "The virus scanner "%s" could not be started (%s)."
inline constexpr int kScanNotExtracted = 62147;     // "Not scanned: "%s" could not be extracted."
inline constexpr int kCouldNotRemove = 62148;       // "Could not remove: "%s""
inline constexpr int kSearching = 62200;             // "Searching files..."
inline constexpr int kNotSearched = 62201;           // "%d files could not be searched ..."
inline constexpr int kGeneratingHtml = 62202;        // "Generating HTML code..."
inline constexpr int kIdealColumnSize = 62203;       // "Calculating ideal column size..."
inline constexpr int kIdealLineHeight = 62204;       // "Calculating ideal line height..."
inline constexpr int kPrintStatus = 62205;           // "Page : %d / %d"
inline constexpr int kPrintFooterLine = 62206;       // the footer's fixed line
inline constexpr int kCabinetLibraryMissing = 62300; // "The cabinet library ... cannot be loaded ..."
inline constexpr int kCabinetErrorFirst = 62301;     // 62301..62313: "No error" ... "Unknown error"
inline constexpr int kHtmlFilter = 62207;            // "HTML Files (*.htm;*.html)|..."
inline constexpr int kTextFilter = 62208;            // "Text Files (*.txt)|..."
inline constexpr int kCsvFilter = 62209;             // "CSV Files (*.csv)|..."
inline constexpr int kExportTitle = 62210;           // "Export"
inline constexpr int kSearchFound = 62211;           // "%d files found."
inline constexpr int kMissingVolume = 62450;         // "The next volume "%s" of this archive ..."
}  // namespace text_id

}  // namespace quorbel
