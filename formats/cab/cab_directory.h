// The cabinet header and file table, read by the program itself for the listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/data_stream.h"

namespace quorbel::cab {

inline constexpr uint32_t kSignature = 0x4643534D;  // "MSCF"
inline constexpr uint16_t kVersion = 0x0103;
inline constexpr uint16_t kFlagPrevious = 0x0001, kFlagNext = 0x0002, kFlagReserve = 0x0004;
inline constexpr uint16_t kFolderFromPrevious = 0xFFFD;
inline constexpr uint16_t kFolderToNext = 0xFFFE;
inline constexpr uint16_t kFolderFromPreviousToNext = 0xFFFF;
inline constexpr uint16_t kAttrNameIsUtf8 = 0x80;
inline constexpr uint16_t kAttrFolder = 0x10;

struct CabMember {
    std::string raw_name;  // the stored bytes, kept for matching the library's copy
    uint32_t size = 0;
    uint16_t folder = 0, date = 0, time = 0, attribs = 0;
    uint32_t index = 0;  // position in the file table
    // Its data begins in the previous cabinet: it is listed (and extracted) with that one.
    bool FromPrevious() const { return folder == kFolderFromPrevious || folder == kFolderFromPreviousToNext; }
    // The name shown: UTF-8 when the member says so, else the DOS code page 437.
    std::string DisplayName() const;
};

struct CabDirectory {
    uint32_t cabinet_size = 0;
    uint16_t flags = 0, set_id = 0, number_in_set = 0;
    std::string previous_name = "<none>", previous_disk, next_name = "<none>", next_disk;
    int64_t first_data = -1;  // the first folder's first data block, when it lies in the file
    std::vector<CabMember> members;
    bool table_cut = false;  // the table ended before its last entry
};

enum class CabReadResult { kOk, kNotCabinet, kDamaged };

// Reads the header (checked: signature, version 1.3, folders and files present, the file
// table's offset inside the file) and the file table up to the first data block or the end of
// the file, whichever comes first; a table cut short keeps the members before the cut.
CabReadResult ReadCabDirectory(DataStream& stream, CabDirectory& out);

// A next-cabinet name usable beside the cabinet: a bare file name, nothing that names a folder.
bool IsBareCabinetName(const std::string& name);

// The path of cabinet `name` in `folder` (ending in '/'): spelt as given when such a file is
// there, else a file whose name differs only in case (cabinet names are MS-DOS names); empty
// when there is neither.
std::string FindCabinetInFolder(const std::string& folder, const std::string& name);

}  // namespace quorbel::cab
