// The portable anymaps: bitmaps (P1, P4), grey maps (P2, P5) and pixel maps (P3, P6), plain text
// or binary, samples of one or two bytes. One class serves the three registry rows; each
// instance accepts only its own kind.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CPnmFormat : public CGraphicsFormat {
public:
    enum class Kind { Bitmap, GreyMap, PixelMap };
    CPnmFormat(Kind kind, const char* short_name, const char* description, const char* filter);
    bool Load() override;
    bool ReadInfo() override;

private:
    Kind kind_;
};

class CPbmFormat : public CPnmFormat {
public:
    CPbmFormat();
};
class CPgmFormat : public CPnmFormat {
public:
    CPgmFormat();
};
class CPpmFormat : public CPnmFormat {
public:
    CPpmFormat();
};

}  // namespace quorbel
