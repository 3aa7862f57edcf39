// Files and volumes as the archive operations see them: free space, removable media, DOS
// attribute bits, file times.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace quorbel {

// DOS attribute bits.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrFolder = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// Free bytes for an unprivileged writer on the volume that holds `path` (or its nearest
// existing parent); -1 when it cannot be determined.
int64_t FreeSpace(const std::string& path);

// The mount point of the volume holding `path` (shown where a text names a drive).
std::string MountPointOf(const std::string& path);

// Removable: the mount's block device reports removable in sysfs, or the path lies under one
// of the ':'-separated roots in $QUORBEL_REMOVABLE_ROOTS.
bool IsRemovable(const std::string& path);

// Read-only = no owner write bit; hidden = leading dot; folder; archive and system come from
// the user.quorbel.dosattrib extended attribute where there is one (archive reads as set
// otherwise).
uint32_t GetDosAttributes(const std::string& path);
// Applies read-only to the write bits and keeps archive/system in the extended attribute
// (silently skipped where the file system has none).
bool SetDosAttributes(const std::string& path, uint32_t attributes);
// The same on an open file, with the permission bits it is to have before read-only is
// applied; archive alone is kept as no attribute, which reads the same.
bool SetDosAttributes(int fd, unsigned mode, uint32_t attributes);

bool SetFileTime(const std::string& path, std::time_t modified);
// Modification time, or -1 when the file does not exist.
std::time_t FileTime(const std::string& path);
bool FileExists(const std::string& path);
bool IsFolder(const std::string& path);
// Size of a regular file, or -1.
int64_t FileSize(const std::string& path);

// The stored form of a path that the 8.3 option asks for: each component in VFAT short form
// (upper case, eight characters of name, three of extension, "~1" when cut).
std::string ShortPathName(const std::string& path);

// The folder part of a path ("." when there is none) and its last component.
std::string FolderOfPath(const std::string& path);
std::string FileNameOfPath(const std::string& path);

// Creates a new temporary file (mode 0600, exclusive) beside `target`, named after it, for a
// write that is renamed into place once complete. Returns the open descriptor, or -1.
int CreateTempBeside(const std::string& target, std::string& temp_path);

// Puts the finished temporary file `temp` in the place of `target`, in the same folder. An
// existing target is exchanged with it in one step and then removed: readers see the old file
// or the new one, and a failure leaves the old one where it was. (A rename over the old file
// would do the same, but ext4 and btrfs answer it by writing the new file out at once.)
// False when nothing was replaced; `temp` is then still there.
bool ReplaceWithTemp(const std::string& temp, const std::string& target);

// Copies a file through a temporary file beside `target`, renamed into place only when whole
// and synced, with permission bits `mode`. `progress` gets the bytes done after each block and
// stops the copy by returning false. 1 copied, 2 stopped, 0 failed (nothing left at `target`
// in either case that was not there before).
int CopyFileSafely(const std::string& source, const std::string& target, unsigned mode,
                   size_t block, const std::function<bool(int64_t done)>& progress);

// Writes all of `size` bytes; false on any short write.
bool WriteAll(int fd, const void* data, size_t size);
// One positioned read (pread), tried again when a signal interrupts it: the bytes read, 0 at
// the end, -1 on an error.
int64_t ReadAt(int fd, void* data, size_t size, int64_t offset);

// Creates the folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// fsync of a folder, so that a rename in it survives a crash.
bool SyncFolder(const std::string& path);

}  // namespace quorbel
