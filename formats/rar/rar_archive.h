// RAR archives of the 1.5–4.x block format: listed by the program itself across the volumes
// of a set, and unpacked by the program itself when the member is packed by RAR 1.5 or 2.x
// and not encrypted. Encrypted members, later methods (when an archiver is configured),
// additions, deletions and self-extractors go through the RAR archiver.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "formats/external/external_archive.h"
#include "formats/rar/rar_directory.h"

namespace quorbel {

namespace rar {
class RarDecoder;
}

class RarArchive : public ExternalArchive {
public:
    RarArchive();
    ~RarArchive() override;
    // 6 without the marker or with a damaged first block, or an unknown block before any
    // member; a damaged later header ends the listing there; 2 when stopped; 0 with no member.
    int ReadDirectory() override;
    // Natively (with the solid members before it decoded first, and the member's parts read
    // from the volumes that hold them), the CRC and the size checked: 12 on a mismatch, 13
    // for a method this program does not decode and no archiver to hand it to.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    // Symbolic links are listed, never written.
    int ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder, bool use_folder_names,
                     std::string* out_path, bool write) override;
    // The archiver's self-extractor needs its "default.sfx" beside it.
    int SaveAs(const std::string& target_path, int64_t volume_size,
               const std::vector<uint8_t>* prefix) override;
    void Close() override;

    // The member an entry stands for (by its header's place), or null.
    const rar::RarMember* MemberOf(const ArchiveEntry& entry) const;
    const rar::RarDirectory& Directory() const { return dir_; }

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<RarArchive>();
    }

private:
    friend class RarPartsSource;
    DataStream* VolumeStream(int volume);
    // Decodes members [from, to) into nothing, for the state a solid member needs; false when
    // one of them cannot be decoded here or is damaged.
    bool DecodeSolidPrefix(size_t from, size_t to, int& status, bool& decoded);

    rar::RarDirectory dir_;
    std::unordered_map<int64_t, size_t> by_key_;  // member index by volume and header offset
    std::vector<std::unique_ptr<DataStream>> volumes_;  // opened on demand; [0] unused
    std::unique_ptr<rar::RarDecoder> decoder_;
    size_t solid_next_ = SIZE_MAX;  // the member the decoder's state is ready for
};

}  // namespace quorbel
