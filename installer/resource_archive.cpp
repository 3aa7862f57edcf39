#include "installer/resource_archive.h"

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/byte_reader.h"
#include "core/progress_sink.h"
#include "core/safe_path.h"
#include "core/zip/deflate.h"
#include "core/zip/zip_records.h"
#include "platform/file_system.h"
#include "platform/resources.h"

namespace quorbel::installer {

namespace {

using namespace quorbel::zip;

// Deflate cannot expand data by more than about 1032:1; a recorded length beyond that is a lie,
// and must not size an allocation.
constexpr uint64_t kMaxDeflateRatio = 1032;

struct CentralRecord {
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t packed = 0;
    uint32_t unpacked = 0;
    uint32_t local_offset = 0;
};

// The end record's position: searched backwards from 22 bytes before the end, over at most the
// record plus the longest comment.
std::optional<size_t> FindEndRecord(const uint8_t* data, size_t size) {
    if (size < kEndSize) return std::nullopt;
    size_t lowest = size > kMaxEndSearch ? size - kMaxEndSearch : 0;
    for (size_t pos = size - kEndSize + 1; pos-- > lowest;)
        if (Le32(data + pos) == kEndSig) return pos;
    return std::nullopt;
}

// The fixed parts of the central directory; a record without its signature ends the list, and
// *complete says whether every record the end record announces was there.
std::vector<CentralRecord> ReadCentralDirectory(const uint8_t* data, size_t end_pos, bool* complete) {
    std::vector<CentralRecord> records;
    const uint8_t* end = data + end_pos;
    uint16_t total = Le16(end + end::kTotalEntries);
    uint32_t offset = Le32(end + end::kCentralOffset);
    *complete = false;
    if (offset > end_pos) return records;
    ByteReader reader(data + offset, end_pos - offset);
    for (uint16_t i = 0; i < total; ++i) {
        const uint8_t* rec = reader.Here();
        if (reader.Remaining() < kCentralSize || Le32(rec) != kCentralSig) break;
        CentralRecord r;
        r.flags = Le16(rec + central::kFlags);
        r.crc = Le32(rec + central::kCrc);
        r.packed = Le32(rec + central::kPacked);
        r.unpacked = Le32(rec + central::kUnpacked);
        r.local_offset = Le32(rec + central::kLocalOffset);
        size_t variable = size_t(Le16(rec + central::kNameLength)) + Le16(rec + central::kExtraLength) +
                          Le16(rec + central::kCommentLength);
        if (!reader.Skip(kCentralSize + variable)) break;
        records.push_back(r);
    }
    *complete = records.size() == total;
    return records;
}

// The member's bytes, exactly as long as recorded and with the recorded CRC-32; none otherwise.
std::optional<std::vector<uint8_t>> UnpackMember(const CentralRecord& r, uint16_t method,
                                                 const uint8_t* packed) {
    std::vector<uint8_t> out;
    if (method == kMethodStored) {
        if (r.packed != r.unpacked) return std::nullopt;
        out.assign(packed, packed + r.packed);
    } else if (method == kMethodDeflated) {
        if (uint64_t(r.unpacked) > uint64_t(r.packed) * kMaxDeflateRatio + 64) return std::nullopt;
        out.resize(r.unpacked);
        // A quiet local sink: the installer unpacks on a worker thread.
        ProgressSink sink;
        // Exactly r.unpacked bytes or a failure: an inflate that stops early is no member.
        if (InflateRaw(packed, r.packed, out.data(), out.size(), sink) != InflateResult::Ok)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (Crc32(0, out.data(), out.size()) != r.crc) return std::nullopt;
    return out;
}

// Writes through a temporary file beside the target, renamed into place once complete, so a
// failed write never leaves a truncated member under its real name.
bool WriteMember(const std::string& target, const std::vector<uint8_t>& bytes, const MemberWriter& writer) {
    std::string temp;
    int fd = CreateTempBeside(target, temp);
    if (fd < 0) return false;
    bool ok = writer ? writer(fd, bytes.data(), bytes.size()) : WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && fchmod(fd, 0644) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

// One member: false when it had to be left out.
bool ExtractMember(const uint8_t* data, size_t size, const CentralRecord& r, const std::string& dest,
                   const MemberWriter& writer, std::string* written_path) {
    if (r.unpacked == 0) return true;  // folders and empty files: nothing to write
    if (r.flags & (kFlagEncrypted | kFlagStrongEncryption)) return false;
    if (r.local_offset > size || size - r.local_offset < kLocalHeaderSize) return false;
    const uint8_t* local = data + r.local_offset;
    if (Le32(local) != kLocalHeaderSig) return false;
    uint16_t method = Le16(local + local::kMethod);
    size_t name_length = Le16(local + local::kNameLength);
    size_t extra_length = Le16(local + local::kExtraLength);
    size_t start = size_t(r.local_offset) + kLocalHeaderSize + name_length + extra_length;
    if (start > size || size - start < r.packed) return false;

    std::string stored(reinterpret_cast<const char*>(local + kLocalHeaderSize), name_length);
    std::optional<std::string> relative = SafeRelativePath(stored);
    if (!relative) return false;
    std::string target = JoinPath(dest, *relative);
    // Checked before any folder is made, so a climbing name (or a link planted among the
    // destination's folders) creates nothing outside it.
    if (!StaysInside(dest, target)) return false;

    std::optional<std::vector<uint8_t>> bytes = UnpackMember(r, method, data + start);
    if (!bytes) return false;
    if (!EnsureFolder(FolderOfPath(target)) || !StaysInside(dest, target)) return false;
    if (!WriteMember(target, *bytes, writer)) return false;
    if (written_path) *written_path = target;
    return true;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (name.empty()) return folder;
    std::string rest = name.front() == '/' ? name.substr(1) : name;
    return folder.back() == '/' ? folder + rest : folder + "/" + rest;
}

bool EnsureFolder(const std::string& path) {
    std::string folder = path;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || folder == "/") return true;
    // stat rather than changing into the folder: the current directory belongs to the whole
    // process, and the worker thread must not move it under the window code.
    struct stat st{};
    auto is_folder = [&st](const std::string& p) { return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode); };
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    // One pass down the path, parent before child: a deep path costs no stack.
    size_t pos = folder[0] == '/' ? 1 : 0;
    for (;;) {
        size_t slash = folder.find('/', pos);
        const std::string part = folder.substr(0, slash);
        if (slash != pos && !is_folder(part)) {
            // Another process may make it meanwhile.
            if (mkdir(part.c_str(), 0777) != 0 && !(errno == EEXIST && is_folder(part))) return false;
        }
        if (slash == std::string::npos) return true;
        pos = slash + 1;
    }
}

bool ExtractArchiveBytes(const uint8_t* data, size_t size, const std::string& dest_folder,
                         std::string* written_path, const MemberWriter& writer) {
    if (written_path) written_path->clear();
    std::optional<size_t> end_pos = FindEndRecord(data, size);
    if (!end_pos) return false;
    bool all = true;
    std::vector<CentralRecord> records = ReadCentralDirectory(data, *end_pos, &all);
    for (const CentralRecord& r : records)
        if (!ExtractMember(data, size, r, dest_folder, writer, written_path)) all = false;
    return all;
}

bool ExtractResourceArchive(int id, const std::string& dest_folder, const std::string& file_name,
                            bool only_if_missing, std::string* written_path) {
    if (written_path) written_path->clear();
    if (only_if_missing) {
        int fd = open(JoinPath(dest_folder, file_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return true;
        }
    }
    std::optional<std::vector<uint8_t>> archive = LoadResource(kArchiveResourceType, id);
    if (!archive) return false;
    return ExtractArchiveBytes(archive->data(), archive->size(), dest_folder, written_path);
}

}  // namespace quorbel::installer
