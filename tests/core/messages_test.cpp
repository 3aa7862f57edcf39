// String table, code -> id mapping, language choice and FormatText.
#include "core/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorbel {
namespace {

// Restores the program-wide language so tests do not leak their choice into others.
class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentLanguage(); }
    void TearDown() override { SetLanguage(saved_); }

private:
    Language saved_ = Language::English;
};

// The printf conversions of a text, in order, each as written ("%d", "%s", "%-5.2f", "%%").
std::vector<std::string> Conversions(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        std::size_t j = i + 1;
        while (j < text.size() && std::strchr("-+ #0123456789.*hlLqjzt", text[j])) ++j;
        if (j < text.size()) ++j;  // the conversion letter itself
        out.push_back(text.substr(i, j - i));
        i = j - 1;
    }
    return out;
}

TEST_F(MessagesTest, ConversionsHelperReadsEveryForm) {
    const std::vector<std::string> expected = {"%d", "%s", "%%", "%-5.2f", "%lld"};
    EXPECT_EQ(Conversions("a %d b %s c %% d %-5.2f e %lld"), expected);
    EXPECT_TRUE(Conversions("none").empty());
}

struct CodeRow {
    int code;
    int id;
};

TEST_F(MessagesTest, EveryCodeMapsToItsId) {
    const CodeRow rows[] = {
        {1, 61496},   {2, 61497},   {3, 61529},   {4, 61600},   {5, 61601},   {6, 61602},
        {7, 61519},   {8, 61688},   {9, 61689},   {400, 61689}, {10, 61603},  {11, 61604},
        {12, 61605},  {20, 61606},  {21, 61607},  {22, 61499},  {23, 61608},  {100, 61536},
        {102, 61578}, {103, 61654}, {104, 61523}, {105, 61693}, {106, 61684}, {107, 61802},
        {201, 61500}, {202, 61541}, {203, 61609}, {204, 61539}, {205, 61540}, {206, 61521},
        {207, 61613}, {208, 61495}, {209, 61522}, {210, 61525}, {211, 61524}, {212, 61588},
        {213, 61589}, {300, 61586}, {401, 0},     {403, 0},     {402, 61800}, {500, 61801},
        {501, 61811}, {600, 61681},
        // Codes outside the table fall back to the internal-error message.
        {0, 61537},   {-1, 61537},  {13, 61537},  {101, 61537}, {601, 61537}, {61537, 61537},
    };
    for (const CodeRow& row : rows) EXPECT_EQ(MessageIdFor(row.code), row.id) << "code " << row.code;
}

TEST_F(MessagesTest, EveryMappedIdHasTextInBothLanguages) {
    for (int code = -5; code <= 700; ++code) {
        const int id = MessageIdFor(code);
        if (id == 0) continue;
        EXPECT_FALSE(StringById(id, Language::English).empty()) << "code " << code;
        EXPECT_FALSE(StringById(id, Language::French).empty()) << "code " << code;
    }
}

struct TextRow {
    int id;
    const char* english;
};

TEST_F(MessagesTest, EnglishTextsAreExact) {
    const TextRow rows[] = {
        {61496,
         "Cannot open file \"%s\". This error can be due to the following things :\n- File does "
         "not exist or has been moved elsewhere\n- File is in used by an other application which "
         "has locked it\n- File is damaged or corrupted."},
        {61497,
         "Cannot create file \"%s\". This error may result from one of the following fact :\n- "
         "File already exist and is in use by an other application which has locked it.- You "
         "are trying to create a file on a write protected disk or invalid drive.\n- There may "
         "be not enough space left on device to create the file."},
        {61499,
         "Cannot open file \"%s\". This file seams to be an archive file, however it contains "
         "corrupted information. If you downloaded this file, try downloading it again to solve "
         "the problem."},
        {61500,
         "An unexpected error occurred while compressing data. Please report this error to "
         "Dorvex : support@dorvex.example"},
        {61537, "An internal error occured while processing data."},
        {61604, "Bad pointer. Quorbel has detected an invalid memory pointer or handle. "},
        {61607, "File \"%s\" is not a %s file."},
        {61570, "Please insert disk #%d in drive %s."},
        {61493, "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*||"},
        {61528, "Save As"},
        {61492, "New Archive"},
        {text_id::kUnknownType, "Unknown"},
        {text_id::kTestTitle, "Testing file \"%s\"..."},
        {text_id::kTestLine, "Testing: \"%s\""},
        {text_id::kTestOk, "OK"},
        {text_id::kTestAborted, "Aborted"},
        {text_id::kTestNoSpace, "Not enought disk space."},
        {text_id::kTestNeedPassword, "Ignored (need password)"},
        {text_id::kTestSummaryErrors,
         "%d files tested.  %d errors detected in compressed data of file \"%s\""},
        {text_id::kTestSummaryOk,
         "%d files tested. No errors detected in compressed data of file \"%s\""},
        {text_id::kDisplayingFiles, "Displaying Files (%d/%d)..."},
        {text_id::kSortingFiles, "Sorting Files..."},
        {text_id::kStatusLine,
         "Selected : %d files (%s), Total : %d, Compressed Size : %s, Uncompressed Size : %s"},
        {text_id::kSizeByte, "Byte"},
        {text_id::kSizeBytes, "Bytes"},
        {text_id::kSizeKb, "Kb"},
        {text_id::kSizeMb, "Mb"},
        {text_id::kSizeGb, "Gb"},
        {text_id::kUnsafeMemberName,
         "The member \"%s\" would be written outside the destination folder; it was not "
         "extracted."},
        {text_id::kSkippedExisting, "Skipped (file exists): \"%s\""},
        {text_id::kSkippedNewer, "Skipped (newer file on disk): \"%s\""},
        {text_id::kOverwritePrompt, "File \"%s\" already exists. Replace it?"},
        {text_id::kPasswordPrompt, "Password for \"%s\": "},
    };
    for (const TextRow& row : rows)
        EXPECT_EQ(StringById(row.id, Language::English), row.english) << "id " << row.id;
}

TEST_F(MessagesTest, ColumnTitlesAndStatisticsLabelsInOrder) {
    const char* columns[] = {"C",     "Name",  "Size",   "Type", "Modified", "Ratio",
                             "Packed", "CRC", "Attrib", "Path", "Note"};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(StringById(text_id::kColumnFirst + i, Language::English), columns[i]) << i;
    EXPECT_TRUE(StringById(text_id::kColumnFirst + 11, Language::English).empty());

    const char* labels[] = {"Name",       "Path",        "Size",          "MS-Dos Name",
                            "Created",    "Modified",    "Accessed",      "Attributes",
                            "# Of Files", "Compressed Size", "Uncompressed Size",
                            "Average Ratio", "Note"};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(StringById(text_id::kStatLabelFirst + i, Language::English), labels[i]) << i;
    EXPECT_TRUE(StringById(text_id::kStatLabelFirst + 13, Language::English).empty());
}

TEST_F(MessagesTest, ArchiveFilterNamesEveryFormat) {
    const std::string& filter = StringById(61491, Language::English);
    for (const char* pattern : {"*.zip", "*.arj", "*.lha", "*.lzh", "*.zoo", "*.rar", "*.uue",
                                "*.gz", "*.tar", "*.ace", "*.cab", "*.jar", "*.*"})
        EXPECT_NE(filter.find(pattern), std::string::npos) << pattern;
    ASSERT_GE(filter.size(), 2u);
    EXPECT_EQ(filter.substr(filter.size() - 2), "||");
}

TEST_F(MessagesTest, UnknownIdsGiveEmptyText) {
    for (int id : {0, -1, 1, 61490, 61494, 62009, 62099, 99999}) {
        EXPECT_TRUE(StringById(id, Language::English).empty()) << id;
        EXPECT_TRUE(StringById(id, Language::French).empty()) << id;
    }
    EXPECT_TRUE(MessageTemplate(401).empty());
    EXPECT_TRUE(MessageTemplate(403).empty());
}

TEST_F(MessagesTest, TableHoldsEveryRequiredId) {
    const std::vector<int>& ids = StringIds();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    std::vector<int> required = {61537, 61570, 61610, 61528, 61492, 61493, 61491};
    for (int code = 0; code <= 600; ++code)
        if (MessageIdFor(code) != 0) required.push_back(MessageIdFor(code));
    for (int id = 62000; id <= 62008; ++id) required.push_back(id);
    for (int id = 62010; id <= 62020; ++id) required.push_back(id);
    for (int id = 62030; id <= 62042; ++id) required.push_back(id);
    for (int id : {62050, 62051, 62052, 62060, 62061, 62062, 62063, 62064, 62065, 62070, 62071,
                   62072, 62073, 62074})
        required.push_back(id);
    for (int id : required)
        EXPECT_TRUE(std::binary_search(ids.begin(), ids.end(), id)) << "missing id " << id;
}

TEST_F(MessagesTest, FrenchKeepsThePlaceholderSequenceOfEveryId) {
    for (int id : StringIds()) {
        const std::string& english = StringById(id, Language::English);
        const std::string& french = StringById(id, Language::French);
        EXPECT_FALSE(english.empty()) << id;
        EXPECT_FALSE(french.empty()) << id;
        EXPECT_EQ(Conversions(english), Conversions(french)) << "id " << id;
    }
}

TEST_F(MessagesTest, TextsAreBuiltOnceAndReturnedByReference) {
    const std::string* first = &StringById(61539, Language::English);
    EXPECT_EQ(first, &StringById(61539, Language::English));
    SetLanguage(Language::English);
    EXPECT_EQ(first, &StringById(61539));
    EXPECT_EQ(first, &MessageTemplate(204));
    EXPECT_NE(first, &StringById(61539, Language::French));
}

TEST_F(MessagesTest, SetLanguageSwitchesEveryLookup) {
    SetLanguage(Language::French);
    EXPECT_EQ(CurrentLanguage(), Language::French);
    EXPECT_EQ(MessageTemplate(204), "Mot de passe incorrect");
    EXPECT_EQ(StringById(text_id::kSizeBytes), "octets");
    EXPECT_EQ(StringById(text_id::kColumnFirst + 1), "Nom");
    EXPECT_EQ(MessageTemplate(9999), StringById(61537, Language::French));

    SetLanguage(Language::English);
    EXPECT_EQ(CurrentLanguage(), Language::English);
    EXPECT_EQ(MessageTemplate(204), "Incorrect password");
    EXPECT_EQ(StringById(text_id::kSizeBytes), "Bytes");
}

TEST_F(MessagesTest, FrenchDiffersFromEnglishWhereWordsAreTranslated) {
    for (int id : {61496, 61536, 61539, 61684, text_id::kUnknownType, text_id::kTestNoSpace,
                   text_id::kStatusLine, text_id::kSizeKb}) {
        EXPECT_NE(StringById(id, Language::French), StringById(id, Language::English)) << id;
    }
    EXPECT_NE(StringById(61500, Language::French).find("Dorvex"), std::string::npos);
    EXPECT_NE(StringById(61500, Language::French).find("support@dorvex.example"),
              std::string::npos);
    EXPECT_NE(StringById(61603, Language::French).find("Quorbel"), std::string::npos);
}

struct SettingRow {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    long long setting;
    Language expected;
};

TEST_F(MessagesTest, LanguageFromSettingAndLocale) {
    const SettingRow rows[] = {
        {"", "", "fr_FR.UTF-8", 0, Language::French},
        {"", "", "fr_FR.UTF-8", 3, Language::French},
        {"", "", "fr_FR.UTF-8", -1, Language::French},
        {"", "", "fr_FR.UTF-8", 1, Language::English},
        {"", "", "fr_FR.UTF-8", 2, Language::French},
        {"", "", "en_US.UTF-8", 2, Language::French},
        {"", "", "en_US.UTF-8", 0, Language::English},
        {"", "", "C.UTF-8", 3, Language::English},
        {"", "", "", 0, Language::English},
        // The first non-empty variable decides, in the order LC_ALL, LC_MESSAGES, LANG.
        {"C.UTF-8", "", "fr_FR.UTF-8", 0, Language::English},
        {"fr_BE.UTF-8", "", "en_GB.UTF-8", 0, Language::French},
        {"", "fr_CA.UTF-8", "en_US.UTF-8", 0, Language::French},
        {"", "de_DE.UTF-8", "fr_FR.UTF-8", 0, Language::English},
        {"", "", "french", 0, Language::French},
    };
    for (const SettingRow& row : rows) {
        test::ScopedEnv all("LC_ALL", row.lc_all);
        test::ScopedEnv messages("LC_MESSAGES", row.lc_messages);
        test::ScopedEnv lang("LANG", row.lang);
        EXPECT_EQ(LanguageFromSetting(row.setting), row.expected)
            << "LC_ALL=" << row.lc_all << " LC_MESSAGES=" << row.lc_messages
            << " LANG=" << row.lang << " setting " << row.setting;
    }
}

TEST_F(MessagesTest, FormatTextFillsPlaceholders) {
    SetLanguage(Language::English);
    EXPECT_EQ(FormatText(MessageTemplate(21).c_str(), "a.gz", "GZ"),
              "File \"a.gz\" is not a GZ file.");
    EXPECT_EQ(FormatText(StringById(text_id::kTestSummaryErrors, Language::English).c_str(), 7,
                         2, "x.zip"),
              "7 files tested.  2 errors detected in compressed data of file \"x.zip\"");
    EXPECT_EQ(FormatText("%s", ""), "");
    EXPECT_EQ(FormatText("%d%%", 42), "42%");
}

TEST_F(MessagesTest, FormatTextHasNoLengthLimit) {
    struct Row {
        std::size_t length;
    };
    const Row rows[] = {{0}, {1}, {510}, {511}, {512}, {513}, {4096}, {100000}};
    for (const Row& row : rows) {
        std::string long_name(row.length, 'x');
        for (std::size_t i = 0; i < long_name.size(); i += 7) long_name[i] = static_cast<char>('a' + i % 26);
        const std::string text = FormatText("[%s] %d", long_name.c_str(), 12345);
        EXPECT_EQ(text, "[" + long_name + "] 12345") << row.length;
    }
}

}  // namespace
}  // namespace quorbel
