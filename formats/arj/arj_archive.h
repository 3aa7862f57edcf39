// ARJ archives: listed and (unless garbled) unpacked by the program itself; garbled members,
// additions, deletions and self-extractors go through the ARJ archiver.
#pragma once

#include <unordered_map>

#include "formats/arj/arj_directory.h"
#include "formats/external/external_archive.h"

namespace quorbel {

class ArjArchive : public ExternalArchive {
public:
    ArjArchive();
    // 6 without a valid main header (its CRC is checked); a damaged later header ends the
    // listing there; 2 when stopped.
    int ReadDirectory() override;
    // Natively with the member's CRC-32 and length checked; garbled members through the
    // archiver with the program's password.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    void Close() override;

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<ArjArchive>();
    }

private:
    std::unordered_map<int64_t, arj::ArjMember> members_;  // by header offset
};

}  // namespace quorbel
