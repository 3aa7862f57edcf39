// The virus scan and the check-out through quorbel-cli: a recording stand-in scanner (a script
// that writes what it was given and what it found), the real clamscan with a signature of our
// own, and check-outs into a private home whose menu entries desktop-file-validate checks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Duplicate names (python warns and writes them), a file where another member needs a folder,
// and a name made to run a command if anything ever handed it to a shell.
constexpr const char* kScanZip = R"(
import sys, zipfile, warnings
warnings.simplefilter("ignore")
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", b"first")
    z.writestr("dir/a.txt", b"below")
    z.writestr("dup.txt", b"one")
    z.writestr("dup.txt", b"two")
    z.writestr("f", b"a file")
    z.writestr("f/g", b"under a folder of the same name")
    z.writestr("a b;$(touch pwned).txt", b"odd name")
    z.writestr("marker.txt", b"QUORBEL-HARMLESS-TEST-MARKER-7F3A")
)";

// Writes its arguments, one per line, and the files of the folder it was given, then exits
// with $CODE.
constexpr const char* kStandIn =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$@\" > \"$RECORD.args\"\n"
    "for a in \"$@\"; do [ -d \"$a\" ] && (cd \"$a\" && find . -type f | sort > \"$RECORD.files\"); done\n"
    "echo scanned\n"
    "exit ${CODE:-0}\n";

TEST(CliScanTest, StandInScannerGetsEveryMemberInOneFolderArgument) {
    QUORBEL_REQUIRE_TOOL("python3");
    test::IsolatedEnvironment env;
    const std::string archive = env / "s.zip";
    ASSERT_EQ(test::Run({"python3", "-c", kScanZip, archive}).exit_code, 0);
    const std::string scanner = env / "standin.sh";
    test::WriteFile(scanner, kStandIn);
    chmod(scanner.c_str(), 0755);
    test::ScopedEnv record("RECORD", env / "rec");
    test::ScopedEnv state("XDG_STATE_HOME", env / "state");

    const CommandResult run =
        Cli({"scan", archive, "--scanner", scanner, "--parameters", "-x \"%d\" *.* /report=%f"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("scanned\n"), std::string::npos);
    EXPECT_NE(run.out.find("Virus scanning operation complete."), std::string::npos) << run.out;

    const auto args = Lines(test::ReadFile(env / "rec.args"));
    ASSERT_EQ(args.size(), 4u) << test::ReadFile(env / "rec.args");
    EXPECT_EQ(args[0], "-x");
    EXPECT_EQ(args[1], args[2]) << "%d and *.* are the folder itself";
    EXPECT_EQ(args[3], "/report=" + (env / "state/dorvex/quorbel/scan-report.txt"));
    struct stat st{};
    ASSERT_EQ(stat((env / "state/dorvex/quorbel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(args[1])) << "the scratch folder goes after the scan";

    // Every member was there, clashing names in their own numbered sub-folders.
    EXPECT_EQ(Lines(test::ReadFile(env / "rec.files")),
              (std::vector<std::string>{"./0/a b;$(touch pwned).txt", "./0/a.txt", "./0/dir/a.txt",
                                        "./0/dup.txt", "./0/f", "./0/marker.txt", "./1/dup.txt",
                                        "./1/f/g"}));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(env / "pwned"));

    // Chosen members only; a scanner's failure is a failure, with its code.
    {
        test::ScopedEnv code("CODE", "3");
        const CommandResult failed = Cli({"scan", archive, "dir/a.txt", "--scanner", scanner,
                                          "--parameters", "%d"});
        EXPECT_EQ(failed.exit_code, 1);
        EXPECT_NE(failed.err.find("ended with code 3"), std::string::npos) << failed.err;
        EXPECT_EQ(Lines(test::ReadFile(env / "rec.files")),
                  (std::vector<std::string>{"./0/dir/a.txt"}));
    }
    // A scanner that cannot start is never a clean result.
    const CommandResult missing = Cli({"scan", archive, "--scanner", env / "nope", "--parameters", "%d"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("could not be started"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out.find("operation complete"), std::string::npos);
}

TEST(CliScanTest, ClamscanFindsOurMarkerAndPassesACleanArchive) {
    QUORBEL_REQUIRE_TOOL("clamscan");
    QUORBEL_REQUIRE_TOOL("python3");
    test::IsolatedEnvironment env;
    const std::string infected = env / "infected.zip";
    ASSERT_EQ(test::Run({"python3", "-c", kScanZip, infected}).exit_code, 0);
    test::WriteFile(env / "plain.txt", "nothing to see");
    ASSERT_EQ(test::Run({"zip", "-qj", env / "clean.zip", env / "plain.txt"}).exit_code, 0);
    // One body signature of our own: the marker's bytes anywhere in any file.
    std::string hex;
    for (unsigned char c : std::string("QUORBEL-HARMLESS-TEST-MARKER-7F3A")) {
        static const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    test::WriteFile(env / "quorbel-test.ndb", "Quorbel.Test.Marker:0:*:" + hex + "\n");
    const std::string params = "-r --no-summary -d " + (env / "quorbel-test.ndb") + " %d";
    const std::string clamscan = test::Run({"sh", "-c", "command -v clamscan"}).out;
    const std::string path = clamscan.substr(0, clamscan.find('\n'));

    const CommandResult found = Cli({"scan", infected, "--scanner", path, "--parameters", params});
    EXPECT_EQ(found.exit_code, 1) << found.out << found.err;
    EXPECT_NE(found.out.find("marker.txt: Quorbel.Test.Marker"), std::string::npos) << found.out;
    EXPECT_NE(found.err.find("found infected files"), std::string::npos) << found.err;

    const CommandResult clean = Cli({"scan", env / "clean.zip", "--scanner", path, "--parameters", params});
    EXPECT_EQ(clean.exit_code, 0) << clean.out << clean.err;
    EXPECT_NE(clean.out.find("No virus found."), std::string::npos) << clean.out;
}

TEST(CliCheckOutTest, EntriesValidateAndTheCleanUpKeepsTheUsersFiles) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    const std::string src = env / "src";
    for (const char* d : {"bin", "docs", "other", "third"}) fs::create_directories(src + "/" + d);
    test::WriteFile(src + "/bin/run me.sh", "#!/bin/sh\necho hi\n");
    chmod((src + "/bin/run me.sh").c_str(), 0755);
    for (const char* d : {"docs", "other", "third"}) test::WriteFile(src + "/" + d + "/N.txt", d);
    ASSERT_EQ(test::Run({"zip", "-qr", env / "Tool.zip", "."}, src).exit_code, 0);

    // The output folder already holds a file of the user's.
    const std::string out = env / "Tool";
    fs::create_directories(out);
    test::WriteFile(out + "/mine.txt", "keep me");
    const CommandResult made = Cli({"checkout", env / "Tool.zip"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_EQ(test::ReadFile(out + "/third/N.txt"), "third");

    const std::string group = env / "data/applications/dorvex-quorbel-checkout/Tool";
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(group)) entries.push_back(e.path().filename());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"N.txt (0).desktop", "N.txt (1).desktop",
                                                 "N.txt.desktop", "run me.sh.desktop"}));
    const std::string run_entry = test::ReadFile(group + "/run me.sh.desktop");
    EXPECT_NE(run_entry.find("Exec=\"" + out + "/bin/run me.sh\"\n"), std::string::npos) << run_entry;
    EXPECT_NE(test::ReadFile(group + "/N.txt.desktop").find("Exec=xdg-open "), std::string::npos);
    const std::string menu = env / "config/menus/applications-merged/dorvex-quorbel-checkout-Tool.menu";
    EXPECT_NE(test::ReadFile(menu).find("<Filename>dorvex-quorbel-checkout-Tool-N.txt (0).desktop</Filename>"),
              std::string::npos);
    if (test::HaveTool("desktop-file-validate")) {
        for (const auto& name : entries) {
            const CommandResult v = test::Run({"desktop-file-validate", group + "/" + name});
            EXPECT_EQ(v.exit_code, 0) << name << ": " << v.out << v.err;
        }
    }

    const CommandResult cleaned = Cli({"checkout", "--cleanup", env / "Tool.zip"});
    EXPECT_EQ(cleaned.exit_code, 0) << cleaned.err;
    EXPECT_FALSE(fs::exists(group));
    EXPECT_FALSE(fs::exists(env / "data/applications/dorvex-quorbel-checkout"));
    EXPECT_FALSE(fs::exists(menu));
    EXPECT_FALSE(fs::exists(out + "/bin"));
    EXPECT_EQ(test::ReadFile(out + "/mine.txt"), "keep me");
    EXPECT_EQ(Cli({"checkout", "--cleanup", env / "Tool.zip"}).exit_code, 1) << "the record is gone";

    for (const char* bad : {"..", ".", "", "a/b"}) {
        const CommandResult refused = Cli({"checkout", env / "Tool.zip", "--group", bad});
        EXPECT_EQ(refused.exit_code, 2) << bad;
    }
    EXPECT_FALSE(fs::exists(env / "data/applications/dorvex-quorbel-checkout"));
}

}  // namespace
}  // namespace quorbel
