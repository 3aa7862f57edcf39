// GIF pictures (87a and 89a): the first image of the file, its colour table, interlaced rows,
// and an alpha plane when a graphic control extension names a transparent colour.
#pragma once

#include "picture/graphics_format.h"

namespace quorbel {

class CGifFormat : public CGraphicsFormat {
public:
    CGifFormat();
    bool Load() override;
    bool ReadInfo() override;
    // After a Load: whether another image followed the first one.
    bool MoreImages() const { return more_images_; }

private:
    bool more_images_ = false;
};

}  // namespace quorbel
