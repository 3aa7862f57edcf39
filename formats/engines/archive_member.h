// What the ARJ, LHA and ZOO directory readers share: how a listing ended, and the permission
// bits of a member (DOS attributes or a Unix mode, depending on the host that packed it).
#pragma once

#include <cstdint>
#include <functional>

namespace quorbel {
class DataStream;
}

namespace quorbel::engines {

// Reads exactly `size` bytes at `offset`; false on a failed seek or a short read.
bool ReadExactAt(DataStream& stream, int64_t offset, void* buffer, size_t size);

enum class DirectoryStatus {
    Ok,             // the whole chain was read
    NotThisFormat,  // no valid first header: the file is not of this format
    Truncated,      // members before a damaged or cut header were read; the rest is lost
    Corrupt,        // the format's rules say the whole listing fails (LHA checksum, level)
    Cancelled,      // the progress callback asked to stop
};

const char* DirectoryStatusName(DirectoryStatus status);

// Called with the stream offset of each header before it is read; false cancels the listing.
using DirectoryProgress = std::function<bool(int64_t offset)>;

struct MemberMode {
    enum class Kind { None, Dos, Unix };
    Kind kind = Kind::None;
    uint32_t bits = 0;  // DOS attribute bits (0x01 read-only ... 0x10 folder, 0x20 archive) or
                        // a Unix st_mode (type and permission bits as the host stored them)
};

}  // namespace quorbel::engines
