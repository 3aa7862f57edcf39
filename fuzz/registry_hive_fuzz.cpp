// The settings hive text another process or a person may have written: whatever is read, its
// text form must read back to the same tree.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/registry_hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    RegistryHive first("HKEY_CURRENT_USER");
    first.FromText(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string text = first.ToText();
    RegistryHive second("HKEY_CURRENT_USER");
    second.FromText(text);
    if (second.ToText() != text) {
        std::fprintf(stderr, "hive text does not round-trip\n");
        std::abort();
    }
    // The tree as callers walk it.
    std::vector<std::string> names;
    SplitRegistryPath(std::string_view(reinterpret_cast<const char*>(data), size), names);
    if (second.FindKey(names)) second.DeleteKey(names);
    std::string unescaped;
    UnescapeRegistryText(std::string_view(reinterpret_cast<const char*>(data), size), unescaped);
    return 0;
}
