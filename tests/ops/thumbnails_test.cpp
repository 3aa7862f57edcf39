// Thumbnails: the size a picture takes, centring on the checkerboard, the outline, alpha shown
// over the board, captions, and the examination of members through a real ZIP archive (order
// of states, the size budget, the name and signature sniff, try again after a failed unpack or
// a cancel, no second decode).
#include <gtest/gtest.h>

#include "app/ops/thumbnails.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "picture/codecs/glimmer_codecs.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;
constexpr Bgr kLight{255, 255, 255}, kDark{230, 230, 230}, kBlack{0, 0, 0};

Bgr Pixel(const ArchiveHandler::ThumbnailImage& t, int x, int y) {
    const uint8_t* p = t.pixels.data() + (size_t(y) * size_t(t.width) + size_t(x)) * 3;
    return Bgr{p[0], p[1], p[2]};
}

std::string BmpBytes(const CPicture& p) {
    test::TempDir dir;
    EXPECT_TRUE(SaveBmp24(dir / "p.bmp", p, nullptr));
    return test::ReadFile(dir / "p.bmp");
}

std::string SolidBmp(int w, int h, Bgr c) {
    CPicture p;
    p.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.SetPixel(x, y, c);
    return BmpBytes(p);
}

TEST(Thumbnail, PictureSizes) {
    struct Row {
        int w, h, nw, nh;
    } rows[] = {
        {78, 58, 78, 58},       // fits: not scaled
        {1, 1, 1, 1},
        {79, 10, 78, 8},        // 80 / 79 x 10 = 10.1 - 2
        {10, 59, 8, 58},
        {160, 120, 78, 58},
        {1024, 768, 78, 58},
        {100, 1000, 4, 58},
        {10000, 1, 78, 1},      // never below 1
        {65535, 65535, 58, 58},
    };
    for (const Row& r : rows) {
        int nw = 0, nh = 0;
        ThumbnailPictureSize(r.w, r.h, nw, nh);
        EXPECT_EQ(nw, r.nw) << r.w << "x" << r.h;
        EXPECT_EQ(nh, r.nh) << r.w << "x" << r.h;
    }
}

TEST(Thumbnail, SmallPictureCentredOnTheBoard) {
    CPicture p;
    ASSERT_TRUE(p.Create(10, 6));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) p.SetPixel(x, y, Bgr{0, 0, 200});
    ArchiveHandler::ThumbnailImage t;
    ASSERT_TRUE(RenderThumbnail(p, t, nullptr));
    ASSERT_EQ(t.width, 80);
    ASSERT_EQ(t.height, 60);
    ASSERT_EQ(t.pixels.size(), 80u * 60 * 3);
    // Drawn at (40 - 5, 30 - 3) to (44, 32).
    EXPECT_EQ(Pixel(t, 35, 27), (Bgr{0, 0, 200}));
    EXPECT_EQ(Pixel(t, 44, 32), (Bgr{0, 0, 200}));
    EXPECT_EQ(Pixel(t, 34, 27), kDark);   // (4 + 3) odd square
    EXPECT_EQ(Pixel(t, 45, 33), kDark);   // (5 + 4) odd square
    EXPECT_EQ(Pixel(t, 1, 1), kLight);
    EXPECT_EQ(Pixel(t, 8, 1), kDark);
    for (int x = 0; x < 80; ++x) {
        EXPECT_EQ(Pixel(t, x, 0), kBlack);
        EXPECT_EQ(Pixel(t, x, 59), kBlack);
    }
    for (int y = 0; y < 60; ++y) {
        EXPECT_EQ(Pixel(t, 0, y), kBlack);
        EXPECT_EQ(Pixel(t, 79, y), kBlack);
    }
}

TEST(Thumbnail, LargePictureFillsTheInsideAndTransparencyShowsTheBoard) {
    CPicture p;
    ASSERT_TRUE(p.Create(1024, 768));
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) p.SetPixel(x, y, Bgr{0, 150, 0});
    ASSERT_TRUE(p.EnsureAlpha());
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 512; ++x) p.SetAlpha(x, y, 0);  // left half transparent
    ArchiveHandler::ThumbnailImage t;
    ASSERT_TRUE(RenderThumbnail(p, t, nullptr));
    // 78 x 58 at (1, 1): everything inside the outline.
    EXPECT_EQ(Pixel(t, 78, 58), (Bgr{0, 150, 0}));
    EXPECT_EQ(Pixel(t, 70, 2), (Bgr{0, 150, 0}));
    EXPECT_EQ(Pixel(t, 1, 1), kLight);  // transparent: the board, not black
    EXPECT_EQ(Pixel(t, 9, 1), kDark);
}

TEST(Thumbnail, CancelledScalingGivesNoThumbnail) {
    CPicture p;
    test::FillPattern(p, 600, 400);
    ProgressSink sink;
    sink.Begin();
    sink.RequestCancel();
    ArchiveHandler::ThumbnailImage t;
    EXPECT_FALSE(RenderThumbnail(p, t, &sink));
}

TEST(Thumbnail, Captions) {
    EXPECT_EQ(PictureCaption(10, 6, 1, "a.bmp"), "10 x 6 x 1 Bit\na.bmp");
    EXPECT_EQ(PictureCaption(1024, 768, 24, "b.bmp"), "1024 x 768 x 24 Bits\nb.bmp");
    EXPECT_EQ(PictureCaption(3, 3, 8, ""), "3 x 3 x 8 Bits\n");
}

TEST(Thumbnail, SniffByNameAndSignature) {
    EXPECT_TRUE(HasPictureExtension("A.BMP"));
    EXPECT_TRUE(HasPictureExtension("x.gls"));
    EXPECT_FALSE(HasPictureExtension("x.txt"));
    EXPECT_FALSE(HasPictureExtension("bmp"));
    const std::string bmp = SolidBmp(2, 2, kBlack);
    EXPECT_TRUE(LooksLikePictureData(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size()));
    const std::string text = "BM but only text, no bitmap header follows here at all.";
    EXPECT_FALSE(LooksLikePictureData(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

class ThumbnailArchive : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        previous_ = ArchiveHandler::CurrentThumbnailHook();
        InstallThumbnailHook();
    }
    void TearDown() override { ArchiveHandler::SetThumbnailHook(previous_); }

    int Index(ZipArchive& zip, const std::string& name) { return zip.FindEntry(name); }

    test::IsolatedEnvironment env_;
    ArchiveHandler::ThumbnailHook previous_ = nullptr;
};

TEST_F(ThumbnailArchive, StatesOfEveryKindOfMember) {
    CPicture sprite;
    sprite.Create(5, 4);
    const std::vector<uint8_t> gls = EncodeGls(sprite);
    auto bad_crc = Member("bad.bmp", SolidBmp(3, 3, kBlack));
    bad_crc.override_crc = true;
    auto huge = Member("huge.bmp", SolidBmp(3, 3, kBlack), 0);
    huge.override_unpacked = true;
    huge.unpacked = 200u * 1024 * 1024;  // beyond the budget: never unpacked
    auto big_unknown = Member("big.dat", SolidBmp(700, 700, kBlack));  // 1.4 MB, no picture name
    const std::string path = env_ / "p.zip";
    test::WriteFile(path, test::BuildZip({
                              Member("A.bmp", SolidBmp(100, 50, Bgr{0, 0, 255})),
                              Member("dir/s.gls", std::string(gls.begin(), gls.end())),
                              Member("notes.txt", "plain words, no picture"),
                              Member("fake.bmp", "not a bitmap at all"),
                              Member("noext", SolidBmp(2, 2, kBlack)),
                              Member("folder/", "", 0),
                              bad_crc, huge, big_unknown,
                          }));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    struct Row {
        const char* name;
        ArchiveHandler::PictureAnswer answer;
        int state;
    } rows[] = {
        {"A.bmp", ArchiveHandler::PictureAnswer::kPicture, 1},
        {"dir\\s.gls", ArchiveHandler::PictureAnswer::kPicture, 1},
        {"notes.txt", ArchiveHandler::PictureAnswer::kNotPicture, 0},
        {"fake.bmp", ArchiveHandler::PictureAnswer::kNotPicture, 0},
        {"noext", ArchiveHandler::PictureAnswer::kPicture, 1},
        {"bad.bmp", ArchiveHandler::PictureAnswer::kTryAgain, 2},
        {"huge.bmp", ArchiveHandler::PictureAnswer::kNotPicture, 0},
        {"big.dat", ArchiveHandler::PictureAnswer::kNotPicture, 0},
    };
    for (const Row& r : rows) {
        const int index = Index(zip, r.name);
        ASSERT_GE(index, 0) << r.name;
        EXPECT_EQ(zip.ExaminePicture(index), r.answer) << r.name;
        EXPECT_EQ(zip.Entry(size_t(index)).picture_state, r.state) << r.name;
    }
    EXPECT_EQ(zip.Thumbnails().size(), 3u);
    int w = 0, h = 0, bits = 0;
    const int a = Index(zip, "A.bmp");
    EXPECT_EQ(zip.GetPictureInfo(a, &w, &h, &bits), zip.Entry(size_t(a)).thumbnail_index);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    EXPECT_EQ(bits, 24);
    EXPECT_EQ(zip.GetPictureInfo(Index(zip, "notes.txt"), &w, &h, &bits), -1);
    EXPECT_EQ(zip.GetPictureInfo(Index(zip, "bad.bmp"), nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(zip.Entry(size_t(Index(zip, "bad.bmp"))).picture_state, 2);  // still to be tried
    // Asking again decodes nothing: the list keeps its three images.
    for (int i = 0; i < int(zip.EntryCount()); ++i) zip.GetPictureInfo(i, nullptr, nullptr, nullptr);
    EXPECT_EQ(zip.Thumbnails().size(), 3u);
    EXPECT_EQ(zip.MakeThumbnail(a), 1);
    EXPECT_EQ(zip.Thumbnails().size(), 3u);
    // The folder entry is no picture and never examined.
    EXPECT_EQ(zip.GetPictureInfo(Index(zip, "folder"), nullptr, nullptr, nullptr), -1);
    // Closing empties the list.
    zip.Close();
    EXPECT_TRUE(zip.Thumbnails().empty());
}

TEST_F(ThumbnailArchive, CancelledExaminationIsTriedAgain) {
    const std::string path = env_ / "c.zip";
    test::WriteFile(path, test::BuildZip({Member("big.bmp", SolidBmp(900, 700, Bgr{10, 20, 30}))}));
    int cancelled_runs = 0;
    for (int call = 1; call < 200; ++call) {
        ZipArchive zip;
        ASSERT_EQ(zip.Open(path), kStatusOk);
        test::CancelAfter sink(call);
        zip.SetSink(&sink);
        const auto answer = zip.ExaminePicture(0);
        if (answer == ArchiveHandler::PictureAnswer::kPicture) break;
        ++cancelled_runs;
        EXPECT_EQ(answer, ArchiveHandler::PictureAnswer::kTryAgain) << "cancelled at call " << call;
        EXPECT_EQ(zip.Entry(0).picture_state, 2);
        EXPECT_TRUE(zip.Thumbnails().empty());
        // The next fill, not cancelled, makes the thumbnail.
        ProgressSink calm;
        zip.SetSink(&calm);
        EXPECT_GE(zip.GetPictureInfo(0, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(zip.Entry(0).picture_state, 1);
    }
    EXPECT_GT(cancelled_runs, 3);  // decoding and scaling were both cut somewhere
}

TEST_F(ThumbnailArchive, NoHookNoPictures) {
    ArchiveHandler::SetThumbnailHook(nullptr);
    const std::string path = env_ / "n.zip";
    test::WriteFile(path, test::BuildZip({Member("a.bmp", SolidBmp(2, 2, kBlack))}));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    EXPECT_EQ(zip.GetPictureInfo(0, nullptr, nullptr, nullptr), -1);
}

}  // namespace
}  // namespace quorbel
