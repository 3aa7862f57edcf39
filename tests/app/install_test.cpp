// Installing into a private home and removing again: files, records, verdicts of start-up.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>

#include <sys/stat.h>

#include "app/install/install_wizard.h"
#include "app/install/installer_actions.h"
#include "app/install/xdg_integration.h"
#include "app/options/options_general.h"
#include "app/ui_text.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidgetItem>
#include "app/settings_layout.h"
#include "app/startup.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::IsolatedEnvironment;
using test::ScopedEnv;

// Every file below `folder` whose name mentions us.
std::vector<std::string> OurFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find("quorbel") != std::string::npos || name.find("Quorbel") != std::string::npos)
            found.push_back(it->path().string());
    }
    return found;
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
    }
    void TearDown() override {
        SetLauncher(nullptr);
        SetPrompts(nullptr);
        SetLanguage(Language::English);
    }
    std::string RecordedProgram() {
        return RegistryAccess().ReadText(RegistryRoot::CurrentUser, layout::kProgramPathKey,
                                         layout::kProgramPathValue, "");
    }

    IsolatedEnvironment env_;
    ScopedEnv home_{"HOME", env_ / "home"};
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
    ProgressSink sink_;
};

TEST_F(InstallTest, FolderRule) {
    const struct { const char* chosen; const char* expected; } cases[] = {
        {"/opt/Tools", "/opt/Tools/quorbel"}, {"/opt/Quorbel", "/opt/Quorbel"},
        {"/opt/quorbel/", "/opt/quorbel"},     {"/", "/quorbel"},
        {"/opt/quorbel2", "/opt/quorbel2/quorbel"},
    };
    for (const auto& c : cases) EXPECT_EQ(InstallFolderFor(c.chosen), c.expected) << c.chosen;
    EXPECT_EQ(ProposedInstallFolder(), env_ / "home/.local/opt/dorvex/quorbel");
}

TEST_F(InstallTest, InstallsEverythingAndRemovesOnlyWhatItMade) {
    const std::string folder = env_ / "home/.local/opt/dorvex/quorbel";
    EXPECT_TRUE(CheckInstallation(StartSwitch::None, QUORBEL_APP_PATH).needed);

    std::string message;
    ASSERT_TRUE(InstallOrRemove(true, folder, true, QUORBEL_APP_PATH, sink_, message)) << message;
    const std::string program = folder + "/quorbel";
    EXPECT_EQ(test::ReadFile(program), test::ReadFile(QUORBEL_APP_PATH));
    struct stat st {};
    ASSERT_EQ(stat(program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    for (const char* f : {"quorbel-shell", "help/index.htm", "help/local/index.htm",
                          "help/local/license.htm", "help/local/options/general.htm", "libquorbel-cabinet.so",
                          "libquorbel-desktop.so"})
        EXPECT_TRUE(FileExists(folder + "/" + f)) << f;

    RegistryAccess reg;
    EXPECT_EQ(RecordedProgram(), program);
    const char* uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dorvex Quorbel";
    EXPECT_EQ(reg.ReadText(RegistryRoot::LocalMachine, uninstall, "DisplayName"), "Dorvex Quorbel");
    EXPECT_EQ(reg.ReadText(RegistryRoot::LocalMachine, uninstall, "UninstallString"),
              program + " /UNINSTALL");
    AppRegistry app;
    EXPECT_EQ(app.ReadText(layout::kFolders, layout::kHelpPath), folder + "/help");
    EXPECT_EQ(app.ReadInteger("", layout::kLanguage, 0), 1);
    ASSERT_FALSE(launcher_.calls.empty());
    EXPECT_EQ(launcher_.calls.back(), "run " + program + " /FIRSTTIME (in " + folder + ")");
    EXPECT_FALSE(CheckInstallation(StartSwitch::None, QUORBEL_APP_PATH).needed);
    EXPECT_FALSE(OurFilesBelow(env_ / "data/applications").empty()) << "no menu entries";
    // The program's icon in the user's hicolor theme, every size the program carries.
    const std::vector<std::string> icons = xdg::ProgramIconPaths();
    ASSERT_GE(icons.size(), 5u);
    EXPECT_NE(std::find(icons.begin(), icons.end(),
                        env_ / "data/icons/hicolor/48x48/apps/dorvex-quorbel.png"),
              icons.end());
    for (const std::string& icon : icons) {
        const std::string png = test::ReadFile(icon);
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << icon;
    }
    // A foreign icon in the same folder stays when ours goes.
    test::WriteFile(env_ / "data/icons/hicolor/48x48/apps/org.example.other.png", "png");

    // The user's own file in the folder survives removal, and so does the folder holding it.
    test::WriteFile(folder + "/my-notes.txt", "mine");
    ScriptedPrompts answers({"yes"});
    ASSERT_TRUE(Uninstall(true, QUORBEL_APP_PATH, answers, sink_));
    EXPECT_EQ(test::ReadFile(folder + "/my-notes.txt"), "mine");
    for (const char* f : {"quorbel", "quorbel-shell", "help", "libquorbel-cabinet.so", "libquorbel-desktop.so"})
        EXPECT_FALSE(fs::exists(folder + "/" + f)) << f;
    EXPECT_EQ(RecordedProgram(), "");
    EXPECT_FALSE(reg.KeyExists(RegistryRoot::LocalMachine, uninstall));
    EXPECT_FALSE(reg.KeyExists(RegistryRoot::CurrentUser, "Software\\Dorvex\\Quorbel"));
    for (const std::string& icon : icons) EXPECT_FALSE(fs::exists(icon)) << icon;
    EXPECT_EQ(test::ReadFile(env_ / "data/icons/hicolor/48x48/apps/org.example.other.png"), "png");
    EXPECT_FALSE(fs::exists(env_ / "data/icons/hicolor/16x16")) << "an emptied size folder stays";
    EXPECT_TRUE(OurFilesBelow(env_ / "data").empty());
    EXPECT_TRUE(OurFilesBelow(env_ / "config").empty());
    ASSERT_FALSE(answers.Asked().empty());
    EXPECT_NE(answers.Asked().back().find("Quorbel has been correctly removed"), std::string::npos);
    EXPECT_TRUE(CheckInstallation(StartSwitch::None, QUORBEL_APP_PATH).needed);
}

TEST_F(InstallTest, UninstallWithoutInstallationAndAnsweringNo) {
    ScriptedPrompts answers({"no"});
    EXPECT_FALSE(Uninstall(true, QUORBEL_APP_PATH, answers, sink_));
    ASSERT_EQ(answers.Asked().size(), 1u);
    EXPECT_EQ(answers.Asked()[0], StringById(text_id::kNotInstalled));

    std::string message;
    const std::string folder = env_ / "opt/quorbel";
    ASSERT_TRUE(InstallOrRemove(true, folder, false, QUORBEL_APP_PATH, sink_, message)) << message;
    SetLanguage(Language::English);
    ScriptedPrompts refuse({"no"});
    EXPECT_FALSE(Uninstall(true, QUORBEL_APP_PATH, refuse, sink_));
    EXPECT_TRUE(FileExists(folder + "/quorbel"));
    EXPECT_EQ(AppRegistry().ReadInteger("", layout::kLanguage, 0), 2);
}

TEST_F(InstallTest, UnattendedWizardAppliesTheFolderRule) {
    ScriptedPrompts answers({"folder:" + env_ / "Tools", "no"});
    ASSERT_TRUE(RunInstallWizard(QUORBEL_APP_PATH, answers, true));
    const std::string folder = env_ / "Tools/quorbel";
    EXPECT_EQ(RecordedProgram(), folder + "/quorbel");
    // The French pages went into help/local.
    EXPECT_NE(test::ReadFile(folder + "/help/local/index.htm").find("lang=\"fr\""),
              std::string::npos);
}

TEST_F(InstallTest, GeneralPageSwitchesTypesAndRegistersAgain) {
    COptionsGeneral page;
    page.Load();
    ASSERT_NE(page.TypeItem("ZIP"), nullptr);
    EXPECT_EQ(page.TypeItem("ZIP")->checkState(0), Qt::Checked);
    EXPECT_EQ(page.TypeItem("BMP")->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(page.ShellOption("bEnable")->isChecked());
    EXPECT_FALSE(page.ShellOption("bCascadedMenu")->isChecked());
    page.Store();
    EXPECT_NE(test::ReadFile(xdg::MimeAppsPath()).find("application/zip=dorvex-quorbel.desktop"),
              std::string::npos);

    page.SetGroup(COptionsGeneral::kArchives, false);
    page.SetGroup(COptionsGeneral::kPictures, true);
    page.TemporaryDirectory()->setText(Q(env_ / "scratch"));
    page.Store();
    AppRegistry reg;
    EXPECT_EQ(reg.ReadInteger("DataType", "ZIP", 1), 0);
    EXPECT_EQ(reg.ReadInteger("DataType", "PNG", 0), 1);
    EXPECT_EQ(reg.ReadText("Options", "TemporaryDirectory"), env_ / "scratch");
    EXPECT_EQ(test::ReadFile(xdg::MimeAppsPath()).find("application/zip=dorvex-quorbel.desktop"),
              std::string::npos);
    EXPECT_NE(test::ReadFile(xdg::MimeAppsPath()).find("image/png=dorvex-quorbel.desktop"),
              std::string::npos);
}

// The whole path a person takes: the installer unpacks the program, which installs itself;
// the installed program later removes itself. Child processes answer from scripts.
TEST_F(InstallTest, InstallerEndToEndAndUninstallLeaveNothingBehind) {
    const std::string folder = env_ / "Apps/quorbel";
    {
        ScopedEnv answers("QUORBEL_PROMPT_ANSWERS", "folder:" + env_ / "Apps" + ";yes");
        ScopedEnv launches("QUORBEL_LAUNCH_LOG", env_ / "launches.log");
        const auto setup = test::Run({QUORBEL_SETUP_PATH});
        EXPECT_EQ(setup.exit_code, 0) << setup.err;
    }
    EXPECT_EQ(RecordedProgram(), folder + "/quorbel");
    EXPECT_EQ(test::ReadFile(folder + "/quorbel"), test::ReadFile(QUORBEL_APP_PATH));
    EXPECT_EQ(test::ReadFile(env_ / "launches.log"),
              "run " + folder + "/quorbel /FIRSTTIME (in " + folder + ")\n");
    EXPECT_FALSE(CheckInstallation(StartSwitch::None, QUORBEL_APP_PATH).needed);
    for (const std::string& left : OurFilesBelow(env_ / "tmp"))
        EXPECT_NE(fs::path(left).filename(), "quorbel") << "the installer left its copy behind";

    {
        ScopedEnv answers("QUORBEL_PROMPT_ANSWERS", "yes");
        const auto removal = test::Run({folder + "/quorbel", "/UNINSTALL"});
        EXPECT_EQ(removal.exit_code, 0) << removal.err;
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(RecordedProgram(), "");
    EXPECT_TRUE(OurFilesBelow(env_ / "data").empty());
    EXPECT_TRUE(OurFilesBelow(env_ / "config").empty());
}

}  // namespace
}  // namespace quorbel
