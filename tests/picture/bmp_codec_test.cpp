// The BMP codec: the bmpsuite samples against their reference renders and against each other,
// files ImageMagick writes, hand-made files for every rule of the decoder, hostile samples,
// truncation at every length, and the writer.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "core/data_stream.h"
#include "picture/codecs/bmp_codec.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::BmpLayout;
using test::MakeBmp;

std::string Bmp(const std::string& name) { return test::TestData("bmp/" + name); }

bool LoadBytes(const std::string& bytes, const std::string& name, CPicture& picture,
               const CGraphicsFormat** chosen = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName(name);
    return LoadFromStream(s, &picture, nullptr, true, nullptr, nullptr, nullptr, nullptr, chosen);
}

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

// --- the shared samples ---------------------------------------------------------------------

TEST(BmpSuite, MatchesReferenceRenders) {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // The reference renders were made from the same palettes with a rounding of their own: some
    // channels differ by one step, never more.
    const char* files[] = {"g_pal1.bmp", "g_pal1bg.bmp", "g_pal4.bmp", "g_pal8.bmp", "g_pal8nonsquare.bmp",
                           "g_pal8w124.bmp", "g_pal8w125.bmp", "g_pal8w126.bmp", "g_rgb16.bmp",
                           "g_rgb16-565.bmp", "g_rgb24.bmp"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        CPicture got, want;
        ASSERT_TRUE(LoadPictureFile(Bmp(f), got, nullptr));
        ASSERT_TRUE(test::PictureFromConvert(Bmp(std::string(f) + ".expected.png"), want));
        EXPECT_LE(test::MaxDifference(got, want), 1);
        EXPECT_EQ(got.Description(), "Windows bitmap (BMP)");
        EXPECT_EQ(got.SourceName(), Bmp(f));
    }
}

TEST(BmpSuite, SamePixelFamilies) {
    struct Family {
        const char* reference;
        std::vector<const char*> members;
    } families[] = {
        {"g_pal8.bmp", {"g_pal8os2.bmp", "g_pal8rle.bmp", "g_pal8topdown.bmp", "g_pal8v4.bmp", "g_pal8v5.bmp",
                        "q_pal8os2v2.bmp"}},
        {"g_pal4.bmp", {"g_pal4rle.bmp"}},
        {"g_pal1.bmp", {"g_pal1wb.bmp"}},
        {"g_rgb24.bmp", {"g_rgb32.bmp", "g_rgb32bf.bmp"}},
    };
    for (const Family& family : families) {
        CPicture reference;
        ASSERT_TRUE(LoadPictureFile(Bmp(family.reference), reference, nullptr));
        for (const char* f : family.members) {
            SCOPED_TRACE(f);
            CPicture p;
            ASSERT_TRUE(LoadPictureFile(Bmp(f), p, nullptr));
            EXPECT_EQ(test::MaxDifference(p, reference), 0);
        }
    }
}

TEST(BmpSuite, ImageMagickReadsTheSamePixels) {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // Files without a reference render: the peer's reading of the same file.
    for (const char* f : {"hopper.bmp", "g_pal8v5.bmp", "g_pal8os2.bmp", "g_rgb32bf.bmp", "g_pal4rle.bmp"}) {
        SCOPED_TRACE(f);
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(Bmp(f), ours, nullptr));
        ASSERT_TRUE(test::PictureFromConvert(Bmp(f), peer));
        EXPECT_EQ(test::MaxDifference(ours, peer), 0);
    }
}

TEST(BmpSuite, DepthsAndPalettes) {
    struct Row {
        const char* file;
        int depth;
        int palette;
    } rows[] = {{"g_pal1.bmp", 1, 2}, {"g_pal4.bmp", 4, 12}, {"g_pal8.bmp", 8, 256}, {"g_pal8os2.bmp", 8, 256},
                {"g_pal8rle.bmp", 8, 252}, {"g_rgb16.bmp", 16, 0}, {"g_rgb24.bmp", 24, 0}, {"g_rgb32.bmp", 32, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(Bmp(r.file), p, nullptr));
        EXPECT_EQ(p.Depth(), r.depth);
        // Uncompressed 8-bit files record a full palette; others the colours-used entries.
        EXPECT_EQ(p.PaletteCount(), r.palette);
    }
}

TEST(BmpSuite, HostileAndQuestionableSamples) {
    struct Row {
        const char* file;
        bool loads;
    } rows[] = {
        {"b_badrle.bmp", false},     // runs beyond the row end
        {"b_shortfile.bmp", false},  // rows missing: never loaded from uninitialised memory
        {"q_pal8os2sp.bmp", false},  // pixels said to begin inside the colour table
        {"q_pal4rletrns.bmp", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture p;
        EXPECT_EQ(LoadPictureFile(Bmp(r.file), p, nullptr), r.loads);
    }
    // Pixels the RLE data skips stay transparent; the ones it draws are opaque.
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(Bmp("q_pal4rletrns.bmp"), p, nullptr));
    ASSERT_TRUE(p.HasAlpha());
    int clear = 0, opaque = 0;
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x) (p.GetAlpha(x, y) == 0 ? clear : opaque)++;
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 0);
}

TEST(BmpSuite, InfoTextsFollowTheName) {
    const std::string rle = test::ReadFile(Bmp("g_pal8rle.bmp"));
    struct Row {
        std::string name, text;
    } rows[] = {{"x.bmp", "Windows compressed bitmap (RLE)"},
                {"x.DIB", "Windows Device-Independent Bitmap (DIB)"},
                {"x.os2", "OS2 Bitmap (OS2,BMP)"},
                {"noextension", "Windows compressed bitmap (RLE)"}};
    for (const Row& r : rows) {
        DataStream s;
        s.AttachMemory(reinterpret_cast<const uint8_t*>(rle.data()), rle.size());
        s.SetName(r.name);
        int w = 0, h = 0, d = 0;
        std::string text;
        ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &d, &text)) << r.name;
        EXPECT_EQ(text, r.text) << r.name;
        EXPECT_EQ(w, 127);
        EXPECT_EQ(h, 64);
        EXPECT_EQ(d, 8);
    }
}

// --- hand-made files ------------------------------------------------------------------------

BmpLayout Pal8(int w, int h) {
    BmpLayout s;
    s.width = w;
    s.height = h;
    s.bits = 8;
    for (uint32_t i = 0; i < 4; ++i) s.table.push_back(0x00102030u * (i + 1));
    s.colours_used = 4;
    return s;
}

TEST(BmpHandMade, LargeHeaderPutsTheTableAfterIt) {
    // A V5 header (124 bytes): the colour table starts at 14 + 124, not at 54.
    for (uint32_t header : {40u, 108u, 124u}) {
        BmpLayout s = Pal8(2, 1);
        s.header_size = header;
        s.pixels = std::string("\x01\x03\0\0", 4);
        CPicture p;
        ASSERT_TRUE(LoadBytes(MakeBmp(s), "v.bmp", p)) << header;
        EXPECT_EQ(At(p, 0, 0), (Bgr{0x60, 0x40, 0x20})) << header;
        EXPECT_EQ(At(p, 1, 0), (Bgr{0xC0, 0x80, 0x40})) << header;
    }
}

TEST(BmpHandMade, TopDownRowsAndBottomUpRows) {
    BmpLayout s;
    s.width = 1;
    s.height = -2;
    s.pixels = std::string("\x01\x02\x03\0\x04\x05\x06\0", 8);
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "t.bmp", p));
    EXPECT_EQ(p.Height(), 2);
    EXPECT_EQ(At(p, 0, 0), (Bgr{1, 2, 3}));
    s.height = 2;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "t.bmp", p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{4, 5, 6}));
}

TEST(BmpHandMade, PaletteIndexBeyondTheTableIsBlack) {
    BmpLayout s = Pal8(2, 1);
    s.pixels = std::string("\xff\x02\0\0", 4);
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "p.bmp", p));
    EXPECT_EQ(At(p, 0, 0), Bgr{});
    EXPECT_EQ(At(p, 1, 0), (Bgr{0x90, 0x60, 0x30}));
    // A colours-used count beyond 2^bits reads only 2^bits entries (a 1-bit file: two).
    BmpLayout one;
    one.width = 1;
    one.height = 1;
    one.bits = 1;
    one.colours_used = 1000000;
    one.table = {0x000000, 0xFFFFFF};
    one.pixels = std::string("\x80\0\0\0", 4);
    ASSERT_TRUE(LoadBytes(MakeBmp(one), "o.bmp", p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(p.PaletteCount(), 2);
}

TEST(BmpHandMade, SixteenBitFiveSixFiveMasks) {
    BmpLayout s;
    s.width = 2;
    s.height = 1;
    s.bits = 16;
    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.pixels = std::string("\x00\xf8\xe0\x07", 4);
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "m.bmp", p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(At(p, 1, 0), (Bgr{0, 255, 0}));
}

TEST(BmpHandMade, RefusedFiles) {
    struct Row {
        const char* what;
        std::string bytes;
    };
    std::vector<Row> rows;
    auto add = [&](const char* what, BmpLayout s) { rows.push_back({what, MakeBmp(s)}); };
    BmpLayout inside = Pal8(2, 1);
    inside.pixels = std::string("\x01\x01\0\0", 4);
    inside.bits_offset = 14 + 40 + 4;  // inside the colour table
    add("bits offset inside the colour table", inside);
    BmpLayout bitfields24;
    bitfields24.compression = 3;
    bitfields24.masks = {0xFF0000, 0xFF00, 0xFF};
    bitfields24.pixels = std::string(48, '\0');
    add("24 bits with bit fields", bitfields24);
    BmpLayout two_bits = Pal8(4, 1);
    two_bits.bits = 2;
    two_bits.pixels = std::string(4, '\0');
    add("2 bits", two_bits);
    BmpLayout huge;
    huge.width = 65535;
    huge.height = 65535;
    huge.pixels = std::string(64, '\0');
    add("65535 x 65535 with 64 bytes of pixels", huge);
    BmpLayout tall;
    tall.width = 1;
    tall.height = -65536;
    add("top-down height beyond 65535", tall);
    BmpLayout wide;
    wide.width = -4;
    add("negative width", wide);
    BmpLayout short_rows;
    short_rows.pixels = std::string(12 * 3 - 1, '\0');
    add("one byte of pixels missing", short_rows);
    BmpLayout rle_topdown = Pal8(2, -1);
    rle_topdown.compression = 1;
    rle_topdown.pixels = std::string("\x02\x01\x00\x01", 4);
    add("RLE stored top-down", rle_topdown);
    BmpLayout rle_edge = Pal8(2, 1);
    rle_edge.compression = 1;
    rle_edge.pixels = std::string("\x05\x01\x00\x01", 4);
    add("RLE8 run past the right edge", rle_edge);
    BmpLayout rle_abs_edge = Pal8(2, 1);
    rle_abs_edge.compression = 1;
    rle_abs_edge.pixels = std::string("\x00\x05\x01\x01\x01\x01\x01\x00\x00\x01", 10);
    add("RLE8 absolute run past the right edge", rle_abs_edge);
    BmpLayout rle_no_end = Pal8(2, 1);
    rle_no_end.compression = 1;
    rle_no_end.pixels = std::string("\x02\x01\x00\x00", 4);
    add("RLE8 without end of bitmap", rle_no_end);
    BmpLayout rle4_edge = Pal8(3, 1);
    rle4_edge.bits = 4;
    rle4_edge.compression = 2;
    rle4_edge.pixels = std::string("\x09\x12\x00\x01", 4);
    add("RLE4 run past the right edge", rle4_edge);
    BmpLayout bad_header;
    bad_header.header_size = 200;
    add("unknown header size", bad_header);
    rows.push_back({"not a bitmap", "BX" + std::string(60, '\0')});
    rows.push_back({"empty", ""});
    for (const Row& r : rows) {
        CPicture p;
        EXPECT_FALSE(LoadBytes(r.bytes, "r.bmp", p)) << r.what;
    }
}

TEST(BmpHandMade, RleDeltaAboveTheTopLeavesTheRestTransparent) {
    BmpLayout s = Pal8(2, 2);
    s.compression = 1;
    // Bottom row: two pixels of 1; then a delta 5 rows up; then the end of the bitmap.
    s.pixels = std::string("\x02\x01\x00\x02\x00\x05\x00\x01", 8);
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "d.bmp", p));
    EXPECT_EQ(At(p, 0, 1), (Bgr{0x60, 0x40, 0x20}));
    EXPECT_EQ(p.GetAlpha(0, 1), 255);
    EXPECT_EQ(p.GetAlpha(0, 0), 0);
    // RLE4: runs alternate the two nibbles, absolute runs (3 pixels or more) take the high
    // nibble first and pad to 16 bits.
    BmpLayout f = Pal8(6, 1);
    f.bits = 4;
    f.compression = 2;
    f.pixels = std::string("\x03\x12\x00\x03\x30\x10\x00\x01", 8);
    ASSERT_TRUE(LoadBytes(MakeBmp(f), "f.bmp", p));
    const Bgr c0{0x30, 0x20, 0x10}, c1{0x60, 0x40, 0x20}, c2{0x90, 0x60, 0x30}, c3{0xC0, 0x80, 0x40};
    const Bgr want[] = {c1, c2, c1, c3, c0, c1};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(At(p, x, 0), want[x]) << x;
    EXPECT_FALSE(p.HasAlpha());
    // A run into the row padding (5 pixels of a 5-wide row padded to 8) is drawn up to the edge.
    BmpLayout pad = Pal8(5, 1);
    pad.compression = 1;
    pad.pixels = std::string("\x06\x01\x00\x01", 4);
    ASSERT_TRUE(LoadBytes(MakeBmp(pad), "pad.bmp", p));
    EXPECT_EQ(At(p, 4, 0), c1);
    pad.pixels = std::string("\x09\x01\x00\x01", 4);
    EXPECT_FALSE(LoadBytes(MakeBmp(pad), "pad.bmp", p));
}

TEST(BmpHandMade, ThirtyTwoBitAlphaMask) {
    BmpLayout s;
    s.width = 2;
    s.height = 1;
    s.bits = 32;
    s.compression = 3;
    s.header_size = 124;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.pixels = std::string("\x01\x02\x03\x80\x04\x05\x06\x00", 8);
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "a.bmp", p));
    EXPECT_EQ(p.GetAlpha(0, 0), 0x80);
    EXPECT_EQ(p.GetAlpha(1, 0), 0);
    // Every alpha value 0: a file that never meant transparency stays opaque.
    s.pixels = std::string("\x01\x02\x03\x00\x04\x05\x06\x00", 8);
    ASSERT_TRUE(LoadBytes(MakeBmp(s), "a.bmp", p));
    EXPECT_FALSE(p.HasAlpha());
}

// --- files ImageMagick writes ----------------------------------------------------------------

TEST(BmpImageMagick, EveryVariantLoadsThePicture) {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    // A 37 x 23 picture of 6 colours (so palette variants keep it exactly), odd sizes for padding.
    CPicture source;
    ASSERT_TRUE(source.Create(37, 23));
    const Bgr colours[] = {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {40, 80, 120}};
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) source.SetPixel(x, y, colours[(x / 3 + y / 2) % 6]);
    const std::string src = dir / "src.bmp";
    ASSERT_TRUE(SaveBmp24(src, source, nullptr));
    struct Row {
        const char* what;
        std::vector<std::string> options;
        const char* output;
    } rows[] = {
        {"default (V5 header)", {}, "bmp:"},
        {"BMP3", {}, "bmp3:"},
        {"OS/2 1.x", {}, "bmp2:"},
        {"palette V5", {"-type", "palette"}, "bmp:"},
        {"palette BMP3", {"-type", "palette"}, "bmp3:"},
        {"palette RLE8", {"-type", "palette", "-compress", "rle"}, "bmp3:"},
        {"RGB565", {"-define", "bmp:subtype=RGB565"}, "bmp:"},
        {"RGB555", {"-define", "bmp:subtype=RGB555"}, "bmp:"},
        {"ARGB8888", {"-define", "bmp:subtype=ARGB8888"}, "bmp:"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string out = dir / "out.bmp";
        std::vector<std::string> argv = {"convert", src};
        argv.insert(argv.end(), r.options.begin(), r.options.end());
        argv.push_back(std::string(r.output) + out);
        ASSERT_EQ(test::Run(argv).exit_code, 0);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(out, p, nullptr));
        // 5-bit channels hold every eighth value of 8 bits: one step of theirs at most.
        const bool sixteen = std::string(r.what).rfind("RGB5", 0) == 0;
        EXPECT_LE(test::MaxDifference(p, source), sixteen ? 8 : 0);
    }
}

// --- truncation ------------------------------------------------------------------------------

TEST(BmpTruncation, EveryShorterLengthFailsCleanly) {
    BmpLayout rle = Pal8(4, 3);
    rle.compression = 1;
    rle.pixels = std::string("\x04\x01\x00\x00\x00\x04\x01\x02\x03\x00\x00\x00\x02\x02\x02\x03\x00\x01", 18);
    BmpLayout rgb;
    rgb.width = 3;
    rgb.height = 2;
    rgb.pixels = std::string(24, '\x42');
    std::vector<std::pair<std::string, std::string>> files = {
        {"hand RLE8", MakeBmp(rle)},
        {"hand 24-bit", MakeBmp(rgb)},
        {"g_pal8rle", test::ReadFile(Bmp("g_pal8rle.bmp"))},
        {"g_pal4rle", test::ReadFile(Bmp("g_pal4rle.bmp"))},
        {"g_pal1", test::ReadFile(Bmp("g_pal1.bmp"))},
        {"g_rgb16-565", test::ReadFile(Bmp("g_rgb16-565.bmp"))},
        {"g_pal8os2", test::ReadFile(Bmp("g_pal8os2.bmp"))},
    };
    for (const auto& [what, bytes] : files) {
        CPicture whole;
        ASSERT_TRUE(LoadBytes(bytes, "t.bmp", whole)) << what;
        for (size_t n = 0; n < bytes.size(); ++n) {
            CPicture p;
            ASSERT_FALSE(LoadBytes(bytes.substr(0, n), "t.bmp", p)) << what << " cut at " << n;
        }
    }
}

// --- the writer -------------------------------------------------------------------------------

TEST(BmpWriter, OnePixelIsFiftyEightBytes) {
    test::TempDir dir;
    CPicture p;
    ASSERT_TRUE(p.Create(1, 1));
    p.SetPixel(0, 0, Bgr{1, 2, 3});
    ASSERT_TRUE(SaveBmp24(dir / "one.bmp", p, nullptr));
    const std::string bytes = test::ReadFile(dir / "one.bmp");
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(bytes.substr(54), std::string("\x01\x02\x03\0", 4));
}

TEST(BmpWriter, RoundTripKeepsPaddingAndPixels) {
    test::TempDir dir;
    for (int w : {1, 2, 3, 5, 8}) {
        CPicture p, back;
        test::FillPattern(p, w, 3);
        ASSERT_TRUE(SaveBmp24(dir / "r.bmp", p, nullptr));
        EXPECT_EQ(fs::file_size(dir / "r.bmp"), uint64_t(54 + p.Stride() * 3));
        ASSERT_TRUE(LoadPictureFile(dir / "r.bmp", back, nullptr));
        EXPECT_EQ(test::MaxDifference(p, back), 0) << w;
        EXPECT_EQ(back.Depth(), 24);
    }
    if (test::HaveTool("convert")) {
        CPicture p, seen;
        test::FillPattern(p, 13, 7);
        ASSERT_TRUE(SaveBmp24(dir / "peer.bmp", p, nullptr));
        ASSERT_TRUE(test::PictureFromConvert(dir / "peer.bmp", seen));
        EXPECT_EQ(test::MaxDifference(p, seen), 0);
    }
}

TEST(BmpWriter, FailedWriteLeavesNoFile) {
    test::TempDir dir;
    CPicture p;
    test::FillPattern(p, 200, 200);  // 120 KB
    // A disk that fills up: the file size limit makes every write beyond 4 KB fail.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveBmp24(dir / "full.bmp", p, nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(fs::is_empty(dir.path())) << "a partial file was left behind";
    // A folder that does not exist, and an empty picture.
    EXPECT_FALSE(SaveBmp24(dir / "none/x.bmp", p, nullptr));
    CPicture empty;
    EXPECT_FALSE(SaveBmp24(dir / "e.bmp", empty, nullptr));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // An existing file is replaced only by a complete one.
    test::WriteFile(dir / "keep.bmp", "old");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_FALSE(SaveBmp24(dir / "keep.bmp", p, nullptr));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(test::ReadFile(dir / "keep.bmp"), "old");
}

}  // namespace
}  // namespace quorbel
