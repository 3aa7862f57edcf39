// Reading a ZIP directory: the end record (and its ZIP64 form), then the central directory.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/byte_reader.h"
#include "core/code_page.h"
#include "core/messages.h"
#include "core/zip/deflate.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_records.h"
#include "platform/file_system.h"

namespace quorbel {

using namespace zip;

ZipArchive::ZipArchive() { format_name_ = "ZIP"; }

int ZipArchive::ReadDirectory() { return ReadZip(path_, true, false); }

int64_t ZipArchive::StreamOffset(uint32_t disk, uint64_t offset) const {
    if (volume_table_.empty()) return int64_t(offset);
    // A joined set: the offset counts from its disk's start and must stay on that disk.
    if (disk >= volume_table_.size()) return -1;
    const int64_t begin = volume_table_[disk];
    const int64_t end = disk + 1 < volume_table_.size() ? volume_table_[disk + 1] : joined_size_;
    if (offset > uint64_t(end - begin)) return -1;
    return begin + int64_t(offset);
}

int ZipArchive::ReadZip(const std::string& path, bool already_open, bool refresh_info) {
    if (!already_open) {
        SetMessage(kMsgCannotOpen, path);
        if (!FileExists(path)) return kStatusCannotOpen;
        if (!stream_.OpenFile(path, true)) return kStatusCannotOpen;
    }
    int64_t size = stream_.Size();
    if (size == 0) return kStatusOk;  // an empty file is an empty archive
    stream_.Seek(0, DataStream::Origin::Start);
    uint8_t head[4] = {};
    bool found = false;
    if (stream_.Read(head, 4) == 4 && Le32(head) == kSpanMarker && !refresh_info && !stream_.IsMemory()) {
        // The first disk of a multi-disk set: read as a set in its removable drive, or with
        // the split files Info-ZIP puts beside it.
        if (IsRemovable(path) || !SplitSetOf(path).empty()) return ReadSpanned(path);
        // A set held whole in one file (zip -s makes these for small archives) is complete.
        found = FindEndRecord() == kStatusOk && end_.disk == 0;
        if (!found) {
            SetMessage(kMsgNotThisFormat, path, format_name_);
            return kStatusNotThisFormat;
        }
    }
    if (!found && FindEndRecord() != kStatusOk) {
        SetMessage(kMsgNotThisFormat, path, format_name_);
        return kStatusFailed;
    }
    // The last disk of a set: its end record lies on a later disk than the first.
    if (end_.disk > 0 && volume_table_.empty() && !stream_.IsMemory()) return ReadSpanned(path);
    int status = ReadCentral();
    if (status == kStatusOk && refresh_info) RecordTotals();
    return status;
}

int ZipArchive::FindEndRecord() {
    end_ = EndRecord();
    SetMessage(kMsgCorrupt, path_);
    int64_t length = stream_.Size();
    if (length < int64_t(kEndSize)) return kStatusNoEndRecord;
    size_t n = size_t(std::min<int64_t>(length, int64_t(kMaxEndSearch)));
    std::vector<uint8_t> tail(n);
    int64_t tail_start = length - int64_t(n);
    if (stream_.Seek(tail_start, DataStream::Origin::Start) < 0 || stream_.Read(tail.data(), n) != n)
        return kStatusNoEndRecord;
    // The record nearest the end wins.
    size_t hit = SIZE_MAX;
    for (size_t i = n - kEndSize + 1; i-- > 0;) {
        if (Le32(&tail[i]) == kEndSig) {
            hit = i;
            break;
        }
    }
    if (hit == SIZE_MAX) return kStatusNoEndRecord;
    const uint8_t* r = &tail[hit];
    end_.position = tail_start + int64_t(hit);
    end_.disk = Le16(r + end::kDisk);
    end_.central_disk = Le16(r + end::kCentralDisk);
    end_.entries_on_disk = Le16(r + end::kEntriesOnDisk);
    end_.total_entries = Le16(r + end::kTotalEntries);
    end_.central_size = Le32(r + end::kCentralSize);
    end_.central_offset = Le32(r + end::kCentralOffset);
    end_.comment_length = Le16(r + end::kCommentLength);
    end_.central_limit = end_.position;
    if (end_.comment_length) {
        size_t available = n - hit - kEndSize;
        size_t take = std::min<size_t>(end_.comment_length, available);
        archive_comment_ = GuessToUtf8(std::string_view(reinterpret_cast<const char*>(r + kEndSize), take));
    }

    // A ZIP64 locator just before the end record names the ZIP64 end record, whose 64-bit
    // counts and offsets replace the 16- and 32-bit ones.
    if (end_.position >= int64_t(kZip64LocatorSize)) {
        uint8_t loc[kZip64LocatorSize];
        int64_t loc_pos = end_.position - int64_t(kZip64LocatorSize);
        if (stream_.Seek(loc_pos, DataStream::Origin::Start) == loc_pos &&
            stream_.Read(loc, sizeof loc) == sizeof loc && Le32(loc) == kZip64LocatorSig) {
            ByteReader lr(loc + 8, 8);
            uint64_t z64_offset = lr.U64();
            uint8_t rec[kZip64EndSize];
            // A prefix in front of the archive shifts the record: look where the locator says,
            // then directly in front of the locator.
            int64_t candidates[2] = {int64_t(z64_offset), loc_pos - int64_t(kZip64EndSize)};
            for (int64_t pos : candidates) {
                if (pos < 0 || z64_offset > uint64_t(INT64_MAX) || pos + int64_t(kZip64EndSize) > loc_pos)
                    continue;
                if (stream_.Seek(pos, DataStream::Origin::Start) != pos ||
                    stream_.Read(rec, sizeof rec) != sizeof rec || Le32(rec) != kZip64EndSig)
                    continue;
                ByteReader z(rec + 4, kZip64EndSize - 4);
                z.U64();  // size of the rest of the record
                z.U16();  // version made by
                z.U16();  // version needed
                end_.disk = z.U32();
                end_.central_disk = z.U32();
                end_.entries_on_disk = z.U64();
                end_.total_entries = z.U64();
                end_.central_size = z.U64();
                end_.central_offset = z.U64();
                end_.central_limit = pos;
                end_.zip64 = true;
                break;
            }
        }
    }
    return kStatusOk;
}

std::string ZipArchive::DecodeName(const std::string& raw, uint16_t flags, uint16_t version_made_by,
                                   const uint8_t* extra, size_t extra_size) {
    if (flags & kFlagUtf8) return raw;
    // An Info-ZIP Unicode path field whose CRC matches the stored name gives the UTF-8 name.
    ByteReader x(extra, extra_size);
    while (x.Remaining() >= 4) {
        uint16_t id = x.U16();
        uint16_t len = x.U16();
        if (len > x.Remaining()) break;
        if (id == kExtraUnicodePath && len >= 5) {
            ByteReader u(x.Here(), len);
            uint8_t version = u.U8();
            uint32_t crc = u.U32();
            std::string name = u.Text(len - 5);
            if (version == 1 &&
                crc == Crc32(0, reinterpret_cast<const uint8_t*>(raw.data()), raw.size()) &&
                IsValidUtf8(name))
                return name;
        }
        x.Skip(len);
    }
    // Info-ZIP on Unix stores names in the system's encoding (UTF-8) without setting bit 11.
    if ((version_made_by >> 8) == kHostUnix && IsValidUtf8(raw)) return raw;
    return Cp437ToUtf8(raw);
}

bool ZipArchive::MembersOverlap() const {
    // Each member takes at least its fixed local header and its packed data from its offset
    // on; where two of those ranges meet, one member's data is read again as another's (the
    // overlapping-member bomb: a small file that inflates without end). Folder records hold
    // no data and may share a place.
    struct Range {
        uint32_t disk;
        uint64_t begin, end;  // offsets on that disk (both below 2^63 + 2^63)
    };
    std::vector<Range> ranges;
    ranges.reserve(entries_.size());
    for (const ArchiveEntry& e : entries_) {
        if (!e.allocated || (!e.is_file && e.packed == 0)) continue;
        const uint64_t begin = uint64_t(e.header_offset);
        ranges.push_back({e.disk_number, begin, begin + kLocalHeaderSize + uint64_t(e.packed)});
    }
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
        return a.disk != b.disk ? a.disk < b.disk : a.begin < b.begin;
    });
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].disk == ranges[i - 1].disk && ranges[i].begin < ranges[i - 1].end) return true;
    return false;
}

int ZipArchive::ReadCentral() {
    SetMessage(kMsgCorrupt, path_);
    int64_t start = StreamOffset(end_.central_disk, end_.central_offset);
    // Offsets from the file are checked against the file before anything is read or allocated.
    if (end_.central_offset > uint64_t(INT64_MAX) || end_.central_size > uint64_t(INT64_MAX) ||
        start < 0 || start > end_.central_limit ||
        int64_t(end_.central_size) > end_.central_limit - start) {
        return kStatusCorrupt;
    }
    uint64_t fit = end_.central_size / kCentralSize;
    uint64_t count = std::min(end_.total_entries, fit);
    if (!AllocateEntries(size_t(count))) return kStatusFailed;

    std::vector<uint8_t> directory;
    try {
        directory.resize(size_t(end_.central_size));
    } catch (const std::bad_alloc&) {
        SetMessage(kMsgOutOfMemory);
        return kStatusFailed;
    }
    if (stream_.Seek(start, DataStream::Origin::Start) != start ||
        stream_.Read(directory.data(), directory.size()) != directory.size()) {
        SetMessage(kMsgCorrupt, path_);
        return kStatusCorrupt;
    }

    // The directory stays in memory as the store of the entries' records.
    header_store_ = std::move(directory);
    sink_->Begin();
    sink_->SetRange(0, int64_t(count));
    sink_->SetText(FormatText(MessageTemplate(kMsgReadingDirectory).c_str(), Info().file_name.c_str()));
    ByteReader in(header_store_.data(), header_store_.size());
    size_t filled = 0;
    int status = kStatusOk;
    for (uint64_t i = 0; i < count; ++i) {
        if (!StillGoing(int64_t(i))) {
            status = kStatusAborted;
            break;
        }
        const uint8_t* rec = in.Here();
        if (in.Remaining() < kCentralSize || Le32(rec) != kCentralSig) {
            status = kStatusCorrupt;
            break;
        }
        in.Skip(kCentralSize);
        uint16_t name_len = Le16(rec + central::kNameLength);
        uint16_t extra_len = Le16(rec + central::kExtraLength);
        uint16_t comment_len = Le16(rec + central::kCommentLength);
        std::string raw_name = in.Text(name_len);
        const uint8_t* extra = in.Here();
        bool extra_ok = in.Skip(extra_len);
        std::string raw_comment = in.Text(comment_len);
        if (!in.Ok() || !extra_ok) {
            status = kStatusCorrupt;
            break;
        }
        uint16_t flags = Le16(rec + central::kFlags);
        uint16_t made_by = Le16(rec + central::kVersionMadeBy);
        uint64_t packed = Le32(rec + central::kPacked);
        uint64_t unpacked = Le32(rec + central::kUnpacked);
        uint64_t offset = Le32(rec + central::kLocalOffset);
        uint32_t disk = Le16(rec + central::kDiskStart);
        // ZIP64 extra field: the 64-bit values of the fields saturated in the record, in order.
        ByteReader x(extra, extra_len);
        while (x.Remaining() >= 4) {
            uint16_t id = x.U16();
            uint16_t len = x.U16();
            if (len > x.Remaining()) break;
            if (id == kExtraZip64) {
                ByteReader z(x.Here(), len);
                if (unpacked == 0xFFFFFFFFu && z.Remaining() >= 8) unpacked = z.U64();
                if (packed == 0xFFFFFFFFu && z.Remaining() >= 8) packed = z.U64();
                if (offset == 0xFFFFFFFFu && z.Remaining() >= 8) offset = z.U64();
                if (disk == 0xFFFFu && z.Remaining() >= 4) disk = z.U32();
            }
            x.Skip(len);
        }
        if (packed > uint64_t(INT64_MAX) || unpacked > uint64_t(INT64_MAX) || offset > uint64_t(INT64_MAX)) {
            status = kStatusCorrupt;
            break;
        }
        std::string name = DecodeName(raw_name, flags, made_by, extra, extra_len);
        // A stored name ends at its first zero byte, as every other reader takes it.
        if (size_t zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
        std::string comment = (flags & kFlagUtf8) ? raw_comment : GuessToUtf8(raw_comment);
        const uint32_t attributes = Le32(rec + central::kExternalAttrs) & 0xFFFF;
        // Some writers mark a folder by its MS-DOS attribute alone, without the trailing
        // separator; one that holds data stays a file, so that nothing is lost.
        if ((attributes & kAttrFolder) && unpacked == 0 && packed == 0 && !name.empty() &&
            name.back() != '/' && name.back() != '\\')
            name += '/';
        bool is_file = name.empty() || (name.back() != '/' && name.back() != '\\');
        ArchiveEntry* e = SetEntry(size_t(i), is_file, name, int64_t(packed), int64_t(unpacked),
                                   Le32(rec + central::kCrc),
                                   attributes, flags & kFlagEncrypted,
                                   Le16(rec + central::kDate), Le16(rec + central::kTime), comment);
        if (!e) {
            status = kStatusFailed;
            break;
        }
        ReferFormatHeader(*e, size_t(rec - header_store_.data()), kCentralSize);
        e->header_offset = int64_t(offset);
        e->packed = int64_t(packed);  // folders too: the writer copies every record
        e->unpacked = int64_t(unpacked);
        if ((made_by >> 8) == kHostUnix) e->unix_mode = Le32(rec + central::kExternalAttrs) >> 16;
        e->disk_number = disk;
        ++filled;
    }
    if (status == kStatusOk && count < end_.total_entries) status = kStatusCorrupt;
    if (status == kStatusOk && MembersOverlap()) status = kStatusCorrupt;
    if (status != kStatusOk) entries_.resize(filled);
    sink_->End(0);
    if (status == kStatusCorrupt) SetMessage(kMsgCorrupt, path_);
    return status;
}

}  // namespace quorbel
