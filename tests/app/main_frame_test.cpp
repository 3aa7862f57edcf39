// The main window working on real archives: opening, views, status line, commands.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/options/options_interface.h"

#include <QCheckBox>
#include <QToolBar>
#include "app/quorbel_doc.h"
#include "app/recent_files.h"
#include "app/views/archive_list.h"
#include "app/views/quorbel_form_view.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::IsolatedEnvironment;
using test::WriteFile;

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
    }
    void TearDown() override {
        SetLauncher(nullptr);
        SetPrompts(nullptr);
    }
    // An archive made by zip from files with known times.
    std::string MakeZip(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
        for (const auto& [path, content] : files) {
            MakeFolders(FolderOfPath(env_ / path));
            WriteFile(env_ / path, content);
            test::SetMtime(env_ / path, 1600000000);
        }
        std::vector<std::string> argv = {"zip", "-q", "-X", env_ / name};
        for (const auto& f : files) argv.push_back(f.first);
        EXPECT_EQ(test::Run(argv, env_.dir().path()).exit_code, 0);
        return env_ / name;
    }

    IsolatedEnvironment env_;
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
    ScriptedFileChooser files_{{}};
};

TEST_F(MainFrameTest, OpensAnArchiveAndSwitchesViewsWithoutRecreatingTheActiveOne) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("docs.zip", {{"readme.txt", "hello"}, {"sub/data.bin", "0123456789"}});
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Doc().CurrentViewType(), kViewContent);
    EXPECT_EQ(LoadRecentFiles().front(), zip);
    CQuorbelFormView* content = child->View();
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->List()->RowCount(), 2);
    EXPECT_TRUE(frame.StatusLineShown().startsWith("Selected : 0 files (0 Byte), Total : 2,"))
        << frame.StatusLineShown().toStdString();

    frame.ShowViewOfActive(kViewContent);
    EXPECT_EQ(child->View(), content) << "choosing the active view must not recreate it";
    frame.ShowViewOfActive(kViewExplorer);
    EXPECT_EQ(child->Doc().CurrentViewType(), kViewExplorer);
    EXPECT_TRUE(frame.Command("Explorer")->isChecked());
    EXPECT_FALSE(frame.Command("Content")->isChecked());
    frame.ShowViewOfActive(kViewStatistics);
    EXPECT_EQ(child->View()->List(), nullptr);
    frame.ShowViewOfActive(kViewContent);
    EXPECT_EQ(child->View()->List()->RowCount(), 2);
}

TEST_F(MainFrameTest, TestCommandReportsInTheMessageWindow) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("t.zip", {{"one.txt", "1"}, {"two.txt", "22"}});
    CMainFrame frame(prompts_, files_);
    ASSERT_NE(frame.OpenDocumentFile(zip), nullptr);
    frame.TestArchive();
    const std::string report = frame.MessageText().toStdString();
    EXPECT_NE(report.find("Testing: \"one.txt\""), std::string::npos) << report;
    EXPECT_NE(report.find("2 files tested. No errors detected in compressed data of file"),
              std::string::npos) << report;
}

TEST_F(MainFrameTest, EmptyArchiveStatusLineAndUnknownFiles) {
    std::vector<test::ZipMemberInput> none;
    const std::string empty = env_ / "empty.zip";
    WriteFile(empty, test::BuildZip(none));
    CMainFrame frame(prompts_, files_);
    ASSERT_NE(frame.OpenDocumentFile(empty), nullptr);
    EXPECT_EQ(frame.StatusLineShown().toStdString(),
              "Selected : 0 files (0 Byte), Total : 0, Compressed Size : 0 Byte, "
              "Uncompressed Size : 0 Byte");

    // An archive-named file that no handler reads is reported, not handed to the desktop.
    WriteFile(env_ / "broken.zip", "not an archive at all");
    EXPECT_EQ(frame.OpenDocumentFile(env_ / "broken.zip"), nullptr);
    ASSERT_FALSE(prompts_.Asked().empty());
    EXPECT_NE(prompts_.Asked().back().find("broken.zip"), std::string::npos);
    // Any other file goes to its associated program.
    WriteFile(env_ / "notes.odt", "text");
    EXPECT_EQ(frame.OpenDocumentFile(env_ / "notes.odt"), nullptr);
    ASSERT_FALSE(launcher_.calls.empty());
    EXPECT_EQ(launcher_.calls.back(), "open " + env_ / "notes.odt");
}

TEST_F(MainFrameTest, RenameNoteAndDeleteThroughTheCommands) {
    QUORBEL_REQUIRE_TOOL("zip");
    QUORBEL_REQUIRE_TOOL("unzip");
    const std::string zip = MakeZip("edit.zip", {{"a.txt", "aaa"}, {"b.txt", "bbb"}});
    ScriptedFileChooser files({"renamed.txt", "a note"});
    ScriptedPrompts prompts({"yes"});
    SetPrompts(&prompts);
    CMainFrame frame(prompts, files);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    CArchiveList* list = child->View()->List();
    list->setCurrentIndex(list->model()->index(0, 1));
    frame.RenameFile();
    list = child->View()->List();
    list->setCurrentIndex(list->model()->index(0, 1));
    frame.EditNote();
    auto listing = test::Run({"unzip", "-Z", "-z", zip});
    EXPECT_NE(listing.out.find("renamed.txt"), std::string::npos) << listing.out;
    EXPECT_EQ(test::Run({"unzip", "-p", zip, "renamed.txt"}).out, "aaa");
    EXPECT_EQ(child->Doc().Handler()->Entry(0).comment, "a note");

    list = child->View()->List();
    list->SelectAll();
    frame.DeleteFiles();
    EXPECT_EQ(child->Doc().Handler()->FileCount(), 0);
    EXPECT_EQ(child->View()->List()->RowCount(), 0);
}

TEST_F(MainFrameTest, SaveAsCopiesAndTheWindowStaysOnItsArchive) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("orig.zip", {{"x.txt", "xyz"}});
    ScriptedFileChooser files({env_ / "copy.zip"});
    CMainFrame frame(prompts_, files);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    frame.SaveAs();
    EXPECT_EQ(test::ReadFile(env_ / "copy.zip"), test::ReadFile(zip));
    EXPECT_EQ(child->Doc().Handler()->ArchivePath(), zip);
    EXPECT_EQ(frame.Children().size(), 1u);
}

TEST_F(MainFrameTest, CancelledOpenLeavesNoWindow) {
    std::vector<test::ZipMemberInput> members;
    for (int i = 0; i < 3000; ++i) { test::ZipMemberInput m; m.name = "f" + std::to_string(i) + ".txt"; m.data = "x"; members.push_back(m); }
    WriteFile(env_ / "many.zip", test::BuildZip(members));
    CMainFrame frame(prompts_, files_);
    frame.Progress().AbortAfter(3);
    EXPECT_EQ(frame.OpenDocumentFile(env_ / "many.zip"), nullptr);
    EXPECT_TRUE(frame.Children().empty());
    frame.Progress().AbortAfter(-1);
    EXPECT_NE(frame.OpenDocumentFile(env_ / "many.zip"), nullptr);
}

TEST_F(MainFrameTest, SpanningIntoAFolderMakesASplitArchivePeersRead) {
    QUORBEL_REQUIRE_TOOL("7z");
    std::vector<test::ZipMemberInput> members;
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) noise += char((x = x * 1103515245u + 12345u) >> 24);
    for (const char* name : {"a.bin", "b.bin"}) {
        test::ZipMemberInput m;
        m.name = name;
        m.data = noise;
        m.method = 0;
        members.push_back(m);
    }
    WriteFile(env_ / "big.zip", test::BuildZip(members));
    MakeFolders(env_ / "out");
    ScriptedFileChooser files({env_ / "out/set.zip", "70000"});
    CMainFrame frame(prompts_, files);
    ASSERT_NE(frame.OpenDocumentFile(env_ / "big.zip"), nullptr);
    frame.Spanning();
    EXPECT_TRUE(FileExists(env_ / "out/set.z01"));
    EXPECT_TRUE(FileExists(env_ / "out/set.z05"));
    const auto check = test::Run({"7z", "t", env_ / "out/set.zip"});
    EXPECT_EQ(check.exit_code, 0) << check.out;
}

TEST_F(MainFrameTest, OpensTheOtherFormatsTheCoreReads) {
    QUORBEL_REQUIRE_TOOL("tar");
    QUORBEL_REQUIRE_TOOL("gzip");
    QUORBEL_REQUIRE_TOOL("uuencode");
    MakeFolders(env_ / "t/sub");
    WriteFile(env_ / "t/one.txt", "one");
    WriteFile(env_ / "t/sub/two.txt", "two two");
    ASSERT_EQ(test::Run({"tar", "-cf", env_ / "t.tar", "-C", env_ / "t", "."}).exit_code, 0);
    WriteFile(env_ / "note.txt", "a gzip member");
    ASSERT_EQ(test::Run({"gzip", "-k", env_ / "note.txt"}).exit_code, 0);
    const auto uue = test::Run({"uuencode", env_ / "note.txt", "note.txt"});
    WriteFile(env_ / "note.uue", uue.out);
    const struct { const char* file; int rows; } cases[] = {
        {"t.tar", 2}, {"note.txt.gz", 1}, {"note.uue", 1}};
    CMainFrame frame(prompts_, files_);
    for (const auto& c : cases) {
        CChildFrame* child = frame.OpenDocumentFile(env_ / c.file);
        ASSERT_NE(child, nullptr) << c.file;
        EXPECT_EQ(child->View()->List()->RowCount(), c.rows) << c.file;
        frame.TestArchive();
        EXPECT_NE(frame.MessageText().toStdString().find("No errors detected"), std::string::npos)
            << c.file << ": " << frame.MessageText().toStdString();
    }
    EXPECT_EQ(frame.Children().size(), 3u);
}

TEST_F(MainFrameTest, InterfacePageDrivesTheToolbar) {
    CMainFrame frame(prompts_, files_);
    EXPECT_EQ(frame.ToolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    COptionsTvlToolTip page;
    page.Load();
    ASSERT_NE(page.Option("bText"), nullptr);
    EXPECT_TRUE(page.Option("bText")->isChecked());
    EXPECT_TRUE(page.Option("bEnableGradient")->isChecked());
    page.Option("bText")->setChecked(false);
    page.Store();
    EXPECT_EQ(RegistryAccess().ReadInteger(RegistryRoot::CurrentUser,
                                           "Software\\Dorvex\\Tovel\\ToolBar", "bText", 1), 0);
    frame.ApplyInterfaceSettings();
    EXPECT_EQ(frame.ToolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

}  // namespace
}  // namespace quorbel
