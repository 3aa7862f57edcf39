// quorbel-sfx: the self-extracting program. It reads the ZIP archive appended to its own file
// and lists, tests or unpacks it. It must run on a machine without Quorbel or Qt, so it is
// linked statically and talks only through the terminal.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/safe_path.h"
#include "sfx/sfx_archive.h"

namespace {

using quorbel::sfx::SfxArchive;
using quorbel::sfx::SfxMember;
using quorbel::sfx::SfxResult;

enum class Mode { Extract, List, Test };
enum class Overwrite { Ask, Always, Never };

struct Options {
    Mode mode = Mode::Extract;
    Overwrite overwrite = Overwrite::Ask;
    bool ask_password = false;
    std::string folder;
};

const char kUsage[] =
    "usage: %s [-l | -t] [-d FOLDER] [-o | -n] [-p]\n"
    "  -l         list the files\n"
    "  -t         test the files (every CRC)\n"
    "  -d FOLDER  unpack into FOLDER (default: a folder named after this program)\n"
    "  -o         overwrite existing files without asking\n"
    "  -n         never overwrite existing files\n"
    "  -p         ask for the password before starting\n";

std::string ProgramName(const std::string& exe) {
    size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? exe : exe.substr(slash + 1);
}

std::string DefaultFolder(const std::string& program) {
    size_t dot = program.find_last_of('.');
    if (dot != std::string::npos && dot > 0) return program.substr(0, dot);
    // No extension: the folder cannot take the program's own name beside it.
    return program + "_files";
}

bool Interactive() { return isatty(STDIN_FILENO) != 0; }

std::string AskLine(const std::string& question, bool hide = false) {
    std::fprintf(stderr, "%s", question.c_str());
    std::fflush(stderr);
    termios saved{};
    bool hidden = hide && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hidden) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (hidden) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    return line;
}

time_t MemberTime(const SfxMember& m) {
    if (m.unix_mtime >= 0) return time_t(m.unix_mtime);
    std::tm tm{};
    tm.tm_year = ((m.dos_date >> 9) & 0x7F) + 80;
    tm.tm_mon = ((m.dos_date >> 5) & 0x0F) - 1;
    tm.tm_mday = m.dos_date & 0x1F;
    tm.tm_hour = (m.dos_time >> 11) & 0x1F;
    tm.tm_min = (m.dos_time >> 5) & 0x3F;
    tm.tm_sec = (m.dos_time & 0x1F) * 2;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

std::vector<std::string> Components(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        if (slash > start) parts.push_back(relative.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// Names that point outside the folder are refused outright rather than rewritten: whoever made
// the archive meant them to land there, and the person running it did not ask for that.
std::optional<std::string> AcceptedPath(const SfxMember& m, std::string& why) {
    const std::string& name = m.name;
    if (m.IsSymbolicLink()) {
        why = "symbolic link";
        return std::nullopt;
    }
    bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
    bool drive = name.size() >= 2 && name[1] == ':';
    bool climbs = false;
    std::string normal = name;
    for (char& c : normal) if (c == '\\') c = '/';
    for (const auto& part : Components(normal)) climbs |= part == "..";
    auto relative = quorbel::SafeRelativePath(name);
    if (absolute || drive || climbs || !relative) {
        why = "path leaves the destination folder";
        return std::nullopt;
    }
    return relative;
}

// Opens (making when missing) each folder of `parts` below `root`, never through a symbolic
// link. Returns the descriptor of the innermost folder, or -1.
int OpenFolders(int root, const std::vector<std::string>& parts, size_t count) {
    int fd = dup(root);
    for (size_t i = 0; i < count && fd >= 0; ++i) {
        if (mkdirat(fd, parts[i].c_str(), 0755) != 0 && errno != EEXIST) {
            close(fd);
            return -1;
        }
        int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    return fd;
}

class Unpacker {
public:
    Unpacker(const SfxArchive& archive, Options options)
        : archive_(archive), options_(std::move(options)) {}

    int Run();

private:
    bool Password(std::string& password);
    SfxResult ExtractMember(const SfxMember& m, const std::string& password, int folder,
                            const std::string& file);
    bool MayOverwrite(const std::string& shown);

    const SfxArchive& archive_;
    Options options_;
    std::string password_;
    bool have_password_ = false;
};

bool Unpacker::Password(std::string& password) {
    if (!have_password_) {
        if (!Interactive()) return false;
        password_ = AskLine("Password: ", true);
        have_password_ = true;
    }
    password = password_;
    return true;
}

bool Unpacker::MayOverwrite(const std::string& shown) {
    if (options_.overwrite == Overwrite::Always) return true;
    if (options_.overwrite == Overwrite::Never) return false;
    if (!Interactive()) return false;
    for (;;) {
        std::string answer =
            AskLine("Replace " + shown + "? [y]es, [n]o, [A]ll, [N]one: ");
        if (answer == "y" || answer == "Y" || answer == "yes") return true;
        if (answer == "n" || answer == "no" || answer.empty()) return false;
        if (answer == "A") {
            options_.overwrite = Overwrite::Always;
            return true;
        }
        if (answer == "N") {
            options_.overwrite = Overwrite::Never;
            return false;
        }
    }
}

SfxResult Unpacker::ExtractMember(const SfxMember& m, const std::string& password, int folder,
                                  const std::string& file) {
    // Written beside the target under a fresh name and renamed when complete, so a CRC error
    // or a full disk never leaves a half file under the real name.
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = ".quorbel-sfx-" + std::to_string(random()) + ".part";
        mode_t mode = m.UnixMode() ? mode_t(m.UnixMode()) : 0644;
        fd = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode);
        if (fd < 0 && errno != EEXIST) return SfxResult::WriteFailed;
    }
    if (fd < 0) return SfxResult::WriteFailed;
    SfxResult result = archive_.Extract(m, password, [&](const uint8_t* p, size_t n) {
        while (n > 0) {
            ssize_t put = write(fd, p, n);
            if (put <= 0) return false;
            p += put;
            n -= size_t(put);
        }
        return true;
    });
    if (result == SfxResult::Ok) {
        timespec times[2] = {{MemberTime(m), 0}, {MemberTime(m), 0}};
        futimens(fd, times);
    }
    if (close(fd) != 0 && result == SfxResult::Ok) result = SfxResult::WriteFailed;
    if (result == SfxResult::Ok && renameat(folder, temp.c_str(), folder, file.c_str()) != 0)
        result = SfxResult::WriteFailed;
    if (result != SfxResult::Ok) unlinkat(folder, temp.c_str(), 0);
    return result;
}

int Unpacker::Run() {
    const auto& members = archive_.Members();
    if (options_.ask_password && !Password(password_)) {
        std::fprintf(stderr, "a password can only be asked on a terminal\n");
        return 1;
    }
    if (options_.mode == Mode::List) {
        uint64_t total = 0;
        std::printf("%12s  %-16s  %s\n", "Length", "Date", "Name");
        for (const auto& m : members) {
            time_t t = MemberTime(m);
            char when[32] = "";
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&t));
            std::printf("%12llu  %-16s  %s%s\n", static_cast<unsigned long long>(m.unpacked), when,
                        m.name.c_str(), m.Encrypted() ? " *" : "");
            total += m.unpacked;
        }
        std::printf("%12llu  %-16s  %zu files\n", static_cast<unsigned long long>(total), "",
                    members.size());
        return 0;
    }

    int root = -1;
    if (options_.mode == Mode::Extract) {
        if (mkdir(options_.folder.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "cannot make %s: %s\n", options_.folder.c_str(), strerror(errno));
            return 1;
        }
        root = open(options_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            std::fprintf(stderr, "cannot open %s: %s\n", options_.folder.c_str(), strerror(errno));
            return 1;
        }
    }

    int failures = 0;
    for (const auto& m : members) {
        std::string why;
        auto relative = AcceptedPath(m, why);
        if (!relative) {
            std::fprintf(stderr, "%s: refused (%s)\n", m.name.c_str(), why.c_str());
            ++failures;
            continue;
        }
        std::string password;
        if (m.Encrypted() && !Password(password)) {
            std::fprintf(stderr, "%s: encrypted, and no terminal to ask for the password\n",
                         m.name.c_str());
            ++failures;
            continue;
        }
        if (options_.mode == Mode::Test) {
            if (m.IsFolder()) continue;
            SfxResult r = archive_.Extract(m, password, [](const uint8_t*, size_t) { return true; });
            std::printf("%s: %s\n", m.name.c_str(), quorbel::sfx::ResultText(r));
            failures += r != SfxResult::Ok;
            continue;
        }

        auto parts = Components(*relative);
        size_t folders = m.IsFolder() ? parts.size() : parts.size() - 1;
        int folder = OpenFolders(root, parts, folders);
        if (folder < 0) {
            std::fprintf(stderr, "%s: cannot make its folder (%s)\n", m.name.c_str(),
                         strerror(errno));
            ++failures;
            continue;
        }
        if (m.IsFolder()) {
            close(folder);
            continue;
        }
        const std::string& file = parts.back();
        struct stat st;
        if (fstatat(folder, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(st.st_mode)) {
                std::fprintf(stderr, "%s: refused (a %s is in the way)\n", relative->c_str(),
                             S_ISLNK(st.st_mode) ? "symbolic link" : "folder");
                ++failures;
                close(folder);
                continue;
            }
            if (!MayOverwrite(*relative)) {
                std::fprintf(stderr, "%s: exists, skipped\n", relative->c_str());
                if (options_.overwrite == Overwrite::Ask && !Interactive()) ++failures;
                close(folder);
                continue;
            }
        }
        SfxResult r = ExtractMember(m, password, folder, file);
        close(folder);
        if (r == SfxResult::BadPassword && m.Encrypted()) have_password_ = false;
        if (r != SfxResult::Ok) {
            std::fprintf(stderr, "%s: %s\n", relative->c_str(), quorbel::sfx::ResultText(r));
            ++failures;
        } else {
            std::printf("%s\n", relative->c_str());
        }
    }
    if (root >= 0) close(root);
    if (failures) std::fprintf(stderr, "%d file(s) failed\n", failures);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string exe = "/proc/self/exe";
    char resolved[4096];
    ssize_t length = readlink(exe.c_str(), resolved, sizeof resolved - 1);
    std::string program = ProgramName(length > 0 ? std::string(resolved, size_t(length))
                                                  : std::string(argv[0]));
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-l") options.mode = Mode::List;
        else if (arg == "-t") options.mode = Mode::Test;
        else if (arg == "-o") options.overwrite = Overwrite::Always;
        else if (arg == "-n") options.overwrite = Overwrite::Never;
        else if (arg == "-p") options.ask_password = true;
        else if (arg == "-d" && i + 1 < argc) options.folder = argv[++i];
        else {
            std::fprintf(arg == "-h" || arg == "--help" ? stdout : stderr, kUsage, program.c_str());
            return arg == "-h" || arg == "--help" ? 0 : 2;
        }
    }
    if (options.folder.empty()) options.folder = DefaultFolder(program);

    SfxArchive archive;
    if (!archive.Open(exe)) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), archive.Error().c_str());
        return 2;
    }
    return Unpacker(archive, options).Run();
}
