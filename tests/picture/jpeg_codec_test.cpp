// The JPEG decoder: the shared samples and files made here by cjpeg/jpegtran against djpeg's
// own decodes (fancy upsampling against plain djpeg, repetition against djpeg -nosmooth),
// refusals with their texts (real files and hand-made ones, each named after its defect),
// truncation at many lengths, reduced-scale decoding, cancellation, and the SSE2 kernels
// against their plain forms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "picture/codecs/jpeg_codec.h"
#include "picture/codecs/jpeg_idct.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

// Our integer transform and colour conversion against djpeg's: rounding may differ by a few
// levels on a pixel, never systematically.
constexpr int kMaxLevels = 4;
constexpr double kMeanLevels = 0.25;

std::string Sample(const std::string& name) { return test::TestData("jpeg/" + name); }

double MeanDifference(const CPicture& a, const CPicture& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x) sum += std::abs(int(a.Row(y)[x]) - int(b.Row(y)[x]));
    return sum / (double(a.Width()) * a.Height() * 3);
}

// djpeg's decode of a file as a picture (PPM, or PGM for grey).
bool Reference(const std::string& path, const std::vector<std::string>& options, CPicture& picture) {
    std::vector<std::string> argv = {"djpeg"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("-pnm");
    argv.push_back(path);
    const test::CommandResult r = test::Run(argv);
    // Exit code 2: warnings only (djpeg says so for the junk before a marker).
    return (r.exit_code == 0 || r.exit_code == 2) && test::PictureFromPpm(r.out, picture);
}

bool Decode(const std::string& bytes, CPicture& picture, const JpegOptions& options = {}, std::string* error = nullptr) {
    try {
        return DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &picture, SilentSink(), options);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

// Decodes `path` both ways and compares with djpeg's matching decode.
void ExpectLikeDjpeg(const std::string& path) {
    for (const bool fancy : {true, false}) {
        SCOPED_TRACE(fancy ? "triangle filter vs djpeg" : "repetition vs djpeg -nosmooth");
        CPicture ours, theirs;
        JpegOptions options;
        options.fancy_upsampling = fancy;
        std::string error;
        ASSERT_TRUE(Decode(test::ReadFile(path), ours, options, &error)) << error;
        ASSERT_TRUE(Reference(path, fancy ? std::vector<std::string>{} : std::vector<std::string>{"-nosmooth"}, theirs));
        ASSERT_EQ(ours.Width(), theirs.Width());
        ASSERT_EQ(ours.Height(), theirs.Height());
        EXPECT_LE(test::MaxDifference(ours, theirs), kMaxLevels);
        EXPECT_LE(MeanDifference(ours, theirs), kMeanLevels);
    }
}

TEST(JpegSamples, DecodeLikeDjpeg) {
    const char* samples[] = {
        "testorig.jpg",        // baseline 4:2:0, odd sizes
        "testimgp.jpg",        // progressive 4:2:0
        "testimggray.jpg",     // grey
        "testimgint.jpg",      "testimgcrop.jpg",   "hopper.jpg",           "hopper_gray.jpg",
        "hopper_orientation_6.jpg", "flower2.jpg",  // 4:4:4
        "iptc.jpg",            // 4:2:2
        "app13-multiple.jpg",  // progressive with APP13 segments
        "jfif_unit_cm.jpg",    // 1 x 1
        "orientation_rectangle.jpg",  // 2 x 1 inside a 16 x 16 MCU
        "jpeg_ff00_header.jpg", "junk_jpeg_header.jpg", "pil_sample_rgb.jpg",
        "hopper_16bit_qtables.jpg",  // 16-bit quantisation tables
    };
    for (const char* name : samples) {
        SCOPED_TRACE(name);
        ExpectLikeDjpeg(Sample(name));
    }
}

TEST(JpegSamples, GreyHasPaletteAndDepth8) {
    CPicture p;
    ASSERT_TRUE(LoadPictureFile(Sample("testimggray.jpg"), p, nullptr));
    EXPECT_EQ(p.Depth(), 8);
    ASSERT_EQ(p.PaletteCount(), 256);
    EXPECT_EQ(*p.GetPaletteEntry(77), (Bgr{77, 77, 77}));
    EXPECT_EQ(p.Description(), "Join Photographic Expert Group (JPEG,JPG)");
    CPicture colour;
    ASSERT_TRUE(LoadPictureFile(Sample("testorig.jpg"), colour, nullptr));
    EXPECT_EQ(colour.Depth(), 24);
    EXPECT_EQ(colour.PaletteCount(), 0);
}

TEST(JpegSamples, RepetitionCoversTwoByTwo) {
    // 4:2:0 without the filter: the chroma of each 2 x 2 square is one sample, so the
    // square's pixels differ only by their luma; with the filter neighbours blend in.
    CPicture p;
    JpegOptions options;
    options.fancy_upsampling = false;
    ASSERT_TRUE(Decode(test::ReadFile(Sample("testorig.jpg")), p, options));
    CPicture fancy;
    ASSERT_TRUE(Decode(test::ReadFile(Sample("testorig.jpg")), fancy));
    EXPECT_GT(test::MaxDifference(p, fancy), 0);
    // djpeg -nosmooth (checked above within rounding) is the repetition reference; here the
    // structure: B - G over a square varies only by rounding (luma adds equally to both).
    int worst = 0;
    for (int y = 0; y + 1 < p.Height(); y += 2)
        for (int x = 0; x + 1 < p.Width(); x += 2) {
            auto chroma = [&](int dx, int dy) {
                const uint8_t* px = p.Row(y + dy) + 3 * (x + dx);
                return int(px[0]) - int(px[1]);
            };
            bool clamped = false;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const uint8_t* px = p.Row(y + dy) + 3 * (x + dx);
                    clamped = clamped || px[0] == 0 || px[0] == 255 || px[1] == 0 || px[1] == 255;
                }
            if (clamped) continue;
            const int c0 = chroma(0, 0);
            for (auto [dx, dy] : {std::pair{1, 0}, {0, 1}, {1, 1}}) worst = std::max(worst, std::abs(chroma(dx, dy) - c0));
        }
    EXPECT_LE(worst, 2);
}

// --- files made here ----------------------------------------------------------------------

struct Made {
    const char* what;
    std::vector<std::string> cjpeg;     // options of cjpeg on the source picture
    std::vector<std::string> jpegtran;  // then, when not empty, jpegtran with these
    const char* scans = nullptr;        // a -scans script for cjpeg
};

class JpegMade : public ::testing::Test {
protected:
    std::string Make(const Made& m) {
        std::vector<std::string> argv = {"cjpeg"};
        argv.insert(argv.end(), m.cjpeg.begin(), m.cjpeg.end());
        if (m.scans) {
            test::WriteFile(dir_ / "scans.txt", m.scans);
            argv.push_back("-scans");
            argv.push_back(dir_ / "scans.txt");
        }
        argv.push_back("-outfile");
        argv.push_back(dir_ / "made.jpg");
        argv.push_back(Sample("testorig.ppm.expected"));
        EXPECT_EQ(test::Run(argv).exit_code, 0) << m.what;
        if (m.jpegtran.empty()) return dir_ / "made.jpg";
        std::vector<std::string> t = {"jpegtran"};
        t.insert(t.end(), m.jpegtran.begin(), m.jpegtran.end());
        t.push_back("-outfile");
        t.push_back(dir_ / "tran.jpg");
        t.push_back(dir_ / "made.jpg");
        EXPECT_EQ(test::Run(t).exit_code, 0) << m.what;
        return dir_ / "tran.jpg";
    }
    test::TempDir dir_;
};

// Non-interleaved progressive: every component's DC alone, then AC bands with successive
// approximation, each scan one component.
constexpr const char* kSeparateScans =
    "0: 0 0 0 1;\n1: 0 0 0 0;\n2: 0 0 0 0;\n0: 0 0 1 0;\n"
    "0: 1 5 0 2;\n0: 6 63 0 2;\n1: 1 63 0 1;\n2: 1 63 0 1;\n"
    "0: 1 63 2 1;\n0: 1 63 1 0;\n1: 1 63 1 0;\n2: 1 63 1 0;\n";

TEST_F(JpegMade, CjpegAndJpegtranRecipesDecodeLikeDjpeg) {
    const Made rows[] = {
        {"baseline 4:2:0 q75", {"-quality", "75"}, {}},
        {"4:4:4", {"-sample", "1x1"}, {}},
        {"4:2:2", {"-sample", "2x1"}, {}},
        {"4:1:1", {"-sample", "4x1"}, {}},
        {"4:4:0", {"-sample", "1x2"}, {}},
        {"4:2:0 Y 2x2 with 1x2 chroma (ratio 1 and 2)", {"-sample", "2x2,1x2,1x2"}, {}},
        {"restart every row", {"-restart", "1"}, {}},
        {"restart every 3 blocks", {"-restart", "3B"}, {}},
        {"restart every block, progressive", {"-progressive", "-restart", "1B"}, {}},
        {"grey", {"-grayscale"}, {}},
        {"grey progressive", {"-grayscale", "-progressive"}, {}},
        {"RGB", {"-rgb"}, {}},
        {"progressive 4:2:0", {"-progressive"}, {}},
        {"progressive 4:4:4 q95", {"-progressive", "-sample", "1x1", "-quality", "95"}, {}},
        {"progressive, non-interleaved scans", {"-sample", "1x1"}, {}, kSeparateScans},
        {"optimised tables", {"-optimize"}, {}},
        {"q100 (large coefficients)", {"-quality", "100", "-sample", "1x1"}, {}},
        {"q5 (DC mostly)", {"-quality", "5"}, {}},
        {"jpegtran to progressive", {}, {"-progressive"}},
        {"jpegtran restart 2 rows", {}, {"-restart", "2"}},
        {"jpegtran grey", {}, {"-grayscale"}},
    };
    for (const Made& m : rows) {
        SCOPED_TRACE(m.what);
        ExpectLikeDjpeg(Make(m));
    }
}

TEST_F(JpegMade, ReducedScalesHaveRoundedUpSizesAndFollowDjpeg) {
    // q100 blocks often run to coefficient 63 with no EOB, and restarts cut the stream: both
    // edges of the 1/8 path that passes over several codes per lookup.
    for (const Made& m : {Made{"4:2:0", {}, {}}, Made{"progressive", {"-progressive"}, {}}, Made{"grey", {"-grayscale"}, {}},
                          Made{"q100 4:4:4", {"-quality", "100", "-sample", "1x1"}, {}},
                          Made{"restart every 3 blocks", {"-restart", "3B"}, {}}}) {
        const std::string path = Make(m);
        for (int scale : {2, 4, 8}) {
            SCOPED_TRACE(std::string(m.what) + " 1/" + std::to_string(scale));
            CPicture ours, theirs, quick;
            JpegOptions options;
            options.scale = scale;
            ASSERT_TRUE(Decode(test::ReadFile(path), ours, options));
            EXPECT_EQ(ours.Width(), (227 + scale - 1) / scale);
            EXPECT_EQ(ours.Height(), (149 + scale - 1) / scale);
            ASSERT_TRUE(Reference(path, {"-scale", "1/" + std::to_string(scale)}, theirs));
            // djpeg shrinks with reduced transforms, we average the full one: the same picture
            // with different rounding.
            EXPECT_LE(MeanDifference(ours, theirs), 3.0);
            // Chroma repeated from its own reduced blocks (the thumbnails' choice): coarser
            // colour, the same picture.
            options.fancy_upsampling = false;
            ASSERT_TRUE(Decode(test::ReadFile(path), quick, options));
            EXPECT_LE(MeanDifference(quick, theirs), 8.0);
        }
    }
}

TEST(JpegScale, SmallestScaleThatStillCovers) {
    EXPECT_EQ(JpegScaleFor(3000, 2000, 160, 120), 8);
    EXPECT_EQ(JpegScaleFor(1280, 960, 160, 120), 8);
    EXPECT_EQ(JpegScaleFor(1279, 960, 160, 120), 8);  // 160 x 120 after rounding up
    EXPECT_EQ(JpegScaleFor(1272, 960, 160, 120), 4);
    EXPECT_EQ(JpegScaleFor(640, 480, 160, 120), 4);
    EXPECT_EQ(JpegScaleFor(320, 240, 160, 120), 2);
    EXPECT_EQ(JpegScaleFor(320, 200, 160, 120), 1);
    EXPECT_EQ(JpegScaleFor(200, 2000, 160, 120), 1);
    EXPECT_EQ(JpegScaleFor(100, 50, 160, 120), 1);
}

// --- RGB components -----------------------------------------------------------------------

// Removes the first APP14 segment (cjpeg -rgb writes one with transform 0).
std::string WithoutAdobe(const std::string& jpeg) {
    for (size_t i = 2; i + 4 < jpeg.size(); ++i)
        if (uint8_t(jpeg[i]) == 0xFF && uint8_t(jpeg[i + 1]) == 0xEE) {
            const size_t length = size_t(uint8_t(jpeg[i + 2])) << 8 | uint8_t(jpeg[i + 3]);
            return jpeg.substr(0, i) + jpeg.substr(i + 2 + length);
        }
    return jpeg;
}

// Rewrites the three component identifiers of the frame header and of the scan headers that
// follow it up to the first scan's data (a single-scan file).
std::string WithIds(std::string jpeg, const uint8_t from[3], const uint8_t to[3]) {
    for (size_t i = 2; i + 12 < jpeg.size(); ++i) {
        if (uint8_t(jpeg[i]) != 0xFF) continue;
        const uint8_t m = uint8_t(jpeg[i + 1]);
        if (m == 0xC0) {
            for (int c = 0; c < 3; ++c) jpeg[i + 10 + 3 * size_t(c)] = char(to[c]);
        } else if (m == 0xDA) {
            const int ns = uint8_t(jpeg[i + 4]);
            for (int c = 0; c < ns; ++c) {
                char& id = jpeg[i + 5 + 2 * size_t(c)];
                for (int k = 0; k < 3; ++k)
                    if (uint8_t(id) == from[k]) {
                        id = char(to[k]);
                        break;
                    }
            }
            break;
        }
    }
    return jpeg;
}

TEST_F(JpegMade, RgbByIdentifiersOrAdobeTransformIsNotYcc) {
    const std::string rgb = test::ReadFile(Make({"RGB", {"-rgb"}, {}}));
    CPicture theirs;
    ASSERT_TRUE(Reference(dir_ / "made.jpg", {}, theirs));
    const uint8_t rgb_ids[3] = {'R', 'G', 'B'}, numbers[3] = {1, 2, 3};
    struct Row {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"identifiers R G B and Adobe transform 0", rgb},
        {"identifiers R G B alone", WithoutAdobe(rgb)},
        {"Adobe transform 0 with identifiers 1 2 3", WithIds(rgb, rgb_ids, numbers)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CPicture ours;
        ASSERT_TRUE(Decode(r.bytes, ours));
        EXPECT_LE(test::MaxDifference(ours, theirs), kMaxLevels);
    }
    // The optional strict check wants 1, 2, 3.
    CPicture strict;
    JpegOptions options;
    options.strict_component_ids = true;
    std::string error;
    EXPECT_FALSE(Decode(rgb, strict, options, &error));
    EXPECT_EQ(error, "Bad component identifier");
    EXPECT_TRUE(Decode(WithIds(rgb, rgb_ids, numbers), strict, options, &error)) << error;
    // Neither sign: the same bytes read as YCbCr, visibly other colours.
    CPicture ycc;
    ASSERT_TRUE(Decode(WithIds(WithoutAdobe(rgb), rgb_ids, numbers), ycc));
    EXPECT_GT(MeanDifference(ycc, theirs), 20.0);
}

// --- refusals -----------------------------------------------------------------------------

// A JPEG put together segment by segment.
std::string Segment(int marker, const std::string& body) {
    std::string s = {char(0xFF), char(marker)};
    const size_t length = body.size() + 2;
    s += char(length >> 8);
    s += char(length & 255);
    return s + body;
}
std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += char(v);
    return s;
}
const std::string kSoi = Bytes({0xFF, 0xD8}), kEoi = Bytes({0xFF, 0xD9});
std::string Dqt(int index) { return Segment(0xDB, char(index) + std::string(64, char(1))); }
// Components as (id, sampling byte, table) triples.
std::string Sof(int marker, int width, int height, std::initializer_list<std::array<int, 3>> comps, int precision = 8) {
    std::string b = Bytes({precision, height >> 8, height & 255, width >> 8, width & 255, int(comps.size())});
    for (const auto& c : comps) b += Bytes({c[0], c[1], c[2]});
    return Segment(marker, b);
}
// One table's part of a DHT segment: class and index, the counts of lengths 1.., the symbols.
std::string Dht(int class_index, std::vector<int> counts, const std::string& symbols) {
    counts.resize(16, 0);
    std::string b(1, char(class_index));
    for (int c : counts) b += char(c);
    return b + symbols;
}
// DC table: the one symbol 0 (code "0"). AC table: EOB "0", then 0xF1 (15 zeros and a 1-bit
// value) "10", then 0x01 "110".
std::string Tables(int index = 0) {
    return Segment(0xC4, Dht(0x00 | index, {1}, Bytes({0})) + Dht(0x10 | index, {1, 1, 1}, Bytes({0x00, 0xF1, 0x01})));
}
std::string Sos(std::initializer_list<std::array<int, 2>> comps, int ss = 0, int se = 63, int ahal = 0) {
    std::string b(1, char(comps.size()));
    for (const auto& c : comps) b += Bytes({c[0], c[1]});
    return Segment(0xDA, b + Bytes({ss, se, ahal}));
}
// An 8 x 8 grey picture: DC 0 and EOB, bits "00" padded with ones.
std::string GoodGrey() {
    return kSoi + Dqt(0) + Sof(0xC0, 8, 8, {{1, 0x11, 0}}) + Tables() + Sos({{1, 0x00}}) + Bytes({0x3F}) + kEoi;
}

struct Refusal {
    const char* defect;
    std::string bytes;
    const char* text;
};

TEST(JpegRefusals, HandMadeDefectsAreRefusedWithTheirTexts) {
    CPicture good;
    ASSERT_TRUE(Decode(GoodGrey(), good));
    EXPECT_EQ(good.Width(), 8);
    Bgr mid;
    good.GetPixel(3, 3, mid);
    EXPECT_EQ(mid, (Bgr{128, 128, 128}));

    const std::string head = kSoi + Dqt(0);
    const std::string grey_frame = Sof(0xC0, 8, 8, {{1, 0x11, 0}});
    const std::string colour_head = head + Tables();
    const Refusal rows[] = {
        {"dht_counts_over_256",
         head + Segment(0xC4, Dht(0x10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 17, 255}, std::string(272, '\x01'))),
         "Bad Huffman table"},
        {"dht_counts_beyond_segment", head + Segment(0xC4, Dht(0x10, {0, 10}, Bytes({1, 2, 3, 4, 5}))),
         "Bad Huffman table length"},
        {"dht_over_full_code", head + Segment(0xC4, Dht(0x00, {3}, Bytes({1, 2, 3}))), "Bad Huffman table"},
        // DC 0 ("0"), then four times 0xF1 with value bit 1 ("101"): coefficients 16, 32, 48,
        // then 64. Bits 0101 1011 0110 1, padded with ones.
        {"ac_run_past_63", head + grey_frame + Tables() + Sos({{1, 0}}) + Bytes({0x5B, 0x6F}) + kEoi, "Bad run length"},
        {"second_frame_header", head + grey_frame + grey_frame + Tables() + Sos({{1, 0}}) + Bytes({0x3F}) + kEoi,
         "Second frame header"},
        {"segment_length_0", kSoi + Bytes({0xFF, 0xFE, 0x00, 0x00}) + GoodGrey().substr(2), "Bad segment length"},
        {"segment_length_1", kSoi + Bytes({0xFF, 0xE1, 0x00, 0x01}) + GoodGrey().substr(2), "Bad segment length"},
        {"sampling_ratio_3_to_2", colour_head + Sof(0xC0, 48, 16, {{1, 0x31, 0}, {2, 0x21, 0}, {3, 0x11, 0}}) +
                                      Sos({{1, 0}, {2, 0}, {3, 0}}) + Bytes({0x00}) + kEoi,
         "Sampling ratios not whole"},
        {"eighteen_blocks_per_mcu", colour_head + Sof(0xC0, 32, 32, {{1, 0x44, 0}, {2, 0x11, 0}, {3, 0x11, 0}}) +
                                        Sos({{1, 0}, {2, 0}, {3, 0}}) + std::string(8, '\x00') + kEoi,
         "Too many blocks in an MCU"},
        {"progressive_ss_after_se", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 5, 2) + kEoi,
         "Bad spectral selection"},
        {"progressive_se_64", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 1, 64) + kEoi,
         "Bad spectral selection"},
        {"progressive_dc_scan_with_ac", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 0, 5) + kEoi,
         "Bad spectral selection"},
        {"progressive_ac_scan_two_components",
         colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}) + Sos({{1, 0}, {2, 0}}, 1, 63) + kEoi,
         "AC scans hold one component"},
        {"progressive_al_14", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 0, 0, 0x0E) + kEoi,
         "Bad successive approximation"},
        {"progressive_ah_14", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 0, 0, 0xE0) + kEoi,
         "Bad successive approximation"},
        {"progressive_ac_before_dc", colour_head + Sof(0xC2, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}, 1, 63) + kEoi,
         "AC scan before DC scan"},
        {"precision_12", head + Sof(0xC0, 8, 8, {{1, 0x11, 0}}, 12) + Tables() + kEoi, "Unsupported sample precision"},
        {"four_components", head + Sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}}) + kEoi,
         "Unsupported number of components"},
        {"sampling_factor_5", head + Sof(0xC0, 8, 8, {{1, 0x51, 0}}) + kEoi, "Bad sampling factor"},
        {"quantisation_selector_4", head + Sof(0xC0, 8, 8, {{1, 0x11, 4}}) + kEoi, "Bad quantisation table index"},
        {"duplicate_component_ids", head + Sof(0xC0, 8, 8, {{1, 0x11, 0}, {1, 0x11, 0}, {3, 0x11, 0}}) + kEoi,
         "Duplicate component identifier"},
        {"zero_height", head + Sof(0xC0, 8, 0, {{1, 0x11, 0}}) + kEoi, "Bad picture size"},
        {"zero_in_quantisation_table", kSoi + Segment(0xDB, std::string(1, '\0') + std::string(63, '\1') + '\0') + kEoi,
         "Zero in quantisation table"},
        {"quantisation_precision_2", kSoi + Segment(0xDB, std::string(1, '\x20') + std::string(128, '\1')) + kEoi,
         "Bad quantisation table precision"},
        {"quantisation_16_bit_short", kSoi + Segment(0xDB, std::string(1, '\x10') + std::string(64, '\1')) + kEoi,
         "Bad quantisation table length"},
        {"scan_unknown_component", head + grey_frame + Tables() + Sos({{7, 0}}) + kEoi, "Scan names an unknown component"},
        {"scan_before_frame", head + Tables() + Sos({{1, 0}}) + kEoi, "Scan before frame header"},
        {"quantisation_table_missing", kSoi + grey_frame + Tables() + Sos({{1, 0}}) + Bytes({0x3F}) + kEoi,
         "Quantisation table not defined"},
        {"huffman_table_missing", head + grey_frame + Sos({{1, 0}}) + Bytes({0x3F}) + kEoi, "Huffman table not defined"},
        {"lossless", head + Sof(0xC3, 8, 8, {{1, 0x11, 0}}) + kEoi, "Lossless Huffman Coding Not Supported"},
        {"differential_sequential", head + Sof(0xC5, 8, 8, {{1, 0x11, 0}}) + kEoi,
         "Differential Sequential Huffman Coding Not Supported"},
        {"differential_progressive", head + Sof(0xC6, 8, 8, {{1, 0x11, 0}}) + kEoi,
         "Differential Progressive Huffman Coding Not Supported"},
        {"differential_lossless", head + Sof(0xC7, 8, 8, {{1, 0x11, 0}}) + kEoi,
         "Differential Lossless Huffman Coding Not Supported"},
        {"arithmetic_sof9", head + Sof(0xC9, 8, 8, {{1, 0x11, 0}}) + kEoi,
         "Cannot read image - Arithmetic Coding covered by patents"},
        {"dhp_marker", head + Segment(0xDE, "x") + kEoi, "DHP marker not supported"},
        {"reserved_marker_c8", head + Segment(0xC8, "x") + kEoi, "Unknown, unsupported, or reserved marker encountered"},
        {"header_only", head + grey_frame + Tables() + kEoi, "Premature end of file"},
        {"scan_data_missing", head + grey_frame + Tables() + Sos({{1, 0}}), "Premature end of file"},
    };
    for (const Refusal& r : rows) {
        SCOPED_TRACE(r.defect);
        CPicture p;
        std::string error;
        EXPECT_FALSE(Decode(r.bytes, p, {}, &error));
        EXPECT_EQ(error, r.text);
        // Through the registry row too: false, never an escape.
        CJpegFormat codec;
        DataStream stream;
        stream.AttachMemory(reinterpret_cast<const uint8_t*>(r.bytes.data()), r.bytes.size());
        CPicture q;
        EXPECT_FALSE(codec.LoadPicture(stream, q, nullptr));
        EXPECT_EQ(codec.LastError(), r.text);
    }
}

TEST(JpegRefusals, ExceptionClasses) {
    const std::string head = kSoi + Dqt(0);
    CPicture p;
    const std::string factor = head + Sof(0xC0, 8, 8, {{1, 0x05, 0}}) + kEoi;
    EXPECT_THROW(DecodeJpeg(reinterpret_cast<const uint8_t*>(factor.data()), factor.size(), &p, SilentSink(), {}),
                 EJpegValueOutOfRange);
    const std::string table = head + Sof(0xC0, 8, 8, {{1, 0x11, 0}}) + Sos({{1, 0}}) + Bytes({0x3F}) + kEoi;
    EXPECT_THROW(DecodeJpeg(reinterpret_cast<const uint8_t*>(table.data()), table.size(), &p, SilentSink(), {}),
                 EJpegFatal);
    const std::string arithmetic = test::ReadFile(Sample("testimgari.jpg"));
    EXPECT_THROW(DecodeJpeg(reinterpret_cast<const uint8_t*>(arithmetic.data()), arithmetic.size(), &p, SilentSink(), {}),
                 EJpegBadData);
}

TEST(JpegRefusals, RealFilesOutsideTheSupportedProcesses) {
    const Refusal rows[] = {
        {"arithmetic coding", test::ReadFile(Sample("testimgari.jpg")), "Cannot read image - Arithmetic Coding covered by patents"},
        {"CMYK", test::ReadFile(Sample("pil_sample_cmyk.jpg")), "Unsupported number of components"},
    };
    for (const Refusal& r : rows) {
        SCOPED_TRACE(r.defect);
        CPicture p;
        std::string error;
        EXPECT_FALSE(Decode(r.bytes, p, {}, &error));
        EXPECT_EQ(error, r.text);
    }
    // A lossless or 12-bit frame in an otherwise real file: the frame marker or the
    // precision byte changed.
    std::string lossless = test::ReadFile(Sample("testorig.jpg"));
    const size_t sof = lossless.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    std::string twelve = lossless;
    lossless[sof + 1] = char(0xC3);
    twelve[sof + 4] = 12;
    CPicture p;
    std::string error;
    EXPECT_FALSE(Decode(lossless, p, {}, &error));
    EXPECT_EQ(error, "Lossless Huffman Coding Not Supported");
    EXPECT_FALSE(Decode(twelve, p, {}, &error));
    EXPECT_EQ(error, "Unsupported sample precision");
}

TEST(JpegRestart, WrongRestartNumberIsRefused) {
    // Restart every block; the marker after the first block carries 5 instead of 0.
    const std::string file = kSoi + Dqt(0) + Sof(0xC0, 16, 8, {{1, 0x11, 0}}) + Tables() + Segment(0xDD, Bytes({0, 1})) +
                             Sos({{1, 0}}) + Bytes({0x3F, 0xFF, 0xD5, 0x3F}) + kEoi;
    CPicture p;
    std::string error;
    EXPECT_FALSE(Decode(file, p, {}, &error));
    EXPECT_EQ(error, "Bad restart marker");
    std::string right = file;
    right[right.find("\xFF\xD5")+1] = char(0xD0);
    EXPECT_TRUE(Decode(right, p, {}, &error)) << error;
}

// --- leniency and truncation --------------------------------------------------------------

TEST(JpegTruncation, MissingEoiAndJunkBetweenSegments) {
    const std::string baseline = test::ReadFile(Sample("testorig.jpg"));
    ASSERT_EQ(baseline.substr(baseline.size() - 2), kEoi);
    CPicture whole, cut;
    ASSERT_TRUE(Decode(baseline, whole));
    // The scans are complete: a lost EOI costs nothing.
    std::string error;
    ASSERT_TRUE(Decode(baseline.substr(0, baseline.size() - 2), cut, {}, &error)) << error;
    EXPECT_EQ(test::MaxDifference(whole, cut), 0);
    // Cut inside the scan: part of the picture would be missing.
    EXPECT_FALSE(Decode(baseline.substr(0, baseline.size() * 2 / 3), cut, {}, &error));
    EXPECT_EQ(error, "Premature end of file");
    // Junk bytes before a marker (writers that pad segments) are passed over.
    std::string junk = baseline;
    junk.insert(junk.find("\xFF\xDB"), "\x00\x12junk");
    ASSERT_TRUE(Decode(junk, cut, {}, &error)) << error;
    EXPECT_EQ(test::MaxDifference(whole, cut), 0);
}

TEST(JpegTruncation, ProgressiveCutAfterTheDcScansShowsTheWholePicture) {
    const std::string progressive = test::ReadFile(Sample("testimgp.jpg"));
    CPicture whole;
    ASSERT_TRUE(Decode(progressive, whole));
    // Scan starts: after the first one (all DC) the picture is whole but coarse.
    std::vector<size_t> scans;
    for (size_t i = 0; (i = progressive.find("\xFF\xDA", i)) != std::string::npos; ++i) scans.push_back(i);
    ASSERT_GE(scans.size(), 3u);
    CPicture coarse, finer;
    std::string error;
    EXPECT_TRUE(Decode(progressive.substr(0, scans[1] + 40), coarse, {}, &error)) << error;
    EXPECT_TRUE(Decode(progressive.substr(0, scans.back() + 40), finer, {}, &error)) << error;
    EXPECT_LT(MeanDifference(finer, whole), MeanDifference(coarse, whole));
    // Inside the first DC scan: refused.
    EXPECT_FALSE(Decode(progressive.substr(0, scans[0] + 30), coarse, {}, &error));
    EXPECT_EQ(error, "Premature end of file");
    // The shared sample that is cut short.
    EXPECT_TRUE(Decode(test::ReadFile(Sample("truncated_jpeg.jpg")), coarse, {}, &error)) << error;
}

TEST(JpegTruncation, EverySampleAtManyLengthsEndsCleanly) {
    const char* samples[] = {"testorig.jpg", "testimgp.jpg", "testimggray.jpg", "iptc.jpg", "app13-multiple.jpg",
                             "truncated_jpeg.jpg", "junk_jpeg_header.jpg", "flower2.jpg", "pil_sample_cmyk.jpg",
                             "testimgari.jpg", "hopper_16bit_qtables.jpg", "orientation_rectangle.jpg"};
    CJpegFormat codec;
    for (const char* name : samples) {
        SCOPED_TRACE(name);
        const std::string bytes = test::ReadFile(Sample(name));
        const size_t step = std::max<size_t>(1, bytes.size() / 300);
        for (size_t n = 0; n < bytes.size(); n += (n < 1024 ? 1 : step)) {
            DataStream stream;
            stream.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), n);
            CPicture p;
            const bool ok = codec.LoadPicture(stream, p, nullptr);
            // Whatever loads is a whole picture of the frame's size.
            if (ok) {
                int w = 0, h = 0;
                stream.Rewind();
                ASSERT_TRUE(codec.GetInfo(stream, &w, &h, nullptr, nullptr));
                EXPECT_EQ(p.Width(), w);
                EXPECT_EQ(p.Height(), h);
            }
        }
    }
}

// --- registry, information, cancellation ---------------------------------------------------

TEST(JpegRegistry, InfoResourcesAndDispatch) {
    const std::string bytes = test::ReadFile(Sample("testimgp.jpg"));
    DataStream stream;
    stream.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    int w = 0, h = 0, d = 0;
    std::string text;
    ASSERT_TRUE(CJpegFormat().GetInfo(stream, &w, &h, &d, &text));
    EXPECT_EQ(w, 227);
    EXPECT_EQ(h, 149);
    EXPECT_EQ(d, 24);
    EXPECT_EQ(text, "Join Photographic Expert Group (JPEG,JPG)");

    // The program's own artwork goes through the same codec.
    std::unique_ptr<CPicture> art = LoadPictureResource(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), true);
    ASSERT_TRUE(art);
    EXPECT_EQ(art->Width(), 227);
    EXPECT_FALSE(LoadPictureResource(reinterpret_cast<const uint8_t*>(bytes.data()), 100, true));

    // A .jpeg name reaches the codec in the second pass, a wrong name too.
    for (const char* name : {"a.jpg", "a.jpeg", "a.bmp", "noext"}) {
        SCOPED_TRACE(name);
        stream.SetName(name);
        CPicture p;
        const CGraphicsFormat* chosen = nullptr;
        ASSERT_TRUE(LoadFromStream(stream, &p, nullptr, true, nullptr, nullptr, nullptr, nullptr, &chosen));
        EXPECT_EQ(chosen->ShortName(), "JPG");
    }
    // Foreign data: false without a text leaking anywhere.
    const std::string bmp = test::MakeBmp({});
    DataStream foreign;
    foreign.AttachMemory(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size());
    CPicture p;
    EXPECT_FALSE(CJpegFormat().LoadPicture(foreign, p, nullptr));
}

// A sink that reports a cancel from its Nth position on.
TEST(JpegCancel, ACancelFailsTheLoad) {
    for (const char* name : {"testorig.jpg", "testimgp.jpg"}) {
        SCOPED_TRACE(name);
        const std::string bytes = test::ReadFile(Sample(name));
        for (int n : {1, 5, 10}) {
            test::CancelAfter sink(n);
            CPicture p;
            EXPECT_THROW(DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &p, sink, {}), EJpegAbort);
            CJpegFormat codec;
            DataStream stream;
            stream.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            test::CancelAfter again(n);
            const int depth = again.Depth();
            EXPECT_FALSE(codec.LoadPicture(stream, p, &again));
            EXPECT_EQ(codec.LastError(), "Abort");
            EXPECT_EQ(again.Depth(), depth);
        }
        // Enough positions: the load goes through.
        test::CancelAfter patient(100000);
        CPicture p;
        EXPECT_TRUE(DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &p, patient, {}));
    }
}

// --- kernels ------------------------------------------------------------------------------

TEST(JpegKernels, VectorFormsMatchPlainForms) {
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        alignas(16) int16_t block[64] = {};
        // Sparse like real blocks, with the full coefficient range now and then.
        const int range = round % 10 == 0 ? 2047 : 200;
        std::uniform_int_distribution<int> value(-range, range), index(0, 63);
        const int count = round % 64;
        for (int i = 0; i < count; ++i) block[index(random)] = int16_t(value(random));
        block[0] = int16_t(std::uniform_int_distribution<int>(-1024, 1023)(random));
        uint8_t a[64], b[64];
        jpeg::InverseDct8(block, a, 8);
        jpeg::InverseDct8Plain(block, b, 8);
        ASSERT_EQ(0, std::memcmp(a, b, 64)) << "round " << round;
    }
    for (int round = 0; round < 200; ++round) {
        alignas(16) int16_t raw[64] = {}, a[64], b[64];
        uint16_t steps[64];
        for (int i = 0; i < 64; ++i) steps[i] = uint16_t(1 + random() % (round % 2 ? 65535 : 255));
        // Every round its own pattern: none, DC only, one AC coefficient, many, extremes.
        if (round % 5 == 1) raw[0] = int16_t(random());
        if (round % 5 == 2) raw[1 + round % 63] = -1;
        if (round % 5 >= 3)
            for (int i = 0; i < 64; ++i) raw[i] = int16_t(round % 5 == 4 ? (i % 2 ? 32767 : -32768) : int(random() % 41) - 20);
        const bool va = jpeg::Dequantise(raw, steps, a), pa = jpeg::DequantisePlain(raw, steps, b);
        ASSERT_EQ(va, pa) << round;
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << round;
        EXPECT_EQ(pa, round % 5 >= 2 && std::any_of(raw + 1, raw + 64, [](int16_t v) { return v != 0; })) << round;
    }
    std::vector<uint8_t> y(101), cb(101), cr(101);
    for (auto* v : {&y, &cb, &cr})
        for (auto& x : *v) x = uint8_t(random());
    y[0] = cb[0] = cr[0] = 255;
    y[1] = cb[1] = cr[1] = 0;
    std::vector<uint8_t> a(303), b(303);
    jpeg::YccToBgrRow(y.data(), cb.data(), cr.data(), a.data(), 101);
    jpeg::YccToBgrRowPlain(y.data(), cb.data(), cr.data(), b.data(), 101);
    EXPECT_EQ(a, b);
}

TEST(JpegKernels, TransformOfKnownBlocks) {
    // DC alone: a flat block of DC / 8 + 128, the same through the shortcut and the transform.
    for (int dc : {-1024, -8, 0, 12, 1016}) {
        alignas(16) int16_t block[64] = {};
        block[0] = int16_t(dc);
        uint8_t out[64];
        jpeg::InverseDct8(block, out, 8);
        for (uint8_t v : out) ASSERT_EQ(v, jpeg::DcOnlySample(dc)) << dc;
        EXPECT_EQ(jpeg::DcOnlySample(dc), std::clamp((dc + 1028) >> 3, 0, 255));
    }
    // The first horizontal frequency alone: a cosine across the row, the same in every row,
    // falling from left to right, symmetric about the middle.
    alignas(16) int16_t block[64] = {};
    block[1] = 400;
    uint8_t out[64];
    jpeg::InverseDct8(block, out, 8);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(out[x], out[56 + x]);
        EXPECT_NEAR(int(out[x]) + int(out[7 - x]), 256, 1);
        if (x > 0) {
            EXPECT_LT(out[x], out[x - 1]);
        }
    }
    // 400 x cos(pi/16) x 1/2 x 1/(2 sqrt 2) ~ 69.3 at the left edge.
    EXPECT_NEAR(int(out[0]) - 128, 69, 1);
}

}  // namespace
}  // namespace quorbel
