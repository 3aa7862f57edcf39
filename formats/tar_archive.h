// TAR archives (v7, POSIX ustar and pax, GNU), listed and extracted by the program itself.
// Read-only: adding, deleting and renaming keep the base behaviour (message 207, "TAR").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/archive_handler.h"

namespace quorbel {

class TarArchive : public ArchiveHandler {
public:
    // What a listed member is.
    enum class Kind : uint8_t { kFile = 0, kFolder = 1, kHardLink = 2, kSymLink = 3, kSpecial = 4 };

    // One stored piece of a sparse file: where it goes in the file, and its length.
    struct Segment {
        int64_t offset = 0;
        int64_t length = 0;
    };

    TarArchive();

    // 1; 6 (message 21) when offset 0 holds no tar header; 3 (message 22) when a member's
    // data runs past the end of the file or a header is damaged; 2 (message 100) aborted.
    // Members read before a failure stay listed.
    int ReadDirectory() override;
    // Reads the member's data at the offset noted in its entry (sparse files rebuilt with
    // their holes); a short read gives status 12 with message 202.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    // Links and device/FIFO entries are listed but never written: they are reported in the
    // skipped report instead.
    int ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                     bool use_folder_names, std::string* out_path, bool write) override;
    bool CanExtract() override { return true; }

    // The details kept in a member's format header.
    Kind KindOf(const ArchiveEntry& entry) const;
    char TypeFlagOf(const ArchiveEntry& entry) const;
    // Unix permission bits (mode & 07777) of the member; 0 when the header had none.
    uint32_t ModeOf(const ArchiveEntry& entry) const;
    std::string LinkTargetOf(const ArchiveEntry& entry) const;
    bool IsSparse(const ArchiveEntry& entry) const;
    std::vector<Segment> SegmentsOf(const ArchiveEntry& entry) const;

    // Header checks and field decoding (exposed for tests).
    // True when the 512-byte record's checksum matches (unsigned sum with the checksum field
    // read as blanks, or the signed sum some old writers used).
    static bool ChecksumMatches(const uint8_t* record);
    // An octal field (leading blanks, ended by a blank or zero byte) or GNU base-256 field.
    static bool ParseNumber(const uint8_t* field, size_t width, int64_t& value);
    // "LEN key=value\n" records of a pax extended header; false when malformed.
    struct PaxValues {
        std::map<std::string, std::string> values;
        // GNU sparse 0.0 repeats these two keys, one pair per piece, in order.
        std::vector<int64_t> sparse_offsets, sparse_lengths;
    };
    static bool ParsePax(const uint8_t* data, size_t size, PaxValues& out);

private:
    struct Pending;
    struct Member;
    int ReadMembers(std::vector<Member>& members);
    int64_t ScanForHeader(int64_t from, int64_t file_size);
    bool ReadAt(int64_t offset, void* buffer, size_t size);
};

}  // namespace quorbel
