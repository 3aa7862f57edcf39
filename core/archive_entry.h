// One member of an archive, with the texts the archive views show.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace quorbel {

struct ArchiveEntry {
    bool allocated = false;       // slot filled by SetEntry
    std::string full_name;        // path inside the archive, '\' separated
    std::string folder;           // folder part of full_name ("" at the top level)
    std::string size_text;        // "1,234" or "?"
    std::string size_short_text;  // "1.2 Kb" or "?"
    std::string date_text;        // short date and time
    std::string long_date_text;   // long date and time
    std::string ratio_text;       // "%d%%" or "?"
    std::string packed_text;
    std::string packed_short_text;
    std::string crc_text;         // "%X" or "?"
    std::string attribute_text;   // "RAHS" letters
    std::string comment;
    std::time_t time = 0;
    size_t name_offset = 0;       // where the file-name part begins in full_name
    int type_index = -1;          // row of the program-wide type cache
    bool is_file = true;
    bool is_setup = false;
    bool encrypted = false;
    int picture_state = 2;        // 2 not yet examined, 1 picture, 0 not a picture
    int thumbnail_index = -1, picture_width = 0, picture_height = 0, picture_bits = 0;
    std::string source_path;      // disk file the next Save stores (pending add)
    int ratio = 0;
    uint32_t attributes = 0;      // DOS attribute bits
    uint32_t unix_mode = 0;       // permission bits stored by a Unix archiver, 0 when none
    int64_t crc = -1;             // stored CRC-32, -1 when the format has none
    std::vector<uint8_t> format_header;  // the format's own record (ZIP: central record)
    int64_t header_offset = -1;   // where the format's own record of this member starts
    uint32_t disk_number = 0;     // disk of a multi-disk set that holds that record
    int64_t packed = -1;          // -1 when not known
    int64_t unpacked = -1;

    std::string_view NamePart() const { return std::string_view(full_name).substr(name_offset); }
    const std::string& TypeText() const;
};

}  // namespace quorbel
