// Search, printing and export from the window and the command line: the search view over a
// real archive, a 120-member list printed to PDF and read back with poppler's tools, the four
// exports with their proposed names and how their results are opened, and the "Printing /
// Export" options page.
#include <QApplication>
#include <functional>
#include <QCheckBox>
#include <QComboBox>
#include <QPageLayout>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/list_printer.h"
#include "app/main_frame.h"
#include "app/ops/thumbnails.h"
#include "app/options/options_printing.h"
#include "app/quorbel_doc.h"
#include "app/views/archive_list.h"
#include "app/views/view_pictures.h"
#include "app/views/view_search.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

class SearchPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog*>(w)) delete w;
        SetLauncher(nullptr);
        SetPrompts(nullptr);
    }

    test::IsolatedEnvironment env_;
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
};

TEST_F(SearchPrintTest, SearchViewFindsAndRemembers) {
    auto secret = Member("sub/secret.txt", "hello there");
    secret.encrypt_with = "pw";
    const std::string archive = env_ / "s.zip";
    test::WriteFile(archive, test::BuildZip({Member("readme.txt", "hello world"), Member("sub/a.txt", "Hello"),
                                             Member("sub/b.log", "hello"), Member("subway/c.txt", "hello"),
                                             secret}));
    ScriptedFileChooser files{{env_ / "found.csv"}};
    CMainFrame frame(prompts_, files);
    CChildFrame* child = frame.OpenDocumentFile(archive);
    ASSERT_NE(child, nullptr);
    frame.Command("Search")->trigger();
    auto* view = qobject_cast<CViewSearch*>(child->View());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(frame.Command("Search")->isChecked());
    EXPECT_EQ(view->Tabs()->tabText(0), "All Files");
    EXPECT_EQ(view->Tabs()->count(), 2);
    EXPECT_EQ(view->Tabs()->tabText(1), "Images");
    // The folders of the archive, after the whole archive.
    QStringList paths;
    for (int i = 0; i < view->Path()->count(); ++i) paths << view->Path()->itemText(i);
    EXPECT_EQ(paths, (QStringList{"", "sub", "subway"}));

    EXPECT_FALSE(view->MatchCase()->isEnabled());
    EXPECT_FALSE(view->MatchWords()->isEnabled());
    view->Text()->setCurrentText("hello");
    EXPECT_TRUE(view->MatchCase()->isEnabled());
    EXPECT_FALSE(view->MatchWords()->isEnabled());
    view->Text()->setCurrentText("hello -world");
    EXPECT_TRUE(view->MatchWords()->isEnabled());
    view->MatchWords()->setChecked(true);
    view->Names()->setCurrentText("*.txt");
    view->Path()->setCurrentText("sub");
    view->Start()->click();
    ASSERT_EQ(view->List()->RowCount(), 1);
    EXPECT_EQ(view->List()->TextOf(0, kColName), "a.txt");
    EXPECT_EQ(view->LastResult().not_searched, 1);
    EXPECT_TRUE(view->Summary()->text().contains("1 files could not be searched")) << view->Summary()->text().toStdString();
    EXPECT_TRUE(frame.StatusLineShown().contains("Total : 1,")) << frame.StatusLineShown().toStdString();
    // The commands on the focused file work on what the search found.
    view->List()->setCurrentIndex(view->List()->Model()->index(0, kColName));
    launcher_.calls.clear();
    frame.Command("OpenFile")->trigger();
    ASSERT_EQ(launcher_.calls.size(), 1u);
    EXPECT_NE(launcher_.calls[0].find("a.txt"), std::string::npos) << launcher_.calls[0];

    // Both texts went to the top of their histories and their boxes.
    AppRegistry reg;
    EXPECT_EQ(reg.ReadText(kSearchNamesHistory, "File0", ""), "*.txt");
    EXPECT_EQ(reg.ReadText(kSearchWordsHistory, "File0", ""), "hello -world");
    view->Names()->setCurrentText("*");
    view->Text()->setCurrentText("");
    view->Path()->setCurrentIndex(0);
    view->Start()->click();
    EXPECT_EQ(view->List()->RowCount(), 5);
    EXPECT_EQ(reg.ReadText(kSearchNamesHistory, "File1", ""), "*.txt");
    EXPECT_EQ(view->Names()->findText("*.txt"), 1);

    // The export works on what the search found.
    view->Names()->setCurrentText("*.log");
    view->Start()->click();
    frame.Command("ExportCSV")->trigger();
    EXPECT_EQ(test::ReadFile(env_ / "found.csv").substr(0, 6), "b.log,");
}

std::string MakeListArchive(const std::string& path, int members) {
    std::vector<test::ZipMemberInput> list;
    for (int i = 1; i <= members; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "folder/member-%03d.txt", i);
        list.push_back(Member(name, std::string(size_t(i), 'x')));
    }
    test::WriteFile(path, test::BuildZip(list));
    return path;
}

// The pages of `pdftotext -layout`, split at form feeds.
std::vector<std::string> PdfPages(const std::string& pdf) {
    const test::CommandResult text = test::Run({"pdftotext", "-layout", pdf, "-"});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    std::vector<std::string> pages;
    size_t start = 0;
    for (size_t ff = text.out.find('\f'); ff != std::string::npos; ff = text.out.find('\f', start)) {
        pages.push_back(text.out.substr(start, ff - start));
        start = ff + 1;
    }
    if (start < text.out.size() && text.out.find_first_not_of(" \n", start) != std::string::npos)
        pages.push_back(text.out.substr(start));
    return pages;
}

int PdfPageCount(const std::string& pdf) {
    const test::CommandResult info = test::Run({"pdfinfo", pdf});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    const size_t at = info.out.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + 6);
}

// The "Images" tab shows the thumbnails of the picture members among the results, decoded once
// the tab is looked at.
TEST_F(SearchPrintTest, ImagesTabShowsThePicturesAmongTheResults) {
    // What the program's main installs: thumbnails made by the picture library.
    const auto old_hook = ArchiveHandler::CurrentThumbnailHook();
    InstallThumbnailHook();
    struct Restore {
        ArchiveHandler::ThumbnailHook hook;
        ~Restore() { ArchiveHandler::SetThumbnailHook(hook); }
    } restore{old_hook};
    const std::string pal8 = test::ReadFile(test::TestData("bmp/g_pal8.bmp"));
    const std::string pal4 = test::ReadFile(test::TestData("bmp/g_pal4.bmp"));
    const std::string archive = env_ / "p.zip";
    test::WriteFile(archive, test::BuildZip({Member("pics/one.bmp", pal8), Member("pics/two.bmp", pal4),
                                             Member("other/three.bmp", pal8), Member("pics/notes.txt", "x")}));
    ScriptedFileChooser files{{}};
    CMainFrame frame(prompts_, files);
    CChildFrame* child = frame.OpenDocumentFile(archive);
    ASSERT_NE(child, nullptr);
    frame.Command("Search")->trigger();
    auto* view = qobject_cast<CViewSearch*>(child->View());
    ASSERT_NE(view, nullptr);
    view->Path()->setCurrentText("pics");
    view->Start()->click();
    ASSERT_EQ(view->List()->RowCount(), 3);
    EXPECT_EQ(view->Images()->Model().RowCount(), 0) << "nothing decoded before the tab is shown";
    view->Tabs()->setCurrentIndex(1);
    ASSERT_EQ(view->Images()->Model().RowCount(), 2);
    EXPECT_EQ(view->Images()->Model().EntryAt(0), 0);  // one.bmp, then two.bmp
    EXPECT_TRUE(view->Images()->Model().CaptionAt(0).startsWith("127 x 64 x 8")) << view->Images()->Model().CaptionAt(0).toStdString();
    // A new search while the tab is shown fills it again from the new results.
    view->Names()->setCurrentText("two.*");
    view->Start()->click();
    ASSERT_EQ(view->Images()->Model().RowCount(), 1);
    EXPECT_EQ(view->Images()->Model().EntryAt(0), 1);
}

TEST_F(SearchPrintTest, HundredTwentyMembersPrintedToPdf) {
    QUORBEL_REQUIRE_TOOL("pdfinfo");
    QUORBEL_REQUIRE_TOOL("pdftotext");
    const std::string archive = MakeListArchive(env_ / "many.zip", 120);
    ZipArchive zip;
    ASSERT_EQ(zip.Open(archive), kStatusOk);
    std::vector<const ArchiveEntry*> rows;
    for (const ArchiveEntry& e : zip.Entries()) rows.push_back(&e);

    const std::string pdf = env_ / "list.pdf";
    ListPrinter printer(LoadListPrintLayout(), rows, archive, 0);
    {
        QPdfWriter writer(QString::fromStdString(pdf));
        writer.setResolution(300);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        ASSERT_TRUE(printer.Print(writer, SilentSink()));
    }
    const int pages = printer.PageCount();
    EXPECT_GT(pages, 1);
    EXPECT_EQ(pages, (120 + printer.RowsPerPage() - 1) / printer.RowsPerPage());
    EXPECT_EQ(PdfPageCount(pdf), pages);
    const std::vector<std::string> texts = PdfPages(pdf);
    ASSERT_EQ(int(texts.size()), pages);
    for (int k = 1; k <= pages; ++k) {
        const std::string& page = texts[size_t(k - 1)];
        const std::string footer = "Page : " + std::to_string(k) + " / " + std::to_string(pages);
        EXPECT_NE(page.find(footer), std::string::npos) << k << "\n" << page;
        EXPECT_NE(page.find("File : " + archive), std::string::npos) << k;
        EXPECT_EQ(page.find("&&["), std::string::npos) << k;
        EXPECT_NE(page.find("Name"), std::string::npos) << k;
    }
    EXPECT_NE(texts.back().find("member-120.txt"), std::string::npos);
    EXPECT_EQ(texts.front().find("member-120.txt"), std::string::npos);
    EXPECT_NE(texts.front().find("member-001.txt"), std::string::npos);

    // The command line prints through the same routine onto the same paper.
    const std::string cli_pdf = env_ / "cli.pdf";
    const test::CommandResult run = test::Run({QUORBEL_CLI_PATH, "print", archive, "--pdf", cli_pdf});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string expected = "Page : " + std::to_string(pages) + " / " + std::to_string(pages) + "\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(PdfPageCount(cli_pdf), pages);
    EXPECT_NE(PdfPages(cli_pdf).back().find("member-120.txt"), std::string::npos);

    // Without header and footer more rows fit on a page.
    ListPrintLayout bare = LoadListPrintLayout();
    bare.header.enabled = bare.footer.enabled = false;
    ListPrinter plain(bare, rows, archive, 0);
    QPdfWriter writer(QString::fromStdString(env_ / "bare.pdf"));
    writer.setResolution(300);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    plain.Measure(writer, SilentSink());
    EXPECT_GT(plain.RowsPerPage(), printer.RowsPerPage());
}

// Answers the window's modal dialogs as they come: `answer` sees each one and closes it.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) answer_(modal);
        });
        timer_.start(20);
    }

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};

TEST_F(SearchPrintTest, PrintPreviewAndPageSetupFromTheWindow) {
    QUORBEL_REQUIRE_TOOL("pdfinfo");
    const std::string archive = MakeListArchive(env_ / "many.zip", 120);
    ScriptedFileChooser files{{}};
    CMainFrame frame(prompts_, files);
    ASSERT_NE(frame.OpenDocumentFile(archive), nullptr);
    std::vector<const ArchiveEntry*> rows;
    for (const ArchiveEntry& e : frame.ActiveChild()->Doc().Handler()->Entries()) rows.push_back(&e);

    for (auto orientation : {QPageLayout::Portrait, QPageLayout::Landscape}) {
        frame.Printer().setPageOrientation(orientation);
        ListPrinter expected(LoadListPrintLayout(), rows, archive, 0);
        expected.Measure(frame.Printer(), SilentSink());
        int shown = -1;
        {
            DialogAnswerer answer([&](QWidget* dialog) {
                auto* preview = dialog->findChild<QPrintPreviewWidget*>();
                if (preview && preview->pageCount() > 0) {
                    shown = preview->pageCount();
                    dialog->close();
                }
            });
            frame.Command("PrintPreview")->trigger();
        }
        EXPECT_EQ(shown, expected.PageCount()) << int(orientation);
        EXPECT_GT(shown, 1);
    }

    // Page Setup (here the PDF printer's own: no print system on this machine) keeps its choice
    // for the next print; Print paints the same pages.
    frame.Printer().setPageOrientation(QPageLayout::Portrait);
    {
        DialogAnswerer answer([](QWidget* dialog) {
            if (auto* paper = dialog->findChild<QComboBox*>("Paper")) {
                paper->setCurrentIndex(paper->findText("A5"));
                dialog->findChild<QComboBox*>("Orientation")->setCurrentIndex(1);
            }
            if (auto* d = qobject_cast<QDialog*>(dialog)) d->accept();
        });
        frame.Command("PageSetup")->trigger();
    }
    if (frame.Printer().outputFormat() == QPrinter::PdfFormat) {
        EXPECT_EQ(frame.Printer().pageLayout().pageSize().id(), QPageSize::A5);
        EXPECT_EQ(frame.Printer().pageLayout().orientation(), QPageLayout::Landscape);
    }
    {
        DialogAnswerer accept([](QWidget* dialog) {
            if (auto* d = qobject_cast<QDialog*>(dialog)) d->accept();
        });
        frame.Printer().setOutputFormat(QPrinter::PdfFormat);
        frame.Printer().setOutputFileName(QString::fromStdString(env_ / "printed.pdf"));
        frame.Command("Print")->trigger();
    }
    ListPrinter expected(LoadListPrintLayout(), rows, archive, 0);
    expected.Measure(frame.Printer(), SilentSink());
    EXPECT_EQ(PdfPageCount(env_ / "printed.pdf"), expected.PageCount());
}

TEST_F(SearchPrintTest, ExportsProposeNamesAndOpenTheirResults) {
    auto noted = Member("a&b<c>.txt", "x");
    noted.comment = "one,\r\ntwo";
    const std::string archive = env_ / "ex.zip";
    test::WriteFile(archive, test::BuildZip({noted, Member("plain.txt", "y")}));
    AppRegistry().WriteBool(kListPrintingKey, "10", true);  // the note is exported too
    const struct {
        const char* command;
        const char* proposed;
        const char* file;
    } kinds[] = {
        {"ExportHTML", "ex.HTM", "out.htm"},
        {"ExportCSV", "ex.CSV", "out.csv"},
        {"ExportTab", "ex.TXT", "out-tab.txt"},
        {"ExportText", "ex.TXT", "out.txt"},
    };
    for (const auto& k : kinds) {
        ScriptedFileChooser files{{env_ / k.file}};
        CMainFrame frame(prompts_, files);
        ASSERT_NE(frame.OpenDocumentFile(archive), nullptr);
        launcher_.calls.clear();
        frame.Command(k.command)->trigger();
        ASSERT_EQ(files.started.size(), 1u);
        EXPECT_EQ(files.started[0], env_ / k.proposed) << k.command;
        EXPECT_EQ(files.asked[0], "Export");
        const std::string text = test::ReadFile(env_ / k.file);
        if (std::string(k.command) == "ExportHTML") {
            EXPECT_TRUE(launcher_.calls.empty());
            EXPECT_NE(text.find("charset=utf-8"), std::string::npos);
            EXPECT_NE(text.find("a&amp;b&lt;c&gt;.txt"), std::string::npos);
            QTextBrowser* browser = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->windowTitle() == "Quorbel HTML Viewer - out.htm") browser = w->findChild<QTextBrowser*>();
            ASSERT_NE(browser, nullptr);
            EXPECT_TRUE(browser->toPlainText().contains("a&b<c>.txt"));
            EXPECT_TRUE(browser->toPlainText().contains("one,\ntwo"));
        } else {
            ASSERT_EQ(launcher_.calls.size(), 1u) << k.command;
            EXPECT_NE(launcher_.calls[0].find(env_ / k.file), std::string::npos) << launcher_.calls[0];
            // Title line (formatted text only) and one line per member, the note's line break
            // kept inside its row.
            size_t lines = 0;
            for (char c : text) lines += c == '\n';
            EXPECT_EQ(lines, std::string(k.command) == "ExportText" ? 3u : 2u) << text;
            EXPECT_NE(text.find("\\r\\ntwo"), std::string::npos) << text;
        }
    }
}

TEST_F(SearchPrintTest, PrintingOptionsPageStoresFontsColoursAndResets) {
    COptionsPrinting page;
    page.Load();
    page.choose_color = [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(3, 2, 1)); };
    page.choose_font = [](const QFont&, QWidget*) {
        QFont f("DejaVu Sans");
        f.setPointSizeF(12);
        f.setBold(true);
        return std::optional<QFont>(f);
    };
    page.Button("TextBackgroundColor1")->click();
    page.Button("TextFont")->click();
    page.Margin(0)->setValue(9);
    page.Template(false, 2)->setText("&&[Pages]");
    page.Column(7)->setChecked(true);
    page.Store();
    AppRegistry reg;
    EXPECT_EQ(reg.ReadInteger(kListPrintingKey, "TextBackgroundColor1", -1), 0x010203);
    EXPECT_EQ(reg.ReadInteger(kListPrintingKey, "TextFont_lfHeight", -1), 16);  // 12 pt at 96 dpi
    EXPECT_EQ(reg.ReadInteger(kListPrintingKey, "TextFont_lfWeight", -1), 700);
    EXPECT_EQ(reg.ReadText(kListPrintingKey, "TextFont_lfPitchAndFamily", ""), "DejaVu Sans");
    EXPECT_EQ(reg.ReadInteger(kListPrintingKey, "Margin_Left", -1), 9);
    EXPECT_EQ(reg.ReadText(kListPrintingKey, "Footer_RightText", ""), "&&[Pages]");
    EXPECT_EQ(reg.ReadInteger(kListPrintingKey, "7", -1), 1);
    EXPECT_EQ(FontOf(LoadListPrintLayout().text_font).pointSizeF(), 12.0);

    // The on-screen list alternates the stored backgrounds.
    const std::string archive = env_ / "rows.zip";
    test::WriteFile(archive, test::BuildZip({Member("a", "1"), Member("b", "2"), Member("c", "3")}));
    ScriptedFileChooser files{{}};
    CMainFrame frame(prompts_, files);
    CChildFrame* child = frame.OpenDocumentFile(archive);
    ASSERT_NE(child, nullptr);
    ArchiveListModel* model = child->View()->List()->Model();
    EXPECT_EQ(model->data(model->index(0, 1), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));
    EXPECT_EQ(model->data(model->index(1, 1), Qt::BackgroundRole).value<QColor>(), QColor(3, 2, 1));
    EXPECT_EQ(model->data(model->index(2, 1), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));

    page.ResetButton()->click();
    EXPECT_EQ(page.Margin(0)->value(), 1);
    EXPECT_FALSE(page.Column(7)->isChecked());
    page.Store();
    EXPECT_EQ(LoadListPrintLayout(), ResetListPrintLayout());
    child->View()->List()->ReloadRowColors();
    EXPECT_EQ(model->data(model->index(1, 1), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 240));
}

}  // namespace
}  // namespace quorbel
