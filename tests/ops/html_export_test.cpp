// The HTML page writer and the list exports: a golden page, escaping read back by a real HTML
// parser, the column shares, rows that stay rows, and the stored print layout.
#include <gtest/gtest.h>

#include "app/ops/html_page.h"
#include "app/ops/list_export.h"
#include "app/ops/list_layout.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(HtmlPage, GoldenFrameTableCellAndRun) {
    html::Page page;
    page.title = "a</TITLE><SCRIPT>x & \"y\"";
    page.bgcolor = 0xFFFFFF;
    page.link = 0x0000FF;
    page.AddHeadItem(std::make_unique<html::MetaItem>(html::MetaItem::kName, "generator", "Q<\">"));
    auto table = std::make_unique<html::Table>();
    table->align = html::kCenter;
    table->border = 1;
    table->width = {100, true};
    table->bgcolor = 0x030201;
    html::Row& row = table->AddRow();
    html::Cell& plain = row.AddCell();
    plain.AddRun("R&D");
    html::Cell& cell = row.AddCell();
    cell.align = html::kRight;
    cell.width = {40, true};
    cell.height = {12, false};
    cell.no_wrap = true;
    cell.bgcolor = 0x0000FF;
    html::TextRun& run = cell.AddRun("x\r\ny\nz");
    run.face = "Arial\" onload=\"bad";
    run.color = 0xF0FFFF;
    run.bold = run.underline = true;
    table->AddRow();  // a row without cells writes nothing
    page.AddBodyElement(std::move(table));
    auto link = std::make_unique<html::Link>("http://h/?a=1&b=\"2\"");
    link->AddElement(std::make_unique<html::TextRun>("go"));
    page.AddBodyElement(std::move(link));

    const std::string expected =
        "<HTML>\r\n\r\n<HEAD>\r\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=utf-8\">\r\n"
        "<TITLE>a&lt;/TITLE&gt;&lt;SCRIPT&gt;x &amp; &quot;y&quot;</TITLE>\r\n"
        "<META NAME=\"generator\" CONTENT=\"Q&lt;&quot;&gt;\">\r\n"
        "</HEAD>\r\n\r\n"
        "<BODY BGCOLOR=\"#FFFFFF\" LINK=\"#FF0000\">"
        "<DIV ALIGN=\"CENTER\"><CENTER>\r\n"
        "<TABLE BORDER=\"1\" WIDTH=\"100%\" ALIGN=\"CENTER\" BGCOLOR=\"#010203\">\r\n"
        "<TR>\r\n<TD>R&amp;D</TD>\r\n"
        "\r\n<TD ALIGN=\"RIGHT\" WIDTH=\"40%\" HEIGHT=\"12\" NOWRAP BGCOLOR=\"#FF0000\">"
        "<FONT  COLOR=\"#FFFFF0\" FACE=\"Arial&quot; onload=&quot;bad\"><B><U>x<BR>y<BR>z</B></U></FONT></TD>\r\n"
        "</TR>\r\n"
        "</TABLE>\r\n</CENTER></DIV>"
        "<A HREF=\"http://h/?a=1&amp;b=&quot;2&quot;\">go</A>"
        "\r\n</BODY>\r\n\r\n</HTML>";
    EXPECT_EQ(page.RenderPage(SilentSink(), true), expected);
    // Without the frame only the body elements.
    EXPECT_EQ(page.RenderPage(SilentSink(), false).substr(0, 5), "<DIV ");
    EXPECT_EQ(html::ColorValue(0x000000FF), "#FF0000");
    EXPECT_EQ(html::ColorValue(0x00010203), "#030201");
    // Whole UTF-8 characters pass; only what HTML needs is escaped.
    EXPECT_EQ(html::EncodeText("\xe8\xaa\x9e \xc3\xa8<&>"), "\xe8\xaa\x9e \xc3\xa8&lt;&amp;&gt;");
    EXPECT_EQ(html::TextRun("plain").Render(), "plain");
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override { SetLanguage(Language::English); }
    test::IsolatedEnvironment env_;
};

// The texts of every table cell as python's html.parser reads them, one line per row, cells
// separated by TAB.
constexpr const char* kReadCells = R"(
import sys
from html.parser import HTMLParser
class P(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.cell, self.title, self.where = [], None, "", None
    def handle_starttag(self, tag, attrs):
        if tag == "tr": self.rows.append([])
        if tag == "td": self.cell = ""
        if tag == "br" and self.cell is not None: self.cell += "\n"
        if tag == "title": self.where = "title"
    def handle_endtag(self, tag):
        if tag == "td": self.rows[-1].append(self.cell); self.cell = None
        if tag == "title": self.where = None
    def handle_data(self, data):
        if self.cell is not None: self.cell += data
        if self.where == "title": self.title += data
p = P()
p.feed(open(sys.argv[1], encoding="utf-8").read())
out = [p.title] + ["\t".join(r) for r in p.rows]
sys.stdout.buffer.write("\n".join(out).encode("utf-8"))
)";

TEST_F(ExportTest, HtmlNamesParseBackExactly) {
    QUORBEL_REQUIRE_TOOL("python3");
    const std::vector<std::string> names = {"a&b<c>\"d\".txt", "\xe8\xaa\x9e\xe8\xa8\x80.txt",
                                            "\xc3\xa8t\xc3\xa9.txt", "x&amp;y.txt"};
    std::vector<test::ZipMemberInput> members;
    for (const std::string& n : names) {
        auto m = Member(n, "data");
        m.flags = 0x800;  // UTF-8 name
        members.push_back(m);
    }
    members[0].comment = "line one,\r\nline two";
    const std::string archive = env_ / "names.zip";
    test::WriteFile(archive, test::BuildZip(members));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(archive), kStatusOk);
    std::vector<const ArchiveEntry*> rows;
    for (size_t i = 0; i < zip.EntryCount(); ++i) rows.push_back(&zip.Entry(i));
    ColumnSwitches on{};
    on[1] = on[10] = true;
    HtmlExportInfo info;
    info.title = "a</TITLE><SCRIPT>alert(1)</SCRIPT>.zip";
    const std::string out = env_ / "list.htm";
    ASSERT_EQ(ExportListToFile(out, rows, on, ExportKind::Html, SilentSink(), &info), kStatusOk);
    const std::string page = test::ReadFile(out);
    EXPECT_EQ(page.find("<SCRIPT>"), std::string::npos);
    const auto parsed = test::Run({"python3", "-c", kReadCells, out});
    ASSERT_EQ(parsed.exit_code, 0) << parsed.err;
    std::string expected = info.title + "\nName\tNote";
    for (size_t i = 0; i < names.size(); ++i)
        expected += "\n" + names[i] + "\t" + (i == 0 ? "line one,\nline two" : "");
    EXPECT_EQ(parsed.out, expected);
}

TEST_F(ExportTest, HtmlColumnSharesAndColours) {
    test::WriteFile(env_ / "t.zip", test::BuildZip({Member("a", "1"), Member("b", "2"), Member("c", "3")}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(env_ / "t.zip"), kStatusOk);
    std::vector<const ArchiveEntry*> rows = {&zip.Entry(0), &zip.Entry(1), &zip.Entry(2)};
    ColumnSwitches on{};
    on[1] = on[2] = on[9] = true;
    ListPrintLayout layout = ResetListPrintLayout();
    const struct {
        std::vector<int> widths;
        const char* shares;
    } cases[] = {
        {{}, "33 33 33"},                                       // no list on screen
        {{20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "33 33 33"},       // every shown column zero wide
        {{5, 100, 100, 7, 0, 0, 0, 0, 0, 200, 0}, "25 25 50"},  // shares of the shown columns
        {{0, 0, 60}, "0 100 0"},                                // missing widths count as zero
    };
    for (const auto& c : cases) {
        HtmlExportInfo info;
        info.widths = c.widths;
        info.layout = &layout;
        std::string text;
        ASSERT_TRUE(ExportList(rows, on, ExportKind::Html, "\n", text, SilentSink(), &info));
        std::string shares;
        // The cells' widths, after the table's own.
        for (size_t at = text.find(" WIDTH=\"", text.find("<TR>")); at != std::string::npos;
             at = text.find(" WIDTH=\"", at + 1)) {
            const size_t end = text.find('%', at);
            shares += (shares.empty() ? "" : " ") + text.substr(at + 8, end - at - 8);
        }
        EXPECT_EQ(shares, c.shares);
    }
    // Title row in the column-title colours, rows alternating between the two backgrounds.
    std::string text;
    HtmlExportInfo info;
    info.layout = &layout;
    ExportList(rows, on, ExportKind::Html, "\n", text, SilentSink(), &info);
    EXPECT_EQ(Count(text, "BGCOLOR=\"#000000\""), 3u);
    EXPECT_EQ(Count(text, "BGCOLOR=\"#FFFFFF\""), 6u);
    EXPECT_EQ(Count(text, "BGCOLOR=\"#FFFFF0\""), 3u);
    EXPECT_EQ(Count(text, "<B>Name</B>"), 1u);
}

TEST_F(ExportTest, ACommentWithCrLfAndCommaStaysOneRowInEveryFormat) {
    auto noted = Member("noted.txt", "x");
    noted.comment = "first, part\r\nsecond\rthird\nfourth";
    test::WriteFile(env_ / "n.zip", test::BuildZip({Member("before.txt", "b"), noted, Member("after.txt", "a")}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(env_ / "n.zip"), kStatusOk);
    std::vector<const ArchiveEntry*> rows = {&zip.Entry(0), &zip.Entry(1), &zip.Entry(2)};
    ColumnSwitches on{};
    on[1] = on[10] = true;
    const struct {
        ExportKind kind;
        const char* line;  // what the noted member's row reads
        size_t lines;
    } kinds[] = {
        {ExportKind::FormattedText, "noted.txt   first, part\\r\\nsecond\\rthird\\nfourth  ", 4},
        {ExportKind::Comma, "noted.txt,first  part\\r\\nsecond\\rthird\\nfourth", 3},
        {ExportKind::Tab, "noted.txt\tfirst, part\\r\\nsecond\\rthird\\nfourth", 3},
    };
    for (const auto& k : kinds) {
        std::string text;
        ASSERT_TRUE(ExportList(rows, on, k.kind, "\r\n", text, SilentSink()));
        EXPECT_EQ(Count(text, "\r\n"), k.lines) << text;
        EXPECT_EQ(Count(text, "\n"), k.lines) << text;
        EXPECT_EQ(Count(text, "\r"), k.lines) << text;
        EXPECT_NE(text.find(std::string("\r\n") + k.line + "\r\n"), std::string::npos) << text;
    }
    std::string page;
    ASSERT_TRUE(ExportList(rows, on, ExportKind::Html, "\r\n", page, SilentSink()));
    EXPECT_EQ(Count(page, "<TR>"), 4u);
    EXPECT_NE(page.find(">first, part<BR>second\rthird<BR>fourth<"), std::string::npos) << page;
}

TEST_F(ExportTest, ProposedNames) {
    EXPECT_EQ(ProposedExportName("/a/b.zip", ExportKind::Html), "/a/b.HTM");
    EXPECT_EQ(ProposedExportName("/a/b.tar.gz", ExportKind::Comma), "/a/b.tar.CSV");
    EXPECT_EQ(ProposedExportName("/a.d/b", ExportKind::Tab), "/a.d/b.TXT");
    EXPECT_EQ(ProposedExportName("/a/.hidden", ExportKind::FormattedText), "/a/.hidden.TXT");
}

TEST_F(ExportTest, PrintLayoutDefaultsStoreAndTemplates) {
    const ListPrintLayout d = LoadListPrintLayout();
    EXPECT_EQ(d, ResetListPrintLayout());
    EXPECT_EQ(d.header.left, "File : &&[File] - &&[Date] &&[Hour]");
    EXPECT_EQ(d.footer.center, "Page : &&[Page] / &&[Pages]");
    EXPECT_EQ(d.text_background_color[1], 15794175u);
    EXPECT_EQ(d.tab_header_font.weight, 700);
    EXPECT_EQ(d.header.font.height, 12);
    EXPECT_EQ(d.text_font.face, "Arial");

    ListPrintLayout changed = d;
    changed.margin_left = 7;
    changed.footer.enabled = false;
    changed.header.right = "&&[Page]";
    changed.text_font.face = "DejaVu Sans";
    changed.text_font.italic = 1;
    changed.tab_header_text_color = 0x123456;
    changed.columns[3] = true;
    StoreListPrintLayout(changed);
    ListPrintLayout back = LoadListPrintLayout();
    back.text_font.pitch_and_family = changed.text_font.pitch_and_family;  // shares the face's value
    EXPECT_EQ(back, changed);
    EXPECT_EQ(AppRegistry().ReadText(kListPrintingKey, "TextFont_lfPitchAndFamily", ""), "DejaVu Sans");

    // A face stored where the pitch-and-family lives: that face, pitch-and-family 0.
    AppRegistry().WriteText(kListPrintingKey, "TabHeaderFont_lfPitchAndFamily", "Courier New");
    back = LoadListPrintLayout();
    EXPECT_EQ(back.tab_header_font.face, "Courier New");
    EXPECT_EQ(back.tab_header_font.pitch_and_family, 0);

    EXPECT_EQ(FillTemplate("&&[Page]/&&[Pages] &&[Page]", "f.zip", 0, 3, 9), "3/9 3");
    EXPECT_EQ(FillTemplate("&&[File]", "&&[Page].zip", 0, 3, 9), "&&[Page].zip");
    EXPECT_EQ(FillTemplate("plain", "f", 0, 1, 1), "plain");
}

}  // namespace
}  // namespace quorbel
