// Dr. Halo CUT: run-length rows of 8-bit palette indexes; the palette lives in a companion
// ".pal" file beside the picture (a grey ramp without one).
#pragma once

#include <string>

#include "picture/graphics_format.h"

namespace quorbel {

class CHaloFormat : public CGraphicsFormat {
public:
    CHaloFormat();
    bool Load() override;
    bool ReadInfo() override;

private:
    bool DecodeRows(bool write);
};

// The companion palette file of a picture: its name with the extension replaced by ".pal" in
// any case (".pal", ".PAL", ".Pal" ...); empty when there is none.
std::string FindHaloPalette(const std::string& picture_path);
// Reads a palette file's 256 entries (at most the bytes they take); false when the file is not
// one, and then `entries` is untouched.
bool ReadHaloPalette(const std::string& path, Bgr (&entries)[256]);

}  // namespace quorbel
