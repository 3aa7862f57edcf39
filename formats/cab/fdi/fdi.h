// The cabinet decompression interface the CAB handler drives: a context made with FDICreate
// from the caller's memory and file callbacks, FDICopy walking one cabinet (and, for a member
// that spans, the cabinets after it) with a notification per member, FDIIsCabinet and
// FDIDestroy. Built as the shared library libquorbel-cabinet.so over libmspack and looked up
// by name at run time, so the program runs (without CAB extraction) where it is missing.
// Plain C types only: the entry points are found with dlsym.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What went wrong, in the error record FDICreate is given (code in `oper`).
enum FdiErrorCode {
    FDI_ERROR_NONE = 0,
    FDI_ERROR_CABINET_NOT_FOUND = 1,
    FDI_ERROR_NOT_A_CABINET = 2,
    FDI_ERROR_UNKNOWN_CABINET_VERSION = 3,
    FDI_ERROR_CORRUPT_CABINET = 4,
    FDI_ERROR_ALLOC_FAIL = 5,
    FDI_ERROR_BAD_COMPRESSION_TYPE = 6,
    FDI_ERROR_DECOMPRESSION_FAILED = 7,
    FDI_ERROR_TARGET_FILE = 8,
    FDI_ERROR_RESERVE_MISMATCH = 9,
    FDI_ERROR_WRONG_CABINET = 10,
    FDI_ERROR_USER_ABORT = 11,
};

typedef struct FdiErrorRecord {
    int oper;   // an FdiErrorCode
    int type;   // the underlying library's own error number, 0 when none
    int error;  // 1 while an error is recorded
} FdiErrorRecord;

// Notifications, in the order FDICopy sends them.
enum FdiNotificationType {
    FDI_NOTIFY_CABINET_INFO = 0,   // psz1 next cabinet, psz2 its disk, psz3 cabinet folder
    FDI_NOTIFY_PARTIAL_FILE = 1,   // a member continued from the previous cabinet (not copied)
    FDI_NOTIFY_COPY_FILE = 2,      // psz1 name, cb size: answer a target handle, 0 skip, -1 abort
    FDI_NOTIFY_CLOSE_FILE_INFO = 3,  // the member is written to hf: close it; answer 1 (or -1)
    FDI_NOTIFY_NEXT_CABINET = 4,   // psz1 next cabinet's name, psz2 its disk, psz3 the folder to
                                   // look in (a 256-byte buffer the callback may change)
};

typedef struct FdiNotification {
    int64_t cb;       // a member's uncompressed size
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;         // the caller's user data given to FDICopy
    intptr_t hf;      // the target handle (close-file notification)
    uint16_t date;    // MS-DOS date, time and attributes of the member
    uint16_t time;
    uint16_t attribs;
    uint16_t set_id;
    uint16_t cabinet_index;
    uint16_t folder_index;  // the member's folder index as stored (0xFFFD..0xFFFF: split)
    int fdie;               // an FdiErrorCode on a repeated next-cabinet notification
    uint32_t file_index;    // the member's position in the cabinet's file table
} FdiNotification;

typedef struct FdiCabinetInfo {
    int64_t cabinet_size;
    uint16_t folder_count;
    uint16_t file_count;
    uint16_t set_id;
    uint16_t cabinet_index;
    int has_reserve;
    int has_previous;
    int has_next;
} FdiCabinetInfo;

// Open flags of the open callback (the MS-DOS C library's values).
enum FdiOpenFlag {
    FDI_O_RDONLY = 0x0000,
    FDI_O_WRONLY = 0x0001,
    FDI_O_RDWR = 0x0002,
    FDI_O_APPEND = 0x0008,
    FDI_O_RANDOM = 0x0010,
    FDI_O_SEQUENTIAL = 0x0020,
    FDI_O_TEMPORARY = 0x0040,
    FDI_O_CREAT = 0x0100,
    FDI_O_TRUNC = 0x0200,
    FDI_O_EXCL = 0x0400,
    FDI_O_SHORT_LIVED = 0x1000,
    FDI_O_BINARY = 0x8000,
};
enum { FDI_S_IWRITE = 0x0080, FDI_S_IREAD = 0x0100 };

typedef void* (*FdiAllocFn)(uint32_t size);
typedef void (*FdiFreeFn)(void* block);
typedef intptr_t (*FdiOpenFn)(const char* name, int flags, int mode);   // -1 on failure
typedef uint32_t (*FdiReadFn)(intptr_t hf, void* buffer, uint32_t count);  // UINT32_MAX: failure
typedef uint32_t (*FdiWriteFn)(intptr_t hf, const void* buffer, uint32_t count);
typedef int (*FdiCloseFn)(intptr_t hf);                                 // 0 or -1
typedef int64_t (*FdiSeekFn)(intptr_t hf, int64_t distance, int origin);  // new position or -1
typedef intptr_t (*FdiNotifyFn)(int type, FdiNotification* notification);

typedef void* FdiContext;

typedef FdiContext (*FdiCreateFn)(FdiAllocFn, FdiFreeFn, FdiOpenFn, FdiReadFn, FdiWriteFn,
                                  FdiCloseFn, FdiSeekFn, int cpu_type, FdiErrorRecord* error);
typedef int (*FdiCopyFn)(FdiContext context, const char* cabinet, const char* cabinet_folder,
                         int flags, FdiNotifyFn notify, void* decrypt, void* user);
typedef int (*FdiIsCabinetFn)(FdiContext context, intptr_t hf, FdiCabinetInfo* info);
typedef int (*FdiDestroyFn)(FdiContext context);

// The exported entry points (declared for the library itself and for programs that link the
// layer in directly).
FdiContext FDICreate(FdiAllocFn alloc, FdiFreeFn release, FdiOpenFn open, FdiReadFn read,
                     FdiWriteFn write, FdiCloseFn close, FdiSeekFn seek, int cpu_type,
                     FdiErrorRecord* error);
// 1 when every member whose copy was asked for was written whole and closed; 0 with the error
// record set otherwise (a target handle already handed out is closed through the close callback).
int FDICopy(FdiContext context, const char* cabinet, const char* cabinet_folder, int flags,
            FdiNotifyFn notify, void* decrypt, void* user);
// 1 when hf (read from its current position) starts a cabinet; fills `info`.
int FDIIsCabinet(FdiContext context, intptr_t hf, FdiCabinetInfo* info);
int FDIDestroy(FdiContext context);

#ifdef __cplusplus
}
#endif
