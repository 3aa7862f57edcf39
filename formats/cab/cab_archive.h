// Microsoft cabinet files: listed from the header and file table by the program itself, and
// extracted through the cabinet library (libquorbel-cabinet.so, loaded by name). Read-only:
// adding, deleting, renaming and self-extractors keep the base behaviour ("CAB").
#pragma once

#include <string>

#include "core/archive_handler.h"
#include "formats/cab/cab_directory.h"
#include "formats/cab/fdi/fdi.h"

namespace quorbel {

class CabArchive : public ArchiveHandler {
public:
    CabArchive();
    ~CabArchive() override;

    // 1; 0 with "not a CAB file" when the header or table is not a cabinet's (no members, a
    // version other than 1.3, a table offset outside the file); 2 when stopped. Members whose
    // data begins in the previous cabinet are not listed (they belong to that one's listing);
    // a table cut short lists the members before the cut. The cabinet library is not needed.
    int ReadDirectory() override;
    // The member through the cabinet library, into memory: the library must report success
    // and deliver exactly the listed size, else status 12 with the "unexpected data" message.
    // A member that runs on into the next cabinets takes them from the cabinet's own folder.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    // The same, written straight into the extraction's file as the library delivers it.
    bool UnpacksToFile() const override { return true; }
    int UnpackEntryToFile(const ArchiveEntry& entry, int fd) override;
    bool CanExtract() override { return true; }
    void Close() override;

    // What the header said (the statistics and tests read it).
    const cab::CabDirectory& Directory() const { return directory_; }
    // The member's position in the cabinet's file table and its stored name bytes.
    bool MemberOf(const ArchiveEntry& entry, uint32_t& index, std::string& raw_name) const;

private:
    void DestroyContext();
    // One member through the library into `fd`, or into `block` when fd is -1.
    int CopyMember(const ArchiveEntry& entry, int fd, MemoryBlock& block);

    cab::CabDirectory directory_;
    FdiContext context_ = nullptr;
    FdiErrorRecord error_{};
};

}  // namespace quorbel
