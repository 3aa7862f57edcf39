// The portable anymap decoder: the shared samples against ImageMagick's reading, files netpbm
// writes (plain, 16-bit), hand-made headers for each rule, and the three instances' kinds.
#include <gtest/gtest.h>

#include "picture/codecs/pnm_codec.h"
#include "picture/raster_test_util.h"

namespace quorbel {
namespace {

using test::LoadWith;
using test::Quote;

std::string Pnm(const std::string& name) { return test::TestData("pnm/" + name); }

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

TEST(PnmSamples, MatchNetpbmAndEachOther) {
    struct Row {
        const char* file;
        const char* codec;
        const char* text;
    } rows[] = {
        {"hopper.ppm", "PPM", "PPM - Portable Pixel Mal. Palette : True Color.Mode : Binary."},
        {"hopper_8bit.ppm", "PPM", "PPM - Portable Pixel Mal. Palette : True Color.Mode : Binary."},
        {"hopper_8bit_plain.ppm", "PPM", "PPM - Portable Pixel Mal. Palette : True Color.Mode : ASCII."},
        {"hopper_8bit.pgm", "PGM", "PGM - Portable Graymap. Palette : Grayscale.Mode : Binary."},
        {"hopper_8bit_plain.pgm", "PGM", "PGM - Portable Graymap. Palette : Grayscale.Mode : ASCII."},
        {"hopper_16bit.pgm", "PGM", "PGM - Portable Graymap. Palette : Grayscale.Mode : Binary."},
        {"hopper_16bit_plain.pgm", "PGM", "PGM - Portable Graymap. Palette : Grayscale.Mode : ASCII."},
        {"hopper_1bit.pbm", "PBM", "PBM - Portable Bitmap. Palette : Monochrome.Mode : Binary."},
        {"hopper_1bit_plain.pbm", "PBM", "PBM - Portable Bitmap. Palette : Monochrome.Mode : ASCII."},
        {"minisblack-1c-8b.pgm", "PGM", nullptr},
        {"miniswhite-1c-1b.pbm", "PBM", nullptr},
        {"rgb-3c-16b.ppm", "PPM", nullptr},
        {"rgb-3c-8b.ppm", "PPM", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture ours, peer;
        EXPECT_EQ(test::LoadNamed(test::ReadFile(Pnm(r.file)), r.file, ours), r.codec);
        // pamdepth rounds where the decoder keeps the integer part of sample x 255 / maxval: one
        // step apart at most (the exact values are checked below).
        ASSERT_TRUE(test::PeerRender("pamdepth 255 " + Quote(Pnm(r.file)), peer));
        EXPECT_LE(test::MaxDifference(ours, peer), 1);
        if (r.text) {
            std::string text;
            DataStream s;
            ASSERT_TRUE(s.OpenFile(Pnm(r.file), true));
            ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, nullptr, nullptr, nullptr, &text));
            EXPECT_EQ(text, r.text);
        }
    }
    CPicture p;
    EXPECT_EQ(test::LoadNamed(test::ReadFile(Pnm("negative_size.ppm")), "negative_size.ppm", p), "");
    // A PNG under a .pbm name: the anymap codec refuses it and the content pass finds its codec.
    EXPECT_EQ(test::LoadNamed(test::ReadFile(Pnm("courB08.pbm")), "courB08.pbm", p), "PNG");
}

TEST(PnmWritten, PlainAndSixteenBitRoundTrip) {
    test::TempDir dir;
    CPicture source;
    test::FillPattern(source, 23, 11);
    std::string ppm = "P6\n23 11\n255\n";
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) {
            const Bgr c = At(source, x, y);
            ppm += std::string{char(c.r), char(c.g), char(c.b)};
        }
    test::WriteFile(dir / "src.ppm", ppm);
    const std::string src = Quote(dir / "src.ppm");
    struct Row {
        const char* pipeline;
        const char* name;
    } rows[] = {
        {"pnmtopnm -plain", "plain.ppm"},
        {"pamdepth 65535", "deep.ppm"},
        {"pamdepth 65535 | pnmtopnm -plain", "deep-plain.ppm"},
        {"ppmtopgm", "grey.pgm"},
        {"ppmtopgm | pamdepth 65535", "grey16.pgm"},
        {"ppmtopgm | pnmtopnm -plain", "grey-plain.pgm"},
        {"ppmtopgm | pgmtopbm", "bits.pbm"},
        {"ppmtopgm | pgmtopbm | pnmtopnm -plain", "bits-plain.pbm"},
        {"pamdepth 15", "shallow.ppm"},
        {"pamdepth 1000 | pnmtopnm -plain", "odd-depth-plain.ppm"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.pipeline);
        const std::string out = dir / r.name;
        ASSERT_EQ(test::Run({"sh", "-c", std::string("cat ") + src + " | " + r.pipeline + " > " + Quote(out)}).exit_code, 0);
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(out, ours, nullptr));
        ASSERT_TRUE(test::PeerRender("pamdepth 255 " + Quote(out), peer));
        EXPECT_LE(test::MaxDifference(ours, peer), 1);
        // The pixel maps hold their source's colours, up to the depth's steps.
        if (std::string(r.name).ends_with(".ppm")) {
            EXPECT_LE(test::MaxDifference(ours, source), std::string(r.pipeline).find("15") != std::string::npos ? 17 : 1);
        }
    }
}

TEST(PnmHeader, Rules) {
    struct Row {
        const char* what;
        std::string bytes;
        const char* codec;  // "" when nothing reads it
    } rows[] = {
        {"comments between tokens", "P2 # grey\n2 # wide\n1\n# max\n15\n0 15\n", "PGM"},
        {"maxval 0", "P2\n2 1\n0\n0 0\n", ""},
        {"maxval above 65535", "P2\n2 1\n65536\n0 0\n", ""},
        {"sample missing", "P2\n2 1\n15\n0\n", ""},
        {"binary short by a byte", std::string("P5\n2 2\n255\n\1\2\3", 14), ""},
        {"width missing", "P1\n", ""},
        {"no white space after the magic", "P12 1\n01\n", ""},
        {"plain bits without spaces", "P1\n3 2\n010\n110\n", "PBM"},
        {"plain bits: another character", "P1\n3 1\n012\n", ""},
        {"magic P7", "P7\n1 1\n255\n\0", ""},
    };
    for (const Row& r : rows) {
        CPicture p;
        EXPECT_EQ(test::LoadNamed(r.bytes, "x.dat", p), r.codec) << r.what;
    }
    CPicture p;
    ASSERT_EQ(test::LoadNamed("P1\n3 2\n010\n110\n", "x.pbm", p), "PBM");
    EXPECT_EQ(At(p, 1, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(At(p, 2, 1), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 0, 1), (Bgr{0, 0, 0}));
}

TEST(PnmSamples, ScaledAndClamped) {
    CPicture p;
    // Maximum 15: 15 reads 255, 7 reads 119; a sample above the maximum reads as the maximum.
    ASSERT_TRUE(LoadWith("PGM", "P2\n3 1\n15\n15 7 200\n", p));
    EXPECT_EQ(At(p, 0, 0).g, 255);
    EXPECT_EQ(At(p, 1, 0).g, 119);
    EXPECT_EQ(At(p, 2, 0).g, 255);
    ASSERT_TRUE(LoadWith("PPM", std::string("P6\n1 1\n100\n\x32\x64\xC8", 14), p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{255, 255, 127}));
    // Two bytes per sample above 255, most significant first.
    ASSERT_TRUE(LoadWith("PGM", std::string("P5\n2 1\n1000\n\x03\xE8\x01\xF4", 16), p));
    EXPECT_EQ(At(p, 0, 0).r, 255);
    EXPECT_EQ(At(p, 1, 0).r, 127);
    // A bitmap 10 wide takes two bytes per row; the last six bits are ignored.
    ASSERT_TRUE(LoadWith("PBM", std::string("P4\n10 2\n\x80\x3F\x40\xFF", 12), p));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(At(p, 9, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 1, 1), (Bgr{0, 0, 0}));
    EXPECT_EQ(At(p, 9, 1), (Bgr{0, 0, 0}));
}

TEST(PnmKinds, EachInstanceReadsItsOwnKind) {
    const std::string grey = std::string("P5\n2 1\n255\n\x10\x20", 13);
    CPicture p;
    EXPECT_FALSE(LoadWith("PBM", grey, p));
    EXPECT_FALSE(LoadWith("PPM", grey, p));
    EXPECT_TRUE(LoadWith("PGM", grey, p));
    // Named .pbm, found by the grey-map row in the second pass.
    EXPECT_EQ(test::LoadNamed(grey, "wrong.pbm", p), "PGM");
    int w = 0, h = 0, depth = 0;
    std::string text;
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(grey.data()), grey.size());
    s.SetName("wrong.pbm");
    ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &depth, &text));
    EXPECT_EQ(text, "PGM - Portable Graymap. Palette : Grayscale.Mode : Binary.");
    EXPECT_EQ(depth, 8);
}

}  // namespace
}  // namespace quorbel
