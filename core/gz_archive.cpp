#include "core/gz_archive.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "core/byte_reader.h"
#include "core/code_page.h"
#include "core/messages.h"

namespace quorbel {

namespace {
constexpr uint8_t kFlagHeaderCrc = 2;
constexpr uint8_t kFlagExtra = 4;
constexpr uint8_t kFlagName = 8;
constexpr uint8_t kFlagComment = 16;
constexpr uint8_t kReservedFlags = 0xE0;
constexpr size_t kFixedHeader = 10;

// Names and comments longer than this are kept cut; the rest of the field is still skipped.
constexpr size_t kMaxHeaderText = 4096;
// Compressed input is read in pieces of this size; each piece is one progress step.
constexpr size_t kInputChunk = 262144;
// The output starts from the length trailer's hint, but never above this before the data
// itself shows that more is needed.
constexpr size_t kMaxInitialOutput = size_t(64) << 20;
constexpr size_t kMaxGrowStep = size_t(256) << 20;
// Deflate cannot expand data more than about 1032 to 1.
constexpr uint64_t kMaxDeflateRatio = 1032;

// RFC 1952 texts are ISO 8859-1; names written on a UTF-8 system are taken as they are.
std::string HeaderText(const std::string& raw) {
    if (IsValidUtf8(raw)) return raw;
    return Latin1ToUtf8(raw);
}

// No member is unpacked into more memory than the machine has: a small file that claims to
// expand beyond that is refused as out of memory before the system starts to swap or kill.
size_t MemoryLimit() {
    long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return SIZE_MAX / 2;
    return size_t(std::min<uint64_t>(uint64_t(pages) * uint64_t(page_size), SIZE_MAX / 2));
}

// The growing output of one unpacking; freed unless handed over.
struct OutputBuffer {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    ~OutputBuffer() { std::free(data); }

    bool Reserve(size_t wanted) {
        if (wanted <= capacity) return true;
        auto* grown = static_cast<uint8_t*>(std::realloc(data, wanted));
        if (!grown) return false;
        data = grown;
        capacity = wanted;
        return true;
    }
    bool Grow() {
        static const size_t limit = MemoryLimit();
        if (capacity >= limit) return false;
        size_t step = std::min(std::clamp(capacity, size_t(1) << 20, kMaxGrowStep), limit - capacity);
        return Reserve(capacity + step);
    }
};

struct InflateGuard {
    z_stream* zs;
    ~InflateGuard() { inflateEnd(zs); }
};
}  // namespace

GzArchive::GzArchive() { format_name_ = "GZ"; }

std::string GzArchive::DefaultMemberName(const std::string& archive_path) {
    size_t slash = archive_path.find_last_of('/');
    std::string name = slash == std::string::npos ? archive_path : archive_path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    name.erase(dot);
    // These are gzip-compressed tar files: their one member is the tar.
    if (extension == "tgz" || extension == "taz") name += ".tar";
    return name;
}

int GzArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, format_name_);
    const int64_t file_size = stream_.Size();
    uint8_t fixed[kFixedHeader];
    if (file_size < int64_t(kFixedHeader) || stream_.Seek(0, DataStream::Origin::Start) != 0 ||
        stream_.Read(fixed, sizeof fixed) != sizeof fixed)
        return kStatusNotThisFormat;
    if (fixed[0] != 0x1F || fixed[1] != 0x8B || fixed[2] != 8 || (fixed[3] & kReservedFlags))
        return kStatusNotThisFormat;
    const uint8_t flags = fixed[3];

    // From here on the file is gzip; a header cut short is damage.
    auto corrupt = [this] {
        SetMessage(kMsgCorrupt, path_);
        return kStatusCorrupt;
    };
    if (flags & kFlagExtra) {
        uint8_t len[2];
        if (stream_.Read(len, 2) != 2) return corrupt();
        int64_t here = stream_.Tell();
        int64_t extra = Le16(len);
        if (here < 0 || extra > file_size - here ||
            stream_.Seek(here + extra, DataStream::Origin::Start) != here + extra)
            return corrupt();
    }
    // A zero-terminated field, read byte by byte up to the end of the file at most.
    auto read_text = [this](std::string& out) {
        for (;;) {
            uint8_t c;
            if (stream_.Read(&c, 1) != 1) return false;
            if (c == 0) return true;
            if (out.size() < kMaxHeaderText) out += char(c);
        }
    };
    std::string raw_name, raw_comment;
    if ((flags & kFlagName) && !read_text(raw_name)) return corrupt();
    if ((flags & kFlagComment) && !read_text(raw_comment)) return corrupt();
    int64_t header_crc = -1;
    if (flags & kFlagHeaderCrc) {
        uint8_t crc[2];
        if (stream_.Read(crc, 2) != 2) return corrupt();
        header_crc = Le16(crc);
    }

    // The stored name is the original file's name without its folder (RFC 1952); anything
    // in front of a separator is dropped rather than trusted.
    std::string name = HeaderText(raw_name);
    size_t sep = name.find_last_of("/\\");
    if (sep != std::string::npos) name.erase(0, sep + 1);
    if (name.empty()) name = DefaultMemberName(path_);

    if (!AllocateEntries(1)) return kStatusFailed;
    if (!SetEntry(0, true, name, file_size, -1, header_crc, 0, false, 0, 0, HeaderText(raw_comment)))
        return kStatusFailed;
    return kStatusOk;
}

MemoryBlock GzArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
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

    const int64_t file_size = stream_.IsOpen() ? stream_.Size() : -1;
    if (file_size <= 0) {
        SetMessage(kMsgUnexpectedData, path_);
        return {};
    }

    // The last member's length trailer hints at the output size; it is only a hint (it is
    // the size modulo 4 GB of the last member alone) and is believed only as far as deflate
    // could have expanded the file.
    size_t initial = 65536;
    uint8_t trailer[4];
    if (file_size >= 18 && stream_.Seek(file_size - 4, DataStream::Origin::Start) == file_size - 4 &&
        stream_.Read(trailer, 4) == 4) {
        uint64_t hint = Le32(trailer);
        if (hint <= uint64_t(file_size) * kMaxDeflateRatio)
            initial = size_t(std::clamp<uint64_t>(hint, 1, kMaxInitialOutput));
    }
    if (stream_.Seek(0, DataStream::Origin::Start) != 0) return data_error();

    OutputBuffer out;
    std::vector<uint8_t> in;
    try {
        in.resize(kInputChunk);
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
    if (!out.Reserve(initial)) return out_of_memory();

    z_stream zs{};
    int rc = inflateInit2(&zs, 15 + 16);  // gzip wrapper: header, CRC-32 and length checked
    if (rc != Z_OK) return rc == Z_MEM_ERROR ? out_of_memory() : data_error();
    InflateGuard guard{&zs};

    sink_->SetRange(0, file_size);
    int64_t consumed = 0;
    bool aborted = false;
    // Makes at least `need` unread input bytes available (fewer only at the end of the file).
    auto fill = [&](size_t need) {
        if (zs.avail_in >= need) return true;
        if (zs.avail_in > 0 && zs.next_in != in.data()) std::memmove(in.data(), zs.next_in, zs.avail_in);
        zs.next_in = in.data();
        while (zs.avail_in < need) {
            size_t got = stream_.Read(in.data() + zs.avail_in, in.size() - zs.avail_in);
            if (got == 0) break;
            zs.avail_in += uInt(got);
            consumed += int64_t(got);
            if (sink_->SetPos(consumed) == 0) {
                aborted = true;
                return false;
            }
        }
        return zs.avail_in >= need;
    };

    bool in_member = true;
    for (;;) {
        if (in_member) {
            if (!fill(1)) {
                if (aborted) break;
                return data_error();  // the file ends inside a member
            }
            if (out.used == out.capacity && !out.Grow()) return out_of_memory();
            zs.next_out = out.data + out.used;
            zs.avail_out = uInt(std::min<size_t>(out.capacity - out.used, UINT32_MAX));
            size_t before = zs.avail_out;
            rc = inflate(&zs, Z_NO_FLUSH);
            out.used += before - zs.avail_out;
            if (rc == Z_STREAM_END) {
                in_member = false;
            } else if (rc == Z_MEM_ERROR) {
                return out_of_memory();
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                return data_error();
            }
            continue;
        }
        // After a complete member: another member follows, or the data ends. Bytes that do
        // not start a gzip header are trailing padding or garbage and are left alone.
        fill(2);
        if (aborted) break;
        if (zs.avail_in < 2 || zs.next_in[0] != 0x1F || zs.next_in[1] != 0x8B) break;
        if (inflateReset(&zs) != Z_OK) return data_error();
        in_member = true;
    }
    if (aborted) {
        SetMessage(kMsgAborted);
        status = kUnpackAborted;
        return {};
    }
    if (out.used == 0) {
        SetMessage(kMsgUnexpectedData, path_);
        return {};
    }
    MemoryBlock block;
    block.data.reset(out.data);
    block.size = out.used;
    out.data = nullptr;
    status = kUnpackOk;
    return block;
}

}  // namespace quorbel
