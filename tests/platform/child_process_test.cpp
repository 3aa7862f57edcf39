// The guard that ends the processes tests start: what it stops, what its children inherit.
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::TempDir;

// True once `pid` is gone or only a zombie waiting for whoever adopted it.
bool Gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t paren = line.rfind(')');
    return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

bool EventuallyGone(pid_t pid) {
    for (int i = 0; i < 600; ++i) {
        if (Gone(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Gone(pid);
}

// The pid a child wrote to `path`, once it is all there.
pid_t PidFrom(const std::string& path) {
    for (int i = 0; i < 600; ++i) {
        const std::string text = ReadFile(path);
        if (!text.empty() && text.back() == '\n') return pid_t(std::stol(text));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

TEST(ChildProcessTest, OutputGoesToItsFileAndNoOtherDescriptorGoesAlong) {
    TempDir dir;
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);  // inheritable, as CTest's pipe is
    ChildProcess child({"sh", "-c", "echo out; echo err >&2; ls /proc/self/fd"}, dir / "log");
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 0);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    // 3 is the folder ls reads.
    EXPECT_EQ(ReadFile(dir / "log"), "out\nerr\n0\n1\n2\n3\n");
    EXPECT_FALSE(child.Running());
}

TEST(ChildProcessTest, DestructorStopsWhatTheChildStartedToo) {
    TempDir dir;
    pid_t grandchild = -1;
    {
        ChildProcess child({"sh", "-c", "sleep 1000 & echo $! > " + dir / "pid" + "; wait"});
        ASSERT_TRUE(child.Started());
        grandchild = PidFrom(dir / "pid");
        ASSERT_GT(grandchild, 0);
        EXPECT_TRUE(child.Running());
        EXPECT_FALSE(Gone(grandchild));
    }
    EXPECT_TRUE(EventuallyGone(grandchild));
}

TEST(ChildProcessTest, ProgramThatIgnoresTerminationIsKilledAfterTheGrace) {
    TempDir dir;
    ChildProcess child({"sh", "-c", "trap '' TERM; echo $$ > " + dir / "pid" + "; while :; do sleep 1; done"});
    ASSERT_TRUE(child.Started());
    // Only once it has said so does it ignore the signal.
    ASSERT_EQ(PidFrom(dir / "pid"), child.pid());
    EXPECT_TRUE(child.Running());
    EXPECT_EQ(child.Stop(200), 128 + SIGKILL);
    EXPECT_FALSE(child.Running());
}

// A test process that crashes runs no destructor: its children end with it all the same.
TEST(ChildProcessTest, ChildrenDieWithACrashedParent) {
    TempDir dir;
    ChildProcess crashing([&] {
        ChildProcess sleeper({"sleep", "1000"});
        std::ofstream(dir / "pid") << sleeper.pid() << "\n";
        pause();  // until killed, as by a crash
        return 0;
    });
    ASSERT_TRUE(crashing.Started());
    const pid_t sleeper = PidFrom(dir / "pid");
    ASSERT_GT(sleeper, 0);
    EXPECT_FALSE(Gone(sleeper));
    kill(crashing.pid(), SIGKILL);
    EXPECT_EQ(crashing.Wait(), 128 + SIGKILL);
    EXPECT_TRUE(EventuallyGone(sleeper));
}

}  // namespace
}  // namespace quorbel
