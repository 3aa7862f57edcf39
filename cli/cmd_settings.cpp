// quorbel-cli settings: read and change the settings store from the command line.
#include <algorithm>
#include <optional>

#include "cli/commands.h"
#include "platform/registry_access.h"
#include "platform/registry_hive.h"

namespace quorbel::cli {

namespace {

constexpr const char* kUsage =
    "usage: quorbel-cli settings get KEY NAME | set KEY NAME TEXT | list KEY | delete KEY [NAME]";

struct KeyAddress {
    RegistryRoot root;
    std::string path;     // below the root
    std::string display;  // the full key, for messages
};

// KEY is absolute when its first name is a root, else relative to the program key.
KeyAddress ResolveKey(std::string key) {
    std::replace(key.begin(), key.end(), '/', '\\');
    size_t sep = key.find('\\');
    if (std::optional<RegistryRoot> root = RegistryRootFromName(key.substr(0, sep))) {
        std::string path = sep == std::string::npos ? std::string() : key.substr(sep + 1);
        return {*root, path, key};
    }
    std::string path = AppRegistry::FullPath(key);
    return {RegistryRoot::CurrentUser, path,
            std::string(RegistryRootName(RegistryRoot::CurrentUser)) + "\\" + path};
}

int Usage(TextOut& err, const char* form) {
    if (form)
        err << "usage: quorbel-cli settings " << form << "\n";
    else
        err << kUsage << "\n";
    return 2;
}

int WriteFailed(TextOut& err) {
    err << "quorbel-cli settings: cannot write the settings store in " << RegistryDirectory()
        << "\n";
    return 1;
}

const std::string* FindText(const RegistryAccess::TextValues& values, const std::string& name) {
    for (const auto& [value_name, text] : values)
        if (RegistryNameEquals(value_name, name)) return &text;
    return nullptr;
}

bool HasName(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return RegistryNameEquals(n, name); });
}

}  // namespace

int RunSettingsCommand(const std::vector<std::string>& args, TextOut& out,
                       TextOut& err) {
    if (args.size() < 2) return Usage(err, nullptr);
    const std::string& sub = args[1];
    RegistryAccess registry;

    if (sub == "get") {
        if (args.size() != 4) return Usage(err, "get KEY NAME");
        KeyAddress key = ResolveKey(args[2]);
        // Enumerating tells a missing value from an empty one, which ReadText cannot.
        const std::string* text = FindText(registry.EnumTextValues(key.root, key.path), args[3]);
        if (!text) {
            err << "quorbel-cli settings: no text value \"" << args[3] << "\" in " << key.display
                << "\n";
            return 1;
        }
        out << *text << "\n";
        return 0;
    }
    if (sub == "set") {
        if (args.size() != 5) return Usage(err, "set KEY NAME TEXT");
        KeyAddress key = ResolveKey(args[2]);
        return registry.WriteText(key.root, key.path, args[3], args[4]) ? 0 : WriteFailed(err);
    }
    if (sub == "list") {
        if (args.size() != 3) return Usage(err, "list KEY");
        KeyAddress key = ResolveKey(args[2]);
        if (!registry.KeyExists(key.root, key.path)) {
            err << "quorbel-cli settings: no key " << key.display << "\n";
            return 1;
        }
        for (const auto& [name, text] : registry.EnumTextValues(key.root, key.path))
            out << name << "=" << text << "\n";
        for (const std::string& name : registry.EnumSubKeys(key.root, key.path))
            out << "[" << name << "]\n";
        return 0;
    }
    if (sub == "delete") {
        if (args.size() != 3 && args.size() != 4) return Usage(err, "delete KEY [NAME]");
        KeyAddress key = ResolveKey(args[2]);
        if (args.size() == 4) {
            const std::string& name = args[3];
            bool present = FindText(registry.EnumTextValues(key.root, key.path), name) ||
                           HasName(registry.EnumNonTextValues(key.root, key.path), name);
            if (!present) {
                err << "quorbel-cli settings: no value \"" << name << "\" in " << key.display
                    << "\n";
                return 1;
            }
            return registry.DeleteValue(key.root, key.path, name) ? 0 : WriteFailed(err);
        }
        if (!registry.KeyExists(key.root, key.path)) {
            err << "quorbel-cli settings: no key " << key.display << "\n";
            return 1;
        }
        std::vector<std::string> names;
        if (SplitRegistryPath(key.path, names) && names.empty()) {
            err << "quorbel-cli settings: a root key cannot be deleted\n";
            return 1;
        }
        return registry.DeleteKey(key.root, key.path) ? 0 : WriteFailed(err);
    }
    return Usage(err, nullptr);
}

}  // namespace quorbel::cli
