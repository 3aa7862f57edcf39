#include "formats/lha/lha_directory.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/byte_reader.h"
#include "core/data_stream.h"
#include "formats/engines/crc16.h"

namespace quorbel::lha {

using engines::DirectoryStatus;

namespace {

// The fixed part every level shares.
constexpr size_t kFixedSize = 21;
constexpr size_t kMethod = 2;
constexpr size_t kPackedSize = 7;
constexpr size_t kUnpackedSize = 11;
constexpr size_t kTime = 15;
constexpr size_t kAttribute = 19;
constexpr size_t kLevel = 20;
// Levels 0 and 1.
constexpr size_t kNameLength = 21;
// Levels 2 and 3.
constexpr size_t kLevel2Crc = 21;
constexpr size_t kLevel2Os = 23;
constexpr size_t kLevel2FirstExt = 24;
constexpr size_t kLevel3HeaderSize = 24;
constexpr size_t kLevel3FirstExt = 28;
// A level-3 header may be large, but not beyond this.
constexpr uint32_t kMaxLevel3Header = 1u << 20;

// Extended header types.
constexpr uint8_t kExtCommon = 0x00;
constexpr uint8_t kExtFileName = 0x01;
constexpr uint8_t kExtFolder = 0x02;
constexpr uint8_t kExtComment = 0x3F;
constexpr uint8_t kExtDosAttributes = 0x40;
constexpr uint8_t kExtUnixMode = 0x50;
constexpr uint8_t kExtUnixTime = 0x54;

enum class HeaderResult { Ok, End, Bad, Cut };

struct ExtState {
    bool has_common = false;
    size_t crc_at = 0;  // where the header CRC sits in the header bytes (level 2/3)
};

// Applies one extended header's data to the member.
void ApplyExtended(uint8_t type, const uint8_t* data, size_t size, LhaMember& m, ExtState& st,
                   size_t data_at) {
    auto text = [&] { return std::string(reinterpret_cast<const char*>(data), size); };
    switch (type) {
    case kExtCommon:
        st.has_common = true;
        if (size >= 2) st.crc_at = data_at;
        break;
    case kExtFileName: m.file_name = text(); break;
    case kExtFolder: m.folder = text(); break;
    case kExtComment: m.comment = text(); break;
    case kExtDosAttributes:
        if (size >= 2 && m.mode.kind != engines::MemberMode::Kind::Unix) {
            m.mode.kind = engines::MemberMode::Kind::Dos;
            m.mode.bits = Le16(data);
        }
        break;
    case kExtUnixMode:
        if (size >= 2) {
            m.mode.kind = engines::MemberMode::Kind::Unix;
            m.mode.bits = Le16(data);
        }
        break;
    case kExtUnixTime:
        if (size >= 4) m.time = engines::MemberTime::FromUnix(Le32(data));
        break;
    default: break;  // other types carry nothing a listing shows
    }
}

// Walks a chain of extended headers held in `bytes` from `at`, whose first size is `first`.
// Sizes are `word` bytes wide (2, or 4 at level 3). Every header must fit in `bytes`.
bool WalkExtended(const std::vector<uint8_t>& bytes, size_t at, uint32_t first, size_t word,
                  LhaMember& m, ExtState& st) {
    uint32_t size = first;
    while (size != 0) {
        // type, data, next size: at least the type and the next size.
        if (size < 1 + word || size > bytes.size() - at) return false;
        const uint8_t* p = bytes.data() + at;
        size_t data_size = size - 1 - word;
        ApplyExtended(p[0], p + 1, data_size, m, st, at + 1);
        at += size;
        size = word == 2 ? Le16(p + 1 + data_size) : Le32(p + 1 + data_size);
    }
    return true;
}

HeaderResult ReadHeader(DataStream& stream, int64_t offset, int64_t file_size, LhaMember& m) {
    uint8_t fixed[kFixedSize + 2];
    if (file_size - offset < 1) return HeaderResult::End;
    if (!engines::ReadExactAt(stream, offset, fixed, 1)) return HeaderResult::End;
    if (fixed[0] == 0) return HeaderResult::End;
    if (file_size - offset < int64_t(kFixedSize)) return HeaderResult::Cut;
    if (!engines::ReadExactAt(stream, offset, fixed, kFixedSize)) return HeaderResult::Cut;

    m = LhaMember{};
    m.header_offset = offset;
    m.method.assign(reinterpret_cast<const char*>(fixed + kMethod), 5);
    m.packed_size = Le32(fixed + kPackedSize);
    m.unpacked_size = Le32(fixed + kUnpackedSize);
    m.dos_attributes = fixed[kAttribute];
    m.level = fixed[kLevel];
    m.is_folder = m.method == "-lhd-";
    uint32_t stamp = Le32(fixed + kTime);
    ExtState st;
    std::vector<uint8_t> h;

    if (m.level == 0 || m.level == 1) {
        size_t total = size_t(fixed[0]) + 2;
        if (total < 22 || file_size - offset < int64_t(total)) return total < 22 ? HeaderResult::Bad : HeaderResult::Cut;
        h.resize(total);
        if (!engines::ReadExactAt(stream, offset, h.data(), total)) return HeaderResult::Cut;
        uint8_t sum = 0;
        for (size_t i = 2; i < total; ++i) sum = uint8_t(sum + h[i]);
        if (sum != h[1]) return HeaderResult::Bad;
        m.time = engines::MemberTime::FromDos(uint16_t(stamp >> 16), uint16_t(stamp & 0xFFFF));
        m.mode = {engines::MemberMode::Kind::Dos, m.dos_attributes};
        size_t name_length = h[kNameLength];
        size_t at = kNameLength + 1;
        // Level 1 keeps two bytes at the end for the first extended header's size.
        size_t body_end = m.level == 1 ? total - 2 : total;
        if (at + name_length > body_end) return HeaderResult::Bad;
        m.file_name.assign(reinterpret_cast<const char*>(h.data() + at), name_length);
        at += name_length;
        if (at + 2 <= body_end) {
            m.crc16 = Le16(h.data() + at);
            m.has_crc = true;
            at += 2;
        }
        if (at < body_end) m.os_id = h[at++];
        // LHa for Unix's level-0 extension: minor version, time, mode, uid, gid.
        if (m.level == 0 && m.os_id == 'U' && at + 11 <= body_end) {
            m.time = engines::MemberTime::FromUnix(Le32(h.data() + at + 1));
            m.mode = {engines::MemberMode::Kind::Unix, Le16(h.data() + at + 5)};
        }
        m.header_size = uint32_t(total);
        if (m.level == 1) {
            // The extended headers follow the base header and count as packed data.
            uint32_t size = Le16(h.data() + total - 2);
            int64_t pos = offset + int64_t(total);
            while (size != 0) {
                if (size < 3 || uint64_t(size) > m.packed_size) return HeaderResult::Bad;
                if (file_size - pos < int64_t(size)) return HeaderResult::Cut;
                std::vector<uint8_t> ext(size);
                if (!engines::ReadExactAt(stream, pos, ext.data(), size)) return HeaderResult::Cut;
                ApplyExtended(ext[0], ext.data() + 1, size - 3, m, st, 0);
                m.packed_size -= size;
                m.header_size += size;
                pos += size;
                size = Le16(ext.data() + size - 2);
            }
        }
    } else if (m.level == 2 || m.level == 3) {
        size_t word = m.level == 2 ? 2 : 4;
        uint32_t total;
        if (m.level == 2) {
            total = Le16(fixed);
        } else {
            uint8_t t[4];
            if (Le16(fixed) != 4) return HeaderResult::Bad;
            if (!engines::ReadExactAt(stream, offset + int64_t(kLevel3HeaderSize), t, 4)) return HeaderResult::Cut;
            total = Le32(t);
            if (total > kMaxLevel3Header) return HeaderResult::Bad;
        }
        size_t first_ext = m.level == 2 ? kLevel2FirstExt : kLevel3FirstExt;
        if (total < first_ext + word) return HeaderResult::Bad;
        if (file_size - offset < int64_t(total)) return HeaderResult::Cut;
        h.resize(total);
        if (!engines::ReadExactAt(stream, offset, h.data(), total)) return HeaderResult::Cut;
        m.time = engines::MemberTime::FromUnix(Le32(h.data() + kTime));
        m.crc16 = Le16(h.data() + kLevel2Crc);
        m.has_crc = true;
        m.os_id = h[kLevel2Os];
        uint32_t first = word == 2 ? Le16(h.data() + first_ext) : Le32(h.data() + first_ext);
        if (!WalkExtended(h, first_ext + word, first, word, m, st)) return HeaderResult::Bad;
        if (!st.has_common) return HeaderResult::Bad;
        if (st.crc_at) {
            uint16_t stored = Le16(h.data() + st.crc_at);
            h[st.crc_at] = h[st.crc_at + 1] = 0;
            if (engines::Crc16(0, h.data(), h.size()) != stored) return HeaderResult::Bad;
        }
        m.header_size = total;
    } else {
        return HeaderResult::Bad;
    }
    // LHa for Unix stores a symbolic link as a -lhd- member named "name|target".
    if (m.is_folder && m.mode.kind == engines::MemberMode::Kind::Unix &&
        (m.mode.bits & 0170000) == 0120000) {
        m.is_folder = false;
        m.is_symlink = true;
        size_t bar = m.file_name.find('|');
        if (bar != std::string::npos) {
            m.link_target = m.file_name.substr(bar + 1);
            m.file_name.resize(bar);
        }
    }
    m.data_offset = offset + int64_t(m.header_size);
    return HeaderResult::Ok;
}

// The first header after an MS-DOS stub: a method id "-l??-" two bytes after its start.
int64_t FindFirstHeader(DataStream& stream, int64_t file_size) {
    uint8_t magic[2];
    if (!engines::ReadExactAt(stream, 0, magic, 2) || magic[0] != 'M' || magic[1] != 'Z') return 0;
    size_t n = size_t(std::min<int64_t>(file_size, 65536));
    std::vector<uint8_t> head(n);
    if (!engines::ReadExactAt(stream, 0, head.data(), n)) return 0;
    for (size_t p = 2; p + kFixedSize <= n; ++p) {
        if (head[p + 2] != '-' || head[p + 3] != 'l' || head[p + 6] != '-') continue;
        LhaMember m;
        if (ReadHeader(stream, int64_t(p), file_size, m) == HeaderResult::Ok) return int64_t(p);
    }
    return 0;
}

}  // namespace

std::string LhaMember::Path(char separator) const {
    std::string out;
    auto add = [&](const std::string& part, bool path_separators) {
        for (char c : part) {
            bool sep = uint8_t(c) == 0xFF || (path_separators && (c == '\\' || c == '/'));
            out += sep ? separator : c;
        }
    };
    add(folder, true);
    if (!out.empty() && !file_name.empty() && out.back() != separator) out += separator;
    add(file_name, true);  // levels 0 and 1 keep the whole path in the name
    while (is_folder && out.size() > 1 && out.back() == separator) out.pop_back();
    return out;
}

DirectoryStatus ReadLhaDirectory(DataStream& stream, LhaDirectory& out,
                                 const engines::DirectoryProgress& progress) {
    out = LhaDirectory{};
    int64_t file_size = stream.Size();
    int64_t offset = FindFirstHeader(stream, file_size);
    out.archive_offset = offset;
    for (;;) {
        if (progress && !progress(offset)) return DirectoryStatus::Cancelled;
        LhaMember m;
        HeaderResult r = ReadHeader(stream, offset, file_size, m);
        if (r == HeaderResult::End) break;
        if (r == HeaderResult::Cut) return out.members.empty() ? DirectoryStatus::NotThisFormat : DirectoryStatus::Truncated;
        if (r == HeaderResult::Bad)
            return out.members.empty() ? DirectoryStatus::NotThisFormat : DirectoryStatus::Corrupt;
        int64_t next = m.data_offset + int64_t(m.packed_size);
        bool cut = next > file_size;
        out.members.push_back(std::move(m));
        if (cut) return DirectoryStatus::Truncated;
        offset = next;  // always past the header: every header is at least 22 bytes
    }
    return out.members.empty() ? DirectoryStatus::NotThisFormat : DirectoryStatus::Ok;
}

}  // namespace quorbel::lha
