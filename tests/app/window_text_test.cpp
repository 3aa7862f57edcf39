// The main window as a person reads it: its title, the status bar under a command's tip, member
// paths with '/', reports in a fixed-pitch font, and icons on the toolbar and the windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>

#include "app/app_icons.h"
#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/quorbel_doc.h"
#include "app/views/archive_list.h"
#include "app/views/quorbel_form_view.h"
#include "core/messages.h"
#include "core/user_prompts.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

class WindowTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
    }
    void TearDown() override {
        SetLauncher(nullptr);
        SetPrompts(nullptr);
    }
    std::string MakeZip(const std::string& name, const std::vector<test::ZipMemberInput>& members) {
        const std::string path = env_ / name;
        test::WriteFile(path, test::BuildZip(members));
        return path;
    }
    static QMdiSubWindow* SubOf(CChildFrame* child) {
        return qobject_cast<QMdiSubWindow*>(child->parentWidget());
    }

    test::IsolatedEnvironment env_;
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
};

TEST_F(WindowTextTest, TitleNamesTheActiveArchiveOnce) {
    const std::string a = MakeZip("a.zip", {Member("one.txt", "1")});
    const std::string b = MakeZip("b.zip", {Member("two.txt", "2")});
    ScriptedFileChooser files({});
    CMainFrame frame(prompts_, files);
    frame.show();
    EXPECT_EQ(frame.windowTitle(), "Quorbel");
    CChildFrame* first = nullptr;
    CChildFrame* second = nullptr;
    QMdiArea* area = frame.findChild<QMdiArea*>();
    ASSERT_NE(area, nullptr);
    const QString title_a = "Quorbel - [" + QString::fromStdString(a) + "]";
    const QString title_b = "Quorbel - [" + QString::fromStdString(b) + "]";
    const struct {
        const char* step;
        std::function<void()> act;
        QString title;
    } steps[] = {
        {"open a maximised", [&] { first = frame.OpenDocumentFile(a); }, title_a},
        {"open b maximised", [&] { second = frame.OpenDocumentFile(b); }, title_b},
        {"activate a", [&] { area->setActiveSubWindow(SubOf(first)); }, title_a},
        {"restore a", [&] { SubOf(first)->showNormal(); }, title_a},
        {"tile", [&] { area->tileSubWindows(); }, title_a},
        {"maximise b", [&] { SubOf(second)->showMaximized(); area->setActiveSubWindow(SubOf(second)); }, title_b},
        {"close b", [&] { frame.CloseChild(second); }, title_a},
        {"close a", [&] { frame.CloseChild(first); }, "Quorbel"},
    };
    for (const auto& s : steps) {
        s.act();
        QApplication::processEvents();
        EXPECT_EQ(frame.windowTitle().toStdString(), s.title.toStdString()) << s.step;
        EXPECT_FALSE(frame.windowTitle().contains("[]")) << s.step;
    }
    ASSERT_NE(first, nullptr);
}

TEST_F(WindowTextTest, CommandTipTakesTheStatusLinesPlaceAndGivesItBack) {
    const std::string a = MakeZip("a.zip", {Member("one.txt", "12345"), Member("two.txt", "67")});
    ScriptedFileChooser files({});
    CMainFrame frame(prompts_, files);
    frame.show();
    CChildFrame* child = frame.OpenDocumentFile(a);
    ASSERT_NE(child, nullptr);
    const QString line = frame.StatusLineShown();
    ASSERT_TRUE(line.startsWith("Selected : 0 files (0 Byte), Total : 2,")) << line.toStdString();
    EXPECT_EQ(frame.StatusBarShown(), line);

    // Whatever is on the status bar's left: the visible labels, and a message painted there.
    auto shown_texts = [&] {
        QStringList texts;
        for (QLabel* label : frame.statusBar()->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty()) texts << label->text();
        if (!frame.statusBar()->currentMessage().isEmpty()) texts << frame.statusBar()->currentMessage();
        return texts;
    };
    QToolBar* toolbar = frame.ToolBar();
    int hovered = 0;
    for (QAction* action : toolbar->actions()) {
        QWidget* button = toolbar->widgetForAction(action);
        if (action->isSeparator() || !button) continue;
        action->showStatusText(button);  // what a hover over the button does
        EXPECT_EQ(shown_texts(), QStringList{action->statusTip()}) << action->objectName().toStdString();
        // The status bar paints no message of its own over (or beside) the line.
        EXPECT_EQ(frame.statusBar()->currentMessage(), "") << action->objectName().toStdString();
        QStatusTipEvent leave{QString()};
        QApplication::sendEvent(button, &leave);
        EXPECT_EQ(shown_texts(), QStringList{line}) << action->objectName().toStdString();
        ++hovered;
    }
    EXPECT_GE(hovered, 7);

    // The selection changes under a tip: the tip stays, and the new line comes back after it.
    QAction* open = frame.Command("Open");
    open->showStatusText(toolbar->widgetForAction(open));
    frame.SelectAll();
    QApplication::processEvents();
    EXPECT_EQ(frame.StatusBarShown(), open->statusTip());
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(&frame, &leave);
    EXPECT_TRUE(frame.StatusBarShown().startsWith("Selected : 2 files (7.0 Bytes), Total : 2,"))
        << frame.StatusBarShown().toStdString();
    EXPECT_EQ(frame.StatusBarShown(), frame.StatusLineShown());
}

TEST_F(WindowTextTest, MemberPathsAreShownAndTypedWithSlashes) {
    const std::string a = MakeZip("paths.zip", {Member("docs/sub/guide.md", "guide"), Member("top.txt", "t")});
    // Change path is answered with '/' (a trailing one too); the archive stores '\'.
    ScriptedFileChooser files({"moved/deeper/", "renamed.md"});
    CMainFrame frame(prompts_, files);
    CChildFrame* child = frame.OpenDocumentFile(a);
    ASSERT_NE(child, nullptr);
    ArchiveHandler* handler = child->Doc().Handler();
    CArchiveList* list = child->View()->List();
    auto row_of = [&](const std::string& stored) {
        const int index = handler->FindEntry(stored);
        for (int row = 0; row < list->RowCount(); ++row)
            if (list->Model()->EntryAt(row) == index) return row;
        return -1;
    };
    const int guide = row_of("docs\\sub\\guide.md");
    ASSERT_GE(guide, 0);
    EXPECT_EQ(list->TextOf(guide, kColPath), "docs/sub");
    EXPECT_EQ(list->TextOf(row_of("top.txt"), kColPath), "");

    list->setCurrentIndex(list->model()->index(guide, 1));
    frame.ChangePath();
    ASSERT_EQ(files.proposed.size(), 1u);
    EXPECT_EQ(files.proposed[0], "docs/sub");
    handler = child->Doc().Handler();
    ASSERT_GE(handler->FindEntry("moved\\deeper\\guide.md"), 0);

    list = child->View()->List();
    const int moved = row_of("moved\\deeper\\guide.md");
    ASSERT_GE(moved, 0);
    EXPECT_EQ(list->TextOf(moved, kColPath), "moved/deeper");
    list->setCurrentIndex(list->model()->index(moved, 1));
    frame.RenameFile();
    handler = child->Doc().Handler();
    EXPECT_GE(handler->FindEntry("moved\\deeper\\renamed.md"), 0);

    // The test report names members with '/' too.
    frame.TestArchive();
    EXPECT_TRUE(frame.MessageText().contains("Testing: \"moved/deeper/renamed.md\"")) << frame.MessageText().toStdString();
    EXPECT_FALSE(frame.MessageText().contains('\\')) << frame.MessageText().toStdString();
}

TEST_F(WindowTextTest, ReportsUseTheFixedPitchFont) {
    const std::string a = MakeZip("r.zip", {Member("a.txt", "a"), Member("a-much-longer-name.txt", "b")});
    ScriptedFileChooser files({});
    CMainFrame frame(prompts_, files);
    ASSERT_NE(frame.OpenDocumentFile(a), nullptr);
    frame.TestArchive();
    auto* dock = frame.findChild<QDockWidget*>("Messages");
    ASSERT_NE(dock, nullptr);
    auto* messages = qobject_cast<QPlainTextEdit*>(dock->widget());
    ASSERT_NE(messages, nullptr);
    EXPECT_EQ(messages->font(), QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Both status texts start in the same column, in pixels too.
    const QFontMetrics metrics(messages->font());
    EXPECT_EQ(metrics.horizontalAdvance("i"), metrics.horizontalAdvance("W"))
        << QFontInfo(messages->font()).family().toStdString();
}

TEST_F(WindowTextTest, ToolbarAndWindowsCarryIcons) {
    // A theme without our names: every toolbar icon is then one we carry.
    struct ThemeGuard {
        QString theme = QIcon::themeName();
        ~ThemeGuard() { QIcon::setThemeName(theme); }
    } guard;
    QIcon::setThemeName("quorbel-test-no-such-theme");
    ScriptedFileChooser files({});
    CMainFrame frame(prompts_, files);
    int with_icon = 0;
    for (QAction* action : frame.ToolBar()->actions()) {
        if (action->isSeparator()) continue;
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
        EXPECT_FALSE(action->icon().pixmap(22, 22).isNull()) << action->objectName().toStdString();
        ++with_icon;
    }
    EXPECT_EQ(with_icon, 12);  // seven commands and five views
    QTreeWidget* tree = frame.NavigationTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        EXPECT_FALSE(tree->topLevelItem(i)->icon(0).isNull()) << tree->topLevelItem(i)->text(0).toStdString();

    const QList<QSize> sizes = frame.windowIcon().availableSizes();
    for (int n : {16, 32, 48, 256}) EXPECT_TRUE(sizes.contains(QSize(n, n))) << n;
    const QImage big = frame.windowIcon().pixmap(256, 256).toImage();
    ASSERT_FALSE(big.isNull());
    EXPECT_EQ(big.pixelColor(0, 0).alpha(), 0) << "the corners stay transparent";
    EXPECT_EQ(big.pixelColor(128, 128).alpha(), 255);

    const std::string a = MakeZip("i.zip", {Member("a.txt", "a")});
    CChildFrame* child = frame.OpenDocumentFile(a);
    ASSERT_NE(child, nullptr);
    EXPECT_FALSE(child->parentWidget()->windowIcon().isNull());
    EXPECT_TRUE(BundledIcon("no-such-icon").isNull());
}

}  // namespace
}  // namespace quorbel
