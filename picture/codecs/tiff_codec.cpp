#include "picture/codecs/tiff_codec.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <new>
#include <vector>

#include "core/progress_sink.h"
#include "picture/codecs/packbits.h"
#include "picture/codecs/tiff_lzw.h"

namespace quorbel {

CTiffFormat::CTiffFormat()
    : CGraphicsFormat("TIF", "Tagged Image File Format (TIFF,TIF)",
                      "TIF - TIFF - Tagged Image File Format (*.tif)|*.tif;*.tiff|") {}

namespace {

// Thrown inside the decoder when the file cannot be shown; Load turns it into false.
struct TiffFailure {};

enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kPredictor = 317,
    kColorMap = 320,
    kExtraSamples = 338,
};

constexpr uint32_t kNone = 1, kCcitt = 2, kFax3 = 3, kLzw = 5, kPackBits = 32773;
constexpr uint32_t kRgb = 2, kPalette = 3;

// Bytes of one value of each field type (0: unknown type).
size_t TypeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

struct Field {
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t value[4] = {};
};

// The file header and first directory, and checked access to the fields' values.
class TiffFile {
public:
    explicit TiffFile(DataStream& stream) : stream_(stream) {}

    bool ReadHeader() {
        size_ = stream_.Size();
        uint8_t header[8];
        if (size_ < 8 || stream_.Read(header, 8) != 8) return false;
        if (header[0] == 'I' && header[1] == 'I')
            big_endian_ = false;
        else if (header[0] == 'M' && header[1] == 'M')
            big_endian_ = true;
        else
            return false;
        if (U16(header + 2) != 42) return false;
        const int64_t directory = U32(header + 4);
        uint8_t count_bytes[2];
        if (!ReadAt(directory, count_bytes, 2)) return false;
        const uint32_t count = U16(count_bytes);
        if (count == 0) return false;
        std::vector<uint8_t> entries(size_t(count) * 12);
        if (!ReadAt(directory + 2, entries.data(), entries.size())) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = entries.data() + size_t(i) * 12;
            Field f;
            f.type = U16(e + 2);
            f.count = U32(e + 4);
            std::copy(e + 8, e + 12, f.value);
            fields_.emplace(U16(e), f);  // the first of repeated tags counts
        }
        return true;
    }

    bool BigEndian() const { return big_endian_; }
    int64_t Size() const { return size_; }
    bool Has(uint16_t tag) const { return fields_.count(tag) != 0; }

    // The first `limit` (at most) values of an integer field. False when the field is missing,
    // not BYTE, SHORT or LONG, empty, or its values lie outside the file.
    bool Values(uint16_t tag, size_t limit, std::vector<uint32_t>& out) {
        out.clear();
        const auto it = fields_.find(tag);
        if (it == fields_.end()) return false;
        const Field& f = it->second;
        if (f.type != 1 && f.type != 3 && f.type != 4) return false;
        if (f.count == 0) return false;
        const size_t size = TypeSize(f.type);
        const size_t n = std::min<size_t>(f.count, limit);
        std::vector<uint8_t> bytes(n * size);
        if (uint64_t(f.count) * size <= 4) {
            std::copy(f.value, f.value + bytes.size(), bytes.begin());
        } else if (!ReadAt(U32(f.value), bytes.data(), bytes.size())) {
            return false;
        }
        out.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = bytes.data() + i * size;
            out[i] = size == 1 ? *p : size == 2 ? U16(p) : U32(p);
        }
        return true;
    }
    uint32_t Count(uint16_t tag) const {
        const auto it = fields_.find(tag);
        return it == fields_.end() ? 0 : it->second.count;
    }
    // The first value, or `fallback` when the field is absent or unreadable.
    uint32_t Value(uint16_t tag, uint32_t fallback) {
        std::vector<uint32_t> v;
        return Values(tag, 1, v) ? v[0] : fallback;
    }

    // Reads n bytes at `offset`; false unless they all lie inside the file.
    bool ReadAt(int64_t offset, void* destination, size_t n) {
        if (offset < 0 || uint64_t(offset) > uint64_t(size_) || n > uint64_t(size_ - offset)) return false;
        if (stream_.Seek(offset, DataStream::Origin::Start) != offset) return false;
        return stream_.Read(destination, n) == n;
    }

    uint16_t U16(const uint8_t* p) const {
        return big_endian_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t U32(const uint8_t* p) const {
        return big_endian_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                           : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

private:
    DataStream& stream_;
    int64_t size_ = 0;
    bool big_endian_ = false;
    std::map<uint16_t, Field> fields_;
};

// What the directory says about the image, checked for everything the decoder relies on.
struct TiffLayout {
    uint32_t width = 0, height = 0;
    uint32_t compression = kNone;
    uint32_t photometric = 0;
    uint32_t samples = 1;        // per pixel
    uint32_t bits = 8;           // per sample
    uint32_t rows_per_strip = 0;
    uint32_t strips_per_plane = 0;
    uint32_t planes = 1;         // 1 interleaved, else one plane per sample
    uint32_t predictor = 1;
    uint32_t fill_order = 1;
    uint32_t orientation = 1;
    bool alpha = false;
    bool associated = false;     // colours premultiplied by alpha
    uint64_t row_bytes = 0;      // one row of one strip (of one plane)
};

// Reads and checks the directory; false for anything the decoder does not show.
bool ReadLayout(TiffFile& file, TiffLayout& l, std::string& text) {
    if (!file.ReadHeader()) return false;
    text.clear();
    text += "TIFF - Tagged Image File Format. ";
    text += file.BigEndian() ? "Motorola Byte Order (Apple). " : "Intel Byte Order (PC). ";
    l.compression = file.Value(kCompression, kNone);
    switch (l.compression) {
    case kNone: text += "Compression : None."; break;
    case kCcitt: text += "Compression : CCITT."; break;
    case kFax3: text += "Compression : CCITT Fax Group 3."; break;
    case kLzw: text += "Compression : LZW."; break;
    case kPackBits: text += "Compression : Pack Bits (RLE)."; break;
    default: return false;
    }
    // The fax codings are named but not decoded.
    if (l.compression == kCcitt || l.compression == kFax3) return false;

    l.photometric = file.Value(kPhotometric, 0xFFFF);
    if (l.photometric != kRgb && l.photometric != kPalette) return false;
    const uint32_t needed = l.photometric == kRgb ? 3 : 1;
    l.samples = file.Value(kSamplesPerPixel, needed);
    if (l.samples < needed || l.samples > 64) return false;

    std::vector<uint32_t> bits;
    if (file.Has(kBitsPerSample)) {
        if (!file.Values(kBitsPerSample, l.samples, bits)) return false;
        for (uint32_t b : bits)
            if (b != bits[0]) return false;
        l.bits = bits[0];
    } else {
        l.bits = l.photometric == kRgb ? 8 : 1;
    }
    if (l.photometric == kRgb && l.bits != 8 && l.bits != 16) return false;
    if (l.photometric == kPalette && (l.bits < 1 || l.bits > 8 || (l.samples > 1 && l.bits != 8))) return false;

    const uint32_t extra = l.samples - needed;
    l.alpha = extra > 0;
    l.associated = l.alpha && file.Value(kExtraSamples, 0) == 1;

    l.width = file.Value(kImageWidth, 0);
    l.height = file.Value(kImageLength, 0);
    if (!PictureSizeAllowed(l.width, l.height)) return false;

    const uint32_t planar = file.Value(kPlanarConfiguration, 1);
    if (planar != 1 && planar != 2) return false;
    l.planes = planar == 2 ? l.samples : 1;
    l.predictor = file.Value(kPredictor, 1);
    if (l.predictor != 1 && !(l.predictor == 2 && l.bits >= 8)) return false;
    l.fill_order = file.Value(kFillOrder, 1);
    if (l.fill_order != 1 && l.fill_order != 2) return false;
    l.orientation = file.Value(kOrientation, 1);
    if (l.orientation < 1 || l.orientation > 8) l.orientation = 1;

    // Absent or 0 rows per strip: the whole image in one strip.
    const uint32_t stored_rows = file.Value(kRowsPerStrip, 0);
    l.rows_per_strip = stored_rows == 0 ? l.height : std::min(stored_rows, l.height);
    l.strips_per_plane = (l.height + l.rows_per_strip - 1) / l.rows_per_strip;
    const uint64_t samples_in_row = l.planes == 1 ? l.samples : 1;
    l.row_bytes = (uint64_t(l.bits) * samples_in_row * l.width + 7) / 8;
    // Tiled images have no strips.
    if (!file.Has(kStripOffsets)) return false;
    if (uint64_t(file.Count(kStripOffsets)) < uint64_t(l.strips_per_plane) * l.planes) return false;
    return true;
}

const uint8_t* BitReverseTable() {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) r |= 0x80 >> b;
            t[size_t(i)] = uint8_t(r);
        }
        return t;
    }();
    return table.data();
}

class TiffDecoder {
public:
    TiffDecoder(TiffFile& file, const TiffLayout& layout, std::function<void(int64_t)> progress)
        : file_(file), l_(layout), progress_(std::move(progress)) {}

    // Fills `picture` (already of the stored size, with an alpha plane when there is one) row
    // by row in the order the file stores them.
    void Decode(CPicture& picture) {
        const size_t strips = size_t(l_.strips_per_plane) * l_.planes;
        if (!file_.Values(kStripOffsets, strips, offsets_) || offsets_.size() < strips) throw TiffFailure();
        if (file_.Has(kStripByteCounts)) {
            if (!file_.Values(kStripByteCounts, strips, counts_) || counts_.size() < strips) throw TiffFailure();
        } else if (l_.compression == kNone) {
            // Old writers left the counts out of uncompressed files: each strip is exactly its rows.
            counts_.assign(strips, 0);
            for (size_t i = 0; i < strips; ++i)
                counts_[i] = uint32_t(std::min<uint64_t>(StripRows(uint32_t(i % l_.strips_per_plane)) * l_.row_bytes,
                                                         0xFFFFFFFFu));
        } else {
            throw TiffFailure();
        }
        for (size_t i = 0; i < strips; ++i)
            if (uint64_t(offsets_[i]) + counts_[i] > uint64_t(file_.Size())) throw TiffFailure();

        counts_.resize(strips);
        offsets_.resize(strips);
        ReadSpan();
        if (l_.photometric == kPalette) ReadPalette(picture);
        const uint32_t width = l_.width;
        planes_.resize(l_.planes);
        const size_t bytes_per_sample = l_.bits / 8;  // 0 below 8 bits, where there is one plane
        if (l_.planes > 1) interleaved_.resize(size_t(width) * l_.samples * bytes_per_sample);
        if (l_.bits == 16) narrow_.resize(size_t(width) * l_.samples);
        const int64_t step = int64_t(ProgressStep(l_.height));
        uint32_t y = 0;
        for (uint32_t strip = 0; strip < l_.strips_per_plane; ++strip) {
            const uint32_t rows = StripRows(strip);
            const uint64_t need = uint64_t(rows) * l_.row_bytes;
            for (uint32_t p = 0; p < l_.planes; ++p) ReadStrip(size_t(p) * l_.strips_per_plane + strip, need, planes_[p]);
            for (uint32_t r = 0; r < rows; ++r, ++y) {
                const uint8_t* row;
                if (l_.planes == 1) {
                    uint8_t* own = planes_[0].data() + size_t(r) * l_.row_bytes;
                    if (l_.predictor == 2) UndoDifferencing(own, size_t(width) * l_.samples, l_.samples);
                    row = own;
                } else {
                    // One sample of each plane per pixel, side by side.
                    for (uint32_t p = 0; p < l_.planes; ++p) {
                        uint8_t* own = planes_[p].data() + size_t(r) * l_.row_bytes;
                        if (l_.predictor == 2) UndoDifferencing(own, width, 1);
                        uint8_t* d = interleaved_.data() + size_t(p) * bytes_per_sample;
                        const size_t pixel = size_t(l_.samples) * bytes_per_sample;
                        for (uint32_t x = 0; x < width; ++x, d += pixel, own += bytes_per_sample)
                            std::copy(own, own + bytes_per_sample, d);
                    }
                    row = interleaved_.data();
                }
                if (l_.bits == 16) row = Narrow(row);
                if (l_.photometric == kRgb)
                    StoreRgb(row, picture, int(y));
                else
                    StorePalette(row, picture, int(y));
                if ((y + 1) % uint32_t(step) == 0) progress_(y + 1);
            }
        }
    }

private:
    uint32_t StripRows(uint32_t strip) const {
        const uint32_t first = strip * l_.rows_per_strip;
        return std::min(l_.rows_per_strip, l_.height - first);
    }

    void ReadPalette(CPicture& picture) {
        lookup_ = PaletteLookup();
        const uint32_t entries = 1u << l_.bits;
        if (file_.Has(kColorMap)) {
            std::vector<uint32_t> map;
            // Red, green and blue arrays of exactly one entry per index each.
            if (file_.Count(kColorMap) != 3 * entries || !file_.Values(kColorMap, 3 * entries, map) ||
                map.size() != 3 * entries)
                throw TiffFailure();
            picture.SetPaletteSize(int(entries));
            for (uint32_t i = 0; i < entries; ++i) {
                const Bgr c{uint8_t(map[2 * entries + i] >> 8), uint8_t(map[entries + i] >> 8), uint8_t(map[i] >> 8)};
                picture.SetPaletteEntry(int(i), c);
                lookup_.Set(i, c);
            }
        } else {
            picture.SetPaletteSize(256);
            for (unsigned i = 0; i < 256; ++i) {
                const Bgr c{uint8_t(i), uint8_t(i), uint8_t(i)};
                picture.SetPaletteEntry(int(i), c);
                lookup_.Set(i, c);
            }
        }
    }

    // Reads strip `index` and unpacks exactly `need` bytes of rows into `out`.
    void ReadStrip(size_t index, uint64_t need, std::vector<uint8_t>& out) {
        if (need > SIZE_MAX) throw TiffFailure();
        out.resize(size_t(need));
        const uint32_t count = counts_[index];
        const int64_t offset = offsets_[index];
        if (l_.compression == kNone) {
            if (count < need || !file_.ReadAt(offset, out.data(), out.size())) throw TiffFailure();
            if (l_.fill_order == 2) Reverse(out.data(), out.size());
            return;
        }
        const uint8_t* packed;
        if (!span_.empty()) {
            packed = span_.data() + (offset - span_start_);
        } else {
            raw_.resize(count);
            if (!file_.ReadAt(offset, raw_.data(), raw_.size())) throw TiffFailure();
            if (l_.fill_order == 2) Reverse(raw_.data(), raw_.size());
            packed = raw_.data();
        }
        if (l_.compression == kPackBits) {
            if (PackBitsDecode(packed, count, out.data(), out.size()) != out.size()) throw TiffFailure();
        } else {
            size_t written = 0;
            if (LzwDecode(packed, count, out.data(), out.size(), written) != LzwResult::Full) throw TiffFailure();
        }
    }

    // Compressed strips that lie close together (as writers put them) are read in one go
    // rather than one seek and read each; scattered ones are read strip by strip.
    void ReadSpan() {
        if (l_.compression == kNone) return;
        int64_t low = file_.Size(), high = 0;
        uint64_t total = 0;
        for (size_t i = 0; i < counts_.size() && i < offsets_.size(); ++i) {
            if (counts_[i] == 0) continue;
            low = std::min<int64_t>(low, offsets_[i]);
            high = std::max<int64_t>(high, int64_t(offsets_[i]) + counts_[i]);
            total += counts_[i];
        }
        if (high <= low || uint64_t(high - low) > total + total / 4 + 65536) return;
        span_.resize(size_t(high - low));
        if (!file_.ReadAt(low, span_.data(), span_.size())) throw TiffFailure();
        if (l_.fill_order == 2) Reverse(span_.data(), span_.size());
        span_start_ = low;
    }

    static void Reverse(uint8_t* p, size_t n) {
        const uint8_t* table = BitReverseTable();
        for (size_t i = 0; i < n; ++i) p[i] = table[p[i]];
    }

    // Horizontal differencing: each sample was stored as its difference to the sample `stride`
    // places before it (8- or 16-bit arithmetic, in the file's byte order).
    void UndoDifferencing(uint8_t* row, size_t samples, size_t stride) const {
        if (l_.bits == 8) {
            for (size_t i = stride; i < samples; ++i) row[i] = uint8_t(row[i] + row[i - stride]);
            return;
        }
        const bool big = file_.BigEndian();
        auto get = [&](size_t i) {
            return big ? uint16_t(row[2 * i] << 8 | row[2 * i + 1]) : uint16_t(row[2 * i + 1] << 8 | row[2 * i]);
        };
        for (size_t i = stride; i < samples; ++i) {
            const uint16_t v = uint16_t(get(i) + get(i - stride));
            row[2 * i + (big ? 0 : 1)] = uint8_t(v >> 8);
            row[2 * i + (big ? 1 : 0)] = uint8_t(v);
        }
    }

    // 16-bit samples: the high byte of each, wherever the byte order puts it.
    const uint8_t* Narrow(const uint8_t* row) {
        const size_t high = file_.BigEndian() ? 0 : 1;
        for (size_t i = 0; i < narrow_.size(); ++i) narrow_[i] = row[2 * i + high];
        return narrow_.data();
    }

    void StoreRgb(const uint8_t* s, CPicture& picture, int y) const {
        uint8_t* d = picture.Row(y);
        const size_t n = l_.samples;
        const uint32_t width = l_.width;
        if (!l_.alpha && n == 3) {
            for (uint32_t x = 0; x < width; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
            return;
        }
        if (!l_.alpha) {
            for (uint32_t x = 0; x < width; ++x, s += n, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
            return;
        }
        uint8_t* a = picture.AlphaRow(y);
        for (uint32_t x = 0; x < width; ++x, s += n, d += 3) {
            const unsigned alpha = s[3];
            a[x] = uint8_t(alpha);
            if (l_.associated) {
                // Premultiplied colours back to their own values.
                d[0] = Unpremultiply(s[2], alpha);
                d[1] = Unpremultiply(s[1], alpha);
                d[2] = Unpremultiply(s[0], alpha);
            } else {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
    }

    static uint8_t Unpremultiply(unsigned c, unsigned a) {
        if (a == 0) return 0;
        return uint8_t(std::min(255u, c * 255 / a));
    }

    void StorePalette(const uint8_t* s, CPicture& picture, int y) const {
        uint8_t* d = picture.Row(y);
        const uint32_t width = l_.width;
        if (l_.bits == 8) {
            const size_t n = l_.samples;
            uint8_t* a = l_.alpha ? picture.AlphaRow(y) : nullptr;
            for (uint32_t x = 0; x < width; ++x, s += n, d += 3) {
                const Bgr c = lookup_[s[0]];
                d[0] = c.b;
                d[1] = c.g;
                d[2] = c.r;
                if (a) a[x] = s[1];
            }
            return;
        }
        // Fewer bits: indices packed most significant bit first.
        const unsigned bits = l_.bits, mask = (1u << bits) - 1;
        uint64_t bit = 0;
        for (uint32_t x = 0; x < width; ++x, bit += bits, d += 3) {
            const size_t byte = size_t(bit >> 3);
            const unsigned shift = unsigned(bit & 7);
            // An index may straddle two bytes (3, 5, 6, 7 bits); the row holds both.
            const unsigned word = unsigned(s[byte]) << 8 | (shift + bits > 8 ? s[byte + 1] : 0u);
            const unsigned index = (word >> (16 - shift - bits)) & mask;
            const Bgr c = lookup_[index];
            d[0] = c.b;
            d[1] = c.g;
            d[2] = c.r;
        }
    }

    TiffFile& file_;
    const TiffLayout& l_;
    std::function<void(int64_t)> progress_;
    std::vector<uint32_t> offsets_, counts_;
    std::vector<uint8_t> raw_, interleaved_, narrow_;
    std::vector<uint8_t> span_;  // every compressed strip, when they lie together
    int64_t span_start_ = 0;
    std::vector<std::vector<uint8_t>> planes_;
    PaletteLookup lookup_;
};

// Where stored pixel (column c, row r) of a w x h image lands for each orientation.
void Orient(uint32_t orientation, uint32_t w, uint32_t h, uint32_t c, uint32_t r, uint32_t& x, uint32_t& y) {
    switch (orientation) {
    case 2: x = w - 1 - c; y = r; break;
    case 3: x = w - 1 - c; y = h - 1 - r; break;
    case 4: x = c; y = h - 1 - r; break;
    case 5: x = r; y = c; break;
    case 6: x = h - 1 - r; y = c; break;
    case 7: x = h - 1 - r; y = w - 1 - c; break;
    case 8: x = r; y = w - 1 - c; break;
    default: x = c; y = r; break;
    }
}

// Moves the stored picture into `target` turned and mirrored as the orientation says.
bool ApplyOrientation(const CPicture& stored, uint32_t orientation, CPicture& target) {
    const uint32_t w = uint32_t(stored.Width()), h = uint32_t(stored.Height());
    const bool swap = orientation >= 5;
    if (!target.Create(int(swap ? h : w), int(swap ? w : h))) return false;
    if (stored.HasAlpha() && !target.EnsureAlpha()) return false;
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* s = stored.Row(int(r));
        const uint8_t* sa = stored.AlphaRow(int(r));
        for (uint32_t c = 0; c < w; ++c) {
            uint32_t x, y;
            Orient(orientation, w, h, c, r, x, y);
            uint8_t* d = target.Row(int(y)) + size_t(x) * 3;
            d[0] = s[3 * c];
            d[1] = s[3 * c + 1];
            d[2] = s[3 * c + 2];
            if (sa) target.AlphaRow(int(y))[x] = sa[c];
        }
    }
    if (stored.PaletteCount() > 0) {
        target.SetPaletteSize(stored.PaletteCount());
        for (int i = 0; i < stored.PaletteCount(); ++i) target.SetPaletteEntry(i, *stored.GetPaletteEntry(i));
    }
    return true;
}

}  // namespace

bool CTiffFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CTiffFormat::Load() {
    try {
        TiffFile file(*stream_);
        TiffLayout l;
        if (!ReadLayout(file, l, info_text_)) return false;
        const bool swap = l.orientation >= 5;
        width_ = int(swap ? l.height : l.width);
        height_ = int(swap ? l.width : l.height);
        depth_ = l.alpha ? 32 : l.photometric == kRgb ? 24 : int(l.bits);
        if (!picture_) return true;

        ProgressScope scope(sink_);
        sink_->SetRange(0, l.height, true);
        // Pictures shown as stored are decoded in place; turned ones through a stored copy.
        CPicture turned;
        CPicture& stored = l.orientation == 1 ? *picture_ : turned;
        if (!stored.Create(int(l.width), int(l.height))) return false;
        if (l.alpha && !stored.EnsureAlpha()) return false;
        TiffDecoder decoder(file, l, [this](int64_t row) { Progress(row); });
        decoder.Decode(stored);
        if (l.orientation != 1 && !ApplyOrientation(turned, l.orientation, *picture_)) return false;
        picture_->SetDepth(depth_);
        return true;
    } catch (const TiffFailure&) {
        return false;
    } catch (const EGraphicsAbort&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace quorbel
