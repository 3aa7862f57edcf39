// The single-instance hand-over between real processes of the window program, and the shell
// commands it receives.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/recent_files.h"
#include "app/settings_layout.h"
#include "platform/file_system.h"
#include "platform/instance.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

extern char** environ;

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

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

bool StillRunning(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// A complete installation as start-up checks it: a recorded program with its companions.
class HandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORBEL_REQUIRE_TOOL("zip");
        const std::string folder = env_ / "program";
        MakeFolders(folder + "/help/local");
        for (const char* f : {"quorbel", "quorbel-shell", "help/index.htm", "help/local/index.htm"})
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
    const pid_t first = Spawn({QUORBEL_APP_PATH, env_ / "a.zip"});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(Eventually([&] {
        return ReadInstanceRecord() != "0" && !LoadRecentFiles().empty();
    })) << "the first instance did not come up";
    EXPECT_EQ(LoadRecentFiles().front(), env_ / "a.zip");

    const auto second = test::Run({QUORBEL_APP_PATH, env_ / "b.zip"});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_TRUE(Eventually([&] { return LoadRecentFiles().front() == env_ / "b.zip"; }));

    // The file manager's companion writes a command block; the running instance carries it
    // out and stays.
    EXPECT_EQ(test::Run({QUORBEL_SHELL_PATH, "3", env_ / "c.zip"}).exit_code, 0);
    EXPECT_TRUE(Eventually([&] { return FileExists(env_ / "c/c.txt"); }));
    EXPECT_EQ(test::ReadFile(env_ / "c/c.txt"), "member c");
    EXPECT_TRUE(StillRunning(first));
    Stop(first);
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

    WriteClipboardBlock("Quorbel", MakeShellCommandBlock({5, {env_ / "c.zip"}}));
    const pid_t open = Spawn({QUORBEL_APP_PATH, "/SHELLCOMMAND"});
    ASSERT_GT(open, 0);
    EXPECT_TRUE(Eventually([&] {
        auto recent = LoadRecentFiles();
        return !recent.empty() && recent.front() == env_ / "c.zip";
    }));
    EXPECT_TRUE(StillRunning(open));
    Stop(open);
}

}  // namespace
}  // namespace quorbel
