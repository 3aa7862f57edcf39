#include "app/recent_files.h"

#include <algorithm>
#include <functional>

#include <strings.h>

#include "app/settings_layout.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

std::string ValueName(int number) { return "File" + std::to_string(number); }

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The list as "File1".."FileN" holds it: numbered slots, empty ones skipped.
std::vector<std::string> ListOf(const RegistryAccess::TextValues& values) {
    std::vector<std::string> paths;
    for (int i = 1; i <= layout::kRecentFileCount; ++i) {
        const std::string name = ValueName(i);
        for (const auto& [value_name, text] : values)
            if (SameName(value_name, name)) {
                if (!text.empty()) paths.push_back(text);
                break;
            }
    }
    return paths;
}

RegistryAccess::TextValues ValuesOf(const std::vector<std::string>& paths) {
    RegistryAccess::TextValues values;
    for (size_t i = 0; i < paths.size() && i < size_t(layout::kRecentFileCount); ++i)
        values.emplace_back(ValueName(int(i) + 1), paths[i]);
    return values;
}

// Another instance or the file manager's companion may change the list at the same time:
// each change is one read-modify-write, so nobody ever sees it half rewritten.
void ChangeRecentFiles(const std::function<void(std::vector<std::string>&)>& change) {
    AppRegistry().ReplaceTextValues(layout::kRecentFiles, [&](RegistryAccess::TextValues values) {
        std::vector<std::string> paths = ListOf(values);
        change(paths);
        return ValuesOf(paths);
    });
}

}  // namespace

std::vector<std::string> LoadRecentFiles() {
    // One read of the store, so the list is the one some writer left whole.
    AppRegistry reg;
    return ListOf(reg.EnumTextValues(layout::kRecentFiles));
}

void PruneRecentFiles() {
    ChangeRecentFiles([](std::vector<std::string>& paths) {
        std::erase_if(paths, [](const std::string& path) { return !FileExists(path); });
    });
}

void AddRecentFile(const std::string& path) {
    ChangeRecentFiles([&](std::vector<std::string>& paths) {
        std::erase(paths, path);
        paths.insert(paths.begin(), path);
    });
}

}  // namespace quorbel
