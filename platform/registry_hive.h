// The hive file behind one registry root: an in-memory key tree, its REGEDIT4-style text form,
// and the file operations (tolerant load, atomic save, the writers' lock file).
//
// Text form:
//     REGEDIT4
//
//     [HKEY_CURRENT_USER\Software\Dorvex\Quorbel\Options\Extract]
//     "bOverwrite"="1"
//     "Blob"=hex:01,ff,00
//     @="the value with the empty name"
//
// Every key is written as its full path in brackets (root name first), parents before children,
// sub-keys in creation order; a key without values is its bracket line alone. In quoted names and
// texts a backslash is written \\, a quote \", newline \n, carriage return \r, tab \t and any
// other byte below 0x20 (and 0x7f) as \xHH with two hex digits; every other byte, UTF-8
// included, is written as it is, so any byte string round-trips. Binary data is "hex:" followed
// by comma-separated two-digit bytes; a hex list may continue on the next line after a trailing
// backslash, as regedit writes long blocks. Reading skips blank lines, CRLF endings, ';' comments
// and every line it cannot understand.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorbel {

// Key and value names compare without regard to ASCII case, as the registry does.
bool RegistryNameEquals(std::string_view a, std::string_view b);

// The registry's own depth limit; it also bounds the recursion over a tree read from a file.
constexpr size_t kMaxRegistryKeyDepth = 512;

// Splits a backslash-separated key path into names; empty names (a leading, doubled or trailing
// backslash) are dropped. False when a name holds a control byte (a key name must fit on its
// bracket line) or the path is deeper than kMaxRegistryKeyDepth.
bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names);

// Text escaping of quoted names and texts (see above); Unescape is false on a malformed escape.
std::string EscapeRegistryText(std::string_view text);
bool UnescapeRegistryText(std::string_view escaped, std::string& text);

struct HiveValue {
    std::string name;
    bool binary = false;
    std::string text;           // when !binary
    std::vector<uint8_t> data;  // when binary
};

class HiveKey {
public:
    explicit HiveKey(std::string name) : name_(std::move(name)) {}
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;
    HiveKey(HiveKey&&) = default;
    HiveKey& operator=(HiveKey&&) = default;

    const std::string& name() const { return name_; }
    const std::vector<std::unique_ptr<HiveKey>>& sub_keys() const { return sub_keys_; }
    const std::vector<HiveValue>& values() const { return values_; }

    HiveKey* FindSubKey(std::string_view name);
    const HiveKey* FindSubKey(std::string_view name) const;
    // The existing sub-key of that name, or a new one appended after the others.
    HiveKey& CreateSubKey(std::string_view name);
    // Removes the sub-key with everything below it; false when there is none.
    bool DeleteSubKey(std::string_view name);

    const HiveValue* FindValue(std::string_view name) const;
    // Both replace a value of the same name (keeping its place and the case of its name)
    // whatever its kind; they return false when the value was already exactly that.
    bool SetText(std::string_view name, std::string_view text);
    bool SetBinary(std::string_view name, const std::vector<uint8_t>& data);
    bool DeleteValue(std::string_view name);
    // Removes every value and sub-key.
    void Clear();

private:
    HiveValue* MutableValue(std::string_view name);
    HiveValue& SlotFor(std::string_view name);

    std::string name_;
    std::vector<HiveValue> values_;
    std::vector<std::unique_ptr<HiveKey>> sub_keys_;
};

class RegistryHive {
public:
    // `root_name` is the name of the hive's top key ("HKEY_CURRENT_USER").
    explicit RegistryHive(std::string root_name) : root_(std::move(root_name)) {}

    HiveKey& root() { return root_; }
    const HiveKey& root() const { return root_; }

    // `names` are the key names below the root, as SplitRegistryPath gives them; an empty list
    // is the root itself.
    HiveKey* FindKey(const std::vector<std::string>& names);
    const HiveKey* FindKey(const std::vector<std::string>& names) const;
    HiveKey& CreateKey(const std::vector<std::string>& names);
    // The root itself cannot be deleted (false), nor a missing key.
    bool DeleteKey(const std::vector<std::string>& names);

    std::string ToText() const;
    // Replaces the tree with what can be understood of `text`: a damaged line is skipped, and
    // values after a damaged key line or a key of another root are skipped up to the next key.
    void FromText(std::string_view text);

    enum class LoadResult { Loaded, Missing, Failed };
    // A missing file (or folder) is an empty hive; Failed (also an empty hive) when the path
    // exists but cannot be read as a file.
    LoadResult Load(const std::string& file);
    // The file's bytes as Load reads them (nothing unless Loaded).
    static LoadResult ReadFile(const std::string& file, std::string& bytes);
    // Writes a temporary file beside `file`, flushes it to disk and renames it over `file`, so a
    // reader sees the old or the new hive, never a torn one. False (and `file` untouched) on any
    // failure.
    bool Save(const std::string& file) const;

private:
    HiveKey root_;
};

// Exclusive flock() on "<hive file>.lock", held for the lifetime of the object: a writer holds
// it across re-read, change and save. The lock file stays in place; removing it would let two
// writers lock different files.
class HiveLock {
public:
    explicit HiveLock(const std::string& hive_file);
    ~HiveLock();
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Creates `dir` and any missing parent with mode 0700; true when it is a folder afterwards.
bool EnsureRegistryDirectory(const std::string& dir);

}  // namespace quorbel
