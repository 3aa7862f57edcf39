// The picture control on the offscreen platform: zoom steps and their limits, fitting, scroll
// bars, clicks, and the pixels it puts on the screen (checkerboard, alpha blended onto it).
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "app/widgets/tvl_picture.h"
#include "picture/picture.h"

namespace quorbel {
namespace {

// A picture whose every pixel differs from its neighbours, so a misplaced one shows.
std::unique_ptr<CPicture> Pattern(int width, int height) {
    auto p = std::make_unique<CPicture>();
    EXPECT_TRUE(p->Create(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p->SetPixel(x, y, Bgr{uint8_t(x * 7 + y), uint8_t(y * 13), uint8_t(x ^ y)});
    return p;
}

QRgb BoardAt(int x, int y) { return ((x + y) & 1) ? CTvlPicture::kBoardLight : CTvlPicture::kBoardDark; }

// Shows `picture` in a control whose client area is exactly `client` (no border).
std::unique_ptr<CTvlPicture> Control(const CPicture* picture, QSize client, bool border = false) {
    auto c = std::make_unique<CTvlPicture>();
    c->SetBorder(border);
    const int inset = border ? 2 * CTvlPicture::kBorderWidth : 0;
    c->resize(client.width() + inset, client.height() + inset);
    c->SetPicture(picture, true);
    return c;
}

TEST(TvlPictureTest, ZoomStepsStopBefore32TimesAnd1Over32) {
    auto picture = Pattern(64, 48);
    auto c = Control(picture.get(), {200, 150});
    EXPECT_EQ(c->Zoom(), 256);
    // In: 2, 4, 8, 16 times; 32 would be reached next and is refused.
    for (int expected : {512, 1024, 2048, 4096}) {
        EXPECT_TRUE(c->ZoomStep(true));
        EXPECT_EQ(c->Zoom(), expected);
    }
    EXPECT_FALSE(c->ZoomStep(true)) << "zooming in from 16x must be refused";
    EXPECT_EQ(c->Zoom(), 4096);
    c->SetZoom(256);
    for (int expected : {128, 64, 32, 16}) {
        EXPECT_TRUE(c->ZoomStep(false));
        EXPECT_EQ(c->Zoom(), expected);
    }
    EXPECT_FALSE(c->ZoomStep(false)) << "zooming out from 1/16 must be refused";
    EXPECT_EQ(c->Zoom(), 16);
}

TEST(TvlPictureTest, FitChoosesTheZoomPerAxisWithAndWithoutPowersOfTwo) {
    struct Row {
        int width, height;
        bool powers_of_two;
        int zoom;
        bool fits;
    };
    const Row rows[] = {
        {800, 600, true, 128, true},    // halved once: 400 x 300 fits exactly
        {1000, 300, true, 64, true},    // width needs 1/4 (250), height would keep 1
        {100, 50, true, 256, true},     // never enlarged in powers of two
        {100, 50, false, 1024, true},   // exact quotient: 400/100 = 4 (300/50 = 6 is larger)
        {800, 600, false, 128, true},
        {1200, 300, false, 85, true},   // 400 × 256 / 1200, cut
        {30000, 10, true, 8, false},    // 1/32 at the least, then it scrolls
        {30000, 10, false, 8, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.width << "x" << r.height << " pow2 " << r.powers_of_two);
        auto picture = Pattern(r.width, r.height);
        auto c = Control(picture.get(), {400, 300});
        c->SetFitPowersOfTwo(r.powers_of_two);
        c->SetFitToWindow(true);
        EXPECT_EQ(c->Zoom(), r.zoom);
        EXPECT_EQ(c->HorizontalBar()->isVisibleTo(c.get()), !r.fits);
        if (!r.fits) continue;
        EXPECT_FALSE(c->HorizontalBar()->isVisibleTo(c.get()));
        EXPECT_FALSE(c->VerticalBar()->isVisibleTo(c.get()));
        // The whole picture is shown, centred.
        EXPECT_EQ(c->SourceRect(), QRect(0, 0, r.width, r.height));
        const QRect d = c->DestinationRect();
        EXPECT_EQ(d.width(), int(int64_t(r.width) * r.zoom / 256));
        EXPECT_EQ(d.height(), int(int64_t(r.height) * r.zoom / 256));
        EXPECT_EQ(d.left(), (400 - d.width()) / 2);
        EXPECT_EQ(d.top(), (300 - d.height()) / 2);
    }
}

TEST(TvlPictureTest, ScrollBarsShowTheHiddenPartAndClampTheOrigin) {
    auto picture = Pattern(1000, 800);
    auto c = Control(picture.get(), {400, 300}, true);
    c->show();
    QScrollBar* h = c->HorizontalBar();
    QScrollBar* v = c->VerticalBar();
    ASSERT_TRUE(h->isVisibleTo(c.get()));
    ASSERT_TRUE(v->isVisibleTo(c.get()));
    const QRect client = c->ClientRect();
    EXPECT_FALSE(c->MarginsVisible());
    // The bars take their room from the client area; the border insets it by 3.
    EXPECT_EQ(client.left(), 3);
    EXPECT_EQ(client.width(), 400 - v->width());
    EXPECT_EQ(h->pageStep(), client.width());
    EXPECT_EQ(h->maximum(), 1000 - client.width());
    EXPECT_EQ(v->maximum(), 800 - client.height());
    EXPECT_EQ(h->singleStep(), 10);

    h->setValue(250);
    EXPECT_EQ(c->Origin().x(), 250);
    EXPECT_EQ(c->SourceRect().left(), 250);
    EXPECT_EQ(c->ToPicture(client.topLeft()), QPoint(250, 0));
    c->ScrollTo(5000, 5000);
    EXPECT_EQ(c->SourceRect().right(), 999);
    EXPECT_EQ(c->SourceRect().bottom(), 799);
    EXPECT_EQ(h->value(), h->maximum());

    // At 1/2 one screen pixel is two picture pixels: positions move in steps of two.
    c->SetZoom(128);
    EXPECT_EQ(c->Granularity(), 2);
    EXPECT_EQ(h->singleStep(), 20);
    h->setValue(101);
    EXPECT_EQ(c->Origin().x(), 100);

    // A small picture is centred without bars, with the checkerboard around it.
    auto small = Pattern(50, 40);
    c->SetPicture(small.get(), true);
    EXPECT_EQ(c->Zoom(), 256) << "another size starts at 100 %";
    EXPECT_EQ(c->Origin(), QPoint(0, 0));
    EXPECT_FALSE(h->isVisibleTo(c.get()));
    EXPECT_TRUE(c->MarginsVisible());
}

TEST(TvlPictureTest, AClickZoomsAboutThePointAndTheCallbackGetsPictureCoordinates) {
    auto picture = Pattern(400, 300);
    auto c = Control(picture.get(), {200, 150});
    c->show();
    QSignalSpy changed(c.get(), &CTvlPicture::pictureChanged);
    // Left button: twice as large, the clicked picture point in the middle of the view.
    const QPoint click(50, 40);
    const QPoint at = c->ToPicture(click);
    EXPECT_EQ(at, QPoint(50, 40));
    QTest::mouseClick(c.get(), Qt::LeftButton, {}, click);
    EXPECT_EQ(c->Zoom(), 512);
    const QPoint centre = c->ToPicture(c->ClientRect().center());
    EXPECT_LE(std::abs(centre.x() - at.x()), 1);
    EXPECT_LE(std::abs(centre.y() - at.y()), 1);
    EXPECT_GE(changed.count(), 1);
    QTest::mouseClick(c.get(), Qt::RightButton, {}, click);
    EXPECT_EQ(c->Zoom(), 256);

    struct Seen {
        int calls = 0, x = -1, y = -1;
        bool in = false, out = false;
    } seen;
    c->SetClickCallback(
        [](void* context, int x, int y, bool in, bool out) {
            auto* s = static_cast<Seen*>(context);
            ++s->calls;
            s->x = x;
            s->y = y;
            s->in = in;
            s->out = out;
        },
        &seen);
    const QPoint inside = c->ClientRect().topLeft() + QPoint(7, 9);
    const QPoint expected = c->ToPicture(inside);
    QTest::mouseClick(c.get(), Qt::RightButton, {}, inside);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(QPoint(seen.x, seen.y), expected);
    EXPECT_FALSE(seen.in);
    EXPECT_TRUE(seen.out);
    EXPECT_EQ(c->Zoom(), 256) << "with a callback the click does not zoom";

    // Outside the picture (the margin of a small one) a click does nothing.
    auto small = Pattern(20, 20);
    c->SetPicture(small.get(), true);
    QTest::mouseClick(c.get(), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(c->Zoom(), 256);
}

TEST(TvlPictureTest, TransparentPixelsShowTheCheckerboardAndHalfTransparentOnesBlendOntoIt) {
    // 20 x 10 white: left half fully transparent, right half alpha 128; one opaque red row.
    CPicture picture;
    ASSERT_TRUE(picture.Create(20, 10));
    ASSERT_TRUE(picture.EnsureAlpha());
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            picture.SetPixel(x, y, y == 9 ? Bgr{0, 0, 255} : Bgr{255, 255, 255});
            picture.SetAlpha(x, y, y == 9 ? 255 : x < 10 ? 0 : 128);
        }
    auto c = Control(&picture, {40, 30});
    c->show();
    const QImage shot = c->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(40, 30));
    const QRect d = c->DestinationRect();
    ASSERT_EQ(d, QRect(10, 10, 20, 10));
    auto blend = [](int over, int under) { return (over * 128 + under * 127 + 127) / 255; };
    int board = 0, half = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            SCOPED_TRACE(::testing::Message() << "pixel " << x << "," << y);
            const QRgb got = shot.pixel(x, y);
            const QRgb under = BoardAt(x, y);
            if (!d.contains(x, y) || (x - d.left() < 10 && y - d.top() < 9)) {
                ASSERT_EQ(got, under);  // margin or transparent: the board itself
                ++board;
            } else if (y - d.top() == 9) {
                ASSERT_EQ(got, qRgb(255, 0, 0));
            } else {
                ASSERT_EQ(got, qRgb(blend(255, qRed(under)), blend(255, qGreen(under)),
                                    blend(255, qBlue(under))));
                ++half;
            }
        }
    EXPECT_EQ(half, 10 * 9);
    EXPECT_GT(board, 0);
    // Never black under a transparent pixel where the board is blue-green.
    const QPoint light = (d.left() + d.top()) % 2 ? d.topLeft() : d.topLeft() + QPoint(1, 0);
    EXPECT_EQ(shot.pixel(light), CTvlPicture::kBoardLight);

    // At 4 × each picture pixel covers 4 × 4 screen pixels, still blended per screen pixel.
    c->SetZoom(1024);
    const QImage zoomed = c->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect z = c->DestinationRect();
    EXPECT_EQ(zoomed.pixel(z.left() + 1, z.top() + 1), BoardAt(z.left() + 1, z.top() + 1));
}

TEST(TvlPictureTest, PixelsAreDrawnInPlaceAtOneAndTwoTimes) {
    auto picture = Pattern(16, 12);
    auto c = Control(picture.get(), {16, 12});
    c->show();
    QImage shot = c->grab().toImage();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            Bgr p;
            picture->GetPixel(x, y, p);
            ASSERT_EQ(shot.pixel(x, y), qRgb(p.r, p.g, p.b)) << x << "," << y;
        }
    // Twice as large, centred in a larger control: each pixel covers 2 x 2.
    c->resize(100, 100);
    c->SetZoom(512);
    shot = c->grab().toImage();
    const QRect d = c->DestinationRect();
    ASSERT_EQ(d, QRect(34, 38, 32, 24));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) {
            Bgr p;
            picture->GetPixel(x / 2, y / 2, p);
            ASSERT_EQ(shot.pixel(d.left() + x, d.top() + y), qRgb(p.r, p.g, p.b)) << x << "," << y;
        }
    EXPECT_EQ(PictureToImage(*picture).pixel(3, 2), [&] {
        Bgr b;
        picture->GetPixel(3, 2, b);
        return qRgb(b.r, b.g, b.b);
    }());
}

// A view on top of the picture: the overlay is drawn last, over picture and board alike.
class MarkedPicture : public CTvlPicture {
protected:
    void DrawOverlay(QPainter& painter) override {
        ++overlays;
        painter.fillRect(QRect(0, 0, 2, 2), QColor(1, 2, 3));
    }

public:
    int overlays = 0;
};

TEST(TvlPictureTest, TheOverlayIsDrawnOnTopAtTheEndOfEveryPaint) {
    auto picture = Pattern(8, 8);
    MarkedPicture c;
    c.SetBorder(false);
    c.resize(8, 8);
    c.SetPicture(picture.get(), true);
    const QImage shot = c.grab().toImage();
    EXPECT_GE(c.overlays, 1);
    EXPECT_EQ(shot.pixel(1, 1), qRgb(1, 2, 3));
    Bgr p;
    picture->GetPixel(5, 5, p);
    EXPECT_EQ(shot.pixel(5, 5), qRgb(p.r, p.g, p.b));
    // Without a picture the control shows its background colour, then the overlay.
    c.SetPicture(nullptr, true);
    const QImage empty = c.grab().toImage();
    EXPECT_EQ(empty.pixel(5, 5), c.palette().color(QPalette::Window).rgb());
    EXPECT_EQ(empty.pixel(0, 0), qRgb(1, 2, 3));
}

}  // namespace
}  // namespace quorbel
