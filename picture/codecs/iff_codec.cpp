#include "picture/codecs/iff_codec.h"

#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/codec_reader.h"

namespace quorbel {

CIffFormat::CIffFormat()
    : CGraphicsFormat("IFF", "Interchange File Format (IFF)", "IFF - Interchange File Format (*.iff)|*.iff|") {}
CLbmFormat::CLbmFormat() : CIffFormat("LBM", "Interleaved Bitmap (LBM)", "LBM - Interleaved Bitmap (*.lbm)|*.lbm|") {}

namespace {

constexpr uint32_t kHam = 0x800, kExtraHalfBrite = 0x80;  // viewport modes of the CAMG chunk
constexpr int kMaskPlane = 1;                             // masking: a mask plane follows the planes

bool Is(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

struct Bitmap {
    int width = 0, height = 0, planes = 0, masking = 0, compression = 0;
};

void Put(uint8_t* row, int x, Bgr c) {
    row[3 * x] = c.b;
    row[3 * x + 1] = c.g;
    row[3 * x + 2] = c.r;
}

// The rows of the BODY chunk, none read beyond the chunk's end.
class BodyRows {
public:
    BodyRows(CodecReader& in, uint64_t length, bool packed) : in_(in), left_(length), packed_(packed) {}

    bool Next(uint8_t* row, size_t size) {
        if (!packed_) {
            if (size > left_) return false;
            left_ -= size;
            return in_.ReadExact(row, size);
        }
        // ByteRun1: bytes of a run beyond the row are dropped.
        size_t filled = 0;
        constexpr size_t kLargestPacket = 129;
        while (filled < size && left_ >= kLargestPacket && in_.Ensure(kLargestPacket)) {
            // Whole packets straight from the buffer, none beyond the chunk.
            const uint8_t* const start = in_.Data();
            const uint8_t* p = start;
            const size_t usable = std::min<uint64_t>(in_.Available(), left_);
            const uint8_t* const end = start + usable;
            while (filled < size && size_t(end - p) >= kLargestPacket) {
                const int n = int(int8_t(*p++));
                const size_t room = size - filled;
                if (n >= 0) {
                    const size_t count = size_t(n) + 1, kept = std::min(count, room);
                    std::memcpy(row + filled, p, kept);
                    p += count;
                    filled += kept;
                } else if (n != -128) {
                    const size_t kept = std::min(size_t(1 - n), room);
                    std::memset(row + filled, *p++, kept);
                    filled += kept;
                }
            }
            left_ -= uint64_t(p - start);
            in_.Consume(size_t(p - start));
        }
        while (filled < size) {
            const int control = Get();
            if (control < 0) return false;
            const int n = int(int8_t(control));
            const size_t room = size - filled;
            if (n >= 0) {
                const size_t count = size_t(n) + 1, kept = std::min(count, room);
                if (count > left_) return false;
                left_ -= count;
                if (!in_.ReadExact(row + filled, kept) || !in_.Skip(count - kept)) return false;
                filled += kept;
            } else if (n != -128) {
                const int value = Get();
                if (value < 0) return false;
                const size_t kept = std::min(size_t(1 - n), room);
                std::memset(row + filled, value, kept);
                filled += kept;
            }
        }
        return true;
    }

private:
    int Get() {
        if (left_ == 0) return -1;
        --left_;
        return in_.Get();
    }

    CodecReader& in_;
    uint64_t left_;
    bool packed_;
};

}  // namespace

bool CIffFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CIffFormat::Load() {
    CodecReader in(*stream_);
    uint8_t form[12];
    if (!in.ReadExact(form, sizeof form) || !Is(form, "FORM") || !Is(form + 8, "ILBM")) return false;

    Bitmap bm;
    bool have_header = false, have_map = false;
    std::vector<Bgr> map;
    uint32_t modes = 0;
    uint64_t body_length = 0;
    for (;;) {
        uint8_t chunk[8];
        if (!in.ReadExact(chunk, sizeof chunk)) return false;  // the data ended before BODY
        const uint64_t length = Be32(chunk + 4);
        const uint64_t padded = length + (length & 1);  // odd chunks are followed by a pad byte
        if (Is(chunk, "BMHD")) {
            uint8_t h[20];
            if (length < sizeof h || !in.ReadExact(h, sizeof h) || !in.Skip(padded - sizeof h)) return false;
            bm.width = Be16(h);
            bm.height = Be16(h + 2);
            bm.planes = h[8];
            bm.masking = h[9];
            bm.compression = h[10];
            if (!PictureSizeAllowed(bm.width, bm.height)) return false;
            if (bm.planes < 1 || (bm.planes > 8 && bm.planes != 24)) return false;
            if (bm.compression > 1) return false;
            have_header = true;
            width_ = bm.width;
            height_ = bm.height;
            depth_ = bm.planes;
            info_text_ = "IFF - LBM : AMIGA Interchange File Format. Compression : ";
            info_text_ += bm.compression == 1 ? "Run Length Encoding." : "None.";
            if (!picture_ && bm.planes > 8) return true;
        } else if (Is(chunk, "CMAP")) {
            if (!have_header) return false;
            if (bm.planes <= 8) {
                // Writers may give only the colours they use.
                const uint64_t entries = length / 3;
                if (entries > (uint64_t(1) << bm.planes)) return false;
                std::vector<uint8_t> raw(size_t(entries) * 3);
                if (!in.ReadExact(raw.data(), raw.size()) || !in.Skip(padded - raw.size())) return false;
                // Colour registers of 4 bits stored in the high nibble: widened so 0xF0 reads 255.
                bool nibbles = true;
                for (uint8_t v : raw) nibbles = nibbles && (v & 15) == 0;
                for (size_t i = 0; i < size_t(entries); ++i) {
                    uint8_t c[3];
                    for (int k = 0; k < 3; ++k) c[k] = nibbles ? uint8_t(raw[3 * i + size_t(k)] | raw[3 * i + size_t(k)] >> 4) : raw[3 * i + size_t(k)];
                    map.push_back(Bgr{c[2], c[1], c[0]});
                }
                have_map = true;
                if (!picture_) return true;
            } else if (!in.Skip(padded)) {
                return false;
            }
        } else if (Is(chunk, "CAMG")) {
            uint8_t v[4];
            if (length < 4 || !in.ReadExact(v, 4) || !in.Skip(padded - 4)) return false;
            modes = Be32(v);
        } else if (Is(chunk, "BODY")) {
            if (!have_header || (bm.planes <= 8 && !have_map)) return false;
            if (!picture_) return true;
            body_length = length;
            break;
        } else if (!in.Skip(padded)) {
            return false;
        }
    }

    const bool ham = (modes & kHam) != 0;
    const bool half_brite = !ham && (modes & kExtraHalfBrite) != 0 && bm.planes == 6;
    // Hold-and-modify exists with 6 planes (4-bit channels) and 8 (6-bit channels).
    if (ham && bm.planes != 6 && bm.planes != 8) return false;
    if (!picture_->Create(bm.width, bm.height)) return false;
    PaletteLookup lookup;
    if (bm.planes <= 8) {
        const int entries = 1 << bm.planes;
        picture_->SetPaletteSize(entries);
        for (size_t i = 0; i < map.size(); ++i) {
            picture_->SetPaletteEntry(int(i), map[i]);
            lookup.Set(unsigned(i), map[i]);
        }
        if (half_brite)
            // The upper 32 colours are the lower 32 at half brightness.
            for (unsigned i = 0; i < 32; ++i) {
                const Bgr c = lookup[i];
                const Bgr half{uint8_t(c.b >> 1), uint8_t(c.g >> 1), uint8_t(c.r >> 1)};
                picture_->SetPaletteEntry(int(i + 32), half);
                lookup.Set(i + 32, half);
            }
    }
    picture_->SetDepth(bm.planes);

    const size_t plane_bytes = size_t((bm.width + 15) / 16) * 2;
    const int stored_planes = bm.planes + (bm.masking == kMaskPlane ? 1 : 0);  // the mask plane is skipped
    std::vector<uint8_t> row(plane_bytes * size_t(stored_planes));
    BodyRows body(in, body_length, bm.compression == 1);
    ProgressLevel level(*sink_);
    sink_->SetRange(0, bm.height, true);
    const int width = bm.width;
    const int value_bits = ham ? bm.planes - 2 : 0;  // hold-and-modify: the planes below the two control planes
    const unsigned value_mask = (1u << value_bits) - 1;
    for (int y = 0; y < bm.height; ++y) {
        if (y % 10 == 0 && sink_->SetPos(y, true) == 0) return false;
        if (!body.Next(row.data(), row.size())) return false;
        uint8_t* d = picture_->Row(y);
        Bgr held = lookup[0];  // hold-and-modify starts every row from the background colour
        for (int x0 = 0; x0 < width; x0 += 8) {
            const size_t at = size_t(x0 >> 3);
            const int n = std::min(8, width - x0);
            if (bm.planes == 24) {
                uint64_t channel[3] = {0, 0, 0};
                for (int p = 0; p < 24; ++p) channel[p >> 3] |= kBitSpread.of[row[size_t(p) * plane_bytes + at]] << (p & 7);
                for (int i = 0; i < n; ++i)
                    Put(d, x0 + i, Bgr{SpreadByte(channel[2], i), SpreadByte(channel[1], i), SpreadByte(channel[0], i)});
                continue;
            }
            uint64_t group = 0;
            for (int p = 0; p < bm.planes; ++p) group |= kBitSpread.of[row[size_t(p) * plane_bytes + at]] << p;
            if (!ham) {
                for (int i = 0; i < n; ++i) Put(d, x0 + i, lookup[SpreadByte(group, i)]);
                continue;
            }
            for (int i = 0; i < n; ++i) {
                const unsigned index = SpreadByte(group, i);
                const unsigned v = index & value_mask;
                // The value widened to 8 bits (4-bit 15 and 6-bit 63 read 255).
                const uint8_t wide = value_bits == 4 ? uint8_t(v << 4 | v) : uint8_t(v << 2 | v >> 4);
                switch (index >> value_bits) {
                case 0: held = lookup[v]; break;
                case 1: held.b = wide; break;
                case 2: held.r = wide; break;
                default: held.g = wide; break;
                }
                Put(d, x0 + i, held);
            }
        }
    }
    return true;
}

}  // namespace quorbel
