#include "picture/codecs/psd_codec.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/packbits.h"

namespace quorbel {

CPsdFormat::CPsdFormat()
    : CGraphicsFormat("PSD", "Adobe Photoshop (PSD)", "PSD - Adobe Photoshop (*.psd)|*.psd|") {}

namespace {

constexpr uint16_t kGrey = 1, kIndexed = 2, kRgb = 3, kDuotone = 8;
constexpr size_t kHeaderSize = 26;
constexpr uint32_t kPaletteBytes = 768;

// Thrown inside the decoder when the file cannot be shown; Load turns it into false.
struct PsdFailure {};

}  // namespace

bool CPsdFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CPsdFormat::Load() {
    try {
        uint8_t header[kHeaderSize];
        if (!ReadExact(header, kHeaderSize)) return false;
        if (header[0] != '8' || header[1] != 'B' || header[2] != 'P' || header[3] != 'S') return false;
        if (Be16(header + 4) != 1) return false;  // 2 is the large-document variant
        const uint32_t channels = Be16(header + 12);
        const uint32_t height = Be32(header + 14);
        const uint32_t width = Be32(header + 18);
        const uint32_t bits = Be16(header + 22);
        const uint16_t mode = Be16(header + 24);
        info_text_.clear();
        info_text_ += "PSD : Adobe Photoshop File Format.";
        switch (mode) {
        case kGrey:
            info_text_ += " Mode : Gray scale.";
            depth_ = 8;
            break;
        case kDuotone:
            info_text_ += " Mode : Duotone.";
            depth_ = 8;
            break;
        case kIndexed:
            info_text_ += " Mode : Indexed Palette (";
            info_text_ += std::to_string(bits < 31 ? 1u << bits : 0u);
            info_text_ += ").";
            depth_ = int(bits);
            break;
        case kRgb:
            info_text_ += " Mode : RGB.";
            depth_ = 24;
            break;
        default:
            return false;
        }
        // One byte per sample, or two of which the high one counts; indexed files are 8-bit.
        if (bits != 8 && !(bits == 16 && mode != kIndexed)) return false;
        if (channels < (mode == kRgb ? 3u : 1u) || channels > 56) return false;
        if (!PictureSizeAllowed(width, height)) return false;
        width_ = int(width);
        height_ = int(height);
        if (!picture_) return true;

        // The three length-prefixed sections: the colour data (the palette of indexed files),
        // then the image resources and the layers, which are skipped, never loaded.
        PaletteLookup lookup;
        for (int section = 0; section < 3; ++section) {
            uint8_t length_bytes[4];
            if (!ReadExact(length_bytes, 4)) return false;
            const uint32_t length = Be32(length_bytes);
            if (length > uint64_t(StreamRemaining())) return false;
            if (section == 0 && mode == kIndexed) {
                if (length != kPaletteBytes) return false;
                uint8_t table[kPaletteBytes];
                if (!ReadExact(table, kPaletteBytes)) return false;
                for (unsigned i = 0; i < 256; ++i) lookup.Set(i, Bgr{table[512 + i], table[256 + i], table[i]});
                continue;
            }
            const int64_t target = stream_->Tell() + int64_t(length);
            if (stream_->Seek(target, DataStream::Origin::Start) != target) return false;
        }
        uint8_t compression_bytes[2];
        if (!ReadExact(compression_bytes, 2)) return false;
        const uint16_t compression = Be16(compression_bytes);
        if (compression > 1) return false;
        info_text_ += compression == 1 ? " Compression : Run Legngth Encoding." : " Compression : None.";

        const uint32_t used = mode == kRgb ? std::min(channels, 4u) : 1u;
        const size_t sample = bits / 8;
        const size_t row_length = size_t(width) * sample;
        const uint64_t rows = uint64_t(used) * height;
        std::vector<uint32_t> packed_lengths;
        std::vector<uint8_t> packed;
        if (compression == 1) {
            // The byte count of every row of every channel, then the rows; only the channels
            // shown are read.
            const uint64_t table_bytes = uint64_t(channels) * height * 2;
            if (table_bytes > uint64_t(StreamRemaining())) return false;
            std::vector<uint8_t> table(size_t(rows) * 2);
            if (!ReadExact(table.data(), table.size())) return false;
            const int64_t rest = stream_->Tell() + int64_t(table_bytes - table.size());
            if (stream_->Seek(rest, DataStream::Origin::Start) != rest) return false;
            packed_lengths.resize(size_t(rows));
            uint64_t total = 0;
            for (size_t i = 0; i < packed_lengths.size(); ++i) total += packed_lengths[i] = Be16(table.data() + 2 * i);
            if (total > uint64_t(StreamRemaining())) return false;
            packed.resize(size_t(total));
            if (!ReadExact(packed.data(), packed.size())) return false;
        } else if (!PictureDataFits(width, height, rows * row_length, StreamRemaining())) {
            return false;
        }

        ProgressScope scope(sink_);
        if (!picture_->Create(int(width), int(height))) return false;
        const bool alpha = mode == kRgb && channels >= 4;
        if (alpha && !picture_->EnsureAlpha()) return false;
        if (mode == kIndexed) {
            picture_->SetPaletteSize(256);
            for (int i = 0; i < 256; ++i) picture_->SetPaletteEntry(i, lookup[unsigned(i)]);
        } else if (mode == kGrey || mode == kDuotone) {
            picture_->SetPaletteSize(256);
            for (int i = 0; i < 256; ++i) picture_->SetPaletteEntry(i, Bgr{uint8_t(i), uint8_t(i), uint8_t(i)});
        }
        sink_->SetRange(0, int64_t(channels) * height, true);

        std::vector<uint8_t> row(row_length);
        const uint8_t* next_packed = packed.data();
        const size_t high = 0;  // samples are big-endian: the high byte comes first
        uint64_t done = 0;
        for (uint32_t channel = 0; channel < used; ++channel) {
            for (uint32_t y = 0; y < height; ++y) {
                if (compression == 1) {
                    const uint32_t length = packed_lengths[size_t(done)];
                    const size_t produced = PackBitsDecode(next_packed, length, row.data(), row.size());
                    next_packed += length;
                    if (produced != row.size()) throw PsdFailure();
                } else if (!ReadExact(row.data(), row.size())) {
                    throw PsdFailure();
                }
                const uint8_t* s = row.data() + high;
                if (alpha && channel == 3) {
                    uint8_t* a = picture_->AlphaRow(int(y));
                    for (uint32_t x = 0; x < width; ++x, s += sample) a[x] = *s;
                } else if (mode == kRgb) {
                    uint8_t* d = picture_->Row(int(y)) + (2 - channel);
                    for (uint32_t x = 0; x < width; ++x, s += sample, d += 3) *d = *s;
                } else if (mode == kIndexed) {
                    uint8_t* d = picture_->Row(int(y));
                    for (uint32_t x = 0; x < width; ++x, s += sample, d += 3) {
                        const Bgr c = lookup[*s];
                        d[0] = c.b;
                        d[1] = c.g;
                        d[2] = c.r;
                    }
                } else {
                    uint8_t* d = picture_->Row(int(y));
                    for (uint32_t x = 0; x < width; ++x, s += sample, d += 3) d[0] = d[1] = d[2] = *s;
                }
                if (++done % 10 == 0) Progress(int64_t(done));
            }
        }
        if (alpha) {
            // A fourth channel that covers nothing is a saved selection, not transparency: shown
            // as such the picture would vanish.
            bool any = false;
            for (uint32_t y = 0; y < height && !any; ++y) {
                const uint8_t* a = picture_->AlphaRow(int(y));
                any = std::any_of(a, a + width, [](uint8_t v) { return v != 0; });
            }
            if (!any) picture_->DropAlpha();
        }
        picture_->SetDepth(depth_);
        return true;
    } catch (const PsdFailure&) {
        return false;
    } catch (const EGraphicsAbort&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace quorbel
