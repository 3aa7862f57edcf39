// The IFF/LBM decoder: the shared samples (hold-and-modify among them) against ilbmtoppm, files
// ppmtoilbm writes (short colour maps, 24 planes, hold-and-modify, unpacked), and files made
// here for masks, extra-half-brite and each refusal.
#include <gtest/gtest.h>

#include <functional>

#include "picture/codecs/iff_codec.h"
#include "picture/raster_test_util.h"

namespace quorbel {
namespace {

using test::LoadWith;
using test::Quote;

std::string Iff(const std::string& name) { return test::TestData("iff/" + name); }

std::string Be32(uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Be16(unsigned v) { return std::string{char(v >> 8), char(v)}; }

std::string Chunk(const char* id, const std::string& data) {
    std::string s = std::string(id, 4) + Be32(uint32_t(data.size())) + data;
    if (data.size() & 1) s += '\0';
    return s;
}

// ByteRun1: runs of three or more as run packets, the rest as literals.
std::string Pack(const std::string& row) {
    std::string out;
    size_t i = 0;
    while (i < row.size()) {
        size_t j = i;
        while (j < row.size() && row[j] == row[i] && j - i < 128) ++j;
        if (j - i >= 3) {
            out += char(1 - int(j - i));
            out += row[i];
            i = j;
            continue;
        }
        size_t k = i + 1;
        while (k < row.size() && k - i < 128 && !(k + 2 < row.size() && row[k] == row[k + 1] && row[k] == row[k + 2])) ++k;
        out += char(k - i - 1);
        out += row.substr(i, k - i);
        i = k;
    }
    return out;
}

struct Ilbm {
    int width = 0, height = 0, planes = 0, masking = 0, compression = 1;
    std::string cmap;  // raw bytes
    uint32_t camg = 0;
    bool with_camg = false;
    std::vector<uint32_t> pixels;  // indexes (or 0xRRGGBB for 24 planes), row-major
    std::string form_type = "ILBM";
};

std::string MakeIlbm(const Ilbm& m) {
    std::string bmhd = Be16(unsigned(m.width)) + Be16(unsigned(m.height)) + Be16(0) + Be16(0);
    bmhd += char(m.planes);
    bmhd += char(m.masking);
    bmhd += char(m.compression);
    bmhd += '\0';
    bmhd += Be16(0) + std::string{10, 11} + Be16(unsigned(m.width)) + Be16(unsigned(m.height));
    const size_t plane_bytes = size_t((m.width + 15) / 16) * 2;
    std::string body;
    for (int y = 0; y < m.height; ++y) {
        std::string row;
        const int stored = m.planes + (m.masking == 1 ? 1 : 0);
        for (int p = 0; p < stored; ++p) {
            std::string plane(plane_bytes, '\0');
            for (int x = 0; x < m.width; ++x) {
                const uint32_t v = m.pixels[size_t(y) * size_t(m.width) + size_t(x)];
                // 24 planes: red bits first; the mask plane marks every other pixel.
                const uint32_t bits = m.planes == 24 ? ((v >> 16) & 255) | (v & 0xFF00) | ((v & 255) << 16) : v;
                const bool set = p < m.planes ? ((bits >> p) & 1) != 0 : (x & 1) != 0;
                if (set) plane[size_t(x / 8)] = char(plane[size_t(x / 8)] | (0x80 >> (x % 8)));
            }
            // Each plane row packed on its own, as the writers do.
            row += m.compression == 1 ? Pack(plane) : plane;
        }
        body += row;
    }
    std::string chunks = Chunk("BMHD", bmhd);
    if (m.with_camg) chunks += Chunk("CAMG", Be32(m.camg));
    if (!m.cmap.empty()) chunks += Chunk("CMAP", m.cmap);
    chunks += Chunk("ANNO", "made by a test");  // odd length: a pad byte follows
    chunks += Chunk("BODY", body);
    return "FORM" + Be32(uint32_t(4 + chunks.size())) + m.form_type + chunks;
}

// Hold-and-modify sets one channel to a 4- or 6-bit value, which the decoder widens so that the
// largest value reads 255; ilbmtoppm instead puts the value in the channel's high bits and keeps
// the low bits of the colour before (15 -> 240 plus whatever was there). The two agree within one
// step of the value bits; a wrongly decoded control bit changes a whole channel.
int HamDifference(const CPicture& ours, const CPicture& peer, int value_bits) {
    const int worst = test::MaxDifference(ours, peer);
    return value_bits && worst < (1 << (8 - value_bits)) ? 0 : worst;
}

// ilbmtoppm's reading of bytes, through a file.
bool Netpbm(const std::string& bytes, CPicture& picture, const std::string& options = "") {
    test::TempDir dir;
    test::WriteFile(dir / "p.iff", bytes);
    return test::PeerRender("ilbmtoppm " + options + " " + Quote(dir / "p.iff"), picture);
}

TEST(IffSamples, MatchIlbmtoppm) {
    struct Row {
        const char* file;
        int depth;
        int ham_bits;
    } rows[] = {{"ilbm8lores.iff", 3, 0}, {"glass.iff", 6, 4}, {"room.iff", 6, 4}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CPicture ours, peer;
        ASSERT_TRUE(LoadPictureFile(Iff(r.file), ours, nullptr));
        EXPECT_EQ(ours.Depth(), r.depth);
        EXPECT_EQ(ours.Description(), "Interchange File Format (IFF)");
        // The colour maps hold 4-bit registers in their high nibbles, widened as -adjustcolors does.
        ASSERT_TRUE(test::PeerRender("ilbmtoppm -adjustcolors " + Quote(Iff(r.file)), peer));
        EXPECT_EQ(ours.Width() * 10000 + ours.Height(), peer.Width() * 10000 + peer.Height());
        if (r.ham_bits) {
            EXPECT_EQ(HamDifference(ours, peer, r.ham_bits), 0);
        } else {
            EXPECT_EQ(test::MaxDifference(ours, peer), 0);
        }
    }
    // Named .lbm, the other row reads it.
    CPicture p;
    EXPECT_EQ(test::LoadNamed(test::ReadFile(Iff("ilbm8lores.iff")), "x.lbm", p), "LBM");
    int w, h, depth;
    std::string text;
    DataStream s;
    ASSERT_TRUE(s.OpenFile(Iff("glass.iff"), true));
    ASSERT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &depth, &text));
    EXPECT_EQ(text, "IFF - LBM : AMIGA Interchange File Format. Compression : Run Length Encoding.");
    EXPECT_EQ(w * 1000 + h, 320400);
}

TEST(IffWritten, PpmtoilbmVariants) {
    test::TempDir dir;
    // Five colours, 21 wide (not a multiple of 16): a 3-plane picture whose map holds only the
    // five colours (15 bytes, an odd chunk).
    const Bgr five[5] = {{0, 0, 0}, {200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {255, 255, 255}};
    CPicture few, many;
    few.Create(21, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 21; ++x) few.SetPixel(x, y, five[(x + y * 2) % 5]);
    test::FillPattern(many, 33, 7);
    auto ppm = [](const CPicture& p) {
        std::string s = "P6\n" + std::to_string(p.Width()) + " " + std::to_string(p.Height()) + "\n255\n";
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                Bgr c;
                p.GetPixel(x, y, c);
                s += std::string{char(c.r), char(c.g), char(c.b)};
            }
        return s;
    };
    test::WriteFile(dir / "few.ppm", ppm(few));
    test::WriteFile(dir / "many.ppm", ppm(many));
    struct Row {
        const char* command;
        const CPicture* expected;  // null: compare with ilbmtoppm's reading
        int depth;
        int ham_bits = 0;
    } rows[] = {
        {"ppmtoilbm few.ppm", &few, 3},
        {"ppmtoilbm -nocompress few.ppm", &few, 3},
        {"ppmtoilbm -fixplanes 8 few.ppm", &few, 8},
        {"ppmtoilbm -24force many.ppm", &many, 24},
        {"ppmtoilbm -24force -nocompress many.ppm", &many, 24},
        {"ppmtoilbm -hamforce many.ppm", nullptr, 6, 4},
        {"ppmtoilbm -hamforce -hambits 6 many.ppm", nullptr, 8, 6},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.command);
        const test::CommandResult made = test::Run({"sh", "-c", std::string(r.command) + " > out.iff"}, dir.path());
        ASSERT_EQ(made.exit_code, 0) << made.err;
        CPicture ours;
        ASSERT_TRUE(LoadPictureFile(dir / "out.iff", ours, nullptr));
        EXPECT_EQ(ours.Depth(), r.depth);
        if (r.expected) {
            EXPECT_EQ(test::MaxDifference(ours, *r.expected), 0);
        } else {
            CPicture peer;
            ASSERT_TRUE(test::PeerRender("ilbmtoppm " + Quote(dir / "out.iff"), peer));
            EXPECT_EQ(HamDifference(ours, peer, r.ham_bits), 0);
        }
    }
    // The colour map ppmtoilbm wrote holds only the five colours: an odd chunk of 15 bytes.
    ASSERT_EQ(test::Run({"sh", "-c", "ppmtoilbm few.ppm > few.iff"}, dir.path()).exit_code, 0);
    const std::string bytes = test::ReadFile(dir / "few.iff");
    const size_t cmap = bytes.find("CMAP");
    ASSERT_NE(cmap, std::string::npos);
    EXPECT_EQ(bytes.substr(cmap + 4, 4), Be32(15));
}

Ilbm Indexed(int planes, int width = 19, int height = 3) {
    Ilbm m;
    m.width = width, m.height = height, m.planes = planes;
    for (int i = 0; i < (1 << planes) && i < 256; ++i) m.cmap += std::string{char(i * 4 + 3), char(255 - i), char(i * 9)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) m.pixels.push_back(uint32_t((x * 5 + y * 3) % (1 << planes)));
    return m;
}

TEST(IffMade, MasksHalfBriteAndHoldAndModifyAsIlbmtoppm) {
    Ilbm masked = Indexed(4);
    masked.masking = 1;
    Ilbm half = Indexed(6);
    half.cmap.resize(32 * 3);
    half.with_camg = true, half.camg = 0x80;
    Ilbm ham8 = Indexed(8, 40, 4);
    ham8.cmap.resize(64 * 3);
    ham8.with_camg = true, ham8.camg = 0x800;
    Ilbm unpacked = Indexed(5);
    unpacked.compression = 0;
    Ilbm all = Indexed(8, 70, 5);
    struct Row {
        const char* what;
        const Ilbm& m;
        int ham_bits;
    } rows[] = {{"mask plane", masked, 0}, {"extra half-brite", half, 0}, {"hold-and-modify of 8 planes", ham8, 6},
                {"unpacked", unpacked, 0}, {"8 planes", all, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string bytes = MakeIlbm(r.m);
        CPicture ours, peer;
        ASSERT_TRUE(LoadWith("IFF", bytes, ours));
        ASSERT_TRUE(Netpbm(bytes, peer));
        EXPECT_EQ(HamDifference(ours, peer, r.ham_bits), 0);
        if (!r.ham_bits) {
            EXPECT_EQ(test::MaxDifference(ours, peer), 0);
        }
    }
}

TEST(IffMade, HoldAndModifyExactly) {
    Ilbm m = Indexed(6, 5, 1);
    m.cmap.resize(16 * 3);
    m.with_camg = true, m.camg = 0x800;
    // Colour 1, then blue set to 15, red to 5, green to 0, then colour 2 again.
    m.pixels = {0x01, 0x1F, 0x25, 0x30, 0x02};
    CPicture p;
    ASSERT_TRUE(LoadWith("IFF", MakeIlbm(m), p));
    const Bgr one{9, 254, 7}, two{18, 253, 11};
    const Bgr want[5] = {one, {255, 254, 7}, {255, 254, 0x55}, {255, 0, 0x55}, two};
    for (int x = 0; x < 5; ++x) {
        Bgr c;
        p.GetPixel(x, 0, c);
        EXPECT_EQ(c, want[x]) << x;
    }
}

TEST(IffMade, Refusals) {
    struct Row {
        const char* what;
        std::function<void(Ilbm&)> change;
        bool loads;
    } rows[] = {
        {"as made", [](Ilbm&) {}, true},
        {"map of fewer colours", [](Ilbm& m) { m.cmap.resize(5 * 3); }, true},
        {"map of more colours than the planes index", [](Ilbm& m) { m.cmap += "abc"; }, false},
        {"no map", [](Ilbm& m) { m.cmap.clear(); }, false},
        {"FORM of another type", [](Ilbm& m) { m.form_type = "PBM "; }, false},
        {"12 planes", [](Ilbm& m) { m.planes = 12; }, false},
        {"compression 2", [](Ilbm& m) { m.compression = 2; }, false},
        {"hold-and-modify of 4 planes", [](Ilbm& m) { m.with_camg = true, m.camg = 0x800; }, false},
        {"width 0", [](Ilbm& m) { m.width = 0, m.pixels.clear(); }, false},
    };
    for (const Row& r : rows) {
        Ilbm m = Indexed(4);
        r.change(m);
        CPicture p;
        EXPECT_EQ(LoadWith("IFF", MakeIlbm(m), p), r.loads) << r.what;
    }
    // A chunk said to be longer than the file, and a BODY shorter than its rows.
    std::string bytes = MakeIlbm(Indexed(4));
    const size_t anno = bytes.find("ANNO");
    std::string long_chunk = bytes;
    long_chunk.replace(anno + 4, 4, Be32(0xFFFFFFF0u));
    CPicture p;
    EXPECT_FALSE(LoadWith("IFF", long_chunk, p));
    const size_t body = bytes.find("BODY");
    std::string short_body = bytes;
    short_body.replace(body + 4, 4, Be32(3));
    EXPECT_FALSE(LoadWith("IFF", short_body, p));
}

}  // namespace
}  // namespace quorbel
