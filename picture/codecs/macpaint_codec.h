// MacPaint: a 512-byte header and 720 PackBits rows of 576 one-bit pixels.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CMacPaintFormat : public CGraphicsFormat {
public:
    static constexpr int kWidth = 576, kHeight = 720, kRowBytes = 72, kHeaderSize = 512;
    // The largest file: the header and 720 rows that did not pack (a control byte and 72 bytes).
    static constexpr int64_t kLargestFile = kHeaderSize + int64_t(kHeight) * (kRowBytes + 1);

    CMacPaintFormat();
    bool Load() override;
    bool ReadInfo() override;
};

}  // namespace quorbel
