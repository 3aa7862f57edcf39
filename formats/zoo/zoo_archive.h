// ZOO archives: listed and unpacked by the program itself (methods 0, 1 LZW and 2 -lh5-);
// additions and deletions go through the ZOO archiver, which cannot add folder trees here.
#pragma once

#include <unordered_map>

#include "formats/external/external_archive.h"
#include "formats/zoo/zoo_directory.h"

namespace quorbel {

class ZooArchive : public ExternalArchive {
public:
    ZooArchive();
    // 6 for a wrong header tag; a broken chain ends the listing with the entries read so far.
    int ReadDirectory() override;
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    bool CanMakeSfx() override { return false; }
    bool CanAddFolder() override { return false; }
    void Close() override;

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<ZooArchive>();
    }
    bool CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const override;

private:
    std::unordered_map<int64_t, zoo::ZooMember> members_;  // by header offset
};

}  // namespace quorbel
