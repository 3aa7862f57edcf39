// Member paths as shown and typed, and the escaping of control characters in exports.
#include <gtest/gtest.h>

#include "app/ops/list_export.h"
#include "app/ops/member_path.h"
#include "app/ops/test_report.h"
#include "core/messages.h"
#include "core/zip/zip_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

TEST(MemberPathTest, ShownAndTypedForms) {
    const struct {
        std::string stored, shown;
    } shown[] = {
        {"", ""},
        {"a.txt", "a.txt"},
        {"docs\\guide.md", "docs/guide.md"},
        {"a\\b\\c\\", "a/b/c/"},
    };
    for (const auto& row : shown) EXPECT_EQ(DisplayPath(row.stored), row.shown) << row.stored;

    const struct {
        std::string typed, stored;
    } typed[] = {
        {"", ""},
        {"docs", "docs"},
        {"docs/sub", "docs\\sub"},
        {"docs\\sub", "docs\\sub"},
        {"docs/sub\\deeper", "docs\\sub\\deeper"},
        {"/docs//sub/", "docs\\sub"},
        {"\\\\", ""},
        {"a b/c d", "a b\\c d"},
    };
    for (const auto& row : typed) EXPECT_EQ(StoredPath(row.typed), row.stored) << row.typed;
}

TEST(MemberPathTest, ControlCharactersAreEscapedCStyle) {
    const struct {
        std::string value, escaped;
    } rows[] = {
        {"plain name.txt", "plain name.txt"},
        {"tab\there", "tab\\there"},
        {"line\nfeed", "line\\nfeed"},
        {"cr\rlf\n", "cr\\rlf\\n"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"bell\x07", "bell\\x07"},
        {"esc\x1b[0m", "esc\\x1B[0m"},
        {"del\x7f", "del\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 stays as it is
    };
    for (const auto& row : rows) EXPECT_EQ(EscapeControlCharacters(row.value), row.escaped) << row.escaped;
}

using test::Member;

TEST(MemberPathTest, ExportsShowSlashesAndKeepOneRowPerMember) {
    SetLanguage(Language::English);
    test::IsolatedEnvironment env;
    const std::string path = env / "t.zip";
    test::WriteFile(path, test::BuildZip({Member("docs/sub/a.txt", "aaa"), Member("tab\there/b.txt", "b"),
                                          Member("line\nfeed.txt", "c")}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    ASSERT_EQ(zip.Entry(0).full_name, "docs\\sub\\a.txt") << "the program keeps '\\' inside";
    std::vector<const ArchiveEntry*> rows;
    for (const ArchiveEntry& e : zip.Entries())
        if (e.is_file) rows.push_back(&e);
    ASSERT_EQ(rows.size(), 3u);
    ColumnSwitches on{};
    on[1] = on[9] = true;

    const struct {
        ExportKind kind;
        std::string expected;
    } exports[] = {
        {ExportKind::Tab, "a.txt\tdocs/sub\nb.txt\ttab\\there\nline\\nfeed.txt\t\n"},
        {ExportKind::Comma, "a.txt,docs/sub\nb.txt,tab\\there\nline\\nfeed.txt,\n"},
        {ExportKind::FormattedText,
         "NAME            PATH       \n"
         "a.txt           docs/sub   \n"
         "b.txt           tab\\there  \n"
         "line\\nfeed.txt             \n"},
    };
    for (const auto& row : exports) {
        std::string text;
        ASSERT_TRUE(ExportList(rows, on, row.kind, "\n", text, SilentSink()));
        EXPECT_EQ(text, row.expected) << int(row.kind);
    }

    const std::string report = RunTest(zip, 0).text;
    for (const char* line : {"\nTesting: \"docs/sub/a.txt\"    OK", "\nTesting: \"tab\\there/b.txt\"   OK",
                             "\nTesting: \"line\\nfeed.txt\"    OK"})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    EXPECT_EQ(report.find('\t'), std::string::npos) << report;
}

}  // namespace
}  // namespace quorbel
