// Helpers shared by every test suite: private folders, peer tools, sample files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace quorbel::test {

// A fresh folder below $TMPDIR, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// A private settings store and temporary folder for the lifetime of the object: handlers read
// settings and make scratch folders when they are constructed.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    const TempDir& dir() const { return dir_; }
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    ScopedEnv registry_;
    ScopedEnv tmp_;
    ScopedEnv data_home_;
    ScopedEnv config_home_;
    ScopedEnv runtime_;
};

struct CommandResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs argv (no shell) in `cwd` (empty: current folder), feeding `input` on stdin, and returns
// once the program and everything that kept its output open have ended. The program runs in its
// own process group; what is left of the group after it ended is killed.
CommandResult Run(const std::vector<std::string>& argv, const std::string& cwd = "",
                  const std::string& input = "");

// A process a test starts, ended on every path: its destructor (also after a failed
// assertion) stops it unless it was already waited for. It runs in its own process group, so
// stopping it reaches whatever it started there too; it dies with the test process should that
// crash; it reads /dev/null and writes to a file or /dev/null, never to the test's own output,
// which CTest reads until every holder has closed it.
class ChildProcess {
public:
    // Runs argv (no shell, searched on PATH), its stdout and stderr appended to `output`.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::string& output = "/dev/null");
    // Runs `body` in a copy of this process; its result is the exit code. No test macros in the
    // body: nobody reports them.
    explicit ChildProcess(const std::function<int()>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // True until the process ended.
    bool Running();
    // Waits for the end; the exit code, 128 + the signal number when a signal ended it, -1 when
    // it never started.
    int Wait();
    // SIGTERM to its group, SIGKILL when it has not ended after the grace period, then reaps it;
    // the result as Wait's.
    int Stop(int grace_ms = 10000);

private:
    void Launch(const std::function<void()>& in_child);
    bool Ended(bool wait);
    int Reap();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int exit_code_ = -1;
};

// True while somebody waits to lock a part of the file at `path` (the kernel lists each waiter
// in /proc/locks): how a test sees that a process is blocked on a lock it holds.
bool SomeoneWaitsForLock(const std::string& path);

// True when `tool` is on PATH.
bool HaveTool(const std::string& tool);

// Full path of a file in the shared sample folder.
std::string TestData(const std::string& relative);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void SetMtime(const std::string& path, int64_t seconds_since_1970);

}  // namespace quorbel::test

#define QUORBEL_REQUIRE_TOOL(tool)                                            \
    do {                                                                      \
        if (!::quorbel::test::HaveTool(tool))                                 \
            GTEST_SKIP() << "peer tool '" << (tool) << "' is not installed";  \
    } while (0)
