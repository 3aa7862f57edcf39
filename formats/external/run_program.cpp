#include "formats/external/run_program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/messages.h"
#include "core/status.h"
#include "platform/process.h"

extern char** environ;

namespace quorbel {

namespace {
constexpr size_t kOutputLimit = 64 * 1024;
// How long one wait for output or the child's end lasts before the sink is asked again.
constexpr int kPollMs = 50;

void KeepTail(std::string& out, const char* data, size_t n) {
    out.append(data, n);
    if (out.size() > 2 * kOutputLimit) out.erase(0, out.size() - kOutputLimit);
}

void ReadAvailable(int fd, std::string& out, bool& open) {
    char buf[8192];
    for (;;) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
            KeepTail(out, buf, size_t(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) open = false;
        return;  // EAGAIN: nothing more now
    }
}

// The child ended (its status is left for waitpid). Checked without reaping it, so its pid
// and process group id cannot be reused before the group is killed.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    info.si_pid = 0;
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno == ECHILD;
    return info.si_pid == pid;
}
}  // namespace

std::string ProgramResult::Describe() const {
    switch (outcome) {
        case Outcome::kNotStarted: return "could not start";
        case Outcome::kKilled: return "killed";
        case Outcome::kCancelled: return MessageTemplate(kMsgAborted);
        case Outcome::kExited: break;
    }
    return "exit status " + std::to_string(exit_status);
}

std::string FindExecutable(const std::string& program) {
    if (program.empty()) return "";
    auto usable = [](const std::string& p) {
        struct stat st{};
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) return usable(program) ? program : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + program;
        if (usable(candidate)) return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return "";
}

bool IsMzProgram(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char sig[2] = {};
    bool mz = read(fd, sig, 2) == 2 && sig[0] == 'M' && sig[1] == 'Z';
    close(fd);
    return mz;
}

std::string WindowsPath(const std::string& path) {
    std::string out = "Z:";
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) out += std::string(cwd) + "/";
    }
    out += path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::vector<std::string> SplitCommandTemplate(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool in_arg = false, quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            in_arg = true;
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_arg) args.push_back(current);
            current.clear();
            in_arg = false;
        } else {
            current += c;
            in_arg = true;
        }
    }
    if (in_arg) args.push_back(current);
    return args;
}

std::string FillPlaceholders(const std::string& argument,
                             const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out;
    size_t i = 0;
    while (i < argument.size()) {
        bool replaced = false;
        if (argument[i] == '%') {
            for (const auto& [name, value] : values) {
                if (!name.empty() && argument.compare(i, name.size(), name) == 0) {
                    out += value;
                    i += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += argument[i++];
    }
    return out;
}

ProgramResult RunProgram(const ProgramRequest& request) {
    ProgramResult result;
    std::string program = FindExecutable(request.program);
    if (program.empty()) {
        result.start_error = request.program + ": " + std::strerror(ENOENT);
        return result;
    }
    std::vector<std::string> argv;
    if (IsMzProgram(program)) {
        std::string wine = FindExecutable("wine");
        if (wine.empty()) {
            result.start_error = program + ": a Windows program, and wine is not installed";
            return result;
        }
        argv.push_back(wine);
    }
    argv.push_back(program);
    argv.insert(argv.end(), request.arguments.begin(), request.arguments.end());
    if (!request.wait) {
        // Nothing to wait for: started through an intermediate process, so the program never
        // lingers as our zombie.
        if (!StartDetached(argv, request.working_folder)) {
            result.start_error = program + ": " + std::strerror(errno ? errno : ENOEXEC);
            return result;
        }
        result.outcome = ProgramResult::Outcome::kExited;
        result.exit_status = 0;
        return result;
    }
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        result.start_error = std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    if (!request.working_folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, request.working_folder.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own, so a cancel reaches whatever the program starts in turn; default
    // signal handling and an empty mask, whatever the caller set for itself.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (rc != 0) {
        close(pipe_fds[0]);
        result.start_error = program + ": " + std::strerror(rc);
        return result;
    }
    int fd = pipe_fds[0];
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    ProgressSink* sink = request.sink ? request.sink : &SilentSink();
    bool open = true, cancelled = false;
    int64_t tick = 0;
    while (!HasEnded(pid)) {
        if (sink->SetPos(tick++ % 100) == 0) {
            cancelled = true;
            kill(-pid, SIGKILL);
            break;
        }
        sink->Refresh();
        if (open) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, kPollMs) > 0) ReadAvailable(fd, result.output, open);
        } else {
            usleep(kPollMs * 1000);
        }
    }
    // Whatever the program left running in its group goes with it; then the pipe's writers
    // are gone and the rest of the output can be read to its end.
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    while (open) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) break;
        ReadAvailable(fd, result.output, open);
    }
    close(fd);
    if (result.output.size() > kOutputLimit) result.output.erase(0, result.output.size() - kOutputLimit);
    if (cancelled) {
        result.outcome = ProgramResult::Outcome::kCancelled;
    } else if (WIFEXITED(status)) {
        result.outcome = ProgramResult::Outcome::kExited;
        result.exit_status = WEXITSTATUS(status);
    } else {
        result.outcome = ProgramResult::Outcome::kKilled;
        result.signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return result;
}

}  // namespace quorbel
