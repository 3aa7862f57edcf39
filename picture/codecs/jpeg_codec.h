// JPEG (ITU T.81 interchange format): sequential and progressive Huffman processes, 8-bit
// samples, one (grey) or three (YCbCr, or RGB) components, restart intervals. Decoding at 1/2,
// 1/4 and 1/8 of the size serves thumbnails; chroma is upsampled by a triangle filter for
// display or by repetition where speed matters more than invisible detail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/progress_sink.h"
#include "picture/graphics_format.h"
#include "picture/picture.h"

namespace quorbel {

struct JpegOptions {
    // 1, 2, 4 or 8: the picture is decoded at 1/scale of its size (sides rounded up).
    int scale = 1;
    // Triangle filter for 2:1 chroma; false repeats every chroma sample.
    bool fancy_upsampling = true;
    // Refuse component identifiers other than 1 (grey) and 1, 2, 3 (colour).
    bool strict_component_ids = false;
};

// What the frame header said.
struct JpegHeader {
    int width = -1, height = -1, depth = -1;
    int components = 0;
    bool progressive = false;
};

// Decodes a whole JPEG held in memory. With `picture` null only the frame header is read (and
// false returned when there is none). Throws the EJpeg* exceptions (texts at the throw sites);
// a cancelled sink throws EJpegAbort.
bool DecodeJpeg(const uint8_t* data, size_t size, CPicture* picture, ProgressSink& sink,
                const JpegOptions& options, JpegHeader* header = nullptr);

// The largest reduction (8, 4, 2 or 1) whose picture still has at least min_width x min_height
// pixels (or all of the picture's, when it is smaller).
int JpegScaleFor(int width, int height, int min_width, int min_height);

// The "JPG" registry row.
class CJpegFormat : public CGraphicsFormat {
public:
    CJpegFormat();
    // Signature FF D8 FF, then the whole stream decoded; false on any failure.
    bool Load() override;
    // The frame header only: width, height, depth = components x 8, the information text.
    bool ReadInfo() override;

    void SetOptions(const JpegOptions& options) { options_ = options; }
    const JpegOptions& Options() const { return options_; }
    // The text of the last failure ("" after a success): what the tests check.
    const std::string& LastError() const { return last_error_; }

private:
    bool ReadAll(std::string& bytes, const uint8_t*& data, size_t& size);

    JpegOptions options_;
    std::string last_error_;
};

}  // namespace quorbel
