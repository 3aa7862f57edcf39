#include "formats/cab/cab_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "platform/file_system.h"
#include "platform/large_memory.h"
#include "platform/own_library.h"

namespace quorbel::cab {

namespace {
struct Binding {
    void* library = nullptr;
    bool linked = false;
    CabinetEntryPoints entry_points;
};

Binding& GlobalBinding() {
    static Binding binding;
    return binding;
}

CabHandle* Handle(intptr_t hf) {
    return hf == -1 || hf == 0 ? nullptr : reinterpret_cast<CabHandle*>(hf);
}
}  // namespace

std::vector<std::string> CabinetLibraryCandidates() {
    return OwnLibraryCandidates(kCabinetLibraryName, "QUORBEL_CABINET_LIBRARY");
}

bool BindCabinetLibrary(CabinetEntryPoints& out, std::string& why) {
    Binding& b = GlobalBinding();
    if (b.library || b.linked) {
        out = b.entry_points;
        return true;
    }
    void* library = OpenOwnLibrary(CabinetLibraryCandidates(), {"FDICreate", "FDICopy", "FDIIsCabinet", "FDIDestroy"}, why);
    if (!library) return false;
    CabinetEntryPoints e;
    e.create = reinterpret_cast<FdiCreateFn>(dlsym(library, "FDICreate"));
    e.copy = reinterpret_cast<FdiCopyFn>(dlsym(library, "FDICopy"));
    e.is_cabinet = reinterpret_cast<FdiIsCabinetFn>(dlsym(library, "FDIIsCabinet"));
    e.destroy = reinterpret_cast<FdiDestroyFn>(dlsym(library, "FDIDestroy"));
    b.library = library;
    b.entry_points = e;
    out = e;
    return true;
}

void UseLinkedCabinetLayer(const CabinetEntryPoints& entry_points) {
    Binding& b = GlobalBinding();
    b.linked = true;
    b.entry_points = entry_points;
}

std::string CabinetErrorText(int oper) {
    const int id = oper >= 0 && oper <= 11 ? text_id::kCabinetErrorFirst + oper
                                           : text_id::kCabinetErrorFirst + 12;
    return StringById(id);
}

namespace {
// The library's blocks arrive zeroed. The large ones (decoder windows and state, read buffers)
// come straight from the system, whose pages are zero when first touched: calloc would clear,
// and so fault in, a whole window of which a small cabinet uses a page or two.
constexpr size_t kMappedBlock = 32 * 1024;

struct alignas(16) BlockHeader {
    size_t length;
    bool mapped;
};
}  // namespace

void* AllocCallback(uint32_t size) {
    const size_t total = size_t(size ? size : 1) + sizeof(BlockHeader);
    BlockHeader* header;
    if (total >= kMappedBlock) {
        void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        header = static_cast<BlockHeader*>(p);
        header->mapped = true;
    } else {
        header = static_cast<BlockHeader*>(std::calloc(total, 1));
        if (!header) return nullptr;
        header->mapped = false;
    }
    header->length = total;
    return header + 1;
}

void FreeCallback(void* block) {
    if (!block) return;
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    if (header->mapped)
        munmap(header, header->length);
    else
        std::free(header);
}

intptr_t OpenCallback(const char* name, int flags, int mode) {
    if (!name) return -1;
    int oflags = O_CLOEXEC;
    switch (flags & 3) {
        case FDI_O_RDONLY: oflags |= O_RDONLY; break;
        case FDI_O_WRONLY: oflags |= O_WRONLY; break;
        case FDI_O_RDWR: oflags |= O_RDWR; break;
        default: return -1;
    }
    const bool writable = (flags & 3) != FDI_O_RDONLY;
    if (flags & FDI_O_CREAT) oflags |= O_CREAT | ((flags & FDI_O_EXCL) ? O_EXCL : 0);
    // Cutting a file needs write access; asking it on a read-only open is a caller's error.
    if ((flags & FDI_O_TRUNC) && !writable) return -1;
    // A created file is writable for everyone the umask allows, or read-only without the
    // write bit in the mode. Short-lived files have no POSIX hint; they are ordinary files.
    const mode_t create_mode = (mode & FDI_S_IWRITE) ? 0666 : 0444;
    int fd = ::open(name, oflags, create_mode);
    if (fd < 0) return -1;
    if ((flags & FDI_O_TRUNC) && ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    if (flags & FDI_O_RANDOM) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    if (flags & FDI_O_SEQUENTIAL) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if ((flags & FDI_O_APPEND) && lseek(fd, 0, SEEK_END) < 0) {
        ::close(fd);
        return -1;
    }
    auto* h = new (std::nothrow) CabHandle;
    if (!h) {
        ::close(fd);
        return -1;
    }
    h->fd = fd;
    h->read_only = !writable;
    if ((flags & FDI_O_CREAT) && (flags & FDI_O_TEMPORARY)) h->delete_on_close = name;
    return reinterpret_cast<intptr_t>(h);
}

intptr_t OpenMemoryTarget(size_t initial, size_t limit) {
    auto* h = new (std::nothrow) CabHandle;
    if (!h) return -1;
    h->capacity = std::min(initial, limit);
    h->limit = limit;
    h->data = AllocateLarge(h->capacity);
    if (!h->data) {
        delete h;
        return -1;
    }
    return reinterpret_cast<intptr_t>(h);
}

intptr_t OpenFileTarget(int fd, size_t limit, bool* write_failed) {
    if (fd < 0) return -1;
    auto* h = new (std::nothrow) CabHandle;
    if (!h) return -1;
    h->fd = fd;
    h->borrowed = true;
    h->limit = limit;
    h->write_failed = write_failed;
    return reinterpret_cast<intptr_t>(h);
}

size_t WrittenSize(intptr_t hf) {
    CabHandle* h = Handle(hf);
    return h ? h->size : 0;
}

uint8_t* TakeMemory(intptr_t hf, size_t& size) {
    CabHandle* h = Handle(hf);
    size = 0;
    if (!h || h->fd >= 0) return nullptr;
    uint8_t* data = h->data;
    size = h->size;
    h->data = nullptr;
    h->capacity = h->size = h->position = 0;
    return data;
}

namespace {
constexpr size_t kReadBuffer = 4096;

uint32_t ReadBuffered(CabHandle* h, uint8_t* p, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int64_t end = h->buffer_start + int64_t(h->buffer_length);
        if (h->offset >= h->buffer_start && h->offset < end) {
            const size_t take = std::min<size_t>(count - done, size_t(end - h->offset));
            std::memcpy(p + done, h->buffer.get() + (h->offset - h->buffer_start), take);
            done += uint32_t(take);
            h->offset += int64_t(take);
            continue;
        }
        const size_t wanted = count - done;
        if (!h->buffer && wanted < kReadBuffer) h->buffer.reset(new (std::nothrow) uint8_t[kReadBuffer]);
        if (wanted >= kReadBuffer || !h->buffer) {
            const int64_t n = ReadAt(h->fd, p + done, wanted, h->offset);
            if (n < 0) return UINT32_MAX;
            if (n == 0) break;
            done += uint32_t(n);
            h->offset += n;
            continue;
        }
        const int64_t n = ReadAt(h->fd, h->buffer.get(), kReadBuffer, h->offset);
        if (n < 0) return UINT32_MAX;
        if (n == 0) break;
        h->buffer_start = h->offset;
        h->buffer_length = size_t(n);
    }
    return done;
}
}  // namespace

uint32_t ReadCallback(intptr_t hf, void* buffer, uint32_t count) {
    CabHandle* h = Handle(hf);
    if (!h || (count && !buffer)) return UINT32_MAX;
    if (count == 0) return 0;
    if (h->fd < 0) {
        size_t n = h->position < h->size ? std::min<size_t>(count, h->size - h->position) : 0;
        if (n) std::memcpy(buffer, h->data + h->position, n);
        h->position += n;
        return uint32_t(n);
    }
    if (h->read_only) return ReadBuffered(h, static_cast<uint8_t*>(buffer), count);
    uint32_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::read(h->fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return UINT32_MAX;
        }
        if (n == 0) break;
        done += uint32_t(n);
    }
    return done;
}

uint32_t WriteCallback(intptr_t hf, const void* buffer, uint32_t count) {
    CabHandle* h = Handle(hf);
    if (!h || (count && !buffer)) return UINT32_MAX;
    if (count == 0) return 0;
    if (h->fd < 0) {
        // A member never grows past the size its entry announced.
        if (!h->data || h->position > h->limit || count > h->limit - h->position) return UINT32_MAX;
        if (count > h->capacity - h->position) {
            size_t grown = std::max(h->position + count, h->capacity < h->limit / 2 ? h->capacity * 2 : h->limit);
            grown = std::min(grown, h->limit);
            auto* p = static_cast<uint8_t*>(std::realloc(h->data, grown));
            if (!p) return UINT32_MAX;
            h->data = p;
            h->capacity = grown;
        }
        std::memcpy(h->data + h->position, buffer, count);
        h->position += count;
        h->size = std::max(h->size, h->position);
        return count;
    }
    if (h->borrowed && (h->position > h->limit || count > h->limit - h->position)) return UINT32_MAX;
    uint32_t done = 0;
    auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::write(h->fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (h->write_failed) *h->write_failed = true;
            return UINT32_MAX;
        }
        done += uint32_t(n);
    }
    if (h->borrowed) {
        h->position += done;
        h->size = std::max(h->size, h->position);
    }
    return done;
}

int CloseCallback(intptr_t hf) {
    CabHandle* h = Handle(hf);
    if (!h) return -1;
    int result = 0;
    if (h->fd >= 0 && !h->borrowed && ::close(h->fd) != 0) result = -1;
    if (h->fd < 0) std::free(h->data);
    if (!h->delete_on_close.empty()) unlink(h->delete_on_close.c_str());
    delete h;
    return result;
}

int64_t SeekCallback(intptr_t hf, int64_t distance, int origin) {
    CabHandle* h = Handle(hf);
    if (!h || origin < 0 || origin > 2) return -1;
    if (h->fd >= 0 && h->read_only) {
        int64_t base = origin == 0 ? 0 : h->offset;
        if (origin == 2) {
            struct stat st {};
            if (fstat(h->fd, &st) != 0) return -1;
            base = int64_t(st.st_size);
        }
        if ((distance > 0 && base > INT64_MAX - distance)) return -1;
        const int64_t target = base + distance;
        if (target < 0) return -1;
        h->offset = target;
        return target;
    }
    if (h->fd >= 0) {
        static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
        off_t r = lseek(h->fd, off_t(distance), kWhence[origin]);
        if (r < 0) return -1;
        if (h->borrowed) h->position = size_t(r);
        return int64_t(r);
    }
    const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(h->position) : int64_t(h->size);
    if ((distance > 0 && base > INT64_MAX - distance)) return -1;
    const int64_t target = base + distance;
    if (target < 0 || uint64_t(target) > h->size) return -1;
    h->position = size_t(target);
    return target;
}

}  // namespace quorbel::cab
