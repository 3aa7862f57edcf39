// Windows and OS/2 bitmaps: BMP, DIB (with or without the file header), RLE4/RLE8, OS/2 1.x
// and 2.x headers, V4/V5 headers, bit-field masks, top-down rows; and the 24-bit writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "core/progress_sink.h"
#include "picture/graphics_format.h"

namespace quorbel {

// What the header reader found: the info header widened to the Windows fields, the colour
// table as 4-byte entries, and where the pixels begin.
struct BmpHeaders {
    uint32_t header_size = 0;    // as stored (12, 16..64 for OS/2 2.x, 40, 52, 56, 108, 124)
    int64_t width = 0;
    int64_t height = 0;          // always positive; top_down says the row order
    bool top_down = false;
    uint16_t planes = 0;
    uint16_t bit_count = 0;
    uint32_t compression = 0;    // 0 none, 1 RLE8, 2 RLE4, 3 bit fields, 6 alpha bit fields
    uint32_t image_size = 0;
    uint32_t colours_used = 0;   // never more than 2^bit_count
    uint32_t masks[4] = {};      // red, green, blue, alpha (bit fields)
    bool has_file_header = false;
    bool os2 = false;            // 3-byte colour table entries
    int64_t bits_offset = 0;     // from the start of the data (file header included)
    std::vector<Bgr> colour_table;
};

// Reads the file header (when "BM" is there; otherwise a header-less DIB from the current
// position) and the info header with its colour table and masks. False on foreign or
// impossible headers. The stream is left at the first byte of the pixel data.
bool ReadBmpHeaders(DataStream& stream, BmpHeaders& headers);

class CBmpFormat : public CGraphicsFormat {
public:
    CBmpFormat(const char* short_name, const char* description, const char* filter)
        : CGraphicsFormat(short_name, description, filter) {}
    bool Load() override;
    bool ReadInfo() override;
};

// The four registry rows the codec serves.
class CBmpBmpFormat : public CBmpFormat {
public:
    CBmpBmpFormat();
};
class CBmpRleFormat : public CBmpFormat {
public:
    CBmpRleFormat();
};
class CBmpOs2Format : public CBmpFormat {
public:
    CBmpOs2Format();
};
class CBmpDibFormat : public CBmpFormat {
public:
    CBmpDibFormat();
};

// Writes the picture as an uncompressed 24-bit BMP into any stream (rows as they lie in the
// picture's block); false when a write comes up short.
bool WriteBmp24(DataStream& stream, const CPicture& picture, ProgressSink* sink);

}  // namespace quorbel
