// The TIFF decoder: the shared samples against ImageMagick's renders, files libtiff's own tools
// write in every layout the decoder reads (compressions, predictor, strip sizes, byte orders,
// separate planes, fill order, 16-bit samples, orientations), refusals, damaged directories,
// and every sample cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/data_stream.h"
#include "picture/codecs/tiff_codec.h"
#include "picture/codecs/tiff_lzw.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

// Concatenation by appends (the sanitizer build's GCC misreads chains of operator+).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
    std::string s;
    ((s += parts), ...);
    return s;
}

std::string Tiff(const std::string& name) { return test::TestData(Cat("tiff/", name)); }

bool LoadBytes(const std::string& bytes, CPicture& picture, std::string* text = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName("memory.tif");
    CTiffFormat tiff;
    const bool ok = tiff.LoadPicture(s, picture, nullptr);
    if (text) *text = tiff.InfoText();
    return ok;
}

bool LoadTiff(const std::string& path, CPicture& picture) { return LoadBytes(test::ReadFile(path), picture); }

// Runs a peer tool that must succeed.
void Tool(const std::vector<std::string>& argv) {
    const test::CommandResult r = test::Run(argv);
    ASSERT_EQ(r.exit_code, 0) << argv[0] << ": " << r.err;
}

// ImageMagick's alpha plane of a file as a grey picture.
bool AlphaFromConvert(const std::string& path, CPicture& picture) {
    const test::CommandResult r = test::Run({"convert", path, "-alpha", "extract", "-depth", "8", "pgm:-"});
    return r.exit_code == 0 && test::PictureFromPpm(r.out, picture);
}

int MaxAlphaDifference(const CPicture& got, const CPicture& grey) {
    int worst = 0;
    for (int y = 0; y < got.Height(); ++y)
        for (int x = 0; x < got.Width(); ++x) {
            Bgr c;
            grey.GetPixel(x, y, c);
            worst = std::max(worst, std::abs(got.GetAlpha(x, y) - int(c.g)));
        }
    return worst;
}

// The directory of a TIFF file, to damage one field of it: offset of each entry by tag.
std::map<uint16_t, size_t> Entries(const std::string& f) {
    const bool big = f[0] == 'M';
    auto u16 = [&](size_t p) {
        const uint8_t a = uint8_t(f[p]), b = uint8_t(f[p + 1]);
        return uint16_t(big ? a << 8 | b : b << 8 | a);
    };
    auto u32 = [&](size_t p) {
        return big ? uint32_t(u16(p)) << 16 | u16(p + 2) : uint32_t(u16(p + 2)) << 16 | u16(p);
    };
    std::map<uint16_t, size_t> entries;
    const size_t ifd = u32(4);
    for (size_t i = 0; i < u16(ifd); ++i) entries[u16(ifd + 2 + 12 * i)] = ifd + 2 + 12 * i;
    return entries;
}
void Put16(std::string& f, size_t p, uint16_t v) {
    const bool big = f[0] == 'M';
    f[p] = char(big ? v >> 8 : v & 255);
    f[p + 1] = char(big ? v & 255 : v >> 8);
}
void Put32(std::string& f, size_t p, uint32_t v) {
    const bool big = f[0] == 'M';
    Put16(f, big ? p : p + 2, uint16_t(v >> 16));
    Put16(f, big ? p + 2 : p, uint16_t(v));
}

// --- the shared samples ---------------------------------------------------------------------

TEST(TiffSamples, MatchImageMagick) {
    struct Case {
        const char* file;
        int tolerance;  // 16-bit samples: ImageMagick rounds, the decoder takes the high byte
        bool alpha;
    } cases[] = {
        {"rgb-3c-8b.tiff", 0, false},          {"rgb-3c-16b.tiff", 1, false},
        {"hopper.tif", 0, false},              {"hopper_lzw.tif", 0, false},
        {"copyleft.tiff", 0, false},           {"32bpp-None-jpeg.tiff", 0, false},
        // Colour maps: ImageMagick rounds 16-bit entries, the decoder takes their high byte.
        {"palette-1c-1b.tiff", 1, false},      {"palette-1c-4b.tiff", 1, false},
        {"palette-1c-8b.tiff", 1, false},      {"multipage.tiff", 0, false},
        {"quad-lzw-compat.tiff", 0, false},    {"tiff_strip_planar_lzw.tiff", 0, false},
        {"32bpp-None.tiff", 1, true},          {"pil136.tiff", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CPicture got, want;
        ASSERT_TRUE(LoadPictureFile(Tiff(c.file), got, nullptr));
        ASSERT_TRUE(test::PictureFromConvert(Cat(Tiff(c.file), "[0]"), want));
        EXPECT_EQ(got.Description(), "Tagged Image File Format (TIFF,TIF)");
        if (c.alpha) {
            // Colours of fully transparent pixels mean nothing.
            CPicture alpha;
            ASSERT_TRUE(AlphaFromConvert(Tiff(c.file), alpha));
            EXPECT_LE(MaxAlphaDifference(got, alpha), 0);
            for (int y = 0; y < got.Height(); ++y)
                for (int x = 0; x < got.Width(); ++x)
                    if (got.GetAlpha(x, y) == 0) want.SetPixel(x, y, Bgr{});
            EXPECT_LE(test::MaxDifference(got, want), c.tolerance);
        } else {
            EXPECT_FALSE(got.HasAlpha());
            EXPECT_LE(test::MaxDifference(got, want), c.tolerance);
        }
    }
}

TEST(TiffSamples, InformationText) {
    struct Case {
        const char* file;
        int width, height, depth;
        const char* text;
    } cases[] = {
        {"rgb-3c-8b.tiff", 157, 151, 24,
         "TIFF - Tagged Image File Format. Motorola Byte Order (Apple). Compression : None."},
        {"hopper_lzw.tif", 128, 128, 24, "TIFF - Tagged Image File Format. Intel Byte Order (PC). Compression : LZW."},
        {"32bpp-None-jpeg.tiff", 162, 20, 24,
         "TIFF - Tagged Image File Format. Intel Byte Order (PC). Compression : Pack Bits (RLE)."},
        {"palette-1c-4b.tiff", 157, 151, 4,
         "TIFF - Tagged Image File Format. Motorola Byte Order (Apple). Compression : None."},
        {"32bpp-None.tiff", 162, 20, 32, "TIFF - Tagged Image File Format. Intel Byte Order (PC). Compression : None."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Tiff(c.file), true));
        int w = 0, h = 0, d = 0;
        std::string text;
        ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &d, &text));
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(d, c.depth);
        EXPECT_EQ(text, c.text);
    }
}

TEST(TiffSamples, RefusedKinds) {
    // Grey images, tiles, CCITT G4 and a directory that points at itself: refused, at once.
    for (const char* f : {"minisblack-1c-8b.tiff", "minisblack-1c-16b.tiff", "miniswhite-1c-1b.tiff",
                          "hopper_gray_4bpp.tif", "minisblack-2c-8b-alpha.tiff", "hopper_g4.tif",
                          "tiff_tiled_raw.tif", "test_ifd_loop_to_self.tif", "tiff_with_subifd_chain.tif"}) {
        SCOPED_TRACE(f);
        CPicture p;
        EXPECT_FALSE(LoadTiff(Tiff(f), p));
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Tiff(f), true));
        CTiffFormat tiff;
        EXPECT_FALSE(tiff.GetInfo(s, nullptr, nullptr, nullptr, nullptr));
    }
}

TEST(TiffSamples, FaxCodingIsNamedButNotLoaded) {
    test::TempDir dir;
    Tool({"tiffcp", "-c", "g3", Tiff("miniswhite-1c-1b.tiff"), dir / "fax.tif"});
    CPicture p;
    std::string text;
    EXPECT_FALSE(LoadBytes(test::ReadFile(dir / "fax.tif"), p, &text));
    EXPECT_EQ(text, "TIFF - Tagged Image File Format. Intel Byte Order (PC). Compression : CCITT Fax Group 3.");
}

// --- layouts written by libtiff's tools -----------------------------------------------------

TEST(TiffLayouts, EveryWritingOfTheSamePixels) {
    test::TempDir dir;
    // An odd width, so rows end inside bytes and words.
    const std::string base = dir / "base.tif";
    Tool({"convert", Tiff("rgb-3c-8b.tiff"), "-crop", "37x23+11+7", "+repage", "-compress", "none", base});
    CPicture reference;
    ASSERT_TRUE(LoadTiff(base, reference));
    ASSERT_EQ(reference.Width(), 37);
    CPicture peer;
    ASSERT_TRUE(test::PictureFromConvert(base, peer));
    ASSERT_EQ(test::MaxDifference(reference, peer), 0);

    const std::vector<std::vector<std::string>> recipes = {
        {"-c", "lzw"},
        {"-c", "lzw:2"},
        {"-c", "packbits"},
        {"-c", "lzw", "-r", "1"},
        {"-c", "packbits", "-r", "4"},
        {"-c", "none", "-r", "5"},
        {"-c", "lzw:2", "-r", "7", "-B"},
        {"-c", "packbits", "-B"},
        {"-c", "none", "-L"},
        {"-c", "lzw", "-p", "separate"},
        {"-c", "lzw:2", "-p", "separate", "-r", "3"},
        {"-c", "packbits", "-p", "separate", "-B"},
        {"-c", "none", "-f", "lsb2msb"},
        {"-c", "lzw", "-f", "lsb2msb", "-r", "2"},
    };
    for (size_t i = 0; i < recipes.size(); ++i) {
        std::string name = "recipe";
        for (const std::string& a : recipes[i]) name += Cat(" ", a);
        SCOPED_TRACE(name);
        std::vector<std::string> argv = {"tiffcp"};
        argv.insert(argv.end(), recipes[i].begin(), recipes[i].end());
        const std::string out = dir / Cat("v", std::to_string(i), ".tif");
        argv.push_back(base);
        argv.push_back(out);
        Tool(argv);
        CPicture p;
        ASSERT_TRUE(LoadTiff(out, p));
        EXPECT_EQ(test::MaxDifference(p, reference), 0);
    }
}

TEST(TiffLayouts, SixteenBitSamplesInBothByteOrders) {
    test::TempDir dir;
    const std::string base = dir / "deep.tif";
    Tool({"convert", Tiff("rgb-3c-8b.tiff"), "-crop", "41x19+3+9", "+repage", "-depth", "16", "-compress", "none", base});
    CPicture want;
    ASSERT_TRUE(test::PictureFromConvert(base, want));
    for (const std::vector<std::string>& recipe : std::vector<std::vector<std::string>>{
             {"-c", "none", "-B"}, {"-c", "none", "-L"}, {"-c", "lzw:2", "-L"}, {"-c", "lzw:2", "-B", "-r", "4"},
             {"-c", "packbits", "-L"}}) {
        SCOPED_TRACE(Cat(recipe[1], " ", recipe[2]));
        std::vector<std::string> argv = {"tiffcp"};
        argv.insert(argv.end(), recipe.begin(), recipe.end());
        argv.push_back(base);
        argv.push_back(dir / "out.tif");
        Tool(argv);
        CPicture p;
        ASSERT_TRUE(LoadTiff(dir / "out.tif", p));
        EXPECT_LE(test::MaxDifference(p, want), 1);
    }
    // Separate planes of 16-bit samples (tiffcp does not write them; ImageMagick does).
    Tool({"convert", base, "-interlace", "plane", "-compress", "lzw", dir / "planes.tif"});
    const test::CommandResult info = test::Run({"tiffinfo", dir / "planes.tif"});
    ASSERT_NE(info.out.find("separate image planes"), std::string::npos) << info.out;
    CPicture p;
    ASSERT_TRUE(LoadTiff(dir / "planes.tif", p));
    EXPECT_LE(test::MaxDifference(p, want), 1);
}

TEST(TiffLayouts, PaletteDepthsAndOddWidths) {
    test::TempDir dir;
    for (int bits : {1, 2, 4, 8}) {
        SCOPED_TRACE(bits);
        const std::string path = dir / Cat("pal", std::to_string(bits), ".tif");
        Tool({"convert", Tiff("rgb-3c-8b.tiff"), "-crop", "29x13+40+40", "+repage", "-colors",
              std::to_string(1 << bits), "-type", "palette", "-depth", std::to_string(bits), "-compress", "none", path});
        CPicture want;
        ASSERT_TRUE(test::PictureFromConvert(path, want));
        for (const char* c : {"none", "lzw", "packbits"}) {
            SCOPED_TRACE(c);
            Tool({"tiffcp", "-c", c, "-r", "3", path, dir / "copy.tif"});
            CPicture p;
            ASSERT_TRUE(LoadTiff(dir / "copy.tif", p));
            EXPECT_EQ(test::MaxDifference(p, want), 0);
            EXPECT_EQ(p.Depth(), bits);
        }
    }
}

TEST(TiffLayouts, OrientationsTurnThePicture) {
    test::TempDir dir;
    const std::string base = dir / "base.tif";
    Tool({"convert", Tiff("rgb-3c-8b.tiff"), "-crop", "23x11+30+30", "+repage", "-compress", "none", base});
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::string path = dir / Cat("o", std::to_string(orientation), ".tif");
        Tool({"cp", base, path});
        Tool({"tiffset", "-s", "274", std::to_string(orientation), path});
        CPicture got, want;
        ASSERT_TRUE(LoadTiff(path, got));
        const test::CommandResult r = test::Run({"convert", path, "-auto-orient", "-depth", "8", "ppm:-"});
        ASSERT_EQ(r.exit_code, 0);
        ASSERT_TRUE(test::PictureFromPpm(r.out, want));
        EXPECT_EQ(got.Width(), orientation >= 5 ? 11 : 23);
        EXPECT_EQ(test::MaxDifference(got, want), 0);
    }
}

TEST(TiffLayouts, AssociatedAlphaIsUnpremultiplied) {
    test::TempDir dir;
    // A gradient of colour under a gradient of coverage, written premultiplied and not.
    const std::string colours = dir / "colours.png";
    Tool({"convert", "-size", "64x16", "gradient:red-blue", "(", "-size", "64x16", "gradient:white-gray25", "-rotate",
          "90", "-resize", "64x16!", ")", "-alpha", "off", "-compose", "copy_opacity", "-composite", colours});
    Tool({"convert", colours, "-define", "tiff:alpha=associated", "-compress", "none", dir / "assoc.tif"});
    Tool({"convert", colours, "-define", "tiff:alpha=unassociated", "-compress", "none", dir / "unassoc.tif"});
    Tool({"tiffcp", "-c", "lzw:2", dir / "assoc.tif", dir / "assoc-lzw.tif"});
    CPicture plain;
    ASSERT_TRUE(LoadTiff(dir / "unassoc.tif", plain));
    ASSERT_TRUE(plain.HasAlpha());
    for (const char* f : {"assoc.tif", "assoc-lzw.tif"}) {
        SCOPED_TRACE(f);
        CPicture p;
        ASSERT_TRUE(LoadTiff(dir / f, p));
        ASSERT_TRUE(p.HasAlpha());
        int worst = 0, lowest = 255;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                const int a = p.GetAlpha(x, y);
                ASSERT_EQ(a, plain.GetAlpha(x, y));
                lowest = std::min(lowest, a);
                Bgr got, want;
                p.GetPixel(x, y, got);
                plain.GetPixel(x, y, want);
                // Premultiplying lost up to 255 / alpha steps of each colour.
                const int allowed = 255 / a + 1;
                worst = std::max({worst, std::abs(got.r - want.r) - allowed, std::abs(got.b - want.b) - allowed});
            }
        EXPECT_LE(worst, 0);
        EXPECT_LT(lowest, 100);  // the coverage really falls
    }
}

// --- directories and strips that do not add up ---------------------------------------------

TEST(TiffFaults, RowsPerStripBeyondTheImageOrZero) {
    test::TempDir dir;
    CPicture reference;
    ASSERT_TRUE(LoadTiff(Tiff("hopper.tif"), reference));
    for (const char* rows : {"1000000", "0"}) {
        SCOPED_TRACE(rows);
        Tool({"tiffcp", "-c", "none", "-r", "128", Tiff("hopper.tif"), dir / "one.tif"});
        std::string f = test::ReadFile(dir / "one.tif");
        const auto e = Entries(f);
        ASSERT_TRUE(e.count(278));
        Put16(f, e.at(278) + 2, 4);
        Put32(f, e.at(278) + 4, 1);
        Put32(f, e.at(278) + 8, uint32_t(std::stoul(rows)));
        CPicture p;
        ASSERT_TRUE(LoadBytes(f, p));
        EXPECT_EQ(test::MaxDifference(p, reference), 0);
    }
}

TEST(TiffFaults, DamagedFieldsAreRefused) {
    const std::string rgb = test::ReadFile(Tiff("rgb-3c-8b.tiff"));
    const std::string pal = test::ReadFile(Tiff("palette-1c-4b.tiff"));
    struct Damage {
        const char* what;
        const std::string* file;
        uint16_t tag;
        size_t at;      // within the entry: 4 count, 8 value
        uint32_t value;
    } damages[] = {
        {"two samples of RGB", &rgb, 277, 8, 0x00020000},
        {"strip beyond the file", &rgb, 273, 8, 0x7FFFFFF0},
        {"strip count beyond the file", &rgb, 279, 8, 0x7FFFFFF0},
        {"fewer strips than rows need", &rgb, 273, 4, 1},
        {"short colour map", &pal, 320, 4, 3 * 15},
        {"width of zero", &rgb, 256, 8, 0},
        {"unknown compression", &rgb, 259, 8, 0x00070000},
        {"24 bits per sample", &rgb, 258, 4, 1},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string f = *d.file;
        const auto e = Entries(f);
        ASSERT_TRUE(e.count(d.tag));
        if (d.tag == 258) {
            // BitsPerSample as one inline SHORT of 24.
            Put32(f, e.at(d.tag) + 4, 1);
            Put16(f, e.at(d.tag) + 8, 24);
        } else {
            Put32(f, e.at(d.tag) + d.at, d.value);
        }
        CPicture p;
        EXPECT_FALSE(LoadBytes(f, p));
    }
}

TEST(TiffFaults, OldStyleLzwIsReadLeastSignificantBitFirst) {
    const std::string f = test::ReadFile(Tiff("quad-lzw-compat.tiff"));
    CPicture p;
    ASSERT_TRUE(LoadBytes(f, p));
    CPicture want;
    ASSERT_TRUE(test::PictureFromConvert(Tiff("quad-lzw-compat.tiff"), want));
    EXPECT_EQ(test::MaxDifference(p, want), 0);
    const uint8_t old_start[] = {0x00, 0x01, 0x02};
    const uint8_t new_start[] = {0x80, 0x00};
    EXPECT_TRUE(LzwIsOldStyle(old_start, sizeof old_start));
    EXPECT_FALSE(LzwIsOldStyle(new_start, sizeof new_start));
}

TEST(TiffFaults, LzwCodesThatNameNothingFailTheStrip) {
    // Clear, 'A', then code 300 long before the table reaches it.
    const uint8_t data[] = {0x80, 0x10, 0x65, 0x80};
    uint8_t out[16];
    size_t written = 0;
    EXPECT_EQ(LzwDecode(data, sizeof data, out, sizeof out, written), LzwResult::Corrupt);
    // Data that stops before the strip is full is short.
    EXPECT_EQ(LzwDecode(data, 2, out, sizeof out, written), LzwResult::Short);
}

TEST(TiffFaults, EverySampleCutShortFailsOrLoadsWhole) {
    for (const char* f : {"rgb-3c-8b.tiff", "rgb-3c-16b.tiff", "hopper_lzw.tif", "copyleft.tiff", "32bpp-None.tiff",
                          "palette-1c-1b.tiff", "palette-1c-4b.tiff", "multipage.tiff", "pil136.tiff",
                          "quad-lzw-compat.tiff", "tiff_strip_planar_lzw.tiff", "32bpp-None-jpeg.tiff",
                          "hopper_g4.tif", "tiff_tiled_raw.tif", "test_ifd_loop_to_self.tif"}) {
        SCOPED_TRACE(f);
        const std::string whole = test::ReadFile(Tiff(f));
        CPicture full;
        const bool loads = LoadBytes(whole, full);
        const size_t step = std::max<size_t>(1, whole.size() / 150);
        for (size_t n = 0; n < whole.size(); n += (n < 64 || n + 64 > whole.size()) ? 1 : step) {
            CPicture p;
            if (LoadBytes(whole.substr(0, n), p)) {
                ASSERT_TRUE(loads) << n;
                ASSERT_EQ(test::MaxDifference(p, full), 0) << n;
            }
        }
    }
}

// A sink whose user cancels at its n-th position report.
TEST(TiffFaults, CancelEndsTheLoadAndItsProgressLevels) {
    for (int n : {1, 4}) {
        SCOPED_TRACE(n);
        test::CancelAfter sink(n);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Tiff("hopper_lzw.tif"), true));
        CTiffFormat codec;
        CPicture p;
        EXPECT_FALSE(codec.LoadPicture(s, p, &sink));
        EXPECT_EQ(sink.calls, n);
        EXPECT_EQ(sink.Depth(), 0);
    }
    test::CancelAfter never(1 << 30);
    DataStream s;
    ASSERT_TRUE(s.OpenFile(Tiff("hopper_lzw.tif"), true));
    CTiffFormat codec;
    CPicture p;
    EXPECT_TRUE(codec.LoadPicture(s, p, &never));
    EXPECT_GE(never.calls, 10);  // progress is reported along the rows
    EXPECT_EQ(never.Depth(), 0);
}

}  // namespace
}  // namespace quorbel
