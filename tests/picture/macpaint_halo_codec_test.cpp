// The MacPaint and Dr. Halo decoders: pictures pbmtomacp writes (the largest file included)
// against macptopbm, Dr. Halo files and palettes made here against ImageMagick's reading, and
// the rules that make the content pass safe.
#include <gtest/gtest.h>

#include "picture/codecs/halo_codec.h"
#include "picture/codecs/macpaint_codec.h"
#include "picture/raster_test_util.h"

namespace quorbel {
namespace {

using test::LoadWith;
using test::Quote;

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

// --- MacPaint -------------------------------------------------------------------------------

// A 576 x 720 bitmap: `noise` fills every bit from a generator (nothing packs), else a few
// shapes that pack well.
std::string Pbm(bool noise) {
    std::string s = "P4\n576 720\n";
    uint32_t seed = 99;
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 72; ++x) {
            seed = seed * 1103515245u + 12345u;
            s += noise ? char(seed >> 23) : char((y / 40 + x / 9) % 3 == 0 ? 0xFF : (x == y % 72 ? 0x18 : 0));
        }
    return s;
}

std::string MacPaintOf(const test::TempDir& dir, const std::string& pbm, const std::string& name) {
    test::WriteFile(dir / (name + ".pbm"), pbm);
    const std::string out = dir / (name + ".mac");
    EXPECT_EQ(test::Run({"sh", "-c", "pbmtomacp " + Quote(dir / (name + ".pbm")) + " > " + Quote(out)}).exit_code, 0);
    return out;
}

TEST(MacPaint, NetpbmPagesIncludingTheLargestFile) {
    test::TempDir dir;
    for (bool noise : {false, true}) {
        SCOPED_TRACE(noise ? "noise" : "shapes");
        const std::string path = MacPaintOf(dir, Pbm(noise), noise ? "noise" : "shapes");
        if (noise) {
            EXPECT_EQ(test::ReadFile(path).size(), size_t(CMacPaintFormat::kLargestFile));
        }
        CPicture ours, peer, source;
        ASSERT_TRUE(LoadPictureFile(path, ours, nullptr));
        EXPECT_EQ(ours.Description(), "MacPaint (MAC)");
        EXPECT_EQ(ours.Depth(), 1);
        ASSERT_TRUE(test::PeerRender("macptopbm " + Quote(path), peer));
        EXPECT_EQ(test::MaxDifference(ours, peer), 0);
        ASSERT_TRUE(test::PeerRender("cat " + Quote(dir / (noise ? "noise.pbm" : "shapes.pbm")), source));
        EXPECT_EQ(test::MaxDifference(ours, source), 0);
        // Found by its content too, under another name.
        CPicture again;
        EXPECT_EQ(test::LoadNamed(test::ReadFile(path), "page.bin", again), "MAC");
    }
}

TEST(MacPaint, Refusals) {
    test::TempDir dir;
    const std::string page = test::ReadFile(MacPaintOf(dir, Pbm(false), "shapes"));
    CPicture p;
    ASSERT_TRUE(LoadWith("MAC", page, p));
    for (size_t at : {size_t(308), size_t(400), size_t(511)}) {
        std::string bad = page;
        bad[at] = 1;
        EXPECT_FALSE(LoadWith("MAC", bad, p)) << at;
    }
    // The header alone passes the size check and then has no rows.
    EXPECT_FALSE(LoadWith("MAC", page.substr(0, 512), p));
    // One byte beyond the largest file a page can need.
    std::string big = page;
    big.resize(size_t(CMacPaintFormat::kLargestFile) + 1, '\0');
    EXPECT_FALSE(LoadWith("MAC", big, p));
    // Rows missing: not a MacPaint page on the content pass, in either mode.
    const std::string short_page = page.substr(0, page.size() / 2);
    EXPECT_EQ(test::LoadNamed(short_page, "page.bin", p), "");
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(short_page.data()), short_page.size());
    s.SetName("page.bin");
    EXPECT_FALSE(LoadFromStream(s, nullptr, nullptr, false));
}

// --- Dr. Halo -------------------------------------------------------------------------------

std::string Le16(unsigned v) { return std::string{char(v & 255), char(v >> 8)}; }

// Rows of indexes packed as runs and literals, each with its byte count and terminator.
std::string MakeCut(const std::vector<std::vector<uint8_t>>& rows) {
    std::string s = Le16(unsigned(rows[0].size())) + Le16(unsigned(rows.size())) + Le16(0);
    for (const auto& row : rows) {
        std::string packed;
        size_t i = 0;
        while (i < row.size()) {
            size_t j = i;
            while (j < row.size() && row[j] == row[i] && j - i < 127) ++j;
            if (j - i >= 3) {
                packed += char(0x80 | (j - i));
                packed += char(row[i]);
                i = j;
            } else {
                size_t k = i;
                while (k < row.size() && k - i < 127 && !(k + 2 < row.size() && row[k] == row[k + 1] && row[k] == row[k + 2])) ++k;
                if (k == i) k = i + 1;
                packed += char(k - i);
                packed.append(row.begin() + long(i), row.begin() + long(k));
                i = k;
            }
        }
        packed += '\0';
        s += Le16(unsigned(packed.size())) + packed;
    }
    return s;
}

// A palette file: its header, then entry i as (3i, 5i, 255 - i) in 16-bit channels, never
// across one of its 512-byte blocks.
std::string MakePal(char first = 'A') {
    std::string s = std::string{first, 'H', char(0xE3), 0, 0, 0, 0x0A, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) s += std::string{char(0xFF), 0};
    s.resize(40, '\0');
    for (int i = 0; i < 256; ++i) {
        if (s.size() % 512 + 6 > 512) s.resize((s.size() / 512 + 1) * 512, '\0');
        s += Le16(unsigned(i * 3) & 255) + Le16(unsigned(i * 5) & 255) + Le16(unsigned(255 - i));
    }
    return s;
}

std::vector<std::vector<uint8_t>> Rows(int width, int height) {
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height), std::vector<uint8_t>(static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rows[size_t(y)][size_t(x)] = uint8_t(x < width / 3 ? y * 7 : (x * x + y) % 251);
    return rows;
}

TEST(DrHalo, WithItsPaletteAsImageMagickReadsIt) {
    test::TempDir dir;
    const std::string cut = MakeCut(Rows(301, 37));
    for (const char* pal : {"pic.pal", "pic.PAL", "pic.Pal"}) {
        SCOPED_TRACE(pal);
        test::TempDir d;
        test::WriteFile(d / "pic.cut", cut);
        test::WriteFile(d / pal, MakePal());
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(d / "pic.cut", ours, nullptr));
        EXPECT_EQ(ours.Description(), "Dr. Halo (CUT)");
        EXPECT_EQ(ours.Depth(), 8);
        EXPECT_EQ(At(ours, 0, 1), (Bgr{248, 35, 21}));  // index 7
        if (std::string(pal) != "pic.Pal") {  // ImageMagick looks for two spellings only
            ASSERT_TRUE(test::PictureFromConvert(d / "pic.cut", peer));
            EXPECT_EQ(test::MaxDifference(ours, peer), 0);
        }
    }
}

TEST(DrHalo, GreyWithoutAPalette) {
    test::TempDir dir;
    const std::string cut = MakeCut(Rows(20, 5));
    test::WriteFile(dir / "pic.cut", cut);
    test::WriteFile(dir / "pic.pal", MakePal('B'));  // another header: not a palette
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(dir / "pic.cut", p, nullptr));
    EXPECT_EQ(At(p, 0, 1), (Bgr{7, 7, 7}));
    // In memory (an archive member) no palette is looked for.
    test::WriteFile(dir / "pic.pal", MakePal());
    ASSERT_TRUE(LoadWith("CUT", cut, p, dir / "pic.cut"));
    EXPECT_EQ(At(p, 0, 1), (Bgr{7, 7, 7}));
    ASSERT_TRUE(LoadPictureFile(dir / "pic.cut", p, nullptr));
    EXPECT_EQ(At(p, 0, 1), (Bgr{248, 35, 21}));
    // A palette file too short for its entries leaves the grey ramp.
    test::WriteFile(dir / "pic.pal", MakePal().substr(0, 1000));
    ASSERT_TRUE(LoadPictureFile(dir / "pic.cut", p, nullptr));
    EXPECT_EQ(At(p, 0, 1), (Bgr{7, 7, 7}));
}

TEST(DrHalo, RowRules) {
    const std::string good = MakeCut({{1, 2, 3, 3, 3, 3}});
    // width 6, height 1, reserved, count 8: literal 2, run of 4, terminator.
    ASSERT_EQ(good, std::string("\6\0\1\0\0\0\x06\0\x02\1\2\x84\3\0", 14));
    struct Row {
        const char* what;
        std::string bytes;
        bool loads;
    } rows[] = {
        {"as made", good, true},
        {"count one short", std::string("\6\0\1\0\0\0\x05\0\x02\1\2\x84\3\0", 14), false},
        {"count one long", std::string("\6\0\1\0\0\0\x07\0\x02\1\2\x84\3\0\0", 15), false},
        {"run past the width", std::string("\6\0\1\0\0\0\x06\0\x02\1\2\x85\3\0", 14), false},
        {"terminator not 0", std::string("\6\0\1\0\0\0\x06\0\x02\1\2\x84\3\1", 14), false},
        {"row ends early", std::string("\6\0\1\0\0\0\x04\0\x02\1\2\0", 12), false},
        {"width 0", std::string("\0\0\1\0\0\0", 6), false},
        {"height beyond 30000", std::string("\1\0\x31\x75\0\0", 6), false},
        {"second row missing", std::string("\6\0\2\0\0\0\x06\0\x02\1\2\x84\3\0", 14), false},
    };
    for (const Row& r : rows) {
        CPicture p;
        EXPECT_EQ(LoadWith("CUT", r.bytes, p), r.loads) << r.what;
    }
    // The broken second row is found before any pixel is written: the picture stays empty.
    CPicture p;
    EXPECT_FALSE(LoadWith("CUT", good.substr(0, 2) + "\2\0" + good.substr(4) + "\x06\0\x02\1\2\x84\3\1", p));
    EXPECT_TRUE(p.IsEmpty());
}

}  // namespace
}  // namespace quorbel
