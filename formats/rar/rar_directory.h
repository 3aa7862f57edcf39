// The RAR directory of the 1.5–4.x block format: the marker, the archive header and the file
// headers, across the volumes of a set.
//
// Every header's CRC (the low 16 bits of a CRC-32) is checked, so a damaged header ends the
// listing instead of sending it through the archive's data. A member split over volumes is
// one member with one part per volume; the last part's header holds the whole file's CRC.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::rar {

enum BlockType : uint8_t {
    kMarkerBlock = 0x72,
    kArchiveHeader = 0x73,
    kFileHeader = 0x74,
    kOldCommentBlock = 0x75,
    kOldAuthenticity = 0x76,
    kOldSubBlock = 0x77,
    kOldRecovery = 0x78,
    kSignBlock = 0x79,
    kNewSubBlock = 0x7A,
    kEndBlock = 0x7B,
};

enum ArchiveFlags : uint16_t {
    kArchiveVolume = 0x0001,
    kArchiveComment = 0x0002,
    kArchiveSolid = 0x0008,
    kArchiveNewNumbering = 0x0010,
};

enum FileFlags : uint16_t {
    kSplitBefore = 0x0001,
    kSplitAfter = 0x0002,
    kEncrypted = 0x0004,
    kFileComment = 0x0008,
    kSolidFile = 0x0010,
    kDictionaryMask = 0x00E0,  // all three bits: a folder
    kLargeSizes = 0x0100,
    kUnicodeName = 0x0200,
    kSalt = 0x0400,
    kLongBlock = 0x8000,
};

enum HostOs : uint8_t { kHostMsDos = 0, kHostOs2 = 1, kHostWin32 = 2, kHostUnix = 3, kHostMacOs = 4, kHostBeOs = 5 };

inline constexpr uint8_t kMethodStored = 0x30;

struct RarPart {
    int volume = 0;           // index into RarDirectory::volumes
    int64_t header_offset = 0;
    int64_t data_offset = 0;
    uint64_t packed_size = 0;
};

struct RarMember {
    std::string raw_name;   // the stored bytes (OEM on DOS and Windows hosts), '\' between folders
    std::string name;       // the shown name, UTF-8, '\' between folders
    uint64_t packed_size = 0;    // of all parts
    uint64_t unpacked_size = 0;
    uint32_t crc32 = 0;          // the last part's: the whole file's
    uint8_t host_os = 0;
    uint8_t version = 0;         // version needed to extract (15, 20, 26, 29 …)
    uint8_t method = 0;          // 0x30 stored … 0x35
    uint16_t flags = 0;          // the first part's FileFlags
    uint32_t attributes = 0;     // as stored
    int dictionary_kib = 64;
    engines::MemberTime time;
    engines::MemberMode mode;    // Unix mode from a Unix host, else DOS attribute bits
    bool is_folder = false;
    bool is_symlink = false;     // a Unix link: its data is the target, never a file's
    bool encrypted = false;
    bool solid = false;          // continues the previous member's decoding state
    bool complete = true;        // every part was found (first and last)
    int block_index = 0;         // the position of its header among the archive's blocks
    std::vector<RarPart> parts;
};

struct RarDirectory {
    uint16_t archive_flags = 0;
    std::vector<std::string> volumes;  // paths of the volumes read (the first: as given)
    std::vector<RarMember> members;
};

// Opens a further volume of a set; null when it does not exist.
using VolumeOpener = std::function<std::unique_ptr<DataStream>(const std::string& path)>;

// Lists `stream` (the volume at `path`): a RAR file, or a self-extractor (a program starting
// "MZ" with the archive within its first MiB). NotThisFormat without the marker, with a damaged or
// impossible first block, or when a block of an unknown type comes before any member;
// Truncated when a later header is damaged, cut or of an unknown type (members before it are
// kept); Ok at the end block or the end of the file. With `open_volume`, a set is followed
// into its next volumes while a member continues there.
engines::DirectoryStatus ReadRarDirectory(DataStream& stream, RarDirectory& out,
                                          const engines::DirectoryProgress& progress = {},
                                          const std::string& path = "",
                                          const VolumeOpener& open_volume = {});

// The shown name of a stored name: RAR's Unicode field when the header has one, else the
// OEM bytes of DOS and Windows hosts in code page 437, else UTF-8 when valid.
std::string ShownName(const uint8_t* field, size_t size, bool unicode_flag, uint8_t host_os,
                      std::string* raw_name);

}  // namespace quorbel::rar
