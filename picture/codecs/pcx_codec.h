// ZSoft PCX: run-length scan lines of one to four planes; monochrome, 4 to 16 colours from the
// header palette, 256 colours from the palette at the end of the file, 24-bit colour as three
// planes of 8 bits.
#pragma once

#include <cstdint>

#include "picture/graphics_format.h"

namespace quorbel {

// What the 128-byte header says, after every check.
struct PcxHeader {
    int version = 0;
    int bits = 0;            // bits per pixel per plane
    int planes = 0;
    int bytes_per_line = 0;  // per plane
    int width = 0, height = 0;
    uint8_t palette[48] = {};
    bool true_colour = false;   // three planes of 8 bits
    int palette_entries = 0;    // 0 for true colour
    bool palette_at_end = false;  // more than 16 entries: the 769 bytes at the end of the file
};

// Reads and checks the header from the start of the stream; false on anything this codec does
// not read. The stream is left just after the header.
bool ReadPcxHeader(DataStream& stream, PcxHeader& header);

class CPcxFormat : public CGraphicsFormat {
public:
    CPcxFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
