// quorbel-cli span: a set written into a fixed folder becomes an Info-ZIP split archive the
// peers read; on a removable drive the disks are asked for. (Split archives of other tools are
// tested and extracted among the shared samples in cli_zip_test.)
#include <gtest/gtest.h>

#include <filesystem>

#include "core/messages.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

class CliSpanTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORBEL_REQUIRE_TOOL("zip");
        QUORBEL_REQUIRE_TOOL("unzip");
        QUORBEL_REQUIRE_TOOL("7z");
        src_ = env_ / "src";
        std::string noise;
        for (uint32_t i = 0, x = 7; i < 150000; ++i) noise += char((x = x * 1103515245u + 12345u) >> 23);
        test::WriteFile(src_ + "/bin/noise.bin", noise);
        test::WriteFile(src_ + "/notes.txt", std::string(30000, 'n') + "end\n");
        archive_ = env_ / "plain.zip";
        ASSERT_EQ(test::Run({"zip", "-qr", archive_, "."}, src_).exit_code, 0);
    }
    test::CommandResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), QUORBEL_CLI_PATH);
        return test::Run(args);
    }
    void ExpectPeersRead(const std::string& set) {
        auto seven = test::Run({"7z", "t", set});
        EXPECT_NE(seven.out.find("Everything is Ok"), std::string::npos) << seven.out << seven.err;
        const std::string joined = FolderOfPath(set) + "/joined.zip";
        EXPECT_EQ(test::Run({"zip", "-s", "0", set, "--out", joined}).exit_code, 0);
        auto unzip = test::Run({"unzip", "-tq", joined});
        EXPECT_EQ(unzip.exit_code, 0) << unzip.out << unzip.err;
    }

    test::IsolatedEnvironment env_;
    std::string src_, archive_;
};

TEST_F(CliSpanTest, FixedFolderGetsASplitArchive) {
    const std::string set = env_ / "out/set.zip";
    fs::create_directories(env_ / "out");
    auto r = Cli({"span", archive_, set, "--volume-size", "70000"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(env_ / "out/set.z01"));
    EXPECT_TRUE(fs::exists(env_ / "out/set.z02"));
    EXPECT_LE(FileSize(set), 70000);
    ExpectPeersRead(set);
    r = Cli({"test", set});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("2 files tested. No errors detected"), std::string::npos) << r.out;

    // Without a size the disks would be the drive's free space, which only removable media have.
    r = Cli({"span", archive_, env_ / "out/other.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "You can only create a multiple disk archive on a removable media such as a diskette.\n");
    EXPECT_EQ(Cli({"span", archive_, set, "--volume-size", "4096"}).exit_code, 2);
}

TEST_F(CliSpanTest, RemovableDriveAsksForEachDisk) {
    const std::string drive = env_ / "drive";
    fs::create_directories(drive);
    test::ScopedEnv removable("QUORBEL_REMOVABLE_ROOTS", drive);
    const std::string prompt = "Please insert disk #%d in drive " + MountPointOf(drive) + ".";
    {
        test::ScopedEnv answers("QUORBEL_PROMPT_ANSWERS", "ok;no");
        auto r = Cli({"span", archive_, drive + "/set.zip", "--volume-size", "70000"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, FormatText(prompt.c_str(), 1) + "\n" + FormatText(prompt.c_str(), 2) + "\nAborted\n");
    }
    // The whole archive fits the drive's free space: one disk, still a set the peers read.
    test::ScopedEnv answers("QUORBEL_PROMPT_ANSWERS", "ok");
    auto r = Cli({"span", archive_, drive + "/set.zip"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::ReadFile(drive + "/set.zip").substr(0, 4), "PK\x07\x08");
    ExpectPeersRead(drive + "/set.zip");
}

}  // namespace
}  // namespace quorbel
