#include "support/test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorbel::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/quorbel-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name.c_str());
    had_old_ = old != nullptr;
    if (old) old_ = old;
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_old_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

IsolatedEnvironment::IsolatedEnvironment()
    : registry_("QUORBEL_REGISTRY_DIR", dir_ / "registry"),
      tmp_("TMPDIR", dir_ / "tmp"),
      data_home_("XDG_DATA_HOME", dir_ / "data"),
      config_home_("XDG_CONFIG_HOME", dir_ / "config"),
      runtime_("XDG_RUNTIME_DIR", dir_ / "runtime") {
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(dir_ / "runtime");
    fs::permissions(dir_ / "runtime", fs::perms::owner_all);
}

namespace {

// Where execve finds `program`: as given when it names a folder, else the first match on PATH.
std::string ProgramPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return dir + "/" + program;
    return program;
}

// A child starts with the signal handling a fresh program expects, whatever the test set up.
void DefaultSignals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD, SIGHUP}) signal(sig, SIG_DFL);
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Blocks until `pid` has ended and leaves it a zombie: while it is one its pid, and so its
// process group's id, cannot name anybody else.
void AwaitEnd(pid_t pid) {
    siginfo_t info {};
    while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

// Kills what is left of the ended group leader `pid`'s group, then reaps the leader.
int ReapGroup(pid_t pid) {
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return ExitCodeOf(status);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& output) {
    if (argv.empty()) return;
    // Everything the child needs is made before the fork: after it, in a copy of a process with
    // threads, only plain system calls are safe.
    const std::string program = ProgramPath(argv[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Launch([&] {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) return;
        // No other descriptor of the test process goes along: one of them could be CTest's
        // pipe, which then would stay open as long as this program runs.
        close_range(3, ~0U, 0);
        execve(program.c_str(), args.data(), environ);
    });
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    Launch([&] {
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) return;
        _exit(body());
    });
}

void ChildProcess::Launch(const std::function<void()>& in_child) {
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        // Should the test process crash, its children go with it instead of running on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        DefaultSignals();
        in_child();
        _exit(127);
    }
    // Set on both sides, so that a Stop right after the fork already finds the group.
    if (pid_ > 0) setpgid(pid_, pid_);
}

ChildProcess::~ChildProcess() {
    if (Started() && !reaped_) Stop();
}

bool ChildProcess::Ended(bool wait) {
    siginfo_t info {};
    int rc;
    do {
        rc = waitid(P_PID, id_t(pid_), &info, WEXITED | WNOWAIT | (wait ? 0 : WNOHANG));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 && info.si_pid == pid_;
}

int ChildProcess::Reap() {
    exit_code_ = ReapGroup(pid_);
    reaped_ = true;
    return exit_code_;
}

bool ChildProcess::Running() { return Started() && !reaped_ && !Ended(false); }

int ChildProcess::Wait() {
    if (!Started() || reaped_) return exit_code_;
    Ended(true);
    return Reap();
}

int ChildProcess::Stop(int grace_ms) {
    if (!Started() || reaped_) return exit_code_;
    kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
    while (!Ended(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid_, SIGKILL);
            Ended(true);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Reap();
}

CommandResult Run(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& input) {
    CommandResult result;
    // Close-on-exec: a program started meanwhile by another thread must not keep them open.
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    // Nothing else of the test process goes along, CTest's pipe least of all.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // Its own process group, so that what it leaves running can be ended with it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD, SIGHUP}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(err_pipe[0]);
        result.err = std::strerror(rc);
        return result;
    }
    size_t written = 0;
    if (input.empty()) {
        close(in_pipe[1]);
        in_pipe[1] = -1;
    } else {
        fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
    }
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {in_pipe[1], POLLOUT, 0}};
        int n = poll(fds, in_pipe[1] >= 0 ? 3 : 2, -1);
        if (n < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got <= 0) {
                close(fds[i].fd);
                (i == 0 ? out_pipe[0] : err_pipe[0]) = -1;
                --open_fds;
            } else {
                (i == 0 ? result.out : result.err).append(buf, size_t(got));
            }
        }
        if (in_pipe[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(in_pipe[1], input.data() + written, input.size() - written);
            if (put > 0) written += size_t(put);
            if (put < 0 || written == input.size()) {
                close(in_pipe[1]);
                in_pipe[1] = -1;
            }
        }
        if (out_pipe[0] < 0 && err_pipe[0] < 0) break;
    }
    if (in_pipe[1] >= 0) close(in_pipe[1]);
    AwaitEnd(pid);
    result.exit_code = ReapGroup(pid);
    return result;
}

bool SomeoneWaitsForLock(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    // A waiter's line: "1: -> OFDLCK ADVISORY READ -1 fe:00:1234 0 0", the file given as
    // major:minor:inode in hexadecimal, hexadecimal and decimal.
    const std::string file = ":" + std::to_string(st.st_ino);
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string field;
        bool waiter = false;
        while (fields >> field) {
            if (field == "->") waiter = true;
            const size_t colon = field.rfind(':');
            if (waiter && colon != std::string::npos && colon > field.find(':') &&
                field.substr(colon) == file) {
                char device[32];
                std::snprintf(device, sizeof device, "%02x:%02x", major(st.st_dev), minor(st.st_dev));
                if (field.substr(0, colon) == device) return true;
            }
        }
    }
    return false;
}

bool HaveTool(const std::string& tool) {
    return tool.find('/') == std::string::npos && ProgramPath(tool) != tool;
}

std::string TestData(const std::string& relative) {
    return std::string(QUORBEL_TESTDATA_DIR) + "/" + relative;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

void SetMtime(const std::string& path, int64_t seconds) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace quorbel::test
