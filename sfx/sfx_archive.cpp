#include "sfx/sfx_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/byte_reader.h"
#include "core/zip/zip_crypto.h"
#include "core/zip/zip_records.h"

namespace quorbel::sfx {

namespace {

constexpr size_t kChunk = 256 * 1024;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// The fields a ZIP64 extra block replaces, in the order the format lays them out.
void ApplyZip64(SfxMember& m, const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    if (m.unpacked == 0xFFFFFFFFu) m.unpacked = r.U64();
    if (m.packed == 0xFFFFFFFFu) m.packed = r.U64();
    if (m.local_offset == 0xFFFFFFFFu) m.local_offset = r.U64();
}

void ReadExtras(SfxMember& m, const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    while (r.Remaining() >= 4) {
        uint16_t id = r.U16();
        uint16_t length = r.U16();
        if (length > r.Remaining()) break;
        const uint8_t* body = r.Here();
        if (id == zip::kExtraZip64) {
            ApplyZip64(m, body, length);
        } else if (id == 0x5455 && length >= 5 && (body[0] & 1)) {
            m.unix_mtime = int32_t(Le32(body + 1));
        }
        r.Skip(length);
    }
}

}  // namespace

bool SfxMember::IsFolder() const {
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return true;
    if (host == zip::kHostUnix) return ((external_attrs >> 16) & 0170000) == 0040000;
    return external_attrs & 0x10;
}

bool SfxMember::IsSymbolicLink() const {
    return host == zip::kHostUnix && ((external_attrs >> 16) & 0170000) == 0120000;
}

uint32_t SfxMember::UnixMode() const {
    return host == zip::kHostUnix ? (external_attrs >> 16) & 0777 : 0;
}

const char* ResultText(SfxResult result) {
    switch (result) {
        case SfxResult::Ok: return "ok";
        case SfxResult::BadData: return "damaged data";
        case SfxResult::BadCrc: return "CRC error";
        case SfxResult::BadPassword: return "wrong password";
        case SfxResult::Unsupported: return "unsupported compression method";
        case SfxResult::WriteFailed: return "write error";
    }
    return "error";
}

SfxArchive::~SfxArchive() {
    if (fd_ >= 0) close(fd_);
}

bool SfxArchive::Fail(const std::string& text) {
    error_ = text;
    members_.clear();
    return false;
}

bool SfxArchive::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    if (offset > file_size_ || size > file_size_ - offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t got = pread(fd_, out, size, off_t(offset));
        if (got <= 0) return false;
        out += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
}

bool SfxArchive::Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return Fail("cannot open " + path + ": " + strerror(errno));
    struct stat st;
    if (fstat(fd_, &st) != 0) return Fail("cannot read " + path);
    file_size_ = uint64_t(st.st_size);
    if (file_size_ < zip::kEndSize) return Fail("no archive found");

    size_t tail = size_t(std::min<uint64_t>(file_size_, zip::kMaxEndSearch));
    std::vector<uint8_t> bytes(tail);
    uint64_t tail_start = file_size_ - tail;
    if (!ReadAt(tail_start, bytes.data(), tail)) return Fail("cannot read the archive");
    // The last end record whose comment reaches no further than the file.
    for (size_t i = tail - zip::kEndSize + 1; i-- > 0;) {
        if (Le32(&bytes[i]) != zip::kEndSig) continue;
        if (i + zip::kEndSize + Le16(&bytes[i + zip::end::kCommentLength]) > tail) continue;
        return ReadDirectory(tail_start + i);
    }
    return Fail("no archive found");
}

bool SfxArchive::ReadDirectory(uint64_t end_offset) {
    uint8_t end[zip::kEndSize];
    if (!ReadAt(end_offset, end, sizeof end)) return Fail("cannot read the archive");
    if (Le16(end + zip::end::kDisk) != 0 || Le16(end + zip::end::kCentralDisk) != 0)
        return Fail("the archive spans several disks");
    uint64_t cd_size = Le32(end + zip::end::kCentralSize);
    uint64_t cd_offset = Le32(end + zip::end::kCentralOffset);
    uint64_t cd_end = end_offset;

    // A ZIP64 end record sits right before its locator, which sits right before the end record.
    if (end_offset >= zip::kZip64LocatorSize + zip::kZip64EndSize) {
        uint8_t locator[zip::kZip64LocatorSize];
        uint64_t locator_offset = end_offset - zip::kZip64LocatorSize;
        if (ReadAt(locator_offset, locator, sizeof locator) &&
            Le32(locator) == zip::kZip64LocatorSig) {
            uint8_t record[zip::kZip64EndSize];
            uint64_t record_offset = locator_offset - zip::kZip64EndSize;
            if (!ReadAt(record_offset, record, sizeof record) ||
                Le32(record) != zip::kZip64EndSig)
                return Fail("damaged ZIP64 end record");
            cd_size = Le64(record + 40);
            cd_offset = Le64(record + 48);
            cd_end = record_offset;
        }
    }
    if (cd_size > cd_end) return Fail("damaged central directory");
    uint64_t cd_start = cd_end - cd_size;
    shift_ = int64_t(cd_start) - int64_t(cd_offset);
    if (cd_size > 1u << 30) return Fail("central directory too large");

    std::vector<uint8_t> cd(static_cast<size_t>(cd_size));
    if (!ReadAt(cd_start, cd.data(), cd.size())) return Fail("cannot read the archive");
    ByteReader r(cd.data(), cd.size());
    while (r.Remaining() >= zip::kCentralSize) {
        const uint8_t* rec = r.Here();
        if (Le32(rec) != zip::kCentralSig) return Fail("damaged central directory");
        SfxMember m;
        m.host = rec[zip::central::kVersionMadeBy + 1];
        m.flags = Le16(rec + zip::central::kFlags);
        m.method = Le16(rec + zip::central::kMethod);
        m.dos_time = Le16(rec + zip::central::kTime);
        m.dos_date = Le16(rec + zip::central::kDate);
        m.crc = Le32(rec + zip::central::kCrc);
        m.packed = Le32(rec + zip::central::kPacked);
        m.unpacked = Le32(rec + zip::central::kUnpacked);
        m.external_attrs = Le32(rec + zip::central::kExternalAttrs);
        m.local_offset = Le32(rec + zip::central::kLocalOffset);
        size_t name_length = Le16(rec + zip::central::kNameLength);
        size_t extra_length = Le16(rec + zip::central::kExtraLength);
        size_t comment_length = Le16(rec + zip::central::kCommentLength);
        r.Skip(zip::kCentralSize);
        m.name = r.Text(name_length);
        if (!r.Ok()) return Fail("damaged central directory");
        const uint8_t* extra = r.Here();
        if (!r.Skip(extra_length) || !r.Skip(comment_length))
            return Fail("damaged central directory");
        ReadExtras(m, extra, extra_length);
        // A name cut at a NUL byte, as the program reads it.
        m.name.resize(strnlen(m.name.c_str(), m.name.size()));
        members_.push_back(std::move(m));
    }
    return true;
}

SfxResult SfxArchive::Extract(const SfxMember& m, const std::string& password,
                              const std::function<bool(const uint8_t*, size_t)>& write) const {
    if (m.flags & zip::kFlagStrongEncryption) return SfxResult::Unsupported;
    if (m.method != zip::kMethodStored && m.method != zip::kMethodDeflated)
        return SfxResult::Unsupported;
    int64_t local = int64_t(m.local_offset) + shift_;
    uint8_t header[zip::kLocalHeaderSize];
    if (local < 0 || !ReadAt(uint64_t(local), header, sizeof header) ||
        Le32(header) != zip::kLocalHeaderSig)
        return SfxResult::BadData;
    uint64_t data = uint64_t(local) + zip::kLocalHeaderSize +
                    Le16(header + zip::local::kNameLength) +
                    Le16(header + zip::local::kExtraLength);
    if (data > file_size_ || m.packed > file_size_ - data) return SfxResult::BadData;

    uint64_t packed_left = m.packed;
    std::unique_ptr<zip::ZipCrypto> crypto;
    if (m.Encrypted()) {
        if (packed_left < zip::kEncryptionHeaderSize) return SfxResult::BadData;
        uint8_t head[zip::kEncryptionHeaderSize];
        if (!ReadAt(data, head, sizeof head)) return SfxResult::BadData;
        crypto = std::make_unique<zip::ZipCrypto>(password);
        crypto->Decrypt(head, sizeof head);
        uint8_t check = (m.flags & zip::kFlagDataDescriptor) ? uint8_t(m.dos_time >> 8)
                                                             : uint8_t(m.crc >> 24);
        if (head[zip::kEncryptionHeaderSize - 1] != check) return SfxResult::BadPassword;
        data += zip::kEncryptionHeaderSize;
        packed_left -= zip::kEncryptionHeaderSize;
    }

    z_stream z{};
    bool inflating = m.method == zip::kMethodDeflated;
    if (inflating && inflateInit2(&z, -MAX_WBITS) != Z_OK) return SfxResult::BadData;
    struct Closer {
        z_stream* z;
        bool on;
        ~Closer() {
            if (on) inflateEnd(z);
        }
    } closer{&z, inflating};

    std::vector<uint8_t> in(kChunk), out(inflating ? kChunk : 0);
    uint32_t crc = uint32_t(crc32(0, nullptr, 0));
    uint64_t produced = 0;
    bool stream_ended = !inflating;
    auto emit = [&](const uint8_t* p, size_t n) {
        produced += n;
        if (produced > m.unpacked) return false;
        crc = uint32_t(crc32_z(crc, p, n));
        return true;
    };
    while (packed_left > 0 && !(inflating && stream_ended)) {
        size_t n = size_t(std::min<uint64_t>(packed_left, kChunk));
        if (!ReadAt(data, in.data(), n)) return SfxResult::BadData;
        data += n;
        packed_left -= n;
        if (crypto) crypto->Decrypt(in.data(), n);
        if (!inflating) {
            if (!emit(in.data(), n)) return SfxResult::BadData;
            if (!write(in.data(), n)) return SfxResult::WriteFailed;
            continue;
        }
        z.next_in = in.data();
        z.avail_in = uInt(n);
        while (z.avail_in > 0 && !stream_ended) {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return SfxResult::BadData;
            size_t got = out.size() - z.avail_out;
            if (!emit(out.data(), got)) return SfxResult::BadData;
            if (got && !write(out.data(), got)) return SfxResult::WriteFailed;
            if (rc == Z_STREAM_END) stream_ended = true;
            else if (rc == Z_BUF_ERROR && got == 0) break;
        }
    }
    // Output still held by the inflater once all input is in.
    while (inflating && !stream_ended) {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int rc = inflate(&z, Z_FINISH);
        size_t got = out.size() - z.avail_out;
        if (!emit(out.data(), got)) return SfxResult::BadData;
        if (got && !write(out.data(), got)) return SfxResult::WriteFailed;
        if (rc == Z_STREAM_END) stream_ended = true;
        else if (got == 0) return SfxResult::BadData;
    }
    if (produced != m.unpacked) return SfxResult::BadData;
    return crc == m.crc ? SfxResult::Ok : SfxResult::BadCrc;
}

}  // namespace quorbel::sfx
