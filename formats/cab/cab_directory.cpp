#include "formats/cab/cab_directory.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "core/byte_reader.h"
#include "core/code_page.h"

namespace quorbel::cab {

namespace {
// Header field offsets.
constexpr size_t kFixedSize = 36, kCabinetSize = 8, kFilesOffset = 16, kVersionAt = 24,
                 kFolderCount = 26, kFileCount = 28, kFlags = 30, kSetId = 32, kNumber = 34,
                 kReserveSizes = 36, kReserveFixed = 40;
constexpr size_t kEntryFixed = 16;  // size, offset in folder, folder, date, time, attributes
// Longest name a file entry is read with; the format allows 256 bytes, so more is damage.
constexpr size_t kMaxStoredName = 1024;

bool ReadAt(DataStream& s, int64_t offset, void* buffer, size_t n) {
    return s.Seek(offset, DataStream::Origin::Start) == offset && s.Read(buffer, n) == n;
}

// A zero-terminated text at `pos` inside `bytes`; false when it runs off the end.
bool TakeText(const std::vector<uint8_t>& bytes, size_t& pos, std::string& out) {
    if (pos >= bytes.size()) return false;
    const auto* start = bytes.data() + pos;
    const void* zero = std::memchr(start, 0, bytes.size() - pos);
    if (!zero) return false;
    const size_t n = size_t(static_cast<const uint8_t*>(zero) - start);
    out.assign(reinterpret_cast<const char*>(start), n);
    pos += n + 1;
    return true;
}
}  // namespace

std::string CabMember::DisplayName() const {
    if ((attribs & kAttrNameIsUtf8) && IsValidUtf8(raw_name)) return raw_name;
    return Cp437ToUtf8(raw_name);
}

bool IsBareCabinetName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\:") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string FindCabinetInFolder(const std::string& folder, const std::string& name) {
    std::string exact = folder;
    exact += name;
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return "";
    std::string found;
    while (dirent* d = readdir(dir)) {
        if (strcasecmp(d->d_name, name.c_str()) != 0) continue;
        found = folder;
        found += d->d_name;
        break;
    }
    closedir(dir);
    return found;
}

CabReadResult ReadCabDirectory(DataStream& stream, CabDirectory& out) {
    out = CabDirectory();
    const int64_t file_size = stream.Size();
    uint8_t fixed[kReserveFixed] = {};
    if (file_size < int64_t(kFixedSize) || !ReadAt(stream, 0, fixed, kFixedSize))
        return CabReadResult::kNotCabinet;
    if (Le32(fixed) != kSignature) return CabReadResult::kNotCabinet;
    const uint32_t files_offset = Le32(fixed + kFilesOffset);
    const uint16_t file_count = Le16(fixed + kFileCount);
    if (Le16(fixed + kVersionAt) != kVersion || Le16(fixed + kFolderCount) == 0 || file_count == 0)
        return CabReadResult::kDamaged;
    // The offset sizes the header buffer: it must lie inside the file, past the fixed part,
    // with room for at least one entry.
    if (files_offset <= kFixedSize || int64_t(files_offset) + int64_t(kEntryFixed) > file_size)
        return CabReadResult::kDamaged;
    out.cabinet_size = Le32(fixed + kCabinetSize);
    out.flags = Le16(fixed + kFlags);
    out.set_id = Le16(fixed + kSetId);
    out.number_in_set = Le16(fixed + kNumber);

    std::vector<uint8_t> header(files_offset);
    if (!ReadAt(stream, 0, header.data(), header.size())) return CabReadResult::kDamaged;
    size_t pos = kFixedSize;
    if (out.flags & kFlagReserve) {
        if (header.size() < kReserveFixed) return CabReadResult::kDamaged;
        pos = kReserveFixed + Le16(header.data() + kReserveSizes);
    }
    if (out.flags & kFlagPrevious) {
        if (!TakeText(header, pos, out.previous_name) || !TakeText(header, pos, out.previous_disk))
            return CabReadResult::kDamaged;
    }
    if (out.flags & kFlagNext) {
        if (!TakeText(header, pos, out.next_name) || !TakeText(header, pos, out.next_disk))
            return CabReadResult::kDamaged;
    }
    // The first folder entry tells where the data begins, which is where the table ends;
    // an offset outside the file (or before the table) is not believed and the file's end
    // bounds the table instead.
    int64_t table_end = file_size;
    if (pos + 8 <= header.size()) {
        const uint32_t first_data = Le32(header.data() + pos);
        if (first_data > files_offset && int64_t(first_data) <= file_size) {
            out.first_data = first_data;
            table_end = first_data;
        }
    }
    const int64_t longest = int64_t(file_count) * int64_t(kEntryFixed + kMaxStoredName + 1);
    table_end = std::min(table_end, int64_t(files_offset) + longest);
    std::vector<uint8_t> table(size_t(table_end - int64_t(files_offset)));
    if (!ReadAt(stream, files_offset, table.data(), table.size())) return CabReadResult::kDamaged;

    pos = 0;
    out.members.reserve(file_count);
    for (uint16_t i = 0; i < file_count; ++i) {
        if (pos + kEntryFixed > table.size()) {
            out.table_cut = true;
            break;
        }
        CabMember m;
        const uint8_t* e = table.data() + pos;
        m.size = Le32(e);
        m.folder = Le16(e + 8);
        m.date = Le16(e + 10);
        m.time = Le16(e + 12);
        m.attribs = Le16(e + 14);
        m.index = i;
        size_t name_at = pos + kEntryFixed;
        if (!TakeText(table, name_at, m.raw_name)) {
            out.table_cut = true;
            break;
        }
        pos = name_at;
        out.members.push_back(std::move(m));
    }
    return CabReadResult::kOk;
}

}  // namespace quorbel::cab
