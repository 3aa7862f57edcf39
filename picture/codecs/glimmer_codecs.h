// The two picture formats of the Glimmer sprite and composition tool, as this program defines
// them (README, "Glimmer pictures"):
//   GLC  "KESTRA-GLC" composition: a canvas of 24-bit pixels, stored as rows of run-length
//        packets.
//   GLS  "KESTRA-GLS" sprite: a palette of up to 256 colours and one index byte per pixel, with
//        an optional transparent index that becomes the alpha plane.
// Anything that does not begin with the signature is refused without an exception.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/graphics_format.h"

namespace quorbel {

class CGlcFormat : public CGraphicsFormat {
public:
    CGlcFormat();
    bool Load() override;
    bool ReadInfo() override;
};

class CGlsFormat : public CGraphicsFormat {
public:
    CGlsFormat();
    bool Load() override;
    bool ReadInfo() override;
};

// Writers of the two formats (tests, fixtures and the sample archive).
std::vector<uint8_t> EncodeGlc(const CPicture& picture);
// Colours are taken from the pixels (at most 256 distinct, else empty result); pixels whose
// alpha is 0 use the transparent index.
std::vector<uint8_t> EncodeGls(const CPicture& picture);

}  // namespace quorbel
