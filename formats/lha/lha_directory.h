// The LHA/LZH directory: a chain of headers of levels 0, 1, 2 (and 3), each followed by its
// member's packed data.
//
// Header checksums and sizes are checked before they are used; extended headers must fit in
// their header and every next header lies after the current one, so a damaged chain ends
// instead of looping or reading outside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::lha {

struct LhaMember {
    std::string method;       // the five-character id, such as "-lh5-"
    std::string folder;       // raw folder bytes as stored (0xFF or '\' or '/' separators), may be empty
    std::string file_name;    // raw file-name bytes as stored (levels 0/1 may hold a path)
    uint64_t packed_size = 0;    // of the data alone (level 1: extended headers taken off)
    uint64_t unpacked_size = 0;
    uint16_t crc16 = 0;
    bool has_crc = false;
    uint8_t level = 0;
    uint8_t os_id = 0;        // 'M' MS-DOS, 'U' Unix, 'w' Windows, 'm' Mac ... 0 when absent
    uint8_t dos_attributes = 0;  // the attribute byte of the fixed header
    engines::MemberTime time;    // DOS time for levels 0/1 unless a Unix time header is there;
                                 // Unix time for levels 2/3
    engines::MemberMode mode;    // Unix mode from a Unix header or extended header, else DOS
    bool is_folder = false;      // -lhd- (and not a link)
    bool is_symlink = false;     // -lhd- with a Unix link mode: file_name was "name|target"
    std::string link_target;     // raw, as stored after the '|'
    std::string comment;         // extended header 0x3F, raw
    int64_t header_offset = 0;
    uint32_t header_size = 0;    // total, extended headers included
    int64_t data_offset = 0;

    // Folder and file name joined with `separator`; every 0xFF, '\' and '/' in either becomes
    // `separator` (levels 0 and 1 keep the path in the name, with the packer's separator). A
    // folder member names its folder, without a trailing separator.
    std::string Path(char separator) const;
};

struct LhaDirectory {
    std::vector<LhaMember> members;
    int64_t archive_offset = 0;  // where the first header starts (after a self-extractor stub)
};

// Reads the chain from offset 0, or after an MS-DOS self-extractor stub (MZ) from the first
// header found in its first 64 KiB. Corrupt follows the format's rule (a level-0/1 checksum
// mismatch fails the listing); Truncated when a header or its data is cut short; Ok at the
// zero end byte or the end of the file.
engines::DirectoryStatus ReadLhaDirectory(DataStream& stream, LhaDirectory& out,
                                          const engines::DirectoryProgress& progress = {});

}  // namespace quorbel::lha
