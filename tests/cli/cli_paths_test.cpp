// What quorbel-cli prints of member paths: '/' between folders, and names holding a TAB or a
// line feed kept to one row by C-style escapes. The archive comes from python3's zipfile, which
// writes such names as they are.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

using test::CommandResult;

constexpr const char* kMakeZip = R"(
import sys, zipfile
names = ["docs/sub/a.txt", "tab\there.txt", "line\nfeed.txt", "plain.txt"]
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in names:
        z.writestr(zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8)), b"data of " + name.encode())
)";

CommandResult Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
}

TEST(CliPathsTest, ListAndTestShowSlashesAndEscapeControlCharacters) {
    QUORBEL_REQUIRE_TOOL("python3");
    test::IsolatedEnvironment env;
    const std::string archive = env / "names.zip";
    const CommandResult made = test::Run({"python3", "-c", kMakeZip, archive});
    ASSERT_EQ(made.exit_code, 0) << made.err;

    const struct {
        std::vector<std::string> options;
        std::string expected;
    } lists[] = {
        {{"--tsv", "--columns", "1,9"},
         "a.txt\tdocs/sub\ntab\\there.txt\t\nline\\nfeed.txt\t\nplain.txt\t\n"},
        {{"--csv", "--columns", "9,1"},
         "a.txt,docs/sub\ntab\\there.txt,\nline\\nfeed.txt,\nplain.txt,\n"},
        {{"--columns", "9"}, "PATH      \ndocs/sub  \n          \n          \n          \n"},
    };
    for (const auto& row : lists) {
        std::vector<std::string> args = {"list", archive};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const CommandResult list = Cli(args);
        EXPECT_EQ(list.exit_code, 0) << list.err;
        EXPECT_EQ(list.out, row.expected) << row.options[0];
    }

    const CommandResult tested = Cli({"test", archive});
    EXPECT_EQ(tested.exit_code, 0) << tested.err;
    for (const char* line : {"\nTesting: \"docs/sub/a.txt\"   OK\n", "\nTesting: \"tab\\there.txt\"    OK\n",
                             "\nTesting: \"line\\nfeed.txt\"   OK\n", "\nTesting: \"plain.txt\"        OK\n"})
        EXPECT_NE(tested.out.find(line), std::string::npos) << line << "\n" << tested.out;

    // A member path is typed with '/' or '\'.
    for (const char* member : {"docs/sub/a.txt", "docs\\sub\\a.txt"}) {
        const std::string dest = env / ("out-" + std::to_string(member[4] == '/'));
        const CommandResult x = Cli({"extract", archive, member, "-d", dest, "--flat"});
        EXPECT_EQ(x.exit_code, 0) << member << ": " << x.err;
        EXPECT_EQ(test::ReadFile(dest + "/a.txt"), "data of docs/sub/a.txt") << member;
    }
}

}  // namespace
}  // namespace quorbel
