// Multi-disk ZIP sets. Writing cuts the single output made in the work folder into disks, one
// after the other at the same target path, asking for each; reading joins the disks of a set
// into one file in the work folder and reads that, with each disk's start kept in the volume
// table so that offsets on a disk find their bytes.
#include "core/zip/zip_span.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/archive_handler.h"
#include "core/byte_reader.h"
#include "core/messages.h"
#include "core/text_format.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_records.h"
#include "platform/file_system.h"

namespace quorbel {

namespace zip {

SpanLayout::SpanLayout(uint64_t volume_size) : volume_size_(volume_size) {}

bool SpanLayout::Reserve(uint64_t pos, uint64_t size) {
    if (size > volume_size_) return false;
    // Member data written since the previous record has filled whole disks up to here.
    while (pos - starts_.back() >= volume_size_) {
        if (starts_.size() >= kMaxDisks) return false;
        starts_.push_back(starts_.back() + volume_size_);
    }
    if (size > volume_size_ - (pos - starts_.back())) {
        if (starts_.size() >= kMaxDisks) return false;
        starts_.push_back(pos);
    }
    return true;
}

uint32_t SpanLayout::DiskOf(uint64_t pos) const {
    auto after = std::upper_bound(starts_.begin(), starts_.end(), pos);
    return uint32_t(after - starts_.begin() - 1);
}

uint64_t SpanLayout::OffsetOf(uint64_t pos) const { return pos - starts_[DiskOf(pos)]; }

namespace {
// Where the extension of the last path component begins; npos when it has none.
size_t ExtensionAt(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= name_start) return std::string::npos;
    return dot;
}
}  // namespace

std::string SplitPartPath(const std::string& last_path, uint32_t index) {
    size_t dot = ExtensionAt(last_path);
    bool upper = dot != std::string::npos && last_path.compare(dot, std::string::npos, ".ZIP") == 0;
    std::string stem = dot == std::string::npos ? last_path : last_path.substr(0, dot);
    return stem + FormatText(upper ? ".Z%02u" : ".z%02u", unsigned(index) + 1);
}

std::string SplitSetOf(const std::string& first_path) {
    size_t dot = ExtensionAt(first_path);
    if (dot == std::string::npos || first_path.size() - dot != 4) return {};
    std::string extension = first_path.substr(dot + 1);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension != "z01") return {};
    const std::string stem = first_path.substr(0, dot);
    for (const char* last : {".zip", ".ZIP"})
        if (FileExists(stem + last)) return stem + last;
    return {};
}


namespace {

// The disk questions of a set written into a fixed folder, where nobody changes disks: each
// finished disk is moved aside under the name Info-ZIP gives it (NAME.z01, NAME.z02, ...), so
// the folder ends up holding a split archive that other tools read too. Every other question
// goes to the program's prompts.
class SplitFilePrompts : public UserPrompts {
public:
    SplitFilePrompts(UserPrompts& base, std::string target) : base_(base), target_(std::move(target)) {}
    bool AskYesNo(const std::string& message) override { return base_.AskYesNo(message); }
    Overwrite AskOverwrite(const std::string& message) override { return base_.AskOverwrite(message); }
    std::optional<std::string> AskPassword(const std::string& message) override {
        return base_.AskPassword(message);
    }
    bool AskNextDisk(const std::string&) override {
        if (!started_) {  // the first disk: nothing is finished yet
            started_ = true;
            return true;
        }
        const std::string part = SplitPartPath(target_, finished_);
        if (std::rename(target_.c_str(), part.c_str()) != 0) {
            base_.ShowMessage(FormatText(MessageTemplate(kMsgCannotRename).c_str(), target_.c_str()));
            return false;
        }
        ++finished_;
        return true;
    }
    std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) override {
        return base_.ChooseFolder(title, start);
    }
    void ShowMessage(const std::string& message) override { base_.ShowMessage(message); }

private:
    UserPrompts& base_;
    std::string target_;
    uint32_t finished_ = 0;
    bool started_ = false;
};

// Installs prompts for the lifetime of the object and puts the previous ones back.
class ScopedPrompts {
public:
    explicit ScopedPrompts(UserPrompts* prompts) : previous_(&Prompts()) { SetPrompts(prompts); }
    ~ScopedPrompts() { SetPrompts(previous_); }
    ScopedPrompts(const ScopedPrompts&) = delete;
    ScopedPrompts& operator=(const ScopedPrompts&) = delete;

private:
    UserPrompts* previous_;
};

}  // namespace

int SpanArchive(ArchiveHandler& handler, const std::string& target, int64_t volume_size) {
    const bool removable = IsRemovable(target);
    if (volume_size == 0) {
        // Without a size the disks are as large as the free space of the removable drive.
        if (!removable) {
            handler.SetLastMessage(StringById(text_id::kSpanNeedsRemovable));
            return kStatusFailed;
        }
        volume_size = std::max<int64_t>(FreeSpace(FolderOfPath(target)), 1);
    }
    if (!handler.CanSpan()) {
        handler.SetMessage(kMsgUnsupportedOperation, handler.FormatName());
        return kStatusFailed;
    }
    SplitFilePrompts split(Prompts(), target);
    ScopedPrompts scoped(removable ? &Prompts() : &split);
    return handler.Save(target, volume_size, nullptr);
}

}  // namespace zip

using namespace zip;

namespace {
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    // Closes now; false when the system reports an error (a write that never reached the disk).
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

bool ReadFull(int fd, uint8_t* out, size_t n) {
    while (n > 0) {
        ssize_t got = read(fd, out, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= size_t(got);
    }
    return true;
}

bool StartsWithMarker(DataStream& stream) {
    uint8_t head[4] = {};
    return stream.Seek(0, DataStream::Origin::Start) == 0 && stream.Read(head, 4) == 4 &&
           Le32(head) == kSpanMarker;
}
}  // namespace

uint64_t ZipArchive::OutputPosition(DataStream& output, uint32_t& disk) const {
    const uint64_t pos = uint64_t(output.Tell());
    disk = span_ ? span_->DiskOf(pos) : 0;
    return span_ ? span_->OffsetOf(pos) : pos;
}

int ZipArchive::ReserveRecord(DataStream& output, size_t size) {
    if (!span_ || span_->Reserve(uint64_t(output.Tell()), size)) return kStatusOk;
    if (span_->Starts().size() >= kMaxDisks) {
        SetMessage(kMsgOverflow);
        return kStatusFailed;
    }
    DiskFullMessage(output.Name(), size);  // no disk of the chosen size holds this record
    return kStatusNoDiskSpace;
}

void ZipArchive::DiskFullMessage(const std::string& path, size_t needed) {
    const std::string folder = FolderOfPath(path);
    SetMessage(kMsgNoDiskSpace, folder, MountPointOf(folder),
               SizeShortText(std::max<int64_t>(FreeSpace(folder), 0)), SizeShortText(int64_t(needed)));
}

int ZipArchive::DistributeDisks(const std::string& output_path, const std::string& target_path) {
    int in = open(output_path.c_str(), O_RDONLY | O_CLOEXEC);
    FdCloser in_closer(in);
    struct stat st{};
    if (in < 0 || fstat(in, &st) != 0) {
        SetMessage(kMsgCannotOpen, output_path);
        return kStatusCannotOpen;
    }
    const uint64_t total = uint64_t(st.st_size);
    const std::vector<uint64_t>& starts = span_->Starts();
    const std::string drive = MountPointOf(target_path);
    ProgressScope progress(sink_);
    sink_->SetRange(0, int64_t(total));
    sink_->SetText(FormatText(MessageTemplate(kMsgCopying).c_str(), FileNameOfPath(output_path).c_str(),
                              target_path.c_str()));
    std::vector<uint8_t> buffer(kSpanChunk);
    uint64_t copied = 0;
    for (size_t disk = 0; disk < starts.size(); ++disk) {
        const uint64_t end = disk + 1 < starts.size() ? starts[disk + 1] : total;
        if (!Prompts().AskNextDisk(
                FormatText(StringById(DiskPromptId()).c_str(), int(disk + 1), drive.c_str()))) {
            SetMessage(kMsgAborted);
            return kStatusAborted;
        }
        // The disks' volume labels (PKBACK# 001, ...) are not set: no reader needs them, and
        // the platform offers no call to change a label.
        int out = open(target_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        FdCloser out_closer(out);
        if (out < 0) {
            SetMessage(kMsgCannotCreate, target_path);
            return kStatusCannotCreate;
        }
        int status = kStatusOk;
        while (copied < end && status == kStatusOk) {
            const size_t step = size_t(std::min<uint64_t>(end - copied, kSpanChunk));
            if (!ReadFull(in, buffer.data(), step)) {
                SetMessage(kMsgCannotOpen, output_path);
                status = kStatusCannotOpen;
            } else if (!WriteAll(out, buffer.data(), step)) {
                DiskFullMessage(target_path, step);
                status = kStatusNoDiskSpace;
            } else {
                copied += step;
                if (sink_->SetPos(int64_t(copied)) == 0) {
                    SetMessage(kMsgAborted);
                    status = kStatusAborted;
                }
            }
        }
        // A removable disk is taken out after the next prompt: its bytes must be on it by then.
        if (status == kStatusOk && fsync(out) != 0 && errno != EINVAL) {
            DiskFullMessage(target_path, size_t(end - starts[disk]));
            status = kStatusNoDiskSpace;
        }
        struct stat written{};
        const bool regular = fstat(out, &written) == 0 && S_ISREG(written.st_mode);
        if (!out_closer.Close() && status == kStatusOk) {
            DiskFullMessage(target_path, size_t(end - starts[disk]));
            status = kStatusNoDiskSpace;
        }
        if (status != kStatusOk) {
            // Half a disk would later pass for one of the set; earlier disks are complete.
            if (regular) unlink(target_path.c_str());
            return status;
        }
    }
    return kStatusOk;
}

int ZipArchive::ReadSpanned(const std::string& path) {
    const bool first = StartsWithMarker(stream_);
    // The first disk in its drive: the later disks are asked for one by one. Away from a
    // removable drive a first disk has nothing to be joined with.
    auto from_drive = [&] {
        if (IsRemovable(path)) return JoinDisks({}, path, 0, true);
        SetMessage(kMsgNotThisFormat, path, format_name_);
        return int(kStatusNotThisFormat);
    };
    const std::string last = first ? SplitSetOf(path) : path;
    if (last.empty()) return from_drive();
    if (last != path) {
        stream_.Close();
        if (!stream_.OpenFile(last, true)) {
            SetMessage(kMsgCannotOpen, last);
            return kStatusCannotOpen;
        }
    }
    if (FindEndRecord() != kStatusOk || end_.disk == 0) {
        if (first) return from_drive();  // NAME.zip beside is no part of this set
        SetMessage(kMsgNotThisFormat, last, format_name_);
        return kStatusFailed;
    }
    if (end_.disk >= kMaxDisks || end_.central_disk > end_.disk) {
        SetMessage(kMsgCorrupt, last);
        return kStatusCorrupt;
    }
    // Info-ZIP keeps the earlier disks beside the last one as NAME.z01, NAME.z02, ...
    const uint32_t count = end_.disk + 1;
    std::vector<std::string> parts;
    std::string missing;
    for (uint32_t disk = 0; disk + 1 < count && missing.empty(); ++disk) {
        std::string part = SplitPartPath(last, disk);
        if (FileExists(part))
            parts.push_back(part);
        else
            missing = part;
    }
    if (missing.empty()) {
        parts.push_back(last);
        return JoinDisks(parts, last, count, false);
    }
    if (IsRemovable(last)) return JoinDisks({}, last, count, false);
    SetMessage(kMsgCannotOpen, missing);
    return kStatusCannotOpen;
}

int ZipArchive::JoinDisks(const std::vector<std::string>& parts, const std::string& drive_path,
                          uint32_t disk_count, bool first_in_drive) {
    if (!MakeFolders(WorkFolder())) {
        SetMessage(kMsgCannotCreate, WorkFolder());
        return kStatusCannotCreate;
    }
    const std::string joined = WorkFolder() + "/" + kJoinedCopyName;
    int out = open(joined.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FdCloser out_closer(out);
    if (out < 0) {
        SetMessage(kMsgCannotCreate, joined);
        return kStatusCannotCreate;
    }
    const std::string drive = MountPointOf(drive_path);
    volume_table_.clear();
    std::vector<uint8_t> buffer(kSpanChunk);
    int64_t length = 0;
    for (uint32_t disk = 0;; ++disk) {
        if (disk >= kMaxDisks) {
            SetMessage(kMsgCorrupt, drive_path);
            return kStatusCorrupt;
        }
        const bool ask = disk >= parts.size() && !(disk == 0 && first_in_drive);
        std::string disk_path;
        for (;;) {
            if (ask && !Prompts().AskNextDisk(
                           FormatText(StringById(DiskPromptId()).c_str(), int(disk + 1), drive.c_str()))) {
                SetMessage(kMsgAborted);
                return kStatusAborted;
            }
            disk_path = disk < parts.size() ? parts[disk] : drive_path;
            stream_.Close();
            if (!stream_.OpenFile(disk_path, true)) {
                SetMessage(kMsgCannotOpen, disk_path);
                return kStatusCannotOpen;
            }
            // Only the first disk starts with the marker; a disk that does not answer to its
            // place is the wrong one, and the same disk is asked for again.
            if (!ask || StartsWithMarker(stream_) == (disk == 0)) break;
        }
        // The end record names the disk that holds it; a look-alike in member data does not.
        const bool holds_end = FindEndRecord() == kStatusOk && end_.disk == disk;
        const bool last = disk_count ? disk + 1 == disk_count : holds_end;
        if (last && !holds_end) {
            SetMessage(kMsgCorrupt, disk_path);
            return kStatusCorrupt;
        }
        current_disk_ = int(disk);
        volume_table_.push_back(length);

        const int64_t size = stream_.Size();
        ProgressScope progress(sink_);
        sink_->SetRange(0, size);
        if (size < 0 || stream_.Seek(0, DataStream::Origin::Start) != 0) {
            SetMessage(kMsgCannotOpen, disk_path);
            return kStatusCannotOpen;
        }
        for (int64_t done = 0; done < size;) {
            const size_t step = size_t(std::min<int64_t>(size - done, int64_t(kSpanChunk)));
            if (stream_.Read(buffer.data(), step) != step) {
                SetMessage(kMsgCannotOpen, disk_path);
                return kStatusCannotOpen;
            }
            if (sink_->SetPos(done + int64_t(step / 2)) == 0) {
                SetMessage(kMsgAborted);
                return kStatusAborted;
            }
            if (!WriteAll(out, buffer.data(), step)) {
                DiskFullMessage(joined, step);
                return kStatusNoDiskSpace;
            }
            done += int64_t(step);
            if (sink_->SetPos(done) == 0) {
                SetMessage(kMsgAborted);
                return kStatusAborted;
            }
        }
        length += size;
        if (last) break;
    }
    stream_.Close();
    if (!out_closer.Close()) {
        DiskFullMessage(joined, 0);
        return kStatusNoDiskSpace;
    }
    multi_volume_ = true;
    joined_size_ = length;
    return ReadZip(joined, false, true);
}

}  // namespace quorbel
