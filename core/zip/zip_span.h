// ZIP sets written across several disks and read back from them: where each disk of a set
// being written begins, and the names Info-ZIP gives to the files of a split archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorbel {
class ArchiveHandler;
}

namespace quorbel::zip {

// Info-ZIP refuses smaller splits too; below this a long name or comment no longer fits.
inline constexpr uint64_t kMinVolumeSize = 65536;
// Disk numbers are 16-bit fields of the records.
inline constexpr uint32_t kMaxDisks = 0xFFFF;
// Bytes moved per read and write when a set is cut into disks or joined from them.
inline constexpr size_t kSpanChunk = 102400;
// The joined copy of a set being read, in the handler's work folder.
inline constexpr const char* kJoinedCopyName = "qrbel.zip";

// The disks of a set being written, kept as the output positions where each one begins.
// Member data runs on from one disk to the next, but a local header, a data descriptor, a
// central record and the end records must each lie whole on one disk (APPNOTE 8.5): when one
// would not fit in what is left of the current disk, that disk ends early and the record
// opens the next one.
class SpanLayout {
public:
    explicit SpanLayout(uint64_t volume_size);

    // Room for a record of `size` bytes written at output position `pos` (positions only move
    // forward). False when it fits on no disk, or when the set would need more disks than
    // a disk number can count.
    bool Reserve(uint64_t pos, uint64_t size);
    // The disk holding output position `pos`, and the offset of `pos` on that disk.
    uint32_t DiskOf(uint64_t pos) const;
    uint64_t OffsetOf(uint64_t pos) const;

    uint64_t VolumeSize() const { return volume_size_; }
    // Output positions where disk 0, 1, ... begin.
    const std::vector<uint64_t>& Starts() const { return starts_; }

private:
    uint64_t volume_size_;
    std::vector<uint64_t> starts_{0};
};

// The file Info-ZIP gives disk `index` (from 0) of a split set that is not its last disk:
// NAME.z01, NAME.z02, ... beside `last_path` (NAME.zip; NAME.ZIP gives NAME.Z01).
std::string SplitPartPath(const std::string& last_path, uint32_t index);

// For the first file of a split set (NAME.z01), the set's last file NAME.zip when it exists;
// empty otherwise.
std::string SplitSetOf(const std::string& first_path);

// Writes the open archive as a set of disks at `target`. On removable media each disk is as
// large as the drive's free space (volume_size 0) and the user is asked for the next one; in a
// fixed folder (a volume size is then required) each finished disk is moved aside as NAME.z01,
// NAME.z02, ..., so the folder ends up holding a split archive other tools read. The status;
// the message is left in the handler.
int SpanArchive(ArchiveHandler& handler, const std::string& target, int64_t volume_size);

}  // namespace quorbel::zip
