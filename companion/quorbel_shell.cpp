// quorbel-shell TYPE PATH...: what a file manager's Quorbel menu item runs. It puts the shell
// command (the type and the selected paths, made absolute) on the "Quorbel" clipboard block
// and starts the program with "/SHELLCOMMAND", which reads the block and carries it out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/instance.h"
#include "platform/process.h"
#include "platform/registry_access.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsageError = 2;
constexpr unsigned kLastType = 7;

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "quorbel-shell: %s\n"
                 "usage: quorbel-shell TYPE PATH...\n"
                 "  TYPE  0 add to..., 1 add to <name>.zip, 2 extract to..., 3 extract here,\n"
                 "        4 make a self-extractor, 5 open, 6 send by mail, 7 copy to disks\n",
                 problem);
    return kUsageError;
}

bool ParseType(const std::string& text, uint32_t& type) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    type = uint32_t(std::stoul(text));
    return type <= kLastType;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// File managers hand over local paths, some of them as file:// addresses.
std::string LocalPath(const std::string& argument) {
    const std::string scheme = "file://";
    if (argument.compare(0, scheme.size(), scheme) != 0) return argument;
    std::string rest = argument.substr(scheme.size());
    size_t slash = rest.find('/');
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexDigit(rest[i + 1]) >= 0 &&
            HexDigit(rest[i + 2]) >= 0) {
            path += char(HexDigit(rest[i + 1]) * 16 + HexDigit(rest[i + 2]));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

// The program folds the name of a folder from the path's last part, so a trailing slash of a
// selected folder goes.
std::string AbsolutePath(const std::string& argument) {
    std::error_code ec;
    fs::path path = fs::absolute(LocalPath(argument), ec);
    if (ec) path = LocalPath(argument);
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool IsProgram(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string OwnFolder() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

// The program installed beside us, else the one the installation recorded.
std::string FindProgram() {
    const std::string folder = OwnFolder();
    if (!folder.empty() && IsProgram(folder + "/quorbel")) return folder + "/quorbel";
    quorbel::RegistryAccess reg;
    std::string recorded =
        reg.ReadText(quorbel::RegistryRoot::CurrentUser, "Software\\Dorvex\\Software\\", "Quorbel");
    return IsProgram(recorded) ? recorded : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage(argc < 2 ? "no command type given" : "no path given");
    quorbel::ShellCommandBlock block;
    if (!ParseType(argv[1], block.type)) return Usage("the command type is a number from 0 to 7");
    for (int i = 2; i < argc; ++i) {
        if (argv[i][0] == '\0') return Usage("an empty path");
        block.paths.push_back(AbsolutePath(argv[i]));
    }

    const std::string program = FindProgram();
    if (program.empty()) {
        std::fprintf(stderr, "quorbel-shell: cannot find an installed Quorbel\n");
        return 1;
    }
    if (!quorbel::WriteClipboardBlock("Quorbel", quorbel::MakeShellCommandBlock(block))) {
        std::fprintf(stderr, "quorbel-shell: cannot leave the command for Quorbel\n");
        return 1;
    }
    const std::string folder = fs::path(program).parent_path().string();
    if (!quorbel::StartDetached({program, "/SHELLCOMMAND"}, folder)) {
        std::fprintf(stderr, "quorbel-shell: cannot start %s\n", program.c_str());
        return 1;
    }
    return 0;
}
