// One member of an archive, with the texts the archive views show.
//
// An open archive may hold hundreds of thousands of entries, so an entry keeps numbers, not
// texts: the column texts are made on demand from the numbers, the date texts are shared by
// every member of the same time, and the format's own record lies in its handler's store.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace quorbel {

// The two texts of one time value; a handler keeps one per distinct time and never moves it.
struct DateTexts {
    std::string short_text;  // short date and time
    std::string long_text;   // long date and time
};

struct ArchiveEntry {
    std::string full_name;        // path inside the archive, '\' separated
    std::string comment;
    std::string source_path;      // disk file the next Save stores (pending add)
    const DateTexts* dates = nullptr;  // owned by the handler that filled the entry
    std::time_t time = 0;
    int64_t crc = -1;             // stored CRC-32, -1 when the format has none
    int64_t header_offset = -1;   // where the format's own record of this member starts
    int64_t packed = -1;          // -1 when not known
    int64_t unpacked = -1;
    uint64_t record_pos = 0;      // the format's own record (ZIP: central record) in the
    uint32_t record_size = 0;     //   handler's store: ArchiveHandler::FormatHeader
    uint32_t name_offset = 0;     // where the file-name part begins in full_name
    uint32_t attributes = 0;      // DOS attribute bits
    uint32_t unix_mode = 0;       // permission bits stored by a Unix archiver, 0 when none
    uint32_t disk_number = 0;     // disk of a multi-disk set that holds that record
    int32_t type_index = -1;      // row of the program-wide type cache
    int32_t ratio = 0;
    int32_t thumbnail_index = -1, picture_width = 0, picture_height = 0;
    int16_t picture_bits = 0;
    int8_t picture_state = 2;     // 2 not yet examined, 1 picture, 0 not a picture
    bool allocated = false;       // slot filled by SetEntry
    bool is_file = true;
    bool is_setup = false;
    bool encrypted = false;

    std::string_view NamePart() const { return std::string_view(full_name).substr(name_offset); }
    // Folder part of full_name ("" at the top level).
    std::string_view Folder() const {
        return std::string_view(full_name).substr(0, name_offset ? name_offset - 1 : 0);
    }
    const std::string& TypeText() const;

    // The column texts of a file member; a folder entry and an empty slot show none.
    std::string SizeText() const;        // "1,234" or "?"
    std::string SizeShortText() const;   // "1.2 Kb" or "?"
    std::string PackedText() const;
    std::string PackedShortText() const;
    std::string RatioText() const;       // "%d%%" or "?"
    std::string CrcText() const;         // "%X" or "?"
    std::string AttributeText() const;   // "RAHS" letters
    const std::string& DateText() const;      // short date and time
    const std::string& LongDateText() const;  // long date and time

private:
    bool HasTexts() const { return allocated && is_file; }
};

}  // namespace quorbel
