// Windows clipboard files (CLP) that hold one device-independent bitmap: the packed bitmap at
// the offset the format entry gives, decoded by CPicture::FromPackedDib.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CClpFormat : public CGraphicsFormat {
public:
    CClpFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
