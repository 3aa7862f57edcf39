// The single-instance hand-over between real processes of the window program, and the shell
// commands it receives.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/recent_files.h"
#include "app/settings_layout.h"
#include "platform/file_system.h"
#include "platform/instance.h"
#include "platform/registry_access.h"
#include "platform/registry_hive.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

using test::IsolatedEnvironment;
using test::ScopedEnv;
using test::WriteFile;

// Waits for a condition another process brings about; generous, since CI machines are slow.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 600; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// The front of the recent-files list, "" while it is empty.
std::string LatestRecentFile() {
    const std::vector<std::string> recent = LoadRecentFiles();
    return recent.empty() ? "" : recent.front();
}

// A complete installation as start-up checks it: a recorded program with its companions.
class HandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORBEL_REQUIRE_TOOL("zip");
        const std::string folder = env_ / "program";
        MakeFolders(folder + "/help/local");
        for (const char* f : {"quorbel", "quorbel-shell", "help/index.htm", "help/local/index.htm",
                              "libquorbel-cabinet.so", "libquorbel-desktop.so"})
            WriteFile(folder + "/" + f, "");
        RegistryAccess().WriteText(RegistryRoot::CurrentUser, layout::kProgramPathKey,
                                   layout::kProgramPathValue, folder + "/quorbel");
        for (const char* name : {"a", "b", "c"}) {
            WriteFile(env_ / (std::string(name) + ".txt"), std::string("member ") + name);
            ASSERT_EQ(test::Run({"zip", "-q", env_ / (std::string(name) + ".zip"),
                                 std::string(name) + ".txt"},
                                env_.dir().path())
                          .exit_code,
                      0);
        }
    }

    IsolatedEnvironment env_;
    ScopedEnv prompts_{"QUORBEL_PROMPT_ANSWERS", "no"};
    ScopedEnv launches_{"QUORBEL_LAUNCH_LOG", env_ / "launches.log"};
};

TEST_F(HandOverTest, SecondStartHandsItsFileToTheRunningInstance) {
    test::ChildProcess first({QUORBEL_APP_PATH, env_ / "a.zip"}, env_ / "first.log");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(Eventually([&] { return LatestRecentFile() == env_ / "a.zip"; }))
        << "the first instance did not come up";
    EXPECT_NE(ReadInstanceRecord(), "0");

    const auto second = test::Run({QUORBEL_APP_PATH, env_ / "b.zip"});
    EXPECT_EQ(second.exit_code, 0) << second.err;
    EXPECT_TRUE(Eventually([&] { return LatestRecentFile() == env_ / "b.zip"; }));

    // The file manager's companion writes a command block; the running instance carries it
    // out and stays.
    EXPECT_EQ(test::Run({QUORBEL_SHELL_PATH, "3", env_ / "c.zip"}).exit_code, 0);
    EXPECT_TRUE(Eventually([&] { return FileExists(env_ / "c/c.txt"); }));
    EXPECT_EQ(test::ReadFile(env_ / "c/c.txt"), "member c");
    EXPECT_TRUE(first.Running());
}

// A second start that comes while the first instance is still setting up must not hand its
// file to nobody. The first is held there: it writes its settings after taking the instance
// lock and before naming its activation socket, and this test keeps the settings locked.
TEST_F(HandOverTest, SecondStartDuringTheFirstOnesSetUpIsNotLost) {
    const std::string hive = RegistryDirectory() + "/HKEY_CURRENT_USER.reg";
    auto settings = std::make_unique<HiveLock>(hive);
    ASSERT_TRUE(settings->locked());
    test::ChildProcess first({QUORBEL_APP_PATH, env_ / "a.zip"}, env_ / "first.log");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(Eventually([&] { return test::SomeoneWaitsForLock(hive + ".lock"); }))
        << "the first instance did not get to its settings";

    test::ChildProcess second({QUORBEL_APP_PATH, env_ / "b.zip"}, env_ / "second.log");
    ASSERT_TRUE(second.Started());
    const std::string instance_lock = InstanceRuntimeFolder() + "/" + InstanceLock::kName;
    EXPECT_TRUE(Eventually([&] { return test::SomeoneWaitsForLock(instance_lock); }))
        << "the second start did not wait for the first instance";
    settings.reset();

    // The files open in the order they were started in.
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(Eventually([&] { return LatestRecentFile() == env_ / "b.zip"; }))
        << "the second start's file was not opened";
    EXPECT_EQ(LoadRecentFiles(), (std::vector<std::string>{env_ / "b.zip", env_ / "a.zip"}));
    EXPECT_TRUE(first.Running());
}

TEST_F(HandOverTest, ShellCommandsAloneEndOrStayAsTheirTypeSays) {
    WriteClipboardBlock("Quorbel", MakeShellCommandBlock({3, {env_ / "a.zip"}}));
    EXPECT_EQ(test::Run({QUORBEL_APP_PATH, "/SHELLCOMMAND"}).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env_ / "a/a.txt"), "member a");

    // "Add to d.zip": the archive named after the first path is made.
    WriteFile(env_ / "d.txt", "member d");
    WriteClipboardBlock("Quorbel", MakeShellCommandBlock({1, {env_ / "d.txt"}}));
    EXPECT_EQ(test::Run({QUORBEL_APP_PATH, "/SHELLCOMMAND"}).exit_code, 0);
    EXPECT_EQ(test::Run({"unzip", "-p", env_ / "d.zip", "d.txt"}).out, "member d");

    // Make a self-extractor: b.run beside the archive. When it exists, the question's words
    // hold: No chooses another name, Yes replaces it.
    WriteClipboardBlock("Quorbel", MakeShellCommandBlock({4, {env_ / "b.zip"}}));
    EXPECT_EQ(test::Run({QUORBEL_APP_PATH, "/SHELLCOMMAND"}).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env_ / "b.run").rfind("\x7f" "ELF", 0), 0u);
    WriteFile(env_ / "b.run", "older");
    {
        ScopedEnv answers("QUORBEL_FILE_ANSWERS", env_ / "other.run");
        WriteClipboardBlock("Quorbel", MakeShellCommandBlock({4, {env_ / "b.zip"}}));
        EXPECT_EQ(test::Run({QUORBEL_APP_PATH, "/SHELLCOMMAND"}).exit_code, 0);
    }
    EXPECT_EQ(test::ReadFile(env_ / "b.run"), "older");
    EXPECT_EQ(test::ReadFile(env_ / "other.run").rfind("\x7f" "ELF", 0), 0u);
    {
        ScopedEnv yes("QUORBEL_PROMPT_ANSWERS", "yes");
        WriteClipboardBlock("Quorbel", MakeShellCommandBlock({4, {env_ / "b.zip"}}));
        EXPECT_EQ(test::Run({QUORBEL_APP_PATH, "/SHELLCOMMAND"}).exit_code, 0);
    }
    EXPECT_EQ(test::ReadFile(env_ / "b.run").rfind("\x7f" "ELF", 0), 0u);

    WriteClipboardBlock("Quorbel", MakeShellCommandBlock({5, {env_ / "c.zip"}}));
    test::ChildProcess open({QUORBEL_APP_PATH, "/SHELLCOMMAND"}, env_ / "open.log");
    ASSERT_TRUE(open.Started());
    EXPECT_TRUE(Eventually([&] { return LatestRecentFile() == env_ / "c.zip"; }));
    EXPECT_TRUE(open.Running());
}

}  // namespace
}  // namespace quorbel
