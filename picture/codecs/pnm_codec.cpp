#include "picture/codecs/pnm_codec.h"

#include <vector>

#include "picture/codecs/codec_reader.h"

namespace quorbel {

CPnmFormat::CPnmFormat(Kind kind, const char* short_name, const char* description, const char* filter)
    : CGraphicsFormat(short_name, description, filter), kind_(kind) {}
CPbmFormat::CPbmFormat()
    : CPnmFormat(Kind::Bitmap, "PBM", "Portable Bitmap (PBM)", "PBM - Portable Bitmap (*.pbm)|*.pbm|") {}
CPgmFormat::CPgmFormat()
    : CPnmFormat(Kind::GreyMap, "PGM", "Portable Graymap (PGM)", "PGM - Portable Graymap (*.pgm)|*.pgm|") {}
CPpmFormat::CPpmFormat()
    : CPnmFormat(Kind::PixelMap, "PPM", "Portable Pixelmap (PPM)", "PPM - Portable Pixelmap (*.ppm)|*.ppm|") {}

namespace {

// Byte classes: 1 white space, 2 digit.
struct ByteClasses {
    uint8_t of[256];
    constexpr ByteClasses() : of() {
        for (int c : {' ', '\t', '\r', '\n', '\0', '\v', '\f'}) of[c] = 1;
        for (int c = '0'; c <= '9'; ++c) of[c] = 2;
    }
};
constexpr ByteClasses kClasses{};

bool IsSpace(int c) { return c >= 0 && kClasses.of[c & 255] == 1; }
bool IsDigit(int c) { return unsigned(c - '0') < 10; }

// Skips white space and comments ("#" to the end of the line); the next byte, or -1.
int NextSignificant(CodecReader& in) {
    for (;;) {
        int c = in.Get();
        while (IsSpace(c)) c = in.Get();
        if (c != '#') return c;
        while (c >= 0 && c != '\n' && c != '\r') c = in.Get();
    }
}

// A decimal token; false when there is none or it exceeds `limit`. The byte after the digits is
// left unread.
bool Number(CodecReader& in, uint32_t limit, uint32_t& value) {
    // The common case straight from the buffer: white space, at most 10 digits and the byte
    // after them all there. Anything else (comments, the data's end) takes the slow way.
    if (in.Ensure(32)) {
        const uint8_t* const start = in.Data();
        const uint8_t* const end = start + in.Available();
        const uint8_t* p = start;
        while (p < end && IsSpace(*p)) ++p;
        if (end - p > 11 && IsDigit(*p)) {
            const uint8_t* q = p;
            uint64_t v = 0;
            while (q - p < 10 && IsDigit(*q)) v = v * 10 + uint64_t(*q++ - '0');
            if (!IsDigit(*q)) {
                if (v > limit) return false;
                value = uint32_t(v);
                in.Consume(size_t(q - start));
                return true;
            }
        }
    }
    int c = NextSignificant(in);
    if (!IsDigit(c)) return false;
    uint64_t v = 0;
    while (IsDigit(c)) {
        v = v * 10 + uint64_t(c - '0');
        if (v > limit) return false;
        c = in.Get();
    }
    if (c >= 0) in.Unget();
    value = uint32_t(v);
    return true;
}

// n plain-text samples. Runs of plain numbers separated by white space are read straight from the
// buffer; anything else (a comment, the data's end, a number of many digits) one at a time.
bool PlainSamples(CodecReader& in, uint32_t* out, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (in.Ensure(64)) {
            const uint8_t* const start = in.Data();
            const uint8_t* const end = start + in.Available() - 12;  // room for 10 digits and a byte
            const uint8_t* p = start;
            while (i < n) {
                while (p < end && IsSpace(*p)) ++p;
                if (p >= end || !IsDigit(*p)) break;
                const uint8_t* q = p;
                uint64_t v = 0;
                while (q - p < 10 && IsDigit(*q)) v = v * 10 + uint64_t(*q++ - '0');
                if (IsDigit(*q)) break;
                if (v > 0xFFFFFFFFu) return false;
                out[i++] = uint32_t(v);
                p = q;
            }
            in.Consume(size_t(p - start));
        }
        if (i < n && !Number(in, 0xFFFFFFFFu, out[i++])) return false;
    }
    return true;
}

// A sample scaled from 0..maximum to 0..255 (values above the maximum read as the maximum).
class Scale {
public:
    explicit Scale(uint32_t maximum) : maximum_(maximum) {
        if (maximum <= 255)
            for (uint32_t v = 0; v < 256; ++v) table_[v] = uint8_t(std::min(v, maximum) * 255 / maximum);
    }
    uint8_t operator()(uint32_t v) const {
        if (v >= maximum_) return 255;
        if (maximum_ <= 255) return table_[v];
        return uint8_t(uint64_t(v) * 255 / maximum_);
    }

private:
    uint32_t maximum_;
    uint8_t table_[256] = {};
};

}  // namespace

bool CPnmFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CPnmFormat::Load() {
    CodecReader in(*stream_);
    const int p = in.Get(), digit = in.Get();
    if (p != 'P' || digit < '1' || digit > '6') return false;
    const int magic = digit - '0';
    const bool binary = magic >= 4;
    const Kind kind = (magic == 1 || magic == 4) ? Kind::Bitmap : (magic == 2 || magic == 5) ? Kind::GreyMap : Kind::PixelMap;
    if (kind != kind_) return false;
    // The magic is a token of its own: white space or a comment follows it.
    const int after = in.Get();
    if (!IsSpace(after) && after != '#') return false;
    in.Unget();
    uint32_t width = 0, height = 0, maximum = 1;
    if (!Number(in, 65535, width) || !Number(in, 65535, height)) return false;
    if (kind != Kind::Bitmap && (!Number(in, 65535, maximum) || maximum == 0)) return false;
    if (!PictureSizeAllowed(width, height)) return false;

    width_ = int(width);
    height_ = int(height);
    depth_ = kind == Kind::Bitmap ? 1 : kind == Kind::GreyMap ? 8 : 24;
    info_text_ = kind == Kind::Bitmap    ? "PBM - Portable Bitmap. Palette : Monochrome."
                 : kind == Kind::GreyMap ? "PGM - Portable Graymap. Palette : Grayscale."
                                         : "PPM - Portable Pixel Mal. Palette : True Color.";
    info_text_ += binary ? "Mode : Binary." : "Mode : ASCII.";

    const int channels = kind == Kind::PixelMap ? 3 : 1;
    const size_t sample_bytes = maximum > 255 ? 2 : 1;
    uint64_t row_bytes = kind == Kind::Bitmap ? (uint64_t(width) + 7) / 8 : uint64_t(width) * uint64_t(channels) * sample_bytes;
    if (binary) {
        // One white-space byte ends the header.
        const int c = in.Get();
        if (c >= 0 && !IsSpace(c)) in.Unget();
        if (!PictureDataFits(width, height, row_bytes * height, in.Remaining())) return false;
    } else if (uint64_t(in.Remaining()) < uint64_t(width) * height * uint64_t(channels)) {
        // Every plain sample takes at least one character.
        return false;
    }
    if (!picture_) return true;

    if (!picture_->Create(int(width), int(height))) return false;
    if (kind == Kind::Bitmap) {
        picture_->SetPaletteSize(2);
        picture_->SetPaletteEntry(1, Bgr{255, 255, 255});
    }
    picture_->SetDepth(depth_);
    const Scale scale(maximum);
    ProgressLevel level(*sink_);
    sink_->SetRange(0, height, true);
    std::vector<uint8_t> row(static_cast<size_t>(row_bytes));
    std::vector<uint32_t> samples(binary || kind == Kind::Bitmap ? 0 : size_t(width) * size_t(channels));
    const int w = int(width);
    for (int y = 0; y < int(height); ++y) {
        if (y % 10 == 0 && sink_->SetPos(y, true) == 0) return false;
        uint8_t* d = picture_->Row(y);
        if (binary) {
            if (!in.ReadExact(row.data(), row.size())) return false;
            const uint8_t* s = row.data();
            if (kind == Kind::Bitmap) {
                for (int x = 0; x < w; ++x) {
                    const uint8_t v = (s[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
                    d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = v;
                }
            } else if (sample_bytes == 1) {
                if (channels == 1) {
                    for (int x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = scale(s[x]);
                } else {
                    for (int x = 0; x < w; ++x) {
                        d[3 * x] = scale(s[3 * x + 2]);
                        d[3 * x + 1] = scale(s[3 * x + 1]);
                        d[3 * x + 2] = scale(s[3 * x]);
                    }
                }
            } else {
                auto sample = [&](size_t i) { return scale(uint32_t(s[2 * i] << 8 | s[2 * i + 1])); };
                for (int x = 0; x < w; ++x) {
                    if (channels == 1) {
                        d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = sample(size_t(x));
                    } else {
                        d[3 * x] = sample(3 * size_t(x) + 2);
                        d[3 * x + 1] = sample(3 * size_t(x) + 1);
                        d[3 * x + 2] = sample(3 * size_t(x));
                    }
                }
            }
        } else if (kind == Kind::Bitmap) {
            // Each '0' or '1' is one pixel, with or without white space between them.
            for (int x = 0; x < w; ++x) {
                const int c = NextSignificant(in);
                if (c != '0' && c != '1') return false;
                d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = c == '1' ? 0 : 255;
            }
        } else {
            if (!PlainSamples(in, samples.data(), samples.size())) return false;
            const uint32_t* v = samples.data();
            for (int x = 0; x < w; ++x) {
                if (channels == 1) {
                    d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = scale(v[x]);
                } else {
                    d[3 * x] = scale(v[3 * x + 2]);
                    d[3 * x + 1] = scale(v[3 * x + 1]);
                    d[3 * x + 2] = scale(v[3 * x]);
                }
            }
        }
    }
    return true;
}

}  // namespace quorbel
