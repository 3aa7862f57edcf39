#include "picture/codecs/jpeg_codec.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/codecs/jpeg_idct.h"

namespace quorbel {

namespace {

using jpeg::DcOnlySample;

// Zigzag position -> natural (row-major) index, walked along the anti-diagonals.
struct Zigzag {
    uint8_t natural[64 + 16] = {};  // the tail absorbs an index past 63 read before it is refused
    constexpr Zigzag() {
        int k = 0;
        for (int s = 0; s < 15; ++s) {
            const int lo = std::max(0, s - 7), hi = std::min(s, 7);
            if (s % 2 == 0)
                for (int y = hi; y >= lo; --y) natural[k++] = uint8_t(y * 8 + (s - y));
            else
                for (int y = lo; y <= hi; ++y) natural[k++] = uint8_t(y * 8 + (s - y));
        }
        for (int i = 64; i < 80; ++i) natural[i] = 63;
    }
};
constexpr Zigzag kZigzag;

constexpr int kFastBits = 11;
// Lookahead of the table that passes over several AC codes at once (decoding at 1/8).
constexpr int kSkipBits = 13;

[[noreturn]] void Bad(const char* text) { throw EJpegBadData(text); }

// A segment cut short by the end of the data: the marker loop decides what that means.
struct CutShort {};

struct Huffman {
    bool defined = false;
    uint8_t values[256] = {};
    uint16_t fast[1 << kFastBits] = {};  // (length << 8) | value; 0: a longer code
    // AC codes whose extra bits also lie within the lookahead, decoded whole:
    // (coefficient << 16) | (run << 8) | bits used; 0: take the symbol path.
    int32_t fast_ac[1 << kFastBits] = {};
    // For blocks whose AC values are not needed (decoding at 1/8): bits to pass (code and
    // value), in the low byte; coefficients to advance, next byte; bit 15 for EOB. 0: longer.
    uint16_t skip[1 << kFastBits] = {};
    // The same for as many whole codes (with their value bits) as the lookahead holds, up to
    // and including an EOB: bits to pass in bits 0-4, coefficients to advance in bits 5-11,
    // bit 15 when the last of them is an EOB. 0: not even one code fits.
    uint16_t skip_many[1 << kSkipBits] = {};
    int32_t maxcode[18] = {};             // largest code of each length, -1 when none
    int32_t offset[17] = {};              // value index = code + offset[length]

    // The canonical code of T.81 Annex C from the 16 counts; an over-full set is refused.
    void Build(const uint8_t counts[17], const uint8_t* symbols, int total) {
        std::memset(fast, 0, sizeof fast);
        std::memcpy(values, symbols, size_t(total));
        int32_t code = 0;
        int k = 0;
        for (int len = 1; len <= 16; ++len) {
            offset[len] = k - code;
            for (int i = 0; i < counts[len]; ++i) {
                if (code >= (int32_t(1) << len)) Bad("Bad Huffman table");
                if (len <= kFastBits) {
                    const int shift = kFastBits - len;
                    for (int j = 0; j < (1 << shift); ++j) fast[(code << shift) + j] = uint16_t((len << 8) | values[k]);
                }
                ++code;
                ++k;
            }
            maxcode[len] = counts[len] ? code - 1 : -1;
            code <<= 1;
        }
        maxcode[17] = INT32_MAX;
        defined = true;
        for (int i = 0; i < (1 << kFastBits); ++i) {
            fast_ac[i] = 0;
            skip[i] = 0;
            if (!fast[i]) continue;
            {
                const int len = fast[i] >> 8, sym = fast[i] & 255, run = sym >> 4, size = sym & 15;
                const bool eob = size == 0 && run != 15;
                skip[i] = uint16_t((eob ? 0x8000 : 0) | ((eob ? 0 : run + 1) << 8) | (len + (eob ? 0 : size)));
            }
            const int len = fast[i] >> 8, sym = fast[i] & 255, run = sym >> 4, size = sym & 15;
            if (size == 0 || len + size > kFastBits) continue;
            const int raw = (i >> (kFastBits - len - size)) & ((1 << size) - 1);
            const int value = raw < (1 << (size - 1)) ? raw - (1 << size) + 1 : raw;
            fast_ac[i] = int32_t(uint32_t(value) << 16) | (run << 8) | (len + size);
        }
        for (int i = 0; i < (1 << kSkipBits); ++i) {
            int used = 0, advance = 0;
            bool eob = false;
            while (!eob) {
                const int left = kSkipBits - used;
                if (left <= 0) break;
                // The next code's entry: its first kFastBits bits, zero-padded past the lookahead.
                const int peek = left >= kFastBits ? (i >> (left - kFastBits)) & ((1 << kFastBits) - 1)
                                                   : (i << (kFastBits - left)) & ((1 << kFastBits) - 1);
                const unsigned e = skip[peek];
                // Past 64 coefficients the entry could never be taken: stop before it.
                if (!e || int(e & 255) > left || advance + int((e >> 8) & 127) > 64) break;
                used += int(e & 255);
                eob = (e & 0x8000) != 0;
                advance += int((e >> 8) & 127);
            }
            skip_many[i] = used ? uint16_t((eob ? 0x8000 : 0) | (advance << 5) | used) : 0;
        }
    }
};

// The entropy-coded data: a 64-bit buffer, most significant bit next, refilled eight bytes at
// a time where no 0xFF is near. At a marker or the end of the data zeros are fed, counted, so
// that a scan reading past its data is noticed.
struct BitReader {
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    uint64_t buf = 0;
    int count = 0;
    int phantom = 0;   // zero bits fed beyond the data
    bool stopped = false;

    void Reset(const uint8_t* from, const uint8_t* to) {
        p = from;
        end = to;
        buf = 0;
        count = phantom = 0;
        stopped = false;
    }
    static bool HasFF(uint64_t w) {
        const uint64_t v = ~w;
        return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0;
    }
    void Refill() {
        while (count <= 56) {
            if (stopped) {
                count += 8;
                phantom += 8;
                continue;
            }
            if (end - p >= 8) {
                uint64_t w;
                std::memcpy(&w, p, 8);
                if (!HasFF(w)) {
                    w = __builtin_bswap64(w);
                    const int take = (64 - count) >> 3;
                    const int filled = count + 8 * take;
                    uint64_t add = w >> count;
                    if (filled < 64) add &= ~((uint64_t(1) << (64 - filled)) - 1);
                    buf |= add;
                    count = filled;
                    p += take;
                    continue;
                }
            }
            if (p >= end) {
                stopped = true;
                continue;
            }
            const uint8_t b = *p;
            if (b == 0xFF) {
                if (p + 1 < end && p[1] == 0) {
                    p += 2;
                } else {
                    stopped = true;  // a marker: the scan's data ends here
                    continue;
                }
            } else {
                ++p;
            }
            buf |= uint64_t(b) << (56 - count);
            count += 8;
        }
    }
    void Ensure() {
        if (count < 32) Refill();
    }
    void Consume(int n) {
        buf <<= n;
        count -= n;
    }
    // n in 1..16; the buffer holds at least 32 bits.
    int Take(int n) {
        const int v = int(buf >> (64 - n));
        Consume(n);
        return v;
    }
    int Bit() { return Take(1); }
    bool Overrun() const { return count < phantom; }
};

inline int Extend(int v, int s) { return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v; }

inline int DecodeSymbol(BitReader& b, const Huffman& h) {
    const unsigned e = h.fast[b.buf >> (64 - kFastBits)];
    if (e) {
        b.Consume(int(e >> 8));
        return int(e & 255);
    }
    for (int len = kFastBits + 1; len <= 16; ++len) {
        const int32_t code = int32_t(b.buf >> (64 - len));
        if (code <= h.maxcode[len]) {
            b.Consume(len);
            return h.values[code + h.offset[len]];
        }
    }
    Bad("Bad Huffman code");
}

struct Component {
    int id = 0, h = 1, v = 1, tq = 0;
    int bw = 0, bh = 0;     // blocks holding the component's samples
    int pbw = 0, pbh = 0;   // blocks padded to whole MCUs
    int cw = 0, ch = 0;     // samples at the decoded scale
    int bsz = 8;            // samples per block side at the decoded scale
    int uh = 1, uv = 1;     // upsampling still needed after that
    int dc_table = 0, ac_table = 0;
    int pred = 0;
    bool latched = false, dc_seen = false;
    int32_t q_zigzag[64] = {};
    uint16_t q_natural[64] = {};
    std::vector<int16_t> coefficients;  // progressive: pbw x pbh blocks of 64, natural order
    std::vector<uint8_t> plane;
    size_t stride = 0;
};

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size, CPicture* picture, ProgressSink& sink, const JpegOptions& options)
        : data_(data), size_(size), picture_(picture), sink_(sink), options_(options) {
        scale_ = options.scale == 2 || options.scale == 4 || options.scale == 8 ? options.scale : 1;
        bs_ = 8 / scale_;
    }

    bool Run(JpegHeader* header) {
        if (size_ < 2 || data_[0] != 0xFF || data_[1] != 0xD8) Bad("Not a JPEG file");
        pos_ = 2;
        bool eoi = false;
        while (!eoi && !truncated_) {
            const int marker = NextMarker();
            if (marker < 0) break;
            try {
                eoi = Marker(marker, header);
            } catch (const CutShort&) {
                truncated_ = true;
            }
            if (done_) return true;
        }
        if (header) *header = header_;
        if (!picture_) return false;
        if (!allocated_) Bad("Premature end of file");
        if (!eoi) {
            // Without EOI the picture stands when every component had a complete scan (for a
            // progressive file: its first DC scan), so that the picture is whole, perhaps less
            // detailed. A sequential file cut inside a scan is refused: part would be missing.
            bool whole = true;
            for (int c = 0; c < ncomp_; ++c) whole = whole && comp_[c].dc_seen;
            if (!whole || (truncated_ && !progressive_))
                Bad(truncated_at_marker_ ? "Unexpected Marker" : "Premature end of file");
        }
        Output();
        return true;
    }

private:
    // One marker of the loop; true at EOI.
    bool Marker(int marker, JpegHeader* header) {
        {
            switch (marker) {
            case 0xD8: break;
            case 0xC0: case 0xC1: case 0xC2:
                Frame(marker == 0xC2);
                if (!picture_) {
                    if (header) *header = header_;
                    done_ = true;
                }
                break;
            case 0xC3: Bad("Lossless Huffman Coding Not Supported");
            case 0xC5: Bad("Differential Sequential Huffman Coding Not Supported");
            case 0xC6: Bad("Differential Progressive Huffman Coding Not Supported");
            case 0xC7: Bad("Differential Lossless Huffman Coding Not Supported");
            case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
                Bad("Cannot read image - Arithmetic Coding covered by patents");
            case 0xC4: Dht(); break;
            case 0xDA: Scan(); break;
            case 0xDB: Dqt(); break;
            case 0xDD: Dri(); break;
            case 0xDE: Bad("DHP marker not supported");
            case 0xD9: return true;
            case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
                break;  // a stray restart marker between segments carries nothing
            default:
                if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
                    App(marker);
                    break;
                }
                Bad("Unknown, unsupported, or reserved marker encountered");
            }
        }
        return false;
    }

    // --- markers and segments ------------------------------------------------------------------

    // The next marker code, or -1 at the end of the data. Bytes before a 0xFF (junk that some
    // writers leave between segments) and fill 0xFFs are passed over.
    int NextMarker() {
        while (pos_ < size_) {
            if (data_[pos_] != 0xFF) {
                ++pos_;
                continue;
            }
            while (pos_ < size_ && data_[pos_] == 0xFF) ++pos_;
            if (pos_ >= size_) return -1;
            const int m = data_[pos_++];
            if (m != 0) return m;
        }
        return -1;
    }

    // The segment after a marker: its bytes without the length field; pos_ moves past it.
    std::pair<const uint8_t*, size_t> Segment() {
        if (size_ - pos_ < 2) CutOff();
        const size_t length = size_t(data_[pos_]) << 8 | data_[pos_ + 1];
        if (length < 2) Bad("Bad segment length");
        if (length > size_ - pos_) CutOff();
        const uint8_t* body = data_ + pos_ + 2;
        pos_ += length;
        return {body, length - 2};
    }

    [[noreturn]] void CutOff() {
        pos_ = size_;
        if (allocated_) throw CutShort();
        Bad("Premature end of file");
    }

    void App(int marker) {
        auto [p, n] = Segment();
        // Adobe's APP14 says which colour space three components hold: transform 0 is RGB.
        if (marker == 0xEE && n >= 12 && std::memcmp(p, "Adobe", 5) == 0) adobe_transform_ = p[11];
    }

    void Dri() {
        auto [p, n] = Segment();
        if (n < 2) Bad("Bad restart interval length");
        restart_interval_ = p[0] << 8 | p[1];
    }

    void Dqt() {
        auto [p, n] = Segment();
        size_t i = 0;
        while (i < n) {
            // 16-bit entries are what encoders write for very low qualities (cjpeg -quality 5
            // without -baseline); they decode like 8-bit ones.
            const int pq = p[i] >> 4, tq = p[i] & 15;
            if (pq > 1) Bad("Bad quantisation table precision");
            if (tq > 3) Bad("Bad quantisation table index");
            const size_t entry = pq ? 2 : 1;
            if (n - i - 1 < 64 * entry) Bad("Bad quantisation table length");
            for (size_t k = 0; k < 64; ++k) {
                const uint8_t* e = p + i + 1 + k * entry;
                const int q = pq ? e[0] << 8 | e[1] : e[0];
                if (q == 0) Bad("Zero in quantisation table");
                quant_[tq][k] = uint16_t(q);
            }
            quant_defined_[tq] = true;
            i += 1 + 64 * entry;
        }
    }

    void Dht() {
        auto [p, n] = Segment();
        size_t i = 0;
        while (i < n) {
            const int tc = p[i] >> 4, th = p[i] & 15;
            if (tc > 1 || th > 3) Bad("Bad Huffman table index");
            if (n - i - 1 < 16) Bad("Bad Huffman table length");
            uint8_t counts[17] = {};
            int total = 0;
            for (int len = 1; len <= 16; ++len) total += counts[len] = p[i + size_t(len)];
            // More than 256 values cannot be distinct symbols, and they must lie in the segment.
            if (total > 256) Bad("Bad Huffman table");
            if (n - i - 17 < size_t(total)) Bad("Bad Huffman table length");
            (tc == 0 ? dc_ : ac_)[th].Build(counts, p + i + 17, total);
            i += 17 + size_t(total);
        }
    }

    void Frame(bool progressive) {
        if (frame_) Bad("Second frame header");
        auto [p, n] = Segment();
        if (n < 6) Bad("Bad frame header length");
        if (p[0] != 8) Bad("Unsupported sample precision");
        const int height = p[1] << 8 | p[2], width = p[3] << 8 | p[4], count = p[5];
        header_.width = width;
        header_.height = height;
        header_.depth = count * 8;
        header_.components = count;
        header_.progressive = progressive;
        frame_ = true;
        progressive_ = progressive;
        if (!picture_) return;
        if (count != 1 && count != 3) Bad("Unsupported number of components");
        if (n != size_t(6 + 3 * count)) Bad("Bad frame header length");
        if (width == 0 || height == 0) Bad("Bad picture size");
        if (!PictureSizeAllowed(width, height)) Bad("Picture too large");
        ncomp_ = count;
        hmax_ = vmax_ = 1;
        for (int c = 0; c < count; ++c) {
            Component& k = comp_[c];
            const uint8_t* e = p + 6 + 3 * c;
            k.id = e[0];
            k.h = e[1] >> 4;
            k.v = e[1] & 15;
            k.tq = e[2];
            if (k.h < 1 || k.h > 4 || k.v < 1 || k.v > 4) throw EJpegValueOutOfRange("Bad sampling factor");
            if (k.tq > 3) Bad("Bad quantisation table index");
            for (int d = 0; d < c; ++d)
                if (comp_[d].id == k.id) Bad("Duplicate component identifier");
            if (options_.strict_component_ids && k.id != c + 1) Bad("Bad component identifier");
            hmax_ = std::max(hmax_, k.h);
            vmax_ = std::max(vmax_, k.v);
        }
        width_ = width;
        height_ = height;
        mcux_ = (width + 8 * hmax_ - 1) / (8 * hmax_);
        mcuy_ = (height + 8 * vmax_ - 1) / (8 * vmax_);
        for (int c = 0; c < count; ++c) {
            Component& k = comp_[c];
            // Each component must cover the largest one a whole number of times.
            if (hmax_ % k.h != 0 || vmax_ % k.v != 0) Bad("Sampling ratios not whole");
            const int sw = (width * k.h + hmax_ - 1) / hmax_, sh = (height * k.v + vmax_ - 1) / vmax_;
            k.bw = (sw + 7) / 8;
            k.bh = (sh + 7) / 8;
            k.pbw = count == 1 ? k.bw : mcux_ * k.h;
            k.pbh = count == 1 ? k.bh : mcuy_ * k.v;
            // Reduced for display, a subsampled component keeps more of its transform instead
            // of being upsampled: 4:2:0 chroma at 1/8 is a 2 x 2 transform at the luma's
            // resolution. Without the filter (thumbnails) it is repeated like at full size.
            const int rh = hmax_ / k.h, rv = vmax_ / k.v;
            k.bsz = bs_;
            k.uh = rh;
            k.uv = rv;
            if (options_.fancy_upsampling && rh == rv && bs_ < 8 && (rh == 2 || rh == 4) && bs_ * rh <= 8) {
                k.bsz = bs_ * rh;
                k.uh = k.uv = 1;
            }
            k.cw = (sw * k.bsz + 7) / 8;
            k.ch = (sh * k.bsz + 7) / 8;
        }
        out_width_ = (width + scale_ - 1) / scale_;
        out_height_ = (height + scale_ - 1) / scale_;
    }

    // Picture and planes, made when the first scan shows that data follows the headers.
    void Allocate(size_t scan_blocks) {
        if (allocated_) return;
        if (uint64_t(size_ - pos_) * 8 < scan_blocks) Bad("Premature end of file");
        if (!picture_->Create(out_width_, out_height_)) Bad("Picture too large");
        if (ncomp_ == 1) {
            picture_->SetPaletteSize(256);
            for (int i = 0; i < 256; ++i) picture_->SetPaletteEntry(i, Bgr{uint8_t(i), uint8_t(i), uint8_t(i)});
        }
        picture_->SetDepth(ncomp_ * 8);
        for (int c = 0; c < ncomp_; ++c) {
            Component& k = comp_[c];
            k.stride = size_t(k.pbw) * size_t(k.bsz);
            k.plane.assign(k.stride * size_t(k.pbh) * size_t(k.bsz), 0);
            if (progressive_) k.coefficients.assign(size_t(k.pbw) * size_t(k.pbh) * 64, 0);
        }
        allocated_ = true;
    }

    // --- scans ---------------------------------------------------------------------------------

    void Scan() {
        if (!frame_) Bad("Scan before frame header");
        auto [p, n] = Segment();
        if (n < 1) Bad("Bad scan header length");
        const int ns = p[0];
        if (ns < 1 || ns > ncomp_) Bad("Bad scan component count");
        if (n != size_t(4 + 2 * ns)) Bad("Bad scan header length");
        for (int i = 0; i < ns; ++i) {
            const int id = p[1 + 2 * i], tables = p[2 + 2 * i];
            int found = -1;
            for (int c = 0; c < ncomp_; ++c)
                if (comp_[c].id == id) found = c;
            if (found < 0) Bad("Scan names an unknown component");
            for (int j = 0; j < i; ++j)
                if (scan_[j] == found) Bad("Scan names a component twice");
            scan_[i] = found;
            Component& k = comp_[found];
            k.dc_table = tables >> 4;
            k.ac_table = tables & 15;
            if (k.dc_table > 3 || k.ac_table > 3) Bad("Bad Huffman table index");
        }
        ns_ = ns;
        ss_ = p[1 + 2 * ns];
        se_ = p[2 + 2 * ns];
        ah_ = p[3 + 2 * ns] >> 4;
        al_ = p[3 + 2 * ns] & 15;
        if (progressive_) {
            if (ss_ > se_ || se_ > 63) Bad("Bad spectral selection");
            if (ss_ == 0 && se_ != 0) Bad("Bad spectral selection");
            if (ss_ > 0 && ns != 1) Bad("AC scans hold one component");
            if (ah_ > 13 || al_ > 13) Bad("Bad successive approximation");
        }
        int blocks_per_mcu = 0;
        for (int i = 0; i < ns; ++i) blocks_per_mcu += comp_[scan_[i]].h * comp_[scan_[i]].v;
        if (ns > 1 && blocks_per_mcu > 10) Bad("Too many blocks in an MCU");
        const bool dc_scan = !progressive_ || ss_ == 0;
        for (int i = 0; i < ns; ++i) {
            Component& k = comp_[scan_[i]];
            const bool need_dc = !progressive_ || (ss_ == 0 && ah_ == 0);
            const bool need_ac = !progressive_ || ss_ > 0;
            if ((need_dc && !dc_[k.dc_table].defined) || (need_ac && !ac_[k.ac_table].defined))
                throw EJpegFatal("Huffman table not defined");
            if (!k.latched) {
                // The table in force at a component's first scan is the one its data was made
                // with, even should a later segment redefine it.
                if (!quant_defined_[k.tq]) Bad("Quantisation table not defined");
                for (int z = 0; z < 64; ++z) {
                    k.q_zigzag[z] = quant_[k.tq][z];
                    k.q_natural[kZigzag.natural[z]] = quant_[k.tq][z];
                }
                k.latched = true;
            }
            if (progressive_ && !dc_scan && !k.dc_seen) Bad("AC scan before DC scan");
        }
        size_t scan_blocks = 0;
        if (ns == 1)
            scan_blocks = size_t(comp_[scan_[0]].bw) * size_t(comp_[scan_[0]].bh);
        else
            scan_blocks = size_t(mcux_) * size_t(mcuy_) * size_t(blocks_per_mcu);
        if (dc_scan) Allocate(scan_blocks);
        DecodeScan();
        if (!truncated_ && (!progressive_ || (ss_ == 0 && ah_ == 0)))
            for (int i = 0; i < ns; ++i) comp_[scan_[i]].dc_seen = true;
    }

    void DecodeScan() {
        bits_.Reset(data_ + pos_, data_ + size_);
        for (int i = 0; i < ns_; ++i) comp_[scan_[i]].pred = 0;
        eobrun_ = 0;
        scan_complete_ = false;
        const bool single = ns_ == 1;
        const int units_x = single ? comp_[scan_[0]].bw : mcux_;
        const int units_y = single ? comp_[scan_[0]].bh : mcuy_;
        int restart_left = restart_interval_;
        int next_restart = 0;
        const bool skip_in_runs = progressive_ && ss_ > 0 && ah_ == 0;
        // The reader lives in this frame for the scan: the blocks work on it in place.
        BitReader br = bits_;
        for (int my = 0; my < units_y; ++my) {
            if (sink_.SetPos(int64_t(my) * 100 / units_y, true) == 0) throw EJpegAbort("Abort");
            for (int mx = 0; mx < units_x; ++mx) {
                if (restart_interval_) {
                    if (restart_left == 0) {
                        bits_ = br;
                        if (!Restart(next_restart)) return;
                        br = bits_;
                        next_restart = (next_restart + 1) & 7;
                        restart_left = restart_interval_;
                    }
                    --restart_left;
                }
                if (single) {
                    // Inside an end-of-band run a first AC scan reads nothing for the block.
                    if (skip_in_runs && eobrun_ > 0) {
                        --eobrun_;
                        continue;
                    }
                    Block(br, comp_[scan_[0]], mx, my);
                } else {
                    for (int i = 0; i < ns_; ++i) {
                        Component& k = comp_[scan_[i]];
                        for (int by = 0; by < k.v; ++by)
                            for (int bx = 0; bx < k.h; ++bx) Block(br, k, mx * k.h + bx, my * k.v + by);
                    }
                }
                if (br.Overrun()) {
                    bits_ = br;
                    MarkTruncated();
                    return;
                }
            }
        }
        bits_ = br;
        pos_ = size_t(bits_.p - data_);
        scan_complete_ = true;
        if (sink_.SetPos(100, true) == 0) throw EJpegAbort("Abort");
    }

    void MarkTruncated() {
        truncated_ = true;
        truncated_at_marker_ = bits_.p < bits_.end;
        pos_ = size_t(bits_.p - data_);
    }

    // Between restart intervals: the reader must stand at RSTn with the expected n; the DC
    // predictions and the end-of-band run start again. False when the data ended there.
    bool Restart(int expected) {
        const uint8_t* p = bits_.p;
        const uint8_t* end = data_ + size_;
        if (p >= end) {
            MarkTruncated();
            return false;
        }
        if (*p != 0xFF) Bad("Bad restart marker");
        while (p < end && *p == 0xFF) ++p;
        if (p >= end) {
            bits_.p = p;
            MarkTruncated();
            return false;
        }
        if (*p != 0xD0 + expected) {
            bits_.p = p - 1;
            if (*p >= 0xD0 && *p <= 0xD7) Bad("Bad restart marker");
            MarkTruncated();
            truncated_at_marker_ = true;
            return false;
        }
        bits_.Reset(p + 1, end);
        for (int i = 0; i < ns_; ++i) comp_[scan_[i]].pred = 0;
        eobrun_ = 0;
        return true;
    }

    void Block(BitReader& br, Component& k, int bx, int by) {
        if (!progressive_) {
            SequentialBlock(br, k, bx, by);
            return;
        }
        int16_t* c = &k.coefficients[(size_t(by) * size_t(k.pbw) + size_t(bx)) * 64];
        if (ss_ == 0) {
            if (ah_ == 0)
                DcFirst(br, k, c);
            else
                DcRefine(br, c);
        } else if (ah_ == 0) {
            AcFirst(br, k, c);
        } else {
            AcRefine(br, k, c);
        }
    }

    int DcDifference(BitReader& br, const Huffman& h) {
        br.Ensure();
        const int s = DecodeSymbol(br, h);
        if (s == 0) return 0;
        if (s > 11) Bad("Bad DC difference");
        return Extend(br.Take(s), s);
    }

    // One block of a sequential scan, straight to samples. The bit reader is the scan loop's
    // own copy; the block buffer stays zero between blocks: only the positions written are
    // cleared again. Products are wrapped to 16 bits, not saturated:
    // only a hostile file overflows them, and any 16-bit input is safe for the transform.
    void SequentialBlock(BitReader& br, Component& k, int bx, int by) {
        br.Ensure();
        {
            const int s = DecodeSymbol(br, dc_[k.dc_table]);
            if (s > 11) Bad("Bad DC difference");
            if (s) k.pred = int16_t(k.pred + Extend(br.Take(s), s));
        }
        int16_t* block = block_;
        block[0] = int16_t(uint32_t(k.pred) * uint32_t(k.q_zigzag[0]));
        const Huffman& ac = ac_[k.ac_table];
        const int32_t* q = k.q_zigzag;
        const uint8_t* zz = kZigzag.natural;
        // A component decoded to one sample per block needs its AC codes only passed over.
        const bool keep = k.bsz > 1;
        if (!keep) {
            SkipAc(br, ac);
            uint8_t* out = k.plane.data() + size_t(by) * k.stride + size_t(bx);
            *out = DcOnlySample(block[0]);
            block[0] = 0;
            return;
        }
        uint8_t written[64];
        int count = 0;
        int i = 1;
        while (i < 64) {
            br.Ensure();
            const int32_t f = ac.fast_ac[br.buf >> (64 - kFastBits)];
            int value;
            if (f) {
                i += (f >> 8) & 15;
                br.Consume(f & 255);
                value = f >> 16;
            } else {
                const int sym = DecodeSymbol(br, ac);
                const int r = sym >> 4, size = sym & 15;
                if (!size) {
                    if (r != 15) break;
                    if (i + 16 > 64) Bad("Bad run length");
                    i += 16;
                    continue;
                }
                i += r;
                value = Extend(br.Take(size), size);
            }
            if (i > 63) Bad("Bad run length");
            if (keep) {
                const int n = zz[i];
                block[n] = int16_t(uint32_t(value) * uint32_t(q[i]));
                written[count++] = uint8_t(n);
            }
            ++i;
        }
        uint8_t* out = k.plane.data() + size_t(by) * size_t(k.bsz) * k.stride + size_t(bx) * size_t(k.bsz);
        PutBlock(block, count > 0, out, k.stride, k.bsz);
        for (int j = 0; j < count; ++j) block[written[j]] = 0;
        block[0] = 0;
    }

    static void SkipAc(BitReader& br, const Huffman& ac) {
        int i = 1;
        while (i < 64) {
            br.Ensure();
            // Several codes at once while they cannot reach past the block's end (an EOB must
            // come before coefficient 64); otherwise one at a time with the checks below.
            const unsigned m = ac.skip_many[br.buf >> (64 - kSkipBits)];
            if (m && i + int((m >> 5) & 127) + int(m >> 15) <= 64) {
                br.Consume(int(m & 31));
                if (m & 0x8000) return;
                i += int((m >> 5) & 127);
                continue;
            }
            const unsigned e = ac.skip[br.buf >> (64 - kFastBits)];
            if (e) {
                br.Consume(int(e & 255));
                if (e & 0x8000) return;
                i += int(e >> 8);
            } else {
                const int sym = DecodeSymbol(br, ac);
                const int r = sym >> 4, size = sym & 15;
                if (!size && r != 15) return;
                if (size) br.Consume(size);
                i += r + 1;
            }
            if (i > 64) Bad("Bad run length");
        }
    }

    void PutBlock(const int16_t* block, bool any_ac, uint8_t* out, size_t stride, int size) {
        if (!any_ac) {
            const uint8_t v = DcOnlySample(block[0]);
            for (int y = 0; y < size; ++y) std::memset(out + size_t(y) * stride, v, size_t(size));
        } else if (size == 8) {
            jpeg::InverseDct8(block, out, ptrdiff_t(stride));
        } else {
            jpeg::InverseDctScaled(block, size, out, ptrdiff_t(stride));
        }
    }

    void DcFirst(BitReader& br, Component& k, int16_t* c) {
        k.pred = int16_t(k.pred + DcDifference(br, dc_[k.dc_table]));
        c[0] = int16_t(uint32_t(k.pred) << al_);
    }

    void DcRefine(BitReader& br, int16_t* c) {
        br.Ensure();
        if (br.Bit()) c[0] = int16_t(c[0] | (1 << al_));
    }

    void AcFirst(BitReader& br, Component& k, int16_t* c) {
        if (eobrun_ > 0) {
            --eobrun_;
            return;
        }
        const Huffman& ac = ac_[k.ac_table];
        const uint8_t* zz = kZigzag.natural;
        for (int i = ss_; i <= se_;) {
            br.Ensure();
            const int32_t f = ac.fast_ac[br.buf >> (64 - kFastBits)];
            if (f) {
                i += (f >> 8) & 15;
                br.Consume(f & 255);
                if (i > se_) Bad("Bad run length");
                c[zz[i]] = int16_t(uint32_t(f >> 16) << al_);
                ++i;
                continue;
            }
            const int sym = DecodeSymbol(br, ac);
            const int r = sym >> 4, s = sym & 15;
            if (s) {
                i += r;
                if (i > se_) Bad("Bad run length");
                c[zz[i]] = int16_t(uint32_t(Extend(br.Take(s), s)) << al_);
                ++i;
            } else if (r == 15) {
                i += 16;
                if (i > se_ + 1) Bad("Bad run length");
            } else {
                eobrun_ = (1 << r) - 1;
                if (r) eobrun_ += br.Take(r);
                break;
            }
        }
    }

    // Refinement: a correction bit for every coefficient that is already non-zero, new ones
    // (of magnitude 1 << Al) placed in the zero positions that the runs count.
    void AcRefine(BitReader& br, Component& k, int16_t* c) {
        const int p1 = 1 << al_, m1 = -p1;
        const uint8_t* zz = kZigzag.natural;
        int i = ss_;
        if (eobrun_ == 0) {
            const Huffman& ac = ac_[k.ac_table];
            while (i <= se_) {
                br.Ensure();
                const int sym = DecodeSymbol(br, ac);
                int r = sym >> 4;
                const int s = sym & 15;
                int value = 0;
                if (s) {
                    if (s != 1) Bad("Bad refinement value");
                    br.Ensure();
                    value = br.Bit() ? p1 : m1;
                } else if (r != 15) {
                    eobrun_ = 1 << r;
                    if (r) {
                        br.Ensure();
                        eobrun_ += br.Take(r);
                    }
                    break;
                }
                // Pass r zero-history coefficients (refining the non-zero ones on the way), then
                // place the new one (or, for ZRL, pass a 16th).
                bool placed = s == 0;
                while (i <= se_) {
                    int16_t& coef = c[zz[i]];
                    if (coef != 0) {
                        Correct(br, coef, p1, m1);
                    } else {
                        if (r == 0) {
                            if (s) {
                                coef = int16_t(value);
                                placed = true;
                            }
                            ++i;
                            break;
                        }
                        --r;
                    }
                    ++i;
                }
                if (!placed) Bad("Bad run length");
            }
        }
        if (eobrun_ > 0) {
            // One refill serves the whole band when it holds a bit for every coefficient.
            br.Ensure();
            if (br.count > se_ - i) {
                for (; i <= se_; ++i) {
                    int16_t& coef = c[zz[i]];
                    if (coef != 0) CorrectHere(br, coef, p1, m1);
                }
            } else {
                for (; i <= se_; ++i) {
                    int16_t& coef = c[zz[i]];
                    if (coef != 0) Correct(br, coef, p1, m1);
                }
            }
            --eobrun_;
        }
    }

    void Correct(BitReader& br, int16_t& coef, int p1, int m1) {
        br.Ensure();
        CorrectHere(br, coef, p1, m1);
    }
    // The correction bit is noise to the branch predictor: applied without a branch. The
    // reader must hold the bit.
    static void CorrectHere(BitReader& br, int16_t& coef, int p1, int m1) {
        const int bit = br.Bit();
        const int step = (coef >= 0 ? p1 : m1) & -bit & -int((coef & p1) == 0);
        coef = int16_t(coef + step);
    }

    // --- output stage --------------------------------------------------------------------------

    void Output() {
        if (progressive_) {
            for (int c = 0; c < ncomp_; ++c) {
                Component& k = comp_[c];
                alignas(16) int16_t block[64];
                for (int by = 0; by < k.bh; ++by) {
                    for (int bx = 0; bx < k.bw; ++bx) {
                        const int16_t* raw = &k.coefficients[(size_t(by) * size_t(k.pbw) + size_t(bx)) * 64];
                        const bool any_ac = jpeg::Dequantise(raw, k.q_natural, block) && k.bsz > 1;
                        uint8_t* out = k.plane.data() + size_t(by) * size_t(k.bsz) * k.stride + size_t(bx) * size_t(k.bsz);
                        PutBlock(block, any_ac, out, k.stride, k.bsz);
                    }
                }
                if (sink_.SetPos(100, true) == 0) throw EJpegAbort("Abort");
            }
        }
        const bool rgb = ncomp_ == 3 && (adobe_transform_ >= 0
                                             ? adobe_transform_ == 0
                                             : comp_[0].id == 'R' && comp_[1].id == 'G' && comp_[2].id == 'B');
        const int w = out_width_;
        std::vector<uint8_t> rows[3];
        for (int c = 0; c < ncomp_; ++c) rows[c].resize(size_t(w) + 16);
        for (int y = 0; y < out_height_; ++y) {
            const uint8_t* line[3] = {};
            for (int c = 0; c < ncomp_; ++c) line[c] = ComponentRow(comp_[c], y, rows[c].data());
            uint8_t* dst = picture_->Row(y);
            if (ncomp_ == 1)
                jpeg::GreyToBgrRow(line[0], dst, w);
            else if (rgb)
                jpeg::RgbToBgrRow(line[0], line[1], line[2], dst, w);
            else
                jpeg::YccToBgrRow(line[0], line[1], line[2], dst, w);
        }
    }

    // Row y of the picture for one component, upsampled when the component is subsampled.
    const uint8_t* ComponentRow(const Component& k, int y, uint8_t* buffer) {
        const int rh = k.uh, rv = k.uv;
        const int w = out_width_;
        if (ncomp_ == 1 || (rh == 1 && rv == 1)) {
            const uint8_t* row = k.plane.data() + size_t(y) * k.stride;
            if (k.cw >= w) return row;
            jpeg::UpsampleRowRepeat(row, k.cw, 1, buffer, w);
            return buffer;
        }
        const int cy = std::min(y / rv, k.ch - 1);
        const uint8_t* near = k.plane.data() + size_t(cy) * k.stride;
        if (options_.fancy_upsampling && (rh == 2 || rh == 1) && (rv == 2 || rv == 1)) {
            const uint8_t* far = near;
            if (rv == 2) {
                const int fy = (y & 1) ? std::min(cy + 1, k.ch - 1) : std::max(cy - 1, 0);
                far = k.plane.data() + size_t(fy) * k.stride;
            }
            if (rh == 2 && rv == 2)
                jpeg::UpsampleRowFancy2x2(near, far, k.cw, buffer, w);
            else if (rh == 2)
                jpeg::UpsampleRowFancy2x1(near, k.cw, buffer, w);
            else
                jpeg::UpsampleRowFancy1x2(near, far, w, buffer);
            return buffer;
        }
        jpeg::UpsampleRowRepeat(near, k.cw, rh, buffer, w);
        return buffer;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    CPicture* picture_;
    ProgressSink& sink_;
    JpegOptions options_;
    JpegHeader header_;
    int scale_ = 1, bs_ = 8;

    uint16_t quant_[4][64] = {};
    bool quant_defined_[4] = {};
    Huffman dc_[4], ac_[4];
    int restart_interval_ = 0;
    int adobe_transform_ = -1;

    bool frame_ = false, progressive_ = false, allocated_ = false, done_ = false;
    int width_ = 0, height_ = 0, ncomp_ = 0, hmax_ = 1, vmax_ = 1, mcux_ = 0, mcuy_ = 0;
    int out_width_ = 0, out_height_ = 0;
    Component comp_[3];

    int ns_ = 0, scan_[3] = {}, ss_ = 0, se_ = 0, ah_ = 0, al_ = 0;
    int eobrun_ = 0;
    bool scan_complete_ = false, truncated_ = false, truncated_at_marker_ = false;
    BitReader bits_;
    alignas(16) int16_t block_[64] = {};
};

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, CPicture* picture, ProgressSink& sink,
                const JpegOptions& options, JpegHeader* header) {
    // On the heap: its Huffman lookup tables come to a quarter of a megabyte.
    auto decoder = std::make_unique<Decoder>(data, size, picture, sink, options);
    return decoder->Run(header);
}

int JpegScaleFor(int width, int height, int min_width, int min_height) {
    for (int scale = 8; scale > 1; scale /= 2)
        if ((width + scale - 1) / scale >= min_width && (height + scale - 1) / scale >= min_height) return scale;
    return 1;
}

CJpegFormat::CJpegFormat()
    : CGraphicsFormat("JPG", "Join Photographic Expert Group (JPEG,JPG)",
                      "JPG - JPEG - Join Photographic Expert Group (*.jpg)|*.jpg;*.jpeg|") {}

bool CJpegFormat::ReadAll(std::string& bytes, const uint8_t*& data, size_t& size) {
    stream_->Rewind();
    if (stream_->IsMemory() && stream_->IsReading() && stream_->MemoryData()) {
        data = stream_->MemoryData();
        size = stream_->MemoryCapacity();
    } else {
        const int64_t total = stream_->Size();
        if (total <= 0) return false;
        bytes.resize(size_t(total));
        size = stream_->Read(bytes.data(), bytes.size());
        data = reinterpret_cast<const uint8_t*>(bytes.data());
    }
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool CJpegFormat::Load() {
    last_error_.clear();
    if (!picture_) return ReadInfo();
    std::string bytes;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!ReadAll(bytes, data, size)) {
        last_error_ = "Not a JPEG file";
        return false;
    }
    ProgressSink& sink = *sink_;
    const int depth = sink.Depth();
    bool ok = false;
    try {
        sink.Begin();
        sink.SetRange(0, 100, true);
        ok = DecodeJpeg(data, size, picture_, sink, options_);
    } catch (const std::exception& e) {
        last_error_ = e.what();
        ok = false;
    }
    while (sink.Depth() > depth) sink.End(0);
    return ok;
}

bool CJpegFormat::ReadInfo() {
    last_error_.clear();
    std::string bytes;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!ReadAll(bytes, data, size)) return false;
    JpegHeader header;
    try {
        DecodeJpeg(data, size, nullptr, SilentSink(), options_, &header);
    } catch (const std::exception& e) {
        last_error_ = e.what();
    }
    if (header.width < 0) return false;
    width_ = header.width;
    height_ = header.height;
    depth_ = header.depth;
    info_text_ = "Join Photographic Expert Group (JPEG,JPG)";
    return true;
}

}  // namespace quorbel
