#include "formats/tar_archive.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include <unistd.h>

#include "core/byte_reader.h"
#include "core/code_page.h"
#include "core/messages.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {
constexpr int64_t kBlock = 512;
// Meta records bigger than this are damage, not names or attributes.
constexpr int64_t kMaxNameRecord = int64_t(1) << 20;
constexpr int64_t kMaxPaxRecord = int64_t(64) << 20;
constexpr size_t kMaxSegments = size_t(1) << 20;
constexpr size_t kReadChunk = size_t(1) << 20;
constexpr size_t kScanWindow = 65536;
// A sparse member's holes are zeros the archive does not hold, so its size may run far beyond
// the archive (a 61 KB sample holds a 99 MB file). Unpacking one makes the whole file, so what
// a header may claim is budgeted: up to 1 GiB always, beyond that at most this many times the
// archive's size, the highest expansion deflate itself can reach.
constexpr int64_t kSparseAllowance = int64_t(1) << 30;
constexpr int64_t kMaxSparseExpansion = 1032;

// Header field offsets.
constexpr size_t kName = 0, kMode = 100, kSize = 124, kMtime = 136, kChecksum = 148,
                 kTypeFlag = 156, kLinkName = 157, kMagic = 257, kPrefix = 345;
// Old GNU sparse header: four map entries, the "more follow" flag and the real size.
constexpr size_t kGnuSparseMap = 386, kGnuIsExtended = 482, kGnuRealSize = 483;
constexpr size_t kSparseEntries = 4, kExtEntries = 21, kExtIsExtended = 504;

// Format header layout (our own record): kind, type flag, mode (LE32), flags, link length
// (LE32) and link bytes; for sparse members the piece count (LE32) and the pieces.
constexpr size_t kFhKind = 0, kFhType = 1, kFhMode = 2, kFhFlags = 6, kFhLinkLen = 7, kFhFixed = 11;
constexpr uint8_t kFhHasMode = 1, kFhSparse = 2;

std::string Field(const uint8_t* record, size_t offset, size_t width) {
    const char* p = reinterpret_cast<const char*>(record + offset);
    return std::string(p, strnlen(p, width));
}

// Names are UTF-8 when they are valid UTF-8; otherwise their bytes are taken as ISO 8859-1.
std::string NameText(const std::string& raw) {
    if (IsValidUtf8(raw)) return raw;
    return Latin1ToUtf8(raw);
}

bool IsZeroBlock(const uint8_t* record) {
    for (int64_t i = 0; i < kBlock; ++i)
        if (record[i]) return false;
    return true;
}

bool HasMagic(const uint8_t* record) {
    return std::memcmp(record + kMagic, "ustar", 5) == 0 || std::memcmp(record + kMagic, "GNUtar", 6) == 0;
}

// The POSIX form ("ustar\0") has the prefix field; the GNU form ("ustar  \0") keeps other
// data there.
bool IsPosixUstar(const uint8_t* record) {
    return std::memcmp(record + kMagic, "ustar", 5) == 0 && record[kMagic + 5] == 0;
}

int64_t RoundUp(int64_t n) { return (n + kBlock - 1) / kBlock * kBlock; }

// A decimal number of a pax record: digits, optionally a sign and a fraction (dropped).
bool ParseDecimal(const std::string& text, int64_t& value, bool allow_sign, bool allow_fraction) {
    size_t i = 0;
    bool negative = false;
    if (allow_sign && i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int d = text[i] - '0';
        if (v > (INT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    if (i < text.size()) {
        if (!allow_fraction || text[i] != '.') return false;
        for (++i; i < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9') return false;
    }
    value = negative ? -v : v;
    return true;
}

// A member is unpacked in memory: one bigger than the machine's memory (a sparse file's
// declared size can be anything) is refused as out of memory.
uint64_t MemoryLimit() {
    long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return SIZE_MAX / 2;
    return std::min<uint64_t>(uint64_t(pages) * uint64_t(page_size), SIZE_MAX / 2);
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void PutLe64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
}  // namespace

struct TarArchive::Member {
    std::string name, link;
    Kind kind = Kind::kFile;
    char type_flag = '0';
    uint32_t mode = 0;
    bool has_mode = false;
    int64_t stored = 0;  // bytes of data in the archive
    int64_t real = 0;    // size of the file they make
    int64_t mtime = 0;
    bool has_mtime = false;
    int64_t data_offset = 0;
    bool sparse = false;
    std::vector<Segment> segments;
};

// What meta records say about the next member.
struct TarArchive::Pending {
    std::string long_name, long_link;
    bool has_long_name = false, has_long_link = false;
    PaxValues local;
    void Clear() { *this = Pending(); }
};

TarArchive::TarArchive() { format_name_ = "TAR"; }

bool TarArchive::ParseNumber(const uint8_t* field, size_t width, int64_t& value) {
    if (width == 0) return false;
    if (field[0] & 0x80) {
        // Base-256, big-endian two's complement; 0x80 marks a positive value, 0xFF a
        // negative one.
        int64_t v = (field[0] & 0x40) ? -1 : 0;
        v = (v << 6) | (field[0] & 0x3F);
        for (size_t i = 1; i < width; ++i) {
            if (v > (INT64_MAX >> 8) || v < (INT64_MIN >> 8)) return false;
            v = v * 256 + field[i];
        }
        value = v;
        return true;
    }
    size_t i = 0;
    while (i < width && field[i] == ' ') ++i;
    int64_t v = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (v > (INT64_MAX >> 3)) return false;
        v = v * 8 + (field[i] - '0');
    }
    // The number ends with a blank or a zero byte, or fills the field.
    if (i < width && field[i] != ' ' && field[i] != 0) return false;
    value = v;  // an empty field reads as 0
    return true;
}

bool TarArchive::ChecksumMatches(const uint8_t* record) {
    // The stored sum must be written in digits: an all-blank or all-zero field is no header.
    size_t i = kChecksum;
    while (i < kChecksum + 8 && record[i] == ' ') ++i;
    if (i == kChecksum + 8 || record[i] < '0' || record[i] > '7') return false;
    int64_t stored;
    if (!ParseNumber(record + kChecksum, 8, stored)) return false;
    int64_t unsigned_sum = 0, signed_sum = 0;
    for (size_t k = 0; k < size_t(kBlock); ++k) {
        uint8_t c = (k >= kChecksum && k < kChecksum + 8) ? uint8_t(' ') : record[k];
        unsigned_sum += c;
        signed_sum += int8_t(c);
    }
    return stored == unsigned_sum || stored == signed_sum;
}

bool TarArchive::ParsePax(const uint8_t* data, size_t size, PaxValues& out) {
    size_t pos = 0;
    while (pos < size) {
        if (data[pos] == 0) break;  // padding after the last record
        size_t p = pos;
        uint64_t length = 0;
        size_t digits = 0;
        while (p < size && data[p] >= '0' && data[p] <= '9') {
            if (++digits > 18) return false;
            length = length * 10 + uint64_t(data[p++] - '0');
        }
        if (digits == 0 || p >= size || data[p] != ' ') return false;
        ++p;
        if (length < p - pos + 2 || length > size - pos) return false;  // at least "k=\n"
        size_t end = pos + size_t(length);
        if (data[end - 1] != '\n') return false;
        const char* text = reinterpret_cast<const char*>(data + p);
        const char* eq = static_cast<const char*>(std::memchr(text, '=', end - 1 - p));
        if (!eq || eq == text) return false;
        std::string key(text, size_t(eq - text));
        std::string value(eq + 1, reinterpret_cast<const char*>(data + end - 1));
        if (key == "GNU.sparse.offset" || key == "GNU.sparse.numbytes") {
            int64_t n;
            if (!ParseDecimal(value, n, false, false)) return false;
            auto& list = key == "GNU.sparse.offset" ? out.sparse_offsets : out.sparse_lengths;
            if (list.size() >= kMaxSegments) return false;
            list.push_back(n);
        } else {
            out.values[key] = value;
        }
        pos = end;
    }
    return true;
}

bool TarArchive::ReadAt(int64_t offset, void* buffer, size_t size) {
    return stream_.Seek(offset, DataStream::Origin::Start) == offset && stream_.Read(buffer, size) == size;
}

int64_t TarArchive::ScanForHeader(int64_t from, int64_t file_size) {
    // Only records that carry a magic are looked for here: without one, a checksum match at
    // an arbitrary byte is too weak a sign.
    std::vector<uint8_t> window(kScanWindow + size_t(kBlock) - 1);
    int64_t start = from;
    while (file_size - start >= kBlock) {
        size_t want = size_t(std::min<int64_t>(int64_t(window.size()), file_size - start));
        if (!ReadAt(start, window.data(), want)) return -1;
        for (size_t i = 0; i + size_t(kBlock) <= want; ++i) {
            const uint8_t* r = window.data() + i;
            if (r[kMagic] == 'u' || r[kMagic] == 'G')
                if (HasMagic(r) && ChecksumMatches(r)) return start + int64_t(i);
        }
        start += int64_t(want) - kBlock + 1;
    }
    return -1;
}

int TarArchive::ReadMembers(std::vector<Member>& members) {
    const int64_t file_size = stream_.Size();
    uint8_t h[kBlock];
    // The first record must be a header, and a sane one: its size field readable.
    int64_t first_size;
    if (file_size < kBlock || !ReadAt(0, h, size_t(kBlock)) || !ChecksumMatches(h) ||
        !ParseNumber(h + kSize, 12, first_size))
        return kStatusNotThisFormat;

    auto corrupt = [this] {
        SetMessage(kMsgCorrupt, path_);
        return kStatusCorrupt;
    };
    PaxValues global;
    Pending pending;
    int64_t pos = 0;
    while (file_size - pos >= kBlock) {
        if (!ReadAt(pos, h, size_t(kBlock))) return corrupt();
        if (!ChecksumMatches(h)) {
            // End-of-archive blocks are skipped whole; anything else is searched through
            // byte by byte for the next header.
            if (IsZeroBlock(h)) {
                pos += kBlock;
                continue;
            }
            int64_t next = ScanForHeader(pos + 1, file_size);
            if (next < 0) break;
            pos = next;
            continue;
        }
        if (sink_->SetPos(pos) == 0) {
            SetMessage(kMsgAborted);
            return kStatusAborted;
        }
        const char type = char(h[kTypeFlag]);
        int64_t size;
        if (!ParseNumber(h + kSize, 12, size) || size < 0) return corrupt();
        const int64_t data = pos + kBlock;

        if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
            if (size > file_size - data) return corrupt();
            if (size > ((type == 'L' || type == 'K') ? kMaxNameRecord : kMaxPaxRecord)) return corrupt();
            std::vector<uint8_t> payload;
            try {
                payload.resize(size_t(size));
            } catch (const std::bad_alloc&) {
                SetMessage(kMsgOutOfMemory);
                return kStatusFailed;
            }
            if (size > 0 && !ReadAt(data, payload.data(), payload.size())) return corrupt();
            if (type == 'L' || type == 'K') {
                // The text stops at its first zero byte; an empty record names nothing, so the
                // member's own header name stands.
                const auto zero = std::find(payload.begin(), payload.end(), uint8_t(0));
                std::string text(payload.begin(), zero);
                if (text.empty()) {
                    // nothing to record
                } else if (type == 'L') {
                    pending.long_name = text;
                    pending.has_long_name = true;
                } else {
                    pending.long_link = text;
                    pending.has_long_link = true;
                }
            } else {
                // Of several extended headers before one member, the last one holds.
                if (type == 'x') pending.local = PaxValues();
                if (!ParsePax(payload.data(), payload.size(), type == 'x' ? pending.local : global))
                    return corrupt();
            }
            pos = data + RoundUp(size);
            continue;
        }

        // A pax value for the next member: the member's own header wins over the global one;
        // an empty value there cancels a global one. What names or sizes one member (its path,
        // link, size, sparse map) is never taken from a global header, which would give every
        // member after it the same name.
        auto pax = [&](const char* key) -> const std::string* {
            auto it = pending.local.values.find(key);
            if (it != pending.local.values.end()) return it->second.empty() ? nullptr : &it->second;
            const std::string_view k = key;
            if (k == "path" || k == "linkpath" || k == "size" || k.starts_with("GNU.sparse."))
                return nullptr;
            it = global.values.find(key);
            if (it != global.values.end() && !it->second.empty()) return &it->second;
            return nullptr;
        };
        if (const std::string* v = pax("size"); v && !ParseDecimal(*v, size, false, false)) return corrupt();

        Member m;
        m.type_flag = type;
        switch (type) {
            case '1': m.kind = Kind::kHardLink; break;
            case '2': m.kind = Kind::kSymLink; break;
            case '3': case '4': case '6': m.kind = Kind::kSpecial; break;
            case '5': case 'D': m.kind = Kind::kFolder; break;
            default: m.kind = Kind::kFile; break;  // unknown types are read as regular files
        }
        // Links, devices and folders have no data, whatever their size field says (GNU
        // dump folders do).
        m.stored = (m.kind == Kind::kFile || type == 'D') ? size : 0;
        m.data_offset = data;
        if (m.stored > file_size - data) return corrupt();

        std::string raw_name;
        if (const std::string* v = pax("GNU.sparse.name")) raw_name = *v;
        else if (const std::string* v = pax("path")) raw_name = *v;
        else if (pending.has_long_name) raw_name = pending.long_name;
        else {
            raw_name = Field(h, kName, 100);
            std::string prefix = IsPosixUstar(h) ? Field(h, kPrefix, 155) : std::string();
            if (!prefix.empty()) raw_name = prefix + "/" + raw_name;
        }
        std::string raw_link;
        if (const std::string* v = pax("linkpath")) raw_link = *v;
        else if (pending.has_long_link) raw_link = pending.long_link;
        else raw_link = Field(h, kLinkName, 100);

        int64_t number;
        if (const std::string* v = pax("mtime")) {
            m.has_mtime = ParseDecimal(*v, m.mtime, true, true);
        } else if (ParseNumber(h + kMtime, 12, number)) {
            m.mtime = number;
            m.has_mtime = true;
        }
        if (ParseNumber(h + kMode, 8, number)) {
            m.mode = uint32_t(number & 07777);
            m.has_mode = true;
        }
        m.real = m.stored;

        // Sparse files: the archive holds only the pieces that are not holes.
        if (type == 'S') {
            m.sparse = true;
            if (!ParseNumber(h + kGnuRealSize, 12, m.real) || m.real < 0) return corrupt();
            auto take = [&](const uint8_t* entry) {
                int64_t offset, length;
                if (entry[0] == 0) return true;  // unused slot
                if (!ParseNumber(entry, 12, offset) || !ParseNumber(entry + 12, 12, length)) return false;
                if (m.segments.size() >= kMaxSegments) return false;
                m.segments.push_back({offset, length});
                return true;
            };
            for (size_t i = 0; i < kSparseEntries; ++i)
                if (!take(h + kGnuSparseMap + 24 * i)) return corrupt();
            bool extended = h[kGnuIsExtended] != 0;
            uint8_t ext[kBlock];
            while (extended) {
                if (file_size - m.data_offset < kBlock || !ReadAt(m.data_offset, ext, size_t(kBlock)))
                    return corrupt();
                for (size_t i = 0; i < kExtEntries; ++i)
                    if (!take(ext + 24 * i)) return corrupt();
                extended = ext[kExtIsExtended] != 0;
                m.data_offset += kBlock;
            }
            if (m.stored > file_size - m.data_offset) return corrupt();
        } else if (m.kind == Kind::kFile) {
            const std::string* major = pax("GNU.sparse.major");
            const std::string* map = pax("GNU.sparse.map");
            const std::string* real = pax("GNU.sparse.realsize");
            if (!real) real = pax("GNU.sparse.size");
            if (major && *major == "1") {
                // Format 1.0: the map is decimal text lines at the start of the data.
                m.sparse = true;
                if (!real || !ParseDecimal(*real, m.real, false, false)) return corrupt();
                std::vector<int64_t> numbers;
                int64_t wanted = -1;  // how many numbers the map holds, once its count is read
                int64_t used = 0;
                std::string digits;
                uint8_t block[kBlock];
                while (wanted < 0 || int64_t(numbers.size()) < wanted) {
                    if (used >= m.stored || !ReadAt(m.data_offset + used, block, size_t(kBlock))) return corrupt();
                    used += kBlock;
                    for (size_t i = 0; i < size_t(kBlock) && (wanted < 0 || int64_t(numbers.size()) < wanted); ++i) {
                        char c = char(block[i]);
                        if (c >= '0' && c <= '9') {
                            if (digits.size() > 18) return corrupt();
                            digits += c;
                            continue;
                        }
                        if (c != '\n' || digits.empty()) return corrupt();
                        int64_t n = 0;
                        if (!ParseDecimal(digits, n, false, false)) return corrupt();
                        digits.clear();
                        if (wanted < 0) {
                            if (uint64_t(n) > kMaxSegments) return corrupt();
                            wanted = 2 * n;
                        } else {
                            numbers.push_back(n);
                        }
                    }
                }
                if (!digits.empty() || used > m.stored) return corrupt();
                for (size_t i = 0; i + 1 < numbers.size(); i += 2) m.segments.push_back({numbers[i], numbers[i + 1]});
                m.data_offset += used;
                m.stored -= used;
            } else if (map) {
                // Format 0.1: "offset,length,offset,length,..." in one value.
                m.sparse = true;
                if (!real || !ParseDecimal(*real, m.real, false, false)) return corrupt();
                std::vector<int64_t> numbers;
                size_t start = 0;
                while (!map->empty() && start <= map->size()) {
                    size_t comma = map->find(',', start);
                    if (comma == std::string::npos) comma = map->size();
                    int64_t n;
                    if (!ParseDecimal(map->substr(start, comma - start), n, false, false)) return corrupt();
                    if (numbers.size() >= 2 * kMaxSegments) return corrupt();
                    numbers.push_back(n);
                    start = comma + 1;
                }
                if (numbers.size() % 2) return corrupt();
                for (size_t i = 0; i < numbers.size(); i += 2) m.segments.push_back({numbers[i], numbers[i + 1]});
            } else if (!pending.local.sparse_offsets.empty()) {
                // Format 0.0: one offset/length pair of records per piece.
                m.sparse = true;
                if (!real || !ParseDecimal(*real, m.real, false, false)) return corrupt();
                const auto& offsets = pending.local.sparse_offsets;
                const auto& lengths = pending.local.sparse_lengths;
                if (offsets.size() != lengths.size()) return corrupt();
                for (size_t i = 0; i < offsets.size(); ++i) m.segments.push_back({offsets[i], lengths[i]});
            }
        }
        if (m.sparse) {
            // Every piece inside the file, and no more pieces than stored data.
            int64_t total = 0;
            for (const Segment& s : m.segments) {
                if (s.offset < 0 || s.length < 0 || s.offset > m.real || s.length > m.real - s.offset ||
                    s.length > m.stored - total)
                    return corrupt();
                total += s.length;
            }
        }

        pending.Clear();
        pos = m.data_offset + RoundUp(m.stored);
        // A GNU volume label and a Solaris access-control list are records, not members.
        if (type == 'V' || type == 'A') continue;

        // Stored names may start with "/" or "./"; the entry shows the path below them.
        std::string name = NameText(raw_name);
        size_t skip = 0;
        for (;;) {
            if (name.compare(skip, 1, "/") == 0) {
                ++skip;
            } else if (name.compare(skip, 2, "./") == 0) {
                skip += 2;
            } else {
                break;
            }
        }
        name.erase(0, skip);
        if (name == ".") name.clear();
        if (m.kind == Kind::kFile && !name.empty() && name.back() == '/') m.kind = Kind::kFolder;
        if (m.kind == Kind::kFolder && !name.empty() && name.back() != '/') name += '/';
        // Nothing is left to show or to write of a member without a name (the archive's own
        // "./" folder, or damage).
        if (name.empty() || name == "/") continue;
        m.name = std::move(name);
        m.link = NameText(raw_link);
        try {
            members.push_back(std::move(m));
        } catch (const std::bad_alloc&) {
            SetMessage(kMsgOutOfMemory);
            return kStatusFailed;
        }
    }
    return kStatusOk;
}

int TarArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, format_name_);
    ProgressScope progress(sink_);
    sink_->SetRange(0, stream_.Size());
    std::vector<Member> members;
    int status = ReadMembers(members);
    if (status == kStatusNotThisFormat) {
        SetMessage(kMsgNotThisFormat, path_, format_name_);
        return status;
    }
    const std::string message = LastMessage();
    if (!AllocateEntries(members.size())) return kStatusFailed;
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        const bool is_file = m.kind != Kind::kFolder;
        const bool has_data = m.kind == Kind::kFile;
        uint32_t attributes = m.kind == Kind::kFolder ? kAttrFolder : 0;
        if (has_data && m.has_mode && !(m.mode & 0200)) attributes |= kAttrReadOnly;
        ArchiveEntry* e = SetEntry(i, is_file, m.name, has_data ? m.stored : 0, has_data ? m.real : 0, -1,
                                   attributes, false, 0, 0, "");
        if (!e) return kStatusFailed;
        // Tar keeps Unix times, not DOS ones.
        if (m.has_mtime) SetEntryTime(*e, std::time_t(m.mtime));
        e->header_offset = m.data_offset;
        std::vector<uint8_t> fh;
        fh.push_back(uint8_t(m.kind));
        fh.push_back(uint8_t(m.type_flag));
        PutLe32(fh, m.mode);
        fh.push_back(uint8_t((m.has_mode ? kFhHasMode : 0) | (m.sparse ? kFhSparse : 0)));
        PutLe32(fh, uint32_t(m.link.size()));
        fh.insert(fh.end(), m.link.begin(), m.link.end());
        if (m.sparse) {
            PutLe32(fh, uint32_t(m.segments.size()));
            for (const Segment& s : m.segments) {
                PutLe64(fh, uint64_t(s.offset));
                PutLe64(fh, uint64_t(s.length));
            }
        }
        if (!StoreFormatHeader(*e, fh.data(), fh.size())) return kStatusFailed;
    }
    if (status != kStatusOk) SetLastMessage(message);
    return status;
}

TarArchive::Kind TarArchive::KindOf(const ArchiveEntry& entry) const {
    const std::span<const uint8_t> fh = FormatHeader(entry);
    if (fh.size() < kFhFixed) return entry.is_file ? Kind::kFile : Kind::kFolder;
    uint8_t k = fh[kFhKind];
    return k <= uint8_t(Kind::kSpecial) ? Kind(k) : Kind::kSpecial;
}

char TarArchive::TypeFlagOf(const ArchiveEntry& entry) const {
    const std::span<const uint8_t> fh = FormatHeader(entry);
    return fh.size() < kFhFixed ? '0' : char(fh[kFhType]);
}

uint32_t TarArchive::ModeOf(const ArchiveEntry& entry) const {
    const std::span<const uint8_t> fh = FormatHeader(entry);
    if (fh.size() < kFhFixed || !(fh[kFhFlags] & kFhHasMode)) return 0;
    return Le32(fh.data() + kFhMode);
}

std::string TarArchive::LinkTargetOf(const ArchiveEntry& entry) const {
    const std::span<const uint8_t> fh = FormatHeader(entry);
    if (fh.size() < kFhFixed) return "";
    uint32_t n = Le32(fh.data() + kFhLinkLen);
    if (n > fh.size() - kFhFixed) return "";
    return std::string(reinterpret_cast<const char*>(fh.data() + kFhFixed), n);
}

bool TarArchive::IsSparse(const ArchiveEntry& entry) const {
    const std::span<const uint8_t> fh = FormatHeader(entry);
    return fh.size() >= kFhFixed && (fh[kFhFlags] & kFhSparse);
}

std::vector<TarArchive::Segment> TarArchive::SegmentsOf(const ArchiveEntry& entry) const {
    std::vector<Segment> out;
    if (!IsSparse(entry)) return out;
    const std::span<const uint8_t> fh = FormatHeader(entry);
    ByteReader r(fh.data() + kFhFixed, fh.size() - kFhFixed);
    r.Skip(Le32(fh.data() + kFhLinkLen));
    uint32_t count = r.U32();
    for (uint32_t i = 0; i < count && r.Ok(); ++i) {
        Segment s;
        s.offset = int64_t(r.U64());
        s.length = int64_t(r.U64());
        if (r.Ok()) out.push_back(s);
    }
    return out;
}

MemoryBlock TarArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    if (!entry.is_file) return {};
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), std::string(entry.NamePart()).c_str()));
    auto data_error = [&] {
        SetMessage(kMsgDecompressError);
        status = kUnpackDataError;
        return MemoryBlock();
    };
    auto out_of_memory = [&] {
        SetMessage(kMsgOutOfMemory);
        status = kStatusFailed;
        return MemoryBlock();
    };

    if (KindOf(entry) != Kind::kFile) {
        // Links and special files carry no data of their own.
        MemoryBlock empty = MemoryBlock::Allocate(0);
        if (!empty) return out_of_memory();
        empty.size = 0;
        status = kUnpackOk;
        return empty;
    }
    const int64_t file_size = stream_.Size();
    const int64_t offset = entry.header_offset;
    const int64_t stored = entry.packed;
    const int64_t real = entry.unpacked;
    if (offset < 0 || stored < 0 || real < 0 || offset > file_size) return data_error();
    const bool sparse = IsSparse(entry);
    std::vector<Segment> segments = sparse ? SegmentsOf(entry) : std::vector<Segment>{{0, real}};
    if (!sparse && stored != real) return data_error();
    if (uint64_t(real) > MemoryLimit()) return out_of_memory();
    if (sparse && real > kSparseAllowance && real / kMaxSparseExpansion > file_size) return out_of_memory();

    MemoryBlock out;
    if (sparse) {
        // The holes read as zeros.
        out.data.reset(static_cast<uint8_t*>(std::calloc(real ? size_t(real) : 1, 1)));
        out.size = size_t(real);
    } else {
        out = MemoryBlock::Allocate(size_t(real));
    }
    if (!out) return out_of_memory();

    if (stream_.Seek(offset, DataStream::Origin::Start) != offset) return data_error();
    sink_->SetRange(0, stored);
    int64_t done = 0;
    for (const Segment& s : segments) {
        if (s.offset < 0 || s.length < 0 || s.offset > real || s.length > real - s.offset ||
            s.length > stored - done)
            return data_error();
        int64_t copied = 0;
        while (copied < s.length) {
            size_t n = size_t(std::min<int64_t>(int64_t(kReadChunk), s.length - copied));
            // A file cut short since it was listed ends here.
            if (stream_.Read(out.data.get() + s.offset + copied, n) != n) return data_error();
            copied += int64_t(n);
            done += int64_t(n);
            if (sink_->SetPos(done) == 0) {
                SetMessage(kMsgAborted);
                status = kUnpackAborted;
                return {};
            }
        }
    }
    out.size = size_t(real);
    status = kUnpackOk;
    return out;
}

int TarArchive::ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                             bool use_folder_names, std::string* out_path, bool write) {
    const Kind kind = KindOf(entry);
    if (entry.is_file && kind != Kind::kFile) {
        // Links could point anywhere (and hard links need their target written first), and
        // devices need privileges: none is made, each is reported.
        if (write) {
            if (kind == Kind::kSpecial)
                ReportSkipped(FormatText(StringById(text_id::kSpecialNotExtracted).c_str(), entry.full_name.c_str()));
            else
                ReportSkipped(FormatText(StringById(text_id::kLinkNotExtracted).c_str(), entry.full_name.c_str()));
        }
        return kStatusOk;
    }
    return ArchiveHandler::ExtractEntry(entry, dest_folder, use_folder_names, out_path, write);
}

}  // namespace quorbel
