#include "app/recent_files.h"

#include <algorithm>

#include "app/settings_layout.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

std::string ValueName(int number) { return "File" + std::to_string(number); }

void StoreRecentFiles(const std::vector<std::string>& paths) {
    AppRegistry reg;
    reg.DeleteKey(layout::kRecentFiles);
    for (size_t i = 0; i < paths.size() && i < size_t(layout::kRecentFileCount); ++i)
        reg.WriteText(layout::kRecentFiles, ValueName(int(i) + 1), paths[i]);
}

}  // namespace

std::vector<std::string> LoadRecentFiles() {
    AppRegistry reg;
    std::vector<std::string> paths;
    for (int i = 1; i <= layout::kRecentFileCount; ++i) {
        std::string path = reg.ReadText(layout::kRecentFiles, ValueName(i));
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

void PruneRecentFiles() {
    std::vector<std::string> kept;
    for (std::string& path : LoadRecentFiles())
        if (FileExists(path)) kept.push_back(std::move(path));
    StoreRecentFiles(kept);
}

void AddRecentFile(const std::string& path) {
    std::vector<std::string> paths = LoadRecentFiles();
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
    paths.insert(paths.begin(), path);
    StoreRecentFiles(paths);
}

}  // namespace quorbel
