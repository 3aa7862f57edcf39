// JAR archives (the ARJ successor). The program cannot read their directory itself: the
// archiver writes a technical listing ("lt") into the work folder and that text is parsed.
// Every change and every extraction goes through the archiver.
#pragma once

#include <string>
#include <vector>

#include "formats/external/external_archive.h"

namespace quorbel {

class JarArchive : public ExternalArchive {
public:
    JarArchive();

    // 6 without the JAR signature at offset 14; 17 without an archiver; 6 when it wrote no
    // listing; else 1 with the members listed.
    int ReadDirectory() override;
    bool CanMakeSfx() override { return false; }

    // One member of the listing text.
    struct ListedMember {
        std::string name;
        int64_t size = -1;
        uint32_t attributes = 0;
        bool has_time = false;
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    };
    // The files of a technical listing, in order (folders and incomplete records left out).
    static std::vector<ListedMember> ParseListing(const std::string& text);
    // True when the first bytes carry the JAR signature.
    static bool HasSignature(const uint8_t* data, size_t size);

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<JarArchive>();
    }
};

}  // namespace quorbel
