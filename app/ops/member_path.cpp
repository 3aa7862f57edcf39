#include "app/ops/member_path.h"

namespace quorbel {

std::string DisplayPath(std::string_view stored) {
    std::string shown(stored);
    for (char& c : shown)
        if (c == '\\') c = '/';
    return shown;
}

std::string StoredPath(std::string_view typed) {
    std::string stored;
    stored.reserve(typed.size());
    for (char c : typed) {
        const bool separator = c == '/' || c == '\\';
        if (!separator) {
            stored += c;
        } else if (!stored.empty() && stored.back() != '\\') {
            stored += '\\';
        }
    }
    if (!stored.empty() && stored.back() == '\\') stored.pop_back();
    return stored;
}

std::string EscapeControlCharacters(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 15];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace quorbel
