// The GIF decoder: the shared samples against netpbm's giftopnm (colours and transparency),
// files ImageMagick writes, hand-made files for the block parser and the LZW decoder, hostile
// samples, truncation at every length, and cancellation.
#include <gtest/gtest.h>

#include <functional>

#include "core/data_stream.h"
#include "picture/codecs/gif_codec.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

std::string Gif(const std::string& name) { return test::TestData("gif/" + name); }

bool LoadGif(const std::string& bytes, CPicture& picture, ProgressSink* sink = nullptr, bool* more = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName("t.gif");
    CGifFormat gif;
    const bool ok = gif.LoadPicture(s, picture, sink);
    if (more) *more = gif.MoreImages();
    return ok;
}

// netpbm's reading of a file as a picture (any of its outputs widened to PPM).
bool PeerPicture(const std::string& path, CPicture& picture, const std::string& option = "") {
    const std::string command = "giftopnm " + option + " '" + path + "' | ppmtoppm";
    test::CommandResult r = test::Run({"sh", "-c", command});
    return r.exit_code == 0 && test::PictureFromPpm(r.out, picture);
}

TEST(GifSamples, MatchGiftopnm) {
    const char* files[] = {"2x2.gif", "alpha_gif_a.gif", "anim-gr.gif", "beacon.gif", "dispose_bgnd.gif",
                           "dispose_prev.gif", "hopper.gif", "hopper_resized.gif", "interlaced.gif",
                           "moon_impact.gif", "sample_1.gif", "test.colors.gif", "text_mono.gif", "transparent.gif"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        CPicture got, want;
        ASSERT_TRUE(LoadPictureFile(Gif(f), got, nullptr));
        EXPECT_EQ(got.Description(), "CompuServe Graphic Interchange Format (GIF)");
        ASSERT_TRUE(PeerPicture(Gif(f), want));
        EXPECT_EQ(test::MaxDifference(got, want), 0);
        // Transparency: giftopnm's alpha mask (white opaque, all white without transparency)
        // against the alpha plane (none reads as opaque).
        test::TempDir dir;
        CPicture ignored, mask;
        ASSERT_TRUE(PeerPicture(Gif(f), ignored, "--alphaout='" + (dir / "a.pnm") + "'"));
        ASSERT_TRUE(test::PictureFromPpm(test::Run({"sh", "-c", "ppmtoppm < '" + (dir / "a.pnm") + "'"}).out, mask));
        int bad = 0;
        for (int y = 0; y < got.Height(); ++y)
            for (int x = 0; x < got.Width(); ++x) {
                Bgr m;
                mask.GetPixel(x, y, m);
                const int a = got.GetAlpha(x, y);
                if ((a < 0 ? 255 : a) != m.g) ++bad;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST(GifSamples, HostileAndBrokenSamplesAreRefused) {
    // No colour table at all; a zero width (and a minimum code size of 143); a zero height; a
    // 65535 x 1321 image declared by 44 bytes (minimum code size 143 again).
    for (const char* f : {"no_palette.gif", "zero_width.gif", "issue-96-small-codesize.gif", "decompression_bomb.gif"}) {
        SCOPED_TRACE(f);
        CPicture p;
        EXPECT_FALSE(LoadGif(test::ReadFile(Gif(f)), p));
    }
}

TEST(GifSamples, InfoAndFirstImageOfAnAnimation) {
    DataStream s;
    ASSERT_TRUE(s.OpenFile(Gif("anim-gr.gif"), true));
    CGifFormat gif;
    int w = 0, h = 0, d = 0;
    std::string text;
    ASSERT_TRUE(gif.GetInfo(s, &w, &h, &d, &text));
    EXPECT_EQ(d, 8);
    EXPECT_EQ(text, "CompuServe Graphic Interchange Format (GIF)");
    CPicture p;
    bool more = false;
    ASSERT_TRUE(LoadGif(test::ReadFile(Gif("anim-gr.gif")), p, nullptr, &more));
    EXPECT_TRUE(more);
    EXPECT_EQ(p.Width(), w);
    EXPECT_EQ(p.Height(), h);
    ASSERT_TRUE(LoadGif(test::ReadFile(Gif("hopper.gif")), p, nullptr, &more));
    EXPECT_FALSE(more);
}

// A GIF named .bmp is found by its content in the dispatcher's second pass.
TEST(GifSamples, FoundByContentUnderAnotherName) {
    const std::string bytes = test::ReadFile(Gif("hopper.gif"));
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName("picture.bmp");
    CPicture p;
    ASSERT_TRUE(LoadFromStream(s, &p, nullptr, true, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(p.Description(), "CompuServe Graphic Interchange Format (GIF)");
    EXPECT_EQ(p.Width(), 128);
}

// ImageMagick writes a pattern reduced to 256 colours, plain and interlaced.
TEST(GifPeerFiles, ConvertOutputMatchesGiftopnm) {
    test::TempDir dir;
    for (const char* interlace : {"None", "GIF"}) {
        SCOPED_TRACE(interlace);
        const std::string out = dir / (std::string(interlace) + ".gif");
        ASSERT_EQ(test::Run({"convert", "-size", "203x117", "plasma:fractal", "-seed", "7", "-colors", "256",
                             "-interlace", interlace, out})
                      .exit_code,
                  0);
        CPicture got, want;
        ASSERT_TRUE(LoadPictureFile(out, got, nullptr));
        ASSERT_TRUE(PeerPicture(out, want));
        EXPECT_EQ(test::MaxDifference(got, want), 0);
    }
}

// --- hand-made files -------------------------------------------------------------------------

// Codes packed least significant bit first at the width a decoder reads them.
std::string PackCodes(const std::vector<int>& codes, int min_size) {
    const int clear = 1 << min_size;
    int size = min_size + 1, next = clear + 2;
    bool first = true;
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= uint32_t(code) << count;
        count += size;
        while (count >= 8) {
            out += char(bits & 255);
            bits >>= 8;
            count -= 8;
        }
        if (code == clear) {
            size = min_size + 1;
            next = clear + 2;
            first = true;
            continue;
        }
        if (code == clear + 1) continue;
        if (first)
            first = false;
        else if (next < 4096)
            ++next;
        if (next >= (1 << size) && size < 12) ++size;
    }
    if (count > 0) out += char(bits & 255);
    return out;
}

// Every index as its own code, a clear code now and then so the table never fills.
std::vector<int> LiteralCodes(const std::vector<int>& indexes, int min_size, bool end = true) {
    const int clear = 1 << min_size;
    std::vector<int> codes = {clear};
    for (size_t i = 0; i < indexes.size(); ++i) {
        if (i > 0 && i % 1000 == 0) codes.push_back(clear);
        codes.push_back(indexes[i]);
    }
    if (end) codes.push_back(clear + 1);
    return codes;
}

std::string SubBlocks(const std::string& data) {
    std::string out;
    for (size_t at = 0; at < data.size(); at += 255) {
        const std::string piece = data.substr(at, 255);
        out += char(piece.size());
        out += piece;
    }
    return out + '\0';
}

void Put16(std::string& s, int v) {
    s += char(v & 255);
    s += char((v >> 8) & 255);
}

struct GifLayout {
    int width = 4, height = 3;
    int table_bits = 3;  // 2^(n+1) entries in the global table; -1: none
    int local_bits = -1;
    bool interlaced = false;
    int min_size = 3;
    std::string before_image;
    std::string image_data;  // sub-blocks; empty: the literal codes of Indexes()
    std::string after_image = ";";

    std::vector<int> Indexes() const {
        std::vector<int> v;
        const int entries = std::min(2 << (local_bits >= 0 ? local_bits : std::max(table_bits, 0)), 1 << min_size);
        for (int i = 0; i < width * height; ++i) v.push_back((i * 3 + i / width) % entries);
        return v;
    }
    static Bgr Colour(int i, bool local) { return Bgr{uint8_t(i * 30 + 1), uint8_t(local ? 200 : 100), uint8_t(255 - i * 20)}; }
    std::string Bytes() const {
        std::string s = "GIF89a";
        Put16(s, width);
        Put16(s, height);
        s += char(table_bits >= 0 ? 0x80 | table_bits : 0);
        s += '\0';
        s += '\0';
        auto table = [&](int bits, bool local) {
            for (int i = 0; i < (2 << bits); ++i) {
                const Bgr c = Colour(i, local);
                s += char(c.r);
                s += char(c.g);
                s += char(c.b);
            }
        };
        if (table_bits >= 0) table(table_bits, false);
        s += before_image;
        s += ',';
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, width);
        Put16(s, height);
        s += char((local_bits >= 0 ? 0x80 | local_bits : 0) | (interlaced ? 0x40 : 0));
        if (local_bits >= 0) table(local_bits, true);
        s += char(min_size);
        s += image_data.empty() ? SubBlocks(PackCodes(LiteralCodes(Indexes(), min_size), min_size)) : image_data;
        return s + after_image;
    }
};

int IndexAt(const CPicture& p, int x, int y, bool local = false) {
    Bgr c;
    p.GetPixel(x, y, c);
    for (int i = 0; i < 256; ++i)
        if (GifLayout::Colour(i, local) == c) return i;
    return -1;
}

bool MatchesIndexes(const CPicture& p, const GifLayout& g, size_t count = SIZE_MAX) {
    const std::vector<int> want = g.Indexes();
    if (p.Width() != g.width || p.Height() != g.height) return false;
    for (size_t i = 0; i < want.size(); ++i) {
        const int expected = i < count ? want[i] : 0;
        if (IndexAt(p, int(i) % g.width, int(i) / g.width, g.local_bits >= 0) != expected) return false;
    }
    return true;
}

TEST(GifRules, HandMadeFiles) {
    const std::string gce_transparent_5("\x21\xF9\x04\x01\x10\x27\x05\x00", 8);  // delay 10000, index 5
    struct Case {
        const char* what;
        std::function<void(GifLayout&)> change;
        bool loads;
        std::function<bool(const CPicture&, const GifLayout&)> check;
    } cases[] = {
        {"plain", [](GifLayout&) {}, true, [](auto& p, auto& g) { return MatchesIndexes(p, g) && !p.HasAlpha(); }},
        {"minimum code size 1 (two colours)",
         [](GifLayout& g) {
             g.min_size = 1;
             g.table_bits = 0;
         },
         true, [](auto& p, auto& g) { return MatchesIndexes(p, g); }},
        {"minimum code size 0", [](GifLayout& g) { g.min_size = 0; g.image_data = SubBlocks("\x01\x02"); }, false, nullptr},
        {"minimum code size 9", [](GifLayout& g) { g.min_size = 9; g.image_data = SubBlocks("\x00\x02"); }, false, nullptr},
        {"transparent index is the last byte of the control block",
         [&](GifLayout& g) { g.before_image = gce_transparent_5; }, true,
         [](auto& p, auto& g) {
             const std::vector<int> idx = g.Indexes();
             if (!p.HasAlpha()) return false;
             for (size_t i = 0; i < idx.size(); ++i)
                 if (p.GetAlpha(int(i) % g.width, int(i) / g.width) != (idx[i] == 5 ? 0 : 255)) return false;
             return true;
         }},
        {"control block without the transparency flag",
         [](GifLayout& g) { g.before_image = std::string("\x21\xF9\x04\x00\x10\x27\x05\x00", 8); }, true,
         [](auto& p, auto&) { return !p.HasAlpha(); }},
        {"control block of size 5", [](GifLayout& g) { g.before_image = std::string("\x21\xF9\x05\x01\x10\x27\x05\x00", 8); },
         false, nullptr},
        {"unknown extension: its sub-blocks are skipped",
         [](GifLayout& g) { g.before_image = std::string("\x21\x99\x03\x2c\x3b\x21\x01\xff\x00", 9); }, true,
         [](auto& p, auto& g) { return MatchesIndexes(p, g); }},
        {"comment and application extensions",
         [](GifLayout& g) {
             g.before_image = std::string("\x21\xFE\x02hi\x00", 6) +
                              std::string("\x21\xFF\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
         },
         true, [](auto& p, auto& g) { return MatchesIndexes(p, g); }},
        {"an unknown block introducer", [](GifLayout& g) { g.before_image = "\x42"; }, false, nullptr},
        {"no colour table", [](GifLayout& g) { g.table_bits = -1; }, false, nullptr},
        {"a local table of two entries",
         [](GifLayout& g) {
             g.local_bits = 0;
             g.min_size = 2;
         },
         true, [](auto& p, auto& g) { return p.PaletteCount() == 2 && MatchesIndexes(p, g); }},
        {"the end code ends the image",
         [](GifLayout& g) {
             std::vector<int> idx = g.Indexes();
             idx.resize(5);
             g.image_data = SubBlocks(PackCodes(LiteralCodes(idx, 3), 3) + std::string("\xff\xff\xff", 3));
         },
         true, [](auto& p, auto& g) { return MatchesIndexes(p, g, 5); }},
        {"a code beyond the next free code stops decoding",
         [](GifLayout& g) {
             std::vector<int> codes = LiteralCodes(g.Indexes(), 3, false);
             codes.resize(4);  // clear and three pixels: the next free code is 12
             codes.push_back(14);
             codes.push_back(1);
             g.image_data = SubBlocks(PackCodes(codes, 3));
         },
         true, [](auto& p, auto& g) { return MatchesIndexes(p, g, 3); }},
        {"junk after a complete image",
         [](GifLayout& g) { g.after_image = std::string("\x21\xF9\x09\x42", 4); }, true,
         [](auto& p, auto& g) { return MatchesIndexes(p, g); }},
        {"no trailer at all", [](GifLayout& g) { g.after_image.clear(); }, true,
         [](auto& p, auto& g) { return MatchesIndexes(p, g); }},
        {"image data cut short",
         [](GifLayout& g) {
             std::string data = PackCodes(LiteralCodes(g.Indexes(), 3), 3);
             g.image_data = std::string(1, char(data.size())) + data.substr(0, 3);
             g.after_image.clear();
         },
         false, nullptr},
        {"empty first data sub-block", [](GifLayout& g) { g.image_data = std::string(1, '\0'); }, false, nullptr},
        {"a zero side", [](GifLayout& g) { g.height = 0; }, false, nullptr},
        {"repeated strings (code = next free)",
         [](GifLayout& g) {
             g.width = 6;
             g.height = 1;
             // clear, 1, 10 (= "1 1"), 11 (= "1 1 1"), end: six pixels of index 1.
             g.image_data = SubBlocks(PackCodes({8, 1, 10, 11, 9}, 3));
         },
         true, [](auto& p, auto&) {
             for (int x = 0; x < 6; ++x)
                 if (IndexAt(p, x, 0) != 1) return false;
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GifLayout g;
        c.change(g);
        CPicture p;
        EXPECT_EQ(LoadGif(g.Bytes(), p), c.loads);
        if (c.loads && c.check) {
            EXPECT_TRUE(c.check(p, g));
        }
    }
}

TEST(GifRules, InterlacedRowsTakeTheirPlaces) {
    GifLayout g;
    g.width = 3;
    g.height = 10;
    g.interlaced = true;
    std::vector<int> idx;
    for (int row = 0; row < 10; ++row)
        for (int x = 0; x < 3; ++x) idx.push_back(row);
    g.table_bits = 3;
    g.min_size = 4;
    g.image_data = SubBlocks(PackCodes(LiteralCodes(idx, 4), 4));
    CPicture p;
    ASSERT_TRUE(LoadGif(g.Bytes(), p));
    // The rows of the file fill rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9 of the picture.
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(IndexAt(p, 1, order[k]), k) << k;
}

TEST(GifRules, TrailerOnlyAndAnotherImage) {
    std::string only = "GIF87a";
    only += std::string("\x01\x00\x01\x00\x80\x00\x00", 7) + std::string(6, '\0') + ";";
    CPicture p;
    EXPECT_FALSE(LoadGif(only, p));
    GifLayout first;
    GifLayout second;
    second.width = 9;
    std::string both = first.Bytes();
    both.pop_back();
    const std::string second_bytes = second.Bytes();
    both += second_bytes.substr(second_bytes.find(',', 13 + 48));
    bool more = false;
    ASSERT_TRUE(LoadGif(both, p, nullptr, &more));
    EXPECT_TRUE(more);
    EXPECT_EQ(p.Width(), 4);
}

TEST(GifRules, LargeDeclaredSizesAreBudgeted) {
    // The bomb sample's size with a valid code size: a few bytes of codes cannot fill
    // 86 million pixels, so nothing of that size is allocated.
    GifLayout bomb;
    bomb.width = 65535;
    bomb.height = 1321;
    bomb.image_data = SubBlocks(PackCodes({8, 1, 2, 3, 9}, 3));
    CPicture p;
    EXPECT_FALSE(LoadGif(bomb.Bytes(), p));
    EXPECT_TRUE(p.IsEmpty());
    // Within the data's reach but beyond a lowered pixel budget.
    GifLayout g;
    g.width = 300;
    g.height = 200;
    const uint64_t saved = PixelBudget();
    SetPixelBudget(50000);
    EXPECT_FALSE(LoadGif(g.Bytes(), p));
    SetPixelBudget(saved);
    EXPECT_TRUE(LoadGif(g.Bytes(), p));
}

// --- truncation and cancellation -------------------------------------------------------------

TEST(GifTruncation, EveryShorterLengthIsHandled) {
    for (const char* f : {"2x2.gif", "beacon.gif", "sample_1.gif", "anim-gr.gif", "hopper_resized.gif",
                          "text_mono.gif", "dispose_bgnd.gif", "hopper.gif", "interlaced.gif", "transparent.gif"}) {
        const std::string bytes = test::ReadFile(Gif(f));
        CPicture whole;
        ASSERT_TRUE(LoadGif(bytes, whole)) << f;
        // Where the image data ends: after it only the look-ahead may be cut. Larger samples
        // are cut at every 7th length.
        size_t complete = bytes.size();
        const size_t step = bytes.size() > 4096 ? 7 : 1;
        for (size_t n = 0; n < bytes.size(); n += step) {
            CPicture p;
            const bool ok = LoadGif(bytes.substr(0, n), p);
            if (ok) {
                complete = std::min(complete, n);
                EXPECT_EQ(test::MaxDifference(p, whole), 0) << f << " cut at " << n;
            } else {
                EXPECT_LT(n, bytes.size());
            }
        }
        EXPECT_GT(complete, 13u) << f;
    }
}

TEST(GifCancel, ACancelledLoadFails) {
    const std::string bytes = test::ReadFile(Gif("hopper.gif"));
    for (int calls : {1, 2, 3}) {
        test::CancelAfter cancel(calls);
        CPicture p;
        EXPECT_FALSE(LoadGif(bytes, p, &cancel)) << calls;
        EXPECT_EQ(cancel.Depth(), 0);
    }
    test::CancelAfter never(1000);
    CPicture p;
    EXPECT_TRUE(LoadGif(bytes, p, &never));
}

}  // namespace
}  // namespace quorbel
