#include "picture/codecs/glimmer_codecs.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "core/byte_reader.h"

namespace quorbel {

CGlcFormat::CGlcFormat()
    : CGraphicsFormat("GLC", "Glimmer Composition (GLC)", "GLC - Glimmer Composition (*.glc)|*.glc|") {}
CGlsFormat::CGlsFormat()
    : CGraphicsFormat("GLS", "Glimmer Sprite (GLS)", "GLS - Glimmer Sprite (*.gls)|*.gls|") {}

namespace {

constexpr char kGlcMagic[] = "KESTRA-GLC";
constexpr char kGlsMagic[] = "KESTRA-GLS";
constexpr size_t kMagicLength = 10;
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 20;  // both formats
constexpr uint8_t kGlsTransparent = 1;  // flags bit 0: the transparent index is in use
constexpr int kLongestRun = 128;

void PutLe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Reads and checks the fixed header of either format. False, without exception, for data that
// is not ours: wrong signature, unknown version or flags, impossible size.
struct GlimmerHeader {
    uint8_t flags = 0;
    int width = 0, height = 0;
    uint32_t field16 = 0;  // GLC: packed length; GLS: palette count
    uint8_t transparent = 0;
};

bool ReadGlimmerHeader(DataStream& stream, const char* magic, GlimmerHeader& h) {
    uint8_t b[kHeaderSize];
    if (stream.Read(b, sizeof b) != sizeof b) return false;
    if (std::memcmp(b, magic, kMagicLength) != 0 || b[10] != kVersion) return false;
    h.flags = b[11];
    h.width = Le16(b + 12);
    h.height = Le16(b + 14);
    if (std::memcmp(magic, kGlcMagic, kMagicLength) == 0) {
        if (h.flags != 0) return false;
        h.field16 = Le32(b + 16);
    } else {
        if ((h.flags & ~kGlsTransparent) != 0 || b[19] != 0) return false;
        h.field16 = Le16(b + 16);
        h.transparent = b[18];
        if (h.field16 < 1 || h.field16 > 256) return false;
        if ((h.flags & kGlsTransparent) && h.transparent >= h.field16) return false;
    }
    return PictureSizeAllowed(h.width, h.height);
}

}  // namespace

// --- GLC ---------------------------------------------------------------------------------------

bool CGlcFormat::ReadInfo() {
    GlimmerHeader h;
    if (!ReadGlimmerHeader(*stream_, kGlcMagic, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = 24;
    info_text_ = "GLC - Glimmer Composition. 24 bits, run-length packed rows.";
    return true;
}

bool CGlcFormat::Load() {
    if (!ReadInfo()) return false;
    if (!picture_) return true;
    stream_->Rewind();
    GlimmerHeader h;
    if (!ReadGlimmerHeader(*stream_, kGlcMagic, h)) return false;
    // Each row needs at least one 4-byte packet per 128 pixels: a header promising more pixels
    // than the packed bytes can hold is refused before any picture is made.
    const uint64_t least = uint64_t(h.height) * ((uint64_t(h.width) + kLongestRun - 1) / kLongestRun) * 4;
    if (h.field16 < least || !PictureDataFits(h.width, h.height, h.field16, StreamRemaining()))
        throw EGlimmerError();
    std::vector<uint8_t> packed(h.field16);
    if (!ReadExact(packed.data(), packed.size())) throw EGlimmerError();
    if (!picture_->Create(h.width, h.height)) throw EGlimmerError();
    sink_->SetRange(0, h.height, true);
    ByteReader in(packed.data(), packed.size());
    for (int y = 0; y < h.height; ++y) {
        uint8_t* row = picture_->Row(y);
        int x = 0;
        while (x < h.width) {
            const uint8_t control = in.U8();
            // Below 128: control + 1 literal pixels; from 128: one pixel repeated control - 127.
            const int count = control < 128 ? control + 1 : control - 127;
            if (!in.Ok() || x + count > h.width) throw EGlimmerError();
            if (control < 128) {
                if (in.Remaining() < size_t(count) * 3) throw EGlimmerError();
                std::memcpy(row + 3 * x, in.Here(), size_t(count) * 3);
                in.Skip(size_t(count) * 3);
            } else {
                const uint8_t b = in.U8(), g = in.U8(), r = in.U8();
                if (!in.Ok()) throw EGlimmerError();
                for (int i = 0; i < count; ++i) {
                    row[3 * (x + i)] = b;
                    row[3 * (x + i) + 1] = g;
                    row[3 * (x + i) + 2] = r;
                }
            }
            x += count;
        }
        if (y % 20 == 19) Progress(y + 1);
    }
    if (in.Remaining() != 0) throw EGlimmerError();  // trailing packed bytes: not our writer's
    picture_->SetDepth(24);
    return true;
}

std::vector<uint8_t> EncodeGlc(const CPicture& picture) {
    std::vector<uint8_t> out;
    if (picture.IsEmpty()) return out;
    std::vector<uint8_t> packed;
    for (int y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.Row(y);
        int x = 0;
        const int w = picture.Width();
        auto same = [&](int a, int b) { return std::memcmp(row + 3 * a, row + 3 * b, 3) == 0; };
        while (x < w) {
            int run = 1;
            while (x + run < w && run < kLongestRun && same(x, x + run)) ++run;
            if (run >= 2) {
                packed.push_back(uint8_t(127 + run));
                packed.insert(packed.end(), row + 3 * x, row + 3 * x + 3);
                x += run;
                continue;
            }
            int literal = 1;
            while (x + literal < w && literal < kLongestRun &&
                   !(x + literal + 1 < w && same(x + literal, x + literal + 1)))
                ++literal;
            packed.push_back(uint8_t(literal - 1));
            packed.insert(packed.end(), row + 3 * x, row + 3 * (x + literal));
            x += literal;
        }
    }
    out.insert(out.end(), kGlcMagic, kGlcMagic + kMagicLength);
    out.push_back(kVersion);
    out.push_back(0);
    PutLe16(out, uint32_t(picture.Width()));
    PutLe16(out, uint32_t(picture.Height()));
    PutLe32(out, uint32_t(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// --- GLS ---------------------------------------------------------------------------------------

bool CGlsFormat::ReadInfo() {
    GlimmerHeader h;
    if (!ReadGlimmerHeader(*stream_, kGlsMagic, h)) return false;
    width_ = h.width;
    height_ = h.height;
    depth_ = 8;
    char text[160];
    if (h.flags & kGlsTransparent)
        std::snprintf(text, sizeof text, "GLS - Glimmer Sprite. Palette : %u colours. Transparent index : %u.",
                      unsigned(h.field16), unsigned(h.transparent));
    else
        std::snprintf(text, sizeof text, "GLS - Glimmer Sprite. Palette : %u colours.", unsigned(h.field16));
    info_text_ = text;
    return true;
}

bool CGlsFormat::Load() {
    if (!ReadInfo()) return false;
    if (!picture_) return true;
    stream_->Rewind();
    GlimmerHeader h;
    if (!ReadGlimmerHeader(*stream_, kGlsMagic, h)) return false;
    const uint64_t needed = uint64_t(h.field16) * 3 + uint64_t(h.width) * uint64_t(h.height);
    if (!PictureDataFits(h.width, h.height, needed, StreamRemaining())) throw EGlimmerError();
    uint8_t table[256 * 3];
    if (!ReadExact(table, size_t(h.field16) * 3)) throw EGlimmerError();
    if (!picture_->Create(h.width, h.height)) throw EGlimmerError();
    picture_->SetPaletteSize(int(h.field16));
    for (uint32_t i = 0; i < h.field16; ++i)
        picture_->SetPaletteEntry(int(i), Bgr{table[3 * i], table[3 * i + 1], table[3 * i + 2]});
    const bool transparent = (h.flags & kGlsTransparent) != 0;
    if (transparent && !picture_->EnsureAlpha()) throw EGlimmerError();
    std::vector<uint8_t> indices(static_cast<size_t>(h.width));
    sink_->SetRange(0, h.height, true);
    for (int y = 0; y < h.height; ++y) {
        if (!ReadExact(indices.data(), indices.size())) throw EGlimmerError();
        uint8_t* row = picture_->Row(y);
        uint8_t* alpha = picture_->AlphaRow(y);
        for (int x = 0; x < h.width; ++x) {
            const uint8_t i = indices[size_t(x)];
            if (i >= h.field16) throw EGlimmerError();
            std::memcpy(row + 3 * x, table + 3 * i, 3);
            if (transparent) alpha[x] = i == h.transparent ? 0 : 255;
        }
        if (y % 20 == 19) Progress(y + 1);
    }
    return true;
}

std::vector<uint8_t> EncodeGls(const CPicture& picture) {
    std::vector<uint8_t> out;
    if (picture.IsEmpty()) return out;
    std::map<uint32_t, int> index_of;
    std::vector<Bgr> colours;
    bool any_transparent = false;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            if (picture.GetAlpha(x, y) == 0) {
                any_transparent = true;
                continue;
            }
            Bgr c;
            picture.GetPixel(x, y, c);
            const uint32_t key = uint32_t(c.b) | (uint32_t(c.g) << 8) | (uint32_t(c.r) << 16);
            if (index_of.emplace(key, int(colours.size())).second) colours.push_back(c);
        }
    const size_t count = colours.size() + (any_transparent ? 1 : 0);
    if (count == 0 || count > 256) return out;
    const uint8_t transparent = uint8_t(colours.size());
    if (any_transparent) colours.push_back(Bgr{});
    out.insert(out.end(), kGlsMagic, kGlsMagic + kMagicLength);
    out.push_back(kVersion);
    out.push_back(any_transparent ? kGlsTransparent : 0);
    PutLe16(out, uint32_t(picture.Width()));
    PutLe16(out, uint32_t(picture.Height()));
    PutLe16(out, uint32_t(count));
    out.push_back(any_transparent ? transparent : 0);
    out.push_back(0);
    for (const Bgr& c : colours) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
    }
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            if (picture.GetAlpha(x, y) == 0) {
                out.push_back(transparent);
                continue;
            }
            Bgr c;
            picture.GetPixel(x, y, c);
            out.push_back(uint8_t(index_of[uint32_t(c.b) | (uint32_t(c.g) << 8) | (uint32_t(c.r) << 16)]));
        }
    return out;
}

}  // namespace quorbel
