// TIFF: the first image of a file in either byte order. Strips uncompressed, LZW (both bit
// packings) or PackBits; RGB (8 or 16 bits per sample, optional alpha, associated or not,
// horizontal differencing) and palette images of 1 to 8 bits; samples interleaved or in
// separate planes; either fill order; all eight orientations. Grey, tiled, CCITT and other
// images are refused with false, so the dispatcher goes on to the next codec.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CTiffFormat : public CGraphicsFormat {
public:
    CTiffFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
