// quorbel-cli on the ARJ, LHA and ZOO formats: list, test, extract natively; add and delete
// through arj; convert with its report and exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

class CliNewFormatsTest : public ::testing::Test {
protected:
    test::CommandResult Cli(std::vector<std::string> args, const std::string& cwd = "") {
        args.insert(args.begin(), QUORBEL_CLI_PATH);
        return test::Run(args, cwd);
    }
    test::IsolatedEnvironment env_;
};

TEST_F(CliNewFormatsTest, ListTestExtractSamples) {
    struct Row {
        const char* file;
        const char* member;  // as listed with '/'
    };
    const Row rows[] = {{"arj/Arj.method1.arj", "EXE/TEST.EXE"}, {"lha/lha213_lh5.lzh", "GPL-2"},
                        {"zoo/t.zoo", "t2.txt"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        auto list = Cli({"list", test::TestData(row.file), "--csv", "--columns", "9,1"});
        EXPECT_EQ(list.exit_code, 0) << list.err;
        auto test_run = Cli({"test", test::TestData(row.file)});
        EXPECT_EQ(test_run.exit_code, 0) << test_run.out << test_run.err;
        EXPECT_NE(test_run.out.find("No errors detected"), std::string::npos);
        auto extract = Cli({"extract", test::TestData(row.file), row.member, "-d", env_ / "x"});
        EXPECT_EQ(extract.exit_code, 0) << extract.err;
        EXPECT_TRUE(fs::exists(env_ / ("x/" + std::string(row.member))));
    }
}

TEST_F(CliNewFormatsTest, AddAndDeleteThroughArj) {
    QUORBEL_REQUIRE_TOOL("arj");
    ASSERT_EQ(Cli({"settings", "set", "Programs", "ARJ", "arj"}).exit_code, 0);
    const std::string archive = env_ / "t.arj";
    fs::copy_file(test::TestData("arj/t.arj"), archive);
    test::WriteFile(env_ / "in/docs/new.txt", "new member");
    auto add = Cli({"add", archive, env_ / "in/docs/new.txt", "--base", env_ / "in"});
    ASSERT_EQ(add.exit_code, 0) << add.err;
    auto list = Cli({"list", archive, "--csv", "--columns", "9,1"});
    EXPECT_NE(list.out.find("docs"), std::string::npos) << list.out;
    EXPECT_EQ(test::Run({"arj", "t", archive}).exit_code, 0);
    auto del = Cli({"delete", archive, "docs/new.txt"});
    ASSERT_EQ(del.exit_code, 0) << del.err;
    list = Cli({"list", archive, "--csv", "--columns", "9,1"});
    EXPECT_EQ(list.out.find("new.txt"), std::string::npos) << list.out;
    // A failing archiver: exit 1 with its status in the message, the archive unchanged.
    const std::string before = test::ReadFile(archive);
    ASSERT_EQ(Cli({"settings", "set", "Programs", "ARJ", "/bin/false"}).exit_code, 0);
    del = Cli({"delete", archive, "t/t.txt"});
    EXPECT_EQ(del.exit_code, 1);
    EXPECT_NE(del.err.find("exit status 1"), std::string::npos) << del.err;
    EXPECT_EQ(test::ReadFile(archive), before);
}

TEST_F(CliNewFormatsTest, ConvertWithReport) {
    QUORBEL_REQUIRE_TOOL("unzip");
    fs::create_directories(env_ / "out");
    auto r = Cli({"convert", test::TestData("zoo/t.zoo"), test::TestData("lha/lha213_lh5.lzh"), "--format", "zip",
                  "--out", env_ / "out"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("2 files converted. No errors detected."), std::string::npos) << r.out;
    EXPECT_EQ(test::Run({"unzip", "-t", env_ / "out/t.zip"}).exit_code, 0);
    // --no-rename replaces the output; a source that is no archive fails the run.
    test::WriteFile(env_ / "junk.arj", "junk");
    r = Cli({"convert", test::TestData("zoo/t.zoo"), env_ / "junk.arj", "--format", "zip", "--out",
             env_ / "out", "--no-rename"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("1 files converted.  1 errors detected."), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(env_ / "out/t (1).zip"));
    // Bad usage.
    EXPECT_EQ(Cli({"convert", test::TestData("zoo/t.zoo"), "--format", "cab"}).exit_code, 2);
    // No archiver for the target: one message, nothing converted.
    r = Cli({"convert", test::TestData("zoo/t.zoo"), "--format", "zoo", "--out", env_ / "out"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("needs an external program (ZOO)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quorbel
