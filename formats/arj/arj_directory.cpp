#include "formats/arj/arj_directory.h"

#include <cstring>

#include "core/byte_reader.h"
#include "core/data_stream.h"
#include "formats/engines/crc16.h"

namespace quorbel::arj {

using engines::DirectoryStatus;

namespace {

// Offsets within the basic header.
constexpr size_t kFirstHeaderSize = 0;
constexpr size_t kArchiverVersion = 1;
constexpr size_t kHostOs = 3;
constexpr size_t kFlags = 4;
constexpr size_t kMethod = 5;
constexpr size_t kFileType = 6;
constexpr size_t kDosTime = 8;
constexpr size_t kDosDate = 10;
constexpr size_t kPackedSize = 12;
constexpr size_t kUnpackedSize = 16;
constexpr size_t kCrc = 20;
constexpr size_t kNamePartOffset = 24;
constexpr size_t kAccessMode = 26;
// The fields above end at 28; ARJ itself never writes a first header shorter than 30.
constexpr size_t kMinFirstHeaderSize = 30;

enum class HeaderResult { Ok, End, Bad };

std::string ZeroTerminated(const uint8_t* p, size_t limit) {
    const void* nul = std::memchr(p, 0, limit);
    return std::string(reinterpret_cast<const char*>(p),
                       nul ? size_t(static_cast<const uint8_t*>(nul) - p) : limit);
}

// One header at `offset`: id, size, basic header and its CRC, then the extended headers.
HeaderResult ReadHeader(DataStream& stream, int64_t offset, int64_t file_size, ArjMember& m) {
    uint8_t start[4];
    if (!engines::ReadExactAt(stream, offset, start, 4)) return HeaderResult::Bad;
    if (start[0] != 0x60 || start[1] != 0xEA) return HeaderResult::Bad;
    uint32_t size = Le16(start + 2);
    if (size == 0) return HeaderResult::End;
    if (size > kMaxBasicHeaderSize || size < kMinFirstHeaderSize) return HeaderResult::Bad;
    uint8_t basic[kMaxBasicHeaderSize + 4];
    if (stream.Read(basic, size + 4) != size + 4) return HeaderResult::Bad;
    if (engines::Crc32(0, basic, size) != Le32(basic + size)) return HeaderResult::Bad;
    size_t first = basic[kFirstHeaderSize];
    if (first < kMinFirstHeaderSize || first > size) return HeaderResult::Bad;

    m = ArjMember{};
    m.header_offset = offset;
    m.archiver_version = basic[kArchiverVersion];
    m.host_os = basic[kHostOs];
    m.flags = basic[kFlags];
    m.method = basic[kMethod];
    m.file_type = basic[kFileType];
    // ARJ for Unix writes the time field as seconds since 1970, not as an MS-DOS date and time
    // (a 2022 file read as DOS fields lists in 2029).
    const bool unix_host = m.host_os == kUnix || m.host_os == kNext;
    m.time = unix_host ? engines::MemberTime::FromUnix(Le32(basic + kDosTime))
                       : engines::MemberTime::FromDos(Le16(basic + kDosDate), Le16(basic + kDosTime));
    m.packed_size = Le32(basic + kPackedSize);
    m.unpacked_size = Le32(basic + kUnpackedSize);
    m.crc32 = Le32(basic + kCrc);
    m.name_part_offset = Le16(basic + kNamePartOffset);
    uint16_t access = Le16(basic + kAccessMode);
    // ARJ for Unix keeps st_mode where DOS keeps attribute bits.
    m.mode.kind = unix_host ? engines::MemberMode::Kind::Unix : engines::MemberMode::Kind::Dos;
    m.mode.bits = access;
    m.encrypted = (m.flags & kGarbled) != 0;
    m.is_file = m.file_type == kBinary || m.file_type == kText;
    m.is_folder = m.file_type == kDirectory;
    m.name = ZeroTerminated(basic + first, size - first);
    size_t comment_at = first + m.name.size() + 1;
    if (comment_at < size) m.comment = ZeroTerminated(basic + comment_at, size - comment_at);

    // Extended headers: size, data and a CRC-32 each, until a size of 0.
    int64_t pos = offset + 4 + int64_t(size) + 4;
    for (;;) {
        uint8_t ext[2];
        if (!engines::ReadExactAt(stream, pos, ext, 2)) return HeaderResult::Bad;
        uint32_t ext_size = Le16(ext);
        pos += 2;
        if (ext_size == 0) break;
        pos += int64_t(ext_size) + 4;
        if (pos > file_size) return HeaderResult::Bad;
    }
    m.data_offset = pos;
    return HeaderResult::Ok;
}

}  // namespace

DirectoryStatus ReadArjDirectory(DataStream& stream, ArjDirectory& out,
                                 const engines::DirectoryProgress& progress) {
    out = ArjDirectory{};
    int64_t file_size = stream.Size();
    ArjMember main;
    if (ReadHeader(stream, 0, file_size, main) != HeaderResult::Ok)
        return DirectoryStatus::NotThisFormat;
    out.archive_name = main.name;
    out.comment = main.comment;
    out.host_os = main.host_os;
    out.flags = main.flags;
    out.time = main.time;

    int64_t offset = main.data_offset;
    for (;;) {
        if (progress && !progress(offset)) return DirectoryStatus::Cancelled;
        ArjMember m;
        HeaderResult r = ReadHeader(stream, offset, file_size, m);
        if (r == HeaderResult::End) return DirectoryStatus::Ok;
        if (r == HeaderResult::Bad) return DirectoryStatus::Truncated;
        int64_t next = m.data_offset + int64_t(m.packed_size);
        if (next > file_size) return DirectoryStatus::Truncated;
        out.members.push_back(std::move(m));
        offset = next;
    }
}

bool ReadArjMemberAt(DataStream& stream, int64_t offset, ArjMember& out) {
    return ReadHeader(stream, offset, stream.Size(), out) == HeaderResult::Ok;
}

}  // namespace quorbel::arj
