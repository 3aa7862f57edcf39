#include "picture/codecs/gif_codec.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorbel {

CGifFormat::CGifFormat()
    : CGraphicsFormat("GIF", "CompuServe Graphic Interchange Format (GIF)", "GIF - CompuServe (*.gif)|*.gif|") {}

namespace {

constexpr int kMaxCodes = 4096;
constexpr size_t kRoots = 256;            // the output buffer begins with the bytes 0..255
constexpr size_t kSlack = kMaxCodes + 16; // a string copy may run this far past the last pixel

struct Code {
    uint32_t offset;
    uint32_t length;
};

class GifDecoder {
public:
    GifDecoder(DataStream& stream, ProgressSink& sink, CPicture* picture)
        : stream_(stream), sink_(sink), picture_(picture) {}

    bool ImageSeen() const { return image_width_ >= 0; }
    int ImageWidth() const { return image_width_; }
    int ImageHeight() const { return image_height_; }
    bool MoreImages() const { return more_images_; }

    void Decode() {
        uint8_t header[6];
        if (!Read(header, 6)) throw EGifFileReadError();
        if (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0) throw EGifNotAGifFile();
        uint8_t screen[7];
        if (!Read(screen, 7)) throw EGifFileReadError();
        if (screen[4] & 0x80) {
            global_count_ = 2 << (screen[4] & 7);
            if (!Read(global_, size_t(3 * global_count_))) throw EGifFileReadError("Error reading from GIF file");
        }
        if (!FindImage()) throw EGifNoMoreImages();
        DecodeImage();
        if (!picture_) return;
        // Whatever follows the first image cannot spoil it.
        try {
            more_images_ = FindImage();
        } catch (const EGifError&) {
            more_images_ = false;
        }
    }

private:
    bool Read(void* destination, size_t n) { return stream_.Read(destination, n) == n; }
    int Byte() {
        uint8_t b;
        return Read(&b, 1) ? b : -1;
    }

    // Sub-blocks up to the empty one (or the end of the stream).
    void SkipSubBlocks() {
        uint8_t block[255];
        for (;;) {
            const int n = Byte();
            if (n <= 0) return;
            if (!Read(block, size_t(n))) return;
        }
    }

    // Reads blocks up to the next image descriptor (true) or the trailer (false).
    bool FindImage() {
        for (;;) {
            const int introducer = Byte();
            if (introducer < 0) throw EGifCorruptFile("Gif stream is corrupt");
            if (introducer == 0) continue;
            if (introducer == 0x2C) return true;
            if (introducer == 0x3B) return false;
            if (introducer != 0x21) throw EGifCorruptFile("Gif stream is corrupt");
            const int label = Byte();
            if (label < 0) throw EGifCorruptFile("Gif stream is corrupt");
            if (label == 0x01) {
                uint8_t text[13];
                if (!Read(text, 13) || text[0] != 12) throw EGifCorruptFile("Gif stream is corrupt");
                SkipSubBlocks();
            } else if (label == 0xF9) {
                // Block size 4, packed flags, delay (2 bytes), transparent index, terminator.
                uint8_t control[6];
                if (!Read(control, 6) || control[0] != 4 || control[5] != 0) throw EGifCorruptFile("Gif stream is corrupt");
                if (!ImageSeen()) transparent_ = (control[1] & 1) ? control[4] : -1;
            } else if (label == 0xFF) {
                uint8_t application[12];
                if (!Read(application, 12) || application[0] != 11) throw EGifCorruptFile("Gif stream is corrupt");
                SkipSubBlocks();
            } else {
                // Comments and extensions of unknown labels: their sub-blocks carry nothing
                // for the picture.
                SkipSubBlocks();
            }
        }
    }

    void DecodeImage() {
        uint8_t descriptor[9];
        if (!Read(descriptor, 9)) throw EGifFileReadError();
        const int width = descriptor[4] | descriptor[5] << 8;
        const int height = descriptor[6] | descriptor[7] << 8;
        const bool interlaced = (descriptor[8] & 0x40) != 0;
        image_width_ = width;
        image_height_ = height;
        if (!picture_) return;
        if (!PictureSizeAllowed(width, height)) throw EGifCorruptFile("Gif stream is corrupt");

        Bgr palette[256] = {};
        int entries = 0;
        if (descriptor[8] & 0x80) {
            entries = 2 << (descriptor[8] & 7);
            uint8_t local[768];
            if (!Read(local, size_t(3 * entries))) throw EGifFileReadError();
            for (int i = 0; i < entries; ++i) palette[i] = Bgr{local[3 * i + 2], local[3 * i + 1], local[3 * i]};
        } else if (global_count_ > 0) {
            entries = global_count_;
            for (int i = 0; i < entries; ++i) palette[i] = Bgr{global_[3 * i + 2], global_[3 * i + 1], global_[3 * i]};
        } else {
            throw EGifCorruptFile("Gif stream is corrupt");
        }

        const int min_size = Byte();
        if (min_size < 1 || min_size > 8) throw EGifCorruptFile("Gif stream is corrupt");
        ReadCodeStream();
        // Each code gives at most one table string (under 4096 pixels): a picture larger than
        // its data could ever fill is refused before its pixels are allocated.
        const uint64_t pixels = uint64_t(width) * uint64_t(height);
        const uint64_t most_codes = data_.size() * 8 / uint64_t(min_size + 1) + 1;
        if (pixels > most_codes * kMaxCodes) throw EGifCorruptFile("Gif stream is corrupt");

        CPicture& picture = *picture_;
        if (!picture.Create(width, height)) throw EGifCorruptFile("Gif stream is corrupt");
        picture.ResetDecodeState();  // a reused picture of the same size keeps nothing of before
        if (transparent_ >= 0) picture.EnsureAlpha();
        picture.SetPaletteSize(entries);
        for (int i = 0; i < entries; ++i) picture.SetPaletteEntry(i, palette[i]);

        std::vector<uint8_t> indexes(kRoots + size_t(pixels) + kSlack);
        Progress(0);
        Lzw(indexes, min_size, size_t(pixels), width);
        Store(indexes.data() + kRoots, palette, width, height, interlaced);
        Progress(100);
    }

    // The image's sub-blocks joined into one run of bytes. An empty first sub-block is a read
    // error; data cut short ends the run (decoding fails later only if pixels are missing).
    void ReadCodeStream() {
        data_.clear();
        int n = Byte();
        if (n <= 0) throw EGifFileReadError();
        while (n > 0) {
            const size_t at = data_.size();
            data_.resize(at + size_t(n));
            const size_t got = stream_.Read(data_.data() + at, size_t(n));
            if (got != size_t(n)) {
                data_.resize(at + got);
                return;
            }
            n = Byte();
        }
    }

    void Progress(int64_t position) {
        if (sink_.SetPos(position, true) == 0) throw EGraphicsAbort();
    }

    // Strings live in the output: a code is the offset and length of bytes already decoded
    // (the first 256 bytes of `out` hold 0..255 for the single-byte codes).
    void Lzw(std::vector<uint8_t>& buffer, int min_size, size_t pixels, int width) {
        uint8_t* const out = buffer.data();
        for (size_t i = 0; i < kRoots; ++i) out[i] = uint8_t(i);
        std::vector<Code> table(kMaxCodes);
        const int clear = 1 << min_size;
        const int end_code = clear + 1;
        for (int k = 0; k < clear; ++k) table[size_t(k)] = Code{uint32_t(k), 1};

        const uint8_t* p = data_.data();
        const uint8_t* const p_end = p + data_.size();
        uint64_t bits = 0;
        unsigned count = 0;
        int size = min_size + 1;
        int next = clear + 2;
        int prev = -1;
        size_t pos = kRoots;
        const size_t end = kRoots + pixels;
        const size_t progress_step = size_t(width) * 10;
        size_t progress_at = kRoots + progress_step;

        while (pos < end) {
            if (count < unsigned(size)) {
                if (p_end - p >= 8) {
                    uint64_t word;
                    std::memcpy(&word, p, 8);
                    bits |= word << count;
                    p += (63 - count) >> 3;
                    count |= 56;
                } else {
                    while (count <= 56 && p < p_end) {
                        bits |= uint64_t(*p++) << count;
                        count += 8;
                    }
                    if (count < unsigned(size)) throw EGifFileReadError();
                }
            }
            const int code = int(bits & ((1u << size) - 1));
            bits >>= size;
            count -= unsigned(size);

            if (code == clear) {
                size = min_size + 1;
                next = clear + 2;
                prev = -1;
                continue;
            }
            if (code == end_code) break;
            if (prev < 0) {
                if (code >= clear) break;  // no string to start from: keep what was decoded
                out[pos++] = uint8_t(code);
                prev = code;
                if (next >= (1 << size) && size < 12) ++size;
                continue;
            }
            const uint32_t prev_length = table[size_t(prev)].length;
            if (code < next) {
                const Code c = table[size_t(code)];
                CopyString(out + pos, out + c.offset, c.length);
                if (next < kMaxCodes) table[size_t(next++)] = Code{uint32_t(pos - prev_length), prev_length + 1};
                pos += c.length;
            } else if (code == next) {
                // The string not yet in the table: the previous one and its own first byte.
                const size_t from = pos - prev_length;
                CopyString(out + pos, out + from, prev_length);
                out[pos + prev_length] = out[from];
                table[size_t(next++)] = Code{uint32_t(pos), prev_length + 1};
                pos += prev_length + 1;
            } else {
                break;  // a code beyond the table: the rest of the data cannot be trusted
            }
            prev = code;
            if (next >= (1 << size) && size < 12) ++size;
            if (pos >= progress_at) {
                Progress(int64_t((std::min(pos, end) - kRoots) * 100 / pixels));
                progress_at = pos + progress_step;
            }
        }
        // Decoding stopped early: the copies' few stray bytes past the last string go, so the
        // pixels never decoded keep index 0.
        if (pos < end) std::memset(out + pos, 0, std::min<size_t>(end - pos, 16));
    }

    // The source ends at or before the destination, so 8-byte steps only read bytes that are
    // final; bytes written past the string are overwritten by the strings that follow (or lie
    // in the slack).
    static void CopyString(uint8_t* dst, const uint8_t* src, uint32_t length) {
        if (length <= 8) {
            std::memcpy(dst, src, 8);
            return;
        }
        for (uint32_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
    }

    void Store(const uint8_t* indexes, const Bgr* palette, int width, int height, bool interlaced) {
        CPicture& picture = *picture_;
        uint32_t packed[256];
        for (int i = 0; i < 256; ++i) packed[i] = uint32_t(palette[i].b) | uint32_t(palette[i].g) << 8 | uint32_t(palette[i].r) << 16;
        const int t = transparent_;
        auto put_row = [&](int y, const uint8_t* src) {
            uint8_t* row = picture.Row(y);
            // Four bytes per pixel, the fourth overwritten by the next pixel; the last pixel
            // is written alone so nothing lands past the row.
            for (int x = 0; x + 1 < width; ++x) std::memcpy(row + 3 * x, &packed[src[x]], 4);
            const Bgr& last = palette[src[width - 1]];
            row[3 * (width - 1)] = last.b;
            row[3 * (width - 1) + 1] = last.g;
            row[3 * (width - 1) + 2] = last.r;
            if (uint8_t* alpha = t >= 0 ? picture.AlphaRow(y) : nullptr)
                for (int x = 0; x < width; ++x) alpha[x] = src[x] == t ? 0 : 255;
        };
        if (!interlaced) {
            for (int y = 0; y < height; ++y) put_row(y, indexes + size_t(y) * size_t(width));
            return;
        }
        static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        size_t source_row = 0;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < height; y += kStep[pass])
                put_row(y, indexes + source_row++ * size_t(width));
    }

    DataStream& stream_;
    ProgressSink& sink_;
    CPicture* picture_;
    uint8_t global_[768] = {};
    int global_count_ = 0;
    int transparent_ = -1;
    int image_width_ = -1, image_height_ = -1;
    bool more_images_ = false;
    std::vector<uint8_t> data_;
};

bool HasGifSignature(DataStream& stream) {
    uint8_t header[6];
    stream.Rewind();
    const bool ok = stream.Read(header, 6) == 6 &&
                    (std::memcmp(header, "GIF87a", 6) == 0 || std::memcmp(header, "GIF89a", 6) == 0);
    stream.Rewind();
    return ok;
}

}  // namespace

bool CGifFormat::ReadInfo() {
    if (!HasGifSignature(*stream_)) return false;
    GifDecoder decoder(*stream_, *sink_, nullptr);
    try {
        decoder.Decode();
    } catch (const EGifError&) {
    }
    if (!decoder.ImageSeen() || decoder.ImageWidth() == 0 || decoder.ImageHeight() == 0) return false;
    width_ = decoder.ImageWidth();
    height_ = decoder.ImageHeight();
    depth_ = 8;
    info_text_ = "CompuServe Graphic Interchange Format (GIF)";
    return true;
}

bool CGifFormat::Load() {
    more_images_ = false;
    if (!picture_) return ReadInfo();
    if (!HasGifSignature(*stream_)) return false;
    sink_->Begin();
    sink_->SetRange(0, 100, true);
    try {
        GifDecoder decoder(*stream_, *sink_, picture_);
        decoder.Decode();
        more_images_ = decoder.MoreImages();
        width_ = decoder.ImageWidth();
        height_ = decoder.ImageHeight();
    } catch (...) {
        sink_->End(0);
        throw;
    }
    sink_->End(0);
    depth_ = 8;
    info_text_ = "CompuServe Graphic Interchange Format (GIF)";
    return true;
}

}  // namespace quorbel
