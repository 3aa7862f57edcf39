// quorbel-cli picture and thumbnails, run as the real program on the shared samples and on a
// ZIP archive that Info-ZIP's zip makes from pictures ImageMagick draws during the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;

CommandResult Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
}

TEST(CliPicture, PrintsWhatTheDispatcherFound) {
    test::IsolatedEnvironment env;
    struct Row {
        const char* file;
        const char* expected;
    } rows[] = {
        {"bmp/g_pal8.bmp", "width: 127\nheight: 64\ndepth: 8\nformat: Windows bitmap (BMP)\ninfo: Windows bitmap (BMP)\n"},
        {"bmp/g_pal4rle.bmp",
         "width: 127\nheight: 64\ndepth: 4\nformat: Windows bitmap (BMP)\ninfo: Windows compressed bitmap (RLE)\n"},
        {"png/basn6a08.png",
         "width: 32\nheight: 32\ndepth: 32\nformat: Portable Network Graphics (PNG)\ninfo: Portable Network Graphics (PNG)\n"
         "alpha: yes\n"},
        {"gif/hopper.gif",
         "width: 128\nheight: 128\ndepth: 8\nformat: CompuServe Graphic Interchange Format (GIF)\n"
         "info: CompuServe Graphic Interchange Format (GIF)\n"},
        {"bmp/q_pal4rletrns.bmp",
         "width: 127\nheight: 64\ndepth: 4\nformat: Windows bitmap (BMP)\ninfo: Windows compressed bitmap (RLE)\n"
         "alpha: yes\n"},
    };
    for (const Row& r : rows) {
        const CommandResult c = Cli({"picture", test::TestData(r.file)});
        EXPECT_EQ(c.exit_code, 0) << c.err;
        EXPECT_EQ(c.out, r.expected) << r.file;
    }
}

TEST(CliPicture, UnknownDataExitsOne) {
    test::IsolatedEnvironment env;
    // Text that no codec reads.
    std::string junk;
    for (int i = 0; i < 20; ++i) junk += "no picture in here, only words\n";
    test::WriteFile(env / "junk.pbm", junk);
    const CommandResult c = Cli({"picture", env / "junk.pbm"});
    EXPECT_EQ(c.exit_code, 1);
    EXPECT_EQ(c.out, "");
    EXPECT_NE(c.err.find("Unknown file format. This version of Quorbel cannot recognize and load file"),
              std::string::npos)
        << c.err;
    EXPECT_EQ(Cli({"picture", env / "missing.bmp"}).exit_code, 1);
    EXPECT_EQ(Cli({"picture"}).exit_code, 2);
    EXPECT_EQ(Cli({"picture", "a.bmp", "--bmp"}).exit_code, 2);
    EXPECT_EQ(Cli({"thumbnails"}).exit_code, 2);
    EXPECT_EQ(Cli({"thumbnails", "a.zip", "--bogus"}).exit_code, 2);
}

TEST(CliPicture, WritesBmpThatPeersRead) {
    QUORBEL_REQUIRE_TOOL("convert");
    test::IsolatedEnvironment env;
    const std::string out = env / "out.bmp";
    const CommandResult c = Cli({"picture", test::TestData("bmp/g_pal8v5.bmp"), "--bmp", out});
    ASSERT_EQ(c.exit_code, 0) << c.err;
    EXPECT_EQ(fs::file_size(out), uint64_t(54 + 128 * 3 * 64));  // 127 x 3 padded to 384
    const CommandResult same =
        test::Run({"compare", "-metric", "AE", out, test::TestData("bmp/g_pal8v5.bmp"), "null:"});
    EXPECT_EQ(same.err, "0");
    // An unwritable target: exit 1 and nothing left behind.
    const CommandResult bad = Cli({"picture", test::TestData("bmp/g_pal8.bmp"), "--bmp", env / "no/such/dir/x.bmp"});
    EXPECT_EQ(bad.exit_code, 1);
}

TEST(CliPicture, ThumbnailsOfAnArchive) {
    QUORBEL_REQUIRE_TOOL("convert");
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    const std::string src = env / "src";
    fs::create_directories(src + "/sub");
    // Pictures ImageMagick draws: a 24-bit V5 file, a palette file (which it packs as RLE8), a
    // 1-bit file, and a text.
    ASSERT_EQ(test::Run({"convert", "-size", "200x100", "gradient:red-blue", src + "/b.bmp"}).exit_code, 0);
    ASSERT_EQ(test::Run({"convert", "-size", "40x30", "gradient:green-yellow", "-colors", "50", "-type", "palette",
                             src + "/A.bmp"}).exit_code, 0);
    ASSERT_EQ(test::Run({"convert", "-size", "16x16", "pattern:checkerboard", "-monochrome", "bmp3:" + src + "/sub/c.BMP"})
                  .exit_code,
              0);
    test::WriteFile(src + "/readme.txt", "no picture here");
    const std::string archive = env / "pics.zip";
    ASSERT_EQ(test::Run({"zip", "-q", "-r", archive, "."}, src).exit_code, 0);

    const std::string dir = env / "thumbs";
    const CommandResult c = Cli({"thumbnails", archive, "--out", dir});
    ASSERT_EQ(c.exit_code, 0) << c.err;
    // The pictures view's order: by name part, without regard to case.
    EXPECT_EQ(c.out,
              "40 x 30 x 8 Bits\nA.bmp\n"
              "200 x 100 x 24 Bits\nb.bmp\n"
              "16 x 16 x 1 Bit\nc.BMP\n");
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"0001-A.bmp.bmp", "0002-b.bmp.bmp", "0003-c.BMP.bmp"}));
    for (const std::string& f : files) {
        EXPECT_EQ(fs::file_size(dir + "/" + f), uint64_t(54 + 240 * 60)) << f;
        const CommandResult seen = Cli({"picture", dir + "/" + f});
        EXPECT_NE(seen.out.find("width: 80\nheight: 60\n"), std::string::npos) << seen.out;
    }
    // Without --out only the captions; one member examined by name.
    EXPECT_EQ(Cli({"thumbnails", archive}).out, c.out);
    const CommandResult one = Cli({"picture", archive, "--member", "sub/c.BMP"});
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_NE(one.out.find("depth: 1\n"), std::string::npos) << one.out;
    EXPECT_EQ(Cli({"picture", archive, "--member", "readme.txt"}).exit_code, 1);
    EXPECT_EQ(Cli({"picture", archive, "--member", "nothing.bmp"}).exit_code, 1);
}

}  // namespace
}  // namespace quorbel
