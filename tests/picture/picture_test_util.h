// Helpers of the picture tests: hand-made BMP files, pictures read back from the peer tools'
// PPM output, pixel comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/progress_sink.h"
#include "picture/picture.h"

namespace quorbel::test {

// A BMP file put together field by field (fields left at their defaults make a valid file).
struct BmpLayout {
    int32_t width = 4;
    int32_t height = 3;           // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t header_size = 40;    // 12, 40, 108, 124 ...
    uint32_t colours_used = 0;
    std::vector<uint32_t> table;  // 0x00RRGGBB entries (written 3 or 4 bytes each)
    std::vector<uint32_t> masks;  // written after a 40-byte header, or inside a larger one
    std::string pixels;           // the rows exactly as stored
    int64_t bits_offset = -1;     // -1: right after the table
};
std::string MakeBmp(const BmpLayout& layout);

// The bytes of a P6 (or P5) file as a picture; empty picture when they are not one.
bool PictureFromPpm(const std::string& bytes, CPicture& picture);
// Runs ImageMagick's convert on `path` and reads its PPM output; false when it fails.
bool PictureFromConvert(const std::string& path, CPicture& picture);
// Largest per-channel difference, or 256 when the sizes differ.
int MaxDifference(const CPicture& a, const CPicture& b);
// A picture of the given size whose pixels follow (x, y) so any misplaced pixel shows.
void FillPattern(CPicture& picture, int width, int height);

// A sink that cancels at its n-th position report (the decoders report along the rows),
// counting the reports.
class CancelAfter : public ProgressSink {
public:
    explicit CancelAfter(int n) : n_(n) {}
    int SetPos(int64_t position, bool redraw) override {
        if (++calls >= n_) RequestCancel();
        return ProgressSink::SetPos(position, redraw);
    }
    int calls = 0;

private:
    int n_;
};

}  // namespace quorbel::test
