// Scan, Make and Check from the window, and their groups on the Programs options page: a
// stand-in scanner, the carried self-extractor stub, a check-out into a private home.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <filesystem>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/options/options_programs.h"
#include "app/options/options_scanner.h"
#include "app/quorbel_doc.h"
#include "core/user_prompts.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

class ProgramsCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
    }
    void TearDown() override {
        SetLauncher(nullptr);
        SetPrompts(nullptr);
    }
    std::string MakeZip(const std::string& name) {
        fs::create_directories(env_ / "src/sub");
        test::WriteFile(env_ / "src/a.txt", "alpha");
        test::WriteFile(env_ / "src/sub/b.txt", "beta");
        EXPECT_EQ(test::Run({"zip", "-qr", env_ / name, "."}, env_ / "src").exit_code, 0);
        return env_ / name;
    }

    test::IsolatedEnvironment env_;
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
};

TEST_F(ProgramsCommandsTest, MakeWritesAnExecutableSelfExtractorPeersRead) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("C.zip");
    ScriptedFileChooser files({env_ / "C.run"});
    CMainFrame frame(prompts_, files);
    ASSERT_NE(frame.OpenDocumentFile(zip), nullptr);
    ASSERT_TRUE(frame.Command("Make")->isEnabled());
    frame.MakeSelfExtracting();
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0], "Create .exe");
    const std::string program = env_ / "C.run";
    EXPECT_EQ(test::ReadFile(program).rfind("\x7f" "ELF", 0), 0u);
    struct stat st{};
    ASSERT_EQ(stat(program.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    ASSERT_FALSE(prompts_.Asked().empty());
    EXPECT_NE(prompts_.Asked().back().find("has been correctly created."), std::string::npos);
    const test::CommandResult run = test::Run({program, "-d", env_ / "out"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(test::ReadFile(env_ / "out/sub/b.txt"), "beta");
}

TEST_F(ProgramsCommandsTest, ScanRunsTheConfiguredScannerAndShowsItsOutput) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("s.zip");
    const std::string scanner = env_ / "scanner.sh";
    test::WriteFile(scanner, "#!/bin/sh\nfind \"$1\" -type f | wc -l | tr -d ' '\necho done\n");
    chmod(scanner.c_str(), 0755);
    AppRegistry reg;
    reg.WriteText("Options\\Antivirus", "Path", scanner);
    reg.WriteText("Options\\Antivirus", "Parameters", "%d");
    ScriptedFileChooser files({});
    CMainFrame frame(prompts_, files);
    ASSERT_NE(frame.OpenDocumentFile(zip), nullptr);
    ASSERT_TRUE(frame.Command("Scan")->isEnabled());
    bool asked_with_selection = true;
    frame.SetApplyToChooser([&](bool has_selection) -> std::optional<bool> {
        asked_with_selection = has_selection;
        return false;
    });
    frame.ScanFiles();
    EXPECT_FALSE(asked_with_selection) << "nothing was selected";
    const std::string shown = frame.MessageText().toStdString();
    EXPECT_EQ(shown.rfind("2\ndone\nVirus scanning operation complete.", 0), 0u) << shown;

    // Without a usable scanner the command is not offered.
    reg.WriteText("Options\\Antivirus", "Path", env_ / "missing");
    CMainFrame other(prompts_, files);
    ASSERT_NE(other.OpenDocumentFile(zip), nullptr);
    EXPECT_FALSE(other.Command("Scan")->isEnabled());
}

TEST_F(ProgramsCommandsTest, CheckOutAsksAgainOnNoAndCleansOnlyWhatItWrote) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string zip = MakeZip("Tool.zip");
    const std::string out = env_ / "co";
    fs::create_directories(out);
    test::WriteFile(out + "/mine.txt", "the user's");
    ScriptedPrompts prompts({"no", "yes", "yes"});
    SetPrompts(&prompts);
    ScriptedFileChooser files({});
    CMainFrame frame(prompts, files);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    std::vector<std::pair<std::string, std::string>> shown;
    frame.SetCheckOutChooser([&](const std::string&, const std::string& folder, const std::string& group)
                                 -> std::optional<std::pair<std::string, std::string>> {
        shown.emplace_back(folder, group);
        return std::make_pair(out, std::string("My Tool"));
    });
    frame.CheckOutArchive();
    ASSERT_EQ(shown.size(), 2u) << "No at the existing-folder question shows the dialog again";
    EXPECT_EQ(shown[0], std::make_pair(env_ / "Tool", std::string("Tool")));
    EXPECT_EQ(shown[1], std::make_pair(out, std::string("My Tool")));
    EXPECT_EQ(test::ReadFile(out + "/sub/b.txt"), "beta");
    const std::string group = env_ / "data/applications/dorvex-quorbel-checkout/My Tool";
    EXPECT_TRUE(fs::exists(group + "/b.txt.desktop"));
    ASSERT_EQ(launcher_.calls.size(), 1u);
    EXPECT_NE(launcher_.calls[0].find(group), std::string::npos) << launcher_.calls[0];

    frame.CloseChild(child);
    EXPECT_NE(prompts.Asked().back().find("CheckOu folder \"" + out + "\""), std::string::npos);
    EXPECT_FALSE(fs::exists(group));
    EXPECT_FALSE(fs::exists(out + "/sub"));
    EXPECT_FALSE(fs::exists(out + "/a.txt"));
    EXPECT_EQ(test::ReadFile(out + "/mine.txt"), "the user's");
    SetPrompts(&prompts_);
}

TEST_F(ProgramsCommandsTest, ProgramsPageGroupsLoadStoreRefuseAndReset) {
    AppRegistry reg;
    reg.WriteInteger("Options\\MakeEXE", "Type", 7);
    COptionsPrograms page;
    page.Load();
    CVirusScannerGroup& scanner = *page.Scanner();
    CSelfExtractorGroup& sfx = *page.SelfExtractor();
    EXPECT_TRUE(sfx.Choice(0)->isChecked()) << "an unknown type is the built-in stub";

    scanner.Path()->setText(QString::fromStdString(env_ / "no-such-scanner"));
    QString message;
    EXPECT_FALSE(page.CanStore(message));
    EXPECT_TRUE(message.startsWith("Cannot open file \"")) << message.toStdString();

    scanner.Path()->clear();
    scanner.Known()->setCurrentIndex(0);
    emit scanner.Known()->activated(0);
    EXPECT_EQ(scanner.Parameters()->text(), "-r --no-summary %d");
    if (test::HaveTool("clamscan")) {
        EXPECT_TRUE(scanner.Path()->text().endsWith("/clamscan"));
    }
    scanner.RunMinimized()->setChecked(true);
    sfx.Choice(1)->setChecked(true);
    sfx.BootBlock()->setCurrentText(QString::fromStdString(env_ / "stub.bin"));
    ASSERT_TRUE(page.CanStore(message));
    page.Store();
    EXPECT_EQ(reg.ReadText("Options\\Antivirus", "Parameters"), "-r --no-summary %d");
    EXPECT_TRUE(reg.ReadBool("Options\\Antivirus", "bRunMinimized", false));
    EXPECT_EQ(reg.ReadInteger("Options\\MakeEXE", "Type", -1), 1);
    EXPECT_EQ(reg.ReadText("Options\\MakeEXE", "BootBlock"), env_ / "stub.bin");
    EXPECT_EQ(reg.ReadText("BootBlock", "File0"), env_ / "stub.bin");

    scanner.Reset();
    sfx.Reset();
    EXPECT_TRUE(scanner.Path()->text().isEmpty());
    EXPECT_TRUE(scanner.Parameters()->text().isEmpty());
    EXPECT_FALSE(scanner.RunMinimized()->isChecked());
    EXPECT_TRUE(sfx.Choice(0)->isChecked());
    EXPECT_TRUE(sfx.BootBlock()->currentText().isEmpty());

    // "Select..." starts in the folder stored under "Selectors" and stores the new one back.
    reg.WriteText("Selectors", "Antivirus", "/opt/scanners");
    QString started;
    scanner.SetChooser([&](const QString&, const QString& start) {
        started = start;
        return QString("/usr/local/bin/scan");
    });
    scanner.Select();
    EXPECT_EQ(started, "/opt/scanners");
    EXPECT_EQ(scanner.Path()->text(), "/usr/local/bin/scan");
    EXPECT_EQ(reg.ReadText("Selectors", "Antivirus"), "/usr/local/bin");
}

}  // namespace
}  // namespace quorbel
