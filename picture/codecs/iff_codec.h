// IFF interleaved bitmaps (FORM ILBM, the .iff and .lbm files of the Amiga and of Deluxe Paint):
// 1 to 8 bit planes of palette indexes, hold-and-modify and extra-half-brite pictures, 24 planes
// of true colour; raw or ByteRun1 rows.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CIffFormat : public CGraphicsFormat {
public:
    CIffFormat();
    bool Load() override;
    bool ReadInfo() override;

protected:
    CIffFormat(const char* short_name, const char* description, const char* filter)
        : CGraphicsFormat(short_name, description, filter) {}
};

class CLbmFormat : public CIffFormat {
public:
    CLbmFormat();
};

}  // namespace quorbel
