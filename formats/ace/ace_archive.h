// ACE archives: listed and (unless encrypted) unpacked by the program itself, solid archives
// and volume sets included; encrypted members, additions, deletions and self-extractors go
// through the ACE archiver.
#pragma once

#include <vector>

#include "formats/ace/ace_directory.h"
#include "formats/ace/ace_unpack.h"
#include "formats/external/external_archive.h"

namespace quorbel {

class AceArchive : public ExternalArchive {
public:
    AceArchive();
    // 6 without a valid main header in the first 64 KiB; a damaged later header ends the
    // listing there; a missing next volume ends it too, with the members found so far listed
    // and MissingVolume() naming the volume (also the last message); 2 when stopped.
    int ReadDirectory() override;
    // Natively, members of a solid archive decoded in order from the first; the length and
    // the CRC-32 are checked (12 on a mismatch). Encrypted members through the archiver.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    // Symbolic links are listed, never written.
    int ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                     bool use_folder_names, std::string* out_path, bool write) override;
    // An archive holding an encrypted member is changed only with the password known.
    int DeleteEntry(int index, bool save_now) override;
    void Close() override;

    const std::string& MissingVolume() const { return directory_.missing_volume; }
    const ace::AceDirectory& Directory() const { return directory_; }

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<AceArchive>();
    }

private:
    // The member an entry was made from; null for an entry that is not in the list.
    const ace::AceMember* MemberOf(const ArchiveEntry& entry) const;

    ace::AceDirectory directory_;
    // Where the decoding of a solid archive stands: the members before `next` are in the
    // decoder's window, so members unpacked in archive order are each decoded once.
    struct SolidCursor {
        std::unique_ptr<ace::AceDecoder> decoder;
        size_t next = 0;
    };
    SolidCursor solid_;
};

}  // namespace quorbel
