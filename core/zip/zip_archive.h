// The handler of ZIP archives, read and written by the program itself.
#pragma once

#include <cstdint>
#include <string>

#include "core/archive_handler.h"

namespace quorbel {

class ZipArchive : public ArchiveHandler {
public:
    // The end-of-central-directory record, with the ZIP64 values merged in when the archive
    // carries ZIP64 end records.
    struct EndRecord {
        uint32_t disk = 0;
        uint32_t central_disk = 0;
        uint64_t entries_on_disk = 0;
        uint64_t total_entries = 0;
        uint64_t central_size = 0;
        uint64_t central_offset = 0;
        uint16_t comment_length = 0;
        int64_t position = -1;        // file offset of the 22-byte record
        int64_t central_limit = -1;   // where the central directory must end
        bool zip64 = false;
    };

    ZipArchive();

    int ReadDirectory() override;
    // Reads the directory of `path`: the end record, then the central directory.
    virtual int ReadZip(const std::string& path, bool already_open, bool refresh_info);
    // Finds the end record in the last 65557 bytes: 1, or 7 (message 22 prepared).
    int FindEndRecord();
    // 1, 2 aborted, 3 corrupt (message 22), 0 out of memory.
    int ReadCentral();

    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;

    bool CanExtract() override { return true; }

    const EndRecord& End() const { return end_; }

    // The stored name bytes of a central record as UTF-8 (exposed for tests).
    static std::string DecodeName(const std::string& raw, uint16_t flags, uint16_t version_made_by,
                                  const uint8_t* extra, size_t extra_size);

protected:
    // Absolute position in the stream of an offset on a given disk.
    int64_t StreamOffset(uint32_t disk, uint64_t offset) const;

    uint64_t volume_size_ = 0;
    EndRecord end_;
};

}  // namespace quorbel
