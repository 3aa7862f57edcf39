// PNG pictures: every colour type and bit depth, Adam7 interlacing, grey palettes for grey
// images, an alpha plane for grey+alpha and RGBA; the checksum of every chunk is verified.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CPngFormat : public CGraphicsFormat {
public:
    CPngFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
