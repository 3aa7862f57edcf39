// Writing ZIP archives: an archive is never edited in place. Changes live in the entries until
// Save writes a whole new archive in the work folder (unchanged members copied byte for byte,
// pending ones compressed), puts it in place of the old file and re-reads it.
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "core/byte_reader.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/deflate.h"
#include "core/zip/member_packer.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_crypto.h"
#include "core/zip/zip_records.h"
#include "platform/file_system.h"

namespace quorbel {

using namespace zip;

namespace {
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kMadeByUnix = (kHostUnix << 8) | 30;
// Bytes of new members' files held in memory at once while they are packed ahead.
constexpr uint64_t kPackBudget = 256u << 20;

void Put16(std::string& out, uint16_t v) {
    out += char(v & 0xff);
    out += char(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, uint16_t(v));
    Put16(out, uint16_t(v >> 16));
}
void Put64(std::string& out, uint64_t v) {
    Put32(out, uint32_t(v));
    Put32(out, uint32_t(v >> 32));
}

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Names are written with '/' whatever the user typed, and never with a leading separator.
std::string StoredName(const std::string& full_name) {
    std::string name = full_name;
    std::replace(name.begin(), name.end(), '\\', '/');
    size_t start = name.find_first_not_of('/');
    return start == std::string::npos ? std::string() : name.substr(start);
}

void DosTimeOf(std::time_t t, uint16_t& dos_date, uint16_t& dos_time) {
    std::tm tm{};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80) {  // DOS time starts in 1980
        dos_date = (0 << 9) | (1 << 5) | 1;
        dos_time = 0;
        return;
    }
    dos_time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    dos_date = uint16_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

bool RandomBytes(uint8_t* out, size_t n) {
    while (n > 0) {
        ssize_t got = getrandom(out, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= size_t(got);
    }
    return true;
}

bool WriteText(DataStream& out, const std::string& bytes) {
    return out.Write(bytes.data(), bytes.size()) == bytes.size();
}
}  // namespace

int ZipArchive::Create(const std::string& path) {
    // Nothing on disk is touched before Save: an existing file of that name is replaced (and
    // kept as ".old" when asked) only once the new archive is complete.
    Close();
    MakeFolders(FolderOfPath(path));
    std::string probe;
    int fd = CreateTempBeside(path, probe);
    if (fd < 0) {
        SetMessage(kMsgCannotCreate, path);
        return kStatusCannotCreate;
    }
    close(fd);
    unlink(probe.c_str());
    path_ = path;
    created_ = true;
    modified_ = true;
    return kStatusOk;
}

int ZipArchive::AddFile(const std::string& disk_path, const std::string& base_folder,
                        const std::string& archive_folder) {
    struct stat st{};
    if (stat(disk_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SetMessage(kMsgCannotOpen, disk_path);
        return kStatusCannotOpen;
    }
    std::string stored = disk_path;
    std::string base = base_folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (!base.empty() && stored.compare(0, base.size(), base) == 0 &&
        (stored.size() == base.size() || stored[base.size()] == '/' || base == "/")) {
        stored.erase(0, base.size());
    }
    stored = StoredName(stored);  // a file outside the base keeps no leading separator
    if (!archive_folder.empty()) stored = StoredName(archive_folder) + "/" + stored;
    int found = FindEntry(stored);
    bool encrypted = HasProgramPassword();
    if (found >= 0) {
        ArchiveEntry& e = entries_[size_t(found)];
        e.source_path = disk_path;
        e.encrypted = encrypted;
        const uint8_t blank[kCentralSize] = {};
        if (!StoreFormatHeader(e, blank, kCentralSize)) return kStatusFailed;
    } else {
        try {
            entries_.emplace_back();
        } catch (const std::bad_alloc&) {
            SetMessage(kMsgOutOfMemory);
            return kStatusFailed;
        }
        ArchiveEntry* e = SetEntry(entries_.size() - 1, true, stored, 0, 0, 0, 0, encrypted, 0, 0, "");
        if (!e) {
            entries_.pop_back();
            return kStatusFailed;
        }
        e->source_path = disk_path;
        const uint8_t blank[kCentralSize] = {};
        if (!StoreFormatHeader(*e, blank, kCentralSize)) return kStatusFailed;
    }
    modified_ = true;
    return kStatusOk;
}

MemoryBlock ZipArchive::PackEntry(size_t index, PackedFile file) {
    ArchiveEntry& e = entries_[index];
    Written& w = written_[index];
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgAdding).c_str(), e.source_path.c_str()));
    const size_t header = e.encrypted ? kEncryptionHeaderSize : 0;
    if (file.outcome == PackedFile::Outcome::kTooLarge) file = PackStreaming(e.source_path, header);
    switch (file.outcome) {
    case PackedFile::Outcome::kPacked:
        break;
    case PackedFile::Outcome::kTooLarge:
    case PackedFile::Outcome::kCannotOpen:
        SetMessage(kMsgCannotOpen, e.source_path);
        return {};
    case PackedFile::Outcome::kOutOfMemory:
        SetMessage(kMsgOutOfMemory);
        return {};
    case PackedFile::Outcome::kCompressError:
        SetMessage(sink_->Cancelled() ? kMsgAborted : kMsgCompressError);
        return {};
    }
    w.crc = file.crc;
    w.unpacked = file.size;
    w.method = file.deflated ? kMethodDeflated : kMethodStored;
    DosTimeOf(std::time_t(file.mtime), w.date, w.time);
    uint32_t dos_attrs = GetDosAttributes(e.source_path) & 0xFF;
    // Unix hosts keep the file's mode above the DOS attribute byte.
    w.external = ((file.mode & 0177777) << 16) | dos_attrs;
    w.made_by = kMadeByUnix;
    w.flags = 2;
    if (!IsAscii(e.full_name) || !IsAscii(e.comment)) w.flags |= kFlagUtf8;

    // The packer left room for the encryption header in front of the data.
    if (e.encrypted) {
        w.flags |= kFlagEncrypted;
        uint8_t* h = file.data.data.get();
        // The header's filler comes from the system's random source, so no two archives share it.
        if (!RandomBytes(h, kEncryptionHeaderSize - 2)) {
            SetMessage(kMsgCompressError);
            return {};
        }
        h[10] = uint8_t(w.crc >> 16);
        h[11] = uint8_t(w.crc >> 24);
        ZipCrypto crypto(ProgramPassword());
        crypto.Encrypt(h, file.data.size);
    }
    w.packed = file.data.size;
    return std::move(file.data);
}

PackedFile ZipArchive::PackStreaming(const std::string& path, size_t room) {
    PackedFile out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        return out;
    }
    out.size = uint64_t(st.st_size);
    out.mtime = int64_t(st.st_mtime);
    out.mode = uint32_t(st.st_mode);
    const size_t n = size_t(st.st_size);
    MemoryBlock raw = MemoryBlock::Allocate(room + n);
    if (!raw) {
        close(fd);
        out.outcome = PackedFile::Outcome::kOutOfMemory;
        return out;
    }
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, raw.data.get() + room + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    close(fd);
    if (got != n) return out;
    raw.size = room + n;
    out.crc = Crc32(0, raw.data.get() + room, n);
    size_t packed_size = 0;
    MemoryBlock packed = DeflateStreaming(raw.data.get() + room, n, room, packed_size);
    if (!packed) {
        out.outcome = PackedFile::Outcome::kCompressError;
        return out;
    }
    out.outcome = PackedFile::Outcome::kPacked;
    if (packed_size < n) {
        packed.size = room + packed_size;
        out.data = std::move(packed);
        out.deflated = true;
    } else {
        out.data = std::move(raw);
    }
    return out;
}

MemoryBlock ZipArchive::DeflateStreaming(const uint8_t* in, size_t n, size_t room, size_t& out_size) {
    out_size = 0;
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    size_t bound = deflateBound(&z, uLong(n));
    MemoryBlock out = MemoryBlock::Allocate(room + bound);
    if (!out) {
        deflateEnd(&z);
        return {};
    }
    sink_->SetRange(0, int64_t(n));
    size_t fed = 0;
    uint8_t* const start = out.data.get() + room;
    z.next_out = start;
    int rc = Z_OK;
    while (rc == Z_OK) {
        size_t step = std::min(kStreamingStep, n - fed);
        z.next_in = const_cast<Bytef*>(in + fed);
        z.avail_in = uInt(step);
        fed += step;
        size_t room_left = bound - size_t(z.next_out - start);
        z.avail_out = uInt(std::min<size_t>(room_left, 0x40000000u));
        rc = deflate(&z, fed == n ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && fed < n) rc = Z_OK;
        if (sink_->SetPos(int64_t(fed)) == 0) {
            deflateEnd(&z);
            return {};
        }
    }
    bool ok = rc == Z_STREAM_END;
    out_size = size_t(z.next_out - start);
    deflateEnd(&z);
    if (!ok) return {};
    return out;
}

int ZipArchive::WriteMembers(DataStream& output) {
    ProgressScope progress(sink_);
    sink_->SetRange(0, int64_t(entries_.size()));
    sink_->SetText(FormatText(MessageTemplate(kMsgRebuilding).c_str(), path_.c_str()));
    const int64_t old_size = stream_.IsOpen() ? stream_.Size() : 0;
    std::vector<uint8_t> buffer;
    if (span_ && output.Tell() == 0) {
        std::string marker;
        Put32(marker, kSpanMarker);
        if (!WriteText(output, marker)) return WriteFailed(output);
    }
    // New members' files are read and deflated ahead on worker threads, taken here in order.
    std::vector<MemberPacker::Job> jobs;
    for (const ArchiveEntry& e : entries_) {
        if (!e.source_path.empty()) jobs.push_back({e.source_path, e.encrypted ? kEncryptionHeaderSize : 0});
    }
    MemberPacker packer(std::move(jobs), MemberPacker::DefaultWorkers(), kPackBudget);
    size_t next_job = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!StillGoing(int64_t(i))) return kStatusAborted;
        ArchiveEntry& e = entries_[i];
        Written& w = written_[i];
        MemoryBlock packed;
        bool existing = e.source_path.empty();
        int64_t data_pos = 0;
        if (existing) {
            // Unchanged members are copied as they are, never recompressed.
            const std::span<const uint8_t> record = FormatHeader(e);
            const uint8_t* rec = record.data();
            if (record.size() < kCentralSize) {
                SetMessage(kMsgCorrupt, path_);
                return kStatusCorrupt;
            }
            w.flags = Le16(rec + central::kFlags);
            w.method = Le16(rec + central::kMethod);
            w.time = Le16(rec + central::kTime);
            w.date = Le16(rec + central::kDate);
            w.crc = Le32(rec + central::kCrc);
            w.made_by = Le16(rec + central::kVersionMadeBy);
            w.external = Le32(rec + central::kExternalAttrs);
            w.packed = uint64_t(e.packed);
            w.unpacked = uint64_t(e.unpacked);
            if (!IsAscii(e.full_name) || !IsAscii(e.comment)) w.flags |= kFlagUtf8;
            int64_t pos = StreamOffset(e.disk_number, uint64_t(e.header_offset));
            uint8_t local[kLocalHeaderSize];
            if (i == 0 && pos > 0 && output.Tell() == 0 && pos <= old_size) {
                // A self-extractor stub (or other prefix) in front of the first member stays.
                if (!CopyStreamRange(0, pos, output)) return kStatusCannotCreate;
            }
            if (pos < 0 || pos > old_size - int64_t(kLocalHeaderSize) ||
                stream_.Seek(pos, DataStream::Origin::Start) != pos ||
                stream_.Read(local, sizeof local) != sizeof local || Le32(local) != kLocalHeaderSig) {
                SetMessage(kMsgCorrupt, path_);
                return kStatusCorrupt;
            }
            data_pos = pos + int64_t(kLocalHeaderSize) + Le16(local + local::kNameLength) +
                       Le16(local + local::kExtraLength);
            if (data_pos > old_size || int64_t(w.packed) > old_size - data_pos) {
                SetMessage(kMsgCorrupt, path_);
                return kStatusCorrupt;
            }
        } else {
            std::optional<PackedFile> file =
                packer.Take(next_job++, [&] { return sink_->SetPos(int64_t(i)) != 0; });
            if (!file) {
                SetMessage(kMsgAborted);
                return kStatusAborted;
            }
            packed = PackEntry(i, std::move(*file));
            if (!packed) return sink_->Cancelled() ? kStatusAborted : kStatusFailed;
        }

        // The local header is made from the central values, so streamed members get their
        // real sizes; their data descriptor is written again after the data.
        const std::string name = StoredName(e.full_name);
        bool zip64 = w.packed >= kMax32 || w.unpacked >= kMax32;
        std::string header;
        Put32(header, kLocalHeaderSig);
        Put16(header, zip64 ? kVersionZip64 : kVersionNeeded);
        Put16(header, w.flags);
        Put16(header, w.method);
        Put16(header, w.time);
        Put16(header, w.date);
        bool descriptor = w.flags & kFlagDataDescriptor;
        Put32(header, descriptor ? 0 : w.crc);
        Put32(header, descriptor ? 0 : zip64 ? uint32_t(kMax32) : uint32_t(w.packed));
        Put32(header, descriptor ? 0 : zip64 ? uint32_t(kMax32) : uint32_t(w.unpacked));
        Put16(header, uint16_t(name.size()));
        Put16(header, zip64 ? 20 : 0);
        header += name;
        if (zip64) {
            Put16(header, kExtraZip64);
            Put16(header, 16);
            Put64(header, w.unpacked);
            Put64(header, w.packed);
        }
        if (name.size() > 0xFFFF) return WriteFailed(output);
        if (int reserved = ReserveRecord(output, header.size()); reserved != kStatusOk) return reserved;
        w.offset = OutputPosition(output, w.disk);
        if (!WriteText(output, header)) return WriteFailed(output);
        if (existing) {
            if (!CopyStreamRange(data_pos, int64_t(w.packed), output)) return kStatusCannotCreate;
        } else if (output.Write(packed.data.get(), packed.size) != packed.size) {
            return WriteFailed(output);
        }
        if (descriptor) {
            std::string dd;
            Put32(dd, kDataDescriptorSig);
            Put32(dd, w.crc);
            if (zip64) {
                Put64(dd, w.packed);
                Put64(dd, w.unpacked);
            } else {
                Put32(dd, uint32_t(w.packed));
                Put32(dd, uint32_t(w.unpacked));
            }
            if (int reserved = ReserveRecord(output, dd.size()); reserved != kStatusOk) return reserved;
            if (!WriteText(output, dd)) return WriteFailed(output);
        }
    }
    return kStatusOk;
}

bool ZipArchive::CopyStreamRange(int64_t from, int64_t count, DataStream& output) {
    if (stream_.Seek(from, DataStream::Origin::Start) != from) {
        SetMessage(kMsgCorrupt, path_);
        return false;
    }
    std::vector<uint8_t> buf(size_t(std::min<int64_t>(count, 1 << 20)) + 1);
    while (count > 0) {
        size_t step = size_t(std::min<int64_t>(count, int64_t(buf.size())));
        if (stream_.Read(buf.data(), step) != step) {
            SetMessage(kMsgCorrupt, path_);
            return false;
        }
        if (output.Write(buf.data(), step) != step) {
            WriteFailed(output);
            return false;
        }
        count -= int64_t(step);
    }
    return true;
}

int ZipArchive::WriteFailed(DataStream& output) {
    SetMessage(kMsgCannotCreate, output.Name());
    return kStatusCannotCreate;
}

int ZipArchive::WriteCentral(DataStream& output) {
    ProgressScope progress(sink_);
    sink_->SetRange(0, int64_t(entries_.size()));
    uint64_t cd_start = uint64_t(output.Tell());
    uint32_t cd_disk = 0;
    uint64_t cd_offset = OutputPosition(output, cd_disk);
    std::vector<uint32_t> record_disks;  // where each central record lies in a set
    bool any_zip64 = entries_.size() >= 0xFFFF;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!StillGoing(int64_t(i))) return kStatusAborted;
        const ArchiveEntry& e = entries_[i];
        const Written& w = written_[i];
        const std::string name = StoredName(e.full_name);
        // Only the fields that do not fit go to the ZIP64 extra field, in their fixed order.
        std::string extra;
        if (w.unpacked >= kMax32) Put64(extra, w.unpacked);
        if (w.packed >= kMax32) Put64(extra, w.packed);
        if (w.offset >= kMax32) Put64(extra, w.offset);
        bool zip64 = !extra.empty();
        any_zip64 = any_zip64 || zip64;
        std::string rec;
        Put32(rec, kCentralSig);
        Put16(rec, w.made_by ? w.made_by : kMadeByUnix);
        Put16(rec, zip64 ? kVersionZip64 : kVersionNeeded);
        Put16(rec, w.flags);
        Put16(rec, w.method);
        Put16(rec, w.time);
        Put16(rec, w.date);
        Put32(rec, w.crc);
        Put32(rec, uint32_t(std::min(w.packed, kMax32)));
        Put32(rec, uint32_t(std::min(w.unpacked, kMax32)));
        Put16(rec, uint16_t(name.size()));
        Put16(rec, uint16_t(zip64 ? extra.size() + 4 : 0));
        Put16(rec, uint16_t(std::min<size_t>(e.comment.size(), 0xFFFF)));
        Put16(rec, uint16_t(w.disk));  // disk number start
        Put16(rec, 0);                 // internal attributes
        Put32(rec, w.external);
        Put32(rec, uint32_t(std::min(w.offset, kMax32)));
        rec += name;
        if (zip64) {
            Put16(rec, kExtraZip64);
            Put16(rec, uint16_t(extra.size()));
            rec += extra;
        }
        rec += e.comment.substr(0, 0xFFFF);
        if (int reserved = ReserveRecord(output, rec.size()); reserved != kStatusOk) return reserved;
        uint32_t disk = 0;
        uint64_t offset = OutputPosition(output, disk);
        if (i == 0) {
            cd_start = uint64_t(output.Tell());
            cd_offset = offset;
            cd_disk = disk;
        }
        record_disks.push_back(disk);
        if (!WriteText(output, rec)) return WriteFailed(output);
    }
    const uint64_t cd_size = uint64_t(output.Tell()) - cd_start;
    const uint64_t count = entries_.size();
    any_zip64 = any_zip64 || cd_offset >= kMax32 || cd_size >= kMax32;
    std::string comment = archive_comment_.substr(0, 0xFFFF);
    // The end records stay together on the last disk.
    const size_t end_size = (any_zip64 ? kZip64EndSize + kZip64LocatorSize : 0) + kEndSize + comment.size();
    if (int reserved = ReserveRecord(output, end_size); reserved != kStatusOk) return reserved;
    uint32_t last_disk = 0;
    const uint64_t end_offset = OutputPosition(output, last_disk);
    if (count == 0) {
        cd_offset = end_offset;
        cd_disk = last_disk;
    }
    const uint64_t on_last_disk = uint64_t(std::count(record_disks.begin(), record_disks.end(), last_disk));
    std::string end;
    if (any_zip64) {
        Put32(end, kZip64EndSig);
        Put64(end, kZip64EndSize - 12);
        Put16(end, kMadeByUnix);
        Put16(end, kVersionZip64);
        Put32(end, last_disk);
        Put32(end, cd_disk);
        Put64(end, on_last_disk);
        Put64(end, count);
        Put64(end, cd_size);
        Put64(end, cd_offset);
        Put32(end, kZip64LocatorSig);
        Put32(end, last_disk);
        Put64(end, end_offset);
        Put32(end, last_disk + 1);
    }
    Put32(end, kEndSig);
    Put16(end, uint16_t(last_disk));
    Put16(end, uint16_t(cd_disk));
    Put16(end, uint16_t(std::min<uint64_t>(on_last_disk, 0xFFFF)));
    Put16(end, uint16_t(std::min<uint64_t>(count, 0xFFFF)));
    Put32(end, uint32_t(std::min(cd_size, kMax32)));
    Put32(end, uint32_t(std::min(cd_offset, kMax32)));
    Put16(end, uint16_t(comment.size()));
    end += comment;
    if (!WriteText(output, end)) return WriteFailed(output);
    return kStatusOk;
}

int ZipArchive::SaveAs(const std::string& target_path, int64_t volume_size,
                       const std::vector<uint8_t>* prefix) {
    return Save(target_path, volume_size, prefix);
}

bool ZipArchive::MustReachTheDisk(const std::string& target_path) const {
    // Waiting for the disk guards what the rename would drop: an existing file that leaves no
    // other copy. A new file, or an archive whose previous content stays as its .old link,
    // loses nothing in a crash, and the wait would double the time of every change.
    const std::string& final_path = target_path.empty() ? path_ : target_path;
    struct stat st{};
    if (final_path.empty() || stat(final_path.c_str(), &st) != 0) return false;
    const bool old_kept = target_path.empty() && LoadHandlerOptions().rename_old_file && st.st_size > 0;
    return !old_kept;
}

int ZipArchive::Save(const std::string& target_path, int64_t volume_size,
                     const std::vector<uint8_t>* prefix) {
    if (!modified_ && !prefix && volume_size == 0 && target_path.empty()) return kStatusOk;
    // A multi-disk set is written whole in the work folder, then cut into disks at the target.
    const bool spanning = volume_size != 0;
    if (spanning) {
        // The set's first bytes are its marker: no self-extractor stub can stand in front.
        if (prefix || target_path.empty() || volume_size < 0) return Unsupported();
        if (uint64_t(volume_size) < kMinVolumeSize) {
            DiskFullMessage(target_path, size_t(kMinVolumeSize));
            return kStatusNoDiskSpace;
        }
    }
    const std::string archive = path_;
    std::string output_path;
    if (target_path.empty() || spanning) {
        if (!MakeFolders(WorkFolder())) {
            SetMessage(kMsgCannotCreate, WorkFolder());
            return kStatusCannotCreate;
        }
        output_path = WorkFolder() + "/" + FileNameOfPath(archive);
    } else {
        std::string temp;
        int fd = CreateTempBeside(target_path, temp);
        if (fd < 0) {
            SetMessage(kMsgCannotCreate, target_path);
            return kStatusCannotCreate;
        }
        close(fd);
        output_path = temp;
    }
    DataStream output;
    if (!output.OpenFile(output_path, false)) {
        SetMessage(kMsgCannotCreate, output_path);
        return kStatusCannotCreate;
    }
    written_.assign(entries_.size(), Written());
    const bool was_multi_volume = multi_volume_;
    if (spanning) {
        multi_volume_ = true;
        volume_size_ = uint64_t(volume_size);
        span_ = std::make_unique<SpanLayout>(volume_size_);
    }
    int status = kStatusOk;
    if (prefix && !prefix->empty() && output.Write(prefix->data(), prefix->size()) != prefix->size())
        status = WriteFailed(output);
    if (status == kStatusOk) status = WriteMembers(output);
    if (status == kStatusOk) status = WriteCentral(output);
    if (status == kStatusOk && !output.Flush(MustReachTheDisk(spanning ? std::string() : target_path)))
        status = WriteFailed(output);
    output.Close();
    written_.clear();
    if (status != kStatusOk) {
        unlink(output_path.c_str());  // the old archive is untouched
        span_.reset();
        multi_volume_ = was_multi_volume;
        return status;
    }
    if (spanning) {
        // The open archive stays as it is; a set that was not completely written leaves the
        // handler as free to change it as before.
        status = DistributeDisks(output_path, target_path);
        span_.reset();
        if (status != kStatusOk) multi_volume_ = was_multi_volume;
        return status;
    }
    if (!target_path.empty()) {
        if (rename(output_path.c_str(), target_path.c_str()) != 0) {
            unlink(output_path.c_str());
            SetMessage(kMsgCannotCreate, target_path);
            return kStatusCannotCreate;
        }
        return Reload();
    }
    created_ = false;
    return CommitRebuilt(output_path);
}

}  // namespace quorbel
