// The cabinet decompression interface over libmspack. libmspack reads and writes through an
// mspack_system of ours, which forwards every call to the caller's FDI callbacks: the cabinet
// files are opened by name through the open callback, and a member is written to the handle
// the caller answered its copy-file notification with.
#include "formats/cab/fdi/fdi.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include <mspack.h>

#define FDI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The name libmspack is given for a member's output: our open function answers it with the
// handle of the current copy instead of opening a file.
constexpr char kTargetName[] = "\x01quorbel-fdi-target";
constexpr size_t kFolderBufferSize = 256;  // the folder buffer of a next-cabinet notification

// The stored folder index values of members split across cabinets.
constexpr uint16_t kContinuedFromPrevious = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedBoth = 0xFFFF;

struct Context;

struct LayerFile {
    intptr_t hf;
    bool is_target;
    Context* context;
};

struct LayerSystem {
    mspack_system system;  // first: libmspack hands back the pointer it was given
    Context* context;
};

// One member's record as stored in the cabinet's file table.
struct RawMember {
    uint16_t folder, date, time, attribs;
};

struct Context {
    FdiAllocFn alloc;
    FdiFreeFn release;
    FdiOpenFn open;
    FdiReadFn read;
    FdiWriteFn write;
    FdiCloseFn close;
    FdiSeekFn seek;
    FdiErrorRecord* error;
    LayerSystem system;
    mscab_decompressor* decompressor = nullptr;

    // The cabinet (and the cabinets appended to it) of the last copy, kept open so that the
    // next copy from the same unchanged file goes on decompressing where the last one ended
    // instead of starting its folder again.
    std::string cabinet_path;
    struct stat identity {};
    mscabd_cabinet* first = nullptr;
    std::vector<mscabd_cabinet*> chain;  // first, then every cabinet appended
    std::vector<RawMember> members;      // of the first cabinet
    // libmspack keeps the name it opened a cabinet by (and opens it again to read its data):
    // the names live as long as the set.
    std::deque<std::string> paths;
    bool set_complete = false;  // the cabinets the first one's last folder runs into are appended

    // The copy in progress.
    intptr_t target = -1;
    uint64_t written = 0;
    bool write_failed = false;
};

void SetError(Context* c, int oper, int type = 0) {
    if (!c->error) return;
    c->error->oper = oper;
    c->error->type = type;
    c->error->error = oper != FDI_ERROR_NONE;
}

thread_local Context* g_current = nullptr;

mspack_file* SysOpen(mspack_system*, const char* name, int mode) {
    Context* c = g_current;
    if (!c) return nullptr;
    auto* f = static_cast<LayerFile*>(c->alloc(sizeof(LayerFile)));
    if (!f) return nullptr;
    f->context = c;
    if (std::strcmp(name, kTargetName) == 0) {
        if (c->target == -1 || mode != MSPACK_SYS_OPEN_WRITE) {
            c->release(f);
            return nullptr;
        }
        f->hf = c->target;
        f->is_target = true;
        return reinterpret_cast<mspack_file*>(f);
    }
    int flags = FDI_O_BINARY;
    switch (mode) {
        case MSPACK_SYS_OPEN_READ: flags |= FDI_O_RDONLY; break;
        case MSPACK_SYS_OPEN_WRITE: flags |= FDI_O_WRONLY | FDI_O_CREAT | FDI_O_TRUNC; break;
        case MSPACK_SYS_OPEN_UPDATE: flags |= FDI_O_RDWR; break;
        case MSPACK_SYS_OPEN_APPEND: flags |= FDI_O_WRONLY | FDI_O_CREAT | FDI_O_APPEND; break;
        default: c->release(f); return nullptr;
    }
    f->hf = c->open(name, flags, FDI_S_IREAD | FDI_S_IWRITE);
    f->is_target = false;
    if (f->hf == -1) {
        c->release(f);
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(f);
}

void SysClose(mspack_file* file) {
    auto* f = reinterpret_cast<LayerFile*>(file);
    if (!f) return;
    // The target belongs to the caller, who closes it on its close-file notification.
    if (!f->is_target) f->context->close(f->hf);
    f->context->release(f);
}

int SysRead(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<LayerFile*>(file);
    if (!f || bytes < 0) return -1;
    if (bytes == 0) return 0;
    uint32_t n = f->context->read(f->hf, buffer, uint32_t(bytes));
    return n == UINT32_MAX ? -1 : int(n);
}

int SysWrite(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<LayerFile*>(file);
    if (!f || bytes < 0) return -1;
    if (bytes == 0) return 0;
    uint32_t n = f->context->write(f->hf, buffer, uint32_t(bytes));
    if (n != uint32_t(bytes)) {
        if (f->is_target) f->context->write_failed = true;
        return -1;
    }
    if (f->is_target) f->context->written += n;
    return int(n);
}

int SysSeek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<LayerFile*>(file);
    if (!f) return -1;
    return f->context->seek(f->hf, int64_t(offset), mode) < 0 ? -1 : 0;
}

off_t SysTell(mspack_file* file) {
    auto* f = reinterpret_cast<LayerFile*>(file);
    if (!f) return -1;
    return off_t(f->context->seek(f->hf, 0, MSPACK_SYS_SEEK_CUR));
}

void SysMessage(mspack_file*, const char*, ...) {}

void SysFree(void* p) {
    // libmspack frees without a system pointer; every block it frees came from the context
    // whose callbacks are the program's, so the release callback is reached through the
    // header placed in front of each block.
    if (!p) return;
    auto* header = static_cast<Context**>(p) - 2;
    (*header)->release(header);
}

void SysCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

// libmspack hands its decompressors a copy of our system, so the context cannot be found from
// the pointer an allocation is asked with: the entry points name the context they work for.

struct CurrentContext {
    Context* saved;
    explicit CurrentContext(Context* c) : saved(g_current) { g_current = c; }
    ~CurrentContext() { g_current = saved; }
    CurrentContext(const CurrentContext&) = delete;
    CurrentContext& operator=(const CurrentContext&) = delete;
};

// Allocations go through the caller's allocator with room for the context in front.
void* SysAllocWithHeader(mspack_system*, size_t bytes) {
    if (bytes > UINT32_MAX - 2 * sizeof(Context*)) return nullptr;
    Context* c = g_current;
    if (!c) return nullptr;
    auto* header = static_cast<Context**>(c->alloc(uint32_t(bytes + 2 * sizeof(Context*))));
    if (!header) return nullptr;
    header[0] = c;
    return header + 2;
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// Reads the stored folder index, date, time and attributes of every file entry: libmspack keeps
// a split member's folder as a pointer, and its copy rules need the stored value.
int ReadRawMembers(Context* c, const std::string& path, std::vector<RawMember>& out) {
    out.clear();
    intptr_t hf = c->open(path.c_str(), FDI_O_RDONLY | FDI_O_BINARY, 0);
    if (hf == -1) return FDI_ERROR_CABINET_NOT_FOUND;
    int result = FDI_ERROR_CORRUPT_CABINET;
    uint8_t header[36];
    if (c->read(hf, header, 36) == 36 && std::memcmp(header, "MSCF", 4) == 0) {
        const uint32_t files_offset = Le32(header + 16);
        const uint16_t count = Le16(header + 28);
        if (c->seek(hf, files_offset, 0) == int64_t(files_offset)) {
            std::vector<uint8_t> buffer;
            size_t pos = 0;
            bool eof = false;
            // Makes `need` bytes available from pos; false at the end of the file.
            auto have = [&](size_t need) {
                while (buffer.size() - pos < need && !eof) {
                    buffer.erase(buffer.begin(), buffer.begin() + std::ptrdiff_t(pos));
                    pos = 0;
                    // A first small read: most tables are a few hundred bytes.
                    const uint32_t chunk = buffer.capacity() ? 65536 : 4096;
                    size_t old = buffer.size();
                    buffer.resize(old + chunk);
                    uint32_t n = c->read(hf, buffer.data() + old, chunk);
                    if (n == UINT32_MAX) n = 0;
                    buffer.resize(old + n);
                    eof = n == 0;
                }
                return buffer.size() - pos >= need;
            };
            result = FDI_ERROR_NONE;
            for (uint16_t i = 0; i < count && result == FDI_ERROR_NONE; ++i) {
                if (!have(16)) {
                    result = FDI_ERROR_CORRUPT_CABINET;
                    break;
                }
                const uint8_t* e = buffer.data() + pos;
                out.push_back({Le16(e + 8), Le16(e + 10), Le16(e + 12), Le16(e + 14)});
                pos += 16;
                for (;;) {
                    if (!have(1)) {
                        result = FDI_ERROR_CORRUPT_CABINET;
                        break;
                    }
                    if (buffer[pos++] == 0) break;
                }
            }
        }
    } else {
        result = FDI_ERROR_NOT_A_CABINET;
    }
    c->close(hf);
    return result;
}

int ErrorFromLibrary(int code) {
    switch (code) {
        case MSPACK_ERR_OK: return FDI_ERROR_NONE;
        case MSPACK_ERR_OPEN: return FDI_ERROR_CABINET_NOT_FOUND;
        case MSPACK_ERR_SIGNATURE: return FDI_ERROR_NOT_A_CABINET;
        case MSPACK_ERR_NOMEMORY: return FDI_ERROR_ALLOC_FAIL;
        case MSPACK_ERR_WRITE: return FDI_ERROR_TARGET_FILE;
        case MSPACK_ERR_DECRUNCH:
        case MSPACK_ERR_CHECKSUM: return FDI_ERROR_DECOMPRESSION_FAILED;
        default: return FDI_ERROR_CORRUPT_CABINET;
    }
}

void CloseCached(Context* c) {
    // Closing one cabinet of a set frees the whole set.
    if (c->first) c->decompressor->close(c->decompressor, c->first);
    c->first = nullptr;
    c->chain.clear();
    c->paths.clear();
    c->set_complete = false;
    c->members.clear();
    c->cabinet_path.clear();
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Opens (or reuses) the cabinet at `path`; an FdiErrorCode.
int OpenCabinet(Context* c, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        CloseCached(c);
        return FDI_ERROR_CABINET_NOT_FOUND;
    }
    if (c->first && c->cabinet_path == path && SameFile(st, c->identity)) return FDI_ERROR_NONE;
    CloseCached(c);
    int raw = ReadRawMembers(c, path, c->members);
    if (raw != FDI_ERROR_NONE) return raw;
    c->paths.push_back(path);
    mscabd_cabinet* cab = c->decompressor->open(c->decompressor, c->paths.back().c_str());
    if (!cab) {
        c->paths.clear();
        return ErrorFromLibrary(c->decompressor->last_error(c->decompressor));
    }
    size_t count = 0;
    for (mscabd_file* f = cab->files; f; f = f->next) ++count;
    if (count != c->members.size()) {
        c->decompressor->close(c->decompressor, cab);
        c->members.clear();
        c->paths.clear();
        return FDI_ERROR_CORRUPT_CABINET;
    }
    c->first = cab;
    c->chain.push_back(cab);
    c->cabinet_path = path;
    c->identity = st;
    return FDI_ERROR_NONE;
}

mscabd_file* FileAt(mscabd_cabinet* cab, size_t index) {
    mscabd_file* f = cab->files;
    while (f && index--) f = f->next;
    return f;
}

std::string Joined(const char* folder, const char* name) {
    std::string path = folder ? folder : "";
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

// Cabinet names are MS-DOS names, which match without regard to case: the file in `folder`
// spelt as `name` when there is one, else one that differs from it in case only.
std::string CabinetInFolder(const std::string& folder, const char* name) {
    std::string exact = Joined(folder.c_str(), name);
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0) return exact;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return exact;
    std::string found = exact;
    while (dirent* d = readdir(dir)) {
        if (strcasecmp(d->d_name, name) == 0) {
            found = Joined(folder.c_str(), d->d_name);
            break;
        }
    }
    closedir(dir);
    return found;
}

// Asks for the cabinet after the last one of the set and appends it; an FdiErrorCode.
int AppendNext(Context* c, FdiNotifyFn notify, void* user, const char* cabinet_folder) {
    mscabd_cabinet* tail = c->chain.back();
    if (!(tail->flags & MSCAB_HDR_NEXTCAB) || !tail->nextname) return FDI_ERROR_WRONG_CABINET;
    // The callback may write a folder of up to 255 characters into the buffer; a longer
    // folder of our own caller's is given whole.
    const std::string given = cabinet_folder ? cabinet_folder : "";
    std::vector<char> folder(std::max(kFolderBufferSize, given.size() + 1), 0);
    std::memcpy(folder.data(), given.data(), given.size());
    char empty[1] = {0};
    FdiNotification n{};
    n.psz1 = tail->nextname;
    n.psz2 = tail->nextinfo ? tail->nextinfo : empty;
    n.psz3 = folder.data();
    n.pv = user;
    n.set_id = tail->set_id;
    n.cabinet_index = uint16_t(tail->set_index + 1);
    if (notify(FDI_NOTIFY_NEXT_CABINET, &n) == -1) return FDI_ERROR_USER_ABORT;
    folder.back() = 0;
    c->paths.push_back(CabinetInFolder(folder.data(), tail->nextname));
    mscabd_cabinet* next = c->decompressor->open(c->decompressor, c->paths.back().c_str());
    if (!next) {
        c->paths.pop_back();
        return FDI_ERROR_CABINET_NOT_FOUND;
    }
    if (next->set_id != tail->set_id || c->decompressor->append(c->decompressor, tail, next) != MSPACK_ERR_OK) {
        c->decompressor->close(c->decompressor, next);
        c->paths.pop_back();
        return FDI_ERROR_WRONG_CABINET;
    }
    c->chain.push_back(next);
    return FDI_ERROR_NONE;
}

// Writes member `index` of the first cabinet to the current target; an FdiErrorCode. A
// member whose folder runs on into the next cabinet needs the cabinets after this one, up to
// the one where that folder ends (the first without a member continued on both sides).
int ExtractMember(Context* c, size_t index, FdiNotifyFn notify, void* user, const char* cabinet_folder) {
    const uint16_t folder = c->members[index].folder;
    if ((folder == kContinuedToNext || folder == kContinuedBoth) && !c->set_complete) {
        for (;;) {
            int a = AppendNext(c, notify, user, cabinet_folder);
            if (a != FDI_ERROR_NONE) return a;
            std::vector<RawMember> next;
            if (ReadRawMembers(c, c->paths.back(), next) != FDI_ERROR_NONE) return FDI_ERROR_CORRUPT_CABINET;
            bool runs_on = false;
            for (const RawMember& m : next) runs_on = runs_on || m.folder == kContinuedBoth;
            if (!runs_on) break;
        }
        c->set_complete = true;
    }
    mscabd_file* file = FileAt(c->first, index);
    if (!file) return FDI_ERROR_CORRUPT_CABINET;
    c->written = 0;
    c->write_failed = false;
    int r = c->decompressor->extract(c->decompressor, file, kTargetName);
    if (r == MSPACK_ERR_OK) return FDI_ERROR_NONE;
    return c->write_failed ? FDI_ERROR_TARGET_FILE : ErrorFromLibrary(r);
}

}  // namespace

FDI_EXPORT FdiContext FDICreate(FdiAllocFn alloc, FdiFreeFn release, FdiOpenFn open, FdiReadFn read,
                                FdiWriteFn write, FdiCloseFn close, FdiSeekFn seek, int,
                                FdiErrorRecord* error) {
    if (error) *error = FdiErrorRecord{};
    if (!alloc || !release || !open || !read || !write || !close || !seek) {
        if (error) *error = {FDI_ERROR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    auto* c = new (std::nothrow) Context{};
    if (!c) {
        if (error) *error = {FDI_ERROR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    c->alloc = alloc;
    c->release = release;
    c->open = open;
    c->read = read;
    c->write = write;
    c->close = close;
    c->seek = seek;
    c->error = error;
    mspack_system& s = c->system.system;
    s.open = SysOpen;
    s.close = SysClose;
    s.read = SysRead;
    s.write = SysWrite;
    s.seek = SysSeek;
    s.tell = SysTell;
    s.message = SysMessage;
    s.alloc = SysAllocWithHeader;
    s.free = SysFree;
    s.copy = SysCopy;
    s.null_ptr = nullptr;
    c->system.context = c;
    CurrentContext current(c);
    c->decompressor = mspack_create_cab_decompressor(&s);
    if (!c->decompressor) {
        if (error) *error = {FDI_ERROR_ALLOC_FAIL, 0, 1};
        delete c;
        return nullptr;
    }
    return c;
}

FDI_EXPORT int FDIDestroy(FdiContext context) {
    auto* c = static_cast<Context*>(context);
    if (!c) return 0;
    CurrentContext current(c);
    CloseCached(c);
    mspack_destroy_cab_decompressor(c->decompressor);
    delete c;
    return 1;
}

FDI_EXPORT int FDIIsCabinet(FdiContext context, intptr_t hf, FdiCabinetInfo* info) {
    auto* c = static_cast<Context*>(context);
    if (!c) return 0;
    uint8_t h[36];
    if (c->read(hf, h, 36) != 36 || std::memcmp(h, "MSCF", 4) != 0 || h[25] != 1) {
        SetError(c, FDI_ERROR_NOT_A_CABINET);
        return 0;
    }
    if (info) {
        info->cabinet_size = Le32(h + 8);
        info->folder_count = Le16(h + 26);
        info->file_count = Le16(h + 28);
        const uint16_t flags = Le16(h + 30);
        info->set_id = Le16(h + 32);
        info->cabinet_index = Le16(h + 34);
        info->has_previous = (flags & MSCAB_HDR_PREVCAB) != 0;
        info->has_next = (flags & MSCAB_HDR_NEXTCAB) != 0;
        info->has_reserve = (flags & MSCAB_HDR_RESV) != 0;
    }
    return 1;
}

FDI_EXPORT int FDICopy(FdiContext context, const char* cabinet, const char* cabinet_folder, int,
                       FdiNotifyFn notify, void*, void* user) {
    auto* c = static_cast<Context*>(context);
    if (!c || !cabinet || !notify) return 0;
    CurrentContext current(c);
    SetError(c, FDI_ERROR_NONE);
    const std::string path = Joined(cabinet_folder, cabinet);
    int r = OpenCabinet(c, path);
    if (r != FDI_ERROR_NONE) {
        SetError(c, r);
        return 0;
    }
    mscabd_cabinet* cab = c->first;
    char empty[1] = {0};
    std::string folder = cabinet_folder ? cabinet_folder : "";

    FdiNotification info{};
    info.psz1 = cab->nextname ? cab->nextname : empty;
    info.psz2 = cab->nextinfo ? cab->nextinfo : empty;
    info.psz3 = folder.data();
    info.pv = user;
    info.set_id = cab->set_id;
    info.cabinet_index = cab->set_index;
    if (notify(FDI_NOTIFY_CABINET_INFO, &info) == -1) {
        SetError(c, FDI_ERROR_USER_ABORT);
        return 0;
    }

    const size_t count = c->members.size();
    for (size_t i = 0; i < count; ++i) {
        const RawMember raw = c->members[i];
        mscabd_file* file = FileAt(c->first, i);
        if (!file) {
            SetError(c, FDI_ERROR_CORRUPT_CABINET);
            return 0;
        }
        FdiNotification n{};
        n.psz1 = file->filename;
        n.pv = user;
        n.cb = file->length;
        n.date = raw.date;
        n.time = raw.time;
        n.attribs = raw.attribs;
        n.set_id = cab->set_id;
        n.cabinet_index = cab->set_index;
        n.folder_index = raw.folder;
        n.file_index = uint32_t(i);
        if (raw.folder == kContinuedFromPrevious || raw.folder == kContinuedBoth) {
            n.psz2 = cab->prevname ? cab->prevname : empty;
            n.psz3 = cab->previnfo ? cab->previnfo : empty;
            if (notify(FDI_NOTIFY_PARTIAL_FILE, &n) == -1) {
                SetError(c, FDI_ERROR_USER_ABORT);
                return 0;
            }
            continue;
        }
        intptr_t target = notify(FDI_NOTIFY_COPY_FILE, &n);
        if (target == -1) {
            SetError(c, FDI_ERROR_USER_ABORT);
            return 0;
        }
        if (target == 0) continue;
        c->target = target;
        r = ExtractMember(c, i, notify, user, cabinet_folder);
        c->target = -1;
        if (r != FDI_ERROR_NONE) {
            c->close(target);
            // A failed set is not worth keeping: the next copy starts from a fresh open.
            CloseCached(c);
            SetError(c, r);
            return 0;
        }
        file = FileAt(c->first, i);
        FdiNotification done = n;
        done.psz1 = file ? file->filename : empty;
        done.hf = target;
        done.cb = 0;
        intptr_t answer = notify(FDI_NOTIFY_CLOSE_FILE_INFO, &done);
        if (answer != 1) {
            SetError(c, answer == -1 ? FDI_ERROR_USER_ABORT : FDI_ERROR_TARGET_FILE);
            return 0;
        }
    }
    return 1;
}
