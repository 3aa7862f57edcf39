// Truevision Targa: colour-mapped (8-bit indexes) and true-colour (15, 16, 24, 32 bits)
// pictures, raw or run-length packed, in any of the four row and pixel orders.
#pragma once

#include <cstdint>

#include "picture/graphics_format.h"

namespace quorbel {

class CTgaFormat : public CGraphicsFormat {
public:
    CTgaFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
