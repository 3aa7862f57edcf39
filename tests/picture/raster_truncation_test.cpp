// Every sample of the run-length and anymap codecs, and files their peers write, cut at many
// lengths: a cut file fails or (when only unused trailing bytes went) gives the whole picture.
#include <gtest/gtest.h>

#include "picture/raster_test_util.h"

namespace quorbel {
namespace {

using test::Quote;

TEST(RasterTruncation, EverySampleCutAtManyLengths) {
    struct Row {
        const char* codec;
        const char* file;
    } rows[] = {
        {"PCX", "pcx/CGA_BW.PCX"}, {"PCX", "pcx/CGA_FSD.PCX"}, {"PCX", "pcx/gmarbles.pcx"}, {"PCX", "pcx/marbles.pcx"},
        {"PCX", "pcx/odd_stride.pcx"}, {"PCX", "pcx/pil184.pcx"}, {"PCX", "pcx/p_4_planes.pcx"},
        {"TGA", "tga/200x32_p_bl_raw.tga"}, {"TGA", "tga/200x32_p_tl_rle.tga"}, {"TGA", "tga/200x32_rgb_bl_rle.tga"},
        {"TGA", "tga/200x32_rgba_tl_rle.tga"}, {"TGA", "tga/200x32_rgba_bl_raw.tga"}, {"TGA", "tga/p_16.tga"},
        {"TGA", "tga/rgba16.tga"}, {"TGA", "tga/tga_id_field.tga"},
        {"PPM", "pnm/hopper.ppm"}, {"PGM", "pnm/hopper_16bit.pgm"}, {"PBM", "pnm/hopper_1bit.pbm"},
        {"PGM", "pnm/minisblack-1c-8b.pgm"}, {"PPM", "pnm/rgb-3c-16b.ppm"},
        {"IFF", "iff/ilbm8lores.iff"}, {"IFF", "iff/glass.iff"}, {"IFF", "iff/room.iff"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        test::ExpectTruncationsFailOrMatch(r.codec, test::ReadFile(test::TestData(r.file)));
    }
    // Plain text: the last sample may lose digits and still be a file.
    for (const char* f : {"pnm/hopper_1bit_plain.pbm", "pnm/hopper_8bit_plain.pgm", "pnm/hopper_16bit_plain.pgm"}) {
        SCOPED_TRACE(f);
        const std::string codec = std::string(f).substr(std::string(f).size() - 3);
        std::string upper;
        for (char c : codec) upper += char(std::toupper(static_cast<unsigned char>(c)));
        test::ExpectTruncationsFailOrMatch(upper, test::ReadFile(test::TestData(f)), true);
    }
}

TEST(RasterTruncation, PeerWrittenFilesCutAtManyLengths) {
    test::TempDir dir;
    std::string pbm = "P4\n576 720\n";
    for (int i = 0; i < 72 * 720; ++i) pbm += char((i / 72 + i % 72) % 7 == 0 ? 0x3C : 0);
    test::WriteFile(dir / "page.pbm", pbm);
    std::string ppm = "P6\n45 13\n255\n";
    for (int i = 0; i < 45 * 13; ++i) ppm += std::string{char(i % 3 * 90), char(i % 5 * 60), char(i % 2 * 200)};
    test::WriteFile(dir / "src.ppm", ppm);
    struct Row {
        const char* codec;
        const char* command;
    } rows[] = {
        {"MAC", "pbmtomacp page.pbm"},
        {"PCX", "ppmtopcx src.ppm"},
        {"PCX", "ppmtopcx -24bit src.ppm"},
        {"TGA", "pamtotga -cmap src.ppm"},
        {"TGA", "pamtotga -rgb src.ppm"},
        {"IFF", "ppmtoilbm src.ppm"},
        {"IFF", "ppmtoilbm -24force src.ppm"},
        {"IFF", "ppmtoilbm -hamforce src.ppm"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.command);
        const test::CommandResult made = test::Run({"sh", "-c", std::string(r.command) + " > out"}, dir.path());
        ASSERT_EQ(made.exit_code, 0) << made.err;
        test::ExpectTruncationsFailOrMatch(r.codec, test::ReadFile(dir / "out"));
    }
    // A Dr. Halo file: 9 x 4, every row a literal and a run.
    std::string cut = std::string("\x09\0\x04\0\0\0", 6);
    for (int y = 0; y < 4; ++y) cut += std::string("\x08\0\x04", 3) + std::string{char(y), char(y + 1), char(y + 2), char(y + 3)} + std::string("\x85\x09\0", 3);
    test::ExpectTruncationsFailOrMatch("CUT", cut);
}

}  // namespace
}  // namespace quorbel
