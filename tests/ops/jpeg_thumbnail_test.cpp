// Thumbnails of JPEG members: decoded at a reduced scale, yet reporting the picture's own size
// and depth, and looking like the thumbnail of the full decode.
#include <gtest/gtest.h>

#include <cmath>

#include "app/ops/thumbnails.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "picture/format_registry.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

// A smooth colour picture as a P6 file (cjpeg's input).
std::string Ppm(int w, int h) {
    std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s += char(128 + 100 * std::sin(x / 90.0));
            s += char(255 * y / h);
            s += char((x + y) * 255 / (w + h));
        }
    return s;
}

class JpegThumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        previous_ = ArchiveHandler::CurrentThumbnailHook();
        InstallThumbnailHook();
    }
    void TearDown() override { ArchiveHandler::SetThumbnailHook(previous_); }

    std::string Cjpeg(const std::string& ppm, const std::vector<std::string>& options) {
        test::WriteFile(env_ / "in.ppm", ppm);
        std::vector<std::string> argv = {"cjpeg"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(env_ / "in.ppm");
        const test::CommandResult r = test::Run(argv);
        EXPECT_EQ(r.exit_code, 0);
        return r.out;
    }

    test::IsolatedEnvironment env_;
    ArchiveHandler::ThumbnailHook previous_ = nullptr;
};

TEST_F(JpegThumbnails, ReducedDecodeKeepsTheFullSizeAndTheLook) {
    const std::string ppm = Ppm(1400, 1000);
    struct Row {
        const char* name;
        std::string bytes;
        int width, height, bits;
    } rows[] = {
        {"big.jpg", Cjpeg(ppm, {"-quality", "90"}), 1400, 1000, 24},       // read at 1/8: 175 x 125
        {"prog.jpeg", Cjpeg(ppm, {"-progressive"}), 1400, 1000, 24},
        {"grey.jpg", Cjpeg(ppm, {"-grayscale"}), 1400, 1000, 8},
        {"mid.jpg", Cjpeg(Ppm(700, 500), {}), 700, 500, 24},                // 1/4
        {"small.jpg", Cjpeg(Ppm(200, 150), {}), 200, 150, 24},              // whole
    };
    std::vector<test::ZipMemberInput> members;
    for (const Row& r : rows) members.push_back(test::Member(r.name, r.bytes));
    const std::string path = env_ / "j.zip";
    test::WriteFile(path, test::BuildZip(members));
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const int index = zip.FindEntry(r.name);
        ASSERT_GE(index, 0);
        EXPECT_EQ(zip.ExaminePicture(index), ArchiveHandler::PictureAnswer::kPicture);
        int w = 0, h = 0, bits = 0;
        const int slot = zip.GetPictureInfo(index, &w, &h, &bits);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(w, r.width);
        EXPECT_EQ(h, r.height);
        EXPECT_EQ(bits, r.bits);

        // The thumbnail of the full decode, made the ordinary way, looks the same.
        CPicture full;
        DataStream stream;
        stream.AttachMemory(reinterpret_cast<const uint8_t*>(r.bytes.data()), r.bytes.size());
        ASSERT_TRUE(LoadFromStream(stream, &full, nullptr, true));
        ArchiveHandler::ThumbnailImage reference;
        ASSERT_TRUE(RenderThumbnail(full, reference, nullptr));
        const ArchiveHandler::ThumbnailImage& ours = zip.Thumbnails()[size_t(slot)];
        ASSERT_EQ(ours.pixels.size(), reference.pixels.size());
        double sum = 0;
        for (size_t i = 0; i < ours.pixels.size(); ++i) sum += std::abs(int(ours.pixels[i]) - int(reference.pixels[i]));
        EXPECT_LE(sum / double(ours.pixels.size()), 3.0);
    }
}

}  // namespace
}  // namespace quorbel
