// The program-wide table of file types: for each extension, the desktop's name of the type and
// the icon-theme name. It lives for the whole run and only grows.
#pragma once

#include <string>

namespace quorbel {

struct FileType {
    std::string name;       // "ZIP archive", or "Unknown"
    std::string icon_name;  // icon-theme name, "" for the generic icon
};

class TypeCache {
public:
    static TypeCache& Instance();

    // The row for a member name: keyed by its extension exactly as written (".TXT" and ".txt"
    // are separate rows). Returns the row index; the row never moves.
    int Lookup(const std::string& file_name);
    const FileType& At(int index) const;
    int Size() const;

private:
    TypeCache() = default;
    struct Impl;
    Impl* impl();
};

}  // namespace quorbel
