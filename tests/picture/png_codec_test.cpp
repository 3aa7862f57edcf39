// The PNG decoder: PngSuite against its expected pixels, files ImageMagick writes, the corrupt
// samples, hand-made files for the rules of the chunk parser and the zlib wrapper, hostile
// deflate streams, truncation at every length, and cancellation.
#include <gtest/gtest.h>

#include <libdeflate.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "core/data_stream.h"
#include "picture/codecs/png_codec.h"
#include "picture/codecs/png_inflate.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

std::string Png(const std::string& name) { return test::TestData("png/" + name); }

bool LoadPng(const std::string& bytes, CPicture& picture, ProgressSink* sink = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName("t.png");
    CPngFormat png;
    return png.LoadPicture(s, picture, sink);
}

// --- building files --------------------------------------------------------------------------

void PutBe32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += char((v >> (8 * i)) & 255);
}

std::string Chunk(const std::string& type, const std::string& data, bool break_crc = false) {
    std::string c;
    PutBe32(c, uint32_t(data.size()));
    const std::string body = type + data;
    c += body;
    uint32_t crc = libdeflate_crc32(0, body.data(), body.size());
    PutBe32(c, break_crc ? crc ^ 1 : crc);
    return c;
}

std::string RawDeflate(const std::string& raw) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    std::string out(raw.size() + 1024, '\0');
    out.resize(libdeflate_deflate_compress(c, raw.data(), raw.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

// A zlib wrapper with the given first byte (method and window size); the check bits of the
// second byte are made to fit.
std::string Zlib(const std::string& deflate, const std::string& raw, uint8_t cmf = 0x78, uint8_t flags = 0) {
    std::string z(1, char(cmf));
    uint8_t flg = flags;
    while ((unsigned(cmf) * 256 + flg) % 31 != 0) ++flg;
    z += char(flg);
    z += deflate;
    PutBe32(z, libdeflate_adler32(1, raw.data(), raw.size()));
    return z;
}

std::string Ihdr(uint32_t w, uint32_t h, int depth, int colour, int interlace = 0) {
    std::string d;
    PutBe32(d, w);
    PutBe32(d, h);
    d += char(depth);
    d += char(colour);
    d += '\0';
    d += '\0';
    d += char(interlace);
    return Chunk("IHDR", d);
}

const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

// A 3 x 2 RGB picture, every row unfiltered; pixel (x, y) = (10x + y, 100 + y, 200 - x).
std::string RgbRaw() {
    std::string raw;
    for (int y = 0; y < 2; ++y) {
        raw += '\0';
        for (int x = 0; x < 3; ++x) {
            raw += char(10 * x + y);
            raw += char(100 + y);
            raw += char(200 - x);
        }
    }
    return raw;
}

struct PngParts {
    std::string ihdr = Ihdr(3, 2, 8, 2);
    std::string before_idat;
    std::string idat = Chunk("IDAT", Zlib(RawDeflate(RgbRaw()), RgbRaw()));
    std::string after_idat;
    std::string iend = Chunk("IEND", "");
    std::string Bytes() const { return kSignature + ihdr + before_idat + idat + after_idat + iend; }
};

bool IsRgbPicture(const CPicture& p) {
    if (p.Width() != 3 || p.Height() != 2) return false;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            Bgr c;
            p.GetPixel(x, y, c);
            if (!(c == Bgr{uint8_t(200 - x), uint8_t(100 + y), uint8_t(10 * x + y)})) return false;
        }
    return true;
}

// --- PngSuite --------------------------------------------------------------------------------

std::vector<long> ReadJsonNumbers(const std::string& path) {
    std::vector<long> values;
    const std::string text = test::ReadFile(path);
    long v = 0;
    bool in = false;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9') {
            v = v * 10 + (ch - '0');
            in = true;
        } else if (in) {
            values.push_back(v);
            v = 0;
            in = false;
        }
    }
    return values;
}

TEST(PngSuite, MatchesExpectedPixels) {
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(test::TestData("png"))) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] == 'x') continue;
        SCOPED_TRACE(name);
        const std::string bytes = test::ReadFile(entry.path().string());
        const int depth = uint8_t(bytes[24]), colour = uint8_t(bytes[25]);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(entry.path().string(), p, nullptr));
        EXPECT_EQ(p.Description(), "Portable Network Graphics (PNG)");
        const std::vector<long> want = ReadJsonNumbers(entry.path().string() + ".expected.json");
        ASSERT_EQ(want.size(), size_t(p.Width()) * size_t(p.Height()) * 4);
        const int shift = depth == 16 ? 8 : 0;
        const bool has_alpha = colour == 4 || colour == 6;
        EXPECT_EQ(p.HasAlpha(), has_alpha);
        int bad = 0;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                const long* w = &want[(size_t(y) * size_t(p.Width()) + size_t(x)) * 4];
                Bgr c;
                p.GetPixel(x, y, c);
                if (c.r != w[0] >> shift || c.g != w[1] >> shift || c.b != w[2] >> shift) ++bad;
                // Palette and grey transparency (tRNS) is not shown: those pictures stay opaque.
                if (has_alpha && p.GetAlpha(x, y) != w[3] >> shift) ++bad;
            }
        EXPECT_EQ(bad, 0);
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

TEST(PngSuite, CorruptSamplesAreRefused) {
    for (const char* name : {"xcrn0g04.png", "xd0n2c08.png", "xs1n0g01.png"}) {
        SCOPED_TRACE(name);
        CPicture p;
        EXPECT_FALSE(LoadPng(test::ReadFile(Png(name)), p));
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Png(name), true));
        EXPECT_FALSE(LoadFromStream(s, &p, nullptr, true, nullptr, nullptr, nullptr, nullptr));
    }
}

TEST(PngSuite, GreyLevelsPalettesAndInfo) {
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(Png("basn0g02.png"), p, nullptr));
    ASSERT_EQ(p.PaletteCount(), 4);
    const uint8_t levels[4] = {0, 85, 170, 255};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.GetPaletteEntry(i)->g, levels[i]);
    ASSERT_TRUE(LoadPictureFile(Png("basn0g16.png"), p, nullptr));
    EXPECT_EQ(p.PaletteCount(), 256);
    // A palette picture with tRNS loads fully opaque.
    ASSERT_TRUE(LoadPictureFile(Png("tbbn3p08.png"), p, nullptr));
    EXPECT_FALSE(p.HasAlpha());

    // A picture reused for a file of the same size keeps nothing of the one before.
    CPicture reused;
    ASSERT_TRUE(LoadPng(test::ReadFile(Png("basn6a08.png")), reused));
    ASSERT_TRUE(reused.HasAlpha());
    ASSERT_TRUE(LoadPng(test::ReadFile(Png("basn3p08.png")), reused));
    EXPECT_FALSE(reused.HasAlpha());
    ASSERT_TRUE(LoadPng(test::ReadFile(Png("basn2c08.png")), reused));
    EXPECT_EQ(reused.PaletteCount(), 0);
    EXPECT_EQ(reused.Depth(), 24);

    DataStream s;
    ASSERT_TRUE(s.OpenFile(Png("basi6a16.png"), true));
    CPngFormat png;
    int w = 0, h = 0, d = 0;
    std::string text;
    ASSERT_TRUE(png.GetInfo(s, &w, &h, &d, &text));
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 32);
    EXPECT_EQ(d, 16);
    EXPECT_EQ(text, "Portable Network Graphics (PNG)");
}

// ImageMagick writes a pattern in several colour types, depths and with Adam7; each must read
// back as the pattern.
TEST(PngPeerFiles, ConvertOutputReadsBack) {
    test::TempDir dir;
    CPicture pattern;
    test::FillPattern(pattern, 37, 23);
    std::string ppm = "P6\n37 23\n255\n";
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint8_t* px = pattern.Row(y) + 3 * x;
            ppm += char(px[2]);
            ppm += char(px[1]);
            ppm += char(px[0]);
        }
    test::WriteFile(dir / "p.ppm", ppm);
    const std::vector<std::vector<std::string>> variants = {
        {"-define", "png:color-type=2", "-depth", "8"},
        {"-define", "png:color-type=2", "-depth", "16"},
        {"-define", "png:color-type=6", "-depth", "8", "-alpha", "on"},
        {"-define", "png:color-type=2", "-depth", "8", "-interlace", "PNG"},
        {"-define", "png:color-type=6", "-depth", "16", "-interlace", "PNG", "-alpha", "on"},
    };
    for (size_t i = 0; i < variants.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string out = dir / ("v" + std::to_string(i) + ".png");
        std::vector<std::string> argv = {"convert", dir / "p.ppm"};
        argv.insert(argv.end(), variants[i].begin(), variants[i].end());
        argv.push_back(out);
        ASSERT_EQ(test::Run(argv).exit_code, 0);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(out, p, nullptr));
        EXPECT_EQ(test::MaxDifference(p, pattern), 0);
        // And the peer's own reading of its file agrees.
        CPicture peer;
        ASSERT_TRUE(test::PictureFromPpm(test::Run({"pngtopam", out}).out, peer));
        EXPECT_EQ(test::MaxDifference(p, peer), 0);
    }
}

// --- hand-made files -------------------------------------------------------------------------

std::string Bkgd(const std::string& data) { return Chunk("bKGD", data); }
std::string Plte3() { return Chunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60\x70\x80\x90", 9)); }

TEST(PngRules, HandMadeFiles) {
    const std::string raw = RgbRaw();
    const std::string deflate = RawDeflate(raw);
    // A grey 2-bit picture (3 x 1: levels 1, 2, 3) for the grey chunk rules.
    const std::string grey_raw("\0\x6c", 2);
    const std::string grey_idat = Chunk("IDAT", Zlib(RawDeflate(grey_raw), grey_raw));
    const std::string pal_raw("\0\x01\x02\x00", 4);  // 3 x 1 palette 8-bit: 1, 2, 0
    const std::string pal_idat = Chunk("IDAT", Zlib(RawDeflate(pal_raw), pal_raw));
    // The image data in a non-final stored block followed by an empty final fixed block.
    std::string stored("\x00", 1);
    stored += char(raw.size());
    stored += '\0';
    stored += char(~raw.size());
    stored += '\xff';
    stored += raw;
    stored += std::string("\x03\x00", 2);  // final, fixed codes, end of block at once

    struct Case {
        const char* what;
        std::function<void(PngParts&)> change;
        bool loads;
    } cases[] = {
        {"plain", [](PngParts&) {}, true},
        // Every window size a zlib header can declare up to 32 KB.
        {"window 256 bytes (0x08)", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x08)); }, true},
        {"window 2 KB (0x38)", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x38)); }, true},
        {"window 4 KB (0x48)", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x48)); }, true},
        {"window 16 KB (0x68)", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x68)); }, true},
        {"window 64 KB (0x88)", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x88)); }, false},
        {"method 7", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x77)); }, false},
        {"preset dictionary", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(deflate, raw, 0x78, 0x20)); }, false},
        {"header check bits wrong",
         [&](PngParts& f) {
             std::string z = Zlib(deflate, raw);
             z[1] = char(z[1] + 1);
             f.idat = Chunk("IDAT", z);
         },
         false},
        {"non-final block then empty final block", [&](PngParts& f) { f.idat = Chunk("IDAT", Zlib(stored, raw)); }, true},
        {"no Adler-32 trailer",
         [&](PngParts& f) {
             std::string z = Zlib(deflate, raw);
             f.idat = Chunk("IDAT", z.substr(0, z.size() - 4));
         },
         false},
        {"image data split over three chunks",
         [&](PngParts& f) {
             const std::string z = Zlib(deflate, raw);
             f.idat = Chunk("IDAT", z.substr(0, 3)) + Chunk("IDAT", z.substr(3, 5)) + Chunk("IDAT", z.substr(8));
         },
         true},
        {"a chunk between image data chunks",
         [&](PngParts& f) {
             const std::string z = Zlib(deflate, raw);
             f.idat = Chunk("IDAT", z.substr(0, 5)) + Chunk("tEXt", std::string("k\0v", 3)) + Chunk("IDAT", z.substr(5));
         },
         false},
        {"RGB bKGD of 6 bytes", [](PngParts& f) { f.before_idat = Bkgd(std::string("\0\1\0\2\0\3", 6)); }, true},
        {"RGB bKGD of 2 bytes", [](PngParts& f) { f.before_idat = Bkgd(std::string("\0\1", 2)); }, false},
        {"grey bKGD of 2 bytes, no palette",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 2, 0);
             f.before_idat = Bkgd(std::string("\0\3", 2));
             f.idat = grey_idat;
         },
         true},
        {"grey bKGD beyond the depth",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 2, 0);
             f.before_idat = Bkgd(std::string("\0\4", 2));
             f.idat = grey_idat;
         },
         false},
        {"grey bKGD of 1 byte",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 2, 0);
             f.before_idat = Bkgd(std::string("\3", 1));
             f.idat = grey_idat;
         },
         false},
        {"palette bKGD after PLTE",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 8, 3);
             f.before_idat = Plte3() + Bkgd(std::string("\2", 1));
             f.idat = pal_idat;
         },
         true},
        {"palette bKGD before PLTE",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 8, 3);
             f.before_idat = Bkgd(std::string("\2", 1)) + Plte3();
             f.idat = pal_idat;
         },
         false},
        {"palette bKGD index beyond the palette",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 8, 3);
             f.before_idat = Plte3() + Bkgd(std::string("\3", 1));
             f.idat = pal_idat;
         },
         false},
        {"palette picture without PLTE",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 8, 3);
             f.idat = pal_idat;
         },
         false},
        {"PLTE in a grey picture",
         [&](PngParts& f) {
             f.ihdr = Ihdr(3, 1, 2, 0);
             f.before_idat = Plte3();
             f.idat = grey_idat;
         },
         false},
        {"broken CRC of IHDR", [](PngParts& f) { f.ihdr.back() = char(f.ihdr.back() ^ 1); }, false},
        {"broken CRC of an ancillary chunk",
         [](PngParts& f) { f.before_idat = Chunk("tEXt", std::string("key\0value", 9), true); },
         false},
        {"broken CRC of IEND", [](PngParts& f) { f.iend = Chunk("IEND", "", true); }, false},
        {"unknown ancillary chunk skipped", [](PngParts& f) { f.before_idat = Chunk("quUX", "anything"); }, true},
        {"unknown critical chunk", [](PngParts& f) { f.before_idat = Chunk("QUUX", "anything"); }, false},
        {"first chunk not IHDR", [](PngParts& f) { f.ihdr = Chunk("tEXt", std::string("k\0v", 3)) + f.ihdr; }, false},
        {"two IHDR", [](PngParts& f) { f.before_idat = Ihdr(3, 2, 8, 2); }, false},
        {"IHDR of 12 bytes", [](PngParts& f) { f.ihdr = Chunk("IHDR", std::string(12, '\1')); }, false},
        {"RGB of 4 bits", [](PngParts& f) { f.ihdr = Ihdr(3, 2, 4, 2); }, false},
        {"palette of 16 bits", [](PngParts& f) { f.ihdr = Ihdr(3, 2, 16, 3); }, false},
        {"colour type 5", [](PngParts& f) { f.ihdr = Ihdr(3, 2, 8, 5); }, false},
        {"zero width", [](PngParts& f) { f.ihdr = Ihdr(0, 2, 8, 2); }, false},
        {"interlace method 2", [](PngParts& f) { f.ihdr = Ihdr(3, 2, 8, 2, 2); }, false},
        {"no IEND", [](PngParts& f) { f.iend.clear(); }, false},
        {"no image data", [](PngParts& f) { f.idat.clear(); }, false},
        {"gAMA after the image data", [](PngParts& f) { f.after_idat = Chunk("gAMA", std::string("\0\0\xb1\x8f", 4)); }, false},
        {"gAMA before it", [](PngParts& f) { f.before_idat = Chunk("gAMA", std::string("\0\0\xb1\x8f", 4)); }, true},
        {"pHYs of 8 bytes", [](PngParts& f) { f.before_idat = Chunk("pHYs", std::string(8, '\1')); }, false},
        {"tIME of 7 bytes after the data", [](PngParts& f) { f.after_idat = Chunk("tIME", std::string(7, '\1')); }, true},
        {"tEXt keyword without its end", [](PngParts& f) { f.before_idat = Chunk("tEXt", std::string(90, 'k')); }, false},
        {"row filter 5",
         [&](PngParts& f) {
             std::string r = raw;
             r[0] = 5;
             f.idat = Chunk("IDAT", Zlib(RawDeflate(r), r));
         },
         false},
        {"one byte of image data missing",
         [&](PngParts& f) {
             const std::string r = raw.substr(0, raw.size() - 1);
             f.idat = Chunk("IDAT", Zlib(RawDeflate(r), r));
         },
         false},
        {"one byte of image data too many",
         [&](PngParts& f) {
             const std::string r = raw + '\0';
             f.idat = Chunk("IDAT", Zlib(RawDeflate(r), r));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PngParts f;
        c.change(f);
        CPicture p;
        EXPECT_EQ(LoadPng(f.Bytes(), p), c.loads);
        if (c.loads && f.ihdr == Ihdr(3, 2, 8, 2)) {
            EXPECT_TRUE(IsRgbPicture(p));
        }
        if (c.loads && f.ihdr == Ihdr(3, 1, 2, 0)) {
            Bgr px;
            p.GetPixel(2, 0, px);
            EXPECT_EQ(px.r, 255);
            p.GetPixel(0, 0, px);
            EXPECT_EQ(px.r, 85);
        }
    }
}

// Chunk lengths are believed only as far as the file has bytes, and huge pictures are refused
// before their pixels are allocated.
TEST(PngRules, HostileSizesAreRefusedWithoutAllocating) {
    PngParts huge_text;
    std::string length_only;
    PutBe32(length_only, 0x7FFFFFF0u);
    huge_text.before_idat = length_only + "tEXt" + "k";
    PngParts bomb;
    bomb.ihdr = Ihdr(60000, 60000, 8, 6);
    // Within the pixel budget, but 256 MB of rows cannot come out of a few bytes of data.
    PngParts inflate_bomb;
    inflate_bomb.ihdr = Ihdr(8000, 8000, 8, 6);
    PngParts top_bit;
    std::string negative;
    PutBe32(negative, 0x80000010u);
    top_bit.before_idat = negative + "quUX";
    for (const PngParts* f : {&huge_text, &bomb, &inflate_bomb, &top_bit}) {
        CPicture p;
        EXPECT_FALSE(LoadPng(f->Bytes(), p));
        EXPECT_TRUE(p.IsEmpty());
    }
}

// --- the inflater on hostile streams ---------------------------------------------------------

class BitWriter {
public:
    void Raw(unsigned value, int n) {  // least significant bit first
        for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
    }
    void Code(unsigned code, int n) {  // Huffman codes: most significant bit first
        for (int i = n - 1; i >= 0; --i) Bit((code >> i) & 1);
    }
    void FixedSymbol(unsigned s) {
        if (s < 144) Code(0x30 + s, 8);
        else if (s < 256) Code(0x190 + s - 144, 9);
        else if (s < 280) Code(s - 256, 7);
        else Code(0xC0 + s - 280, 8);
    }
    std::string Bytes() const { return bytes_; }

private:
    void Bit(unsigned b) {
        if (used_ == 0) bytes_ += '\0';
        bytes_.back() = char(bytes_.back() | (b << used_));
        used_ = (used_ + 1) & 7;
    }
    std::string bytes_;
    int used_ = 0;
};

TEST(PngInflate, HostileStreams) {
    auto fixed = [](std::initializer_list<std::pair<unsigned, int>> symbols) {
        // (symbol, distance symbol or -1)
        BitWriter w;
        w.Raw(1, 1);
        w.Raw(1, 2);
        for (auto [s, d] : symbols) {
            w.FixedSymbol(s);
            if (d >= 0) w.Code(unsigned(d), 5);
        }
        return w.Bytes();
    };
    // Dynamic block headers whose code-length code gives symbols 0 and 16 one bit each, or
    // three symbols one bit each.
    BitWriter repeat_first;
    repeat_first.Raw(1, 1);
    repeat_first.Raw(2, 2);
    repeat_first.Raw(0, 5);
    repeat_first.Raw(0, 5);
    repeat_first.Raw(0, 4);  // four code-length code lengths: 16, 17, 18, 0
    repeat_first.Raw(1, 3);
    repeat_first.Raw(0, 3);
    repeat_first.Raw(0, 3);
    repeat_first.Raw(1, 3);
    repeat_first.Code(1, 1);  // symbol 16 first: nothing to repeat
    repeat_first.Raw(0, 2);
    repeat_first.Raw(0, 16);
    BitWriter oversubscribed;
    oversubscribed.Raw(1, 1);
    oversubscribed.Raw(2, 2);
    oversubscribed.Raw(0, 5);
    oversubscribed.Raw(0, 5);
    oversubscribed.Raw(0, 4);
    for (int i = 0; i < 3; ++i) oversubscribed.Raw(1, 3);
    oversubscribed.Raw(0, 3);
    oversubscribed.Raw(0, 16);

    struct Case {
        const char* what;
        std::string stream;
        size_t out_size;
        bool ok;
    } cases[] = {
        {"literal, copy of length 3, end", fixed({{65, -1}, {257, 0}, {256, -1}}), 4, true},
        {"length symbol 285 (258 bytes)", fixed({{65, -1}, {285, 0}, {256, -1}}), 259, true},
        {"length symbol 286", fixed({{65, -1}, {286, 0}, {256, -1}}), 259, false},
        {"length symbol 287", fixed({{65, -1}, {287, 0}, {256, -1}}), 259, false},
        {"distance symbol 30", fixed({{65, -1}, {257, 30}, {256, -1}}), 4, false},
        {"distance beyond the output", fixed({{65, -1}, {257, 1}, {256, -1}}), 4, false},
        {"output past the expected size", fixed({{65, -1}, {66, -1}, {256, -1}}), 1, false},
        {"no end of block", fixed({{65, -1}}), 1, false},
        {"repeat code with no previous length", repeat_first.Bytes(), 16, false},
        {"over-subscribed code lengths", oversubscribed.Bytes(), 16, false},
        {"block type 3", std::string("\x07\0\0\0", 4), 16, false},
        {"stored length mismatch", std::string("\x01\x02\x00\xfd\xfe\x41\x42", 7), 2, false},
        {"stored block", std::string("\x01\x02\x00\xfd\xff\x41\x42", 7), 2, true},
        {"stored block cut short", std::string("\x01\x02\x00\xfd\xff\x41", 6), 2, false},
        {"empty input", std::string(), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> out(c.out_size + kInflateSlack);
        size_t produced = 0, consumed = 0;
        const bool ok = InflateRaw(reinterpret_cast<const uint8_t*>(c.stream.data()), c.stream.size(), out.data(),
                                   c.out_size, produced, consumed);
        EXPECT_EQ(ok, c.ok);
        if (ok) {
            EXPECT_EQ(produced, c.out_size);
            EXPECT_LE(consumed, c.stream.size());
        }
    }
}

// Large and varied data through both the inflater and a reference compressor at every level.
TEST(PngInflate, AgreesWithReferenceCompressor) {
    std::string raw;
    uint32_t seed = 12345;
    for (int i = 0; i < 300000; ++i) {
        seed = seed * 1103515245u + 12345u;
        raw += (i % 1000 < 600) ? char('a' + (seed >> 16) % 4) : char(seed >> 24);
    }
    for (int level : {0, 1, 6, 12}) {
        SCOPED_TRACE(level);
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        std::string z(raw.size() + 4096, '\0');
        z.resize(libdeflate_deflate_compress(c, raw.data(), raw.size(), z.data(), z.size()));
        libdeflate_free_compressor(c);
        std::vector<uint8_t> out(raw.size() + kInflateSlack);
        size_t produced = 0, consumed = 0;
        ASSERT_TRUE(InflateRaw(reinterpret_cast<const uint8_t*>(z.data()), z.size(), out.data(), raw.size(), produced,
                               consumed));
        EXPECT_EQ(consumed, z.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), produced), raw);
    }
}

// --- truncation and cancellation -------------------------------------------------------------

TEST(PngTruncation, NoShorterFileLoads) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(test::TestData("png"))) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] == 'x') continue;
        ++files;
        const std::string bytes = test::ReadFile(entry.path().string());
        CPicture whole;
        ASSERT_TRUE(LoadPng(bytes, whole)) << name;
        for (size_t n = 0; n < bytes.size(); ++n) {
            CPicture p;
            ASSERT_FALSE(LoadPng(bytes.substr(0, n), p)) << name << " cut at " << n;
        }
    }
    EXPECT_GE(files, 20);
}

TEST(PngCancel, ACancelledLoadFails) {
    const std::string bytes = test::ReadFile(Png("basn2c08.png"));
    test::CancelAfter cancel(1);
    CPicture p;
    EXPECT_FALSE(LoadPng(bytes, p, &cancel));
    EXPECT_EQ(cancel.Depth(), 0);
    test::CancelAfter never(1000);
    EXPECT_TRUE(LoadPng(bytes, p, &never));
}

}  // namespace
}  // namespace quorbel
