#include "support/test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
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

CommandResult Run(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& input) {
    CommandResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
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
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool HaveTool(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
    return false;
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
