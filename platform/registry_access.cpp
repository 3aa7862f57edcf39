#include "platform/registry_access.h"

#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>

#include <pwd.h>
#include <unistd.h>

#include "platform/registry_hive.h"

namespace quorbel {

namespace {

struct RootEntry {
    RegistryRoot root;
    const char* name;
};

constexpr RootEntry kRoots[] = {
    {RegistryRoot::CurrentUser, "HKEY_CURRENT_USER"},
    {RegistryRoot::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {RegistryRoot::ClassesRoot, "HKEY_CLASSES_ROOT"},
};

// An empty variable counts as unset, so a test can switch one off.
const char* EnvOrNull(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string HomeFolder() {
    if (const char* home = EnvOrNull("HOME")) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return ".";
}

std::string HiveFile(const std::string& dir, RegistryRoot root) {
    return dir + "/" + RegistryRootName(root) + ".reg";
}

// The hive as a reader sees it: no lock, and whatever cannot be read is empty. Opening an
// archive reads dozens of values, so the last parse of each hive is kept and used again
// while the file holds the very same bytes.
std::shared_ptr<const RegistryHive> LoadForReading(RegistryRoot root) {
    struct Parsed {
        std::string file, bytes;
        std::shared_ptr<const RegistryHive> hive;
    };
    static std::mutex lock;
    static Parsed parsed[std::size(kRoots)];
    const std::string file = HiveFile(RegistryDirectory(), root);
    std::string bytes;
    if (RegistryHive::ReadFile(file, bytes) != RegistryHive::LoadResult::Loaded)
        return std::make_shared<const RegistryHive>(RegistryRootName(root));
    Parsed& last = parsed[size_t(root) % std::size(kRoots)];
    std::lock_guard<std::mutex> hold(lock);
    if (!last.hive || last.file != file || last.bytes != bytes) {
        auto hive = std::make_shared<RegistryHive>(RegistryRootName(root));
        hive->FromText(bytes);
        last = {file, std::move(bytes), std::move(hive)};
    }
    return last.hive;
}

const HiveKey* FindKey(const RegistryHive& hive, const std::string& path) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names)) return nullptr;
    return hive.FindKey(names);
}

// One read-modify-write of a hive under its lock. `change` edits the freshly read tree and
// says whether it changed anything; an unchanged hive is not written again.
bool ModifyHive(RegistryRoot root, const std::function<bool(RegistryHive&)>& change) {
    const std::string dir = RegistryDirectory();
    if (!EnsureRegistryDirectory(dir)) return false;
    const std::string file = HiveFile(dir, root);
    HiveLock lock(file);
    if (!lock.locked()) return false;
    RegistryHive hive(RegistryRootName(root));
    // Saving over a hive we could not read would throw its content away.
    if (hive.Load(file) == RegistryHive::LoadResult::Failed) return false;
    if (!change(hive)) return true;
    return hive.Save(file);
}

bool WriteValue(RegistryRoot root, const std::string& path,
                const std::function<bool(HiveKey&)>& set) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names)) return false;
    return ModifyHive(root, [&](RegistryHive& hive) {
        bool created = hive.FindKey(names) == nullptr;
        return set(hive.CreateKey(names)) || created;
    });
}

}  // namespace

std::optional<RegistryRoot> RegistryRootFromName(const std::string& name) {
    for (const RootEntry& entry : kRoots)
        if (RegistryNameEquals(name, entry.name)) return entry.root;
    return std::nullopt;
}

const char* RegistryRootName(RegistryRoot root) {
    for (const RootEntry& entry : kRoots)
        if (entry.root == root) return entry.name;
    return kRoots[0].name;
}

std::string RegistryDirectory() {
    if (const char* dir = EnvOrNull("QUORBEL_REGISTRY_DIR")) return dir;
    // The XDG base-directory rules ignore a relative XDG_CONFIG_HOME.
    const char* config = EnvOrNull("XDG_CONFIG_HOME");
    std::string base = config && config[0] == '/' ? std::string(config) : HomeFolder() + "/.config";
    return base + "/dorvex/registry";
}

std::string RegistryAccess::ReadText(RegistryRoot root, const std::string& path,
                                     const std::string& name, const std::string& fallback) {
    const auto hive = Hive(root);
    const HiveKey* key = FindKey(*hive, path);
    const HiveValue* value = key ? key->FindValue(name) : nullptr;
    return value && !value->binary ? value->text : fallback;
}

long long RegistryAccess::ReadInteger(RegistryRoot root, const std::string& path,
                                      const std::string& name, long long fallback) {
    const auto hive = Hive(root);
    const HiveKey* key = FindKey(*hive, path);
    const HiveValue* value = key ? key->FindValue(name) : nullptr;
    if (!value || value->binary) return fallback;
    // strtoll's rules: leading blanks and a sign, then the leading digits; none at all is 0.
    return std::strtoll(value->text.c_str(), nullptr, 10);
}

std::optional<std::vector<uint8_t>> RegistryAccess::ReadBinary(RegistryRoot root,
                                                               const std::string& path,
                                                               const std::string& name) {
    const auto hive = Hive(root);
    const HiveKey* key = FindKey(*hive, path);
    const HiveValue* value = key ? key->FindValue(name) : nullptr;
    if (!value || !value->binary) return std::nullopt;
    return value->data;
}

std::shared_ptr<const RegistryHive> RegistryAccess::Hive(RegistryRoot root) {
    if (reading_ == Reading::Fresh) return LoadForReading(root);
    auto& held = held_[size_t(root) % std::size(held_)];
    if (!held) held = LoadForReading(root);
    return held;
}

bool RegistryAccess::Forget(RegistryRoot root, bool result) {
    held_[size_t(root) % std::size(held_)].reset();
    return result;
}

bool RegistryAccess::WriteText(RegistryRoot root, const std::string& path,
                               const std::string& name, const std::string& text) {
    return Forget(root, WriteValue(root, path, [&](HiveKey& key) { return key.SetText(name, text); }));
}

bool RegistryAccess::WriteInteger(RegistryRoot root, const std::string& path,
                                  const std::string& name, long long value) {
    return WriteText(root, path, name, std::to_string(value));
}

bool RegistryAccess::WriteBinary(RegistryRoot root, const std::string& path,
                                 const std::string& name, const std::vector<uint8_t>& data) {
    return Forget(root, WriteValue(root, path, [&](HiveKey& key) { return key.SetBinary(name, data); }));
}

bool RegistryAccess::DeleteValue(RegistryRoot root, const std::string& path,
                                 const std::string& name) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names)) return false;
    // Nothing to delete needs no lock and no folder.
    {
        const auto current = LoadForReading(root);
        const HiveKey* key = current->FindKey(names);
        if (!key || !key->FindValue(name)) return true;
    }
    return Forget(root, ModifyHive(root, [&](RegistryHive& hive) {
        HiveKey* key = hive.FindKey(names);
        return key && key->DeleteValue(name);
    }));
}

bool RegistryAccess::DeleteKey(RegistryRoot root, const std::string& path) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names) || names.empty()) return false;  // a root stays
    if (!LoadForReading(root)->FindKey(names)) return true;
    return Forget(root, ModifyHive(root, [&](RegistryHive& hive) { return hive.DeleteKey(names); }));
}

bool RegistryAccess::KeyExists(RegistryRoot root, const std::string& path) {
    return FindKey(*Hive(root), path) != nullptr;
}

bool RegistryAccess::ReplaceTextValues(RegistryRoot root, const std::string& path,
                                       const std::function<TextValues(TextValues)>& change) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names) || names.empty()) return false;
    return Forget(root, ModifyHive(root, [&](RegistryHive& hive) {
        HiveKey* key = hive.FindKey(names);
        TextValues before;
        if (key)
            for (const HiveValue& v : key->values())
                if (!v.binary) before.emplace_back(v.name, v.text);
        const bool only_text = key && key->sub_keys().empty() &&
                               before.size() == key->values().size();
        TextValues after = change(before);
        if (after == before && (only_text || !key)) return false;
        if (!key && after.empty()) return false;
        HiveKey& target = key ? *key : hive.CreateKey(names);
        target.Clear();
        for (const auto& [name, text] : after) target.SetText(name, text);
        return true;
    }));
}

const RegistryAccess::TextValues& RegistryAccess::EnumTextValues(RegistryRoot root,
                                                                 const std::string& path) {
    text_values_.clear();
    const auto hive = Hive(root);
    if (const HiveKey* key = FindKey(*hive, path))
        for (const HiveValue& v : key->values())
            if (!v.binary) text_values_.emplace_back(v.name, v.text);
    return text_values_;
}

const std::vector<std::string>& RegistryAccess::EnumNonTextValues(RegistryRoot root,
                                                                  const std::string& path) {
    names_.clear();
    const auto hive = Hive(root);
    if (const HiveKey* key = FindKey(*hive, path))
        for (const HiveValue& v : key->values())
            if (v.binary) names_.push_back(v.name);
    return names_;
}

const std::vector<std::string>& RegistryAccess::EnumSubKeys(RegistryRoot root,
                                                            const std::string& path) {
    names_.clear();
    const auto hive = Hive(root);
    if (const HiveKey* key = FindKey(*hive, path))
        for (const auto& sub : key->sub_keys()) names_.push_back(sub->name());
    return names_;
}

std::string AppRegistry::FullPath(const std::string& relative) {
    std::string base = kBase;
    size_t first = relative.find_first_not_of('\\');
    if (first == std::string::npos) {
        base.pop_back();  // the program key itself, without the separator
        return base;
    }
    return base + relative.substr(first);
}

std::string AppRegistry::ReadText(const std::string& path, const std::string& name,
                                  const std::string& fallback) {
    return access_.ReadText(RegistryRoot::CurrentUser, FullPath(path), name, fallback);
}

long long AppRegistry::ReadInteger(const std::string& path, const std::string& name,
                                   long long fallback) {
    return access_.ReadInteger(RegistryRoot::CurrentUser, FullPath(path), name, fallback);
}

std::optional<std::vector<uint8_t>> AppRegistry::ReadBinary(const std::string& path,
                                                            const std::string& name) {
    return access_.ReadBinary(RegistryRoot::CurrentUser, FullPath(path), name);
}

bool AppRegistry::WriteText(const std::string& path, const std::string& name,
                            const std::string& text) {
    return access_.WriteText(RegistryRoot::CurrentUser, FullPath(path), name, text);
}

bool AppRegistry::WriteInteger(const std::string& path, const std::string& name, long long value) {
    return access_.WriteInteger(RegistryRoot::CurrentUser, FullPath(path), name, value);
}

bool AppRegistry::WriteBinary(const std::string& path, const std::string& name,
                              const std::vector<uint8_t>& data) {
    return access_.WriteBinary(RegistryRoot::CurrentUser, FullPath(path), name, data);
}

bool AppRegistry::DeleteValue(const std::string& path, const std::string& name) {
    return access_.DeleteValue(RegistryRoot::CurrentUser, FullPath(path), name);
}

bool AppRegistry::DeleteKey(const std::string& path) {
    return access_.DeleteKey(RegistryRoot::CurrentUser, FullPath(path));
}

bool AppRegistry::KeyExists(const std::string& path) {
    return access_.KeyExists(RegistryRoot::CurrentUser, FullPath(path));
}

bool AppRegistry::ReplaceTextValues(
    const std::string& path,
    const std::function<RegistryAccess::TextValues(RegistryAccess::TextValues)>& change) {
    return access_.ReplaceTextValues(RegistryRoot::CurrentUser, FullPath(path), change);
}

const RegistryAccess::TextValues& AppRegistry::EnumTextValues(const std::string& path) {
    return access_.EnumTextValues(RegistryRoot::CurrentUser, FullPath(path));
}

const std::vector<std::string>& AppRegistry::EnumNonTextValues(const std::string& path) {
    return access_.EnumNonTextValues(RegistryRoot::CurrentUser, FullPath(path));
}

const std::vector<std::string>& AppRegistry::EnumSubKeys(const std::string& path) {
    return access_.EnumSubKeys(RegistryRoot::CurrentUser, FullPath(path));
}

}  // namespace quorbel
