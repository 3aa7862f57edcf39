// CPicture: creation and its limits, palette and alpha, copies, and FromPackedDib.
#include <gtest/gtest.h>

#include <cstring>

#include "picture/picture.h"
#include "picture/picture_test_util.h"

namespace quorbel {
namespace {

// Restores the pixel budget a test lowered.
struct BudgetGuard {
    uint64_t old = PixelBudget();
    ~BudgetGuard() { SetPixelBudget(old); }
};

TEST(Picture, NewPictureIsEmptyRawMemory) {
    CPicture p;
    EXPECT_TRUE(p.IsEmpty());
    EXPECT_EQ(p.Description(), "Raw Memory");
    EXPECT_EQ(p.SourceName(), "");
    EXPECT_EQ(p.Resolution(), 72);
    Bgr c{1, 2, 3};
    EXPECT_FALSE(p.GetPixel(0, 0, c));
    EXPECT_EQ(c, Bgr{});
}

TEST(Picture, CreateLaysOutTheDib) {
    CPicture p;
    ASSERT_TRUE(p.Create(5, 3));
    EXPECT_EQ(p.Stride(), 16);  // 15 bytes padded to 16
    EXPECT_EQ(p.DibSize(), size_t(40 + 16 * 3));
    const uint8_t* h = p.DibHeader();
    uint32_t v;
    std::memcpy(&v, h, 4);
    EXPECT_EQ(v, 40u);
    std::memcpy(&v, h + 4, 4);
    EXPECT_EQ(v, 5u);
    std::memcpy(&v, h + 8, 4);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(h[14], 24);
    std::memcpy(&v, h + 20, 4);
    EXPECT_EQ(v, 48u);
    // Row 0 is the top row, stored last in the bottom-up block.
    EXPECT_EQ(p.Row(0), p.Bits() + 2 * 16);
    EXPECT_EQ(p.Row(2), p.Bits());
    EXPECT_EQ(p.Depth(), 24);
}

TEST(Picture, CreateRefusesImpossibleSizes) {
    BudgetGuard guard;
    CPicture p;
    struct Row {
        int w, h;
    } rows[] = {{0, 1}, {1, 0}, {-1, 5}, {5, -1}, {65536, 1}, {1, 65536}};
    for (const Row& r : rows) {
        EXPECT_FALSE(p.Create(r.w, r.h)) << r.w << "x" << r.h;
        EXPECT_TRUE(p.IsEmpty());
    }
    // 65535 x 65535 is a valid size but far beyond the budget: refused before any allocation.
    EXPECT_FALSE(p.Create(65535, 65535));
    SetPixelBudget(100);
    EXPECT_TRUE(p.Create(10, 10));
    EXPECT_FALSE(p.Create(11, 10));
    EXPECT_TRUE(PictureSizeAllowed(65535, 1) || PixelBudget() < 65535);
}

TEST(Picture, SizeCheckUses64BitArithmetic) {
    BudgetGuard guard;
    SetPixelBudget(~uint64_t(0));
    EXPECT_TRUE(PictureSizeAllowed(65535, 65535));
    // 65535 x 65535 x 3 bytes do not fit in 32 bits; the data check must still compare them.
    const uint64_t needed = CPicture::SourceStride(24, 65535) * 65535;
    EXPECT_GT(needed, uint64_t(0xFFFFFFFF));
    EXPECT_FALSE(PictureDataFits(65535, 65535, needed, int64_t(0xFFFFFFFF)));
    EXPECT_TRUE(PictureDataFits(65535, 65535, needed, int64_t(needed)));
    EXPECT_FALSE(PictureDataFits(10, 10, 10, -1));
}

TEST(Picture, SourceStride) {
    EXPECT_EQ(CPicture::SourceStride(1, 1), 4u);
    EXPECT_EQ(CPicture::SourceStride(1, 33), 8u);
    EXPECT_EQ(CPicture::SourceStride(4, 9), 8u);
    EXPECT_EQ(CPicture::SourceStride(15, 3), 8u);
    EXPECT_EQ(CPicture::SourceStride(24, 5), 16u);
    EXPECT_EQ(CPicture::SourceStride(32, 65535), 262140u);
}

TEST(Picture, CreateSameSizeKeepsPixelsOtherSizeClears) {
    CPicture p;
    ASSERT_TRUE(p.Create(3, 3));
    p.SetPixel(1, 1, Bgr{9, 8, 7});
    p.SetPaletteSize(4);
    ASSERT_TRUE(p.EnsureAlpha());
    ASSERT_TRUE(p.Create(3, 3));
    Bgr c;
    ASSERT_TRUE(p.GetPixel(1, 1, c));
    EXPECT_EQ(c, (Bgr{9, 8, 7}));
    ASSERT_TRUE(p.Create(4, 3));
    EXPECT_EQ(p.PaletteCount(), 0);
    EXPECT_FALSE(p.HasAlpha());
    ASSERT_TRUE(p.GetPixel(1, 1, c));
    EXPECT_EQ(c, Bgr{});
}

TEST(Picture, PixelAccessOutside) {
    CPicture p;
    ASSERT_TRUE(p.Create(2, 2));
    EXPECT_FALSE(p.SetPixel(2, 0, Bgr{1, 1, 1}));
    EXPECT_FALSE(p.SetPixel(0, -1, Bgr{1, 1, 1}));
    Bgr c{5, 5, 5};
    EXPECT_FALSE(p.GetPixel(-1, 0, c));
    EXPECT_EQ(c, Bgr{});
}

TEST(Picture, AlphaPlane) {
    CPicture p;
    ASSERT_TRUE(p.Create(3, 2));
    EXPECT_EQ(p.GetAlpha(0, 0), -1);
    EXPECT_FALSE(p.SetAlpha(0, 0, 7));
    ASSERT_TRUE(p.EnsureAlpha());
    EXPECT_EQ(p.GetAlpha(2, 1), 255);
    EXPECT_TRUE(p.SetAlpha(2, 1, 7));
    EXPECT_EQ(p.GetAlpha(2, 1), 7);
    EXPECT_EQ(p.AlphaRow(1)[2], 7);
    EXPECT_EQ(p.GetAlpha(3, 1), -1);
    EXPECT_EQ(p.AlphaRow(2), nullptr);
}

TEST(Picture, PaletteSizeSetsDepth) {
    struct Row {
        int entries, depth;
    } rows[] = {{2, 1}, {3, 2}, {16, 4}, {17, 5}, {256, 8}, {1, 1}};
    for (const Row& r : rows) {
        CPicture p;
        ASSERT_TRUE(p.Create(1, 1));
        p.SetPaletteSize(r.entries);
        EXPECT_EQ(p.Depth(), r.depth) << r.entries;
        EXPECT_EQ(p.PaletteCount(), r.entries);
    }
    CPicture p;
    ASSERT_TRUE(p.Create(1, 1));
    p.SetPaletteSize(256);
    p.SetPaletteEntry(5, Bgr{1, 2, 3});
    p.SetPaletteSize(16);  // fewer than held: nothing changes
    EXPECT_EQ(p.PaletteCount(), 256);
    EXPECT_EQ(p.Depth(), 8);
    ASSERT_NE(p.GetPaletteEntry(5), nullptr);
    EXPECT_EQ(*p.GetPaletteEntry(5), (Bgr{1, 2, 3}));
    EXPECT_EQ(p.GetPaletteEntry(256), nullptr);
    EXPECT_EQ(p.GetPaletteEntry(-1), nullptr);
    p.SetPaletteEntry(300, Bgr{1, 1, 1});  // ignored, no crash
}

TEST(Picture, PaletteLookupIsPaddedWithBlack) {
    CPicture p;
    ASSERT_TRUE(p.Create(1, 1));
    p.SetPaletteSize(2);
    p.SetPaletteEntry(1, Bgr{10, 20, 30});
    PaletteLookup lookup(p);
    EXPECT_EQ(lookup[1], (Bgr{10, 20, 30}));
    EXPECT_EQ(lookup[2], Bgr{});
    EXPECT_EQ(lookup[255], Bgr{});
    EXPECT_EQ(lookup[256 + 1], (Bgr{10, 20, 30}));  // any index stays inside the table
}

TEST(Picture, ResetDecodeStateForgetsPaletteAlphaAndDepth) {
    CPicture p;
    ASSERT_TRUE(p.Create(2, 2));
    p.SetPaletteSize(16);
    ASSERT_TRUE(p.EnsureAlpha());
    p.ResetDecodeState();
    EXPECT_EQ(p.PaletteCount(), 0);
    EXPECT_FALSE(p.HasAlpha());
    EXPECT_EQ(p.Depth(), 24);
}

TEST(Picture, CopyFromAndCopyRect) {
    CPicture a;
    test::FillPattern(a, 7, 5);
    ASSERT_TRUE(a.EnsureAlpha());
    a.SetAlpha(3, 2, 9);
    a.SetDescription("Windows bitmap (BMP)");
    a.SetSourceName("x.bmp");
    a.SetDepth(8);
    CPicture b;
    ASSERT_TRUE(b.CopyFrom(a));
    EXPECT_EQ(test::MaxDifference(a, b), 0);
    EXPECT_EQ(b.GetAlpha(3, 2), 9);
    EXPECT_EQ(b.Depth(), 8);
    EXPECT_EQ(b.Description(), "Windows bitmap (BMP)");
    EXPECT_EQ(b.SourceName(), "x.bmp");
    CPicture empty;
    ASSERT_TRUE(b.CopyFrom(empty));
    EXPECT_TRUE(b.IsEmpty());

    // Corners in any order, clamped; entirely outside gives none.
    auto r = a.CopyRect(5, 4, 2, 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Width(), 4);
    EXPECT_EQ(r->Height(), 4);
    Bgr want, got;
    a.GetPixel(3, 2, want);
    r->GetPixel(1, 1, got);
    EXPECT_EQ(want, got);
    EXPECT_EQ(r->GetAlpha(1, 1), 9);
    EXPECT_EQ(r->SourceName(), "x.bmp");
    auto clamped = a.CopyRect(-5, -5, 100, 1);
    ASSERT_NE(clamped, nullptr);
    EXPECT_EQ(clamped->Width(), 7);
    EXPECT_EQ(clamped->Height(), 2);
    EXPECT_EQ(a.CopyRect(-5, -5, -1, -1), nullptr);
    EXPECT_EQ(a.CopyRect(7, 0, 9, 3), nullptr);
}

TEST(Picture, DescriptionsAreCut) {
    CPicture p;
    p.SetDescription(std::string(300, 'a'));
    EXPECT_EQ(p.Description().size(), 256u);
}

// --- FromPackedDib ---------------------------------------------------------------------------

std::string Dib(int w, int h, int bits, uint32_t compression, const std::string& table_or_masks,
                const std::string& rows, uint32_t colours_used = 0, uint32_t image_size = 0) {
    std::string d;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) d += char((v >> (8 * i)) & 255);
    };
    auto put16 = [&](uint32_t v) {
        d += char(v & 255);
        d += char((v >> 8) & 255);
    };
    put32(40);
    put32(uint32_t(w));
    put32(uint32_t(h));
    put16(1);
    put16(uint32_t(bits));
    put32(compression);
    put32(image_size);
    put32(0);
    put32(0);
    put32(colours_used);
    put32(0);
    return d + table_or_masks + rows;
}

bool FromDib(CPicture& p, const std::string& d) {
    return p.FromPackedDib(reinterpret_cast<const uint8_t*>(d.data()), d.size());
}

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

TEST(PackedDib, OneBitHonoursTheColourTable) {
    // An inverted table (entry 0 white, entry 1 black) and a coloured one.
    const std::string rows = std::string("\x80\0\0\0", 4) + std::string("\x40\0\0\0", 4);
    CPicture p;
    ASSERT_TRUE(FromDib(p, Dib(2, 2, 1, 0, std::string("\xff\xff\xff\0\0\0\0\0", 8), rows)));
    EXPECT_EQ(At(p, 0, 1), Bgr{});                 // bottom row, bit set -> entry 1 black
    EXPECT_EQ(At(p, 1, 1), (Bgr{255, 255, 255}));  // clear bit -> entry 0 white
    EXPECT_EQ(At(p, 1, 0), Bgr{});
    EXPECT_EQ(p.Depth(), 1);
    ASSERT_TRUE(FromDib(p, Dib(2, 2, 1, 0, std::string("\x10\x20\x30\0\x40\x50\x60\0", 8), rows)));
    EXPECT_EQ(At(p, 0, 1), (Bgr{0x40, 0x50, 0x60}));
    EXPECT_EQ(At(p, 1, 1), (Bgr{0x10, 0x20, 0x30}));
}

TEST(PackedDib, SixteenBitMasks) {
    // One pixel 0xF800: pure red under 5-6-5 masks, but green-ish under the 5-5-5 default.
    const std::string row("\x00\xf8\0\0", 4);
    const std::string masks565 = std::string("\x00\xf8\0\0", 4) + std::string("\xe0\x07\0\0", 4) +
                                 std::string("\x1f\0\0\0", 4);
    CPicture p;
    ASSERT_TRUE(FromDib(p, Dib(1, 1, 16, 3, masks565, row)));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0, 0, 255}));
    ASSERT_TRUE(FromDib(p, Dib(1, 1, 16, 0, "", row)));
    EXPECT_EQ(At(p, 0, 0), (Bgr{0, 0, 247}));  // 5-5-5: the top bit is no colour, red 30 of 31
}

TEST(PackedDib, EightBitShortTableAndColoursUsedBeyondBitCount) {
    // Two entries given; index 7 is beyond them and reads black.
    const std::string table("\x01\x02\x03\0\x04\x05\x06\0", 8);
    const std::string row("\x01\x07\0\0", 4);
    CPicture p;
    ASSERT_TRUE(FromDib(p, Dib(2, 1, 8, 0, table, row, 2)));
    EXPECT_EQ(At(p, 0, 0), (Bgr{4, 5, 6}));
    EXPECT_EQ(At(p, 1, 0), Bgr{});
    // A colours-used count beyond 2^bits never sizes the table: 1 bit reads two entries.
    ASSERT_TRUE(FromDib(p, Dib(1, 1, 1, 0, table, std::string("\x80\0\0\0", 4), 100000)));
    EXPECT_EQ(At(p, 0, 0), (Bgr{4, 5, 6}));
}

TEST(PackedDib, CopiesAreBoundedByTheBlock) {
    CPicture p;
    // 24 bits, 2 x 2 needs 16 bytes of rows; 15 given, and an image size that claims far more.
    const std::string rows(15, '\x11');
    EXPECT_FALSE(FromDib(p, Dib(2, 2, 24, 0, "", rows, 0, 0x7fffffff)));
    ASSERT_TRUE(FromDib(p, Dib(2, 2, 24, 0, "", rows + "\x11", 0, 0x7fffffff)));
    EXPECT_EQ(At(p, 1, 1), (Bgr{0x11, 0x11, 0x11}));
    // Table missing, header cut, sizes impossible, unsupported depth.
    EXPECT_FALSE(FromDib(p, Dib(2, 2, 8, 0, "", "")));
    EXPECT_FALSE(p.FromPackedDib(reinterpret_cast<const uint8_t*>(Dib(1, 1, 24, 0, "", "1234").data()), 30));
    EXPECT_FALSE(FromDib(p, Dib(0, 1, 24, 0, "", "1234")));
    EXPECT_FALSE(FromDib(p, Dib(70000, 1, 24, 0, "", "1234")));
    EXPECT_FALSE(FromDib(p, Dib(1, 1, 2, 0, "", "1234")));
    EXPECT_FALSE(FromDib(p, Dib(1, 1, 24, 1, "", "1234")));
    EXPECT_FALSE(p.FromPackedDib(nullptr, 100));
}

TEST(PackedDib, ThirtyTwoBitsAndTopDown) {
    const std::string rows = std::string("\x01\x02\x03\xff", 4) + std::string("\x04\x05\x06\x00", 4);
    CPicture p;
    ASSERT_TRUE(FromDib(p, Dib(1, -2, 32, 0, "", rows)));
    EXPECT_EQ(At(p, 0, 0), (Bgr{1, 2, 3}));  // top-down: first stored row is the top
    EXPECT_EQ(At(p, 0, 1), (Bgr{4, 5, 6}));
    EXPECT_EQ(p.Depth(), 32);
}

TEST(BitFields, WidenWithRounding) {
    BitFieldChannel five(0x1F), six(0x7E0), eight(0xFF0000), none(0);
    EXPECT_EQ(five.Of(31), 255);
    EXPECT_EQ(five.Of(3), 25);
    EXPECT_EQ(five.Of(0), 0);
    EXPECT_EQ(six.Of(63u << 5), 255);
    EXPECT_EQ(eight.Of(0xAB0000), 0xAB);
    EXPECT_EQ(none.Of(0xFFFFFFFF), 0);
}

}  // namespace
}  // namespace quorbel
