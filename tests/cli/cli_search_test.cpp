// quorbel-cli search, list --html and the exports of a note holding a line break, over archives
// made by zip and python's zipfile.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

using test::CommandResult;

CommandResult Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
}

TEST(CliSearchTest, NamesTextsFoldersAndWhatCouldNotBeSearched) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    const std::string src = env / "src";
    const std::pair<const char*, const char*> files[] = {
        {"docs/guide.txt", "How to install the program"},
        {"docs/sub/faq.txt", "Questions and ANSWERS"},
        {"docsold/old.txt", "install the old one"},
        {"notes.md", "nothing to install here? no: install"},
        {"secret.txt", "install secrets"},
    };
    for (const auto& [name, data] : files) test::WriteFile(src + "/" + name, data);
    const std::string archive = env / "a.zip";
    ASSERT_EQ(test::Run({"zip", "-q", "-X", archive, "docs/guide.txt", "docs/sub/faq.txt",
                         "docsold/old.txt", "notes.md"}, src).exit_code, 0);
    ASSERT_EQ(test::Run({"zip", "-q", "-X", "-P", "pw", archive, "secret.txt"}, src).exit_code, 0);

    const struct {
        std::vector<std::string> options;
        std::string rows;     // the found names, one per line
        std::string trailer;  // what follows the list
    } cases[] = {
        {{"--name", "*.txt"}, "guide.txt\nfaq.txt\nold.txt\nsecret.txt\n", "4 files found.\n"},
        {{"--path", "docs"}, "guide.txt\nfaq.txt\n", "2 files found.\n"},
        {{"--text", "install"}, "guide.txt\nold.txt\nnotes.md\n",
         "3 files found.\n1 files could not be searched (password needed, damaged, or larger than 256.0 Mb).\n"},
        {{"--text", "answers", "--match-case"}, "",
         "0 files found.\n1 files could not be searched (password needed, damaged, or larger than 256.0 Mb).\n"},
        {{"--text", "+install -old", "--match-words", "--name", "*.txt *.md"}, "guide.txt\nnotes.md\n",
         "2 files found.\n1 files could not be searched (password needed, damaged, or larger than 256.0 Mb).\n"},
        {{"--text", "-install -answers", "--match-words", "--path", "docs/"}, "", "0 files found.\n"},
        {{"--text", "-install", "--match-words", "--path", "docs/"}, "faq.txt\n", "1 files found.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"search", archive, "--columns", "1"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        // Formatted list: the title line, then one padded name per line.
        std::string names;
        size_t start = r.out.find('\n') + 1;
        while (start < r.out.size()) {
            const size_t end = r.out.find('\n', start);
            std::string line = r.out.substr(start, end - start);
            if (line.find(" files ") != std::string::npos) break;
            names += line.substr(0, line.find(' ')) + "\n";
            start = end + 1;
        }
        EXPECT_EQ(names, c.rows) << c.options[1];
        EXPECT_EQ(r.out.substr(start), c.trailer) << c.options[1];
    }
    // With the password the member is searched too.
    const CommandResult with = Cli({"search", archive, "--columns", "1", "--text", "secrets", "--password", "pw"});
    EXPECT_EQ(with.exit_code, 0) << with.err;
    EXPECT_NE(with.out.find("secret.txt"), std::string::npos) << with.out;
    EXPECT_EQ(Cli({"search"}).exit_code, 2);
    EXPECT_EQ(Cli({"search", archive, "--bogus"}).exit_code, 2);
}

TEST(CliSearchTest, NoteWithCrLfAndCommaStaysOneRowAndHtmlIsEscaped) {
    QUORBEL_REQUIRE_TOOL("python3");
    test::IsolatedEnvironment env;
    const std::string archive = env / "n.zip";
    const CommandResult made = test::Run({"python3", "-c", R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    i = zipfile.ZipInfo("first.txt", (2021, 3, 4, 5, 6, 8)); z.writestr(i, b"1")
    i = zipfile.ZipInfo("noted<&>.txt", (2021, 3, 4, 5, 6, 8)); i.comment = b"one, two\r\nthree"; z.writestr(i, b"2")
    i = zipfile.ZipInfo("last.txt", (2021, 3, 4, 5, 6, 8)); z.writestr(i, b"3")
)", archive});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const struct {
        const char* option;
        size_t lines;
    } kinds[] = {{"--csv", 3}, {"--tsv", 3}, {"--columns", 4}};
    for (const auto& k : kinds) {
        std::vector<std::string> args = {"list", archive};
        if (std::string(k.option) != "--columns") args.push_back(k.option);
        args.insert(args.end(), {"--columns", "1,10"});
        const CommandResult r = Cli(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        size_t lines = 0;
        for (char c : r.out) lines += c == '\n';
        EXPECT_EQ(lines, k.lines) << k.option << "\n" << r.out;
        EXPECT_EQ(r.out.find('\r'), std::string::npos) << k.option;
    }
    const CommandResult page = Cli({"list", archive, "--html", "--columns", "1,10"});
    ASSERT_EQ(page.exit_code, 0) << page.err;
    EXPECT_NE(page.out.find("<TITLE>" + archive + "</TITLE>"), std::string::npos) << page.out;
    EXPECT_NE(page.out.find(">noted&lt;&amp;&gt;.txt<"), std::string::npos) << page.out;
    EXPECT_NE(page.out.find(">one, two<BR>three<"), std::string::npos) << page.out;
    EXPECT_NE(page.out.find("WIDTH=\"50%\""), std::string::npos) << page.out;
    size_t rows = 0;
    for (size_t at = page.out.find("<TR>"); at != std::string::npos; at = page.out.find("<TR>", at + 1)) ++rows;
    EXPECT_EQ(rows, 4u);
}

}  // namespace
}  // namespace quorbel
