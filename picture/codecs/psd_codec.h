// The merged image of a layered-image file ("8BPS", version 1) in grey, duotone, indexed and RGB
// modes, 8 or 16 bits per channel (16-bit samples contribute their high byte), uncompressed or
// run-length coded; a fourth RGB channel becomes the alpha plane. Layers, resources and the
// colour data of other modes are skipped. Failures are false results.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CPsdFormat : public CGraphicsFormat {
public:
    CPsdFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
