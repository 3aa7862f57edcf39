// The ARJ directory: the main header and the chain of local file headers.
//
// Every header's basic-header CRC-32 is checked, so a file that merely starts with 60 EA is not
// taken for an ARJ archive, and a damaged header ends the listing there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::arj {

inline constexpr uint32_t kMaxBasicHeaderSize = 2600;

enum ArjFlags : uint8_t {
    kGarbled = 0x01,      // encrypted
    kVolume = 0x04,       // continues in the next volume
    kExtFile = 0x08,      // continued from the previous volume
    kPathSym = 0x10,      // '\' in the name was translated to '/'
};
enum ArjFileType : uint8_t {
    kBinary = 0, kText = 1, kCommentHeader = 2, kDirectory = 3, kVolumeLabel = 4, kChapter = 5,
};
enum ArjHostOs : uint8_t {
    kMsDos = 0, kPrimos = 1, kUnix = 2, kAmiga = 3, kMacOs = 4, kOs2 = 5, kAppleGs = 6,
    kAtariSt = 7, kNext = 8, kVaxVms = 9, kWin95 = 10, kWin32 = 11,
};

struct ArjMember {
    std::string name;       // raw bytes as stored; ARJ writes '/' between folders
    std::string comment;    // raw bytes
    uint32_t packed_size = 0;
    uint32_t unpacked_size = 0;
    uint32_t crc32 = 0;     // of the unpacked bytes
    uint8_t method = 0;     // 0 stored, 1-3, 4
    uint8_t file_type = 0;  // ArjFileType
    uint8_t flags = 0;      // ArjFlags
    uint8_t host_os = 0;    // ArjHostOs
    uint8_t archiver_version = 0;
    uint16_t name_part_offset = 0;  // where the file name begins in `name`, as stored
    engines::MemberTime time;       // DOS date and time
    engines::MemberMode mode;       // Unix mode when the host is Unix or NeXT, else DOS attributes
    bool encrypted = false;         // flags & kGarbled
    bool is_folder = false;         // file type 3
    bool is_file = false;           // file type 0 or 1: a member with data
    int64_t header_offset = 0;      // of the 60 EA id
    int64_t data_offset = 0;        // first packed byte
};

struct ArjDirectory {
    std::string archive_name;  // the main header's name field
    std::string comment;       // the archive comment
    uint8_t host_os = 0;
    uint8_t flags = 0;
    engines::MemberTime time;
    std::vector<ArjMember> members;
};

// Reads the main header at offset 0 and every local header after it. NotThisFormat when the
// main header is missing or its CRC is wrong; Truncated when a later header is damaged or cut
// (the members before it are kept); Ok at the end marker.
engines::DirectoryStatus ReadArjDirectory(DataStream& stream, ArjDirectory& out,
                                          const engines::DirectoryProgress& progress = {});

// Reads one header again at `offset` (the extraction path re-checks the header it trusts):
// false when the id, size or CRC is wrong or the stream ends.
bool ReadArjMemberAt(DataStream& stream, int64_t offset, ArjMember& out);

}  // namespace quorbel::arj
