#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

test::CommandResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), QUORBEL_CLI_PATH);
    return test::Run(args);
}

// list, test and extract of a cabinet with MSZIP, LZX and Quantum folders, the extracted
// files compared with cabextract's.
TEST(CliCab, ListTestExtractMatchCabextract) {
    test::IsolatedEnvironment env;
    const std::string cab = test::TestData("cab/mixed.cab");
    auto list = Cli({"list", cab, "--csv", "--columns", "9,1"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    for (const char* name : {"mszip.txt", "lzx.txt", "qtm.txt"})
        EXPECT_NE(list.out.find(name), std::string::npos) << list.out;
    auto tested = Cli({"test", cab});
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
    EXPECT_NE(tested.out.find("3 files tested. No errors detected"), std::string::npos) << tested.out;
    auto extracted = Cli({"extract", cab, "-d", env / "ours"});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
    ASSERT_EQ(test::Run({"cabextract", "-q", "-d", env / "peer", cab}).exit_code, 0);
    for (const char* name : {"mszip.txt", "lzx.txt", "qtm.txt"}) {
        const std::string ours = env / std::string("ours/").append(name);
        EXPECT_TRUE(fs::exists(ours)) << name;
        EXPECT_EQ(test::ReadFile(ours), test::ReadFile(env / std::string("peer/").append(name)));
    }
}

// Without the cabinet library the listing still works, and extraction says why it cannot.
TEST(CliCab, MissingLibraryIsReported) {
    test::IsolatedEnvironment env;
    test::ScopedEnv missing("QUORBEL_CABINET_LIBRARY", env / "nowhere/libquorbel-cabinet.so");
    const std::string cab = test::TestData("cab/simple.cab");
    auto list = Cli({"list", cab});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_NE(list.out.find("hello.c"), std::string::npos);
    auto tested = Cli({"test", cab});
    EXPECT_LT(tested.exit_code, 128);  // no crash
    EXPECT_NE((tested.out + tested.err).find("The cabinet library \"libquorbel-cabinet.so\" cannot be loaded"),
              std::string::npos)
        << tested.out << tested.err;
    auto extracted = Cli({"extract", cab, "-d", env / "x"});
    EXPECT_NE(extracted.exit_code, 0);
    EXPECT_LT(extracted.exit_code, 128);
    EXPECT_FALSE(fs::exists(env / "x/hello.c"));
}

}  // namespace
}  // namespace quorbel
