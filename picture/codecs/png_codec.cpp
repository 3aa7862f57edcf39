#include "picture/codecs/png_codec.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/png_inflate.h"
#include "platform/large_memory.h"

namespace quorbel {

CPngFormat::CPngFormat()
    : CGraphicsFormat("PNG", "Portable Network Graphics (PNG)", "PNG - Portable Network Graphic (*.png)|*.png|") {}

namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Bytes kept of a chunk other than image data: the largest chunk read field by field is a full
// PLTE (768 bytes); text chunks are only checked within their first 80 bytes. The rest of a
// longer chunk is read in pieces for its checksum and dropped.
constexpr uint32_t kKeptChunkBytes = 1024;
// Deflate cannot expand data by more than about 1032 to 1; image data declaring more raw bytes
// than that is refused before anything of its size is allocated.
constexpr uint64_t kMaxInflateRatio = 1032;


bool TypeIs(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

struct Pass {
    int x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// --- filters ---------------------------------------------------------------------------------

inline uint8_t PaethPredict(int a, int b, int c) {
    const int p = b - c, q = a - c;
    const int pa = p < 0 ? -p : p;
    const int pb = q < 0 ? -q : q;
    const int pc = (p + q) < 0 ? -(p + q) : p + q;
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Paeth with the pixel width known to the compiler, so each byte lane keeps its left and
// upper-left neighbours in registers.
template <int Bpp>
void UnPaeth(uint8_t* row, const uint8_t* prev, size_t n) {
    int left[Bpp], upleft[Bpp];
    for (int k = 0; k < Bpp && size_t(k) < n; ++k) {
        row[k] = uint8_t(row[k] + prev[k]);
        left[k] = row[k];
        upleft[k] = prev[k];
    }
    for (size_t i = Bpp; i + Bpp <= n; i += Bpp)
#pragma GCC unroll 8
        for (int k = 0; k < Bpp; ++k) {
            const int up = prev[i + size_t(k)];
            const uint8_t v = uint8_t(row[i + size_t(k)] + PaethPredict(left[k], up, upleft[k]));
            row[i + size_t(k)] = v;
            left[k] = v;
            upleft[k] = up;
        }
}

// Sub and Average with the pixel width known: the left neighbour of each byte lane stays in a
// register instead of being read back from the byte just stored.
template <int Bpp>
void UnSub(uint8_t* row, size_t n) {
    if (n < size_t(Bpp)) return;
    uint8_t left[Bpp];
    for (int k = 0; k < Bpp; ++k) left[k] = row[k];
    for (size_t i = Bpp; i + Bpp <= n; i += Bpp)
#pragma GCC unroll 8
        for (int k = 0; k < Bpp; ++k) left[k] = row[i + size_t(k)] = uint8_t(row[i + size_t(k)] + left[k]);
}

template <int Bpp>
void UnAverage(uint8_t* row, const uint8_t* prev, size_t n) {
    unsigned left[Bpp];
    for (int k = 0; k < Bpp && size_t(k) < n; ++k) left[k] = row[k] = uint8_t(row[k] + (prev[k] >> 1));
    for (size_t i = Bpp; i + Bpp <= n; i += Bpp)
#pragma GCC unroll 8
        for (int k = 0; k < Bpp; ++k)
            left[k] = row[i + size_t(k)] = uint8_t(row[i + size_t(k)] + ((left[k] + prev[i + size_t(k)]) >> 1));
}

void UnPaethAny(uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
    for (size_t i = 0; i < n; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int c = i >= bpp ? prev[i - bpp] : 0;
        row[i] = uint8_t(row[i] + PaethPredict(a, prev[i], c));
    }
}

// Undoes one row's filter in place; `prev` is the reconstructed row above (zeros for the
// first row of a pass). n is always a whole number of pixels for bpp > 1.
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        switch (bpp) {
        case 3: UnSub<3>(row, n); break;
        case 4: UnSub<4>(row, n); break;
        case 6: UnSub<6>(row, n); break;
        case 8: UnSub<8>(row, n); break;
        default:
            for (size_t i = bpp; i < n; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
            break;
        }
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i) row[i] = uint8_t(row[i] + prev[i]);
        return true;
    case 3:
        switch (bpp) {
        case 3: UnAverage<3>(row, prev, n); break;
        case 4: UnAverage<4>(row, prev, n); break;
        case 6: UnAverage<6>(row, prev, n); break;
        case 8: UnAverage<8>(row, prev, n); break;
        default:
            for (size_t i = 0; i < bpp && i < n; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
            for (size_t i = bpp; i < n; ++i) row[i] = uint8_t(row[i] + ((unsigned(row[i - bpp]) + prev[i]) >> 1));
            break;
        }
        return true;
    case 4:
        switch (bpp) {
        case 3: UnPaeth<3>(row, prev, n); break;
        case 4: UnPaeth<4>(row, prev, n); break;
        case 6: UnPaeth<6>(row, prev, n); break;
        case 8: UnPaeth<8>(row, prev, n); break;
        default: UnPaethAny(row, prev, n, bpp); break;
        }
        return true;
    default:
        return false;
    }
}

// --- the decoder -----------------------------------------------------------------------------

class PngDecoder {
public:
    PngDecoder(DataStream& stream, ProgressSink& sink, CPicture* picture, int64_t remaining)
        : stream_(stream), sink_(sink), picture_(picture), remaining_(remaining) {}

    struct Header {
        uint32_t width = 0, height = 0;
        int depth = 0, colour = 0, interlace = 0;
    };
    const Header& header() const { return header_; }
    bool HeaderSeen() const { return header_seen_; }

    // Header only (no picture): stops after a valid IHDR.
    void Decode() {
        uint8_t signature[8];
        if (!Read(signature, 8) || std::memcmp(signature, kSignature, 8) != 0) throw EPngError();
        bool first = true;
        while (ReadChunk()) {
            if (first != TypeIs(type_, "IHDR")) throw EPngError();
            first = false;
            Dispatch();
            if (!picture_) return;
            if (end_seen_) break;
        }
        // A file cut short before its end chunk is refused even when its image data happens to
        // be complete: a truncated file never passes for a whole one.
        if (!end_seen_ || !idat_seen_) throw EPngError();
        BuildPicture();
    }

private:
    bool Read(void* destination, size_t n) {
        if (stream_.Read(destination, n) != n) return false;
        remaining_ -= int64_t(n);
        return true;
    }

    // False only at a clean end of the stream where the next chunk's length would stand.
    bool ReadChunk() {
        uint8_t head[8];
        const size_t got = stream_.Read(head, 8);
        if (got < 4) return false;
        remaining_ -= int64_t(got);
        if (got < 8) throw EPngError();
        length_ = Be32(head);
        std::memcpy(type_, head + 4, 4);
        if (length_ & 0x80000000u) throw EPngError();
        // The length is believed only as far as the stream has bytes for it (data and CRC).
        if (int64_t(length_) + 4 > remaining_) throw EPngError();
        uint32_t crc = libdeflate_crc32(0, type_, 4);
        if (TypeIs(type_, "IDAT")) {
            const size_t at = idat_.size();
            idat_.resize(at + length_);
            if (!Read(idat_.data() + at, length_)) throw EPngError();
            crc = libdeflate_crc32(crc, idat_.data() + at, length_);
        } else {
            const uint32_t kept = std::min(length_, kKeptChunkBytes);
            data_.resize(kept);
            if (!Read(data_.data(), kept)) throw EPngError();
            crc = libdeflate_crc32(crc, data_.data(), kept);
            uint32_t rest = length_ - kept;
            uint8_t piece[16384];
            while (rest > 0) {
                const uint32_t n = std::min<uint32_t>(rest, sizeof piece);
                if (!Read(piece, n)) throw EPngError();
                crc = libdeflate_crc32(crc, piece, n);
                rest -= n;
            }
        }
        uint8_t stored[4];
        if (!Read(stored, 4) || Be32(stored) != crc) throw EPngError();
        return true;
    }

    void Dispatch() {
        const bool is_idat = TypeIs(type_, "IDAT");
        // Image data is one unbroken run of IDAT chunks.
        if (idat_seen_ && !is_idat) idat_done_ = true;
        if (TypeIs(type_, "IHDR")) {
            Ihdr();
        } else if (is_idat) {
            if (idat_done_) throw EPngError();
            if (header_.colour == 3 && !plte_seen_) throw EPngError();
            idat_seen_ = true;
        } else if (TypeIs(type_, "PLTE")) {
            Plte();
        } else if (TypeIs(type_, "IEND")) {
            end_seen_ = true;
        } else if (TypeIs(type_, "bKGD")) {
            Bkgd();
        } else if (TypeIs(type_, "gAMA")) {
            Require(!plte_seen_ && !idat_seen_ && length_ >= 4);
            gamma_ = double(Be32(data_.data())) * 0.00001;
        } else if (TypeIs(type_, "cHRM")) {
            Require(!plte_seen_ && !idat_seen_ && length_ == 32);
        } else if (TypeIs(type_, "hIST")) {
            Require(plte_seen_ && !idat_seen_ && length_ == 2 * uint32_t(palette_count_));
        } else if (TypeIs(type_, "pHYs")) {
            Require(!idat_seen_ && length_ == 9);
        } else if (TypeIs(type_, "sBIT")) {
            static constexpr uint32_t kLeast[7] = {1, 0, 3, 3, 2, 0, 4};
            Require(!plte_seen_ && !idat_seen_ && length_ >= kLeast[header_.colour]);
        } else if (TypeIs(type_, "tIME")) {
            Require(length_ == 7);
        } else if (TypeIs(type_, "tEXt") || TypeIs(type_, "zTXt")) {
            const size_t look = std::min<size_t>(data_.size(), 80);
            Require(look > 0 && std::memchr(data_.data(), 0, look) != nullptr);
        } else if (TypeIs(type_, "tRNS")) {
            // Accepted; palette and grey transparency are not shown.
        } else if (!(type_[0] & 0x20)) {
            throw EPngError();  // a critical chunk this decoder does not know
        }
    }

    static void Require(bool condition) {
        if (!condition) throw EPngError();
    }

    void Ihdr() {
        if (header_seen_ || length_ != 13) throw EPngError();
        const uint8_t* d = data_.data();
        Header h;
        h.width = Be32(d);
        h.height = Be32(d + 4);
        h.depth = d[8];
        h.colour = d[9];
        h.interlace = d[12];
        if (d[10] != 0 || d[11] != 0 || h.interlace > 1) throw EPngError();
        const int depth = h.depth;
        const bool depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        bool combination = false;
        switch (h.colour) {
        case 0: combination = depth_ok; break;
        case 3: combination = depth_ok && depth != 16; break;
        case 2: case 4: case 6: combination = depth == 8 || depth == 16; break;
        default: break;
        }
        if (!combination || !PictureSizeAllowed(int64_t(h.width), int64_t(h.height))) throw EPngError();
        header_ = h;
        header_seen_ = true;
    }

    void Plte() {
        if (plte_seen_ || idat_seen_ || bkgd_seen_ || header_.colour == 0 || header_.colour == 4) throw EPngError();
        if (length_ == 0 || length_ % 3 != 0 || length_ > 768) throw EPngError();
        plte_seen_ = true;
        palette_count_ = int(length_ / 3);
        for (int i = 0; i < palette_count_; ++i)
            palette_[size_t(i)] = Bgr{data_[size_t(3 * i + 2)], data_[size_t(3 * i + 1)], data_[size_t(3 * i)]};
    }

    // The background colour is kept, never painted: one palette index, one 16-bit grey value
    // or three 16-bit channels, after the palette when there is one.
    void Bkgd() {
        if (bkgd_seen_ || idat_seen_) throw EPngError();
        bkgd_seen_ = true;
        switch (header_.colour) {
        case 3:
            Require(plte_seen_ && length_ == 1 && data_[0] < palette_count_);
            background_ = palette_[data_[0]];
            break;
        case 0:
        case 4: {
            Require(length_ == 2);
            const unsigned grey = unsigned(data_[0]) << 8 | data_[1];
            Require(grey < (1u << header_.depth));
            const uint8_t level = header_.depth == 16 ? uint8_t(grey >> 8) : GreyLevel(grey, header_.depth);
            background_ = Bgr{level, level, level};
            break;
        }
        default:
            Require(length_ == 6);
            background_ = Bgr{data_[4], data_[2], data_[0]};
            break;
        }
    }

    static uint8_t GreyLevel(unsigned i, int depth) {
        if (depth >= 8) return uint8_t(i);
        const unsigned top = (1u << depth) - 1;
        return uint8_t((i * 255 + top - 1) / top);
    }

    // --- pixels ----------------------------------------------------------------------------

    int Samples() const {
        static constexpr int kSamples[7] = {1, 0, 3, 1, 2, 0, 4};
        return kSamples[header_.colour];
    }
    size_t RowBytes(uint64_t width) const {
        return size_t((width * uint64_t(header_.depth) * uint64_t(Samples()) + 7) / 8);
    }

    void BuildPicture() {
        const Header& h = header_;
        const size_t bpp = std::max<size_t>(1, size_t(h.depth * Samples()) / 8);
        // Rows of every pass, each a filter byte and its data.
        struct PassRows {
            int x0, y0, dx, dy;
            uint64_t columns, rows;
        };
        std::vector<PassRows> passes;
        if (h.interlace) {
            for (const Pass& p : kAdam7) {
                if (uint32_t(p.x0) >= h.width || uint32_t(p.y0) >= h.height) continue;
                passes.push_back({p.x0, p.y0, p.dx, p.dy, (h.width - uint32_t(p.x0) + uint32_t(p.dx) - 1) / uint32_t(p.dx),
                                  (h.height - uint32_t(p.y0) + uint32_t(p.dy) - 1) / uint32_t(p.dy)});
            }
        } else {
            passes.push_back({0, 0, 1, 1, h.width, h.height});
        }
        uint64_t raw_size = 0;
        for (const PassRows& p : passes) raw_size += p.rows * (1 + uint64_t(RowBytes(p.columns)));
        if (raw_size > uint64_t(idat_.size()) * kMaxInflateRatio + 1024) throw EPngError();

        // The zlib wrapper: deflate, a window of at most 32 KB, no preset dictionary.
        if (idat_.size() < 2) throw EPngError();
        const uint8_t cmf = idat_[0], flg = idat_[1];
        if ((cmf & 15) != 8 || (cmf >> 4) > 7 || (unsigned(cmf) * 256 + flg) % 31 != 0 || (flg & 0x20)) throw EPngError();
        // Not zero-filled: the inflater writes every byte of it (anything less is refused).
        std::unique_ptr<uint8_t, decltype(&std::free)> raw(AllocateLarge(size_t(raw_size) + kInflateSlack), &std::free);
        if (!raw) throw std::bad_alloc();
        size_t produced = 0, consumed = 0;
        if (!InflateRaw(idat_.data() + 2, idat_.size() - 2, raw.get(), size_t(raw_size), produced, consumed) ||
            produced != raw_size)
            throw EPngError();
        // The Adler-32 trailer must be there; like the chunk checksums before it, it is not
        // needed to trust the pixels.
        if (idat_.size() - 2 - consumed < 4) throw EPngError();
        std::vector<uint8_t>().swap(idat_);

        CPicture& picture = *picture_;
        if (!picture.Create(int(h.width), int(h.height))) throw EPngError();
        picture.ResetDecodeState();  // a reused picture of the same size keeps nothing of before
        if (h.colour == 4 || h.colour == 6) picture.EnsureAlpha();
        if (h.colour == 0 || h.colour == 4) {
            const int entries = h.depth >= 8 ? 256 : 1 << h.depth;
            picture.SetPaletteSize(entries);
            for (int i = 0; i < entries; ++i) {
                const uint8_t level = GreyLevel(unsigned(i), h.depth);
                picture.SetPaletteEntry(i, Bgr{level, level, level});
            }
        } else if (h.colour == 3) {
            picture.SetPaletteSize(palette_count_);
            for (int i = 0; i < palette_count_; ++i) picture.SetPaletteEntry(i, palette_[size_t(i)]);
        }
        picture.SetDepth(h.depth * Samples());
        lookup_ = PaletteLookup(picture);

        std::vector<uint8_t> zeros(RowBytes(h.width) + 8, 0);
        std::vector<uint8_t> bgr, alpha;
        uint8_t* data = raw.get();
        int64_t rows_done = 0, rows_total = 0;
        for (const PassRows& p : passes) rows_total += int64_t(p.rows);
        for (const PassRows& p : passes) {
            const size_t n = RowBytes(p.columns);
            const uint8_t* prev = zeros.data();
            const bool scatter = p.dx != 1;
            if (scatter) {
                bgr.resize(size_t(p.columns) * 3 + 8);
                alpha.resize(size_t(p.columns));
            }
            for (uint64_t r = 0; r < p.rows; ++r) {
                uint8_t* row = data + 1;
                if (!Unfilter(data[0], row, prev, n, bpp)) throw EPngError();
                const int y = int(uint64_t(p.y0) + r * uint64_t(p.dy));
                if (!scatter) {
                    Convert(row, picture.Row(y), picture.AlphaRow(y), size_t(p.columns));
                } else {
                    Convert(row, bgr.data(), alpha.data(), size_t(p.columns));
                    uint8_t* out = picture.Row(y);
                    uint8_t* out_alpha = picture.AlphaRow(y);
                    for (uint64_t i = 0; i < p.columns; ++i) {
                        const size_t x = size_t(uint64_t(p.x0) + i * uint64_t(p.dx));
                        std::memcpy(out + 3 * x, bgr.data() + 3 * i, 3);
                        if (out_alpha) out_alpha[x] = alpha[size_t(i)];
                    }
                }
                prev = row;
                data += 1 + n;
                if (++rows_done % 10 == 0 && sink_.SetPos(rows_done * 100 / rows_total, true) == 0)
                    throw EGraphicsAbort();
            }
        }
    }

    // One reconstructed row into `count` blue-green-red pixels (and alpha bytes when the
    // picture has a plane).
    void Convert(const uint8_t* s, uint8_t* d, uint8_t* a, size_t count) const {
        const Header& h = header_;
        const size_t step = h.depth == 16 ? 2 : 1;  // 16-bit samples: the high byte only
        switch (h.colour) {
        case 0:
        case 3:
            if (h.depth >= 8) {
                for (size_t x = 0; x < count; ++x) Put(d, x, lookup_[s[x * step]]);
            } else {
                const int depth = h.depth;
                const unsigned mask = (1u << depth) - 1;
                for (size_t x = 0; x < count; ++x) {
                    const size_t bit = x * size_t(depth);
                    const unsigned index = (unsigned(s[bit >> 3]) >> (8 - depth - int(bit & 7))) & mask;
                    Put(d, x, lookup_[index]);
                }
            }
            break;
        case 2:
            if (step == 1) {
                for (size_t x = 0; x < count; ++x, s += 3, d += 3) {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
            } else {
                for (size_t x = 0; x < count; ++x, s += 6, d += 3) {
                    d[0] = s[4];
                    d[1] = s[2];
                    d[2] = s[0];
                }
            }
            break;
        case 4:
            for (size_t x = 0; x < count; ++x, s += 2 * step, d += 3) {
                d[0] = d[1] = d[2] = s[0];
                if (a) a[x] = s[step];
            }
            break;
        case 6:
            for (size_t x = 0; x < count; ++x, s += 4 * step, d += 3) {
                d[0] = s[2 * step];
                d[1] = s[step];
                d[2] = s[0];
                if (a) a[x] = s[3 * step];
            }
            break;
        default:
            break;
        }
    }
    static void Put(uint8_t* d, size_t x, Bgr c) {
        d[3 * x] = c.b;
        d[3 * x + 1] = c.g;
        d[3 * x + 2] = c.r;
    }

    DataStream& stream_;
    ProgressSink& sink_;
    CPicture* picture_;
    int64_t remaining_;
    Header header_;
    bool header_seen_ = false, plte_seen_ = false, bkgd_seen_ = false;
    bool idat_seen_ = false, idat_done_ = false, end_seen_ = false;
    uint32_t length_ = 0;
    uint8_t type_[4] = {};
    std::vector<uint8_t> data_;
    std::vector<uint8_t> idat_;
    Bgr palette_[256] = {};
    int palette_count_ = 0;
    Bgr background_;
    double gamma_ = 0;
    PaletteLookup lookup_;
};

bool HasPngSignature(DataStream& stream) {
    uint8_t signature[8];
    stream.Rewind();
    const bool ok = stream.Read(signature, 8) == 8 && std::memcmp(signature, kSignature, 8) == 0;
    stream.Rewind();
    return ok;
}

}  // namespace

bool CPngFormat::ReadInfo() {
    if (!HasPngSignature(*stream_)) return false;
    PngDecoder decoder(*stream_, *sink_, nullptr, StreamRemaining());
    try {
        decoder.Decode();
    } catch (const EPngError&) {
    }
    if (!decoder.HeaderSeen()) return false;
    width_ = int(decoder.header().width);
    height_ = int(decoder.header().height);
    depth_ = decoder.header().depth;
    info_text_ = "Portable Network Graphics (PNG)";
    return true;
}

bool CPngFormat::Load() {
    if (!picture_) return ReadInfo();
    if (!HasPngSignature(*stream_)) return false;
    sink_->Begin();
    sink_->SetRange(0, 100, true);
    PngDecoder decoder(*stream_, *sink_, picture_, StreamRemaining());
    try {
        decoder.Decode();
    } catch (...) {
        sink_->End(0);
        throw;
    }
    sink_->End(0);
    width_ = int(decoder.header().width);
    height_ = int(decoder.header().height);
    depth_ = decoder.header().depth;
    info_text_ = "Portable Network Graphics (PNG)";
    return true;
}

}  // namespace quorbel
