#include "formats/ace/ace_directory.h"

#include <dirent.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/byte_reader.h"
#include "core/data_stream.h"

namespace quorbel::ace {

namespace {

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t v = i;
            for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
            t[i] = v;
        }
        return t;
    }();
    return table;
}

uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }

constexpr char kSignature[] = "**ACE**";
constexpr size_t kSignatureSize = 7;
// type, flags, signature, two versions, host, volume, time, 8 reserved bytes
constexpr size_t kMainFixed = 26;
// type, flags, two sizes (32-bit), time, attributes, CRC, method, quality, parameters,
// reserved, name size
constexpr size_t kFileFixed32 = 31;

struct RawHeader {
    int64_t offset = 0;
    uint8_t type = 0;
    uint16_t flags = 0;
    std::vector<uint8_t> body;  // from the type byte on
    int64_t End() const { return offset + 4 + int64_t(body.size()); }
};

// One block header at `offset`: its size must fit in the file and its CRC must match.
bool ReadHeader(DataStream& stream, int64_t offset, int64_t file_size, RawHeader& out) {
    uint8_t head[4];
    if (offset < 0 || offset + 4 > file_size || !engines::ReadExactAt(stream, offset, head, 4))
        return false;
    uint16_t crc = Le16(head);
    uint16_t size = Le16(head + 2);
    if (size < 3 || offset + 4 + size > file_size) return false;
    out.body.resize(size);
    if (!engines::ReadExactAt(stream, offset + 4, out.body.data(), size)) return false;
    if (uint16_t(AceCrc32(0xFFFFFFFFu, out.body.data(), size)) != crc) return false;
    out.offset = offset;
    out.type = out.body[0];
    out.flags = Le16(&out.body[1]);
    return true;
}

bool ParseMain(const RawHeader& h, AceDirectory& dir) {
    if (h.type != kMainHeader || (h.flags & kAddSize) || h.body.size() < kMainFixed) return false;
    if (std::memcmp(&h.body[3], kSignature, kSignatureSize) != 0) return false;
    dir.version_needed = h.body[10];
    dir.version_made = h.body[11];
    dir.host_os = h.body[12];
    dir.volume_number = h.body[13];
    dir.flags = h.flags;
    dir.solid = (h.flags & kSolid) != 0;
    dir.multi_volume = (h.flags & kMultiVolume) != 0;
    return true;
}

bool IsUnixHost(uint8_t host) { return host == kUnix || host == kLinux || host == kNext; }

// A file header's fields; false when the header is too short for what it declares.
bool ParseFile(const RawHeader& h, uint8_t host, AceMember& m) {
    const std::vector<uint8_t>& b = h.body;
    if (!(h.flags & kAddSize)) return false;
    size_t i = 3;
    if (h.type == kFileHeader64) {
        if (!(h.flags & kSize64) || b.size() < kFileFixed32 + 8) return false;
        m.packed_size = Le64(&b[i]);
        m.unpacked_size = Le64(&b[i + 8]);
        i += 16;
    } else {
        if (h.type != kFileHeader32 || (h.flags & kSize64) || b.size() < kFileFixed32) return false;
        m.packed_size = Le32(&b[i]);
        m.unpacked_size = Le32(&b[i + 4]);
        i += 8;
    }
    m.dos_datetime = Le32(&b[i]);
    m.attributes = Le32(&b[i + 4]);
    m.crc32 = ~Le32(&b[i + 8]);
    m.method = b[i + 12];
    m.quality = b[i + 13];
    m.params = Le16(&b[i + 14]);
    size_t name_size = Le16(&b[i + 18]);
    i += 20;
    if (name_size > b.size() - i) return false;
    m.name.assign(reinterpret_cast<const char*>(&b[i]), name_size);
    // A name ends at its first NUL, as C strings do.
    size_t nul = m.name.find('\0');
    if (nul != std::string::npos) m.name.resize(nul);
    m.flags = h.flags;
    m.encrypted = (h.flags & kPassword) != 0;
    m.time = engines::MemberTime::FromDos(uint16_t(m.dos_datetime >> 16), uint16_t(m.dos_datetime));
    if (IsUnixHost(host)) {
        // A Unix archiver keeps st_mode; in the high half when the low half holds DOS bits.
        uint32_t mode = (m.attributes & 0170000u) ? m.attributes & 0xFFFFu : m.attributes >> 16;
        m.mode.kind = engines::MemberMode::Kind::Unix;
        m.mode.bits = mode;
        m.is_folder = (mode & 0170000u) == 0040000u || (!(mode & 0170000u) && (m.attributes & 0x10));
        m.is_link = (mode & 0170000u) == 0120000u;
    } else {
        m.mode.kind = engines::MemberMode::Kind::Dos;
        m.mode.bits = m.attributes & 0xFF;
        m.is_folder = (m.attributes & 0x10) != 0;
    }
    m.header_offset = h.offset;
    return true;
}

// The main header in the first 64 KiB (a self-extractor's stub comes before it).
bool LocateMain(DataStream& stream, int64_t file_size, AceDirectory& dir, RawHeader& main) {
    size_t n = size_t(std::min<int64_t>(file_size, int64_t(kSignatureSearch)));
    std::vector<uint8_t> head(n);
    if (n < kSignatureSize + 7 || !engines::ReadExactAt(stream, 0, head.data(), n)) return false;
    for (size_t p = 7; p + kSignatureSize <= n; ++p) {
        if (head[p] != '*' || std::memcmp(&head[p], kSignature, kSignatureSize) != 0) continue;
        if (ReadHeader(stream, int64_t(p) - 7, file_size, main) && ParseMain(main, dir)) {
            dir.archive_offset = int64_t(p) - 7;
            return true;
        }
    }
    return false;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

uint32_t AceCrc32(uint32_t crc, const uint8_t* data, size_t size) {
    const auto& t = CrcTable();
    for (size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::string FindNextVolume(const std::string& path, std::string* wanted) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : Lower(name.substr(dot + 1));
    int number = 0;
    if (ext.size() >= 3 && ext[0] == 'c' &&
        std::all_of(ext.begin() + 1, ext.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
        ext.size() <= 4) {
        number = std::stoi(ext.substr(1)) + 1;
    }
    char next_ext[16];
    std::snprintf(next_ext, sizeof next_ext, ".c%02d", number);
    std::string next = base;
    next += next_ext;
    if (wanted) *wanted = next;
    const std::string lower = Lower(next);
    std::string found;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (Lower(e->d_name) != lower) continue;
            // An exact match wins over another spelling.
            if (found.empty() || next == e->d_name) found = e->d_name;
        }
        closedir(d);
    }
    if (found.empty()) return "";
    std::string result = slash == std::string::npos ? found : folder;
    if (slash != std::string::npos) {
        result += '/';
        result += found;
    }
    return result;
}

engines::DirectoryStatus ReadAceDirectory(DataStream& stream, const std::string& path,
                                          AceDirectory& out,
                                          const engines::DirectoryProgress& progress) {
    out = AceDirectory{};
    int64_t size = stream.Size();
    RawHeader h;
    if (size <= 0 || !LocateMain(stream, size, out, h)) return engines::DirectoryStatus::NotThisFormat;
    out.volume_paths.push_back(path);

    std::vector<std::unique_ptr<DataStream>> later;  // volumes 1.. opened for the listing
    DataStream* current = &stream;
    int volume = 0;
    int64_t pos = h.End();
    while (pos < size) {
        if (progress && !progress(pos)) return engines::DirectoryStatus::Cancelled;
        if (!ReadHeader(*current, pos, size, h)) return engines::DirectoryStatus::Truncated;
        if (h.type == kMainHeader) return engines::DirectoryStatus::Truncated;
        if (h.type != kFileHeader32 && h.type != kFileHeader64) {
            // Recovery records and later block kinds: skipped by their added size.
            uint64_t add = 0;
            if (h.flags & kAddSize) {
                if (h.body.size() < ((h.flags & kSize64) ? 11u : 7u)) return engines::DirectoryStatus::Truncated;
                add = (h.flags & kSize64) ? Le64(&h.body[3]) : Le32(&h.body[3]);
            }
            if (add > uint64_t(size - h.End())) return engines::DirectoryStatus::Truncated;
            pos = h.End() + int64_t(add);
            continue;
        }
        AceMember m;
        if (!ParseFile(h, out.host_os, m)) return engines::DirectoryStatus::Truncated;
        if (m.packed_size > uint64_t(size - h.End())) return engines::DirectoryStatus::Truncated;
        m.segments.push_back({volume, h.End(), m.packed_size});
        if (m.flags & kContinuedFromPrevious) {
            // Its beginning is in a volume before the one opened.
            m.continued = true;
            m.complete = false;
        }
        pos = h.End() + int64_t(m.packed_size);
        uint16_t flags = m.flags;
        while ((flags & kContinuesInNext) && out.multi_volume) {
            std::string wanted;
            std::string next = FindNextVolume(out.volume_paths.back(), &wanted);
            auto vs = std::make_unique<DataStream>();
            if (next.empty() || !vs->OpenFile(next, true)) {
                out.missing_volume = wanted;
                m.complete = false;
                out.members.push_back(std::move(m));
                return engines::DirectoryStatus::Ok;
            }
            AceDirectory vdir;
            RawHeader vh;
            int64_t vsize = vs->Size();
            if (!LocateMain(*vs, vsize, vdir, vh) || vdir.volume_number != uint8_t(out.volume_number + volume + 1) ||
                !ReadHeader(*vs, vh.End(), vsize, vh))
                return engines::DirectoryStatus::Truncated;
            AceMember part;
            if (!ParseFile(vh, out.host_os, part) || !(part.flags & kContinuedFromPrevious) ||
                part.name != m.name || part.packed_size > uint64_t(vsize - vh.End()))
                return engines::DirectoryStatus::Truncated;
            ++volume;
            out.volume_paths.push_back(next);
            m.segments.push_back({volume, vh.End(), part.packed_size});
            m.crc32 = part.crc32;  // the last piece's header holds the whole member's CRC
            flags = part.flags;
            pos = vh.End() + int64_t(part.packed_size);
            size = vsize;
            later.push_back(std::move(vs));
            current = later.back().get();
        }
        out.members.push_back(std::move(m));
    }
    return engines::DirectoryStatus::Ok;
}

VolumeSet::VolumeSet(DataStream& first, std::vector<std::string> paths)
    : first_(first), paths_(std::move(paths)) {
    open_.resize(paths_.size());
}

VolumeSet::~VolumeSet() = default;

DataStream* VolumeSet::Get(int index) {
    if (index == 0) return &first_;
    if (index < 0 || size_t(index) >= paths_.size()) return nullptr;
    if (!open_[size_t(index)]) {
        auto s = std::make_unique<DataStream>();
        if (!s->OpenFile(paths_[size_t(index)], true)) return nullptr;
        open_[size_t(index)] = std::move(s);
    }
    return open_[size_t(index)].get();
}

}  // namespace quorbel::ace
