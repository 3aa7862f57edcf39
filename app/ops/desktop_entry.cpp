#include "app/ops/desktop_entry.h"

#include <cstdlib>

namespace quorbel::xdg {

namespace {

std::string BaseFolder(const char* variable, const char* below_home) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    std::string folder = home && *home ? home : ".";
    folder += '/';
    folder += below_home;
    return folder;
}

}  // namespace

std::string DataHome() { return BaseFolder("XDG_DATA_HOME", ".local/share"); }
std::string ConfigHome() { return BaseFolder("XDG_CONFIG_HOME", ".config"); }
std::string StateHome() { return BaseFolder("XDG_STATE_HOME", ".local/state"); }

std::string EscapeValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::string ExecArgument(const std::string& argument) {
    static const std::string kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (argument.empty() || argument.find_first_of(kReserved) != std::string::npos) {
        quoted += '"';  // appended, not assigned: GCC 12 misreads the assignment under the sanitizers
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = argument;
    }
    std::string codes;
    for (char c : quoted) {
        codes += c;
        if (c == '%') codes += '%';
    }
    return EscapeValue(codes);
}

std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace quorbel::xdg
