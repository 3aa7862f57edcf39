// The metafile codecs and their renderer: the shared samples (sizes, libwmf's renders, the
// reference render of the EMF sample), metafiles built here record by record with pixels worked
// out by hand, hostile records, truncation at many lengths, and the clipboard-file codec.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "core/data_stream.h"
#include "picture/codecs/clp_codec.h"
#include "picture/codecs/metafile_codec.h"
#include "picture/format_registry.h"
#include "picture/metafile_renderer.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

void Put16(std::string& s, uint32_t v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
void Set32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kBlack = 0;
const Bgr kWhiteBgr{255, 255, 255}, kRedBgr{0, 0, 255}, kGreenBgr{0, 255, 0}, kBlueBgr{255, 0, 0}, kBlackBgr{0, 0, 0};

// An EMF whose bounds are (0, 0, w - 1, h - 1) and whose frame covers the same pixels (10
// pixels to the millimetre), so that logical units are picture pixels until a record says
// otherwise.
class Emf {
public:
    Emf(int w, int h) : w_(w), h_(h) {}
    Emf& Rec(uint32_t type, std::initializer_list<int32_t> params) {
        std::string body;
        for (int32_t p : params) Put32(body, uint32_t(p));
        return Raw(type, body);
    }
    Emf& Raw(uint32_t type, const std::string& body) {
        Put32(records_, type);
        Put32(records_, uint32_t(8 + body.size()));
        records_ += body;
        ++count_;
        return *this;
    }
    Emf& Handles(uint16_t n) {
        handles_ = n;
        return *this;
    }
    std::string Bytes(bool with_eof = true) const {
        std::string out;
        Put32(out, 1);
        Put32(out, 88);
        for (int v : {0, 0, w_ - 1, h_ - 1}) Put32(out, uint32_t(v));
        for (int v : {0, 0, w_ * 10, h_ * 10}) Put32(out, uint32_t(v));
        Put32(out, 0x464D4520);
        Put32(out, 0x10000);
        Put32(out, 0);  // bytes, set below
        Put32(out, uint32_t(count_ + 2));
        Put16(out, handles_);
        Put16(out, 0);
        Put32(out, 0), Put32(out, 0), Put32(out, 0);
        Put32(out, 1000), Put32(out, 1000), Put32(out, 100), Put32(out, 100);
        out += records_;
        if (with_eof) {
            Put32(out, 14), Put32(out, 20), Put32(out, 0), Put32(out, 16), Put32(out, 20);
        }
        Set32(out, 48, uint32_t(out.size()));
        return out;
    }

private:
    int w_, h_;
    std::string records_;
    int count_ = 0;
    uint16_t handles_ = 16;
};

// A WMF with the placeable header: a w x h box at `inch` units per inch, a window over the box
// and a white rectangle over all of it, so the drawing's extent is the box.
class Wmf {
public:
    Wmf(int w, int h, int inch = 96, bool placeable = true) : w_(w), h_(h), inch_(inch), placeable_(placeable) {
        Rec(0x020B, {0, 0});          // window origin (y, x)
        Rec(0x020C, {int16_t(h), int16_t(w)});
        Rec(0x02FC, {0, 0xFFFF, 0x00FF, 0});  // white brush, slot 0
        Rec(0x012D, {0});
        Rec(0x02FA, {5, 0, 0, 0, 0});  // null pen, slot 1
        Rec(0x012D, {1});
        Rec(0x041B, {int16_t(h), int16_t(w), 0, 0});
        Rec(0x01F0, {0});
        Rec(0x01F0, {1});
    }
    Wmf& Rec(uint16_t function, std::initializer_list<int> words) {
        std::string body;
        for (int v : words) Put16(body, uint32_t(v) & 0xFFFF);
        return Raw(function, body);
    }
    Wmf& Raw(uint16_t function, const std::string& body) {
        Put32(records_, uint32_t(3 + body.size() / 2));
        Put16(records_, function);
        records_ += body;
        return *this;
    }
    Wmf& Objects(uint16_t n) {
        objects_ = n;
        return *this;
    }
    std::string Bytes() const {
        std::string out;
        if (placeable_) {
            Put32(out, 0x9AC6CDD7);
            Put16(out, 0);
            for (int v : {0, 0, w_, h_}) Put16(out, uint32_t(v));
            Put16(out, uint32_t(inch_));
            Put32(out, 0);
            Put16(out, 0);
        }
        std::string meta;
        Put16(meta, 1), Put16(meta, 9), Put16(meta, 0x0300);
        Put32(meta, 0);  // size in words, set below
        Put16(meta, objects_);
        Put32(meta, 0);
        Put16(meta, 0);
        meta += records_;
        Put32(meta, 3), Put16(meta, 0);
        Set32(meta, 6, uint32_t(meta.size() / 2));
        out += meta;
        return out;
    }

private:
    int w_, h_, inch_;
    bool placeable_;
    std::string records_;
    uint16_t objects_ = 8;
};

// A packed 24-bit DIB, bottom-up, from rows of COLORREF values given top first.
std::string Dib24(const std::vector<std::vector<uint32_t>>& rows_top_first) {
    const int h = int(rows_top_first.size()), w = int(rows_top_first[0].size());
    std::string out;
    Put32(out, 40), Put32(out, uint32_t(w)), Put32(out, uint32_t(h));
    Put16(out, 1), Put16(out, 24);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        std::string row;
        for (uint32_t c : rows_top_first[size_t(y)]) {
            row += char((c >> 16) & 0xFF);  // blue, green, red of a COLORREF
            row += char((c >> 8) & 0xFF);
            row += char(c & 0xFF);
        }
        while (row.size() % 4) row += '\0';
        out += row;
    }
    return out;
}

bool LoadBytes(const std::string& bytes, const std::string& name, CPicture& picture, std::string* text = nullptr) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName(name);
    return LoadFromStream(s, &picture, nullptr, true, nullptr, nullptr, nullptr, text);
}

Bgr At(const CPicture& p, int x, int y) {
    Bgr c;
    p.GetPixel(x, y, c);
    return c;
}

Bgr At(const std::unique_ptr<CPicture>& p, int x, int y) { return At(*p, x, y); }

std::unique_ptr<CPicture> Render(const Emf& emf) {
    auto p = std::make_unique<CPicture>();
    EXPECT_TRUE(LoadBytes(emf.Bytes(), "drawn.emf", *p));
    return p;
}

Emf Canvas() {
    Emf e(40, 40);
    e.Rec(39, {1, 0, int32_t(kRed), 0});   // brush 1: solid red
    e.Rec(38, {2, 0, 0, 0, int32_t(kBlack)});  // pen 2: black, one pixel
    e.Rec(37, {1}).Rec(37, {2});
    return e;
}

constexpr int32_t kNullPen = int32_t(0x80000008u), kNullBrush = int32_t(0x80000005u);

// --- the shared samples ---------------------------------------------------------------------

TEST(MetafileSamples, SizesAndInformation) {
    struct Case {
        const char* file;
        int width, height;
        const char* info;
    } cases[] = {
        // Placeable: the bounding box at 96 dpi.
        {"wmf/2doorvan.wmf", 318, 116, "WMF - Placeable Windows MetaFile (ALDUS)"},
        {"wmf/drawing.wmf", 110, 110, "WMF - Placeable Windows MetaFile (ALDUS)"},
        {"wmf/fulltest.wmf", 1056, 816, "WMF - Placeable Windows MetaFile (ALDUS)"},
        // Plain: the first window extent, 4800 x 1792 scaled to 2048 on the longer side.
        {"wmf/p0000001.wmf", 2048, 765, "WMF - Windows MetaFile (no header)"},
        // Plain and only text: no extent, one inch of white.
        {"wmf/text.wmf", 96, 96, "WMF - Windows MetaFile (no header)"},
        // EMF: the bounds, edges included.
        {"emf/drawing.emf", 1626, 1626, "Enhanced MetaFile (EMF)"},
        {"emf/test-092.emf", 286, 116, "Enhanced MetaFile (EMF)"},
        {"emf/test-047.emf", 2048, 1448, "Enhanced MetaFile (EMF)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        int w = 0, h = 0, d = 0;
        std::string text;
        DataStream s;
        ASSERT_TRUE(s.OpenFile(test::TestData(c.file), true));
        EXPECT_TRUE(LoadFromStream(s, nullptr, nullptr, false, &w, &h, &d, &text));
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(d, 24);
        EXPECT_EQ(text, c.info);
        CPicture p;
        ASSERT_TRUE(LoadPictureFile(test::TestData(c.file), p, nullptr));
        EXPECT_EQ(p.Width(), c.width);
        EXPECT_EQ(p.Height(), c.height);
    }
}

TEST(MetafileSamples, EverySampleLoadsFromFileAndFromMemoryAlike) {
    // Archive members reach the codecs as memory streams: they load exactly as files do.
    for (const char* folder : {"wmf", "emf"})
        for (const auto& entry : fs::directory_iterator(test::TestData(folder))) {
            const std::string path = entry.path().string();
            if (entry.path().extension() == ".png") continue;
            SCOPED_TRACE(path);
            CPicture from_file, from_memory;
            const bool ok = LoadPictureFile(path, from_file, nullptr);
            // One sample has a header whose record size lies beyond the file.
            if (path.find("215338") != std::string::npos) {
                EXPECT_FALSE(ok);
                continue;
            }
            ASSERT_TRUE(ok);
            ASSERT_TRUE(LoadBytes(test::ReadFile(path), entry.path().filename().string(), from_memory));
            EXPECT_EQ(test::MaxDifference(from_file, from_memory), 0);
            // Something was drawn: not every pixel is white.
            bool drawn = false;
            for (int y = 0; y < from_file.Height() && !drawn; ++y)
                for (int x = 0; x < from_file.Width() * 3; ++x)
                    if (from_file.Row(y)[x] != 255) {
                        drawn = true;
                        break;
                    }
            // Two samples hold nothing but text, which is not drawn.
            if (path.find("text.wmf") == std::string::npos && path.find("p0000016") == std::string::npos) {
                EXPECT_TRUE(drawn) << path;
            }
        }
}

// Share of pixels whose channels differ by more than `level` (sizes must agree).
double ShareDiffering(const CPicture& a, const CPicture& b, int level, int width, int height) {
    int64_t differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(a.Row(y)[3 * x + c] - b.Row(y)[3 * x + c]) > level) {
                    ++differing;
                    break;
                }
    return double(differing) / (double(width) * height);
}

TEST(MetafileSamples, WmfAgreesWithLibwmf) {
    QUORBEL_REQUIRE_TOOL("wmf2gd");
    // Both renderers fit the drawing into the picture; they differ in how pens of fractional
    // width round and where edges fall by a pixel, so up to 8 % of the pixels may differ by
    // more than a quarter of the range (the pictures share every shape and colour).
    test::TempDir dir;
    for (const char* f : {"sample2.wmf", "arrow01.wmf", "drawing.wmf", "sample.wmf", "anim0002.wmf", "ant.wmf"}) {
        SCOPED_TRACE(f);
        std::string sample = "wmf/";
        sample += f;
        CPicture ours, theirs;
        ASSERT_TRUE(LoadPictureFile(test::TestData(sample), ours, nullptr));
        std::string max_width = "--maxwidth=", max_height = "--maxheight=";
        max_width += std::to_string(ours.Width());
        max_height += std::to_string(ours.Height());
        const std::string png = dir / "ref.png";
        const test::CommandResult r =
            test::Run({"wmf2gd", max_width, max_height, "--maxsize", "-o", png, test::TestData(sample)});
        ASSERT_EQ(r.exit_code, 0);
        ASSERT_TRUE(test::PictureFromConvert(png, theirs));
        ASSERT_EQ(theirs.Width(), ours.Width());
        ASSERT_EQ(theirs.Height(), ours.Height());
        EXPECT_LE(ShareDiffering(ours, theirs, 64, ours.Width(), ours.Height()), 0.08);
    }
}

TEST(MetafileSamples, EmfAgreesWithReferenceRender) {
    // The reference render is one pixel smaller (its bounds exclude the right and bottom
    // edges); over the area both cover, at most 2 % of the pixels may differ by more than a
    // quarter of the range (the outline's anti-aliasing and placement).
    CPicture ours, theirs;
    ASSERT_TRUE(LoadPictureFile(test::TestData("emf/drawing.emf"), ours, nullptr));
    ASSERT_TRUE(test::PictureFromConvert(test::TestData("emf/drawing.emf.expected.png"), theirs));
    const int w = std::min(ours.Width(), theirs.Width()), h = std::min(ours.Height(), theirs.Height());
    EXPECT_LE(ShareDiffering(ours, theirs, 64, w, h), 0.02);
    EXPECT_EQ(At(ours, 813, 813), kRedBgr);
    EXPECT_EQ(At(ours, 5, 5), kWhiteBgr);
}

// --- shapes drawn by hand -------------------------------------------------------------------

TEST(MetafileShapes, RectangleFillsInsideAndOutlinesItsOuterPixels) {
    auto p = Render(Canvas().Rec(43, {10, 10, 20, 20}));
    EXPECT_EQ(At(p, 15, 15), kRedBgr);
    EXPECT_EQ(At(p, 10, 10), kBlackBgr);
    EXPECT_EQ(At(p, 19, 19), kBlackBgr);
    EXPECT_EQ(At(p, 19, 15), kBlackBgr);
    EXPECT_EQ(At(p, 20, 20), kWhiteBgr);  // right and bottom edges excluded
    EXPECT_EQ(At(p, 9, 15), kWhiteBgr);
}

TEST(MetafileShapes, EachShapeCoversItsPixels) {
    struct Case {
        const char* name;
        uint32_t type;
        std::vector<int32_t> params;
        std::vector<std::pair<int, int>> inside, outside;
    } cases[] = {
        {"ellipse", 42, {0, 0, 40, 40}, {{20, 20}, {3, 20}, {36, 20}}, {{1, 1}, {38, 38}, {38, 1}}},
        {"round rectangle", 44, {0, 0, 40, 40, 20, 20}, {{20, 20}, {1, 20}, {20, 1}}, {{1, 1}, {38, 38}}},
        // Pie from the right-hand radial counter-clockwise to the top one: the upper right.
        {"pie", 47, {0, 0, 40, 40, 40, 20, 20, 0}, {{28, 12}, {22, 18}}, {{12, 12}, {12, 28}, {28, 28}}},
        // Chord over the same arc: the segment beyond the line from (40,20) to (20,0).
        {"chord", 46, {0, 0, 40, 40, 40, 20, 20, 0}, {{33, 7}}, {{24, 16}, {12, 28}}},
        {"polygon", 3, {0, 0, 0, 0, 3, 0, 0, 40, 0, 0, 40}, {{5, 5}, {15, 20}}, {{30, 30}, {25, 25}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf e = Canvas();
        e.Rec(37, {kNullPen});
        std::string body;
        for (int32_t v : c.params) Put32(body, uint32_t(v));
        // Polygons carry a bounds rectangle before their count.
        e.Raw(c.type, body);
        auto p = Render(e);
        for (auto [x, y] : c.inside) EXPECT_EQ(At(p, x, y), kRedBgr) << x << "," << y;
        for (auto [x, y] : c.outside) EXPECT_EQ(At(p, x, y), kWhiteBgr) << x << "," << y;
    }
}

TEST(MetafileShapes, LinesArcsAndBeziersDrawWithThePen) {
    // LineTo excludes its end point; Polyline draws every segment; an arc follows the ellipse;
    // a Bézier whose control points lie on one line is that line.
    Emf e = Canvas();
    e.Rec(27, {2, 2}).Rec(54, {30, 2});                          // move, line
    e.Rec(4, {0, 0, 0, 0, 3, 2, 10, 10, 10, 10, 30});            // polyline
    e.Rec(45, {0, 0, 40, 40, 40, 20, 0, 20});                    // upper half arc
    e.Rec(2, {0, 0, 0, 0, 4, 2, 36, 12, 36, 22, 36, 32, 36});    // straight Bézier along y = 36
    auto p = Render(e);
    EXPECT_EQ(At(p, 2, 2), kBlackBgr);
    EXPECT_EQ(At(p, 29, 2), kBlackBgr);
    EXPECT_EQ(At(p, 30, 2), kWhiteBgr);
    EXPECT_EQ(At(p, 6, 10), kBlackBgr);
    EXPECT_EQ(At(p, 10, 20), kBlackBgr);
    EXPECT_EQ(At(p, 20, 0), kBlackBgr);   // top of the arc
    EXPECT_EQ(At(p, 20, 39), kWhiteBgr);  // the lower half is not drawn
    EXPECT_EQ(At(p, 17, 36), kBlackBgr);
    EXPECT_EQ(At(p, 17, 37), kWhiteBgr);
}

TEST(MetafileShapes, AlternateAndWindingFill) {
    // Two squares, the inner one inside the outer one, both turning the same way: alternate
    // fill leaves the inner one empty, winding fills it.
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(19, {mode});
        e.Rec(8, {0, 0, 0, 0, 2, 8, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 10, 10, 30, 10, 30, 30, 10, 30});
        auto p = Render(e);
        EXPECT_EQ(At(p, 5, 5), kRedBgr);
        EXPECT_EQ(At(p, 20, 20), mode == 1 ? kWhiteBgr : kRedBgr);
    }
}

TEST(MetafileShapes, WidePenCoversItsWidth) {
    Emf e = Canvas();
    e.Rec(38, {3, 0, 7, 0, int32_t(kBlue)}).Rec(37, {3});
    e.Rec(27, {5, 20}).Rec(54, {35, 20});
    auto p = Render(e);
    for (int y = 17; y <= 23; ++y) EXPECT_EQ(At(p, 20, y), kBlueBgr) << y;
    EXPECT_EQ(At(p, 20, 15), kWhiteBgr);
    EXPECT_EQ(At(p, 20, 25), kWhiteBgr);
}

TEST(MetafileShapes, HatchedBrushes) {
    // Cross hatch on an 8-pixel grid from the picture's origin; the gaps take the background
    // colour when the background is opaque and stay untouched when it is transparent.
    for (int bk_mode : {1, 2}) {
        SCOPED_TRACE(bk_mode);
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(25, {int32_t(kGreen)}).Rec(18, {bk_mode});
        e.Rec(39, {3, 2, int32_t(kBlue), 4}).Rec(37, {3});
        e.Rec(43, {0, 0, 40, 40});
        auto p = Render(e);
        EXPECT_EQ(At(p, 8, 3), kBlueBgr);
        EXPECT_EQ(At(p, 3, 16), kBlueBgr);
        EXPECT_EQ(At(p, 3, 3), bk_mode == 2 ? kGreenBgr : kWhiteBgr);
    }
    // Forward diagonal: x and y equal modulo 8.
    Emf e = Canvas();
    e.Rec(37, {kNullPen}).Rec(18, {1}).Rec(39, {3, 2, int32_t(kBlue), 2}).Rec(37, {3}).Rec(43, {0, 0, 40, 40});
    auto p = Render(e);
    EXPECT_EQ(At(p, 13, 5), kBlueBgr);
    EXPECT_EQ(At(p, 13, 6), kWhiteBgr);
}

TEST(MetafileState, MappingModes) {
    // Anisotropic: a 100 x 100 window onto a 20 x 40 viewport.
    {
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(17, {8}).Rec(9, {100, 100}).Rec(11, {20, 40});
        e.Rec(43, {50, 50, 100, 100});
        auto p = Render(e);
        EXPECT_EQ(At(p, 15, 30), kRedBgr);
        EXPECT_EQ(At(p, 9, 30), kWhiteBgr);
        EXPECT_EQ(At(p, 15, 19), kWhiteBgr);
        EXPECT_EQ(At(p, 25, 30), kWhiteBgr);
    }
    // Isotropic: the smaller scale (0.2) on both axes.
    {
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(17, {7}).Rec(9, {100, 100}).Rec(11, {20, 40});
        e.Rec(43, {50, 50, 100, 100});
        auto p = Render(e);
        EXPECT_EQ(At(p, 15, 15), kRedBgr);
        EXPECT_EQ(At(p, 15, 25), kWhiteBgr);
    }
    // Low metric: 0.1 mm units at 10 pixels to the millimetre, y growing upwards.
    {
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(17, {2});
        e.Rec(43, {10, -10, 20, -20});
        auto p = Render(e);
        EXPECT_EQ(At(p, 15, 15), kRedBgr);
        EXPECT_EQ(At(p, 15, 5), kWhiteBgr);
    }
    // Window and viewport origins, and a world transform moving by (5, 5).
    {
        Emf e = Canvas();
        e.Rec(37, {kNullPen}).Rec(10, {10, 0}).Rec(12, {0, 10});
        std::string xf;
        for (float v : {1.0f, 0.0f, 0.0f, 1.0f, 5.0f, 5.0f}) {
            uint32_t bits;
            std::memcpy(&bits, &v, 4);
            Put32(xf, bits);
        }
        e.Raw(35, xf);
        e.Rec(43, {10, 0, 15, 5});  // logical (10,0) -> world (15,5) -> device (5,15)
        auto p = Render(e);
        EXPECT_EQ(At(p, 7, 17), kRedBgr);
        EXPECT_EQ(At(p, 2, 2), kWhiteBgr);
    }
}

TEST(MetafileState, SaveAndRestoreKeepBrushAndClip) {
    Emf e = Canvas();
    e.Rec(37, {kNullPen});
    e.Rec(33, {});                                           // save: red brush, no clip
    e.Rec(39, {3, 0, int32_t(kBlue), 0}).Rec(37, {3});       // blue brush
    e.Rec(30, {0, 0, 10, 10});                               // clip to the corner
    e.Rec(43, {0, 0, 40, 40});
    e.Rec(34, {-1});                                         // back to red, unclipped
    e.Rec(43, {20, 20, 40, 40});
    e.Rec(34, {-1});                                         // nothing saved: ignored
    auto p = Render(e);
    EXPECT_EQ(At(p, 5, 5), kBlueBgr);
    EXPECT_EQ(At(p, 15, 15), kWhiteBgr);  // the blue rectangle was clipped
    EXPECT_EQ(At(p, 30, 30), kRedBgr);
}

TEST(MetafileState, ClipRectangles) {
    Emf e = Canvas();
    e.Rec(37, {kNullPen});
    e.Rec(30, {10, 10, 30, 30}).Rec(29, {0, 0, 20, 40});  // then exclude the left half
    e.Rec(43, {0, 0, 40, 40});
    auto p = Render(e);
    EXPECT_EQ(At(p, 25, 25), kRedBgr);
    EXPECT_EQ(At(p, 15, 25), kWhiteBgr);
    EXPECT_EQ(At(p, 35, 25), kWhiteBgr);
    EXPECT_EQ(At(p, 25, 5), kWhiteBgr);
}

TEST(MetafileState, PathsStockObjectsAndText) {
    Emf e = Canvas();
    e.Rec(37, {kNullPen});
    e.Rec(59, {}).Rec(27, {0, 0}).Rec(54, {20, 0}).Rec(54, {20, 20}).Rec(54, {0, 20}).Rec(61, {}).Rec(60, {});
    e.Rec(62, {0, 0, 0, 0});  // fill the path
    e.Rec(37, {kNullBrush}).Rec(43, {25, 25, 40, 40});  // null brush, null pen: nothing
    e.Rec(84, {0, 0, 0, 0, 1, 0, 0});                   // text: skipped and counted
    std::string bytes = e.Bytes();
    MetafilePlay play;
    CPicture p;
    ASSERT_TRUE(PlayEmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &p, nullptr, play));
    EXPECT_EQ(At(p, 10, 10), kRedBgr);
    EXPECT_EQ(At(p, 30, 30), kWhiteBgr);
    EXPECT_EQ(play.text_skipped, 1);
}

std::string StretchDibitsBody(int x, int y, int w, int h, const std::string& dib, int sw = 2, int sh = 2) {
    std::string b;
    for (int v : {0, 0, 0, 0, x, y, 0, 0, sw, sh}) Put32(b, uint32_t(v));
    const uint32_t off_bmi = 80, cb_bmi = 40, off_bits = 120, cb_bits = uint32_t(dib.size() - 40);
    for (uint32_t v : {off_bmi, cb_bmi, off_bits, cb_bits, 0u, 0x00CC0020u}) Put32(b, v);
    Put32(b, uint32_t(w)), Put32(b, uint32_t(h));
    b += dib;
    return b;
}

TEST(MetafileBlits, StretchedAndMirroredDib) {
    const std::string dib = Dib24({{kRed, kGreen}, {kBlue, kBlack}});
    for (bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored);
        Emf e(40, 40);
        // A negative width draws the image turned round, leftwards from x = 30.
        e.Raw(81, mirrored ? StretchDibitsBody(30, 10, -20, 20, dib) : StretchDibitsBody(10, 10, 20, 20, dib));
        auto p = Render(e);
        EXPECT_EQ(At(p, 12, 12), mirrored ? kGreenBgr : kRedBgr);
        EXPECT_EQ(At(p, 27, 12), mirrored ? kRedBgr : kGreenBgr);
        EXPECT_EQ(At(p, 12, 27), mirrored ? kBlackBgr : kBlueBgr);
        EXPECT_EQ(At(p, 27, 27), mirrored ? kBlueBgr : kBlackBgr);
        EXPECT_EQ(At(p, 5, 5), kWhiteBgr);
        EXPECT_EQ(At(p, 30, 30), kWhiteBgr);
    }
}

TEST(MetafileBlits, DibPatternBrushTiles) {
    const std::string dib = Dib24({{kRed, kGreen}, {kBlue, kBlack}});
    std::string body;
    for (uint32_t v : {3u, 0u, 32u, 40u, 72u, uint32_t(dib.size() - 40)}) Put32(body, v);
    Emf e = Canvas();
    body += dib;
    e.Rec(37, {kNullPen}).Raw(94, body).Rec(37, {3}).Rec(43, {0, 0, 40, 40});
    auto p = Render(e);
    EXPECT_EQ(At(p, 0, 0), kRedBgr);
    EXPECT_EQ(At(p, 1, 0), kGreenBgr);
    EXPECT_EQ(At(p, 0, 1), kBlueBgr);
    EXPECT_EQ(At(p, 3, 3), kBlackBgr);
    EXPECT_EQ(At(p, 38, 38), kRedBgr);
}

TEST(MetafileWmf, PlaceableShapesObjectsAndBlit) {
    // 1440 units per inch: a 2880-unit box is 192 pixels at 96 dpi.
    Wmf w(2880, 2880, 1440);
    w.Rec(0x02FC, {0, int(kRed & 0xFFFF), int(kRed >> 16), 0});  // slot 0 (freed above): red
    w.Rec(0x02FA, {5, 0, 0, 0, 0});                                // slot 1: null pen
    w.Rec(0x012D, {0}).Rec(0x012D, {1});
    w.Rec(0x041B, {1440, 1440, 0, 0});                             // rectangle: top-left quarter
    w.Rec(0x01F0, {0});                                            // slot 0 free again
    w.Rec(0x02FC, {0, int(kBlue & 0xFFFF), int(kBlue >> 16), 0});  // lands in slot 0
    w.Rec(0x012D, {0});
    w.Rec(0x0324, {3, 1440, 1440, 2880, 1440, 2880, 2880});       // triangle, lower right
    // StretchDIB: rop, usage, source h/w/y/x, target h/w/y/x, then the bitmap
    std::string blit;
    Put32(blit, 0x00CC0020);
    for (int v : {0, 2, 2, 0, 0, 1440, 1440, 0, 1440}) Put16(blit, uint32_t(v));
    blit += Dib24({{kGreen, kGreen}, {kGreen, kGreen}});
    w.Raw(0x0F43, blit);
    std::string text;
    CPicture p;
    ASSERT_TRUE(LoadBytes(w.Bytes(), "drawn.wmf", p, &text));
    EXPECT_EQ(text, "WMF - Placeable Windows MetaFile (ALDUS)");
    ASSERT_EQ(p.Width(), 192);
    EXPECT_EQ(At(p, 40, 40), kRedBgr);
    EXPECT_EQ(At(p, 180, 120), kBlueBgr);
    EXPECT_EQ(At(p, 120, 180), kWhiteBgr);  // the other side of the triangle's diagonal
    EXPECT_EQ(At(p, 140, 40), kGreenBgr);
}

TEST(MetafileWmf, PlainHeaderSizeMustMatchTheFile) {
    Wmf w(50, 30, 96, false);
    w.Rec(0x02FC, {0, 0, 0, 0}).Rec(0x012D, {0}).Rec(0x041B, {30, 50, 0, 0});
    std::string bytes = w.Bytes();
    CPicture p;
    std::string text;
    ASSERT_TRUE(LoadBytes(bytes, "plain.wmf", p, &text));
    EXPECT_EQ(text, "WMF - Windows MetaFile (no header)");
    EXPECT_EQ(p.Width(), 50);
    EXPECT_EQ(p.Height(), 30);
    EXPECT_EQ(At(p, 25, 15), kBlackBgr);
    std::string wrong = bytes;
    Set32(wrong, 6, uint32_t(bytes.size() / 2 + 1));
    EXPECT_FALSE(LoadBytes(wrong, "plain.wmf", p));
}

// --- hostile input --------------------------------------------------------------------------

TEST(MetafileHostile, EmfRecordsThatCannotBeTrusted) {
    struct Case {
        const char* name;
        std::function<std::string()> make;
        bool loads;
    } cases[] = {
        {"zero record size ends the play",
         [] {
             std::string b = Canvas().Rec(43, {0, 0, 40, 40}).Bytes();
             Set32(b, 88 + 4, 0);  // the first record after the header
             return b;
         },
         true},
        {"record longer than the file", [] { std::string b = Canvas().Bytes(); Set32(b, 92, 1u << 30); return b; }, true},
        {"record size not whole words", [] { std::string b = Canvas().Bytes(); Set32(b, 92, 13); return b; }, true},
        {"polygon count far beyond its record", [] { return Canvas().Rec(3, {0, 0, 0, 0, -1, 1, 1}).Bytes(); }, true},
        {"poly-polygon counts beyond the points",
         [] { return Canvas().Rec(8, {0, 0, 0, 0, 2, 3, 2, 1000000, 0, 0, 5, 5, 9, 9}).Bytes(); }, true},
        {"object indices beyond the table",
         [] {
             return Canvas().Rec(39, {0x7FFFFFFF, 0, 0, 0}).Rec(37, {0x7FFFFFF0}).Rec(40, {-2}).Rec(43, {0, 0, 5, 5}).Bytes();
         },
         true},
        {"bitmap offsets outside the record",
         [] { return Emf(40, 40).Rec(81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 1 << 30, 40, 80, 12, 0, 0xCC0020, 10, 10}).Bytes(); },
         true},
        {"bitmap claiming a huge size",
         [] {
             std::string dib = Dib24({{kRed}});
             Set32(dib, 4, 1000000), Set32(dib, 8, 1000000);
             return Emf(40, 40).Raw(81, StretchDibitsBody(0, 0, 40, 40, dib, 1, 1)).Bytes();
         },
         true},
        {"restore of levels never saved", [] { return Canvas().Rec(34, {-1000}).Rec(34, {1000}).Rec(34, {0}).Bytes(); }, true},
        {"zero window extent", [] { return Canvas().Rec(17, {8}).Rec(9, {0, 0}).Rec(43, {0, 0, 5, 5}).Bytes(); }, true},
        {"header size beyond the file", [] { std::string b = Canvas().Bytes(); Set32(b, 4, 1u << 20); return b; }, false},
        {"bounds and frame empty",
         [] {
             std::string b = Canvas().Bytes();
             for (int i = 0; i < 8; ++i) Set32(b, 8 + 4 * size_t(i), 0);
             Set32(b, 16, uint32_t(-5));
             return b;
         },
         false},
        {"wrong signature", [] { std::string b = Canvas().Bytes(); b[40] = 'X'; return b; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPicture p;
        EXPECT_EQ(LoadBytes(c.make(), "hostile.emf", p), c.loads);
    }
}

TEST(MetafileHostile, HugeBoundsAreScaledNotAllocated) {
    std::string b = Canvas().Rec(43, {0, 0, 2000000000, 1000000000}).Bytes();
    Set32(b, 16, 2000000000), Set32(b, 20, 999999999);
    Set32(b, 32, 0), Set32(b, 36, 0);  // no frame: the bounds map onto the picture
    CPicture p;
    ASSERT_TRUE(LoadBytes(b, "huge.emf", p));
    EXPECT_EQ(p.Width(), MetafileRenderer::kMaxSide);
    EXPECT_EQ(p.Height(), 1024);
    EXPECT_EQ(At(p, 1000, 500), kRedBgr);
}

TEST(MetafileHostile, WorkLimitEndsAPlayThatWouldNeverFinish) {
    // Every record repaints the whole picture: the renderer stops at its work limit (256
    // times the picture's area and 16 Mi pixels) and keeps what it drew.
    Emf e(64, 64);
    for (int i = 0; i < 5000; ++i) e.Rec(43, {0, 0, 64, 64});
    const std::string b = e.Bytes();
    MetafilePlay play;
    CPicture p;
    ASSERT_TRUE(PlayEmf(reinterpret_cast<const uint8_t*>(b.data()), b.size(), &p, nullptr, play));
    EXPECT_TRUE(play.work_exhausted);
    EXPECT_LT(play.records, 5000);
    EXPECT_EQ(At(p, 30, 30), kWhiteBgr);  // stock white brush
}

TEST(MetafileHostile, UnendedPathStaysBounded) {
    // Every arc of a vast ellipse flattens into a thousand points; a path that is never ended
    // keeps at most a few million of them and the play still finishes.
    Emf e = Canvas();
    e.Rec(59, {});
    for (int i = 0; i < 6000; ++i) e.Rec(45, {-100000000, -100000000, 100000000, 100000000, 1, 0, 0, 1});
    const std::string b = e.Bytes();
    MetafilePlay play;
    CPicture p;
    ASSERT_TRUE(PlayEmf(reinterpret_cast<const uint8_t*>(b.data()), b.size(), &p, nullptr, play));
    EXPECT_EQ(play.records, 1 + 4 + 1 + 6000);  // header, canvas, path, arcs
    EXPECT_EQ(At(p, 20, 20), kWhiteBgr);  // nothing is drawn while a path is open
}

TEST(MetafileHostile, WmfRecordsThatCannotBeTrusted) {
    struct Case {
        const char* name;
        std::function<std::string()> make;
        bool loads;
    } cases[] = {
        {"no units per inch", [] { std::string b = Wmf(10, 10, 0).Bytes(); return b; }, false},
        {"polygon count beyond its record", [] { return Wmf(10, 10).Rec(0x0324, {30000, 1, 1}).Bytes(); }, true},
        {"poly-polygon counts beyond the record", [] { return Wmf(10, 10).Rec(0x0538, {2, 3, 30000, 1, 1, 2, 2, 3, 3}).Bytes(); }, true},
        {"object table of no slots", [] { return Wmf(10, 10).Objects(0).Rec(0x02FC, {0, 0, 0, 0}).Rec(0x012D, {0}).Bytes(); }, true},
        {"select and delete beyond the table", [] { return Wmf(10, 10).Rec(0x012D, {60000}).Rec(0x01F0, {60000}).Bytes(); }, true},
        {"zero-size record",
         [] {
             std::string b = Wmf(10, 10).Rec(0x0418, {10, 10, 0, 0}).Bytes();
             Set32(b, 22 + 18, 0);
             return b;
         },
         true},
        {"record longer than the file",
         [] {
             std::string b = Wmf(10, 10).Bytes();
             Set32(b, 22 + 18, 0x7FFFFFFF);
             return b;
         },
         true},
        {"bitmap record with a broken bitmap", [] { return Wmf(10, 10).Rec(0x0F43, {0x20, 0xCC, 0, 2, 2, 0, 0, 5, 5, 0, 0, 40, 0}).Bytes(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPicture p;
        EXPECT_EQ(LoadBytes(c.make(), "hostile.wmf", p), c.loads);
    }
}

// A sink that reports the user's cancel at its n-th position.
TEST(MetafileHostile, CancelStopsTheLoad) {
    Emf e(40, 40);
    for (int i = 0; i < 1000; ++i) e.Rec(43, {0, 0, 4, 4});
    const std::string b = e.Bytes();
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    s.SetName("cancel.emf");
    CEmfFormat emf;
    CPicture p;
    test::CancelAfter sink(3);
    EXPECT_FALSE(emf.LoadPicture(s, p, &sink));
    test::CancelAfter patient(1000000);
    EXPECT_TRUE(emf.LoadPicture(s, p, &patient));
}

TEST(MetafileHostile, EverySampleTruncatedAtManyLengths) {
    for (const char* folder : {"wmf", "emf"})
        for (const auto& entry : fs::directory_iterator(test::TestData(folder))) {
            if (entry.path().extension() == ".png") continue;
            const std::string bytes = test::ReadFile(entry.path().string());
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(name);
            const size_t step = std::max<size_t>(1, bytes.size() / 97);
            for (size_t n = 0; n < bytes.size(); n += (n < 128 ? 1 : step)) {
                CPicture p;
                const bool ok = LoadBytes(bytes.substr(0, n), name, p);
                // A truncated metafile plays the records it holds; a cut header fails.
                if (n < 18) {
                    EXPECT_FALSE(ok) << n;
                }
                if (ok) {
                    EXPECT_FALSE(p.IsEmpty()) << n;
                }
            }
        }
}

// --- clipboard files ------------------------------------------------------------------------

// The bitmap always follows the one format entry (offset 93); `offset` is what the entry says.
std::string Clp(const std::string& dib, uint16_t formats = 1, uint16_t format = 8, int64_t length = -1,
                uint32_t offset = 89 + 4) {
    std::string out;
    Put16(out, 0xC350), Put16(out, formats);
    Put16(out, format);
    Put32(out, length < 0 ? uint32_t(dib.size()) : uint32_t(length));
    Put32(out, offset);
    out += std::string(79, '\0');  // the format's name
    out += dib;
    return out;
}

TEST(ClpCodec, LoadsItsBitmap) {
    const std::string dib = Dib24({{kRed, kGreen, kBlue}, {kBlack, kRed, kGreen}});
    test::TempDir dir;
    test::WriteFile(dir / "picture.clp", Clp(dib));
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(dir / "picture.clp", p, nullptr));
    EXPECT_EQ(p.Description(), "Windows Clipboard (CLP)");
    EXPECT_EQ(p.Width(), 3);
    EXPECT_EQ(p.Height(), 2);
    EXPECT_EQ(At(p, 0, 0), kRedBgr);
    EXPECT_EQ(At(p, 2, 0), kBlueBgr);
    EXPECT_EQ(At(p, 0, 1), kBlackBgr);
    int w, h, d;
    std::string text;
    DataStream s;
    ASSERT_TRUE(s.OpenFile(dir / "picture.clp", true));
    CClpFormat clp;
    ASSERT_TRUE(clp.GetInfo(s, &w, &h, &d, &text));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(d, 24);
    EXPECT_EQ(text, "Windows Clipboard (CLP)");
}

TEST(ClpCodec, SixteenAndThirtyTwoBitBitmaps) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        std::string dib;
        Put32(dib, 40), Put32(dib, 2), Put32(dib, 1), Put16(dib, 1), Put16(dib, uint32_t(bits));
        for (int i = 0; i < 6; ++i) Put32(dib, 0);
        if (bits == 16) {
            Put16(dib, 0x7C00), Put16(dib, 0x001F);  // red, blue (5-5-5)
        } else {
            Put32(dib, 0x00FF0000), Put32(dib, 0x000000FF);
        }
        CPicture p;
        ASSERT_TRUE(LoadBytes(Clp(dib), "x.clp", p));
        EXPECT_EQ(At(p, 0, 0), kRedBgr);
        EXPECT_EQ(At(p, 1, 0), kBlueBgr);
        EXPECT_EQ(p.Depth(), bits);
    }
}

TEST(ClpCodec, RefusesWhatItCannotTrust) {
    const std::string dib = Dib24({{kRed}});
    std::string huge = dib;
    Set32(huge, 4, 100000), Set32(huge, 8, 100000);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"two formats", Clp(dib, 2)},
        {"not a bitmap format", Clp(dib, 1, 2)},
        {"no data", Clp(dib, 1, 8, 0)},
        {"data offset inside the header", Clp(dib, 1, 8, -1, 10)},
        {"length beyond the file", Clp(dib, 1, 8, 0xFFFFFFF0)},
        {"offset beyond the file", Clp(dib, 1, 8, -1, 0x7FFFFFFF)},
        {"bitmap larger than its data", Clp(huge)},
        {"short bitmap header", Clp(dib.substr(0, 20))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPicture p;
        DataStream s;
        s.AttachMemory(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        s.SetName("x.clp");
        CClpFormat clp;
        EXPECT_FALSE(clp.LoadPicture(s, p, nullptr)) << p.Width() << "x" << p.Height();
    }
    // The size check applies to the header alone too.
    std::string mid = dib;
    Set32(mid, 4, 100), Set32(mid, 8, 100);
    DataStream s;
    const std::string b = Clp(mid);
    s.AttachMemory(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    const uint64_t budget = PixelBudget();
    SetPixelBudget(1000);
    CClpFormat clp;
    EXPECT_FALSE(clp.GetInfo(s, nullptr, nullptr, nullptr, nullptr));
    SetPixelBudget(budget);
}

}  // namespace
}  // namespace quorbel
