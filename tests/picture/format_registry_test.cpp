// The registry and the dispatcher: row order, both passes, refusals, a picture reused from one
// codec to the next, cancellation, the sink's nesting, resources, and the GLC/GLS codecs.
#include <gtest/gtest.h>

#include "core/data_stream.h"
#include "picture/codecs/glimmer_codecs.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

using test::BmpLayout;

struct Load {
    bool ok = false;
    const CGraphicsFormat* chosen = nullptr;
    int w = 0, h = 0, depth = 0;
    std::string text;
};

Load Dispatch(const std::string& bytes, const std::string& name, CPicture* picture, ProgressSink* sink = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName(name);
    Load r;
    r.ok = LoadFromStream(s, picture, sink, picture != nullptr, &r.w, &r.h, &r.depth, &r.text, &r.chosen);
    return r;
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string SmallBmp(int w = 3, int h = 3) {
    BmpLayout s;
    s.width = w;
    s.height = h;
    s.pixels = std::string(size_t(CPicture::SourceStride(24, uint64_t(w)) * uint64_t(h)), '\x55');
    return test::MakeBmp(s);
}

std::string SpriteWithTransparency() {
    CPicture p;
    p.Create(3, 3);
    p.SetPixel(0, 0, Bgr{1, 2, 3});
    p.EnsureAlpha();
    p.SetAlpha(1, 1, 0);
    return Bytes(EncodeGls(p));
}

std::string Composition() {
    CPicture p;
    test::FillPattern(p, 4, 2);
    return Bytes(EncodeGlc(p));
}

// The shared cancelling sink, also keeping the texts it was shown.
class CancelAt : public test::CancelAfter {
public:
    using CancelAfter::CancelAfter;
    void SetText(const std::string& text, bool redraw) override {
        texts.push_back(text);
        ProgressSink::SetText(text, redraw);
    }
    std::vector<std::string> texts;
};

TEST(Registry, RowsInTheirOrder) {
    std::vector<std::string> names;
    for (const CGraphicsFormat* f : PictureFormats()) names.push_back(f->ShortName());
    // Every row has its codec, in the dispatcher's order.
    EXPECT_EQ(names, (std::vector<std::string>{"BMP", "TGA", "GIF", "PCX", "PNG", "JPG", "RLE", "TIF",
                                               "WMF", "EMF", "OS2", "DIB", "CLP", "IFF", "LBM", "MAC",
                                               "PBM", "PGM", "PPM", "PSD", "CUT", "GLC", "GLS"}));
    const CGraphicsFormat* bmp = FindPictureFormat("bmp");
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Description(), "Windows bitmap (BMP)");
    EXPECT_EQ(bmp->Filter(), "BMP - Windows Bitmap (*.bmp)|*.bmp|");
    EXPECT_EQ(FindPictureFormat("RLE")->Filter(), "RLE - Windows (*.rle)|*.rle;*.bmp|");
    EXPECT_EQ(FindPictureFormat("GLS")->Description(), "Glimmer Sprite (GLS)");
    EXPECT_EQ(FindPictureFormat("GLC")->Filter(), "GLC - Glimmer Composition (*.glc)|*.glc|");
    EXPECT_EQ(FindPictureFormat("PNG")->Filter(), "PNG - Portable Network Graphic (*.png)|*.png|");
    EXPECT_EQ(MakePictureFormat("GIF")->Description(), "CompuServe Graphic Interchange Format (GIF)");
    ASSERT_NE(MakePictureFormat("dib"), nullptr);
}

TEST(Dispatcher, RefusesProgramsAndZipArchivesBeforeAnyCodec) {
    for (const std::string& head : {std::string("MZ"), std::string("PK")}) {
        // A valid sprite behind the refused signature is never reached.
        const std::string bytes = head + SmallBmp().substr(2);
        CancelAt sink(1000);
        CPicture p;
        EXPECT_FALSE(Dispatch(bytes, "x.bmp", &p, &sink).ok) << head;
        EXPECT_TRUE(sink.texts.empty()) << "a codec was tried";
        EXPECT_FALSE(Dispatch(bytes, "x.bmp", nullptr).ok);
    }
    EXPECT_TRUE(IsRefusedSignature(reinterpret_cast<const uint8_t*>("MZ"), 2));
    EXPECT_FALSE(IsRefusedSignature(reinterpret_cast<const uint8_t*>("M"), 1));
}

TEST(Dispatcher, ExtensionPassThenContentPass) {
    struct Row {
        const char* what;
        std::string bytes;
        std::string name;
        std::string codec;
    } rows[] = {
        {"bmp named .bmp", SmallBmp(), "a.bmp", "BMP"},
        {"bmp named .jpeg (no row)", SmallBmp(), "a.jpeg", "BMP"},
        {"bmp without extension", SmallBmp(), "Memory", "BMP"},
        {"bmp named .dib", SmallBmp(), "dir/a.DIB", "DIB"},
        {"bmp named .gls: GLS refuses, BMP reads it", SmallBmp(), "a.gls", "BMP"},
        {"sprite named .bmp: found in the second pass", SpriteWithTransparency(), "s.bmp", "GLS"},
        {"composition named .txt", Composition(), "c.txt", "GLC"},
    };
    for (const Row& r : rows) {
        CPicture p;
        Load l = Dispatch(r.bytes, r.name, &p);
        ASSERT_TRUE(l.ok) << r.what;
        ASSERT_NE(l.chosen, nullptr);
        EXPECT_EQ(l.chosen->ShortName(), r.codec) << r.what;
        EXPECT_EQ(p.Description(), l.chosen->Description()) << r.what;
        EXPECT_EQ(p.SourceName(), r.name);
        // Inspect mode chooses the same codec and reports the same size.
        Load info = Dispatch(r.bytes, r.name, nullptr);
        ASSERT_TRUE(info.ok) << r.what;
        EXPECT_EQ(info.chosen, l.chosen) << r.what;
        EXPECT_EQ(info.w, p.Width());
        EXPECT_EQ(info.h, p.Height());
    }
}

TEST(Dispatcher, PictureReusedAcrossCodecsStartsClean) {
    CPicture p;
    ASSERT_TRUE(Dispatch(SpriteWithTransparency(), "s.gls", &p).ok);
    ASSERT_TRUE(p.HasAlpha());
    ASSERT_GT(p.PaletteCount(), 0);
    // Same size, so Create keeps the block: the sprite's alpha and palette must not survive.
    ASSERT_TRUE(Dispatch(SmallBmp(3, 3), "b.gls", &p).ok);
    EXPECT_FALSE(p.HasAlpha());
    EXPECT_EQ(p.PaletteCount(), 0);
    EXPECT_EQ(p.Depth(), 24);
    Bgr c;
    p.GetPixel(1, 1, c);
    EXPECT_EQ(c, (Bgr{0x55, 0x55, 0x55}));
}

TEST(Dispatcher, UnknownDataIsRefusedCleanly) {
    // Text that no codec reads, in either mode.
    std::string junk;
    for (int i = 0; i < 20; ++i) junk += "no picture in here, only words\n";
    CPicture p;
    Load l = Dispatch(junk, "junk.pbm", &p);
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.chosen, nullptr);
    EXPECT_EQ(l.w, 0);
    EXPECT_EQ(l.text, "");
    EXPECT_FALSE(Dispatch(junk, "junk.pbm", nullptr).ok);
    // A PNG named .pbm is found by its content.
    const std::string png = test::ReadFile(test::TestData("pnm/courB08.pbm"));
    ASSERT_EQ(png.substr(1, 3), "PNG");
    ASSERT_TRUE(LoadPictureFile(test::TestData("pnm/courB08.pbm"), p, nullptr));
    EXPECT_EQ(p.Description(), "Portable Network Graphics (PNG)");
    EXPECT_FALSE(Dispatch("", "e.bmp", &p).ok);
    EXPECT_FALSE(Dispatch("B", "e.bmp", &p).ok);
    EXPECT_FALSE(LoadPictureFile("/nonexistent/x.bmp", p, nullptr));
}

TEST(Dispatcher, CancelEndsTheSearchAndRestoresTheSink) {
    for (int at : {1, 2, 3, 5, 8}) {
        CancelAt sink(at);
        sink.Begin();
        CPicture p;
        // A sprite named .bmp needs the second pass, so every cancel point is reached.
        Load l = Dispatch(SpriteWithTransparency(), "s.bmp", &p, &sink);
        EXPECT_EQ(sink.Depth(), 1) << at;
        if (at <= 2) {
            EXPECT_FALSE(l.ok) << at;
        }
        sink.End(0);
    }
    CancelAt never(1000000);
    CPicture p;
    EXPECT_TRUE(Dispatch(SpriteWithTransparency(), "s.bmp", &p, &never).ok);
    EXPECT_EQ(never.Depth(), 0);
}

TEST(Resources, DecodedWithAPrivateCodec) {
    const std::string bmp = SmallBmp(2, 5);
    auto p = LoadPictureResourceWith(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size(), "BMP");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Height(), 5);
    EXPECT_EQ(LoadPictureResourceWith(reinterpret_cast<const uint8_t*>("junk"), 4, "BMP"), nullptr);
    EXPECT_EQ(LoadPictureResourceWith(nullptr, 0, "BMP"), nullptr);
    // Until their codecs exist, JPEG and TGA resources do not decode.
    EXPECT_EQ(LoadPictureResource(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size(), true), nullptr);
    EXPECT_EQ(LoadPictureResource(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size(), false), nullptr);
}

// --- GLC and GLS -----------------------------------------------------------------------------

TEST(Glimmer, RoundTripsAndInfo) {
    CPicture source;
    test::FillPattern(source, 300, 7);  // rows longer than one packet
    for (int x = 0; x < 300; ++x) source.SetPixel(x, 3, Bgr{9, 9, 9});  // a long run
    const std::string glc = Bytes(EncodeGlc(source));
    ASSERT_EQ(glc.substr(0, 10), "KESTRA-GLC");
    CPicture back;
    Load l = Dispatch(glc, "c.glc", &back);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(test::MaxDifference(source, back), 0);
    EXPECT_EQ(back.Depth(), 24);
    EXPECT_EQ(l.text, "GLC - Glimmer Composition. 24 bits, run-length packed rows.");

    CPicture sprite;
    ASSERT_TRUE(sprite.Create(4, 2));
    sprite.SetPixel(1, 0, Bgr{0, 0, 255});
    sprite.EnsureAlpha();
    sprite.SetAlpha(3, 1, 0);
    const std::string gls = Bytes(EncodeGls(sprite));
    ASSERT_EQ(gls.substr(0, 10), "KESTRA-GLS");
    Load s = Dispatch(gls, "s.gls", &back);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(back.GetAlpha(3, 1), 0);
    EXPECT_EQ(back.GetAlpha(1, 0), 255);
    Bgr c;
    back.GetPixel(1, 0, c);
    EXPECT_EQ(c, (Bgr{0, 0, 255}));
    EXPECT_EQ(back.PaletteCount(), 3);
    EXPECT_EQ(s.text, "GLS - Glimmer Sprite. Palette : 3 colours. Transparent index : 2.");
}

TEST(Glimmer, ForeignAndBrokenDataRefused) {
    CPicture source;
    test::FillPattern(source, 5, 4);
    const std::string glc = Bytes(EncodeGlc(source));
    std::string gls = SpriteWithTransparency();
    CGlcFormat glc_codec;
    CGlsFormat gls_codec;
    auto loads = [](CGraphicsFormat& codec, const std::string& bytes) {
        DataStream s;
        s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        CPicture p;
        return codec.LoadPicture(s, p, nullptr);
    };
    EXPECT_TRUE(loads(glc_codec, glc));
    EXPECT_TRUE(loads(gls_codec, gls));
    struct Row {
        const char* what;
        CGraphicsFormat& codec;
        std::string bytes;
    } rows[] = {
        {"GLS read as GLC", glc_codec, gls},
        {"GLC read as GLS", gls_codec, glc},
        {"BMP read as GLC", glc_codec, SmallBmp()},
        {"lower-case signature", glc_codec, "kestra-glc" + glc.substr(10)},
        {"version 2", glc_codec, glc.substr(0, 10) + '\x02' + glc.substr(11)},
        {"65535 x 65535 from a few bytes", glc_codec, glc.substr(0, 12) + "\xff\xff\xff\xff" + glc.substr(16)},
        {"zero width", gls_codec, gls.substr(0, 12) + std::string("\0\0", 2) + gls.substr(14)},
        {"transparent index beyond the palette", gls_codec, gls.substr(0, 18) + '\x09' + gls.substr(19)},
        {"pixel index beyond the palette", gls_codec, gls.substr(0, gls.size() - 1) + '\x07'},
        {"trailing packed bytes", glc_codec, [&] {
             std::string b = glc;
             b[16] = char(uint8_t(b[16]) + 1);
             return b + '\0';
         }()},
    };
    for (Row& r : rows) EXPECT_FALSE(loads(r.codec, r.bytes)) << r.what;
    // Every shorter length fails, in both codecs.
    for (size_t n = 0; n < glc.size(); ++n) EXPECT_FALSE(loads(glc_codec, glc.substr(0, n))) << "GLC cut at " << n;
    for (size_t n = 0; n < gls.size(); ++n) EXPECT_FALSE(loads(gls_codec, gls.substr(0, n))) << "GLS cut at " << n;
}

}  // namespace
}  // namespace quorbel
