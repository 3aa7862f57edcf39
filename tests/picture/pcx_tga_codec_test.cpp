// The PCX and TGA decoders: the shared samples against their reference renders and netpbm's
// reading, files netpbm writes, hand-made headers for each rule, and the content pass.
#include <gtest/gtest.h>

#include <functional>

#include "picture/codecs/pcx_codec.h"
#include "picture/codecs/tga_codec.h"
#include "picture/raster_test_util.h"

namespace quorbel {
namespace {

using test::LoadWith;
using test::Quote;

std::string Pcx(const std::string& name) { return test::TestData("pcx/" + name); }
std::string Tga(const std::string& name) { return test::TestData("tga/" + name); }

void Le16(std::string& s, unsigned v) {
    s += char(v & 255);
    s += char(v >> 8);
}

// --- PCX ------------------------------------------------------------------------------------

// A PCX file field by field: the header, the scan lines as given, an optional trailer.
struct PcxLayout {
    int version = 5, bits = 8, planes = 1, bytes_per_line = 4;
    int width = 4, height = 2;
    std::string palette16 = std::string(48, '\0');
    std::string data;
    bool trailer = false;
    char marker = 12;
};

std::string MakePcx(const PcxLayout& l) {
    std::string s;
    s += char(10);
    s += char(l.version);
    s += char(1);
    s += char(l.bits);
    Le16(s, 0), Le16(s, 0), Le16(s, unsigned(l.width - 1)), Le16(s, unsigned(l.height - 1));
    Le16(s, 72), Le16(s, 72);
    s += l.palette16;
    s += char(0);
    s += char(l.planes);
    Le16(s, unsigned(l.bytes_per_line));
    Le16(s, 1);
    s.resize(128, '\0');
    s += l.data;
    if (l.trailer) {
        s += l.marker;
        for (int i = 0; i < 256; ++i) s += std::string{char(i), char(255 - i), char(i / 2)};
    }
    return s;
}

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

TEST(PcxSamples, MatchTheirRendersAndNetpbm) {
    struct Row {
        const char* file;
        bool has_expected;
        int depth;
    } rows[] = {{"CGA_FSD.PCX", true, 2}, {"CGA_RGBI.PCX", true, 2}, {"CGA_TST1.PCX", true, 2},
                {"gmarbles.pcx", true, 8}, {"marbles.pcx", true, 24}, {"odd_stride.pcx", false, 8},
                {"pil184.pcx", false, 1}, {"CGA_BW.PCX", false, 1}, {"p_4_planes.pcx", false, 4}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(Pcx(r.file), ours, nullptr));
        EXPECT_EQ(ours.Depth(), r.depth);
        EXPECT_EQ(ours.Description(), "Zsoft PaintBrush (PCX)");
        ASSERT_TRUE(test::PeerRender("pcxtoppm " + Quote(Pcx(r.file)), peer));
        EXPECT_EQ(test::MaxDifference(ours, peer), 0);
        if (r.has_expected) {
            CPicture expected;
            ASSERT_TRUE(test::PictureFromConvert(Pcx(std::string(r.file) + ".expected.png"), expected));
            EXPECT_EQ(test::MaxDifference(ours, expected), 0);
        }
    }
}

TEST(PcxSamples, RefusedOnes) {
    for (const char* f : {"tiny.pcx",                        // version 3: no palette information
                          "01r_00.pcx",                      // 256 colours, file too short for the palette
                          "ossfuzz-4836216264589312.pcx"}) {  // encoding 32, 0 bytes per line
        CPicture p;
        EXPECT_FALSE(LoadWith("PCX", test::ReadFile(Pcx(f)), p)) << f;
    }
}

// Pictures netpbm writes in its PCX variants, read back against the picture they came from.
TEST(PcxWritten, NetpbmVariantsRoundTrip) {
    test::TempDir dir;
    // 13 x 5 (odd width: padded scan lines), 7 colours.
    std::string ppm = "P6\n13 5\n255\n";
    const unsigned char colours[7][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {10, 20, 30}, {255, 255, 255}};
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            for (int k = 0; k < 3; ++k) ppm += char(colours[(x * 3 + y) % 7][k]);
    test::WriteFile(dir / "src.ppm", ppm);
    CPicture source;
    ASSERT_TRUE(test::PictureFromPpm(ppm, source));
    struct Row {
        const char* options;
        int depth;
    } rows[] = {{"", 3}, {"-24bit", 24}, {"-8bit", 8}, {"-packed", 4}, {"-planes 4", 4}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.options);
        const std::string out = dir / "out.pcx";
        ASSERT_EQ(test::Run({"sh", "-c", std::string("ppmtopcx ") + r.options + " " + dir / "src.ppm" + " > " + out}).exit_code, 0);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(out, p, nullptr));
        EXPECT_EQ(p.Depth(), r.depth);
        EXPECT_EQ(test::MaxDifference(p, source), 0);
    }
}

TEST(PcxHeader, Rules) {
    PcxLayout mono;
    mono.bits = 1, mono.width = 16, mono.bytes_per_line = 2, mono.height = 1;
    mono.data = "\xC1\xF0\x0F";
    mono.palette16.replace(0, 6, "\x00\x00\x00\xff\xff\xff", 6);
    struct Row {
        const char* what;
        std::function<void(PcxLayout&)> change;
        bool loads;
    } rows[] = {
        {"as made", [](PcxLayout&) {}, true},
        {"version 3", [](PcxLayout& l) { l.version = 3; }, false},
        {"version 0 monochrome", [](PcxLayout& l) { l.version = 0; }, true},
        {"bytes per line short of the width", [](PcxLayout& l) { l.bytes_per_line = 1; }, false},
        {"bits per plane 3", [](PcxLayout& l) { l.bits = 3; }, false},
        {"four planes of 4 bits", [](PcxLayout& l) { l.planes = 4, l.bits = 4; }, false},
        {"three planes of 2 bits: palette beyond the header's", [](PcxLayout& l) { l.planes = 3, l.bits = 2; }, false},
        {"scan line missing", [](PcxLayout& l) { l.data = "\xC1\xF0"; }, false},
        {"run crossing the line end", [](PcxLayout& l) { l.data = "\xC3\x01"; }, false},
    };
    for (const Row& r : rows) {
        PcxLayout l = mono;
        r.change(l);
        CPicture p;
        EXPECT_EQ(LoadWith("PCX", MakePcx(l), p), r.loads) << r.what;
    }
    // Version 0 is black and white whatever the header palette says.
    PcxLayout v0 = mono;
    v0.version = 0;
    v0.palette16.replace(0, 6, "\x10\x20\x30\x40\x50\x60", 6);
    CPicture p;
    ASSERT_TRUE(LoadWith("PCX", MakePcx(v0), p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 4, 0), (Bgr{0, 0, 0}));
}

TEST(PcxHeader, ThreePlanesOfOneBitAreEightColours) {
    PcxLayout l;
    l.bits = 1, l.planes = 3, l.width = 8, l.height = 1, l.bytes_per_line = 2;
    // Pixel x has index x: plane p holds bit p.
    l.data = std::string("\x55\x00", 2) + std::string("\x33\x00", 2) + std::string("\x0F\x00", 2);
    for (int i = 0; i < 16; ++i) l.palette16.replace(size_t(3 * i), 3, std::string{char(i * 10), char(i * 20), char(i)});
    CPicture p;
    ASSERT_TRUE(LoadWith("PCX", MakePcx(l), p));
    EXPECT_EQ(p.Depth(), 3);
    EXPECT_EQ(p.PaletteCount(), 8);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(p, x, 0), (Bgr{uint8_t(x), uint8_t(x * 20), uint8_t(x * 10)})) << x;
}

TEST(PcxHeader, PaletteAtTheEnd) {
    PcxLayout l;
    l.height = 1;
    l.data = "\x01\x02\xC1\xFE\xC1\xFF";
    l.trailer = true;
    CPicture p;
    ASSERT_TRUE(LoadWith("PCX", MakePcx(l), p));
    EXPECT_EQ(p.PaletteCount(), 256);
    EXPECT_EQ(At(p, 2, 0), (Bgr{127, 1, 254}));
    l.marker = 11;
    EXPECT_FALSE(LoadWith("PCX", MakePcx(l), p));
    // The file holds the 769 bytes, but they reach back into the header: not a palette.
    std::string short_file = MakePcx(l).substr(0, 128 + 700);
    short_file[short_file.size() - 769] = 12;
    EXPECT_FALSE(LoadWith("PCX", short_file, p));
}

// --- TGA ------------------------------------------------------------------------------------

struct TgaLayout {
    int map_type = 0, image_type = 2;
    int map_first = 0, map_length = 0, map_bits = 24;
    int width = 2, height = 2, depth = 24, descriptor = 0;
    std::string id, map, data;
};

std::string MakeTga(const TgaLayout& l) {
    std::string s;
    s += char(l.id.size());
    s += char(l.map_type);
    s += char(l.image_type);
    Le16(s, unsigned(l.map_first)), Le16(s, unsigned(l.map_length));
    s += char(l.map_bits);
    Le16(s, 0), Le16(s, 0), Le16(s, unsigned(l.width)), Le16(s, unsigned(l.height));
    s += char(l.depth);
    s += char(l.descriptor);
    return s + l.id + l.map + l.data;
}

TEST(TgaSamples, MatchTheirRenders) {
    // Each family against its reference picture: raw and packed, both row orders.
    struct Row {
        const char* file;
        const char* expected;
        int depth;
    } rows[] = {{"200x32_p_bl_raw.tga", "200x32_p.png.expected", 8}, {"200x32_p_bl_rle.tga", "200x32_p.png.expected", 8},
                {"200x32_p_tl_raw.tga", "200x32_p.png.expected", 8}, {"200x32_p_tl_rle.tga", "200x32_p.png.expected", 8},
                {"200x32_rgb_bl_raw.tga", "200x32_rgb.png.expected", 24}, {"200x32_rgb_bl_rle.tga", "200x32_rgb.png.expected", 24},
                {"200x32_rgb_tl_raw.tga", "200x32_rgb.png.expected", 24}, {"200x32_rgb_tl_rle.tga", "200x32_rgb.png.expected", 24}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture ours, expected;
        ASSERT_TRUE(LoadPictureFile(Tga(r.file), ours, nullptr));
        EXPECT_EQ(ours.Depth(), r.depth);
        EXPECT_FALSE(ours.HasAlpha());
        EXPECT_EQ(ours.Description(), "Truevision Targa (TGA)");
        ASSERT_TRUE(test::PictureFromConvert(Tga(r.expected), expected));
        EXPECT_EQ(test::MaxDifference(ours, expected), 0);
    }
}

TEST(TgaSamples, AlphaFromTheFourthByte) {
    CPicture alpha_ref;
    test::CommandResult r = test::Run({"convert", Tga("200x32_rgba.png.expected"), "-alpha", "extract", "-depth", "8", "pgm:-"});
    ASSERT_EQ(r.exit_code, 0);
    ASSERT_TRUE(test::PictureFromPpm(r.out, alpha_ref));
    for (const char* f : {"200x32_rgba_bl_raw.tga", "200x32_rgba_bl_rle.tga", "200x32_rgba_tl_rle.tga"}) {
        SCOPED_TRACE(f);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(Tga(f), p, nullptr));
        ASSERT_TRUE(p.HasAlpha());
        int worst = 0;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                Bgr a;
                alpha_ref.GetPixel(x, y, a);
                worst = std::max(worst, std::abs(p.GetAlpha(x, y) - int(a.r)));
            }
        EXPECT_EQ(worst, 0);
    }
}

TEST(TgaSamples, OthersAgainstNetpbmAndRefusals) {
    for (const char* f : {"p_16.tga", "rgba16.tga", "tga_id_field.tga"}) {
        SCOPED_TRACE(f);
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(Tga(f), ours, nullptr));
        ASSERT_TRUE(test::PeerRender("tgatoppm " + Quote(Tga(f)), peer));
        EXPECT_EQ(test::MaxDifference(ours, peer), 0);
    }
    // Grey-scale pictures are not read.
    for (const char* f : {"200x32_l_bl_raw.tga", "200x32_l_tl_rle.tga", "200x32_la_bl_rle.tga", "cross_scan_line.tga"}) {
        CPicture p;
        EXPECT_FALSE(LoadWith("TGA", test::ReadFile(Tga(f)), p)) << f;
    }
}

TEST(TgaWritten, NetpbmVariantsRoundTrip) {
    test::TempDir dir;
    CPicture source;
    test::FillPattern(source, 37, 9);
    std::string ppm = "P6\n37 9\n255\n";
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x) {
            const Bgr c = At(source, x, y);
            ppm += std::string{char(c.r), char(c.g), char(c.b)};
        }
    test::WriteFile(dir / "src.ppm", ppm);
    // A second source of 15 colours for the colour-mapped variants.
    CPicture few;
    few.Create(37, 9);
    std::string few_ppm = "P6\n37 9\n255\n";
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x) {
            const Bgr c{uint8_t(x % 5 * 60), uint8_t(y % 3 * 100), uint8_t(7)};
            few.SetPixel(x, y, c);
            few_ppm += std::string{char(c.r), char(c.g), char(c.b)};
        }
    test::WriteFile(dir / "few.ppm", few_ppm);
    struct Row {
        const char* options;
        const char* input;
        const CPicture& expected;
        int depth;
    } rows[] = {{"-rgb -norle", "src.ppm", source, 24}, {"-rgb", "src.ppm", source, 24},
                {"-cmap", "few.ppm", few, 8}, {"-cmap -norle", "few.ppm", few, 8}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.options);
        const std::string out = dir / "out.tga";
        ASSERT_EQ(test::Run({"sh", "-c", std::string("pamtotga ") + r.options + " " + dir / r.input + " > " + out}).exit_code, 0);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(out, p, nullptr));
        EXPECT_EQ(p.Depth(), r.depth);
        EXPECT_EQ(test::MaxDifference(p, r.expected), 0);
    }
}

TEST(TgaHeader, Rules) {
    TgaLayout base;
    base.data = std::string(12, '\x40');
    struct Row {
        const char* what;
        std::function<void(TgaLayout&)> change;
        bool loads;
    } rows[] = {
        {"as made", [](TgaLayout&) {}, true},
        {"grey scale", [](TgaLayout& l) { l.image_type = 3; }, false},
        {"true colour of 8 bits", [](TgaLayout& l) { l.depth = 8; }, false},
        {"colour-mapped of 24 bits",
         [](TgaLayout& l) { l.map_type = 1, l.image_type = 1, l.map_length = 1, l.map = "abc"; }, false},
        {"map type 2", [](TgaLayout& l) { l.map_type = 2; }, false},
        {"one byte short", [](TgaLayout& l) { l.data.pop_back(); }, false},
        {"packets short", [](TgaLayout& l) { l.image_type = 10, l.data = "\x83\1\2\3"; }, false},
        {"width 0", [](TgaLayout& l) { l.width = 0; }, false},
        {"id past the end", [](TgaLayout& l) { l.id = std::string(200, 'i'), l.data.clear(); }, false},
        {"unused colour map skipped", [](TgaLayout& l) { l.map_type = 1, l.map_length = 3, l.map = std::string(9, 'm'); }, true},
    };
    for (const Row& r : rows) {
        TgaLayout l = base;
        r.change(l);
        CPicture p;
        EXPECT_EQ(LoadWith("TGA", MakeTga(l), p), r.loads) << r.what;
    }
}

TEST(TgaHeader, ColourMapPlacedFromItsFirstIndex) {
    TgaLayout l;
    l.map_type = 1, l.image_type = 1, l.depth = 8, l.width = 3, l.height = 1;
    l.map_first = 10, l.map_length = 2, l.map_bits = 16;
    // 16-bit entries: pure red (31 widens to 255) and blue 1.
    l.map = std::string("\x00\x7C\x01\x00", 4);
    l.data = std::string("\x0A\x0B\x00", 3);
    CPicture p;
    ASSERT_TRUE(LoadWith("TGA", MakeTga(l), p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(At(p, 1, 0), (Bgr{8, 0, 0}));
    EXPECT_EQ(At(p, 2, 0), (Bgr{0, 0, 0}));  // an index the map does not give
    EXPECT_EQ(p.Depth(), 8);
}

TEST(TgaHeader, PixelFormsAndOrders) {
    // 16 bits: 5-bit channels reach 255.
    TgaLayout l;
    l.depth = 16, l.width = 2, l.height = 1;
    l.data = std::string("\xFF\x7F\x1F\x00", 4);
    CPicture p;
    ASSERT_TRUE(LoadWith("TGA", MakeTga(l), p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 1, 0), (Bgr{255, 0, 0}));
    // 32 bits: the fourth byte is alpha only with 8 alpha bits in the descriptor.
    l.depth = 32, l.data = std::string("\1\2\3\x80\4\5\6\x00", 8);
    ASSERT_TRUE(LoadWith("TGA", MakeTga(l), p));
    EXPECT_FALSE(p.HasAlpha());
    EXPECT_EQ(At(p, 1, 0), (Bgr{4, 5, 6}));
    l.descriptor = 8;
    ASSERT_TRUE(LoadWith("TGA", MakeTga(l), p));
    EXPECT_EQ(p.GetAlpha(0, 0), 128);
    EXPECT_EQ(p.GetAlpha(1, 0), 0);
    // Bottom-up and right-to-left: the first stored pixel is the bottom right one.
    TgaLayout o;
    o.width = 2, o.height = 2, o.descriptor = 0x10;
    o.data = std::string("\1\1\1\2\2\2\3\3\3\4\4\4", 12);
    ASSERT_TRUE(LoadWith("TGA", MakeTga(o), p));
    EXPECT_EQ(At(p, 1, 1), (Bgr{1, 1, 1}));
    EXPECT_EQ(At(p, 0, 0), (Bgr{4, 4, 4}));
    // A packet running past the row end: its extra pixels do not carry into the next row.
    o.descriptor = 0x20, o.image_type = 10;
    o.data = std::string("\x82\7\7\7\x81\x9\x9\x9", 8);
    ASSERT_TRUE(LoadWith("TGA", MakeTga(o), p));
    EXPECT_EQ(At(p, 1, 0), (Bgr{7, 7, 7}));
    EXPECT_EQ(At(p, 0, 1), (Bgr{9, 9, 9}));
}

TEST(TgaContentPass, ShortForeignFilesAreNotTargas) {
    // A true-colour header that fits by chance, 18 bytes of text and nothing else: no picture.
    TgaLayout l;
    l.width = 300, l.height = 200;
    CPicture p;
    EXPECT_EQ(test::LoadNamed(MakeTga(l) + "a few bytes", "notes.txt", p), "");
    // The same with its pixels is one, found without its extension.
    l.width = 2, l.height = 1, l.data = "\1\2\3\4\5\6";
    EXPECT_EQ(test::LoadNamed(MakeTga(l), "picture.dat", p), "TGA");
}

TEST(TgaResource, DecodedByTheResourceLoader) {
    const std::string bytes = test::ReadFile(Tga("200x32_rgb_tl_rle.tga"));
    auto p = LoadPictureResource(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Width(), 200);
    EXPECT_EQ(p->Height(), 32);
    EXPECT_EQ(LoadPictureResource(reinterpret_cast<const uint8_t*>(bytes.data()), 100, false), nullptr);
}

}  // namespace
}  // namespace quorbel
