// The binding to the cabinet library (libquorbel-cabinet.so), loaded by name once per run, and
// the file and memory callbacks the CAB handler gives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/cab/fdi/fdi.h"

namespace quorbel::cab {

inline constexpr const char* kCabinetLibraryName = "libquorbel-cabinet.so";

struct CabinetEntryPoints {
    FdiCreateFn create = nullptr;
    FdiCopyFn copy = nullptr;
    FdiIsCabinetFn is_cabinet = nullptr;
    FdiDestroyFn destroy = nullptr;
};

// The places the library is looked for, in order: $QUORBEL_CABINET_LIBRARY alone when it is
// set; else beside the program (an installation puts it there), in ../lib next to the
// program's folder (the build tree), and last by its bare name (the loader's own search).
std::vector<std::string> CabinetLibraryCandidates();

// Loads the library on first use; once loaded it stays for the run. False with `why` (the
// loader's reason) when it cannot be loaded or lacks an entry point; a later call tries again.
bool BindCabinetLibrary(CabinetEntryPoints& out, std::string& why);

// Programs that link the layer in (the fuzz targets) hand its entry points over instead.
void UseLinkedCabinetLayer(const CabinetEntryPoints& entry_points);

// The text of an error record's operation code.
std::string CabinetErrorText(int oper);

// --- the callbacks handed to FDICreate ---

// A handle the callbacks understand: an open file, or a memory block a member is written into.
struct CabHandle {
    int fd = -1;
    std::string delete_on_close;  // the file's path when it goes away on close
    // The memory target: writes land in [data, data + capacity), which grows (up to limit) as
    // data arrives; size is the highest end written.
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t limit = 0;
    size_t size = 0;
    size_t position = 0;
    // A file target: the caller's open file, written up to `limit` bytes and left open on close;
    // a failed write (not one past the limit) is told through *write_failed.
    bool borrowed = false;
    bool* write_failed = nullptr;
    // A file opened for reading only: positioned reads through a page-sized buffer, since the
    // library reads headers a few bytes at a time with a seek between most of them.
    bool read_only = false;
    int64_t offset = 0;
    std::unique_ptr<uint8_t[]> buffer;
    int64_t buffer_start = 0;
    size_t buffer_length = 0;
};

void* AllocCallback(uint32_t size);
void FreeCallback(void* block);
// POSIX open from the library's flags (FdiOpenFlag) and mode (FDI_S_IWRITE: writable).
intptr_t OpenCallback(const char* name, int flags, int mode);
uint32_t ReadCallback(intptr_t hf, void* buffer, uint32_t count);
uint32_t WriteCallback(intptr_t hf, const void* buffer, uint32_t count);
int CloseCallback(intptr_t hf);
int64_t SeekCallback(intptr_t hf, int64_t distance, int origin);

// A handle over a memory block of its own, `initial` bytes to begin with, that grows as
// writes need up to `limit` bytes (never more). Close frees what was not taken.
intptr_t OpenMemoryTarget(size_t initial, size_t limit);
// A handle over the caller's open file `fd` that takes at most `limit` bytes; close leaves the
// file open. WrittenSize tells how far writes reached; *write_failed is set when the file
// refused a write (the disk is full), so that it is not taken for damage in the cabinet.
intptr_t OpenFileTarget(int fd, size_t limit, bool* write_failed);
size_t WrittenSize(intptr_t hf);
// Takes the memory target's block (malloc'd; the caller frees it) and its size written.
uint8_t* TakeMemory(intptr_t hf, size_t& size);

}  // namespace quorbel::cab
