#include <gtest/gtest.h>

#include "app/ops/list_export.h"
#include "app/ops/statistics_text.h"
#include "app/ops/test_report.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

class OpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
    }
    test::IsolatedEnvironment env_;
};

TEST_F(OpsTest, TestReportLinesAndSummary) {
    auto bad = Member("dir/bad.txt", "abcdefgh");
    bad.override_crc = true;
    auto secret = Member("s.txt", "secret");
    secret.encrypt_with = "pw";
    std::string path = env_ / "t.zip";
    test::WriteFile(path, test::BuildZip({Member("ok.txt", "fine"), Member("folder/", "", 0), bad, secret,
                                          Member("m.bz2", "x", 12)}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    TestReport report = RunTest(zip, 0);
    EXPECT_EQ(report.tested, 4);
    EXPECT_EQ(report.errors, 2);
    EXPECT_FALSE(report.aborted);
    const std::string expected =
        "Testing file \"t.zip\"... - 01/01/70 00:00:00\n"
        "\nTesting: \"ok.txt\"        OK"
        "\nTesting: \"dir/bad.txt\"   An error occurred while decompressing data. It may result of a corrupted bloc of data."
        "\nTesting: \"s.txt\"         Ignored (need password)"
        "\nTesting: \"m.bz2\"         Unsupported compression method found."
        "\n\n4 files tested.  2 errors detected in compressed data of file \"t.zip\"";
    EXPECT_EQ(report.text, expected);

    SetProgramPassword("pw");
    std::string good = env_ / "g.zip";
    test::WriteFile(good, test::BuildZip({Member("ok.txt", "fine"), secret}));
    ZipArchive g;
    ASSERT_EQ(g.Open(good), kStatusOk);
    report = RunTest(g, 0);
    EXPECT_EQ(report.errors, 0);
    EXPECT_TRUE(report.text.ends_with("\n\n2 files tested. No errors detected in compressed data of file \"g.zip\""));

    SetLanguage(Language::French);
    report = RunTest(g, 0);
    EXPECT_EQ(report.text.find("files tested"), std::string::npos) << report.text;
    EXPECT_NE(report.text.find("g.zip"), std::string::npos);
    SetLanguage(Language::English);
}

TEST_F(OpsTest, TestReportStopsOnAbort) {
    std::vector<test::ZipMemberInput> many;
    for (int i = 0; i < 30; ++i) many.push_back(Member("m" + std::to_string(i), "x"));
    std::string path = env_ / "t.zip";
    test::WriteFile(path, test::BuildZip(many));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    class AbortAfter : public ProgressSink {
    public:
        int SetPos(int64_t p, bool redraw) override {
            if (++calls > 2) RequestCancel();
            return ProgressSink::SetPos(p, redraw);
        }
        int calls = 0;
    } sink;
    zip.SetSink(&sink);
    TestReport report = RunTest(zip, 0);
    EXPECT_TRUE(report.aborted);
    EXPECT_LT(report.tested, 30);
    EXPECT_TRUE(report.text.ends_with("\n\nAborted"));
    zip.SetSink(nullptr);
}

TEST_F(OpsTest, ListExportLayouts) {
    auto a = Member("dir/a,b.txt", std::string(2000, 'a'));
    a.comment = "x,y\tz";
    std::string path = env_ / "t.zip";
    test::WriteFile(path, test::BuildZip({a, Member("long-name.bin", "12345", 0)}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    std::vector<const ArchiveEntry*> rows = {&zip.Entry(0), &zip.Entry(1)};
    ColumnSwitches on{};
    on[1] = on[2] = on[10] = true;
    std::string text;
    ASSERT_TRUE(ExportList(rows, on, ExportKind::FormattedText, "\r\n", text, SilentSink()));
    // The TAB of the note is written as "\t" in every export.
    EXPECT_EQ(text,
              "NAME            SIZE  NOTE    \r\n"
              "a,b.txt        2,000  x,y\\tz  \r\n"
              "long-name.bin      5          \r\n");
    text.clear();
    ExportList(rows, on, ExportKind::Comma, "\r\n", text, SilentSink());
    EXPECT_EQ(text, "a b.txt,2 000,x y\\tz\r\nlong-name.bin,5,\r\n");
    text.clear();
    ExportList(rows, on, ExportKind::Tab, "\r\n", text, SilentSink());
    EXPECT_EQ(text, "a,b.txt\t2,000\tx,y\\tz\r\nlong-name.bin\t5\t\r\n");
    // With every switch off the text exports hold empty lines only.
    text.clear();
    ExportList(rows, ColumnSwitches{}, ExportKind::Comma, "\r\n", text, SilentSink());
    EXPECT_EQ(text, "\r\n\r\n");
    // Written byte for byte.
    ASSERT_EQ(ExportListToFile(env_ / "out.csv", rows, on, ExportKind::Comma, SilentSink()), kStatusOk);
    EXPECT_EQ(test::ReadFile(env_ / "out.csv"), "a b.txt,2 000,x y\\tz\r\nlong-name.bin,5,\r\n");
}

TEST_F(OpsTest, FrenchTitlesAreUpperCasedWholly) {
    SetLanguage(Language::French);
    std::string path = env_ / "t.zip";
    test::WriteFile(path, test::BuildZip({Member("a.txt", "a")}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    ColumnSwitches on{};
    on[4] = true;
    std::string text;
    ExportList({&zip.Entry(0)}, on, ExportKind::FormattedText, "\n", text, SilentSink());
    std::string title = text.substr(0, text.find('\n'));
    EXPECT_EQ(title.find("\xc3\xa9"), std::string::npos) << title;  // no lower-case é left
    SetLanguage(Language::English);
}

TEST_F(OpsTest, ColumnSwitchesDefaultAndStored) {
    ColumnSwitches d = LoadColumnSwitches();
    for (int c = 1; c <= 10; ++c) EXPECT_EQ(d[size_t(c)], c == 1 || c == 2 || c == 4 || c == 5 || c == 6 || c == 9) << c;
    AppRegistry().WriteInteger("Options\\ListPrinting", "7", 1);
    AppRegistry().WriteInteger("Options\\ListPrinting", "1", 0);
    ColumnSwitches s = LoadColumnSwitches();
    EXPECT_TRUE(s[7]);
    EXPECT_FALSE(s[1]);
}

TEST_F(OpsTest, StatisticsTextLayout) {
    std::string path = env_ / "s.zip";
    test::WriteFile(path, test::BuildZip({Member("a.txt", std::string(1536, 'a'), 0)}, "the note"));
    test::SetMtime(path, 0);
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    std::string text = StatisticsText(zip);
    EXPECT_EQ(text.rfind("Name              : s.zip\r\nPath              : " + env_.dir().path() + "\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nModified          : Thursday, January 01, 1970 00:00:00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nUncompressed Size : 1.5 Kb (1,536 bytes)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n# Of Files        : 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nAverage Ratio     : 0%\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\nNote              : the note"));
}

}  // namespace
}  // namespace quorbel
