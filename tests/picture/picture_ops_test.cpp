// Scaling and the pixel operations: exact index mapping, edges of large pictures, halving,
// smooth resizing, cancellation that leaves the picture as it was, blending and grey.
#include <gtest/gtest.h>

#include "picture/picture_ops.h"
#include "picture/picture_test_util.h"

namespace quorbel {
namespace {

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

// Every column (and row) distinguishable: blue and green hold the column, red the row.
void Numbered(CPicture& p, int w, int h) {
    ASSERT_TRUE(p.Create(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.SetPixel(x, y, Bgr{uint8_t(x & 255), uint8_t(x >> 8), uint8_t(y & 255)});
}
int ColumnOf(const CPicture& p, int x, int y) {
    Bgr c = At(p, x, y);
    return c.b | (c.g << 8);
}

class CancelAfter : public ProgressSink {
public:
    explicit CancelAfter(int calls) : left_(calls) {}
    int SetPos(int64_t position, bool redraw) override {
        if (--left_ < 0) RequestCancel();
        return ProgressSink::SetPos(position, redraw);
    }

private:
    int left_;
};

TEST(ScaleFast, SameSizeIsACopy) {
    CPicture a, b;
    test::FillPattern(a, 9, 4);
    a.SetDescription("Windows bitmap (BMP)");
    a.SetDepth(8);
    ASSERT_TRUE(ScaleFast(b, a, 9, 4, nullptr));
    EXPECT_EQ(test::MaxDifference(a, b), 0);
    EXPECT_EQ(b.Depth(), 8);
    EXPECT_EQ(b.Description(), "Windows bitmap (BMP)");
}

TEST(ScaleFast, ThreeByOneToTwoByOneTakesColumnsZeroAndOne) {
    CPicture a, b;
    Numbered(a, 3, 1);
    ASSERT_TRUE(ScaleFast(b, a, 2, 1, nullptr));
    EXPECT_EQ(ColumnOf(b, 0, 0), 0);
    EXPECT_EQ(ColumnOf(b, 1, 0), 1);
}

TEST(ScaleFast, NearOneFactorsOnLargePicturesStayInBounds) {
    // Float steps accumulated over thousands of columns drift past the last one; integer
    // arithmetic maps column x to exactly x * sw / w.
    struct Row {
        int sw, sh, w, h;
    } rows[] = {{4097, 2, 4096, 2}, {65535, 1, 65534, 1}, {65535, 1, 65535 - 7, 1}, {3, 4099, 3, 4098},
                {1000, 3, 1001, 3}, {1, 1, 700, 2}};
    for (const Row& r : rows) {
        CPicture a, b;
        Numbered(a, r.sw, r.sh);
        ASSERT_TRUE(ScaleFast(b, a, r.w, r.h, nullptr));
        for (int x : {0, r.w / 2, r.w - 2, r.w - 1}) {
            if (x < 0) continue;
            EXPECT_EQ(ColumnOf(b, x, r.h - 1), int(int64_t(x) * r.sw / r.w)) << r.sw << "->" << r.w << " x=" << x;
        }
        EXPECT_EQ(At(b, 0, r.h - 1).r, uint8_t(((int64_t(r.h - 1) * r.sh / r.h)) & 255));
    }
}

TEST(ScaleFast, AlphaScaledWithColours) {
    CPicture a, b;
    Numbered(a, 4, 1);
    ASSERT_TRUE(a.EnsureAlpha());
    a.SetAlpha(2, 0, 0);
    ASSERT_TRUE(ScaleFast(b, a, 2, 1, nullptr));
    EXPECT_EQ(b.GetAlpha(0, 0), 255);
    EXPECT_EQ(b.GetAlpha(1, 0), 0);
}

TEST(ScaleFast, RefusedSizes) {
    CPicture a, b;
    Numbered(a, 4, 4);
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-3, 2}, {65536, 1}}) EXPECT_FALSE(ScaleFast(b, a, w, h, nullptr));
    CPicture empty;
    EXPECT_FALSE(ScaleFast(b, empty, 2, 2, nullptr));
    EXPECT_FALSE(ResizeSmooth(a, 0, 2, nullptr));
    EXPECT_FALSE(ScaleFastInPlace(a, 2, -2, nullptr));
    EXPECT_EQ(a.Width(), 4);
}

TEST(ScaleFast, CancelLeavesBothPicturesAsTheyWere) {
    CPicture a, b, before;
    Numbered(a, 50, 40);
    test::FillPattern(b, 3, 3);
    before.CopyFrom(b);
    CancelAfter sink(2);
    sink.Begin();
    EXPECT_FALSE(ScaleFast(b, a, 25, 30, &sink));
    EXPECT_EQ(test::MaxDifference(b, before), 0);
    CPicture original;
    original.CopyFrom(a);
    CancelAfter again(2);
    again.Begin();
    EXPECT_FALSE(ScaleFastInPlace(a, 25, 30, &again));
    EXPECT_EQ(test::MaxDifference(a, original), 0);
}

TEST(HalveSmooth, FiveByFiveFromColumnsAndRowsZeroToThree) {
    CPicture p;
    ASSERT_TRUE(p.Create(5, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) p.SetPixel(x, y, Bgr{uint8_t(x * 10), uint8_t(y * 10), uint8_t(x == 4 || y == 4 ? 200 : 0)});
    ASSERT_TRUE(HalveSmooth(p));
    ASSERT_EQ(p.Width(), 2);
    ASSERT_EQ(p.Height(), 2);
    EXPECT_EQ(At(p, 0, 0), (Bgr{5, 5, 0}));
    EXPECT_EQ(At(p, 1, 1), (Bgr{25, 25, 0}));  // the last column and row (4) take no part
    CPicture one;
    ASSERT_TRUE(one.Create(1, 5));
    EXPECT_FALSE(HalveSmooth(one));
}

TEST(HalveSmooth, TruncatedMeanAndAlpha) {
    CPicture p;
    ASSERT_TRUE(p.Create(2, 2));
    p.SetPixel(0, 0, Bgr{1, 0, 0});
    p.SetPixel(1, 0, Bgr{1, 0, 0});
    p.SetPixel(0, 1, Bgr{1, 0, 0});
    ASSERT_TRUE(p.EnsureAlpha());
    p.SetAlpha(0, 0, 0);
    ASSERT_TRUE(HalveSmooth(p));
    EXPECT_EQ(At(p, 0, 0).b, 0);  // 3 / 4 truncated
    EXPECT_EQ(p.GetAlpha(0, 0), 191);
}

TEST(ResizeSmooth, GrowInterpolatesShrinkAverages) {
    CPicture p;
    ASSERT_TRUE(p.Create(2, 1));
    p.SetPixel(1, 0, Bgr{200, 100, 50});
    ASSERT_TRUE(ResizeSmooth(p, 3, 1, nullptr));
    EXPECT_EQ(At(p, 0, 0), Bgr{});
    EXPECT_EQ(At(p, 1, 0), (Bgr{100, 50, 25}));
    EXPECT_EQ(At(p, 2, 0), (Bgr{200, 100, 50}));

    CPicture q;
    ASSERT_TRUE(q.Create(6, 1));
    const uint8_t values[] = {0, 30, 60, 90, 120, 150};
    for (int x = 0; x < 6; ++x) q.SetPixel(x, 0, Bgr{values[x], 0, 0});
    ASSERT_TRUE(ResizeSmooth(q, 2, 1, nullptr));
    EXPECT_EQ(At(q, 0, 0).b, 30);   // mean of 0, 30, 60
    EXPECT_EQ(At(q, 1, 0).b, 120);  // mean of 90, 120, 150

    CPicture v;
    ASSERT_TRUE(v.Create(1, 2));
    v.SetPixel(0, 1, Bgr{0, 0, 90});
    ASSERT_TRUE(v.EnsureAlpha());
    v.SetAlpha(0, 0, 0);
    ASSERT_TRUE(ResizeSmooth(v, 1, 4, nullptr));
    EXPECT_EQ(At(v, 0, 1).r, 30);
    EXPECT_EQ(v.GetAlpha(0, 3), 255);
    EXPECT_EQ(v.GetAlpha(0, 0), 0);
}

TEST(ResizeSmooth, ExactHalfGoesThroughHalving) {
    CPicture a, b;
    test::FillPattern(a, 8, 6);
    b.CopyFrom(a);
    ASSERT_TRUE(ResizeSmooth(a, 4, 3, nullptr));
    ASSERT_TRUE(HalveSmooth(b));
    EXPECT_EQ(test::MaxDifference(a, b), 0);
}

TEST(ResizeSmooth, CancelRestoresThePicture) {
    for (int calls : {0, 1, 3, 6}) {
        CPicture p, original;
        test::FillPattern(p, 40, 33);
        ASSERT_TRUE(p.EnsureAlpha());
        p.SetAlpha(3, 3, 7);
        original.CopyFrom(p);
        CancelAfter sink(calls);
        sink.Begin();
        EXPECT_FALSE(ResizeSmooth(p, 57, 21, &sink)) << calls;
        EXPECT_EQ(test::MaxDifference(p, original), 0) << calls;
        EXPECT_EQ(p.GetAlpha(3, 3), 7);
    }
}

TEST(PixelOps, ToGrey) {
    CPicture p;
    ASSERT_TRUE(p.Create(1, 1));
    p.SetPixel(0, 0, Bgr{30, 60, 91});
    ASSERT_TRUE(p.EnsureAlpha());
    ToGrey(p);
    EXPECT_EQ(At(p, 0, 0), (Bgr{60, 60, 60}));
    EXPECT_EQ(p.PaletteCount(), 256);
    EXPECT_EQ(*p.GetPaletteEntry(77), (Bgr{77, 77, 77}));
    EXPECT_EQ(p.Depth(), 8);
    EXPECT_TRUE(p.HasAlpha());
}

TEST(PixelOps, BlendOnto) {
    CPicture d, s;
    ASSERT_TRUE(d.Create(3, 1));
    ASSERT_TRUE(s.Create(3, 1));
    for (int x = 0; x < 3; ++x) {
        d.SetPixel(x, 0, Bgr{100, 100, 100});
        s.SetPixel(x, 0, Bgr{200, 0, 255});
    }
    ASSERT_TRUE(s.EnsureAlpha());
    s.SetAlpha(0, 0, 0);
    s.SetAlpha(1, 0, 128);
    ASSERT_TRUE(BlendOnto(d, s));
    EXPECT_EQ(At(d, 0, 0), (Bgr{100, 100, 100}));
    EXPECT_EQ(At(d, 1, 0), (Bgr{150, 50, 177}));  // d + (s - d) * 128 / 255, truncated
    EXPECT_EQ(At(d, 2, 0), (Bgr{200, 0, 255}));
    // Without alpha at the origin and of the same size: a copy.
    CPicture plain;
    test::FillPattern(plain, 3, 1);
    ASSERT_TRUE(BlendOnto(d, plain));
    EXPECT_EQ(test::MaxDifference(d, plain), 0);
}

TEST(PixelOps, BlendOntoChecksSizesAndClips) {
    CPicture d, big;
    ASSERT_TRUE(d.Create(4, 4));
    test::FillPattern(big, 10, 10);
    // Larger than the destination: clipped, never written outside.
    ASSERT_TRUE(BlendOnto(d, big, -3, -2));
    EXPECT_EQ(At(d, 0, 0), At(big, 3, 2));
    EXPECT_EQ(At(d, 3, 3), At(big, 6, 5));
    CPicture small;
    test::FillPattern(small, 2, 2);
    d.Clear();
    ASSERT_TRUE(d.Create(4, 4));
    ASSERT_TRUE(BlendOnto(d, small, 3, 3));
    EXPECT_EQ(At(d, 3, 3), At(small, 0, 0));
    EXPECT_EQ(At(d, 2, 2), Bgr{});
    EXPECT_TRUE(BlendOnto(d, small, 100, -100));  // entirely outside: nothing drawn
    CPicture empty;
    EXPECT_FALSE(BlendOnto(d, empty));
    EXPECT_FALSE(BlendOnto(empty, small, 1, 1));
}

TEST(PixelOps, AlphaFromGrey) {
    CPicture d, g, wrong;
    test::FillPattern(d, 3, 2);
    ASSERT_TRUE(g.Create(3, 2));
    g.SetPixel(2, 1, Bgr{0, 0, 77});
    ASSERT_TRUE(AlphaFromGrey(d, g));
    EXPECT_EQ(d.GetAlpha(2, 1), 77);
    EXPECT_EQ(d.GetAlpha(0, 0), 0);
    ASSERT_TRUE(wrong.Create(2, 2));
    EXPECT_FALSE(AlphaFromGrey(d, wrong));
}

TEST(PixelOps, Checkerboard) {
    CPicture p;
    ASSERT_TRUE(p.Create(20, 10));
    FillCheckerboard(p, 8, Bgr{255, 255, 255}, Bgr{230, 230, 230});
    EXPECT_EQ(At(p, 7, 7), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 8, 7), (Bgr{230, 230, 230}));
    EXPECT_EQ(At(p, 8, 8), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(p, 0, 9), (Bgr{230, 230, 230}));
}

}  // namespace
}  // namespace quorbel
