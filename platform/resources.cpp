#include "platform/resources.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace quorbel {

namespace {

// The keystream repeats after this many bytes; a prime length keeps it from lining up with the
// power-of-two structures of the data it hides.
constexpr size_t kKeyLength = 65521;

struct Entry {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool scrambled = true;
    std::shared_ptr<const std::vector<uint8_t>> owned;  // set for AddResource copies
};

struct Registry {
    std::mutex mutex;
    std::map<std::pair<std::string, int>, Entry> entries;
};

// Built on first use: generated sources register while static objects are initialised, in an
// order the linker chooses.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

uint64_t Fnv1a64(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::vector<uint8_t> KeyFor(const std::string& type, int id) {
    uint64_t state = Fnv1a64(type + ":" + std::to_string(id));
    std::vector<uint8_t> key(kKeyLength);
    for (auto& k : key) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        k = uint8_t(state >> 56);
    }
    return key;
}

}  // namespace

void ScrambleResource(const std::string& type, int id, uint8_t* data, size_t size) {
    std::vector<uint8_t> key = KeyFor(type, id);
    size_t k = 0;
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= key[k];
        if (++k == kKeyLength) k = 0;
    }
}

bool RegisterEmbeddedResources(const EmbeddedResource* table, size_t count) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (size_t i = 0; i < count; ++i) {
        Entry e;
        e.data = table[i].data;
        e.size = table[i].size;
        registry.entries[{table[i].type, table[i].id}] = std::move(e);
    }
    return true;
}

void AddResource(const std::string& type, int id, std::vector<uint8_t> plain) {
    auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(plain));
    Entry e;
    e.data = owned->data();
    e.size = owned->size();
    e.scrambled = false;
    e.owned = std::move(owned);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.entries[{type, id}] = std::move(e);
}

std::optional<std::vector<uint8_t>> LoadResource(const std::string& type, int id) {
    Entry e;
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto it = registry.entries.find({type, id});
        if (it == registry.entries.end()) return std::nullopt;
        e = it->second;  // the shared copy keeps an owned blob alive after the lock
    }
    std::vector<uint8_t> bytes(e.data, e.data + e.size);
    if (e.scrambled) ScrambleResource(type, id, bytes.data(), bytes.size());
    return bytes;
}

}  // namespace quorbel
