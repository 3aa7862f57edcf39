// The settings store: named text and binary values below keys, kept in our own hive files
// (one REGEDIT4-style text file per root) instead of the Windows registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorbel {

enum class RegistryRoot { CurrentUser, LocalMachine, ClassesRoot };

class RegistryHive;

// "HKEY_CURRENT_USER" etc. -> root; nullopt for an unknown name.
std::optional<RegistryRoot> RegistryRootFromName(const std::string& name);
const char* RegistryRootName(RegistryRoot root);

// The folder that holds the hive files: $QUORBEL_REGISTRY_DIR, else
// $XDG_CONFIG_HOME/dorvex/registry (XDG_CONFIG_HOME defaulting to ~/.config).
std::string RegistryDirectory();

// Key paths are backslash-separated; a trailing backslash is ignored; key and value names
// compare case-insensitively (as the registry does) and keep the case they were created with.
// Reads never create anything; writes create missing keys. Every write re-reads the hive,
// changes it and replaces the file atomically under a lock file, so concurrent processes never
// lose each other's values or see a torn file.
class RegistryAccess {
public:
    using TextValues = std::vector<std::pair<std::string, std::string>>;
    // Fresh: every read sees the hive file as it is at that moment. Once: the first read of a
    // root loads its hive and the object's later reads use that load, so that a group of
    // related values comes from one moment with one read of the file; a write through the
    // object loads again.
    enum class Reading { Fresh, Once };

    explicit RegistryAccess(Reading reading = Reading::Fresh) : reading_(reading) {}

    // Text of a value, or `fallback` when the key or the value is missing (or not text).
    std::string ReadText(RegistryRoot root, const std::string& path, const std::string& name,
                         const std::string& fallback = "");
    // Decimal integer stored as text; missing -> fallback; text that is not a number -> 0.
    long long ReadInteger(RegistryRoot root, const std::string& path, const std::string& name,
                          long long fallback);
    std::optional<std::vector<uint8_t>> ReadBinary(RegistryRoot root, const std::string& path,
                                                   const std::string& name);
    bool WriteText(RegistryRoot root, const std::string& path, const std::string& name,
                   const std::string& text);
    bool WriteInteger(RegistryRoot root, const std::string& path, const std::string& name,
                      long long value);
    bool WriteBinary(RegistryRoot root, const std::string& path, const std::string& name,
                     const std::vector<uint8_t>& data);
    // Deleting a value or key that is not there succeeds without writing anything.
    bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name);
    // Removes the key with all its sub-keys, deepest first; a root itself cannot be deleted.
    bool DeleteKey(RegistryRoot root, const std::string& path);
    bool KeyExists(RegistryRoot root, const std::string& path);
    // Rewrites a list kept as a key's text values in one locked read-modify-write: `change`
    // gets the text values the key has now and returns all it is to have (nothing else stays
    // below the key). Other processes read either the old list or the new one, never a part.
    bool ReplaceTextValues(RegistryRoot root, const std::string& path,
                           const std::function<TextValues(TextValues)>& change);

    // Enumerations: the results stay owned by this object until the next enumeration.
    const TextValues& EnumTextValues(RegistryRoot root, const std::string& path);
    const std::vector<std::string>& EnumNonTextValues(RegistryRoot root, const std::string& path);
    const std::vector<std::string>& EnumSubKeys(RegistryRoot root, const std::string& path);

private:
    std::shared_ptr<const RegistryHive> Hive(RegistryRoot root);
    bool Forget(RegistryRoot root, bool result);

    Reading reading_;
    std::shared_ptr<const RegistryHive> held_[3];
    TextValues text_values_;
    std::vector<std::string> names_;
};

// The same accessor fixed to HKEY_CURRENT_USER and the program key; paths are relative to
// "Software\Dorvex\Quorbel\" (an empty path is the program key itself).
class AppRegistry {
public:
    static constexpr const char* kBase = "Software\\Dorvex\\Quorbel\\";
    static std::string FullPath(const std::string& relative);

    explicit AppRegistry(RegistryAccess::Reading reading = RegistryAccess::Reading::Fresh)
        : access_(reading) {}

    std::string ReadText(const std::string& path, const std::string& name,
                         const std::string& fallback = "");
    long long ReadInteger(const std::string& path, const std::string& name, long long fallback);
    bool ReadBool(const std::string& path, const std::string& name, bool fallback) {
        return ReadInteger(path, name, fallback ? 1 : 0) != 0;
    }
    std::optional<std::vector<uint8_t>> ReadBinary(const std::string& path, const std::string& name);
    bool WriteText(const std::string& path, const std::string& name, const std::string& text);
    bool WriteInteger(const std::string& path, const std::string& name, long long value);
    bool WriteBool(const std::string& path, const std::string& name, bool value) {
        return WriteInteger(path, name, value ? 1 : 0);
    }
    bool WriteBinary(const std::string& path, const std::string& name,
                     const std::vector<uint8_t>& data);
    bool DeleteValue(const std::string& path, const std::string& name);
    bool DeleteKey(const std::string& path);
    bool KeyExists(const std::string& path);
    bool ReplaceTextValues(const std::string& path,
                           const std::function<RegistryAccess::TextValues(RegistryAccess::TextValues)>& change);
    const RegistryAccess::TextValues& EnumTextValues(const std::string& path);
    const std::vector<std::string>& EnumNonTextValues(const std::string& path);
    const std::vector<std::string>& EnumSubKeys(const std::string& path);

private:
    RegistryAccess access_;
};

}  // namespace quorbel
