#include "platform/temp_folders.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace quorbel {

std::string SystemTempPath() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? std::string(tmp) : std::string("/tmp");
}

std::string CreateScratchFolder(const std::string& base) {
    static std::atomic<int> counter{0};
    std::string root = (base.empty() ? SystemTempPath() : base) + "/Quorbel";
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = std::to_string(std::time(nullptr)) + std::to_string(counter++) + "_" +
                           std::to_string(getpid());
        std::string path = root + "/" + name;
        if (mkdir(path.c_str(), 0700) == 0) return path;
        if (errno != EEXIST) return "";
    }
    return "";
}

pid_t ScratchFolderOwner(const std::string& folder_name) {
    size_t sep = folder_name.rfind('_');
    if (sep == std::string::npos || sep == 0 || sep + 1 >= folder_name.size()) return -1;
    for (size_t i = 0; i < folder_name.size(); ++i)
        if (i != sep && (folder_name[i] < '0' || folder_name[i] > '9')) return -1;
    return pid_t(std::strtol(folder_name.c_str() + sep + 1, nullptr, 10));
}

bool RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !std::filesystem::exists(path, ec);
}

}  // namespace quorbel
