#include "picture/codecs/bmp_codec.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/byte_reader.h"

namespace quorbel {

CBmpBmpFormat::CBmpBmpFormat()
    : CBmpFormat("BMP", "Windows bitmap (BMP)", "BMP - Windows Bitmap (*.bmp)|*.bmp|") {}
CBmpRleFormat::CBmpRleFormat()
    : CBmpFormat("RLE", "Windows compressed bitmap (RLE)", "RLE - Windows (*.rle)|*.rle;*.bmp|") {}
CBmpOs2Format::CBmpOs2Format()
    : CBmpFormat("OS2", "OS2 Bitmap (OS2,BMP)", "OS2 - OS2 Bitmap (*.os2)|*.os2|") {}
CBmpDibFormat::CBmpDibFormat()
    : CBmpFormat("DIB", "Windows Device-Independent Bitmap (DIB)",
                 "DIB - Device-independent bitmap (*.dib)|*.dib|") {}

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;      // OS/2 1.x
constexpr uint32_t kLargestHeader = 124;      // BITMAPV5HEADER
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

// The Windows info header sizes; any other size from 16 to 64 is an OS/2 2.x header, whose
// fields share the Windows offsets but whose compression values 3 and 4 mean Huffman and RLE24.
bool IsWindowsHeader(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}


// The decoder: one pass over the pixel data into the picture, after ReadBmpHeaders.
class BmpDecoder {
public:
    BmpDecoder(DataStream& stream, CPicture& picture, const BmpHeaders& h, ProgressSink& sink)
        : stream_(stream), picture_(picture), h_(h), sink_(sink) {}

    void Decode() {
        const int width = int(h_.width), height = int(h_.height);
        if (!picture_.Create(width, height)) throw EBmpNotSupported();
        lookup_ = PaletteLookup();
        for (size_t i = 0; i < h_.colour_table.size() && i < 256; ++i) lookup_.Set(unsigned(i), h_.colour_table[i]);
        if (h_.bit_count <= 8) {
            // An uncompressed 8-bit file records the full 256-entry palette, as the picture
            // view shows it; others the entries the file gave.
            const int entries = h_.bit_count == 8 && h_.compression == kRgb
                                    ? 256
                                    : std::max<int>(int(h_.colour_table.size()), 1);
            picture_.SetPaletteSize(entries);
            for (size_t i = 0; i < h_.colour_table.size(); ++i) picture_.SetPaletteEntry(int(i), h_.colour_table[i]);
        }
        sink_.SetRange(0, height, true);
        if (h_.compression == kRle8 || h_.compression == kRle4)
            DecodeRle();
        else
            DecodeRows();
        picture_.SetDepth(h_.bit_count);
    }

private:
    int PictureRow(int64_t file_row) const {
        return h_.top_down ? int(file_row) : int(h_.height - 1 - file_row);
    }

    void DecodeRows() {
        const int width = int(h_.width), height = int(h_.height);
        const uint64_t stride = CPicture::SourceStride(h_.bit_count, uint64_t(width));
        std::vector<uint8_t> row(static_cast<size_t>(stride));
        const bool masked = h_.bit_count == 16 || h_.bit_count == 32;
        uint32_t masks[4] = {h_.masks[0], h_.masks[1], h_.masks[2], h_.masks[3]};
        if (h_.compression != kBitFields && h_.compression != kAlphaBitFields) {
            // Without bit fields the layout is fixed: 5-5-5 and 8-8-8, the fourth byte unused.
            if (h_.bit_count == 16) {
                masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
            } else {
                masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
            }
            masks[3] = 0;
        }
        const BitFieldChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
        const bool with_alpha = masked && h_.bit_count == 32 && masks[3] != 0;
        std::vector<uint8_t> alpha_values;
        if (with_alpha) alpha_values.resize(size_t(width) * size_t(height));
        bool any_alpha = false;
        for (int64_t file_row = 0; file_row < height; ++file_row) {
            if (stream_.Read(row.data(), row.size()) != row.size()) throw EBmpFileReadError();
            uint8_t* d = picture_.Row(PictureRow(file_row));
            const uint8_t* s = row.data();
            switch (h_.bit_count) {
            case 1:
                for (int x = 0; x < width; ++x) Put(d, x, lookup_[(s[x >> 3] >> (7 - (x & 7))) & 1]);
                break;
            case 4:
                for (int x = 0; x < width; ++x) Put(d, x, lookup_[(x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4)]);
                break;
            case 8:
                for (int x = 0; x < width; ++x) Put(d, x, lookup_[s[x]]);
                break;
            case 16:
                for (int x = 0; x < width; ++x) {
                    const uint32_t v = Le16(s + 2 * x);
                    Put(d, x, Bgr{blue.Of(v), green.Of(v), red.Of(v)});
                }
                break;
            case 24:
                std::memcpy(d, s, size_t(width) * 3);
                break;
            case 32:
                for (int x = 0; x < width; ++x) {
                    const uint32_t v = Le32(s + 4 * x);
                    Put(d, x, Bgr{blue.Of(v), green.Of(v), red.Of(v)});
                    if (with_alpha) {
                        const uint8_t a = alpha.Of(v);
                        alpha_values[size_t(PictureRow(file_row)) * size_t(width) + size_t(x)] = a;
                        any_alpha = any_alpha || a != 0;
                    }
                }
                break;
            }
            if (file_row % 20 == 19) Abortable(file_row + 1);
        }
        // An alpha mask whose values are all 0 is a file that never meant transparency.
        if (with_alpha && any_alpha && picture_.EnsureAlpha())
            for (int y = 0; y < height; ++y)
                std::memcpy(picture_.AlphaRow(y), alpha_values.data() + size_t(y) * size_t(width), size_t(width));
    }

    void DecodeRle() {
        const int width = int(h_.width), height = int(h_.height);
        const bool four = h_.compression == kRle4;
        // Some writers (ImageMagick among them) encode the row padding too, so a run may reach
        // the padded row end; those pixels are dropped. Beyond it the data is broken.
        const int64_t padded_width =
            int64_t(CPicture::SourceStride(h_.bit_count, uint64_t(width)) * 8 / h_.bit_count);
        // Pixels the data never reaches (deltas, early line ends) stay transparent.
        std::vector<uint8_t> written(size_t(width) * size_t(height), 0);
        int64_t x = 0, y = height - 1;  // picture row: the file's first row is the bottom one
        auto store = [&](unsigned index) {
            if (y >= 0 && y < height && x >= 0 && x < width) {
                Put(picture_.Row(int(y)), int(x), lookup_[index]);
                written[size_t(y) * size_t(width) + size_t(x)] = 1;
            }
            ++x;
        };
        int64_t last_reported = -1;
        for (;;) {
            uint8_t pair[2];
            if (stream_.Read(pair, 2) != 2) throw EBmpCorruptFile();
            const unsigned count = pair[0], value = pair[1];
            if (count > 0) {
                if (y < 0 || y >= height || x + count > padded_width) throw EBmpCorruptFile();
                for (unsigned i = 0; i < count; ++i)
                    store(four ? ((i & 1) ? (value & 15) : (value >> 4)) : value);
            } else if (value == 0) {
                --y;
                x = 0;
            } else if (value == 1) {
                break;
            } else if (value == 2) {
                uint8_t delta[2];
                if (stream_.Read(delta, 2) != 2) throw EBmpCorruptFile();
                x += delta[0];
                y -= delta[1];
            } else {
                const unsigned n = value;
                if (y < 0 || y >= height || x + n > padded_width) throw EBmpCorruptFile();
                const size_t bytes = four ? (n + 1) / 2 : n;
                uint8_t data[256];
                const size_t padded = bytes + (bytes & 1);
                if (stream_.Read(data, padded) != padded) throw EBmpCorruptFile();
                for (unsigned i = 0; i < n; ++i)
                    store(four ? ((i & 1) ? (data[i / 2] & 15) : (data[i / 2] >> 4)) : data[i]);
            }
            const int64_t done = height - 1 - y;
            if (done != last_reported && done % 10 == 0) {
                last_reported = done;
                Abortable(std::clamp<int64_t>(done, 0, height));
            }
        }
        bool gaps = false;
        for (uint8_t w : written)
            if (!w) {
                gaps = true;
                break;
            }
        if (gaps && picture_.EnsureAlpha())
            for (int row = 0; row < height; ++row) {
                uint8_t* a = picture_.AlphaRow(row);
                for (int col = 0; col < width; ++col)
                    a[col] = written[size_t(row) * size_t(width) + size_t(col)] ? 255 : 0;
            }
    }

    static void Put(uint8_t* row, int x, Bgr c) {
        row[3 * x] = c.b;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.r;
    }

    void Abortable(int64_t rows_done) {
        if (sink_.SetPos(rows_done, true) == 0) throw EGraphicsAbort();
    }

    DataStream& stream_;
    CPicture& picture_;
    const BmpHeaders& h_;
    ProgressSink& sink_;
    PaletteLookup lookup_;
};

bool HasBmSignature(DataStream& stream) {
    uint8_t sig[2];
    return stream.Read(sig, 2) == 2 && sig[0] == 'B' && sig[1] == 'M';
}

}  // namespace

bool ReadBmpHeaders(DataStream& stream, BmpHeaders& h) {
    h = BmpHeaders();
    const int64_t start = stream.Tell();
    if (start < 0) return false;
    uint8_t file_header[kFileHeaderSize];
    const size_t got = stream.Read(file_header, kFileHeaderSize);
    if (got == kFileHeaderSize && file_header[0] == 'B' && file_header[1] == 'M') {
        h.has_file_header = true;
        h.bits_offset = Le32(file_header + 10);
    } else {
        // No file header: a packed DIB as the clipboard holds it.
        if (stream.Seek(start, DataStream::Origin::Start) != start) return false;
        h.bits_offset = 0;
    }
    uint8_t header[kLargestHeader] = {};
    if (stream.Read(header, 4) != 4) return false;
    h.header_size = Le32(header);
    if (h.header_size != kCoreHeaderSize && (h.header_size < 16 || h.header_size > 64) &&
        !IsWindowsHeader(h.header_size))
        return false;
    const size_t rest = std::min(h.header_size, kLargestHeader) - 4;
    if (stream.Read(header + 4, rest) != rest) return false;
    if (h.header_size > kLargestHeader) return false;

    if (h.header_size == kCoreHeaderSize) {
        h.os2 = true;
        h.width = Le16(header + 4);
        h.height = Le16(header + 6);
        h.planes = Le16(header + 8);
        h.bit_count = Le16(header + 10);
    } else {
        h.width = int32_t(Le32(header + 4));
        const int32_t height = int32_t(Le32(header + 8));
        h.top_down = height < 0;
        h.height = h.top_down ? -int64_t(height) : int64_t(height);
        h.planes = Le16(header + 12);
        h.bit_count = Le16(header + 14);
        h.compression = Le32(header + 16);
        h.image_size = Le32(header + 20);
        h.colours_used = Le32(header + 32);
        if (h.header_size >= 52)
            for (int i = 0; i < 3; ++i) h.masks[i] = Le32(header + 40 + 4 * i);
        if (h.header_size >= 56) h.masks[3] = Le32(header + 52);
    }
    const bool os2_v2 = !h.os2 && !IsWindowsHeader(h.header_size);
    if (!PictureSizeAllowed(h.width, h.height)) return false;
    switch (h.bit_count) {
    case 1: case 4: case 8: case 24:
        break;
    case 16: case 32:
        if (h.os2) return false;
        break;
    default:
        return false;
    }
    // The combinations that exist: RLE8 only for 8 bits, RLE4 only for 4, bit fields only for
    // 16 and 32; an RLE picture is always stored bottom-up.
    switch (h.compression) {
    case kRgb:
        break;
    case kRle8:
        if (h.bit_count != 8 || h.top_down) return false;
        break;
    case kRle4:
        if (h.bit_count != 4 || h.top_down) return false;
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (os2_v2 || (h.bit_count != 16 && h.bit_count != 32)) return false;
        break;
    default:
        return false;
    }
    // Masks after a 40-byte header; larger headers hold them inside.
    if ((h.compression == kBitFields || h.compression == kAlphaBitFields) && h.header_size == 40) {
        uint8_t masks[16];
        const size_t n = h.compression == kAlphaBitFields ? 16 : 12;
        if (stream.Read(masks, n) != n) return false;
        for (size_t i = 0; i < n / 4; ++i) h.masks[i] = Le32(masks + 4 * i);
    }
    if (h.compression == kRgb && h.header_size < 56) h.masks[3] = 0;

    // The colour table follows the whole info header (14 + header size in a file), however
    // large the header is; its length never exceeds what the bit count can index.
    if (h.bit_count <= 8) {
        const uint32_t most = 1u << h.bit_count;
        uint32_t entries = h.os2 || h.colours_used == 0 ? most : std::min(h.colours_used, most);
        h.colours_used = entries;
        const size_t entry_size = h.os2 ? 3 : 4;
        std::vector<uint8_t> table(entries * entry_size);
        if (stream.Read(table.data(), table.size()) != table.size()) return false;
        h.colour_table.resize(entries);
        for (uint32_t i = 0; i < entries; ++i)
            h.colour_table[i] = Bgr{table[i * entry_size], table[i * entry_size + 1], table[i * entry_size + 2]};
    } else {
        h.colours_used = 0;
    }
    const int64_t here = stream.Tell();
    if (here < 0) return false;
    if (h.has_file_header && h.bits_offset != 0) {
        // Pixels that would begin inside the headers or the colour table: a broken file.
        if (start + h.bits_offset < here) return false;
        if (stream.Seek(start + h.bits_offset, DataStream::Origin::Start) != start + h.bits_offset) return false;
    } else {
        h.bits_offset = here - start;
    }
    if (h.image_size == 0 && h.compression == kRgb)
        h.image_size = uint32_t(std::min<uint64_t>(
            CPicture::SourceStride(h.bit_count, uint64_t(h.width)) * uint64_t(h.height), 0xFFFFFFFFu));
    return true;
}

bool CBmpFormat::ReadInfo() {
    if (!HasBmSignature(*stream_)) return false;
    stream_->Rewind();
    BmpHeaders h;
    if (!ReadBmpHeaders(*stream_, h)) return false;
    width_ = int(h.width);
    height_ = int(h.height);
    depth_ = h.bit_count;
    const std::string ext = NameExtension(stream_->Name());
    std::string upper;
    for (char c : ext) upper += char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "DIB")
        info_text_ = "Windows Device-Independent Bitmap (DIB)";
    else if (upper == "OS2")
        info_text_ = "OS2 Bitmap (OS2,BMP)";
    else if (h.compression == kRle8 || h.compression == kRle4)
        info_text_ = "Windows compressed bitmap (RLE)";
    else
        info_text_ = "Windows bitmap (BMP)";
    return true;
}

bool CBmpFormat::Load() {
    if (!ReadInfo()) return false;
    if (!picture_) return true;
    stream_->Rewind();
    BmpHeaders h;
    if (!ReadBmpHeaders(*stream_, h)) return false;
    if (h.compression == kRgb || h.compression == kBitFields || h.compression == kAlphaBitFields) {
        // Uncompressed rows must all be there before a picture of their size is made.
        const uint64_t needed = CPicture::SourceStride(h.bit_count, uint64_t(h.width)) * uint64_t(h.height);
        if (!PictureDataFits(h.width, h.height, needed, StreamRemaining())) return false;
    }
    sink_->Begin();
    try {
        BmpDecoder(*stream_, *picture_, h, *sink_).Decode();
    } catch (...) {
        sink_->End(0);
        throw;
    }
    sink_->End(0);
    return true;
}

bool WriteBmp24(DataStream& stream, const CPicture& picture, ProgressSink* sink) {
    if (picture.IsEmpty()) return false;
    ProgressSink& s = sink ? *sink : SilentSink();
    const uint64_t stride = uint64_t(picture.Stride());
    const uint64_t image = stride * uint64_t(picture.Height());
    const uint64_t file_size = image + 54;
    uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLe32(header + 2, file_size > 0xFFFFFFFFu ? 0 : uint32_t(file_size));
    PutLe32(header + 10, 54);
    PutLe32(header + 14, 40);
    PutLe32(header + 18, uint32_t(picture.Width()));
    PutLe32(header + 22, uint32_t(picture.Height()));
    PutLe16(header + 26, 1);
    PutLe16(header + 28, 24);
    PutLe32(header + 34, image > 0xFFFFFFFFu ? 0 : uint32_t(image));
    s.SetText("Saving 24 bits BMP picture...", false);
    s.SetRange(0, picture.Height(), true);
    if (stream.Write(header, sizeof header) != sizeof header) return false;
    // Bottom row first, exactly as the rows lie in the picture's block.
    for (int i = 0; i < picture.Height(); ++i) {
        const uint8_t* row = picture.Row(picture.Height() - 1 - i);
        if (stream.Write(row, size_t(stride)) != size_t(stride)) return false;
        if (i % 10 == 9) s.SetPos(i + 1, true);  // saving cannot be cancelled
    }
    return true;
}

}  // namespace quorbel
