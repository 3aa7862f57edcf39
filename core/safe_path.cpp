#include "core/safe_path.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <vector>

namespace quorbel {

std::optional<std::string> SafeRelativePath(const std::string& stored_name) {
    std::string name = stored_name;
    for (char& c : name)
        if (c == '\\') c = '/';
    size_t start = 0;
    // A drive prefix, possibly after leading separators ("C:/x", "/C:x").
    while (start < name.size() && name[start] == '/') ++start;
    if (name.size() >= start + 2 && std::isalpha(static_cast<unsigned char>(name[start])) &&
        name[start + 1] == ':')
        start += 2;
    std::vector<std::string> parts;
    std::string component;
    for (size_t i = start; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/') {
            if (component == "..") {
                if (parts.empty()) return std::nullopt;
                parts.pop_back();
            } else if (!component.empty() && component != ".") {
                parts.push_back(component);
            }
            component.clear();
        } else if (name[i] == '\0') {
            return std::nullopt;
        } else {
            component += name[i];
        }
    }
    if (parts.empty()) return std::nullopt;
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += '/';
        out += p;
    }
    return out;
}

namespace {
std::string Resolve(const std::string& path) {
    // realpath of the deepest existing ancestor, then the rest appended as written.
    std::string existing = path, rest;
    while (!existing.empty()) {
        char buf[PATH_MAX];
        if (realpath(existing.c_str(), buf)) return std::string(buf) + rest;
        size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos) {
            existing.clear();
            break;
        }
        rest = existing.substr(slash) + rest;
        existing.erase(slash);
    }
    return rest;
}
}  // namespace

namespace {
bool ResolvesInside(const std::string& root, const std::string& path, bool root_itself) {
    std::string r = Resolve(root), p = Resolve(path);
    if (r.empty() || p.empty()) return false;
    if (r == "/" || (root_itself && p == r)) return true;
    return p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '/';
}
}  // namespace

bool StaysInside(const std::string& root, const std::string& path) {
    return ResolvesInside(root, path, false);
}

bool FolderStaysInside(const std::string& root, const std::string& folder) {
    return ResolvesInside(root, folder, true);
}

}  // namespace quorbel
