// Self-extractors made by `quorbel-cli sfx` and run as a user would run them: with an empty
// environment, answering nothing, against archives made by zip and by python3's zipfile
// (which writes the hostile names and links a real archiver refuses to make).
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

// The program with nothing of ours reachable: no environment, no library path.
CommandResult RunSfx(const std::string& program, std::vector<std::string> args,
                     const std::string& cwd) {
    std::vector<std::string> argv = {"env", "-i", program};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv, cwd);
}

// Every regular file below `root`, relative, with its bytes.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = test::ReadFile(e.path().string());
    return files;
}

TEST(CliSfxTest, MadeProgramUnpacksListsAndTestsWithoutQt) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    const std::string src = env / "src";
    fs::create_directories(src + "/sub/deeper");
    test::WriteFile(src + "/a.txt", "hello\n");
    test::WriteFile(src + "/empty.txt", "");
    std::string big;
    for (int i = 0; i < 200000; ++i) big += std::to_string(i * 7919 % 10007) + "\n";
    test::WriteFile(src + "/sub/deeper/big.txt", big);
    ASSERT_EQ(test::Run({"zip", "-qr", env / "C.zip", "."}, src).exit_code, 0);

    const CommandResult made = Cli({"sfx", env / "C.zip"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::string program = env / "C.run";  // the proposal: C.zip beside, our extension
    EXPECT_NE(made.out.find("\"" + program + "\" has been correctly created."), std::string::npos)
        << made.out;
    struct stat st{};
    ASSERT_EQ(stat(program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u) << "executable for everyone the umask allows";

    if (test::HaveTool("unzip")) {
        const CommandResult peer = test::Run({"unzip", "-t", program});
        EXPECT_EQ(peer.exit_code, 0) << peer.out;
    }
#if QUORBEL_SFX_STATIC
    if (test::HaveTool("file")) {
        const CommandResult kind = test::Run({"file", program});
        EXPECT_NE(kind.out.find("statically linked"), std::string::npos) << kind.out;
    }
#endif
    const CommandResult listed = RunSfx(program, {"-l"}, env.dir().path());
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find("sub/deeper/big.txt"), std::string::npos) << listed.out;
    const CommandResult tested = RunSfx(program, {"-t"}, env.dir().path());
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;

    // Default folder: named after the program; -d chooses another.
    const CommandResult unpacked = RunSfx(program, {}, env.dir().path());
    ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
    EXPECT_EQ(Tree(env / "C"), Tree(src));
    ASSERT_EQ(RunSfx(program, {"-d", env / "elsewhere"}, "/").exit_code, 0);
    EXPECT_EQ(Tree(env / "elsewhere"), Tree(src));

    // Existing files: without a terminal nothing is guessed; -n keeps, -o replaces.
    test::WriteFile(env / "C/a.txt", "mine");
    const CommandResult refused = RunSfx(program, {}, env.dir().path());
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(test::ReadFile(env / "C/a.txt"), "mine");
    EXPECT_EQ(RunSfx(program, {"-n"}, env.dir().path()).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env / "C/a.txt"), "mine");
    EXPECT_EQ(RunSfx(program, {"-o"}, env.dir().path()).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env / "C/a.txt"), "hello\n");
}

constexpr const char* kHostileZip = R"(
import sys, zipfile, stat
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("good/ok.txt", b"fine")
    for name in ["../up.txt", "/abs.txt", "good/../../up2.txt", "..\\win.txt", "C:/drive.txt"]:
        z.writestr(name, b"escaped")
    link = zipfile.ZipInfo("good/link")
    link.create_system = 3
    link.external_attr = (stat.S_IFLNK | 0o777) << 16
    z.writestr(link, sys.argv[2])
    z.writestr("good/link/through.txt", b"through the link")
    z.writestr("good/tail.txt", b"still unpacked")
)";

TEST(CliSfxTest, HostileMembersAreRefusedAndNothingLandsOutside) {
    QUORBEL_REQUIRE_TOOL("python3");
    test::IsolatedEnvironment env;
    const std::string outside = env / "outside";
    fs::create_directories(outside);
    ASSERT_EQ(test::Run({"python3", "-c", kHostileZip, env / "h.zip", outside}).exit_code, 0);
    // The stub and the archive joined as they are: our writer would tidy the names.
    test::WriteFile(env / "h.run", test::ReadFile(QUORBEL_SFX_PATH) + test::ReadFile(env / "h.zip"));
    chmod((env / "h.run").c_str(), 0755);

    const std::string dest = env / "deep/dest";
    fs::create_directories(dest);
    const CommandResult run = RunSfx(env / "h.run", {"-d", dest}, env.dir().path());
    EXPECT_EQ(run.exit_code, 1) << "refusals are failures";
    for (const char* name : {"../up.txt", "/abs.txt", "good/../../up2.txt", "..\\win.txt",
                             "C:/drive.txt", "good/link"})
        EXPECT_NE(run.err.find(std::string(name) + ": refused"), std::string::npos) << run.err;
    // The refused link leaves a plain folder for the member below it.
    EXPECT_EQ(Tree(dest), (std::map<std::string, std::string>{
                              {"good/ok.txt", "fine"},
                              {"good/link/through.txt", "through the link"},
                              {"good/tail.txt", "still unpacked"}}));
    EXPECT_FALSE(fs::is_symlink(dest + "/good/link"));
    // Nothing anywhere else: the folder holds the archives and dest only.
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(env / "deep/up.txt"));
    EXPECT_FALSE(fs::exists(env / "up2.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    EXPECT_FALSE(fs::exists("/drive.txt"));

    // A symbolic link already in the destination is never written through.
    const std::string dest2 = env / "dest2";
    fs::create_directories(dest2 + "/good");
    fs::create_symlink(outside + "/victim.txt", dest2 + "/good/ok.txt");
    EXPECT_EQ(RunSfx(env / "h.run", {"-o", "-d", dest2}, env.dir().path()).exit_code, 1);
    EXPECT_FALSE(fs::exists(outside + "/victim.txt"));
}

TEST(CliSfxTest, DamagedOrEncryptedMembersFailWithoutLeavingFiles) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    fs::create_directories(env / "src");
    test::WriteFile(env / "src/plain.txt", std::string(5000, 'p'));
    test::WriteFile(env / "src/other.txt", "other");
    ASSERT_EQ(test::Run({"zip", "-q0", env / "s.zip", "plain.txt", "other.txt"}, env / "src").exit_code, 0);
    ASSERT_EQ(test::Run({"zip", "-q", "-P", "secret", env / "e.zip", "other.txt"}, env / "src").exit_code, 0);
    ASSERT_EQ(Cli({"sfx", env / "s.zip"}).exit_code, 0);
    ASSERT_EQ(Cli({"sfx", env / "e.zip"}).exit_code, 0);

    // One byte of the stored data changed: the CRC catches it, no file is left under its name.
    std::string bytes = test::ReadFile(env / "s.run");
    const size_t at = bytes.rfind(std::string(100, 'p'));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 50] = 'q';
    test::WriteFile(env / "s.run", bytes);
    chmod((env / "s.run").c_str(), 0755);
    const CommandResult damaged = RunSfx(env / "s.run", {"-d", env / "out"}, env.dir().path());
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_NE(damaged.err.find("plain.txt: CRC error"), std::string::npos) << damaged.err;
    EXPECT_EQ(Tree(env / "out"), (std::map<std::string, std::string>{{"other.txt", "other"}}));
    EXPECT_EQ(RunSfx(env / "s.run", {"-t"}, env.dir().path()).exit_code, 1);

    // An encrypted member needs a password, which only a terminal can give.
    const CommandResult locked = RunSfx(env / "e.run", {"-d", env / "out2"}, env.dir().path());
    EXPECT_EQ(locked.exit_code, 1);
    EXPECT_FALSE(fs::exists(env / "out2/other.txt"));
}

TEST(CliSfxTest, StubChoicesFollowTheSettings) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::IsolatedEnvironment env;
    test::WriteFile(env / "f.txt", "f");
    ASSERT_EQ(test::Run({"zip", "-q", env / "C.zip", "f.txt"}, env.dir().path()).exit_code, 0);
    const std::string zip = test::ReadFile(env / "C.zip");
    auto set = [&](const char* name, const std::string& value) {
        ASSERT_EQ(Cli({"settings", "set", "Options\\MakeEXE", name, value}).exit_code, 0);
    };

    // Type 1: the user's stub file in front, unchanged.
    test::WriteFile(env / "stub.bin", "#!/bin/sh\necho stub\nexit 0\n");
    set("Type", "1");
    set("BootBlock", env / "stub.bin");
    ASSERT_EQ(Cli({"sfx", env / "C.zip", env / "one.run"}).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env / "one.run").rfind("#!/bin/sh\necho stub\nexit 0\nPK", 0), 0u);

    // Type 1 with an empty path: the file-open message naming the empty path; nothing written.
    set("BootBlock", "");
    const CommandResult empty = Cli({"sfx", env / "C.zip", env / "two.run"});
    EXPECT_EQ(empty.exit_code, 1);
    EXPECT_EQ(empty.err.rfind("Cannot open file \"\".", 0), 0u) << empty.err;
    EXPECT_FALSE(fs::exists(env / "two.run"));

    // An unknown type is the built-in stub: an ELF program in front.
    set("Type", "7");
    ASSERT_EQ(Cli({"sfx", env / "C.zip", env / "seven.run"}).exit_code, 0);
    EXPECT_EQ(test::ReadFile(env / "seven.run").rfind("\x7f" "ELF", 0), 0u);

    // Type 2: the external program gets the archive as its one argument and does the job;
    // failing to start or failing is reported.
    const std::string record = env / "args.txt";
    test::WriteFile(env / "maker.sh", "#!/bin/sh\necho \"$#:$1\" > " + record + "\nexit ${CODE:-0}\n");
    chmod((env / "maker.sh").c_str(), 0755);
    set("Type", "2");
    set("Path", env / "maker.sh");
    const CommandResult ran = Cli({"sfx", env / "C.zip"});
    EXPECT_EQ(ran.exit_code, 0) << ran.err;
    EXPECT_EQ(test::ReadFile(record), "1:" + (env / "C.zip") + "\n");
    EXPECT_FALSE(fs::exists(env / "C.run"));
    {
        test::ScopedEnv code("CODE", "3");
        const CommandResult failed = Cli({"sfx", env / "C.zip"});
        EXPECT_EQ(failed.exit_code, 1);
        EXPECT_NE(failed.err.find("ended with code 3"), std::string::npos) << failed.err;
    }
    set("Path", env / "missing.sh");
    EXPECT_EQ(Cli({"sfx", env / "C.zip"}).exit_code, 1);

    EXPECT_EQ(test::ReadFile(env / "C.zip"), zip) << "the archive itself never changes";
}

}  // namespace
}  // namespace quorbel
