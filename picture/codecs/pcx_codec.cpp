#include "picture/codecs/pcx_codec.h"

#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/codec_reader.h"

namespace quorbel {

CPcxFormat::CPcxFormat() : CGraphicsFormat("PCX", "Zsoft PaintBrush (PCX)", "PCX - Zsoft PaintBrush (*.pcx)|*.pcx|") {}

namespace {

constexpr int kHeaderSize = 128;
constexpr int kTrailerSize = 769;  // marker 12 and 256 x (red, green, blue)
constexpr uint8_t kTrailerMarker = 12;

// The 769 bytes at the end of the file; the stream position is restored.
bool ReadTrailer(DataStream& stream, uint8_t* trailer) {
    const int64_t here = stream.Tell();
    const int64_t size = stream.Size();
    if (here < 0 || size < kHeaderSize + kTrailerSize) return false;
    const bool ok = stream.Seek(size - kTrailerSize, DataStream::Origin::Start) == size - kTrailerSize &&
                    stream.Read(trailer, kTrailerSize) == size_t(kTrailerSize) && trailer[0] == kTrailerMarker;
    return stream.Seek(here, DataStream::Origin::Start) == here && ok;
}

void Put(uint8_t* row, int x, Bgr c) {
    row[3 * x] = c.b;
    row[3 * x + 1] = c.g;
    row[3 * x + 2] = c.r;
}

}  // namespace

bool ReadPcxHeader(DataStream& stream, PcxHeader& h) {
    h = PcxHeader();
    uint8_t raw[kHeaderSize];
    if (stream.Read(raw, kHeaderSize) != size_t(kHeaderSize)) return false;
    if (raw[0] != 10 || raw[2] != 1 || raw[64] != 0) return false;
    h.version = raw[1];
    h.bits = raw[3];
    const int xmin = Le16(raw + 4), ymin = Le16(raw + 6), xmax = Le16(raw + 8), ymax = Le16(raw + 10);
    std::memcpy(h.palette, raw + 16, 48);
    h.planes = raw[65];
    h.bytes_per_line = Le16(raw + 66);
    if (xmax < xmin || ymax < ymin) return false;
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;
    if (!PictureSizeAllowed(h.width, h.height)) return false;
    const int depth = h.planes * h.bits;
    switch (h.version) {
    case 0:
        if (depth != 1) return false;
        h.palette_entries = 2;
        break;
    case 2:
        if (depth != 4) return false;
        h.palette_entries = 16;
        break;
    case 5:
        if (h.planes == 1) {
            if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8) return false;
            h.palette_entries = 1 << h.bits;
        } else if (h.planes == 3 && h.bits == 8) {
            h.true_colour = true;
        } else {
            // Several planes of indexes; three planes of one bit are an 8-colour picture. More
            // than 8 bits of index would need a palette no PCX file holds.
            if (h.planes < 1 || h.bits < 1 || depth > 8) return false;
            h.palette_entries = 1 << depth;
        }
        break;
    default:
        return false;
    }
    // Every plane's scan line must hold its share of the width.
    if (h.bytes_per_line < 1 || uint64_t(h.bytes_per_line) * 8 < uint64_t(h.width) * uint64_t(h.bits)) return false;
    if (h.palette_entries > 16) {
        uint8_t trailer[kTrailerSize];
        if (!ReadTrailer(stream, trailer)) return false;
        h.palette_at_end = true;
    }
    return true;
}

bool CPcxFormat::ReadInfo() {
    PcxHeader h;
    if (!ReadPcxHeader(*stream_, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = h.planes * h.bits;
    info_text_ = "Zsoft PaintBrush (PCX)";
    return true;
}

bool CPcxFormat::Load() {
    PcxHeader h;
    if (!ReadPcxHeader(*stream_, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = h.planes * h.bits;
    info_text_ = "Zsoft PaintBrush (PCX)";
    if (!picture_) return true;
    if (!picture_->Create(h.width, h.height)) return false;

    PaletteLookup lookup;
    if (h.palette_entries > 0) {
        picture_->SetPaletteSize(h.palette_entries);
        std::vector<Bgr> colours(size_t(h.palette_entries));
        if (h.version == 0) {
            colours[1] = Bgr{255, 255, 255};
        } else if (h.palette_at_end) {
            uint8_t trailer[kTrailerSize];
            if (!ReadTrailer(*stream_, trailer)) return false;
            for (int i = 0; i < h.palette_entries; ++i)
                colours[size_t(i)] = Bgr{trailer[1 + 3 * i + 2], trailer[1 + 3 * i + 1], trailer[1 + 3 * i]};
        } else {
            for (int i = 0; i < h.palette_entries; ++i)
                colours[size_t(i)] = Bgr{h.palette[3 * i + 2], h.palette[3 * i + 1], h.palette[3 * i]};
        }
        for (int i = 0; i < h.palette_entries; ++i) {
            picture_->SetPaletteEntry(i, colours[size_t(i)]);
            lookup.Set(unsigned(i), colours[size_t(i)]);
        }
    }
    picture_->SetDepth(h.planes * h.bits);

    ProgressLevel level(*sink_);
    sink_->SetRange(0, h.height, true);
    CodecReader in(*stream_);
    const size_t bpl = size_t(h.bytes_per_line);
    const size_t line_size = size_t(h.planes) * bpl;
    std::vector<uint8_t> line(line_size);
    const int width = h.width;
    for (int y = 0; y < h.height; ++y) {
        if (y % 10 == 0 && sink_->SetPos(y, true) == 0) return false;
        // One scan line: literals below 192, else a count in the low 6 bits and the byte to
        // repeat. A run may not pass the end of the line.
        size_t filled = 0;
        while (filled < line_size && in.Ensure(2)) {
            // The common case, straight from the buffer while a whole token is surely there.
            const uint8_t* const start = in.Data();
            const uint8_t* p = start;
            const uint8_t* const last = start + in.Available() - 1;
            while (p < last && filled < line_size) {
                const uint8_t b = *p;
                if (b < 192) {
                    line[filled++] = b;
                    ++p;
                    continue;
                }
                const size_t count = size_t(b & 63);
                if (count > line_size - filled) return false;
                std::memset(line.data() + filled, p[1], count);
                filled += count;
                p += 2;
            }
            in.Consume(size_t(p - start));
        }
        while (filled < line_size) {
            // The data's last byte.
            const int b = in.Get();
            if (b < 0) return false;
            if (b < 192) {
                line[filled++] = uint8_t(b);
                continue;
            }
            const size_t count = size_t(b & 63);
            const int value = in.Get();
            if (value < 0 || count > line_size - filled) return false;
            std::memset(line.data() + filled, value, count);
            filled += count;
        }
        uint8_t* d = picture_->Row(y);
        const uint8_t* s = line.data();
        if (h.true_colour) {
            for (int x = 0; x < width; ++x) {
                d[3 * x] = s[2 * bpl + size_t(x)];
                d[3 * x + 1] = s[bpl + size_t(x)];
                d[3 * x + 2] = s[x];
            }
        } else if (h.planes == 1 && h.bits == 8) {
            for (int x = 0; x < width; ++x) Put(d, x, lookup[s[x]]);
        } else if (h.planes == 1) {
            const int bits = h.bits, mask = (1 << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int bit = x * bits;
                Put(d, x, lookup[unsigned(s[bit >> 3] >> (8 - bits - (bit & 7))) & unsigned(mask)]);
            }
        } else if (h.bits == 1) {
            // Plane p gives bit p of the index, eight pixels at a time.
            for (int x0 = 0; x0 < width; x0 += 8) {
                uint64_t group = 0;
                for (int p = 0; p < h.planes; ++p) group |= kBitSpread.of[s[size_t(p) * bpl + size_t(x0 >> 3)]] << p;
                const int n = std::min(8, width - x0);
                for (int i = 0; i < n; ++i) Put(d, x0 + i, lookup[SpreadByte(group, i)]);
            }
        } else {
            // Planes of 2 or 4 bits: plane p gives bits p x bits and up of the index.
            const int bits = h.bits, mask = (1 << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int bit = x * bits;
                unsigned index = 0;
                for (int p = 0; p < h.planes; ++p) {
                    const unsigned v = unsigned(s[size_t(p) * bpl + size_t(bit >> 3)] >> (8 - bits - (bit & 7))) & unsigned(mask);
                    index |= v << (p * bits);
                }
                Put(d, x, lookup[index]);
            }
        }
    }
    // The palette at the end must lie beyond the pixels: a cut file whose pixel data happens
    // to hold a 12 at that place has no palette.
    if (h.palette_at_end && in.Tell() > stream_->Size() - kTrailerSize) return false;
    return true;
}

}  // namespace quorbel
