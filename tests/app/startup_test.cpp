// Start-up decisions: switches, the installation check, recent files, leftover scratch folders.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/recent_files.h"
#include "app/settings_layout.h"
#include "app/startup.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

using test::IsolatedEnvironment;
using test::WriteFile;

TEST(StartupTest, CommandLineSwitches) {
    const struct {
        const char* text;
        StartSwitch expected;
    } cases[] = {
        {"/INSTALL", StartSwitch::Install},        {"/install", StartSwitch::Install},
        {"/INSTALL now", StartSwitch::None},       {"/FirstTime", StartSwitch::FirstTime},
        {"/UNINSTALL", StartSwitch::Uninstall},    {"/SHELLCOMMAND", StartSwitch::ShellCommand},
        {"/debug", StartSwitch::Debug},            {"/NEW", StartSwitch::New},
        {"", StartSwitch::None},                   {"/INSTAL", StartSwitch::None},
        {"archive.zip", StartSwitch::None},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyCommandLine(c.text), c.expected) << c.text;
    EXPECT_EQ(CommandLineText({"/INSTALL", "now"}), "/INSTALL now");
    EXPECT_EQ(CommandLineText({"/tmp/a b.zip"}), "/tmp/a b.zip");
}

TEST(StartupTest, InstallationCheck) {
    IsolatedEnvironment env;
    const std::string folder = env / "program";
    MakeFolders(folder + "/help/local");
    const std::string program = folder + "/quorbel";
    WriteFile(program, "program");

    // Nothing recorded: the wizard is due, except under /DEBUG.
    EXPECT_TRUE(CheckInstallation(StartSwitch::None, program).needed);
    EXPECT_FALSE(CheckInstallation(StartSwitch::Debug, program).needed);

    RegistryAccess reg;
    reg.WriteText(RegistryRoot::CurrentUser, layout::kProgramPathKey, layout::kProgramPathValue,
                  program);
    InstallVerdict verdict = CheckInstallation(StartSwitch::None, "/elsewhere/quorbel");
    EXPECT_TRUE(verdict.needed);
    EXPECT_EQ(verdict.missing, folder + "/quorbel-shell");
    EXPECT_EQ(verdict.program_path, program);
    EXPECT_EQ(verdict.program_folder, folder);

    WriteFile(folder + "/quorbel-shell", "");
    WriteFile(folder + "/help/index.htm", "");
    EXPECT_EQ(CheckInstallation(StartSwitch::None, program).missing, folder + "/help/local/index.htm");
    WriteFile(folder + "/help/local/index.htm", "");
    // Without the cabinet library the installed program could not read cabinets.
    EXPECT_EQ(CheckInstallation(StartSwitch::None, program).missing, folder + "/libquorbel-cabinet.so");
    WriteFile(folder + "/libquorbel-cabinet.so", "");
    WriteFile(folder + "/libquorbel-desktop.so", "");
    EXPECT_FALSE(CheckInstallation(StartSwitch::None, program).needed);
    EXPECT_TRUE(CheckInstallation(StartSwitch::Install, program).needed);

    // The shell's commands need the program, not its help pages.
    unlink((folder + "/help/index.htm").c_str());
    EXPECT_TRUE(CheckInstallation(StartSwitch::None, program).needed);
    EXPECT_FALSE(CheckInstallation(StartSwitch::ShellCommand, program).needed);
}

TEST(StartupTest, RecentFilesKeepExistingOnesWithoutGaps) {
    IsolatedEnvironment env;
    const std::string a = env / "a.zip", b = env / "b.zip";
    WriteFile(a, "");
    WriteFile(b, "");
    AppRegistry reg;
    reg.WriteText(layout::kRecentFiles, "File1", env / "gone1.zip");
    reg.WriteText(layout::kRecentFiles, "File2", a);
    reg.WriteText(layout::kRecentFiles, "File3", env / "gone3.zip");
    reg.WriteText(layout::kRecentFiles, "File4", b);
    PruneRecentFiles();
    EXPECT_EQ(reg.ReadText(layout::kRecentFiles, "File1"), a);
    EXPECT_EQ(reg.ReadText(layout::kRecentFiles, "File2"), b);
    EXPECT_EQ(reg.ReadText(layout::kRecentFiles, "File3", "none"), "none");
    EXPECT_EQ(reg.ReadText(layout::kRecentFiles, "File4", "none"), "none");

    AddRecentFile(b);
    EXPECT_EQ(LoadRecentFiles(), (std::vector<std::string>{b, a}));
}

// Another process polls the list while an instance puts its latest archive first: it must
// see the list before or after the change, never emptied half-way.
TEST(StartupTest, ReadersNeverSeeTheRecentFilesHalfRewritten) {
    IsolatedEnvironment env;
    const std::string a = env / "a.zip", b = env / "b.zip";
    WriteFile(a, "");
    WriteFile(b, "");
    AddRecentFile(b);
    AddRecentFile(a);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done) {
            const std::vector<std::string> seen = LoadRecentFiles();
            if (seen.size() != 2 || seen[0] == seen[1]) ++torn;
            ++reads;
        }
    });
    // The reader has to look at least a few times during the writes for the check to count.
    for (int i = 0; i < 200 || reads < 50; ++i) AddRecentFile(i % 2 ? a : b);
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(LoadRecentFiles().size(), 2u);
}

TEST(StartupTest, OnlyScratchFoldersOfEndedProcessesAreRemoved) {
    IsolatedEnvironment env;
    const std::string temp = env / "Quorbel";
    test::ChildProcess child([] { return 0; });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Wait(), 0);
    const std::string dead = temp + "/17000000001_" + std::to_string(child.pid());
    const std::string alive = temp + "/17000000002_" + std::to_string(getpid());
    const std::string other = temp + "/keep-me";
    for (const std::string& f : {dead, alive, other}) MakeFolders(f);
    WriteFile(dead + "/work.txt", "x");

    EXPECT_EQ(EmptyProgramTempFolder("relative/Quorbel"), 0);
    EXPECT_EQ(EmptyProgramTempFolder(temp), 1);
    EXPECT_FALSE(FileExists(dead));
    EXPECT_TRUE(IsFolder(alive));
    EXPECT_TRUE(IsFolder(other));
}

}  // namespace
}  // namespace quorbel
