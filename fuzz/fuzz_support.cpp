#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace quorbel::fuzz {

const std::string& Scratch() {
    static const std::string scratch = [] {
        std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/quorbel-fuzz-XXXXXX";
        char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        const std::string root = made;
        for (const char* sub : {"/registry", "/tmp", "/runtime", "/data", "/config", "/work"})
            std::filesystem::create_directories(root + sub);
        setenv("QUORBEL_REGISTRY_DIR", (root + "/registry").c_str(), 1);
        setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("HOME", root.c_str(), 1);
        setenv("TZ", "UTC", 1);
        // The scratch tree goes with the process, however it ends.
        static std::string to_remove = root;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(to_remove, ignored);
        });
        return root + "/work";
    }();
    return scratch;
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void EmptyFolder(const std::string& folder) {
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(folder, ignored))
        std::filesystem::remove_all(item.path(), ignored);
}

}  // namespace quorbel::fuzz

