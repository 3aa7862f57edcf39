#include "core/type_cache.h"

#include <deque>
#include <unordered_map>

#include "core/messages.h"
#include "platform/shell.h"

namespace quorbel {

struct TypeCache::Impl {
    std::deque<FileType> rows;  // a deque keeps references stable while it grows
    std::unordered_map<std::string, int> by_key;
};

TypeCache& TypeCache::Instance() {
    static TypeCache cache;
    return cache;
}

TypeCache::Impl* TypeCache::impl() {
    static Impl data;
    return &data;
}

int TypeCache::Lookup(const std::string& file_name) {
    Impl* d = impl();
    size_t slash = file_name.find_last_of("\\/");
    std::string base = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
    size_t dot = base.rfind('.');
    std::string key = dot == std::string::npos ? std::string() : base.substr(dot + 1);
    auto it = d->by_key.find(key);
    if (it != d->by_key.end()) return it->second;
    FileType row;
    // The desktop's type database answers from the extension alone; no scratch file needed.
    std::string probe = "file." + key;
    row.name = key.empty() ? std::string() : MimeTypeComment(probe);
    if (row.name.empty()) row.name = StringById(text_id::kUnknownType);
    row.icon_name = key.empty() ? std::string() : MimeIconName(probe);
    d->rows.push_back(row);
    int index = int(d->rows.size()) - 1;
    d->by_key.emplace(key, index);
    return index;
}

const FileType& TypeCache::At(int index) const {
    return const_cast<TypeCache*>(this)->impl()->rows.at(size_t(index));
}

int TypeCache::Size() const { return int(const_cast<TypeCache*>(this)->impl()->rows.size()); }

}  // namespace quorbel
