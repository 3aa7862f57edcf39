// The ZIP archive a self-extractor carries behind its own program code: the directory, read
// from the end of the file, and each member streamed out with its CRC and size checked. Qt-free
// and small, since the stub is linked statically and runs where Quorbel is not installed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorbel::sfx {

struct SfxMember {
    std::string name;          // as stored: '/' or '\' separated, bytes unchanged
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t packed = 0;
    uint64_t unpacked = 0;
    uint64_t local_offset = 0;  // as the directory states it, before the prefix correction
    uint32_t external_attrs = 0;
    uint8_t host = 0;
    uint16_t dos_time = 0;
    uint16_t dos_date = 0;
    int64_t unix_mtime = -1;   // from the extended timestamp field, when present

    bool Encrypted() const { return flags & 0x0001; }
    bool IsFolder() const;
    bool IsSymbolicLink() const;
    // Unix permission bits stored by a Unix host; 0 when the host stored DOS attributes.
    uint32_t UnixMode() const;
};

enum class SfxResult { Ok, BadData, BadCrc, BadPassword, Unsupported, WriteFailed };

const char* ResultText(SfxResult result);

class SfxArchive {
public:
    ~SfxArchive();

    // Reads the directory of the ZIP at the end of `path`. False with Error() set when the file
    // holds none (or a damaged one).
    bool Open(const std::string& path);
    const std::string& Error() const { return error_; }
    const std::vector<SfxMember>& Members() const { return members_; }

    // Streams one member's bytes to `write` (which returns false to stop on a write error),
    // checking the size and the CRC at the end. `password` is used for encrypted members.
    SfxResult Extract(const SfxMember& member, const std::string& password,
                      const std::function<bool(const uint8_t*, size_t)>& write) const;

private:
    bool ReadAt(uint64_t offset, void* buffer, size_t size) const;
    bool ReadDirectory(uint64_t end_offset);
    bool Fail(const std::string& text);

    int fd_ = -1;
    uint64_t file_size_ = 0;
    // Where the archive really starts relative to the offsets it states: the stub in front
    // shifts everything when the writer did not account for it.
    int64_t shift_ = 0;
    std::vector<SfxMember> members_;
    std::string error_;
};

}  // namespace quorbel::sfx
