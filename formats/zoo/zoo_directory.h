// The ZOO directory: the archive header and the linked chain of directory entries.
//
// Each next-entry offset must lie after the current entry and inside the file (a chain that
// points back would loop for ever); deleted entries are skipped; names are bounded by the entry
// and the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::zoo {

inline constexpr uint32_t kZooTag = 0xFDC4A7DC;

struct ZooMember {
    std::string name;        // long name when stored, else the 8.3 short name; raw bytes
    std::string short_name;  // the 13-byte field
    std::string folder;      // raw, '/' separated as ZOO stores it; may be empty
    std::string comment;     // raw
    uint32_t packed_size = 0;
    uint32_t unpacked_size = 0;
    uint16_t crc16 = 0;
    uint8_t method = 0;      // 0 stored, 1 LZW, 2 -lh5-
    uint8_t entry_type = 0;  // 1 or 2 (2 has the variable part)
    uint16_t system_id = 0;  // 0 Unix, 1 MS-DOS, 2 VMS (entry type 2 only)
    engines::MemberTime time;   // DOS date and time
    engines::MemberMode mode;   // Unix mode when the entry carries one, else none
    int64_t header_offset = 0;
    int64_t data_offset = 0;

    // Folder and name joined with `separator` ('/' in the folder becomes `separator`).
    std::string Path(char separator) const;
};

struct ZooDirectory {
    std::string text;     // the 20-byte banner
    std::string comment;  // the archive comment, raw
    std::vector<ZooMember> members;
};

// NotThisFormat for a wrong header tag; Truncated when the chain breaks (a bad tag, an offset
// that does not move forward or leaves the file) after the members read so far; Ok at a zero
// next offset.
engines::DirectoryStatus ReadZooDirectory(DataStream& stream, ZooDirectory& out,
                                          const engines::DirectoryProgress& progress = {});

}  // namespace quorbel::zoo
