#include "core/safe_path.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <sys/stat.h>

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
// `resolved` followed by the names of `rest`, none of which exists: so none is a link, and
// ".." among them is simply the folder above.
std::string Appended(std::string resolved, const std::string& rest) {
    for (size_t start = 0; start < rest.size();) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        const std::string part = rest.substr(start, end - start);
        if (part == "..") {
            const size_t slash = resolved.find_last_of('/');
            resolved.erase(slash == 0 || slash == std::string::npos ? 1 : slash);
        } else if (!part.empty() && part != ".") {
            if (resolved.empty() || resolved.back() != '/') resolved += '/';
            resolved += part;
        }
        start = end + 1;
    }
    return resolved;
}

std::string Resolve(const std::string& path) {
    // realpath of the deepest existing ancestor, then the rest appended name by name.
    std::string existing = path, rest;
    while (!existing.empty()) {
        char buf[PATH_MAX];
        if (realpath(existing.c_str(), buf)) return Appended(buf, rest);
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
    // The usual case needs no resolving: the destination itself, or a folder below it whose
    // every name is a plain folder (no link among them).
    if (folder == root) return true;
    if (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
        folder[root.size()] == '/') {
        bool plain = true;
        for (size_t start = root.size() + 1; plain && start <= folder.size();) {
            size_t end = folder.find('/', start);
            if (end == std::string::npos) end = folder.size();
            const std::string_view part(folder.data() + start, end - start);
            struct stat st {};
            plain = !part.empty() && part != "." && part != ".." &&
                    lstat(folder.substr(0, end).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            start = end + 1;
        }
        if (plain) return true;
    }
    return ResolvesInside(root, folder, true);
}

}  // namespace quorbel
