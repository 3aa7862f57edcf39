// The layered-image decoder: the shared samples against ImageMagick's renders of their merged
// image, modes it refuses, hand-made files for runs that overrun their row, short data and
// sections longer than the file, and every sample cut short.
#include <gtest/gtest.h>

#include "core/data_stream.h"
#include "picture/codecs/psd_codec.h"
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

std::string Psd(const std::string& name) { return test::TestData(Cat("psd/", name)); }

bool LoadBytes(const std::string& bytes, CPicture& picture, std::string* text = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName("memory.psd");
    CPsdFormat psd;
    const bool ok = psd.LoadPicture(s, picture, nullptr);
    if (text) *text = psd.InfoText();
    return ok;
}

void Be16(std::string& s, uint32_t v) {
    s += char((v >> 8) & 255);
    s += char(v & 255);
}
void Be32(std::string& s, uint32_t v) {
    Be16(s, v >> 16);
    Be16(s, v & 0xFFFF);
}

// A file put together field by field; `image` is everything after the compression word.
struct PsdLayout {
    uint16_t version = 1;
    uint16_t channels = 3;
    uint32_t width = 4, height = 2;
    uint16_t bits = 8;
    uint16_t mode = 3;
    std::string colour_data;
    uint32_t resources_length = 0;  // bytes of filler written, unless `claimed` says otherwise
    int64_t claimed_resources = -1;
    uint16_t compression = 0;
    std::string image;
};
std::string MakePsd(const PsdLayout& l) {
    std::string s = "8BPS";
    Be16(s, l.version);
    s += std::string(6, '\0');
    Be16(s, l.channels);
    Be32(s, l.height);
    Be32(s, l.width);
    Be16(s, l.bits);
    Be16(s, l.mode);
    Be32(s, uint32_t(l.colour_data.size()));
    s += l.colour_data;
    Be32(s, l.claimed_resources >= 0 ? uint32_t(l.claimed_resources) : l.resources_length);
    s += std::string(l.resources_length, 'r');
    Be32(s, 0);  // no layers
    Be16(s, l.compression);
    s += l.image;
    return s;
}

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

// --- the shared samples ---------------------------------------------------------------------

TEST(PsdSamples, MatchImageMagick) {
    struct Case {
        const char* file;
        int tolerance;  // 16-bit samples: ImageMagick rounds, the decoder takes the high byte
    } cases[] = {
        {"hopper.psd", 0},
        {"hopper_merged.psd", 0},
        {"psdtools_0layers.psd", 0},
        {"psdtools_1layer.psd", 0},
        {"psdtools_2layers.psd", 0},
        {"psdtools_colormodes_4x4_8bit_rgb.psd", 0},
        {"psdtools_colormodes_4x4_16bit_rgb.psd", 1},
        {"psdtools_colormodes_4x4_8bit_grayscale.psd", 0},
        {"psdtools_colormodes_4x4_16bit_grayscale.psd", 1},
        {"five_channels.psd", 0},
        {"psd-oob-write.psd", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CPicture got, want;
        ASSERT_TRUE(LoadPictureFile(Psd(c.file), got, nullptr));
        ASSERT_TRUE(test::PictureFromConvert(Cat(Psd(c.file), "[0]"), want));
        EXPECT_LE(test::MaxDifference(got, want), c.tolerance);
        EXPECT_EQ(got.Description(), "Adobe Photoshop (PSD)");
    }
    // ImageMagick does not read the indexed sample; its palette holds the RGB sample's colours.
    CPicture indexed, rgb;
    ASSERT_TRUE(LoadPictureFile(Psd("psdtools_colormodes_4x4_8bit_index_color.psd"), indexed, nullptr));
    ASSERT_TRUE(test::PictureFromConvert(Cat(Psd("psdtools_colormodes_4x4_8bit_rgb.psd"), "[0]"), rgb));
    EXPECT_LE(test::MaxDifference(indexed, rgb), 1);
    EXPECT_EQ(indexed.Depth(), 8);
}

TEST(PsdSamples, FourthRgbChannelIsTheAlphaPlane) {
    for (const char* f : {"rgba.psd"}) {
        SCOPED_TRACE(f);
        CPicture got, alpha;
        ASSERT_TRUE(LoadPictureFile(Psd(f), got, nullptr));
        ASSERT_TRUE(got.HasAlpha());
        const test::CommandResult r =
            test::Run({"convert", Cat(Psd(f), "[0]"), "-alpha", "extract", "-depth", "8", "pgm:-"});
        ASSERT_EQ(r.exit_code, 0);
        ASSERT_TRUE(test::PictureFromPpm(r.out, alpha));
        int worst = 0, transparent = 0;
        for (int y = 0; y < got.Height(); ++y)
            for (int x = 0; x < got.Width(); ++x) {
                worst = std::max(worst, std::abs(got.GetAlpha(x, y) - int(At(alpha, x, y).g)));
                transparent += got.GetAlpha(x, y) < 255;
            }
        EXPECT_EQ(worst, 0);
        EXPECT_GT(transparent, 0);
    }
}

TEST(PsdSamples, FourthChannelOfZerosIsNoTransparency) {
    // The 4 x 4 sample's fourth channel is all zeros (a saved selection): the picture stays
    // opaque, as ImageMagick shows it.
    CPicture got, want;
    for (const char* f : {"psdtools_colormodes_4x4_8bit_rgba.psd", "negative_layer_count.psd"}) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(LoadPictureFile(Psd(f), got, nullptr));
        EXPECT_FALSE(got.HasAlpha());
        ASSERT_TRUE(test::PictureFromConvert(Cat(Psd(f), "[0]"), want));
        EXPECT_EQ(test::MaxDifference(got, want), 0);
    }
    // One covering byte anywhere keeps the plane.
    PsdLayout l;
    l.channels = 4;
    l.image = Cat(std::string(4 * 2 * 3, '\x40'), std::string(7, '\0'), "\x80");
    ASSERT_TRUE(LoadBytes(MakePsd(l), got));
    ASSERT_TRUE(got.HasAlpha());
    EXPECT_EQ(got.GetAlpha(3, 1), 0x80);
    EXPECT_EQ(got.GetAlpha(2, 1), 0);
}

TEST(PsdSamples, InformationText) {
    struct Case {
        const char* file;
        int width, height, depth;
        const char* text;
    } cases[] = {
        {"hopper.psd", 128, 128, 24, "PSD : Adobe Photoshop File Format. Mode : RGB."},
        {"psdtools_colormodes_4x4_8bit_duotone.psd", 4, 4, 8, "PSD : Adobe Photoshop File Format. Mode : Duotone."},
        {"psdtools_colormodes_4x4_8bit_index_color.psd", 4, 4, 8,
         "PSD : Adobe Photoshop File Format. Mode : Indexed Palette (256)."},
        {"psdtools_colormodes_4x4_16bit_grayscale.psd", 4, 4, 8, "PSD : Adobe Photoshop File Format. Mode : Gray scale."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Psd(c.file), true));
        int w = 0, h = 0, d = 0;
        std::string text;
        ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &d, &text));
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(d, c.depth);
        EXPECT_EQ(text, c.text);
    }
    // A decoded picture names its compression too.
    std::string text;
    CPicture p;
    ASSERT_TRUE(LoadBytes(test::ReadFile(Psd("hopper.psd")), p, &text));
    EXPECT_EQ(text, "PSD : Adobe Photoshop File Format. Mode : RGB. Compression : Run Legngth Encoding.");
    ASSERT_TRUE(LoadBytes(test::ReadFile(Psd("psdtools_colormodes_4x4_8bit_rgb.psd")), p, &text));
    EXPECT_EQ(text, "PSD : Adobe Photoshop File Format. Mode : RGB. Compression : None.");
    EXPECT_EQ(p.Depth(), 24);
}

TEST(PsdSamples, DuotoneShowsItsGreyChannel) {
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(Psd("psdtools_colormodes_4x4_8bit_duotone.psd"), p, nullptr));
    const std::string whole = test::ReadFile(Psd("psdtools_colormodes_4x4_8bit_duotone.psd"));
    // Raw data: the last 16 bytes are the one channel's 4 x 4 samples.
    const std::string grey = whole.substr(whole.size() - 16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t v = uint8_t(grey[size_t(y * 4 + x)]);
            EXPECT_EQ(At(p, x, y), (Bgr{v, v, v}));
        }
}

TEST(PsdSamples, RefusedModes) {
    test::TempDir dir;
    const test::CommandResult r = test::Run({"convert", Cat(Psd("hopper_merged.psd"), "[0]"), "-colorspace", "cmyk", dir / "cmyk.psd"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string version2 = test::ReadFile(Psd("psdtools_colormodes_4x4_8bit_rgb.psd"));
    version2[5] = 2;
    test::WriteFile(dir / "large.psd", version2);
    for (const std::string& f : {Psd("psdtools_colormodes_4x4_8bit_lab.psd"), Psd("psdtools_colormodes_4x4_32bit_rgb.psd"),
                                 Psd("psdtools_colormodes_4x4_1bit_bitmap.psd"),
                                 Psd("psdtools_colormodes_4x4_16bit_multichannel.psd"), Psd("psdtools_300dpi.psd"),
                                 dir / "cmyk.psd", dir / "large.psd"}) {
        SCOPED_TRACE(f);
        CPicture p;
        EXPECT_FALSE(LoadBytes(test::ReadFile(f), p));
    }
}

// --- hand-made files ------------------------------------------------------------------------

TEST(PsdFaults, RunsAreCutAtTheRowEnd) {
    // Two rows of 4 pixels per channel; every row's run asks for 128 bytes.
    PsdLayout l;
    l.compression = 1;
    for (int i = 0; i < 6; ++i) Be16(l.image, 2);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < 2; ++y) {
            l.image += char(-127);
            l.image += char(0x10 * (c + 1) + y);
        }
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakePsd(l), p));
    EXPECT_EQ(At(p, 3, 1), (Bgr{0x31, 0x21, 0x11}));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0x30, 0x20, 0x10}));
    // A literal that claims more bytes than the row holds is cut the same way.
    PsdLayout literal;
    literal.compression = 1;
    for (int i = 0; i < 6; ++i) Be16(literal.image, 9);
    for (int r = 0; r < 6; ++r) literal.image += Cat("\x07", "ABCDEFGH");
    ASSERT_TRUE(LoadBytes(MakePsd(literal), p));
    EXPECT_EQ(At(p, 3, 1), (Bgr{'D', 'D', 'D'}));
}

TEST(PsdFaults, ShortOrOverlongDataIsRefused) {
    PsdLayout raw;
    raw.image = std::string(4 * 2 * 3, '\x40');
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakePsd(raw), p));
    struct Case {
        const char* what;
        PsdLayout layout;
    };
    std::vector<Case> cases;
    {
        PsdLayout l = raw;
        l.image.pop_back();
        cases.push_back({"raw data one byte short", l});
    }
    {
        PsdLayout l;
        l.compression = 1;
        for (int i = 0; i < 6; ++i) Be16(l.image, 2);
        for (int r = 0; r < 5; ++r) l.image += "\xFD\x01";
        l.image += "\x01";  // the last row's run lacks its byte
        cases.push_back({"last run without its byte", l});
    }
    {
        PsdLayout l;
        l.compression = 1;
        for (int i = 0; i < 6; ++i) Be16(l.image, 2);
        for (int r = 0; r < 6; ++r) l.image += "\x01\x05";  // two pixels of a four-pixel row
        cases.push_back({"rows that end early", l});
    }
    {
        PsdLayout l = raw;
        l.claimed_resources = 0xFFFFFFF0;
        cases.push_back({"resources longer than the file", l});
    }
    {
        PsdLayout l = raw;
        l.compression = 1;
        l.image.clear();
        Be16(l.image, 0xFFFF);
        cases.push_back({"row table beyond the file", l});
    }
    {
        PsdLayout l = raw;
        l.mode = 2;
        l.channels = 1;
        l.colour_data = std::string(767, '\0');
        cases.push_back({"palette of 767 bytes", l});
    }
    {
        PsdLayout l = raw;
        l.width = 70000;
        cases.push_back({"wider than a picture may be", l});
    }
    {
        PsdLayout l = raw;
        l.compression = 2;
        cases.push_back({"zip compression", l});
    }
    {
        PsdLayout l = raw;
        l.channels = 2;
        cases.push_back({"RGB of two channels", l});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPicture q;
        EXPECT_FALSE(LoadBytes(MakePsd(c.layout), q));
    }
}

TEST(PsdFaults, IndexedColoursComeFromTheColourData) {
    PsdLayout l;
    l.mode = 2;
    l.channels = 1;
    l.colour_data = std::string(768, '\0');
    l.colour_data[5] = char(200);        // red of index 5
    l.colour_data[256 + 5] = char(100);  // green
    l.colour_data[512 + 5] = char(50);   // blue
    l.image = std::string(8, '\x05');
    CPicture p;
    ASSERT_TRUE(LoadBytes(MakePsd(l), p));
    EXPECT_EQ(At(p, 2, 1), (Bgr{50, 100, 200}));
    EXPECT_EQ(p.PaletteCount(), 256);
}

TEST(PsdFaults, EverySampleCutShortFailsOrLoadsWhole) {
    for (const char* f : {"hopper.psd", "rgba.psd", "five_channels.psd", "psd-oob-write.psd", "negative_layer_count.psd",
                          "psdtools_1layer.psd", "psdtools_colormodes_4x4_8bit_index_color.psd",
                          "psdtools_colormodes_4x4_16bit_rgb.psd", "psdtools_colormodes_4x4_8bit_rgba.psd"}) {
        SCOPED_TRACE(f);
        const std::string whole = test::ReadFile(Psd(f));
        CPicture full;
        ASSERT_TRUE(LoadBytes(whole, full));
        const size_t step = std::max<size_t>(1, whole.size() / 200);
        for (size_t n = 0; n < whole.size(); n += (n < 64 || n + 64 > whole.size()) ? 1 : step) {
            // Channels past the ones shown may be cut without harm; anything else must fail.
            CPicture p;
            if (LoadBytes(whole.substr(0, n), p)) {
                ASSERT_EQ(test::MaxDifference(p, full), 0) << n;
                ASSERT_GT(n, whole.size() / 2) << n;
            }
        }
    }
}

// A sink whose user cancels at its n-th position report.
TEST(PsdFaults, CancelEndsTheLoadAndItsProgressLevels) {
    for (int n : {1, 4}) {
        SCOPED_TRACE(n);
        test::CancelAfter sink(n);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(Psd("psdtools_0layers.psd"), true));
        CPsdFormat codec;
        CPicture p;
        EXPECT_FALSE(codec.LoadPicture(s, p, &sink));
        EXPECT_EQ(sink.calls, n);
        EXPECT_EQ(sink.Depth(), 0);
    }
    test::CancelAfter never(1 << 30);
    DataStream s;
    ASSERT_TRUE(s.OpenFile(Psd("psdtools_0layers.psd"), true));
    CPsdFormat codec;
    CPicture p;
    EXPECT_TRUE(codec.LoadPicture(s, p, &never));
    EXPECT_GE(never.calls, 10);  // progress is reported along the rows
    EXPECT_EQ(never.Depth(), 0);
}

}  // namespace
}  // namespace quorbel
