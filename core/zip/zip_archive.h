// The handler of ZIP archives, read and written by the program itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/archive_handler.h"
#include "core/zip/zip_span.h"

namespace quorbel {

namespace zip {
struct PackedFile;
}

class ZipArchive : public ArchiveHandler {
public:
    // The end-of-central-directory record, with the ZIP64 values merged in when the archive
    // carries ZIP64 end records.
    struct EndRecord {
        uint32_t disk = 0;
        uint32_t central_disk = 0;
        uint64_t entries_on_disk = 0;
        uint64_t total_entries = 0;
        uint64_t central_size = 0;
        uint64_t central_offset = 0;
        uint16_t comment_length = 0;
        int64_t position = -1;        // file offset of the 22-byte record
        int64_t central_limit = -1;   // where the central directory must end
        bool zip64 = false;
    };

    ZipArchive();

    int ReadDirectory() override;
    // Reads the directory of `path`: the end record, then the central directory.
    virtual int ReadZip(const std::string& path, bool already_open, bool refresh_info);
    // Finds the end record in the last 65557 bytes: 1, or 7 (message 22 prepared).
    int FindEndRecord();
    // 1, 2 aborted, 3 corrupt (message 22), 0 out of memory.
    int ReadCentral();
    // True when the data of two members would overlap (checked after the directory is read).
    bool MembersOverlap() const;
    // Reads the multi-disk set that `path` belongs to (its first disk, or its last one when
    // its end record names a later disk) by joining the disks into one file in the work
    // folder: 1, 2 cancelled, 3 corrupt, 4 a disk missing, 6 not a set this handler reads.
    int ReadSpanned(const std::string& path);

    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;

    bool CanExtract() override { return true; }
    bool CanUpdate() override { return !multi_volume_; }
    bool CanEdit() override { return !multi_volume_; }
    bool CanMakeSfx() override { return !multi_volume_; }
    bool CanSpan() override { return !multi_volume_; }

    // Queues a disk file to be stored by the next Save under its name below base_folder,
    // replacing a member of the same name.
    int AddFile(const std::string& disk_path, const std::string& base_folder,
                const std::string& archive_folder) override;
    // Rebuilds the archive in the work folder (copying unchanged members as they are,
    // compressing pending ones), puts it in place of the old file and re-reads it. With a
    // target path the archive is written there instead; a prefix (a self-extractor stub) is
    // written in front.
    int Save(const std::string& target_path, int64_t volume_size,
             const std::vector<uint8_t>* prefix) override;
    int SaveAs(const std::string& target_path, int64_t volume_size,
               const std::vector<uint8_t>* prefix) override;
    int Create(const std::string& path) override;

    // The data to write for a pending member from its packed file (its central record filled
    // in), or none with the message prepared. Files too large to pack whole are streamed here.
    MemoryBlock PackEntry(size_t index, zip::PackedFile file);
    int WriteMembers(DataStream& output);
    int WriteCentral(DataStream& output);
    // The output's position as an offset on the disk that holds it (`disk` is 0 unless a
    // multi-disk set is being written).
    uint64_t OutputPosition(DataStream& output, uint32_t& disk) const;

    const EndRecord& End() const { return end_; }

    // The stored name bytes of a central record as UTF-8 (exposed for tests).
    static std::string DecodeName(const std::string& raw, uint16_t flags, uint16_t version_made_by,
                                  const uint8_t* extra, size_t extra_size);

protected:
    // Absolute position in the stream of an offset on a given disk; -1 when a set being read
    // has no such disk or the offset lies beyond it.
    int64_t StreamOffset(uint32_t disk, uint64_t offset) const;
    // Cuts the single output of a set into disks written one after the other at
    // `target_path`, asking for each disk: 1, 2 cancelled, 5 cannot create, 10 disk full.
    int DistributeDisks(const std::string& output_path, const std::string& target_path);

    uint64_t volume_size_ = 0;
    EndRecord end_;
    std::unique_ptr<zip::SpanLayout> span_;  // the disks of a set while it is written
    int64_t joined_size_ = 0;                // the joined copy's length while a set is read

private:
    struct Written {
        uint64_t offset = 0;
        uint64_t packed = 0;
        uint64_t unpacked = 0;
        uint32_t crc = 0;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint16_t time = 0;
        uint16_t date = 0;
        uint16_t made_by = 0;
        uint32_t external = 0;
        uint32_t disk = 0;
    };
    std::vector<Written> written_;
    bool created_ = false;

    // Whether the rebuilt file must be on the disk before it replaces the one at `target_path`
    // (empty: the archive itself).
    bool MustReachTheDisk(const std::string& target_path) const;
    zip::PackedFile PackStreaming(const std::string& path, size_t room);
    // zlib's deflate in steps with progress and abort; `room` bytes are left free in front.
    MemoryBlock DeflateStreaming(const uint8_t* in, size_t n, size_t room, size_t& out_size);
    bool CopyStreamRange(int64_t from, int64_t count, DataStream& output);
    int WriteFailed(DataStream& output);
    // Makes room on the current disk for a record about to be written (status 1, or 10 with
    // the message when no disk can hold it).
    int ReserveRecord(DataStream& output, size_t size);
    // Joins disks 0, 1, ... into the joined copy and reads it: `parts` names the files of the
    // first disks; the others are asked for in the drive of `drive_path`. With a known
    // `disk_count` the set ends there, else at the disk that holds its end record.
    int JoinDisks(const std::vector<std::string>& parts, const std::string& drive_path,
                  uint32_t disk_count, bool first_in_drive);
    void DiskFullMessage(const std::string& path, size_t needed);
};

}  // namespace quorbel
