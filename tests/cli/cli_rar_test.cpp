// quorbel-cli on RAR archives: list, test and extract of a RAR 2.0 volume set unpacked by the
// program itself, and a RAR 2.9 archive whose members it reports as unsupported.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorbel {
namespace {

using test::CommandResult;

CommandResult Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
}

TEST(CliRarTest, ListTestExtractAVolumeSet) {
    test::IsolatedEnvironment env;
    const std::string archive = test::TestData("rar/Rar2.multi.rar");
    CommandResult list = Cli({"list", "--tsv", "--columns", "1,2", archive});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, "test.exe\t45,056\ntest.jpg\t40,372\n\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt\t15,498\n");

    CommandResult tested = Cli({"test", archive});
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
    EXPECT_NE(tested.out.find("No errors detected"), std::string::npos) << tested.out;

    const std::string out = env / "out";
    CommandResult extracted = Cli({"extract", "-d", out, archive});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.out << extracted.err;
    EXPECT_TRUE(test::ReadFile(out + "/exe/test.exe") ==
                test::ReadFile(test::TestData("rar/sharpcompress-original-test.exe.expected")));
    EXPECT_TRUE(test::ReadFile(out + "/jpg/test.jpg") ==
                test::ReadFile(test::TestData("rar/sharpcompress-original-test.jpg.expected")));
}

TEST(CliRarTest, LaterMethodsFailTheTest) {
    test::IsolatedEnvironment env;
    CommandResult tested = Cli({"test", test::TestData("rar/Rar.rar")});
    EXPECT_EQ(tested.exit_code, 1);
    EXPECT_NE(tested.out.find("Unsupported compression method"), std::string::npos) << tested.out;
}

}  // namespace
}  // namespace quorbel
