#include "platform/trash.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace quorbel {

namespace fs = std::filesystem;

std::string HomeTrashFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "/tmp") + "/.local/share";
    }
    return base + "/Trash";
}

namespace {
std::string PercentEncode(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}
}  // namespace

std::string MoveToTrash(const std::string& path) {
    std::error_code ec;
    fs::path source = fs::absolute(path, ec);
    if (ec || !fs::exists(fs::symlink_status(source, ec))) return "";
    std::string trash = HomeTrashFolder();
    fs::create_directories(trash + "/files", ec);
    fs::create_directories(trash + "/info", ec);
    std::string name = source.filename().string();
    std::string info_path, target;
    // The .trashinfo file is created exclusively first: it reserves the name.
    for (int n = 1; n < 10000; ++n) {
        std::string candidate = n == 1 ? name : name + "." + std::to_string(n);
        info_path = trash + "/info/" + candidate + ".trashinfo";
        int fd = open(info_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return "";
        }
        char date[32];
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
        std::string info = "[Trash Info]\nPath=" + PercentEncode(source.lexically_normal().string()) +
                           "\nDeletionDate=" + date + "\n";
        bool ok = write(fd, info.data(), info.size()) == ssize_t(info.size());
        close(fd);
        target = trash + "/files/" + candidate;
        if (!ok || fs::exists(fs::symlink_status(target, ec))) {
            fs::remove(info_path, ec);
            if (!ok) return "";
            continue;
        }
        break;
    }
    if (target.empty()) return "";
    fs::rename(source, target, ec);
    if (ec) {
        // Another file system: copy, then remove the original only when the copy is whole.
        ec.clear();
        fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        if (ec) {
            fs::remove_all(target, ec);
            fs::remove(info_path, ec);
            return "";
        }
        fs::remove_all(source, ec);
    }
    return target;
}

}  // namespace quorbel
