// The ACE directory: the main header (found anywhere in the first 64 KiB, so self-extractors
// open too), the chain of block headers after it, and the volumes a member continues into.
//
// Every header carries the low half of its ACE CRC-32; a header whose CRC differs ends the
// listing there. Header sizes are 16-bit fields, and a header must lie inside its volume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::ace {

// ACE's CRC-32: the reflected 0xEDB88320 polynomial started at 0xFFFFFFFF and never
// inverted at the end, so a stored file CRC is the bitwise complement of the usual CRC-32.
// `crc` is the running value (0xFFFFFFFF at the start).
uint32_t AceCrc32(uint32_t crc, const uint8_t* data, size_t size);

inline constexpr size_t kSignatureSearch = 65536;

enum HeaderType : uint8_t { kMainHeader = 0, kFileHeader32 = 1, kRecovery32 = 2, kFileHeader64 = 3 };

enum HeaderFlags : uint16_t {
    kAddSize = 0x0001,      // data follows the header
    kComment = 0x0002,
    kSize64 = 0x0004,       // 64-bit sizes
    kMultiVolume = 0x0800,  // main header: a set of volumes
    kAdvert = 0x1000,       // main header: the registration string follows
    kContinuedFromPrevious = 0x1000,  // file header
    kContinuesInNext = 0x2000,        // file header
    kPassword = 0x4000,     // file header: encrypted
    kSolid = 0x8000,
};

enum Method : uint8_t { kStored = 0, kLz77 = 1, kBlocked = 2 };

enum HostOs : uint8_t {
    kMsDos = 0, kOs2 = 1, kWin32 = 2, kUnix = 3, kMacOs = 4, kWinNt = 5, kPrimos = 6,
    kAppleGs = 7, kAtari = 8, kVaxVms = 9, kAmiga = 10, kNext = 11, kLinux = 12,
};

// Where a piece of a member's packed bytes lies.
struct Segment {
    int volume = 0;           // index into AceDirectory::volume_paths
    int64_t data_offset = 0;
    uint64_t packed_size = 0;
};

struct AceMember {
    std::string name;          // raw bytes as stored ('\' between folders)
    uint64_t packed_size = 0;  // of the first header (the listing's figure)
    uint64_t unpacked_size = 0;
    uint32_t crc32 = 0;        // the usual CRC-32 of the data (the stored value complemented)
    uint32_t attributes = 0;   // as stored
    uint32_t dos_datetime = 0;
    uint8_t method = 0, quality = 0;
    uint16_t params = 0;       // bits 0-3: dictionary bits - 10
    uint16_t flags = 0;
    bool encrypted = false;
    bool is_folder = false;
    bool is_link = false;       // a symbolic link (Unix host)
    bool continued = false;     // begins in an earlier volume (its start is not in this set)
    bool complete = true;       // every segment was found
    engines::MemberMode mode;
    engines::MemberTime time;
    int64_t header_offset = 0;  // of the first header, in volume `segments[0].volume`
    std::vector<Segment> segments;

    int DictionaryBits() const { return (params & 15) + 10 > 22 ? 22 : (params & 15) + 10; }
};

struct AceDirectory {
    uint8_t host_os = 0;
    uint8_t version_needed = 0, version_made = 0;
    uint8_t volume_number = 0;  // of the file opened (0: the first volume)
    uint16_t flags = 0;
    bool solid = false;
    bool multi_volume = false;
    int64_t archive_offset = 0;          // of the main header in the first file
    std::vector<std::string> volume_paths;  // [0] is the file opened
    std::string missing_volume;          // the next volume's name when it was not found
    std::vector<AceMember> members;
};

// The next volume's path: "x.ace" -> "x.c00", "x.c07" -> "x.c08" (".c99" -> ".d00"), matched
// in its folder whatever the case of the name on disk; empty when no such file exists. The
// name looked for (lower case) goes to `wanted`.
std::string FindNextVolume(const std::string& path, std::string* wanted = nullptr);

// Reads the directory of the archive in `stream` (whose file is `path`, for the names of later
// volumes). NotThisFormat without a valid main header in the first 64 KiB; Truncated when a
// later header is damaged (members before it are kept); Ok otherwise, also when the next
// volume is missing (out.missing_volume then names it, and the member that needs it is
// listed as incomplete).
engines::DirectoryStatus ReadAceDirectory(DataStream& stream, const std::string& path,
                                          AceDirectory& out,
                                          const engines::DirectoryProgress& progress = {});

// The volumes of a set, opened on demand; volume 0 is the caller's stream.
class VolumeSet {
public:
    VolumeSet(DataStream& first, std::vector<std::string> paths);
    ~VolumeSet();
    // Null when the volume cannot be opened.
    DataStream* Get(int index);

private:
    DataStream& first_;
    std::vector<std::string> paths_;
    std::vector<std::unique_ptr<DataStream>> open_;
};

}  // namespace quorbel::ace
