#include "picture/codecs/tga_codec.h"

#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/codec_reader.h"

namespace quorbel {

CTgaFormat::CTgaFormat() : CGraphicsFormat("TGA", "Truevision Targa (TGA)", "TGA - Truevision Targa (*.tga)|*.tga|") {}

namespace {

constexpr int kHeaderSize = 18;
constexpr int kMapped = 1, kTrueColour = 2, kMappedRle = 9, kTrueColourRle = 10;

struct TgaHeader {
    int id_length = 0;
    int map_type = 0;
    int image_type = 0;
    int map_first = 0, map_length = 0, map_entry_bits = 0;
    int width = 0, height = 0;
    int depth = 0;
    int descriptor = 0;
    int PixelBytes() const { return (depth + 7) / 8; }
    bool Mapped() const { return image_type == kMapped || image_type == kMappedRle; }
    bool Rle() const { return image_type == kMappedRle || image_type == kTrueColourRle; }
    int MapEntryBytes() const { return (map_entry_bits + 7) / 8; }
    // The fourth byte of a 32-bit pixel is alpha only when the descriptor says 8 alpha bits.
    bool Alpha() const { return depth == 32 && (descriptor & 15) == 8; }
};

// Reads and checks the header; the reader is left after the image ID, at the colour map.
bool ReadHeader(CodecReader& in, TgaHeader& h) {
    uint8_t raw[kHeaderSize];
    if (!in.ReadExact(raw, kHeaderSize)) return false;
    h.id_length = raw[0];
    h.map_type = raw[1];
    h.image_type = raw[2];
    h.map_first = Le16(raw + 3);
    h.map_length = Le16(raw + 5);
    h.map_entry_bits = raw[7];
    h.width = Le16(raw + 12);
    h.height = Le16(raw + 14);
    h.depth = raw[16];
    h.descriptor = raw[17];
    if (h.map_type == 1) {
        // A true-colour picture may carry a colour map it does not use: it is skipped.
        if (h.image_type != kMapped && h.image_type != kMappedRle && h.image_type != kTrueColour &&
            h.image_type != kTrueColourRle)
            return false;
        if (h.map_entry_bits != 15 && h.map_entry_bits != 16 && h.map_entry_bits != 24 && h.map_entry_bits != 32)
            return false;
        if (h.map_length == 0 && h.Mapped()) return false;
    } else if (h.map_type == 0) {
        if (h.image_type != kTrueColour && h.image_type != kTrueColourRle) return false;
    } else {
        return false;
    }
    // The depth must be one the image type has.
    if (h.Mapped() ? h.depth != 8 : (h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32)) return false;
    if (!PictureSizeAllowed(h.width, h.height)) return false;
    return in.Skip(uint64_t(h.id_length));
}

Bgr MapEntry(const uint8_t* p, int bits) {
    if (bits == 15 || bits == 16) {
        const unsigned v = Le16(p);
        return Bgr{Widen5(v & 31), Widen5((v >> 5) & 31), Widen5((v >> 10) & 31)};
    }
    return Bgr{p[0], p[1], p[2]};
}

}  // namespace

bool CTgaFormat::ReadInfo() {
    CodecReader in(*stream_);
    TgaHeader h;
    if (!ReadHeader(in, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = h.depth;
    info_text_ = "Truevision Targa (TGA)";
    return true;
}

bool CTgaFormat::Load() {
    CodecReader in(*stream_);
    TgaHeader h;
    if (!ReadHeader(in, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = h.depth;
    info_text_ = "Truevision Targa (TGA)";

    // The colour map, by its declared length; entries placed from the first index on.
    PaletteLookup lookup;
    std::vector<Bgr> map;
    if (h.map_type == 1) {
        const size_t entry = size_t(h.MapEntryBytes());
        const uint64_t bytes = uint64_t(h.map_length) * entry;
        if (!h.Mapped()) {
            if (!in.Skip(bytes)) return false;
        } else {
            if (bytes > uint64_t(in.Remaining())) return false;
            std::vector<uint8_t> raw(static_cast<size_t>(bytes));
            if (!in.ReadExact(raw.data(), raw.size())) return false;
            for (int i = 0; i < h.map_length && h.map_first + i < 256; ++i)
                map.push_back(MapEntry(raw.data() + size_t(i) * entry, h.map_entry_bits));
        }
    }
    const int bpp = h.PixelBytes();
    const uint64_t row_bytes = uint64_t(h.width) * uint64_t(bpp);
    // Raw pixels must all be there; a short file is not a picture of this size.
    if (!h.Rle() && !PictureDataFits(h.width, h.height, row_bytes * uint64_t(h.height), in.Remaining())) return false;
    if (h.Rle() && in.Remaining() < int64_t(h.height) * 2) return false;  // at least a packet per row
    if (!picture_) return true;

    if (!picture_->Create(h.width, h.height)) return false;
    if (h.Alpha() && !picture_->EnsureAlpha()) return false;
    if (h.Mapped()) {
        picture_->SetPaletteSize(256);
        for (size_t i = 0; i < map.size(); ++i) {
            picture_->SetPaletteEntry(h.map_first + int(i), map[i]);
            lookup.Set(unsigned(h.map_first) + unsigned(i), map[i]);
        }
    }
    picture_->SetDepth(h.depth);

    ProgressLevel level(*sink_);
    sink_->SetRange(0, h.height, true);
    const bool top_down = (h.descriptor & 0x20) != 0;
    const bool right_to_left = (h.descriptor & 0x10) != 0;
    std::vector<uint8_t> row(static_cast<size_t>(row_bytes));
    uint8_t pixel[4];
    for (int file_row = 0; file_row < h.height; ++file_row) {
        if (file_row % 20 == 0 && sink_->SetPos(file_row, true) == 0) return false;
        if (!h.Rle()) {
            if (!in.ReadExact(row.data(), row.size())) return false;
        } else {
            // Packets until the row is full; pixels of a packet beyond the row end are dropped.
            size_t filled = 0;
            const size_t largest_packet = 1 + 128 * size_t(bpp);
            while (filled < row.size() && in.Ensure(largest_packet)) {
                // Whole packets straight from the buffer.
                const uint8_t* const start = in.Data();
                const uint8_t* p = start;
                const uint8_t* const end = start + in.Available();
                while (filled < row.size() && size_t(end - p) >= largest_packet) {
                    const unsigned header = *p++;
                    const size_t count = (header & 0x7F) + 1;
                    const size_t kept = std::min(count, (row.size() - filled) / size_t(bpp));
                    uint8_t* d = row.data() + filled;
                    if (header & 0x80) {
                        for (size_t i = 0; i < kept; ++i, d += bpp) std::memcpy(d, p, size_t(bpp));
                        p += bpp;
                    } else {
                        std::memcpy(d, p, kept * size_t(bpp));
                        p += count * size_t(bpp);
                    }
                    filled += kept * size_t(bpp);
                }
                in.Consume(size_t(p - start));
            }
            while (filled < row.size()) {
                const int header = in.Get();
                if (header < 0) return false;
                const size_t count = size_t((header & 0x7F) + 1);
                const size_t room = (row.size() - filled) / size_t(bpp);
                const size_t kept = std::min(count, room);
                if (header & 0x80) {
                    if (!in.ReadExact(pixel, size_t(bpp))) return false;
                    uint8_t* d = row.data() + filled;
                    for (size_t i = 0; i < kept; ++i, d += bpp) std::memcpy(d, pixel, size_t(bpp));
                } else {
                    if (!in.ReadExact(row.data() + filled, kept * size_t(bpp))) return false;
                    for (size_t i = kept; i < count; ++i)
                        if (!in.ReadExact(pixel, size_t(bpp))) return false;
                }
                filled += kept * size_t(bpp);
            }
        }
        const int y = top_down ? file_row : h.height - 1 - file_row;
        uint8_t* d = picture_->Row(y);
        uint8_t* a = h.Alpha() ? picture_->AlphaRow(y) : nullptr;
        const uint8_t* s = row.data();
        const int w = h.width;
        auto column = [&](int i) { return right_to_left ? w - 1 - i : i; };
        switch (bpp) {
        case 1:
            for (int i = 0; i < w; ++i) {
                const Bgr c = lookup[s[i]];
                const int x = column(i);
                d[3 * x] = c.b, d[3 * x + 1] = c.g, d[3 * x + 2] = c.r;
            }
            break;
        case 2:
            for (int i = 0; i < w; ++i) {
                const unsigned v = Le16(s + 2 * i);
                const int x = column(i);
                d[3 * x] = Widen5(v & 31), d[3 * x + 1] = Widen5((v >> 5) & 31), d[3 * x + 2] = Widen5((v >> 10) & 31);
            }
            break;
        case 3:
            if (!right_to_left) {
                std::memcpy(d, s, size_t(w) * 3);
            } else {
                for (int i = 0; i < w; ++i) std::memcpy(d + 3 * column(i), s + 3 * i, 3);
            }
            break;
        case 4:
            for (int i = 0; i < w; ++i) {
                const int x = column(i);
                d[3 * x] = s[4 * i], d[3 * x + 1] = s[4 * i + 1], d[3 * x + 2] = s[4 * i + 2];
                if (a) a[x] = s[4 * i + 3];
            }
            break;
        }
    }
    return true;
}

}  // namespace quorbel
