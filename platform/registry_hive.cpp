#include "platform/registry_hive.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorbel {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && RegistryNameEquals(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

const char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0xf];
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    size_t i = pos + 1;
    while (i < s.size()) {
        if (s[i] == '\\') {
            // The byte after a backslash never closes the string (\xHH digits are no quotes).
            i += 2;
            continue;
        }
        if (s[i] == '"') {
            if (!UnescapeRegistryText(s.substr(pos + 1, i - pos - 1), out)) return false;
            pos = i + 1;
            return true;
        }
        ++i;
    }
    return false;
}

bool ParseHexList(std::string_view s, std::vector<uint8_t>& out) {
    out.clear();
    s = Trim(s);
    if (s.empty()) return true;
    while (true) {
        size_t comma = s.find(',');
        std::string_view item = Trim(s.substr(0, comma));
        if (item.empty() || item.size() > 2) return false;
        int value = 0;
        for (char c : item) {
            int d = HexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        out.push_back(uint8_t(value));
        if (comma == std::string_view::npos) return true;
        s.remove_prefix(comma + 1);
    }
}

void WriteKey(const HiveKey& key, std::string& path, std::string& out, bool is_root) {
    // The root line is only needed when the root itself holds values.
    if (!is_root || !key.values().empty()) {
        out += "\n[";
        out += path;
        out += "]\n";
    }
    for (const HiveValue& v : key.values()) {
        if (v.name.empty()) {
            out += '@';
        } else {
            out += '"';
            out += EscapeRegistryText(v.name);
            out += '"';
        }
        out += '=';
        if (v.binary) {
            out += "hex:";
            for (size_t i = 0; i < v.data.size(); ++i) {
                if (i) out += ',';
                AppendHexByte(out, v.data[i]);
            }
        } else {
            out += '"';
            out += EscapeRegistryText(v.text);
            out += '"';
        }
        out += '\n';
    }
    for (const auto& sub : key.sub_keys()) {
        size_t old_size = path.size();
        path += '\\';
        path += sub->name();
        WriteKey(*sub, path, out, false);
        path.resize(old_size);
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string ParentFolder(const std::string& file) {
    size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return file.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool RegistryNameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names) {
    names.clear();
    while (!path.empty()) {
        size_t sep = path.find('\\');
        std::string_view name = path.substr(0, sep);
        if (!name.empty()) {
            for (char c : name)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
            if (names.size() == kMaxRegistryKeyDepth) return false;
            names.emplace_back(name);
        }
        if (sep == std::string_view::npos) break;
        path.remove_prefix(sep + 1);
    }
    return true;
}

std::string EscapeRegistryText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (b < 0x20 || b == 0x7f) {
                    out += "\\x";
                    AppendHexByte(out, b);
                } else {
                    out += c;
                }
        }
    }
    return out;
}

bool UnescapeRegistryText(std::string_view escaped, std::string& text) {
    text.clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i >= escaped.size()) return false;
        switch (escaped[i]) {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case 'x': {
                if (i + 2 >= escaped.size()) return false;
                int hi = HexDigit(escaped[i + 1]), lo = HexDigit(escaped[i + 2]);
                if (hi < 0 || lo < 0) return false;
                text += char(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

HiveKey* HiveKey::FindSubKey(std::string_view name) {
    for (auto& sub : sub_keys_)
        if (RegistryNameEquals(sub->name(), name)) return sub.get();
    return nullptr;
}

const HiveKey* HiveKey::FindSubKey(std::string_view name) const {
    return const_cast<HiveKey*>(this)->FindSubKey(name);
}

HiveKey& HiveKey::CreateSubKey(std::string_view name) {
    if (HiveKey* existing = FindSubKey(name)) return *existing;
    sub_keys_.push_back(std::make_unique<HiveKey>(std::string(name)));
    return *sub_keys_.back();
}

bool HiveKey::DeleteSubKey(std::string_view name) {
    for (auto it = sub_keys_.begin(); it != sub_keys_.end(); ++it) {
        if (RegistryNameEquals((*it)->name(), name)) {
            // Destroying the node frees its sub-keys first, deepest first.
            sub_keys_.erase(it);
            return true;
        }
    }
    return false;
}

const HiveValue* HiveKey::FindValue(std::string_view name) const {
    return const_cast<HiveKey*>(this)->MutableValue(name);
}

HiveValue* HiveKey::MutableValue(std::string_view name) {
    for (HiveValue& v : values_)
        if (RegistryNameEquals(v.name, name)) return &v;
    return nullptr;
}

HiveValue& HiveKey::SlotFor(std::string_view name) {
    if (HiveValue* existing = MutableValue(name)) return *existing;
    values_.push_back(HiveValue{std::string(name), false, {}, {}});
    return values_.back();
}

bool HiveKey::SetText(std::string_view name, std::string_view text) {
    if (const HiveValue* old = FindValue(name); old && !old->binary && old->text == text)
        return false;
    HiveValue& v = SlotFor(name);
    v.binary = false;
    v.data.clear();
    v.text = text;
    return true;
}

bool HiveKey::SetBinary(std::string_view name, const std::vector<uint8_t>& data) {
    if (const HiveValue* old = FindValue(name); old && old->binary && old->data == data)
        return false;
    HiveValue& v = SlotFor(name);
    v.binary = true;
    v.text.clear();
    v.data = data;
    return true;
}

void HiveKey::Clear() {
    values_.clear();
    sub_keys_.clear();
}

bool HiveKey::DeleteValue(std::string_view name) {
    for (auto it = values_.begin(); it != values_.end(); ++it) {
        if (RegistryNameEquals(it->name, name)) {
            values_.erase(it);
            return true;
        }
    }
    return false;
}

HiveKey* RegistryHive::FindKey(const std::vector<std::string>& names) {
    HiveKey* key = &root_;
    for (const std::string& name : names) {
        key = key->FindSubKey(name);
        if (!key) return nullptr;
    }
    return key;
}

const HiveKey* RegistryHive::FindKey(const std::vector<std::string>& names) const {
    return const_cast<RegistryHive*>(this)->FindKey(names);
}

HiveKey& RegistryHive::CreateKey(const std::vector<std::string>& names) {
    HiveKey* key = &root_;
    for (const std::string& name : names) key = &key->CreateSubKey(name);
    return *key;
}

bool RegistryHive::DeleteKey(const std::vector<std::string>& names) {
    if (names.empty()) return false;
    std::vector<std::string> parent_names(names.begin(), names.end() - 1);
    HiveKey* parent = FindKey(parent_names);
    return parent && parent->DeleteSubKey(names.back());
}

std::string RegistryHive::ToText() const {
    std::string out = "REGEDIT4\n";
    std::string path = root_.name();
    WriteKey(root_, path, out, true);
    return out;
}

void RegistryHive::FromText(std::string_view text) {
    root_.Clear();
    // Lines, without their end-of-line bytes and outer blanks.
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        lines.push_back(Trim(text.substr(0, nl)));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }

    HiveKey* current = nullptr;
    std::vector<std::string> names;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.size() < 2 || line.back() != ']') continue;
            std::string_view path = line.substr(1, line.size() - 2);
            size_t sep = path.find('\\');
            if (!RegistryNameEquals(path.substr(0, sep), root_.name())) continue;
            std::string_view below = sep == std::string_view::npos ? std::string_view() : path.substr(sep + 1);
            if (!SplitRegistryPath(below, names)) continue;
            current = &CreateKey(names);
            continue;
        }
        if (line.front() != '"' && line.front() != '@') continue;  // "REGEDIT4" and other lines
        if (!current) continue;

        std::string name;
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, name)) {
            continue;
        }
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        std::string_view rest = line.substr(pos);

        if (!rest.empty() && rest.front() == '"') {
            std::string value;
            size_t end = 0;
            if (!ParseQuoted(rest, end, value) || !Trim(rest.substr(end)).empty()) continue;
            current->SetText(name, value);
        } else if (StartsWithNoCase(rest, "hex:")) {
            std::string list(rest.substr(4));
            while (!list.empty() && list.back() == '\\' && i + 1 < lines.size()) {
                list.pop_back();
                list += lines[++i];
            }
            std::vector<uint8_t> data;
            if (!ParseHexList(list, data)) continue;
            current->SetBinary(name, data);
        }
    }
}

RegistryHive::LoadResult RegistryHive::ReadFile(const std::string& file, std::string& bytes) {
    bytes.clear();
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? LoadResult::Missing : LoadResult::Failed;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return LoadResult::Failed;
    }
    char buf[65536];
    while (true) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            bytes.clear();
            return LoadResult::Failed;
        }
        if (n == 0) break;
        bytes.append(buf, size_t(n));
    }
    close(fd);
    return LoadResult::Loaded;
}

RegistryHive::LoadResult RegistryHive::Load(const std::string& file) {
    root_.Clear();
    std::string bytes;
    const LoadResult result = ReadFile(file, bytes);
    if (result == LoadResult::Loaded) FromText(bytes);
    return result;
}

bool RegistryHive::Save(const std::string& file) const {
    std::string temp = file + ".tmp-XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, ToText()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is in place whatever this returns.
    int dir = open(ParentFolder(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

HiveLock::HiveLock(const std::string& hive_file) {
    int fd = open((hive_file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return;
        }
    }
    fd_ = fd;
}

HiveLock::~HiveLock() {
    if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
}

bool EnsureRegistryDirectory(const std::string& dir) {
    if (dir.empty()) return false;
    if (IsFolder(dir)) return true;
    // Create each missing component, parents first.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        std::string prefix = dir.substr(0, pos);
        if (prefix.empty() || prefix.back() == '/') continue;
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return IsFolder(dir);
}

}  // namespace quorbel
