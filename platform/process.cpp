#include "platform/process.h"

#include <cerrno>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorbel {

namespace {
std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& working_folder) {
    if (argv.empty()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!working_folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
    auto args = ArgvOf(argv);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}
}  // namespace

bool StartDetached(const std::vector<std::string>& argv, const std::string& working_folder) {
    // An intermediate child spawns the program and exits at once, so the program is adopted
    // by init and never lingers as our zombie. The pipe reports whether the spawn worked.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t middle = fork();
    if (middle < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (middle == 0) {
        close(report[0]);
        setsid();
        char ok = Spawn(argv, working_folder) > 0 ? 1 : 0;
        ssize_t ignored = write(report[1], &ok, 1);
        (void)ignored;
        _exit(0);
    }
    close(report[1]);
    char ok = 0;
    while (read(report[0], &ok, 1) < 0 && errno == EINTR) {
    }
    close(report[0]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return ok == 1;
}

int RunAndWait(const std::vector<std::string>& argv, const std::string& working_folder) {
    pid_t pid = Spawn(argv, working_folder);
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quorbel
