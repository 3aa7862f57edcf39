#include "formats/zoo/zoo_directory.h"

#include <algorithm>
#include <cstring>

#include "core/byte_reader.h"
#include "core/data_stream.h"

namespace quorbel::zoo {

using engines::DirectoryStatus;

namespace {

// Archive header.
constexpr size_t kHeaderSize = 34;
constexpr size_t kHeaderTag = 20;
constexpr size_t kFirstEntry = 24;
constexpr size_t kHeaderType = 34;
constexpr size_t kCommentPos = 35;
constexpr size_t kCommentLength = 39;
constexpr size_t kHeaderWithComment = 42;

// Directory entry.
constexpr size_t kEntryFixed = 38;
constexpr size_t kType = 4;
constexpr size_t kMethod = 5;
constexpr size_t kNext = 6;
constexpr size_t kDataOffset = 10;
constexpr size_t kDosDate = 14;
constexpr size_t kDosTime = 16;
constexpr size_t kCrc = 18;
constexpr size_t kUnpacked = 20;
constexpr size_t kPacked = 24;
constexpr size_t kDeleted = 30;
constexpr size_t kCommentOffset = 32;
constexpr size_t kCommentSize = 36;
constexpr size_t kShortName = 38;
constexpr size_t kShortNameSize = 13;
constexpr size_t kVarLength = 51;
constexpr size_t kVarStart = 56;  // name length, folder length, long name, folder, system ...

std::string Bounded(const uint8_t* p, size_t limit) {
    const void* nul = std::memchr(p, 0, limit);
    return std::string(reinterpret_cast<const char*>(p),
                       nul ? size_t(static_cast<const uint8_t*>(nul) - p) : limit);
}

bool ReadText(DataStream& stream, int64_t file_size, uint32_t offset, uint32_t size,
              std::string& out) {
    if (offset == 0 || size == 0) return true;
    if (int64_t(offset) + int64_t(size) > file_size) return false;
    out.resize(size);
    if (!engines::ReadExactAt(stream, offset, out.data(), size)) return false;
    // ZOO ends comments with a line break or a zero; keep the text before a zero.
    out.resize(std::strlen(out.c_str()));
    return true;
}

}  // namespace

std::string ZooMember::Path(char separator) const {
    std::string out = folder;
    std::replace(out.begin(), out.end(), '/', separator);
    if (!out.empty() && out.back() != separator) out += separator;
    return out + name;
}

DirectoryStatus ReadZooDirectory(DataStream& stream, ZooDirectory& out,
                                 const engines::DirectoryProgress& progress) {
    out = ZooDirectory{};
    int64_t file_size = stream.Size();
    uint8_t header[kHeaderWithComment] = {};
    if (file_size < int64_t(kHeaderSize) || !engines::ReadExactAt(stream, 0, header, kHeaderSize))
        return DirectoryStatus::NotThisFormat;
    if (Le32(header + kHeaderTag) != kZooTag) return DirectoryStatus::NotThisFormat;
    out.text = Bounded(header, 20);
    uint32_t first = Le32(header + kFirstEntry);
    if (first >= kHeaderWithComment && file_size >= int64_t(kHeaderWithComment) &&
        engines::ReadExactAt(stream, 0, header, kHeaderWithComment) && header[kHeaderType] >= 1) {
        if (!ReadText(stream, file_size, Le32(header + kCommentPos), Le16(header + kCommentLength),
                      out.comment))
            out.comment.clear();
    }
    if (first < kHeaderSize) return DirectoryStatus::Truncated;

    int64_t offset = first;
    for (;;) {
        if (progress && !progress(offset)) return DirectoryStatus::Cancelled;
        uint8_t e[kVarStart + 2 + 255 + 255 + 7] = {};
        if (file_size - offset < int64_t(kEntryFixed)) return DirectoryStatus::Truncated;
        size_t avail = size_t(std::min<int64_t>(file_size - offset, int64_t(sizeof(e))));
        if (!engines::ReadExactAt(stream, offset, e, avail)) return DirectoryStatus::Truncated;
        if (Le32(e) != kZooTag) return DirectoryStatus::Truncated;

        ZooMember m;
        m.header_offset = offset;
        m.entry_type = e[kType];
        m.method = e[kMethod];
        uint32_t next = Le32(e + kNext);
        m.data_offset = Le32(e + kDataOffset);
        m.time = engines::MemberTime::FromDos(Le16(e + kDosDate), Le16(e + kDosTime));
        m.crc16 = Le16(e + kCrc);
        m.unpacked_size = Le32(e + kUnpacked);
        m.packed_size = Le32(e + kPacked);
        bool deleted = e[kDeleted] != 0;

        // The short name and, for type 2, the variable part, all inside the entry read.
        size_t entry_size = kEntryFixed;
        if (avail >= kShortName + kShortNameSize) {
            m.short_name = Bounded(e + kShortName, kShortNameSize);
            entry_size = kShortName + kShortNameSize;
        }
        if (m.entry_type == 2 && avail >= kVarStart) {
            uint32_t var_length = Le16(e + kVarLength);
            entry_size = kVarStart + var_length;
            size_t var_end = std::min(kVarStart + size_t(var_length), avail);
            if (var_length >= 2 && var_end >= kVarStart + 2) {
                size_t name_length = e[kVarStart], folder_length = e[kVarStart + 1];
                size_t at = kVarStart + 2;
                if (at + name_length <= var_end) {
                    m.name = Bounded(e + at, name_length);
                    at += name_length;
                    if (at + folder_length <= var_end) {
                        m.folder = Bounded(e + at, folder_length);
                        at += folder_length;
                        if (at + 2 <= var_end) {
                            m.system_id = Le16(e + at);
                            at += 2;
                        }
                        if (at + 3 <= var_end) {
                            uint32_t attr = uint32_t(e[at]) | (uint32_t(e[at + 1]) << 8) |
                                            (uint32_t(e[at + 2]) << 16);
                            // Bit 22 says the low bits hold a Unix mode.
                            if ((attr >> 22) == 1)
                                m.mode = {engines::MemberMode::Kind::Unix, attr & 0xFFFF};
                        }
                    }
                }
            }
        }
        if (m.name.empty()) m.name = m.short_name;

        if (!deleted && !m.short_name.empty() && m.data_offset <= file_size &&
            int64_t(m.packed_size) <= file_size - m.data_offset) {
            if (!ReadText(stream, file_size, Le32(e + kCommentOffset), Le16(e + kCommentSize),
                          m.comment))
                m.comment.clear();
            out.members.push_back(std::move(m));
        }
        if (next == 0) return DirectoryStatus::Ok;
        // Forward only, and inside the file: a chain pointing back would loop for ever.
        if (int64_t(next) < offset + int64_t(entry_size) || int64_t(next) >= file_size)
            return DirectoryStatus::Truncated;
        offset = next;
    }
}

}  // namespace quorbel::zoo
