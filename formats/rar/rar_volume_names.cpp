#include "formats/rar/rar_volume_names.h"

#include <cctype>

namespace quorbel::rar {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the file name starts (after the last separator of either kind).
size_t NameStart(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// The run of digits that ends just before the extension of the file-name part: [begin, end).
bool PartDigits(const std::string& path, size_t& begin, size_t& end) {
    size_t start = NameStart(path);
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return false;
    end = dot;
    begin = end;
    while (begin > start && IsDigit(path[begin - 1])) --begin;
    return begin < end;
}
}  // namespace

std::string NextVolumeNameOld(const std::string& path) {
    size_t start = NameStart(path);
    size_t dot = path.rfind('.');
    std::string name = path;
    if (dot == std::string::npos || dot < start) return name.append(".rar");
    std::string ext = name.substr(dot + 1);
    std::string lower;
    for (char c : ext) lower += char(std::tolower(static_cast<unsigned char>(c)));
    if (ext.empty() || lower == "exe") {
        name.resize(dot + 1);
        return name.append("rar");
    }
    if (ext.size() >= 3 && IsDigit(ext[1]) && IsDigit(ext[2])) {
        // A decimal counter from the extension's last character; a carry into the first
        // character moves it on (r99 → s00).
        for (size_t i = name.size(); i-- > dot + 1;) {
            if (i == dot + 1) {
                ++name[i];
                break;
            }
            if (!IsDigit(name[i])) {
                ++name[i];
                break;
            }
            if (name[i] != '9') {
                ++name[i];
                break;
            }
            name[i] = '0';
        }
        return name;
    }
    if (ext.size() < 2) {
        name.resize(dot + 1);
        return name.append("00");
    }
    name[name.size() - 2] = '0';
    name[name.size() - 1] = '0';
    return name;
}

std::string NextVolumeNameNew(const std::string& path) {
    size_t begin, end;
    if (!PartDigits(path, begin, end)) return "";
    std::string name = path;
    size_t i = end;
    while (i > begin) {
        --i;
        if (name[i] != '9') {
            ++name[i];
            return name;
        }
        name[i] = '0';
    }
    // All nines: one digit more (part9 → part10).
    std::string longer = path.substr(0, begin);
    longer.push_back('1');
    longer.append(name, begin, std::string::npos);
    return longer;
}

std::string FirstVolumeNameNew(const std::string& path) {
    size_t begin, end;
    if (!PartDigits(path, begin, end)) return "";
    std::string name = path;
    for (size_t i = begin; i < end; ++i) name[i] = '0';
    name[end - 1] = '1';
    return name;
}

}  // namespace quorbel::rar
