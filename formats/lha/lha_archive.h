// LHA/LZH archives: listed and unpacked by the program itself (-lh0-, -lh1-, -lh4- to -lh7-;
// -lhd- members are folders); members of other methods, additions and deletions go through the
// LHA archiver.
#pragma once

#include <unordered_map>

#include "formats/external/external_archive.h"
#include "formats/lha/lha_directory.h"

namespace quorbel {

class LhaArchive : public ExternalArchive {
public:
    LhaArchive();
    // 6 when no header is found; 0 when the chain breaks the format's rules (a level-0/1
    // checksum, an unknown level); 2 when stopped.
    int ReadDirectory() override;
    // Natively with the CRC-16 and length checked; methods without an engine here through the
    // archiver.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    int AddFile(const std::string& disk_path, const std::string& base_folder,
                const std::string& archive_folder) override;
    void Close() override;

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<LhaArchive>();
    }
    bool CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const override;

private:
    std::unordered_map<int64_t, lha::LhaMember> members_;  // by header offset
};

}  // namespace quorbel
